// The roots of unity every twiddle and chirp table is built from, against
// an independent long-double evaluation: each root must lie within an ulp
// of the correctly rounded value, and nearly all must be that value.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/level_api.h"
#include "service/tqs_service.h"

namespace {

const tqs::LevelApi& api() { return *tqs::level_apis[tqs_cpu_level()]; }

// cos and sin of 2 pi k/n: k is brought to the nearest quarter turn q with
// an exact remainder, so the long-double angle never exceeds pi/4 and even
// the smallest sines keep their relative accuracy.
void reference(int64_t k, int64_t n, long double* c, long double* s) {
  k %= n;
  if (k < 0) k += n;
  const __int128 four_k = static_cast<__int128>(4) * k;
  const int64_t q = static_cast<int64_t>((2 * four_k + n) / (2 * static_cast<__int128>(n)));
  const long double rest = static_cast<long double>(four_k - static_cast<__int128>(q) * n);
  const long double a = 6.283185307179586476925286766559005768L * rest / (4.0L * n);
  const long double ca = cosl(a), sa = sinl(a);
  switch (q & 3) {
    case 0: *c = ca, *s = sa; break;
    case 1: *c = -sa, *s = ca; break;
    case 2: *c = -ca, *s = -sa; break;
    default: *c = sa, *s = -ca; break;
  }
}

double ulp(double x) {
  x = std::fabs(x);
  return x == 0.0 ? 0.0 : std::nextafter(x, INFINITY) - x;
}

// Counts the roots compared and those that are not the correctly rounded
// value; any root more than an ulp away fails at once.
struct Tally {
  int64_t seen = 0, inexact = 0;
  void check(double got, long double want, const std::string& what) {
    const double rounded = static_cast<double>(want);
    ++seen;
    if (got == rounded) return;
    ++inexact;
    ASSERT_LE(std::fabs(got - rounded), ulp(rounded)) << what << ": " << got << " vs " << rounded;
  }
  void expect_mostly_exact(const std::string& what) const {
    // Products formed in double instead of extended precision miss the
    // rounding for a large share of the roots.
    EXPECT_LE(inexact * 1000, seen) << what << ": " << inexact << " of " << seen << " inexact";
  }
};

// The indices worth looking at for a length: all of them up to 2^16, else
// both ends, the quarter and eighth turns with their neighbours and a
// scattered sample.
std::vector<int64_t> indices(int64_t n) {
  std::vector<int64_t> k;
  if (n <= 65536) {
    for (int64_t i = 0; i < n; ++i) k.push_back(i);
    return k;
  }
  for (int64_t i = 0; i < 2048; ++i) {
    k.push_back(i);
    k.push_back(n - 1 - i);
  }
  for (int64_t e = 1; e < 8; ++e)
    for (int64_t d = -64; d <= 64; ++d) k.push_back(e * n / 8 + d);
  uint64_t x = static_cast<uint64_t>(n) * 0x9E3779B97F4A7C15ull;
  for (int i = 0; i < 20000; ++i) {
    x = x * 6364136223846793005ull + 1442695040888963407ull;
    k.push_back(static_cast<int64_t>((x >> 11) % static_cast<uint64_t>(n)));
  }
  return k;
}

const std::vector<int64_t>& long_lengths() {
  static const std::vector<int64_t> n = {
      1000,  1024,   3000,   4096,   4099,    10000,   16384,        65536,       100000,
      65537, 262144, 400012, 999983, 1 << 20, 4000000, (1 << 22) + 2, int64_t(1) << 22};
  return n;
}

std::vector<int64_t> all_lengths() {
  std::vector<int64_t> n;
  for (int64_t i = 1; i <= 600; ++i) n.push_back(i);
  for (int64_t i : long_lengths()) n.push_back(i);
  return n;
}

TEST(Roots, TableWithinAnUlpOfTheRoundedRoots) {
  Tally t;
  for (int64_t n : all_lengths()) {
    std::vector<double> w(static_cast<size_t>(2 * n));
    api().root_table(w.data(), n);
    for (int64_t k : indices(n)) {
      long double c, s;
      reference(k, n, &c, &s);
      const std::string what = "n=" + std::to_string(n) + " k=" + std::to_string(k);
      t.check(w[2 * k], c, what + " cos");
      t.check(w[2 * k + 1], -s, what + " -sin");
      if (::testing::Test::HasFatalFailure()) return;
    }
  }
  t.expect_mostly_exact("all lengths");
}

// One root at a time, the way the chirp tables ask: indices beyond the
// period and negative ones, periods of four times a length.
TEST(Roots, GeneratorForAnyIndex) {
  Tally t;
  for (int64_t n : all_lengths()) {
    std::vector<int64_t> k = indices(n);
    const size_t base = k.size();
    for (size_t i = 0; i < base; i += 3) {
      k.push_back(k[i] - 3 * n);
      k.push_back(k[i] + 5 * n);
    }
    std::vector<double> cs(2 * k.size());
    api().generated_roots(n, k.data(), static_cast<int64_t>(k.size()), cs.data());
    for (size_t i = 0; i < k.size(); ++i) {
      long double c, s;
      reference(k[i], n, &c, &s);
      const std::string what = "n=" + std::to_string(n) + " k=" + std::to_string(k[i]);
      t.check(cs[2 * i], c, what + " cos");
      t.check(cs[2 * i + 1], s, what + " sin");
      if (::testing::Test::HasFatalFailure()) return;
      if (i >= base) {  // the same root as its representative in [0, n)
        const size_t j = (i - base) / 2 * 3;
        EXPECT_EQ(cs[2 * i], cs[2 * j]) << what;
        EXPECT_EQ(cs[2 * i + 1], cs[2 * j + 1]) << what;
      }
    }
  }
  t.expect_mostly_exact("all lengths");
}

}  // namespace
