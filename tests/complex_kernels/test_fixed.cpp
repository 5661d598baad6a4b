// Complex transforms of length 96 and 168 through the public calls: taken by
// the fixed-length strategies at levels 4 and 5 only, single or batched,
// shared among threads, and declined outside their conditions.
#include "complex_harness.h"
#include "engine/descriptor.h"

namespace {

using namespace complex_test;

bool wide() { return level() >= 4; }
const char* strategy_for(int64_t n) { return n == 96 ? "fixed96" : "fixed168"; }

struct Config {
  int64_t n;
  int64_t count = 1;
  bool inplace = false;
  int64_t in_distance = 0, out_distance = 0;  // 0: n
  int64_t threads = 0;                        // DFTI_MAX_THREADS, 0: not set
};

void configure(DftiHandle h, const Config& c) {
  ASSERT_EQ(0, DftiSet(h, DFTI_PLACEMENT, c.inplace ? DFTI_INPLACE : DFTI_NOT_INPLACE));
  ASSERT_EQ(0, DftiSet(h, DFTI_TRANSFORM_COUNT, static_cast<int64_t>(c.count)));
  ASSERT_EQ(0, DftiSet(h, DFTI_IN_DISTANCE, c.in_distance ? c.in_distance : c.n));
  ASSERT_EQ(0, DftiSet(h, DFTI_OUT_DISTANCE, c.out_distance ? c.out_distance : c.n));
  if (c.threads) {
    ASSERT_EQ(0, DftiSet(h, DFTI_MAX_THREADS, c.threads));
  }
}

// Forward and backward of a committed descriptor against the reference;
// returns the forward results of all transforms, for comparisons.
std::vector<double> run_both_directions(DftiHandle h, const Config& c, const std::string& what) {
  const int64_t din = c.in_distance ? c.in_distance : c.n;
  const int64_t dout = c.inplace ? din : (c.out_distance ? c.out_distance : c.n);
  std::vector<double> forward;
  for (int sign : {-1, 1}) {
    const std::string label = what + (sign < 0 ? " forward" : " backward");
    Batch x(c.n, c.count, din), y(c.n, c.count, dout);
    x.fill(7 + c.n);
    Batch input = x;
    long status;
    if (c.inplace) {
      status = sign < 0 ? DftiForward(h, x.first()) : DftiBackward(h, x.first());
    } else {
      status = sign < 0 ? DftiForward(h, x.first(), y.first()) : DftiBackward(h, x.first(), y.first());
    }
    EXPECT_EQ(0, status) << label;
    Batch& result = c.inplace ? x : y;
    expect_transforms(input, result, c.n, c.count, sign, 1.0, label);
    result.expect_guards(label);
    if (!c.inplace) {
      EXPECT_EQ(x.all(), input.all()) << label << ": input written";
    }
    if (sign < 0) {
      for (int64_t t = 0; t < c.count; ++t)
        forward.insert(forward.end(), result.transform(t), result.transform(t) + 2 * c.n);
    }
  }
  return forward;
}

TEST(FixedLength, TakenOnlyAtTheWideLevels) {
  for (int64_t n : {96, 168}) {
    for (bool inplace : {false, true}) {
      Config c{n};
      c.inplace = inplace;
      Handle d(n);
      configure(d.h, c);
      const std::string what = "n=" + std::to_string(n) + (inplace ? " in place" : " out of place");
      if (!wide()) {
        StrategySubset only(d.h, {strategy_for(n)});
        EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, DftiCommit(d.h)) << what;
        continue;
      }
      ASSERT_EQ(0, DftiCommit(d.h)) << what;
      EXPECT_EQ("fixed", committed_by(d.h)) << what;
      run_both_directions(d.h, c, what);
    }
  }
}

// Runs the team's threads one after another, so that any team size can be
// tried on any machine.
int64_t serial_team(int64_t requested, ttl_team_work work, void* argument) {
  const int64_t team = requested < 1 ? 1 : requested;
  int64_t status = 0;
  for (int64_t t = 0; t < team; ++t) {
    int64_t s = work(t, team, argument);
    if (s != 0) status = s;
  }
  return status;
}

// Every share (odd ones run transform by transform, even ones in pairs)
// gives each transform the same bits as a lone transform of the same data.
TEST(FixedLength, BatchesSharedAmongThreads) {
  if (!wide()) GTEST_SKIP() << "levels 4 and 5 only";
  for (int64_t n : {96, 168}) {
    // The lone transform of each input, as the batches below fill them.
    Config lone{n};
    Handle single(n);
    configure(single.h, lone);
    ASSERT_EQ(0, DftiCommit(single.h));

    struct Layout {
      bool inplace;
      int64_t din, dout;
    };
    for (Layout l : {Layout{false, n, n}, Layout{false, n + 5, n + 33}, Layout{true, n + 1, 0}}) {
      for (int64_t count : {2, 5, 8}) {
        for (int64_t threads : {1, 2, 3, 4, 7}) {
          Config c{n, count, l.inplace, l.din, l.dout, threads};
          const std::string what = "n=" + std::to_string(n) + " count " + std::to_string(count) +
                                   " threads " + std::to_string(threads) +
                                   (l.inplace ? " in place" : " out of place") + " distances " +
                                   std::to_string(l.din) + "/" + std::to_string(l.dout);
          Handle d(n);
          configure(d.h, c);
          ASSERT_EQ(0, DftiCommit(d.h)) << what;
          ASSERT_EQ("fixed", committed_by(d.h)) << what;
          tqs::EngineDescriptor* e = tqs_test::engine(d.h);
          ttl_services team = *e->threading;
          team.parallel_team = serial_team;
          ttl_services* saved = e->threading;
          e->threading = &team;
          std::vector<double> got = run_both_directions(d.h, c, what);
          e->threading = saved;

          Batch x(n, count, l.din);
          x.fill(7 + n);
          for (int64_t t = 0; t < count; ++t) {
            std::vector<double> y(2 * n);
            ASSERT_EQ(0, DftiForward(single.h, x.transform(t), y.data()));
            EXPECT_EQ(0, std::memcmp(y.data(), got.data() + 2 * n * t, 2 * n * sizeof(double)))
                << what << ": transform " << t << " differs from the lone transform";
          }
        }
      }
    }
  }
}

// The same through the real team of the threading runtime.
TEST(FixedLength, BatchOnTheThreadingRuntime) {
  if (!wide()) GTEST_SKIP() << "levels 4 and 5 only";
  for (int64_t threads : {1, 2, 4}) {
    Config c{96, 5, false, 100, 96, threads};
    Handle d(96);
    configure(d.h, c);
    ASSERT_EQ(0, DftiCommit(d.h));
    EXPECT_EQ("fixed", committed_by(d.h));
    run_both_directions(d.h, c, "threads " + std::to_string(threads));
  }
}

TEST(FixedLength, DeclinesOutsideItsConditions) {
  struct Case {
    const char* what;
    int64_t n;
    void (*set)(DftiHandle h);
  };
  const Case cases[] = {
      {"accepted as configured", 96, [](DftiHandle) {}},
      {"a lone transform ignores its distance", 96,
       [](DftiHandle h) { ASSERT_EQ(0, DftiSet(h, DFTI_IN_DISTANCE, int64_t{95})); }},
      {"input distance 95", 96,
       [](DftiHandle h) {
         ASSERT_EQ(0, DftiSet(h, DFTI_TRANSFORM_COUNT, int64_t{2}));
         ASSERT_EQ(0, DftiSet(h, DFTI_IN_DISTANCE, int64_t{95}));
         ASSERT_EQ(0, DftiSet(h, DFTI_OUT_DISTANCE, int64_t{96}));
       }},
      {"output distance 167", 168,
       [](DftiHandle h) {
         ASSERT_EQ(0, DftiSet(h, DFTI_TRANSFORM_COUNT, int64_t{3}));
         ASSERT_EQ(0, DftiSet(h, DFTI_IN_DISTANCE, int64_t{200}));
         ASSERT_EQ(0, DftiSet(h, DFTI_OUT_DISTANCE, int64_t{167}));
       }},
      {"forward scale", 96, [](DftiHandle h) { ASSERT_EQ(0, DftiSet(h, DFTI_FWD_SCALE, 0.5)); }},
      {"backward scale", 168,
       [](DftiHandle h) { ASSERT_EQ(0, DftiSet(h, DFTI_BWD_SCALE, 1.0 / 168)); }},
      {"input stride", 96,
       [](DftiHandle h) {
         int64_t s[2] = {0, 2};
         ASSERT_EQ(0, DftiSet(h, DFTI_IN_STRIDES, s));
       }},
      {"input offset", 96,
       [](DftiHandle h) {
         int64_t s[2] = {1, 1};
         ASSERT_EQ(0, DftiSet(h, DFTI_IN_STRIDES, s));
       }},
      {"split storage", 96,
       [](DftiHandle h) { ASSERT_EQ(0, DftiSet(h, DFTI_COMPLEX_LAYOUT, DFTI_REAL_REAL)); }},
      {"another length", 97, [](DftiHandle) {}},
  };
  for (const Case& c : cases) {
    Handle d(c.n);
    ASSERT_EQ(0, DftiSet(d.h, DFTI_PLACEMENT, DFTI_NOT_INPLACE));
    c.set(d.h);
    StrategySubset only(d.h, {c.n == 168 ? "fixed168" : "fixed96"});
    const bool accept = wide() && (std::string(c.what) == "accepted as configured" ||
                                   std::string(c.what) == "a lone transform ignores its distance");
    EXPECT_EQ(accept ? 0 : DFTI_STATUS_INCONSISTENT_CONFIGURATION, DftiCommit(d.h)) << c.what;
  }
}

TEST(FixedLength, NullArraysUncommitAndRecommit) {
  if (!wide()) GTEST_SKIP() << "levels 4 and 5 only";
  Handle d(96);
  ASSERT_EQ(0, DftiSet(d.h, DFTI_PLACEMENT, DFTI_NOT_INPLACE));
  ASSERT_EQ(0, DftiCommit(d.h));
  tqs::EngineDescriptor* e = tqs_test::engine(d.h);
  std::vector<double> a(192, 1.0), b(192);
  EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, e->compute_forward(e, nullptr, b.data(), nullptr, nullptr));
  EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, e->compute_backward(e, a.data(), nullptr, nullptr, nullptr));

  // A scale uncommits; this strategy then declines, and takes it back once
  // the scale is 1 again.
  ASSERT_EQ(0, DftiSet(d.h, DFTI_FWD_SCALE, 2.0));
  EXPECT_EQ(DFTI_STATUS_INVALID_CONFIGURATION, DftiForward(d.h, a.data(), b.data()));
  {
    StrategySubset only(d.h, {"fixed96"});
    EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, DftiCommit(d.h));
  }
  ASSERT_EQ(0, DftiSet(d.h, DFTI_FWD_SCALE, 1.0));
  ASSERT_EQ(0, DftiCommit(d.h));
  ASSERT_EQ(0, DftiCommit(d.h));  // a second commit replaces the plan
  EXPECT_EQ("fixed", committed_by(d.h));
  run_both_directions(d.h, Config{96}, "recommitted");
}

}  // namespace
