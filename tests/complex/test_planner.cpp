// Which strategy takes a complex descriptor, what the general strategy sets
// up for it, and the configurations it refuses (status, nothing committed).
#include <thread>

#include "complex_harness.h"
#include "engine/descriptor.h"
#include "service/tqs_service.h"

using complex_test::Case;
using tqs_test::committed_by;
using tqs_test::engine;
using tqs_test::StrategySubset;

namespace {

struct Handle {
  DftiHandle h = nullptr;
  explicit Handle(int64_t n) { EXPECT_EQ(0, DftiCreateDouble1D(&h, DFTI_COMPLEX, n)); }
  ~Handle() { DftiRelease(&h); }
};

void expect_uncommitted(DftiHandle h) {
  int32_t state = 0;
  ASSERT_EQ(0, DftiGet(h, DFTI_COMMIT_STATE, &state));
  EXPECT_EQ(DFTI_STATE_UNCOMMITTED, state);
  std::vector<double> x(64);
  EXPECT_EQ(DFTI_STATUS_INVALID_CONFIGURATION, DftiForward(h, x.data(), x.data()));
}

TEST(ComplexPlanner, SingleTransformGoesStraightToItsAxisRoutine) {
  Handle d(1000);
  ASSERT_EQ(0, DftiSet(d.h, DFTI_PLACEMENT, DFTI_NOT_INPLACE));
  ASSERT_EQ(0, DftiCommit(d.h));
  EXPECT_EQ("general", committed_by(d.h));
  const tqs::EngineDescriptor* e = engine(d.h);
  EXPECT_EQ(1, e->thread_count);
  EXPECT_EQ(tqs::FLAG_SINGLE_THREAD | tqs::FLAG_DIRECT_AXIS,
            e->plan_flags & (tqs::FLAG_SINGLE_THREAD | tqs::FLAG_DIRECT_AXIS));
  EXPECT_EQ(2, e->array_argument_count);
}

TEST(ComplexPlanner, ShortTransformsThatThePlanCanScaleRunTheirPlanDirectly) {
  struct Expect {
    int64_t n;
    double forward_scale;
    const char* by;
  } cases[] = {
      {60, 1.0, "small-complex"},       {60, 1.0 / 60, "small-complex"},
      {60, 0.5, "general"},             {1000, 1.0 / 1000, "general"},
      {73, 1.0, "small-complex"},       {97, 1.0, "general"},
  };
  for (const Expect& e : cases) {
    Case c;
    c.n = e.n;
    c.forward_scale = e.forward_scale;
    c.expect_strategy = e.by;
    EXPECT_TRUE(complex_test::check(c)) << e.n;
  }
  // Strides, offsets and batches are not for it, but for unscaled vectors
  // up to 16 points.
  Case c;
  c.n = 60;
  c.in_offset = 1;
  c.expect_strategy = "general";
  EXPECT_TRUE(complex_test::check(c));
  for (int64_t n : {16, 17}) {
    for (double scale : {1.0, 0.5}) {
      Case s;
      s.n = n;
      s.in_stride = 2;
      s.forward_scale = scale;
      s.expect_strategy = n <= 16 && scale == 1.0 ? "small-complex" : "general";
      EXPECT_TRUE(complex_test::check(s)) << n << " " << scale;
    }
  }
}

TEST(ComplexPlanner, InPlaceIgnoresTheOutputStrides) {
  Handle d(30);
  int64_t in[2] = {0, 2}, out[2] = {5, 7};
  ASSERT_EQ(0, DftiSet(d.h, DFTI_IN_STRIDES, in));
  ASSERT_EQ(0, DftiSet(d.h, DFTI_OUT_STRIDES, out));
  ASSERT_EQ(0, DftiCommit(d.h));
  std::vector<double> x(2 * 60, 0.0), want(60);
  for (int j = 0; j < 30; ++j) x[4 * j] = j % 7 - 3.0;
  std::vector<double> v(60);
  for (int j = 0; j < 30; ++j) v[2 * j] = x[4 * j];
  tqs_test::reference_complex(v.data(), want.data(), 30, -1);
  ASSERT_EQ(0, DftiForward(d.h, x.data()));
  for (int j = 0; j < 30; ++j) {
    EXPECT_NEAR(want[2 * j], x[4 * j], 1e-12);
    EXPECT_NEAR(want[2 * j + 1], x[4 * j + 1], 1e-12);
  }
}

TEST(ComplexPlanner, BatchesOfLongTransformsAreMarkedLarge) {
  const double cache = std::max(tqs_cache_size(0), 1048576);
  for (int64_t n : {64, 512, 1024}) {
    Handle d(n);
    ASSERT_EQ(0, DftiSet(d.h, DFTI_TRANSFORM_COUNT, (int64_t)2));
    ASSERT_EQ(0, DftiSet(d.h, DFTI_IN_DISTANCE, n));
    ASSERT_EQ(0, DftiSet(d.h, DFTI_OUT_DISTANCE, n));
    ASSERT_EQ(0, DftiCommit(d.h));
    const bool large = 16.0 * n * n > cache;
    EXPECT_EQ(large, (engine(d.h)->plan_flags & tqs::FLAG_LARGE) != 0) << n;
  }
}

TEST(ComplexPlanner, RefusalsLeaveTheDescriptorUncommitted) {
  {
    Handle d(16);
    ASSERT_EQ(0, DftiSet(d.h, DFTI_TRANSFORM_COUNT, (int64_t)0));
    EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, DftiCommit(d.h));
    expect_uncommitted(d.h);
  }
  {
    Handle d(1000);
    ASSERT_EQ(0, DftiSet(d.h, DFTI_NUMBER_OF_USER_THREADS, (int64_t)(1 << 27)));
    {
      StrategySubset only(d.h, {"general"});
      EXPECT_EQ(DFTI_STATUS_MEMORY, DftiCommit(d.h));
      expect_uncommitted(d.h);
    }
    // The convolution strategy, last in the list, declines several users.
    EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, DftiCommit(d.h));
    expect_uncommitted(d.h);
    ASSERT_EQ(0, DftiSet(d.h, DFTI_NUMBER_OF_USER_THREADS, (int64_t)4));
    EXPECT_EQ(0, DftiCommit(d.h));
  }
  // Natural-order vectors beyond the plan limits run as a decomposition into
  // shorter plans; in permuted order nothing takes them.
  for (int64_t n : {(int64_t(1) << 24) + 2, (int64_t(1) << 27), int64_t(1) << 40}) {
    Handle d(n);
    ASSERT_EQ(0, DftiSet(d.h, DFTI_TRANSFORM_COUNT, (int64_t)2));
    ASSERT_EQ(0, DftiSet(d.h, DFTI_OUTPUT_ORDER, DFTI_ORDER_PERMUTED_BACKWARD));
    StrategySubset only(d.h, {"general"});
    EXPECT_EQ(DFTI_STATUS_DIMENSION_TOO_LARGE, DftiCommit(d.h)) << n;
    expect_uncommitted(d.h);
  }
}

TEST(ComplexPlanner, SettingsUncommitAndRecommitsReplaceThePlan) {
  Handle d(100);
  ASSERT_EQ(0, DftiCommit(d.h));
  ASSERT_EQ(0, DftiSet(d.h, DFTI_PLACEMENT, DFTI_NOT_INPLACE));
  expect_uncommitted(d.h);
  // Any strategy may follow any other on the same descriptor.
  for (const char* s : {"general", "small-complex", "bluestein", "general", "small-complex"}) {
    StrategySubset only(d.h, {s});
    ASSERT_EQ(0, DftiCommit(d.h)) << s;
    EXPECT_EQ(s, committed_by(d.h));
    EXPECT_EQ(2, engine(d.h)->array_argument_count);
  }
  ASSERT_EQ(0, DftiSet(d.h, DFTI_FWD_SCALE, 0.5));
  expect_uncommitted(d.h);
}

// Several user threads on one descriptor, each call in its own slot.
TEST(ComplexPlanner, UserThreadsShareOneDescriptor) {
  for (int64_t n : {97, 1000, 4099}) {
    Handle d(n);
    ASSERT_EQ(0, DftiSet(d.h, DFTI_PLACEMENT, DFTI_NOT_INPLACE));
    ASSERT_EQ(0, DftiSet(d.h, DFTI_NUMBER_OF_USER_THREADS, (int64_t)4));
    ASSERT_EQ(0, DftiSet(d.h, DFTI_BWD_SCALE, 1.0 / static_cast<double>(n)));
    ASSERT_EQ(0, DftiCommit(d.h));
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        std::vector<double> x(2 * n), y(2 * n), back(2 * n);
        for (int64_t j = 0; j < 2 * n; ++j) x[j] = std::sin(0.3 * (j + 1) * (t + 1));
        for (int r = 0; r < 20; ++r) {
          if (DftiForward(d.h, x.data(), y.data()) != 0) ++failures;
          if (DftiBackward(d.h, y.data(), back.data()) != 0) ++failures;
          for (int64_t j = 0; j < 2 * n; ++j) {
            if (std::fabs(back[j] - x[j]) > 1e-12) {
              ++failures;
              break;
            }
          }
        }
      });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(0, failures.load()) << n;
  }
}

TEST(ComplexPlanner, EveryBusySlotGives8) {
  Handle d(1000);
  ASSERT_EQ(0, DftiSet(d.h, DFTI_NUMBER_OF_USER_THREADS, (int64_t)2));
  ASSERT_EQ(0, DftiCommit(d.h));
  int64_t* slots = engine(d.h)->user_thread_slots;
  ASSERT_NE(nullptr, slots);
  std::vector<double> x(2000, 1.0);
  slots[0] = slots[1] = 1;
  EXPECT_EQ(DFTI_STATUS_USER_THREADS, DftiForward(d.h, x.data()));
  slots[1] = 0;
  EXPECT_EQ(0, DftiForward(d.h, x.data()));
  EXPECT_EQ(0, slots[1]);
  slots[0] = 0;
}

}  // namespace
