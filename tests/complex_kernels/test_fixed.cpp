// Complex transforms of length 96 and 168 through the public calls: taken by
// the fixed-length strategies at levels 4 and 5 only, single or batched,
// shared among threads, and declined outside their conditions.
#include "complex_harness.h"
#include "engine/descriptor.h"

namespace {

using namespace complex_test;

bool wide() { return level() >= 4; }

struct Config {
  int64_t n;
  int64_t count = 1;
  bool inplace = false;
  int64_t din = 0, dout = 0;  // distances, 0: n (in place: dout = din)
  int64_t threads = 0;        // DFTI_MAX_THREADS, 0: not set
};

void configure(DftiHandle h, Config& c) {
  if (c.din == 0) c.din = c.n;
  if (c.dout == 0 || c.inplace) c.dout = c.inplace ? c.din : c.n;
  ASSERT_EQ(0, DftiSet(h, DFTI_PLACEMENT, c.inplace ? DFTI_INPLACE : DFTI_NOT_INPLACE));
  ASSERT_EQ(0, DftiSet(h, DFTI_TRANSFORM_COUNT, c.count));
  ASSERT_EQ(0, DftiSet(h, DFTI_IN_DISTANCE, c.din));
  ASSERT_EQ(0, DftiSet(h, DFTI_OUT_DISTANCE, c.dout));
  if (c.threads != 0) {
    ASSERT_EQ(0, DftiSet(h, DFTI_MAX_THREADS, c.threads));
  }
}

// Both directions of a committed descriptor against the reference, with
// guards and the input of out-of-place calls checked; returns the forward
// results, transform after transform.
std::vector<double> run_both_directions(DftiHandle h, const Config& c, const std::string& what) {
  std::vector<double> forward;
  for (int sign : {-1, 1}) {
    const std::string label = what + (sign < 0 ? " forward" : " backward");
    Batch x(c.n, c.count, c.din), y(c.n, c.count, c.dout);
    x.fill(7 + c.n);
    const Batch input = x;
    Batch& result = c.inplace ? x : y;
    long status = c.inplace ? (sign < 0 ? DftiForward(h, x.first()) : DftiBackward(h, x.first()))
                            : (sign < 0 ? DftiForward(h, x.first(), y.first())
                                        : DftiBackward(h, x.first(), y.first()));
    EXPECT_EQ(0, status) << label;
    expect_transforms(input, result, c.n, c.count, sign, 1.0, label);
    result.expect_guards(label);
    if (!c.inplace) {
      EXPECT_EQ(x.all(), input.all()) << label << ": input written";
    }
    for (int64_t t = 0; sign < 0 && t < c.count; ++t)
      forward.insert(forward.end(), result.transform(t), result.transform(t) + 2 * c.n);
  }
  return forward;
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

// Whatever the share of a thread (odd or even, pairs or a transform alone),
// each transform of a batch gets the same bits as a lone transform of the
// same data.
TEST(FixedLength, BatchesSharedAmongThreads) {
  if (!wide()) GTEST_SKIP() << "levels 4 and 5 only";
  for (int64_t n : {96, 168}) {
    Config lone{n};
    Handle single(n);
    configure(single.h, lone);
    ASSERT_EQ(0, DftiCommit(single.h));
    const Config layouts[] = {{n, 1, false}, {n, 1, true}, {n, 1, false, n + 5, n + 33},
                              {n, 1, true, n + 1}};
    for (Config layout : layouts) {
      for (int64_t count : {1, 2, 5, 8}) {
        for (int64_t threads : {1, 2, 3, 7}) {
          if (count == 1 && threads > 1) continue;
          Config c = layout;
          c.count = count;
          c.threads = threads;
          Handle d(n);
          configure(d.h, c);
          const std::string what = "n=" + std::to_string(n) + " count " + std::to_string(count) +
                                   " threads " + std::to_string(threads) +
                                   (c.inplace ? " in place" : " out of place") + " distances " +
                                   std::to_string(c.din) + "/" + std::to_string(c.dout);
          ASSERT_EQ(0, DftiCommit(d.h)) << what;
          ASSERT_EQ("fixed", committed_by(d.h)) << what;
          tqs::EngineDescriptor* e = tqs_test::engine(d.h);
          ttl_services team = *e->threading;
          team.parallel_team = serial_team;
          ttl_services* saved = e->threading;
          e->threading = &team;
          std::vector<double> got = run_both_directions(d.h, c, what);
          e->threading = saved;

          Batch x(n, count, c.din);
          x.fill(7 + n);
          std::vector<double> y(2 * n);
          for (int64_t t = 0; t < count; ++t) {
            ASSERT_EQ(0, DftiForward(single.h, x.transform(t), y.data()));
            EXPECT_EQ(0, std::memcmp(y.data(), got.data() + 2 * n * t, 2 * n * sizeof(double)))
                << what << ": transform " << t << " differs from the lone transform";
          }
        }
      }
    }
  }
}

TEST(FixedLength, BatchOnTheThreadingRuntime) {
  if (!wide()) GTEST_SKIP() << "levels 4 and 5 only";
  for (int64_t threads : {2, 4}) {
    Config c{96, 5, false, 100, 96, threads};
    Handle d(96);
    configure(d.h, c);
    ASSERT_EQ(0, DftiCommit(d.h));
    run_both_directions(d.h, c, "threads " + std::to_string(threads));
  }
}

void set64(DftiHandle h, int parameter, int64_t value) { ASSERT_EQ(0, DftiSet(h, parameter, value)); }

TEST(FixedLength, DeclinesOutsideItsConditions) {
  struct Case {
    const char* what;
    int64_t n;
    bool accept;
    void (*set)(DftiHandle h);
  };
  static int64_t stride2[2] = {0, 2}, offset1[2] = {1, 1};
  const Case cases[] = {
      {"as configured", 96, true, [](DftiHandle) {}},
      {"in place", 168, true, [](DftiHandle h) { DftiSet(h, DFTI_PLACEMENT, DFTI_INPLACE); }},
      {"a lone transform ignores its distance", 96, true,
       [](DftiHandle h) { set64(h, DFTI_IN_DISTANCE, 95); }},
      {"input distance 95", 96, false,
       [](DftiHandle h) {
         set64(h, DFTI_TRANSFORM_COUNT, 2);
         set64(h, DFTI_IN_DISTANCE, 95);
         set64(h, DFTI_OUT_DISTANCE, 96);
       }},
      {"output distance 167", 168, false,
       [](DftiHandle h) {
         set64(h, DFTI_TRANSFORM_COUNT, 3);
         set64(h, DFTI_IN_DISTANCE, 200);
         set64(h, DFTI_OUT_DISTANCE, 167);
       }},
      {"forward scale", 96, false, [](DftiHandle h) { DftiSet(h, DFTI_FWD_SCALE, 0.5); }},
      {"backward scale", 168, false, [](DftiHandle h) { DftiSet(h, DFTI_BWD_SCALE, 1.0 / 168); }},
      {"input stride", 96, false, [](DftiHandle h) { DftiSet(h, DFTI_IN_STRIDES, stride2); }},
      {"input offset", 96, false, [](DftiHandle h) { DftiSet(h, DFTI_IN_STRIDES, offset1); }},
      {"split storage", 96, false, [](DftiHandle h) { DftiSet(h, DFTI_COMPLEX_LAYOUT, DFTI_REAL_REAL); }},
      {"another length", 97, false, [](DftiHandle) {}},
  };
  for (int64_t n : {96, 168}) {  // the whole list: first in line at levels 4 and 5 only
    Handle d(n);
    DftiCommit(d.h);  // the later strategies may not take it at every level yet
    EXPECT_EQ(wide(), committed_by(d.h) == "fixed") << n;
  }
  for (const Case& c : cases) {
    Handle d(c.n);
    ASSERT_EQ(0, DftiSet(d.h, DFTI_PLACEMENT, DFTI_NOT_INPLACE));
    c.set(d.h);
    StrategySubset only(d.h, {c.n == 168 ? "fixed168" : "fixed96"});
    const bool accept = wide() && c.accept;
    EXPECT_EQ(accept ? 0 : DFTI_STATUS_INCONSISTENT_CONFIGURATION, DftiCommit(d.h)) << c.what;
  }
}

// A transform count below 1 is accepted and means a batch of none: the
// arrays are neither read nor written (the sanitizer build sees reads).
TEST(FixedLength, NoTransformsTouchNothing) {
  if (!wide()) GTEST_SKIP() << "levels 4 and 5 only";
  for (int64_t n : {96, 168}) {
    for (int64_t count : {0, -3}) {
      for (bool inplace : {false, true}) {
        Handle d(n);
        ASSERT_EQ(0, DftiSet(d.h, DFTI_PLACEMENT, inplace ? DFTI_INPLACE : DFTI_NOT_INPLACE));
        ASSERT_EQ(0, DftiSet(d.h, DFTI_TRANSFORM_COUNT, count));
        ASSERT_EQ(0, DftiCommit(d.h));
        EXPECT_EQ("fixed", committed_by(d.h));
        std::vector<double> a(4, 1.5), b(4, 1.5);
        for (bool forward : {true, false}) {
          const long s = inplace ? (forward ? DftiForward(d.h, a.data()) : DftiBackward(d.h, a.data()))
                                 : (forward ? DftiForward(d.h, a.data(), b.data())
                                            : DftiBackward(d.h, a.data(), b.data()));
          EXPECT_EQ(0, s) << n << " count " << count;
        }
        EXPECT_EQ(std::vector<double>(4, 1.5), a) << n << " count " << count;
        EXPECT_EQ(std::vector<double>(4, 1.5), b) << n << " count " << count;
      }
    }
  }
}

TEST(FixedLength, NullArraysUncommitAndRecommit) {
  if (!wide()) GTEST_SKIP() << "levels 4 and 5 only";
  Handle d(96);
  Config c{96};
  configure(d.h, c);
  ASSERT_EQ(0, DftiCommit(d.h));
  tqs::EngineDescriptor* e = tqs_test::engine(d.h);
  std::vector<double> a(192, 1.0), b(192);
  EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, e->compute_forward(e, nullptr, b.data(), nullptr, nullptr));
  EXPECT_EQ(DFTI_STATUS_INCONSISTENT_CONFIGURATION, e->compute_backward(e, a.data(), nullptr, nullptr, nullptr));

  // A scale uncommits; the strategy then declines, and takes the descriptor
  // back once the scale is 1 again.
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
  run_both_directions(d.h, c, "recommitted");
}

}  // namespace
