// Transposition by recursive halving: the larger dimension is split until
// both are at most 4, so the reads of A and the writes of B stay in cache for
// any shape without a tuned block size. A unit scale moves the elements
// without arithmetic, so their bits (NaN payloads, signed zeros, infinities)
// arrive unchanged; a conjugation then only flips a sign bit.
#include "kernels/matrix_copy.h"

#include "kernels/simd.h"

TQS_LEVEL_BEGIN
namespace {

using namespace simd;

// The character tests ignore bit 5, so 'r' counts as 'R'.
inline int fold(char c) { return c & 0xDF; }

// What happens to each element on its way from A to B.
enum Op { MOVE, CONJ_MOVE, SCALE, CONJ_SCALE };

struct Alpha {
  C1 one;
#if TQS_AVX
  C2 two;
#endif
};

template <int op>
inline C1 apply(C1 x, const Alpha& s) {
  if constexpr (op == MOVE) {
    return x;
  } else if constexpr (op == CONJ_MOVE) {
    return conj(x);
  } else if constexpr (op == SCALE) {
    return cmul(x, s.one);
  } else {
    return cmul(conj(x), s.one);
  }
}

#if TQS_AVX
template <int op>
inline C2 apply(C2 x, const Alpha& s) {
  if constexpr (op == MOVE) {
    return x;
  } else if constexpr (op == CONJ_MOVE) {
    return conj(x);
  } else if constexpr (op == SCALE) {
    return cmul(x, s.two);
  } else {
    return cmul(conj(x), s.two);
  }
}
#endif

template <int op>
void copy_rows(uint64_t rows, uint64_t cols, const double* a, uint64_t lda, double* b, uint64_t ldb,
               const Alpha& s) {
  for (uint64_t i = 0; i < rows; ++i, a += 2 * lda, b += 2 * ldb) {
    uint64_t j = 0;
    for (; j + 2 <= cols; j += 2) {
#if TQS_AVX
      store2(b + 2 * j, apply<op>(load2(a + 2 * j), s));
#else
      C1 x0 = load1(a + 2 * j), x1 = load1(a + 2 * j + 2);
      store1(b + 2 * j, apply<op>(x0, s));
      store1(b + 2 * j + 2, apply<op>(x1, s));
#endif
    }
    if (j < cols) store1(b + 2 * j, apply<op>(load1(a + 2 * j), s));
  }
}

// B[j][i] = op(A[i][j]) for a block of at most 4 x 4. With 256-bit
// registers two rows of A are read a pair at a time and the 2 x 2 squares
// are turned by exchanging 128-bit halves.
template <int op>
inline void transpose_leaf(uint64_t rows, uint64_t cols, const double* a, uint64_t lda, double* b,
                           uint64_t ldb, const Alpha& s) {
#if TQS_AVX
  uint64_t i = 0;
  for (; i + 2 <= rows; i += 2) {
    const double* a0 = a + 2 * i * lda;
    const double* a1 = a0 + 2 * lda;
    uint64_t j = 0;
    for (; j + 2 <= cols; j += 2) {
      C2 r0 = apply<op>(load2(a0 + 2 * j), s), r1 = apply<op>(load2(a1 + 2 * j), s);
      store2(b + 2 * (j * ldb + i), lanes_lo(r0, r1));
      store2(b + 2 * ((j + 1) * ldb + i), lanes_hi(r0, r1));
    }
    if (j < cols) {
      store2(b + 2 * (j * ldb + i), apply<op>(join(load1(a0 + 2 * j), load1(a1 + 2 * j)), s));
    }
  }
  if (i < rows) {
    const double* a0 = a + 2 * i * lda;
    uint64_t j = 0;
    for (; j + 2 <= cols; j += 2) {
      C2 r0 = apply<op>(load2(a0 + 2 * j), s);
      store1(b + 2 * (j * ldb + i), low(r0));
      store1(b + 2 * ((j + 1) * ldb + i), high(r0));
    }
    if (j < cols) store1(b + 2 * (j * ldb + i), apply<op>(load1(a0 + 2 * j), s));
  }
#else
  for (uint64_t i = 0; i < rows; ++i) {
    const double* ai = a + 2 * i * lda;
    uint64_t j = 0;
    for (; j + 2 <= cols; j += 2) {
      C1 x0 = load1(ai + 2 * j), x1 = load1(ai + 2 * j + 2);
      store1(b + 2 * (j * ldb + i), apply<op>(x0, s));
      store1(b + 2 * ((j + 1) * ldb + i), apply<op>(x1, s));
    }
    if (j < cols) store1(b + 2 * (j * ldb + i), apply<op>(load1(ai + 2 * j), s));
  }
#endif
}

// Full 4 x 4 leaves get code with constant bounds.
template <int op>
inline void leaf(uint64_t rows, uint64_t cols, const double* a, uint64_t lda, double* b,
                 uint64_t ldb, const Alpha& s) {
  if (rows == 4 && cols == 4) {
    transpose_leaf<op>(4, 4, a, lda, b, ldb, s);
  } else {
    transpose_leaf<op>(rows, cols, a, lda, b, ldb, s);
  }
}

// Splits the larger dimension (cols on a tie), recurses into the first half
// and carries on with the rest. Once both are at most 8 each is halved at
// most once more, so the last (up to four) leaves are run here without
// further calls.
template <int op>
void transpose(uint64_t rows, uint64_t cols, const double* a, uint64_t lda, double* b, uint64_t ldb,
               const Alpha& s) {
  while (rows > 8 || cols > 8) {
    if (rows <= cols) {
      const uint64_t half = cols / 2;
      transpose<op>(rows, half, a, lda, b, ldb, s);
      a += 2 * half;
      b += 2 * half * ldb;
      cols -= half;
    } else {
      const uint64_t half = rows / 2;
      transpose<op>(half, cols, a, lda, b, ldb, s);
      a += 2 * half * lda;
      b += 2 * half;
      rows -= half;
    }
  }
  const uint64_t r0 = rows > 4 ? rows / 2 : rows, c0 = cols > 4 ? cols / 2 : cols;
  leaf<op>(r0, c0, a, lda, b, ldb, s);
  if (c0 < cols) leaf<op>(r0, cols - c0, a + 2 * c0, lda, b + 2 * c0 * ldb, ldb, s);
  if (r0 < rows) {
    const double* a1 = a + 2 * r0 * lda;
    double* b1 = b + 2 * r0;
    leaf<op>(rows - r0, c0, a1, lda, b1, ldb, s);
    if (c0 < cols) leaf<op>(rows - r0, cols - c0, a1 + 2 * c0, lda, b1 + 2 * c0 * ldb, ldb, s);
  }
}

// ---- Doubles ----------------------------------------------------------------

void real_copy_rows(uint64_t rows, uint64_t cols, double alpha, bool unit, const double* a,
                    uint64_t lda, double* b, uint64_t ldb) {
  for (uint64_t i = 0; i < rows; ++i, a += lda, b += ldb) {
    if (unit) {
      for (uint64_t j = 0; j < cols; ++j) b[j] = a[j];
    } else {
      for (uint64_t j = 0; j < cols; ++j) b[j] = alpha * a[j];
    }
  }
}

void real_transpose_scaled(uint64_t rows, uint64_t cols, double alpha, const double* a,
                           uint64_t lda, double* b, uint64_t ldb) {
  while (rows > 4 || cols > 4) {
    if (rows <= cols) {
      const uint64_t half = cols / 2;
      real_transpose_scaled(rows, half, alpha, a, lda, b, ldb);
      a += half;
      b += half * ldb;
      cols -= half;
    } else {
      const uint64_t half = rows / 2;
      real_transpose_scaled(half, cols, alpha, a, lda, b, ldb);
      a += half * lda;
      b += half;
      rows -= half;
    }
  }
  for (uint64_t i = 0; i < rows; ++i) {
    for (uint64_t j = 0; j < cols; ++j) b[j * ldb + i] = alpha * a[i * lda + j];
  }
}

// One 4 x 4 square of doubles, moved through registers without arithmetic.
inline void real_square4(const double* a, uint64_t lda, double* b, uint64_t ldb) {
#if TQS_AVX
  C2 r0 = load2(a), r1 = load2(a + lda), r2 = load2(a + 2 * lda), r3 = load2(a + 3 * lda);
  C2 t0 = interleave_lo(r0, r1), t1 = interleave_hi(r0, r1);
  C2 t2 = interleave_lo(r2, r3), t3 = interleave_hi(r2, r3);
  store2(b, lanes_lo(t0, t2));
  store2(b + ldb, lanes_lo(t1, t3));
  store2(b + 2 * ldb, lanes_hi(t0, t2));
  store2(b + 3 * ldb, lanes_hi(t1, t3));
#else
  for (uint64_t p = 0; p < 4; p += 2) {
    for (uint64_t q = 0; q < 4; q += 2) {
      C1 x = load1(a + p * lda + q), y = load1(a + (p + 1) * lda + q);
      store1(b + q * ldb + p, interleave_lo(x, y));
      store1(b + (q + 1) * ldb + p, interleave_hi(x, y));
    }
  }
#endif
}

// Tile edge of the unit-scale real transposition: a tile of A and its image
// in B together stay well inside the first-level cache.
constexpr uint64_t kRealTile = 16;

void real_tile(uint64_t rows, uint64_t cols, const double* a, uint64_t lda, double* b,
               uint64_t ldb) {
  uint64_t i = 0;
  for (; i + 4 <= rows; i += 4) {
    uint64_t j = 0;
    for (; j + 4 <= cols; j += 4) real_square4(a + i * lda + j, lda, b + j * ldb + i, ldb);
    for (; j < cols; ++j) {
      for (uint64_t r = i; r < i + 4; ++r) b[j * ldb + r] = a[r * lda + j];
    }
  }
  for (; i < rows; ++i) {
    for (uint64_t j = 0; j < cols; ++j) b[j * ldb + i] = a[i * lda + j];
  }
}

// Unit-scale transposition of doubles: halving as above down to tiles of at
// most kRealTile x kRealTile, each moved in 4 x 4 register squares.
void real_transpose_unit(uint64_t rows, uint64_t cols, const double* a, uint64_t lda, double* b,
                         uint64_t ldb) {
  while (rows > kRealTile || cols > kRealTile) {
    if (rows <= cols) {
      const uint64_t half = cols / 2;
      real_transpose_unit(rows, half, a, lda, b, ldb);
      a += half;
      b += half * ldb;
      cols -= half;
    } else {
      const uint64_t half = rows / 2;
      real_transpose_unit(half, cols, a, lda, b, ldb);
      a += half * lda;
      b += half;
      rows -= half;
    }
  }
  real_tile(rows, cols, a, lda, b, ldb);
}

typedef void (*Kernel)(uint64_t rows, uint64_t cols, const double* a, uint64_t lda, double* b,
                       uint64_t ldb, const Alpha& s);
// Indexed by Op.
const Kernel kCopies[] = {copy_rows<MOVE>, copy_rows<CONJ_MOVE>, copy_rows<SCALE>,
                          copy_rows<CONJ_SCALE>};
const Kernel kTransposes[] = {transpose<MOVE>, transpose<CONJ_MOVE>, transpose<SCALE>,
                              transpose<CONJ_SCALE>};

}  // namespace

void complex_matrix_copy(char ordering, char trans, uint64_t rows, uint64_t cols, double alpha_re,
                         double alpha_im, const double* a, uint64_t lda, double* b, uint64_t ldb) {
  const int order = fold(ordering), t = fold(trans);
  if (order != 'R' && order != 'C') return;
  if (t != 'N' && t != 'T' && t != 'R' && t != 'C') return;
  if (order == 'C') {
    const uint64_t r = rows;
    rows = cols;
    cols = r;
  }
  if (rows == 0 || cols == 0) return;
  Alpha s;
  s.one = set1(alpha_re, alpha_im);
#if TQS_AVX
  s.two = set2(alpha_re, alpha_im, alpha_re, alpha_im);
#endif
  const bool unit = alpha_re == 1.0 && alpha_im == 0.0;
  const bool conjugate = t == 'R' || t == 'C';
  const int op = unit ? (conjugate ? CONJ_MOVE : MOVE) : (conjugate ? CONJ_SCALE : SCALE);
  (t == 'N' || t == 'R' ? kCopies : kTransposes)[op](rows, cols, a, lda, b, ldb, s);
}

void real_matrix_copy(char ordering, char trans, uint64_t rows, uint64_t cols, double alpha,
                      const double* a, uint64_t lda, double* b, uint64_t ldb) {
  const int order = fold(ordering), t = fold(trans);
  if (order != 'R' && order != 'C') return;
  if (t != 'N' && t != 'T' && t != 'R' && t != 'C') return;
  if (order == 'C') {
    const uint64_t r = rows;
    rows = cols;
    cols = r;
  }
  if (rows == 0 || cols == 0) return;
  const bool unit = alpha == 1.0;
  if (t == 'N' || t == 'R') {
    real_copy_rows(rows, cols, alpha, unit, a, lda, b, ldb);
  } else if (unit) {
    real_transpose_unit(rows, cols, a, lda, b, ldb);
  } else {
    real_transpose_scaled(rows, cols, alpha, a, lda, b, ldb);
  }
}

TQS_LEVEL_END
