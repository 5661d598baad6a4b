// Power-of-two plans (tags 7 complex, 9 real): the in-cache engine for
// 2^7..2^17 points, a blocked engine above, straight-line kernels below.
#pragma once
#include <cstdint>

#include "engine/level.h"
#include "engine/level_api.h"
#include "engine/plan_types.h"

TQS_LEVEL_BEGIN

// Unused bytes after a plan's last table. Every thread of a team reads the
// tables, and the allocation that follows them is often the descriptor's
// work buffer, whose first slice one thread writes all the time: the other
// core's prefetchers, running on past the end of the tables, kept pulling
// those lines away from it (1000 x 256 complex on two threads: 340 us a
// call; with a guard of 768 bytes or more, 240). The power-of-two and the
// chirp-z plans keep it.
constexpr uint64_t PLAN_GUARD_BYTES = 4096;

struct Pow2Plan;  // layout private to the power-of-two engine

// log2n in 0..27, else PLAN_BAD_EXPONENT; mode as for the general plans.
int pow2_complex_plan_create(Pow2Plan** out, int log2n, int mode, int hint);
int pow2_real_plan_create(Pow2Plan** out, int log2n, int mode, int hint);
int pow2_plan_work_size(const Pow2Plan* plan, int64_t* size_out);
int pow2_plan_destroy(Pow2Plan* plan);
// Complex: 2^log2n interleaved pairs. Real: permuted packed order.
int pow2_complex_forward(const double* in, double* out, const Pow2Plan* plan, void* work);
int pow2_complex_backward(const double* in, double* out, const Pow2Plan* plan, void* work);
// count complex transforms one after another, the t-th from in + t * in_dist
// to out + t * out_dist (doubles; in place where in == out and the
// distances are equal).
int pow2_complex_batch(const double* in, int64_t in_dist, double* out, int64_t out_dist,
                       int64_t count, const Pow2Plan* plan, void* work, bool inverse);
int pow2_real_forward(const double* in, double* out, const Pow2Plan* plan, void* work);
int pow2_real_backward(const double* in, double* out, const Pow2Plan* plan, void* work);
// Backward from a spectrum whose middle frequency sits at in[nyquist_at]
// (see real_split_backward); lengths up to 64 take the packed order only.
int pow2_real_backward_at(const double* in, double* out, const Pow2Plan* plan, void* work,
                          int64_t nyquist_at);
// count real transforms one after another, the t-th from in + t * in_dist
// to out + t * out_dist (doubles), each reading the next one's input ahead
// as the complex batches do. Backward reads the middle frequency at
// in[nyquist_at] as pow2_real_backward_at; forward hands each output, in the
// packed order, to finish(output, n) where finish is not null.
int pow2_real_batch(const double* in, int64_t in_dist, double* out, int64_t out_dist,
                    int64_t count, const Pow2Plan* plan, void* work, bool inverse,
                    int64_t nyquist_at, void (*finish)(double*, int64_t));
// For a plan whose input is always still in cache (the caller has just
// written it): its leaves fetch nothing ahead.
void pow2_plan_input_in_cache(Pow2Plan* plan);
// The radix bits of a complex plan's closing pass: 0 up to 64 points,
// where straight-line kernels do the whole transform and there is none.
int pow2_complex_top_bits(const Pow2Plan* plan);
// Only the sub-transforms of a complex plan with a closing pass, unscaled,
// for callers that close the transform themselves: with R = 2^top_bits and
// m = 2^log2n / R, the first r of them (r = R, or 2 or 4 below it: those of
// an r*m-point transform), sub-transform j reading in[j + r*u] (u < m,
// complex units) and leaving its output k at complex index
// pow2_sub_index(j, k, m) of work (r*m complex values, 32-byte aligned, not
// overlapping in).
void pow2_complex_sub_group(const double* in, double* work, const Pow2Plan* plan, int r,
                            bool inverse);
// At the AVX levels sub-transforms 2p and 2p+1 share a block, one lane
// each, column by column; below, each has a block of its own.
inline int64_t pow2_sub_index(int64_t j, int64_t k, int64_t m) {
#if TQS_AVX
  return (j >> 1) * 2 * m + 2 * k + (j & 1);
#else
  return j * m + k;
#endif
}

// The longest length whose real plan reads the packed order only.
constexpr int64_t POW2_REAL_PACKED_ONLY = 64;


// The same entries behind opaque pointers, for level-independent callers.
extern const Pow2Api pow2_api;

TQS_LEVEL_END
