// Runs one interleaved complex configuration through the public calls and
// checks it against the long-double reference: every output vector's
// relative RMS error, every other double of the arrays (guards around and
// between the elements), and, out of place, the untouched input array.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/reference.h"
#include "support/strategies.h"
#include "tqs_dfti.h"

namespace complex_test {

struct Case {
  int64_t n = 1;
  bool inplace = false;
  int64_t in_stride = 1, out_stride = 1;  // in place: the input stride serves both
  int64_t in_offset = 0, out_offset = 0;  // from the lowest element (negative strides)
  int64_t count = 1;
  int64_t in_distance = -1, out_distance = -1;  // -1: tight
  double forward_scale = 1.0, backward_scale = 1.0;
  bool permuted = false;  // output order permuted: checked by round trip only
  int64_t threads = 0;    // DFTI_MAX_THREADS when positive
  bool set_strides = false;
  std::vector<std::string> only;  // commit with these strategies alone
  std::string expect_strategy;    // the strategy that must take it, when given

  std::string describe() const {
    char b[320];
    std::snprintf(b, sizeof b,
                  "n=%lld %s strides %lld/%lld offsets %lld/%lld count %lld dist %lld/%lld scales "
                  "%g/%g%s threads %lld",
                  (long long)n, inplace ? "inplace" : "out", (long long)in_stride,
                  (long long)out_stride, (long long)in_offset, (long long)out_offset,
                  (long long)count, (long long)in_distance, (long long)out_distance, forward_scale,
                  backward_scale, permuted ? " permuted" : "", (long long)threads);
    return b;
  }
};

// Element positions (complex elements) of every transform of one side.
struct Layout {
  int64_t offset, stride, distance;
  int64_t at(int64_t t, int64_t j) const { return offset + t * distance + j * stride; }
};

inline Layout input_layout(const Case& c) {
  const int64_t dist = c.in_distance >= 0 ? c.in_distance : c.n * std::llabs(c.in_stride);
  int64_t offset = c.in_offset;
  if (c.in_stride < 0) offset += (c.n - 1) * -c.in_stride;
  return {offset, c.in_stride, dist};
}

inline Layout output_layout(const Case& c) {
  if (c.inplace) return input_layout(c);
  const int64_t dist = c.out_distance >= 0 ? c.out_distance : c.n * std::llabs(c.out_stride);
  int64_t offset = c.out_offset;
  if (c.out_stride < 0) offset += (c.n - 1) * -c.out_stride;
  return {offset, c.out_stride, dist};
}

inline long configure(DftiHandle* h, const Case& c) {
  long s = DftiCreateDouble1D(h, DFTI_COMPLEX, c.n);
  if (s) return s;
  const Layout in = input_layout(c), out = output_layout(c);
  if (!c.inplace && (s = DftiSet(*h, DFTI_PLACEMENT, DFTI_NOT_INPLACE))) return s;
  if (c.set_strides || c.in_stride != 1 || c.out_stride != 1 || in.offset || out.offset) {
    int64_t is[2] = {in.offset, in.stride};
    int64_t os[2] = {out.offset, out.stride};
    if ((s = DftiSet(*h, DFTI_IN_STRIDES, is)) || (s = DftiSet(*h, DFTI_OUT_STRIDES, os))) return s;
  }
  if (c.count != 1) {
    if ((s = DftiSet(*h, DFTI_TRANSFORM_COUNT, (int64_t)c.count)) ||
        (s = DftiSet(*h, DFTI_IN_DISTANCE, in.distance)) ||
        (s = DftiSet(*h, DFTI_OUT_DISTANCE, out.distance)))
      return s;
  }
  if (c.forward_scale != 1.0 && (s = DftiSet(*h, DFTI_FWD_SCALE, c.forward_scale))) return s;
  if (c.backward_scale != 1.0 && (s = DftiSet(*h, DFTI_BWD_SCALE, c.backward_scale))) return s;
  if (c.permuted && (s = DftiSet(*h, DFTI_OUTPUT_ORDER, DFTI_ORDER_PERMUTED_BACKWARD))) return s;
  if (c.threads > 0 && (s = DftiSet(*h, DFTI_MAX_THREADS, (int64_t)c.threads))) return s;
  if (c.only.empty()) return DftiCommit(*h);
  tqs_test::StrategySubset subset(*h, c.only);
  return DftiCommit(*h);
}

inline double sentinel(size_t i) { return 1.0e300 - static_cast<double>(i) * 1.0e285; }

// Arrays of one call: sized to reach every element plus guards, filled with
// sentinels, the inputs placed at their positions.
struct Arrays {
  std::vector<double> a, b;
  double* in() { return a.data(); }
  double* out(bool inplace) { return inplace ? a.data() : b.data(); }
};

inline size_t extent(const Case& c, const Layout& l) {
  int64_t hi = 0;
  for (int64_t t = 0; t < c.count; ++t) {
    hi = std::max({hi, l.at(t, 0), l.at(t, c.n - 1)});
  }
  return static_cast<size_t>(2 * hi + 2 + 10);
}

inline ::testing::AssertionResult check_guards(const Case& c, Arrays& arr,
                                               const std::vector<double>& in_copy, const char* dir) {
  const Layout in = input_layout(c), out = output_layout(c);
  std::vector<char> mine(arr.a.size() > arr.b.size() ? arr.a.size() : arr.b.size(), 0);
  for (int64_t t = 0; t < c.count; ++t) {
    for (int64_t j = 0; j < c.n; ++j) {
      const int64_t p = out.at(t, j);
      mine[2 * p] = mine[2 * p + 1] = 1;
    }
  }
  if (c.inplace) {
    for (size_t i = 0; i < arr.a.size(); ++i) {
      if (!mine[i] && arr.a[i] != in_copy[i]) {
        return ::testing::AssertionFailure() << dir << " wrote outside its elements at double "
                                             << i << " for " << c.describe();
      }
    }
  } else {
    if (std::memcmp(arr.a.data(), in_copy.data(), arr.a.size() * sizeof(double)) != 0) {
      return ::testing::AssertionFailure() << dir << " wrote into its input for " << c.describe();
    }
    for (size_t i = 0; i < arr.b.size(); ++i) {
      if (!mine[i] && arr.b[i] != -sentinel(i)) {
        return ::testing::AssertionFailure() << dir << " wrote outside its output elements at "
                                             << "double " << i << " for " << c.describe();
      }
    }
  }
  (void)in;
  return ::testing::AssertionSuccess();
}

inline void make_arrays(const Case& c, Arrays* arr) {
  const size_t size = std::max(extent(c, input_layout(c)), extent(c, output_layout(c)));
  arr->a.resize(size);
  for (size_t i = 0; i < size; ++i) arr->a[i] = sentinel(i);
  arr->b.clear();
  if (!c.inplace) {
    arr->b.resize(size);
    for (size_t i = 0; i < size; ++i) arr->b[i] = -sentinel(i);
  }
}

inline long run(DftiHandle h, const Case& c, bool forward, Arrays& arr) {
  if (c.inplace) return forward ? DftiForward(h, arr.in()) : DftiBackward(h, arr.in());
  return forward ? DftiForward(h, arr.in(), arr.out(false))
                 : DftiBackward(h, arr.in(), arr.out(false));
}

// Random signals x and their forward spectra X (the reference, rounded):
// the forward call is checked on x -> X and the backward one on X -> n x, so
// that one reference transform serves both directions (the references took
// most of the tests' time).
struct Signals {
  std::vector<std::vector<double>> x, X;
};

inline Signals make_signals(const Case& c, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> uni(-1.0, 1.0);
  const size_t n = static_cast<size_t>(c.n);
  Signals s;
  for (int64_t t = 0; t < c.count; ++t) {
    std::vector<double> x(2 * n), X(2 * n);
    for (auto& v : x) v = uni(rng);
    tqs_test::reference_complex(x.data(), X.data(), c.n, -1);
    s.x.push_back(std::move(x));
    s.X.push_back(std::move(X));
  }
  return s;
}

// One direction against the reference (scaled), with the guard checks.
inline ::testing::AssertionResult run_direction(DftiHandle h, const Case& c, bool forward,
                                                const Signals& s) {
  Arrays arr;
  make_arrays(c, &arr);
  const Layout in = input_layout(c), out = output_layout(c);
  const size_t n = static_cast<size_t>(c.n);
  std::vector<std::vector<double>> want(static_cast<size_t>(c.count));
  const double scale = forward ? c.forward_scale : c.backward_scale * static_cast<double>(n);
  for (size_t t = 0; t < want.size(); ++t) {
    const std::vector<double>& x = forward ? s.x[t] : s.X[t];
    for (size_t j = 0; j < n; ++j) {
      arr.a[2 * in.at(int64_t(t), j)] = x[2 * j];
      arr.a[2 * in.at(int64_t(t), j) + 1] = x[2 * j + 1];
    }
    want[t] = forward ? s.X[t] : s.x[t];
    for (auto& v : want[t]) v *= scale;
  }
  const std::vector<double> in_copy = arr.a;
  const char* dir = forward ? "forward" : "backward";
  const long status = run(h, c, forward, arr);
  if (status != 0) {
    return ::testing::AssertionFailure() << dir << " status " << status << " for " << c.describe();
  }
  const double* y = arr.out(c.inplace);
  for (int64_t t = 0; t < c.count; ++t) {
    std::vector<double> got(2 * n);
    for (size_t j = 0; j < n; ++j) {
      got[2 * j] = y[2 * out.at(t, j)];
      got[2 * j + 1] = y[2 * out.at(t, j) + 1];
    }
    const double err = tqs_test::relative_rms_error(got.data(), want[t].data(), 2 * c.n);
    if (!(err <= tqs_test::accuracy_bound(c.n))) {
      return ::testing::AssertionFailure() << dir << " transform " << t << " relative error "
                                           << err << " for " << c.describe();
    }
  }
  return check_guards(c, arr, in_copy, dir);
}

// Permuted output order: forward then backward returns the input times the
// product of the scales and n. The case must lay both sides out alike, since
// the backward call reads the forward output through the input strides.
inline ::testing::AssertionResult round_trip(DftiHandle h, const Case& c, std::mt19937_64& rng) {
  Arrays arr;
  make_arrays(c, &arr);
  const Layout in = input_layout(c);
  std::uniform_real_distribution<double> uni(-1.0, 1.0);
  std::vector<double> x(static_cast<size_t>(2 * c.n * c.count));
  for (auto& v : x) v = uni(rng);
  for (int64_t t = 0; t < c.count; ++t) {
    for (int64_t j = 0; j < c.n; ++j) {
      arr.a[2 * in.at(t, j)] = x[2 * (t * c.n + j)];
      arr.a[2 * in.at(t, j) + 1] = x[2 * (t * c.n + j) + 1];
    }
  }
  if (run(h, c, true, arr) != 0) return ::testing::AssertionFailure() << "forward failed";
  if (!c.inplace) std::swap(arr.a, arr.b);
  if (run(h, c, false, arr) != 0) return ::testing::AssertionFailure() << "backward failed";
  const double* r = arr.out(c.inplace);
  const double factor = c.forward_scale * c.backward_scale * static_cast<double>(c.n);
  std::vector<double> got(x.size()), want(x.size());
  for (int64_t t = 0; t < c.count; ++t) {
    for (int64_t j = 0; j < c.n; ++j) {
      got[2 * (t * c.n + j)] = r[2 * in.at(t, j)];
      got[2 * (t * c.n + j) + 1] = r[2 * in.at(t, j) + 1];
    }
  }
  for (size_t i = 0; i < x.size(); ++i) want[i] = x[i] * factor;
  const double err = tqs_test::relative_rms_error(got.data(), want.data(), (int64_t)x.size());
  if (!(err <= 2 * tqs_test::accuracy_bound(c.n))) {
    return ::testing::AssertionFailure() << "round trip error " << err << " for " << c.describe();
  }
  return ::testing::AssertionSuccess();
}

// Both directions of one configuration (one commit serves both).
inline ::testing::AssertionResult check(const Case& c, uint64_t seed = 1) {
  DftiHandle h = nullptr;
  std::mt19937_64 rng(seed);
  const long s = configure(&h, c);
  if (s != 0) {
    DftiRelease(&h);
    return ::testing::AssertionFailure() << "commit status " << s << " for " << c.describe();
  }
  ::testing::AssertionResult r = ::testing::AssertionSuccess();
  if (!c.expect_strategy.empty() && tqs_test::committed_by(h) != c.expect_strategy) {
    r = ::testing::AssertionFailure() << "taken by " << tqs_test::committed_by(h) << " for "
                                      << c.describe();
  } else if (c.permuted) {
    r = round_trip(h, c, rng);
  } else {
    const Signals s = make_signals(c, rng);
    r = run_direction(h, c, true, s);
    if (r) r = run_direction(h, c, false, s);
  }
  DftiRelease(&h);
  return r;
}

}  // namespace complex_test
