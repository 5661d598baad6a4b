// Long even real transforms on a team: every accepted layout, both
// placements and directions against FFTW element by element (guards around
// the arrays, the input untouched out of place), arrays off their natural
// alignment, and the same bits whatever the size of the team.
#include <gtest/gtest.h>

#include <omp.h>

#include <cstring>
#include <vector>

#include "real/real_harness.h"
#include "support/reference.h"
#include "support/strategies.h"

namespace {

using real_test::Case;
using real_test::Layout;

const Layout kLayouts[] = {Layout::Cce, Layout::Half, Layout::Permuted};

Case team_case(int64_t n, Layout l, bool inplace, int64_t threads = 2) {
  Case c;
  c.n = n;
  c.layout = l;
  c.inplace = inplace;
  c.threads = threads;
  c.only = {"large-even-real"};  // a commit it declines fails the case
  return c;
}

TEST(LargeRealTeam, LayoutsAndPlacementsAgainstFftw) {
  // Powers of two, a factor 3 in Q, P even with Q/2 even, P odd with Q/2
  // odd, and Q = 2 with a prime P.
  for (int64_t n : {16384, 32768, 49152, 100000, 17010, 16418}) {
    for (Layout l : kLayouts) {
      for (bool inplace : {false, true}) {
        EXPECT_TRUE(real_test::check(team_case(n, l, inplace), n)) << n;
      }
    }
  }
}

// Offsets of one double move the arrays through every alignment, so that
// the results are written with and without the streaming stores; in place
// the CCE views may start apart.
TEST(LargeRealTeam, OffsetsMoveTheArraysOffTheirAlignment) {
  for (Layout l : kLayouts) {
    for (int64_t in_offset : {0, 1, 2, 3}) {
      Case c = team_case(32768, l, false);
      c.in_offset = in_offset;
      c.out_offset = 3 - in_offset;
      EXPECT_TRUE(real_test::check(c, 11 + in_offset));
    }
  }
  for (Layout l : {Layout::Half, Layout::Permuted}) {
    Case c = team_case(32768, l, true);
    c.in_offset = c.out_offset = 1;
    EXPECT_TRUE(real_test::check(c, 21));
  }
  const int64_t cce_offsets[][2] = {{2, 1}, {1, 2}, {6, 3}};
  for (auto& o : cce_offsets) {
    Case c = team_case(32768, Layout::Cce, true);
    c.in_offset = o[0];
    c.out_offset = o[1];
    EXPECT_TRUE(real_test::check(c, 31)) << o[0] << " " << o[1];
  }
}

std::vector<double> run(const Case& c, bool forward, const std::vector<double>& x) {
  DftiHandle h = nullptr;
  EXPECT_EQ(0, real_test::configure(&h, c, 0, 0)) << c.describe();
  std::vector<double> a = x, b(x.size(), 0.0);
  const long s = c.inplace ? (forward ? DftiForward(h, a.data()) : DftiBackward(h, a.data()))
                           : (forward ? DftiForward(h, a.data(), b.data())
                                      : DftiBackward(h, a.data(), b.data()));
  EXPECT_EQ(0, s) << c.describe();
  DftiRelease(&h);
  return c.inplace ? a : b;
}

// Blocks do not depend on the team, so neither do the results. 16384 has
// fewer blocks than the larger teams have members.
TEST(LargeRealTeam, EveryTeamSizeGivesTheSameBits) {
  for (int64_t n : {16384, 100000, 17010}) {
    for (Layout l : {Layout::Cce, Layout::Permuted}) {
      for (bool inplace : {false, true}) {
        const std::vector<double> x = tqs_test::random_doubles(n + 2, n);
        for (bool forward : {true, false}) {
          const std::vector<double> want = run(team_case(n, l, inplace, 2), forward, x);
          for (int64_t threads : {3, 4, 8}) {
            const std::vector<double> got = run(team_case(n, l, inplace, threads), forward, x);
            EXPECT_EQ(0, std::memcmp(want.data(), got.data(), want.size() * sizeof(double)))
                << n << " " << real_test::layout_name(l) << (inplace ? " inplace" : " out")
                << (forward ? " forward" : " backward") << " threads " << threads;
          }
        }
      }
    }
  }
}

// Called from inside a parallel region of the caller's own, each call runs
// on whatever team it can get (one member, with dynamic adjustment on) and
// still computes the right transform.
TEST(LargeRealTeam, CallsFromInsideAParallelRegion) {
  int failures = 0;
#pragma omp parallel num_threads(2) reduction(+ : failures)
  {
    Case c = team_case(32768, omp_get_thread_num() == 0 ? Layout::Cce : Layout::Permuted, false);
    c.sampled = true;  // FFTW's planner may not be called from two threads at once
    if (!real_test::check(c, 41 + omp_get_thread_num())) ++failures;
  }
  EXPECT_EQ(0, failures);
}

}  // namespace
