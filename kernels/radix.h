// Radix butterflies and column/lane access for the mixed-radix, direct and
// chirp-z engines. Every routine is a template over the vector type V (one
// complex per C1, two independent complex lanes per C2) and the direction F
// (true: forward, e^-i). Included by level sources only.
#pragma once
#include <cstdint>

#include "engine/level.h"
#include "kernels/simd.h"

TQS_LEVEL_BEGIN
namespace radix {

using namespace simd;

// Lane access: C1 touches one complex value, C2 two (the second lane at
// the given offset in doubles).
template <class V>
struct Lanes;

template <>
struct Lanes<C1> {
  static C1 zero() { return zero1(); }
  static C1 load(const double* p, int64_t) { return load1(p); }
  static C1 load_real(const double* p, int64_t) { return set1(p[0], 0.0); }
  static void store(double* p, int64_t, C1 v) { store1(p, v); }
  static C1 load_pair(const double* p) { return load1(p); }  // adjacent columns
  static void store_pair(double* p, C1 v) { store1(p, v); }
  static C1 splat(const double* p) { return load1(p); }  // one twiddle
};

#if TQS_LEVEL >= 4
template <>
struct Lanes<C2> {
  static C2 zero() { return zero2(); }
  static C2 load(const double* p, int64_t off) { return join(load1(p), load1(p + off)); }
  static C2 load_real(const double* p, int64_t off) { return set2(p[0], 0.0, p[off], 0.0); }
  static void store(double* p, int64_t off, C2 v) {
    store1(p, low(v));
    store1(p + off, high(v));
  }
  static C2 load_pair(const double* p) { return load2(p); }
  static void store_pair(double* p, C2 v) { store2(p, v); }
};
#endif

// Multiplication by w_4 = -i (forward) or +i (backward).
template <bool F, class V>
inline V rot4(V a) {
  if constexpr (F) {
    return mul_neg_i(a);
  } else {
    return mul_i(a);
  }
}

template <bool F, class V>
inline void bfly2(V* x) {
  V a = x[0], b = x[1];
  x[0] = a + b;
  x[1] = a - b;
}

// Four points at x[0], x[s], x[2s], x[3s], results in natural order.
template <bool F, class V>
inline void bfly4s(V* x, int s) {
  V t0 = x[0] + x[2 * s], t1 = x[0] - x[2 * s];
  V t2 = x[s] + x[3 * s], t3 = rot4<F>(x[s] - x[3 * s]);
  x[0] = t0 + t2;
  x[2 * s] = t0 - t2;
  x[s] = t1 + t3;
  x[3 * s] = t1 - t3;
}

template <bool F, class V>
inline void bfly4(V* x) {
  bfly4s<F>(x, 1);
}

constexpr double kSqrtHalf = 0.7071067811865476;
constexpr double kCos16 = 0.9238795325112867;
constexpr double kSin16 = 0.3826834323650898;

// Multiplication by w_8 and w_8^3 of the direction.
template <bool F, class V>
inline V rot8(V a) {
  return (a + rot4<F>(a)) * kSqrtHalf;
}
template <bool F, class V>
inline V rot8_3(V a) {
  return (rot4<F>(a) - a) * kSqrtHalf;
}

template <bool F, class V>
inline void bfly8(V* x) {
  V e[4] = {x[0], x[2], x[4], x[6]};
  V o[4] = {x[1], x[3], x[5], x[7]};
  bfly4<F>(e);
  bfly4<F>(o);
  o[1] = rot8<F>(o[1]);
  o[2] = rot4<F>(o[2]);
  o[3] = rot8_3<F>(o[3]);
  for (int k = 0; k < 4; ++k) {
    x[k] = e[k] + o[k];
    x[k + 4] = e[k] - o[k];
  }
}

// Product with cos(a) - i sin(a) (forward) or cos(a) + i sin(a), given c, s.
template <bool F, class V>
inline V rot_cs(V a, double c, double s) {
  // a*(c -+ i s) = c*a -+ s*(i a)
  if constexpr (F) {
    return a * c + mul_neg_i(a) * s;
  } else {
    return a * c + mul_i(a) * s;
  }
}

// 16 points as 4 x 4: columns x[b + 4a] transformed over a, twiddled by
// w16^(b*k1), then rows over b; output index k1 + 4*k2.
template <bool F, class V>
inline void bfly16(V* x) {
  for (int b = 0; b < 4; ++b) bfly4s<F>(x + b, 4);
  // x[b + 4*k1] now holds column b, bin k1.
  x[1 + 4] = rot_cs<F>(x[1 + 4], kCos16, kSin16);
  x[1 + 8] = rot8<F>(x[1 + 8]);
  x[1 + 12] = rot_cs<F>(x[1 + 12], kSin16, kCos16);
  x[2 + 4] = rot8<F>(x[2 + 4]);
  x[2 + 8] = rot4<F>(x[2 + 8]);
  x[2 + 12] = rot8_3<F>(x[2 + 12]);
  x[3 + 4] = rot_cs<F>(x[3 + 4], kSin16, kCos16);
  x[3 + 8] = rot8_3<F>(x[3 + 8]);
  x[3 + 12] = rot_cs<F>(x[3 + 12], -kCos16, -kSin16);
  V y[16];
  for (int k1 = 0; k1 < 4; ++k1) {
    V r[4] = {x[4 * k1], x[4 * k1 + 1], x[4 * k1 + 2], x[4 * k1 + 3]};
    bfly4<F>(r);
    for (int k2 = 0; k2 < 4; ++k2) y[k1 + 4 * k2] = r[k2];
  }
  for (int k = 0; k < 16; ++k) x[k] = y[k];
}

// Odd length R on symmetric pairs; cs holds cos(2*pi*e/R) for e < R followed
// by sin(2*pi*e/R). The exponent j*k mod R advances by addition only.
template <int R, bool F, class V>
inline void bfly_odd(V* x, const double* cs) {
  constexpr int H = (R - 1) / 2;
  const double* sn = cs + R;
  V s[H + 1], d[H + 1];
  V x0 = x[0], y0 = x[0];
  for (int j = 1; j <= H; ++j) {
    s[j] = x[j] + x[R - j];
    d[j] = x[j] - x[R - j];
    y0 = y0 + s[j];
  }
  for (int k = 1; k <= H; ++k) {
    V a = x0, b = Lanes<V>::zero();
    int e = 0;
    for (int j = 1; j <= H; ++j) {
      e += k;
      if (e >= R) e -= R;
      a = fmadd(s[j], cs[e], a);
      b = fmadd(d[j], sn[e], b);
    }
    V ib = mul_i(b);
    if constexpr (F) {
      x[k] = a - ib;
      x[R - k] = a + ib;
    } else {
      x[k] = a + ib;
      x[R - k] = a - ib;
    }
  }
  x[0] = y0;
}

constexpr int kMaxGeneric = 160;

// The same for a length known only at run time (odd, at most kMaxGeneric).
template <bool F, class V>
inline void bfly_odd_rt(V* x, int r, const double* cs) {
  int h = (r - 1) / 2;
  const double* sn = cs + r;
  V s[kMaxGeneric / 2 + 1], d[kMaxGeneric / 2 + 1];
  V x0 = x[0], y0 = x[0];
  for (int j = 1; j <= h; ++j) {
    s[j] = x[j] + x[r - j];
    d[j] = x[j] - x[r - j];
    y0 = y0 + s[j];
  }
  for (int k = 1; k <= h; ++k) {
    V a0 = x0, a1 = Lanes<V>::zero(), b0 = Lanes<V>::zero(), b1 = Lanes<V>::zero();
    int e = 0, j = 1;
    // Two independent accumulator chains per sum.
    for (; j + 1 <= h; j += 2) {
      e += k;
      if (e >= r) e -= r;
      a0 = fmadd(s[j], cs[e], a0);
      b0 = fmadd(d[j], sn[e], b0);
      e += k;
      if (e >= r) e -= r;
      a1 = fmadd(s[j + 1], cs[e], a1);
      b1 = fmadd(d[j + 1], sn[e], b1);
    }
    if (j <= h) {
      e += k;
      if (e >= r) e -= r;
      a0 = fmadd(s[j], cs[e], a0);
      b0 = fmadd(d[j], sn[e], b0);
    }
    V a = a0 + a1, ib = mul_i(b0 + b1);
    if constexpr (F) {
      x[k] = a - ib;
      x[r - k] = a + ib;
    } else {
      x[k] = a + ib;
      x[r - k] = a - ib;
    }
  }
  x[0] = y0;
}

// Compile-time dispatch for the lengths with their own kernels.
template <int R, bool F, class V>
inline void bfly(V* x, const double* cs) {
  if constexpr (R == 1) {
    (void)x;
    (void)cs;
  } else if constexpr (R == 2) {
    bfly2<F>(x);
  } else if constexpr (R == 4) {
    bfly4<F>(x);
  } else if constexpr (R == 8) {
    bfly8<F>(x);
  } else if constexpr (R == 16) {
    bfly16<F>(x);
  } else {
    static_assert(R % 2 == 1, "odd radix expected");
    bfly_odd<R, F>(x, cs);
  }
}

}  // namespace radix
TQS_LEVEL_END
