// The per-length complex kernel tables of the running level: which lengths
// have a kernel, and each kernel's transform, scale, placement and reach.
#include "complex_harness.h"
#include "engine/level_api.h"

namespace {

using namespace complex_test;

bool has_kernel(int n) { return n >= 2 && (n & (n - 1)) != 0; }

TEST(ComplexLengthKernels, OneKernelPerLengthOtherThanPowersOfTwo) {
  const tqs::LevelApi& api = tqs_test::level_api();
  ASSERT_NE(api.complex_length_forward, nullptr);
  ASSERT_NE(api.complex_length_backward, nullptr);
  for (int n = 0; n <= 64; ++n) {
    EXPECT_EQ(api.complex_length_forward[n] != nullptr, has_kernel(n)) << n;
    EXPECT_EQ(api.complex_length_backward[n] != nullptr, has_kernel(n)) << n;
    if (has_kernel(n)) {
      EXPECT_NE(api.complex_length_forward[n], api.complex_length_backward[n]) << n;
    }
  }
}

// Aligned data as the engine passes it: transform, scale, in place equal to
// out of place, input untouched, nothing written past the vector.
TEST(ComplexLengthKernels, EveryLengthBothDirectionsScaled) {
  const tqs::LevelApi& api = tqs_test::level_api();
  for (int n = 3; n < 64; ++n) {
    if (!has_kernel(n)) continue;
    for (int sign : {-1, 1}) {
      SCOPED_TRACE("n=" + std::to_string(n) + (sign < 0 ? " forward" : " backward"));
      tqs::CplxKernelScaled kernel =
          sign < 0 ? api.complex_length_forward[n] : api.complex_length_backward[n];
      const size_t count = 2 * static_cast<size_t>(n);
      auto* in = static_cast<double*>(tqs_mm_allocate((count + 2) * sizeof(double), 64));
      auto* out = static_cast<double*>(tqs_mm_allocate((count + 2) * sizeof(double), 64));
      std::vector<double> x = tqs_test::random_doubles(static_cast<int64_t>(count), 100 + n);
      std::memcpy(in, x.data(), count * sizeof(double));
      in[count] = in[count + 1] = out[count] = out[count + 1] = kGuard;
      std::vector<double> want(count);
      tqs_test::reference_complex(x.data(), want.data(), n, sign);

      for (double scale : {1.0, 0.37, -2.5}) {
        kernel(in, out, scale);
        std::vector<double> scaled(want);
        for (double& w : scaled) w *= scale;
        EXPECT_LE(tqs_test::relative_rms_error(out, scaled.data(), n * 2),
                  tqs_test::accuracy_bound(n))
            << "scale " << scale;
      }
      EXPECT_EQ(0, std::memcmp(in, x.data(), count * sizeof(double))) << "input written";
      EXPECT_EQ(out[count], kGuard);
      EXPECT_EQ(out[count + 1], kGuard);

      kernel(in, in, -2.5);
      EXPECT_EQ(0, std::memcmp(in, out, count * sizeof(double))) << "in place differs";
      EXPECT_EQ(in[count], kGuard);
      tqs_mm_free(in);
      tqs_mm_free(out);
    }
  }
}

}  // namespace
