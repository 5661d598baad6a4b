// Split-storage descriptors of several axes, and one axis with several
// transforms records, made by the engine's own creation routine (the
// public calls make one-axis descriptors only) and checked against the
// long-double reference applied axis by axis.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/split_plan_types.h"
#include "split_harness.h"

namespace {

using split_test::check;
using split_test::Dim;
using split_test::EngineShape;
using split_test::handle;
using split_test::Scales;
using split_test::Shape;
using split_test::with_leads;

Shape tight(std::vector<int64_t> lengths, bool inplace, int64_t count = 1) {
  Shape s;
  int64_t stride = 1;
  for (int64_t n : lengths) {
    s.axes.push_back({n, stride, stride});
    stride *= n;
  }
  s.batches = {{count, count > 1 ? stride : 0, count > 1 ? stride : 0}};
  s.inplace = inplace;
  return s;
}

::testing::AssertionResult both_directions(const Shape& s, Scales sc, const char* expected_strategy,
                                           int32_t thread_limit = 0) {
  EngineShape e(s, sc);
  if (e.status != 0) return ::testing::AssertionFailure() << "commit " << e.status << ": " << s.describe();
  if (thread_limit > 0) {
    e.d->thread_limit = thread_limit;
    if (e.d->methods->commit_prepared(e.d) != 0) return ::testing::AssertionFailure() << "recommit";
  }
  if (e.committed_by() != expected_strategy) {
    return ::testing::AssertionFailure() << "taken by " << e.committed_by() << ": " << s.describe();
  }
  auto r = check(handle(e.d), s, true, sc.forward, 3);
  if (r) r = check(handle(e.d), s, false, sc.backward, 4);
  return r;
}

TEST(SplitMultiAxis, TightTwoAndThreeAxes) {
  const std::vector<std::vector<int64_t>> shapes = {{8, 6}, {5, 12}, {17, 32}, {64, 3}, {2, 2},
                                                    {4, 6, 5}, {3, 5, 7}, {16, 2, 9}};
  for (const auto& lengths : shapes) {
    for (bool inplace : {false, true}) {
      EXPECT_TRUE(both_directions(tight(lengths, inplace), {}, "split-multi-axis"));
      EXPECT_TRUE(both_directions(tight(lengths, inplace, 3), {}, "split-multi-axis"));
    }
  }
}

// The scale of the whole transform is applied once, whatever the number of
// axes; a plan-sized scale of the first axis is no special case.
TEST(SplitMultiAxis, ScaleAppliedOnce) {
  for (bool inplace : {false, true}) {
    EXPECT_TRUE(both_directions(tight({8, 6}, inplace), {1.0 / 48, 1.0}, "split-multi-axis"));
    EXPECT_TRUE(both_directions(tight({8, 6}, inplace), {1.0 / 8, 0.5}, "split-multi-axis"));
    EXPECT_TRUE(both_directions(tight({4, 6, 5}, inplace, 2), {3.0, 1.0 / 120}, "split-multi-axis"));
  }
}

// Padded rows, axes whose strides run against the configured order, output
// laid out differently from the input, negative strides, offsets.
TEST(SplitMultiAxis, StridesAndOffsets) {
  std::vector<Shape> shapes;
  auto add = [&](std::vector<Dim> axes, std::vector<Dim> batches, bool inplace, int64_t in_lead,
                 int64_t out_lead) {
    Shape s;
    s.axes = axes;
    s.batches = batches;
    s.inplace = inplace;
    shapes.push_back(with_leads(s, in_lead, out_lead));
  };
  add({{10, 1, 1}, {7, 13, 11}}, {{1, 0, 0}}, false, 2, 5);
  add({{10, 1, 1}, {7, 13, 13}}, {{1, 0, 0}}, true, 4, 0);
  add({{10, 7, 1}, {7, 1, 10}}, {{1, 0, 0}}, false, 0, 0);      // input axes swapped in memory
  add({{10, 1, 7}, {7, 10, 1}}, {{1, 0, 0}}, false, 1, 1);      // output transposed
  add({{6, -1, 2}, {5, -6, 12}}, {{2, 30, -60}}, false, 0, 3);  // negative strides and distance
  add({{6, 2, 2}, {5, -13, -13}}, {{3, 70, 70}}, true, 2, 0);
  add({{4, 1, 1}, {3, 5, 4}, {5, 16, 13}}, {{2, 81, 65}}, false, 0, 0);
  add({{5, 4, 4}, {4, 1, 1}, {3, 20, 20}}, {{1, 0, 0}}, true, 1, 0);
  for (const Shape& s : shapes) {
    EXPECT_TRUE(both_directions(s, {}, "split-multi-axis"));
    EXPECT_TRUE(both_directions(s, {0.25, 2.0}, "split-multi-axis"));
  }
}

// Axes of length 1 vanish at commit: what remains is one axis.
TEST(SplitMultiAxis, UnitAxesLeaveOneAxis) {
  for (bool inplace : {false, true}) {
    EXPECT_TRUE(both_directions(tight({1, 7}, inplace), {0.5, 1.0}, "split-one-axis"));
    EXPECT_TRUE(both_directions(tight({9, 1, 1}, inplace, 2), {}, "split-one-axis"));
    EXPECT_TRUE(both_directions(tight({3, 1, 4}, inplace), {}, "split-multi-axis"));
  }
}

TEST(SplitMultiAxis, ThreadLimits) {
  for (int32_t limit : {1, 2, 3}) {
    EXPECT_TRUE(both_directions(tight({12, 40}, false, 2), {}, "split-multi-axis", limit));
    EXPECT_TRUE(both_directions(tight({33, 8, 3}, true), {}, "split-multi-axis", limit));
  }
}

// Inner axes are split further where their transforms do not merge into
// one record: the middle axis of a tight 3-D transform is a batch.
TEST(SplitMultiAxis, InnerDescriptorsPerAxis) {
  EngineShape e(tight({4, 6, 5}, false));
  ASSERT_EQ(0, e.status);
  const auto* plan = static_cast<const tqs::SplitMultiAxisPlan*>(e.d->strategy_plan);
  ASSERT_EQ(3, plan->count);
  const char* expected[] = {"split-one-axis", "split-batch", "split-one-axis"};
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(expected[k], std::string(split_test::api().committed_strategy_name(plan->axes[k]))) << k;
  }
  EXPECT_EQ(DFTI_NOT_INPLACE, plan->axes[0]->placement);
  EXPECT_EQ(DFTI_INPLACE, plan->axes[1]->placement);
  EXPECT_EQ(DFTI_INPLACE, plan->axes[2]->placement);
}

// A re-commit re-configures the inner descriptors it keeps: a change of
// placement or of the scale must reach them.
TEST(SplitMultiAxis, RecommitReconfiguresInnerDescriptors) {
  Shape s = tight({6, 10}, false, 2);
  EngineShape e(s);
  ASSERT_EQ(0, e.status);
  EXPECT_TRUE(check(handle(e.d), s, true, 1.0));
  s.inplace = true;
  e.d->placement = DFTI_INPLACE;
  e.d->methods->set_scale(e.d, 0.5, DFTI_FWD_SCALE);
  ASSERT_EQ(0, e.d->methods->commit(e.d));
  EXPECT_EQ(2, e.d->array_argument_count);
  EXPECT_TRUE(check(handle(e.d), s, true, 0.5));
  EXPECT_TRUE(check(handle(e.d), s, false, 1.0));
  // A setting that does not release the plan: the inner descriptors stay
  // and take the new placement.
  const auto* plan = static_cast<const tqs::SplitMultiAxisPlan*>(e.d->strategy_plan);
  const tqs::EngineDescriptor* first_axis = plan->axes[0];
  e.d->placement = DFTI_NOT_INPLACE;
  ASSERT_EQ(0, e.d->methods->commit(e.d));
  plan = static_cast<const tqs::SplitMultiAxisPlan*>(e.d->strategy_plan);
  EXPECT_EQ(first_axis, plan->axes[0]);
  EXPECT_EQ(DFTI_NOT_INPLACE, plan->axes[0]->placement);
  s.inplace = false;
  EXPECT_TRUE(check(handle(e.d), s, true, 0.5));
}

// One axis with several transforms records (lists arranged by hand, as a
// strategy arranges them for its inner descriptors): the outermost record
// is a loop, the rest goes on down.
TEST(SplitBatch, SeveralTransformsRecords) {
  std::vector<Shape> shapes;
  auto add = [&](std::vector<Dim> axes, std::vector<Dim> batches, bool inplace) {
    Shape s;
    s.axes = axes;
    s.batches = batches;
    s.inplace = inplace;
    shapes.push_back(with_leads(s, 3, 1));
  };
  add({{16, 1, 1}}, {{3, 16, 16}, {4, 53, 60}}, false);
  add({{16, 1, 1}}, {{3, 16, 16}, {4, 53, 53}}, true);
  add({{6, 1, 1}}, {{2, 6, 6}, {3, 13, 14}, {2, 40, 45}}, false);
  add({{6, 1, 1}}, {{2, 6, 6}, {3, -13, -13}, {2, 40, 40}}, true);
  add({{7, 5, 1}}, {{5, 1, 7}, {3, 40, -35}}, false);  // interleaved input, gathered into the output
  add({{97, 2, 3}}, {{2, 1, 1}, {2, 200, 300}}, false);
  for (const Shape& s : shapes) {
    EXPECT_TRUE(both_directions(s, {}, "split-batch"));
    EXPECT_TRUE(both_directions(s, {1.0 / s.axes[0].length, 1.0}, "split-batch"));
    EXPECT_TRUE(both_directions(s, {0.5, -1.5}, "split-batch", 2));
  }
}

TEST(SplitBatch, NullArraysAreRefused) {
  Shape s;
  s.axes = {{8, 1, 1}};
  s.batches = {{2, 8, 8}, {2, 16, 16}};
  EngineShape e(s);
  ASSERT_EQ(0, e.status);
  std::vector<double> a(32, 1.0), b(32, 2.0);
  EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION,
            e.d->compute_forward(e.d, a.data(), a.data(), b.data(), nullptr));
  EXPECT_EQ(std::vector<double>(32, 2.0), b);
}

}  // namespace
