// Whole-transform paths of one long complex transform on a team: the
// four-step transform (parallel/four_step.h) and the large power-of-two
// kernels (parallel/large_pow2.h).
#pragma once
#include "engine/descriptor.h"
#include "engine/level.h"

TQS_LEVEL_BEGIN

// Tries the paths in their order and installs the first that takes the
// descriptor (large_forward / large_backward and their state); leaves the
// whole-transform slots empty when none does. Never fails the commit.
// Which path took it shows in the committed state: an armed four-step plan
// (commit_hook_armed) or a kernel's table area (large_kernel_table).
void try_whole_transform_paths(EngineDescriptor* d);

TQS_LEVEL_END
