// Batches shared among a team: every team size gives the single-thread
// result to the last bit (each transform runs the same serial kernel), in
// place and out of place, with and without the even split of long
// transforms. Teams above the core count come from the ctest variants that
// run this binary with OMP_NUM_THREADS=4 or 8 and TQS_DYNAMIC=FALSE.
#include <cstring>

#include "complex_harness.h"
#include "engine/descriptor.h"

namespace {

using complex_test::Case;

std::vector<double> compute(const Case& c, int64_t threads, bool forward, const std::vector<double>& x,
                            int* thread_count) {
  Case t = c;
  t.threads = threads;
  DftiHandle h = nullptr;
  EXPECT_EQ(0, complex_test::configure(&h, t)) << c.describe();
  *thread_count = tqs_test::engine(h)->thread_count;
  std::vector<double> a = x, b(x.size(), 0.0);
  const long s = c.inplace ? (forward ? DftiForward(h, a.data()) : DftiBackward(h, a.data()))
                           : (forward ? DftiForward(h, a.data(), b.data())
                                      : DftiBackward(h, a.data(), b.data()));
  EXPECT_EQ(0, s) << c.describe();
  DftiRelease(&h);
  return c.inplace ? a : b;
}

TEST(ComplexThreads, EveryTeamGivesTheSameBits) {
  struct B {
    int64_t n, count, stride, dist;
  } cases[] = {{256, 10, 1, 256}, {512, 5, 1, 600}, {1000, 7, 2, 2100}, {4096, 3, 1, 4096},
               {64, 17, 17, 1},   {100, 9, 1, 100}, {2048, 9, 1, 2048}};
  for (const B& b : cases) {
    for (bool inplace : {false, true}) {
      Case c;
      c.n = b.n;
      c.count = b.count;
      c.inplace = inplace;
      c.in_stride = c.out_stride = b.stride;
      c.in_distance = c.out_distance = b.dist;
      c.backward_scale = 1.0 / static_cast<double>(b.n);
      const size_t size = complex_test::extent(c, complex_test::input_layout(c));
      const std::vector<double> x = tqs_test::random_doubles(static_cast<int64_t>(size), b.n);
      for (bool forward : {true, false}) {
        int one = 0;
        const std::vector<double> want = compute(c, 1, forward, x, &one);
        EXPECT_EQ(1, one);
        for (int64_t threads : {2, 3, 4, 8}) {
          int used = 0;
          const std::vector<double> got = compute(c, threads, forward, x, &used);
          EXPECT_GE(used, 1);
          EXPECT_EQ(0, std::memcmp(want.data(), got.data(), want.size() * sizeof(double)))
              << c.describe() << " threads " << threads << (forward ? " forward" : " backward");
        }
      }
      c.threads = 4;
      EXPECT_TRUE(complex_test::check(c));
    }
  }
}

}  // namespace
