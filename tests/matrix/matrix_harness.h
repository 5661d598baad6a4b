// Shared by the matrix tests and the child-process probe: buffers filled with
// a recognisable NaN outside the matrix, and one checked run of the in-place
// square transposition.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/level_api.h"

namespace matrix_test {

inline uint64_t bits(double x) {
  uint64_t u;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

inline double from_bits(uint64_t u) {
  double x;
  std::memcpy(&x, &u, sizeof x);
  return x;
}

// Every double the routine must not write holds this quiet NaN.
const uint64_t kSentinel = 0x7ff8dead5eed0001ull;

// A 64-byte aligned run of doubles, all set to the sentinel, starting
// `offset` doubles after the aligned address.
struct Buffer {
  std::vector<double> storage;
  double* data = nullptr;
  size_t size = 0;

  Buffer(size_t count, size_t offset = 0) : storage(count + offset + 8), size(count) {
    for (double& x : storage) x = from_bits(kSentinel);
    uintptr_t p = reinterpret_cast<uintptr_t>(storage.data());
    data = reinterpret_cast<double*>((p + 63) & ~uintptr_t(63)) + offset;
  }
};

struct SquareOutcome {
  bool ok = true;
  bool parallel = false;  // only meaningful for alpha = 1
  std::string detail;
};

// n x n complex matrix with row stride lda, its base `offset` doubles past a
// 64-byte boundary; A := alpha A^T through the level's entry. Values are
// small multiples of 1/4, so alpha = 1, 2 or (0.5, -1.5) give exact products
// with or without fused multiply-add. With alpha = 1 element (1, 0) gets an
// infinite imaginary part: the block path moves it unchanged while the
// element-wise loop multiplies, and inf * 0 turns its real part into NaN,
// which tells the two paths apart.
inline SquareOutcome square_case(const tqs::LevelApi* api, uint64_t n, uint64_t lda,
                                 uint64_t offset, double alpha_re, double alpha_im) {
  SquareOutcome out;
  Buffer buf(2 * lda * n + 8, offset);
  double* a = buf.data;
  auto re = [&](uint64_t r, uint64_t c) { return 1.0 + double(r) * 1000.0 + double(c); };
  auto im = [&](uint64_t r, uint64_t c) { return 0.25 + double(c) * 1000.0 + double(r); };
  for (uint64_t r = 0; r < n; ++r) {
    for (uint64_t c = 0; c < n; ++c) {
      a[2 * (r * lda + c)] = re(r, c);
      a[2 * (r * lda + c) + 1] = im(r, c);
    }
  }
  const bool marked = alpha_re == 1.0 && alpha_im == 0.0 && n >= 2;
  if (marked) a[2 * lda + 1] = INFINITY;  // element (1, 0)
  const double alpha[2] = {alpha_re, alpha_im};
  api->square_transpose(n, alpha, a, lda);

  char line[200];
  for (uint64_t r = 0; r < n && out.ok; ++r) {
    for (uint64_t c = 0; c < n; ++c) {
      const double* got = a + 2 * (r * lda + c);
      if (marked && r == 0 && c == 1) {
        out.parallel = got[0] == re(1, 0) && std::isinf(got[1]);
        if (!out.parallel && !(std::isnan(got[0]) && std::isinf(got[1]))) {
          std::snprintf(line, sizeof line, "marker became (%g, %g)", got[0], got[1]);
          out.ok = false;
          out.detail = line;
          break;
        }
        continue;
      }
      const double xr = re(c, r), xi = im(c, r);
      const double wr = alpha_re * xr - alpha_im * xi, wi = alpha_re * xi + alpha_im * xr;
      if (got[0] != wr || got[1] != wi) {
        std::snprintf(line, sizeof line, "(%llu, %llu) is (%.17g, %.17g), want (%.17g, %.17g)",
                      (unsigned long long)r, (unsigned long long)c, got[0], got[1], wr, wi);
        out.ok = false;
        out.detail = line;
        break;
      }
    }
  }
  if (!out.ok) return out;
  for (uint64_t i = 0; i < buf.storage.size(); ++i) {
    const double* p = buf.storage.data() + i;
    const int64_t k = p - a;  // position relative to the base, in doubles
    const bool inside = k >= 0 && uint64_t(k) < 2 * lda * n && uint64_t(k / 2) % lda < n;
    if (!inside && bits(*p) != kSentinel) {
      std::snprintf(line, sizeof line, "double %lld outside the matrix was written", (long long)k);
      out.ok = false;
      out.detail = line;
      break;
    }
  }
  return out;
}

}  // namespace matrix_test
