// Configurations the real planner refuses: the commit answers 3, 6, 9 or 1
// and leaves the descriptor uncommitted, so that computing answers 2.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/strategies.h"
#include "tqs_dfti.h"

namespace {

int32_t commit_state(DftiHandle h) {
  int32_t state = 0;
  EXPECT_EQ(0, DftiGet(h, DFTI_COMMIT_STATE, &state));
  return state;
}

// After a refused commit nothing may compute, in either direction.
void expect_uncommitted(DftiHandle h) {
  EXPECT_EQ(DFTI_STATE_UNCOMMITTED, commit_state(h));
  std::vector<double> a(64, 0.0), b(64, 0.0);
  EXPECT_EQ(DFTI_STATUS_INVALID_CONFIGURATION, DftiForward(h, a.data(), b.data()));
  EXPECT_EQ(DFTI_STATUS_INVALID_CONFIGURATION, DftiBackward(h, a.data(), b.data()));
}

struct Handle {
  DftiHandle h = nullptr;
  explicit Handle(int64_t n) { EXPECT_EQ(0, DftiCreateDouble1D(&h, DFTI_REAL, n)); }
  ~Handle() { DftiRelease(&h); }
};

TEST(RealRefusals, InPlaceCceOffsetsMustDescribeTheSamePlaces) {
  const int64_t cases[][3] = {
      // input offset, output offset, expected status
      {0, 0, 0}, {2, 1, 0}, {1, 2, 0}, {6, 3, 0}, {1, 1, 3}, {3, 0, 3}, {0, 5, 3}, {3, 2, 3},
      // Doubling these wraps to 0 in 64 bits: they describe no place at all.
      {INT64_MIN, 0, 3}, {0, INT64_MIN, 3}, {INT64_MAX, INT64_MAX, 3}};
  for (auto& c : cases) {
    Handle d(8);
    ASSERT_EQ(0, DftiSet(d.h, DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_COMPLEX));
    int64_t in[2] = {c[0], 1}, out[2] = {c[1], 1};
    ASSERT_EQ(0, DftiSet(d.h, DFTI_IN_STRIDES, in));
    ASSERT_EQ(0, DftiSet(d.h, DFTI_OUT_STRIDES, out));
    EXPECT_EQ(c[2], DftiCommit(d.h)) << c[0] << " " << c[1];
    if (c[2] != 0) {
      expect_uncommitted(d.h);
    } else {
      EXPECT_EQ(DFTI_STATE_COMMITTED, commit_state(d.h));
    }
  }
}

TEST(RealRefusals, OutOfPlaceOrOtherLayoutsTakeAnyOffsets) {
  for (int ces : {DFTI_COMPLEX_COMPLEX, DFTI_COMPLEX_REAL})
    for (int placement : {DFTI_INPLACE, DFTI_NOT_INPLACE}) {
      if (ces == DFTI_COMPLEX_COMPLEX && placement == DFTI_INPLACE) continue;
      Handle d(8);
      ASSERT_EQ(0, DftiSet(d.h, DFTI_CONJUGATE_EVEN_STORAGE, ces));
      ASSERT_EQ(0, DftiSet(d.h, DFTI_PLACEMENT, placement));
      int64_t in[2] = {3, 1}, out[2] = {1, 1};
      ASSERT_EQ(0, DftiSet(d.h, DFTI_IN_STRIDES, in));
      ASSERT_EQ(0, DftiSet(d.h, DFTI_OUT_STRIDES, out));
      EXPECT_EQ(0, DftiCommit(d.h));
    }
}

// CCE packing survives switching the storage back to DFTI_COMPLEX_REAL, a
// combination no storage routine serves.
TEST(RealRefusals, CcePackingWithComplexRealStorageIsNotImplemented) {
  for (int placement : {DFTI_INPLACE, DFTI_NOT_INPLACE}) {
    Handle d(10);
    ASSERT_EQ(0, DftiSet(d.h, DFTI_PLACEMENT, placement));
    ASSERT_EQ(0, DftiSet(d.h, DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_COMPLEX));
    ASSERT_EQ(0, DftiSet(d.h, DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_REAL));
    int32_t packing = 0;
    ASSERT_EQ(0, DftiGet(d.h, DFTI_PACKING, &packing));
    ASSERT_EQ(DFTI_PACKING_CCE, packing);
    {
      // The general strategy refuses; a later strategy of the list may still
      // take the descriptor, so the refusal is checked on the general one.
      tqs_test::StrategySubset only(d.h, {"general"});
      EXPECT_EQ(DFTI_STATUS_NOT_IMPLEMENTED, DftiCommit(d.h));
      expect_uncommitted(d.h);
    }
    // Any packed format that has a routine commits again.
    ASSERT_EQ(0, DftiSet(d.h, DFTI_PACKING, DFTI_PACKING_SEQUENTIAL));
    EXPECT_EQ(0, DftiCommit(d.h));
  }
}

TEST(RealRefusals, AxesBeyondTheSizeLimitsAnswer9) {
  const int64_t too_long[] = {(int64_t(1) << 24) + 1, (int64_t(1) << 24) + 2, (int64_t(1) << 27),
                              (int64_t(1) << 26) + 2, int64_t(1) << 33, (int64_t(1) << 40) + 6};
  for (int64_t n : too_long) {
    Handle d(n);
    // Two transforms keep the convolution strategy out: the walk then ends
    // with its "not applicable", which the commit reports as 3.
    ASSERT_EQ(0, DftiSet(d.h, DFTI_TRANSFORM_COUNT, (int64_t)2));
    EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, DftiCommit(d.h)) << n;
    expect_uncommitted(d.h);
    tqs_test::StrategySubset only(d.h, {"general"});
    EXPECT_EQ(DFTI_STATUS_DIMENSION_TOO_LARGE, DftiCommit(d.h)) << n;
    expect_uncommitted(d.h);
  }
}

TEST(RealRefusals, TooManyUserThreadsAnswers1) {
  Handle d(16);
  ASSERT_EQ(0, DftiSet(d.h, DFTI_NUMBER_OF_USER_THREADS, (int64_t)0x8000000));
  {
    tqs_test::StrategySubset only(d.h, {"general"});
    EXPECT_EQ(DFTI_STATUS_MEMORY, DftiCommit(d.h));
    expect_uncommitted(d.h);
  }
  // The whole list ends with a strategy that declines several user threads.
  EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, DftiCommit(d.h));
  expect_uncommitted(d.h);
  ASSERT_EQ(0, DftiSet(d.h, DFTI_NUMBER_OF_USER_THREADS, (int64_t)3));
  EXPECT_EQ(0, DftiCommit(d.h));
}

TEST(RealRefusals, EmptyBatchIsRefused) {
  Handle d(16);
  ASSERT_EQ(0, DftiSet(d.h, DFTI_TRANSFORM_COUNT, (int64_t)0));
  EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, DftiCommit(d.h));
  expect_uncommitted(d.h);
}

// A refused recommit drops the earlier plan: the old compute entries must not
// survive it.
TEST(RealRefusals, RefusedRecommitDropsTheEarlierPlan) {
  Handle d(12);
  ASSERT_EQ(0, DftiSet(d.h, DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_COMPLEX));
  ASSERT_EQ(0, DftiCommit(d.h));
  std::vector<double> a(14, 1.0);
  EXPECT_EQ(0, DftiForward(d.h, a.data()));
  int64_t in[2] = {1, 1};
  ASSERT_EQ(0, DftiSet(d.h, DFTI_IN_STRIDES, in));
  EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, DftiCommit(d.h));
  expect_uncommitted(d.h);
  in[0] = 2;
  ASSERT_EQ(0, DftiSet(d.h, DFTI_IN_STRIDES, in));
  int64_t out[2] = {1, 1};
  ASSERT_EQ(0, DftiSet(d.h, DFTI_OUT_STRIDES, out));
  EXPECT_EQ(0, DftiCommit(d.h));
  EXPECT_EQ(DFTI_STATE_COMMITTED, commit_state(d.h));
}

}  // namespace
