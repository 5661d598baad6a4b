// Large power-of-two kernels: one out-of-place complex transform of 2^10 to
// 2^26 points in two parallel passes of P static chunks (P = 8, 4 or 2),
// one kernel per length, chunk count and direction, named
// tqs_dft_dft_<N>_<P>p_fwd / _inv, each with a preparation that builds its
// table area at commit.
#pragma once
#include <cstdint>

#include "engine/descriptor.h"
#include "engine/level.h"

TQS_LEVEL_BEGIN

constexpr int LARGE_MIN_LOG2 = 10;
constexpr int LARGE_MAX_LOG2 = 26;

// The chunk count for the descriptor's length, thread count and dynamic
// adjustment (the one sampled at commit).
int large_kernel_chunks(const EngineDescriptor* d);

// Chooses the kernel, builds its table area into large_kernel_table and
// installs it as large_forward / large_backward. 0, or 1 when the table
// cannot be allocated (nothing is installed then).
long select_large_kernel(EngineDescriptor* d);

TQS_LEVEL_END
