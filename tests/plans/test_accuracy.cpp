// Accuracy of the three plan kinds against the long-double reference, over
// every length up to 2048 and a spread of larger ones.
#include <cstdlib>

#include "plan_harness.h"

namespace {

using namespace plans_test;

const int kModes[4] = {tqs::SCALE_FORWARD, tqs::SCALE_BACKWARD, tqs::SCALE_BOTH_SQRT,
                       tqs::SCALE_NONE};

// Every direction, mode and placement for one length.
void sweep_all(Kind kind, int64_t n) {
  for (bool forward : {true, false}) {
    std::vector<double> in = tqs_test::random_doubles(doubles(kind, n), 1000 * n + forward);
    std::vector<double> ref = reference(kind, forward, in, n);
    for (int mode : kModes) {
      for (bool in_place : {false, true}) expect_accurate(kind, n, forward, mode, in_place, in, ref);
    }
  }
}

// One mode and placement per direction, rotating with the length.
void sweep_sampled(Kind kind, int64_t n, int salt) {
  for (bool forward : {true, false}) {
    std::vector<double> in = tqs_test::random_doubles(doubles(kind, n), 77 * n + forward);
    std::vector<double> ref = reference(kind, forward, in, n);
    int pick = (int)((n + salt + forward) % 8);
    expect_accurate(kind, n, forward, kModes[pick % 4], pick >= 4, in, ref);
  }
}

class AllLengths : public ::testing::TestWithParam<Kind> {};

TEST_P(AllLengths, UpTo2048) {
  for (int64_t n = 1; n <= 2048; ++n) {
    if (HasFailure()) break;
    sweep_all(GetParam(), n);
  }
}

TEST_P(AllLengths, LargerLengths) {
  const int64_t lengths[] = {3000,        10000,       100000, 1000000, 97,   2053,
                             4099,        65537,       2 * 151, 97 * 101, 4096, 1 << 15,
                             1 << 17,     1 << 18,     1 << 20};
  int salt = 0;
  for (int64_t n : lengths) sweep_sampled(GetParam(), n, salt++);
}

INSTANTIATE_TEST_SUITE_P(Kinds, AllLengths, ::testing::Values(COMPLEX, SPLIT, REAL),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                           return std::string(info.param == COMPLEX ? "Complex"
                                              : info.param == SPLIT ? "Split"
                                                                    : "Real");
                         });

}  // namespace
