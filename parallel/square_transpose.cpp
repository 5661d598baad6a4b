// Large unscaled squares are transposed by a team, block row by block row:
// row i < h settles its diagonal block and the h blocks to its right; row
// i >= h settles the rest of its row and the i - h blocks above the diagonal
// that the short rows did not reach. Short and long rows thus carry h + 1 or
// m - h blocks, which balances a cyclic deal without a dynamic schedule, and
// every mirrored pair of blocks belongs to exactly one row, so the members
// never touch the same element.
#include "parallel/square_transpose.h"

#include <omp.h>

#include "kernels/simd.h"
#include "service/tqs_service.h"

TQS_LEVEL_BEGIN
namespace {

using namespace simd;

// Element offsets in doubles.
inline uint64_t at(uint64_t r, uint64_t c, uint64_t lda) { return 2 * (r * lda + c); }

#if TQS_AVX
// A 4 x 4 block as eight pairs: x[2r + g] holds columns 2g and 2g + 1 of row r.
struct Block {
  C2 x[8];
};

inline Block load_block(const double* p, uint64_t lda) {
  Block b;
  for (uint64_t r = 0; r < 4; ++r) {
    b.x[2 * r] = load2(p + at(r, 0, lda));
    b.x[2 * r + 1] = load2(p + at(r, 2, lda));
  }
  return b;
}

inline void store_block(double* p, uint64_t lda, const Block& b) {
  for (uint64_t r = 0; r < 4; ++r) {
    store2(p + at(r, 0, lda), b.x[2 * r]);
    store2(p + at(r, 2, lda), b.x[2 * r + 1]);
  }
}

// Row r, pair g of the transpose is (X[2g][r], X[2g + 1][r]).
inline Block transposed(const Block& b) {
  const C2* x = b.x;
  Block t;
  t.x[0] = lanes_lo(x[0], x[2]);
  t.x[1] = lanes_lo(x[4], x[6]);
  t.x[2] = lanes_hi(x[0], x[2]);
  t.x[3] = lanes_hi(x[4], x[6]);
  t.x[4] = lanes_lo(x[1], x[3]);
  t.x[5] = lanes_lo(x[5], x[7]);
  t.x[6] = lanes_hi(x[1], x[3]);
  t.x[7] = lanes_hi(x[5], x[7]);
  return t;
}

inline void transpose_block(double* p, uint64_t lda) {
  store_block(p, lda, transposed(load_block(p, lda)));
}

inline void swap_blocks(double* p, double* q, uint64_t lda) {
  Block bp = load_block(p, lda), bq = load_block(q, lda);
  store_block(p, lda, transposed(bq));
  store_block(q, lda, transposed(bp));
}
#else
inline void transpose_block(double* p, uint64_t lda) {
  for (uint64_t r = 0; r < 4; ++r) {
    for (uint64_t c = r + 1; c < 4; ++c) {
      C1 x = load1(p + at(r, c, lda)), y = load1(p + at(c, r, lda));
      store1(p + at(r, c, lda), y);
      store1(p + at(c, r, lda), x);
    }
  }
}

inline void swap_blocks(double* p, double* q, uint64_t lda) {
  for (uint64_t r = 0; r < 4; ++r) {
    for (uint64_t c = 0; c < 4; ++c) {
      C1 x = load1(p + at(r, c, lda)), y = load1(q + at(c, r, lda));
      store1(p + at(r, c, lda), y);
      store1(q + at(c, r, lda), x);
    }
  }
}
#endif

}  // namespace

void square_block_kernel(double* p, double* q, uint64_t lda, uint64_t k) {
  uint64_t t = 0;
  if (p == q && k > 0) {
    transpose_block(p, lda);
    t = 1;
  }
  for (; t < k; ++t) {
    // The column strip steps four rows at a time, too far apart for the
    // hardware to guess; its lines are asked for two blocks ahead.
    if (t + 2 < k) {
      const double* next = p + at(4 * (t + 2), 0, lda);
      for (uint64_t r = 0; r < 4; ++r) __builtin_prefetch(next + at(r, 0, lda), 1);
    }
    swap_blocks(p + at(4 * t, 0, lda), q + at(0, 4 * t, lda), lda);
  }
}

int tqs_trans_tqs_zimatcopy_square_t_par(uint64_t n, double* a, uint64_t lda,
                                         SquareBlockKernel kernel) {
  const int threads = tqs_domain_get_max_threads(0);
  // Every block row must start on a cache line.
  if ((reinterpret_cast<uintptr_t>(a) & 63) != 0 || n % 4 != 0 || lda % 4 != 0) return 0;
  const uint64_t m = n / 4, h = m / 2;
  int done = 0;
#pragma omp parallel num_threads(threads)
  {
    const uint64_t k = static_cast<uint64_t>(omp_get_thread_num());
    const uint64_t team = static_cast<uint64_t>(omp_get_num_threads());
    // An uneven deal would break the pairing of short and long rows; the
    // caller falls back to the serial loop instead.
    if (m % team == 0) {
      for (uint64_t i = k; i < m; i += team) {
        double* diagonal = a + at(4 * i, 4 * i, lda);
        if (i < h) {
          kernel(diagonal, diagonal, lda, h + 1);
        } else {
          kernel(diagonal, diagonal, lda, m - i);
          kernel(a + at(0, 4 * i, lda), a + at(4 * i, 0, lda), lda, i - h);
        }
      }
      if (k == 0) done = 1;
    }
  }
  return done;
}

void tqs_trans_tqs_zimatcopy_square_t(uint64_t n, const double* alpha, double* a, uint64_t lda) {
  if (n > 64 && alpha[0] == 1.0 && alpha[1] == 0.0 &&
      tqs_trans_tqs_zimatcopy_square_t_par(n, a, lda, square_block_kernel) == 1) {
    return;
  }
  const C1 s = load1(alpha);
  for (uint64_t r = 0; r < n; ++r) {
    for (uint64_t c = 0; c <= r; ++c) {
      C1 x = load1(a + at(r, c, lda)), y = load1(a + at(c, r, lda));
      store1(a + at(r, c, lda), cmul(y, s));
      store1(a + at(c, r, lda), cmul(x, s));
    }
  }
}

TQS_LEVEL_END
