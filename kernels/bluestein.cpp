#include "kernels/bluestein.h"

#include "engine/plan.h"
#include "kernels/pow2.h"
#include "kernels/roots.h"
#include "kernels/simd.h"
#include "service/tqs_service.h"

TQS_LEVEL_BEGIN

using namespace simd;

namespace {

const int64_t kLengths[] = {128,  144,  160,  192,  200,  256,  288,  320,  384,  400,  512,
                            576,  640,  768,  800,  1024, 1152, 1280, 1536, 1600, 2048, 2304,
                            2560, 3072, 3200, 4096, 4608, 5120, 6144, 6400, 8192};

inline void cmul_scalar(double ar, double ai, double br, double bi, double* re, double* im) {
  *re = ar * br - ai * bi;
  *im = ar * bi + ai * br;
}

// The transformed kernel multiplies every result, so its rounding errors do
// not average out like those of the two transforms at run time. Formed in
// extended precision and rounded once, it takes a fifth off the method's
// error (97 points: 4.0e-16 -> 3.2e-16 relative RMS). Extended arithmetic
// runs at scalar speed, about 2 ns an operation: 20-50 us more commit up to
// 512 points, but ten times the rest of the commit further on, where the
// double transform's error is already below FFTW's for the same lengths.
constexpr int64_t kExtendedSpectrumUpTo = 512;

// y[k] = sum_j x[j*xs] * w_n^(j*k), n = l / wstep a product of 2s, 3s, 5s
// and 7s, where w holds the l roots (cos, -sin)(2*pi*e/l) in extended
// precision: a plain recursive decimation in time, radix 4 (then 2, 3, 5,
// 7). Extended arithmetic is scalar and slow, so the odd radices pair their
// terms and the sub-transforms of one point read x itself (200 points: half
// the operations, a quarter of the time).
void ext_dft(const long double* x, int64_t xs, long double* y, int64_t n, const long double* w,
             int64_t wstep) {
  if (n == 1) {
    y[0] = x[0];
    y[1] = x[1];
    return;
  }
  const int64_t p = n % 4 == 0 ? 4 : n % 2 == 0 ? 2 : n % 3 == 0 ? 3 : n % 5 == 0 ? 5 : 7;
  const int64_t m = n / p;
  if (m > 1) {
    for (int64_t r = 0; r < p; ++r) ext_dft(x + 2 * r * xs, xs * p, y + 2 * r * m, m, w, wstep * p);
  }
  // The p-th roots for the odd radices, (cos, -sin)(2*pi*e/p).
  long double pr[7], pi[7];
  for (int64_t e = 0; e < p; ++e) {
    pr[e] = w[2 * e * m * wstep];
    pi[e] = w[2 * e * m * wstep + 1];
  }
  for (int64_t k = 0; k < m; ++k) {
    long double tr[7], ti[7];
    for (int64_t r = 0; r < p; ++r) {  // sub-result r times w_n^(r*k), r*k < n
      const long double* a = m > 1 ? y + 2 * (r * m + k) : x + 2 * r * xs;
      if (r == 0 || k == 0) {
        tr[r] = a[0];
        ti[r] = a[1];
        continue;
      }
      const long double* t = w + 2 * (r * k * wstep);
      tr[r] = a[0] * t[0] - a[1] * t[1];
      ti[r] = a[0] * t[1] + a[1] * t[0];
    }
    long double* o = y + 2 * k;
    const int64_t os = 2 * m;
    if (p == 2) {
      o[0] = tr[0] + tr[1];
      o[1] = ti[0] + ti[1];
      o[os] = tr[0] - tr[1];
      o[os + 1] = ti[0] - ti[1];
    } else if (p == 4) {
      const long double ar = tr[0] + tr[2], ai = ti[0] + ti[2], br = tr[0] - tr[2],
                        bi = ti[0] - ti[2], cr = tr[1] + tr[3], ci = ti[1] + ti[3],
                        dr = tr[1] - tr[3], di = ti[1] - ti[3];
      o[0] = ar + cr;
      o[1] = ai + ci;
      o[2 * os] = ar - cr;
      o[2 * os + 1] = ai - ci;
      o[os] = br + di;  // b - i*d
      o[os + 1] = bi - dr;
      o[3 * os] = br - di;
      o[3 * os + 1] = bi + dr;
    } else {
      // Odd p, with s_r = t_r + t_(p-r) and d_r = t_r - t_(p-r) over the
      // pairs r < p/2: outputs q and p - q share a = t0 + sum s_r*cos and
      // b = sum i*d_r*(-sin) of the angle 2*pi*r*q/p, as a + b and a - b.
      long double sr[3], si[3], dr[3], di[3];
      long double zr = tr[0], zi = ti[0];
      for (int64_t r = 1; 2 * r < p; ++r) {
        sr[r - 1] = tr[r] + tr[p - r];
        si[r - 1] = ti[r] + ti[p - r];
        dr[r - 1] = tr[r] - tr[p - r];
        di[r - 1] = ti[r] - ti[p - r];
        zr += sr[r - 1];
        zi += si[r - 1];
      }
      o[0] = zr;
      o[1] = zi;
      for (int64_t q = 1; 2 * q < p; ++q) {
        long double ar = tr[0], ai = ti[0], br = 0.0L, bi = 0.0L;
        int64_t e = 0;
        for (int64_t r = 1; 2 * r < p; ++r) {
          e += q;
          if (e >= p) e -= p;
          ar += sr[r - 1] * pr[e];
          ai += si[r - 1] * pr[e];
          br += di[r - 1] * pi[e];
          bi += dr[r - 1] * pi[e];
        }
        o[q * os] = ar - br;
        o[q * os + 1] = ai + bi;
        o[(p - q) * os] = ar + br;
        o[(p - q) * os + 1] = ai - bi;
      }
    }
  }
}

// The kernel's transform divided by l, in extended precision; false (and
// nothing written) without the memory for it.
bool extended_spectrum(double* out, int64_t n, int64_t l) {
  auto* mem = (long double*)tqs_mm_allocate((uint64_t)(6 * l + 4 * n) * sizeof(long double), 64);
  if (mem == nullptr) return false;
  long double *w = mem, *b = mem + 2 * l, *y = mem + 4 * l, *cw = mem + 6 * l;
  root_table_ext(w, l);
  root_table_ext(cw, 2 * n);
  for (int64_t k = 0; k < 2 * l; ++k) b[k] = 0.0L;
  // The conjugated chirp exp(+i*pi*k^2/n), k^2 taken mod 2n, and its mirror.
  int64_t idx = 0;
  for (int64_t k = 0; k < n; ++k) {
    const int64_t mk = (l - k) % l;
    b[2 * k] = b[2 * mk] = cw[2 * idx];
    b[2 * k + 1] = b[2 * mk + 1] = -cw[2 * idx + 1];
    idx += 2 * k + 1;
    while (idx >= 2 * n) idx -= 2 * n;
  }
  // The kernel is even (b[j] = b[l-j]) and so is its transform B: half of
  // it comes from one transform of N = l/2 points (half the extended
  // arithmetic; real 97 points commit in a fifth less time) of
  //   t[j] = (b[j] + b[N-j])/2 - sin(pi j/N) (b[j] - b[N-j]),
  // whose transform T gives B[2k] = T[k] + T[N-k] and, from
  // B[1] = b[0] - b[N] + 2 sum_j b[j] cos(pi j/N), B[2k+1] = B[2k-1] +
  // i (T[k] - T[N-k]) (the cosine transform of b's real and imaginary parts
  // by the usual half-length method, both parts at once).
  const int64_t N = l / 2;
  long double *t = y, *f = y + l;
  for (int64_t j = 0; j < N; ++j) {
    const long double sn = -w[2 * j + 1];  // sin(2 pi j/l)
    const long double* p = b + 2 * j;
    const long double* q = b + 2 * (N - j);
    t[2 * j] = 0.5L * (p[0] + q[0]) - sn * (p[0] - q[0]);
    t[2 * j + 1] = 0.5L * (p[1] + q[1]) - sn * (p[1] - q[1]);
  }
  ext_dft(t, 1, f, N, w, 2);
  const long double inv = 1.0L / (long double)l;
  auto put = [&](int64_t m, long double re, long double im) {
    out[2 * m] = (double)(re * inv);
    out[2 * m + 1] = (double)(im * inv);
    if (m > 0 && m < N) {
      out[2 * (l - m)] = out[2 * m];
      out[2 * (l - m) + 1] = out[2 * m + 1];
    }
  };
  for (int64_t k = 0; 2 * k <= N; ++k) {
    const int64_t r = k == 0 ? 0 : N - k;
    put(2 * k, f[2 * k] + f[2 * r], f[2 * k + 1] + f[2 * r + 1]);
  }
  long double odd_re = b[0] - b[2 * N], odd_im = b[1] - b[2 * N + 1];
  for (int64_t j = 1; j < N; ++j) {
    odd_re += 2.0L * b[2 * j] * w[2 * j];
    odd_im += 2.0L * b[2 * j + 1] * w[2 * j];
  }
  for (int64_t k = 0; 2 * k + 1 <= N; ++k) {
    if (k > 0) {
      odd_re -= f[2 * k + 1] - f[2 * (N - k) + 1];
      odd_im += f[2 * k] - f[2 * (N - k)];
    }
    put(2 * k + 1, odd_re, odd_im);
  }
  tqs_mm_free(mem);
  return true;
}

// ---- The outer radix-4 step by hand --------------------------------------
//
// With a power-of-two convolution length L whose plan closes with a radix-4
// pass, both transforms leave that pass out and do its work where it is
// cheap. Forward, the input is zero from n <= L/2 on, so splitting it by
// decimation in frequency into four transforms of Q = L/4 points takes at
// most two inputs per output and no butterfly:
//   y_q[u] = w^(uq) (a[u] + (-i)^q a[u+Q]),  a[u] = x[u] c[u],
// with the chirp and w^(uq) folded into one table T_q[u] = c[u] w^(uq), and
// a[u+Q] = x[u+Q] e[u] c[u] with e[u] = c[u+Q] / c[u]. Backward, only n of
// the L outputs are wanted: the closing butterfly reduces to the rows below
// n, v[t] = sum_q w^(-tq) G_q[t] and v[t+Q] = sum_q i^q w^(-tq) G_q[t], and
// the chirp folds into its twiddles, D_q[t] = c[t] w^(-tq). Besides the
// closing pass on both sides this saves the zero fill and the separate
// chirp products (4099 points, level 5: a tenth of the time).
//
// The tables follow the spectrum in its allocation: T (4Q complex, in the
// order y is stored, T[4u + q]), D (4Q complex, in the order the quarter
// transforms leave their outputs, see pow2_sub_index) and e (n - Q complex).

// The inner plan when it has this shape, and n fits: L/4 < n <= L/2.
const Pow2Plan* quarter_plan(const PlanRecord* p, int64_t n) {
  const PlanRecord* inner = p->inner_plan;
  const int64_t l = p->chirp_length;
  if (inner == nullptr || inner->power_of_two_plan == nullptr || 4 * n <= l || 2 * n > l)
    return nullptr;
  const Pow2Plan* pl = (const Pow2Plan*)inner->power_of_two_plan;
  return pow2_complex_top_bits(pl) == 2 ? pl : nullptr;
}

int64_t quarter_table_doubles(int64_t n, int64_t l) { return 4 * l + 2 * (n - l / 4); }

// The l-th roots w_l^k, 0 <= k < l, from a quarter-wave table of sines.
class QuarterRoots {
 public:
  explicit QuarterRoots(int64_t l) : q4_(l / 4), bits_(__builtin_ctzll((uint64_t)(l / 4))) {
    qs_ = (double*)tqs_mm_allocate((uint64_t)(q4_ + 1) * sizeof(double), 64);
    if (qs_ != nullptr) quarter_sine_table(qs_, l);
  }
  ~QuarterRoots() { tqs_mm_free(qs_); }
  QuarterRoots(const QuarterRoots&) = delete;
  QuarterRoots& operator=(const QuarterRoots&) = delete;
  bool ok() const { return qs_ != nullptr; }
  void root(int64_t k, double* w) const {
    const int64_t r = k & (q4_ - 1);
    quadrant_root(k >> bits_, qs_[r], qs_[q4_ - r], w);
  }

 private:
  int64_t q4_;
  int bits_;
  double* qs_;
};

// The chirp's ratios c[u + s] / c[u] = exp(-i pi ((u + s)^2 - u^2) / n),
// u < count, the exponent (2su + s^2) taken mod 2n in the 2n-th roots.
void chirp_ratios(double* e, int64_t s, int64_t count, int64_t n, const double* roots2n) {
  const int64_t sm = s % (2 * n), step = (2 * sm) % (2 * n);
  int64_t x = sm * sm % (2 * n);
  for (int64_t u = 0; u < count; ++u) {
    e[2 * u] = roots2n[2 * x];
    e[2 * u + 1] = roots2n[2 * x + 1];
    x += step;
    if (x >= 2 * n) x -= 2 * n;
  }
}

// roots2n: the 2n-th roots, c: the chirp; false without memory. Products
// in double: the rounding they add is that of the products the transform
// would otherwise form at run time, and in extended precision the tables
// took longer than the rest of the commit.
bool fill_quarter_tables(double* t, int64_t n, int64_t l, const double* c,
                         const double* roots2n) {
  const int64_t q4 = l / 4, nq = n - q4;
  double* tt = t;
  double* dt = t + 2 * l;
  double* et = t + 4 * l;
  const QuarterRoots roots(l);  // w^k, k < 3Q
  if (!roots.ok()) return false;
  for (int64_t u = 0; u < q4; ++u) {
    const double cr = c[2 * u], ci = c[2 * u + 1];
    for (int64_t q = 0; q < 4; ++q) {
      double w[2];
      roots.root(u * q, w);
      tt[2 * (4 * u + q)] = cr * w[0] - ci * w[1];
      tt[2 * (4 * u + q) + 1] = cr * w[1] + ci * w[0];
      const int64_t d = pow2_sub_index(q, u, q4);
      dt[2 * d] = cr * w[0] + ci * w[1];
      dt[2 * d + 1] = ci * w[0] - cr * w[1];
    }
  }
  chirp_ratios(et, q4, nq, n, roots2n);
  return true;
}

// Output t of the transform: forward at t, backward (the forward one read
// at -t) at n - t.
inline int64_t out_at(int64_t t, int64_t n, bool forward) {
  return forward || t == 0 ? t : n - t;
}

int run_quarters(const PlanRecord* p, const Pow2Plan* pl, int64_t n, const double* in,
                 double* out, bool forward, double* work) {
  const int64_t l = p->chirp_length, q4 = l / 4, nq = n - q4;
  const double* s = (const double*)p->chirp_spectrum;
  const double* tt = s + 2 * l;
  const double* dt = s + 4 * l;
  const double* et = s + 6 * l;
  double* y = work;
  double* g = work + 2 * l;
  // The four quarter inputs, side by side.
  for (int64_t u = 0; u < q4; ++u) {
    const C1 x = load1(in + 2 * u);
#if TQS_LEVEL >= 4
    C2 xx = join(x, x), yy = xx;
    if (u < nq) {
      const C1 b = cmul(load1(in + 2 * (u + q4)), load1(et + 2 * u));
      const C2 bb = join(b, mul_neg_i(b));
      xx = xx + bb;  // x + b, x - ib
      yy = yy - bb;  // x - b, x + ib
    }
    store2(y + 8 * u, cmul(xx, load2(tt + 8 * u)));
    store2(y + 8 * u + 4, cmul(yy, load2(tt + 8 * u + 4)));
#else
    C1 s0 = x, s1 = x, s2 = x, s3 = x;
    if (u < nq) {
      const C1 b = cmul(load1(in + 2 * (u + q4)), load1(et + 2 * u)), ib = mul_neg_i(b);
      s0 = x + b;
      s1 = x + ib;
      s2 = x - b;
      s3 = x - ib;
    }
    store1(y + 8 * u, cmul(s0, load1(tt + 8 * u)));
    store1(y + 8 * u + 2, cmul(s1, load1(tt + 8 * u + 2)));
    store1(y + 8 * u + 4, cmul(s2, load1(tt + 8 * u + 4)));
    store1(y + 8 * u + 6, cmul(s3, load1(tt + 8 * u + 6)));
#endif
  }
  pow2_complex_sub_group(y, g, pl, 4, false);
  // Spectrum bin 4k + q is output k of quarter q; the products go back in
  // natural order, which is the order the backward quarters read.
  for (int64_t k = 0; k < q4; ++k) {
    for (int64_t q = 0; q < 4; q += CV_WIDTH) {
      const int64_t at = pow2_sub_index(q, k, q4);
      storev(y + 2 * (4 * k + q), cmul(loadv(g + 2 * at), loadv(s + 2 * (4 * k + q))));
    }
  }
  pow2_complex_sub_group(y, g, pl, 4, true);
  // The rows of the closing butterfly that land below n.
  for (int64_t t = 0; t < q4; ++t) {
#if TQS_LEVEL >= 4
    const int64_t a = pow2_sub_index(0, t, q4), b = pow2_sub_index(2, t, q4);
    const C2 p01 = cmul(load2(g + 2 * a), load2(dt + 2 * a));
    const C2 p23 = cmul(load2(g + 2 * b), load2(dt + 2 * b));
    const C2 sum = p01 + p23, dif = p01 - p23;  // (P0 + P2, P1 + P3), (P0 - P2, P1 - P3)
    store1(out + 2 * out_at(t, n, forward), low(sum) + high(sum));
    if (t < nq) {
      const C1 v = add_i(low(dif), high(dif));
      store1(out + 2 * out_at(t + q4, n, forward), cmul(v, load1(et + 2 * t)));
    }
#else
    C1 pr[4];
    for (int q = 0; q < 4; ++q) {
      const int64_t at = pow2_sub_index(q, t, q4);
      pr[q] = cmul(load1(g + 2 * at), load1(dt + 2 * at));
    }
    const C1 s02 = pr[0] + pr[2], s13 = pr[1] + pr[3];
    store1(out + 2 * out_at(t, n, forward), s02 + s13);
    if (t < nq) {
      const C1 v = add_i(pr[0] - pr[2], pr[1] - pr[3]);
      store1(out + 2 * out_at(t + q4, n, forward), cmul(v, load1(et + 2 * t)));
    }
#endif
  }
  return PLAN_OK;
}

// ---- Half the convolution, just above a quarter --------------------------
//
// For n = L/4 + d, d small (4099 = 4096 + 3, 65537 = 65536 + 1), the input
// is zero from n on, so its L-point transform at the even bins is the
// transform of length H = L/2; and the sum over the even bins alone of the
// product with the spectrum gives (v[t] + v[t + H]) / 2, v the convolution.
// Of the folded terms v[t + H], t < n, only the 2(2d - 1) at t < 2d - 1 and
// t > H/2 - d are not zero, each a sum of at most 2d - 1 products: formed
// directly and taken off, they leave a convolution of length H, half the
// work.
//
// The length-H transforms are r = 2 or 4 sub-transforms of m = H/r points
// from the inner plan (the ones below its closing pass of radix 2r).
// Forward, by decimation in frequency, with a = x c:
//   y_q[u] = w^(qu) sum_p a[u + pm] w_r^(pq),  w = w_H,  q < r, u < m,
// where the input rows p < r/2 are whole and row r/2 has d values. With
// the chirp folded into the tables, T_q[u] = c[u] w^(qu) and the ratios
// e_p[u] = c[u + pm] / c[u] (a whole row for 0 < p < r/2, d values for
// p = r/2), y_q[u] = T_q[u] sum_p w_r^(pq) e_p[u] x[u + pm]. Output k of
// sub-transform q is bin rk + q, multiplied by the spectrum's bin 2(rk + q).
// Backward, by decimation in time over the products in natural order, with
// P_q = D_q[t] G_q[t], D_q[t] = 2 c[t] w^(-qt), the outputs are the rows
//   X[t + sm] = e_s[t] sum_q w_r^(-sq) P_q - c[t + sm] v[t + sm + H]
// for s < r/2, and s = r/2 for t < d.
//
// The tables follow the spectrum: T (H values, T[ru + q]), D (H, in the
// order the sub-transforms leave their outputs, see pow2_sub_index), the
// spectrum's even bins (H), then e_1 .. e_(r/2-1) (m each) and e_(r/2) (d).
constexpr int64_t kHalfReach = 8;  // largest d: up to 15 folded terms each

// The inner plan when it has this shape, and its r.
const Pow2Plan* half_plan(const PlanRecord* p, int64_t n, int* r) {
  const PlanRecord* inner = p->inner_plan;
  const int64_t l = p->chirp_length;
  if (inner == nullptr || inner->power_of_two_plan == nullptr || n <= l / 4 ||
      n > l / 4 + kHalfReach)
    return nullptr;
  const Pow2Plan* pl = (const Pow2Plan*)inner->power_of_two_plan;
  const int bits = pow2_complex_top_bits(pl);
  if (bits != 2 && bits != 3) return nullptr;
  *r = 1 << (bits - 1);
  return pl;
}

int64_t half_table_doubles(int64_t n, int64_t l, int r) {
  const int64_t h = l / 2, m = h / r;
  return 2 * (3 * h + (r / 2 - 1) * m + (n - l / 4));
}

// The tables but the spectrum's bins (roots2n: the 2n-th roots).
bool fill_half_tables(double* t, int64_t n, int64_t l, int r, const double* c,
                      const double* roots2n) {
  const int64_t h = l / 2, m = h / r, d = n - l / 4;
  double* tt = t;
  double* dt = t + 2 * h;
  double* et = t + 6 * h;
  const QuarterRoots roots(l);
  if (!roots.ok()) return false;
  for (int64_t u = 0; u < m; ++u) {
    const double cr = c[2 * u], ci = c[2 * u + 1];
    for (int q = 0; q < r; ++q) {
      double w[2];
      roots.root(2 * q * u, w);  // w_H^(qu) = w_L^(2qu)
      cmul_scalar(cr, ci, w[0], w[1], tt + 2 * (r * u + q), tt + 2 * (r * u + q) + 1);
      const int64_t at = pow2_sub_index(q, u, m);
      cmul_scalar(2 * cr, 2 * ci, w[0], -w[1], dt + 2 * at, dt + 2 * at + 1);
    }
  }
  double* e = et;
  for (int p = 1; p <= r / 2; ++p) {
    const int64_t count = p < r / 2 ? m : d;
    chirp_ratios(e, p * m, count, n, roots2n);
    e += 2 * count;
  }
  return true;
}

// The even bins of the spectrum s into their place among the tables t (s
// may be t: the bins move up).
void fill_half_spectrum(double* t, int64_t l, const double* s) {
  double* se = t + 2 * l;  // behind T and D (l/2 values each)
  for (int64_t k = 0; k < l / 2; ++k) {
    se[2 * k] = s[4 * k];
    se[2 * k + 1] = s[4 * k + 1];
  }
}

// c[t] v[t + L/2] for the 2(2d - 1) outputs t where it is not zero, into
// fold (in that order: t < 2d - 1, then t > L/4 - d); b is the mirrored
// conjugate chirp, read as conj(c[s]) or conj(c[L - s]).
void folded_terms(const double* in, const double* c, int64_t n, int64_t l, double* fold) {
  const int64_t q = l / 4, w = 2 * (n - q) - 1, half = l / 2;
  for (int64_t i = 0; i < 2 * w; ++i) {
    const int64_t t = i < w ? i : n - 2 * w + i;
    double sr = 0.0, si = 0.0;
    // The kernel's index e = t + L/2 - j (mod L) within [0, n) or (L - n, L).
    const int64_t ranges[2][2] = {{t + half - n + 1, t + half}, {t + half - l + 1, t + half - l + n - 1}};
    for (const auto& r : ranges) {
      for (int64_t j = r[0] > 0 ? r[0] : 0; j <= r[1] && j < n; ++j) {
        int64_t e = t + half - j;
        if (e >= l) e -= l;
        if (e < 0) e += l;
        const int64_t ci = e < n ? e : l - e;
        double ar, ai, pr, pi;
        cmul_scalar(in[2 * j], in[2 * j + 1], c[2 * j], c[2 * j + 1], &ar, &ai);
        cmul_scalar(ar, ai, c[2 * ci], -c[2 * ci + 1], &pr, &pi);
        sr += pr;
        si += pi;
      }
    }
    cmul_scalar(sr, si, c[2 * t], c[2 * t + 1], fold + 2 * i, fold + 2 * i + 1);
  }
}

// The sums over q of w_r^(-sq) P_q for the rows s = 0, 1 (r = 4) or 0 (r = 2),
// and the last row s = r/2.
template <int R>
inline void half_rows(const C1* pr, C1* row0, C1* row1, C1* last) {
  if constexpr (R == 2) {
    *row0 = pr[0] + pr[1];
    *last = pr[0] - pr[1];
  } else {
    const C1 s02 = pr[0] + pr[2], s13 = pr[1] + pr[3];
    *row0 = s02 + s13;
    *row1 = add_i(pr[0] - pr[2], pr[1] - pr[3]);
    *last = s02 - s13;
  }
}

template <int R>
void halves_pre(const double* in, const double* tt, const double* e1,
                const double* elast, int64_t m, int64_t d, double* y) {
  for (int64_t u = 0; u < m; ++u) {
    C1 s[R];
    const C1 x = load1(in + 2 * u);
    const C1 b = R == 4 ? cmul(load1(in + 2 * (u + m)), load1(e1 + 2 * u)) : C1{};
    if constexpr (R == 2) {
      s[0] = s[1] = x;
    } else {
      const C1 ib = mul_neg_i(b);  // w_4^q b: b, -ib, -b, ib
      s[0] = x + b;
      s[1] = x + ib;
      s[2] = x - b;
      s[3] = x - ib;
    }
    if (u < d) {  // row r/2, times (-1)^q
      const C1 z = cmul(load1(in + 2 * (u + R / 2 * m)), load1(elast + 2 * u));
      for (int q = 0; q < R; ++q) s[q] = q % 2 == 0 ? s[q] + z : s[q] - z;
    }
#if TQS_LEVEL >= 4
    for (int q = 0; q < R; q += 2)
      store2(y + 2 * (R * u + q), cmul(join(s[q], s[q + 1]), load2(tt + 2 * (R * u + q))));
#else
    for (int q = 0; q < R; ++q) store1(y + 2 * (R * u + q), cmul(s[q], load1(tt + 2 * (R * u + q))));
#endif
  }
}

template <int R>
void halves_post(const double* g, const double* dt, const double* e1, const double* elast,
                 int64_t m, int64_t n, int64_t d, bool forward, double* out) {
  for (int64_t t = 0; t < m; ++t) {
    C1 pr[R];
#if TQS_LEVEL >= 4
    for (int q = 0; q < R; q += 2) {
      const int64_t at = pow2_sub_index(q, t, m);
      const C2 p2 = cmul(load2(g + 2 * at), load2(dt + 2 * at));
      pr[q] = low(p2);
      pr[q + 1] = high(p2);
    }
#else
    for (int q = 0; q < R; ++q) {
      const int64_t at = pow2_sub_index(q, t, m);
      pr[q] = cmul(load1(g + 2 * at), load1(dt + 2 * at));
    }
#endif
    C1 row0, row1, last;
    half_rows<R>(pr, &row0, &row1, &last);
    store1(out + 2 * out_at(t, n, forward), row0);
    if constexpr (R == 4) store1(out + 2 * out_at(t + m, n, forward), cmul(row1, load1(e1 + 2 * t)));
    if (t < d)
      store1(out + 2 * out_at(t + R / 2 * m, n, forward), cmul(last, load1(elast + 2 * t)));
  }
}

// Value k (< n) of input of the given kind (packed: odd n, the upper half
// the conjugates of the lower).
inline void input_value(const double* in, int kind, int64_t n, int64_t k, double* v) {
  if (kind == BLUESTEIN_COMPLEX) {
    v[0] = in[2 * k];
    v[1] = in[2 * k + 1];
  } else if (kind == BLUESTEIN_REAL) {
    v[0] = in[k];
    v[1] = 0.0;
  } else if (k == 0) {
    v[0] = in[0];
    v[1] = 0.0;
  } else if (k <= n / 2) {
    v[0] = in[2 * k - 1];
    v[1] = in[2 * k];
  } else {
    v[0] = in[2 * (n - k) - 1];
    v[1] = -in[2 * (n - k)];
  }
}

// Output value dst in the given kind (real: its real part; packed: only
// the lower half, whose upper half the conjugates repeat).
inline void output_value(double* out, int kind, int64_t n, int64_t dst, double yr, double yi) {
  if (kind == BLUESTEIN_COMPLEX) {
    out[2 * dst] = yr;
    out[2 * dst + 1] = yi;
  } else if (kind == BLUESTEIN_REAL) {
    out[dst] = yr;
  } else if (dst == 0) {
    out[0] = yr;
  } else if (dst <= n / 2) {
    out[2 * dst - 1] = yr;
    out[2 * dst] = yi;
  }
}

int run_halves(const PlanRecord* p, const Pow2Plan* pl, int r, int64_t n, const double* in,
               double* out, bool forward, double* work) {
  const int64_t l = p->chirp_length, h = l / 2, m = h / r, d = n - l / 4, w = 2 * d - 1;
  const double* c = (const double*)p->chirp;
  const double* tt = (const double*)p->chirp_spectrum;
  const double* dt = tt + 2 * h;
  const double* se = tt + 4 * h;
  const double* e1 = tt + 6 * h;
  const double* elast = e1 + 2 * (r / 2 - 1) * m;
  double* y = work;
  double* g = work + 2 * h;
  // Before anything is written: in and out may coincide.
  double fold[4 * (2 * kHalfReach - 1)];
  folded_terms(in, c, n, l, fold);
  if (r == 2)
    halves_pre<2>(in, tt, e1, elast, m, d, y);
  else
    halves_pre<4>(in, tt, e1, elast, m, d, y);
  pow2_complex_sub_group(y, g, pl, r, false);
  // Bin rk + q is output k of sub-transform q; the products go back in
  // natural order, which is the order the backward group reads.
  for (int64_t k = 0; k < m; ++k) {
    for (int q = 0; q < r; q += CV_WIDTH) {
      const int64_t at = pow2_sub_index(q, k, m);
      storev(y + 2 * (r * k + q), cmul(loadv(g + 2 * at), loadv(se + 2 * (r * k + q))));
    }
  }
  pow2_complex_sub_group(y, g, pl, r, true);
  if (r == 2)
    halves_post<2>(g, dt, e1, elast, m, n, d, forward, out);
  else
    halves_post<4>(g, dt, e1, elast, m, n, d, forward, out);
  for (int64_t i = 0; i < 2 * w; ++i) {
    const int64_t t = i < w ? i : n - 2 * w + i;
    double* o = out + 2 * out_at(t, n, forward);
    o[0] -= fold[2 * i];
    o[1] -= fold[2 * i + 1];
  }
  return PLAN_OK;
}

// The cyclic convolution of a (l complex values, in place) with the kernel
// whose transform divided by l is spectrum; sum, where given, receives the
// sum of a's values (the transform's bin 0).
int convolve(double* a, int64_t l, const double* spectrum, const PlanRecord* inner,
             double* inner_work, double* sum = nullptr) {
  int code = complex_plan_forward(a, a, inner, inner_work);
  if (code != PLAN_OK) return code;
  if (sum != nullptr) {
    sum[0] = a[0];
    sum[1] = a[1];
  }
#if TQS_LEVEL >= 4
  for (int64_t k = 0; k < 2 * l; k += 4) store2(a + k, cmul(load2(a + k), load2(spectrum + k)));
#else
  for (int64_t k = 0; k < 2 * l; k += 2) store1(a + k, cmul(load1(a + k), load1(spectrum + k)));
#endif
  return complex_plan_backward(a, a, inner, inner_work);
}

// ---- Rader's permutation for primes ---------------------------------------
//
// For a prime n with a generator g of the nonzero residues, every index
// k != 0 is g^q for one q < n - 1, and
//   X_(g^-q) = x_0 + sum_r x_(g^r) w^(g^(r-q)),
// a cyclic convolution of length n - 1 of a_r = x_(g^r) with
// b_m = w^(g^-m), and X_0 = x_0 + sum_r a_r. Where n - 1 has only the small
// factors the engine runs fastest, the two transforms are of n - 1 points
// instead of L >= 2n - 1 (65537: 65536 against 262144, or two halves of
// 131072), at the price of a gather and a scatter through the table of
// powers of g (level 5: 97 to 2017 points 1.4 to 2.9 times as fast, 65537
// twice). Asking for the gathered and scattered lines ahead gained nothing
// at 65537 and cost 5-40 % up to 2017 points.

// The kernel's transform divided by m = n - 1 in extended precision, as for
// the chirp (m has only the factors ext_dft takes); false (and nothing
// written) without the memory for it.
bool rader_extended_spectrum(double* out, const int32_t* order, int64_t n) {
  const int64_t m = n - 1;
  auto* mem = (long double*)tqs_mm_allocate((uint64_t)(6 * m + 2 * n) * sizeof(long double), 64);
  if (mem == nullptr) return false;
  long double *w = mem, *b = mem + 2 * m, *y = mem + 4 * m, *cw = mem + 6 * m;
  root_table_ext(w, m);
  root_table_ext(cw, n);
  for (int64_t j = 0; j < m; ++j) {
    const int64_t e = order[j == 0 ? 0 : m - j];
    b[2 * j] = cw[2 * e];
    b[2 * j + 1] = cw[2 * e + 1];
  }
  ext_dft(b, 1, y, m, w, 1);
  const long double inv = 1.0L / (long double)m;
  for (int64_t k = 0; k < 2 * m; ++k) out[k] = (double)(y[k] * inv);
  tqs_mm_free(mem);
  return true;
}

constexpr int64_t kRaderFactors[] = {2, 3, 5, 7};

bool is_prime(int64_t n) {
  if (n < 2) return false;
  for (int64_t d = 2; d * d <= n; ++d)
    if (n % d == 0) return false;
  return true;
}

bool rader_applies(int64_t n) {
  if (!is_prime(n)) return false;
  int64_t m = n - 1;
  for (int64_t f : kRaderFactors)
    while (m % f == 0) m /= f;
  return m == 1;
}

// The least generator: g^((n-1)/f) != 1 for every prime f of n - 1.
int64_t primitive_root(int64_t n) {
  auto power = [n](int64_t b, int64_t e) {
    int64_t r = 1;
    for (b %= n; e > 0; e >>= 1, b = b * b % n)
      if (e & 1) r = r * b % n;
    return r;
  };
  for (int64_t g = 2;; ++g) {
    bool generates = true;
    for (int64_t f : kRaderFactors)
      if ((n - 1) % f == 0 && power(g, (n - 1) / f) == 1) generates = false;
    if (generates) return g;
  }
}

int rader_build(PlanRecord* p, int64_t n) {
  const int64_t m = n - 1;
  p->chirp_length = (int32_t)m;
  auto* order = (int32_t*)tqs_mm_allocate((uint64_t)m * sizeof(int32_t), 64);
  if (order == nullptr) return PLAN_NO_MEMORY;
  p->rader_order = order;
  const int64_t g = primitive_root(n);
  int64_t v = 1;
  for (int64_t q = 0; q < m; ++q) {
    order[q] = (int32_t)v;
    v = v * g % n;
  }
  int code = complex_plan_create(&p->inner_plan, m, SCALE_NONE, 0);
  if (code != PLAN_OK) return code;
  double* b = (double*)tqs_mm_allocate((uint64_t)(2 * m) * sizeof(double) + PLAN_GUARD_BYTES, 64);
  if (b == nullptr) return PLAN_NO_MEMORY;
  p->chirp_spectrum = b;
  if (m <= kExtendedSpectrumUpTo && rader_extended_spectrum(b, order, n)) return PLAN_OK;
  const RootGenerator roots(n);
  for (int64_t j = 0; j < m; ++j) roots.root(order[j == 0 ? 0 : m - j], b + 2 * j);
  code = complex_plan_forward(b, b, p->inner_plan, nullptr);
  const double inv = 1.0 / (double)m;
  for (int64_t k = 0; k < 2 * m; ++k) b[k] *= inv;
  return code;
}

int rader_run(const PlanRecord* p, int64_t n, const double* in, int in_kind, double* out,
              int out_kind, bool forward, double* work) {
  const int64_t m = n - 1;
  const int32_t* order = (const int32_t*)p->rader_order;
  const double* spectrum = (const double*)p->chirp_spectrum;
  double* a = work;
  double* inner_work = work + 2 * m;
  // Everything is read before anything is written: in and out may coincide.
  double x0[2];
  input_value(in, in_kind, n, 0, x0);
  int64_t q = 0;
  if (in_kind == BLUESTEIN_COMPLEX) {
#if TQS_LEVEL >= 4
    for (; q + 2 <= m; q += 2)
      store2(a + 2 * q, join(load1(in + 2 * order[q]), load1(in + 2 * order[q + 1])));
#endif
    for (; q < m; ++q) store1(a + 2 * q, load1(in + 2 * order[q]));
  }
  for (; q < m; ++q) input_value(in, in_kind, n, order[q], a + 2 * q);
  double dc[2];
  const int code = convolve(a, m, spectrum, p->inner_plan, inner_work, dc);
  if (code != PLAN_OK) return code;
  dc[0] += x0[0];
  dc[1] += x0[1];
  // X at g^q is x_0 + a_(-q); the backward transform is the forward one
  // read at -k, and -g^q = g^(q + m/2).
  output_value(out, out_kind, n, 0, dc[0], dc[1]);
  const int64_t first = forward ? 0 : m / 2;
  if (out_kind == BLUESTEIN_COMPLEX) {
    const C1 base = load1(x0);
    for (int64_t t = 0; t < m; ++t) {
      const int64_t src = t <= first ? first - t : first - t + m;
      store1(out + 2 * order[t], base + load1(a + 2 * src));
    }
    return PLAN_OK;
  }
  for (int64_t t = 0; t < m; ++t) {
    const int64_t src = t <= first ? first - t : first - t + m;
    output_value(out, out_kind, n, order[t], x0[0] + a[2 * src], x0[1] + a[2 * src + 1]);
  }
  return PLAN_OK;
}

}  // namespace

int64_t bluestein_length(int64_t n) {
  int64_t need = 2 * n - 1;
  for (int64_t l : kLengths)
    if (l >= need) return l;
  int64_t l = 8192;
  while (l < need) l *= 2;
  return l;
}

int bluestein_build(PlanRecord* p, int64_t n, bool complex_data) {
  if (rader_applies(n)) return rader_build(p, n);
  const int64_t l = bluestein_length(n);
  p->chirp_length = (int32_t)l;
  double* chirp = (double*)tqs_mm_allocate((uint64_t)(2 * n) * sizeof(double), 64);
  if (chirp == nullptr) return PLAN_NO_MEMORY;
  p->chirp = chirp;
  double* roots = (double*)tqs_mm_allocate((uint64_t)(4 * n) * sizeof(double), 64);
  if (roots == nullptr) return PLAN_NO_MEMORY;
  root_table(roots, 2 * n);
  // c_k = exp(-i*pi*k^2/n): k^2 mod 2n advanced by 2k + 1.
  int64_t idx = 0;
  for (int64_t k = 0; k < n; ++k) {
    chirp[2 * k] = roots[2 * idx];
    chirp[2 * k + 1] = roots[2 * idx + 1];
    idx += 2 * k + 1;
    while (idx >= 2 * n) idx -= 2 * n;
  }

  int code = complex_plan_create(&p->inner_plan, l, SCALE_NONE, 0);
  if (code != PLAN_OK) {
    tqs_mm_free(roots);
    return code;
  }
  // The convolution transforms the chirp products just written to the work
  // area, which up to this length stays in the second-level cache (4099
  // and 5003 points 3-12 % faster without the leaf prefetches, 12289 the
  // same; with convolutions of 65536 points and more they gain 2-10 %).
  if (l <= 32768 && p->inner_plan->power_of_two_plan != nullptr)
    pow2_plan_input_in_cache((Pow2Plan*)p->inner_plan->power_of_two_plan);
  int r = 0;
  const bool halves = half_plan(p, n, &r) != nullptr;
  const bool quarters = !halves && complex_data && quarter_plan(p, n) != nullptr;
  const int64_t extra =
      halves ? half_table_doubles(n, l, r) : quarters ? quarter_table_doubles(n, l) : 0;
  // The spectrum and its tables are the plan's last allocation. The half
  // transforms read only the spectrum's even bins, which they keep among
  // their tables: the whole spectrum is formed where the other tables go
  // afterwards, and the plan writes a third less memory (4099 points:
  // 256 KB).
  const int64_t keep = halves ? extra : 2 * l + extra;
  double* b = (double*)tqs_mm_allocate((uint64_t)keep * sizeof(double) + PLAN_GUARD_BYTES, 64);
  if (b == nullptr) {
    tqs_mm_free(roots);
    return PLAN_NO_MEMORY;
  }
  p->chirp_spectrum = b;
  if (l > kExtendedSpectrumUpTo || !extended_spectrum(b, n, l)) {
    for (int64_t k = 0; k < 2 * l; ++k) b[k] = 0.0;
    b[0] = chirp[0];
    b[1] = -chirp[1];
    for (int64_t k = 1; k < n; ++k) {
      b[2 * k] = b[2 * (l - k)] = chirp[2 * k];
      b[2 * k + 1] = b[2 * (l - k) + 1] = -chirp[2 * k + 1];
    }
    code = complex_plan_forward(b, b, p->inner_plan, nullptr);
    const double inv = 1.0 / (double)l;
    for (int64_t k = 0; k < 2 * l; ++k) b[k] *= inv;
  }
  bool filled = true;
  if (code == PLAN_OK && quarters) {
    filled = fill_quarter_tables(b + 2 * l, n, l, chirp, roots);
  } else if (code == PLAN_OK && halves) {
    fill_half_spectrum(b, l, b);
    filled = fill_half_tables(b, n, l, r, chirp, roots);
  }
  tqs_mm_free(roots);
  if (code != PLAN_OK) return code;
  return filled ? PLAN_OK : PLAN_NO_MEMORY;
}

int64_t bluestein_work_bytes(const PlanRecord* p) {
  return (int64_t)p->inner_plan->work_size + 16 * (int64_t)p->chirp_length + 32;
}

int bluestein_run(const PlanRecord* p, int64_t n, const double* in, int in_kind, double* out,
                  int out_kind, bool forward, double* work) {
  if (p->rader_order != nullptr) return rader_run(p, n, in, in_kind, out, out_kind, forward, work);
  int r;
  if (const Pow2Plan* halves = half_plan(p, n, &r)) {
    if (in_kind == BLUESTEIN_COMPLEX && out_kind == BLUESTEIN_COMPLEX)
      return run_halves(p, halves, r, n, in, out, forward, work);
    // Real data through the complex path, in complex form behind its work.
    double* x = work + 2 * (int64_t)p->chirp_length;
    double* y = x + 2 * n;
    for (int64_t k = 0; k < n; ++k) input_value(in, in_kind, n, k, x + 2 * k);
    run_halves(p, halves, r, n, x, y, forward, work);
    for (int64_t k = 0; k < n; ++k) output_value(out, out_kind, n, k, y[2 * k], y[2 * k + 1]);
    return PLAN_OK;
  }
  if (in_kind == BLUESTEIN_COMPLEX && out_kind == BLUESTEIN_COMPLEX) {
    const Pow2Plan* quarters = quarter_plan(p, n);
    if (quarters != nullptr) return run_quarters(p, quarters, n, in, out, forward, work);
  }
  const int64_t l = p->chirp_length;
  const double* c = (const double*)p->chirp;
  const double* spectrum = (const double*)p->chirp_spectrum;
  double* a = work;
  double* inner_work = work + 2 * l;
  int64_t k0 = 0;
  if (in_kind == BLUESTEIN_COMPLEX) {
#if TQS_LEVEL >= 4
    for (; k0 + 2 <= n; k0 += 2) {
      store2(a + 2 * k0, cmul(load2(in + 2 * k0), load2(c + 2 * k0)));
    }
#endif
    for (; k0 < n; ++k0) store1(a + 2 * k0, cmul(load1(in + 2 * k0), load1(c + 2 * k0)));
  }
  for (int64_t k = k0; k < n; ++k) {
    double x[2];
    input_value(in, in_kind, n, k, x);
    cmul_scalar(x[0], x[1], c[2 * k], c[2 * k + 1], a + 2 * k, a + 2 * k + 1);
  }
  for (int64_t k = 2 * n; k < 2 * l; ++k) a[k] = 0.0;
  const int code = convolve(a, l, spectrum, p->inner_plan, inner_work);
  if (code != PLAN_OK) return code;
  // y_k = a_k c_k; the backward transform is the forward one read at -k.
  int64_t k1 = 0;
  if (out_kind == BLUESTEIN_COMPLEX && forward) {
#if TQS_LEVEL >= 4
    for (; k1 + 2 <= n; k1 += 2) {
      store2(out + 2 * k1, cmul(load2(a + 2 * k1), load2(c + 2 * k1)));
    }
#endif
    for (; k1 < n; ++k1) store1(out + 2 * k1, cmul(load1(a + 2 * k1), load1(c + 2 * k1)));
  }
  for (int64_t k = k1; k < n; ++k) {
    double yr, yi;
    cmul_scalar(a[2 * k], a[2 * k + 1], c[2 * k], c[2 * k + 1], &yr, &yi);
    output_value(out, out_kind, n, out_at(k, n, forward), yr, yi);
  }
  return PLAN_OK;
}

TQS_LEVEL_END
