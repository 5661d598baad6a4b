// Accuracy of the three plan kinds against the long-double reference: every
// length up to 2048 in every mode and placement, then a spread of larger
// lengths on a rotating sample of the combinations.
#include <malloc.h>

#include <algorithm>
#include <cmath>

#include "plan_harness.h"

namespace {

// Thousands of plans and buffers come and go: keep the heap from being
// returned to the system after every free, which costs more than the
// transforms themselves.
const int kHeapSettings = [] {
  mallopt(M_TRIM_THRESHOLD, 512 << 20);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  return 0;
}();

using namespace plans_test;

const int kModes[4] = {tqs::SCALE_FORWARD, tqs::SCALE_BACKWARD, tqs::SCALE_BOTH_SQRT,
                       tqs::SCALE_NONE};
const Kind kKinds[3] = {COMPLEX, SPLIT, REAL};

void check_everything(const Case& c) {
  for (Kind kind : kKinds) {
    std::vector<double> in[2], ref[2];
    input_and_reference(kind, true, c, &in[0], &ref[0]);
    input_and_reference(kind, false, c, &in[1], &ref[1]);
    for (int mode : kModes) {
      Plan plan(kind, c.n, mode);
      ASSERT_EQ(plan.code, 0) << "kind " << kind << " n " << c.n << " mode " << mode;
      for (int dir = 0; dir < 2; ++dir) {
        for (bool in_place : {false, true}) {
          bool caller_work = (c.n + mode + in_place) % 2 == 0;
          expect_accurate(plan, c.n, mode, dir == 0, in_place, caller_work, in[dir], ref[dir]);
        }
      }
    }
  }
}

void check_sampled(const Case& c, int salt) {
  for (Kind kind : kKinds) {
    for (int dir = 0; dir < 2; ++dir) {
      std::vector<double> in, ref;
      input_and_reference(kind, dir == 0, c, &in, &ref);
      int pick = (salt + 3 * kind + dir) % 8;
      int mode = kModes[pick % 4];
      Plan plan(kind, c.n, mode);
      ASSERT_EQ(plan.code, 0) << "kind " << kind << " n " << c.n << " mode " << mode;
      expect_accurate(plan, c.n, mode, dir == 0, pick >= 4, pick % 3 == 0, in, ref);
    }
  }
}

TEST(PlanAccuracy, EveryLengthUpTo2048) {
  for (int64_t n = 1; n <= 2048 && !HasFailure(); ++n) {
    if (kSanitized && n > 200 && n % 13 != 0) continue;
    check_everything(make_case(n, n));
  }
}

TEST(PlanAccuracy, LargerLengths) {
  // Primes beyond the direct limit and beyond the short chirp-z lengths,
  // a cofactor just past the even limit (2*151), a trial divisor past the
  // limit (97*101), smooth lengths deep enough for the depth-first passes,
  // and powers of two through their own engine. Past 2048: many 2s and 3s
  // (7776, 46656), odd lengths with several odd radices (7875, 7 over 3^9,
  // whose leading pass has an odd column count), a direct radix over an
  // even rest (2890 = 17 * 170, 37 * 2^12) and five odd primes over a 2 (30030).
  // From 2^18 points the longest stages form their twiddles as products of
  // two short tables: 10^6 over column pairs, 3^12 over an odd column count.
  const int64_t lengths[] = {97,   2053,   4099,    65537, 2 * 151, 97 * 101, 3000,  10000,
                             100000, 1000000, 4096, 1 << 15, 1 << 17, 1 << 18, 7776, 46656,
                             7875, 2890,  30030, 7 * 19683, 37 * 4096, 531441};
  int salt = 0;
  for (int64_t n : lengths) {
    if (kSanitized && n > 70000) continue;
    check_sampled(make_case(n, 7 * n + 1), salt++);
  }
}

// Just above a quarter of the convolution length the plans fold the
// convolution to half its length and correct the few terms that fold onto
// the wanted outputs: every distance d = n - L/4 the fold serves (1 to 8)
// and the first lengths past it, over two sub-transforms; then over four
// (16387, L = 65536, whose inner plan closes with radix 8).
TEST(PlanAccuracy, ChirpLengthsJustAboveAQuarter) {
  int chirped = 0;
  for (int64_t n = 4097; n <= 4106 && !HasFailure(); ++n) {
    Plan probe(COMPLEX, n, tqs::SCALE_NONE);
    ASSERT_EQ(probe.code, 0) << n;
    if (probe.p->chirp_length == 0) continue;
    EXPECT_EQ(probe.p->chirp_length, 16384) << n;
    ++chirped;
    check_everything(make_case(n, 3 * n + 5));
  }
  EXPECT_GE(chirped, 6);
  if (kSanitized) return;
  for (int64_t n : {8193, 16387}) check_everything(make_case(n, n));
}

}  // namespace

TEST(PlanAccuracy, ShortChirpKernelsAreRoundedOnce) {
  // The transformed chirp kernel multiplies every result, so its own errors
  // never average out: for the short convolutions every entry must be the
  // exact value rounded once, which a transform in double arithmetic misses
  // by several units in the last place. (Primes whose n - 1 has only small
  // factors convolve in Rader's order instead, below.)
  for (int64_t n : {103, 131, 137, 239}) {
    Plan p(COMPLEX, n, tqs::SCALE_NONE);
    ASSERT_EQ(p.code, 0);
    const int64_t l = p.p->chirp_length;
    ASSERT_GT(l, 0) << n;
    const long double pi = 3.141592653589793238462643383279502884L;
    std::vector<long double> br(n), bi(n), wr(l), wi(l);
    for (int64_t k = 0; k < n; ++k) {
      const long double a = pi * (long double)((k * k) % (2 * n)) / (long double)n;
      br[k] = cosl(a);
      bi[k] = sinl(a);
    }
    for (int64_t e = 0; e < l; ++e) {
      const long double a = 2 * pi * (long double)e / (long double)l;
      wr[e] = cosl(a);
      wi[e] = -sinl(a);
    }
    const double* got = (const double*)p.p->chirp_spectrum;
    double worst = 0.0;
    for (int64_t f = 0; f < l; ++f) {
      long double sr = 0.0L, si = 0.0L;
      for (int64_t k = 0; k < l; ++k) {
        const int64_t j = k < n ? k : l - k < n ? l - k : -1;  // the kernel is even
        if (j < 0) continue;
        const int64_t e = (f * k) % l;
        sr += br[j] * wr[e] - bi[j] * wi[e];
        si += br[j] * wi[e] + bi[j] * wr[e];
      }
      sr /= l;
      si /= l;
      const double dr = (double)(got[2 * f] - sr), di = (double)(got[2 * f + 1] - si);
      const double mag = (double)sqrtl(sr * sr + si * si);
      worst = std::max(worst, std::sqrt(dr * dr + di * di) / mag);
    }
    EXPECT_LE(worst, std::ldexp(1.0, -52)) << "n " << n << " convolution length " << l;
  }
}

TEST(PlanAccuracy, ShortRaderKernelsAreRoundedOnce) {
  // The same for the kernel w^(g^-j) of the convolution in Rader's order,
  // g = order[1], over the n - 1 nonzero indices.
  for (int64_t n : {97, 211, 257, 433}) {
    Plan p(COMPLEX, n, tqs::SCALE_NONE);
    ASSERT_EQ(p.code, 0);
    const int64_t m = p.p->chirp_length;
    ASSERT_EQ(m, n - 1) << n;
    const auto* order = static_cast<const int32_t*>(p.p->rader_order);
    // The powers of one generator: every nonzero index exactly once.
    std::vector<bool> seen(n, false);
    for (int64_t q = 0; q < m; ++q) {
      EXPECT_EQ(order[q], q == 0 ? 1 : order[q - 1] * (int64_t)order[1] % n) << n << " " << q;
      ASSERT_TRUE(order[q] > 0 && order[q] < n && !seen[order[q]]) << n << " " << q;
      seen[order[q]] = true;
    }
    const long double pi = 3.141592653589793238462643383279502884L;
    std::vector<long double> br(m), bi(m);
    for (int64_t j = 0; j < m; ++j) {
      const int64_t e = order[j == 0 ? 0 : m - j];
      EXPECT_EQ(e * order[j] % n, 1) << n << " " << j;  // g^-j * g^j
      const long double a = 2 * pi * (long double)e / (long double)n;
      br[j] = cosl(a);
      bi[j] = -sinl(a);
    }
    const double* got = static_cast<const double*>(p.p->chirp_spectrum);
    double worst = 0.0;
    for (int64_t f = 0; f < m; ++f) {
      long double sr = 0.0L, si = 0.0L;
      for (int64_t j = 0; j < m; ++j) {
        const long double a = 2 * pi * (long double)((f * j) % m) / (long double)m;
        const long double wr = cosl(a), wi = -sinl(a);
        sr += br[j] * wr - bi[j] * wi;
        si += br[j] * wi + bi[j] * wr;
      }
      sr /= m;
      si /= m;
      const double dr = (double)(got[2 * f] - sr), di = (double)(got[2 * f + 1] - si);
      const double mag = (double)sqrtl(sr * sr + si * si);
      worst = std::max(worst, std::sqrt(dr * dr + di * di) / mag);
    }
    EXPECT_LE(worst, std::ldexp(1.0, -52)) << "n " << n;
  }
}
