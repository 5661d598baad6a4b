// One long complex transform as a two-dimensional problem, N = N1 x N2 with
// N1 <= N2 close to sqrt(N): N2 columns of N1 points with twiddle factors,
// then N1 rows of N2 points written back transposed into natural order.
// The two lengths run through ordinary descriptors committed for one
// thread. On a team the columns and the rows are shared among the members;
// on one thread the same decomposition serves as the axis routine of
// lengths beyond the plan limits, or of transforms that must not take
// scratch space of their own size.
#pragma once
#include <cstdint>

#include "engine/descriptor.h"
#include "engine/level.h"

TQS_LEVEL_BEGIN

// Owned by the descriptor through commit_hook_armed; four_step_release
// (commit_hook) frees it with everything it holds.
struct FourStepPlan {
  int64_t factor1;       // N1, the column length
  int64_t factor2;       // N2, the row length
  int64_t factor1_copy;
  int64_t factor2_copy;
  EngineDescriptor* small_plan;  // committed for N1
  EngineDescriptor* large_plan;  // committed for N2; small_plan when N1 == N2
  double* chirp_table;   // c(m) = exp(-i pi m^2 / 2N) at chirp_table + 2 (m + 4)
  int32_t mode;          // 1: no temporary of N elements (DFTI_SCRATCH_AVOIDED)
  double* temporary;     // mode 0 on a team: the N elements, kept between calls
};

// The smaller factor N1 of n, or 0 when n has no split (n prime or below 4).
int64_t four_step_split(int64_t n);

// Builds the plan for the descriptor's length and arms it on the
// descriptor; for a team (whole-transform entries) with mode 0 it also
// reserves the temporary. 0; FOUR_STEP_NO_SPLIT for a prime length or a
// split whose rows exceed the longest plan; 1 when
// memory runs out; a sub-descriptor's commit status otherwise. Nothing
// stays armed on failure.
constexpr long FOUR_STEP_NO_SPLIT = 102;
long four_step_plan(EngineDescriptor* d, bool team);

// The commit hook: frees the armed plan, its descriptors and its table.
void four_step_release(EngineDescriptor* d);

// Whole-transform entries (large_forward / large_backward): one team over
// columns and rows. The last argument is not used.
long four_step_forward(const double* input, double* output, EngineDescriptor* d, void* area);
long four_step_backward(const double* input, double* output, EngineDescriptor* d, void* area);

// The single-thread axis path of one long unit-stride vector. Takes the
// axis (routines, plan, axis_work_size) and answers 0 when the length is
// long enough and either beyond the plan limits or asked to avoid scratch;
// otherwise leaves it untouched and answers non-zero.
long try_four_step_axis(EngineDescriptor* m);

// In-place transposition of a rows x cols complex matrix (rows <= cols) into
// cols x rows. 1 when memory for the bookkeeping runs out (the matrix is then
// unchanged). team: large squares may be shared among a team.
long transpose_in_place(double* a, int64_t rows, int64_t cols, bool team);

TQS_LEVEL_END
