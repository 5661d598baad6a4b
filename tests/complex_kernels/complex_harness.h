// Batches of interleaved complex transforms laid out in one array with guard
// values around and between them, checked against the long-double reference.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/reference.h"
#include "support/strategies.h"
#include "tqs_dfti.h"

namespace complex_test {

using tqs_test::committed_by;
using tqs_test::StrategySubset;

// No transform of the test data comes near this value.
constexpr double kGuard = -31415.25;
// Guard elements before the first transform and after the last.
constexpr int64_t kPad = 3;

struct Handle {
  DftiHandle h = nullptr;
  explicit Handle(int64_t n) { EXPECT_EQ(0, DftiCreateDouble1D(&h, DFTI_COMPLEX, n)); }
  ~Handle() { DftiRelease(&h); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
};

// count transforms of n complex elements, distance elements apart; every
// other double of the array holds kGuard. shift moves the whole layout by
// one double (data aligned to 8 bytes only).
class Batch {
 public:
  Batch(int64_t n, int64_t count, int64_t distance, bool shift = false)
      : n_(n), count_(count), distance_(count > 1 ? distance : n), shift_(shift ? 1 : 0),
        storage_(static_cast<size_t>(2 * (2 * kPad + (count_ - 1) * distance_ + n_) + 1), kGuard) {}

  double* first() { return storage_.data() + shift_ + 2 * kPad; }
  double* transform(int64_t t) { return first() + 2 * t * distance_; }
  const double* transform(int64_t t) const {
    return storage_.data() + shift_ + 2 * (kPad + t * distance_);
  }
  const std::vector<double>& all() const { return storage_; }

  void fill(uint64_t seed) {
    std::vector<double> v = tqs_test::random_doubles(2 * n_ * count_, seed);
    for (int64_t t = 0; t < count_; ++t) {
      std::memcpy(transform(t), v.data() + 2 * n_ * t, static_cast<size_t>(2 * n_) * sizeof(double));
    }
  }

  // Every double outside the transforms still holds kGuard.
  void expect_guards(const std::string& what) const {
    int64_t bad = 0;
    for (int64_t i = 0; i < static_cast<int64_t>(storage_.size()); ++i) {
      const int64_t e = (i - shift_) / 2 - kPad;  // complex element index from the first
      const bool inside = i >= shift_ && e >= 0 && e < (count_ - 1) * distance_ + n_ &&
                          e % distance_ < n_;
      if (!inside && storage_[static_cast<size_t>(i)] != kGuard) ++bad;
    }
    EXPECT_EQ(bad, 0) << what << ": doubles written outside the transforms";
  }

 private:
  int64_t n_, count_, distance_, shift_;
  std::vector<double> storage_;
};

// Each transform of got against the reference transform of the matching one
// of input, times scale.
inline void expect_transforms(const Batch& input, const Batch& got, int64_t n, int64_t count, int sign,
                              double scale, const std::string& what) {
  std::vector<double> want(static_cast<size_t>(2 * n));
  for (int64_t t = 0; t < count; ++t) {
    tqs_test::reference_complex(input.transform(t), want.data(), n, sign);
    for (double& w : want) w *= scale;
    EXPECT_LE(tqs_test::relative_rms_error(got.transform(t), want.data(), 2 * n),
              tqs_test::accuracy_bound(n))
        << what << " transform " << t;
  }
}

inline int level() { return tqs_test::level_api().level; }

}  // namespace complex_test
