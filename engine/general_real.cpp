// General strategy, real side: splits the transform into a chain of one-axis
// descriptors, places the scale on one axis, fixes the thread count, makes
// one real plan per axis, reserves the shared work buffer and installs the
// real compute entries.
#include <cmath>

#include "engine/engine.h"
#include "engine/plan.h"
#include "kernels/real_compute.h"
#include "tqs_dfti.h"

TQS_LEVEL_BEGIN
namespace {

constexpr int MAX_REAL_AXES = 7;
constexpr int64_t POW2_AXIS_LIMIT = int64_t(1) << 26;
constexpr int64_t OTHER_AXIS_LIMIT = int64_t(1) << 24;
constexpr int64_t MAX_USER_THREADS = 0x7FFFFFF;
constexpr double WORKING_SET_DIVISOR = 313600.0;
constexpr int64_t LARGE_FLOOR_BYTES = 1048576;
constexpr int DEFAULT_L1_BYTES = 8192;

int floor_log2(int64_t n) { return n <= 0 ? -1 : 63 - __builtin_clzll(static_cast<uint64_t>(n)); }
bool is_power_of_two(int64_t n) { return n > 0 && (n & (n - 1)) == 0; }
int64_t larger(int64_t a, int64_t b) { return a > b ? a : b; }

int cache_size(const EngineDescriptor* d, int level) {
  if (level == 0 && d->threading != nullptr && d->threading->cache_size != nullptr) {
    return d->threading->cache_size(0);
  }
  return tqs_cache_size(level);
}

void set_active_scales(EngineDescriptor* m, double forward, double backward) {
  m->active_forward_scale = forward;
  m->active_backward_scale = backward;
  m->active_forward_scale_f32 = static_cast<float>(forward);
  m->active_backward_scale_f32 = static_cast<float>(backward);
}

long setup_axis_chain(EngineDescriptor* head) {
  const DimensionList& axes = head->normalised_dims;
  head->normalised_rank = axes.count;
  if (axes.count > MAX_REAL_AXES) return DFTI_STATUS_NOT_IMPLEMENTED;
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

  const DimensionRecord& batch = head->transforms.records[0];
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

// Working-set rule: about one thread per sqrt(B ln B / 313600) bytes touched.
int working_set_suggestion(const EngineDescriptor* d) {
  double bytes = static_cast<double>(d->total_points) * static_cast<double>(d->number_of_transforms) * 8.0;
  if (d->placement == DFTI_NOT_INPLACE) bytes *= 2.0;
  if (!(bytes > 1.0)) return 1;
  double multiplier = d->normalised_rank > 1 ? d->normalised_rank : (d->commit_hook_armed ? 2 : 1);
  double threads = std::floor(std::sqrt(bytes * std::log(bytes) / WORKING_SET_DIVISOR) + 0.5) * multiplier;
  if (threads > 2147483647.0) return 2147483647;
  return static_cast<int>(threads);
}

// Batch rule: a batch that fits the first-level cache is not worth a team.
int batch_suggestion(const EngineDescriptor* d) {
  if (d->number_of_transforms < 2) return 0;
  double bytes = static_cast<double>(d->total_points) * static_cast<double>(d->number_of_transforms) * 8.0;
  if (d->placement == DFTI_NOT_INPLACE) bytes *= 2.0;
  int l1 = cache_size(d, 1);
  if (l1 <= 0) l1 = DEFAULT_L1_BYTES;
  return bytes < l1 ? 1 : 0;
}

int never_suggests(const EngineDescriptor*) { return 0; }

typedef int (*ThreadSuggestion)(const EngineDescriptor* d);
const ThreadSuggestion thread_suggestions[] = {never_suggests, working_set_suggestion,
                                               batch_suggestion, never_suggests, never_suggests};

long choose_thread_count(EngineDescriptor* d, int dynamic_threads) {
  if (d->number_of_transforms == 1) d->thread_count = 1;
  if (d->number_of_user_threads > 1) {
    if (d->number_of_user_threads > MAX_USER_THREADS) return DFTI_STATUS_MEMORY;
    d->user_thread_slots = static_cast<int64_t*>(
        tqs_mm_calloc(2 * static_cast<uint64_t>(d->number_of_user_threads) + 1, 8, 64));
    if (d->user_thread_slots == nullptr) return DFTI_STATUS_MEMORY;
    d->thread_count = 1;
  }
  if (d->thread_count < 1) d->thread_count = 1;
  if (dynamic_threads != 0) {
    for (ThreadSuggestion suggest : thread_suggestions) {
      if (d->thread_count == 1) break;
      int s = suggest(d);
      if (s >= 1 && s < d->thread_count) d->thread_count = s;
    }
  }

  // A single vector with unit strides goes straight to the axis routine.
  // With several user threads that path is taken per slot (bit 0), never
  // through bit 2, which would share slot 0's work area.
  const bool single = d->first_input_stride == 1 && d->first_output_stride == 1 &&
                      d->number_of_transforms == 1 && d->normalised_rank == 1;
  d->plan_flags &= ~(FLAG_SINGLE_THREAD | FLAG_MULTI_AXIS | FLAG_DIRECT_AXIS);
  if (single && d->thread_count == 1) {
    d->plan_flags |= FLAG_SINGLE_THREAD;
    if (d->number_of_user_threads <= 1) d->plan_flags |= FLAG_DIRECT_AXIS;
  }
  return 0;
}

long plan_real_axis(EngineDescriptor* member, EngineDescriptor* head) {
  const int64_t n = member->length;
  if (n > (is_power_of_two(n) ? POW2_AXIS_LIMIT : OTHER_AXIS_LIMIT)) {
    return DFTI_STATUS_DIMENSION_TOO_LARGE;
  }
  PlanRecord* plan = nullptr;
  int code = real_plan_create(&plan, n, SCALE_NONE, 0);
  if (code != PLAN_OK) return translate_plan_status(code);
  member->real_plan = plan;
  int64_t work = 0;
  code = real_plan_work_size(plan, &work);
  if (code != PLAN_OK) return translate_plan_status(code);
  member->axis_work_size = work;
  (void)head;
  return 0;
}

long reserve_work_buffer(EngineDescriptor* head) {
  if (head->max_work_size <= 0) return 0;
  head->max_work_size = (head->max_work_size + WORK_ALIGNMENT - 1) / WORK_ALIGNMENT * WORK_ALIGNMENT;
  int64_t slices = head->number_of_user_threads >= 2 ? head->number_of_user_threads : head->thread_count;
  if (slices < 1) slices = 1;
  head->work_buffer =
      tqs_mm_allocate(static_cast<uint64_t>(head->max_work_size) * static_cast<uint64_t>(slices),
                      WORK_ALIGNMENT);
  return head->work_buffer == nullptr ? DFTI_STATUS_MEMORY : 0;
}

long plan_axes(EngineDescriptor* head) {
  int64_t k = 0;
  for (EngineDescriptor* m = head; m != nullptr; m = m->next, ++k) {
    if (m != head) {
      m->input_offset = head->input_offset;
      m->output_offset = head->output_offset;
      m->input_distance = head->input_distance;
      m->output_distance = head->output_distance;
      m->axis_index = k;
      m->precision = head->precision;
      m->forward_domain = head->forward_domain;
      m->ordering = head->ordering;
      m->complex_storage = head->complex_storage;
      m->real_storage = head->real_storage;
      m->conjugate_even_storage = head->conjugate_even_storage;
      m->packed_format = head->packed_format;
      m->number_of_transforms = head->number_of_transforms;
      m->placement = head->placement;
      m->workspace = head->workspace;
      m->transpose = head->transpose;

      // Outer axes transform the half spectrum as complex data.
      PlanRecord* outer = nullptr;
      int code = complex_plan_create(&outer, m->length, SCALE_NONE, 0);
      if (code != PLAN_OK) return translate_plan_status(code);
      m->complex_plan = outer;
      int64_t work = 0;
      code = complex_plan_work_size(outer, &work);
      if (code != PLAN_OK) return translate_plan_status(code);
      head->max_work_size = larger(head->max_work_size, work);
    }

    m->axis_plan_forward = axis_plan_forward;
    m->axis_plan_backward = axis_plan_backward;
    if (cce_layout(m)) {
      m->storage_forward = storage_cce_forward;
      m->storage_backward = storage_cce_backward;
    } else if (m->packed_format == DFTI_PACKING_SEQUENTIAL) {
      m->storage_forward = storage_sequential_forward;
      m->storage_backward = storage_sequential_backward;
    } else if (m->packed_format == DFTI_PACKING_PERMUTED) {
      m->storage_forward = storage_permuted_forward;
      m->storage_backward = storage_permuted_backward;
    } else {
      return DFTI_STATUS_NOT_IMPLEMENTED;
    }

    AxisRoutine whole_forward = nullptr;
    AxisRoutine whole_backward = nullptr;
    if (head->first_input_stride == 1 && head->first_output_stride == 1) {
      whole_forward = pow2_whole_vector_forward(m->length);
      whole_backward = pow2_whole_vector_backward(m->length);
    }
    if (whole_forward != nullptr && whole_backward != nullptr) {
      m->axis_plan_forward = whole_forward;
      m->axis_plan_backward = whole_backward;
    } else {
      long status = plan_real_axis(m, head);
      if (status != 0) return status;
      if (m->length <= 16 && head->normalised_rank == 1) {
        m->axis_plan_forward = axis_short_forward;
        m->axis_plan_backward = axis_short_backward;
      }
    }
    m->commit_status = DFTI_STATE_COMMITTED;
    head->max_work_size = larger(head->max_work_size, m->axis_work_size);
  }
  return 0;
}

// An in-place CCE transform shares one array between the real and the
// complex view; their offsets and outer strides must describe the same
// places (2 doubles per complex element), one way round or the other.
bool two_to_one(int64_t a, int64_t b) { return a == 2 * b || b == 2 * a; }

bool inplace_cce_consistent(const EngineDescriptor* d) {
  if (d->placement != DFTI_INPLACE || d->conjugate_even_storage != DFTI_COMPLEX_COMPLEX) return true;
  if (!two_to_one(d->input_offset, d->output_offset)) return false;
  for (int i = 1; i < d->dims.count; ++i) {
    if (!two_to_one(d->dims.records[i].input_stride, d->dims.records[i].output_stride)) return false;
  }
  return true;
}

long plan_real_descriptor(EngineDescriptor* head) {
  if (!inplace_cce_consistent(head)) return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  long status = choose_thread_count(head, head->dynamic_threads);
  if (status != 0) return status;
  status = plan_axes(head);
  if (status != 0) return status;
  status = reserve_work_buffer(head);
  if (status != 0) return status;

  head->multi_axis_driver = real_multi_axis_driver;
  head->driver_flags &= ~DRIVER_READS_PERMUTED;
  if (head->normalised_rank >= 2 && head->placement == DFTI_NOT_INPLACE && cce_layout(head)) {
    head->driver_flags |= DRIVER_READS_PERMUTED;
  }
  if (head->placement == DFTI_INPLACE) {
    head->compute_forward = real_compute_forward_inplace;
    head->compute_backward = real_compute_backward_inplace;
    head->array_argument_count = 1;
  } else {
    head->compute_forward = real_compute_forward_out;
    head->compute_backward = real_compute_backward_out;
    if ((head->plan_flags & FLAG_DIRECT_AXIS) && head->number_of_user_threads <= 1 &&
        head->axis_plan_forward == axis_short_forward) {
      head->compute_forward = real_compute_short_forward_out;
      head->compute_backward = real_compute_short_backward_out;
    }
    head->array_argument_count = 2;
  }
  head->commit_status = DFTI_STATE_COMMITTED;
  return 0;
}

long try_commit(EngineDescriptor* d) {
  d->release_committed_state(d);
  if (d->number_of_transforms < 1) return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  long status = setup_axis_chain(d);
  if (status != 0) return status;
  if (d->number_of_user_threads > 1) d->thread_count = 1;

  tqs_mm_free(d->aux_buffer);
  d->aux_buffer = nullptr;
  d->large_kernels[0] = nullptr;
  d->large_kernels[1] = nullptr;
  if (d->commit_hook_armed != nullptr && d->commit_hook != nullptr) d->commit_hook(d);

  status = plan_real_descriptor(d);
  if (status != 0) return status;

  const double bytes = static_cast<double>(d->length) * static_cast<double>(d->length) * 8.0;
  const double cache = static_cast<double>(larger(cache_size(d, 0), LARGE_FLOOR_BYTES));
  if (bytes > cache) {
    d->plan_flags |= FLAG_LARGE;
  } else {
    d->plan_flags &= ~FLAG_LARGE;
  }
  return 0;
}

}  // namespace

long general_real_try_commit(const Strategy*, EngineDescriptor* d) {
  long status = try_commit(d);
  // A refused or failed commit keeps nothing: no chain, plans or buffers.
  if (status != 0) d->release_committed_state(d);
  return status;
}

TQS_LEVEL_END
