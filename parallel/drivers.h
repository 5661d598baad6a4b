// Threaded compute drivers: how one compute call is shared among the
// threads of a team. They run the serial kernels of kernels/ on each
// thread's share, each thread in its own slice of the work buffer.
#pragma once
#include "engine/descriptor.h"
#include "engine/level.h"

TQS_LEVEL_BEGIN

// Complex interleaved data, arrays displaced by the offsets (output equal to
// input in place).
long complex_threaded_driver(EngineDescriptor* d, bool forward, bool inplace, const double* input,
                             double* output);

// Real data, arrays displaced by the offsets; the batch is shared when the
// transforms of different threads cannot touch the same memory.
long real_threaded_driver(EngineDescriptor* d, bool forward, const double* input, double* output);

// How many threads a region of the descriptor's call may use.
int driver_team_size(const EngineDescriptor* d);

// Thread k's share [start, start + count) of n pieces among a team of t,
// in contiguous runs of ceil(n / t).
void block_partition(int64_t n, int k, int t, int64_t* start, int64_t* count);

// One long transform through the installed whole-transform entry
// (parallel/whole_transform.cpp).
long whole_transform(EngineDescriptor* d, bool forward, const double* input, double* output);

TQS_LEVEL_END
