#include "kernels/direct.h"

#include "kernels/radix.h"
#include "kernels/roots.h"
#include "service/tqs_service.h"

TQS_LEVEL_BEGIN

using namespace simd;
using namespace radix;

double* direct_table_create(int64_t n) {
  double* t = (double*)tqs_mm_allocate((uint64_t)(2 * n) * sizeof(double), 64);
  if (t == nullptr) return nullptr;
  for (int64_t e = 0; e < n; ++e) root_cos_sin(e, n, t + e, t + n + e);
  return t;
}

void direct_complex(const double* table, int64_t n, const double* in, double* out, bool forward) {
  C1 x[kMaxGeneric];
  for (int64_t j = 0; j < n; ++j) x[j] = load1(in + 2 * j);
  if (forward) {
    bfly_odd_rt<true>(x, (int)n, table);
  } else {
    bfly_odd_rt<false>(x, (int)n, table);
  }
  for (int64_t j = 0; j < n; ++j) store1(out + 2 * j, x[j]);
}

void direct_real_forward(const double* table, int64_t n, const double* in, double* out) {
  const int64_t h = (n - 1) / 2;
  const double* sn = table + n;
  double s[kMaxGeneric / 2 + 1], d[kMaxGeneric / 2 + 1];
  double x0 = in[0], sum = in[0];
  for (int64_t j = 1; j <= h; ++j) {
    s[j] = in[j] + in[n - j];
    d[j] = in[j] - in[n - j];
    sum += s[j];
  }
  out[0] = sum;
  for (int64_t k = 1; k <= h; ++k) {
    double re = x0, im = 0.0;
    int64_t e = 0;
    for (int64_t j = 1; j <= h; ++j) {
      e += k;
      if (e >= n) e -= n;
      re += s[j] * table[e];
      im -= d[j] * sn[e];
    }
    out[2 * k - 1] = re;
    out[2 * k] = im;
  }
}

void direct_real_backward(const double* table, int64_t n, const double* in, double* out) {
  const int64_t h = (n - 1) / 2;
  const double* sn = table + n;
  double re[kMaxGeneric / 2 + 1], im[kMaxGeneric / 2 + 1];
  double r0 = in[0], sum = in[0];
  for (int64_t k = 1; k <= h; ++k) {
    re[k] = 2.0 * in[2 * k - 1];
    im[k] = 2.0 * in[2 * k];
    sum += re[k];
  }
  out[0] = sum;
  for (int64_t j = 1; j <= h; ++j) {
    double p = r0, q = 0.0;
    int64_t e = 0;
    for (int64_t k = 1; k <= h; ++k) {
      e += j;
      if (e >= n) e -= n;
      p += re[k] * table[e];
      q -= im[k] * sn[e];
    }
    out[j] = p + q;
    out[n - j] = p - q;
  }
}

TQS_LEVEL_END
