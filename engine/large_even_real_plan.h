// Plan record of the large even real strategy: a real transform of length
// N = P x Q (Q even) computed as a P x Q two-dimensional problem by one team.
// Level-independent plain data, so that tests can read what a commit decided.
#pragma once
#include <cstdint>

#include "engine/plan_types.h"

namespace tqs {

struct LargeEvenRealPlan {
  int32_t packed_format;
  int32_t placement;
  int64_t p;  // complex transforms of length P ...
  int64_t q;  // ... after real transforms of length Q
  // 2Q + P complex values c(k) = exp(-i pi k^2 / (2N)); chirp_centre points
  // at k = 0 and is valid for k = -(Q - 1) ... Q + P. The twiddle between
  // the passes, exp(-2 pi i k1 p / N), is c(p + k1) conj(c(p - k1)).
  double* chirp;
  double* chirp_centre;
  // The spectra of length Q between the two passes: Q/2 complex values for
  // each p, column k1 = 0 holding R_0 and R_Q/2 (permuted packing). The
  // forward transform keeps them as Q/2 rows (one per k1) of
  // complex_stride values, the backward transform as P rows (one per p) of
  // row_stride values: either way the second pass reads whole rows.
  double* spectra;
  // The members' private areas, slice_bytes apart.
  char* member_area;
  PlanRecord* real_forward_plan;
  PlanRecord* real_backward_plan;
  PlanRecord* complex_plan;
  int64_t real_work_size;
  int64_t complex_work_size;
  int64_t row_stride;     // complex values between the rows p of spectra
  int64_t members;        // members of a team that get work (each has a slice)
  int64_t slice_bytes;
  int64_t block_bytes;    // bytes of a slice for the block; the plans work behind it
  int64_t columns;        // values p (columns of the input) a member transforms at once
  int64_t rows;           // values k1 a member transforms at once
  int64_t real_stride;    // doubles between the rows a member gathers
  int64_t complex_stride; // complex values between the rows k1 of spectra or of a block
};

}  // namespace tqs
