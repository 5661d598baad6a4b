// Real batches shared among a team: every team size gives the single-thread
// result to the last bit, in every layout and placement; in-place batches
// whose transforms interleave stay on one thread and are still right.
#include <cstring>

#include "engine/descriptor.h"
#include "real_harness.h"
#include "support/reference.h"

namespace {

using real_test::Case;
using real_test::Layout;

std::vector<double> compute(const Case& c, int64_t threads, bool forward, int64_t in_dist,
                            int64_t out_dist, const std::vector<double>& x) {
  Case t = c;
  t.threads = threads;
  DftiHandle h = nullptr;
  EXPECT_EQ(0, real_test::configure(&h, t, in_dist, out_dist)) << c.describe();
  std::vector<double> a = x, b(x.size(), 0.0);
  const long s = c.inplace ? (forward ? DftiForward(h, a.data()) : DftiBackward(h, a.data()))
                           : (forward ? DftiForward(h, a.data(), b.data())
                                      : DftiBackward(h, a.data(), b.data()));
  EXPECT_EQ(0, s) << c.describe();
  DftiRelease(&h);
  return c.inplace ? a : b;
}

TEST(RealThreads, EveryTeamGivesTheSameBits) {
  const Layout layouts[] = {Layout::Cce, Layout::Half, Layout::Permuted, Layout::Sequential};
  int i = 0;
  for (int64_t n : {256, 1000, 4096, 97}) {
    for (Layout l : layouts) {
      for (bool inplace : {false, true}) {
        Case c;
        c.n = n;
        c.layout = l;
        c.inplace = inplace;
        c.count = 3 + i++ % 6;
        const int64_t padded = 2 * (n / 2 + 1);
        for (bool forward : {true, false}) {
          // Tight distances of each side (in place: the padded real rows).
          int64_t real_dist = inplace ? padded : n;
          int64_t spectrum_dist = l == Layout::Cce ? n / 2 + 1 : (l == Layout::Half ? padded : n);
          if (inplace && l != Layout::Cce) real_dist = spectrum_dist = padded;
          const int64_t in_dist = forward ? real_dist : spectrum_dist;
          const int64_t out_dist = forward ? spectrum_dist : real_dist;
          const std::vector<double> x = tqs_test::random_doubles(c.count * padded + 8, n + i);
          const std::vector<double> want = compute(c, 1, forward, in_dist, out_dist, x);
          for (int64_t threads : {2, 3, 4, 8}) {
            const std::vector<double> got = compute(c, threads, forward, in_dist, out_dist, x);
            EXPECT_EQ(0, std::memcmp(want.data(), got.data(), want.size() * sizeof(double)))
                << c.describe() << " threads " << threads << (forward ? " forward" : " backward");
          }
        }
      }
    }
  }
}

TEST(RealThreads, InterleavedAndStridedBatchesOnATeam) {
  Case c;
  c.n = 512;
  c.count = 6;
  c.threads = 4;
  c.in_distance = c.out_distance = 1;
  c.in_stride = c.out_stride = 6;
  for (Layout l : {Layout::Cce, Layout::Permuted}) {
    c.layout = l;
    c.inplace = false;
    EXPECT_TRUE(real_test::check(c));
  }
  Case s;
  s.n = 300;
  s.count = 5;
  s.threads = 3;
  s.in_stride = 2;
  s.out_stride = 3;
  EXPECT_TRUE(real_test::check(s));
}

}  // namespace
