// The generated straight-line kernels of the running processor level against
// a long-double O(n^2) transform: every table slot, aligned and unaligned,
// in place and out of place, scaled and unscaled; and the radix butterflies
// on each vector width the level has.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/level_api.h"
#include "service/tqs_service.h"

namespace {

using tqs::CplxKernel;
using tqs::CplxKernelScaled;
using tqs::SplitKernel;
using tqs::SplitKernelScaled;

const tqs::LevelApi& api() { return *tqs::level_apis[tqs_cpu_level()]; }
const tqs::CodeletTables& tables() { return *api().codelets; }

std::vector<double> random_vector(size_t count, unsigned seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> dist(-1.0, 1.0);
  std::vector<double> v(count);
  for (double& d : v) d = dist(gen);
  return v;
}

// Interleaved complex DFT in long double; sign -1 forward, +1 backward.
std::vector<long double> reference_dft(const std::vector<double>& x, int n, int sign) {
  const long double two_pi = 6.283185307179586476925286766559005768L;
  std::vector<long double> y(2 * n, 0.0L);
  for (int k = 0; k < n; ++k) {
    for (int j = 0; j < n; ++j) {
      long double a = two_pi * static_cast<long double>((int64_t)j * k % n) / n;
      long double c = cosl(a), s = sign * sinl(a);
      y[2 * k] += x[2 * j] * c - x[2 * j + 1] * s;
      y[2 * k + 1] += x[2 * j] * s + x[2 * j + 1] * c;
    }
  }
  return y;
}

// Permuted packed order of the spectrum of a real sequence.
std::vector<long double> pack(const std::vector<long double>& spectrum, int n) {
  std::vector<long double> p(n);
  p[0] = spectrum[0];
  int first = 1;
  if (n % 2 == 0) {
    if (n > 1) p[1] = spectrum[n];
    first = 2;
  }
  for (int k = 1; k <= (n - 1) / 2; ++k) {
    p[first + 2 * (k - 1)] = spectrum[2 * k];
    p[first + 2 * (k - 1) + 1] = spectrum[2 * k + 1];
  }
  return p;
}

// The Hermitian spectrum a packed array stands for, as interleaved complex.
std::vector<double> unpack(const std::vector<double>& p, int n) {
  std::vector<double> s(2 * n, 0.0);
  s[0] = p[0];
  int first = 1;
  if (n % 2 == 0) {
    if (n > 1) s[n] = p[1];
    first = 2;
  }
  for (int k = 1; k <= (n - 1) / 2; ++k) {
    double re = p[first + 2 * (k - 1)], im = p[first + 2 * (k - 1) + 1];
    s[2 * k] = re;
    s[2 * k + 1] = im;
    s[2 * (n - k)] = re;
    s[2 * (n - k) + 1] = -im;
  }
  return s;
}

double tolerance(int n) { return 2.0 * std::ldexp(1.0, -52) * (1.0 + std::log2(double(n))); }

double rel_rms(const double* got, const std::vector<long double>& want, double factor) {
  long double err = 0, norm = 0;
  for (size_t i = 0; i < want.size(); ++i) {
    long double w = want[i] * factor;
    err += (got[i] - w) * (got[i] - w);
    norm += w * w;
  }
  return norm == 0 ? double(std::sqrt(err)) : double(std::sqrt(err / norm));
}

// Kernel buffers from the memory manager, at a 16-byte boundary or 8 bytes
// past one (the complex kernels have separate aligned and unaligned paths).
struct Buffer {
  double* base;
  double* p;
  Buffer(size_t count, bool misalign) {
    base = static_cast<double*>(tqs_mm_allocate((count + 2) * sizeof(double), 64));
    p = base + (misalign ? 1 : 0);
  }
  ~Buffer() { tqs_mm_free(base); }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
};

bool same_bits(const double* a, const double* b, size_t count) {
  return std::memcmp(a, b, count * sizeof(double)) == 0;
}

const double kScale = 0.3125 + 1e-3;

// One interleaved-complex kernel pair (unscaled, scaled) of length n.
void check_complex(const std::string& what, int n, int sign, CplxKernel plain,
                   CplxKernelScaled scaled) {
  SCOPED_TRACE(what + " n=" + std::to_string(n));
  ASSERT_NE(plain, nullptr);
  ASSERT_NE(scaled, nullptr);
  const size_t count = 2 * size_t(n);
  std::vector<double> x = random_vector(count, 1000 + n);
  std::vector<long double> want = reference_dft(x, n, sign);
  for (int mis = 0; mis < 2; ++mis) {
    Buffer in(count, mis == 1), out(count, mis == 1), inplace(count, mis == 1);
    std::memcpy(in.p, x.data(), count * sizeof(double));
    plain(in.p, out.p);
    EXPECT_TRUE(same_bits(in.p, x.data(), count)) << "input written";
    EXPECT_LE(rel_rms(out.p, want, 1.0), tolerance(n));
    std::memcpy(inplace.p, x.data(), count * sizeof(double));
    plain(inplace.p, inplace.p);
    EXPECT_TRUE(same_bits(inplace.p, out.p, count)) << "in place differs";

    std::vector<double> unscaled(out.p, out.p + count);
    scaled(in.p, out.p, kScale);
    EXPECT_LE(rel_rms(out.p, want, kScale), tolerance(n));
    std::memcpy(inplace.p, x.data(), count * sizeof(double));
    scaled(inplace.p, inplace.p, kScale);
    EXPECT_TRUE(same_bits(inplace.p, out.p, count)) << "scaled in place differs";
    scaled(in.p, out.p, 1.0);
    EXPECT_TRUE(same_bits(out.p, unscaled.data(), count)) << "scale 1.0 differs";
  }
}

TEST(Codelets, ComplexTables) {
  const auto& t = tables();
  for (int n = 1; n <= 16; ++n) {
    check_complex("forward", n, -1, t.complex_forward[n], t.complex_forward_scaled[n]);
    check_complex("backward", n, +1, t.complex_backward[n], t.complex_backward_scaled[n]);
  }
}

TEST(Codelets, PowerOfTwoComplexTables) {
  const auto& a = api();
  for (int lg = 0; lg <= 6; ++lg) {
    const int n = 1 << lg;
    check_complex("pow2 forward", n, -1, a.pow2_complex_forward[lg],
                  a.pow2_complex_forward_scaled[lg]);
    check_complex("pow2 backward", n, +1, a.pow2_complex_backward[lg],
                  a.pow2_complex_backward_scaled[lg]);
    if (n <= 16) {
      EXPECT_EQ(a.pow2_complex_forward[lg], tables().complex_forward[n]);
      EXPECT_EQ(a.pow2_complex_backward_scaled[lg], tables().complex_backward_scaled[n]);
    }
  }
}

TEST(Codelets, SharedEntries) {
  const auto& t = tables();
  for (int n = 1; n <= 2; ++n) {
    EXPECT_EQ(t.complex_forward[n], t.complex_backward[n]);
    EXPECT_EQ(t.complex_forward_scaled[n], t.complex_backward_scaled[n]);
    EXPECT_EQ(t.split_forward[n], t.split_backward[n]);
    EXPECT_EQ(t.real_forward[n], t.real_backward[n]);
    EXPECT_EQ(t.real_forward_scaled[n], t.real_backward_scaled[n]);
  }
  for (int n = 3; n <= 16; ++n) EXPECT_NE(t.complex_forward[n], t.complex_backward[n]);
  // Length 1 is a copy, also in place.
  double v[2] = {0.25, -7.5}, w[2] = {0, 0};
  t.complex_forward[1](v, w);
  EXPECT_EQ(w[0], 0.25);
  EXPECT_EQ(w[1], -7.5);
  t.complex_backward_scaled[1](v, v, 2.0);
  EXPECT_EQ(v[0], 0.5);
  EXPECT_EQ(v[1], -15.0);
}

void check_split(const std::string& what, int n, int sign, SplitKernel plain,
                 SplitKernelScaled scaled) {
  SCOPED_TRACE(what + " n=" + std::to_string(n));
  ASSERT_NE(plain, nullptr);
  ASSERT_NE(scaled, nullptr);
  std::vector<double> x = random_vector(2 * n, 2000 + n);
  std::vector<long double> want = reference_dft(x, n, sign);
  std::vector<double> re(n), im(n);
  for (int j = 0; j < n; ++j) {
    re[j] = x[2 * j];
    im[j] = x[2 * j + 1];
  }
  auto interleave = [n](const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> r(2 * n);
    for (int j = 0; j < n; ++j) {
      r[2 * j] = a[j];
      r[2 * j + 1] = b[j];
    }
    return r;
  };
  std::vector<double> ore(n), oim(n);
  plain(re.data(), im.data(), ore.data(), oim.data());
  std::vector<double> out = interleave(ore, oim);
  EXPECT_LE(rel_rms(out.data(), want, 1.0), tolerance(n));
  std::vector<double> pre = re, pim = im;
  plain(pre.data(), pim.data(), pre.data(), pim.data());
  EXPECT_EQ(interleave(pre, pim), out) << "in place differs";
  scaled(re.data(), im.data(), ore.data(), oim.data(), kScale);
  EXPECT_LE(rel_rms(interleave(ore, oim).data(), want, kScale), tolerance(n));
  scaled(re.data(), im.data(), ore.data(), oim.data(), 1.0);
  EXPECT_EQ(interleave(ore, oim), out) << "scale 1.0 differs";
}

TEST(Codelets, SplitTables) {
  const auto& t = tables();
  for (int n = 1; n <= 16; ++n) {
    check_split("forward", n, -1, t.split_forward[n], t.split_forward_scaled[n]);
    check_split("backward", n, +1, t.split_backward[n], t.split_backward_scaled[n]);
  }
}

// A real kernel pair of length n; scaled kernels may be null (whole-vector
// power-of-two tables are unscaled).
void check_real(const std::string& what, int n, CplxKernel fwd, CplxKernelScaled fwd_s,
                CplxKernel bwd, CplxKernelScaled bwd_s) {
  SCOPED_TRACE(what + " n=" + std::to_string(n));
  ASSERT_NE(fwd, nullptr);
  ASSERT_NE(bwd, nullptr);
  std::vector<double> x = random_vector(n, 3000 + n);
  std::vector<double> xc(2 * n, 0.0);
  for (int j = 0; j < n; ++j) xc[2 * j] = x[j];
  std::vector<long double> want = pack(reference_dft(xc, n, -1), n);

  std::vector<double> out(n), tmp(x);
  fwd(x.data(), out.data());
  EXPECT_LE(rel_rms(out.data(), want, 1.0), tolerance(n)) << "forward";
  fwd(tmp.data(), tmp.data());
  EXPECT_EQ(tmp, out) << "forward in place differs";

  // backward(forward(x)) = n x
  std::vector<double> back(n);
  bwd(out.data(), back.data());
  std::vector<long double> nx(x.begin(), x.end());
  EXPECT_LE(rel_rms(back.data(), nx, double(n)), 2 * tolerance(n)) << "round trip";

  // Backward of an arbitrary packed spectrum.
  std::vector<double> p = random_vector(n, 4000 + n);
  std::vector<long double> full = reference_dft(unpack(p, n), n, +1);
  std::vector<long double> want_b(n);
  for (int j = 0; j < n; ++j) want_b[j] = full[2 * j];
  bwd(p.data(), back.data());
  EXPECT_LE(rel_rms(back.data(), want_b, 1.0), tolerance(n)) << "backward";
  tmp = p;
  bwd(tmp.data(), tmp.data());
  EXPECT_EQ(tmp, back) << "backward in place differs";

  if (fwd_s == nullptr && bwd_s == nullptr) return;
  ASSERT_NE(fwd_s, nullptr);
  ASSERT_NE(bwd_s, nullptr);
  std::vector<double> s(n);
  fwd_s(x.data(), s.data(), kScale);
  EXPECT_LE(rel_rms(s.data(), want, kScale), tolerance(n)) << "forward scaled";
  tmp = x;
  fwd_s(tmp.data(), tmp.data(), kScale);
  EXPECT_EQ(tmp, s) << "forward scaled in place differs";
  fwd_s(x.data(), s.data(), 1.0);
  EXPECT_EQ(s, out) << "forward scale 1.0 differs";
  bwd_s(p.data(), s.data(), kScale);
  EXPECT_LE(rel_rms(s.data(), want_b, kScale), tolerance(n)) << "backward scaled";
  tmp = p;
  bwd_s(tmp.data(), tmp.data(), kScale);
  EXPECT_EQ(tmp, s) << "backward scaled in place differs";
  bwd_s(p.data(), s.data(), 1.0);
  EXPECT_EQ(s, back) << "backward scale 1.0 differs";
}

TEST(Codelets, RealTables) {
  const auto& t = tables();
  for (int n = 1; n <= 16; ++n)
    check_real("codelet", n, t.real_forward[n], t.real_forward_scaled[n], t.real_backward[n],
               t.real_backward_scaled[n]);
}

// The kernels on n/2+1 complex values against the packed ones: the same
// spectrum where each layout keeps it, zeros in the imaginary parts that
// symmetry fixes, and those parts never read back.
TEST(Codelets, RealConjugateEvenTables) {
  const auto& t = tables();
  for (int n = 2; n <= 16; ++n) {
    SCOPED_TRACE("n=" + std::to_string(n));
    ASSERT_NE(t.real_forward_cce[n], nullptr);
    ASSERT_NE(t.real_backward_cce[n], nullptr);
    const int h = n / 2 + 1;
    std::vector<double> x = random_vector(n, 5000 + n), packed(n), cce(2 * h, 7.0);
    t.real_forward[n](x.data(), packed.data());
    t.real_forward_cce[n](x.data(), cce.data());
    std::vector<double> want(2 * h, 0.0);
    want[0] = packed[0];
    const int first = n % 2 == 0 ? 2 : 1;
    if (n % 2 == 0) want[n] = packed[1];
    for (int i = first; i < n; ++i) want[i + (n % 2 == 0 ? 0 : 1)] = packed[i];
    std::vector<long double> wl(want.begin(), want.end());
    EXPECT_LE(rel_rms(cce.data(), wl, 1.0), tolerance(n)) << "forward";
    EXPECT_EQ(cce[1], 0.0);
    if (n % 2 == 0) {
      EXPECT_EQ(cce[n + 1], 0.0);
    }
    std::vector<double> in_place(2 * h, 7.0);
    std::copy(x.begin(), x.end(), in_place.begin());
    t.real_forward_cce[n](in_place.data(), in_place.data());
    EXPECT_EQ(in_place, cce) << "forward in place differs";

    std::vector<double> back(n), back_cce(n);
    t.real_backward[n](packed.data(), back.data());
    cce[1] = 1e300;
    if (n % 2 == 0) cce[n + 1] = -1e300;
    t.real_backward_cce[n](cce.data(), back_cce.data());
    std::vector<long double> bl(back.begin(), back.end());
    EXPECT_LE(rel_rms(back_cce.data(), bl, 1.0), tolerance(n)) << "backward";
    t.real_backward_cce[n](cce.data(), cce.data());
    cce.resize(n);
    EXPECT_EQ(cce, back_cce) << "backward in place differs";
  }
}

TEST(Codelets, RealPowerOfTwoTables) {
  const auto& a = api();
  for (int lg = 0; lg <= 6; ++lg)
    check_real("pow2", 1 << lg, a.real_pow2_forward[lg], nullptr, a.real_pow2_backward[lg],
               nullptr);
}

TEST(Codelets, RealLengthSixExample) {
  const double x[6] = {1, 2, 3, 4, 5, 6};
  const double want[6] = {21, -3, -3, 5.196152422706632, -3, 1.7320508075688772};
  double out[6];
  tables().real_forward[6](x, out);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(out[i], want[i]) << i;
  tables().real_forward_scaled[6](x, out, 0.5);
  for (int i = 0; i < 6; ++i) EXPECT_DOUBLE_EQ(out[i], 0.5 * want[i]) << i;
  // The cosine of the demonstration program: one harmonic, R1 = 3.
  double c[6];
  for (int j = 0; j < 6; ++j) c[j] = std::cos(2 * M_PI * j / 6);
  tables().real_forward[6](c, out);
  const double harmonic[6] = {0, 0, 3, 0, 0, 0};
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(out[i], harmonic[i], 1e-15) << i;
}

TEST(Codelets, RadixButterflies) {
  // The composite ones too: their generated splits (twiddled) are where an
  // index or constant slip would hide.
  const int radices[] = {2, 3, 4, 5, 7, 8, 11, 13, 16};
  const bool wide = api().level >= 4;
  for (int r : radices) {
    for (int backward = 0; backward < 2; ++backward) {
      SCOPED_TRACE("radix " + std::to_string(r) + (backward ? " backward" : " forward"));
      const int sign = backward ? 1 : -1;
      std::vector<double> x = random_vector(2 * r, 5000 + r);
      std::vector<double> y = x;
      ASSERT_EQ(api().radix_butterfly(r, backward, 1, y.data()), 0);
      EXPECT_LE(rel_rms(y.data(), reference_dft(x, r, sign), 1.0), tolerance(r));

      // Two lanes: element j of lane l at complex index 2j + l.
      std::vector<double> x2 = random_vector(4 * r, 6000 + r), y2 = x2;
      const int rc = api().radix_butterfly(r, backward, 2, y2.data());
      if (!wide) {
        EXPECT_EQ(rc, -1);
        continue;
      }
      ASSERT_EQ(rc, 0);
      for (int lane = 0; lane < 2; ++lane) {
        std::vector<double> in(2 * r), got(2 * r);
        for (int j = 0; j < r; ++j) {
          for (int h = 0; h < 2; ++h) {
            in[2 * j + h] = x2[4 * j + 2 * lane + h];
            got[2 * j + h] = y2[4 * j + 2 * lane + h];
          }
        }
        EXPECT_LE(rel_rms(got.data(), reference_dft(in, r, sign), 1.0), tolerance(r))
            << "lane " << lane;
      }
    }
  }
  std::vector<double> d(128, 0.0);
  for (int r : {1, 12, 14, 17}) EXPECT_EQ(api().radix_butterfly(r, 0, 1, d.data()), -1) << r;
}

TEST(Codelets, RealRadixButterflies) {
  const int radices[] = {3, 5, 7, 11, 13};
  for (int r : radices) {
    for (int lanes : {1, 2, 4}) {
      SCOPED_TRACE("radix " + std::to_string(r) + " lanes " + std::to_string(lanes));
      std::vector<double> x = random_vector(size_t(r) * lanes, 7000 + r), f = x;
      const int rc = api().real_radix_butterfly(r, 0, lanes, f.data());
      if (lanes == 4 && api().level < 4) {
        EXPECT_EQ(rc, -1);
        continue;
      }
      ASSERT_EQ(rc, 0);
      std::vector<double> b = f;
      ASSERT_EQ(api().real_radix_butterfly(r, 1, lanes, b.data()), 0);
      for (int l = 0; l < lanes; ++l) {
        std::vector<double> xc(2 * r, 0.0), got(r), back(r);
        std::vector<long double> lane(r);
        for (int j = 0; j < r; ++j) {
          xc[2 * j] = x[j * lanes + l];
          lane[j] = x[j * lanes + l];
          got[j] = f[j * lanes + l];
          back[j] = b[j * lanes + l];
        }
        EXPECT_LE(rel_rms(got.data(), pack(reference_dft(xc, r, -1), r), 1.0), tolerance(r))
            << "forward lane " << l;
        EXPECT_LE(rel_rms(back.data(), lane, double(r)), 2 * tolerance(r))
            << "round trip lane " << l;
      }
    }
  }
  std::vector<double> d(64, 0.0);
  EXPECT_EQ(api().real_radix_butterfly(4, 0, 1, d.data()), -1);
}

}  // namespace
