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
// is scaled and to the plan's scaled kernels otherwise: each length in
// both placements, unscaled and with the backward scale alone.
TEST(ComplexLengths, ShortLengthsBothPlacementsAndScales) {
  for (int64_t n = 1; n <= 16; ++n) {
    for (int variant = 0; variant < 4; ++variant) {
      Case c;
      c.n = n;
      c.inplace = variant % 2 == 1;
      if (variant >= 2) c.backward_scale = 1.0 / static_cast<double>(n);
      ASSERT_TRUE(check(c, static_cast<uint64_t>(100 * n + variant))) << n << " " << variant;
    }
  }
}

// 8191 and 4097 convolve at 16384 points like 4099, with the most and the
// fewest inputs beyond a quarter of the convolution.
TEST(ComplexLengths, LongLengths) {
  const int64_t lengths[] = {4099,   65537,     9797,      302,     2053,     97 * 4099,
                             10000,  100000,    1000000,   3000,    1 << 13,  1 << 16,
                             1 << 17, 1 << 18,  1 << 20,   30030,   151 * 157, 8191,
                             4097};
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
