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
  // forward transform keeps them in tiles, one per block of `rows` columns
  // k1 (tile t: P rows of `rows` values from t * rows * P), so that its
  // second pass reads each tile in one sweep; the backward transform keeps
  // them as P rows of row_stride complex values.
  double* spectra;
  // The members' private areas, slice_bytes apart.
  char* member_area;
  PlanRecord* real_forward_plan;
  PlanRecord* real_backward_plan;
  PlanRecord* complex_plan;
  int64_t real_work_size;
  int64_t complex_work_size;
  int64_t row_stride;     // complex values between rows of spectra
  int64_t members;        // members of a team that get work (each has a slice)
  int64_t slice_bytes;
  int64_t block_bytes;    // the start of a slice that holds the gathered rows
  int64_t columns;        // columns of the input a member gathers at once
  int64_t rows;           // columns of spectra a member transforms at once
  int64_t real_stride;    // doubles between the rows a member gathers
  int64_t complex_stride; // complex values between the rows of a member's block
};

}  // namespace tqs
