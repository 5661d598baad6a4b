// Roots of unity for the general-length engines, built from the octant and
// half-period symmetries so that the error does not grow with the length.
#pragma once
#include <cstdint>

#include "engine/level.h"

TQS_LEVEL_BEGIN

// w[2k], w[2k+1] = cos(2*pi*k/n), -sin(2*pi*k/n) for k = 0..n-1.
void root_table(double* w, int64_t n);
// One root: cos(2*pi*k/n) and sin(2*pi*k/n), any integer k.
void root_cos_sin(int64_t k, int64_t n, double* c, double* s);

TQS_LEVEL_END
