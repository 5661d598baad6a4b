// Which algorithm and tables a length gets, read back from the plan
// records, and the status codes of the plan calls.
#include <cstring>

#include "engine/descriptor.h"
#include "plan_harness.h"

namespace tqs {
namespace l0 {
int plan_scale_mode(const EngineDescriptor* d, int* mode_out);
}
}  // namespace tqs

namespace {

using namespace plans_test;
using tqs::PlanRecord;

bool level0() { return api().level == 0; }

// Radices of the stages followed by the leaf length.
std::vector<uint32_t> radices(const PlanRecord* p) {
  std::vector<uint32_t> r;
  if (!p->factored) return r;
  for (int i = 0; i <= p->last_factor_index + 1; ++i) r.push_back(p->factors[i].radix);
  return r;
}

using R = std::vector<uint32_t>;

TEST(PlanChoice, RealExamples) {
  {
    Plan p(REAL, 6, tqs::SCALE_NONE);
    ASSERT_EQ(p.code, 0);
    EXPECT_EQ(p.p->tag, tqs::TAG_REAL_PLAN);
    EXPECT_EQ(p.p->work_size, 0);
    EXPECT_EQ(p.p->split_twiddles, nullptr);
    EXPECT_EQ(p.p->factored, 0);
  }
  {
    Plan p(REAL, 17, tqs::SCALE_NONE);  // odd prime at most 90: direct
    ASSERT_EQ(p.code, 0);
    EXPECT_NE(p.p->direct_table, nullptr);
    EXPECT_EQ(p.p->work_size, 8 * 17 + 32);
  }
  {
    Plan p(REAL, 18, tqs::SCALE_NONE);  // half length 9 by its codelet
    ASSERT_EQ(p.code, 0);
    // One root table serves both directions and both vector widths: the
    // two-lane step reads its pairs of roots from it in natural order.
    EXPECT_NE(p.p->split_twiddles, nullptr);
    EXPECT_EQ(p.p->split_twiddle_pairs, nullptr);
    EXPECT_EQ(p.p->factored, 0);
    EXPECT_EQ(p.p->direct_table, nullptr);
    EXPECT_EQ(p.p->work_size, 0);
  }
  {
    Plan p(REAL, 34, tqs::SCALE_NONE);  // half length 17: direct
    ASSERT_EQ(p.code, 0);
    EXPECT_NE(p.p->direct_table, nullptr);
    EXPECT_EQ(p.p->work_size, 304);
  }
  {
    Plan p(REAL, 36, tqs::SCALE_NONE);  // 18 = 2*3*3: the 2 becomes the leaf
    ASSERT_EQ(p.code, 0);
    EXPECT_EQ(radices(p.p), (R{3, 3, 2}));
    EXPECT_EQ(p.p->odd_factored, 0);
  }
  {
    Plan p(REAL, 40, tqs::SCALE_NONE);  // 20 = 4*5
    ASSERT_EQ(p.code, 0);
    EXPECT_EQ(radices(p.p), (R{5, 4}));
  }
  {
    Plan p(REAL, 25, tqs::SCALE_NONE);
    ASSERT_EQ(p.code, 0);
    EXPECT_EQ(radices(p.p), (R{5, 5}));
    EXPECT_EQ(p.p->odd_factored, 1);
  }
  {
    Plan p(REAL, 210, tqs::SCALE_NONE);  // 105 = 3*5*7
    ASSERT_EQ(p.code, 0);
    EXPECT_EQ(radices(p.p), (R{3, 5, 7}));
  }
  {
    Plan p(REAL, 291, tqs::SCALE_NONE);  // 3*97: cofactor 97 too large
    ASSERT_EQ(p.code, 0);
    EXPECT_EQ(p.p->factored, 0);
    EXPECT_NE(p.p->inner_plan, nullptr);
    EXPECT_EQ(p.p->chirp_length, 640);
  }
  {
    Plan p(REAL, 97 * 101, tqs::SCALE_NONE);  // trial divisor passes 90 first
    ASSERT_EQ(p.code, 0);
    EXPECT_EQ(p.p->factored, 0);
    EXPECT_EQ(p.p->chirp_length, 32768);
  }
  for (int mode : {1, 2, 4, 8}) {
    Plan p(REAL, 64, mode);
    ASSERT_EQ(p.code, 0);
    EXPECT_EQ(p.p->power_of_two, 1);
    EXPECT_NE(p.p->power_of_two_plan, nullptr);
  }
}

TEST(PlanChoice, NinetySevenByLevel) {
  // Odd real lengths up to 100 stay direct at level 0 only; past that 97
  // convolves its 96 nonzero indices in Rader's order.
  Plan r(REAL, 97, tqs::SCALE_NONE);
  ASSERT_EQ(r.code, 0);
  if (level0()) {
    EXPECT_NE(r.p->direct_table, nullptr);
  } else {
    EXPECT_EQ(r.p->chirp_length, 96);
  }
  Plan c(COMPLEX, 97, tqs::SCALE_NONE);
  ASSERT_EQ(c.code, 0);
  EXPECT_EQ(c.p->chirp_length, 96);
  EXPECT_NE(c.p->rader_order, nullptr);
  int64_t inner = 0;
  ASSERT_EQ(api().complex_plan_work_size(c.p->inner_plan, &inner), 0);
  EXPECT_EQ(c.p->work_size, inner + 16 * 96 + 32);
  // 79 is direct except at level 0, where the direct limit is 75.
  Plan d(COMPLEX, 79, tqs::SCALE_NONE);
  ASSERT_EQ(d.code, 0);
  if (level0()) {
    EXPECT_EQ(d.p->direct_table, nullptr);
    EXPECT_EQ(d.p->chirp_length, 160);
  } else {
    EXPECT_NE(d.p->direct_table, nullptr);
    EXPECT_EQ(d.p->work_size, 16 * 79 + 32);
  }
}

TEST(PlanChoice, ComplexExamples) {
  for (Kind kind : {COMPLEX, SPLIT}) {
    {
      Plan p(kind, 48, tqs::SCALE_NONE);
      ASSERT_EQ(p.code, 0);
      EXPECT_EQ(radices(p.p), (R{3, 16}));
      EXPECT_EQ(p.p->tag, kind == COMPLEX ? tqs::TAG_COMPLEX_PLAN : tqs::TAG_SPLIT_PLAN);
    }
    {
      Plan p(kind, 18, tqs::SCALE_NONE);
      ASSERT_EQ(p.code, 0);
      EXPECT_EQ(radices(p.p), (R{3, 3, 2}));
    }
    {
      Plan p(kind, 2 * 151, tqs::SCALE_NONE);  // even cofactor limit is 150
      ASSERT_EQ(p.code, 0);
      EXPECT_EQ(p.p->factored, 0);
      EXPECT_EQ(p.p->chirp_length, 640);
    }
    {
      Plan p(kind, 4099, tqs::SCALE_NONE);  // 2n - 1 beyond the table: 16384
      ASSERT_EQ(p.code, 0);
      EXPECT_EQ(p.p->chirp_length, 16384);
    }
    // Primes whose n - 1 has no factor above 7 convolve n - 1 points
    // (4099 - 1 = 2 * 3 * 683 has).
    for (int64_t n : {1153, 2017, 65537}) {
      Plan p(kind, n, tqs::SCALE_NONE);
      ASSERT_EQ(p.code, 0);
      EXPECT_EQ(p.p->chirp_length, n - 1) << n;
    }
  }
  Plan c(COMPLEX, 17, tqs::SCALE_NONE);
  ASSERT_EQ(c.code, 0);
  EXPECT_EQ(c.p->work_size, 16 * 17 + 32);
  // Neighbouring radix-17 stages share one direct table (released once);
  // the generic size of a radix over an even sub-length counts twice.
  Plan g(COMPLEX, 4 * 17 * 17, tqs::SCALE_NONE);
  ASSERT_EQ(g.code, 0);
  EXPECT_EQ(radices(g.p), (R{17, 17, 4}));
  EXPECT_NE(g.p->factors[0].generic_table, nullptr);
  EXPECT_EQ(g.p->factors[0].generic_table, g.p->factors[1].generic_table);
  EXPECT_EQ(g.p->work_size, (2 * 17 + 4 * 17 * 17) * 16 + 64);
  // 4*149: the odd cofactor 149 is within the even limit except at level 0.
  Plan e(COMPLEX, 4 * 149, tqs::SCALE_NONE);
  ASSERT_EQ(e.code, 0);
  if (level0()) {
    EXPECT_EQ(e.p->factored, 0);
  } else {
    EXPECT_EQ(radices(e.p), (R{149, 4}));
  }
  // Deep smooth lengths run their outer stages depth first.
  Plan big(COMPLEX, 100000, tqs::SCALE_NONE);
  ASSERT_EQ(big.code, 0);
  EXPECT_GT(big.p->group_start, 0);
  // The group is the first stage small enough to finish in cache.
  const int g0 = big.p->group_start;
  EXPECT_GT((int64_t)big.p->factors[g0 - 1].radix * big.p->factors[g0 - 1].m, 500);
  for (int i = g0; i <= big.p->last_factor_index; ++i) {
    EXPECT_LE((int64_t)big.p->factors[i].radix * big.p->factors[i].m, 500);
  }
}

TEST(PlanChoice, ScalingModes) {
  for (Kind kind : {COMPLEX, SPLIT, REAL}) {
    struct {
      int mode, fwd, bwd;
      double scale;
    } cases[] = {{1, 1, 0, 1.0 / 30}, {2, 0, 1, 1.0 / 30}, {4, 1, 1, 1.0 / std::sqrt(30.0)},
                 {8, 0, 0, 0.0}};
    for (auto& c : cases) {
      Plan p(kind, 30, c.mode);
      ASSERT_EQ(p.code, 0);
      EXPECT_EQ(p.p->forward_scaled, c.fwd);
      EXPECT_EQ(p.p->backward_scaled, c.bwd);
      EXPECT_EQ(p.p->scale, c.scale);
    }
    for (int bad : {0, 3, 5, 16}) {
      PlanRecord* out = reinterpret_cast<PlanRecord*>(0x1234);
      EXPECT_EQ(create(kind, &out, 30, bad), tqs::PLAN_BAD_MODE);
      EXPECT_EQ(out, reinterpret_cast<PlanRecord*>(0x1234));
    }
  }
}

TEST(PlanChoice, LengthLimits) {
  for (Kind kind : {COMPLEX, SPLIT, REAL}) {
    PlanRecord* out = nullptr;
    EXPECT_EQ(create(kind, &out, int64_t(1) << 28, 8), tqs::PLAN_BAD_EXPONENT);
    EXPECT_EQ(create(kind, &out, 0, 8), tqs::PLAN_BAD_LENGTH);
    EXPECT_EQ(create(kind, &out, -3, 8), tqs::PLAN_BAD_LENGTH);
    EXPECT_EQ(create(kind, &out, (int64_t(1) << 26) + 2, 8), tqs::PLAN_BAD_LENGTH);
    EXPECT_EQ(create(kind, nullptr, 30, 8), tqs::PLAN_NULL_POINTER);
    EXPECT_EQ(out, nullptr);
  }
  // A prime above the chirp-z limit: 33554467 > 2^25.
  PlanRecord* out = nullptr;
  EXPECT_EQ(create(COMPLEX, &out, 33554467, 8), tqs::PLAN_BAD_LENGTH);
  EXPECT_EQ(out, nullptr);
}

TEST(PlanCodes, WrongKindAndNullPointers) {
  const tqs::LevelApi& a = api();
  Plan c(COMPLEX, 30, 8), s(SPLIT, 30, 8), r(REAL, 30, 8);
  ASSERT_EQ(c.code | s.code | r.code, 0);
  int64_t size = -5;
  EXPECT_EQ(a.real_plan_work_size(c.p, &size), tqs::PLAN_WRONG_KIND);
  EXPECT_EQ(a.complex_plan_work_size(r.p, &size), tqs::PLAN_WRONG_KIND);
  EXPECT_EQ(a.split_plan_work_size(c.p, &size), tqs::PLAN_WRONG_KIND);
  EXPECT_EQ(size, -5);
  EXPECT_EQ(a.real_plan_work_size(nullptr, &size), tqs::PLAN_NULL_POINTER);
  EXPECT_EQ(a.real_plan_work_size(r.p, nullptr), tqs::PLAN_NULL_POINTER);
  EXPECT_EQ(a.real_plan_destroy(c.p), tqs::PLAN_WRONG_KIND);
  EXPECT_EQ(a.complex_plan_destroy(s.p), tqs::PLAN_WRONG_KIND);
  EXPECT_EQ(a.split_plan_destroy(nullptr), tqs::PLAN_NULL_POINTER);

  std::vector<double> x(60, 1.0), y(60);
  // A null plan outranks everything, then the tag, then the data pointers.
  EXPECT_EQ(a.complex_plan_forward(nullptr, nullptr, nullptr, nullptr), tqs::PLAN_NULL_POINTER);
  EXPECT_EQ(a.complex_plan_forward(nullptr, nullptr, r.p, nullptr), tqs::PLAN_WRONG_KIND);
  EXPECT_EQ(a.real_plan_backward(x.data(), y.data(), c.p, nullptr), tqs::PLAN_WRONG_KIND);
  EXPECT_EQ(a.complex_plan_backward(x.data(), nullptr, c.p, nullptr), tqs::PLAN_NULL_POINTER);
  EXPECT_EQ(a.real_plan_forward(nullptr, y.data(), r.p, nullptr), tqs::PLAN_NULL_POINTER);
  EXPECT_EQ(a.split_plan_forward(x.data(), x.data(), y.data(), y.data(), c.p, nullptr),
            tqs::PLAN_WRONG_KIND);
  EXPECT_EQ(a.split_plan_backward(x.data(), nullptr, y.data(), y.data(), s.p, nullptr),
            tqs::PLAN_NULL_POINTER);
  // The plans still work after the refusals.
  EXPECT_EQ(a.complex_plan_forward(x.data(), y.data(), c.p, nullptr), 0);
  EXPECT_EQ(y[0], 30.0);
}

TEST(PlanCodes, ScaleModeFromDescriptor) {
  tqs::DimensionRecord dim = {30, 1, 1};
  tqs::EngineDescriptor d;
  memset(&d, 0, sizeof(d));
  d.dims.count = 1;
  d.dims.records = &dim;
  struct {
    double f, b;
    int supported, mode;
  } cases[] = {{1.0, 1.0, 1, 8},
               {1.0 / 30, 1.0, 1, 1},
               {1.0, 1.0 / 30, 1, 2},
               {1.0 / std::sqrt(30.0), 1.0 / std::sqrt(30.0), 1, 4},
               {1.0 / 30, 1.0 / 30, 0, -1},
               {0.5, 1.0, 0, -1}};
  for (auto& c : cases) {
    d.forward_scale = c.f;
    d.backward_scale = c.b;
    int mode = -1;
    EXPECT_EQ(tqs::l0::plan_scale_mode(&d, &mode), c.supported);
    EXPECT_EQ(mode, c.mode);
    EXPECT_EQ(tqs::l0::plan_scale_mode(&d, nullptr), c.supported);
  }
}

// Forward then backward gives n*x back, for lengths too large for the
// reference within the time budget.
TEST(PlanRoundTrip, LargeLengths) {
  struct {
    Kind kind;
    int64_t n;
  } cases[] = {{COMPLEX, 1 << 19}, {REAL, 1 << 20}, {SPLIT, 1 << 20}, {COMPLEX, 1 << 22},
               {REAL, 1 << 22},    {COMPLEX, 3 << 18}, {REAL, 5 * 5 * 5 * 5 * 5 * 5 * 64},
               {REAL, 999999}};
  for (auto& c : cases) {
    if (kSanitized && c.n > (1 << 20)) continue;
    Plan p(c.kind, c.n, tqs::SCALE_NONE);
    ASSERT_EQ(p.code, 0) << c.n;
    std::vector<double> x = tqs_test::random_doubles(doubles(c.kind, c.n), c.n);
    std::vector<double> y(x.size()), z(x.size());
    ASSERT_EQ(execute(c.kind, p.p, true, x.data(), y.data(), c.n, nullptr), 0);
    ASSERT_EQ(execute(c.kind, p.p, false, y.data(), z.data(), c.n, nullptr), 0);
    for (double& v : x) v *= (double)c.n;
    EXPECT_LE(tqs_test::relative_rms_error(z.data(), x.data(), (int64_t)x.size()),
              2 * tqs_test::accuracy_bound(c.n))
        << "kind " << c.kind << " n " << c.n;
  }
}

}  // namespace
