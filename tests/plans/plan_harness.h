// Shared by the plan tests: the level's plan functions, an owning handle,
// and one accuracy check per (kind, length, direction, mode, placement).
#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/level_api.h"
#include "service/tqs_service.h"
#include "support/reference.h"

namespace plans_test {

// Sanitizer builds run a thinned-out set of lengths: the same code paths,
// a fraction of the time.
#ifdef TQS_TEST_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

enum Kind { COMPLEX, SPLIT, REAL };

inline const tqs::LevelApi& api() { return *tqs::level_apis[tqs_cpu_level()]; }

inline int create(Kind kind, tqs::PlanRecord** out, int64_t n, int mode) {
  const tqs::LevelApi& a = api();
  switch (kind) {
    case COMPLEX: return a.complex_plan_create(out, n, mode, 0);
    case SPLIT: return a.split_plan_create(out, n, mode, 0);
    default: return a.real_plan_create(out, n, mode, 0);
  }
}

inline int destroy(Kind kind, tqs::PlanRecord* p) {
  const tqs::LevelApi& a = api();
  switch (kind) {
    case COMPLEX: return a.complex_plan_destroy(p);
    case SPLIT: return a.split_plan_destroy(p);
    default: return a.real_plan_destroy(p);
  }
}

struct Plan {
  Kind kind;
  tqs::PlanRecord* p = nullptr;
  int code = 0;
  Plan(Kind k, int64_t n, int mode) : kind(k) { code = create(k, &p, n, mode); }
  ~Plan() {
    if (p != nullptr) destroy(kind, p);
  }
  Plan(const Plan&) = delete;
  Plan& operator=(const Plan&) = delete;
};

// Doubles of one vector of the kind.
inline int64_t doubles(Kind kind, int64_t n) { return kind == REAL ? n : 2 * n; }

// Runs plan p on in (split data: re then im halves) into out.
inline int execute(Kind kind, const tqs::PlanRecord* p, bool forward, const double* in,
                   double* out, int64_t n, void* work) {
  const tqs::LevelApi& a = api();
  switch (kind) {
    case COMPLEX:
      return (forward ? a.complex_plan_forward : a.complex_plan_backward)(in, out, p, work);
    case SPLIT:
      return (forward ? a.split_plan_forward : a.split_plan_backward)(in, in + n, out, out + n, p,
                                                                      work);
    default:
      return (forward ? a.real_plan_forward : a.real_plan_backward)(in, out, p, work);
  }
}

// Inputs and long-double references for one length, all derived from one
// complex transform Z = DFT(z): complex forward z -> Z and backward conj(z) ->
// conj(Z); real forward Re z -> the packed spectrum A of Re z; real backward
// packed(B), B the spectrum of b = Im z, -> n*b (B rounded to doubles first:
// a relative perturbation of 2^-53, well inside the bound).
struct Case {
  int64_t n;
  std::vector<double> z, zc, big_z, big_zc;  // interleaved
  std::vector<double> re, packed_a;           // real forward
  std::vector<double> packed_b, n_b;          // real backward
};

inline void pack(const std::vector<tqs_test::cld>& x, int64_t n, double* out) {
  out[0] = (double)x[0].real();
  if (n % 2 == 0) {
    if (n > 1) out[1] = (double)x[n / 2].real();
    for (int64_t k = 1; k < n / 2; ++k) {
      out[2 * k] = (double)x[k].real();
      out[2 * k + 1] = (double)x[k].imag();
    }
  } else {
    for (int64_t k = 1; k <= n / 2; ++k) {
      out[2 * k - 1] = (double)x[k].real();
      out[2 * k] = (double)x[k].imag();
    }
  }
}

inline Case make_case(int64_t n, uint64_t seed) {
  using tqs_test::cld;
  Case c;
  c.n = n;
  c.z = tqs_test::random_doubles(2 * n, seed);
  std::vector<cld> zl(n), zf(n), a(n), b(n);
  for (int64_t k = 0; k < n; ++k) zl[k] = cld(c.z[2 * k], c.z[2 * k + 1]);
  tqs_test::reference_dft(zl.data(), zf.data(), n, -1);
  c.zc = c.z;
  c.big_z.resize(2 * n);
  c.big_zc.resize(2 * n);
  c.re.resize(n);
  c.n_b.resize(n);
  for (int64_t k = 0; k < n; ++k) {
    c.zc[2 * k + 1] = -c.z[2 * k + 1];
    c.big_z[2 * k] = c.big_zc[2 * k] = (double)zf[k].real();
    c.big_z[2 * k + 1] = (double)zf[k].imag();
    c.big_zc[2 * k + 1] = -(double)zf[k].imag();
    c.re[k] = c.z[2 * k];
    c.n_b[k] = (double)n * c.z[2 * k + 1];
    cld m = std::conj(zf[(n - k) % n]);
    a[k] = (zf[k] + m) / 2.0L;
    b[k] = (zf[k] - m) / cld(0, 2);
  }
  c.packed_a.resize(n);
  c.packed_b.resize(n);
  pack(a, n, c.packed_a.data());
  pack(b, n, c.packed_b.data());
  return c;
}

inline void input_and_reference(Kind kind, bool forward, const Case& c, std::vector<double>* in,
                                std::vector<double>* ref) {
  const int64_t n = c.n;
  if (kind == REAL) {
    *in = forward ? c.re : c.packed_b;
    *ref = forward ? c.packed_a : c.n_b;
    return;
  }
  const std::vector<double>& src = forward ? c.z : c.zc;
  const std::vector<double>& dst = forward ? c.big_z : c.big_zc;
  if (kind == COMPLEX) {
    *in = src;
    *ref = dst;
    return;
  }
  in->resize(2 * n);
  ref->resize(2 * n);
  for (int64_t k = 0; k < n; ++k) {
    (*in)[k] = src[2 * k];
    (*in)[n + k] = src[2 * k + 1];
    (*ref)[k] = dst[2 * k];
    (*ref)[n + k] = dst[2 * k + 1];
  }
}

inline double mode_scale(int mode, bool forward, int64_t n) {
  if (mode == tqs::SCALE_BOTH_SQRT) return 1.0 / std::sqrt((double)n);
  if (mode == tqs::SCALE_FORWARD && forward) return 1.0 / (double)n;
  if (mode == tqs::SCALE_BACKWARD && !forward) return 1.0 / (double)n;
  return 1.0;
}

inline int64_t work_size(const Plan& plan) {
  const tqs::LevelApi& a = api();
  auto ws = plan.kind == COMPLEX ? a.complex_plan_work_size
            : plan.kind == SPLIT ? a.split_plan_work_size
                                 : a.real_plan_work_size;
  int64_t bytes = -1;
  EXPECT_EQ(ws(plan.p, &bytes), 0);
  return bytes;
}

// Runs the plan in one direction and placement (with a caller work buffer
// at an odd offset, or none) and compares with the scaled reference.
inline void expect_accurate(const Plan& plan, int64_t n, int mode, bool forward, bool in_place,
                            bool caller_work, const std::vector<double>& in,
                            const std::vector<double>& ref) {
  std::vector<char> work((size_t)work_size(plan) + 8);
  void* wp = caller_work ? (void*)(work.data() + 8) : nullptr;
  std::vector<double> buf = in, out(in.size(), -7.0);
  double* dst = in_place ? buf.data() : out.data();
  ASSERT_EQ(execute(plan.kind, plan.p, forward, buf.data(), dst, n, wp), 0);
  if (!in_place) {
    EXPECT_EQ(buf, in) << "input changed, n " << n;
  }
  const double s = mode_scale(mode, forward, n);
  std::vector<double> want(ref);
  for (double& v : want) v *= s;
  double err = tqs_test::relative_rms_error(dst, want.data(), (int64_t)want.size());
  EXPECT_LE(err, tqs_test::accuracy_bound(n))
      << "kind " << plan.kind << " n " << n << (forward ? " forward" : " backward") << " mode "
      << mode << (in_place ? " in place" : " out of place");
}

}  // namespace plans_test
