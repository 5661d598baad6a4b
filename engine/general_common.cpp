// The parts of the general strategy that the real and complex planners
// share: axis chain, scale placement, thread-count rules, work buffer.
#include <cmath>

#include "engine/general.h"
#include "tqs_dfti.h"

TQS_LEVEL_BEGIN
namespace {

constexpr double WORKING_SET_DIVISOR = 313600.0;
constexpr int DEFAULT_L1_BYTES = 8192;

void set_active_scales(EngineDescriptor* m, double forward, double backward) {
  m->active_forward_scale = forward;
  m->active_backward_scale = backward;
  m->active_forward_scale_f32 = static_cast<float>(forward);
  m->active_backward_scale_f32 = static_cast<float>(backward);
}

double touched_bytes(const EngineDescriptor* d, int element_bytes) {
  double bytes = static_cast<double>(d->total_points) * static_cast<double>(d->number_of_transforms) *
                 element_bytes;
  if (d->placement == DFTI_NOT_INPLACE) bytes *= 2.0;
  return bytes;
}

// Working-set rule: about one thread per sqrt(B ln B / 313600) bytes touched.
int working_set_suggestion(const EngineDescriptor* d, int element_bytes) {
  const double bytes = touched_bytes(d, element_bytes);
  if (!(bytes > 1.0)) return 1;
  double multiplier = d->normalised_rank > 1 ? d->normalised_rank : (d->commit_hook_armed ? 2 : 1);
  double threads = std::floor(std::sqrt(bytes * std::log(bytes) / WORKING_SET_DIVISOR) + 0.5) * multiplier;
  if (threads > 2147483647.0) return 2147483647;
  return static_cast<int>(threads);
}

// Batch rule: a batch that fits the first-level cache is not worth a team.
int batch_suggestion(const EngineDescriptor* d, int element_bytes) {
  if (d->number_of_transforms < 2) return 0;
  int l1 = descriptor_cache_size(d, 1);
  if (l1 <= 0) l1 = DEFAULT_L1_BYTES;
  return touched_bytes(d, element_bytes) < l1 ? 1 : 0;
}

int never_suggests(const EngineDescriptor*, int) { return 0; }

// One transform on a whole-transform path (the four-step transform or the
// large power-of-two kernels) moves its data about twice as often as the
// one-thread plan and shares it between cores, so a team gains only from a
// certain length on: one thread per this many points. Measured on two cores
// (two threads against one, complex, out of place):
// - level 5: 65536 1.42 x the one-thread time, 131072 1.01, 3000 to 65000
//   1.09-1.69, 81920 0.67, 98304 0.64, 100000 0.84 (Intel machine); on the
//   AMD one (interleaved runs, three rounds) 131072 1.16-1.33, 2^18
//   1.38-1.43, 2^19 0.94-0.96, 2^20 0.89-0.92, 2^21 0.70, hence the powers
//   of two's unit of 2^18 (it was 65536, which gave 2^17 and 2^18 a team);
// - level 0: 8192 1.35, 16384 1.16, 20000 1.06, 30000 0.93, 32768 0.92,
//   50000 0.74.
// The one-thread powers of two are the fastest plans, hence their larger
// unit. Larger teams were not measured; they get a thread per unit too.
#if TQS_AVX
constexpr int64_t POW2_POINTS_PER_THREAD = 262144;
constexpr int64_t OTHER_POINTS_PER_THREAD = 40000;
#else
constexpr int64_t POW2_POINTS_PER_THREAD = 16384;
constexpr int64_t OTHER_POINTS_PER_THREAD = 15000;
#endif

int whole_transform_suggestion(const EngineDescriptor* d, int) {
  if (d->number_of_transforms != 1 || d->normalised_rank != 1) return 0;
  const int64_t n = d->total_points;
  const int64_t unit = (n & (n - 1)) == 0 ? POW2_POINTS_PER_THREAD : OTHER_POINTS_PER_THREAD;
  const int64_t t = n / unit;
  if (t < 1) return 1;
  return t > 2147483647 ? 2147483647 : static_cast<int>(t);
}

typedef int (*ThreadSuggestion)(const EngineDescriptor* d, int element_bytes);
const ThreadSuggestion thread_suggestions[] = {never_suggests, working_set_suggestion,
                                               batch_suggestion, never_suggests, never_suggests};
const ThreadSuggestion complex_thread_suggestions[] = {
    never_suggests, working_set_suggestion, batch_suggestion, whole_transform_suggestion,
    never_suggests};

}  // namespace

int descriptor_cache_size(const EngineDescriptor* d, int level) {
  if (level == 0 && d->threading != nullptr && d->threading->cache_size != nullptr) {
    return d->threading->cache_size(0);
  }
  return tqs_cache_size(level);
}

long setup_axis_chain(EngineDescriptor* head, int max_axes) {
  const DimensionList& axes = head->normalised_dims;
  head->normalised_rank = axes.count;
  if (axes.count > max_axes) return DFTI_STATUS_NOT_IMPLEMENTED;
  if (axes.count < 1) return DFTI_STATUS_INTERNAL;

  EngineDescriptor* member = head;
  for (int k = 1; k < axes.count; ++k) {
    if (member->next != nullptr) return DFTI_STATUS_INTERNAL;
    EngineDescriptor* axis = nullptr;
    int64_t length = axes.records[k].length;
    long status = create_engine_descriptor(&axis, head->precision, head->forward_domain, 1, &length);
    if (status != 0) return status;
    axis->plan_flags |= FLAG_NESTED;
    axis->thread_limit = 1;
    member->next = axis;
    axis->parent = member;
    member = axis;
  }

  const int64_t n0 = axes.records[0].length;
  head->axis_index = 0;
  head->length = n0;
  head->half_length = n0 / 2 + 1;
  head->total_points = n0;
  head->total_half_points = n0 / 2 + 1;
  head->first_input_stride = axes.records[0].input_stride;
  head->first_output_stride = axes.records[0].output_stride;
  head->log2_length = floor_log2(n0);

  int64_t longest = n0 > 0 ? n0 : 1;
  int k = 1;
  for (EngineDescriptor* m = head->next; m != nullptr; m = m->next, ++k) {
    const DimensionRecord& r = axes.records[k];
    head->total_points *= r.length;
    head->total_half_points *= r.length;
    m->first_input_stride = r.input_stride;
    m->first_output_stride = r.output_stride;
    m->normalised_rank = head->normalised_rank;
    m->axis_index = k;
    m->length = r.length;
    m->half_length = r.length;
    m->total_points = head->total_points;
    m->total_half_points = head->total_half_points;
    m->log2_length = floor_log2(r.length);
    longest = larger(longest, r.length);
  }

  // The scale is applied once, on the shortest axis that transforms at all.
  EngineDescriptor* scaled = nullptr;
  for (EngineDescriptor* m = head; m != nullptr; m = m->next) {
    m->max_axis_length = longest;
    set_active_scales(m, 1.0, 1.0);
    if (m->length > 1 && (scaled == nullptr || m->length < scaled->length)) scaled = m;
  }
  if (scaled == nullptr) scaled = head;
  set_active_scales(scaled, head->forward_scale, head->backward_scale);

  // The normalised record: in place a complex transform's output distance
  // is its input distance, whatever was configured.
  const DimensionRecord& batch = head->normalised_transforms.records[0];
  for (EngineDescriptor* m = head; m != nullptr; m = m->next) {
    m->ordering = head->ordering;
    m->number_of_transforms = batch.length;
    m->input_distance = batch.input_stride;
    m->output_distance = batch.output_stride;
    m->number_of_user_threads = head->number_of_user_threads;
    m->complex_storage = head->complex_storage;
    m->placement = head->placement;
    m->packed_format = head->packed_format;
    m->real_storage = head->real_storage;
    m->conjugate_even_storage = head->conjugate_even_storage;
    m->workspace = head->workspace;
  }
  return 0;
}

// An in-place CCE transform shares one array between the real and the
// complex view; their offsets and outer strides must describe the same
// places (2 doubles per complex element), one way round or the other.
namespace {
// Offsets and strides are whatever the caller set: doubling must not wrap.
bool twice(int64_t a, int64_t b) {
  int64_t doubled;
  return !__builtin_mul_overflow(b, int64_t{2}, &doubled) && a == doubled;
}
bool two_to_one(int64_t a, int64_t b) { return twice(a, b) || twice(b, a); }
}  // namespace

bool inplace_cce_consistent(const EngineDescriptor* d) {
  if (d->placement != DFTI_INPLACE || d->conjugate_even_storage != DFTI_COMPLEX_COMPLEX) return true;
  if (!two_to_one(d->input_offset, d->output_offset)) return false;
  for (int i = 1; i < d->dims.count; ++i) {
    if (!two_to_one(d->dims.records[i].input_stride, d->dims.records[i].output_stride)) return false;
  }
  return true;
}

void clear_whole_transform(EngineDescriptor* d) {
  d->large_forward = nullptr;
  d->large_backward = nullptr;
  d->large_kernels[0] = nullptr;
  d->large_kernels[1] = nullptr;
  tqs_mm_free(d->large_kernel_table);
  d->large_kernel_table = nullptr;
  tqs_mm_free(d->aux_buffer);
  d->aux_buffer = nullptr;
  if (d->commit_hook_armed != nullptr && d->commit_hook != nullptr) d->commit_hook(d);
  d->commit_hook_armed = nullptr;
  d->commit_hook = nullptr;
}

void apply_thread_suggestions(EngineDescriptor* d, int element_bytes) {
  const bool complex = element_bytes == 16;
  for (ThreadSuggestion suggest : complex ? complex_thread_suggestions : thread_suggestions) {
    if (d->thread_count == 1) break;
    int s = suggest(d, element_bytes);
    if (s >= 1 && s < d->thread_count) d->thread_count = s;
  }
}

long allocate_user_thread_slots(EngineDescriptor* d) {
  d->user_thread_slots = static_cast<int64_t*>(
      tqs_mm_calloc(2 * static_cast<uint64_t>(d->number_of_user_threads) + 1, 8, 64));
  return d->user_thread_slots == nullptr ? DFTI_STATUS_MEMORY : 0;
}

long reserve_work_buffer(EngineDescriptor* head) {
  if (head->max_work_size <= 0) return 0;
  head->max_work_size = (head->max_work_size + WORK_ALIGNMENT - 1) / WORK_ALIGNMENT * WORK_ALIGNMENT;
  int64_t slices = head->number_of_user_threads >= 2 ? head->number_of_user_threads : head->thread_count;
  if (slices < 1) slices = 1;
  if (slices > 1) head->max_work_size += slice_room(head->max_work_size);
  head->work_buffer =
      tqs_mm_allocate(static_cast<uint64_t>(head->max_work_size) * static_cast<uint64_t>(slices),
                      WORK_ALIGNMENT);
  return head->work_buffer == nullptr ? DFTI_STATUS_MEMORY : 0;
}

void set_large_flag(EngineDescriptor* d, int element_bytes) {
  const double bytes = static_cast<double>(d->length) * static_cast<double>(d->length) * element_bytes;
  const double cache = static_cast<double>(larger(descriptor_cache_size(d, 0), LARGE_FLOOR_BYTES));
  if (bytes > cache) {
    d->plan_flags |= FLAG_LARGE;
  } else {
    d->plan_flags &= ~FLAG_LARGE;
  }
}

TQS_LEVEL_END
