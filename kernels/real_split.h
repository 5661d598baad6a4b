// The step between a complex transform of h = n/2 points and the real
// transform of n points. Forward: z_k = x_2k + i*x_2k+1 has been transformed
// in place (Z = DFT_h(z)); the step turns Z into the packed real spectrum
// (R_0, R_h, R_1, I_1, ..., R_h-1, I_h-1). Backward: the inverse step turns a
// packed spectrum into h complex values whose backward complex transform of
// length h is n*x, read as interleaved pairs (x_2k, x_2k+1).
#pragma once
#include <cstdint>

#include "engine/level.h"

TQS_LEVEL_BEGIN

// Doubles in one table for length n (n even, n >= 2).
int64_t real_split_table_doubles(int64_t n);
// Fill a table of real_split_table_doubles(n) doubles, one per direction.
void real_split_forward_table(double* table, int64_t n);
void real_split_backward_table(double* table, int64_t n);

// In place on n doubles. Answers 0, or PLAN_NULL_POINTER / PLAN_BAD_LENGTH.
int real_split_forward(double* data, int64_t n, const double* forward_table);
// in and out hold n doubles each and may coincide; the value at frequency
// n/2 is read from in[nyquist_at] (1 in the packed order, n when the
// spectrum is stored as n/2+1 complex values; in then holds n+1 doubles).
int real_split_backward(const double* in, double* out, int64_t n, const double* backward_table,
                        int64_t nyquist_at);

TQS_LEVEL_END
