// Large power-of-two kernels. N = A x B with A = 2^floor(n/2), B = N / A:
//   pass 1, for each input column b (elements b + B s, s < A): an A-point
//           transform written contiguously to output elements A b ...;
//   pass 2, for each output column k (elements k + A m, m < B): the twiddle
//           factors w_N^(m k), then a B-point transform in place.
// The result is the transform in natural order. Each pass takes its columns
// a group at a time (whole cache lines of every row they cross) through a
// per-thread scratch block, so the strided columns are read and written in
// whole lines and transformed contiguously.
//
// The sub-transforms (at most 2^13 points) are the straight-line kernels up
// to 64 points and, above, a depth-first radix-4/8 recursion over leaves of
// up to 16 points, on one complex value per register as every level has
// it. All their tables, the pass-2 twiddles (two short tables whose product
// gives w_N^j) and the scratch blocks live in the table area built at
// commit; a compute call allocates nothing.
//
// Every (N, P) pair is an instance of the same code, named after it.
#include "parallel/large_pow2.h"

#include <omp.h>

#include <cmath>
#include <cstring>

#include "engine/general.h"
#include "kernels/codelets.h"
#include "kernels/pow2_kernels.h"
#include "parallel/drivers.h"
#include "kernels/roots.h"
#include "parallel/large_table.h"
#include "tqs_dfti.h"

TQS_LEVEL_BEGIN
namespace {

using namespace simd;

// Neighbouring columns a pass takes at once: two cache lines of every row
// they cross, or one where the scratch blocks would outgrow the caches.
constexpr int64_t WIDE_GROUP = 8, NARROW_GROUP = 4;
constexpr int WIDE_GROUP_MAX_LOG2 = 11;
constexpr int TABLE_ALIGNMENT = 64;
constexpr int CODELET_LOG2 = 6;

// Radix bits of the pass that closes a 2^L-point transform; 0: a leaf.
int radix_bits(int log2n) {
  if (log2n <= 4) return 0;
  if (log2n == 5) return 2;
  if (log2n == 8) return 3;
  return (log2n - 4) % 3 == 0 ? 3 : 2;
}

struct Tables {
  const double* pass[LARGE_MAX_SUB_LOG2 + 1];
};

template <bool INV, int L>
inline void leaf(const double* in, ptrdiff_t is, double* out) {
  p2::leaf_fixed<INV, false, C1, L>(in, is, out, 1.0);
}

// 2^L points of in[0], in[is], ... written contiguously to o (o != in).
template <bool INV>
void recurse(const double* in, ptrdiff_t is, double* o, int log2n, const Tables& t) {
  const int rb = radix_bits(log2n);
  if (rb == 0) {
    switch (log2n) {
      case 0: leaf<INV, 0>(in, is, o); break;
      case 1: leaf<INV, 1>(in, is, o); break;
      case 2: leaf<INV, 2>(in, is, o); break;
      case 3: leaf<INV, 3>(in, is, o); break;
      default: leaf<INV, 4>(in, is, o); break;
    }
    return;
  }
  const ptrdiff_t r = ptrdiff_t(1) << rb, m = ptrdiff_t(1) << (log2n - rb);
  for (ptrdiff_t j = 0; j < r; ++j) recurse<INV>(in + j * is, is * r, o + 2 * j * m, log2n - rb, t);
  if (rb == 2) {
    p2::pass<INV, C1, 4>(o, o, m, t.pass[log2n], 0, m);
  } else {
    p2::pass<INV, C1, 8>(o, o, m, t.pass[log2n], 0, m);
  }
}

// A contiguous 2^L-point transform from in to out (distinct arrays).
template <bool INV>
inline void sub_transform(const double* in, double* out, int log2n, const Tables& t) {
  if (log2n <= CODELET_LOG2) {
    (INV ? codelet_pow2_complex_backward : codelet_pow2_complex_forward)[log2n](in, out);
  } else {
    recurse<INV>(in, 2, out, log2n, t);
  }
}

struct Pass {
  const LargeTableHead* head;
  const double* base;
  Tables tables;
  const double* in;
  double* out;
};

// Rows this far ahead are asked for while strided columns are read or
// written: each row lies on a page of its own.
constexpr int64_t PREFETCH_ROWS = 8;

inline void prefetch_row(const double* row, int64_t group) {
  for (int64_t d = 0; d < 2 * group; d += 8) __builtin_prefetch(row + d);
}

inline void prefetch_row_for_writing(double* row, int64_t group) {
  for (int64_t d = 0; d < 2 * group; d += 8) __builtin_prefetch(row + d, 1);
}

// Input columns [b_begin, b_end), a group at a time.
template <bool INV>
void pass_one(const Pass& p, int64_t b_begin, int64_t b_end, double* scratch) {
  const int a = p.head->log2_rows;
  const int64_t rows = int64_t(1) << a, cols = int64_t(1) << p.head->log2_cols;
  const int64_t group = p.head->group;
  for (int64_t b0 = b_begin; b0 < b_end; b0 += group) {
    const double* src = p.in + 2 * b0;
    for (int64_t s = 0; s < rows; ++s, src += 2 * cols) {
      if (s + PREFETCH_ROWS < rows) prefetch_row(src + 2 * PREFETCH_ROWS * cols, group);
      for (int64_t c = 0; c < group; ++c) store1(scratch + 2 * (c * rows + s), load1(src + 2 * c));
    }
    for (int64_t c = 0; c < group; ++c) {
      sub_transform<INV>(scratch + 2 * c * rows, p.out + 2 * rows * (b0 + c), a, p.tables);
    }
  }
}

// Output columns [k_begin, k_end), a group at a time, in place.
template <bool INV>
void pass_two(const Pass& p, int64_t k_begin, int64_t k_end, double* scratch) {
  const LargeTableHead& h = *p.head;
  const int b = h.log2_cols;
  const int64_t stride = int64_t(1) << h.log2_rows, len = int64_t(1) << b;
  const int64_t group = h.group;
  const int64_t low_mask = (int64_t(1) << h.low_bits) - 1;
  const double* low = p.base + h.low_offset;
  const double* high = p.base + h.high_offset;
  double* gathered = scratch;
  double* done = scratch + 2 * group * len;
  for (int64_t k0 = k_begin; k0 < k_end; k0 += group) {
    double* col = p.out + 2 * k0;
    for (int64_t m = 0; m < len; ++m, col += 2 * stride) {
      if (m + PREFETCH_ROWS < len) prefetch_row(col + 2 * PREFETCH_ROWS * stride, group);
      for (int64_t c = 0; c < group; ++c) {
        const int64_t j = m * (k0 + c);
        const C1 w = cmul_mem(load1(low + 2 * (j & low_mask)), high + 2 * (j >> h.low_bits));
        const C1 x = load1(col + 2 * c);
        store1(gathered + 2 * (c * len + m), INV ? cmulj(x, w) : cmul(x, w));
      }
    }
    for (int64_t c = 0; c < group; ++c) {
      sub_transform<INV>(gathered + 2 * c * len, done + 2 * c * len, b, p.tables);
    }
    col = p.out + 2 * k0;
    for (int64_t m = 0; m < len; ++m, col += 2 * stride) {
      if (m + PREFETCH_ROWS < len) prefetch_row_for_writing(col + 2 * PREFETCH_ROWS * stride, group);
      for (int64_t c = 0; c < group; ++c) store1(col + 2 * c, load1(done + 2 * (c * len + m)));
    }
  }
}

// The 2 N doubles times the scale: one leading double when the array is
// only 8-byte aligned, then pairs, eight doubles a step.
void scale_output(double* y, int64_t count, double scale) {
  int64_t i = 0;
  if ((reinterpret_cast<uintptr_t>(y) & 7) == 0) {
    if ((reinterpret_cast<uintptr_t>(y) & 15) != 0) {
      y[0] *= scale;
      i = 1;
    }
    for (; i + 8 <= count; i += 8) {
      for (int q = 0; q < 8; q += 2) store1a(y + i + q, load1a(y + i + q) * scale);
    }
  }
  for (; i < count; ++i) y[i] *= scale;
}

// Thread k's chunks of a static loop of `chunks` iterations over a team.
void static_chunks(int chunks, int k, int team, int* first, int* last) {
  const int per = (chunks + team - 1) / team;
  *first = k * per < chunks ? k * per : chunks;
  *last = (k + 1) * per < chunks ? (k + 1) * per : chunks;
}

long run(const double* in, double* out, EngineDescriptor* d, void* area, int log2n, int chunks,
         bool inverse) {
  const auto* head = static_cast<const LargeTableHead*>(area);
  if (head == nullptr || head->log2_length != log2n || head->chunks != chunks) return DFTI_STATUS_INTERNAL;
  Pass p{head, static_cast<const double*>(area), {}, in, out};
  for (int l = 0; l <= LARGE_MAX_SUB_LOG2; ++l) {
    p.tables.pass[l] = head->pass_offset[l] >= 0 ? p.base + head->pass_offset[l] : nullptr;
  }
  int team = driver_team_size(d);
  if (d->dynamic_threads != 0 && team > chunks) team = chunks;
  double* scratch = static_cast<double*>(area) + head->scratch_offset;
  const int64_t per_thread = head->scratch_doubles;
  const int64_t pass1_chunk = (int64_t(1) << head->log2_cols) / chunks;
  const int64_t pass2_chunk = (int64_t(1) << head->log2_rows) / chunks;
  // Thread numbers beyond the chunk count never get a chunk, so the chunk
  // count bounds the scratch blocks.
#pragma omp parallel num_threads(team)
  {
    int first, last;
    const int k = omp_get_thread_num();
    static_chunks(chunks, k, omp_get_num_threads(), &first, &last);
    for (int i = first; i < last; ++i) {
      if (inverse) {
        pass_one<true>(p, i * pass1_chunk, (i + 1) * pass1_chunk, scratch + k * per_thread);
      } else {
        pass_one<false>(p, i * pass1_chunk, (i + 1) * pass1_chunk, scratch + k * per_thread);
      }
    }
  }
#pragma omp parallel num_threads(team)
  {
    int first, last;
    const int k = omp_get_thread_num();
    static_chunks(chunks, k, omp_get_num_threads(), &first, &last);
    for (int i = first; i < last; ++i) {
      if (inverse) {
        pass_two<true>(p, i * pass2_chunk, (i + 1) * pass2_chunk, scratch + k * per_thread);
      } else {
        pass_two<false>(p, i * pass2_chunk, (i + 1) * pass2_chunk, scratch + k * per_thread);
      }
    }
  }
  const double scale = inverse ? d->active_backward_scale : d->active_forward_scale;
  if (scale != 1.0) scale_output(out, 2 * head->length, scale);
  return 0;
}

int64_t align_doubles(int64_t v) { return (v + 7) / 8 * 8; }

long prepare(EngineDescriptor* d, int log2n, int chunks) {
  LargeTableHead h;
  std::memset(&h, 0, sizeof h);
  h.length = int64_t(1) << log2n;
  h.chunks = chunks;
  h.log2_length = log2n;
  h.log2_rows = log2n / 2;
  h.log2_cols = log2n - h.log2_rows;
  h.low_bits = (log2n + 1) / 2;
  const int64_t shortest_chunk = (int64_t(1) << h.log2_rows) / chunks;
  h.group = h.log2_cols <= WIDE_GROUP_MAX_LOG2 && shortest_chunk % WIDE_GROUP == 0 ? WIDE_GROUP : NARROW_GROUP;
  int64_t at = align_doubles(sizeof(LargeTableHead) / 8 + 1);
  for (int l = 0; l <= LARGE_MAX_SUB_LOG2; ++l) {
    h.pass_offset[l] = -1;
    if (l <= 4 || l > h.log2_cols) continue;
    h.pass_offset[l] = at;
    at += align_doubles(2 * ((int64_t(1) << l) - (int64_t(1) << (l - radix_bits(l)))));
  }
  h.low_offset = at;
  at += align_doubles(2 * (int64_t(1) << h.low_bits));
  h.high_offset = at;
  at += align_doubles(2 * (int64_t(1) << (log2n - h.low_bits)));
  h.scratch_offset = at;
  h.scratch_doubles = align_doubles(2 * 2 * h.group * (int64_t(1) << h.log2_cols));
  at += h.scratch_doubles * chunks;
  h.bytes = at * 8;

  auto* area = static_cast<double*>(tqs_mm_allocate(static_cast<uint64_t>(h.bytes), TABLE_ALIGNMENT));
  if (area == nullptr) return DFTI_STATUS_MEMORY;
  std::memcpy(area, &h, sizeof h);
  // The roots of every pass are among those of the longest one.
  const RootGenerator pass_roots(int64_t(1) << h.log2_cols);
  for (int l = 0; l <= LARGE_MAX_SUB_LOG2; ++l) {
    if (h.pass_offset[l] < 0) continue;
    const int rb = radix_bits(l);
    const int64_t r = int64_t(1) << rb, m = int64_t(1) << (l - rb);
    double* t = area + h.pass_offset[l];
    for (int64_t k = 0; k < m; ++k) {
      for (int64_t j = 1; j < r; ++j, t += 2) pass_roots.root((j * k) << (h.log2_cols - l), t);
    }
  }
  const RootGenerator whole(int64_t(1) << log2n);
  for (int64_t j = 0; j < (int64_t(1) << h.low_bits); ++j) whole.root(j, area + h.low_offset + 2 * j);
  for (int64_t j = 0; j < (int64_t(1) << (log2n - h.low_bits)); ++j) {
    whole.root(j << h.low_bits, area + h.high_offset + 2 * j);
  }
  tqs_mm_free(d->large_kernel_table);
  d->large_kernel_table = area;
  return 0;
}

// ---- the named kernels ------------------------------------------------------

struct LargeKernel {
  long (*prepare)(EngineDescriptor* d);
  LargeEntry forward;
  LargeEntry inverse;
};

#define TQS_LARGE_LENGTHS(X)                                                                  \
  X(1024, 10) X(2048, 11) X(4096, 12) X(8192, 13) X(16384, 14) X(32768, 15) X(65536, 16)      \
  X(131072, 17) X(262144, 18) X(524288, 19) X(1048576, 20) X(2097152, 21) X(4194304, 22)      \
  X(8388608, 23) X(16777216, 24) X(33554432, 25) X(67108864, 26)

#define TQS_LARGE_KERNEL(N, L, P)                                                                \
  long tqs_dft_dft_##N##_##P##p_fwd(const double* x, double* y, EngineDescriptor* d, void* t) { \
    return run(x, y, d, t, L, P, false);                                                         \
  }                                                                                              \
  long tqs_dft_dft_##N##_##P##p_inv(const double* x, double* y, EngineDescriptor* d, void* t) { \
    return run(x, y, d, t, L, P, true);                                                          \
  }                                                                                              \
  long tqs_dft_dft_##N##_##P##p_prepare(EngineDescriptor* d) { return prepare(d, L, P); }

#define TQS_LARGE_LENGTH(N, L) TQS_LARGE_KERNEL(N, L, 8) TQS_LARGE_KERNEL(N, L, 4) TQS_LARGE_KERNEL(N, L, 2)
TQS_LARGE_LENGTHS(TQS_LARGE_LENGTH)

#define TQS_LARGE_ENTRY(N, P) \
  {tqs_dft_dft_##N##_##P##p_prepare, tqs_dft_dft_##N##_##P##p_fwd, tqs_dft_dft_##N##_##P##p_inv}
#define TQS_LARGE_ROW(N, L) {TQS_LARGE_ENTRY(N, 8), TQS_LARGE_ENTRY(N, 4), TQS_LARGE_ENTRY(N, 2)},

// By log2 N - 10, then P = 8, 4, 2.
const LargeKernel kernels[LARGE_MAX_LOG2 - LARGE_MIN_LOG2 + 1][3] = {TQS_LARGE_LENGTHS(TQS_LARGE_ROW)};

}  // namespace

int large_kernel_chunks(const EngineDescriptor* d) {
  const int threads = d->thread_count;
  const int log2n = floor_log2(d->length);
  if (d->dynamic_threads == 0) return threads >= 8 ? 8 : threads >= 4 ? 4 : 2;
  // With dynamic adjustment the short lengths keep fewer chunks: their
  // passes are too short to pay for more threads.
  if (threads >= 8 && log2n >= 17) return 8;
  if (threads >= 4 && log2n >= 11) return 4;
  return 2;
}

long select_large_kernel(EngineDescriptor* d) {
  const int log2n = floor_log2(d->length);
  if (!is_power_of_two(d->length) || log2n < LARGE_MIN_LOG2 || log2n > LARGE_MAX_LOG2) {
    return DFTI_STATUS_INTERNAL;
  }
  const int chunks = large_kernel_chunks(d);
  const LargeKernel& k = kernels[log2n - LARGE_MIN_LOG2][chunks == 8 ? 0 : chunks == 4 ? 1 : 2];
  const long status = k.prepare(d);
  if (status != 0) return status;
  d->large_forward = k.forward;
  d->large_backward = k.inverse;
  return 0;
}

TQS_LEVEL_END
