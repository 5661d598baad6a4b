// Mixed-radix engine for odd real lengths, on packed half spectra: real
// leaves, then per stage an r-point pass that joins r packed sub-spectra of
// length m into one of length r*m (and the reverse for the backward
// transform), alternating between two buffers of the work area.
#pragma once
#include <cstdint>

#include "engine/level.h"
#include "engine/plan_types.h"

TQS_LEVEL_BEGIN

// The plan's factor records must come from mixed_radix_build with
// breadth_first set. work holds 2n doubles; in and out may coincide.
// Forward: n reals to R_0, R_1, I_1, ...; backward: the reverse, unscaled.
void real_odd_forward(const PlanRecord* plan, const double* in, double* out, double* work);
void real_odd_backward(const PlanRecord* plan, const double* in, double* out, double* work);

TQS_LEVEL_END
