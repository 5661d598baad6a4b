// Power-of-two plans of the current processor level against a long-double
// reference transform: every length 2^0..2^22, complex and real, both
// directions, the four scaling modes, in and out of place, with and without
// a caller's work area.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "engine/level_api.h"
#include "service/tqs_service.h"

namespace {

typedef std::vector<long double> LVec;

// In-place iterative radix-2 transform in long double (interleaved pairs),
// sign -1 forward. Roots come straight from sinl/cosl.
void reference_fft(LVec& a, int L) {
  const int64_t n = int64_t(1) << L;
  for (int64_t i = 1, j = 0; i < n; ++i) {
    int64_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) {
      std::swap(a[2 * i], a[2 * j]);
      std::swap(a[2 * i + 1], a[2 * j + 1]);
    }
  }
  const long double two_pi = 6.283185307179586476925286766559005768L;
  LVec wr(n / 2 + 1), wi(n / 2 + 1);
  for (int64_t k = 0; k < n / 2; ++k) {
    wr[k] = cosl(two_pi * k / n);
    wi[k] = -sinl(two_pi * k / n);
  }
  for (int64_t len = 2; len <= n; len <<= 1) {
    const int64_t half = len / 2, step = n / len;
    for (int64_t s = 0; s < n; s += len)
      for (int64_t k = 0; k < half; ++k) {
        long double cr = wr[k * step], ci = wi[k * step];
        long double* p = &a[2 * (s + k)];
        long double* q = &a[2 * (s + k + half)];
        long double tr = q[0] * cr - q[1] * ci, ti = q[0] * ci + q[1] * cr;
        q[0] = p[0] - tr;
        q[1] = p[1] - ti;
        p[0] += tr;
        p[1] += ti;
      }
  }
}

// Relative RMS distance of got from want*factor.
double rel_rms(const double* got, const LVec& want, long double factor, int64_t count) {
  long double num = 0, den = 0;
  for (int64_t i = 0; i < count; ++i) {
    long double w = want[i] * factor, d = got[i] - w;
    num += d * d;
    den += w * w;
  }
  return den == 0 ? double(num) : double(sqrtl(num / den));
}

struct Case {
  int L;
  int64_t n;
  std::vector<double> x;   // complex input, 2n doubles
  LVec X;                  // its spectrum
  std::vector<double> xr;  // real input, n doubles (the real parts of x)
  LVec Xr;                 // its packed spectrum, n values
};

Case make_case(int L) {
  Case c;
  c.L = L;
  c.n = int64_t(1) << L;
  std::mt19937_64 rng(1234 + L);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  c.x.resize(2 * c.n);
  for (auto& v : c.x) v = dist(rng);
  c.X.assign(c.x.begin(), c.x.end());
  reference_fft(c.X, L);
  c.xr.resize(c.n);
  for (int64_t i = 0; i < c.n; ++i) c.xr[i] = c.x[2 * i];
  // Spectrum of the real parts: (X_k + conj X_(n-k)) / 2, packed.
  c.Xr.resize(c.n);
  auto re_part = [&](int64_t k, long double* out) {
    int64_t j = (c.n - k) & (c.n - 1);
    out[0] = (c.X[2 * k] + c.X[2 * j]) / 2;
    out[1] = (c.X[2 * k + 1] - c.X[2 * j + 1]) / 2;
  };
  long double t[2];
  re_part(0, t);
  c.Xr[0] = t[0];
  if (c.n > 1) {
    re_part(c.n / 2, t);
    c.Xr[1] = t[0];
  }
  for (int64_t k = 1; k < c.n / 2; ++k) {
    re_part(k, t);
    c.Xr[2 * k] = t[0];
    c.Xr[2 * k + 1] = t[1];
  }
  return c;
}

const tqs::Pow2Api& api() { return *tqs::level_apis[tqs_cpu_level()]->pow2; }

const int kModes[4] = {tqs::SCALE_FORWARD, tqs::SCALE_BACKWARD, tqs::SCALE_BOTH_SQRT,
                       tqs::SCALE_NONE};

long double forward_factor(int mode, int64_t n) {
  if (mode == tqs::SCALE_FORWARD) return 1.0L / n;
  if (mode == tqs::SCALE_BOTH_SQRT) return 1.0L / sqrtl((long double)n);
  return 1.0L;
}
long double backward_factor(int mode, int64_t n) {
  if (mode == tqs::SCALE_BACKWARD) return 1.0L / n;
  if (mode == tqs::SCALE_BOTH_SQRT) return 1.0L / sqrtl((long double)n);
  return 1.0L;
}

double bound(int L) { return 2.0 * std::ldexp(1.0, -52) * (1 + L); }

// Runs one execute routine in one placement; the output array is offset
// by one double when `odd` so that no 16-byte alignment can be assumed.
std::vector<double> run(tqs::Pow2Execute fn, const void* plan, const std::vector<double>& in,
                        bool in_place, bool with_work, bool odd) {
  int64_t ws = 0;
  EXPECT_EQ(api().work_size(plan, &ws), 0);
  std::vector<double> work(with_work ? ws / 8 + 1 : 0);
  const size_t off = odd ? 1 : 0;
  std::vector<double> a(in.size() + 1, 0.0), b(in.size() + 1, 0.0);
  std::memcpy(a.data() + off, in.data(), in.size() * 8);
  double* out = in_place ? a.data() + off : b.data() + off;
  EXPECT_EQ(fn(a.data() + off, out, plan, with_work ? work.data() : nullptr), 0);
  if (!in_place) {
    EXPECT_EQ(std::memcmp(a.data() + off, in.data(), in.size() * 8), 0) << "input modified";
  }
  return std::vector<double>(out, out + in.size());
}

void check_complex(const Case& c, int mode, int variant) {
  void* plan = nullptr;
  ASSERT_EQ(api().complex_create(&plan, c.L, mode, 0), 0);
  const bool in_place = variant & 1, with_work = variant & 2, odd = variant & 4;
  std::vector<double> y = run(api().complex_forward, plan, c.x, in_place, with_work, odd);
  EXPECT_LE(rel_rms(y.data(), c.X, forward_factor(mode, c.n), 2 * c.n), bound(c.L))
      << "forward n=" << c.n << " mode=" << mode << " variant=" << variant;
  // Backward of the exact spectrum returns n*x.
  std::vector<double> Xd(c.X.begin(), c.X.end());
  std::vector<double> z = run(api().complex_backward, plan, Xd, in_place, with_work, odd);
  LVec xl(c.x.begin(), c.x.end());
  EXPECT_LE(rel_rms(z.data(), xl, backward_factor(mode, c.n) * c.n, 2 * c.n), bound(c.L))
      << "backward n=" << c.n << " mode=" << mode << " variant=" << variant;
  // Round trip through our own forward.
  std::vector<double> r = run(api().complex_backward, plan, y, !in_place, !with_work, false);
  long double f = forward_factor(mode, c.n) * backward_factor(mode, c.n) * c.n;
  EXPECT_LE(rel_rms(r.data(), xl, f, 2 * c.n), 2 * bound(c.L)) << "round trip n=" << c.n;
  EXPECT_EQ(api().destroy(plan), 0);
}

void check_real(const Case& c, int mode, int variant) {
  void* plan = nullptr;
  ASSERT_EQ(api().real_create(&plan, c.L, mode, 0), 0);
  const bool in_place = variant & 1, with_work = variant & 2, odd = variant & 4;
  std::vector<double> y = run(api().real_forward, plan, c.xr, in_place, with_work, odd);
  EXPECT_LE(rel_rms(y.data(), c.Xr, forward_factor(mode, c.n), c.n), bound(c.L))
      << "real forward n=" << c.n << " mode=" << mode << " variant=" << variant;
  std::vector<double> Xd(c.Xr.begin(), c.Xr.end());
  std::vector<double> z = run(api().real_backward, plan, Xd, in_place, with_work, odd);
  LVec xl(c.xr.begin(), c.xr.end());
  EXPECT_LE(rel_rms(z.data(), xl, backward_factor(mode, c.n) * c.n, c.n), bound(c.L))
      << "real backward n=" << c.n << " mode=" << mode << " variant=" << variant;
  std::vector<double> r = run(api().real_backward, plan, y, !in_place, !with_work, false);
  long double f = forward_factor(mode, c.n) * backward_factor(mode, c.n) * c.n;
  EXPECT_LE(rel_rms(r.data(), xl, f, c.n), 2 * bound(c.L)) << "real round trip n=" << c.n;
  EXPECT_EQ(api().destroy(plan), 0);
}

class Pow2Length : public ::testing::TestWithParam<int> {};

TEST_P(Pow2Length, MatchesReferenceInEveryModeAndPlacement) {
  const int L = GetParam();
  Case c = make_case(L);
  // Up to 2^16 every combination; above, each mode once with a rotating
  // placement so that the large lengths stay quick.
  for (int mode_index = 0; mode_index < 4; ++mode_index) {
    const int mode = kModes[mode_index];
    if (L <= 16) {
      for (int variant = 0; variant < 8; ++variant) {
        check_complex(c, mode, variant);
        check_real(c, mode, variant);
      }
    } else {
      check_complex(c, mode, (mode_index + L) & 7);
      check_real(c, mode, (mode_index + L + 5) & 7);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllLengths, Pow2Length, ::testing::Range(0, 23),
                         [](const ::testing::TestParamInfo<int>& i) {
                           return "log2n_" + std::to_string(i.param);
                         });

TEST(Pow2Plan, RefusesBadExponentModeAndKind) {
  void* plan = reinterpret_cast<void*>(1);
  EXPECT_EQ(api().complex_create(&plan, 28, tqs::SCALE_NONE, 0), tqs::PLAN_BAD_EXPONENT);
  EXPECT_EQ(api().real_create(&plan, 28, tqs::SCALE_NONE, 0), tqs::PLAN_BAD_EXPONENT);
  EXPECT_EQ(api().complex_create(&plan, -1, tqs::SCALE_NONE, 0), tqs::PLAN_BAD_EXPONENT);
  EXPECT_EQ(api().complex_create(&plan, 8, 3, 0), tqs::PLAN_BAD_MODE);
  EXPECT_EQ(api().complex_create(&plan, 8, 0, 0), tqs::PLAN_BAD_MODE);

  ASSERT_EQ(api().complex_create(&plan, 8, tqs::SCALE_NONE, 0), 0);
  std::vector<double> a(512), b(512);
  EXPECT_EQ(api().real_forward(a.data(), b.data(), plan, nullptr), tqs::PLAN_WRONG_KIND);
  EXPECT_EQ(api().complex_forward(nullptr, b.data(), plan, nullptr), tqs::PLAN_NULL_POINTER);
  EXPECT_EQ(api().complex_backward(a.data(), nullptr, plan, nullptr), tqs::PLAN_NULL_POINTER);
  EXPECT_EQ(api().complex_forward(a.data(), b.data(), nullptr, nullptr), tqs::PLAN_NULL_POINTER);
  EXPECT_EQ(api().destroy(plan), 0);

  ASSERT_EQ(api().real_create(&plan, 8, tqs::SCALE_NONE, 0), 0);
  EXPECT_EQ(api().complex_backward(a.data(), b.data(), plan, nullptr), tqs::PLAN_WRONG_KIND);
  EXPECT_EQ(api().destroy(plan), 0);
  EXPECT_EQ(api().destroy(nullptr), tqs::PLAN_NULL_POINTER);
}

TEST(Pow2Plan, WorkSizeCoversTheVector) {
  for (int L = 0; L <= 20; ++L) {
    void* plan = nullptr;
    ASSERT_EQ(api().complex_create(&plan, L, tqs::SCALE_NONE, 0), 0);
    int64_t ws = -1;
    ASSERT_EQ(api().work_size(plan, &ws), 0);
    EXPECT_EQ(ws % 32, 0);
    if (L > 4) {
      EXPECT_GE(ws, 16 << L);
    }
    api().destroy(plan);
    ASSERT_EQ(api().real_create(&plan, L, tqs::SCALE_NONE, 0), 0);
    ASSERT_EQ(api().work_size(plan, &ws), 0);
    EXPECT_EQ(ws % 32, 0);
    if (L > 5) {
      EXPECT_GE(ws, 8 << L);
    }
    api().destroy(plan);
  }
}

// A single impulse at position 1 gives the roots of unity themselves: checks
// every twiddle the plan holds against sin/cos at a length where the
// 1024-point sine table is not used.
TEST(Pow2Plan, ImpulseGivesTheRootsOfUnity) {
  const int L = 13;
  const int64_t n = int64_t(1) << L;
  void* plan = nullptr;
  ASSERT_EQ(api().complex_create(&plan, L, tqs::SCALE_NONE, 0), 0);
  std::vector<double> x(2 * n, 0.0), y(2 * n);
  x[2] = 1.0;
  ASSERT_EQ(api().complex_forward(x.data(), y.data(), plan, nullptr), 0);
  double worst = 0;
  for (int64_t k = 0; k < n; ++k) {
    long double a = 6.283185307179586476925286766559005768L * k / n;
    worst = std::fmax(worst, std::fabs(y[2 * k] - double(cosl(a))));
    worst = std::fmax(worst, std::fabs(y[2 * k + 1] + double(sinl(a))));
  }
  EXPECT_LE(worst, 2.3e-16);
  api().destroy(plan);
}

}  // namespace
