// In-place transposition of a square matrix of complex doubles, A := alpha A^T
// (no conjugation). Element (r, c) lies at a + 2 (r lda + c) doubles, lda >= n.
#pragma once
#include <cstdint>

#include "engine/level.h"

TQS_LEVEL_BEGIN

// Works on 4 x 4 blocks of complex elements, p and q pointing at the first
// element of a block: swaps, transposing each block, the k blocks of the
// column of blocks that starts at p (running down) with the k blocks of the
// row of blocks that starts at q (running along). When p == q (a diagonal
// block) that block is transposed in place and the rest of its column is
// swapped with the rest of its row.
typedef void (*SquareBlockKernel)(double* p, double* q, uint64_t lda, uint64_t k);

void square_block_kernel(double* p, double* q, uint64_t lda, uint64_t k);

// A := A^T with a team of tqs_domain_get_max_threads(0) threads, block rows
// dealt out cyclically. Answers 1 when it transposed, 0 when it left the
// matrix alone: base not 64-byte aligned, n or lda not a multiple of 4, or a
// team size that does not divide the n / 4 block rows.
int tqs_trans_tqs_zimatcopy_square_t_par(uint64_t n, double* a, uint64_t lda,
                                         SquareBlockKernel kernel);

// alpha points at one complex double. Unscaled matrices above 64 x 64 go to
// the parallel routine when it accepts them; everything else is done here,
// serially, one mirrored pair of elements at a time.
void tqs_trans_tqs_zimatcopy_square_t(uint64_t n, const double* alpha, double* a, uint64_t lda);

TQS_LEVEL_END
