// Execution of the split-storage one-axis plan: how its transforms are
// blocked and shared by a team, and its compute entries.
#pragma once
#include "engine/engine.h"
#include "engine/split_plan_types.h"

TQS_LEVEL_BEGIN

// Block size, padded length and team request of a plan whose length, count,
// strides and distances are set; the request never exceeds thread_count.
void split_one_axis_blocking(SplitOneAxisPlan* p, bool inplace, int32_t thread_count);

// In place: (re, im); out of place: (in re, in im, out re, out im).
long split_one_axis_forward_inplace(EngineDescriptor* d, void* a1, void* a2, void* a3, void* a4);
long split_one_axis_backward_inplace(EngineDescriptor* d, void* a1, void* a2, void* a3, void* a4);
long split_one_axis_forward_out(EngineDescriptor* d, void* a1, void* a2, void* a3, void* a4);
long split_one_axis_backward_out(EngineDescriptor* d, void* a1, void* a2, void* a3, void* a4);

TQS_LEVEL_END
