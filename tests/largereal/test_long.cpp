// The lengths the strategy is for: against FFTW in every layout and
// placement, and within the accuracy bound of the long-double reference.
#include <gtest/gtest.h>

#include <vector>

#include "real/real_harness.h"
#include "support/reference.h"
#include "support/strategies.h"

namespace {

using real_test::Case;
using real_test::Layout;

Case long_case(int64_t n, Layout l, bool inplace) {
  Case c;
  c.n = n;
  c.layout = l;
  c.inplace = inplace;
  c.threads = 2;
  c.only = {"large-even-real"};
  return c;
}

TEST(LargeRealLong, LongLengthsAgainstFftw) {
  for (Layout l : {Layout::Cce, Layout::Half, Layout::Permuted}) {
    for (bool inplace : {false, true}) {
      EXPECT_TRUE(real_test::check(long_case(1 << 20, l, inplace), 1));
    }
  }
  EXPECT_TRUE(real_test::check(long_case(1000000, Layout::Cce, false), 2));
  EXPECT_TRUE(real_test::check(long_case(1000000, Layout::Half, true), 3));
  EXPECT_TRUE(real_test::check(long_case(1000000, Layout::Permuted, false), 4));
  EXPECT_TRUE(real_test::check(long_case(1 << 22, Layout::Cce, false), 5));
}

// Relative RMS error of both directions (permuted packing, which the
// reference speaks) within the engine's bound.
TEST(LargeRealLong, AccuracyWithinTheBound) {
  for (int64_t n : {49152, 100000, 1 << 20}) {
    DftiHandle h = nullptr;
    ASSERT_EQ(0, real_test::configure(&h, long_case(n, Layout::Permuted, false), 0, 0));
    const std::vector<double> x = tqs_test::random_doubles(n, 3 * n);
    std::vector<double> got(n), want(n);
    ASSERT_EQ(0, DftiForward(h, const_cast<double*>(x.data()), got.data()));
    tqs_test::reference_real_forward(x.data(), want.data(), n);
    EXPECT_LE(tqs_test::relative_rms_error(got.data(), want.data(), n), tqs_test::accuracy_bound(n))
        << "forward " << n;
    ASSERT_EQ(0, DftiBackward(h, const_cast<double*>(x.data()), got.data()));
    tqs_test::reference_real_backward(x.data(), want.data(), n);
    EXPECT_LE(tqs_test::relative_rms_error(got.data(), want.data(), n), tqs_test::accuracy_bound(n))
        << "backward " << n;
    DftiRelease(&h);
  }
}

}  // namespace
