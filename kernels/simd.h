// The per-level vector layer. Every kernel reaches SIMD through these types:
//   C1 - one complex double in a 128-bit register (all levels);
//   C2 - two complex doubles in a 256-bit register (levels 4 and 5);
//   CV - the widest of the two at this level, with CV_WIDTH complex lanes.
// Complex values are interleaved (re, im). Multiplication by +-i is a swap
// of halves and a sign flip, never a multiply. Level 5 fuses multiply-adds.
#pragma once
#include <immintrin.h>

#include "engine/level.h"

TQS_LEVEL_BEGIN
namespace simd {

struct C1 {
  __m128d v;
};

inline C1 load1(const double* p) { return {_mm_loadu_pd(p)}; }
inline C1 load1a(const double* p) { return {_mm_load_pd(p)}; }
inline void store1(double* p, C1 a) { _mm_storeu_pd(p, a.v); }
inline void store1a(double* p, C1 a) { _mm_store_pd(p, a.v); }
inline C1 set1(double re, double im) { return {_mm_set_pd(im, re)}; }
inline C1 zero1() { return {_mm_setzero_pd()}; }
inline C1 operator+(C1 a, C1 b) { return {_mm_add_pd(a.v, b.v)}; }
inline C1 operator-(C1 a, C1 b) { return {_mm_sub_pd(a.v, b.v)}; }
inline C1 operator*(C1 a, double s) { return {_mm_mul_pd(a.v, _mm_set1_pd(s))}; }
// Lane-wise product with a pair of reals (kr for re, ki for im).
inline C1 mul_pair(C1 a, double kr, double ki) { return {_mm_mul_pd(a.v, _mm_set_pd(ki, kr))}; }
inline C1 swap(C1 a) { return {_mm_shuffle_pd(a.v, a.v, 1)}; }
// (re, im) -> (-im, re) = i*a
inline C1 mul_i(C1 a) {
  return {_mm_xor_pd(_mm_shuffle_pd(a.v, a.v, 1), _mm_set_pd(0.0, -0.0))};
}
// (re, im) -> (im, -re) = -i*a
inline C1 mul_neg_i(C1 a) {
  return {_mm_xor_pd(_mm_shuffle_pd(a.v, a.v, 1), _mm_set_pd(-0.0, 0.0))};
}
inline C1 conj(C1 a) { return {_mm_xor_pd(a.v, _mm_set_pd(-0.0, 0.0))}; }
// x + i*a and x - i*a. With SSE3 the first is one alternating add of the
// swapped a, and with FMA the second one alternating multiply-subtract:
// no sign flip, so a butterfly x +- i*a saves an operation per pair.
inline C1 add_i(C1 x, C1 a) {
#if TQS_LEVEL >= 1
  return {_mm_addsub_pd(x.v, _mm_shuffle_pd(a.v, a.v, 1))};
#else
  return x + mul_i(a);
#endif
}
// Without SSE3 both go through mul_i(a), which a pair then shares.
inline C1 sub_i(C1 x, C1 a) {
#if TQS_LEVEL >= 5
  return {_mm_fmsubadd_pd(x.v, _mm_set1_pd(1.0), _mm_shuffle_pd(a.v, a.v, 1))};
#else
  return x - mul_i(a);
#endif
}
// a*(1+i)*c and a*(1-i)*c, the eighth turns (c = +-1/sqrt 2): fused, a
// swap, a product and a multiply-add; else the sum with the quarter turn,
// then one product.
inline C1 mul_1_plus_i(C1 a, double c) {
#if TQS_LEVEL >= 5
  return {_mm_fmadd_pd(_mm_shuffle_pd(a.v, a.v, 1), _mm_set_pd(c, -c), _mm_mul_pd(a.v, _mm_set1_pd(c)))};
#else
  return (a + mul_i(a)) * c;
#endif
}
inline C1 mul_1_minus_i(C1 a, double c) {
#if TQS_LEVEL >= 5
  return {_mm_fmadd_pd(_mm_shuffle_pd(a.v, a.v, 1), _mm_set_pd(-c, c), _mm_mul_pd(a.v, _mm_set1_pd(c)))};
#else
  return (a + mul_neg_i(a)) * c;
#endif
}
// a*(c - i*s) for real c, s: fused, the same three operations.
inline C1 mul_c_minus_is(C1 a, double c, double s) {
#if TQS_LEVEL >= 5
  return {_mm_fmadd_pd(_mm_shuffle_pd(a.v, a.v, 1), _mm_set_pd(-s, s), _mm_mul_pd(a.v, _mm_set1_pd(c)))};
#else
  return a * c + mul_neg_i(a) * s;
#endif
}
// Lane-wise product of the four doubles (no complex arithmetic).
inline C1 mul_lanes(C1 a, C1 b) { return {_mm_mul_pd(a.v, b.v)}; }
// Doubles as plain lanes (real data): (a0, b0) and (a1, b1).
inline C1 interleave_lo(C1 a, C1 b) { return {_mm_unpacklo_pd(a.v, b.v)}; }
inline C1 interleave_hi(C1 a, C1 b) { return {_mm_unpackhi_pd(a.v, b.v)}; }
// a*b (complex)
inline C1 cmul(C1 a, C1 b) {
  __m128d br = _mm_unpacklo_pd(b.v, b.v);
  __m128d bi = _mm_unpackhi_pd(b.v, b.v);
  __m128d as = _mm_shuffle_pd(a.v, a.v, 1);
#if TQS_LEVEL >= 5
  return {_mm_fmaddsub_pd(a.v, br, _mm_mul_pd(as, bi))};
#elif TQS_LEVEL >= 1
  return {_mm_addsub_pd(_mm_mul_pd(a.v, br), _mm_mul_pd(as, bi))};
#else
  __m128d t = _mm_mul_pd(as, bi);
  return {_mm_add_pd(_mm_mul_pd(a.v, br), _mm_xor_pd(t, _mm_set_pd(0.0, -0.0)))};
#endif
}
// a*conj(b); fused, the alternating multiply-subtract takes the
// conjugation's sign flip.
inline C1 cmulj(C1 a, C1 b) {
#if TQS_LEVEL >= 5
  __m128d br = _mm_unpacklo_pd(b.v, b.v);
  __m128d bi = _mm_unpackhi_pd(b.v, b.v);
  return {_mm_fmsubadd_pd(a.v, br, _mm_mul_pd(_mm_shuffle_pd(a.v, a.v, 1), bi))};
#else
  return cmul(a, conj(b));
#endif
}
// Stores that go past the caches without reading the line first, for
// results nobody reads soon; p 16-byte aligned. stream_fence orders them
// before the stores that follow (and before a barrier).
inline void stream1(double* p, C1 a) { _mm_stream_pd(p, a.v); }
inline void stream_fence() { _mm_sfence(); }
// a + b*s (real s), fused at level 5
inline C1 fmadd(C1 b, double s, C1 a) {
#if TQS_LEVEL >= 5
  return {_mm_fmadd_pd(b.v, _mm_set1_pd(s), a.v)};
#else
  return {_mm_add_pd(a.v, _mm_mul_pd(b.v, _mm_set1_pd(s)))};
#endif
}

// a*w and a*conj(w) for one complex w read from memory as duplicated real and
// imaginary parts (no shuffle of the twiddle).
inline C1 cmul_mem(C1 a, const double* w) {
#if TQS_LEVEL >= 1
  __m128d br = _mm_loaddup_pd(w), bi = _mm_loaddup_pd(w + 1);
#else
  __m128d br = _mm_load1_pd(w), bi = _mm_load1_pd(w + 1);
#endif
  __m128d as = _mm_shuffle_pd(a.v, a.v, 1);
#if TQS_LEVEL >= 5
  return {_mm_fmaddsub_pd(a.v, br, _mm_mul_pd(as, bi))};
#elif TQS_LEVEL >= 1
  return {_mm_addsub_pd(_mm_mul_pd(a.v, br), _mm_mul_pd(as, bi))};
#else
  return {_mm_add_pd(_mm_mul_pd(a.v, br), _mm_xor_pd(_mm_mul_pd(as, bi), _mm_set_pd(0.0, -0.0)))};
#endif
}
inline C1 cmulj_mem(C1 a, const double* w) {
#if TQS_LEVEL >= 1
  __m128d br = _mm_loaddup_pd(w), bi = _mm_loaddup_pd(w + 1);
#else
  __m128d br = _mm_load1_pd(w), bi = _mm_load1_pd(w + 1);
#endif
  __m128d as = _mm_shuffle_pd(a.v, a.v, 1);
#if TQS_LEVEL >= 5
  return {_mm_fmsubadd_pd(a.v, br, _mm_mul_pd(as, bi))};
#else
  return {_mm_add_pd(_mm_mul_pd(a.v, br), _mm_xor_pd(_mm_mul_pd(as, bi), _mm_set_pd(-0.0, 0.0)))};
#endif
}
// a*(-i*w) and a*(i*conj(w)) for w in memory: the quarter turn is taken
// by reading the twiddle's parts the other way round, so it costs no
// shuffle (the real split step multiplies by these).
inline C1 cmul_neg_i_mem(C1 a, const double* w) {
#if TQS_LEVEL >= 1
  __m128d wr = _mm_loaddup_pd(w), wi = _mm_loaddup_pd(w + 1);
#else
  __m128d wr = _mm_load1_pd(w), wi = _mm_load1_pd(w + 1);
#endif
  __m128d as = _mm_shuffle_pd(a.v, a.v, 1);
#if TQS_LEVEL >= 5
  return {_mm_fmsubadd_pd(a.v, wi, _mm_mul_pd(as, wr))};
#else
  return {_mm_add_pd(_mm_mul_pd(a.v, wi), _mm_xor_pd(_mm_mul_pd(as, wr), _mm_set_pd(-0.0, 0.0)))};
#endif
}
inline C1 cmul_i_conj_mem(C1 a, const double* w) {
#if TQS_LEVEL >= 1
  __m128d wr = _mm_loaddup_pd(w), wi = _mm_loaddup_pd(w + 1);
#else
  __m128d wr = _mm_load1_pd(w), wi = _mm_load1_pd(w + 1);
#endif
  __m128d as = _mm_shuffle_pd(a.v, a.v, 1);
#if TQS_LEVEL >= 5
  return {_mm_fmaddsub_pd(a.v, wi, _mm_mul_pd(as, wr))};
#elif TQS_LEVEL >= 1
  return {_mm_addsub_pd(_mm_mul_pd(a.v, wi), _mm_mul_pd(as, wr))};
#else
  return {_mm_add_pd(_mm_mul_pd(a.v, wi), _mm_xor_pd(_mm_mul_pd(as, wr), _mm_set_pd(0.0, -0.0)))};
#endif
}

// Twiddle as a group {c, c, -s, s}: a*(c + i*s) = a*C + swap(a)*S and
// a*(c - i*s) = a*C - swap(a)*S, one shuffle of a and none of the twiddle.
inline C1 cmul_group(C1 a, const double* g) {
  __m128d c = _mm_loadu_pd(g), t = _mm_mul_pd(_mm_shuffle_pd(a.v, a.v, 1), _mm_loadu_pd(g + 2));
#if TQS_LEVEL >= 5
  return {_mm_fmadd_pd(a.v, c, t)};
#else
  return {_mm_add_pd(_mm_mul_pd(a.v, c), t)};
#endif
}
inline C1 cmulj_group(C1 a, const double* g) {
  __m128d c = _mm_loadu_pd(g), t = _mm_mul_pd(_mm_shuffle_pd(a.v, a.v, 1), _mm_loadu_pd(g + 2));
#if TQS_LEVEL >= 5
  return {_mm_fmsub_pd(a.v, c, t)};
#else
  return {_mm_sub_pd(_mm_mul_pd(a.v, c), t)};
#endif
}

#if TQS_LEVEL >= 4
struct C2 {
  __m256d v;
};

inline C2 load2(const double* p) { return {_mm256_loadu_pd(p)}; }
inline C2 load2a(const double* p) { return {_mm256_load_pd(p)}; }
inline void store2(double* p, C2 a) { _mm256_storeu_pd(p, a.v); }
inline void store2a(double* p, C2 a) { _mm256_store_pd(p, a.v); }
// Past the caches, as stream1; p 32-byte aligned.
inline void stream2(double* p, C2 a) { _mm256_stream_pd(p, a.v); }
inline C2 set2(double re0, double im0, double re1, double im1) {
  return {_mm256_set_pd(im1, re1, im0, re0)};
}
inline C2 zero2() { return {_mm256_setzero_pd()}; }
inline C2 join(C1 lo, C1 hi) { return {_mm256_insertf128_pd(_mm256_castpd128_pd256(lo.v), hi.v, 1)}; }
inline C1 low(C2 a) { return {_mm256_castpd256_pd128(a.v)}; }
inline C1 high(C2 a) { return {_mm256_extractf128_pd(a.v, 1)}; }
inline C2 operator+(C2 a, C2 b) { return {_mm256_add_pd(a.v, b.v)}; }
inline C2 operator-(C2 a, C2 b) { return {_mm256_sub_pd(a.v, b.v)}; }
inline C2 operator*(C2 a, double s) { return {_mm256_mul_pd(a.v, _mm256_set1_pd(s))}; }
inline C2 mul_pair(C2 a, double kr, double ki) {
  return {_mm256_mul_pd(a.v, _mm256_set_pd(ki, kr, ki, kr))};
}
inline C2 swap(C2 a) { return {_mm256_permute_pd(a.v, 5)}; }
inline C2 mul_i(C2 a) {
  return {_mm256_xor_pd(_mm256_permute_pd(a.v, 5), _mm256_set_pd(0.0, -0.0, 0.0, -0.0))};
}
inline C2 mul_neg_i(C2 a) {
  return {_mm256_xor_pd(_mm256_permute_pd(a.v, 5), _mm256_set_pd(-0.0, 0.0, -0.0, 0.0))};
}
inline C2 conj(C2 a) { return {_mm256_xor_pd(a.v, _mm256_set_pd(-0.0, 0.0, -0.0, 0.0))}; }
inline C2 add_i(C2 x, C2 a) { return {_mm256_addsub_pd(x.v, _mm256_permute_pd(a.v, 5))}; }
inline C2 sub_i(C2 x, C2 a) {
#if TQS_LEVEL >= 5
  return {_mm256_fmsubadd_pd(x.v, _mm256_set1_pd(1.0), _mm256_permute_pd(a.v, 5))};
#else
  return x + mul_neg_i(a);
#endif
}
inline C2 mul_1_plus_i(C2 a, double c) {
#if TQS_LEVEL >= 5
  return {_mm256_fmadd_pd(_mm256_permute_pd(a.v, 5), _mm256_set_pd(c, -c, c, -c),
                          _mm256_mul_pd(a.v, _mm256_set1_pd(c)))};
#else
  return (a + mul_i(a)) * c;
#endif
}
inline C2 mul_1_minus_i(C2 a, double c) {
#if TQS_LEVEL >= 5
  return {_mm256_fmadd_pd(_mm256_permute_pd(a.v, 5), _mm256_set_pd(-c, c, -c, c),
                          _mm256_mul_pd(a.v, _mm256_set1_pd(c)))};
#else
  return (a + mul_neg_i(a)) * c;
#endif
}
inline C2 mul_c_minus_is(C2 a, double c, double s) {
#if TQS_LEVEL >= 5
  return {_mm256_fmadd_pd(_mm256_permute_pd(a.v, 5), _mm256_set_pd(-s, s, -s, s),
                          _mm256_mul_pd(a.v, _mm256_set1_pd(c)))};
#else
  return a * c + mul_neg_i(a) * s;
#endif
}
inline C2 mul_lanes(C2 a, C2 b) { return {_mm256_mul_pd(a.v, b.v)}; }
// Doubles as plain lanes: (a0, b0, a2, b2) and (a1, b1, a3, b3).
inline C2 interleave_lo(C2 a, C2 b) { return {_mm256_unpacklo_pd(a.v, b.v)}; }
inline C2 interleave_hi(C2 a, C2 b) { return {_mm256_unpackhi_pd(a.v, b.v)}; }
// (x0, x1) -> (x1, x0): the two complex lanes exchanged.
inline C2 swap_lanes(C2 a) { return {_mm256_permute2f128_pd(a.v, a.v, 1)}; }
inline C2 cmul(C2 a, C2 b) {
  __m256d br = _mm256_movedup_pd(b.v);
  __m256d bi = _mm256_permute_pd(b.v, 15);
  __m256d as = _mm256_permute_pd(a.v, 5);
#if TQS_LEVEL >= 5
  return {_mm256_fmaddsub_pd(a.v, br, _mm256_mul_pd(as, bi))};
#else
  return {_mm256_addsub_pd(_mm256_mul_pd(a.v, br), _mm256_mul_pd(as, bi))};
#endif
}
inline C2 cmulj(C2 a, C2 b) {
#if TQS_LEVEL >= 5
  __m256d br = _mm256_movedup_pd(b.v);
  __m256d bi = _mm256_permute_pd(b.v, 15);
  return {_mm256_fmsubadd_pd(a.v, br, _mm256_mul_pd(_mm256_permute_pd(a.v, 5), bi))};
#else
  return cmul(a, conj(b));
#endif
}
inline C2 fmadd(C2 b, double s, C2 a) {
#if TQS_LEVEL >= 5
  return {_mm256_fmadd_pd(b.v, _mm256_set1_pd(s), a.v)};
#else
  return {_mm256_add_pd(a.v, _mm256_mul_pd(b.v, _mm256_set1_pd(s)))};
#endif
}

// Both lanes times one complex w read from memory (broadcast).
inline C2 cmul_mem(C2 a, const double* w) {
  __m256d br = _mm256_broadcast_sd(w), bi = _mm256_broadcast_sd(w + 1);
  __m256d as = _mm256_permute_pd(a.v, 5);
#if TQS_LEVEL >= 5
  return {_mm256_fmaddsub_pd(a.v, br, _mm256_mul_pd(as, bi))};
#else
  return {_mm256_addsub_pd(_mm256_mul_pd(a.v, br), _mm256_mul_pd(as, bi))};
#endif
}
inline C2 cmulj_mem(C2 a, const double* w) {
  __m256d br = _mm256_broadcast_sd(w), bi = _mm256_broadcast_sd(w + 1);
  __m256d as = _mm256_permute_pd(a.v, 5);
#if TQS_LEVEL >= 5
  return {_mm256_fmsubadd_pd(a.v, br, _mm256_mul_pd(as, bi))};
#else
  return {_mm256_add_pd(_mm256_mul_pd(a.v, br),
                        _mm256_xor_pd(_mm256_mul_pd(as, bi), _mm256_set_pd(-0.0, 0.0, -0.0, 0.0)))};
#endif
}
// The two lanes' twiddles w[0..3] in memory, each part duplicated straight
// from a load (w[4] is read and ignored, so the table must extend one double
// past the pair), and a*p -+ swap(a)*q on them (+- with subadd): a*w and
// a*conj(w) take p = real parts, q = imaginary parts; a*(-i*w) and
// a*(i*conj(w)) the other way round.
inline __m256d dup_real(const double* w) { return _mm256_movedup_pd(_mm256_loadu_pd(w)); }
inline __m256d dup_imag(const double* w) { return _mm256_movedup_pd(_mm256_loadu_pd(w + 1)); }
inline C2 alternating_product(C2 a, __m256d p, __m256d q, bool subadd) {
  __m256d t = _mm256_mul_pd(_mm256_permute_pd(a.v, 5), q);
#if TQS_LEVEL >= 5
  return {subadd ? _mm256_fmsubadd_pd(a.v, p, t) : _mm256_fmaddsub_pd(a.v, p, t)};
#else
  __m256d u = _mm256_mul_pd(a.v, p);
  return {subadd ? _mm256_add_pd(u, _mm256_xor_pd(t, _mm256_set_pd(-0.0, 0.0, -0.0, 0.0)))
                 : _mm256_addsub_pd(u, t)};
#endif
}
inline C2 cmul_pair_mem(C2 a, const double* w) {
  return alternating_product(a, dup_real(w), dup_imag(w), false);
}
inline C2 cmulj_pair_mem(C2 a, const double* w) {
  return alternating_product(a, dup_real(w), dup_imag(w), true);
}
// a times a pair of twiddles w[0..3] (read as by cmul_pair_mem) and then
// times one twiddle v[0..1] for both lanes, or times their conjugates: two
// products on duplicated parts, each with a's swap the only shuffle.
inline C2 cmul_pair_then_mem(C2 a, const double* w, const double* v, bool conjugate) {
  const C2 b = alternating_product(a, dup_real(w), dup_imag(w), conjugate);
  return alternating_product(b, _mm256_broadcast_sd(v), _mm256_broadcast_sd(v + 1), conjugate);
}
inline C2 cmul_neg_i_mem(C2 a, const double* w) {
  return alternating_product(a, dup_imag(w), dup_real(w), true);
}
inline C2 cmul_i_conj_mem(C2 a, const double* w) {
  return alternating_product(a, dup_imag(w), dup_real(w), false);
}
// The real split step's combinations, a + conj(b), a - conj(b), s*h + t and
// conj(s*h - t): with FMA each is one instruction, the conjugations riding
// on the alternating forms (a*1 + b rounds as a + b, so the sums keep their
// bits).
inline C2 add_conj(C2 a, C2 b) {
#if TQS_LEVEL >= 5
  return {_mm256_fmsubadd_pd(a.v, _mm256_set1_pd(1.0), b.v)};
#else
  return a + conj(b);
#endif
}
inline C2 sub_conj(C2 a, C2 b) { return {_mm256_addsub_pd(a.v, b.v)}; }
inline C2 scale_add(C2 s, double h, C2 t) {
#if TQS_LEVEL >= 5
  return {_mm256_fmadd_pd(s.v, _mm256_set1_pd(h), t.v)};
#else
  return s * h + t;
#endif
}
inline C2 conj_scale_sub(C2 s, double h, C2 t) {
#if TQS_LEVEL >= 5
  return {_mm256_fmaddsub_pd(s.v, _mm256_set_pd(-h, h, -h, h), t.v)};
#else
  return conj(s * h - t);
#endif
}
// Twiddles stored as groups {c0, c0, c1, c1, -s0, s0, -s1, s1} (cosine and
// sine of one angle per lane): a*(c + i*s) = a*C + swap(a)*S and
// a*(c - i*s) = a*C - swap(a)*S with C, S the two halves of the group.
// The _lane forms apply lane l's twiddle (g points at c_l) to both lanes
// with the same operations, so either form rounds a lane alike.
inline C2 group_product(C2 a, __m256d c, __m256d s, bool conjugate) {
  __m256d t = _mm256_mul_pd(_mm256_permute_pd(a.v, 5), s);
#if TQS_LEVEL >= 5
  return {conjugate ? _mm256_fmsub_pd(a.v, c, t) : _mm256_fmadd_pd(a.v, c, t)};
#else
  __m256d u = _mm256_mul_pd(a.v, c);
  return {conjugate ? _mm256_sub_pd(u, t) : _mm256_add_pd(u, t)};
#endif
}
inline C2 cmul_group(C2 a, const double* g) {
  return group_product(a, _mm256_loadu_pd(g), _mm256_loadu_pd(g + 4), false);
}
inline C2 cmulj_group(C2 a, const double* g) {
  return group_product(a, _mm256_loadu_pd(g), _mm256_loadu_pd(g + 4), true);
}
inline C2 cmul_group_lane(C2 a, const double* g) {
  return group_product(a, _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(g)),
                       _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(g + 4)), false);
}
inline C2 cmulj_group_lane(C2 a, const double* g) {
  return group_product(a, _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(g)),
                       _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(g + 4)), true);
}

// Lane shuffles: (a.lo, b.lo), (a.hi, b.hi), and (a.hi, a.lo).
inline C2 lanes_lo(C2 a, C2 b) { return {_mm256_permute2f128_pd(a.v, b.v, 0x20)}; }
inline C2 lanes_hi(C2 a, C2 b) { return {_mm256_permute2f128_pd(a.v, b.v, 0x31)}; }
inline C2 reverse_lanes(C2 a) { return {_mm256_permute2f128_pd(a.v, a.v, 0x01)}; }

typedef C2 CV;
constexpr int CV_WIDTH = 2;
inline CV loadv(const double* p) { return load2(p); }
inline void storev(double* p, CV a) { store2(p, a); }
#else
typedef C1 CV;
constexpr int CV_WIDTH = 1;
inline CV loadv(const double* p) { return load1(p); }
inline void storev(double* p, CV a) { store1(p, a); }
#endif

}  // namespace simd
TQS_LEVEL_END
