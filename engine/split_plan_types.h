// Plan records of the split-storage strategies (separate real and imaginary
// arrays). Level-independent plain data, so that tests can read what a
// commit decided.
#pragma once
#include <cstdint>

#include "engine/descriptor.h"
#include "engine/plan_types.h"

namespace tqs {

// One axis, one list of transforms.
struct SplitOneAxisPlan {
  PlanRecord* plan;        // SplitComplexPlan of the axis length
  int64_t length;
  int32_t mode;            // scaling mode the plan was made with
  int32_t option;          // always 0
  int64_t work_size;       // bytes one plan execution needs
  int64_t count;
  int64_t input_stride;
  int64_t output_stride;
  int64_t input_distance;
  int64_t output_distance;
  double forward_scale;    // still to apply after the plan
  double backward_scale;
  int64_t block;           // transforms gathered together
  int64_t padded;          // leading dimension of the gather buffer (1: no buffer)
  int64_t team;            // threads asked of the team runner
};

// One axis with several transforms records: the outermost record is looped
// here, the rest goes to the inner descriptor.
struct SplitBatchPlan {
  int64_t outer_length;
  int64_t outer_input_distance;
  int64_t outer_output_distance;
  EngineDescriptor* inner;
};

// Several axes: one inner descriptor per axis, run in axis order.
struct SplitMultiAxisPlan {
  int32_t count;
  EngineDescriptor** axes;
};

}  // namespace tqs
