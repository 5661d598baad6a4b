// Every conjugate-even layout, in place and out of place, with strides,
// offsets, batches (interleaved ones included) and scales.
#include "real_harness.h"

using real_test::Case;
using real_test::check;
using real_test::Layout;

namespace {

const Layout kLayouts[] = {Layout::Cce, Layout::Half, Layout::Permuted, Layout::Sequential};
// Small lengths take the kernels, 34 and 100 general plans, 97 the chirp-z
// method, 32 and 64 the whole-vector kernels.
const int64_t kLengths[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 15, 16, 17, 32, 34, 64, 97, 100, 128, 1000, 1024};

TEST(RealLayouts, EveryLayoutAndPlacementUnitStride) {
  for (Layout l : kLayouts)
    for (bool inplace : {false, true})
      for (int64_t n : kLengths) {
        Case c;
        c.n = n;
        c.layout = l;
        c.inplace = inplace;
        EXPECT_TRUE(check(c, n));
      }
}

TEST(RealLayouts, ExplicitUnitStridesTakeTheSamePath) {
  Case c;
  c.n = 12;
  c.set_strides = true;
  EXPECT_TRUE(check(c));
}

TEST(RealLayouts, StridesAndOffsetsOutOfPlace) {
  for (Layout l : kLayouts)
    for (int64_t n : {1, 2, 5, 8, 16, 30, 64, 97}) {
      const int64_t strides[][4] = {{2, 1, 0, 0}, {1, 3, 0, 0}, {3, 2, 5, 7}, {1, 1, 4, 3}, {-1, 1, 0, 0}, {2, -2, 1, 3}};
      for (auto& s : strides) {
        Case c;
        c.n = n;
        c.layout = l;
        c.in_stride = s[0];
        c.out_stride = s[1];
        c.in_offset = s[2];
        c.out_offset = s[3];
        EXPECT_TRUE(check(c, n));
      }
    }
}

TEST(RealLayouts, StridesAndOffsetsInPlace) {
  for (Layout l : kLayouts)
    for (int64_t n : {1, 4, 7, 8, 32, 34, 97}) {
      const int64_t strides[][4] = {{2, 2, 0, 0}, {1, 1, 2, 1}, {3, 3, 4, 2}, {2, 1, 2, 1}, {1, 2, 1, 2}};
      for (auto& s : strides) {
        Case c;
        c.n = n;
        c.layout = l;
        c.inplace = true;
        c.in_stride = s[0];
        c.out_stride = s[1];
        c.in_offset = s[2];
        c.out_offset = s[3];
        EXPECT_TRUE(check(c, n));
      }
    }
}

TEST(RealLayouts, BatchesWithDistances) {
  for (Layout l : kLayouts)
    for (bool inplace : {false, true})
      for (int64_t n : {1, 2, 6, 16, 17, 64, 100, 256}) {
        Case c;
        c.n = n;
        c.layout = l;
        c.inplace = inplace;
        c.count = 5;
        EXPECT_TRUE(check(c, n));
        // Loose distances leave gaps that must stay untouched.
        c.in_distance = 2 * n + 7;
        c.out_distance = 2 * n + 9;
        if (inplace) c.out_distance = l == Layout::Cce ? n + 5 : c.in_distance;
        if (inplace && l == Layout::Cce) c.in_distance = 2 * c.out_distance;
        c.in_offset = 2;
        c.out_offset = inplace && l == Layout::Cce ? 1 : 3;
        EXPECT_TRUE(check(c, n + 1));
        // Strided vectors inside a batch.
        c.in_stride = 2;
        c.out_stride = inplace ? 2 : 3;
        c.in_distance = inplace && l == Layout::Cce ? 4 * (n + 3) : 3 * (n + 3);
        c.out_distance = inplace && l == Layout::Cce ? 2 * (n + 3) : 3 * (n + 3);
        if (inplace && l != Layout::Cce) c.out_distance = c.in_distance;
        c.in_offset = c.out_offset = 0;
        EXPECT_TRUE(check(c, n + 2));
      }
}

// Transforms interleaved element by element: distance 1, stride = count.
TEST(RealLayouts, InterleavedBatches) {
  for (Layout l : kLayouts)
    for (bool inplace : {false, true})
      for (int64_t count : {1, 3, 8, 13, 20})
        for (int64_t n : {2, 5, 8, 12, 64, 33}) {
          Case c;
          c.n = n;
          c.layout = l;
          c.inplace = inplace;
          c.count = count;
          c.in_distance = c.out_distance = 1;
          c.in_stride = c.out_stride = count;
          if (inplace && l == Layout::Cce) c.in_stride = 2 * count;
          EXPECT_TRUE(check(c, count * 100 + n));
        }
}

TEST(RealLayouts, ForwardAndBackwardScales) {
  for (Layout l : kLayouts)
    for (bool inplace : {false, true})
      for (int64_t n : {1, 2, 7, 8, 16, 34, 64, 97, 128}) {
        Case c;
        c.n = n;
        c.layout = l;
        c.inplace = inplace;
        c.forward_scale = 1.0 / static_cast<double>(n);
        c.backward_scale = -2.5;
        EXPECT_TRUE(check(c, n));
        c.forward_scale = 0.0;
        c.backward_scale = 1.0 / std::sqrt(static_cast<double>(n));
        c.count = 3;
        EXPECT_TRUE(check(c, n + 1));
      }
}

// Forward then backward with the scale 1/n on one descriptor gives back the input.
TEST(RealLayouts, RoundTripOnOneDescriptor) {
  for (Layout l : kLayouts)
    for (int64_t n : {6, 8, 31, 64, 100}) {
      DftiHandle h = nullptr;
      ASSERT_EQ(0, DftiCreateDouble1D(&h, DFTI_REAL, n));
      ASSERT_EQ(0, real_test::set_layout(h, l));
      ASSERT_EQ(0, DftiSet(h, DFTI_BWD_SCALE, 1.0 / static_cast<double>(n)));
      ASSERT_EQ(0, DftiCommit(h));
      std::vector<double> x(static_cast<size_t>(n + 2)), y;
      for (int64_t j = 0; j < n; ++j) x[j] = std::sin(0.3 * j) + 0.1 * j;
      y = x;
      ASSERT_EQ(0, DftiForward(h, y.data()));
      ASSERT_EQ(0, DftiBackward(h, y.data()));
      for (int64_t j = 0; j < n; ++j) EXPECT_NEAR(x[j], y[j], 1e-13 * n) << n << " " << j;
      DftiRelease(&h);
    }
}

// The layouts themselves, spelled out for length 6 and 5 from a known input.
TEST(RealLayouts, LayoutOrderForKnownSpectrum) {
  // x = impulse at 1: X_k = exp(-2 pi i k / n).
  for (int64_t n : {5, 6}) {
    const double pi = 3.141592653589793;
    std::vector<double> re, im;
    for (int64_t k = 0; k <= n / 2; ++k) {
      re.push_back(std::cos(2 * pi * k / n));
      im.push_back(-std::sin(2 * pi * k / n));
    }
    im[0] = 0.0;
    if (n % 2 == 0) im[n / 2] = 0.0;
    struct Expect { Layout l; std::vector<double> v; };
    std::vector<Expect> expects;
    if (n == 6) {
      expects = {{Layout::Permuted, {re[0], re[3], re[1], im[1], re[2], im[2]}},
                 {Layout::Sequential, {re[0], re[1], im[1], re[2], im[2], re[3]}},
                 {Layout::Half, {re[0], 0, re[1], im[1], re[2], im[2], re[3], 0}}};
    } else {
      expects = {{Layout::Permuted, {re[0], re[1], im[1], re[2], im[2]}},
                 {Layout::Sequential, {re[0], re[1], im[1], re[2], im[2]}},
                 {Layout::Half, {re[0], 0, re[1], im[1], re[2], im[2]}}};
    }
    for (auto& e : expects) {
      DftiHandle h = nullptr;
      ASSERT_EQ(0, DftiCreateDouble1D(&h, DFTI_REAL, n));
      ASSERT_EQ(0, real_test::set_layout(h, e.l));
      ASSERT_EQ(0, DftiSet(h, DFTI_PLACEMENT, DFTI_NOT_INPLACE));
      ASSERT_EQ(0, DftiCommit(h));
      std::vector<double> x(static_cast<size_t>(n), 0.0), y(e.v.size() + 1, 7.0);
      x[1] = 1.0;
      ASSERT_EQ(0, DftiForward(h, x.data(), y.data()));
      for (size_t i = 0; i < e.v.size(); ++i) EXPECT_NEAR(e.v[i], y[i], 1e-15) << n << " " << i;
      EXPECT_EQ(7.0, y.back());
      DftiRelease(&h);
    }
  }
}

}  // namespace
