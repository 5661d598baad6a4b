// Split-storage transforms along one axis through the public calls: every
// length up to 300 and some long ones, strides, offsets and distances of
// either sign (each path of the worker: in place of the caller, gathered
// into the output, through the block buffer), scales, and team sizes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <iterator>
#include <string>

#include "split_harness.h"
#include "support/process.h"
#include "support/strategies.h"

namespace {

using split_test::check_public;
using split_test::one_axis;
using split_test::Scales;

TEST(SplitOneAxis, EveryLengthUpTo300) {
  for (int64_t n = 1; n <= 300; ++n) {
    ASSERT_TRUE(check_public(one_axis(n, false), {}, -1, n));
    ASSERT_TRUE(check_public(one_axis(n, true), {}, -1, n));
  }
}

TEST(SplitOneAxis, LongLengths) {
  for (int64_t n : {97, 1000, 4096, 4099, 65536}) {
    EXPECT_TRUE(check_public(one_axis(n, false)));
    EXPECT_TRUE(check_public(one_axis(n, true)));
  }
}

// Strided single transforms and batches, both placements, every worker
// path, negative strides and distances, non-zero offsets; each layout runs
// with every scale pair over the lengths: the four a plan applies itself
// and others applied to its results.
TEST(SplitOneAxis, LayoutsAndScales) {
  struct Layout {
    int64_t is, os, count, id, od;
  };
  const int64_t lengths[] = {1, 5, 16, 17, 64, 97, 100};
  for (size_t li = 0; li < std::size(lengths); ++li) {
    const int64_t n = lengths[li];
    const double inv = 1.0 / static_cast<double>(n), root = 1.0 / std::sqrt(static_cast<double>(n));
    const Scales pairs[] = {{1.0, 1.0}, {inv, 1.0}, {1.0, inv}, {root, root}, {0.5, 3.0}, {inv, inv}, {-2.0, 0.0}};
    const Layout layouts[] = {
        {1, 1, 1, 0, 0},
        {2, 1, 1, 0, 0},                // gathered into the output
        {1, 3, 1, 0, 0},                // plan into the buffer, scattered
        {-2, 3, 1, 0, 0},               // neither stride 1
        {-1, -1, 1, 0, 0},              // reversed vectors
        {1, 1, 5, n, n},                // tight batch
        {1, 1, 4, n + 3, n + 5},        // padded batch
        {1, 1, 3, -(n + 1), 2 * n},     // batch walking backwards
        {13, 13, 13, 1, 1},             // interleaved: element j of t at j*13 + t
        {11, 1, 11, 1, n},              // interleaved in, tight out
        {1, 9, 9, n + 2, 1},            // tight in, interleaved out
        {-7, 7, 7, 1, -1},              // interleaved, negative
        {2, 3, 10, 2 * n + 1, 3 * n},   // strided and padded, a short last block
    };
    for (size_t k = 0; k < std::size(layouts); ++k) {
      const Layout& l = layouts[k];
      const Scales& sc = pairs[(k + li) % std::size(pairs)];
      for (bool inplace : {false, true}) {
        if (inplace && (l.is != l.os || l.id != l.od)) continue;
        for (int64_t lead : {0, 3}) {
          EXPECT_TRUE(check_public(one_axis(n, inplace, l.is, l.os, l.count, l.id, l.od, lead, 2 * lead), sc))
              << sc.forward << "/" << sc.backward;
        }
      }
    }
  }
}

// Team sizes the descriptor allows: each share of the transforms (short
// shares, empty shares, a short last block) must land in its place.
void check_teams(const std::vector<int64_t>& limits) {
  for (int64_t limit : limits) {
    for (int64_t n : {4, 30, 64, 100}) {
      for (int64_t count : {1, 2, 7, 33}) {
        for (bool inplace : {false, true}) {
          EXPECT_TRUE(check_public(one_axis(n, inplace, 1, 1, count, n, n), {}, limit)) << limit;
          EXPECT_TRUE(check_public(one_axis(n, inplace, count, count, count, 1, 1), {0.5, 2.0}, limit)) << limit;
          EXPECT_TRUE(check_public(one_axis(n, inplace, 3, inplace ? 3 : 1, count, 3 * n, inplace ? 3 * n : n),
                                   {}, limit))
              << limit;
        }
      }
    }
  }
}

TEST(SplitOneAxis, TeamSizesThroughMaxThreads) { check_teams({0, 1, 2, 3}); }

// Without dynamic adjustment a team keeps every configured thread, more
// than there are pieces of work; settings are per process, so this runs in
// a child copy of this test binary.
TEST(SplitOneAxis, TeamsLargerThanTheWork) {
  if (std::getenv("SPLIT_TEAM_CHILD") != nullptr) {
    check_teams({0, 3, 6});
    return;
  }
  const char* level = std::getenv("TQS_DEBUG_CPU_TYPE");
  auto r = tqs_test::run_process("/proc/self/exe", {"--gtest_filter=SplitOneAxis.TeamsLargerThanTheWork"},
                                 {"SPLIT_TEAM_CHILD=1", "TQS_NUM_THREADS=6", "TQS_DYNAMIC=FALSE",
                                  std::string("TQS_DEBUG_CPU_TYPE=") + (level ? level : "")});
  EXPECT_EQ(0, r.exit_code) << r.output;
  EXPECT_NE(std::string::npos, r.output.find("[  PASSED  ] 1 test")) << r.output;
}

}  // namespace
