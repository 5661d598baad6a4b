// General strategy, complex side (being built).
#include "engine/general.h"
#include "engine/strategies.h"
#include "kernels/real_compute.h"

TQS_LEVEL_BEGIN

long general_complex_try_commit(const Strategy*, EngineDescriptor*) { return STRATEGY_DECLINED; }

bool general_owns(const EngineDescriptor* d) {
  const ComputeEntry f = d->compute_forward;
  return f == real_compute_forward_inplace || f == real_compute_forward_out ||
         f == real_compute_short_forward_out;
}

TQS_LEVEL_END
