// Power-of-two plans: creation and execution.
//
// Decimation in time, depth first. A 2^L-point transform is split into R
// sub-transforms of the input decimated by R (R = 4 or 8), each computed
// recursively, then closed by one radix-R pass with twiddles. The recursion
// ends in straight-line leaves of up to 16 points (64 for some lengths at
// the AVX levels, see radix_bits; there the 16- and 64-point ones are
// generated) that read the input with a stride and write contiguously.
// Depth first, every sub-transform is finished while it is still in cache,
// which makes the same scheme serve in-cache and out-of-cache lengths.
//
// The top-level sub-transforms write into the work area and the closing pass
// writes the output, so input and output may coincide. On the AVX levels the
// top-level sub-transforms are computed two at a time, one per 128-bit lane
// (sub-transforms j and j+1 read neighbouring input elements, so every load
// is a full 256-bit load); the closing pass transposes lane pairs back into
// columns.
#include "kernels/pow2_plan.h"

#include <math.h>
#include <string.h>

#include "kernels/codelets.h"
#include "kernels/generated/pow2_leaves.h"
#include "kernels/pow2_kernels.h"
#include "kernels/real_split.h"
#include "kernels/roots.h"
#include "service/tqs_service.h"

TQS_LEVEL_BEGIN

extern const double pow2_sine1024[257];

namespace {

using namespace p2;

// w_n^k = (cos(2 pi k/n), -sin(2 pi k/n)) from the quarter-wave table
// sign * qs[j * qstride] = sin(2 pi j/n), j = 0..n/4 (a real plan reads the
// negated sines of its split table).
struct Roots {
  const double* qs;
  int64_t qstride;
  int64_t n;
  double sign = 1.0;
  void get(int64_t k, double* w) const {
    k &= n - 1;
    if (n < 4) {
      w[0] = k == 0 ? 1.0 : -1.0;
      w[1] = 0.0;
      return;
    }
    // n is a power of two: the quadrant by a shift (a division here cost
    // more than the rest of the lookup).
    const int qbits = __builtin_ctzll(uint64_t(n)) - 2;
    const int64_t q4 = n >> 2;
    const int64_t quad = k >> qbits, r = k & (q4 - 1);
    quadrant_root(quad, sign * qs[r * qstride], sign * qs[(q4 - r) * qstride], w);
  }
};

// The same roots straight from a generator, for the few a split top pass
// needs beyond the lengths the lookup table covers.
struct GeneratedRoots {
  const RootGenerator* g;
  int64_t n;
  void get(int64_t k, double* w) const { g->root(k, w); }
};

// w_n^k, k = 0..n/4 (n = 2^L, L >= 3): each octant root also gives its
// mirror on pi/4, w^(n/4 - k) = (sin, -cos) of the angle of w^k.
void fill_quarter_roots(double* w, const RootGenerator& g) {
  const int64_t n = g.length(), q4 = n / 4, q8 = n / 8;
  for (int64_t k = 0; k <= q8; ++k) {
    double c, s;
    g.octant(4 * k, &c, &s);
    w[2 * k] = c;
    w[2 * k + 1] = -s;
    if (k < q8) {
      w[2 * (q4 - k)] = s;
      w[2 * (q4 - k) + 1] = -c;
    }
  }
}

// qs[j] = sin(2 pi j/n), j = 0..n/4, in the same way.
void fill_quarter_sine(double* qs, const RootGenerator& g) {
  const int64_t n = g.length(), q4 = n / 4, q8 = n / 8;
  for (int64_t j = 0; j <= q8; ++j) {
    double c, s;
    g.octant(4 * j, &c, &s);
    qs[j] = s;
    if (j < q8) qs[q4 - j] = c;
  }
}

// Up to 64 points the straight-line kernels do the whole transform.
constexpr int CODELET_LOG2 = 6;
// From 2^14 points on, a radix pass forms its twiddles as the product of
// two tables of about the square root of its length (measured at the AVX
// levels: as fast at 2^14, 8-9 % faster at 2^15 to 2^17; and the plan no
// longer writes a table as large as the data). Without the fused and
// alternating multiply-adds the extra product costs more (level 0: 4-10 %
// slower from 2^14 to 2^20), and the tables split from 2^18 on only.
#if TQS_AVX
constexpr int SPLIT_TWIDDLE_LOG2 = 14;
#else
constexpr int SPLIT_TWIDDLE_LOG2 = 18;
#endif
// From 2^13 points on, the input of a transform in a batch, or of a long
// one, is not in the second-level cache, and the leaves, which read it in a
// scattered order no hardware prefetcher follows, fetch their neighbour's
// lines ahead into that cache (measured at level 5: complex 65536 3-6 %
// faster on data in cache, 2^19 35 %, 2^22 13 %, real 2^20 20-30 %;
// batches of 8192 to 65536 points 7-20 %, level 0 22 % at 64 x 16384; on
// data in cache from 2^13 to 2^15 it neither gained nor lost, and batches
// of 4096 gained nothing). Fetched into the first-level cache instead, the
// lines evict the leaves' own and 2^16 to 2^22 lose 5-20 %.
constexpr int PREFETCH_LOG2 = 13;
// From 2^20 real points on at the AVX levels, the split step forms its roots
// from two tables, blocks of 2^REAL_SPLIT_BITS (see RealSplitRoots): the
// fused forward closing no longer streams a table of half the data's size
// (level 5: 2^20 7-11 % faster, 2^21 and 2^22 5-6 %, from cold caches 6-7 %;
// backward, a separate sweep, within 2 % either way). At 2^18 and 2^19 the
// table still sits in the caches and forming the roots cost 2-4 %; without
// the fused closing (level 0) nothing was gained (2^22 forward 5 % lost).
#if TQS_AVX
constexpr int REAL_SPLIT_TWO_LEVEL_LOG2 = 20;
#else
constexpr int REAL_SPLIT_TWO_LEVEL_LOG2 = POW2_MAX_LOG2 + 1;
#endif
constexpr int REAL_SPLIT_BITS = 9;
static_assert(REAL_SPLIT_BITS <= REAL_SPLIT_MAX_BITS);

int64_t align_up(int64_t v, int64_t a) { return (v + a - 1) & ~(a - 1); }

// Whether the chains of the middle lengths (see radix_bits) end in 64-point
// leaves (AVX levels) or 16-point ones (below) rather than 8-point ones.
// They win on the Intel development machine; the 8-point
// chains were chosen over them (level 5, 2^14: 18 % faster than 4 x 8 x 8
// x 64, when the 64-point leaf spilled twice as many values; level 0 17-22 %
// faster than radix-8 passes over 16-point leaves), and the AMD machine was
// tuned on the 8-point chains since. The Intel machine reports a
// first-level data cache of 48 KB a core; the AMD one (32 KB) answers the
// cache query with nothing. A proxy that tells them apart, not a cause:
// both caches hold the lines of an 8-point leaf, neither those of a
// 64-point one.
bool wide_leaves() { return tqs_cache_size(1) >= 48 * 1024; }

// Radix bits of the pass that closes a 2^L-point sub-transform of a
// 2^cl-point transform; 0 = leaf.
// Leaves of 16 points (8 for 2^5), radix-8 passes, and one or two radix-4
// passes at the top where the bits do not divide by three; at 2^18 a radix-8
// top (eight sub-transforms side by side) measured clearly faster than 4,
// and so it does at 2^20 and 2^21, whose sub-transforms then stay within or
// near the second-level cache (level 5: complex 2^20 13 % and 2^21 17 %
// faster, real 2^22 15-20 %; level 0: 3-14 %). At 2^17 it gained nothing
// over 16-point leaves (over 8-point ones it does, see radix_bits), at
// 2^23 (8 x 2^20) it lost 3 %, and a radix-16 top at 2^20 gained only 2-5 %.
//
// At the AVX levels the chains from 2^8, 2^9, 2^11 and 2^12 end in
// generated 64-point leaves instead (two lanes, 64 values: fewer twiddle
// products and one sweep less where the bits allow), with radix-8 passes
// and a radix-4 top. Measured at level 5 against the 16-point chains:
// 256 and 512 points 9 % faster, 4096 7 %, 2048 2 %. A radix-4
// pass inside the recursion (8192, 65536) or a 64-point leaf read a
// megabyte and more apart (2^20: 64 pages per leaf) lost, so the lengths
// from 2^18 up keep the 16-point leaves. 2^10 on its own is 64-point leaves
// under one radix-16 pass, two sweeps instead of three (interleaved runs,
// level 5: 3-4 % faster than 8 x 8 x 16, in place 1-3 %, real 2048 2-5 %;
// 4 x 4 x 64 1 % slower than 16 x 64); as the inner transform of a longer
// chain it stays 8 x 8 x 16.
//
// wide: see wide_leaves.
int radix_bits(int cl, int L, bool wide) {
#if TQS_AVX
  // On the Intel development machine (see below) 2^8 runs as 8 x 32:
  // generated 32-point leaves under the radix-8 top, the shape a fresh
  // FFTW plan took there. Level 5, interleaved runs against 4 x 64, idle machine / with a
  // process streaming through memory on the other core: complex 256 even
  // to 8 % / 9-12 % faster, real 512 even to 8 % / 7 % (batches of 1000,
  // with the output prefetch of pass_top2: even to 3 % slower). 2^11 as
  // 32 x 64 (a generated radix-32 top) gained 3-8 % on one transform but
  // lost 5-25 % in batches of 100 (complex 2048, real 4096), whose output
  // is not in cache when the top writes its 32 rows; 64 x 64 for 2^12 and
  // 32 x 32 for 2^10 lost 7-15 %.
  if (wide && cl == 8) return L == 8 ? 3 : 0;
#endif
  if (L <= 4) return 0;
  if (L == 5) return 2;
  // On the Intel development machine (48 KB first-level cache a core, 2 MB
  // second-level) other chains beat the ones below from 2^12 or 2^13 to
  // 2^15 or 2^16 (interleaved runs of one process, medians of paired
  // ratios).
  // Level 5, 64-point leaves: 2^13 as 4 x 8 x 4 x 64 complex 8-19 %
  // faster, real 16384 7 % forward, 8-14 % backward; 2^14 as 8 x 8 x 4 x 64
  // complex 7-11 %, real 32768 6-7 %; 2^15 as 8 x 8 x 8 x 64 complex 5-8 %;
  // 2^16 as 8 x 8 x 4 x 4 x 64 2-6 %; the chirp-z transforms of 4099, 5003
  // and 10007 points 7-14 % (4 x 8 x 8 x 64 for 2^14 came within 2 % of
  // 8 x 8 x 4 x 64; 8 x 4 x 4 x 64 and 8 x 16 x 64 for 2^13 5-10 % behind
  // 4 x 8 x 4 x 64; 2^17 as 8 x 4 x 8 x 8 x 64 or 8 x 8 x 8 x 4 x 64
  // within 2 % of the chain below, real 262144 either way). Level 0,
  // 16-point leaves under a radix-8 top: 2^12 as 8 x 4 x 8 x 16 complex
  // 6-12 %, real 8192 10 %; 2^13 as 8 x 8 x 8 x 16 4 %, real 16384
  // backward 2-5 %; 2^14 as 8 x 8 x 16 x 16 7-11 %, real 32768 7 %; 2^15 as
  // 8 x 8 x 8 x 4 x 16 7 %, real 65536 4-6 %; at 2^16 8^4 x 16 gained
  // 0-3 %, and the chains below are kept.
#if TQS_AVX
  constexpr int FIRST_WIDE = 13;
  constexpr int8_t WIDE_CHAINS[4][4] = {{2, 3, 2}, {3, 3, 2}, {3, 3, 3}, {3, 3, 2, 2}};
#else
  constexpr int FIRST_WIDE = 12;
  constexpr int8_t WIDE_CHAINS[4][4] = {{3, 2, 3}, {3, 3, 3}, {3, 3, 4}, {3, 3, 3, 2}};
#endif
  constexpr int LAST_WIDE = FIRST_WIDE + int(sizeof WIDE_CHAINS / sizeof WIDE_CHAINS[0]) - 1;
  if (wide && cl >= FIRST_WIDE && cl <= LAST_WIDE) {
    int top = cl;
    for (int rb : WIDE_CHAINS[cl - FIRST_WIDE]) {
      if (rb == 0 || L > top) break;
      if (L == top) return rb;
      top -= rb;
    }
    return 0;  // the leaf
  }
  // Up to 2^16 points the transform stays in the second-level cache, but its
  // leaves read points 8 KB and more apart: all of them fall in one set of
  // the first-level cache, and a leaf of 16 or 64 points evicts its own lines
  // before the lanes beside it come for the rest of them. Leaves of 8 points
  // keep their lines (level 5, against the rule below: 8192 14 % faster,
  // 16384 18 %, 32768 16 %, 65536 12 %, with a radix-4 pass in place of the
  // radix-8 one closing 2^13, which gained most; 2^17 on gained nothing
  // then, but see below).
  // A chirp-z transform that computes half of a 2^14-point one (4099 points)
  // lost 6-11 %, those of 5003 to 16411 points gained 7-14 %.
  // On the AMD development machine a radix-8 top over these chains beat the
  // radix-4 one that an Intel Xeon had preferred (interleaved runs, level 5:
  // 8 x 4 x 4 x 8 x 8 for 2^13 5-10 % faster than 4 x 4 x 8 x 8 x 8, real
  // 16384 forward and backward alike; 8 x 4 x 8 x 8 x 8 for 2^14 5-8 %
  // faster than 4 x 8 x 8 x 8 x 8; 8^5 for 2^15, inside the real 65536,
  // 10-15 % forward, 4-9 % backward; 8 x 4 x 8 x 8 x 8 x 8 for 2^17, inside
  // the real 262144, 7-13 % forward, 4-13 % backward, and complex 2^17 8 %,
  // where the rule below gives 4 x 4 x 8 x 8 x 8 x 16). At 2^16 nothing
  // beat 8 x 4 x 4 x 8 x 8 x 8 (a radix-16 top 10 % slower, a radix-4 top
  // 16 %); at 2^18 8^6 and 8 x 4 x 4 x 4 x 8 x 8 x 8 gained 1-5 %: kept.
  // Without AVX, 8-point leaves under a radix-16 pass replace a radix-8 pass
  // over 16-point leaves (level 0: 4096 17 % faster, 8192 22 %, 16384 20 %,
  // 65536 3-10 %).
#if TQS_AVX
  if (cl >= 13 && cl <= 17) {
    if (L == cl || L == 6) return 3;
    if (L == 14 || L == 13 || L == 10) return 2;
  }
#else
  if (cl >= 12 && cl <= 16 && L == 7) return 4;
#endif
  if (L == 18 || L == 20 || L == 21) return 3;
#if TQS_AVX
  if (L == 6) return 0;
  if (cl == 10 && L == 10) return 4;
  if (L >= 8 && L <= 12) return L % 3 == 2 ? 2 : 3;
#endif
  // Without AVX, 2^8 and 2^11 are only ever tops: closing them with one
  // radix-16 pass (16 x 16, 16 x 8 x 16) saves a sweep (2^8: 7 % faster
  // than 8 x 4 x 8). Inside the recursion a radix-16 pass runs out of
  // registers on two lanes and loses, and so does a radix-16 top at 2^9 and
  // 2^10 (9 %).
  if (L == 8 || L == 11) return 4;
  return (L - 4) % 3 == 0 ? 3 : 2;
}

// Whether the AVX closing pass of a 2^L-point transform keeps its twiddles
// as groups (twice the table, no twiddle shuffles). Measured: a gain up to
// 2^9 and with the radix-16 top, where the shuffles crowd the butterfly;
// from 2^10 on with the radix-8 top, the larger table costs more in cache
// traffic than the shuffles it saves.
bool group_top(int L, int rb) {
#if TQS_AVX
  return L <= 9 || rb == 4;
#else
  (void)L;
  (void)rb;
  return false;
#endif
}

// Twiddle table of a radix pass closing a 2^L-point transform: for each
// column k, the R-1 roots w^(j*k), j = 1..R-1 (columns k*kmul, k < count).
template <class Source>
void fill_pass(double* t, int L, int rb, const Source& roots, int64_t count = -1,
               int64_t kmul = 1) {
  int64_t R = int64_t(1) << rb, m = int64_t(1) << (L - rb);
  int64_t step = roots.n >> L;
  if (count < 0) count = m;
  for (int64_t k = 0; k < count; ++k)
    for (int64_t j = 1; j < R; ++j, t += 2) roots.get(j * k * kmul * step, t);
}

// At the one-lane levels a pass multiplies by its twiddles without
// shuffles when they are stored as groups {c, c, -s, s} (see cmul_group):
// the broadcasts of the plain layout cost two instructions a part there,
// which repays the table of twice the size (measured at levels 0 to 3:
// complex 256 to 2^14 12-20 % faster, 2^16 to 2^20 3-7 %).
#if TQS_AVX
constexpr bool PASS_GROUPS = false;
#else
constexpr bool PASS_GROUPS = true;
#endif

// The table of an unsplit pass, as groups at the one-lane levels.
template <class Source>
void fill_pass_table(double* t, int L, int rb, const Source& roots) {
  if (!PASS_GROUPS) {
    fill_pass(t, L, rb, roots);
    return;
  }
  const int64_t R = int64_t(1) << rb, m = int64_t(1) << (L - rb);
  const int64_t step = roots.n >> L;
  for (int64_t k = 0; k < m; ++k)
    for (int64_t j = 1; j < R; ++j, t += 4) {
      double w[2];
      roots.get(j * k * step, w);
      t[0] = t[1] = w[0];
      t[2] = -w[1];
      t[3] = w[1];
    }
}

#if TQS_AVX
// The same roots for two neighbouring columns side by side (first count
// columns).
template <class Source>
void fill_pass_pairs(double* t, int L, int rb, const Source& roots, int64_t count = -1) {
  int64_t R = int64_t(1) << rb, m = int64_t(1) << (L - rb);
  int64_t step = roots.n >> L;
  if (count < 0) count = m;
  for (int64_t k = 0; k < count; k += 2)
    for (int64_t j = 1; j < R; ++j, t += 4) {
      roots.get(j * k * step, t);
      roots.get(j * (k + 1) * step, t + 2);
    }
}

// The same roots as twiddle groups for two neighbouring columns: cosines
// duplicated per lane, then the sines with the signs a group product needs
// (see cmul_group), so the closing pass multiplies without shuffling the
// twiddles. Twice the size of the plain table.
template <class Source>
void fill_pass_groups(double* t, int L, int rb, const Source& roots) {
  int64_t R = int64_t(1) << rb, m = int64_t(1) << (L - rb);
  int64_t step = roots.n >> L;
  for (int64_t k = 0; k < m; k += 2)
    for (int64_t j = 1; j < R; ++j, t += 8) {
      double w0[2], w1[2];
      roots.get(j * k * step, w0);
      roots.get(j * (k + 1) * step, w1);
      t[0] = t[1] = w0[0];
      t[2] = t[3] = w1[0];
      t[4] = -w0[1];
      t[5] = w0[1];
      t[6] = -w1[1];
      t[7] = w1[1];
    }
}
#endif

#if TQS_AVX
// Whether the AVX closing pass reads its side-by-side table with loads that
// duplicate each part, two shuffles fewer per product. Each second such
// load straddles two cache lines, which pays only while the table stays in
// the first-level cache (measured: 2^10 3-5 % faster; 2^12 and 2^13, whose
// tables are 48 and 112 KB, 2-4 % slower).
bool dup_top(int L, int rb) { return !group_top(L, rb) && L <= 10; }
#endif

int64_t pass_table_doubles(int L, int rb) {
  return 2 * ((int64_t(1) << L) - (int64_t(1) << (L - rb)));
}

// The two tables of a split pass (2^L points, L >= SPLIT_TWIDDLE_LOG2): the
// fine one covers the first 2^split_lo_bits(L) columns, the coarse one has
// an entry per block of that many.
int split_lo_bits(int L, int rb) { return (L - rb + 1) / 2; }
int64_t split_table_doubles(int L, int rb, bool coarse) {
  const int lo = split_lo_bits(L, rb);
  return 2 * ((int64_t(1) << rb) - 1) * (int64_t(1) << (coarse ? L - rb - lo : lo));
}

int create(Pow2Plan** out, int log2n, int mode, int hint, bool real) {
  if (out == nullptr) return PLAN_NULL_POINTER;
  *out = nullptr;
  if (log2n < 0 || log2n > POW2_MAX_LOG2) return PLAN_BAD_EXPONENT;
  if (mode != SCALE_FORWARD && mode != SCALE_BACKWARD && mode != SCALE_BOTH_SQRT &&
      mode != SCALE_NONE)
    return PLAN_BAD_MODE;
  const int64_t n = int64_t(1) << log2n;
  const int cl = real ? log2n - 1 : log2n;
  const bool wide = wide_leaves();
  auto bits = [cl, wide](int L) { return radix_bits(cl, L, wide); };
  const int top_rb = bits(cl);

  // Sizes, in doubles, of everything behind the record.
  const int64_t head = align_up(sizeof(Pow2Plan), 64) / 8;
  int64_t tw_size = 0;
  int64_t pass_off[POW2_MAX_LOG2 + 1];
  int64_t top_off = -1, split_off = -1;
  int64_t pass_hi_off[POW2_MAX_LOG2 + 1];
  for (int i = 0; i <= POW2_MAX_LOG2; ++i) pass_off[i] = pass_hi_off[i] = -1;
  const bool split_top = cl >= SPLIT_TWIDDLE_LOG2;
  int64_t top_hi_off = -1;
  if (cl > CODELET_LOG2) {
    top_off = tw_size;
    if (split_top) {
      tw_size += split_table_doubles(cl, top_rb, false);
      top_hi_off = tw_size;
      tw_size += split_table_doubles(cl, top_rb, true);
    } else {
      // A spare pair behind it: a TW_DUP closing pass loads one double past
      // its last twiddle pair.
      tw_size +=
          pass_table_doubles(cl, top_rb) * (group_top(cl, top_rb) || PASS_GROUPS ? 2 : 1) + 2;
    }
    for (int L = cl - top_rb; bits(L) > 0; L -= bits(L)) {
      pass_off[L] = tw_size;
      if (L >= SPLIT_TWIDDLE_LOG2) {
        tw_size += split_table_doubles(L, bits(L), false);
        pass_hi_off[L] = tw_size;
        tw_size += split_table_doubles(L, bits(L), true);
      } else {
        tw_size += pass_table_doubles(L, bits(L)) * (PASS_GROUPS ? 2 : 1);
      }
    }
  }
  const bool split_two_level = real && log2n >= REAL_SPLIT_TWO_LEVEL_LOG2;
  int64_t split_hi_off = -1;
  if (split_two_level) {
    split_off = tw_size;
    tw_size += real_split_fine_doubles(REAL_SPLIT_BITS);
    split_hi_off = tw_size;
    tw_size += real_split_coarse_doubles(n, REAL_SPLIT_BITS);
  } else if (real && n >= 4) {
    split_off = tw_size;
    tw_size += 2 * (n / 4 + 1);
  }
  const int64_t total = (head + tw_size) * 8;
  char* mem = static_cast<char*>(tqs_mm_allocate(uint64_t(total) + PLAN_GUARD_BYTES, 64));
  if (mem == nullptr) return PLAN_NO_MEMORY;
  memset(mem, 0, sizeof(Pow2Plan));
  Pow2Plan* p = reinterpret_cast<Pow2Plan*>(mem);
  double* base = reinterpret_cast<double*>(mem);
  p->tag = real ? TAG_POW2_REAL : TAG_POW2_COMPLEX;
  p->log2n = log2n;
  p->complex_log2 = cl;
  p->hint = hint;
  if (mode == SCALE_FORWARD || mode == SCALE_BOTH_SQRT) p->forward_scaled = 1;
  if (mode == SCALE_BACKWARD || mode == SCALE_BOTH_SQRT) p->backward_scaled = 1;
  p->scale = mode == SCALE_BOTH_SQRT ? 1.0 / sqrt(double(n)) : 1.0 / double(n);
  if (mode == SCALE_NONE) p->scale = 1.0;
  p->work_size = cl > CODELET_LOG2 ? (int64_t(16) << cl) + 32 : 0;
  for (int L = 0; L <= POW2_MAX_LOG2; ++L) p->bits[L] = int8_t(bits(L));
  p->prefetch = cl >= PREFETCH_LOG2 ? 1 : 0;

  double* tw = base + head;
  p->twiddles = tw;
  // The lookup tables read the roots of one length: the n-th of a real plan
  // (its split table holds them), else those of the complex transform, or
  // with split passes only those of the largest unsplit pass, the few the
  // split ones need coming straight from a generator. Up to 1024 points a
  // static table serves; above it a quarter-wave table is formed from an
  // eighth of the roots.
  // A real plan whose split table is in two levels reads the roots as a
  // complex one does.
  const int q_log2 = real && !split_two_level ? log2n : split_top ? SPLIT_TWIDDLE_LOG2 - 1 : cl;
  const bool all_roots = q_log2 >= cl;
  const int64_t nq = int64_t(1) << q_log2;
  Roots roots{pow2_sine1024, 1, nq};
  if (q_log2 >= 2 && q_log2 <= 10) roots.qstride = 1024 >> q_log2;
  double* quarter = nullptr;
  if (q_log2 > 10) {
    const RootGenerator g(nq);
    if (real && !split_two_level) {
      double* s = tw + split_off;
      fill_quarter_roots(s, g);
      roots = Roots{s + 1, 2, nq, -1.0};
    } else {
      quarter = static_cast<double*>(tqs_mm_allocate(uint64_t(nq / 4 + 1) * 8, 64));
      if (quarter == nullptr) {
        tqs_mm_free(mem);
        return PLAN_NO_MEMORY;
      }
      fill_quarter_sine(quarter, g);
      roots.qs = quarter;
    }
  }
  // The roots of a 2^L-point pass are every (n/2^L)-th n-point root, so one
  // table serves the complex transform of n/2 points inside a real plan.
  // Only the split passes of a complex plan read it (a token length else).
  const RootGenerator gen(all_roots ? 4 : int64_t(1) << cl);
  // The two tables of a split pass; the fine one of the AVX closing pass
  // holds its columns in pairs.
  auto fill_split = [&](int L, double* fine, double* coarse, bool pairs) {
    const int rb = bits(L), lo_bits = split_lo_bits(L, rb);
    const int64_t lo = int64_t(1) << lo_bits;
    const int64_t hi = (int64_t(1) << (L - rb)) >> lo_bits;
    auto from = [&](const auto& source) {
#if TQS_AVX
      if (pairs)
        fill_pass_pairs(fine, L, rb, source, lo);
      else
        fill_pass(fine, L, rb, source, lo);
#else
      (void)pairs;
      fill_pass(fine, L, rb, source, lo);
#endif
      fill_pass(coarse, L, rb, source, hi, lo);
    };
    if (all_roots)
      from(roots);
    else
      from(GeneratedRoots{&gen, gen.length()});
  };
  for (int L = 0; L <= POW2_MAX_LOG2; ++L) {
    if (pass_off[L] < 0) continue;
    p->pass_tw[L] = tw + pass_off[L];
    if (pass_hi_off[L] < 0) {
      fill_pass_table(tw + pass_off[L], L, bits(L), roots);
      continue;
    }
    fill_split(L, tw + pass_off[L], tw + pass_hi_off[L], false);
    p->pass_hi[L] = tw + pass_hi_off[L];
    p->pass_lo_bits[L] = int8_t(split_lo_bits(L, bits(L)));
  }
  if (top_off >= 0) {
    p->top_tw = tw + top_off;
    if (split_top) {
      fill_split(cl, tw + top_off, tw + top_hi_off, true);
      p->top_hi = tw + top_hi_off;
      p->top_lo_bits = split_lo_bits(cl, top_rb);
    } else {
#if TQS_AVX
      if (group_top(cl, top_rb))
        fill_pass_groups(tw + top_off, cl, top_rb, roots);
      else
        fill_pass_pairs(tw + top_off, cl, top_rb, roots);
      p->top_groups = group_top(cl, top_rb) ? 1 : 0;
#else
      fill_pass_table(tw + top_off, cl, top_rb, roots);
#endif
    }
  }
  if (split_two_level) {
    real_split_two_level_table(tw + split_off, tw + split_hi_off, n, REAL_SPLIT_BITS);
    p->split_tw = tw + split_off;
    p->split_hi = tw + split_hi_off;
    p->split_lo_bits = REAL_SPLIT_BITS;
  } else if (split_off >= 0) {
    double* s = tw + split_off;
    if (q_log2 <= 10)
      for (int64_t k = 0; k <= n / 4; ++k) roots.get(k, s + 2 * k);
    p->split_tw = s;
  }
  tqs_mm_free(quarter);
  *out = p;
  return PLAN_OK;
}

// An unsplit pass in the layout of its table.
template <bool INV, class V, int R, ptrdiff_t MC = 0>
void pass_plain(const double* src, double* dst, ptrdiff_t m, const double* tw, ptrdiff_t c0,
                ptrdiff_t c1, const char* ahead = nullptr) {
  pass<INV, V, R, PASS_GROUPS, MC>(src, dst, m, tw, c0, c1, ahead);
}

// A pass's tables: one of roots (tw), or a fine one (tw) and a coarse one
// (th, entries 2^b columns apart), see pass_split.
struct PassTables {
  const double* tw;
  const double* th;
  int b;
};

// The column counts the chains of radix_bits give the passes (see
// with_columns), by twiddle layout: the AVX top's groups up to 2^9 points
// and with the radix-16 top (m <= 128), its duplicating loads at 2^10
// (m = 64 to 256), its plain table from 2^11 to 2^13 (128 to 2048), the
// split tables from there (the passes inside the recursion take any of
// the first and the last kind). Beyond 32768 columns (2^18 points) the
// passes are bound by memory, not by their addressing: the split passes'
// constants gained 2-3 % at 2^14 to 2^16 points, about 1 % at 2^17 and
// 2^18. Without AVX the one-lane passes gained nothing from a constant m
// (level 0: complex 256 2 % faster, 4096 and real 1024 1-2 % slower) and
// keep one copy, and so does the rare radix 2.
#if TQS_AVX
#define TQS_POW2_COLUMNS 8, 16, 32, 64, 128, 256, 512, 1024, 2048
#define TQS_POW2_GROUP_COLUMNS 16, 32, 64, 128
#define TQS_POW2_DUP_COLUMNS 64, 128, 256
#define TQS_POW2_PLAIN_COLUMNS 128, 256, 512, 1024, 2048
#define TQS_POW2_SPLIT_COLUMNS 2048, 4096, 8192, 16384, 32768
#else
#define TQS_POW2_COLUMNS
#define TQS_POW2_SPLIT_COLUMNS
#endif

// One radix-R pass, src -> dst, over np blocks ps doubles apart. Without
// AVX it is one copy and inlined where it is used (as a function of its
// own: level 0 complex 4096 and real 1024 1-2 % slower); with AVX, inlined,
// its nine copies made the callers too large for the compiler to inline
// the passes themselves (complex 8192 to 32768 10-13 % slower).
#if TQS_AVX
#define TQS_PASS_BLOCKS_INLINE
#else
#define TQS_PASS_BLOCKS_INLINE [[gnu::always_inline]] inline
#endif
template <bool INV, class V, int R>
TQS_PASS_BLOCKS_INLINE void pass_blocks(const double* src, double* dst, ptrdiff_t m,
                                        const PassTables& t, int np, ptrdiff_t ps, ptrdiff_t c0,
                                        ptrdiff_t c1, const char* ahead) {
  // At the AVX levels this serves the passes inside the recursion, where
  // only radix 4 and 8 occur (see radix_bits).
  if constexpr (R == 2 || R == 16) {
    for (int p = 0; p < np; ++p)
      t.th ? pass_split<INV, V, R>(src + p * ps, dst + p * ps, m, t.tw, t.th, t.b, c0, c1, ahead)
           : pass_plain<INV, V, R>(src + p * ps, dst + p * ps, m, t.tw, c0, c1, ahead);
  } else if (t.th != nullptr) {
    with_columns<TQS_POW2_SPLIT_COLUMNS>(m, [&]<ptrdiff_t MC>() {
      for (int p = 0; p < np; ++p)
        pass_split<INV, V, R, MC>(src + p * ps, dst + p * ps, m, t.tw, t.th, t.b, c0, c1, ahead);
    });
  } else {
    with_columns<TQS_POW2_COLUMNS>(m, [&]<ptrdiff_t MC>() {
      for (int p = 0; p < np; ++p)
        pass_plain<INV, V, R, MC>(src + p * ps, dst + p * ps, m, t.tw, c0, c1, ahead);
    });
  }
}

// The pass closing 2^L-point sub-transforms (np lanes or lane pairs, blocks
// ps doubles apart), over its columns c0 <= k < c1.
template <bool INV, class V>
void sub_pass(double* o, int L, const Pow2Plan* pl, int np, ptrdiff_t ps, ptrdiff_t c0,
              ptrdiff_t c1);

// The np top-level sub-transforms (or lane pairs of them) advance together
// through one recursion: sub-transform p reads in + p*D and writes its own
// block at o + p*ps. Together they use every element of each cache line the
// strided leaf loads bring in, which matters once the input is out of cache.
// Without close the pass closing these 2^L-point sub-transforms is left out.
template <bool INV, bool SC, class V>
void rec(const double* in, ptrdiff_t is, double* o, int L, const Pow2Plan* pl, double scale,
         int np, ptrdiff_t ps, bool close = true) {
  constexpr int D = VT<V>::D;
  const int rb = pl->bits[L];
  if (rb == 0) {
    for (int p = 0; p < np; ++p) {
      const double* ip = in + p * D;
      double* op = o + p * ps;
      switch (L) {
        case 0:
          leaf_fixed<INV, SC, V, 0>(ip, is, op, scale);
          break;
        case 1:
          leaf_fixed<INV, SC, V, 1>(ip, is, op, scale);
          break;
        case 2:
          leaf_fixed<INV, SC, V, 2>(ip, is, op, scale);
          break;
        case 3:
          leaf_fixed<INV, SC, V, 3>(ip, is, op, scale);
          break;
#if TQS_AVX
        case 4:
          (INV ? leaf16_backward<SC> : leaf16_forward<SC>)(ip, is, op, scale);
          break;
        case 5:
          (INV ? leaf32_backward<SC> : leaf32_forward<SC>)(ip, is, op, scale);
          break;
        case 6:
          (INV ? leaf64_backward<SC> : leaf64_forward<SC>)(ip, is, op, scale);
          break;
#endif
        default:
          leaf_fixed<INV, SC, V, 4>(ip, is, op, scale);
          break;
      }
    }
    return;
  }
  const ptrdiff_t R = ptrdiff_t(1) << rb, m = ptrdiff_t(1) << (L - rb);
  if (pl->prefetch && pl->bits[L - rb] == 0) {
    // Far apart, the leaf loads miss the caches and the TLB one after the
    // other and no hardware prefetcher follows them: fetch the next leaf's
    // lines (np * D doubles at each of its points) into the second-level
    // cache while this one computes.
    const int nl = 1 << (L - rb);
    const ptrdiff_t cis = is * R;
    for (ptrdiff_t j = 0; j < R; ++j) {
      if (j + 1 < R)
        for (int u = 0; u < nl; ++u)
          for (int d = 0; d < np * D; d += 8)
            __builtin_prefetch(in + (j + 1) * is + u * cis + d, 0, 2);
      rec<INV, SC, V>(in + j * is, cis, o + j * m * D, L - rb, pl, scale, np, ps);
    }
  } else {
    for (ptrdiff_t j = 0; j < R; ++j)
      rec<INV, SC, V>(in + j * is, is * R, o + j * m * D, L - rb, pl, scale, np, ps);
  }
  if (close) sub_pass<INV, V>(o, L, pl, np, ps, 0, ptrdiff_t(1) << (L - rb));
}

template <bool INV, class V>
void sub_pass(double* o, int L, const Pow2Plan* pl, int np, ptrdiff_t ps, ptrdiff_t c0,
              ptrdiff_t c1) {
  const int rb = pl->bits[L];
  const ptrdiff_t m = ptrdiff_t(1) << (L - rb);
  const PassTables t{pl->pass_tw[L], pl->pass_hi[L], pl->pass_lo_bits[L]};
  switch (rb) {
    case 1:
      pass_blocks<INV, V, 2>(o, o, m, t, np, ps, c0, c1, nullptr);
      break;
    case 2:
      pass_blocks<INV, V, 4>(o, o, m, t, np, ps, c0, c1, nullptr);
      break;
    case 3:
      pass_blocks<INV, V, 8>(o, o, m, t, np, ps, c0, c1, nullptr);
      break;
    default:
      pass_blocks<INV, V, 16>(o, o, m, t, np, ps, c0, c1, nullptr);
      break;
  }
}

#if TQS_AVX
// The two-lane closing pass with its column count made a constant where
// the chains give one (see with_columns).
template <bool INV, int R, int TW>
void top_pass2(const double* src, double* dst, ptrdiff_t m, const double* t, const double* h,
               int b, ptrdiff_t c0, ptrdiff_t c1, const char* ahead) {
  auto run = [&]<ptrdiff_t MC>() {
    pass_top2<INV, R, TW, MC>(src, dst, m, t, h, b, c0, c1, ahead);
  };
  if constexpr (R == 2)
    run.template operator()<0>();
  else if constexpr (TW == TW_GROUPS)
    with_columns<TQS_POW2_GROUP_COLUMNS>(m, run);
  else if constexpr (TW == TW_DUP)
    with_columns<TQS_POW2_DUP_COLUMNS>(m, run);
  else if constexpr (TW == TW_PLAIN)
    with_columns<TQS_POW2_PLAIN_COLUMNS>(m, run);
  else
    with_columns<TQS_POW2_SPLIT_COLUMNS>(m, run);
}
#endif

// TW: the closing pass's twiddle layout (AVX only; the one-lane pass reads it
// from the plan).
// Columns c0 <= k < c1 only.
template <bool INV, int TW>
void top_pass(int rb, const double* src, double* dst, ptrdiff_t m, const Pow2Plan* pl,
              ptrdiff_t c0, ptrdiff_t c1, const char* ahead) {
  const double* t = pl->top_tw;
  const double* h = pl->top_hi;
  const int b = pl->top_lo_bits;
#if TQS_AVX
  switch (rb) {
    case 1:
      top_pass2<INV, 2, TW>(src, dst, m, t, h, b, c0, c1, ahead);
      break;
    case 2:
      top_pass2<INV, 4, TW>(src, dst, m, t, h, b, c0, c1, ahead);
      break;
    case 3:
      top_pass2<INV, 8, TW>(src, dst, m, t, h, b, c0, c1, ahead);
      break;
    default:
      top_pass2<INV, 16, TW>(src, dst, m, t, h, b, c0, c1, ahead);
      break;
  }
#else
  // h is null unless the table is split.
  const PassTables tables{t, h, b};
  switch (rb) {
    case 1:
      pass_blocks<INV, C1, 2>(src, dst, m, tables, 1, 0, c0, c1, ahead);
      break;
    case 2:
      pass_blocks<INV, C1, 4>(src, dst, m, tables, 1, 0, c0, c1, ahead);
      break;
    case 3:
      pass_blocks<INV, C1, 8>(src, dst, m, tables, 1, 0, c0, c1, ahead);
      break;
    default:
      pass_blocks<INV, C1, 16>(src, dst, m, tables, 1, 0, c0, c1, ahead);
      break;
  }
#endif
}

// The lanes of the sub-transforms: r of them go as sub_lanes(r) vectors,
// their blocks of m points sub_stride(m) doubles apart.
#if TQS_AVX
using SubV = C2;
int sub_lanes(ptrdiff_t r) { return int(r / 2); }
ptrdiff_t sub_stride(ptrdiff_t m) { return 4 * m; }
#else
using SubV = C1;
int sub_lanes(ptrdiff_t r) { return int(r); }
ptrdiff_t sub_stride(ptrdiff_t m) { return 2 * m; }
#endif

// The sub-transforms of a 2^L-point transform (L > CODELET_LOG2), in -> work:
// all R of them, or the first r of an (r/R) 2^L-point transform. Without
// close their own closing pass is left for the caller to run in blocks of
// columns through sub_pass (every chain from 2^20 up has a pass below the
// top one, see radix_bits).
template <bool INV, bool SC>
void run_subs(const double* in, double* work, int L, const Pow2Plan* pl, double scale,
              int r = 0, bool close = true) {
  const int rb = pl->bits[L];
  const ptrdiff_t m = ptrdiff_t(1) << (L - rb);
  if (r == 0) r = 1 << rb;
  rec<INV, SC, SubV>(in, 2 * r, work, L - rb, pl, scale, sub_lanes(r), sub_stride(m), close);
}

// Its closing pass, work -> out, over the columns c0 <= k < c1 of 2^L / R
// (even bounds); ahead: see prefetch_ahead.
template <bool INV>
void run_top(const double* work, double* out, int L, const Pow2Plan* pl, ptrdiff_t c0,
             ptrdiff_t c1, const char* ahead = nullptr) {
  const int rb = pl->bits[L];
  const ptrdiff_t m = ptrdiff_t(1) << (L - rb);
#if TQS_AVX
  if (pl->top_hi != nullptr)
    top_pass<INV, TW_SPLIT>(rb, work, out, m, pl, c0, c1, ahead);
  else if (pl->top_groups)
    top_pass<INV, TW_GROUPS>(rb, work, out, m, pl, c0, c1, ahead);
  else if (dup_top(L, rb))
    top_pass<INV, TW_DUP>(rb, work, out, m, pl, c0, c1, ahead);
  else
    top_pass<INV, TW_PLAIN>(rb, work, out, m, pl, c0, c1, ahead);
#else
  // The one-lane pass tells a split table by its coarse half (top_hi).
  top_pass<INV, TW_PLAIN>(rb, work, out, m, pl, c0, c1, ahead);
#endif
}

// From 2^20 points on, the sub-transforms' own closing pass sweeps a work
// area larger than the caches, and the top pass sweeps it again. Run
// together a block of the first pass's columns at a time, each block
// followed by the top pass's columns that read what it wrote, they make one
// sweep instead of two (measured, complex: level 5 2^20 4 %, 2^21 9 %,
// 2^22 5-7 % faster, real backward 2^22 3-5 %; level 0 2^20 7 %, 2^21 4 %,
// 2^22 and real forward unchanged). Below, the work area stays in the
// last-level cache: with blocks of 1024 columns 2^18 lost 8 % and 2^19
// moved by noise only. Blocks of 1024 and 4096 columns did alike (4096
// 1-3 % ahead); 64 lost at 2^20 and 16 everywhere: short runs per row
// starve the prefetchers.
constexpr int CLOSING_BLOCKS_LOG2 = 20;
constexpr ptrdiff_t CLOSING_BLOCK_COLUMNS = 4096;

template <bool INV, bool SC>
void run_closing_blocks(const double* in, double* out, double* work, int L, const Pow2Plan* pl,
                        double scale) {
  constexpr ptrdiff_t cb = CLOSING_BLOCK_COLUMNS;
  const int rb = pl->bits[L], L1 = L - rb, rb1 = pl->bits[L1];
  const ptrdiff_t R = ptrdiff_t(1) << rb, m = ptrdiff_t(1) << L1;
  const ptrdiff_t R1 = ptrdiff_t(1) << rb1, m1 = m >> rb1;
  run_subs<INV, SC>(in, work, L, pl, scale, 0, false);
  for (ptrdiff_t c0 = 0; c0 < m1; c0 += cb) {
    const ptrdiff_t c1 = c0 + cb < m1 ? c0 + cb : m1;
    sub_pass<INV, SubV>(work, L1, pl, sub_lanes(R), sub_stride(m), c0, c1);
    for (ptrdiff_t t = 0; t < R1; ++t) run_top<INV>(work, out, L, pl, c0 + t * m1, c1 + t * m1);
  }
}

// 2^L-point complex transform, in -> out (may alias), work >= 16 * 2^L bytes;
// ahead: see prefetch_ahead.
template <bool INV, bool SC>
void run_complex(const double* in, double* out, double* work, int L, const Pow2Plan* pl,
                 double scale, const char* ahead = nullptr) {
  if (L <= CODELET_LOG2) {
    if constexpr (SC)
      (INV ? codelet_pow2_complex_backward_scaled : codelet_pow2_complex_forward_scaled)[L](in, out,
                                                                                           scale);
    else
      (INV ? codelet_pow2_complex_backward : codelet_pow2_complex_forward)[L](in, out);
    return;
  }
  if (L >= CLOSING_BLOCKS_LOG2) {
    run_closing_blocks<INV, SC>(in, out, work, L, pl, scale);
    return;
  }
  run_subs<INV, SC>(in, work, L, pl, scale);
  run_top<INV>(work, out, L, pl, 0, ptrdiff_t(1) << (L - pl->bits[L]), ahead);
}

// The real plan's split step, with its roots in one table or two.
void split_forward_pairs(double* z, const Pow2Plan* pl, double scale, int64_t k0, int64_t k1,
                         const char* ahead = nullptr) {
  const int64_t n = int64_t(1) << pl->log2n;
  if (pl->split_hi != nullptr)
    real_split_forward_pairs(z, n, RealSplitRoots{pl->split_tw, pl->split_hi, pl->split_lo_bits},
                             scale, k0, k1);
  else
    real_split_forward_pairs(z, n, pl->split_tw, scale, k0, k1, ahead);
}

// From 2^17 complex points (real 2^18) on, the closing pass and the split
// step go together, this many columns from each end at a time (see
// real_forward_closing). Measured at level 5: 3-6 % faster from real 2^18
// to 2^22; below, the spectrum stays in the second-level cache between the
// two steps and the gain is gone. Chunks of 32 columns were slower than
// 512 to 2048: the closing pass's reads need long runs to be prefetched.
// Without AVX the one-lane closing pass gained nothing (level 0: 0 to +3 %).
constexpr int FUSED_LOG2 = 17;
#if TQS_AVX
constexpr bool FUSED_CLOSING = true;
#else
constexpr bool FUSED_CLOSING = false;
#endif
constexpr ptrdiff_t FUSED_COLUMNS = 1024;

// The closing pass of the complex transform inside a real plan, together
// with the split step. Bin i = q*m + k (row q, column k of the pass) pairs
// with h - i = (R-1-q)*m + (m-k) (k >= 1) or (R-q)*m (k = 0), so columns
// taken from both ends towards the middle complete the pairs of the rows
// below R/2 as they go, and the split finds them still in cache instead of
// reading the whole spectrum back from memory.
void real_forward_closing(const double* work, double* out, const Pow2Plan* pl, double scale) {
  const int L = pl->complex_log2, rb = pl->bits[L];
  const ptrdiff_t R = ptrdiff_t(1) << rb, m = ptrdiff_t(1) << (L - rb);
  const int64_t n = int64_t(1) << pl->log2n, h = n / 2;
  for (ptrdiff_t k0 = 0; k0 < m / 2; k0 += FUSED_COLUMNS) {
    const ptrdiff_t k1 = k0 + FUSED_COLUMNS < m / 2 ? k0 + FUSED_COLUMNS : m / 2;
    run_top<false>(work, out, L, pl, k0, k1);
    run_top<false>(work, out, L, pl, m - k1, m - k0);
    // Front columns k0..k1-1 pair with m-k1+1..m-k0 (the last one done
    // before); the back columns up to m-k0 pair with front ones done now,
    // and the middle column m/2 with itself.
    const ptrdiff_t b0 = k1 == m / 2 ? m - k1 : m - k1 + 1;
    const ptrdiff_t b1 = k0 == 0 ? m : m - k0 + 1;
    for (ptrdiff_t q = 0; q < R / 2; ++q) {
      const ptrdiff_t f0 = q == 0 && k0 == 0 ? 1 : k0;
      split_forward_pairs(out, pl, scale, q * m + f0, q * m + k1);
      split_forward_pairs(out, pl, scale, q * m + b0, q * m + b1);
    }
  }
  real_split_forward_zero(out, scale);
  split_forward_pairs(out, pl, scale, h / 2, h / 2 + 1);
}

// The same with the sub-transforms' closing pass run in blocks as in
// run_closing_blocks (run_subs without close before it): a block of that
// pass's columns c (and its mirror m1 - c) at a time, then the top pass's
// columns t*m1 + c of every row group t, then the split step's pairs that
// are complete. Bin i = q*m + t*m1 + c pairs with h - i, whose column is
// (R1-1-t)*m1 + (m1-c) (c >= 1) or (R1-t)*m1 (c = 0): done with the block
// or before it, but for the back block's first column, whose partner comes
// with the next front block. Measured at level 5 against
// real_forward_closing: real 2^22 2-8 % faster (from cold caches 2 %),
// 2^21 level.
void real_forward_closing_blocks(double* work, double* out, const Pow2Plan* pl, double scale) {
  const int L = pl->complex_log2, rb = pl->bits[L], L1 = L - rb, rb1 = pl->bits[L1];
  const ptrdiff_t R = ptrdiff_t(1) << rb, m = ptrdiff_t(1) << L1;
  const ptrdiff_t R1 = ptrdiff_t(1) << rb1, m1 = m >> rb1;
  const int np = sub_lanes(R);
  const ptrdiff_t ps = sub_stride(m);
  const int64_t h = int64_t(1) << L;
  for (ptrdiff_t c0 = 0; c0 < m1 / 2; c0 += FUSED_COLUMNS) {
    const ptrdiff_t c1 = c0 + FUSED_COLUMNS < m1 / 2 ? c0 + FUSED_COLUMNS : m1 / 2;
    sub_pass<false, SubV>(work, L1, pl, np, ps, c0, c1);
    sub_pass<false, SubV>(work, L1, pl, np, ps, m1 - c1, m1 - c0);
    for (ptrdiff_t t = 0; t < R1; ++t) {
      run_top<false>(work, out, L, pl, t * m1 + c0, t * m1 + c1);
      run_top<false>(work, out, L, pl, t * m1 + m1 - c1, t * m1 + m1 - c0);
    }
    const ptrdiff_t b0 = c1 == m1 / 2 ? m1 - c1 : m1 - c1 + 1;
    const ptrdiff_t b1 = c0 == 0 ? m1 : m1 - c0 + 1;
    for (ptrdiff_t q = 0; q < R / 2; ++q)
      for (ptrdiff_t t = 0; t < R1; ++t) {
        const ptrdiff_t base = q * m + t * m1;
        const ptrdiff_t f0 = base == 0 && c0 == 0 ? 1 : c0;
        split_forward_pairs(out, pl, scale, base + f0, base + c1);
        split_forward_pairs(out, pl, scale, base + b0, base + b1);
      }
  }
  real_split_forward_zero(out, scale);
  split_forward_pairs(out, pl, scale, h / 2, h / 2 + 1);
}

template <bool INV>
void run_complex_s(const double* in, double* out, double* work, int L, const Pow2Plan* pl,
                   bool scaled, const char* ahead = nullptr) {
  if (scaled)
    run_complex<INV, true>(in, out, work, L, pl, pl->scale, ahead);
  else
    run_complex<INV, false>(in, out, work, L, pl, 1.0, ahead);
}

int check(const double* in, const double* out, const Pow2Plan* pl, int32_t tag) {
  if (pl == nullptr) return PLAN_NULL_POINTER;
  if (pl->tag != tag) return PLAN_WRONG_KIND;
  if (in == nullptr || out == nullptr) return PLAN_NULL_POINTER;
  return PLAN_OK;
}

// The caller's work area aligned up to 32 bytes, or one of our own.
double* get_work(const Pow2Plan* pl, void* work, void** own) {
  *own = nullptr;
  if (pl->work_size == 0) return nullptr;
  if (work != nullptr) {
    uintptr_t a = (reinterpret_cast<uintptr_t>(work) + 31) & ~uintptr_t(31);
    return reinterpret_cast<double*>(a);
  }
  *own = tqs_mm_allocate(uint64_t(pl->work_size), 64);
  return static_cast<double*>(*own);
}

// count transforms, the t-th from in + t * in_dist to out + t * out_dist
// (doubles). Each closing pass fetches the next transform's input (see
// prefetch_ahead): the next leaves would otherwise wait for it line by line
// from a farther cache or memory, with nothing else to do meanwhile (level
// 5: batches of 1000 x 256 10-12 % faster, of 16-32 MB 1.3-1.5 times). From
// 2^20 points the closing pass runs in blocks of columns and fetches
// nothing.
template <bool INV>
int complex_exec(const double* in, double* out, const Pow2Plan* pl, void* work,
                 int64_t count = 1, int64_t in_dist = 0, int64_t out_dist = 0) {
  int st = check(in, out, pl, TAG_POW2_COMPLEX);
  if (st != PLAN_OK) return st;
  void* own;
  double* w = get_work(pl, work, &own);
  if (pl->work_size != 0 && w == nullptr) return PLAN_NO_MEMORY;
  const bool scaled = INV ? pl->backward_scaled : pl->forward_scaled;
  for (int64_t t = 0; t < count; ++t) {
    const double* next = t + 1 < count ? in + (t + 1) * in_dist : nullptr;
    run_complex_s<INV>(in + t * in_dist, out + t * out_dist, w, pl->log2n, pl, scaled,
                       reinterpret_cast<const char*>(next));
  }
  if (own != nullptr) tqs_mm_free(own);
  return PLAN_OK;
}

// Real lengths up to 64: the real kernels (scaled ones up to 16, a scaling
// loop above).
template <bool INV>
void real_small(const double* in, double* out, int L, bool scaled, double s) {
  const int n = 1 << L;
  if (L <= 4) {
    if (scaled)
      (INV ? codelets.real_backward_scaled : codelets.real_forward_scaled)[n](in, out, s);
    else
      (INV ? codelets.real_backward : codelets.real_forward)[n](in, out);
    return;
  }
  (INV ? real_pow2_backward : real_pow2_forward)[L](in, out);
  if (scaled)
    for (int i = 0; i < n; ++i) out[i] *= s;
}

}  // namespace

int pow2_complex_plan_create(Pow2Plan** out, int log2n, int mode, int hint) {
  return create(out, log2n, mode, hint, false);
}

int pow2_real_plan_create(Pow2Plan** out, int log2n, int mode, int hint) {
  return create(out, log2n, mode, hint, true);
}

int pow2_plan_work_size(const Pow2Plan* plan, int64_t* size_out) {
  if (plan == nullptr || size_out == nullptr) return PLAN_NULL_POINTER;
  if (plan->tag != TAG_POW2_COMPLEX && plan->tag != TAG_POW2_REAL) return PLAN_WRONG_KIND;
  *size_out = plan->work_size;
  return PLAN_OK;
}

int pow2_plan_destroy(Pow2Plan* plan) {
  if (plan == nullptr) return PLAN_NULL_POINTER;
  plan->tag = 0;
  tqs_mm_free(plan);
  return PLAN_OK;
}

int pow2_complex_forward(const double* in, double* out, const Pow2Plan* plan, void* work) {
  return complex_exec<false>(in, out, plan, work);
}

int pow2_complex_backward(const double* in, double* out, const Pow2Plan* plan, void* work) {
  return complex_exec<true>(in, out, plan, work);
}

int pow2_complex_batch(const double* in, int64_t in_dist, double* out, int64_t out_dist,
                       int64_t count, const Pow2Plan* plan, void* work, bool inverse) {
  return inverse ? complex_exec<true>(in, out, plan, work, count, in_dist, out_dist)
                 : complex_exec<false>(in, out, plan, work, count, in_dist, out_dist);
}

void pow2_plan_input_in_cache(Pow2Plan* plan) {
  if (plan != nullptr) plan->prefetch = 0;
}

int pow2_complex_top_bits(const Pow2Plan* plan) {
  if (plan == nullptr || plan->tag != TAG_POW2_COMPLEX || plan->log2n <= CODELET_LOG2) return 0;
  return plan->bits[plan->log2n];
}

void pow2_complex_sub_group(const double* in, double* work, const Pow2Plan* plan, int r,
                            bool inverse) {
  if (inverse)
    run_subs<true, false>(in, work, plan->log2n, plan, 1.0, r);
  else
    run_subs<false, false>(in, work, plan->log2n, plan, 1.0, r);
}

namespace {

// One real transform each way, the work area in hand; ahead: the next
// input of a batch (see prefetch_ahead), fetched by the unfused paths.
void real_forward_one(const double* in, double* out, const Pow2Plan* plan, double* w,
                      const char* ahead = nullptr) {
  const double s = plan->forward_scaled ? plan->scale : 1.0;
  if (plan->log2n <= CODELET_LOG2) {
    real_small<false>(in, out, plan->log2n, plan->forward_scaled != 0, s);
  } else if (FUSED_CLOSING && plan->complex_log2 >= CLOSING_BLOCKS_LOG2) {
    run_subs<false, false>(in, w, plan->complex_log2, plan, 1.0, 0, false);
    real_forward_closing_blocks(w, out, plan, s);
  } else if (FUSED_CLOSING && plan->complex_log2 >= FUSED_LOG2) {
    run_subs<false, false>(in, w, plan->complex_log2, plan, 1.0);
    real_forward_closing(w, out, plan, s);
  } else {
    // The split step, the last sweep, fetches the next input: fetched
    // during the closing pass it pushed out of the first-level cache the
    // spectrum that step reads (real 1000 x 1024, 100 x 4096, 64 x 16384:
    // 3-5 % faster that way).
    run_complex<false, false>(in, out, w, plan->complex_log2, plan, 1.0);
    real_split_forward_zero(out, s);
    split_forward_pairs(out, plan, s, 1, (int64_t(1) << plan->log2n) / 4 + 1, ahead);
  }
}

void real_backward_one(const double* in, double* out, const Pow2Plan* plan, double* w,
                       int64_t nyquist_at, const char* ahead = nullptr) {
  const double s = plan->backward_scaled ? plan->scale : 1.0;
  if (plan->log2n <= CODELET_LOG2) {
    real_small<true>(in, out, plan->log2n, plan->backward_scaled != 0, s);
    return;
  }
  const int64_t n = int64_t(1) << plan->log2n;
  if (plan->split_hi != nullptr)
    real_split_backward(in, out, n,
                        RealSplitRoots{plan->split_tw, plan->split_hi, plan->split_lo_bits}, s,
                        nyquist_at);
  else
    real_split_backward(in, out, n, plan->split_tw, s, nyquist_at);
  run_complex<true, false>(out, out, w, plan->complex_log2, plan, 1.0, ahead);
}

}  // namespace

int pow2_real_forward(const double* in, double* out, const Pow2Plan* plan, void* work) {
  return pow2_real_batch(in, 0, out, 0, 1, plan, work, false, 1, nullptr);
}

int pow2_real_backward(const double* in, double* out, const Pow2Plan* plan, void* work) {
  return pow2_real_backward_at(in, out, plan, work, 1);
}

int pow2_real_backward_at(const double* in, double* out, const Pow2Plan* plan, void* work,
                          int64_t nyquist_at) {
  return pow2_real_batch(in, 0, out, 0, 1, plan, work, true, nyquist_at, nullptr);
}

int pow2_real_batch(const double* in, int64_t in_dist, double* out, int64_t out_dist,
                    int64_t count, const Pow2Plan* plan, void* work, bool inverse,
                    int64_t nyquist_at, void (*finish)(double*, int64_t)) {
  static_assert(POW2_REAL_PACKED_ONLY == int64_t(1) << CODELET_LOG2);
  int st = check(in, out, plan, TAG_POW2_REAL);
  if (st != PLAN_OK) return st;
  void* own = nullptr;
  double* w = nullptr;
  if (plan->log2n > CODELET_LOG2) {
    w = get_work(plan, work, &own);
    if (plan->work_size != 0 && w == nullptr) return PLAN_NO_MEMORY;
  }
  for (int64_t t = 0; t < count; ++t) {
    const char* ahead =
        t + 1 < count ? reinterpret_cast<const char*>(in + (t + 1) * in_dist) : nullptr;
    double* o = out + t * out_dist;
    if (inverse) {
      real_backward_one(in + t * in_dist, o, plan, w, nyquist_at, ahead);
    } else {
      real_forward_one(in + t * in_dist, o, plan, w, ahead);
      if (finish != nullptr) finish(o, int64_t(1) << plan->log2n);
    }
  }
  if (own != nullptr) tqs_mm_free(own);
  return PLAN_OK;
}

namespace {
int api_complex_create(void** out, int log2n, int mode, int hint) {
  return create(reinterpret_cast<Pow2Plan**>(out), log2n, mode, hint, false);
}
int api_real_create(void** out, int log2n, int mode, int hint) {
  return create(reinterpret_cast<Pow2Plan**>(out), log2n, mode, hint, true);
}
int api_work_size(const void* p, int64_t* s) {
  return pow2_plan_work_size(static_cast<const Pow2Plan*>(p), s);
}
int api_destroy(void* p) { return pow2_plan_destroy(static_cast<Pow2Plan*>(p)); }
int api_cf(const double* in, double* out, const void* p, void* w) {
  return pow2_complex_forward(in, out, static_cast<const Pow2Plan*>(p), w);
}
int api_cb(const double* in, double* out, const void* p, void* w) {
  return pow2_complex_backward(in, out, static_cast<const Pow2Plan*>(p), w);
}
int api_rf(const double* in, double* out, const void* p, void* w) {
  return pow2_real_forward(in, out, static_cast<const Pow2Plan*>(p), w);
}
int api_rb(const double* in, double* out, const void* p, void* w) {
  return pow2_real_backward(in, out, static_cast<const Pow2Plan*>(p), w);
}
}  // namespace

const Pow2Api pow2_api = {api_complex_create, api_real_create, api_work_size, api_destroy,
                          api_cf, api_cb, api_rf, api_rb};

TQS_LEVEL_END
