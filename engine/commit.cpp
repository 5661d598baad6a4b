// Commit: normalise the configured shape, refresh the working fields, fix
// the thread count and offer the descriptor to the level's strategies.
#include <cstring>

#include "engine/strategies.h"
#include "tqs_dfti.h"

TQS_LEVEL_BEGIN
namespace {

void swap_records(DimensionRecord& a, DimensionRecord& b) {
  DimensionRecord t = a;
  a = b;
  b = t;
}

void remove_record(DimensionList* list, int index) {
  for (int k = index; k + 1 < list->count; ++k) list->records[k] = list->records[k + 1];
  --list->count;
}

}  // namespace

void sort_by_input_stride(DimensionList* list) {
  for (int i = 0; i < list->count; ++i) {
    for (int j = i + 1; j < list->count; ++j) {
      if (list->records[j].input_stride < list->records[i].input_stride) {
        swap_records(list->records[i], list->records[j]);
      }
    }
  }
}

void drop_unit_axes(DimensionList* list) {
  for (int i = list->count - 1; i >= 0 && list->count > 1; --i) {
    if (list->records[i].length == 1) remove_record(list, i);
  }
}

void merge_contiguous_axes(DimensionList* list) {
  for (int i = list->count - 1; i >= 1; --i) {
    DimensionRecord& inner = list->records[i - 1];
    const DimensionRecord& outer = list->records[i];
    if (inner.length * inner.input_stride == outer.input_stride &&
        inner.length * inner.output_stride == outer.output_stride) {
      inner.length *= outer.length;
      remove_record(list, i);
    }
  }
}

namespace {

// GeneralStrategy is one object in every list; it hands the descriptor to the
// planner of its domain.
long general_try_commit(const Strategy* self, EngineDescriptor* d) {
  if (d->forward_domain == DFTI_REAL) return general_real_try_commit(self, d);
  return general_complex_try_commit(self, d);
}

}  // namespace

const Strategy general_strategy = {general_try_commit, nullptr};

const Strategy* const real_strategy_list[] = {&large_even_real_strategy, &general_strategy,
                                              &bluestein_strategy, nullptr};
#if TQS_LEVEL >= 4
const Strategy* const complex_strategy_list[] = {
    &fixed_length96_strategy, &fixed_length168_strategy, &split_multi_axis_strategy,
    &split_batch_strategy,    &split_one_axis_strategy,  &small_complex_strategy,
    &general_strategy,        &bluestein_strategy,       nullptr};
#else
const Strategy* const complex_strategy_list[] = {
    &split_multi_axis_strategy, &split_batch_strategy, &split_one_axis_strategy,
    &direct_kernel128_strategy, &direct_kernel64_strategy, &small_complex_strategy,
    &general_strategy,          &bluestein_strategy,       nullptr};
#endif

const char* committed_strategy_name(const EngineDescriptor* d) {
  if (d == nullptr || d->commit_status != DFTI_STATE_COMMITTED) return nullptr;
  struct Owner {
    const char* name;
    bool (*owns)(const EngineDescriptor*);
  };
  static const Owner owners[] = {
      {"fixed", fixed_length_owns},          {"split-multi-axis", split_multi_axis_owns},
      {"split-batch", split_batch_owns},     {"split-one-axis", split_one_axis_owns},
      {"direct-kernel", direct_kernel_owns}, {"small-complex", small_complex_owns},
      {"bluestein", bluestein_owns},         {"large-even-real", large_even_real_owns},
      {"general", general_owns},
  };
  for (const Owner& o : owners) {
    if (o.owns(d)) return o.name;
  }
  return "unknown";
}

const Strategy* find_strategy(const char* name) {
  struct Named {
    const char* name;
    const Strategy* strategy;
  };
  static const Named named[] = {
      {"fixed96", &fixed_length96_strategy},
      {"fixed168", &fixed_length168_strategy},
      {"split-multi-axis", &split_multi_axis_strategy},
      {"split-batch", &split_batch_strategy},
      {"split-one-axis", &split_one_axis_strategy},
      {"direct-kernel128", &direct_kernel128_strategy},
      {"direct-kernel64", &direct_kernel64_strategy},
      {"small-complex", &small_complex_strategy},
      {"general", &general_strategy},
      {"bluestein", &bluestein_strategy},
      {"large-even-real", &large_even_real_strategy},
  };
  for (const Named& n : named) {
    if (std::strcmp(n.name, name) == 0) return n.strategy;
  }
  return nullptr;
}

long normalise_dimension_list(DimensionList* destination, const DimensionList* source,
                              int flags) {
  if (source->count > destination->count || destination->records == nullptr) {
    // Direct, like the descriptor's own lists (see allocate_records).
    auto* records = static_cast<DimensionRecord*>(tqs_mm_allocate_direct(
        static_cast<uint64_t>(source->count > 0 ? source->count : 1) * sizeof(DimensionRecord),
        16));
    if (records == nullptr) return DFTI_STATUS_MEMORY;
    tqs_mm_free(destination->records);
    destination->records = records;
  }
  destination->count = source->count;
  for (int i = 0; i < source->count; ++i) {
    const DimensionRecord& s = source->records[i];
    DimensionRecord& t = destination->records[i];
    t.length = s.length;
    switch (flags) {
      case 1: t.input_stride = s.input_stride; t.output_stride = s.input_stride; break;
      case 2: t.input_stride = s.output_stride; t.output_stride = s.output_stride; break;
      case 3: t.input_stride = s.output_stride; t.output_stride = s.input_stride; break;
      default: t.input_stride = s.input_stride; t.output_stride = s.output_stride; break;
    }
  }
  return 0;
}

long commit(EngineDescriptor* d) {
  int flags = (d->forward_domain == DFTI_COMPLEX && d->placement == DFTI_INPLACE) ? 1 : 0;
  long status = normalise_dimension_list(&d->normalised_dims, &d->dims, flags);
  if (status != 0) return status;
  status = normalise_dimension_list(&d->normalised_transforms, &d->transforms, flags);
  if (status != 0) return status;
  if (d->forward_domain == DFTI_COMPLEX) {
    sort_by_input_stride(&d->normalised_dims);
    drop_unit_axes(&d->normalised_dims);
    sort_by_input_stride(&d->normalised_transforms);
    drop_unit_axes(&d->normalised_transforms);
    merge_contiguous_axes(&d->normalised_transforms);
  }
  return commit_prepared(d);
}

long commit_prepared(EngineDescriptor* d) {
  const DimensionRecord& axis0 = d->normalised_dims.records[0];
  const DimensionRecord& batch = d->normalised_transforms.records[0];
  d->normalised_rank = d->normalised_dims.count;
  d->length = axis0.length;
  d->first_input_stride = axis0.input_stride;
  d->first_output_stride = axis0.output_stride;
  d->number_of_transforms = batch.length;
  d->input_distance = batch.input_stride;
  d->output_distance = batch.output_stride;
  d->active_forward_scale = d->forward_scale;
  d->active_backward_scale = d->backward_scale;
  d->active_forward_scale_f32 = static_cast<float>(d->forward_scale);
  d->active_backward_scale_f32 = static_cast<float>(d->backward_scale);

  d->thread_count = d->thread_limit;
  if (d->thread_count == 0) {
    d->thread_count = (d->threading->get_max_threads != nullptr) ? d->threading->get_max_threads() : 1;
  }
  d->dynamic_threads = (d->threading->get_dynamic != nullptr) ? d->threading->get_dynamic() : 1;

  long last = STRATEGY_DECLINED;
  for (StrategyList s = d->strategy_list; s != nullptr && *s != nullptr; ++s) {
    last = (*s)->try_commit(*s, d);
    if (last == 0) return 0;
  }
  if (last == STRATEGY_DECLINED || last == STRATEGY_DECLINED_SMALL) {
    return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  }
  return last;
}

void install_compute_entries(EngineDescriptor* d, ComputeEntry forward_inplace, ComputeEntry forward_out,
                             ComputeEntry backward_inplace, ComputeEntry backward_out) {
  const bool inplace = d->placement == DFTI_INPLACE;
  d->compute_forward = inplace ? forward_inplace : forward_out;
  d->compute_backward = inplace ? backward_inplace : backward_out;
  const bool split = d->forward_domain == DFTI_COMPLEX && d->complex_storage == DFTI_REAL_REAL;
  d->array_argument_count = (inplace ? 1 : 2) * (split ? 2 : 1);
  d->commit_status = DFTI_STATE_COMMITTED;
}

bool drop_compute_entries(const Strategy* self, EngineDescriptor* d) {
  if (d->committed_strategy != self) return false;
  d->compute_forward = nullptr;
  d->compute_backward = nullptr;
  d->commit_status = DFTI_STATE_UNCOMMITTED;
  return true;
}

TQS_LEVEL_END
