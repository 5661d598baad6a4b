// The comparison report grades both libraries against its own long-double
// transforms, so those must be right and clearly better than double: a slip
// in an octant formula or in the chirp convolution would show up as a
// precision problem of the libraries instead.
#include <fftw3.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "bench/report_reference.h"

namespace {

using report::cld;

// Plain O(n^2) sum with each twiddle computed from its own reduced angle.
std::vector<cld> direct(const std::vector<cld>& x, int sign) {
  const uint64_t n = x.size();
  const long double two_pi = 6.283185307179586476925286766559005768L;
  std::vector<cld> w(n);
  for (uint64_t j = 0; j < n; ++j) {
    long double a = two_pi * (long double)j / (long double)n;
    w[j] = cld(cosl(a), sign * sinl(a));
  }
  std::vector<cld> y(n);
  for (uint64_t k = 0; k < n; ++k) {
    cld acc = 0;
    for (uint64_t j = 0; j < n; ++j) acc += report::mul(x[j], w[(j * k) % n]);
    y[k] = acc;
  }
  return y;
}

std::vector<cld> random_input(uint64_t n, uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> u(-0.5, 0.5);
  std::vector<cld> x(n);
  for (auto& v : x) v = cld(u(gen), u(gen));
  return x;
}

long double rel_rms(const std::vector<cld>& y, const std::vector<cld>& ref) {
  long double num = 0, den = 0;
  for (size_t k = 0; k < ref.size(); ++k) {
    num += std::norm(y[k] - ref[k]);
    den += std::norm(ref[k]);
  }
  return sqrtl(num / den);
}

// Every path: powers of two, small factors (3, 5, 7), the largest direct
// factor, and lengths with a prime factor beyond it (chirp convolution).
TEST(ReportReference, MatchesDirectSumFarBelowDoublePrecision) {
  for (uint64_t n : {1, 2, 3, 6, 7, 12, 61, 64, 96, 97, 100, 134, 168, 1000, 2017}) {
    for (int sign : {-1, +1}) {
      auto x = random_input(n, n * 2 + (sign > 0));
      auto ref = direct(x, sign);
      auto y = x;
      report::Reference::complex_transform(y, sign);
      EXPECT_LT(rel_rms(y, ref), 1e-17L) << "n=" << n << " sign=" << sign;
    }
  }
}

TEST(ReportReference, TwiddlesExactInEveryOctant) {
  const long double two_pi = 6.283185307179586476925286766559005768L;
  for (uint64_t n : {8, 12, 97, 1000, 4194304}) {
    for (uint64_t j = 0; j < n; j += 1 + n / 97) {
      long double a = two_pi * (long double)j / (long double)n;
      cld w = report::unit_root(j, n);
      EXPECT_LT(fabsl(w.real() - cosl(a)), 1e-18L) << j << "/" << n;
      EXPECT_LT(fabsl(w.imag() + sinl(a)), 1e-18L) << j << "/" << n;
    }
  }
}

// The real forms use the half-spectrum conventions of the benchmark (n/2+1
// bins, imaginary parts of bin 0 and bin n/2 ignored); FFTW's r2c and c2r
// share them, so they must agree to double precision.
TEST(ReportReference, RealFormsAgreeWithFftw) {
  for (int n : {1, 2, 5, 16, 100, 97, 4096, 4099}) {
    const int h = n / 2 + 1;
    std::mt19937_64 gen(n);
    std::uniform_real_distribution<double> u(-0.5, 0.5);
    std::vector<double> x(n), xcopy;
    for (auto& v : x) v = u(gen);
    xcopy = x;
    std::vector<double> spectrum(2 * h);
    fftw_plan p = fftw_plan_dft_r2c_1d(n, xcopy.data(), (fftw_complex*)spectrum.data(), FFTW_ESTIMATE);
    fftw_execute(p);
    fftw_destroy_plan(p);
    auto ref = report::real_forward(x.data(), n);
    ASSERT_EQ(ref.size(), (size_t)h);
    std::vector<cld> got(h);
    for (int k = 0; k < h; ++k) got[k] = cld(spectrum[2 * k], spectrum[2 * k + 1]);
    EXPECT_LT(rel_rms(got, ref), 1e-15L) << "forward n=" << n;

    // Backward: disturb the imaginary parts that a real sequence cannot
    // have; both sides must ignore them.
    spectrum[1] = 0.25;
    if (n % 2 == 0) spectrum[2 * (h - 1) + 1] = -0.25;
    auto back = report::real_backward(spectrum.data(), n);
    std::vector<double> out(n);
    p = fftw_plan_dft_c2r_1d(n, (fftw_complex*)spectrum.data(), out.data(), FFTW_ESTIMATE);
    fftw_execute(p);
    fftw_destroy_plan(p);
    long double num = 0, den = 0;
    for (int k = 0; k < n; ++k) {
      num += (out[k] - back[k]) * (out[k] - back[k]);
      den += back[k] * back[k];
      EXPECT_NEAR((double)back[k], n * x[k], 1e-12 * n) << "round trip n=" << n << " k=" << k;
    }
    EXPECT_LT(sqrtl(num / den), 1e-15L) << "backward n=" << n;
  }
}

}  // namespace
