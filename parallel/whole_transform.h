// Whole-transform paths of one long complex transform on a team: the
// four-step transform and the large power-of-two kernels.
#pragma once
#include "engine/descriptor.h"
#include "engine/level.h"

TQS_LEVEL_BEGIN

// Tries the paths in their order and installs the first that takes the
// descriptor (large_forward / large_backward and their state); leaves the
// whole-transform slots empty when none does. Never fails the commit.
void try_whole_transform_paths(EngineDescriptor* d);

TQS_LEVEL_END
