// The step between a complex transform of h = n/2 points and the real
// transform of n points, for every even length. Forward: the real input
// viewed as h complex values z_t = x_2t + i*x_2t+1 has been transformed in
// place (Z = DFT_h(z)); bins k and h-k of Z give the packed real spectrum
// (R_0, R_h, R_1, I_1, ..., R_h-1, I_h-1):
//   X_k = E_k + w_n^k O_k,   X_h-k = conj(E_k - w_n^k O_k),
//   E_k = (Z_k + conj Z_h-k)/2,   O_k = -i (Z_k - conj Z_h-k)/2.
// Backward: the inverse step turns a packed spectrum into h complex values
// whose backward complex transform of length h is n*x, read as interleaved
// pairs (x_2k, x_2k+1).
#pragma once
#include <cstdint>

#include "engine/level.h"

TQS_LEVEL_BEGIN

// Doubles in the table of length n (n even, n >= 2): w_n^k = (cos, -sin)
// of 2*pi*k/n for k = 0..n/4, shared by both directions, and a zero pad.
int64_t real_split_table_doubles(int64_t n);
void real_split_table(double* table, int64_t n);

// In place on n doubles, every output times scale.
void real_split_forward(double* z, int64_t n, const double* table, double scale);
// The same step in pieces, for callers that produce Z in parts: bin 0 alone
// (it pairs with itself and gives R_0 and R_h), and the bin pairs (k, h-k)
// for k0 <= k < k1, 1 <= k0, k1 <= n/4 + 1 (k = h/2 is its own pair).
void real_split_forward_zero(double* z, double scale);
void real_split_forward_pairs(double* z, int64_t n, const double* table, double scale, int64_t k0,
                              int64_t k1);
// The same, fetching the n doubles at ahead (the next input of a batch)
// into the cache as it goes.
void real_split_forward_pairs(double* z, int64_t n, const double* table, double scale, int64_t k0,
                              int64_t k1, const char* ahead);
// Long lengths keep the roots in two levels, w^k = fine[k mod B] *
// coarse[k / B] with B = 2^bits: the full table would be half the size of
// the data, and reading it costs the memory-bound step more than forming
// each block's roots does (fine holds B + 2 roots, coarse one per block up
// to k = n/4 + 1).
constexpr int REAL_SPLIT_MAX_BITS = 10;
struct RealSplitRoots {
  const double* fine;
  const double* coarse;
  int bits;  // at most REAL_SPLIT_MAX_BITS
};
int64_t real_split_fine_doubles(int bits);
int64_t real_split_coarse_doubles(int64_t n, int bits);
void real_split_two_level_table(double* fine, double* coarse, int64_t n, int bits);
void real_split_forward_pairs(double* z, int64_t n, const RealSplitRoots& w, double scale,
                              int64_t k0, int64_t k1);

// in and out may coincide; out gets n doubles, scaled. The value at
// frequency n/2 is read from in[nyquist_at]: 1 in the packed order, n when
// the spectrum is stored as n/2+1 complex values, so that either layout is
// read where it lies.
void real_split_backward(const double* in, double* out, int64_t n, const double* table,
                         double scale, int64_t nyquist_at);
void real_split_backward(const double* in, double* out, int64_t n, const RealSplitRoots& w,
                         double scale, int64_t nyquist_at);

#if TQS_AVX
// The step around a short two-lane complex kernel of h = n/2 points, in the
// conjugate-even layout (n/2+1 complex values). The kernel stores and loads
// aligned pairs of values, and a pair read right after two stores that each
// wrote half of it waits for both to reach the cache: these forms read
// (forward, in place on the kernel's output) and write (backward, into the
// kernel's input) whole aligned pairs only. n a multiple of 4, from 8 on;
// w: the table of real_split_table.
void real_split_forward_cce_pairs(double* z, int64_t n, const double* w, double scale);
void real_split_backward_cce_pairs(const double* in, double* z, int64_t n, const double* w,
                                   double scale);
#endif

TQS_LEVEL_END
