// Roots of unity for the general-length engines, built from the octant and
// half-period symmetries so that the error does not grow with the length.
#pragma once
#include <cstdint>

#include "engine/level.h"

TQS_LEVEL_BEGIN

// w[2k], w[2k+1] = cos(2*pi*k/n), -sin(2*pi*k/n) for k = 0..n-1.
void root_table(double* w, int64_t n);
// The same in extended precision.
void root_table_ext(long double* w, int64_t n);
// Quarter-wave sines qs[j] = sin(2*pi*j/n), j = 0..n/4, for n divisible by
// four: with quadrant_root they give every n-th root from an eighth of the
// roots' work and a quarter of their memory.
void quarter_sine_table(double* qs, int64_t n);
// One root: cos(2*pi*k/n) and sin(2*pi*k/n), any integer k.
void root_cos_sin(int64_t k, int64_t n, double* c, double* s);

// The n-th roots of unity for table builders that need many of them. A
// library sine costs 50-100 ns in extended precision; here a root is the
// product of two entries of short extended-precision tables,
// w^m = w^(hi*B) * w^lo with B about sqrt(n), formed in a few ns and within
// about an ulp of the correctly rounded value (each factor carries an error
// of a few 2^-64, being itself a product of library values, and the root a
// few times that, far below half an ulp of a double). Angles are first
// reduced to the octant [0, pi/4], where neither the cosine nor the sine of
// a product cancels. Without memory for the tables (or for short lengths,
// where they would not pay) every root comes from the library instead, with
// the same accuracy.
class RootGenerator {
 public:
  explicit RootGenerator(int64_t n);
  ~RootGenerator();
  RootGenerator(const RootGenerator&) = delete;
  RootGenerator& operator=(const RootGenerator&) = delete;

  int64_t length() const { return n_; }
  // cos(2*pi*k/n) and sin(2*pi*k/n), any integer k.
  void cos_sin(int64_t k, double* c, double* s) const;
  // w^k = (cos, -sin)(2*pi*k/n), any integer k, as one interleaved complex.
  void root(int64_t k, double* w) const {
    double c, s;
    cos_sin(k, &c, &s);
    w[0] = c;
    w[1] = -s;
  }
  // cos and sin of 2*pi*num4/(4n) for 0 <= num4 <= n/2 (at most pi/4): the
  // octant every root is reduced to.
  void octant(int64_t num4, long double* c, long double* s) const;
  // The same rounded to double.
  void octant(int64_t num4, double* c, double* s) const;

 private:
  int64_t n_;
  int shift_ = 0;
  int64_t mask_ = 0;
  long double* lo_ = nullptr;  // (cos, sin) of num4 = 0 .. 2^shift - 1
  long double* hi_ = nullptr;  // (cos, sin) of num4 = j * 2^shift
  // With fused multiply-adds, the same tables as pairs of doubles (cos high
  // and low part, sin high and low part), whose products in double-double
  // arithmetic cost a third of the extended-precision ones.
  double* lo2_ = nullptr;
  double* hi2_ = nullptr;
};

// w = (cos, -sin)(2*pi*(quad*q4 + r)/(4*q4)) from s = sin and c = cos of
// 2*pi*r/(4*q4), 0 <= r < q4, for the quarter-wave lookups: each quadrant
// is the first one turned.
inline void quadrant_root(int64_t quad, double s, double c, double* w) {
  switch (quad) {
    case 0:
      w[0] = c;
      w[1] = -s;
      break;
    case 1:
      w[0] = -s;
      w[1] = -c;
      break;
    case 2:
      w[0] = -c;
      w[1] = s;
      break;
    default:
      w[0] = s;
      w[1] = c;
      break;
  }
}

TQS_LEVEL_END
