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
  if (split_test::committed_by(e.d) != expected_strategy) {
    return ::testing::AssertionFailure() << "taken by " << split_test::committed_by(e.d) << ": " << s.describe();
  }
  auto r = check(handle(e.d), s, true, sc.forward, 3);
  if (r) r = check(handle(e.d), s, false, sc.backward, 4);
  return r;
}

// Each shape runs in both placements with a scale pair and a thread limit
// taken in turn: the scale must be applied once, whatever the axes.
TEST(SplitMultiAxis, TightAndStridedShapes) {
  std::vector<Shape> shapes;
  for (const std::vector<int64_t>& lengths : std::vector<std::vector<int64_t>>{
           {8, 6}, {5, 12}, {17, 32}, {64, 3}, {2, 2}, {4, 6, 5}, {3, 5, 7}, {16, 2, 9}}) {
    for (bool inplace : {false, true}) {
      shapes.push_back(tight(lengths, inplace));
      shapes.push_back(tight(lengths, inplace, 3));
    }
  }
  auto add = [&](std::vector<Dim> axes, std::vector<Dim> batches, bool inplace, int64_t in_lead,
                 int64_t out_lead) {
    shapes.push_back(with_leads(Shape{axes, batches, inplace}, in_lead, out_lead));
  };
  // Padded rows, axes whose strides run against the configured order,
  // output laid out unlike the input, negative strides, offsets.
  add({{10, 1, 1}, {7, 13, 11}}, {{1, 0, 0}}, false, 2, 5);
  add({{10, 1, 1}, {7, 13, 13}}, {{1, 0, 0}}, true, 4, 0);
  add({{10, 7, 1}, {7, 1, 10}}, {{1, 0, 0}}, false, 0, 0);
  add({{10, 1, 7}, {7, 10, 1}}, {{1, 0, 0}}, false, 1, 1);
  add({{6, -1, 2}, {5, -6, 12}}, {{2, 30, -60}}, false, 0, 3);
  add({{6, 2, 2}, {5, -13, -13}}, {{3, 70, 70}}, true, 2, 0);
  add({{4, 1, 1}, {3, 5, 4}, {5, 16, 13}}, {{2, 81, 65}}, false, 0, 0);
  add({{5, 4, 4}, {4, 1, 1}, {3, 20, 20}}, {{1, 0, 0}}, true, 1, 0);
  for (size_t i = 0; i < shapes.size(); ++i) {
    const double all = 1.0 / static_cast<double>(shapes[i].points());
    const Scales pairs[] = {{1.0, 1.0}, {all, 1.0}, {0.25, all}, {1.0 / shapes[i].axes[0].length, 2.0}};
    EXPECT_TRUE(both_directions(shapes[i], pairs[i % 4], "split-multi-axis", static_cast<int32_t>(i % 3)));
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
    EXPECT_EQ(expected[k], split_test::committed_by(plan->axes[k])) << k;
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
  const Shape shapes[] = {
      {{{16, 1, 1}}, {{3, 16, 16}, {4, 53, 60}}, false},
      {{{16, 1, 1}}, {{3, 16, 16}, {4, 53, 53}}, true},
      {{{6, 1, 1}}, {{2, 6, 6}, {3, 13, 14}, {2, 40, 45}}, false},
      {{{6, 1, 1}}, {{2, 6, 6}, {3, -13, -13}, {2, 40, 40}}, true},
      {{{7, 5, 1}}, {{5, 1, 7}, {3, 40, -35}}, false},  // interleaved input, gathered into the output
      {{{97, 2, 3}}, {{2, 1, 1}, {2, 200, 300}}, false},
  };
  for (const Shape& shape : shapes) {
    const Shape s = with_leads(shape, 3, 1);
    EXPECT_TRUE(both_directions(s, {}, "split-batch"));
    EXPECT_TRUE(both_directions(s, {1.0 / s.axes[0].length, 1.0}, "split-batch"));
    EXPECT_TRUE(both_directions(s, {0.5, -1.5}, "split-batch", 2));
  }
  EngineShape e(shapes[0]);
  std::vector<double> a(200, 1.0), b(200, 2.0);
  EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, e.d->compute_forward(e.d, a.data(), a.data(), b.data(), nullptr));
  EXPECT_EQ(std::vector<double>(200, 2.0), b);
}

}  // namespace
