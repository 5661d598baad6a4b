// Split step of the real power-of-two plans: the n real inputs, viewed as
// n/2 complex values z_t = x_2t + i*x_2t+1, are transformed as complex, and
// bins k and n/2-k of that transform Z give the real spectrum
//   X_k = E_k + w_n^k * O_k,   X_(n/2-k) = conj(E_k - w_n^k * O_k)
// with E_k = (Z_k + conj Z_(n/2-k))/2 and O_k = -i (Z_k - conj Z_(n/2-k))/2.
// Both directions walk the bins from both ends towards the middle.
#include "kernels/pow2_plan.h"
#include "kernels/simd.h"

TQS_LEVEL_BEGIN

using namespace simd;

void pow2_split_forward(double* z, int log2n, const double* w, double scale) {
  const int64_t N = int64_t(1) << (log2n - 1);
  const double re = z[0], im = z[1];
  z[0] = (re + im) * scale;
  z[1] = (re - im) * scale;
  const double h = 0.5 * scale;
  int64_t k = 1;
#if TQS_AVX
  // Bins k, k+1 from the front with N-k, N-k-1 from the back (lane-reversed).
  for (; k + 1 < N - k - 1; k += 2) {
    const int64_t j = N - k - 1;
    C2 a = load2(z + 2 * k);
    C2 b = conj(reverse_lanes(load2(z + 2 * j)));
    C2 e = (a + b) * h;
    C2 o = mul_neg_i((a - b) * h);
    C2 t = cmul(o, load2(w + 2 * k));
    store2(z + 2 * k, e + t);
    store2(z + 2 * j, reverse_lanes(conj(e - t)));
  }
#endif
  for (; k <= N - k; ++k) {
    const int64_t j = N - k;
    C1 a = load1(z + 2 * k);
    C1 b = conj(load1(z + 2 * j));
    C1 e = (a + b) * h;
    C1 o = mul_neg_i((a - b) * h);
    C1 t = cmul_mem(o, w + 2 * k);
    store1(z + 2 * k, e + t);
    if (j != k) store1(z + 2 * j, conj(e - t));
  }
}

void pow2_split_backward(const double* in, double* z, int log2n, const double* w, double scale,
                         int64_t nyquist_at) {
  const int64_t N = int64_t(1) << (log2n - 1);
  const double x0 = in[0], xn = in[nyquist_at];
  z[0] = (x0 + xn) * scale;
  z[1] = (x0 - xn) * scale;
  int64_t k = 1;
#if TQS_AVX
  for (; k + 1 < N - k - 1; k += 2) {
    const int64_t j = N - k - 1;
    C2 a = load2(in + 2 * k);
    C2 b = conj(reverse_lanes(load2(in + 2 * j)));
    C2 e = (a + b) * scale;
    C2 d = (a - b) * scale;
    C2 p = mul_i(cmulj_fused(d, load2(w + 2 * k)));
    store2(z + 2 * k, e + p);
    store2(z + 2 * j, reverse_lanes(conj(e - p)));
  }
#endif
  for (; k <= N - k; ++k) {
    const int64_t j = N - k;
    C1 a = load1(in + 2 * k);
    C1 b = conj(load1(in + 2 * j));
    C1 e = (a + b) * scale;
    C1 d = (a - b) * scale;
    C1 p = mul_i(cmulj_mem(d, w + 2 * k));
    store1(z + 2 * k, e + p);
    if (j != k) store1(z + 2 * j, conj(e - p));
  }
}

TQS_LEVEL_END
