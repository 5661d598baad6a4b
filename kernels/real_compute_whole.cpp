// Whole-vector kernels for the power-of-two lengths 2 to 64 (32 and 64 at
// the AVX levels) and, in the conjugate-even layout, the other even lengths
// from 18 to 62: the straight-line real kernels, the layout conversion and
// the scale in one routine, without a plan or a storage routine.
#include "engine/engine.h"
#include "kernels/codelets.h"
#include "kernels/mixed_radix.h"
#include "kernels/real_compute.h"
#include "kernels/real_split.h"
#include "tqs_dfti.h"

TQS_LEVEL_BEGIN
namespace {

constexpr int64_t LONGEST_WHOLE_VECTOR = 64;
// Up to here the kernels also come in the conjugate-even layout.
constexpr int64_t SHORTEST_PACKED_ONLY = 16;

void scale_doubles(double* x, int64_t count, double scale) {
  for (int64_t i = 0; i < count; ++i) x[i] *= scale;
}

#if TQS_AVX
// At the AVX levels 64 and 128 points in the conjugate-even layout are the
// two-lane complex kernel of half the length and the split step: the real
// kernel of 64 holds one complex value per register, and 128 had only the
// plan's path (level 5, interleaved runs: 64 forward 21 % faster, backward
// 8 %). At 32 points the same was 5-12 % slower than the real kernel: the
// split step and the 16-point kernel wait on each other's stores for most of
// their few nanoseconds.
struct PairSplitRoots {
  alignas(64) double w64[36];
  alignas(64) double w128[68];
  PairSplitRoots() {
    real_split_table(w64, 64);
    real_split_table(w128, 128);
  }
};

bool pair_split(int64_t n) { return n == 64 || n == 128; }

const double* pair_split_roots(int64_t n) {
  static const PairSplitRoots roots;
  return n == 64 ? roots.w64 : roots.w128;
}

template <int N>
void pair_split_forward(const double* in, double* out, double scale) {
  codelet_pow2_complex_forward[__builtin_ctz(N / 2)](in, out);
  real_split_forward_cce_pairs(out, N, pair_split_roots(N), scale);
}

template <int N>
void pair_split_backward(const double* in, double* out, double scale) {
  real_split_backward_cce_pairs(in, out, N, pair_split_roots(N), scale);
  codelet_pow2_complex_backward[__builtin_ctz(N / 2)](out, out);
}

// Unscaled, for the batches' direct kernel calls.
template <int N>
void pair_split_forward_1(const double* in, double* out) {
  pair_split_forward<N>(in, out, 1.0);
}
template <int N>
void pair_split_backward_1(const double* in, double* out) {
  pair_split_backward<N>(in, out, 1.0);
}
#endif

// The kernels read every input before writing, so in == out is fine. The
// conjugate-even layout has kernels of its own (the short ones, and 32 and
// 64 addressing R0 and R(n/2) where they lie), the other packed layouts go
// through the permuted order.
long whole_vector_forward(const double* input, double* output, EngineDescriptor* d, void*) {
  const int64_t n = d->length;
  const int k = __builtin_ctzll(static_cast<uint64_t>(n));
  int64_t written = n;
#if TQS_AVX
  if (pair_split(n) && cce_layout(d)) {
    (n == 64 ? pair_split_forward<64> : pair_split_forward<128>)(input, output,
                                                                 d->active_forward_scale);
    return 0;
  }
#endif
  if (cce_layout(d)) {
    (n <= SHORTEST_PACKED_ONLY ? codelets.real_forward_cce[n]
     : (n & (n - 1)) != 0      ? real_even_cce_forward[n / 2]
                               : real_pow2_cce_forward[k])(input, output);
    written = n + 2;
  } else {
    real_pow2_forward[k](input, output);
    if (d->packed_format == DFTI_PACKING_SEQUENTIAL) permuted_to_sequential(output, n);
  }
  if (d->active_forward_scale != 1.0) scale_doubles(output, written, d->active_forward_scale);
  return 0;
}

long whole_vector_backward(const double* input, double* output, EngineDescriptor* d, void*) {
  const int64_t n = d->length;
  const int k = __builtin_ctzll(static_cast<uint64_t>(n));
#if TQS_AVX
  if (pair_split(n) && cce_layout(d)) {
    (n == 64 ? pair_split_backward<64> : pair_split_backward<128>)(input, output,
                                                                   d->active_backward_scale);
    return 0;
  }
#endif
  if (cce_layout(d)) {
    (n <= SHORTEST_PACKED_ONLY ? codelets.real_backward_cce[n]
     : (n & (n - 1)) != 0      ? real_even_cce_backward[n / 2]
                               : real_pow2_cce_backward[k])(input, output);
  } else if (d->packed_format == DFTI_PACKING_SEQUENTIAL) {
    sequential_to_permuted(input, output, n);
    real_pow2_backward[k](output, output);
  } else {
    real_pow2_backward[k](input, output);
  }
  if (d->active_backward_scale != 1.0) scale_doubles(output, n, d->active_backward_scale);
  return 0;
}

// At the AVX levels the lengths up to 16 take the short-vector routines
// instead, which are faster there (whole-vector 16: 20-35 % slower); at 32
// and 64 the plan path runs the same kernels behind its storage routine and
// layers of calls (level 5, interleaved runs: whole-vector 32 15-40 % and
// 64 3-10 % faster).
//
// The other even lengths from 18 to 62 ran a half-length complex kernel and
// a separate split step behind the same layers (level 5, real 20: 27 ns
// forward, the split step a third of it; now 12 ns). At the AVX levels a
// half from 22 points on that has a two-lane whole transform of its own
// keeps that path, which was as fast or faster (real 52 forward: 38 ns
// against 50 whole-vector).
bool has_whole_vector(int64_t n, bool cce) {
#if TQS_AVX
  if (pair_split(n) && cce) return true;
  constexpr int64_t SHORTEST = 32;
#else
  constexpr int64_t SHORTEST = 2;
#endif
  if (n > SHORTEST_PACKED_ONLY && n < LONGEST_WHOLE_VECTOR && n % 2 == 0 && (n & (n - 1)) != 0) {
    if (TQS_LEVEL >= 4 && n >= 44 && mixed_radix_whole(n / 2)) return false;
    return cce && real_even_cce_forward[n / 2] != nullptr &&
           real_even_cce_backward[n / 2] != nullptr;
  }
  if (n < SHORTEST || n > LONGEST_WHOLE_VECTOR || (n & (n - 1)) != 0) return false;
  const int k = __builtin_ctzll(static_cast<uint64_t>(n));
  return real_pow2_forward[k] != nullptr && real_pow2_backward[k] != nullptr;
}

}  // namespace

CplxKernel real_cce_kernel(const EngineDescriptor* d, bool forward) {
  const int64_t n = d->length;
#if TQS_AVX
  if (pair_split(n) && cce_layout(d)) {
    const AxisRoutine axis = forward ? d->axis_plan_forward : d->axis_plan_backward;
    if (axis != whole_vector_forward && axis != whole_vector_backward) return nullptr;
    if (n == 64) return forward ? pair_split_forward_1<64> : pair_split_backward_1<64>;
    return forward ? pair_split_forward_1<128> : pair_split_backward_1<128>;
  }
#endif
  if (n < 2 || n > LONGEST_WHOLE_VECTOR || !cce_layout(d)) return nullptr;
  const AxisRoutine axis = forward ? d->axis_plan_forward : d->axis_plan_backward;
  if (n <= SHORTEST_PACKED_ONLY &&
      (axis == axis_short_forward || axis == axis_short_backward ||
       axis == whole_vector_forward || axis == whole_vector_backward))
    return (forward ? codelets.real_forward_cce : codelets.real_backward_cce)[n];
  if (axis != whole_vector_forward && axis != whole_vector_backward) return nullptr;
  if ((n & (n - 1)) != 0) return (forward ? real_even_cce_forward : real_even_cce_backward)[n / 2];
  const int k = __builtin_ctzll(static_cast<uint64_t>(n));
  return (forward ? real_pow2_cce_forward : real_pow2_cce_backward)[k];
}

AxisRoutine real_whole_vector_forward(int64_t n, bool cce) {
  return has_whole_vector(n, cce) ? whole_vector_forward : nullptr;
}

AxisRoutine real_whole_vector_backward(int64_t n, bool cce) {
  return has_whole_vector(n, cce) ? whole_vector_backward : nullptr;
}

TQS_LEVEL_END
