#include "kernels/roots.h"

#include <cmath>

#include "service/tqs_service.h"

TQS_LEVEL_BEGIN

namespace {

const long double kTwoPi = 6.283185307179586476925286766559005768L;

// Below this length the two tables would cost about as many library calls
// as the roots they replace.
constexpr int64_t kTablesFrom = 256;

// cos and sin of 2*pi*num4/(4n) for 0 <= num4 <= n/2, from the library; the
// angle is at most pi/4, so the argument reduction never loses digits.
void library_octant(int64_t num4, int64_t n, long double* c, long double* s) {
  long double a = kTwoPi * (long double)num4 / (4.0L * (long double)n);
  sincosl(a, s, c);
}

// cos and sin of 2*pi*k/n for 0 <= k < n from the octant values of g, or of
// the library without one.
void octant_cos_sin(const RootGenerator* g, int64_t k, int64_t n, long double* c,
                    long double* s) {
  bool upper = 2 * k > n;  // angle above pi: sin negated, cos kept
  if (upper) k = n - k;
  bool second = 4 * k > n;  // angle in (pi/2, pi]: mirror on pi/2
  int64_t num4;             // angle = 2*pi*num4/(4n), num4 in [0, n]
  if (second) {
    num4 = 4 * k - n;  // angle - pi/2
  } else {
    num4 = 4 * k;
  }
  long double cc, ss;
  const bool mirror = 2 * num4 > n;  // beyond pi/4: cos and sin of pi/2 - angle
  if (mirror) num4 = n - num4;
  if (g != nullptr) {
    g->octant(num4, mirror ? &ss : &cc, mirror ? &cc : &ss);
  } else {
    library_octant(num4, n, mirror ? &ss : &cc, mirror ? &cc : &ss);
  }
  if (second) {
    long double t = cc;
    cc = -ss;
    ss = t;
  }
  if (upper) ss = -ss;
  *c = cc;
  *s = ss;
}

}  // namespace

RootGenerator::RootGenerator(int64_t n) : n_(n) {
  if (n < kTablesFrom) return;
  const int64_t top = n / 2;  // largest num4
  int shift = 0;
  while ((int64_t(1) << (2 * shift)) <= top) ++shift;
  const int64_t lo_count = int64_t(1) << shift, hi_count = (top >> shift) + 1;
  auto* t = static_cast<long double*>(
      tqs_mm_allocate(uint64_t(lo_count + hi_count) * 2 * sizeof(long double), 64));
  if (t == nullptr) return;
  for (int64_t i = 0; i < lo_count; ++i) library_octant(i, n, t + 2 * i, t + 2 * i + 1);
  long double* h = t + 2 * lo_count;
  for (int64_t j = 0; j < hi_count; ++j) library_octant(j << shift, n, h + 2 * j, h + 2 * j + 1);
  lo_ = t;
  hi_ = h;
  shift_ = shift;
  mask_ = lo_count - 1;
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

void RootGenerator::cos_sin(int64_t k, double* c, double* s) const {
  k %= n_;
  if (k < 0) k += n_;
  long double cc, ss;
  octant_cos_sin(this, k, n_, &cc, &ss);
  *c = (double)cc;
  *s = (double)ss;
}

void quarter_sine_table(double* qs, int64_t n) {
  const int64_t q4 = n / 4;
  const RootGenerator g(n);
  for (int64_t j = 0; 2 * j <= q4; ++j) {
    long double c, s;
    g.octant(4 * j, &c, &s);
    qs[j] = (double)s;
    qs[q4 - j] = (double)c;
  }
}

void root_cos_sin(int64_t k, int64_t n, double* c, double* s) {
  k %= n;
  if (k < 0) k += n;
  long double cc, ss;
  octant_cos_sin(nullptr, k, n, &cc, &ss);
  *c = (double)cc;
  *s = (double)ss;
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
      long double c, s;
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
      long double c, s;
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
      long double c, s;
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
