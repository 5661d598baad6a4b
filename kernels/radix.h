// Butterflies and column/lane access for the mixed-radix and direct
// engines. Every routine is a template over the vector type V (one complex
// per C1, two independent complex lanes per C2) and the direction F (true:
// forward, e^-i). Included by level sources only.
#pragma once
#include <cstdint>

#include "engine/level.h"
#include "kernels/generated/butterflies.h"
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
  static void store(double* p, int64_t off, C2 v) {
    store1(p, low(v));
    store1(p + off, high(v));
  }
  static C2 load_pair(const double* p) { return load2(p); }
  static void store_pair(double* p, C2 v) { store2(p, v); }
};
#endif

constexpr int kMaxGeneric = 160;

// Outputs k and r - k of an odd butterfly from the cosine sum a and the
// sine sum b.
template <bool F, class V>
inline void odd_pair(V* x, int r, int k, V a, V b) {
  if constexpr (F) {
    x[k] = sub_i(a, b);
    x[r - k] = add_i(a, b);
  } else {
    x[k] = add_i(a, b);
    x[r - k] = sub_i(a, b);
  }
}

// The exponent of the next term of output k: e + k, reduced mod r.
inline int odd_next(int e, int k, int r) {
  e += k;
  return e >= r ? e - r : e;
}

// One term of the cosine sum a and the sine sum b of an output, at
// exponent e, from the sum s and the difference d of a pair of inputs.
template <class V>
inline void odd_term(V& a, V& b, V s, V d, const double* cs, const double* sn, int e) {
  a = fmadd(s, cs[e], a);
  b = fmadd(d, sn[e], b);
}

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
  // Two outputs at a time share the loads of the sums and differences, and
  // their eight chains (two per sum) keep the multiply-adds busy; each
  // output still sums in the same order as alone.
  const V zero = Lanes<V>::zero();
  int k = 1;
  for (; k + 1 <= h; k += 2) {
    const int k1 = k + 1;
    V a0 = x0, a1 = zero, b0 = zero, b1 = zero;
    V c0 = x0, c1 = zero, e0 = zero, e1 = zero;
    int e = 0, f = 0, j = 1;
    for (; j + 1 <= h; j += 2) {
      e = odd_next(e, k, r);
      f = odd_next(f, k1, r);
      odd_term(a0, b0, s[j], d[j], cs, sn, e);
      odd_term(c0, e0, s[j], d[j], cs, sn, f);
      e = odd_next(e, k, r);
      f = odd_next(f, k1, r);
      odd_term(a1, b1, s[j + 1], d[j + 1], cs, sn, e);
      odd_term(c1, e1, s[j + 1], d[j + 1], cs, sn, f);
    }
    if (j <= h) {
      odd_term(a0, b0, s[j], d[j], cs, sn, odd_next(e, k, r));
      odd_term(c0, e0, s[j], d[j], cs, sn, odd_next(f, k1, r));
    }
    odd_pair<F>(x, r, k, a0 + a1, b0 + b1);
    odd_pair<F>(x, r, k1, c0 + c1, e0 + e1);
  }
  if (k <= h) {
    V a0 = x0, a1 = zero, b0 = zero, b1 = zero;
    int e = 0, j = 1;
    for (; j + 1 <= h; j += 2) {
      e = odd_next(e, k, r);
      odd_term(a0, b0, s[j], d[j], cs, sn, e);
      e = odd_next(e, k, r);
      odd_term(a1, b1, s[j + 1], d[j + 1], cs, sn, e);
    }
    if (j <= h) odd_term(a0, b0, s[j], d[j], cs, sn, odd_next(e, k, r));
    odd_pair<F>(x, r, k, a0 + a1, b0 + b1);
  }
  x[0] = y0;
}

// The generated straight-line butterflies for the radices that have one.
template <int R, bool F, class V>
[[gnu::always_inline]] inline void bfly(V* x) {
#define TQS_RADIX_CASE(r)           \
  if constexpr (R == r) {           \
    if constexpr (F) {              \
      butterfly##r##_forward(x);    \
    } else {                        \
      butterfly##r##_backward(x);   \
    }                               \
    return;                         \
  }
  TQS_BUTTERFLY_RADICES(TQS_RADIX_CASE)
#undef TQS_RADIX_CASE
}

constexpr bool has_butterfly(int64_t r) {
#define TQS_RADIX_CASE(r_) \
  if (r == r_) return true;
  TQS_BUTTERFLY_RADICES(TQS_RADIX_CASE)
#undef TQS_RADIX_CASE
  return false;
}

}  // namespace radix
TQS_LEVEL_END
