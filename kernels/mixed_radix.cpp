#include "kernels/mixed_radix.h"

#include <cstddef>
#include <type_traits>

#include "kernels/generated/blocks.h"
#include "kernels/generated/whole.h"
#include "kernels/radix.h"
#include "kernels/roots.h"
#include "service/tqs_service.h"

TQS_LEVEL_BEGIN

using namespace simd;
using namespace radix;

namespace {

bool is_pow2_radix(uint32_t r) { return r == 2 || r == 4 || r == 8 || r == 16; }

constexpr int64_t kDepthFirstAbove = 500;

double* alloc_doubles(int64_t count) {
  return (double*)tqs_mm_allocate((uint64_t)count * sizeof(double), 64);
}

// The len-th roots the twiddle tables gather from. With len divisible by
// four a quarter-wave table of sines (len/4 + 1 doubles, from an eighth of
// the roots) serves instead of all len roots: an eighth of the memory to
// write, which for long lengths costs more than forming the roots.
struct RootSource {
  int64_t len = 0, q4 = 0;
  double* table = nullptr;  // quarter-wave sines, or all roots

  bool build(int64_t n) {
    len = n;
    if (n % 4 != 0) {
      table = alloc_doubles(2 * n);
      if (table != nullptr) root_table(table, n);
      return table != nullptr;
    }
    q4 = n / 4;
    table = alloc_doubles(q4 + 1);
    if (table == nullptr) return false;
    quarter_sine_table(table, n);
    return true;
  }
  ~RootSource() { tqs_mm_free(table); }
};

// The roots w^(k*step) = (cos, -sin)(2 pi k*step/len), k = 0 .. count-1,
// of a RootSource (k*step below its length), handed to put(k, cos, -sin)
// a quadrant at a time: inside one, the place in the quarter-wave table
// moves by step with no wrap test and no quadrant switch per root (complex
// 10^5 fills 100000 twiddles; its commit 0.31 -> 0.2 ms).
template <class Put>
void walk_row(const RootSource& src, int64_t step, int64_t count, Put put) {
  const double* t = src.table;
  if (src.q4 == 0) {
    int64_t e = 0;
    for (int64_t k = 0; k < count; ++k) {
      put(k, t[2 * e], t[2 * e + 1]);
      e += step;
      if (e >= src.len) e -= src.len;
    }
    return;
  }
  const int64_t q4 = src.q4;
  int64_t r = 0, quad = 0, k = 0;
  while (k < count) {
    int64_t run = (q4 - r + step - 1) / step;  // steps while r stays below q4
    if (run > count - k) run = count - k;
    const double* sn = t + r;       // sin, forwards
    const double* cs = t + q4 - r;  // cos, backwards
    switch (quad) {
      case 0:
        for (int64_t i = 0; i < run; ++i) put(k + i, cs[-i * step], -sn[i * step]);
        break;
      case 1:
        for (int64_t i = 0; i < run; ++i) put(k + i, -sn[i * step], -cs[-i * step]);
        break;
      case 2:
        for (int64_t i = 0; i < run; ++i) put(k + i, -cs[-i * step], sn[i * step]);
        break;
      default:
        for (int64_t i = 0; i < run; ++i) put(k + i, sn[i * step], cs[-i * step]);
        break;
    }
    k += run;
    r += run * step;
    while (r >= q4) {
      r -= q4;
      quad = (quad + 1) & 3;
    }
  }
}

// ---- radix passes ---------------------------------------------------------

// The twiddle product of a pass. One column reads a group {c, c, -s, s}
// (no shuffle of the twiddle, which the 128-bit levels feel most); two
// columns read {c0, s0, c1, s1}, as a group per column pair would double
// the table, which the long transforms pay for in cache misses.
template <bool F>
inline C1 twiddle(C1 a, const double* w) {
  if constexpr (F) {
    return cmul_group(a, w);
  } else {
    return cmulj_group(a, w);
  }
}
#if TQS_LEVEL >= 4
template <bool F>
inline C2 twiddle(C2 a, const double* w) {
  if constexpr (F) {
    return cmul(a, load2(w));
  } else {
    return cmulj(a, load2(w));
  }
}
#endif

// a times the product of the fine twiddle w and the coarse one v (see
// pass_split).
template <bool F>
inline C1 split_twiddle(C1 a, const double* w, const double* v) {
  const C1 p = cmul_mem(load1(w), v);
  return F ? cmul(a, p) : cmulj(a, p);
}
#if TQS_LEVEL >= 4
template <bool F>
inline C2 split_twiddle(C2 a, const double* w, const double* v) {
  return cmul_pair_then_mem(a, w, v, !F);
}
#endif

// Two-column passes whose table stays small read a group per column pair
// and j instead, {c0, c0, c1, c1, -s0, s0, -s1, s1}: two shuffles fewer per
// product for twice the table, which only pays while the table is cached.
constexpr int64_t kGroupedTwiddlesUpTo = 2048;  // (r-1)*m products
inline bool grouped_twiddles(int64_t r, int64_t m) {
  return TQS_LEVEL >= 4 && (r - 1) * m <= kGroupedTwiddlesUpTo;
}

// At the two-column width an odd number of columns runs as pairs and one
// last column on its own: the pairs' twiddles in the layout of the width,
// the last column's as groups {c, c, -s, s} behind them (4 doubles per j).
// Odd lengths have odd columns at every stage, and one column per 256-bit
// register would leave half of each idle.
inline int64_t last_column_offset(int64_t r, int64_t m, bool grouped) {
  return (m >> 1) * (grouped ? 8 : 4) * (r - 1);
}

template <bool F, class V>
inline V twiddle_grouped(V a, const double* g) {
  if constexpr (F) {
    return cmul_group(a, g);
  } else {
    return cmulj_group(a, g);
  }
}

// One column k of a block: element j*m + k times its twiddle, R-point DFT,
// result q stored at q*m + k. tw points at the column's twiddles, tstep
// doubles apart per j (the table holds the forward twiddles; backward uses
// their conjugates). With S the twiddle is the product of the fine one at
// tw and the coarse one at th (see pass_split). R == 0: a radix known only
// at run time.
template <int R, bool F, class V, bool G = false, bool S = false>
inline void pass_column(double* col, int64_t m2, const double* tw, int tstep, int r,
                        const double* cs, const double* th = nullptr) {
  constexpr int kCap = R == 0 ? kMaxGeneric : R;
  const int rr = R == 0 ? r : R;
  V x[kCap];
  x[0] = Lanes<V>::load_pair(col);
  for (int j = 1; j < rr; ++j) {
    const V a = Lanes<V>::load_pair(col + j * m2);
    if constexpr (S) {
      x[j] = split_twiddle<F>(a, tw + (j - 1) * tstep, th + 2 * (j - 1));
    } else if constexpr (G) {
      x[j] = twiddle_grouped<F>(a, tw + (j - 1) * tstep);
    } else {
      x[j] = twiddle<F>(a, tw + (j - 1) * tstep);
    }
  }
  if constexpr (R == 0) {
    bfly_odd_rt<F>(x, r, cs);
  } else {
    bfly<R, F>(x);
  }
  for (int j = 0; j < rr; ++j) Lanes<V>::store_pair(col + j * m2, x[j]);
}

// In a transform of kSplitLengthsFrom points and more, a stage whose table
// would hold (r-1)*m twiddles from kSplitTwiddlesFrom on forms them as
// products of a fine table (w^(j*kl), kl < 2^b, about the square root of m)
// and a coarse one (w^(j*kh*2^b), one entry per run of 2^b columns). The
// full table is the largest thing such a plan writes (complex 10^6: 13 MB
// for its first stage), and read at every run it competes with the data for
// the last-level cache: level 5, 10^6 points 8-13 % faster, its commit
// 7.5 ms -> 0.25 ms. Where the data nearly fit the second-level cache, the
// extra product per twiddle costs more than the table's traffic saves
// (complex 10^5: 5-9 % slower, though its commit would drop from 0.8 ms to
// 0.1 ms).
constexpr int64_t kSplitTwiddlesFrom = 65536;
constexpr int64_t kSplitLengthsFrom = 262144;

int split_bits(int64_t m) {
  int bits = 0;
  while ((int64_t(1) << bits) < m) ++bits;
  return bits < 2 ? 1 : (bits + 1) / 2;
}

// Fine table of a split stage: 2^b columns in the layout of its width ({c0,
// s0, c1, s1} per column pair and j at the two-column width, else {c, s}
// per column and j); the coarse table behind it, {c, s} per run and j.
template <int R, bool F>
void pass_split(double* data, int64_t m, int64_t blocks, const double* tw, int r,
                const double* cs, int b) {
  const int rr = R == 0 ? r : R;
  const int64_t m2 = 2 * m, B = int64_t(1) << b, per = 2 * (int64_t)(rr - 1);
  const double* coarse = tw + per * B;
  for (int64_t bl = 0; bl < blocks; ++bl) {
    double* blk = data + bl * rr * m2;
    const double* th = coarse;
    for (int64_t k0 = 0; k0 < m; k0 += B, th += per) {
      const int64_t k1 = k0 + B < m ? k0 + B : m;
      const double* t = tw;
#if TQS_LEVEL >= 4
      // Odd m: the last run ends in a column alone, whose fine twiddles
      // are the first of a pair's.
      int64_t k = k0;
      for (; k + 1 < k1; k += 2, t += 2 * per) {
        pass_column<R, F, C2, false, true>(blk + 2 * k, m2, t, 4, r, cs, th);
      }
      if (k < k1) pass_column<R, F, C1, false, true>(blk + 2 * k, m2, t, 4, r, cs, th);
#else
      for (int64_t k = k0; k < k1; ++k, t += per) {
        pass_column<R, F, C1, false, true>(blk + 2 * k, m2, t, 2, r, cs, th);
      }
#endif
    }
  }
}

// Twiddles: 4 doubles per column and j, or at the two-column width (levels
// 4 and 5) 8 per column pair and j while grouped, else 4, and an odd last
// column's 4 per j behind the pairs (see last_column_offset); b > 0: a split
// stage (pass_split).
template <int R, bool F>
void pass(double* data, int64_t m, int64_t blocks, const double* tw, int r, const double* cs,
          int b) {
  if (b > 0) {
    pass_split<R, F>(data, m, blocks, tw, r, cs, b);
    return;
  }
  const int rr = R == 0 ? r : R;
  const int64_t m2 = 2 * m, col_step = 4 * (int64_t)(rr - 1);
  for (int64_t b = 0; b < blocks; ++b) {
    double* blk = data + b * rr * m2;
#if TQS_LEVEL >= 4
    const bool grouped = grouped_twiddles(rr, m);
    const double* t = tw;
    int64_t k = 0;
    if (grouped) {
      for (; k + 1 < m; k += 2, t += 2 * col_step) {
        pass_column<R, F, C2, true>(blk + 2 * k, m2, t, 8, r, cs);
      }
    } else {
      for (; k + 1 < m; k += 2, t += col_step) {
        pass_column<R, F, C2>(blk + 2 * k, m2, t, 4, r, cs);
      }
    }
    if (k < m) {
      pass_column<R, F, C1>(blk + 2 * k, m2, tw + last_column_offset(rr, m, grouped), 4, r,
                            cs);
    }
#else
    const double* t = tw;
    for (int64_t k = 0; k < m; ++k, t += col_step) {
      pass_column<R, F, C1>(blk + 2 * k, m2, t, 4, r, cs);
    }
#endif
  }
}

template <bool F>
void run_pass(const PlanRecord* p, int i, double* data) {
  const FactorRecord& f = p->factors[i];
  const double* tw = (const double*)f.twiddles;
  const double* cs = (const double*)f.generic_table;
  int64_t m = f.m, blocks = f.blocks;
  const int b = i < p->split_stages ? split_bits(m) : 0;
  switch (f.radix) {
#define TQS_PASS_CASE(r_)                                 \
  case r_:                                                \
    pass<r_, F>(data, m, blocks, tw, r_, cs, b);          \
    break;
    TQS_BUTTERFLY_RADICES(TQS_PASS_CASE)
#undef TQS_PASS_CASE
    default: pass<0, F>(data, m, blocks, tw, (int)f.radix, cs, b); break;
  }
}

// ---- leaves -----------------------------------------------------------------

// One or two leaves (lanes lane_in doubles apart in the input, lane_out in
// the output): L elements ustride doubles apart, transformed, stored
// contiguously.
template <int L, bool F, class V>
inline void leaf(const double* in, int64_t ustride, int64_t lane_in, double* out, int64_t lane_out,
                 int l, const double* cs) {
  constexpr int kCap = L == 0 ? kMaxGeneric : L;
  const int ll = L == 0 ? l : L;
  V x[kCap];
  for (int u = 0; u < ll; ++u) x[u] = Lanes<V>::load(in + u * ustride, lane_in);
  if constexpr (L == 0) {
    bfly_odd_rt<F>(x, l, cs);
  } else {
    bfly<L, F>(x);
  }
  for (int u = 0; u < ll; ++u) Lanes<V>::store(out + 2 * u, lane_out, x[u]);
}

#if TQS_LEVEL >= 4
// Two leaves whose inputs are neighbours (lane 0 at in, lane 1 one element
// on): whole-vector loads, and the outputs transposed two by two into
// whole-vector stores to out0 and out1.
template <int L, bool F>
inline void leaf_adjacent(const double* in, int64_t ustride, double* out0, double* out1, int l,
                          const double* cs) {
  constexpr int kCap = L == 0 ? kMaxGeneric : L;
  const int ll = L == 0 ? l : L;
  C2 x[kCap];
  for (int u = 0; u < ll; ++u) x[u] = load2(in + u * ustride);
  if constexpr (L == 0) {
    bfly_odd_rt<F>(x, l, cs);
  } else {
    bfly<L, F>(x);
  }
  int u = 0;
  for (; u + 1 < ll; u += 2) {
    store2(out0 + 2 * u, lanes_lo(x[u], x[u + 1]));
    store2(out1 + 2 * u, lanes_hi(x[u], x[u + 1]));
  }
  if (u < ll) {
    store1(out0 + 2 * u, low(x[u]));
    store1(out1 + 2 * u, high(x[u]));
  }
}

#endif

// The leaf blocks of np sub-problems side by side (inputs in_step doubles
// apart, outputs out_step; block e of a sub-problem reads from offsets[e]
// on and writes bo doubles from e * bo on). At the AVX levels two blocks
// whose inputs are one element apart go together, pair(in, out0, out1):
// the sub-problems of the first stage, which run depth first (in_step one
// element), or, breadth first, the blocks that differ only in the first
// stage's digit (the most significant one, of stride 1). An odd first radix
// leaves a sub-problem or a digit over: its blocks go two at a time through
// apart(in0, in1, out0, out1), one per lane (level 5: complex 1000 and
// 3000 1.5-3 % faster than one block per register). With a null apart,
// and for a last block alone, one(in, out) takes them one by one, each
// entry for all sub-problems before the next.
template <class Pair, class Apart, class One>
inline void visit_blocks(const PlanRecord* p, const double* in, double* out, int np,
                         int64_t in_step, int64_t out_step, int64_t bo, Pair pair, Apart apart,
                         One one) {
  constexpr int64_t esz = 2;
  const int32_t* offsets = (const int32_t*)p->scratch;
  const int64_t entries = p->factors[p->last_factor_index + 1].blocks;
  int64_t e_begin = 0;
#if TQS_LEVEL >= 4
  if (np >= 2 && in_step == esz) {
    int q = 0;
    for (; q + 1 < np; q += 2) {
      for (int64_t e = 0; e < entries; ++e) {
        double* o = out + q * out_step + e * bo;
        pair(in + (q + offsets[e]) * esz, o, o + out_step);
      }
    }
    in += q * in_step;
    out += q * out_step;
    np -= q;
  } else if (np == 1 && p->group_start == 0 && p->last_factor_index >= 1) {
    const FactorRecord& f0 = p->factors[0];
    const int64_t each = entries / f0.radix, step0 = 2 * (int64_t)f0.m;
    int64_t d = 0;
    for (; d + 1 < f0.radix; d += 2) {
      for (int64_t e = 0; e < each; ++e) {
        double* o = out + d * step0 + e * bo;
        pair(in + (d + offsets[e]) * esz, o, o + step0);
      }
    }
    // An odd digit left over goes on below.
    e_begin = d * each;
  }
  if constexpr (!std::is_same_v<Apart, std::nullptr_t>) {
    for (; np == 1 && e_begin + 1 < entries; e_begin += 2) {
      const int64_t e = e_begin;
      apart(in + offsets[e] * esz, in + offsets[e + 1] * esz, out + e * bo, out + (e + 1) * bo);
    }
  }
#else
  (void)pair;
  (void)apart;
#endif
  for (int64_t e = e_begin; e < entries; ++e) {
    for (int q = 0; q < np; ++q) one(in + q * in_step + offsets[e] * esz, out + q * out_step + e * bo);
  }
}

// The leaves of np sub-problems laid out as for visit_blocks: a block is
// the r leaves of the deepest stage's radix r, leaf j reading from j * s
// on and stored contiguously.
template <int L, bool F>
void leaves(const PlanRecord* p, const double* in, double* out, int np, int64_t in_step,
            int64_t out_step) {
  constexpr int64_t esz = 2;
  const FactorRecord& deep = p->factors[p->last_factor_index];
  const FactorRecord& lf = p->factors[p->last_factor_index + 1];
  const int l = (int)lf.radix;
  const double* cs = (const double*)lf.generic_table;
  const int64_t r = deep.radix, s = deep.s;
  const int64_t ustride = r * s * esz, lane_in = s * esz, lane_out = 2 * (int64_t)l;
  visit_blocks(
      p, in, out, np, in_step, out_step, r * lane_out,
      [&](const double* base, double* o0, double* o1) {
#if TQS_LEVEL >= 4
        for (int64_t j = 0; j < r; ++j) {
          leaf_adjacent<L, F>(base + j * lane_in, ustride, o0 + j * lane_out, o1 + j * lane_out, l,
                              cs);
        }
#else
        (void)base, (void)o0, (void)o1;
#endif
      },
      // The leaves already pair up inside a block.
      nullptr,
      [&](const double* base, double* o) {
        int64_t j = 0;
#if TQS_LEVEL >= 4
        for (; j + 1 < r; j += 2) {
          leaf<L, F, C2>(base + j * lane_in, ustride, lane_in, o + j * lane_out, lane_out, l, cs);
        }
#endif
        for (; j < r; ++j) {
          leaf<L, F, C1>(base + j * lane_in, ustride, lane_in, o + j * lane_out, lane_out, l, cs);
        }
      });
}

template <bool F>
void run_leaves(const PlanRecord* p, const double* in, double* out, int np, int64_t in_step,
                int64_t out_step) {
  switch (p->factors[p->last_factor_index + 1].radix) {
#define TQS_LEAF_CASE(r_)                                    \
  case r_:                                                   \
    leaves<r_, F>(p, in, out, np, in_step, out_step);        \
    break;
    TQS_BUTTERFLY_RADICES(TQS_LEAF_CASE)
#undef TQS_LEAF_CASE
    default: leaves<0, F>(p, in, out, np, in_step, out_step); break;
  }
}

// ---- blocks -----------------------------------------------------------------

// The generated transform of length N over one block, or two (Args: in, is,
// out for C1; in, is, out0, out1 for C2).
template <int N, bool F, class... Args>
[[gnu::always_inline]] inline void block_dft(Args... args) {
#define TQS_BLOCK_CALL(n_)            \
  if constexpr (N == n_) {            \
    if constexpr (F) {                \
      block##n_##_forward(args...);   \
    } else {                          \
      block##n_##_backward(args...);  \
    }                                 \
  }
  TQS_BLOCK_LENGTHS(TQS_BLOCK_CALL)
#undef TQS_BLOCK_CALL
}

// The leaves and the deepest stage's pass of np sub-problems (laid out as
// for visit_blocks) in one go: each of their blocks of N = r * m outputs is
// the length-N transform of the inputs s apart from the block's first one.
template <int N, bool F>
void blocks(const PlanRecord* p, const double* in, double* out, int np, int64_t in_step,
            int64_t out_step) {
  const int64_t is = 2 * (int64_t)p->factors[p->last_factor_index].s;
#if TQS_LEVEL >= 4
  // One copy of the two-lane kernel serves both kinds of pairs.
  auto two = [](const double* base, int64_t stride, double* o0, double* o1) {
    block_dft<N, F>(base, stride, o0, o1);
  };
#endif
  visit_blocks(
      p, in, out, np, in_step, out_step, 2 * N,
      [&](const double* base, double* o0, double* o1) {
#if TQS_LEVEL >= 4
        two(base, is, o0, o1);
#else
        (void)base, (void)o0, (void)o1;
#endif
      },
      [&](const double* in0, const double* in1, double* o0, double* o1) {
#if TQS_LEVEL >= 4
        // Side by side in a buffer, the two blocks' inputs suit the kernel
        // of neighbouring inputs.
        alignas(32) double buf[4 * N];
        for (int t = 0; t < N; ++t)
          store2(buf + 4 * t, join(load1(in0 + t * is), load1(in1 + t * is)));
        two(buf, 4, o0, o1);
#else
        (void)in0, (void)in1, (void)o0, (void)o1;
#endif
      },
      [&](const double* base, double* o) { block_dft<N, F>(base, is, o); });
}

// Whether the deepest stage and the leaves run as blocks; if so, done.
template <bool F>
bool run_blocks(const PlanRecord* p, const double* in, double* out, int np, int64_t in_step,
                int64_t out_step) {
  const int64_t n = (int64_t)p->factors[p->last_factor_index].radix *
                    p->factors[p->last_factor_index + 1].radix;
  switch (n) {
#define TQS_BLOCK_CASE(n_)                                 \
  case n_:                                                 \
    blocks<n_, F>(p, in, out, np, in_step, out_step);      \
    return true;
    TQS_BLOCK_LENGTHS(TQS_BLOCK_CASE)
#undef TQS_BLOCK_CASE
    default: return false;
  }
}

// Stage i of np sub-problems side by side: the first one's input starts at
// in (elements s_i apart) and its r_i * m_i outputs go to out; the others
// are in_step and out_step doubles further on each.
//
// Depth first, the first stage's r_0 sub-problems read neighbouring
// elements, so one of them alone uses a quarter of every input line its
// leaves fetch, and the rest of the line is wanted again only a whole
// sub-problem later: from a farther cache, or from memory once the
// transform is out of cache. They advance together instead, and each line
// is used whole while it is there.
template <bool F>
void run_stage(const PlanRecord* p, int i, const double* in, double* out, int np = 1,
               int64_t in_step = 0, int64_t out_step = 0) {
  constexpr int64_t esz = 2;
  if (i < p->group_start) {
    const FactorRecord& f = p->factors[i];
    if (i == 0) {
      run_stage<F>(p, 1, in, out, (int)f.radix, (int64_t)f.s * esz, 2 * (int64_t)f.m);
    } else {
      for (int64_t j = 0; j < f.radix; ++j) {
        run_stage<F>(p, i + 1, in + j * (int64_t)f.s * esz, out + 2 * j * (int64_t)f.m, np,
                     in_step, out_step);
      }
    }
    for (int q = 0; q < np; ++q) run_pass<F>(p, i, out + q * out_step);
    return;
  }
  int deepest_pass = p->last_factor_index;
  if (run_blocks<F>(p, in, out, np, in_step, out_step)) {
    --deepest_pass;
  } else {
    run_leaves<F>(p, in, out, np, in_step, out_step);
  }
  for (int q = 0; q < np; ++q) {
    for (int t = deepest_pass; t >= i; --t) run_pass<F>(p, t, out + q * out_step);
  }
}

}  // namespace

int factor_length(int64_t m, int trial_limit, int remainder_limit, uint32_t* radices) {
  int c = 0;
  while (m % 4 == 0 && c < MAX_FACTORS - 2) {
    radices[c++] = 4;
    m /= 4;
  }
  if (m % 2 == 0) {
    radices[c++] = 4;
    radices[0] = 2;
    m /= 2;
  }
  if (m >= 9) {
    int64_t d = 3;
    while (m >= d * d) {
      if (d > trial_limit || c >= MAX_FACTORS - 1) return 0;
      if (m % d == 0) {
        radices[c++] = (uint32_t)d;
        m /= d;
      } else {
        d += 2;
      }
    }
  }
  if (c == 0) return 0;
  if (m > remainder_limit) return 0;
  radices[c] = (uint32_t)m;
  return c + 1;
}

namespace {

constexpr bool is_block_length(int64_t n) {
#define TQS_BLOCK_MATCH(n_) \
  if (n == n_) return true;
  TQS_BLOCK_LENGTHS(TQS_BLOCK_MATCH)
#undef TQS_BLOCK_MATCH
  return false;
}

// Lengths with a power of two of 2^5 and more beside an odd part (factored
// by factor_length as 4s, maybe a 2, then the odd primes in ascending
// order): a leaf of 8 or 16 points under the smallest odd prime that makes
// a block with it, radix-16 and radix-8 passes for the rest of the power of
// two at the top, and the other odd primes between. The general order
// below leaves radix-4 passes and often no block: 3 x 2^k and 5 x 2^k took
// 4 to 6 sweeps where this takes 2 or 3 (level 5, interleaved runs, ns
// before / after / FFTW: 384 462 / 346 / 328, 1536 2428 / 1754 / 2055,
// 320 384 / 271 / 286, 2560 4319 / 3334 / 3731, 448 538 / 396 / 461,
// 2304 4637 / 3306 / 3619, 960 1280 / 1095 / 1239; level 0 384 and 1536
// 19-20 % faster). With 2^5 (100000 = 2^5 x 5^5 among them) the radix-4
// pass goes to the top: 7 % faster. Returns the count, or 0 where the
// general order applies.
int blocks_first_order(const uint32_t* in, int count, uint32_t* r) {
  int k = 0, nodd = 0;
  uint32_t odd[MAX_FACTORS];
  for (int i = 0; i < count; ++i) {
    if (in[i] == 2 || in[i] == 4)
      k += in[i] == 2 ? 1 : 2;
    else
      odd[nodd++] = in[i];
  }
  if (k < 5 || nodd == 0) return 0;
  int leaf_bits = (k % 3 == 0 || k == 5) ? 3 : 4;
  auto deepest = [&](int bits) {
    for (int i = 0; i < nodd; ++i)
      if (is_block_length(int64_t(odd[i]) << bits)) return i;
    return -1;
  };
  int d = deepest(leaf_bits);
  if (d < 0 && leaf_bits == 4) d = deepest(leaf_bits = 3);
  int c = 0, rest = k - leaf_bits;
  if (rest % 3 == 1) {
    r[c++] = 16;
    rest -= 4;
  } else if (rest % 3 == 2) {
    r[c++] = 4;
    rest -= 2;
  }
  for (; rest > 0; rest -= 3) r[c++] = 8;
  for (int i = 0; i < nodd; ++i)
    if (i != d) r[c++] = odd[i];
  if (d >= 0) r[c++] = odd[d];
  r[c++] = uint32_t(1) << leaf_bits;
  return c <= MAX_FACTORS ? c : 0;
}

}  // namespace

int mixed_radix_build(PlanRecord* p, int64_t len, const uint32_t* radices_in, int count,
                      bool breadth_first, int64_t* generic_out) {
  uint32_t r[MAX_FACTORS];
  const int ordered = breadth_first ? 0 : blocks_first_order(radices_in, count, r);
  if (ordered > 0) {
    count = ordered;
  } else {
    for (int i = 0; i < count; ++i) r[i] = radices_in[i];
    // A lone 2 or a 4 in front merges with the next 4 into a leaf of 8 or
    // 16; the power-of-two front record then changes place with the
    // cofactor, so that the leaves are the power of two and the first stage
    // the odd rest.
    if (count >= 3 && r[1] == 4 && (r[0] == 2 || r[0] == 4)) {
      r[0] *= 4;
      for (int i = 1; i + 1 < count; ++i) r[i] = r[i + 1];
      --count;
    }
    if (is_pow2_radix(r[0])) {
      uint32_t t = r[0];
      r[0] = r[count - 1];
      r[count - 1] = t;
    }
  }
  const int stages = count - 1;
  p->factored = 1;
  p->last_factor_index = stages - 1;
  p->core_length = (int32_t)len;
  int64_t s = 1, m = len, generic = 0;
  int group = breadth_first ? 0 : stages - 1;
  for (int i = 0; i < stages; ++i) {
    FactorRecord& f = p->factors[i];
    f.radix = r[i];
    m /= r[i];
    f.m = (uint32_t)m;
    f.s = (uint32_t)s;
    s *= r[i];
    if ((int64_t)f.radix * m <= kDepthFirstAbove && i < group) group = i;
  }
  p->group_start = group;
  FactorRecord& lf = p->factors[stages];
  lf.radix = r[stages];
  lf.m = 1;
  lf.s = (uint32_t)s;
  int64_t blocks = 1;
  for (int i = 0; i < stages; ++i) {
    p->factors[i].blocks = (uint32_t)(i >= group ? blocks : 1);
    if (i >= group) blocks *= r[i];
  }
  lf.blocks = (uint32_t)(blocks / r[stages - 1]);

  // Direct-transform tables for the radices and leaf lengths without a
  // butterfly of their own (odd, above 13); neighbours share one.
  for (int i = 0; i <= stages; ++i) {
    FactorRecord& f = p->factors[i];
    if (has_butterfly(f.radix)) continue;
    int64_t size = (i < stages && (f.m & 1) == 0) ? 2 * (int64_t)f.radix : (int64_t)f.radix;
    if (size > generic) generic = size;
    if (i > 0 && p->factors[i - 1].radix == f.radix) {
      f.generic_table = p->factors[i - 1].generic_table;
      continue;
    }
    double* cs = alloc_doubles(2 * (int64_t)f.radix);
    if (cs == nullptr) return PLAN_NO_MEMORY;
    for (int64_t e = 0; e < f.radix; ++e) root_cos_sin(e, f.radix, cs + e, cs + f.radix + e);
    f.generic_table = cs;
  }
  *generic_out = generic;

  // The leading stages with the longest tables split them (see
  // pass_split). The deepest stage never does: the blocks may do its pass.
  int split = 0;
  while (!breadth_first && len >= kSplitLengthsFrom && split + 1 < stages &&
         (int64_t)(p->factors[split].radix - 1) * p->factors[split].m >= kSplitTwiddlesFrom) {
    ++split;
  }
  p->split_stages = split;
  if (split > 0) {
    const RootGenerator g(len);
    for (int i = 0; i < split; ++i) {
      FactorRecord& f = p->factors[i];
      const int64_t rr = f.radix, mm = f.m, ss = f.s, per = 2 * (rr - 1);
      const int b = split_bits(mm);
      const int64_t B = int64_t(1) << b, runs = (mm + B - 1) / B;
      double* tw = alloc_doubles(per * (B + runs) + 2);
      if (tw == nullptr) return PLAN_NO_MEMORY;
      f.twiddles = tw;
      const bool pairs = TQS_LEVEL >= 4;
      for (int64_t j = 1; j < rr; ++j) {
        for (int64_t k = 0; k < B; ++k) {
          const int64_t pos = pairs ? ((k >> 1) * (rr - 1) + (j - 1)) * 4 + (k & 1) * 2
                                    : (k * (rr - 1) + (j - 1)) * 2;
          g.root(j * k * ss, tw + pos);
        }
        for (int64_t h = 0; h < runs; ++h) g.root(j * h * B * ss, tw + per * (B + h) + 2 * (j - 1));
      }
    }
  }
  // Every later stage's exponents are multiples of its stride, so the
  // (len / stride)-th roots serve them.
  const int64_t unit = p->factors[split].s;
  RootSource roots;
  if (!roots.build(len / unit)) return PLAN_NO_MEMORY;
  for (int i = split; i < stages; ++i) {
    FactorRecord& f = p->factors[i];
    int64_t rr = f.radix, mm = f.m, ss = f.s / unit;
    // The odd real engine reads (c, s) per column, the complex passes the
    // layout of their width (see twiddle).
    const bool grouped = !breadth_first && grouped_twiddles(rr, mm);
    const bool pairs = !grouped && (breadth_first || TQS_LEVEL >= 4);
    double* tw = alloc_doubles((pairs ? 2 : 4) * (rr - 1) * (mm + 1) + 2);
    if (tw == nullptr) return PLAN_NO_MEMORY;
    // Row by row, the exponent j*k*s (below len: j < r, k < m, r*m*s = len)
    // advances by j*s from column to column, and its place in the root
    // table with it: no multiplication or quadrant search per root.
    const int64_t per = rr - 1;
    // An odd last column of a two-column pass (see last_column_offset).
    const bool last_alone = !breadth_first && TQS_LEVEL >= 4 && (mm & 1) != 0;
    double* last = tw + last_column_offset(rr, mm, grouped);
    auto put_last = [&](int64_t j, int64_t k, double c, double sn) {
      if (!last_alone || k != mm - 1) return false;
      double* at = last + 4 * (j - 1);
      at[0] = at[1] = c;
      at[2] = -sn;
      at[3] = sn;
      return true;
    };
    for (int64_t j = 1; j < rr; ++j) {
      const int64_t step = j * ss;
      if (pairs && (!breadth_first || (mm & 1) == 0)) {  // {c0, s0, c1, s1} per column pair and j
        double* row = tw + 4 * (j - 1);
        walk_row(roots, step, mm, [&](int64_t k, double c, double sn) {
          if (put_last(j, k, c, sn)) return;
          double* at = row + (k >> 1) * 4 * per + (k & 1) * 2;
          at[0] = c;
          at[1] = sn;
        });
      } else if (pairs) {  // {c, s} per column and j
        double* row = tw + 2 * (j - 1);
        walk_row(roots, step, mm, [&](int64_t k, double c, double sn) {
          double* at = row + k * 2 * per;
          at[0] = c;
          at[1] = sn;
        });
      } else if (grouped) {  // {c0, c0, c1, c1, -s0, s0, -s1, s1}
        double* row = tw + 8 * (j - 1);
        walk_row(roots, step, mm, [&](int64_t k, double c, double sn) {
          if (put_last(j, k, c, sn)) return;
          double* at = row + (k >> 1) * 8 * per + (k & 1) * 2;
          at[0] = at[1] = c;
          at[4] = -sn;
          at[5] = sn;
        });
      } else {  // {c, c, -s, s}
        double* row = tw + 4 * (j - 1);
        walk_row(roots, step, mm, [&](int64_t k, double c, double sn) {
          double* at = row + k * 4 * per;
          at[0] = at[1] = c;
          at[2] = -sn;
          at[3] = sn;
        });
      }
    }
    f.twiddles = tw;
  }

  // Input offset of every leaf block of the deepest group, in elements;
  // the group's first stage is the most significant digit.
  int32_t* offsets = (int32_t*)tqs_mm_allocate((uint64_t)lf.blocks * sizeof(int32_t) + 4, 64);
  if (offsets == nullptr) return PLAN_NO_MEMORY;
  offsets[0] = 0;
  int64_t have = 1;
  for (int i = group; i < stages - 1; ++i) {
    const FactorRecord& f = p->factors[i];
    for (int64_t b = have - 1; b >= 0; --b) {
      for (int64_t j = f.radix - 1; j >= 0; --j) {
        offsets[b * f.radix + j] = (int32_t)(offsets[b] + j * (int64_t)f.s);
      }
    }
    have *= f.radix;
  }
  p->scratch = offsets;
  return PLAN_OK;
}

namespace {

// A few short lengths leave a lane idle in the plan (100: five 20-point
// blocks, two pairs and one alone, then a radix-5 pass) or read twiddle
// tables a straight-line transform does without: at the AVX levels a
// generated p x q transform keeps both lanes busy throughout (see whole.h
// for the lengths and what each gained).
template <bool F>
void run(const PlanRecord* plan, const double* in, double* out) {
#if TQS_LEVEL >= 4
  switch (plan->core_length) {
#define TQS_WHOLE_CASE(n_)                                             \
  case n_:                                                             \
    F ? whole##n_##_forward(in, out) : whole##n_##_backward(in, out); \
    return;
    TQS_WHOLE_LENGTHS(TQS_WHOLE_CASE)
#undef TQS_WHOLE_CASE
    default:
      break;
  }
#endif
  run_stage<F>(plan, 0, in, out);
}

}  // namespace

bool mixed_radix_whole(int64_t len) {
#if TQS_LEVEL >= 4
  switch (len) {
#define TQS_WHOLE_CASE(n_) case n_:
    TQS_WHOLE_LENGTHS(TQS_WHOLE_CASE)
#undef TQS_WHOLE_CASE
    return true;
    default:
      return false;
  }
#else
  (void)len;
  return false;
#endif
}

void mixed_radix_forward(const PlanRecord* plan, const double* in, double* out) {
  run<true>(plan, in, out);
}

void mixed_radix_backward(const PlanRecord* plan, const double* in, double* out) {
  run<false>(plan, in, out);
}

TQS_LEVEL_END
