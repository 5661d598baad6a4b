// SmallComplexStrategy: one short complex transform with unit strides and
// no offsets runs its plan directly, the plan applying the scale itself and
// working in a fixed area on the caller's stack. No driver, no work buffer.
#include <cstring>

#include "engine/kernel_entries.h"
#include "engine/plan.h"
#include "engine/strategies.h"
#include "kernels/codelets.h"
#include "kernels/generated/codelet_kernels.h"
#include "kernels/generated/whole.h"
#include "tqs_dfti.h"

TQS_LEVEL_BEGIN
namespace {

constexpr int64_t LONGEST = 4096;
constexpr int64_t STACK_WORK_BYTES = 2048;
constexpr int64_t LONGEST_CODELET = 16;

struct SmallComplexPlan {
  PlanRecord* plan;
  int32_t length;
  int32_t mode;
  int32_t option;
};

// The plan aligns its work area up to 32 bytes.
template <bool Forward>
long run(EngineDescriptor* d, void* a1, void* a2) {
  if (a1 == nullptr || a2 == nullptr) return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  alignas(64) char work[STACK_WORK_BYTES + 32];
  const auto* plan = static_cast<const SmallComplexPlan*>(d->strategy_plan);
  const int code = Forward ? complex_plan_forward(static_cast<const double*>(a1),
                                                  static_cast<double*>(a2), plan->plan, work)
                           : complex_plan_backward(static_cast<const double*>(a1),
                                                   static_cast<double*>(a2), plan->plan, work);
  return translate_plan_status(code);
}

// Scaled lengths up to 16 (the unscaled ones have an entry per kernel,
// below): the plan holds no tables, so its kernel is called straight away.
template <bool Forward>
long run_short(EngineDescriptor* d, void* a1, void* a2) {
  if (a1 == nullptr || a2 == nullptr) return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  const auto* p = static_cast<const SmallComplexPlan*>(d->strategy_plan);
  const PlanRecord* plan = p->plan;
  const double* in = static_cast<const double*>(a1);
  double* out = static_cast<double*>(a2);
  if (Forward ? plan->forward_scaled : plan->backward_scaled) {
    (Forward ? codelets.complex_forward_scaled : codelets.complex_backward_scaled)[p->length](
        in, out, plan->scale);
  } else {
    (Forward ? codelets.complex_forward : codelets.complex_backward)[p->length](in, out);
  }
  return 0;
}

// Unscaled lengths up to 16 with strides or offsets: the strided kernel of
// the batch loop reads and writes the caller's arrays itself (12 points with
// strides of 2, level 5: 21 ns through the general strategy, its layers 15
// of them; level 0: 28 ns).
// In place the output strides and offset are the input's.
template <bool Forward, bool Inplace>
long run_strided(EngineDescriptor* d, void* a1, void* a2) {
  if (a1 == nullptr || a2 == nullptr) return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  const double* x = static_cast<const double*>(a1) + 2 * d->input_offset;
  double* y = Inplace ? const_cast<double*>(x) : static_cast<double*>(a2) + 2 * d->output_offset;
  const int64_t ys = Inplace ? d->first_input_stride : d->first_output_stride;
  (Forward ? complex_strided_forward : complex_strided_backward)[d->length](
      x, d->first_input_stride, 0, y, ys, 0, 1);
  return 0;
}

long strided_forward_inplace(EngineDescriptor* d, void* a1, void*, void*, void*) {
  return run_strided<true, true>(d, a1, a1);
}
long strided_backward_inplace(EngineDescriptor* d, void* a1, void*, void*, void*) {
  return run_strided<false, true>(d, a1, a1);
}
long strided_forward_out(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  return run_strided<true, false>(d, a1, a2);
}
long strided_backward_out(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  return run_strided<false, false>(d, a1, a2);
}

// Unscaled lengths up to 16 (index: the length).
constexpr KernelEntries kShortEntries[LONGEST_CODELET + 1] = {
    {},
    kernel_entries<cplx_copy_1, cplx_copy_1>(),
    kernel_entries<cplx_2, cplx_2>(),
    kernel_entries<cplx_fwd_3, cplx_bwd_3>(),
    kernel_entries<cplx_fwd_4, cplx_bwd_4>(),
    kernel_entries<cplx_fwd_5, cplx_bwd_5>(),
    kernel_entries<cplx_fwd_6, cplx_bwd_6>(),
    kernel_entries<cplx_fwd_7, cplx_bwd_7>(),
    kernel_entries<cplx_fwd_8, cplx_bwd_8>(),
    kernel_entries<cplx_fwd_9, cplx_bwd_9>(),
    kernel_entries<cplx_fwd_10, cplx_bwd_10>(),
    kernel_entries<cplx_fwd_11, cplx_bwd_11>(),
    kernel_entries<cplx_fwd_12, cplx_bwd_12>(),
    kernel_entries<cplx_fwd_13, cplx_bwd_13>(),
    kernel_entries<cplx_fwd_14, cplx_bwd_14>(),
    kernel_entries<cplx_fwd_15, cplx_bwd_15>(),
    kernel_entries<cplx_fwd_16, cplx_bwd_16>(),
};

#if TQS_LEVEL >= 4
// Unscaled lengths with one generated whole kernel at these levels: the
// kernel is the entry, as for the shortest lengths (the plan's execution and
// the mixed-radix dispatch cost these transforms about a tenth).
constexpr int32_t kWholeLengths[] = {
#define TQS_WHOLE_LENGTH(n_) n_,
    TQS_WHOLE_LENGTHS(TQS_WHOLE_LENGTH)
#undef TQS_WHOLE_LENGTH
};
constexpr KernelEntries kWholeEntries[] = {
#define TQS_WHOLE_ENTRY(n_) kernel_entries<whole##n_##_forward, whole##n_##_backward>(),
    TQS_WHOLE_LENGTHS(TQS_WHOLE_ENTRY)
#undef TQS_WHOLE_ENTRY
};
static_assert(sizeof kWholeLengths / sizeof kWholeLengths[0] ==
              sizeof kWholeEntries / sizeof kWholeEntries[0]);
#endif

// The powers of two with one straight-line kernel above the codelets.
constexpr KernelEntries kEntries32 = kernel_entries<cplx_fwd_32, cplx_bwd_32>();
constexpr KernelEntries kEntries64 = kernel_entries<cplx_fwd_64, cplx_bwd_64>();

// The kernel entries of an unscaled length, or null.
const KernelEntries* kernel_entries_of(int64_t n) {
  if (n <= LONGEST_CODELET) return &kShortEntries[n];
  if (n == 32) return &kEntries32;
  if (n == 64) return &kEntries64;
#if TQS_LEVEL >= 4
  for (size_t i = 0; i < sizeof kWholeLengths / sizeof kWholeLengths[0]; ++i) {
    if (kWholeLengths[i] == n) return &kWholeEntries[i];
  }
#endif
  return nullptr;
}

long short_forward_inplace(EngineDescriptor* d, void* a1, void*, void*, void*) {
  return run_short<true>(d, a1, a1);
}
long short_backward_inplace(EngineDescriptor* d, void* a1, void*, void*, void*) {
  return run_short<false>(d, a1, a1);
}
long short_forward_out(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  return run_short<true>(d, a1, a2);
}
long short_backward_out(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  return run_short<false>(d, a1, a2);
}

long forward_inplace(EngineDescriptor* d, void* a1, void*, void*, void*) {
  return run<true>(d, a1, a1);
}
long backward_inplace(EngineDescriptor* d, void* a1, void*, void*, void*) {
  return run<false>(d, a1, a1);
}
long forward_out(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  return run<true>(d, a1, a2);
}
long backward_out(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  return run<false>(d, a1, a2);
}

// One vector of interleaved complex data.
bool single_vector(const EngineDescriptor* d) {
  const DimensionList& batch = d->normalised_transforms;
  return d->precision == DFTI_DOUBLE && d->forward_domain == DFTI_COMPLEX &&
         d->normalised_rank == 1 && batch.count <= 1 &&
         (batch.count == 0 || batch.records[0].length == 1) && d->length >= 1 &&
         d->length <= LONGEST && !(d->plan_flags & FLAG_NESTED) &&
         d->complex_storage == DFTI_COMPLEX_COMPLEX;
}

// Unit strides and no offsets (in place the output's are not used).
bool unit_layout(const EngineDescriptor* d) {
  const bool inplace = d->placement == DFTI_INPLACE;
  return d->first_input_stride == 1 && (inplace || d->first_output_stride == 1) &&
         d->input_offset == 0 && (inplace || d->output_offset == 0);
}

// Whether the vector goes to the strided kernels (if unscaled).
bool strided(const EngineDescriptor* d) {
  return !unit_layout(d) && d->length >= 2 && d->length <= LONGEST_CODELET;
}

void free_plan(EngineDescriptor* d) {
  auto* p = static_cast<SmallComplexPlan*>(d->strategy_plan);
  if (p == nullptr) return;
  if (p->plan != nullptr) complex_plan_destroy(p->plan);
  tqs_mm_free(p);
  d->strategy_plan = nullptr;
}

long try_commit(const Strategy* self, EngineDescriptor* d) {
  int mode = 0;
  if (!single_vector(d) || !plan_scale_mode(d, &mode)) return STRATEGY_DECLINED_SMALL;
  if (!unit_layout(d) && !(strided(d) && mode == SCALE_NONE)) return STRATEGY_DECLINED_SMALL;
  if (complex_plan_least_work(d->length) > STACK_WORK_BYTES) return STRATEGY_DECLINED_SMALL;
  d->release_committed_state(d);
  auto* p = static_cast<SmallComplexPlan*>(tqs_mm_calloc(1, sizeof(SmallComplexPlan), 16));
  if (p == nullptr) return DFTI_STATUS_MEMORY;
  d->strategy_plan = p;
  d->committed_strategy = self;
  p->length = static_cast<int32_t>(d->length);
  p->mode = mode;
  if (strided(d)) {  // the strided kernels need no plan
    install_compute_entries(d, strided_forward_inplace, strided_forward_out,
                            strided_backward_inplace, strided_backward_out);
    return 0;
  }
  int code = complex_plan_create(&p->plan, d->length, mode, 0);
  int64_t work = 0;
  if (code == PLAN_OK) code = complex_plan_work_size(p->plan, &work);
  if (code != PLAN_OK) {
    free_plan(d);
    return translate_plan_status(code);
  }
  if (work > STACK_WORK_BYTES) {
    free_plan(d);
    return STRATEGY_DECLINED_SMALL;
  }
  const PlanRecord* plan = p->plan;
  const KernelEntries* e = kernel_entries_of(d->length);
  if (e != nullptr && !plan->forward_scaled && !plan->backward_scaled) {
    install_compute_entries(d, e->forward_inplace, e->forward_out, e->backward_inplace,
                            e->backward_out);
  } else if (d->length <= LONGEST_CODELET) {
    install_compute_entries(d, short_forward_inplace, short_forward_out, short_backward_inplace,
                            short_backward_out);
  } else {
    install_compute_entries(d, forward_inplace, forward_out, backward_inplace, backward_out);
  }
  return 0;
}

// Frees the plan whoever committed last: release_committed_state resets the
// entries itself.
long release(const Strategy*, EngineDescriptor* d) {
  auto* p = static_cast<SmallComplexPlan*>(d->strategy_plan);
  int code = 0;
  if (p != nullptr && p->plan != nullptr) {
    code = complex_plan_destroy(p->plan);
    p->plan = nullptr;
  }
  free_plan(d);
  return translate_plan_status(code);
}

}  // namespace

const Strategy small_complex_strategy = {try_commit, release};

bool small_complex_owns(const EngineDescriptor* d) {
  const ComputeEntry f = d->compute_forward;
  // The direct-kernel strategy of the lower levels installs the same kernel
  // entries for its lengths up to 16.
  return f == forward_inplace || f == forward_out || f == short_forward_inplace ||
         f == short_forward_out || f == strided_forward_inplace || f == strided_forward_out ||
         (d->committed_strategy == &small_complex_strategy &&
          (among_kernel_entries(kShortEntries, f)
#if TQS_LEVEL >= 4
           || among_kernel_entries(kWholeEntries, f)
#endif
               ));
}

TQS_LEVEL_END
