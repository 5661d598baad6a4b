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

// The unscaled reference of one direction.
inline std::vector<double> reference(Kind kind, bool forward, const std::vector<double>& in,
                                     int64_t n) {
  std::vector<double> out(in.size());
  int sign = forward ? -1 : 1;
  switch (kind) {
    case COMPLEX: tqs_test::reference_complex(in.data(), out.data(), n, sign); break;
    case SPLIT:
      tqs_test::reference_split(in.data(), in.data() + n, out.data(), out.data() + n, n, sign);
      break;
    default:
      if (forward) {
        tqs_test::reference_real_forward(in.data(), out.data(), n);
      } else {
        tqs_test::reference_real_backward(in.data(), out.data(), n);
      }
  }
  return out;
}

inline double mode_scale(int mode, bool forward, int64_t n) {
  if (mode == tqs::SCALE_BOTH_SQRT) return 1.0 / std::sqrt((double)n);
  if (mode == tqs::SCALE_FORWARD && forward) return 1.0 / (double)n;
  if (mode == tqs::SCALE_BACKWARD && !forward) return 1.0 / (double)n;
  return 1.0;
}

// Plans n with the mode, runs it in the given placement (with and without a
// caller work buffer alternately) and compares with the scaled reference.
inline void expect_accurate(Kind kind, int64_t n, bool forward, int mode, bool in_place,
                            const std::vector<double>& in, const std::vector<double>& ref) {
  Plan plan(kind, n, mode);
  ASSERT_EQ(plan.code, 0) << "kind " << kind << " n " << n << " mode " << mode;
  int64_t work_bytes = 0;
  const tqs::LevelApi& a = api();
  auto ws = kind == COMPLEX ? a.complex_plan_work_size
                            : kind == SPLIT ? a.split_plan_work_size : a.real_plan_work_size;
  ASSERT_EQ(ws(plan.p, &work_bytes), 0);
  // An odd offset checks that the callee aligns the caller's buffer.
  std::vector<char> work((size_t)work_bytes + 8);
  void* wp = (n + mode) % 2 ? (void*)(work.data() + 8) : nullptr;
  std::vector<double> buf = in, out(in.size(), -7.0);
  double* dst = in_place ? buf.data() : out.data();
  ASSERT_EQ(execute(kind, plan.p, forward, buf.data(), dst, n, wp), 0);
  if (!in_place) {
    EXPECT_EQ(buf, in) << "input changed, n " << n;
  }
  const double s = mode_scale(mode, forward, n);
  std::vector<double> want(ref);
  for (double& v : want) v *= s;
  double err = tqs_test::relative_rms_error(dst, want.data(), (int64_t)want.size());
  EXPECT_LE(err, tqs_test::accuracy_bound(n))
      << "kind " << kind << " n " << n << (forward ? " forward" : " backward") << " mode " << mode
      << (in_place ? " in place" : " out of place");
}

}  // namespace plans_test
