// Strides, offsets, distances, batches, scales and output orders through
// the general strategy's drivers: the gathered, batched and direct paths.
#include "complex_harness.h"

using complex_test::Case;
using complex_test::check;

namespace {

TEST(ComplexLayouts, StridesAndOffsets) {
  const int64_t lengths[] = {1, 2, 7, 12, 60, 97, 128, 1000, 4096};
  const int64_t strides[][2] = {{2, 1}, {1, 3}, {3, 2}, {-1, 1}, {1, -2}, {-3, -1}};
  for (int64_t n : lengths) {
    for (auto& s : strides) {
      for (bool inplace : {false, true}) {
        Case c;
        c.n = n;
        c.inplace = inplace;
        c.in_stride = s[0];
        c.out_stride = inplace ? s[0] : s[1];
        c.in_offset = 3;
        c.out_offset = inplace ? 3 : 5;
        EXPECT_TRUE(check(c, static_cast<uint64_t>(n)));
      }
    }
  }
}

TEST(ComplexLayouts, Batches) {
  struct B {
    int64_t n, count, in_stride, out_stride, in_dist, out_dist;
  } cases[] = {
      {16, 3, 1, 1, -1, -1},   {100, 5, 1, 1, 120, 130},  {97, 4, 2, 1, 300, 97},
      {60, 10, 10, 10, 1, 1},  {64, 13, 13, 13, 1, 1},   {1000, 9, 9, 12, 1, 1},
      {5, 7, 1, 1, -5, -6},    {1, 6, 1, 1, 2, 3},       {30, 3, -1, 2, 40, 90},
      {4096, 2, 1, 1, 5000, 4100}, {12, 5, 5, 5, 1, 1},     {7, 3, 2, -3, 20, 30},
      {256, 7, 1, 1, 260, 300},
  };
  for (const B& b : cases) {
    for (bool inplace : {false, true}) {
      Case c;
      c.n = b.n;
      c.count = b.count;
      c.inplace = inplace;
      c.in_stride = b.in_stride;
      c.out_stride = inplace ? b.in_stride : b.out_stride;
      c.in_distance = b.in_dist;
      c.out_distance = inplace ? b.in_dist : b.out_dist;
      if (c.in_distance < -1) {
        // Transforms stored last to first.
        c.in_offset = (b.count - 1) * -b.in_dist;
        c.out_offset = inplace ? c.in_offset : (b.count - 1) * -b.out_dist;
      }
      EXPECT_TRUE(check(c, static_cast<uint64_t>(b.n)));
    }
  }
}

// Batches of short contiguous vectors run their kernels directly, two
// transforms at a time where a pair kernel exists: every short length with
// an even and an odd count, gaps between the vectors, in place, scaled.
TEST(ComplexLayouts, ShortBatchesEveryLength) {
  for (int64_t n = 2; n <= 64; ++n) {
    for (int variant = 0; variant < 2; ++variant) {
      Case c;
      c.n = n;
      c.count = variant == 0 ? 4 : 5;
      c.in_distance = n + 3;
      c.out_distance = variant == 0 ? n + 1 : n + 3;
      c.inplace = variant == 1;
      if (variant == 1) {
        c.forward_scale = 0.5;
        c.backward_scale = 1.0 / static_cast<double>(n);
      }
      ASSERT_TRUE(check(c, static_cast<uint64_t>(10 * n + variant))) << n << " " << variant;
    }
  }
}

// In place the output follows the input layout: output strides and
// distances set on the descriptor must not move it.
TEST(ComplexLayouts, InPlaceIgnoresTheOutputSide) {
  for (int64_t n : {1, 5, 16, 27, 64}) {
    for (int64_t count : {1, 3}) {
      Case c;
      c.n = n;
      c.inplace = true;
      c.count = count;
      c.in_stride = c.out_stride = count + 1;
      c.in_distance = c.out_distance = 1;
      DftiHandle h = nullptr;
      ASSERT_EQ(0, complex_test::configure(&h, c));
      const int64_t out[2] = {5, 7};
      ASSERT_EQ(0, DftiSet(h, DFTI_OUT_STRIDES, out));
      ASSERT_EQ(0, DftiSet(h, DFTI_OUT_DISTANCE, int64_t{1000}));
      ASSERT_EQ(0, DftiCommit(h));
      std::mt19937_64 rng(static_cast<uint64_t>(n));
      const complex_test::Signals s = complex_test::make_signals(c, rng);
      EXPECT_TRUE(complex_test::run_direction(h, c, true, s));
      EXPECT_TRUE(complex_test::run_direction(h, c, false, s));
      DftiRelease(&h);
    }
  }
}

TEST(ComplexLayouts, Scales) {
  const double pairs[][2] = {{0.5, 1.0}, {1.0, 0.25}, {-3.0, 2.0}, {0.0, 1.0}};
  for (int64_t n : {6, 16, 45, 128, 1000}) {
    for (auto& p : pairs) {
      Case c;
      c.n = n;
      c.forward_scale = p[0];
      c.backward_scale = p[1];
      EXPECT_TRUE(check(c));
      c.inplace = true;
      c.count = 3;
      EXPECT_TRUE(check(c));
    }
    // The scale modes a plan can take itself.
    Case c;
    c.n = n;
    c.forward_scale = 1.0 / static_cast<double>(n);
    EXPECT_TRUE(check(c));
    c.forward_scale = c.backward_scale = 1.0 / std::sqrt(static_cast<double>(n));
    EXPECT_TRUE(check(c));
  }
}

TEST(ComplexLayouts, PermutedOrderRoundTrips) {
  for (int64_t n : {2, 3, 8, 15, 63, 64, 100, 256, 4099}) {
    for (bool inplace : {false, true}) {
      Case c;
      c.n = n;
      c.inplace = inplace;
      c.permuted = true;
      EXPECT_TRUE(check(c));
      c.count = 3;
      c.in_stride = c.out_stride = 2;
      c.backward_scale = 1.0 / static_cast<double>(n);
      EXPECT_TRUE(check(c));
    }
  }
}

}  // namespace
