// What the real planner leaves in a committed descriptor: plan flags, the
// per-axis plan or whole-vector kernel, work buffer, slot table, the LARGE
// flag, and for multi-axis descriptors (reachable only from inside the
// engine) the axis chain and the placement of the scale.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "engine/descriptor.h"
#include "engine/level_api.h"
#include "service/tqs_service.h"
#include "tqs_dfti.h"

namespace {

using tqs::EngineDescriptor;

EngineDescriptor* engine(DftiHandle h) { return reinterpret_cast<EngineDescriptor*>(h); }

DftiHandle committed(int64_t n, bool inplace, bool cce, int64_t stride = 1, int64_t count = 1,
                     int64_t users = 1) {
  DftiHandle h = nullptr;
  EXPECT_EQ(0, DftiCreateDouble1D(&h, DFTI_REAL, n));
  if (!inplace) {
    EXPECT_EQ(0, DftiSet(h, DFTI_PLACEMENT, DFTI_NOT_INPLACE));
  }
  if (cce) {
    EXPECT_EQ(0, DftiSet(h, DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_COMPLEX));
  }
  if (stride != 1) {
    int64_t s[2] = {0, stride};
    EXPECT_EQ(0, DftiSet(h, DFTI_IN_STRIDES, s));
  }
  if (count != 1) {
    EXPECT_EQ(0, DftiSet(h, DFTI_TRANSFORM_COUNT, count));
    EXPECT_EQ(0, DftiSet(h, DFTI_IN_DISTANCE, n + 2));
    EXPECT_EQ(0, DftiSet(h, DFTI_OUT_DISTANCE, n + 2));
  }
  if (users != 1) {
    EXPECT_EQ(0, DftiSet(h, DFTI_NUMBER_OF_USER_THREADS, users));
  }
  EXPECT_EQ(0, DftiCommit(h));
  return h;
}

TEST(RealPlanner, TheExampleDescriptor) {
  DftiHandle h = committed(6, false, true);
  EngineDescriptor* d = engine(h);
  EXPECT_EQ(tqs::FLAG_SINGLE_THREAD | tqs::FLAG_DIRECT_AXIS,
            d->plan_flags & (tqs::FLAG_SINGLE_THREAD | tqs::FLAG_MULTI_AXIS | tqs::FLAG_DIRECT_AXIS));
  EXPECT_EQ(0u, d->plan_flags & tqs::FLAG_LARGE);
  EXPECT_EQ(1, d->thread_count);
  EXPECT_EQ(2, d->array_argument_count);
  EXPECT_EQ(DFTI_STATE_COMMITTED, d->commit_status);
  EXPECT_NE(nullptr, d->real_plan);
  EXPECT_EQ(0, d->max_work_size);
  EXPECT_EQ(nullptr, d->work_buffer);
  EXPECT_EQ(nullptr, d->next);
  EXPECT_EQ(4, d->half_length);
  DftiRelease(&h);
}

TEST(RealPlanner, InPlaceTakesOneArray) {
  DftiHandle h = committed(6, true, false);
  EXPECT_EQ(1, engine(h)->array_argument_count);
  DftiRelease(&h);
}

// The short powers of two skip the plan when both strides are 1 (from 32 on
// at the AVX levels, whose lengths up to 16 take the short-vector routines;
// there 128 does too in complex pairs, its half being one complex kernel).
TEST(RealPlanner, WholeVectorKernelsReplaceThePlan) {
  const bool avx = tqs_cpu_level() >= 4;
  for (int64_t n : {2, 4, 8, 16, 32, 64, 128}) {
    const bool whole_vector = n == 128 ? avx : !avx || n >= 32;
    DftiHandle h = committed(n, false, true);
    EXPECT_EQ(whole_vector, engine(h)->real_plan == nullptr) << n;
    DftiRelease(&h);
    h = committed(n, false, true, 2);
    EXPECT_NE(nullptr, engine(h)->real_plan) << "strided " << n;
    DftiRelease(&h);
  }
  for (int64_t n : {1, 3, 256}) {
    DftiHandle h = committed(n, false, true);
    EXPECT_NE(nullptr, engine(h)->real_plan) << n;
    DftiRelease(&h);
  }
  DftiHandle h = nullptr;
  ASSERT_EQ(0, DftiCreateDouble1D(&h, DFTI_REAL, int64_t{128}));
  ASSERT_EQ(0, DftiSet(h, DFTI_PACKING, DFTI_PACKING_PERMUTED));
  ASSERT_EQ(0, DftiCommit(h));
  EXPECT_NE(nullptr, engine(h)->real_plan) << "permuted 128";
  DftiRelease(&h);
}

// The other even lengths from 18 to 62 as well, in complex pairs only; at
// the AVX levels a half of 22 points or more with a two-lane transform of
// its own (26 = 2 x 13, 30 = 5 x 6) keeps the plan.
TEST(RealPlanner, WholeVectorKernelsForTheOtherShortEvenLengths) {
  for (int64_t n : {18, 20, 30, 40, 46, 48, 52, 60, 62, 66}) {
    const bool kept_plan = n > 62 || (tqs_cpu_level() >= 4 && (n == 52 || n == 60));
    DftiHandle h = committed(n, n % 4 == 0, true);
    EXPECT_EQ(kept_plan, engine(h)->real_plan != nullptr) << n;
    DftiRelease(&h);
    h = nullptr;
    ASSERT_EQ(0, DftiCreateDouble1D(&h, DFTI_REAL, n));
    ASSERT_EQ(0, DftiSet(h, DFTI_PACKING, DFTI_PACKING_PERMUTED));
    ASSERT_EQ(0, DftiCommit(h));
    EXPECT_NE(nullptr, engine(h)->real_plan) << "permuted " << n;
    DftiRelease(&h);
  }
}

TEST(RealPlanner, FlagsForBatchesStridesAndUserThreads) {
  const uint32_t mask = tqs::FLAG_SINGLE_THREAD | tqs::FLAG_MULTI_AXIS | tqs::FLAG_DIRECT_AXIS;
  DftiHandle h = committed(10, true, false, 1, 4);
  EXPECT_EQ(0u, engine(h)->plan_flags & mask);
  DftiRelease(&h);
  h = committed(10, true, false, 3);
  EXPECT_EQ(0u, engine(h)->plan_flags & mask);
  DftiRelease(&h);
  // Several user threads: one vector runs per slot, never through bit 2.
  h = committed(10, true, false, 1, 1, 3);
  EXPECT_EQ(tqs::FLAG_SINGLE_THREAD, engine(h)->plan_flags & mask);
  EXPECT_NE(nullptr, engine(h)->user_thread_slots);
  EXPECT_EQ(1, engine(h)->thread_count);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(0, engine(h)->user_thread_slots[i]);
  DftiRelease(&h);
}

TEST(RealPlanner, WorkBufferIsAlignedAndSlicedPerUserThread) {
  const int64_t alignment = tqs_cpu_level() == 4 ? 4096 : 256;
  for (int64_t users : {1, 3}) {
    DftiHandle h = committed(1000, false, true, 1, 1, users);
    EngineDescriptor* d = engine(h);
    if (d->max_work_size > 0) {
      EXPECT_EQ(0, d->max_work_size % alignment);
      EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(d->work_buffer) % alignment);
    }
    DftiRelease(&h);
  }
}

TEST(RealPlanner, LargeFlagFollowsTheSquareOfTheLength) {
  const int64_t cache = tqs_cache_size(0) > (1 << 20) ? tqs_cache_size(0) : (1 << 20);
  for (int64_t n : {64, 362, 363, 4096}) {
    DftiHandle h = committed(n, false, true);
    const bool large = n * n * 8 > cache;
    EXPECT_EQ(large, (engine(h)->plan_flags & tqs::FLAG_LARGE) != 0) << n;
    DftiRelease(&h);
  }
}

// Multi-axis descriptors cannot be configured through the public calls; the
// engine's own creation routine makes them.
struct MultiAxis {
  EngineDescriptor* d = nullptr;
  explicit MultiAxis(std::vector<int64_t> innermost_first, double forward_scale) {
    const tqs::LevelApi* api = tqs::level_apis[tqs_cpu_level()];
    EXPECT_EQ(0, api->create_engine_descriptor(&d, DFTI_DOUBLE, DFTI_REAL,
                                               static_cast<int>(innermost_first.size()),
                                               innermost_first.data()));
    tqs_install_default_threading(d->threading);
    d->strategy_list = api->real_strategies;
    EXPECT_EQ(0, d->methods->set_scale(d, forward_scale, DFTI_FWD_SCALE));
  }
  ~MultiAxis() { d->destroy(d); }
};

TEST(RealPlanner, MultiAxisChainCarriesTheScaleOnItsShortestAxis) {
  struct Expect {
    std::vector<int64_t> lengths;
    int scaled_axis;
  } cases[] = {{{8, 1}, 0}, {{6, 4}, 1}, {{5, 5, 9}, 0}, {{1, 1}, 0}, {{1, 3, 2}, 2}};
  for (auto& e : cases) {
    MultiAxis m(e.lengths, 0.5);
    // Tight strides, as creation would have set them.
    int64_t product = 1;
    for (size_t i = 0; i < e.lengths.size(); ++i) {
      m.d->dims.records[i].input_stride = m.d->dims.records[i].output_stride = product;
      product *= e.lengths[i];
    }
    m.d->placement = DFTI_NOT_INPLACE;
    ASSERT_EQ(0, m.d->methods->commit(m.d));
    int axis = 0;
    int64_t total = 1;
    for (EngineDescriptor* a = m.d; a != nullptr; a = a->next, ++axis) {
      EXPECT_EQ(axis == e.scaled_axis ? 0.5 : 1.0, a->active_forward_scale) << axis;
      EXPECT_EQ(1.0, a->active_backward_scale);
      EXPECT_EQ(axis, a->axis_index);
      EXPECT_EQ(e.lengths[axis], a->length);
      EXPECT_EQ(DFTI_STATE_COMMITTED, a->commit_status);
      total *= e.lengths[axis];
    }
    EXPECT_EQ(static_cast<int>(e.lengths.size()), axis);
    EXPECT_EQ(total, m.d->total_points);
    EXPECT_EQ(total / e.lengths[0] * (e.lengths[0] / 2 + 1), m.d->total_half_points);
  }
}

TEST(RealPlanner, EightAxesAreNotImplemented) {
  MultiAxis m(std::vector<int64_t>(8, 2), 1.0);
  // The whole walk ends with a one-axis strategy's "not applicable".
  EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, m.d->methods->commit(m.d));
  const tqs::Strategy* general[] = {tqs::level_apis[tqs_cpu_level()]->find_strategy("general"), nullptr};
  m.d->strategy_list = general;
  EXPECT_EQ(DFTI_STATUS_NOT_IMPLEMENTED, m.d->methods->commit(m.d));
  EXPECT_EQ(DFTI_STATE_UNCOMMITTED, m.d->commit_status);
  EXPECT_EQ(nullptr, m.d->next);
}

}  // namespace
