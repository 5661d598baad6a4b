#include "kernels/real_split.h"

#include "engine/plan_types.h"
#include "kernels/roots.h"
#include "kernels/simd.h"

TQS_LEVEL_BEGIN

// Table layout: bins k = 1..n/4 in groups of two, eight doubles per group
//   (t_k, t_k, t_k+1, t_k+1, u_k, -u_k, u_k+1, -u_k+1)
// so that one column pair or one 256-bit vector of two bins reads its
// coefficients with plain loads. With theta = 2*pi*k/n the forward step uses
// t = (1 - sin theta)/2, u = cos(theta)/2; the backward step t = 1 - sin theta,
// u = -cos theta (its factor 2 makes the round trip come out at n*x).

int64_t real_split_table_doubles(int64_t n) {
  int64_t bins = n / 4;
  return 8 * ((bins + 1) / 2) + 8;
}

namespace {

void fill_table(double* table, int64_t n, double t_scale, double u_scale) {
  int64_t bins = n / 4;
  // Every group of two bins is written below; only a last group with one
  // bin and the padding behind it are left to clear.
  for (int64_t i = 8 * (bins / 2); i < real_split_table_doubles(n); ++i) table[i] = 0.0;
  const RootGenerator roots(n);
  for (int64_t k = 1; k <= bins; ++k) {
    double c, s;
    roots.cos_sin(k, &c, &s);
    // 1 - sin(theta) as cos^2/(1 + sin): no cancellation near theta = pi/2.
    double one_minus_sin = c * c / (1.0 + s);
    int64_t g = (k - 1) / 2, lane = (k - 1) & 1;
    double* p = table + 8 * g + 2 * lane;
    p[0] = p[1] = t_scale * one_minus_sin;
    p[4] = u_scale * c;
    p[5] = -u_scale * c;
  }
}

using namespace simd;

// One pair of bins k, h-k (possibly k = h-k): with A = Z_k, B = conj(Z_h-k),
// D = (A - B) * (t - i u), the results are X_k = base*B + D and
// X_h-k = conj(base*A - D).
inline void pair1(double* lo_out, double* hi_out, C1 a, C1 b_raw, const double* t, double base) {
  C1 b = conj(b_raw);
  C1 diff = a - b;
  C1 d = mul_pair(diff, t[0], t[1]) + mul_pair(swap(diff), t[4], t[5]);
  C1 x_lo = b * base + d;
  C1 x_hi = conj(a * base - d);
  store1(lo_out, x_lo);
  store1(hi_out, x_hi);
}

template <bool kBackward>
void split_step(const double* in, double* out, int64_t n, const double* table) {
  const double base = kBackward ? 2.0 : 1.0;
  int64_t h = n / 2;
  double r0 = in[0], r1 = in[1];
  out[0] = r0 + r1;
  out[1] = r0 - r1;
  int64_t k = 1;
#if TQS_LEVEL >= 4
  // Two bins from each end per step: k, k+1 and h-k, h-k-1.
  for (; 2 * k + 2 < h; k += 2) {
    const double* t = table + 8 * ((k - 1) / 2);
    C2 a = load2(in + 2 * k);
    C2 bb = load2(in + 2 * (h - k - 1));  // (Z_h-k-1, Z_h-k)
    C2 b = conj(swap_lanes(bb));
    C2 diff = a - b;
    C2 tt = load2(t), uu = load2(t + 4);
    C2 d = mul_lanes(diff, tt) + mul_lanes(swap(diff), uu);
    C2 x_lo = b * base + d;
    C2 x_hi = conj(a * base - d);  // (X_h-k, X_h-k-1)
    store2(out + 2 * k, x_lo);
    store2(out + 2 * (h - k - 1), swap_lanes(x_hi));
  }
#endif
  for (; 2 * k <= h; ++k) {
    const double* t = table + 8 * ((k - 1) / 2) + 2 * ((k - 1) & 1);
    C1 a = load1(in + 2 * k);
    C1 b = load1(in + 2 * (h - k));
    pair1(out + 2 * k, out + 2 * (h - k), a, b, t, base);
  }
}

}  // namespace

void real_split_forward_table(double* table, int64_t n) { fill_table(table, n, 0.5, 0.5); }

void real_split_backward_table(double* table, int64_t n) { fill_table(table, n, 1.0, -1.0); }

int real_split_forward(double* data, int64_t n, const double* forward_table) {
  if (data == nullptr || forward_table == nullptr) return PLAN_NULL_POINTER;
  if (n < 2 || (n & 1)) return PLAN_BAD_LENGTH;
  split_step<false>(data, data, n, forward_table);
  return PLAN_OK;
}

int real_split_backward(const double* in, double* out, int64_t n, const double* backward_table) {
  if (in == nullptr || out == nullptr || backward_table == nullptr) return PLAN_NULL_POINTER;
  if (n < 2 || (n & 1)) return PLAN_BAD_LENGTH;
  split_step<true>(in, out, n, backward_table);
  return PLAN_OK;
}

TQS_LEVEL_END
