// One short power-of-two complex transform straight into its generated
// kernel: no plan, no work area, the kernel is the compute entry. Levels 0
// to 3 only, where the power-of-two plans lack 256-bit registers; above,
// the objects decline everything.
#include "engine/kernel_entries.h"
#include "engine/strategies.h"
#include "kernels/generated/codelet_kernels.h"
#include "tqs_dfti.h"

TQS_LEVEL_BEGIN

#if TQS_LEVEL <= 3
namespace {

struct DirectKernelEntry {
  int32_t length;
  ComputeEntry forward_out;
  ComputeEntry backward_out;
  ComputeEntry forward_in;
  ComputeEntry backward_in;
};

#define TQS_DIRECT(n, fwd, bwd)                                          \
  {n, kernel_entry_out<fwd>, kernel_entry_out<bwd>, kernel_entry_inplace<fwd>, \
   kernel_entry_inplace<bwd>}

const DirectKernelEntry table128[] = {
    TQS_DIRECT(8, cplx_fwd_8, cplx_bwd_8),       TQS_DIRECT(16, cplx_fwd_16, cplx_bwd_16),
    TQS_DIRECT(32, cplx_fwd_32, cplx_bwd_32),    TQS_DIRECT(64, cplx_fwd_64, cplx_bwd_64),
    TQS_DIRECT(128, cplx_fwd_128, cplx_bwd_128), {0, nullptr, nullptr, nullptr, nullptr},
};

// Length 2 is its own inverse up to the scale: one kernel per placement.
const DirectKernelEntry table64[] = {
    TQS_DIRECT(2, cplx_2, cplx_2),            TQS_DIRECT(4, cplx_fwd_4, cplx_bwd_4),
    TQS_DIRECT(8, cplx_fwd_8, cplx_bwd_8),    TQS_DIRECT(16, cplx_fwd_16, cplx_bwd_16),
    TQS_DIRECT(32, cplx_fwd_32, cplx_bwd_32), TQS_DIRECT(64, cplx_fwd_64, cplx_bwd_64),
    {0, nullptr, nullptr, nullptr, nullptr},
};

#undef TQS_DIRECT

bool applies(const EngineDescriptor* d) {
  const bool inplace = d->placement == DFTI_INPLACE;
  if (d->precision != DFTI_DOUBLE || d->forward_domain != DFTI_COMPLEX) return false;
  if (d->normalised_rank != 1 || d->complex_storage != DFTI_COMPLEX_COMPLEX) return false;
  if (d->input_offset != 0 || (!inplace && d->output_offset != 0)) return false;
  if ((d->plan_flags & FLAG_NESTED) != 0) return false;
  if (!(d->forward_scale == 1.0 && d->backward_scale == 1.0)) return false;
  const DimensionList& batch = d->normalised_transforms;
  if (batch.count > 1 || (batch.count == 1 && batch.records[0].length != 1)) return false;
  const DimensionRecord& axis = d->normalised_dims.records[0];
  return axis.input_stride == 1 && (inplace || axis.output_stride == 1);
}

template <const DirectKernelEntry* Table>
long try_commit(const Strategy*, EngineDescriptor* d) {
  if (!applies(d)) return STRATEGY_DECLINED_SMALL;
  const DirectKernelEntry* e = Table;
  while (e->length != 0 && e->length != d->normalised_dims.records[0].length) ++e;
  if (e->length == 0) return STRATEGY_DECLINED_SMALL;
  d->release_committed_state(d);
  install_compute_entries(d, e->forward_in, e->forward_out, e->backward_in, e->backward_out);
  return 0;
}

bool listed(const DirectKernelEntry* table, ComputeEntry f) {
  for (const DirectKernelEntry* e = table; e->length != 0; ++e) {
    if (f == e->forward_out || f == e->forward_in) return true;
  }
  return false;
}

}  // namespace

const Strategy direct_kernel128_strategy = {try_commit<table128>, nullptr};
const Strategy direct_kernel64_strategy = {try_commit<table64>, nullptr};

bool direct_kernel_owns(const EngineDescriptor* d) {
  return d->compute_forward != nullptr &&
         (listed(table128, d->compute_forward) || listed(table64, d->compute_forward));
}

#else

namespace {
long decline(const Strategy*, EngineDescriptor*) { return STRATEGY_DECLINED_SMALL; }
}  // namespace

const Strategy direct_kernel128_strategy = {decline, nullptr};
const Strategy direct_kernel64_strategy = {decline, nullptr};
bool direct_kernel_owns(const EngineDescriptor*) { return false; }

#endif

TQS_LEVEL_END
