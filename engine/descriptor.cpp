// Per-level descriptor creation, its method table, release and destruction.
#include <cstring>

#include "engine/engine.h"
#include "engine/plan.h"
#include "tqs_dfti.h"

TQS_LEVEL_BEGIN
namespace {

constexpr int LIST_ALIGNMENT = 16;

// Never from the thread's cached blocks: a few bytes held for the
// descriptor's lifetime would keep a block from the tables and work areas
// that commits and computes allocate again and again.
DimensionRecord* allocate_records(int32_t count) {
  return static_cast<DimensionRecord*>(tqs_mm_allocate_direct(
      static_cast<uint64_t>(count) * sizeof(DimensionRecord), LIST_ALIGNMENT));
}

long get_input_strides(EngineDescriptor* d, int64_t* out) {
  out[0] = d->input_offset;
  for (int i = 0; i < d->dimension; ++i) out[i + 1] = d->dims.records[i].input_stride;
  return 0;
}

long get_output_strides(EngineDescriptor* d, int64_t* out) {
  out[0] = d->output_offset;
  for (int i = 0; i < d->dimension; ++i) out[i + 1] = d->dims.records[i].output_stride;
  return 0;
}

long set_input_strides(EngineDescriptor* d, const int64_t* in) {
  d->release_committed_state(d);
  d->input_offset = in[0];
  for (int i = 0; i < d->dimension; ++i) d->dims.records[i].input_stride = in[i + 1];
  return 0;
}

long set_output_strides(EngineDescriptor* d, const int64_t* in) {
  d->release_committed_state(d);
  d->output_offset = in[0];
  for (int i = 0; i < d->dimension; ++i) d->dims.records[i].output_stride = in[i + 1];
  return 0;
}

long get_lengths(EngineDescriptor* d, int64_t* out) {
  for (int i = 0; i < d->dimension; ++i) out[i] = d->dims.records[i].length;
  return 0;
}

long get_name(EngineDescriptor* d, char* out, int64_t requested) {
  int64_t n = requested < 10 ? requested : 10;
  if (n > 0) std::memcpy(out, d->name, static_cast<size_t>(n));
  return 0;
}

long set_name(EngineDescriptor* d, const char* in, int64_t given, int pad) {
  int64_t n = given < 10 ? given : 10;
  if (n < 0) n = 0;
  if (n > 0) std::memcpy(d->name, in, static_cast<size_t>(n));
  for (int64_t i = n; i < 10; ++i) d->name[i] = static_cast<char>(pad);
  return 0;
}

long get_scale(EngineDescriptor* d, int parameter, double* out) {
  if (parameter == DFTI_FWD_SCALE) {
    *out = d->forward_scale;
  } else if (parameter == DFTI_BWD_SCALE) {
    *out = d->backward_scale;
  } else {
    return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  }
  return 0;
}

long set_scale(EngineDescriptor* d, double value, int parameter) {
  double* slot;
  if (parameter == DFTI_FWD_SCALE) {
    slot = &d->forward_scale;
  } else if (parameter == DFTI_BWD_SCALE) {
    slot = &d->backward_scale;
  } else {
    return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  }
  if (!(value == *slot)) d->release_committed_state(d);
  *slot = value;
  return 0;
}

long copy_list(DimensionList* to, const DimensionList* from) {
  to->count = 0;
  to->records = nullptr;
  if (from->records == nullptr || from->count <= 0) return 0;
  DimensionRecord* r = allocate_records(from->count);
  if (r == nullptr) return DFTI_STATUS_MEMORY;
  std::memcpy(r, from->records, sizeof(DimensionRecord) * static_cast<size_t>(from->count));
  to->records = r;
  to->count = from->count;
  return 0;
}

// The copy carries the configuration, never the committed state: sharing
// plans or buffers between two records would free them twice.
long copy_descriptor(EngineDescriptor* d, EngineDescriptor** out) {
  auto* c = static_cast<EngineDescriptor*>(tqs_mm_calloc(1, sizeof(EngineDescriptor), 16));
  if (c == nullptr) return DFTI_STATUS_MEMORY;
  std::memcpy(c, d, sizeof(EngineDescriptor));
  c->compute_forward = nullptr;
  c->compute_backward = nullptr;
  c->committed_strategy = nullptr;
  c->strategy_plan = nullptr;
  c->commit_status = DFTI_STATE_UNCOMMITTED;
  c->plan_flags &= ~FLAG_SINGLE_THREAD;
  std::memset(c->plan_buffers, 0, sizeof(c->plan_buffers));
  c->parent = nullptr;
  c->next = nullptr;
  c->real_plan = nullptr;
  c->complex_plan = nullptr;
  c->split_plan = nullptr;
  c->large_kernel_table = nullptr;
  c->large_forward = nullptr;
  c->large_backward = nullptr;
  c->large_kernels[0] = c->large_kernels[1] = nullptr;
  c->work_buffer = nullptr;
  c->aux_buffer = nullptr;
  c->user_thread_slots = nullptr;
  c->commit_hook_armed = nullptr;
  c->commit_hook = nullptr;
  c->max_work_size = 0;
  c->axis_work_size = 0;
  c->dims = c->transforms = c->normalised_dims = c->normalised_transforms = DimensionList{0, nullptr};
  if (copy_list(&c->dims, &d->dims) || copy_list(&c->transforms, &d->transforms) ||
      copy_list(&c->normalised_dims, &d->normalised_dims) ||
      copy_list(&c->normalised_transforms, &d->normalised_transforms)) {
    destroy_descriptor(c);
    return DFTI_STATUS_MEMORY;
  }
  *out = c;
  return 0;
}

long get_input_distance(EngineDescriptor* d, int64_t* out) {
  *out = d->transforms.records[0].input_stride;
  return 0;
}

long get_output_distance(EngineDescriptor* d, int64_t* out) {
  *out = d->transforms.records[0].output_stride;
  return 0;
}

long get_number_of_transforms(EngineDescriptor* d, int64_t* out) {
  *out = d->transforms.records[0].length;
  return 0;
}

long set_input_distance(EngineDescriptor* d, int64_t value) {
  d->transforms.records[0].input_stride = value;
  d->input_distance = value;
  return 0;
}

long set_output_distance(EngineDescriptor* d, int64_t value) {
  d->transforms.records[0].output_stride = value;
  d->output_distance = value;
  return 0;
}

long set_number_of_transforms(EngineDescriptor* d, int64_t value) {
  d->transforms.records[0].length = value;
  d->number_of_transforms = value;
  return 0;
}

bool threading_says_one(const EngineDescriptor* d) {
  return d->threading != nullptr && d->threading->nothing != nullptr && d->threading->nothing() != 0;
}

long get_thread_limit(EngineDescriptor* d, int64_t* out) {
  if (d->commit_status == DFTI_STATE_COMMITTED) {
    int64_t limit = d->thread_count;
    if (d->threading != nullptr && d->threading->get_max_threads != nullptr) {
      int64_t domain = d->threading->get_max_threads();
      if (domain < limit) limit = domain;
    }
    *out = limit;
  } else {
    *out = threading_says_one(d) ? 1 : d->thread_limit;
  }
  return 0;
}

long set_thread_limit(EngineDescriptor* d, int64_t value) {
  if (value < 0) return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  if (value > INT32_MAX) value = INT32_MAX;
  d->thread_limit = threading_says_one(d) ? 1 : static_cast<int32_t>(value);
  return 0;
}

const MethodTable method_table = {
    commit,
    commit_prepared,
    get_input_strides,
    get_output_strides,
    set_input_strides,
    set_output_strides,
    get_lengths,
    get_name,
    set_name,
    get_scale,
    set_scale,
    copy_descriptor,
    get_input_distance,
    get_output_distance,
    get_number_of_transforms,
    set_input_distance,
    set_output_distance,
    set_number_of_transforms,
    get_thread_limit,
    set_thread_limit,
};

}  // namespace

long dimension_list_init(DimensionList* list, int32_t count) {
  list->count = count;
  list->records = allocate_records(count);
  return list->records == nullptr ? DFTI_STATUS_MEMORY : 0;
}

void dimension_list_free(DimensionList* list) {
  tqs_mm_free(list->records);
  list->records = nullptr;
}

void release_committed_state(EngineDescriptor* d) {
  tqs_mm_free(d->work_buffer);
  d->work_buffer = nullptr;
  tqs_mm_free(d->aux_buffer);
  d->aux_buffer = nullptr;
  tqs_mm_free(d->user_thread_slots);
  d->user_thread_slots = nullptr;
  if (d->next != nullptr) {
    EngineDescriptor* chain = d->next;
    d->next = nullptr;
    chain->destroy(chain);
  }
  if (d->committed_strategy != nullptr && d->committed_strategy->release != nullptr) {
    d->committed_strategy->release(d->committed_strategy, d);
  }
  if (d->commit_hook_armed != nullptr && d->commit_hook != nullptr) {
    d->commit_hook(d);
  }
  d->commit_hook_armed = nullptr;
  d->commit_hook = nullptr;
  d->axis_work_size = 0;
  d->max_work_size = 0;
  d->thread_bookkeeping = 0;
  if (d->real_plan != nullptr) {
    real_plan_destroy(d->real_plan);
    d->real_plan = nullptr;
  }
  if (d->complex_plan != nullptr) {
    complex_plan_destroy(d->complex_plan);
    d->complex_plan = nullptr;
  }
  if (d->split_plan != nullptr) {
    split_plan_destroy(d->split_plan);
    d->split_plan = nullptr;
  }
  tqs_mm_free(d->large_kernel_table);
  d->large_kernel_table = nullptr;
  d->large_forward = nullptr;
  d->large_backward = nullptr;
  d->large_kernels[0] = nullptr;
  d->large_kernels[1] = nullptr;
  for (void*& buffer : d->plan_buffers) {
    tqs_mm_free(buffer);
    buffer = nullptr;
  }
  d->commit_status = DFTI_STATE_UNCOMMITTED;
  d->compute_forward = nullptr;
  d->compute_backward = nullptr;
  d->plan_flags &= ~FLAG_SINGLE_THREAD;
}

void destroy_descriptor(EngineDescriptor* d) {
  if (d->release_committed_state != nullptr) d->release_committed_state(d);
  dimension_list_free(&d->dims);
  dimension_list_free(&d->transforms);
  dimension_list_free(&d->normalised_dims);
  dimension_list_free(&d->normalised_transforms);
  d->magic = 0;  // a stale handle must not pass for a live one
  tqs_mm_free(d);
}

long create_engine_descriptor(EngineDescriptor** handle, int precision, int domain,
                              int dimension, const int64_t* lengths) {
  for (int i = 0; i < dimension; ++i) {
    if (lengths[i] <= 0) return DFTI_STATUS_INVALID_CONFIGURATION;
  }
  auto* d = static_cast<EngineDescriptor*>(tqs_mm_calloc(1, sizeof(EngineDescriptor), 16));
  if (d == nullptr) return DFTI_STATUS_MEMORY;
  d->precision = precision;
  d->forward_domain = domain;
  d->release_committed_state = release_committed_state;
  d->destroy = destroy_descriptor;
  d->methods = &method_table;
  d->threading = &tqs_ttl_tables[TQS_LEVEL];
  d->dimension = dimension;

  if (dimension_list_init(&d->dims, dimension) != 0 ||
      dimension_list_init(&d->transforms, 1) != 0) {
    destroy_descriptor(d);
    return DFTI_STATUS_MEMORY;
  }
  for (int i = 0; i < dimension; ++i) d->dims.records[i] = {lengths[i], NOT_SET, NOT_SET};
  d->transforms.records[0] = {1, 0, 0};

  d->ordering = DFTI_ORDER_NATURAL;
  d->complex_storage = DFTI_COMPLEX_COMPLEX;
  d->real_storage = DFTI_REAL_REAL;
  d->conjugate_even_storage = DFTI_COMPLEX_REAL;
  d->packed_format = DFTI_PACKING_HALF_SPECTRUM;
  d->placement = DFTI_INPLACE;
  d->transpose = DFTI_NO_TRANSPOSITION;
  d->workspace = DFTI_SCRATCH_ALLOWED;
  d->number_of_transforms = 1;
  d->commit_status = DFTI_STATE_UNCOMMITTED;
  d->magic = DESCRIPTOR_MAGIC;
  d->number_of_user_threads = 1;
  d->forward_scale = 1.0;
  d->backward_scale = 1.0;

  int64_t in_product = 1;
  int64_t out_product = 1;
  for (int i = 0; i < dimension; ++i) {
    DimensionRecord& r = d->dims.records[i];
    if (r.input_stride == NOT_SET) r.input_stride = in_product;
    if (r.output_stride == NOT_SET) r.output_stride = out_product;
    in_product = r.input_stride * r.length;
    out_product = r.length * r.output_stride;
  }

  if (normalise_dimension_list(&d->normalised_dims, &d->dims, 0) != 0 ||
      normalise_dimension_list(&d->normalised_transforms, &d->transforms, 0) != 0) {
    destroy_descriptor(d);
    return DFTI_STATUS_MEMORY;
  }
  *handle = d;
  if (d->threading->cache_size == nullptr) d->threading->cache_size = tqs_cache_size;
  return 0;
}

long translate_plan_status(int code) {
  if (code == 0) return 0;
  if (code == PLAN_NO_MEMORY) return DFTI_STATUS_MEMORY;
  return DFTI_STATUS_INTERNAL;
}

TQS_LEVEL_END
