// Mixed-radix engine for complex transforms of lengths with small factors:
// leaves of the deepest stage read the input in digit-reversed blocks, then
// radix passes run in place from the deepest stage back to the first, depth
// first above 500 points so that every sub-transform finishes in cache.
#pragma once
#include <cstdint>

#include "engine/level.h"
#include "engine/plan_types.h"

TQS_LEVEL_BEGIN

// Splits m into radix records (4s first, a lone 2 in front, odd trial
// divisors up to trial_limit, the cofactor last). Answers the number of
// records written to radices (at least 2), or 0 when the length does not
// factor with a cofactor of at most remainder_limit.
int factor_length(int64_t m, int trial_limit, int remainder_limit, uint32_t* radices);

// Fills plan->factors from count radices (stages then leaf), builds the
// stage twiddles, shared odd-radix tables and the leaf index table (in
// plan->scratch) for a complex transform of len points. Sets factored,
// last_factor_index and group_start. Answers PLAN_OK or PLAN_NO_MEMORY
// (whatever was built stays in the record for the caller's destroy).
// *generic_out receives the largest generic size (for the work size).
// breadth_first: one stage group over the whole length (the odd real engine).
int mixed_radix_build(PlanRecord* plan, int64_t len, const uint32_t* radices, int count,
                      bool breadth_first, int64_t* generic_out);

// Whether the transform of this length runs as one generated two-lane
// transform at this level (then it also beats the one-lane kernels of
// lengths up to 64).
bool mixed_radix_whole(int64_t len);

// len complex values; out (2*len doubles) must not overlap in.
void mixed_radix_forward(const PlanRecord* plan, const double* in, double* out);
void mixed_radix_backward(const PlanRecord* plan, const double* in, double* out);

TQS_LEVEL_END
