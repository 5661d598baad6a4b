// Single short power-of-two complex transforms that run their kernel as the
// compute entry (levels 0 to 3): every listed length, the choice between the
// two strategies, and the configurations they leave to others.
#include "complex_harness.h"
#include "engine/descriptor.h"

namespace {

using namespace complex_test;

bool narrow() { return level() <= 3; }

// One transform through the public calls on data aligned to 16 bytes or
// to 8 only; both directions against the reference, guards, input kept.
void run_one(DftiHandle h, int64_t n, bool inplace, bool shift, const std::string& what) {
  for (int sign : {-1, 1}) {
    const std::string label = what + (sign < 0 ? " forward" : " backward") +
                              (shift ? " 8-byte aligned" : "");
    Batch x(n, 1, n, shift), y(n, 1, n, shift);
    x.fill(static_cast<uint64_t>(n) * 3 + 1);
    const Batch input = x;
    long status;
    if (inplace) {
      status = sign < 0 ? DftiForward(h, x.first()) : DftiBackward(h, x.first());
    } else {
      status = sign < 0 ? DftiForward(h, x.first(), y.first()) : DftiBackward(h, x.first(), y.first());
    }
    ASSERT_EQ(0, status) << label;
    Batch& result = inplace ? x : y;
    expect_transforms(input, result, n, 1, sign, 1.0, label);
    result.expect_guards(label);
    if (!inplace) {
      EXPECT_EQ(x.all(), input.all()) << label << ": input written";
    }
  }
}

TEST(DirectKernel, EveryListedLength) {
  if (!narrow()) GTEST_SKIP() << "levels 0 to 3 only";
  const struct {
    const char* name;
    std::vector<int64_t> lengths;
  } strategies[] = {{"direct-kernel128", {8, 16, 32, 64, 128}},
                    {"direct-kernel64", {2, 4, 8, 16, 32, 64}}};
  for (const auto& s : strategies) {
    for (int64_t n : s.lengths) {
      for (bool inplace : {false, true}) {
        const std::string what = std::string(s.name) + " n=" + std::to_string(n) +
                                 (inplace ? " in place" : " out of place");
        Handle d(n);
        ASSERT_EQ(0, DftiSet(d.h, DFTI_PLACEMENT, inplace ? DFTI_INPLACE : DFTI_NOT_INPLACE));
        StrategySubset only(d.h, {s.name});
        ASSERT_EQ(0, DftiCommit(d.h)) << what;
        EXPECT_EQ("direct-kernel", committed_by(d.h)) << what;
        for (bool shift : {false, true}) run_one(d.h, n, inplace, shift, what);
      }
    }
  }
}

TEST(DirectKernel, PlaceInTheFullList) {
  for (int64_t n : {2, 4, 32, 128, 256, 12}) {
    Handle d(n);
    ASSERT_EQ(0, DftiSet(d.h, DFTI_PLACEMENT, DFTI_NOT_INPLACE));
    DftiCommit(d.h);  // later strategies may not exist yet at every level
    const bool listed = n != 256 && n != 12;
    EXPECT_EQ(narrow() && listed, committed_by(d.h) == "direct-kernel") << n;
  }
}

void set64(DftiHandle h, int parameter, int64_t value) { ASSERT_EQ(0, DftiSet(h, parameter, value)); }

TEST(DirectKernel, DeclinesOutsideItsConditions) {
  struct Case {
    const char* what;
    int64_t n;
    bool accept;
    void (*set)(DftiHandle h);
  };
  static int64_t offset3[2] = {3, 1}, offset1[2] = {1, 1}, stride2[2] = {0, 2};
  const Case cases[] = {
      {"as configured", 32, true, [](DftiHandle) {}},
      {"in place ignores the output offset", 32, true,
       [](DftiHandle h) {
         DftiSet(h, DFTI_PLACEMENT, DFTI_INPLACE);
         DftiSet(h, DFTI_OUT_STRIDES, offset3);
       }},
      {"forward scale", 32, false, [](DftiHandle h) { DftiSet(h, DFTI_FWD_SCALE, 0.5); }},
      {"backward scale", 16, false, [](DftiHandle h) { DftiSet(h, DFTI_BWD_SCALE, 1.0 / 16); }},
      {"input offset", 32, false, [](DftiHandle h) { DftiSet(h, DFTI_IN_STRIDES, offset1); }},
      {"output offset", 32, false, [](DftiHandle h) { DftiSet(h, DFTI_OUT_STRIDES, offset3); }},
      {"output stride", 8, false, [](DftiHandle h) { DftiSet(h, DFTI_OUT_STRIDES, stride2); }},
      {"two transforms", 64, false,
       [](DftiHandle h) {
         set64(h, DFTI_TRANSFORM_COUNT, 2);
         set64(h, DFTI_IN_DISTANCE, 64);
         set64(h, DFTI_OUT_DISTANCE, 64);
       }},
      {"nested", 32, false, [](DftiHandle h) { tqs_test::engine(h)->plan_flags |= tqs::FLAG_NESTED; }},
      {"split storage", 32, false, [](DftiHandle h) { DftiSet(h, DFTI_COMPLEX_LAYOUT, DFTI_REAL_REAL); }},
      {"length not listed", 256, false, [](DftiHandle) {}},
      {"not a power of two", 12, false, [](DftiHandle) {}},
  };
  for (const Case& c : cases) {
    Handle d(c.n);
    ASSERT_EQ(0, DftiSet(d.h, DFTI_PLACEMENT, DFTI_NOT_INPLACE));
    c.set(d.h);
    StrategySubset only(d.h, {"direct-kernel128", "direct-kernel64"});
    const bool accept = narrow() && c.accept;
    EXPECT_EQ(accept ? 0 : DFTI_STATUS_INCONSISTENT_CONFIGURATION, DftiCommit(d.h)) << c.what;
    EXPECT_EQ(accept, committed_by(d.h) == "direct-kernel") << c.what;
  }
}

}  // namespace
