// Every length up to 4096 and a spread of long ones (powers of two, primes
// that take the chirp-z method, products of awkward factors), with the
// layouts and placements taken in turn.
#include "real_harness.h"

using real_test::Case;
using real_test::check;
using real_test::Layout;

namespace {

const Layout kLayouts[] = {Layout::Cce, Layout::Half, Layout::Permuted, Layout::Sequential};

TEST(RealLengths, EveryLengthUpTo4096) {
  for (int64_t n = 1; n <= 4096; ++n) {
    Case c;
    c.n = n;
    c.layout = kLayouts[n % 4];
    c.inplace = (n / 4) % 2 == 1;
    c.sampled = true;
    ASSERT_TRUE(check(c, static_cast<uint64_t>(n)));
  }
}

// Out of place in complex pairs, the short lengths commit to an entry per
// kernel without offsets or scales, to one that applies the offsets with
// them, and to the plan with a scale: every length in the three ways.
TEST(RealLengths, ShortLengthsOffsetsAndScales) {
  for (int64_t n = 1; n <= 16; ++n) {
    for (int variant = 0; variant < 3; ++variant) {
      Case c;
      c.n = n;
      c.layout = Layout::Cce;
      if (variant == 1) {
        c.in_offset = 3;
        c.out_offset = 2;
      }
      if (variant == 2) c.backward_scale = 1.0 / static_cast<double>(n);
      ASSERT_TRUE(check(c, static_cast<uint64_t>(100 * n + variant))) << n << " " << variant;
    }
  }
}

// The even lengths up to 448 whose half-length transform is one generated
// kernel at the AVX levels have an entry of their own out of place in
// complex pairs; with a scale of 1/n the plan carries it into the split
// step, and offsets keep the general path. Below 64 most of them run one
// whole-vector kernel in complex pairs instead, in place as well and
// through batches. Every even length in the four ways, whichever kernel
// its half has.
TEST(RealLengths, EvenLengthsEntriesScalesAndOffsets) {
  for (int64_t n = 18; n <= 448; n += 2) {
    for (int variant = 0; variant < 4; ++variant) {
      Case c;
      c.n = n;
      c.layout = Layout::Cce;
      c.sampled = true;
      if (variant == 1) c.backward_scale = 1.0 / static_cast<double>(n);
      if (variant == 2) {
        c.forward_scale = 1.0 / static_cast<double>(n);
        c.in_offset = 1;
        c.out_offset = 3;
      }
      if (variant == 3) {
        c.inplace = true;
        c.count = 3;
      }
      ASSERT_TRUE(check(c, static_cast<uint64_t>(10 * n + variant))) << n << " " << variant;
    }
  }
}

// Batches of short contiguous vectors in the conjugate-even layout call
// their kernels directly: every short length with gaps between the
// vectors, out of place and in place, unscaled and scaled.
TEST(RealLengths, ShortBatchesEveryLength) {
  for (int64_t n = 2; n <= 64; ++n) {
    for (int variant = 0; variant < 3; ++variant) {
      Case c;
      c.n = n;
      c.layout = Layout::Cce;
      c.count = 5;
      c.inplace = variant == 1;
      if (!c.inplace) c.in_distance = c.out_distance = n + 3;  // both sides, both directions
      if (variant == 2) c.backward_scale = 1.0 / static_cast<double>(n);
      ASSERT_TRUE(check(c, static_cast<uint64_t>(10 * n + variant))) << n << " " << variant;
    }
  }
}

TEST(RealLengths, LongLengths) {
  const int64_t lengths[] = {302,     9797,    97,      2053,    4099,    65537,  3000,
                             10000,   100000,  1000000, 1 << 12, 1 << 13, 1 << 15, 1 << 16,
                             1 << 17, 1 << 19, 1 << 21, 1 << 22};
  int i = 0;
  for (int64_t n : lengths) {
    Case c;
    c.n = n;
    c.layout = kLayouts[i % 4];
    c.inplace = (i / 2) % 2 == 1;
    if (i % 3 == 2) c.forward_scale = 1.0 / static_cast<double>(n);
    ++i;
    EXPECT_TRUE(check(c, static_cast<uint64_t>(n)));
  }
}

// Long vectors through the strided and batched paths as well.
TEST(RealLengths, LongLengthsStridedAndBatched) {
  Case c;
  c.n = 65536;
  c.in_stride = 2;
  c.out_stride = 3;
  c.layout = Layout::Cce;
  EXPECT_TRUE(check(c));
  c.n = 10007;
  c.layout = Layout::Sequential;
  EXPECT_TRUE(check(c));
  Case b;
  b.n = 4096;
  b.count = 3;
  b.in_distance = b.out_distance = 1;
  b.in_stride = b.out_stride = 3;
  b.layout = Layout::Half;
  EXPECT_TRUE(check(b));
  b.n = 3001;
  b.layout = Layout::Permuted;
  b.inplace = true;
  EXPECT_TRUE(check(b));
}

}  // namespace
