// Power-of-two plans of the current processor level against a long-double
// reference transform: every length 2^0..2^22, complex and real, both
// directions, the four scaling modes, in and out of place, with and without
// a caller's work area.
#include <cpuid.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "engine/level_api.h"
#include "service/tqs_service.h"
#include "support/reference.h"

namespace {

typedef std::vector<long double> LVec;

// The long-double reference, forward, as interleaved parts.
LVec reference_fft(const std::vector<double>& x, int L) {
  const int64_t n = int64_t(1) << L;
  std::vector<tqs_test::cld> in(n), out(n);
  for (int64_t i = 0; i < n; ++i) in[i] = tqs_test::cld(x[2 * i], x[2 * i + 1]);
  tqs_test::reference_dft(in.data(), out.data(), n, -1);
  LVec X(2 * n);
  for (int64_t k = 0; k < n; ++k) {
    X[2 * k] = out[k].real();
    X[2 * k + 1] = out[k].imag();
  }
  return X;
}

// Relative RMS distance of got from want*factor.
template <class Vec>
double rel_rms(const double* got, const Vec& want, long double factor, int64_t count) {
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
  // The spectra rounded to double, as backward inputs.
  std::vector<double> Xd, Xrd;
};

Case make_case(int L) {
  Case c;
  c.L = L;
  c.n = int64_t(1) << L;
  std::mt19937_64 rng(1234 + L);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  c.x.resize(2 * c.n);
  for (auto& v : c.x) v = dist(rng);
  c.X = reference_fft(c.x, L);
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
  c.Xd.assign(c.X.begin(), c.X.end());
  c.Xrd.assign(c.Xr.begin(), c.Xr.end());
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

// Buffers reused across runs: the large lengths would otherwise spend their
// time faulting in fresh pages.
std::vector<double>& pool(int i) {
  static std::vector<double> buffers[4];
  return buffers[i];
}
double* room(int i, size_t count) {
  if (pool(i).size() < count) pool(i).resize(count);
  return pool(i).data();
}

// Runs one execute routine in one placement; the arrays are offset by one
// double when `odd` so that no 16-byte alignment can be assumed.
const double* run(tqs::Pow2Execute fn, const void* plan, const double* in, size_t count,
                  bool in_place, bool with_work, bool odd) {
  int64_t ws = 0;
  EXPECT_EQ(api().work_size(plan, &ws), 0);
  const size_t off = odd ? 1 : 0;
  double* a = room(0, count + 1) + off;
  double* b = room(1, count + 1) + off;
  double* work = with_work ? room(2, ws / 8 + 1) : nullptr;
  std::memcpy(a, in, count * 8);
  double* out = in_place ? a : b;
  EXPECT_EQ(fn(a, out, plan, work), 0);
  if (!in_place) {
    EXPECT_EQ(std::memcmp(a, in, count * 8), 0) << "input modified";
  }
  return out;
}

// Forward against the reference, backward of the exact spectrum against
// n*x, and backward of our own forward result (the round trip).
void check(const Case& c, bool real, int mode, int variant) {
  const tqs::Pow2Api& A = api();
  void* plan = nullptr;
  ASSERT_EQ((real ? A.real_create : A.complex_create)(&plan, c.L, mode, 0), 0);
  const bool in_place = variant & 1, with_work = variant & 2, odd = variant & 4;
  const int64_t count = real ? c.n : 2 * c.n;
  const double* x = real ? c.xr.data() : c.x.data();
  const LVec& X = real ? c.Xr : c.X;
  const std::vector<double>& xl = real ? c.xr : c.x;
  tqs::Pow2Execute fwd = real ? A.real_forward : A.complex_forward;
  tqs::Pow2Execute bwd = real ? A.real_backward : A.complex_backward;
  const char* what = real ? "real" : "complex";

  const double* y = run(fwd, plan, x, count, in_place, with_work, odd);
  EXPECT_LE(rel_rms(y, X, forward_factor(mode, c.n), count), bound(c.L))
      << what << " forward n=" << c.n << " mode=" << mode << " variant=" << variant;
  double* kept = room(3, count);
  std::memcpy(kept, y, count * 8);
  const double* z = run(bwd, plan, real ? c.Xrd.data() : c.Xd.data(), count, in_place, with_work,
                        odd);
  EXPECT_LE(rel_rms(z, xl, backward_factor(mode, c.n) * c.n, count), bound(c.L))
      << what << " backward n=" << c.n << " mode=" << mode << " variant=" << variant;
  const double* r = run(bwd, plan, kept, count, !in_place, !with_work, false);
  long double f = forward_factor(mode, c.n) * backward_factor(mode, c.n) * c.n;
  EXPECT_LE(rel_rms(r, xl, f, count), 2 * bound(c.L)) << what << " round trip n=" << c.n;
  EXPECT_EQ(A.destroy(plan), 0);
}

class Pow2Length : public ::testing::TestWithParam<int> {};

TEST_P(Pow2Length, MatchesReferenceInEveryModeAndPlacement) {
  const int L = GetParam();
  Case c = make_case(L);
  // Up to 2^16 every combination; above, a rotating placement per mode; from
  // 2^19 on the two modes with and without scaled leaves, from 2^21 one.
  for (int mode_index = 0; mode_index < 4; ++mode_index) {
    const int mode = kModes[mode_index];
    if (L <= 16) {
      for (int variant = 0; variant < 8; ++variant) {
        check(c, false, mode, variant);
        check(c, true, mode, variant);
      }
    } else if (L <= 18 || (L <= 20 && mode_index >= 2) || mode_index == 2 + (L & 1)) {
      check(c, false, mode, (mode_index + L) & 7);
      check(c, true, mode, (mode_index + L + 5) & 7);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllLengths, Pow2Length, ::testing::Range(0, 23),
                         [](const ::testing::TestParamInfo<int>& i) {
                           return "log2n_" + std::to_string(i.param);
                         });

// The chains of 2^8 and of the middle lengths (and the real plans over
// them) follow the first-level data cache the processor reports: a
// simulated processor that is this one but for that report makes each
// machine run both kinds.
uint32_t reported_l1_kb = 0;
void cpu_with_reported_l1(uint32_t leaf, uint32_t subleaf, uint32_t* a, uint32_t* b, uint32_t* c,
                          uint32_t* d) {
  if (leaf != 4) {
    __cpuid_count(leaf, subleaf, *a, *b, *c, *d);
    return;
  }
  *a = *b = *c = *d = 0;
  if (subleaf != 0) return;
  // One data cache: 64 sets of 64-byte lines, reported_l1_kb / 4 ways.
  *a = 1 | (1u << 5);
  *b = ((reported_l1_kb / 4 - 1) << 22) | 63;
  *c = 63;
}

// Puts the real processor back however the test ends.
struct RealCpuAfter {
  ~RealCpuAfter() {
    tqs_set_cpuid_hooks(nullptr, nullptr);
    tqs_reset_cpu_state();
  }
};

TEST(Pow2Plan, BothLeafChainsOfTheMiddleLengths) {
  const RealCpuAfter restore;
  const int level = tqs_cpu_level();
  for (uint32_t kb : {32u, 48u}) {
    reported_l1_kb = kb;
    tqs_set_cpuid_hooks(cpu_with_reported_l1, nullptr);
    tqs_reset_cpu_state();
    ASSERT_EQ(tqs_cache_size(1), int(kb * 1024));
    ASSERT_EQ(tqs_cpu_level(), level);
    for (int L : {8, 9, 12, 13, 14, 15, 16}) {
      Case c = make_case(L);
      check(c, false, tqs::SCALE_BACKWARD, L & 7);
      check(c, true, tqs::SCALE_NONE, (L + 3) & 7);
    }
  }
}

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
  for (int L = 0; L <= 17; ++L) {
    void* plan = nullptr;
    ASSERT_EQ(api().complex_create(&plan, L, tqs::SCALE_NONE, 0), 0);
    int64_t ws = -1;
    ASSERT_EQ(api().work_size(plan, &ws), 0);
    EXPECT_EQ(ws % 32, 0);
    if (L > 6) {
      EXPECT_GE(ws, 16 << L);
    }
    api().destroy(plan);
    ASSERT_EQ(api().real_create(&plan, L, tqs::SCALE_NONE, 0), 0);
    ASSERT_EQ(api().work_size(plan, &ws), 0);
    EXPECT_EQ(ws % 32, 0);
    if (L > 7) {
      EXPECT_GE(ws, 8 << L);
    }
    api().destroy(plan);
  }
}

// A single impulse at position 1 gives the roots of unity themselves: checks
// every twiddle against sin/cos, at a length past the 1024-point sine table
// and at one whose closing pass multiplies two twiddle tables.
TEST(Pow2Plan, ImpulseGivesTheRootsOfUnity) {
  for (int L : {13, 19}) {
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
    EXPECT_LE(worst, L < 18 ? 2.3e-16 : 4.5e-16) << "n=" << n;
    api().destroy(plan);
  }
}

}  // namespace
