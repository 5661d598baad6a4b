// Every length up to 4096 and a spread of long ones (powers of two, primes
// beyond the direct limits, products of large primes), in place and out of
// place in turn, both directions against the long-double reference.
#include "complex_harness.h"

using complex_test::Case;
using complex_test::check;

namespace {

TEST(ComplexLengths, EveryLengthUpTo4096) {
  for (int64_t n = 1; n <= 4096; ++n) {
    Case c;
    c.n = n;
    c.inplace = n % 2 == 1;
    ASSERT_TRUE(check(c, static_cast<uint64_t>(n)));
  }
}

// The short lengths commit to an entry per kernel when neither direction
// is scaled and to the plan's scaled kernels otherwise; with strides or
// offsets, unscaled, to the strided kernels, which read and write the
// caller's arrays themselves (scaled, and from 17 points, the general
// strategy gathers). Each length in both placements, unscaled and with the
// backward scale alone, contiguous and strided.
TEST(ComplexLengths, ShortLengthsBothPlacementsScalesAndLayouts) {
  for (int64_t n = 1; n <= 17; ++n) {
    for (int variant = 0; variant < 8; ++variant) {
      const bool strided = variant >= 4;
      const int v = variant % 4;
      Case c;
      c.n = n;
      c.inplace = v % 2 == 1;
      if (strided ? v == 3 : v >= 2) c.backward_scale = 1.0 / static_cast<double>(n);
      if (strided) {
        c.in_stride = v < 2 ? 2 : -3;
        c.out_stride = c.inplace ? c.in_stride : (v < 2 ? 1 : 4);
        c.in_offset = v < 2 ? 0 : 3 * n;
        c.out_offset = c.inplace ? c.in_offset : (v < 2 ? 1 : 0);
      }
      ASSERT_TRUE(check(c, static_cast<uint64_t>(100 * n + variant))) << n << " " << variant;
    }
  }
}

// 8191 and 4097 convolve at 16384 points like 4099, with the most and the
// fewest inputs beyond a quarter of the convolution. The products of a long
// power of two and an odd part take every shape of that order: radix-16
// and radix-8 passes over a block of 8 or 16 points, other odd primes
// between, and no block where no odd prime makes one (13 x 2^13).
TEST(ComplexLengths, LongLengths) {
  const int64_t lengths[] = {4099,      65537,     9797,      302,      2053,      97 * 4099,
                             10000,     100000,    1000000,   3000,     1 << 13,   1 << 16,
                             1 << 17,   1 << 18,   1 << 20,   30030,    151 * 157, 8191,
                             4097,      3 << 12,   5 << 11,   77 << 10, 13 << 13,  243 << 6};
  int i = 0;
  for (int64_t n : lengths) {
    Case c;
    c.n = n;
    c.inplace = i % 2 == 1;
    if (i % 3 == 2) c.forward_scale = 1.0 / static_cast<double>(n);
    ++i;
    EXPECT_TRUE(check(c, static_cast<uint64_t>(n)));
  }
}

}  // namespace
