// Butterflies, leaf kernels and radix passes of the power-of-two engine,
// written once for a "vector of complex" type V: C1 (one transform) or, at
// the AVX levels, C2 (two independent transforms side by side, one per lane).
// Every kernel is templated on the direction: the backward kernels use the
// conjugate twiddles and +i where the forward ones use -i.
#pragma once
#include <cstddef>
#include <cstdint>

#include "kernels/simd.h"

TQS_LEVEL_BEGIN
namespace p2 {
// Internal linkage: one translation unit uses these, and no instantiation
// becomes a weak symbol.
namespace {

using namespace simd;

template <class V>
struct VT;
template <>
struct VT<C1> {
  static constexpr int D = 2;  // doubles per vector
  static C1 ld(const double* p) { return load1(p); }
  static void st(double* p, C1 a) { store1(p, a); }
};
#if TQS_AVX
template <>
struct VT<C2> {
  static constexpr int D = 4;
  static C2 ld(const double* p) { return load2(p); }
  static void st(double* p, C2 a) { store2(p, a); }
};
#endif

// Multiplication by the direction's quarter turn: -i forward, +i backward.
template <bool INV, class V>
inline V rot(V a) {
  if constexpr (INV)
    return mul_i(a);
  else
    return mul_neg_i(a);
}

// x + rot(a) and x - rot(a), without forming rot(a).
template <bool INV, class V>
inline V add_rot(V x, V a) {
  if constexpr (INV)
    return add_i(x, a);
  else
    return sub_i(x, a);
}
template <bool INV, class V>
inline V sub_rot(V x, V a) {
  if constexpr (INV)
    return sub_i(x, a);
  else
    return add_i(x, a);
}

// a times the twiddle w (forward) or conj(w) (backward), w read from memory.
template <bool INV, class V>
inline V twm(V a, const double* w) {
  if constexpr (INV)
    return cmulj_mem(a, w);
  else
    return cmul_mem(a, w);
}

// a times (c - i*s) forward, (c + i*s) backward.
template <bool INV, class V>
inline V cmul_cs(V a, double c, double s) {
  return mul_c_minus_is(a, c, INV ? -s : s);
}

// a times (1 + rot) * c and (1 - rot) * c (rot: -i forward, i backward):
// the eighth turns, a swap, a product and a multiply-add at level 5.
template <bool INV, class V>
inline V mul_1_plus_rot(V a, double c) {
  if constexpr (INV)
    return mul_1_plus_i(a, c);
  else
    return mul_1_minus_i(a, c);
}
template <bool INV, class V>
inline V mul_1_minus_rot(V a, double c) {
  if constexpr (INV)
    return mul_1_minus_i(a, c);
  else
    return mul_1_plus_i(a, c);
}

constexpr double H = 0.70710678118654752440;
constexpr double C16 = 0.92387953251128675613;
constexpr double S16 = 0.38268343236508977173;

// With R2, a2 enters multiplied by the quarter turn.
template <bool INV, class V, bool R2 = false>
inline void bfly4(V& a0, V& a1, V& a2, V& a3) {
  V t0 = R2 ? add_rot<INV>(a0, a2) : a0 + a2;
  V t1 = R2 ? sub_rot<INV>(a0, a2) : a0 - a2;
  V t2 = a1 + a3, d = a1 - a3;
  a0 = t0 + t2;
  a2 = t0 - t2;
  a1 = add_rot<INV>(t1, d);
  a3 = sub_rot<INV>(t1, d);
}

// Eight points in natural order in x[0..7], result in natural order.
template <bool INV, class V>
inline void bfly8(V* x) {
  bfly4<INV>(x[0], x[2], x[4], x[6]);
  bfly4<INV>(x[1], x[3], x[5], x[7]);
  // evens now hold E0..E3 in x[0], x[2], x[4], x[6]; odds O0..O3 likewise.
  V o1 = mul_1_plus_rot<INV>(x[3], H);
  V o3 = mul_1_minus_rot<INV>(x[7], -H);
  V o0 = x[1], q2 = x[5];
  V e0 = x[0], e1 = x[2], e2 = x[4], e3 = x[6];
  x[0] = e0 + o0;
  x[4] = e0 - o0;
  x[1] = e1 + o1;
  x[5] = e1 - o1;
  x[2] = add_rot<INV>(e2, q2);
  x[6] = sub_rot<INV>(e2, q2);
  x[3] = e3 + o3;
  x[7] = e3 - o3;
}

// 16 points, 4 x 4 with the sixteenth roots as literal constants.
template <bool INV, class V>
inline void bfly16(V* x) {
  for (int j = 0; j < 4; ++j) bfly4<INV>(x[j], x[j + 4], x[j + 8], x[j + 12]);
  // x[j + 4k] now holds sub-transform j at frequency k; twiddle by w16^(j*k).
  x[5] = cmul_cs<INV>(x[5], C16, S16);
  x[9] = mul_1_plus_rot<INV>(x[9], H);
  x[13] = cmul_cs<INV>(x[13], S16, C16);
  x[6] = mul_1_plus_rot<INV>(x[6], H);
  x[14] = mul_1_minus_rot<INV>(x[14], -H);
  x[7] = cmul_cs<INV>(x[7], S16, C16);
  x[11] = mul_1_minus_rot<INV>(x[11], -H);
  x[15] = cmul_cs<INV>(x[15], -C16, -S16);
  // x[10] times the quarter turn is folded into its butterfly.
  bfly4<INV>(x[0], x[1], x[2], x[3]);
  bfly4<INV>(x[4], x[5], x[6], x[7]);
  bfly4<INV, V, true>(x[8], x[9], x[10], x[11]);
  bfly4<INV>(x[12], x[13], x[14], x[15]);
}
// bfly16 leaves frequency k + 4q in x[4k + q]; the stores undo that
// transposition (storing in place of swapping keeps the values in registers).
constexpr int T16[16] = {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};
template <int R>
constexpr int out_index(int q) {
  return R == 16 ? T16[q] : q;
}

// Leaf: a 2^L-point transform (L <= 4) of in[0], in[is], in[2 is], ... (is
// in doubles), written contiguously to out. Reads everything before it
// writes, so out may alias in when is == D.
template <bool INV, bool SC, class V, int L>
inline void leaf_fixed(const double* in, ptrdiff_t is, double* out, double scale) {
  constexpr int D = VT<V>::D;
  constexpr int n = 1 << L;
  V x[n];
  for (int u = 0; u < n; ++u) {
    x[u] = VT<V>::ld(in + u * is);
    if constexpr (SC) x[u] = x[u] * scale;
  }
  if constexpr (L == 1) {
    V t = x[0];
    x[0] = t + x[1];
    x[1] = t - x[1];
  } else if constexpr (L == 2) {
    bfly4<INV>(x[0], x[1], x[2], x[3]);
  } else if constexpr (L == 3) {
    bfly8<INV>(x);
  } else if constexpr (L == 4) {
    bfly16<INV>(x);
  }
  for (int u = 0; u < n; ++u) VT<V>::st(out + u * D, x[out_index<n>(u)]);
}

// The R-point transform of a pass, in registers (bfly16 leaves its result
// transposed; see out_index).
template <bool INV, int R, class V>
inline void bfly_r(V* x) {
  if constexpr (R == 2) {
    V t = x[0];
    x[0] = t + x[1];
    x[1] = t - x[1];
  } else if constexpr (R == 4) {
    bfly4<INV>(x[0], x[1], x[2], x[3]);
  } else if constexpr (R == 8) {
    bfly8<INV>(x);
  } else {
    bfly16<INV>(x);
  }
}

// Calls f.template operator()<M>() with M == m when m is one of Ms, else
// with M == 0. A pass whose column count is a constant addresses its R
// rows as one pointer plus constant offsets; with m known only at run time
// the rows' addresses take a register each, more than the vector code
// leaves free, and the loop reloads them from the stack (level 5, the top
// and inner passes up to 2048 columns: complex 128 9 % faster, 256 6 %,
// 512 7 %, 4096 7 %, real 8192 4-9 %, 1000 x 256 15 %; the rest level).
template <ptrdiff_t... Ms, class F>
[[gnu::always_inline]] inline void with_columns(ptrdiff_t m, F&& f) {
  const bool known = ((m == Ms ? (f.template operator()<Ms>(), true) : false) || ...);
  if (!known) f.template operator()<0>();
}

// A closing pass of R rows of m columns that the next transform of a batch
// follows (ahead, its R*m input points in R*m/4 lines) asks for that input
// R/2 lines for each column pair, at column k (even), so that it arrives
// while this transform computes. (Always inlined: as a function of its
// own, which has no effect the compiler can see, its calls were dropped.)
template <int R>
[[gnu::always_inline]] inline void prefetch_ahead(const char* ahead, ptrdiff_t k) {
  if (ahead != nullptr && (k & 1) == 0)
    for (int q = 0; q < R / 2; ++q) __builtin_prefetch(ahead + (k * R / 4 + q) * 64, 0, 3);
}

// Radix-R decimation-in-time pass over one block of R*m points held as R
// rows of m: element (j, k) at src[(j*m + k)*D]. Row j >= 1 is multiplied by
// w^(j*k) (tw: R-1 complex per column, in column order), then the R-point
// transform over j goes to dst row q. src may equal dst. Only the columns
// c0 <= k < c1 are done.
//
// With GROUPS (one lane only) each twiddle is a group {c, c, -s, s}. MC > 0:
// m is known to be MC (see with_columns).
template <bool INV, class V, int R, bool GROUPS = false, ptrdiff_t MC = 0>
inline void pass(const double* src, double* dst, ptrdiff_t m_, const double* tw, ptrdiff_t c0,
                 ptrdiff_t c1, const char* ahead = nullptr) {
  constexpr int D = VT<V>::D;
  const ptrdiff_t m = MC ? MC : m_;
  constexpr int TS = GROUPS ? 4 : 2;  // doubles per twiddle
  tw += TS * (R - 1) * c0;
  for (ptrdiff_t k = c0; k < c1; ++k, tw += TS * (R - 1)) {
    prefetch_ahead<R>(ahead, k);
    V x[R];
    x[0] = VT<V>::ld(src + k * D);
    for (int j = 1; j < R; ++j) {
      const V a = VT<V>::ld(src + (j * m + k) * D);
      if constexpr (GROUPS)
        x[j] = INV ? cmulj_group(a, tw + 4 * (j - 1)) : cmul_group(a, tw + 4 * (j - 1));
      else
        x[j] = twm<INV>(a, tw + 2 * (j - 1));
    }
    bfly_r<INV, R>(x);
    for (int q = 0; q < R; ++q) VT<V>::st(dst + (q * m + k) * D, x[out_index<R>(q)]);
  }
}

// One twiddle for every lane of V.
inline C1 lanes_of(C1 w, C1) { return w; }
#if TQS_AVX
inline C2 lanes_of(C1 w, C2) { return join(w, w); }
#endif

// The same pass with the twiddles of column k = kh*B + kl formed as the
// product of two small tables, w^(j*kh*B) (th, R-1 per kh) and w^(j*kl)
// (tl, R-1 per kl): from 2^14 points on a full table costs more in memory
// traffic (and in page faults when the plan is made) than the product.
template <bool INV, class V, int R, ptrdiff_t MC = 0>
inline void pass_split(const double* src, double* dst, ptrdiff_t m_, const double* tl,
                       const double* th, int b, ptrdiff_t c0, ptrdiff_t c1,
                       const char* ahead = nullptr) {
  constexpr int D = VT<V>::D;
  const ptrdiff_t m = MC ? MC : m_;
  const ptrdiff_t B = ptrdiff_t(1) << b;
  th += 2 * (R - 1) * (c0 >> b);
  for (ptrdiff_t kh = c0 >> b; (kh << b) < c1; ++kh, th += 2 * (R - 1)) {
    const ptrdiff_t lo = c0 > (kh << b) ? c0 - (kh << b) : 0;
    const ptrdiff_t hi = c1 - (kh << b) < B ? c1 - (kh << b) : B;
    const double* twl = tl + 2 * (R - 1) * lo;
    for (ptrdiff_t kl = lo; kl < hi; ++kl, twl += 2 * (R - 1)) {
      const ptrdiff_t k = (kh << b) + kl;
      prefetch_ahead<R>(ahead, k);
      V x[R];
      x[0] = VT<V>::ld(src + k * D);
      for (int j = 1; j < R; ++j) {
        const V w = lanes_of(cmul_mem(load1(twl + 2 * (j - 1)), th + 2 * (j - 1)), x[0]);
        const V a = VT<V>::ld(src + (j * m + k) * D);
        if constexpr (INV)
          x[j] = cmulj(a, w);
        else
          x[j] = cmul(a, w);
      }
      bfly_r<INV, R>(x);
      for (int q = 0; q < R; ++q) VT<V>::st(dst + (q * m + k) * D, x[out_index<R>(q)]);
    }
  }
}

// Twiddle layouts of the closing pass: one table of roots (side by side
// for two columns at the AVX levels), the same as groups (AVX only), or the
// product of a fine and a coarse table. TW_DUP is the side-by-side table
// read with duplicating loads (AVX only; see cmul_pair_mem).
enum { TW_PLAIN, TW_GROUPS, TW_SPLIT, TW_DUP };

#if TQS_AVX
// Closing pass of the two-lane scheme. src holds R/2 pair blocks; block p
// interleaves rows 2p (low lane) and 2p+1 (high lane) column by column. Two
// columns are taken at a time, transposed into one vector per row, twiddled
// with the side-by-side table (R-1 pairs per column pair) and written to dst
// in natural order. With SPLIT the table covers 2^b columns (tw) and is
// multiplied by th, one entry per block of 2^b columns (see pass_split).
// With TW_GROUPS the table holds R-1 groups per column pair.
// Only the columns c0 <= k < c1 are done (c0 and c1 even). MC > 0: m is
// known to be MC. ahead: see prefetch_ahead.
template <bool INV, int R, int TW, ptrdiff_t MC = 0>
inline void pass_top2(const double* src, double* dst, ptrdiff_t m_, const double* tw,
                      const double* th, int b, ptrdiff_t c0, ptrdiff_t c1,
                      const char* ahead = nullptr) {
  const ptrdiff_t m = MC ? MC : m_;
  constexpr bool SPLIT = TW == TW_SPLIT;
  constexpr ptrdiff_t TS = TW == TW_GROUPS ? 8 : 4;  // doubles per twiddle pair
  const ptrdiff_t B = SPLIT ? ptrdiff_t(1) << b : m;
  for (ptrdiff_t kh = c0 / B; kh * B < c1; ++kh) {
    // Without SPLIT there is no second table (th is null) and one block.
    const double* thk = SPLIT ? th + 2 * (R - 1) * kh : nullptr;
    const ptrdiff_t lo = c0 > kh * B ? c0 - kh * B : 0;
    const ptrdiff_t hi = c1 - kh * B < B ? c1 - kh * B : B;
    const double* twl = tw + TS * (R - 1) * (lo / 2);
    for (ptrdiff_t kl = lo; kl < hi; kl += 2, twl += TS * (R - 1)) {
      const ptrdiff_t k = kh * B + kl;
      // A radix-4 pass writes only four rows at a time, too few output
      // lines in flight when the output is not in cache (a batch); each
      // line is asked for eight columns ahead (1000 x 256 points: 15 %
      // faster; one transform in cache: 0-2 % slower). So does a radix-8
      // top in a batch: 1000 x 256 (as 8 x 32) 4-6 %, 1000 x 512 7-12 %.
      if ((R == 4 || (R == 8 && ahead != nullptr)) && m <= 2048 && (k & 3) == 0)
        for (int q = 0; q < R; ++q) __builtin_prefetch(dst + (q * m + k + 8) * 2, 1);
      prefetch_ahead<R>(ahead, k);
      C2 x[R];
      for (int p = 0; p < R / 2; ++p) {
        const double* blk = src + (2 * p * m + 2 * k) * 2;
        C2 a0 = load2(blk), a1 = load2(blk + 4);
        x[2 * p] = lanes_lo(a0, a1);
        x[2 * p + 1] = lanes_hi(a0, a1);
      }
      for (int j = 1; j < R; ++j) {
        if constexpr (TW == TW_GROUPS) {
          x[j] = INV ? cmulj_group(x[j], twl + 8 * (j - 1)) : cmul_group(x[j], twl + 8 * (j - 1));
          continue;
        }
        if constexpr (TW == TW_DUP) {
          const double* w = twl + 4 * (j - 1);
          x[j] = INV ? cmulj_pair_mem(x[j], w) : cmul_pair_mem(x[j], w);
          continue;
        }
        C2 w = load2(twl + 4 * (j - 1));
        if constexpr (SPLIT) w = cmul_mem(w, thk + 2 * (j - 1));
        if constexpr (INV)
          x[j] = cmulj(x[j], w);
        else
          x[j] = cmul(x[j], w);
      }
      bfly_r<INV, R>(x);
      for (int q = 0; q < R; ++q) store2(dst + (q * m + k) * 2, x[out_index<R>(q)]);
    }
  }
}
#endif

}  // namespace
}  // namespace p2
TQS_LEVEL_END
