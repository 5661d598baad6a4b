// The even-length split step on its own: a long-double half-length complex
// transform followed by the step must give the real spectrum, and the inverse
// step must give back what the complex backward transform needs.
#include <gtest/gtest.h>

#include <vector>

#include "engine/level_api.h"
#include "support/reference.h"
#include "service/tqs_service.h"

namespace tqs {
#define TQS_SPLIT_DECL(L)                                                                       \
  namespace L {                                                                                 \
  int64_t real_split_table_doubles(int64_t n);                                                  \
  void real_split_forward_table(double* table, int64_t n);                                      \
  void real_split_backward_table(double* table, int64_t n);                                     \
  int real_split_forward(double* data, int64_t n, const double* forward_table);                 \
  int real_split_backward(const double* in, double* out, int64_t n, const double* table);       \
  }
TQS_SPLIT_DECL(l0)
TQS_SPLIT_DECL(l5)
}  // namespace tqs

namespace {

using namespace tqs_test;

struct SplitApi {
  int64_t (*doubles)(int64_t);
  void (*fwd_table)(double*, int64_t);
  void (*bwd_table)(double*, int64_t);
  int (*fwd)(double*, int64_t, const double*);
  int (*bwd)(const double*, double*, int64_t, const double*);
};

void check_split(const SplitApi& api, int64_t n) {
  int64_t h = n / 2;
  std::vector<double> x = random_doubles(n, n);
  std::vector<double> ft(api.doubles(n)), bt(api.doubles(n));
  api.fwd_table(ft.data(), n);
  api.bwd_table(bt.data(), n);
  std::vector<double> z(n), want(n);
  reference_complex(x.data(), z.data(), h, -1);
  ASSERT_EQ(api.fwd(z.data(), n, ft.data()), 0);
  reference_real_forward(x.data(), want.data(), n);
  EXPECT_LE(relative_rms_error(z.data(), want.data(), n), accuracy_bound(n)) << n;

  std::vector<double> u(n), back(n);
  ASSERT_EQ(api.bwd(want.data(), u.data(), n, bt.data()), 0);
  reference_complex(u.data(), back.data(), h, +1);
  for (double& v : back) v /= (double)n;
  EXPECT_LE(relative_rms_error(back.data(), x.data(), n), accuracy_bound(n)) << n;
  // In place gives the same.
  std::vector<double> w = want;
  ASSERT_EQ(api.bwd(w.data(), w.data(), n, bt.data()), 0);
  EXPECT_EQ(w, u) << n;
}

TEST(RealSplit, MatchesReferenceAtBothWidths) {
  SplitApi apis[2] = {
      {tqs::l0::real_split_table_doubles, tqs::l0::real_split_forward_table,
       tqs::l0::real_split_backward_table, tqs::l0::real_split_forward, tqs::l0::real_split_backward},
      {tqs::l5::real_split_table_doubles, tqs::l5::real_split_forward_table,
       tqs::l5::real_split_backward_table, tqs::l5::real_split_forward, tqs::l5::real_split_backward}};
  for (const SplitApi& api : apis) {
    for (int64_t n = 2; n <= 200; n += 2) check_split(api, n);
    for (int64_t n : {1000, 4096, 6000, 65538}) check_split(api, n);
  }
}

TEST(RealSplit, RejectsOddLengthAndNull) {
  double d[4] = {0, 0, 0, 0};
  EXPECT_EQ(tqs::l0::real_split_forward(d, 3, d), tqs::PLAN_BAD_LENGTH);
  EXPECT_EQ(tqs::l0::real_split_forward(nullptr, 4, d), tqs::PLAN_NULL_POINTER);
  EXPECT_EQ(tqs::l0::real_split_backward(d, d, 4, nullptr), tqs::PLAN_NULL_POINTER);
}

}  // namespace
