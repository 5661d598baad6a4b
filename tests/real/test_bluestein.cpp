// The convolution strategy's real variant on its own: every layout, both
// placements, odd and even lengths, offsets.
#include "real_harness.h"

using real_test::Case;
using real_test::check;
using real_test::Layout;

namespace {

TEST(RealBluestein, AgreesWithFftwInEveryLayout) {
  const Layout layouts[] = {Layout::Cce, Layout::Half, Layout::Permuted, Layout::Sequential};
  int i = 0;
  for (int64_t n : {3, 5, 6, 12, 97, 100, 1001, 4099}) {
    for (Layout l : layouts) {
      for (bool inplace : {false, true}) {
        Case c;
        c.n = n;
        c.layout = l;
        c.inplace = inplace;
        if (++i % 3 == 0) {
          c.in_offset = 4;
          c.out_offset = inplace && l == Layout::Cce ? 2 : 4;
          c.set_strides = true;
        }
        c.only = {"bluestein"};
        EXPECT_TRUE(check(c, static_cast<uint64_t>(n)));
      }
    }
  }
}

TEST(RealBluestein, LengthsWithoutAConvolutionLengthAnswer9) {
  for (int64_t n : {(int64_t(1) << 61) + 1, INT64_MAX}) {
    DftiHandle h = nullptr;
    ASSERT_EQ(0, DftiCreateDouble1D(&h, DFTI_REAL, n));
    EXPECT_EQ(DFTI_STATUS_DIMENSION_TOO_LARGE, DftiCommit(h)) << n;
    DftiRelease(&h);
  }
}

TEST(RealBluestein, LeavesInconsistentInPlaceOffsetsAlone) {
  DftiHandle h = nullptr;
  ASSERT_EQ(0, DftiCreateDouble1D(&h, DFTI_REAL, (int64_t)12));
  ASSERT_EQ(0, DftiSet(h, DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_COMPLEX));
  int64_t in[2] = {1, 1};
  ASSERT_EQ(0, DftiSet(h, DFTI_IN_STRIDES, in));
  {
    // The subset gives the descriptor its list back when it goes: before
    // the release.
    tqs_test::StrategySubset only(h, {"bluestein"});
    EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, DftiCommit(h));
  }
  DftiRelease(&h);
}

}  // namespace
