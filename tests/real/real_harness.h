// Runs one real-domain configuration through the public calls, forward and
// backward, and checks it element by element against FFTW: every output
// element, every other double of the arrays (guards around and between the
// elements), and, out of place, the untouched input array.
#pragma once
#include <fftw3.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "support/strategies.h"
#include "tqs_dfti.h"

namespace real_test {

enum class Layout { Cce, Half, Permuted, Sequential };

inline const char* layout_name(Layout l) {
  switch (l) {
    case Layout::Cce: return "cce";
    case Layout::Half: return "half";
    case Layout::Permuted: return "permuted";
    default: return "sequential";
  }
}

struct Case {
  int64_t n = 1;
  Layout layout = Layout::Cce;
  bool inplace = false;
  // Strides, offsets and distances of the call's input and output (the
  // descriptor's input side is the input of whichever direction runs).
  int64_t in_stride = 1, out_stride = 1;
  int64_t in_offset = 0, out_offset = 0;  // from the lowest element (negative strides)
  int64_t count = 1;
  int64_t in_distance = -1, out_distance = -1;  // -1: tight
  double forward_scale = 1.0, backward_scale = 1.0;
  bool set_strides = false;  // pass strides through DftiSet even when 1
  bool forward = true;
  bool backward = true;
  // Compare a sample of bins (and real outputs) against direct long-double
  // sums instead of whole FFTW transforms: for sweeps over many lengths.
  bool sampled = false;
  std::vector<std::string> only;  // commit with these strategies alone
  int64_t threads = 0;            // DFTI_MAX_THREADS when positive

  std::string describe() const {
    char b[300];
    std::snprintf(b, sizeof b,
                  "n=%lld %s %s strides %lld/%lld offsets %lld/%lld count %lld dist %lld/%lld "
                  "scales %g/%g",
                  (long long)n, layout_name(layout), inplace ? "inplace" : "out", (long long)in_stride,
                  (long long)out_stride, (long long)in_offset, (long long)out_offset,
                  (long long)count, (long long)in_distance, (long long)out_distance, forward_scale,
                  backward_scale);
    return b;
  }
};

// Shape of one side: element count per vector and doubles per element.
struct Side {
  int64_t count;
  int unit;
};

inline Side real_side(const Case& c) { return {c.n, 1}; }
inline Side spectrum_side(const Case& c) {
  if (c.layout == Layout::Cce) return {c.n / 2 + 1, 2};
  if (c.layout == Layout::Half) return {c.n / 2 * 2 + 2, 1};
  return {c.n, 1};
}

// The spectrum side as doubles in the layout's order, from the half
// spectrum h (m + 1 complex values).
inline std::vector<double> to_layout(const std::vector<double>& h, int64_t n, Layout l) {
  const int64_t m = n / 2;
  std::vector<double> v;
  if (l == Layout::Cce || l == Layout::Half) {
    v.assign(h.begin(), h.begin() + 2 * (m + 1));
    return v;
  }
  v.push_back(h[0]);
  if (l == Layout::Permuted && n % 2 == 0 && n > 1) v.push_back(h[2 * m]);
  const int64_t pairs_end = n % 2 == 0 ? m : m + 1;
  for (int64_t k = 1; k < pairs_end; ++k) {
    v.push_back(h[2 * k]);
    v.push_back(h[2 * k + 1]);
  }
  if (l == Layout::Sequential && n % 2 == 0 && n > 1) v.push_back(h[2 * m]);
  return v;
}

inline std::vector<double> fftw_forward(const std::vector<double>& x) {
  const int n = static_cast<int>(x.size());
  std::vector<double> in(x);
  std::vector<double> out(2 * (n / 2 + 1));
  fftw_plan p = fftw_plan_dft_r2c_1d(n, in.data(), reinterpret_cast<fftw_complex*>(out.data()),
                                     FFTW_ESTIMATE);
  fftw_execute(p);
  fftw_destroy_plan(p);
  return out;
}

inline std::vector<double> fftw_backward(const std::vector<double>& h, int64_t n) {
  std::vector<double> in(h);
  std::vector<double> out(static_cast<size_t>(n));
  fftw_plan p = fftw_plan_dft_c2r_1d(static_cast<int>(n), reinterpret_cast<fftw_complex*>(in.data()),
                                     out.data(), FFTW_ESTIMATE);
  fftw_execute(p);
  fftw_destroy_plan(p);
  return out;
}

// Sampled reference: a few bins (forward) or outputs (backward) by direct
// long-double sums; everything else NaN, meaning "not checked".
inline std::vector<int64_t> sample_indices(int64_t limit, std::mt19937_64& rng) {
  std::vector<int64_t> idx = {0, 1, limit / 2, limit - 1, limit > 1 ? limit - 2 : 0};
  std::uniform_int_distribution<int64_t> pick(0, limit - 1);
  for (int i = 0; i < 6; ++i) idx.push_back(pick(rng));
  for (auto& i : idx) i = std::max<int64_t>(0, std::min<int64_t>(i, limit - 1));
  return idx;
}

// cos and sin of 2 pi r / n for r = 0 .. n-1, in long double; kept for the
// last n, since the forward and backward checks of a length share it.
struct RootTable {
  int64_t n = 0;
  std::vector<long double> c, s;
  const RootTable& of(int64_t len) {
    if (len == n) return *this;
    n = len;
    c.assign(static_cast<size_t>(n), 0.0L);
    s.assign(static_cast<size_t>(n), 0.0L);
    for (int64_t r = 0; 2 * r <= n; ++r) {
      const long double a = 6.283185307179586476925286766559005768L * static_cast<long double>(r) /
                            static_cast<long double>(n);
      c[r] = cosl(a);
      s[r] = sinl(a);
      if (r > 0 && r < n) {
        c[n - r] = c[r];
        s[n - r] = -s[r];
      }
    }
    return *this;
  }
};

inline const RootTable& roots(int64_t n) {
  static thread_local RootTable table;
  return table.of(n);
}

inline std::vector<double> sampled_forward(const std::vector<double>& x, std::mt19937_64& rng) {
  const int64_t n = static_cast<int64_t>(x.size()), m = n / 2;
  const RootTable& w = roots(n);
  std::vector<double> h(static_cast<size_t>(2 * (m + 1)), std::nan(""));
  for (int64_t k : sample_indices(m + 1, rng)) {
    long double re = 0, im = 0;
    int64_t r = 0;
    for (int64_t j = 0; j < n; ++j, r = (r + k) % n) {
      re += x[j] * w.c[r];
      im -= x[j] * w.s[r];
    }
    h[2 * k] = static_cast<double>(re);
    h[2 * k + 1] = (k == 0 || 2 * k == n) ? 0.0 : static_cast<double>(im);
  }
  return h;
}

inline std::vector<double> sampled_backward(const std::vector<double>& h, int64_t n,
                                            std::mt19937_64& rng) {
  const int64_t m = n / 2;
  const RootTable& w = roots(n);
  std::vector<double> x(static_cast<size_t>(n), std::nan(""));
  for (int64_t j : sample_indices(n, rng)) {
    long double sum = h[0];
    int64_t r = j % n;
    for (int64_t k = 1; k <= m; ++k, r = (r + j) % n) {
      const long double term = h[2 * k] * w.c[r] - h[2 * k + 1] * w.s[r];
      sum += (2 * k == n) ? term : 2 * term;
    }
    x[j] = static_cast<double>(sum);
  }
  return x;
}

inline double tolerance(int64_t n, double norm2) {
  return 16.0 * 2.220446049250313e-16 * (std::log2(static_cast<double>(n)) + 1.0) * (norm2 + 1e-300);
}

// Doubles of the array that one side of one transform occupies.
inline void side_positions(int64_t base, int64_t stride, int64_t distance, int64_t t, Side s,
                           std::vector<int64_t>* out) {
  for (int64_t j = 0; j < s.count; ++j) {
    const int64_t e = base + t * distance + j * stride;
    for (int u = 0; u < s.unit; ++u) out->push_back(e * s.unit + u);
  }
}

// Distance that packs the vectors of one side behind each other.
inline int64_t tight_distance(const Case& c, bool real, int64_t stride) {
  if (c.inplace) {
    if (c.layout == Layout::Cce) return real ? 2 * (c.n / 2 + 1) : c.n / 2 + 1;
    return spectrum_side(c).count * std::llabs(stride);
  }
  return (real ? c.n : spectrum_side(c).count) * std::llabs(stride);
}

inline long set_layout(DftiHandle h, Layout l) {
  if (l == Layout::Cce) return DftiSet(h, DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_COMPLEX);
  if (l == Layout::Permuted) return DftiSet(h, DFTI_PACKING, DFTI_PACKING_PERMUTED);
  if (l == Layout::Sequential) return DftiSet(h, DFTI_PACKING, DFTI_PACKING_SEQUENTIAL);
  return 0;
}

inline long configure(DftiHandle* h, const Case& c, int64_t in_dist, int64_t out_dist) {
  long s = DftiCreateDouble1D(h, DFTI_REAL, c.n);
  if (s) return s;
  if ((s = set_layout(*h, c.layout))) return s;
  if (!c.inplace && (s = DftiSet(*h, DFTI_PLACEMENT, DFTI_NOT_INPLACE))) return s;
  if (c.set_strides || c.in_stride != 1 || c.out_stride != 1 || c.in_offset || c.out_offset) {
    int64_t is[2] = {c.in_offset, c.in_stride};
    int64_t os[2] = {c.out_offset, c.out_stride};
    if ((s = DftiSet(*h, DFTI_IN_STRIDES, is)) || (s = DftiSet(*h, DFTI_OUT_STRIDES, os))) return s;
  }
  if (c.count != 1) {
    if ((s = DftiSet(*h, DFTI_TRANSFORM_COUNT, (int64_t)c.count)) ||
        (s = DftiSet(*h, DFTI_IN_DISTANCE, in_dist)) || (s = DftiSet(*h, DFTI_OUT_DISTANCE, out_dist)))
      return s;
  }
  if (c.forward_scale != 1.0 && (s = DftiSet(*h, DFTI_FWD_SCALE, c.forward_scale))) return s;
  if (c.backward_scale != 1.0 && (s = DftiSet(*h, DFTI_BWD_SCALE, c.backward_scale))) return s;
  if (c.threads > 0 && (s = DftiSet(*h, DFTI_MAX_THREADS, (int64_t)c.threads))) return s;
  if (c.only.empty()) return DftiCommit(*h);
  tqs_test::StrategySubset subset(*h, c.only);
  return DftiCommit(*h);
}

// One direction of a committed descriptor on freshly filled arrays.
inline ::testing::AssertionResult run_direction(DftiHandle h, const Case& c, bool forward,
                                                int64_t in_dist, int64_t out_dist,
                                                std::mt19937_64& rng) {
  const Side in = forward ? real_side(c) : spectrum_side(c);
  const Side out = forward ? spectrum_side(c) : real_side(c);
  std::vector<int64_t> in_pos, out_pos;
  for (int64_t t = 0; t < c.count; ++t) {
    side_positions(c.in_offset, c.in_stride, in_dist, t, in, &in_pos);
    int64_t out_base = c.out_offset;
    if (c.inplace && c.layout != Layout::Cce) out_base = c.in_offset;
    side_positions(out_base, c.out_stride, out_dist, t, out, &out_pos);
  }
  int64_t lo = 0, hi = 0;
  for (int64_t p : in_pos) { lo = std::min(lo, p); hi = std::max(hi, p); }
  for (int64_t p : out_pos) { lo = std::min(lo, p); hi = std::max(hi, p); }
  if (lo < 0) return ::testing::AssertionFailure() << "case reaches before the array: " << c.describe();
  const int64_t guard = 5;
  const size_t in_size = static_cast<size_t>(hi + 1 + guard);

  std::uniform_real_distribution<double> uni(-1.0, 1.0);
  const int64_t n = c.n, m = n / 2;
  const double sentinel_base = 1.0e300;
  auto sentinel = [&](size_t i) { return sentinel_base - static_cast<double>(i) * 1.0e285; };

  std::vector<double> a(in_size), b;
  for (size_t i = 0; i < a.size(); ++i) a[i] = sentinel(i);
  if (!c.inplace) {
    b.resize(in_size);
    for (size_t i = 0; i < b.size(); ++i) b[i] = -sentinel(i);
  }
  double* in_array = a.data();
  double* out_array = c.inplace ? a.data() : b.data();

  // Inputs and expected outputs per transform.
  std::vector<double> expected(out_pos.size());
  double norm2 = 0.0;
  const size_t in_per = in_pos.size() / static_cast<size_t>(c.count);
  const size_t out_per = out_pos.size() / static_cast<size_t>(c.count);
  for (int64_t t = 0; t < c.count; ++t) {
    std::vector<double> result;
    if (forward) {
      std::vector<double> x(static_cast<size_t>(n));
      for (auto& v : x) v = uni(rng);
      for (size_t j = 0; j < in_per; ++j) in_array[in_pos[t * in_per + j]] = x[j];
      for (double v : x) norm2 += v * v;
      std::vector<double> h = c.sampled ? sampled_forward(x, rng) : fftw_forward(x);
      result = to_layout(h, n, c.layout);
      for (auto& v : result) v *= c.forward_scale;
    } else {
      std::vector<double> h(static_cast<size_t>(2 * (m + 1)));
      for (auto& v : h) v = uni(rng);
      h[1] = 0.0;
      if (n % 2 == 0) h[2 * m + 1] = 0.0;
      for (int64_t k = 0; k <= m; ++k) {
        const double w = (k == 0 || 2 * k == n) ? 1.0 : 2.0;
        norm2 += w * (h[2 * k] * h[2 * k] + h[2 * k + 1] * h[2 * k + 1]);
      }
      std::vector<double> lay = to_layout(h, n, c.layout);
      // The imaginary parts that must be zero get noise: they are to be ignored.
      if (c.layout == Layout::Cce || c.layout == Layout::Half) {
        lay[1] = 0.25;
        if (n % 2 == 0) lay[static_cast<size_t>(n + 1)] = -0.5;
      }
      for (size_t j = 0; j < in_per; ++j) in_array[in_pos[t * in_per + j]] = lay[j];
      result = c.sampled ? sampled_backward(h, n, rng) : fftw_backward(h, n);
      for (auto& v : result) v *= c.backward_scale;
    }
    for (size_t j = 0; j < out_per; ++j) expected[t * out_per + j] = result[j];
  }
  const double scale = forward ? c.forward_scale : c.backward_scale;
  const double tol = tolerance(n, std::sqrt(norm2 / static_cast<double>(c.count))) *
                     std::max(1.0, std::fabs(scale));
  const std::vector<double> in_copy = a;

  long status = c.inplace ? (forward ? DftiForward(h, in_array) : DftiBackward(h, in_array))
                          : (forward ? DftiForward(h, in_array, out_array)
                                     : DftiBackward(h, in_array, out_array));
  const char* dir = forward ? "forward" : "backward";
  if (status != 0) {
    return ::testing::AssertionFailure() << dir << " status " << status << " for " << c.describe();
  }
  double worst = 0.0;
  size_t worst_at = 0;
  for (size_t i = 0; i < out_pos.size(); ++i) {
    if (std::isnan(expected[i])) continue;
    const double err = std::fabs(out_array[out_pos[i]] - expected[i]);
    if (!(err <= worst)) { worst = err; worst_at = i; }
  }
  if (!(worst <= tol)) {
    return ::testing::AssertionFailure()
           << dir << " error " << worst << " > " << tol << " at output element " << worst_at
           << " (got " << out_array[out_pos[worst_at]] << ", want " << expected[worst_at] << ") for "
           << c.describe();
  }
  std::vector<char> mine(in_size, 0);
  for (int64_t p : out_pos) mine[static_cast<size_t>(p)] = 1;
  if (c.inplace) {
    for (int64_t p : in_pos) mine[static_cast<size_t>(p)] = 1;
    for (size_t i = 0; i < in_size; ++i) {
      if (!mine[i] && a[i] != in_copy[i]) {
        return ::testing::AssertionFailure() << dir << " wrote outside its elements at double " << i
                                             << " for " << c.describe();
      }
    }
  } else {
    if (std::memcmp(a.data(), in_copy.data(), in_size * sizeof(double)) != 0) {
      return ::testing::AssertionFailure() << dir << " wrote into its input for " << c.describe();
    }
    for (size_t i = 0; i < in_size; ++i) {
      if (!mine[i] && b[i] != -sentinel(i)) {
        return ::testing::AssertionFailure() << dir << " wrote outside its output elements at double "
                                             << i << " for " << c.describe();
      }
    }
  }
  return ::testing::AssertionSuccess();
}

// Offsets count from the lowest element of a vector: a negative stride moves
// the first element up by the vector's extent.
inline Case with_real_offsets(Case c, bool forward) {
  const Side in = forward ? real_side(c) : spectrum_side(c);
  const Side out = forward ? spectrum_side(c) : real_side(c);
  if (c.in_stride < 0) c.in_offset += (in.count - 1) * -c.in_stride;
  if (c.out_stride < 0) c.out_offset += (out.count - 1) * -c.out_stride;
  return c;
}

inline ::testing::AssertionResult check(const Case& c, uint64_t seed = 1) {
  const int64_t in_dist = c.in_distance >= 0 ? c.in_distance : tight_distance(c, true, c.in_stride);
  const int64_t out_dist =
      c.out_distance >= 0 ? c.out_distance : tight_distance(c, false, c.out_stride);
  DftiHandle h = nullptr;
  std::mt19937_64 rng(seed);
  // With the same strides and offsets on both sides one commit serves both
  // directions.
  if (c.forward && c.backward && c.count == 1 && c.in_stride == c.out_stride &&
      c.in_stride > 0 && c.in_offset == c.out_offset) {
    long s = configure(&h, c, 0, 0);
    if (s != 0) {
      DftiRelease(&h);
      return ::testing::AssertionFailure() << "commit status " << s << " for " << c.describe();
    }
    auto r = run_direction(h, c, true, 0, 0, rng);
    if (r) r = run_direction(h, c, false, 0, 0, rng);
    DftiRelease(&h);
    return r;
  }
  // The descriptor's input side is the call's input: forward reads the real
  // side through it, backward the spectrum side.
  if (c.forward) {
    Case f = with_real_offsets(c, true);
    long s = configure(&h, f, in_dist, out_dist);
    if (s != 0) {
      DftiRelease(&h);
      return ::testing::AssertionFailure() << "commit status " << s << " for " << c.describe();
    }
    auto r = run_direction(h, f, true, in_dist, out_dist, rng);
    DftiRelease(&h);
    if (!r) return r;
  }
  if (c.backward) {
    Case b = with_real_offsets(c, false);
    // Tight distances are per side: the backward input is the spectrum.
    const int64_t bin = c.in_distance >= 0 ? c.in_distance : tight_distance(c, false, c.in_stride);
    const int64_t bout = c.out_distance >= 0 ? c.out_distance : tight_distance(c, true, c.out_stride);
    long s = configure(&h, b, bin, bout);
    if (s != 0) {
      DftiRelease(&h);
      return ::testing::AssertionFailure() << "commit status " << s << " for " << c.describe();
    }
    auto r = run_direction(h, b, false, bin, bout, rng);
    DftiRelease(&h);
    if (!r) return r;
  }
  return ::testing::AssertionSuccess();
}

}  // namespace real_test
