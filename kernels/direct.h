// Direct O(n^2) transforms for odd lengths without a usable factorisation,
// on symmetric input pairs, with the exponent walked by addition only.
#pragma once
#include <cstdint>

#include "engine/level.h"

TQS_LEVEL_BEGIN

// 2n doubles: cos(2*pi*e/n) for e < n, then sin(2*pi*e/n). Null on failure.
double* direct_table_create(int64_t n);

// Odd n up to 160; in and out may coincide.
void direct_complex(const double* table, int64_t n, const double* in, double* out, bool forward);
// Odd n up to 160: n reals to the packed spectrum R_0, R_1, I_1, ... and back.
void direct_real_forward(const double* table, int64_t n, const double* in, double* out);
void direct_real_backward(const double* table, int64_t n, const double* in, double* out);

TQS_LEVEL_END
