// The four-step transform on a team: how lengths split, which descriptors
// it takes, and its results for every placement and scratch policy against
// the long-double reference. Its members own disjoint columns and rows, so
// every team size must give the same bits.
#include <cstdlib>
#include <cstring>

#include "parallel_harness.h"
#include "support/process.h"

namespace {

using parallel_test::Committed;
using parallel_test::Dynamic;
using parallel_test::Shape;

// Three threads keep powers of two away from the large kernels, which take
// 2, 4 and 8 threads out of place below AVX.
constexpr int64_t kTeam = 3;

// With dynamic adjustment on, the thread rules give short transforms one
// thread and the per-axis plan; the tests of the team itself turn it off.

TEST(FourStepPlan, SplitsAndDeclines) {
  const Dynamic fixed(false);
  struct Want {
    int64_t n, n1, n2;
  } cases[] = {{2048, 32, 64},   {1 << 20, 1024, 1024}, {1 << 21, 1024, 2048}, {3000, 50, 60},
               {59049, 243, 243}, {1000000, 1000, 1000}, {8212, 4, 2053},     {2053, 0, 0},
               {1 << 10, 0, 0},  {2047, 0, 0}};
  for (const Want& w : cases) {
    Shape s;
    s.n = w.n;
    s.threads = kTeam;
    s.inplace = true;
    Committed c(s);
    ASSERT_EQ(0, c.status()) << s.describe();
    EXPECT_EQ(std::make_pair(w.n1, w.n2), c.four_step_factors()) << s.describe();
    if (w.n1 == 0) {
      EXPECT_EQ(nullptr, c.engine().large_forward) << s.describe();
      EXPECT_EQ(1, c.engine().thread_count) << s.describe();
    } else {
      // One sub-descriptor serves both steps of a square split.
      const auto* plan = static_cast<void* const*>(c.engine().commit_hook_armed);
      EXPECT_EQ(w.n1 == w.n2, plan[4] == plan[5]) << s.describe();
      EXPECT_GE(c.engine().thread_count, 2) << s.describe();
    }
  }
}

// 9 x 190717 x 3772328173: the best split leaves a prime row of 3.8e9
// points. The commit must refuse it at once, not fill tables of that size.
TEST(FourStepPlan, RowsBeyondTheLongestPlanAreRefused) {
  for (int threads : {1, static_cast<int>(kTeam)}) {
    Shape s;
    s.n = 6475024009530369;
    s.threads = threads;
    s.inplace = threads == 1;
    Committed c(s);
    EXPECT_NE(0, c.status()) << s.describe();
    int32_t state = 0;
    EXPECT_EQ(0, DftiGet(c.handle(), DFTI_COMMIT_STATE, &state));
    EXPECT_EQ(DFTI_STATE_UNCOMMITTED, state);
  }
}

TEST(FourStepPlan, OnlySingleNaturalUnitStrideTransforms) {
  Shape batch;
  batch.n = 3000;
  batch.threads = kTeam;
  batch.count = 2;
  Shape strided = batch;
  strided.count = 1;
  strided.in_stride = 2;
  Shape one_thread = strided;
  one_thread.in_stride = 1;
  one_thread.threads = 1;
  for (const Shape& s : {batch, strided, one_thread}) {
    Committed c(s);
    ASSERT_EQ(0, c.status()) << s.describe();
    EXPECT_EQ(nullptr, c.engine().commit_hook_armed) << s.describe();
    EXPECT_EQ(nullptr, c.engine().large_forward) << s.describe();
  }
  // Permuted output order keeps the per-axis plans.
  DftiHandle h = nullptr;
  ASSERT_EQ(0, DftiCreateDouble1D(&h, DFTI_COMPLEX, (int64_t)3000));
  ASSERT_EQ(0, DftiSet(h, DFTI_OUTPUT_ORDER, DFTI_ORDER_PERMUTED_BACKWARD));
  ASSERT_EQ(0, DftiSet(h, DFTI_MAX_THREADS, kTeam));
  ASSERT_EQ(0, DftiCommit(h));
  EXPECT_EQ(nullptr, tqs_test::engine(h)->commit_hook_armed);
  DftiRelease(&h);
}

// Every placement and scratch policy, with and without scales: the
// temporary, the output as the intermediate array, and the in-place
// transposition of square (65536; 3^10 = 243 x 243, not in blocks of 4),
// block-rectangular (2^17: 256 x 512) and general (3000: 50 x 60) splits.
TEST(FourStepThreads, PlacementsPoliciesAndScales) {
  const Dynamic fixed(false);
  for (int64_t n : {int64_t(2048), int64_t(3000), int64_t(59049), int64_t(65536), int64_t(1) << 17}) {
    for (bool inplace : {false, true}) {
      for (bool avoid : {false, true}) {
        Shape s;
        s.n = n;
        s.threads = kTeam;
        s.inplace = inplace;
        s.avoid_scratch = avoid;
        if (avoid != inplace) {
          s.forward_scale = 0.5;
          s.backward_scale = 1.0 / static_cast<double>(n);
        }
        Committed c(s);
        ASSERT_EQ(0, c.status()) << s.describe();
        EXPECT_TRUE(c.four_step_team()) << s.describe();
        EXPECT_TRUE(parallel_test::both_directions(c, s));
      }
    }
  }
}

TEST(FourStepLengths, Long) {
  const Dynamic fixed(false);
  struct L {
    int64_t n;
    bool inplace, avoid;
  } cases[] = {{int64_t(1) << 20, false, true}, {int64_t(1) << 21, true, true}, {int64_t(1) << 22, false, false}};
  for (const L& l : cases) {
    Shape s;
    s.n = l.n;
    s.threads = kTeam;
    s.inplace = l.inplace;
    s.avoid_scratch = l.avoid;
    Committed c(s);
    EXPECT_TRUE(c.four_step_team()) << s.describe();
    EXPECT_TRUE(parallel_test::both_directions(c, s));
  }
}

// Team sizes change who computes a column or a row, never how: the bits
// agree for every size, also with more members than column blocks (2048:
// 64 columns, 8 blocks). One thread runs the per-axis plan instead, equal
// to rounding.
TEST(FourStepThreads, EveryTeamGivesTheSameBits) {
  const Dynamic fixed(false);
  for (int64_t n : {int64_t(2048), int64_t(3000), int64_t(1) << 17}) {
    for (bool avoid : {false, true}) {
      std::vector<double> first;
      for (int64_t threads : {1, 2, 3, 4, 8, 16}) {
        Shape s;
        s.n = n;
        s.threads = threads;
        s.inplace = true;
        s.avoid_scratch = avoid;
        Committed c(s);
        ASSERT_EQ(0, c.status()) << s.describe();
        EXPECT_EQ(threads > 1, c.four_step_team()) << s.describe();
        std::vector<double> y;
        ASSERT_TRUE(parallel_test::run_direction(c, s, true, &y));
        if (threads == 1) continue;
        if (first.empty()) {
          first = y;
        } else {
          EXPECT_EQ(0, std::memcmp(first.data(), y.data(), y.size() * sizeof(double))) << s.describe();
        }
      }
    }
  }
}

// A member whose work area is refused still meets the others at the barrier
// between the steps (a team of four in a child process, where every work
// area comes from a system allocator that refuses the chosen call): the call
// answers 1 instead of hanging, and the next one is right.
TEST(FourStepThreads, RefusedMemoryStillMeetsTheTeam) {
  struct Failure {
    bool avoid;
    int fail_at;
  } cases[] = {{false, 1}, {false, 4}, {true, 1}, {true, 3}};
  for (const Failure& f : cases) {
    std::vector<std::string> env = {"TQS_MM_DISABLE=1", "OMP_NUM_THREADS=4", "TQS_DYNAMIC=FALSE"};
    if (const char* level = std::getenv("TQS_DEBUG_CPU_TYPE")) env.push_back(std::string("TQS_DEBUG_CPU_TYPE=") + level);
    const tqs_test::ProcessResult r = tqs_test::run_process(
        std::string(TQS_TEST_BINARY_DIR) + "/tests/parallel/tqs_parallel_probe",
        {"3000", f.avoid ? "1" : "0", std::to_string(f.fail_at)}, env);
    ASSERT_EQ(0, r.exit_code) << r.output;
    long first = -1, second = -1;
    double error = 1.0;
    ASSERT_EQ(3, std::sscanf(r.output.c_str(), "first=%ld second=%ld error=%lg", &first, &second, &error))
        << r.output;
    EXPECT_EQ(DFTI_STATUS_MEMORY, first) << "avoid " << f.avoid << " failing allocation " << f.fail_at;
    EXPECT_EQ(0, second);
    EXPECT_LE(error, tqs_test::accuracy_bound(3000));
  }
}

TEST(FourStepPlan, PrimeLengthRunsThePerAxisPlan) {
  const Dynamic fixed(false);
  Shape s;
  s.n = 2053;
  s.threads = kTeam;
  Committed c(s);
  EXPECT_FALSE(c.four_step_team());
  EXPECT_TRUE(parallel_test::both_directions(c, s));
}

// Below a length a team loses to one thread (the four-step transform moves
// the data twice as often as the per-axis plan): with dynamic adjustment on,
// the plan is still made but the transform runs on one thread, while a long
// one keeps its team.
TEST(FourStepPlan, ShortTransformsRunOnOneThread) {
  const Dynamic adjust(true);
  // Lengths on the same side of the rule at every level (a power of two
  // has a longer unit at the AVX levels).
  for (int64_t n : {int64_t(2048), int64_t(3000), int64_t(1) << 20}) {
    Shape s;
    s.n = n;
    s.threads = kTeam;
    Committed c(s);
    ASSERT_EQ(0, c.status()) << s.describe();
    if (n < 65536) {
      EXPECT_EQ(1, c.engine().thread_count) << s.describe();
    } else {
      EXPECT_EQ(kTeam, c.engine().thread_count) << s.describe();
    }
    EXPECT_TRUE(parallel_test::both_directions(c, s));
  }
}

// A commit drops the previous plan; an uncommitting setter releases it.
TEST(FourStepPlan, RecommitAndRelease) {
  const Dynamic fixed(false);
  Shape s;
  s.n = 3000;
  s.threads = kTeam;
  Committed c(s);
  ASSERT_TRUE(c.four_step_team());
  const int64_t strides[2] = {0, 1};
  ASSERT_EQ(0, DftiSet(c.handle(), DFTI_OUT_STRIDES, strides));
  EXPECT_EQ(nullptr, c.engine().commit_hook_armed);
  ASSERT_EQ(0, DftiCommit(c.handle()));
  ASSERT_EQ(0, DftiCommit(c.handle()));
  EXPECT_TRUE(c.four_step_team());
  EXPECT_TRUE(parallel_test::both_directions(c, s));
}

}  // namespace
