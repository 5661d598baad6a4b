// With n = P q + p (q < Q, p < P) and k = k1 + Q k2 the forward transform is
//   X[k] = sum_p e^(-2 pi i p k2 / P) e^(-2 pi i p k1 / N) Y_p[k1],
//   Y_p[k1] = sum_q x[P q + p] e^(-2 pi i q k1 / Q),
// and because x is real only k1 <= Q/2 is needed: a bin k1 + Q k2 beyond
// N/2 is the conjugate of bin N - k = (Q - k1) + Q (P - 1 - k2).
//
// Two passes over memory each way, one barrier between them:
//   forward:  blocks of columns p of the input (a Q x P matrix) are gathered
//             by transposition into the member's area, transformed there
//             (length Q, permuted packing) and streamed out, transposed
//             again, as columns of `spectra` (one row per k1); then blocks of
//             rows k1 are read whole, twiddled into the member's area,
//             transformed (length P) and scattered to the bins and to the
//             mirrored bins.
//   backward: blocks of columns k1 are gathered from the bins and their
//             mirrors, transformed (length P), twiddled and streamed into
//             the columns of `spectra` (one row per p); then rows of
//             `spectra` are transformed (length Q) into the member's area
//             and streamed, transposed, to the output.
// Row k1 = 0 of the forward `spectra` (column 0 of the backward one) pairs
// the real bins 0 and Q/2 of each p; the member whose block holds it turns it
// into two rows (k1 = 0 and Q/2).
//
// Memory passes per transform: the input is read once, `spectra` written
// once and read once, the output written once; twiddles come from a table of
// 2Q + P values, not from one of N/2. Every strided access takes a few
// hundred bytes of a row at a time, and a block stays in the member's
// second-level cache through its transforms. From 2^18 points on, what is
// written for a later pass or for the caller bypasses the caches: those
// lines are not read before they are overwritten, and would only push out
// what is still wanted (below, the caches hold them until they are read).
#include "parallel/large_even_real.h"

#include <cstdint>

#include "engine/engine.h"
#include "engine/plan.h"
#include "kernels/matrix_copy.h"
#include "kernels/simd.h"

TQS_LEVEL_BEGIN
namespace {

using namespace simd;

struct Job {
  const LargeEvenRealPlan* plan;
  ttl_services* threading;
  bool forward;
  bool cce;
  bool zero_past_end;
  const double* x;
  double* y;
  bool bypass;  // writes for a later pass or the caller go past the caches
};

// Writes bypass the caches from this length on. Below it the spectra of
// the first pass are still cached when the second reads them, and so is
// the output for the caller. Two threads at level 5, with ordinary stores
// against streaming ones: 16384 points 19-30 % less time, 65536 2-12 %,
// 10^5 from 8 % less to 7 % more, 2^17 the same; from 2^18 on streaming
// saves up to 18 % (real backward 2^20).
constexpr int64_t BYPASS_FROM_POINTS = int64_t(1) << 18;

// The blocks of a pass go one at a time to whichever member asks next, from
// a counter the team shares: a member that the system leaves waiting holds
// nobody up, the others take its blocks. Which member transforms a block
// changes nothing in the results.
struct Dealer {
  int64_t* counter;
  int64_t blocks;
  int64_t next() const { return __atomic_fetch_add(counter, 1, __ATOMIC_RELAXED); }
};

int64_t ceil_div(int64_t a, int64_t b) { return (a + b - 1) / b; }
int64_t smaller(int64_t a, int64_t b) { return a < b ? a : b; }

struct Area {
  double* block;
  void* work;
};

Area area_of(const LargeEvenRealPlan& p, int64_t m) {
  char* base = p.member_area + m * p.slice_bytes;
  return {reinterpret_cast<double*>(base), base + p.block_bytes};
}

// out[p] = v[p] exp(-2 pi i k1 p / N) for p < n (conjugated: the backward
// twiddle), the factor formed from the chirp c(k) = exp(-i pi k^2 / 2N) as
// c(p + k1) conj(c(p - k1)). out may be v.
void twiddle(const double* v, double* out, const double* chirp, int64_t k1, int64_t n,
             bool conjugate) {
  const double* up = chirp + 2 * k1;
  const double* down = chirp - 2 * k1;
  int64_t k = 0;
#if TQS_AVX
  if (conjugate) {
    for (; k + 2 <= n; k += 2) {
      const C2 t = cmulj(load2(up + 2 * k), load2(down + 2 * k));
      store2(out + 2 * k, cmulj(load2(v + 2 * k), t));
    }
  } else {
    for (; k + 2 <= n; k += 2) {
      const C2 t = cmulj(load2(up + 2 * k), load2(down + 2 * k));
      store2(out + 2 * k, cmul(load2(v + 2 * k), t));
    }
  }
#endif
  for (; k < n; ++k) {
    const C1 t = cmulj(load1(up + 2 * k), load1(down + 2 * k));
    const C1 a = load1(v + 2 * k);
    store1(out + 2 * k, conjugate ? cmulj(a, t) : cmul(a, t));
  }
}

template <bool stream>
inline void put1(double* p, C1 v) {
  if constexpr (stream) {
    stream1(p, v);
  } else {
    store1(p, v);
  }
}

#if TQS_AVX
template <bool stream>
inline void put2(double* p, C2 v) {
  if constexpr (stream) {
    stream2(p, v);
  } else {
    store2(p, v);
  }
}

// 1 when a run starting at `out` is off a 32-byte boundary: its pairs of
// complex values are then stored from its second element on.
inline int64_t odd_start(const double* out) {
  return (reinterpret_cast<uintptr_t>(out) & 31) != 0 ? 1 : 0;
}
#endif

// out[(col0 + r) + ld k] = B[r][k] for r < rows, k < count: rows of the
// block (row r at block + 2 r cs) become columns of out, ld even. Each
// output row gets one run; two block rows are paired so that each store
// covers an aligned pair of complex values.
template <bool stream>
void scatter_columns(const double* block, int64_t cs, int64_t col0, int64_t rows, int64_t count,
                     double* out, int64_t ld) {
#if TQS_AVX
  const int64_t lead = odd_start(out + 2 * col0);
  const int64_t pairs_end = lead + (rows - lead) / 2 * 2;
  for (int64_t k = 0; k < count; k += 2) {
    const bool two = k + 1 < count;
    double* o = out + 2 * (col0 + ld * k);
    const double* in = block + 2 * k;
    if (lead) {
      put1<stream>(o, load1(in));
      if (two) put1<stream>(o + 2 * ld, load1(in + 2));
    }
    for (int64_t r = lead; r < pairs_end; r += 2) {
      const double* a = in + 2 * r * cs;
      if (two) {
        const C2 u = load2(a), v = load2(a + 2 * cs);
        put2<stream>(o + 2 * r, lanes_lo(u, v));
        put2<stream>(o + 2 * (r + ld), lanes_hi(u, v));
      } else {
        put2<stream>(o + 2 * r, join(load1(a), load1(a + 2 * cs)));
      }
    }
    if (pairs_end < rows) {
      const double* a = in + 2 * pairs_end * cs;
      put1<stream>(o + 2 * pairs_end, load1(a));
      if (two) put1<stream>(o + 2 * (pairs_end + ld), load1(a + 2));
    }
  }
#else
  for (int64_t k = 0; k < count; ++k) {
    double* o = out + 2 * (col0 + ld * k);
    for (int64_t r = 0; r < rows; ++r) put1<stream>(o + 2 * r, load1(block + 2 * (r * cs + k)));
  }
#endif
}

// The mirrored bins of block rows r < rows (k1 = k1_first + r): conj
// Z[r][P - 1 - k2] goes to bin (Q - k1) + Q k2 for k2 < mirrored. The output
// columns ascend as k1 descends, so the pairs are taken from the last row
// down.
template <bool stream>
void scatter_mirrors(const double* block, int64_t cs, int64_t k1_first, int64_t rows,
                     int64_t mirrored, int64_t P, int64_t Q, double* y) {
  const int64_t last = rows - 1;
  double* base = y + 2 * (Q - k1_first - last);
#if TQS_AVX
  const int64_t lead = odd_start(base);
  for (int64_t k2 = 0; k2 < mirrored; k2 += 2) {
    const bool two = k2 + 1 < mirrored;
    double* out = base + 2 * Q * k2;
    // Loaded as one pair, columns P - 2 - k2 and P - 1 - k2 serve k2 + 1
    // and k2.
    const double* in = block + 2 * (P - 2 - k2);
    int64_t r = last, at = 0;
    if (lead) {
      const double* a = in + 2 * r * cs;
      put1<stream>(out, conj(load1(a + 2)));
      if (two) put1<stream>(out + 2 * Q, conj(load1(a)));
      --r;
      ++at;
    }
    for (; r >= 1; r -= 2, at += 2) {
      const double* a = in + 2 * r * cs;
      if (two) {
        const C2 u = conj(load2(a)), v = conj(load2(a - 2 * cs));
        put2<stream>(out + 2 * at, lanes_hi(u, v));
        put2<stream>(out + 2 * (at + Q), lanes_lo(u, v));
      } else {
        put2<stream>(out + 2 * at, conj(join(load1(a + 2), load1(a - 2 * cs + 2))));
      }
    }
    if (r == 0) {
      put1<stream>(out + 2 * at, conj(load1(in + 2)));
      if (two) put1<stream>(out + 2 * (at + Q), conj(load1(in)));
    }
  }
#else
  for (int64_t k2 = 0; k2 < mirrored; ++k2) {
    double* out = base + 2 * Q * k2;
    const double* in = block + 2 * (P - 1 - k2);
    for (int64_t t = 0; t < rows; ++t) {
      put1<stream>(out + 2 * t, conj(load1(in + 2 * (last - t) * cs)));
    }
  }
#endif
}

// The inverse of scatter_mirrors: block row r, column P - 1 - k2 for
// k2 < mirrored, from the conjugate of bin (Q - k1) + Q k2.
void gather_mirrors(const double* x, int64_t k1_first, int64_t rows, int64_t mirrored, int64_t P,
                    int64_t Q, double* block, int64_t cs) {
  const int64_t last = rows - 1;
  const double* base = x + 2 * (Q - k1_first - last);
  int64_t k2 = 0;
#if TQS_AVX
  // Two output columns (P - 2 - k2, P - 1 - k2) from two bins of each of
  // two input rows (k2 + 1, k2).
  for (; k2 + 2 <= mirrored; k2 += 2) {
    const double* in = base + 2 * Q * k2;
    double* out = block + 2 * (P - 2 - k2);
    int64_t t = 0;
    for (; t + 2 <= rows; t += 2) {
      const C2 u = conj(load2(in + 2 * t)), v = conj(load2(in + 2 * (t + Q)));
      store2(out + 2 * (last - t) * cs, lanes_lo(v, u));
      store2(out + 2 * (last - t - 1) * cs, lanes_hi(v, u));
    }
    if (t < rows) {
      store2(out + 2 * (last - t) * cs, conj(join(load1(in + 2 * (t + Q)), load1(in + 2 * t))));
    }
  }
#endif
  for (; k2 < mirrored; ++k2) {
    const double* in = base + 2 * Q * k2;
    double* out = block + 2 * (P - 1 - k2);
    for (int64_t t = 0; t < rows; ++t) store1(out + 2 * (last - t) * cs, conj(load1(in + 2 * t)));
  }
}

// y[q ld + j] = L[j][q] for j < count, q < Q (rows of L are stride doubles
// apart): the member's transformed columns to the output, past the caches,
// one run of count doubles per output row. Answers false, doing nothing,
// when the shape or alignment does not allow whole aligned stores.
bool stream_columns(const double* L, int64_t stride, int64_t count, int64_t Q, double* y,
                    int64_t ld) {
#if TQS_AVX
  constexpr int64_t W = 4;
#else
  constexpr int64_t W = 2;
#endif
  if (count % W != 0 || Q % W != 0 || ld % W != 0 ||
      (reinterpret_cast<uintptr_t>(y) & (8 * W - 1)) != 0) {
    return false;
  }
  for (int64_t q = 0; q < Q; q += W) {
    for (int64_t j = 0; j < count; j += W) {
      const double* a = L + j * stride + q;
      double* o = y + q * ld + j;
#if TQS_AVX
      const C2 r0 = load2(a), r1 = load2(a + stride), r2 = load2(a + 2 * stride),
               r3 = load2(a + 3 * stride);
      const C2 t0 = interleave_lo(r0, r1), t1 = interleave_hi(r0, r1);
      const C2 t2 = interleave_lo(r2, r3), t3 = interleave_hi(r2, r3);
      stream2(o, lanes_lo(t0, t2));
      stream2(o + ld, lanes_lo(t1, t3));
      stream2(o + 2 * ld, lanes_hi(t0, t2));
      stream2(o + 3 * ld, lanes_hi(t1, t3));
#else
      const C1 r0 = load1(a), r1 = load1(a + stride);
      stream1(o, interleave_lo(r0, r1));
      stream1(o + ld, interleave_hi(r0, r1));
#endif
    }
  }
  return true;
}

// ---- forward -----------------------------------------------------------------

int forward_columns(const Job& j, int64_t m, const Dealer& deal) {
  const LargeEvenRealPlan& p = *j.plan;
  const Area a = area_of(p, m);
  const int64_t P = p.p, Q = p.q, b = p.columns;
  for (int64_t blk = deal.next(); blk < deal.blocks; blk = deal.next()) {
    const int64_t p0 = blk * b;
    const int64_t count = smaller(b, P - p0);
    real_matrix_copy('R', 'T', static_cast<uint64_t>(Q), static_cast<uint64_t>(count), 1.0,
                     j.x + p0, static_cast<uint64_t>(P), a.block,
                     static_cast<uint64_t>(p.real_stride));
    for (int64_t i = 0; i < count; ++i) {
      double* v = a.block + i * p.real_stride;
      const int code = real_plan_forward(v, v, p.real_forward_plan, a.work);
      if (code != PLAN_OK) return code;
    }
    // Transposed: the block's spectra become columns p0 ... of the rows k1.
    if (j.bypass) {
      scatter_columns<true>(a.block, p.real_stride / 2, p0, count, Q / 2, p.spectra,
                            p.complex_stride);
    } else {
      scatter_columns<false>(a.block, p.real_stride / 2, p0, count, Q / 2, p.spectra,
                             p.complex_stride);
    }
  }
  stream_fence();
  return PLAN_OK;
}

// The bins of the edge rows k1 = 0 (row0) and k1 = Q/2 (nyquist): bins
// 0 and N/2 are real and go to the places the layout keeps for them.
void write_edges(const Job& j, const double* row0, const double* nyquist) {
  const LargeEvenRealPlan& p = *j.plan;
  const int64_t P = p.p, Q = p.q, half = Q / 2;
  double* y = j.y;
  for (int64_t k2 = 1; k2 < (P + 1) / 2; ++k2) store1(y + 2 * Q * k2, load1(row0 + 2 * k2));
  for (int64_t k2 = 0; k2 < P / 2; ++k2) store1(y + 2 * (half + Q * k2), load1(nyquist + 2 * k2));
  // Bin N/2 is k2 = P/2 of row 0 for even P, k2 = (P - 1)/2 of the Nyquist
  // row for odd P.
  const double middle = P % 2 == 0 ? row0[2 * (P / 2)] : nyquist[2 * (P / 2)];
  y[0] = row0[0];
  if (j.cce) {
    const int64_t n = P * Q;
    y[1] = 0.0;
    y[n] = middle;
    y[n + 1] = 0.0;
  } else {
    y[1] = middle;
  }
}

int forward_rows(const Job& j, int64_t m, const Dealer& deal) {
  const LargeEvenRealPlan& p = *j.plan;
  const int64_t P = p.p, Q = p.q, half = Q / 2, cs = p.complex_stride;
  const int64_t direct = (P + 1) / 2, mirrored = P / 2;
  const Area a = area_of(p, m);
  double* block = a.block;
  // Streaming needs whole complex values on 16-byte boundaries.
  const bool stream = j.bypass && (reinterpret_cast<uintptr_t>(j.y) & 15) == 0;
  for (int64_t blk = deal.next(); blk < deal.blocks; blk = deal.next()) {
    const int64_t first = blk * p.rows;
    const int64_t count = smaller(p.rows, half - first);
    const bool edge = first == 0;
    const int64_t skip = edge ? 1 : 0;
    double* nyquist = block + 2 * count * cs;
    if (edge) {
      // Row k1 = 0 pairs the real bins 0 and Q/2 of every p.
      const double* pairs = p.spectra;
      for (int64_t c = 0; c < P; ++c) {
        block[2 * c] = pairs[2 * c];
        block[2 * c + 1] = 0.0;
        nyquist[2 * c] = pairs[2 * c + 1];
        nyquist[2 * c + 1] = 0.0;
      }
      twiddle(nyquist, nyquist, p.chirp_centre, half, P, false);
    }
    const int64_t transforms = count + skip;
    for (int64_t i = 0; i < transforms; ++i) {
      double* row = block + 2 * i * cs;
      if (i >= skip && i < count) {
        twiddle(p.spectra + 2 * (first + i) * cs, row, p.chirp_centre, first + i, P, false);
      }
      const int code = complex_plan_forward(row, row, p.complex_plan, a.work);
      if (code != PLAN_OK) return code;
    }
    const int64_t k1 = first + skip, rows = count - skip;
    const double* ordinary = block + 2 * skip * cs;
    if (rows > 0 && stream) {
      scatter_columns<true>(ordinary, cs, k1, rows, direct, j.y, Q);
      scatter_mirrors<true>(ordinary, cs, k1, rows, mirrored, P, Q, j.y);
    } else if (rows > 0) {
      scatter_columns<false>(ordinary, cs, k1, rows, direct, j.y, Q);
      scatter_mirrors<false>(ordinary, cs, k1, rows, mirrored, P, Q, j.y);
    }
    if (edge) write_edges(j, block, nyquist);
  }
  stream_fence();
  return PLAN_OK;
}

// ---- backward ----------------------------------------------------------------

// The edge rows k1 = 0 and Q/2 from their bins and mirrors; the imaginary
// parts the layout keeps at bins 0 and N/2 are ignored.
void read_edges(const Job& j, double* row0, double* nyquist) {
  const LargeEvenRealPlan& p = *j.plan;
  const int64_t P = p.p, Q = p.q, half = Q / 2, n = P * Q;
  const double* x = j.x;
  const double middle = j.cce ? x[n] : x[1];
  row0[0] = x[0];
  row0[1] = 0.0;
  for (int64_t k2 = 1; k2 < (P + 1) / 2; ++k2) store1(row0 + 2 * k2, load1(x + 2 * Q * k2));
  if (P % 2 == 0) {
    row0[P] = middle;
    row0[P + 1] = 0.0;
  }
  for (int64_t k2 = P / 2 + 1; k2 < P; ++k2) {
    store1(row0 + 2 * k2, conj(load1(x + 2 * Q * (P - k2))));
  }
  for (int64_t k2 = 0; k2 < P / 2; ++k2) store1(nyquist + 2 * k2, load1(x + 2 * (half + Q * k2)));
  if (P % 2 != 0) {
    nyquist[2 * (P / 2)] = middle;
    nyquist[2 * (P / 2) + 1] = 0.0;
  }
  for (int64_t k2 = (P + 1) / 2; k2 < P; ++k2) {
    store1(nyquist + 2 * k2, conj(load1(x + 2 * (half + Q * (P - 1 - k2)))));
  }
}

int backward_rows(const Job& j, int64_t m, const Dealer& deal) {
  const LargeEvenRealPlan& p = *j.plan;
  const int64_t P = p.p, Q = p.q, half = Q / 2, cs = p.complex_stride;
  const int64_t direct = (P + 1) / 2, mirrored = P / 2;
  const Area a = area_of(p, m);
  double* block = a.block;
  const double* x = j.x;
  for (int64_t blk = deal.next(); blk < deal.blocks; blk = deal.next()) {
    const int64_t first = blk * p.rows;
    const int64_t count = smaller(p.rows, half - first);
    const bool edge = first == 0;
    const int64_t skip = edge ? 1 : 0;
    double* nyquist = block + 2 * count * cs;
    const int64_t k1 = first + skip, rows = count - skip;
    if (rows > 0) {
      complex_matrix_copy('R', 'T', static_cast<uint64_t>(direct), static_cast<uint64_t>(rows), 1.0,
                          0.0, x + 2 * k1, static_cast<uint64_t>(Q), block + 2 * skip * cs,
                          static_cast<uint64_t>(cs));
      gather_mirrors(x, k1, rows, mirrored, P, Q, block + 2 * skip * cs, cs);
    }
    if (edge) read_edges(j, block, nyquist);
    const int64_t transforms = count + skip;
    for (int64_t i = 0; i < transforms; ++i) {
      double* row = block + 2 * i * cs;
      const int code = complex_plan_backward(row, row, p.complex_plan, a.work);
      if (code != PLAN_OK) return code;
      if (i >= skip && i < count) twiddle(row, row, p.chirp_centre, first + i, P, true);
    }
    if (rows > 0 && j.bypass) {
      scatter_columns<true>(block + 2 * skip * cs, cs, k1, rows, P, p.spectra, p.row_stride);
    } else if (rows > 0) {
      scatter_columns<false>(block + 2 * skip * cs, cs, k1, rows, P, p.spectra, p.row_stride);
    }
    if (edge) {
      twiddle(nyquist, nyquist, p.chirp_centre, half, P, true);
      // The real bins 0 and Q/2 of each row of length Q pair up again.
      for (int64_t c = 0; c < P; ++c) {
        double* s = p.spectra + 2 * c * p.row_stride;
        s[0] = block[2 * c];
        s[1] = nyquist[2 * c];
      }
    }
  }
  stream_fence();
  return PLAN_OK;
}

int backward_columns(const Job& j, int64_t m, const Dealer& deal) {
  const LargeEvenRealPlan& p = *j.plan;
  const Area a = area_of(p, m);
  const int64_t P = p.p, Q = p.q, b = p.columns;
  for (int64_t blk = deal.next(); blk < deal.blocks; blk = deal.next()) {
    const int64_t p0 = blk * b;
    const int64_t count = smaller(b, P - p0);
    for (int64_t i = 0; i < count; ++i) {
      const int code = real_plan_backward(p.spectra + 2 * (p0 + i) * p.row_stride,
                                          a.block + i * p.real_stride, p.real_backward_plan,
                                          a.work);
      if (code != PLAN_OK) return code;
    }
    if (!j.bypass || !stream_columns(a.block, p.real_stride, count, Q, j.y + p0, P)) {
      real_matrix_copy('R', 'T', static_cast<uint64_t>(count), static_cast<uint64_t>(Q), 1.0,
                       a.block, static_cast<uint64_t>(p.real_stride), j.y + p0,
                       static_cast<uint64_t>(P));
    }
  }
  stream_fence();
  return PLAN_OK;
}

int64_t member(void* sync, int64_t m, int64_t team, void* argument) {
  const Job& j = *static_cast<const Job*>(argument);
  const LargeEvenRealPlan& p = *j.plan;
  // One counter per pass, a cache line apart, in the area the team shares
  // (zero-filled by the runner; absent for a team of one).
  int64_t own[16] = {};
  int64_t* counters = sync != nullptr && team > 1 ? static_cast<int64_t*>(sync) : own;
  const int64_t column_blocks = ceil_div(p.p, p.columns), row_blocks = ceil_div(p.q / 2, p.rows);
  const Dealer first{counters, j.forward ? column_blocks : row_blocks};
  const Dealer second{counters + 8, j.forward ? row_blocks : column_blocks};
  // Members beyond the slices (a team larger than asked for) only keep the
  // barrier company.
  const bool works = m < p.members;
  int code = PLAN_OK;
  if (works) code = j.forward ? forward_columns(j, m, first) : backward_rows(j, m, first);
  // Every member passes the barrier, failed or not: the others wait for it.
  if (team > 1) j.threading->barrier(0);
  if (works && code == PLAN_OK) {
    code = j.forward ? forward_rows(j, m, second) : backward_columns(j, m, second);
  }
  if (m == 0 && j.zero_past_end) j.y[p.p * p.q] = 0.0;
  return translate_plan_status(code);
}

}  // namespace

long large_even_real_run(const LargeEvenRealPlan* plan, ttl_services* threading, int32_t team,
                         bool forward, bool cce, bool zero_past_end, const double* x, double* y) {
  Job job{plan, threading, forward, cce, zero_past_end, x, y,
          plan->p * plan->q >= BYPASS_FROM_POINTS};
  if (team < 2 || threading == nullptr || threading->parallel_syncable_team == nullptr ||
      threading->barrier == nullptr) {
    return member(nullptr, 0, 1, &job);
  }
  return threading->parallel_syncable_team(team, member, &job);
}

TQS_LEVEL_END
