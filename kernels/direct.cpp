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

// The odd real kernels: each output is one running sum over the inputs,
// in input order. A single chain waits out the add latency at every step,
// so four outputs advance together, each sum in its old order (real 97 at
// level 0: 3.0 -> 1.4 us; real 89 at level 5: 2.5 -> 1.1 us).
namespace {

// Cosine (re) and sine (im) sums of the outputs k0 .. k0+3 over
// j = 1 .. h: re_k = r0 + sum a_j cos(2 pi j k / n),
// im_k = -sum b_j sin(2 pi j k / n). Two outputs share a register and
// multiply-add through the vector layer (fused at level 5), so how a sum
// rounds does not depend on what the compiler makes of the loop.
struct Sums4 {
  double re[4], im[4];
};

inline Sums4 sums4(const double* table, int64_t n, int64_t h, const double* a, const double* b,
                   double r0, int64_t k0) {
  const double* sn = table + n;
  C1 r01 = set1(r0, r0), r23 = r01, i01 = zero1(), i23 = zero1();
  int64_t e0 = 0, e1 = 0, e2 = 0, e3 = 0;
  for (int64_t j = 1; j <= h; ++j) {
    e0 += k0;
    e1 += k0 + 1;
    e2 += k0 + 2;
    e3 += k0 + 3;
    if (e0 >= n) e0 -= n;
    if (e1 >= n) e1 -= n;
    if (e2 >= n) e2 -= n;
    if (e3 >= n) e3 -= n;
    r01 = fmadd(set1(table[e0], table[e1]), a[j], r01);
    r23 = fmadd(set1(table[e2], table[e3]), a[j], r23);
    i01 = fmadd(set1(sn[e0], sn[e1]), -b[j], i01);
    i23 = fmadd(set1(sn[e2], sn[e3]), -b[j], i23);
  }
  Sums4 out;
  store1(out.re, r01);
  store1(out.re + 2, r23);
  store1(out.im, i01);
  store1(out.im + 2, i23);
  return out;
}

// The same for one output k.
inline void sums1(const double* table, int64_t n, int64_t h, const double* a, const double* b,
                  double r0, int64_t k, double* re, double* im) {
  const double* sn = table + n;
  double r = r0, q = 0.0;
  int64_t e = 0;
  for (int64_t j = 1; j <= h; ++j) {
    e += k;
    if (e >= n) e -= n;
    r += a[j] * table[e];
    q -= b[j] * sn[e];
  }
  *re = r;
  *im = q;
}

}  // namespace

void direct_real_forward(const double* table, int64_t n, const double* in, double* out) {
  const int64_t h = (n - 1) / 2;
  double s[kMaxGeneric / 2 + 1], d[kMaxGeneric / 2 + 1];
  double x0 = in[0], sum = in[0];
  for (int64_t j = 1; j <= h; ++j) {
    s[j] = in[j] + in[n - j];
    d[j] = in[j] - in[n - j];
    sum += s[j];
  }
  out[0] = sum;
  int64_t k = 1;
  for (; k + 3 <= h; k += 4) {
    const Sums4 r = sums4(table, n, h, s, d, x0, k);
    for (int u = 0; u < 4; ++u) {
      out[2 * (k + u) - 1] = r.re[u];
      out[2 * (k + u)] = r.im[u];
    }
  }
  for (; k <= h; ++k) sums1(table, n, h, s, d, x0, k, &out[2 * k - 1], &out[2 * k]);
}

void direct_real_backward(const double* table, int64_t n, const double* in, double* out) {
  const int64_t h = (n - 1) / 2;
  double re[kMaxGeneric / 2 + 1], im[kMaxGeneric / 2 + 1];
  double r0 = in[0], sum = in[0];
  for (int64_t k = 1; k <= h; ++k) {
    re[k] = 2.0 * in[2 * k - 1];
    im[k] = 2.0 * in[2 * k];
    sum += re[k];
  }
  out[0] = sum;
  int64_t j = 1;
  for (; j + 3 <= h; j += 4) {
    const Sums4 r = sums4(table, n, h, re, im, r0, j);
    for (int u = 0; u < 4; ++u) {
      out[j + u] = r.re[u] + r.im[u];
      out[n - j - u] = r.re[u] - r.im[u];
    }
  }
  for (; j <= h; ++j) {
    double p, q;
    sums1(table, n, h, re, im, r0, j, &p, &q);
    out[j] = p + q;
    out[n - j] = p - q;
  }
}

TQS_LEVEL_END
