// The strategies of split complex storage (DFTI_REAL_REAL: real and
// imaginary parts in separate arrays). One axis with one list of transforms
// runs a SplitComplexPlan (engine/split_one_axis.cpp); everything else is
// taken apart into inner descriptors until one axis and one list remain:
// several axes become one inner descriptor per axis, several transforms
// records lose their outermost record to a loop.
#include "engine/plan.h"
#include "engine/split_compute.h"
#include "engine/strategies.h"
#include "tqs_dfti.h"

TQS_LEVEL_BEGIN
namespace {

bool split_storage(const EngineDescriptor* d) {
  return d->forward_domain == DFTI_COMPLEX && d->complex_storage == DFTI_REAL_REAL &&
         (d->plan_flags & FLAG_NESTED) == 0;
}

bool in_place(const EngineDescriptor* d) { return d->placement == DFTI_INPLACE; }

void destroy_inner(EngineDescriptor** slot) {
  if (*slot != nullptr) (*slot)->destroy(*slot);
  *slot = nullptr;
}

void free_plan(const Strategy* s, void* record) {
  if (record == nullptr) return;
  if (s == &split_one_axis_strategy) {
    auto* p = static_cast<SplitOneAxisPlan*>(record);
    if (p->plan != nullptr) split_plan_destroy(p->plan);
  } else if (s == &split_batch_strategy) {
    destroy_inner(&static_cast<SplitBatchPlan*>(record)->inner);
  } else {
    auto* p = static_cast<SplitMultiAxisPlan*>(record);
    for (int32_t k = 0; p->axes != nullptr && k < p->count; ++k) destroy_inner(&p->axes[k]);
    tqs_mm_free(p->axes);
  }
  tqs_mm_free(record);
}

long release(const Strategy* self, EngineDescriptor* d) {
  if (!drop_compute_entries(self, d)) return DFTI_STATUS_INTERNAL;
  free_plan(self, d->strategy_plan);
  d->strategy_plan = nullptr;
  return 0;
}

// Becomes the committed strategy. Whatever an earlier commit built is
// dropped, except this strategy's own record: its plan and inner
// descriptors are reused when they still fit.
void* take_plan_record(const Strategy* self, EngineDescriptor* d, uint64_t bytes) {
  // Another strategy's record stays in place for its own release, which
  // release_committed_state calls.
  void* own = nullptr;
  if (d->committed_strategy == self) {
    own = d->strategy_plan;
    d->strategy_plan = nullptr;
  }
  d->release_committed_state(d);
  d->committed_strategy = self;
  if (own == nullptr) own = tqs_mm_calloc(1, bytes, 16);
  d->strategy_plan = own;
  return own;
}

long abandon(const Strategy* self, EngineDescriptor* d, long status) {
  free_plan(self, d->strategy_plan);
  d->strategy_plan = nullptr;
  return status;
}

void finish_commit(EngineDescriptor* d, ComputeEntry forward, ComputeEntry backward) {
  d->compute_forward = forward;
  d->compute_backward = backward;
  d->commit_status = DFTI_STATE_COMMITTED;
  d->array_argument_count = in_place(d) ? 2 : 4;
}

// An inner descriptor of one axis of the given length, carrying the
// parent's strategies and thread limits. Inner descriptors are not marked
// NESTED: they must reach the split strategies themselves.
long prepare_inner(EngineDescriptor** slot, int64_t length, const EngineDescriptor* parent) {
  if (*slot != nullptr && (*slot)->dims.records[0].length != length) destroy_inner(slot);
  if (*slot == nullptr) {
    long status = create_engine_descriptor(slot, DFTI_DOUBLE, DFTI_COMPLEX, 1, &length);
    if (status != 0) return status;
  }
  EngineDescriptor* inner = *slot;
  inner->strategy_list = parent->strategy_list;
  inner->threading = parent->threading;
  inner->complex_storage = DFTI_REAL_REAL;
  inner->thread_limit = parent->thread_count;
  inner->number_of_user_threads = parent->number_of_user_threads;
  return 0;
}

// ---- one axis ----------------------------------------------------------------

long one_axis_try_commit(const Strategy* self, EngineDescriptor* d) {
  if (d->precision != DFTI_DOUBLE || !split_storage(d) || d->normalised_rank != 1 ||
      d->normalised_transforms.count != 1) {
    return STRATEGY_DECLINED;
  }
  auto* p = static_cast<SplitOneAxisPlan*>(take_plan_record(self, d, sizeof(SplitOneAxisPlan)));
  if (p == nullptr) return DFTI_STATUS_MEMORY;

  int mode = SCALE_NONE;
  if (!plan_scale_mode(d, &mode)) mode = SCALE_NONE;
  const int64_t n = d->length;
  if (p->plan == nullptr || p->length != n || p->mode != mode) {
    if (p->plan != nullptr) split_plan_destroy(p->plan);
    p->plan = nullptr;
    int code = split_plan_create(&p->plan, n, mode, 0);
    if (code == PLAN_OK) code = split_plan_work_size(p->plan, &p->work_size);
    if (code != PLAN_OK) return abandon(self, d, translate_plan_status(code));
    p->length = n;
    p->mode = mode;
    p->option = 0;
  }

  const bool inplace = in_place(d);
  p->count = d->number_of_transforms;
  p->input_stride = d->first_input_stride;
  p->input_distance = d->input_distance;
  p->output_stride = inplace ? d->first_input_stride : d->first_output_stride;
  p->output_distance = inplace ? d->input_distance : d->output_distance;
  const bool plan_scales = mode != SCALE_NONE;
  p->forward_scale = plan_scales ? 1.0 : d->forward_scale;
  p->backward_scale = plan_scales ? 1.0 : d->backward_scale;
  split_one_axis_blocking(p, inplace, d->thread_count);

  if (inplace) {
    finish_commit(d, split_one_axis_forward_inplace, split_one_axis_backward_inplace);
  } else {
    finish_commit(d, split_one_axis_forward_out, split_one_axis_backward_out);
  }
  return 0;
}

// ---- batch: one axis, several transforms records --------------------------------

long batch_compute(EngineDescriptor* d, bool forward, bool inplace, void* a1, void* a2, void* a3,
                   void* a4) {
  if (a1 == nullptr || a2 == nullptr || (!inplace && (a3 == nullptr || a4 == nullptr))) {
    return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  }
  const auto* p = static_cast<const SplitBatchPlan*>(d->strategy_plan);
  EngineDescriptor* inner = p->inner;
  const ComputeEntry run = forward ? inner->compute_forward : inner->compute_backward;
  if (run == nullptr) return DFTI_STATUS_INTERNAL;
  double* xr = static_cast<double*>(a1) + d->input_offset;
  double* xi = static_cast<double*>(a2) + d->input_offset;
  double* yr = inplace ? xr : static_cast<double*>(a3) + d->output_offset;
  double* yi = inplace ? xi : static_cast<double*>(a4) + d->output_offset;
  const int64_t di = p->outer_input_distance;
  const int64_t dout = inplace ? di : p->outer_output_distance;
  for (int64_t i = 0; i < p->outer_length; ++i) {
    const long status = inplace ? run(inner, xr + i * di, xi + i * di, nullptr, nullptr)
                                : run(inner, xr + i * di, xi + i * di, yr + i * dout, yi + i * dout);
    if (status != 0) return status;
  }
  return 0;
}

long batch_forward_inplace(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  return batch_compute(d, true, true, a1, a2, nullptr, nullptr);
}
long batch_backward_inplace(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  return batch_compute(d, false, true, a1, a2, nullptr, nullptr);
}
long batch_forward_out(EngineDescriptor* d, void* a1, void* a2, void* a3, void* a4) {
  return batch_compute(d, true, false, a1, a2, a3, a4);
}
long batch_backward_out(EngineDescriptor* d, void* a1, void* a2, void* a3, void* a4) {
  return batch_compute(d, false, false, a1, a2, a3, a4);
}

long batch_try_commit(const Strategy* self, EngineDescriptor* d) {
  if (!split_storage(d) || d->normalised_rank != 1 || d->normalised_transforms.count < 2) {
    return STRATEGY_DECLINED;
  }
  auto* p = static_cast<SplitBatchPlan*>(take_plan_record(self, d, sizeof(SplitBatchPlan)));
  if (p == nullptr) return DFTI_STATUS_MEMORY;
  long status = prepare_inner(&p->inner, d->length, d);
  if (status != 0) return abandon(self, d, status);

  EngineDescriptor* inner = p->inner;
  inner->placement = d->placement;
  inner->forward_scale = d->forward_scale;
  inner->backward_scale = d->backward_scale;
  if (normalise_dimension_list(&inner->normalised_dims, &d->normalised_dims, 0) != 0 ||
      normalise_dimension_list(&inner->normalised_transforms, &d->normalised_transforms, 0) != 0) {
    return abandon(self, d, DFTI_STATUS_MEMORY);
  }
  DimensionList& transforms = inner->normalised_transforms;
  const DimensionRecord& outer = transforms.records[transforms.count - 1];
  p->outer_length = outer.length;
  p->outer_input_distance = outer.input_stride;
  p->outer_output_distance = outer.output_stride;
  --transforms.count;

  status = inner->methods->commit_prepared(inner);
  if (status != 0) return abandon(self, d, status);
  if (in_place(d)) {
    finish_commit(d, batch_forward_inplace, batch_backward_inplace);
  } else {
    finish_commit(d, batch_forward_out, batch_backward_out);
  }
  return 0;
}

// ---- several axes ----------------------------------------------------------------

long multi_axis_compute(EngineDescriptor* d, bool forward, bool inplace, void* a1, void* a2,
                        void* a3, void* a4) {
  if (a1 == nullptr || a2 == nullptr || (!inplace && (a3 == nullptr || a4 == nullptr))) {
    return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  }
  const auto* p = static_cast<const SplitMultiAxisPlan*>(d->strategy_plan);
  double* xr = static_cast<double*>(a1) + d->input_offset;
  double* xi = static_cast<double*>(a2) + d->input_offset;
  double* yr = inplace ? xr : static_cast<double*>(a3) + d->output_offset;
  double* yi = inplace ? xi : static_cast<double*>(a4) + d->output_offset;
  for (int32_t k = 0; k < p->count; ++k) {
    EngineDescriptor* axis = p->axes[k];
    const ComputeEntry run = forward ? axis->compute_forward : axis->compute_backward;
    if (run == nullptr) return DFTI_STATUS_INTERNAL;
    // The first axis reads the input; every later one works on the output.
    const long status = (k == 0 && !inplace) ? run(axis, xr, xi, yr, yi)
                                             : run(axis, yr, yi, nullptr, nullptr);
    if (status != 0) return status;
  }
  return 0;
}

long multi_axis_forward_inplace(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  return multi_axis_compute(d, true, true, a1, a2, nullptr, nullptr);
}
long multi_axis_backward_inplace(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  return multi_axis_compute(d, false, true, a1, a2, nullptr, nullptr);
}
long multi_axis_forward_out(EngineDescriptor* d, void* a1, void* a2, void* a3, void* a4) {
  return multi_axis_compute(d, true, false, a1, a2, a3, a4);
}
long multi_axis_backward_out(EngineDescriptor* d, void* a1, void* a2, void* a3, void* a4) {
  return multi_axis_compute(d, false, false, a1, a2, a3, a4);
}

// The inner descriptors array holds exactly `rank` entries afterwards.
long fit_axes(SplitMultiAxisPlan* p, int32_t rank) {
  if (p->count < rank) {
    auto** axes = static_cast<EngineDescriptor**>(
        tqs_mm_calloc(static_cast<uint64_t>(rank), sizeof(EngineDescriptor*), 16));
    if (axes == nullptr) return DFTI_STATUS_MEMORY;
    for (int32_t k = 0; k < p->count; ++k) axes[k] = p->axes[k];
    tqs_mm_free(p->axes);
    p->axes = axes;
  }
  for (int32_t k = rank; k < p->count; ++k) destroy_inner(&p->axes[k]);
  p->count = rank;
  return 0;
}

// Axis k of the parent as an inner descriptor: its one axis, and as its
// transforms every other axis together with the parent's transforms. All
// axes after the first run in place on the output, as does every axis of an
// in-place parent; the scale goes to the first axis only.
long commit_axis(EngineDescriptor* d, EngineDescriptor* axis, int32_t k,
                 DimensionList* others) {
  const bool axis_in_place = in_place(d) || k > 0;
  const int flags = axis_in_place ? 2 : 0;  // in place: input strides := output strides
  axis->placement = axis_in_place ? DFTI_INPLACE : DFTI_NOT_INPLACE;
  axis->forward_scale = k == 0 ? d->forward_scale : 1.0;
  axis->backward_scale = k == 0 ? d->backward_scale : 1.0;

  DimensionList one = {1, &d->normalised_dims.records[k]};
  if (normalise_dimension_list(&axis->normalised_dims, &one, flags) != 0) {
    return DFTI_STATUS_MEMORY;
  }
  const int32_t rank = d->normalised_dims.count;
  for (int32_t i = 0; i < rank; ++i) others->records[i] = d->normalised_dims.records[i];
  others->records[k].length = 1;
  if (normalise_dimension_list(&axis->normalised_transforms, others, flags) != 0) {
    return DFTI_STATUS_MEMORY;
  }
  drop_unit_axes(&axis->normalised_transforms);
  sort_by_input_stride(&axis->normalised_transforms);
  merge_contiguous_axes(&axis->normalised_transforms);
  return axis->methods->commit_prepared(axis);
}

long multi_axis_try_commit(const Strategy* self, EngineDescriptor* d) {
  if (!split_storage(d) || d->normalised_rank < 2) return STRATEGY_DECLINED;
  auto* p = static_cast<SplitMultiAxisPlan*>(take_plan_record(self, d, sizeof(SplitMultiAxisPlan)));
  if (p == nullptr) return DFTI_STATUS_MEMORY;
  const int32_t rank = d->normalised_dims.count;
  long status = fit_axes(p, rank);
  if (status != 0) return abandon(self, d, status);

  // Scratch list: the parent's axes, then its transforms records.
  const int32_t total = rank + d->normalised_transforms.count;
  DimensionList others = {total, static_cast<DimensionRecord*>(tqs_mm_allocate(
                                     static_cast<uint64_t>(total) * sizeof(DimensionRecord), 16))};
  if (others.records == nullptr) return abandon(self, d, DFTI_STATUS_MEMORY);
  for (int32_t i = 0; i < d->normalised_transforms.count; ++i) {
    others.records[rank + i] = d->normalised_transforms.records[i];
  }
  for (int32_t k = 0; k < rank && status == 0; ++k) {
    status = prepare_inner(&p->axes[k], d->normalised_dims.records[k].length, d);
    if (status == 0) status = commit_axis(d, p->axes[k], k, &others);
  }
  tqs_mm_free(others.records);
  if (status != 0) return abandon(self, d, status);
  if (in_place(d)) {
    finish_commit(d, multi_axis_forward_inplace, multi_axis_backward_inplace);
  } else {
    finish_commit(d, multi_axis_forward_out, multi_axis_backward_out);
  }
  return 0;
}

}  // namespace

const Strategy split_multi_axis_strategy = {multi_axis_try_commit, release};
const Strategy split_batch_strategy = {batch_try_commit, release};
const Strategy split_one_axis_strategy = {one_axis_try_commit, release};

bool split_multi_axis_owns(const EngineDescriptor* d) {
  return d->compute_forward == multi_axis_forward_inplace ||
         d->compute_forward == multi_axis_forward_out;
}
bool split_batch_owns(const EngineDescriptor* d) {
  return d->compute_forward == batch_forward_inplace || d->compute_forward == batch_forward_out;
}
bool split_one_axis_owns(const EngineDescriptor* d) {
  return d->compute_forward == split_one_axis_forward_inplace ||
         d->compute_forward == split_one_axis_forward_out;
}

TQS_LEVEL_END
