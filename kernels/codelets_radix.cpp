// Entry to the inline radix butterflies for code outside the level.
#include "kernels/codelets.h"
#include "kernels/generated/butterflies.h"

TQS_LEVEL_BEGIN
namespace {

template <class V, class Load, class Store>
int run(int radix, int backward, double* data, int step, Load load, Store store) {
  V x[kMaxButterflyRadix];
  for (int j = 0; j < radix; ++j) x[j] = load(data + j * step);
  switch (radix * 2 + (backward ? 1 : 0)) {
#define TQS_RADIX(r)                  \
  case 2 * r:                         \
    butterfly##r##_forward<V>(x);     \
    break;                            \
  case 2 * r + 1:                     \
    butterfly##r##_backward<V>(x);    \
    break;
    TQS_BUTTERFLY_RADICES(TQS_RADIX)
#undef TQS_RADIX
    default:
      return -1;
  }
  for (int j = 0; j < radix; ++j) store(data + j * step, x[j]);
  return 0;
}

template <class V, class Load, class Store>
int run_real(int radix, int backward, double* data, int step, Load load, Store store) {
  V x[13];
  for (int j = 0; j < radix; ++j) x[j] = load(data + j * step);
  switch (radix * 2 + (backward ? 1 : 0)) {
#define TQS_RADIX(r)                       \
  case 2 * r:                              \
    real_butterfly##r##_forward<V>(x);     \
    break;                                 \
  case 2 * r + 1:                          \
    real_butterfly##r##_backward<V>(x);    \
    break;
    TQS_RADIX(3)
    TQS_RADIX(5)
    TQS_RADIX(7)
    TQS_RADIX(11)
    TQS_RADIX(13)
#undef TQS_RADIX
    default:
      return -1;
  }
  for (int j = 0; j < radix; ++j) store(data + j * step, x[j]);
  return 0;
}

double load_d(const double* p) { return *p; }
void store_d(double* p, double v) { *p = v; }
simd::C1 load_c1(const double* p) { return simd::load1(p); }
void store_c1(double* p, simd::C1 v) { simd::store1(p, v); }
#if TQS_LEVEL >= 4
simd::C2 load_c2(const double* p) { return simd::load2(p); }
void store_c2(double* p, simd::C2 v) { simd::store2(p, v); }
#endif

}  // namespace

int radix_butterfly(int radix, int backward, int lanes, double* data) {
  if (radix < 2 || radix > kMaxButterflyRadix || data == nullptr) return -1;
  if (lanes == 1) return run<simd::C1>(radix, backward, data, 2, load_c1, store_c1);
#if TQS_LEVEL >= 4
  if (lanes == 2) return run<simd::C2>(radix, backward, data, 4, load_c2, store_c2);
#endif
  return -1;
}

int real_radix_butterfly(int radix, int backward, int lanes, double* data) {
  if (radix < 2 || radix > 13 || data == nullptr) return -1;
  if (lanes == 1) return run_real<double>(radix, backward, data, 1, load_d, store_d);
  if (lanes == 2) return run_real<simd::C1>(radix, backward, data, 2, load_c1, store_c1);
#if TQS_LEVEL >= 4
  if (lanes == 4) return run_real<simd::C2>(radix, backward, data, 4, load_c2, store_c2);
#endif
  return -1;
}

TQS_LEVEL_END
