// Which descriptors the large even real strategy takes, how it splits their
// length, and where the ones it declines go.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "engine/descriptor.h"
#include "engine/large_even_real_plan.h"
#include "real/real_harness.h"
#include "support/strategies.h"
#include "tqs_dfti.h"

namespace {

using Configure = std::function<void(DftiHandle)>;

struct Committed {
  DftiHandle h = nullptr;
  long status = 0;
  Committed(int64_t n, int64_t threads, const Configure& setup = {}) {
    EXPECT_EQ(0, DftiCreateDouble1D(&h, DFTI_REAL, n));
    EXPECT_EQ(0, DftiSet(h, DFTI_MAX_THREADS, threads));
    if (setup) setup(h);
    status = DftiCommit(h);
  }
  ~Committed() { DftiRelease(&h); }
  std::string strategy() const { return tqs_test::committed_by(h); }
  const tqs::LargeEvenRealPlan& plan() const {
    return *static_cast<const tqs::LargeEvenRealPlan*>(tqs_test::engine(h)->strategy_plan);
  }
};

TEST(LargeRealPlanning, SplitsTheLengthIntoPTimesQ) {
  struct Split {
    int64_t n, p, q;
  };
  const Split splits[] = {
      {16384, 128, 128},     {32768, 128, 256},  {1 << 20, 512, 2048}, {100000, 500, 200},
      {1000000, 200, 5000},  {49152, 128, 384},  {1 << 22, 512, 8192},
      {17010, 189, 90},      // 9 divides N/2: P starts at 3, Q at 6; P odd
      {16418, 8209, 2},      // N/2 prime: the one factor goes to P
      {450450, 105, 4290},   // 9 and 25 both shared out first
  };
  for (const Split& s : splits) {
    Committed c(s.n, 2);
    ASSERT_EQ(0, c.status) << s.n;
    ASSERT_EQ("large-even-real", c.strategy()) << s.n;
    EXPECT_EQ(s.p, c.plan().p) << s.n;
    EXPECT_EQ(s.q, c.plan().q) << s.n;
  }
}

TEST(LargeRealPlanning, DeclinedDescriptorsFallToTheGeneralStrategy) {
  struct Decline {
    const char* why;
    int64_t n, threads;
    Configure setup;
  };
  const int64_t strided[2] = {0, 2};
  const Decline declines[] = {
      {"odd length", 16385, 2, {}},
      {"too short", 16382, 2, {}},
      {"one thread", 16384, 1, {}},
      {"batch", 16384, 2,
       [](DftiHandle h) {
         DftiSet(h, DFTI_TRANSFORM_COUNT, int64_t{2});
         DftiSet(h, DFTI_IN_DISTANCE, int64_t{16386});
         DftiSet(h, DFTI_OUT_DISTANCE, int64_t{16386});
       }},
      {"input stride", 16384, 2, [&](DftiHandle h) { DftiSet(h, DFTI_IN_STRIDES, strided); }},
      {"output stride", 16384, 2, [&](DftiHandle h) { DftiSet(h, DFTI_OUT_STRIDES, strided); }},
      {"forward scale", 16384, 2, [](DftiHandle h) { DftiSet(h, DFTI_FWD_SCALE, 0.5); }},
      {"backward scale", 16384, 2,
       [](DftiHandle h) { DftiSet(h, DFTI_BWD_SCALE, 1.0 / 16384); }},
      {"sequential packing", 16384, 2,
       [](DftiHandle h) { DftiSet(h, DFTI_PACKING, DFTI_PACKING_SEQUENTIAL); }},
      {"user threads", 16384, 2,
       [](DftiHandle h) { DftiSet(h, DFTI_NUMBER_OF_USER_THREADS, int64_t{2}); }},
  };
  for (const Decline& d : declines) {
    Committed c(d.n, d.threads, d.setup);
    EXPECT_EQ(0, c.status) << d.why;
    EXPECT_EQ("general", c.strategy()) << d.why;
  }
}

// What the general strategy refuses stays refused, with the same status,
// when a team is at hand.
TEST(LargeRealPlanning, RefusalsDoNotDependOnTheThreadLimit) {
  const Configure refused[] = {
      // CCE packing with DFTI_COMPLEX_REAL storage
      [](DftiHandle h) { EXPECT_EQ(0, DftiSet(h, DFTI_PACKING, DFTI_PACKING_CCE)); },
      // in-place CCE storage whose offsets do not describe the same places
      [](DftiHandle h) {
        EXPECT_EQ(0, DftiSet(h, DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_COMPLEX));
        const int64_t in[2] = {3, 1}, out[2] = {1, 1};
        EXPECT_EQ(0, DftiSet(h, DFTI_IN_STRIDES, in));
        EXPECT_EQ(0, DftiSet(h, DFTI_OUT_STRIDES, out));
      },
  };
  for (const Configure& configure : refused) {
    Committed alone(16384, 1, configure), team(16384, 2, configure);
    EXPECT_NE(0, alone.status);
    EXPECT_EQ(alone.status, team.status);
  }
}

// A descriptor moves between the two strategies as its thread limit
// changes, and computes right after each commit.
TEST(LargeRealPlanning, RecommitsFollowTheThreadLimit) {
  real_test::Case c;
  c.n = 32768;
  c.layout = real_test::Layout::Cce;
  DftiHandle h = nullptr;
  ASSERT_EQ(0, real_test::configure(&h, c, 0, 0));
  std::mt19937_64 rng(7);
  for (int64_t threads : {2, 1, 3}) {
    ASSERT_EQ(0, DftiSet(h, DFTI_MAX_THREADS, threads));
    ASSERT_EQ(0, DftiCommit(h));
    EXPECT_EQ(threads > 1 ? "large-even-real" : "general", tqs_test::committed_by(h));
    EXPECT_TRUE(real_test::run_direction(h, c, true, 0, 0, rng)) << threads;
    EXPECT_TRUE(real_test::run_direction(h, c, false, 0, 0, rng)) << threads;
  }
  DftiRelease(&h);
}

}  // namespace
