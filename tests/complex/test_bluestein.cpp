// The convolution strategy on its own (the lists reach it only for lengths
// beyond the general planner's limits): lengths that are not powers of two,
// both placements, offsets, and the configurations it must leave alone.
#include "complex_harness.h"

using complex_test::Case;
using complex_test::check;

namespace {

TEST(ComplexBluestein, AgreesWithTheReference) {
  for (int64_t n : {3, 5, 6, 7, 12, 97, 100, 1000, 4099, 30030}) {
    for (bool inplace : {false, true}) {
      Case c;
      c.n = n;
      c.inplace = inplace;
      c.in_offset = 2;
      c.out_offset = inplace ? 2 : 7;
      c.only = {"bluestein"};
      c.expect_strategy = "bluestein";
      EXPECT_TRUE(check(c, static_cast<uint64_t>(n)));
    }
  }
}

TEST(ComplexBluestein, DeclinesWhatItCannotDo) {
  struct Decline {
    const char* why;
    Case c;
  };
  std::vector<Decline> cases(6);
  cases[0].why = "power of two";
  cases[0].c.n = 64;
  cases[1].why = "scale";
  cases[1].c.forward_scale = 0.5;
  cases[2].why = "stride";
  cases[2].c.in_stride = 2;
  cases[3].why = "batch";
  cases[3].c.count = 2;
  cases[4].why = "permuted order";
  cases[4].c.permuted = true;
  cases[5].why = "backward scale";
  cases[5].c.backward_scale = 2.0;
  for (auto& d : cases) {
    if (d.c.n == 1) d.c.n = 30;
    d.c.only = {"bluestein"};
    DftiHandle h = nullptr;
    EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, complex_test::configure(&h, d.c)) << d.why;
    DftiRelease(&h);
  }
}

// Beyond 2^61 points no power of two holds the convolution; the commit must
// refuse before sizing any table.
TEST(ComplexBluestein, LengthsWithoutAConvolutionLengthAnswer9) {
  for (int64_t n : {(int64_t(1) << 61) + 1, (int64_t(1) << 62) + 3, INT64_MAX}) {
    DftiHandle h = nullptr;
    ASSERT_EQ(0, DftiCreateDouble1D(&h, DFTI_COMPLEX, n));
    EXPECT_EQ(DFTI_STATUS_DIMENSION_TOO_LARGE, DftiCommit(h)) << n;
    DftiRelease(&h);
  }
}

// Taking over from another strategy, and handing over again, frees every
// plan on the way (the sanitizer build checks for leaks).
TEST(ComplexBluestein, RecommitsBetweenStrategies) {
  DftiHandle h = nullptr;
  ASSERT_EQ(0, DftiCreateDouble1D(&h, DFTI_COMPLEX, (int64_t)1000));
  {
    tqs_test::StrategySubset only(h, {"bluestein"});
    ASSERT_EQ(0, DftiCommit(h));
    ASSERT_EQ(0, DftiCommit(h));
  }
  EXPECT_EQ("bluestein", tqs_test::committed_by(h));
  ASSERT_EQ(0, DftiCommit(h));
  EXPECT_EQ("general", tqs_test::committed_by(h));
  {
    tqs_test::StrategySubset only(h, {"bluestein"});
    ASSERT_EQ(0, DftiCommit(h));
  }
  std::vector<double> x(2000, 0.0);
  x[0] = 1.0;
  ASSERT_EQ(0, DftiForward(h, x.data()));
  for (int k = 0; k < 1000; ++k) {
    EXPECT_NEAR(1.0, x[2 * k], 1e-13);
    EXPECT_NEAR(0.0, x[2 * k + 1], 1e-13);
  }
  DftiRelease(&h);
}

}  // namespace
