// Out-of-place matrix copy and transposition, B := alpha op(A), for the
// strategies that reorder data between passes. A and B must not overlap.
//   ordering: 'R' row-major, 'C' column-major (rows and cols exchanged);
//   trans:    'N' copy, 'T' transpose, 'R' conjugate, 'C' conjugate transpose;
// either case. Any other character leaves B untouched. A[i][j] lies at
// element i*lda + j, B[i][j] at i*ldb + j; only those elements are touched.
#pragma once
#include <cstdint>

#include "engine/level.h"

TQS_LEVEL_BEGIN

// Complex doubles (re, im): 16 bytes per element.
void complex_matrix_copy(char ordering, char trans, uint64_t rows, uint64_t cols, double alpha_re,
                         double alpha_im, const double* a, uint64_t lda, double* b, uint64_t ldb);

// Doubles; conjugation means nothing here, so 'R' copies and 'C' transposes.
void real_matrix_copy(char ordering, char trans, uint64_t rows, uint64_t cols, double alpha,
                      const double* a, uint64_t lda, double* b, uint64_t ldb);

TQS_LEVEL_END
