// One long complex transform through the public calls, with what decides
// the whole-transform paths (threads, placement, scratch policy, dynamic
// adjustment), the committed state that tells which path took it, and the
// check of both directions against the long-double reference.
#pragma once
#include <fftw3.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/descriptor.h"
#include "parallel/large_table.h"
#include "support/reference.h"
#include "support/strategies.h"
#include "tqs_dfti.h"

namespace parallel_test {

struct Shape {
  int64_t n = 1;
  int64_t threads = 0;  // DFTI_MAX_THREADS when positive
  bool inplace = false;
  bool avoid_scratch = false;
  double forward_scale = 1.0, backward_scale = 1.0;
  int64_t count = 1;      // transforms, packed one after the other
  int64_t in_stride = 1;  // of the input (and, in place, the output)

  std::string describe() const {
    char b[200];
    std::snprintf(b, sizeof b, "n=%lld threads %lld %s%s scales %g/%g count %lld stride %lld", (long long)n,
                  (long long)threads, inplace ? "in place" : "out of place",
                  avoid_scratch ? " scratch avoided" : "", forward_scale, backward_scale, (long long)count,
                  (long long)in_stride);
    return b;
  }
};

// Dynamic adjustment switched for the lifetime of the object (commits sample
// it; the kernels' team sizes follow what the commit saw).
class Dynamic {
 public:
  explicit Dynamic(bool on) : saved_(tqs_get_dynamic()) { tqs_set_dynamic(on ? 1 : 0); }
  ~Dynamic() { tqs_set_dynamic(saved_); }

 private:
  int saved_;
};

// A committed descriptor; released with the object.
class Committed {
 public:
  explicit Committed(const Shape& s) {
    status_ = DftiCreateDouble1D(&h_, DFTI_COMPLEX, s.n);
    if (status_ == 0 && !s.inplace) status_ = DftiSet(h_, DFTI_PLACEMENT, DFTI_NOT_INPLACE);
    if (status_ == 0 && s.avoid_scratch) status_ = DftiSet(h_, DFTI_SCRATCH_POLICY, DFTI_SCRATCH_AVOIDED);
    if (status_ == 0 && s.threads > 0) status_ = DftiSet(h_, DFTI_MAX_THREADS, (int64_t)s.threads);
    if (status_ == 0 && s.forward_scale != 1.0) status_ = DftiSet(h_, DFTI_FWD_SCALE, s.forward_scale);
    if (status_ == 0 && s.backward_scale != 1.0) status_ = DftiSet(h_, DFTI_BWD_SCALE, s.backward_scale);
    if (status_ == 0 && s.in_stride != 1) {
      int64_t strides[2] = {0, s.in_stride};
      status_ = DftiSet(h_, DFTI_IN_STRIDES, strides);
    }
    if (status_ == 0 && s.count != 1) {
      status_ = DftiSet(h_, DFTI_TRANSFORM_COUNT, (int64_t)s.count);
      if (status_ == 0) status_ = DftiSet(h_, DFTI_IN_DISTANCE, (int64_t)(s.n * s.in_stride));
      if (status_ == 0) status_ = DftiSet(h_, DFTI_OUT_DISTANCE, (int64_t)s.n);
    }
    if (status_ == 0) status_ = DftiCommit(h_);
  }
  ~Committed() { DftiRelease(&h_); }
  Committed(const Committed&) = delete;
  Committed& operator=(const Committed&) = delete;

  long status() const { return status_; }
  DftiHandle handle() const { return h_; }
  const tqs::EngineDescriptor& engine() const { return *tqs_test::engine(h_); }
  // The armed four-step plan's factors {N1, N2}, or {0, 0}.
  std::pair<int64_t, int64_t> four_step_factors() const {
    const auto* p = static_cast<const int64_t*>(engine().commit_hook_armed);
    return p == nullptr ? std::pair<int64_t, int64_t>{0, 0} : std::pair<int64_t, int64_t>{p[0], p[1]};
  }
  // The large kernel's table head, or null.
  const tqs::LargeTableHead* large_kernel() const {
    return static_cast<const tqs::LargeTableHead*>(engine().large_kernel_table);
  }
  bool four_step_team() const {
    return engine().commit_hook_armed != nullptr && engine().large_forward != nullptr &&
           engine().thread_count > 1;
  }
  bool large_kernel_team() const { return large_kernel() != nullptr && engine().large_forward != nullptr; }

 private:
  DftiHandle h_ = nullptr;
  long status_ = 0;
};

// Random input of n complex values and its unscaled transforms, kept for
// the lengths several tests use. From 2^20 points on the long-double
// reference takes seconds per length and process; FFTW's double-precision
// result stands in for it there, its own error being a fraction of the
// bound the comparison allows.
struct Reference {
  std::vector<double> x, forward, backward;
};

constexpr int64_t kLongDoubleLimit = int64_t(1) << 19;

inline void fftw_reference(const std::vector<double>& x, std::vector<double>* y, int64_t n, int sign) {
  std::vector<double> in = x;
  fftw_plan p = fftw_plan_dft_1d(static_cast<int>(n), reinterpret_cast<fftw_complex*>(in.data()),
                                 reinterpret_cast<fftw_complex*>(y->data()),
                                 sign < 0 ? FFTW_FORWARD : FFTW_BACKWARD, FFTW_ESTIMATE);
  fftw_execute(p);
  fftw_destroy_plan(p);
}

inline const Reference& reference(int64_t n) {
  static std::map<int64_t, std::unique_ptr<Reference>> cache;
  auto& slot = cache[n];
  if (!slot) {
    slot = std::make_unique<Reference>();
    slot->x = tqs_test::random_doubles(2 * n, static_cast<uint64_t>(n));
    slot->forward.resize(2 * n);
    slot->backward.resize(2 * n);
    if (n > kLongDoubleLimit) {
      fftw_reference(slot->x, &slot->forward, n, -1);
      fftw_reference(slot->x, &slot->backward, n, +1);
    } else {
      tqs_test::reference_complex(slot->x.data(), slot->forward.data(), n, -1);
      tqs_test::reference_complex(slot->x.data(), slot->backward.data(), n, +1);
    }
  }
  return *slot;
}

// One direction of a single contiguous transform. The arrays sit `shift`
// doubles into their allocations (1: off the 16-byte grid); every double
// around the output must keep its sentinel, and an out-of-place input must
// keep its values.
inline ::testing::AssertionResult run_direction(const Committed& c, const Shape& s, bool forward,
                                                std::vector<double>* result = nullptr, int shift_in = 0,
                                                int shift_out = 0) {
  const Reference& ref = reference(s.n);
  const size_t n2 = static_cast<size_t>(2 * s.n);
  const double guard = 1.0e300;
  std::vector<double> a(n2 + 8, guard), b(s.inplace ? 0 : n2 + 8, -guard);
  std::memcpy(a.data() + shift_in, ref.x.data(), n2 * sizeof(double));
  double* y = s.inplace ? a.data() + shift_in : b.data() + shift_out;
  long st = s.inplace ? (forward ? DftiForward(c.handle(), a.data() + shift_in)
                                 : DftiBackward(c.handle(), a.data() + shift_in))
                      : (forward ? DftiForward(c.handle(), a.data() + shift_in, y)
                                 : DftiBackward(c.handle(), a.data() + shift_in, y));
  const char* dir = forward ? "forward" : "backward";
  if (st != 0) return ::testing::AssertionFailure() << dir << " status " << st << " for " << s.describe();
  const double scale = forward ? s.forward_scale : s.backward_scale;
  std::vector<double> want = forward ? ref.forward : ref.backward;
  for (double& v : want) v *= scale;
  const double err = tqs_test::relative_rms_error(y, want.data(), 2 * s.n);
  if (!(err <= tqs_test::accuracy_bound(s.n))) {
    return ::testing::AssertionFailure() << dir << " relative error " << err << " for " << s.describe();
  }
  std::vector<double>& out = s.inplace ? a : b;
  const int shift = s.inplace ? shift_in : shift_out;
  for (size_t i = 0; i < out.size(); ++i) {
    if (i >= static_cast<size_t>(shift) && i < shift + n2) continue;
    if (std::abs(out[i]) != guard) {
      return ::testing::AssertionFailure() << dir << " wrote double " << i << " outside the output for "
                                           << s.describe();
    }
  }
  if (!s.inplace && std::memcmp(a.data() + shift_in, ref.x.data(), n2 * sizeof(double)) != 0) {
    return ::testing::AssertionFailure() << dir << " changed its input for " << s.describe();
  }
  if (result != nullptr) result->assign(y, y + n2);
  return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult both_directions(const Committed& c, const Shape& s) {
  if (c.status() != 0) return ::testing::AssertionFailure() << "commit status " << c.status() << " for " << s.describe();
  ::testing::AssertionResult r = run_direction(c, s, true);
  if (r) r = run_direction(c, s, false);
  return r;
}

// The processor level whose code runs (a level not built falls back to a
// lower one).
inline int running_level() { return tqs_test::level_api().level; }

}  // namespace parallel_test
