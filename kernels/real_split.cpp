#include "kernels/real_split.h"

#include "kernels/roots.h"
#include "kernels/simd.h"

TQS_LEVEL_BEGIN

using namespace simd;

// Two doubles past the last root: the two-bin loads of the 256-bit step
// read one double beyond the pair they use (see cmul_neg_i_mem), which for
// n/2 odd is the last root's neighbour.
int64_t real_split_table_doubles(int64_t n) { return 2 * (n / 4 + 1) + 2; }

void real_split_table(double* table, int64_t n) {
  const RootGenerator roots(n);
  for (int64_t k = 0; k <= n / 4; ++k) roots.root(k, table + 2 * k);
  table[2 * (n / 4 + 1)] = table[2 * (n / 4 + 1) + 1] = 0.0;
}

namespace {

// Both directions walk the bins from both ends towards the middle; at the
// AVX levels two bins from the front (k, k+1) go with two from the back
// (h-k, h-k-1, lane-reversed).
// The roots of bins k0 <= k < k1 lie at w + 2 * (k - wk), and one double
// past them.
void forward_pairs(double* z, int64_t n, const double* w, int64_t wk, double scale, int64_t k0,
                   int64_t k1, const char* ahead = nullptr) {
  const int64_t h = n / 2;
  const double half = 0.5 * scale;
  int64_t k = k0;
#if TQS_AVX
  // While k + 1 < k1 and the back pair h-k-1, h-k-2 lies beyond k + 1.
  const int64_t lim = k1 - 1 < (h - 1) / 2 ? k1 - 1 : (h - 1) / 2;
  for (; k < lim; k += 2) {
    const int64_t j = h - k - 1;
    // The next transform's n doubles, n/8 lines: one a step (the
    // steps of two bins run k0 <= k < n/4 two at a time).
    if (ahead != nullptr) __builtin_prefetch(ahead + (k - k0) * 32, 0, 3);
    C2 a = load2(z + 2 * k);
    C2 b = reverse_lanes(load2(z + 2 * j));
    C2 s = add_conj(a, b);
    C2 t = cmul_neg_i_mem(sub_conj(a, b) * half, w + 2 * (k - wk));
    store2(z + 2 * k, scale_add(s, half, t));
    store2(z + 2 * j, reverse_lanes(conj_scale_sub(s, half, t)));
  }
#endif
  for (; k < k1; ++k) {
    const int64_t j = h - k;
    if (ahead != nullptr && ((k - k0) & 1) == 0) __builtin_prefetch(ahead + (k - k0) * 32, 0, 3);
    C1 a = load1(z + 2 * k);
    C1 b = conj(load1(z + 2 * j));
    C1 e = (a + b) * half;
    C1 t = cmul_neg_i_mem((a - b) * half, w + 2 * (k - wk));
    store1(z + 2 * k, e + t);
    if (j != k) store1(z + 2 * j, conj(e - t));
  }
}

void backward_pairs(const double* in, double* z, int64_t n, const double* w, int64_t wk,
                    double scale, int64_t k0, int64_t k1) {
  const int64_t h = n / 2;
  int64_t k = k0;
#if TQS_AVX
  // Out of place the output lines are rarely in the first-level cache:
  // asking for them, for writing, a few lines ahead of both streams lets the
  // stores drain (measured: 22-30 % less time from 3000 points on, where
  // input and output no longer fit that cache together). From 128 points on
  // both addresses stay inside the output. Two iterations share a line, so
  // every second one asks (1-2 % less time than asking every time).
  const bool ahead = h >= 64;
  // While k + 1 < k1 and k + 1 < h - k - 1.
  const int64_t lim = k1 - 1 < (h - 1) / 2 ? k1 - 1 : (h - 1) / 2;
  for (; k < lim; k += 2) {
    const int64_t j = h - k - 1;
    if (ahead && (k & 2) == 0) {
      __builtin_prefetch(z + 2 * k + 64, 1);
      __builtin_prefetch(z + 2 * j - 64, 1);
    }
    C2 a = load2(in + 2 * k);
    C2 b = reverse_lanes(load2(in + 2 * j));
    C2 s = add_conj(a, b);
    C2 p = cmul_i_conj_mem(sub_conj(a, b) * scale, w + 2 * (k - wk));
    store2(z + 2 * k, scale_add(s, scale, p));
    store2(z + 2 * j, reverse_lanes(conj_scale_sub(s, scale, p)));
  }
#endif
  for (; k < k1; ++k) {
    const int64_t j = h - k;
    C1 a = load1(in + 2 * k);
    C1 b = conj(load1(in + 2 * j));
    C1 e = (a + b) * scale;
    C1 p = cmul_i_conj_mem((a - b) * scale, w + 2 * (k - wk));
    store1(z + 2 * k, e + p);
    if (j != k) store1(z + 2 * j, conj(e - p));
  }
}

// Bin 0 with the Nyquist bin (both read before z may overwrite them).
void backward_zero(const double* in, double* z, double scale, int64_t nyquist_at) {
  const double x0 = in[0], xn = in[nyquist_at];
  z[0] = (x0 + xn) * scale;
  z[1] = (x0 - xn) * scale;
}

// Runs f(roots, k, e) over the blocks [k, e) of [k0, k1) that share a coarse
// root, with the block's roots (and the next one or two) formed in roots.
template <class F>
void by_blocks(const RealSplitRoots& r, int64_t k0, int64_t k1, F&& f) {
  const int64_t B = int64_t(1) << r.bits;
  alignas(64) double roots[2 * ((1 << REAL_SPLIT_MAX_BITS) + 2)];
  for (int64_t k = k0; k < k1;) {
    const int64_t b = k >> r.bits, e = (b + 1) * B < k1 ? (b + 1) * B : k1;
    const double* c = r.coarse + 2 * b;
    const double* fine = r.fine + 2 * (k - b * B);
#if TQS_AVX
    for (int64_t i = 0; i <= e - k; i += 2) store2(roots + 2 * i, cmul_mem(load2(fine + 2 * i), c));
#else
    for (int64_t i = 0; i <= e - k; ++i) store1(roots + 2 * i, cmul_mem(load1(fine + 2 * i), c));
#endif
    f(roots, k, e);
    k = e;
  }
}

}  // namespace

void real_split_forward_pairs(double* z, int64_t n, const double* w, double scale, int64_t k0,
                              int64_t k1) {
  forward_pairs(z, n, w, 0, scale, k0, k1);
}

void real_split_forward_pairs(double* z, int64_t n, const double* w, double scale, int64_t k0,
                              int64_t k1, const char* ahead) {
  forward_pairs(z, n, w, 0, scale, k0, k1, ahead);
}

void real_split_forward_zero(double* z, double scale) {
  const double re = z[0], im = z[1];
  z[0] = (re + im) * scale;
  z[1] = (re - im) * scale;
}

void real_split_forward(double* z, int64_t n, const double* w, double scale) {
  real_split_forward_zero(z, scale);
  real_split_forward_pairs(z, n, w, scale, 1, n / 4 + 1);
}

void real_split_backward(const double* in, double* z, int64_t n, const double* w, double scale,
                         int64_t nyquist_at) {
  backward_zero(in, z, scale, nyquist_at);
  backward_pairs(in, z, n, w, 0, scale, 1, n / 4 + 1);
}

int64_t real_split_fine_doubles(int bits) { return 2 * ((int64_t(1) << bits) + 2); }
int64_t real_split_coarse_doubles(int64_t n, int bits) {
  return 2 * (((n / 4 + 1) >> bits) + 1);
}

void real_split_two_level_table(double* fine, double* coarse, int64_t n, int bits) {
  const RootGenerator roots(n);
  const int64_t B = int64_t(1) << bits;
  for (int64_t k = 0; k <= B + 1; ++k) roots.root(k, fine + 2 * k);
  for (int64_t b = 0; b <= (n / 4 + 1) >> bits; ++b) roots.root(b * B, coarse + 2 * b);
}

void real_split_forward_pairs(double* z, int64_t n, const RealSplitRoots& w, double scale,
                              int64_t k0, int64_t k1) {
  by_blocks(w, k0, k1, [&](const double* roots, int64_t k, int64_t e) {
    forward_pairs(z, n, roots, k, scale, k, e);
  });
}

void real_split_backward(const double* in, double* z, int64_t n, const RealSplitRoots& w,
                         double scale, int64_t nyquist_at) {
  backward_zero(in, z, scale, nyquist_at);
  by_blocks(w, 1, n / 4 + 1, [&](const double* roots, int64_t k, int64_t e) {
    backward_pairs(in, z, n, roots, k, scale, k, e);
  });
}

#if TQS_AVX
namespace {

// Bins k and j = h - k of the forward step (j == k: only k).
void forward_one(double* z, int64_t k, int64_t j, const double* w, double half) {
  const C1 a = load1(z + 2 * k), b = conj(load1(z + 2 * j));
  const C1 e = (a + b) * half;
  const C1 t = cmul_neg_i_mem((a - b) * half, w + 2 * k);
  store1(z + 2 * k, e + t);
  if (j != k) store1(z + 2 * j, conj(e - t));
}

// The same backward, into lo (bin k) and hi (bin j).
void backward_one(const double* in, int64_t k, int64_t j, const double* w, double scale, C1* lo,
                  C1* hi) {
  const C1 a = load1(in + 2 * k), b = conj(load1(in + 2 * j));
  const C1 e = (a + b) * scale;
  const C1 p = cmul_i_conj_mem((a - b) * scale, w + 2 * k);
  *lo = e + p;
  *hi = conj(e - p);
}

}  // namespace

void real_split_forward_cce_pairs(double* z, int64_t n, const double* w, double scale) {
  const int64_t h = n / 2;
  const double half = 0.5 * scale;
  // Bins 1, h-1, h/2 (and h/2 -+ 1 when h/2 is odd) alone; the pairs
  // (k, k+1), k even, with their mirrors read as two halves of the kernel's
  // pairs.
  const int64_t end = h / 2 & ~int64_t(1);
  forward_one(z, 1, h - 1, w, half);
  if (end != h / 2) forward_one(z, end, h - end, w, half);
  forward_one(z, h / 2, h / 2, w, half);
  for (int64_t k = 2; k < end; k += 2) {
    const int64_t j = h - k;
    const C2 a = load2(z + 2 * k);
    const C2 b = join(load1(z + 2 * j), load1(z + 2 * (j - 1)));
    const C2 s = add_conj(a, b);
    const C2 t = cmul_neg_i_mem(sub_conj(a, b) * half, w + 2 * k);
    store2(z + 2 * k, scale_add(s, half, t));
    const C2 m = conj_scale_sub(s, half, t);
    store1(z + 2 * j, low(m));
    store1(z + 2 * (j - 1), high(m));
  }
  const double re = z[0], im = z[1];
  z[0] = (re + im) * scale;
  z[1] = 0.0;
  z[n] = (re - im) * scale;
  z[n + 1] = 0.0;
}

void real_split_backward_cce_pairs(const double* in, double* z, int64_t n, const double* w,
                                   double scale) {
  const int64_t h = n / 2;
  // Everything the first and last stores cover is read first (in and z may
  // coincide); each mirror pair (h-k, h-k+1) takes one value from this
  // step's pair and one carried from the step before.
  const int64_t end = h / 2 & ~int64_t(1);
  alignas(16) const double zero[2] = {(in[0] + in[n]) * scale, (in[0] - in[n]) * scale};
  C1 one, last, mid, unused, before{}, after{};
  backward_one(in, 1, h - 1, w, scale, &one, &last);
  backward_one(in, h / 2, h / 2, w, scale, &mid, &unused);
  if (end != h / 2) backward_one(in, end, h - end, w, scale, &before, &after);
  store2(z, join(load1(zero), one));
  C1 carry = last;
  for (int64_t k = 2; k < end; k += 2) {
    const int64_t j = h - k;
    const C2 a = load2(in + 2 * k);
    const C2 b = join(load1(in + 2 * j), load1(in + 2 * (j - 1)));
    const C2 s = add_conj(a, b);
    const C2 p = cmul_i_conj_mem(sub_conj(a, b) * scale, w + 2 * k);
    store2(z + 2 * k, scale_add(s, scale, p));
    const C2 m = conj_scale_sub(s, scale, p);
    store2(z + 2 * j, join(low(m), carry));
    carry = high(m);
  }
  if (end == h / 2) {
    store2(z + h, join(mid, carry));
  } else {
    store2(z + 2 * end, join(before, mid));
    store2(z + 2 * (h - end), join(after, carry));
  }
}
#endif

TQS_LEVEL_END
