// Which descriptors the split-storage strategies take or decline, refused
// calls, plan failures, the common release, and what a re-commit keeps.
#include <gtest/gtest.h>

#include <vector>

#include "engine/split_plan_types.h"
#include "service/memory_internal.h"
#include "split_harness.h"
#include "support/strategies.h"

namespace {

using split_test::check;
using split_test::make_public;
using split_test::one_axis;
using tqs_test::committed_by;
using tqs_test::engine;
using tqs_test::StrategySubset;

const tqs::SplitOneAxisPlan* one_axis_plan(DftiHandle h) {
  return static_cast<const tqs::SplitOneAxisPlan*>(engine(h)->strategy_plan);
}

TEST(SplitStrategies, TakenAndDeclined) {
  DftiHandle h = nullptr;
  for (bool inplace : {false, true}) {
    ASSERT_EQ(0, make_public(&h, one_axis(96, inplace, 1, 1, 3, 96, 96)));
    EXPECT_EQ("split-one-axis", committed_by(h));
    EXPECT_EQ(inplace ? 2 : 4, engine(h)->array_argument_count);
    DftiRelease(&h);
  }
  // Interleaved storage, sub-problems the engine made, the real domain.
  ASSERT_EQ(0, DftiCreateDouble1D(&h, DFTI_COMPLEX, int64_t{8}));
  {
    StrategySubset only(h, {"split-multi-axis", "split-batch", "split-one-axis"});
    EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, DftiCommit(h));
    ASSERT_EQ(0, DftiSet(h, DFTI_COMPLEX_LAYOUT, DFTI_REAL_REAL));
    engine(h)->plan_flags |= tqs::FLAG_NESTED;
    EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, DftiCommit(h));
  }
  DftiRelease(&h);
  ASSERT_EQ(0, DftiCreateDouble1D(&h, DFTI_REAL, int64_t{8}));
  engine(h)->complex_storage = DFTI_REAL_REAL;
  {
    StrategySubset only(h, {"split-multi-axis", "split-batch", "split-one-axis"});
    EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, DftiCommit(h));
  }
  DftiRelease(&h);
}

// The compute entries refuse a missing array (the public calls stop it
// earlier) and write nothing.
TEST(SplitStrategies, MissingArrays) {
  std::vector<double> re(20, 1.0), im(20, 2.0), ore(20, 3.0);
  for (bool inplace : {false, true}) {
    DftiHandle h = nullptr;
    ASSERT_EQ(0, make_public(&h, one_axis(20, inplace)));
    tqs::EngineDescriptor* d = engine(h);
    EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, d->compute_forward(d, re.data(), nullptr, ore.data(), nullptr));
    EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, d->compute_backward(d, nullptr, im.data(), ore.data(), im.data()));
    DftiRelease(&h);
  }
  EXPECT_EQ(std::vector<double>(20, 1.0), re);
  EXPECT_EQ(std::vector<double>(20, 3.0), ore);
}

// A length no plan can take: the plan's failure is the answer, and nothing
// stays committed.
TEST(SplitStrategies, PlanFailureIsAnswered) {
  DftiHandle h = nullptr;
  ASSERT_EQ(0, DftiCreateDouble1D(&h, DFTI_COMPLEX, (int64_t{1} << 26) + 1));
  ASSERT_EQ(0, DftiSet(h, DFTI_COMPLEX_LAYOUT, DFTI_REAL_REAL));
  {
    StrategySubset only(h, {"split-one-axis"});
    EXPECT_EQ(DFTI_STATUS_INTERNAL, DftiCommit(h));
  }
  EXPECT_EQ(nullptr, engine(h)->strategy_plan);
  EXPECT_EQ(nullptr, engine(h)->compute_forward);
  EXPECT_EQ(DFTI_STATE_UNCOMMITTED, engine(h)->commit_status);
  DftiRelease(&h);
}

// The plan survives a re-commit that keeps its length and scaling mode;
// a scale it can apply itself moves into it, any other stays outside.
TEST(SplitStrategies, RecommitKeepsOrRebuildsThePlan) {
  DftiHandle h = nullptr;
  const split_test::Shape s = one_axis(50, false, 1, 1, 2, 50, 50);
  ASSERT_EQ(0, make_public(&h, s));
  const tqs::PlanRecord* first = one_axis_plan(h)->plan;
  ASSERT_EQ(0, DftiSet(h, DFTI_PLACEMENT, DFTI_NOT_INPLACE));  // uncommits, keeps the record
  ASSERT_EQ(0, DftiCommit(h));
  EXPECT_EQ(first, one_axis_plan(h)->plan);
  for (double scale : {1.0 / 50, 0.75}) {
    ASSERT_EQ(0, DftiSet(h, DFTI_FWD_SCALE, scale));
    ASSERT_EQ(0, DftiCommit(h));
    EXPECT_EQ(scale == 0.75 ? tqs::SCALE_NONE : tqs::SCALE_FORWARD, one_axis_plan(h)->mode);
    EXPECT_EQ(scale == 0.75 ? 0.75 : 1.0, one_axis_plan(h)->forward_scale);
    EXPECT_TRUE(check(h, s, true, scale));
  }
  DftiRelease(&h);
}

// Taking a descriptor over from another strategy frees that strategy's
// plan record (a direct block of the memory manager).
TEST(SplitStrategies, TakeOverFreesTheEarlierPlan) {
  uint64_t bytes = 0, before = 0, after = 0;
  tqs::mm_direct_totals(&bytes, &before);
  DftiHandle h = nullptr;
  ASSERT_EQ(0, DftiCreateDouble1D(&h, DFTI_COMPLEX, int64_t{52}));
  ASSERT_EQ(0, DftiCommit(h));
  ASSERT_EQ("small-complex", committed_by(h));
  ASSERT_EQ(0, DftiSet(h, DFTI_COMPLEX_LAYOUT, DFTI_REAL_REAL));
  ASSERT_EQ(0, DftiCommit(h));
  EXPECT_EQ("split-one-axis", committed_by(h));
  DftiRelease(&h);
  tqs::mm_direct_totals(&bytes, &after);
  EXPECT_EQ(before, after) << "blocks left behind";
}

// Counts and distances are 64-bit values the caller may choose freely:
// planning a block size from them must not overflow.
TEST(SplitStrategies, ExtremeCountsAndDistancesCommit) {
  const int64_t cases[][2] = {{4, INT64_MIN}, {int64_t{1} << 62, 1}, {INT64_MAX, -1}};
  for (const auto& c : cases) {
    for (int placement : {DFTI_INPLACE, DFTI_NOT_INPLACE}) {
      DftiHandle h = nullptr;
      ASSERT_EQ(0, DftiCreateDouble1D(&h, DFTI_COMPLEX, int64_t{20}));
      ASSERT_EQ(0, DftiSet(h, DFTI_COMPLEX_LAYOUT, DFTI_REAL_REAL));
      ASSERT_EQ(0, DftiSet(h, DFTI_PLACEMENT, placement));
      const int64_t strides[2] = {0, 3};
      ASSERT_EQ(0, DftiSet(h, DFTI_IN_STRIDES, strides));
      ASSERT_EQ(0, DftiSet(h, DFTI_TRANSFORM_COUNT, c[0]));
      ASSERT_EQ(0, DftiSet(h, DFTI_IN_DISTANCE, c[1]));
      ASSERT_EQ(0, DftiSet(h, DFTI_OUT_DISTANCE, c[1]));
      EXPECT_EQ(0, DftiCommit(h)) << c[0] << " " << c[1];
      DftiRelease(&h);
    }
  }
}

// The common release belongs to the committed strategy only.
TEST(SplitStrategies, ReleaseOfAnotherStrategysDescriptor) {
  DftiHandle h = nullptr;
  ASSERT_EQ(0, DftiCreateDouble1D(&h, DFTI_REAL, int64_t{16}));
  ASSERT_EQ(0, DftiCommit(h));
  const tqs::Strategy* split = split_test::api().find_strategy("split-one-axis");
  EXPECT_EQ(DFTI_STATUS_INTERNAL, split->release(split, engine(h)));
  EXPECT_EQ(DFTI_STATE_COMMITTED, engine(h)->commit_status);
  EXPECT_NE(nullptr, engine(h)->compute_forward);
  DftiRelease(&h);

  ASSERT_EQ(0, make_public(&h, one_axis(16, true)));
  EXPECT_EQ(0, split->release(split, engine(h)));
  EXPECT_EQ(nullptr, engine(h)->strategy_plan);
  EXPECT_EQ(DFTI_STATE_UNCOMMITTED, engine(h)->commit_status);
  EXPECT_EQ(0, split->release(split, engine(h)));  // a second release is harmless
  DftiRelease(&h);
}

}  // namespace
