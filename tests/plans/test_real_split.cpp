// The even-length split step on its own: a long-double half-length complex
// transform followed by the step must give the real spectrum, and the inverse
// step must give back what the complex backward transform needs.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "engine/level_api.h"
#include "support/reference.h"
#include "service/tqs_service.h"

namespace tqs {
#define TQS_SPLIT_DECL(L)                                                                    \
  namespace L {                                                                              \
  int64_t real_split_table_doubles(int64_t n);                                               \
  void real_split_table(double* table, int64_t n);                                           \
  void real_split_forward(double* z, int64_t n, const double* table, double scale);          \
  void real_split_backward(const double* in, double* out, int64_t n, const double* table,    \
                           double scale, int64_t nyquist_at);                                \
  void real_split_forward_zero(double* z, double scale);                                     \
  void real_split_forward_pairs(double* z, int64_t n, const double* table, double scale,     \
                                int64_t k0, int64_t k1);                                     \
  }
TQS_SPLIT_DECL(l0)
TQS_SPLIT_DECL(l5)
}  // namespace tqs

namespace {

using namespace tqs_test;

struct SplitApi {
  int64_t (*doubles)(int64_t);
  void (*table)(double*, int64_t);
  void (*fwd)(double*, int64_t, const double*, double);
  void (*bwd)(const double*, double*, int64_t, const double*, double, int64_t);
  void (*zero)(double*, double);
  void (*pairs)(double*, int64_t, const double*, double, int64_t, int64_t);
};

// The forward step done in pieces of uneven lengths, last piece first,
// gives exactly what the whole step gives (the fused closing pass of the
// power-of-two plans takes the bins in pieces).
void check_pieces(const SplitApi& api, int64_t n) {
  std::vector<double> t(api.doubles(n));
  api.table(t.data(), n);
  std::vector<double> whole = random_doubles(n, n + 1), pieces = whole;
  api.fwd(whole.data(), n, t.data(), 0.5);
  std::vector<std::pair<int64_t, int64_t>> runs;
  const int64_t end = n / 4 + 1;
  for (int64_t k = 1, len = 1; k < end; k += len, len = len % 7 + 2)
    runs.push_back({k, k + len < end ? k + len : end});
  for (size_t i = runs.size(); i-- > 0;)
    api.pairs(pieces.data(), n, t.data(), 0.5, runs[i].first, runs[i].second);
  api.zero(pieces.data(), 0.5);
  EXPECT_EQ(pieces, whole) << n;
}

void check_split(const SplitApi& api, int64_t n) {
  int64_t h = n / 2;
  std::vector<double> x = random_doubles(n, n);
  std::vector<double> t(api.doubles(n));
  api.table(t.data(), n);
  std::vector<double> z(n), want(n);
  reference_complex(x.data(), z.data(), h, -1);
  std::vector<double> zs = z;
  api.fwd(z.data(), n, t.data(), 1.0);
  reference_real_forward(x.data(), want.data(), n);
  EXPECT_LE(relative_rms_error(z.data(), want.data(), n), accuracy_bound(n)) << n;
  // The scale is folded in, not applied after.
  api.fwd(zs.data(), n, t.data(), 0.25);
  for (double& v : zs) v *= 4.0;
  EXPECT_LE(relative_rms_error(zs.data(), want.data(), n), accuracy_bound(n)) << n;

  std::vector<double> u(n), back(n);
  api.bwd(want.data(), u.data(), n, t.data(), 1.0, 1);
  reference_complex(u.data(), back.data(), h, +1);
  for (double& v : back) v /= (double)n;
  EXPECT_LE(relative_rms_error(back.data(), x.data(), n), accuracy_bound(n)) << n;
  // In place gives the same.
  std::vector<double> w = want;
  api.bwd(w.data(), w.data(), n, t.data(), 1.0, 1);
  EXPECT_EQ(w, u) << n;
  // The spectrum stored as n/2+1 complex values, the middle frequency last,
  // read where it lies (a stale value where the packed order keeps it must
  // not leak in), out of place and in place.
  std::vector<double> cce(n + 2);
  for (int64_t i = 2; i < n; ++i) cce[i] = want[i];
  cce[0] = want[0];
  cce[1] = 1e300;
  cce[n] = want[1];
  cce[n + 1] = -1e300;
  std::vector<double> v(n);
  api.bwd(cce.data(), v.data(), n, t.data(), 1.0, n);
  EXPECT_EQ(v, u) << n;
  api.bwd(cce.data(), cce.data(), n, t.data(), 1.0, n);
  cce.resize(n);
  EXPECT_EQ(cce, u) << n;
}

TEST(RealSplit, MatchesReferenceAtBothWidths) {
  SplitApi apis[2] = {{tqs::l0::real_split_table_doubles, tqs::l0::real_split_table,
                       tqs::l0::real_split_forward, tqs::l0::real_split_backward,
                       tqs::l0::real_split_forward_zero, tqs::l0::real_split_forward_pairs},
                      {tqs::l5::real_split_table_doubles, tqs::l5::real_split_table,
                       tqs::l5::real_split_forward, tqs::l5::real_split_backward,
                       tqs::l5::real_split_forward_zero, tqs::l5::real_split_forward_pairs}};
  // The 256-bit copy runs only where the processor level says it may.
  const int widths = tqs_cpu_level() == 5 ? 2 : 1;
  for (int w = 0; w < widths; ++w) {
    const SplitApi& api = apis[w];
    for (int64_t n = 2; n <= 200; n += 2) check_split(api, n);
    for (int64_t n : {1000, 4096, 6000, 65538}) check_split(api, n);
    for (int64_t n : {2, 4, 6, 8, 30, 64, 94, 1000, 4096}) check_pieces(api, n);
  }
}

}  // namespace
