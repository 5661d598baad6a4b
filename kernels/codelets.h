// Straight-line kernels (generated; see tools/gen_codelets.py).
#pragma once
#include "engine/level.h"
#include "engine/level_api.h"

TQS_LEVEL_BEGIN

// Lengths 1..16 by kind, direction and scaling.
extern const CodeletTables codelets;

// Complex power-of-two kernels indexed by log2 n (n = 1..64); entries 0..4
// are the length 1..16 codelets.
extern const CplxKernel codelet_pow2_complex_forward[7];
extern const CplxKernel codelet_pow2_complex_backward[7];
extern const CplxKernelScaled codelet_pow2_complex_forward_scaled[7];
extern const CplxKernelScaled codelet_pow2_complex_backward_scaled[7];

// Whole-vector real power-of-two kernels indexed by log2 n (n = 1..64),
// unscaled: forward writes the permuted packed spectrum, backward reads it.
extern const CplxKernel real_pow2_forward[7];
extern const CplxKernel real_pow2_backward[7];
// The same on the n/2+1 complex values (null below 32).
extern const CplxKernel real_pow2_cce_forward[7];
extern const CplxKernel real_pow2_cce_backward[7];
// Whole-vector real kernels of the even lengths 18..62 that are not powers
// of two, on the n/2+1 complex values, indexed by n/2 (null elsewhere).
extern const CplxKernel real_even_cce_forward[32];
extern const CplxKernel real_even_cce_backward[32];

#if TQS_LEVEL >= 4
// Pair kernels of the batch loop by length (null where there is none):
// (x, xd, y, yd, pairs) runs pairs x 2 transforms, transform t at x + 2 t xd
// and y + 2 t yd, two at a time, one per 128-bit lane; any alignment, in
// place allowed; unscaled.
typedef void (*CplxPairsKernel)(const double* x, int64_t xd, double* y, int64_t yd,
                                int64_t pairs);
extern const CplxPairsKernel complex_pairs_forward[64];
extern const CplxPairsKernel complex_pairs_backward[64];
#endif
// Strided kernels up to 16 points, every level: (x, xs, xd, y, ys, yd, count)
// runs count transforms, element j of transform t at x + 2 (t xd + j xs),
// output k at y + 2 (t yd + k ys); two at a time at levels 4 and 5 (an odd
// last one alone in one 128-bit lane), one at a time below; unscaled.
typedef void (*CplxStridedKernel)(const double* x, int64_t xs, int64_t xd, double* y, int64_t ys,
                                  int64_t yd, int64_t count);
extern const CplxStridedKernel complex_strided_forward[17];
extern const CplxStridedKernel complex_strided_backward[17];

// Complex kernels by length n = 0..64 for 16-byte aligned data: every output
// times scale. Null below 2 and at powers of two (their own engine serves
// them); 3..15 are the unaligned-capable codelets, 17..63 aligned only.
extern const CplxKernelScaled complex_length_forward[65];
extern const CplxKernelScaled complex_length_backward[65];

// Runs one generated radix butterfly in place (for tests): radix r in
// {2,3,4,5,7,8,11,13,16}, lanes 1 (simd::C1: r complex values) or 2
// (simd::C2, levels 4 and 5 only: r pairs, element j of lane l at complex
// index 2j + l). Returns 0, or -1 when the combination does not exist.
int radix_butterfly(int radix, int backward, int lanes, double* data);
// The same for the real butterflies: radix in {3,5,7,11,13}, lanes 1
// (double), 2 (simd::C1) or 4 (simd::C2, levels 4 and 5); element j of lane
// l at data[j * lanes + l].
int real_radix_butterfly(int radix, int backward, int lanes, double* data);

TQS_LEVEL_END
