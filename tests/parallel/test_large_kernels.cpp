// Large power-of-two kernels: which kernel a commit chooses (length, chunk
// count), which descriptors they refuse, and their results for every
// length and chunk count against the reference, with arrays off the
// 16-byte grid going through aligned copies.
#include "parallel_harness.h"

namespace {

using parallel_test::Committed;
using parallel_test::Dynamic;
using parallel_test::Shape;

// Below AVX the kernels take 2, 4 and 8 threads out of place; from AVX on
// the four-step transform comes first for every length it accepts
// (2048 and above), so only 1024 reaches the kernels there.
bool kernels_reach(int64_t n) { return parallel_test::running_level() < 4 || n == 1024; }

int table_chunks(bool dynamic, int threads, int64_t n) {
  if (!dynamic) return threads >= 8 ? 8 : threads >= 4 ? 4 : 2;
  if (threads >= 8 && n >= (int64_t(1) << 17)) return 8;
  if (threads >= 4 && n >= 2048) return 4;
  return 2;
}

TEST(LargeKernelChoice, ChunksFollowThreadsLengthAndDynamicAdjustment) {
  for (bool dynamic : {false, true}) {
    Dynamic mode(dynamic);
    // Team sizes other than 2, 4 and 8 go to the four-step transform from
    // 2048 points on, at every level.
    for (int threads : {2, 3, 4, 5, 7, 8, 16}) {
      for (int64_t n : {int64_t(1024), int64_t(2048), int64_t(1) << 16, int64_t(1) << 17}) {
        const bool odd_team = threads != 2 && threads != 4 && threads != 8;
        if (!kernels_reach(n) || (odd_team && n > 1024)) continue;
        Shape s;
        s.n = n;
        s.threads = threads;
        Committed c(s);
        ASSERT_EQ(0, c.status()) << s.describe();
        ASSERT_NE(nullptr, c.large_kernel()) << s.describe() << " dynamic " << dynamic;
        EXPECT_EQ(n, c.large_kernel()->length) << s.describe();
        EXPECT_EQ(table_chunks(dynamic, threads, n), c.large_kernel()->chunks)
            << s.describe() << " dynamic " << dynamic;
        EXPECT_EQ(nullptr, c.engine().commit_hook_armed) << s.describe();
      }
    }
  }
}

// In place, batches, strides, short lengths and one thread are refused.
TEST(LargeKernelChoice, Refusals) {
  Dynamic off(false);
  Shape base;
  base.n = 1024;
  base.threads = 4;
  Shape inplace = base, batch = base, strided = base, short_length = base, one_thread = base;
  inplace.inplace = true;
  batch.count = 2;
  strided.in_stride = 3;
  short_length.n = 512;
  one_thread.threads = 1;
  for (const Shape& s : {inplace, batch, strided, short_length, one_thread}) {
    Committed c(s);
    ASSERT_EQ(0, c.status()) << s.describe();
    EXPECT_EQ(nullptr, c.engine().large_kernel_table) << s.describe();
    EXPECT_EQ(nullptr, c.engine().large_forward) << s.describe();
    if (s.count == 1 && s.in_stride == 1) {
      EXPECT_TRUE(parallel_test::both_directions(c, s));
    }
  }
}

// Every length up to 2^20 with every chunk count, both directions, with a
// scale on one of them. Without dynamic adjustment the commit keeps the
// thread count that selects the chunk count.
TEST(LargeKernelThreads, EveryLengthAndChunkCount) {
  Dynamic off(false);
  for (int log2n = 10; log2n <= 20; ++log2n) {
    const int64_t n = int64_t(1) << log2n;
    if (!kernels_reach(n)) continue;
    for (int chunks : {8, 4, 2}) {
      Shape s;
      s.n = n;
      s.threads = chunks;
      if (chunks == 4) s.backward_scale = 1.0 / static_cast<double>(n);
      Committed c(s);
      ASSERT_EQ(0, c.status()) << s.describe();
      ASSERT_TRUE(c.large_kernel_team()) << s.describe();
      EXPECT_EQ(chunks, c.large_kernel()->chunks) << s.describe();
      EXPECT_TRUE(parallel_test::both_directions(c, s));
    }
  }
}

TEST(LargeKernelLengths, Long) {
  if (!kernels_reach(2048)) GTEST_SKIP() << "the four-step transform takes these lengths";
  Dynamic off(false);
  for (int log2n : {21, 22}) {
    Shape s;
    s.n = int64_t(1) << log2n;
    s.threads = log2n == 21 ? 8 : 2;
    s.forward_scale = 0.25;
    Committed c(s);
    ASSERT_TRUE(c.large_kernel_team()) << s.describe();
    EXPECT_TRUE(parallel_test::both_directions(c, s));
  }
}

// Input, output or both eight bytes off the 16-byte grid, with and without
// a scale; the arrays around them stay untouched.
TEST(LargeKernelThreads, MisalignedArrays) {
  Dynamic off(false);
  const int64_t n = kernels_reach(4096) ? 4096 : 1024;
  for (double scale : {1.0, 0.5}) {
    Shape s;
    s.n = n;
    s.threads = 2;
    s.forward_scale = s.backward_scale = scale;
    Committed c(s);
    ASSERT_TRUE(c.large_kernel_team()) << s.describe();
    for (int shift_in : {0, 1}) {
      for (int shift_out : {0, 1}) {
        for (bool forward : {true, false}) {
          EXPECT_TRUE(parallel_test::run_direction(c, s, forward, nullptr, shift_in, shift_out))
              << "input shift " << shift_in << " output shift " << shift_out;
        }
      }
    }
  }
}

}  // namespace
