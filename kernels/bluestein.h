// Lengths without a usable factorisation as a cyclic convolution through an
// inner complex plan: the chirp-z transform, of a friendly length
// L >= 2n - 1, or for primes whose n - 1 has no factor above 7, Rader's
// permutation, of length n - 1.
#pragma once
#include <cstdint>

#include "engine/level.h"
#include "engine/plan_types.h"

TQS_LEVEL_BEGIN

// The chirp-z convolution length for n.
int64_t bluestein_length(int64_t n);
// Builds chirp (or rader_order), chirp_spectrum, inner_plan and
// chirp_length (the convolution's length) in the plan for
// length n; answers a plan code (what was built stays for destroy). With
// complex_data the plan will only ever run complex input to complex output,
// and gets the tables of that path where its shape allows one; lengths just
// above a quarter of the convolution get the tables of theirs either way.
int bluestein_build(PlanRecord* plan, int64_t n, bool complex_data);
// Bytes of work one run needs (alignment slack included).
int64_t bluestein_work_bytes(const PlanRecord* plan);

enum BluesteinData {
  BLUESTEIN_COMPLEX = 0,  // n interleaved complex values
  BLUESTEIN_REAL = 1,     // n reals (input) / the real parts (output)
  BLUESTEIN_PACKED = 2,   // odd n: packed half spectrum R_0, R_1, I_1, ...
};

// in and out may coincide; work holds bluestein_work_bytes, 32-byte aligned.
int bluestein_run(const PlanRecord* plan, int64_t n, const double* in, int in_kind, double* out,
                  int out_kind, bool forward, double* work);

TQS_LEVEL_END
