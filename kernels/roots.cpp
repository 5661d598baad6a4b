#include "kernels/roots.h"

#include <cmath>

TQS_LEVEL_BEGIN

namespace {

const long double kTwoPi = 6.283185307179586476925286766559005768L;

// cos and sin of 2*pi*k/n for 0 <= k < n, evaluated on an angle of at most
// pi/4 so that the argument reduction of the library never loses digits.
void octant_cos_sin(int64_t k, int64_t n, long double* c, long double* s) {
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
  if (2 * num4 <= n) {
    long double a = kTwoPi * (long double)num4 / (4.0L * (long double)n);
    sincosl(a, &ss, &cc);
  } else {
    long double a = kTwoPi * (long double)(n - num4) / (4.0L * (long double)n);
    sincosl(a, &cc, &ss);
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

void root_cos_sin(int64_t k, int64_t n, double* c, double* s) {
  k %= n;
  if (k < 0) k += n;
  long double cc, ss;
  octant_cos_sin(k, n, &cc, &ss);
  *c = (double)cc;
  *s = (double)ss;
}

void root_table(double* w, int64_t n) {
  if (n <= 0) return;
  // Only the first half is evaluated; the second half is its conjugate mirror.
  int64_t half = n / 2;
  if (n % 4 == 0) {
    int64_t q = n / 4;
    for (int64_t k = 0; k <= n / 8; ++k) {
      long double c, s;
      octant_cos_sin(k, n, &c, &s);
      w[2 * k] = (double)c;
      w[2 * k + 1] = -(double)s;
      w[2 * (q - k)] = (double)s;
      w[2 * (q - k) + 1] = -(double)c;
    }
    for (int64_t k = 1; k <= q; ++k) {  // angle pi/2 + theta
      w[2 * (q + k)] = -w[2 * (q - k)];
      w[2 * (q + k) + 1] = w[2 * (q - k) + 1];
    }
  } else if (n % 2 == 0) {
    for (int64_t k = 0; k <= n / 4; ++k) {
      long double c, s;
      octant_cos_sin(k, n, &c, &s);
      w[2 * k] = (double)c;
      w[2 * k + 1] = -(double)s;
    }
    for (int64_t k = n / 4 + 1; k <= half; ++k) {  // angle pi - theta
      w[2 * k] = -w[2 * (half - k)];
      w[2 * k + 1] = w[2 * (half - k) + 1];
    }
  } else {
    for (int64_t k = 0; k <= half; ++k) {
      long double c, s;
      octant_cos_sin(k, n, &c, &s);
      w[2 * k] = (double)c;
      w[2 * k + 1] = -(double)s;
    }
  }
  for (int64_t k = half + 1; k < n; ++k) {
    w[2 * k] = w[2 * (n - k)];
    w[2 * k + 1] = -w[2 * (n - k) + 1];
  }
}

TQS_LEVEL_END
