// Which split-storage strategy takes a descriptor and which decline it,
// statuses of refused calls, the common release, and what a commit keeps
// or rebuilds.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/split_plan_types.h"
#include "split_harness.h"
#include "support/strategies.h"

namespace {

using split_test::check;
using split_test::make_public;
using split_test::one_axis;
using split_test::Shape;
using tqs_test::committed_by;
using tqs_test::engine;
using tqs_test::StrategySubset;

const tqs::SplitOneAxisPlan* one_axis_plan(DftiHandle h) {
  return static_cast<const tqs::SplitOneAxisPlan*>(engine(h)->strategy_plan);
}

TEST(SplitStrategies, PublicDescriptorsGoToTheOneAxisStrategy) {
  for (bool inplace : {false, true}) {
    DftiHandle h = nullptr;
    ASSERT_EQ(0, make_public(&h, one_axis(96, inplace, 1, 1, 3, 96, 96)));
    EXPECT_EQ("split-one-axis", committed_by(h));
    EXPECT_EQ(inplace ? 2 : 4, engine(h)->array_argument_count);
    DftiRelease(&h);
  }
}

TEST(SplitStrategies, InterleavedStorageAndOtherDomainsAreDeclined) {
  DftiHandle h = nullptr;
  ASSERT_EQ(0, DftiCreateDouble1D(&h, DFTI_COMPLEX, int64_t{8}));
  {
    StrategySubset only(h, {"split-multi-axis", "split-batch", "split-one-axis"});
    EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, DftiCommit(h));
    EXPECT_EQ("", committed_by(h));
    // Engine-made sub-problems are not theirs either.
    ASSERT_EQ(0, DftiSet(h, DFTI_COMPLEX_LAYOUT, DFTI_REAL_REAL));
    engine(h)->plan_flags |= tqs::FLAG_NESTED;
    EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, DftiCommit(h));
    engine(h)->plan_flags &= ~tqs::FLAG_NESTED;
    EXPECT_EQ(0, DftiCommit(h));
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
// earlier); a refused setting leaves the descriptor uncommitted.
TEST(SplitStrategies, RefusedCalls) {
  DftiHandle h = nullptr;
  const Shape s = one_axis(20, false);
  ASSERT_EQ(0, make_public(&h, s));
  tqs::EngineDescriptor* d = engine(h);
  std::vector<double> re(20, 1.0), im(20, 2.0), ore(20, 3.0), oim(20, 4.0);
  EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION,
            d->compute_forward(d, re.data(), im.data(), ore.data(), nullptr));
  EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION,
            d->compute_backward(d, nullptr, im.data(), ore.data(), oim.data()));
  EXPECT_EQ(std::vector<double>(20, 3.0), ore);
  EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, DftiSet(h, DFTI_PLACEMENT, 45));
  EXPECT_EQ(DFTI_STATUS_INVALID_CONFIGURATION, DftiForward(h, re.data(), im.data(), ore.data(), oim.data()));
  EXPECT_EQ(std::vector<double>(20, 3.0), ore);
  ASSERT_EQ(0, DftiCommit(h));
  EXPECT_TRUE(check(h, s, true, 1.0));
  DftiRelease(&h);

  ASSERT_EQ(0, make_public(&h, one_axis(20, true)));
  d = engine(h);
  EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, d->compute_forward(d, re.data(), nullptr, nullptr, nullptr));
  EXPECT_EQ(std::vector<double>(20, 1.0), re);
  DftiRelease(&h);
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
// a scale the plan can apply itself makes a new one.
TEST(SplitStrategies, RecommitKeepsOrRebuildsThePlan) {
  DftiHandle h = nullptr;
  const Shape s = one_axis(50, false, 1, 1, 2, 50, 50);
  ASSERT_EQ(0, make_public(&h, s));
  const tqs::PlanRecord* first = one_axis_plan(h)->plan;
  EXPECT_EQ(tqs::SCALE_NONE, one_axis_plan(h)->mode);
  ASSERT_EQ(0, DftiSet(h, DFTI_PLACEMENT, DFTI_NOT_INPLACE));  // uncommits, keeps the record
  ASSERT_EQ(0, DftiCommit(h));
  EXPECT_EQ(first, one_axis_plan(h)->plan);
  ASSERT_EQ(0, DftiSet(h, DFTI_FWD_SCALE, 1.0 / 50));
  ASSERT_EQ(0, DftiCommit(h));
  EXPECT_EQ(tqs::SCALE_FORWARD, one_axis_plan(h)->mode);
  EXPECT_EQ(1.0, one_axis_plan(h)->forward_scale);
  EXPECT_TRUE(check(h, s, true, 1.0 / 50));
  ASSERT_EQ(0, DftiSet(h, DFTI_FWD_SCALE, 0.75));
  ASSERT_EQ(0, DftiCommit(h));
  EXPECT_EQ(tqs::SCALE_NONE, one_axis_plan(h)->mode);
  EXPECT_EQ(0.75, one_axis_plan(h)->forward_scale);
  EXPECT_TRUE(check(h, s, true, 0.75));
  DftiRelease(&h);
}

TEST(SplitStrategies, ScalesThePlanTakesOver) {
  const int64_t n = 36;
  const double inv = 1.0 / n, root = 1.0 / std::sqrt(36.0);
  struct Expect {
    double f, b;
    int mode;
  } cases[] = {{1.0, 1.0, tqs::SCALE_NONE}, {inv, 1.0, tqs::SCALE_FORWARD}, {1.0, inv, tqs::SCALE_BACKWARD},
               {root, root, tqs::SCALE_BOTH_SQRT}, {inv, inv, tqs::SCALE_NONE}, {NAN, 1.0, tqs::SCALE_NONE}};
  for (const Expect& e : cases) {
    DftiHandle h = nullptr;
    ASSERT_EQ(0, make_public(&h, one_axis(n, true), {e.f, e.b}));
    EXPECT_EQ(e.mode, one_axis_plan(h)->mode) << e.f << "/" << e.b;
    DftiRelease(&h);
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

// Which worker path a layout takes, so that the layouts of the one-axis
// tests are known to cover each of them.
TEST(SplitStrategies, BlockingByLayout) {
  struct Expect {
    Shape shape;
    int64_t block, padded, team;  // team before the thread limit
  } cases[] = {
      {one_axis(100, true, 1, 1, 40, 100, 100), 1, 1, 40},
      {one_axis(8, false, 1, 1, 40, 8, 8), 1, 1, 10},           // short: 8 * 40 / 32
      {one_axis(8, false, 1, 1, 3, 8, 8), 1, 1, 0},
      {one_axis(100, true, 40, 40, 40, 1, 1), 8, 104, 5},       // 104 / 8 = 13, odd
      {one_axis(100, true, 2, 2, 40, 3, 3), 2, 104, 20},
      {one_axis(96, false, 1, 40, 40, 96, 1), 8, 104, 5},       // 96 / 8 = 12, even: 104
      {one_axis(100, false, 40, 1, 40, 1, 100), 8, 1, 40},      // into the output
      {one_axis(100, false, 40, 3, 40, 1, 4), 8, 104, 5},
      {one_axis(100, false, 40, 3, 40, 5, 2), 4, 104, 10},
      {one_axis(3, false, -2, -2, 9, -9, -1), 8, 8, 1},
  };
  for (const Expect& e : cases) {
    DftiHandle h = nullptr;
    ASSERT_EQ(0, make_public(&h, e.shape, {}, 1000));
    const tqs::SplitOneAxisPlan* p = one_axis_plan(h);
    EXPECT_EQ(e.block, p->block) << e.shape.describe();
    EXPECT_EQ(e.padded, p->padded) << e.shape.describe();
    EXPECT_EQ(std::min<int64_t>(e.team, engine(h)->thread_count), p->team) << e.shape.describe();
    DftiRelease(&h);
  }
}

}  // namespace
