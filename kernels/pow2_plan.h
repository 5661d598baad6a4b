// The power-of-two plan record, private to kernels/pow2*.cpp.
#pragma once
#include <cstddef>
#include <cstdint>

#include "kernels/pow2.h"

TQS_LEVEL_BEGIN

constexpr int POW2_MAX_LOG2 = 27;

struct Pow2Plan {
  int32_t tag;  // TAG_POW2_COMPLEX or TAG_POW2_REAL; 0 once destroyed
  int32_t log2n;
  int32_t forward_scaled;
  int32_t backward_scaled;
  double scale;
  int32_t hint;
  int32_t complex_log2;  // length of the complex transform (log2n - 1 for real)
  int64_t work_size;
  int32_t* bit_reversal;  // unused by this engine's decimation scheme
  double* twiddles;       // start of all twiddle tables in this allocation
  // Engine layout.
  const double* pass_tw[POW2_MAX_LOG2 + 1];  // radix pass of a 2^L sub-transform
  const double* pass_hi[POW2_MAX_LOG2 + 1];  // with pass_tw split in two: the coarse factor
  int8_t pass_lo_bits[POW2_MAX_LOG2 + 1];    // log2 of the columns pass_tw covers when split
  const double* top_tw;      // closing pass (AVX: two columns side by side)
  const double* top_hi;      // with top_tw split in two factors: the coarse one
  int32_t top_lo_bits;       // log2 of the columns covered by top_tw when split
  int32_t prefetch;          // leaf parents prefetch their next leaf's input
  int32_t top_groups;        // AVX: top_tw holds twiddle groups (see cmul_group)
  const double* split_tw;    // real split: w_n^k, k = 0..n/4 (fine factor when split_hi)
  const double* split_hi;    // with split_tw in two levels: the coarse factor
  int32_t split_lo_bits;     // log2 of the roots split_tw covers when split
  int8_t bits[POW2_MAX_LOG2 + 1];  // radix bits closing a 2^L sub-transform; 0 = leaf
};

TQS_LEVEL_END
