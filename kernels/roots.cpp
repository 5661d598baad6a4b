#include "kernels/roots.h"

#include <cmath>

#include "service/tqs_service.h"

TQS_LEVEL_BEGIN

namespace {

const long double kTwoPi = 6.283185307179586476925286766559005768L;

// Below this length the two tables would cost about as many library calls
// as the roots they replace. From 128 on they save: the chirp-z set-up of
// 97 points builds roots of 194 and 200 points in extended precision, 12
// library calls each in place of 49 and 26 (commit 35 -> 28 us).
constexpr int64_t kTablesFrom = 128;

// cos and sin of 2*pi*num4/(4n) for 0 <= num4 <= n/2, from the library; the
// angle is at most pi/4, so the argument reduction never loses digits.
void library_octant(int64_t num4, int64_t n, long double* c, long double* s) {
  long double a = kTwoPi * (long double)num4 / (4.0L * (long double)n);
  sincosl(a, s, c);
}

// cos and sin of 2*pi*k/n for 0 <= k < n from the octant values of g, or of
// the library without one, in T (double or long double).
template <class T>
void octant_cos_sin(const RootGenerator* g, int64_t k, int64_t n, T* c, T* s) {
  bool upper = 2 * k > n;  // angle above pi: sin negated, cos kept
  if (upper) k = n - k;
  bool second = 4 * k > n;  // angle in (pi/2, pi]: mirror on pi/2
  int64_t num4;             // angle = 2*pi*num4/(4n), num4 in [0, n]
  if (second) {
    num4 = 4 * k - n;  // angle - pi/2
  } else {
    num4 = 4 * k;
  }
  T cc, ss;
  const bool mirror = 2 * num4 > n;  // beyond pi/4: cos and sin of pi/2 - angle
  if (mirror) num4 = n - num4;
  if (g != nullptr) {
    g->octant(num4, mirror ? &ss : &cc, mirror ? &cc : &ss);
  } else {
    long double lc, ls;
    library_octant(num4, n, &lc, &ls);
    cc = (T)(mirror ? ls : lc);
    ss = (T)(mirror ? lc : ls);
  }
  if (second) {
    T t = cc;
    cc = -ss;
    ss = t;
  }
  if (upper) ss = -ss;
  *c = cc;
  *s = ss;
}

// Entry i of t (cos, sin) is the octant value of num4 = i * unit, i < count:
// the entries below about sqrt(count) and every such step from the library,
// the others as products of two of those (an error of a few 2^-64, and a
// sixth of the library calls, which cost 50-100 ns each).
void fill_octant_table(long double* t, int64_t count, int64_t unit, int64_t n) {
  int bits = 0;
  while ((int64_t(1) << (2 * bits)) < count) ++bits;
  const int64_t step = int64_t(1) << bits;
  for (int64_t i = 0; i < count; ++i) {
    if (i < step || (i & (step - 1)) == 0) library_octant(i * unit, n, t + 2 * i, t + 2 * i + 1);
  }
  for (int64_t i = step + 1; i < count; ++i) {
    const int64_t low = i & (step - 1);
    if (low == 0) continue;
    const long double* a = t + 2 * low;
    const long double* b = t + 2 * (i - low);
    t[2 * i] = b[0] * a[0] - b[1] * a[1];
    t[2 * i + 1] = b[1] * a[0] + b[0] * a[1];
  }
}

#if TQS_LEVEL >= 5
// x*y - u*v (sign -1) or x*y + u*v (sign +1) of double-double operands
// (high part, low part), rounded once to double.
inline double dd_products(const double* x, const double* y, const double* u, const double* v,
                          double sign) {
  const double p = x[0] * y[0], ep = __builtin_fma(x[0], y[0], -p);
  const double q = sign * (u[0] * v[0]), eq = sign * __builtin_fma(u[0], v[0], -(u[0] * v[0]));
  const double sum = p + q, bb = sum - p, err = (p - (sum - bb)) + (q - bb);
  const double cross = __builtin_fma(x[0], y[1], x[1] * y[0]) +
                       sign * __builtin_fma(u[0], v[1], u[1] * v[0]);
  return sum + (err + ep + eq + cross);
}
#endif

}  // namespace

RootGenerator::RootGenerator(int64_t n) : n_(n) {
  if (n < kTablesFrom) return;
  const int64_t top = n / 2;  // largest num4
  int shift = 0;
  while ((int64_t(1) << (2 * shift)) <= top) ++shift;
  const int64_t lo_count = int64_t(1) << shift, hi_count = (top >> shift) + 1;
  const int64_t entries = lo_count + hi_count;
  auto* t = static_cast<long double*>(tqs_mm_allocate(
      uint64_t(entries) * 2 * sizeof(long double) + uint64_t(entries) * 4 * sizeof(double), 64));
  if (t == nullptr) return;
  fill_octant_table(t, lo_count, 1, n);
  long double* h = t + 2 * lo_count;
  fill_octant_table(h, hi_count, lo_count, n);
  lo_ = t;
  hi_ = h;
  shift_ = shift;
  mask_ = lo_count - 1;
#if TQS_LEVEL >= 5
  double* d = reinterpret_cast<double*>(t + 2 * entries);
  for (int64_t i = 0; i < 2 * entries; ++i) {
    const double high = (double)t[i];
    d[2 * i] = high;
    d[2 * i + 1] = (double)(t[i] - (long double)high);
  }
  lo2_ = d;
  hi2_ = d + 4 * lo_count;
#endif
}

RootGenerator::~RootGenerator() { tqs_mm_free(lo_); }

void RootGenerator::octant(int64_t num4, long double* c, long double* s) const {
  if (lo_ == nullptr) {
    library_octant(num4, n_, c, s);
    return;
  }
  const long double* a = lo_ + 2 * (num4 & mask_);
  const long double* b = hi_ + 2 * (num4 >> shift_);
  *c = b[0] * a[0] - b[1] * a[1];
  *s = b[1] * a[0] + b[0] * a[1];
}

void RootGenerator::octant(int64_t num4, double* c, double* s) const {
#if TQS_LEVEL >= 5
  if (lo2_ != nullptr) {
    const double* a = lo2_ + 4 * (num4 & mask_);  // cos at a, sin at a + 2
    const double* b = hi2_ + 4 * (num4 >> shift_);
    *c = dd_products(b, a, b + 2, a + 2, -1.0);
    *s = dd_products(b + 2, a, b, a + 2, 1.0);
    return;
  }
#endif
  long double lc, ls;
  octant(num4, &lc, &ls);
  *c = (double)lc;
  *s = (double)ls;
}

void RootGenerator::cos_sin(int64_t k, double* c, double* s) const {
  k %= n_;
  if (k < 0) k += n_;
  octant_cos_sin(this, k, n_, c, s);
}

void quarter_sine_table(double* qs, int64_t n) {
  const int64_t q4 = n / 4;
  const RootGenerator g(n);
  for (int64_t j = 0; 2 * j <= q4; ++j) {
    double c, s;
    g.octant(4 * j, &c, &s);
    qs[j] = s;
    qs[q4 - j] = c;
  }
}

void root_cos_sin(int64_t k, int64_t n, double* c, double* s) {
  k %= n;
  if (k < 0) k += n;
  octant_cos_sin<double>(nullptr, k, n, c, s);
}

namespace {

// The table in T (double, or long double for tables computed further in
// extended precision).
template <class T>
void fill_root_table(T* w, int64_t n) {
  if (n <= 0) return;
  const RootGenerator g(n);
  // Only the first half is evaluated; the second half is its conjugate mirror.
  int64_t half = n / 2;
  if (n % 4 == 0) {
    int64_t q = n / 4;
    for (int64_t k = 0; k <= n / 8; ++k) {
      T c, s;
      g.octant(4 * k, &c, &s);
      w[2 * k] = (T)c;
      w[2 * k + 1] = -(T)s;
      w[2 * (q - k)] = (T)s;
      w[2 * (q - k) + 1] = -(T)c;
    }
    for (int64_t k = 1; k <= q; ++k) {  // angle pi/2 + theta
      w[2 * (q + k)] = -w[2 * (q - k)];
      w[2 * (q + k) + 1] = w[2 * (q - k) + 1];
    }
  } else if (n % 2 == 0) {
    for (int64_t k = 0; k <= n / 4; ++k) {
      T c, s;
      octant_cos_sin(&g, k, n, &c, &s);
      w[2 * k] = (T)c;
      w[2 * k + 1] = -(T)s;
    }
    for (int64_t k = n / 4 + 1; k <= half; ++k) {  // angle pi - theta
      w[2 * k] = -w[2 * (half - k)];
      w[2 * k + 1] = w[2 * (half - k) + 1];
    }
  } else {
    for (int64_t k = 0; k <= half; ++k) {
      T c, s;
      octant_cos_sin(&g, k, n, &c, &s);
      w[2 * k] = (T)c;
      w[2 * k + 1] = -(T)s;
    }
  }
  for (int64_t k = half + 1; k < n; ++k) {
    w[2 * k] = w[2 * (n - k)];
    w[2 * k + 1] = -w[2 * (n - k) + 1];
  }
}

}  // namespace

void root_table(double* w, int64_t n) { fill_root_table(w, n); }
void root_table_ext(long double* w, int64_t n) { fill_root_table(w, n); }

TQS_LEVEL_END
