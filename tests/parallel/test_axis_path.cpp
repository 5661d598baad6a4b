// The four-step decomposition on the calling thread as the axis routine of
// one long unit-stride vector: taken when the vector must not get scratch of
// its own length, or when its length is beyond the plan limits.
#include <cmath>
#include <complex>

#include "parallel_harness.h"

namespace {

using parallel_test::Committed;
using parallel_test::Shape;

bool decomposed_on_one_thread(const Committed& c) {
  const tqs::EngineDescriptor& e = c.engine();
  return e.commit_hook_armed != nullptr && e.large_forward == nullptr && e.thread_count == 1 &&
         (e.plan_flags & tqs::FLAG_DIRECT_AXIS) != 0;
}

// Square (2^16), block-rectangular (2^17) and general (100000 = 250 x 400)
// splits, which need different in-place transpositions.
TEST(AxisPath, ScratchAvoidedOnOneThread) {
  for (int64_t n : {int64_t(1) << 16, int64_t(1) << 17, int64_t(100000)}) {
    for (bool inplace : {false, true}) {
      Shape s;
      s.n = n;
      s.threads = 1;
      s.inplace = inplace;
      s.avoid_scratch = true;
      s.forward_scale = inplace ? 1.0 : 0.5;
      Committed c(s);
      ASSERT_EQ(0, c.status()) << s.describe();
      EXPECT_TRUE(decomposed_on_one_thread(c)) << s.describe();
      EXPECT_TRUE(parallel_test::both_directions(c, s));
    }
  }
}

// A prime has no split: beyond the limit the general strategy still
// refuses it (the convolution strategy after it may take it), and leaves the
// descriptor uncommitted.
TEST(AxisPath, PrimeBeyondThePlanLimitIsRefused) {
  DftiHandle h = nullptr;
  ASSERT_EQ(0, DftiCreateDouble1D(&h, DFTI_COMPLEX, (int64_t)16777259));
  {
    tqs_test::StrategySubset only(h, {"general"});
    EXPECT_EQ(DFTI_STATUS_DIMENSION_TOO_LARGE, DftiCommit(h));
  }
  int32_t state = 0;
  ASSERT_EQ(0, DftiGet(h, DFTI_COMMIT_STATE, &state));
  EXPECT_EQ(DFTI_STATE_UNCOMMITTED, state);
  EXPECT_EQ(nullptr, tqs_test::engine(h)->commit_hook_armed);
  DftiRelease(&h);
}

TEST(AxisPath, OrdinaryPlansOtherwise) {
  Shape allowed;
  allowed.n = int64_t(1) << 16;
  allowed.threads = 1;
  Shape too_short = allowed;
  too_short.n = 65535;
  too_short.avoid_scratch = true;
  for (const Shape& s : {allowed, too_short}) {
    Committed c(s);
    ASSERT_EQ(0, c.status()) << s.describe();
    EXPECT_EQ(nullptr, c.engine().commit_hook_armed) << s.describe();
  }
}

// A batch shares its transforms among a team; each member runs the
// decomposition on its own vectors at the same time as the others.
TEST(AxisPathThreads, BatchOnATeam) {
  const int64_t n = int64_t(1) << 16, count = 3;
  for (bool inplace : {false, true}) {
    Shape s;
    s.n = n;
    s.threads = 4;
    s.inplace = inplace;
    s.avoid_scratch = true;
    s.count = count;
    Committed c(s);
    ASSERT_EQ(0, c.status()) << s.describe();
    EXPECT_NE(nullptr, c.engine().commit_hook_armed) << s.describe();
    const parallel_test::Reference& ref = parallel_test::reference(n);
    std::vector<double> a, b(inplace ? 0 : 2 * n * count);
    for (int64_t t = 0; t < count; ++t) a.insert(a.end(), ref.x.begin(), ref.x.end());
    ASSERT_EQ(0, inplace ? DftiForward(c.handle(), a.data()) : DftiForward(c.handle(), a.data(), b.data()));
    const double* y = inplace ? a.data() : b.data();
    for (int64_t t = 0; t < count; ++t) {
      const double err = tqs_test::relative_rms_error(y + 2 * n * t, ref.forward.data(), 2 * n);
      EXPECT_LE(err, tqs_test::accuracy_bound(n)) << s.describe() << " transform " << t;
    }
  }
}

// Beyond the plan limit (2^24 for lengths that are not powers of two) the
// decomposition is what commits at all. A full reference of 2^24 points
// would take minutes, so the input is one tone, x_j = w^(-+fj), whose
// transform is n at f and zero elsewhere, built from two short tables of
// exact roots. The arrays take half a gigabyte and the transforms seconds,
// so this runs at the lowest and the highest level only; the decomposition
// itself is checked at every level above.
TEST(AxisPath, BeyondThePlanLimit) {
  if (parallel_test::running_level() != 0 && parallel_test::running_level() != 5) {
    GTEST_SKIP() << "lowest and highest level only";
  }
  constexpr int64_t n = (int64_t(1) << 16) * 257, f = 1234567;
  constexpr int64_t step = int64_t(1) << 12;
  Shape s;
  s.n = n;
  s.threads = 1;
  s.inplace = true;
  Committed c(s);
  ASSERT_EQ(0, c.status()) << s.describe();
  EXPECT_TRUE(decomposed_on_one_thread(c));
  auto root = [](int64_t k) {
    const long double a = 6.283185307179586476925286766559005768L * static_cast<long double>(k % n) / n;
    return std::complex<double>(static_cast<double>(std::cos(a)), static_cast<double>(std::sin(a)));
  };
  std::vector<std::complex<double>> fine(step), coarse(n / step + 1);
  for (int64_t j = 0; j < step; ++j) fine[j] = root(f * j % n);
  for (int64_t h = 0; h * step < n; ++h) coarse[h] = root(f * (h * step % n) % n);
  std::vector<std::complex<double>> x(n);
  for (bool forward : {true, false}) {
    for (int64_t j = 0; j < n; ++j) {
      const std::complex<double> w = coarse[j / step] * fine[j % step];
      x[j] = forward ? w : std::conj(w);
    }
    double* data = reinterpret_cast<double*>(x.data());
    ASSERT_EQ(0, forward ? DftiForward(c.handle(), data) : DftiBackward(c.handle(), data));
    double error = 0.0;
    for (int64_t k = 0; k < n; ++k) error += std::norm(x[k] - (k == f ? double(n) : 0.0));
    EXPECT_LE(std::sqrt(error) / static_cast<double>(n), tqs_test::accuracy_bound(n))
        << (forward ? "forward" : "backward");
  }
}

}  // namespace
