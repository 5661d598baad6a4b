// One long real transform of even length N = P x Q on a team: real
// transforms of length Q over the columns of the input seen as a Q x P
// matrix, then twiddled complex transforms of length P over the rows of
// their half spectra, the two passes separated by one barrier.
#pragma once
#include "engine/descriptor.h"
#include "engine/large_even_real_plan.h"
#include "engine/level.h"

TQS_LEVEL_BEGIN

// x and y are displaced by the offsets; cce says whether the spectrum side
// holds N/2 + 1 complex values (CCE or half-spectrum) or N doubles in
// permuted packing; zero_past_end stores 0.0 in y[N] (half-spectrum backward
// in place). Answers a public status.
long large_even_real_run(const LargeEvenRealPlan* plan, ttl_services* threading, int32_t team,
                         bool forward, bool cce, bool zero_past_end, const double* x, double* y);

TQS_LEVEL_END
