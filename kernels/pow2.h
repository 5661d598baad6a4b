// Power-of-two plans (tags 7 complex, 9 real): the in-cache engine for
// 2^7..2^17 points, a blocked engine above, straight-line kernels below.
#pragma once
#include "engine/level.h"
#include "engine/level_api.h"
#include "engine/plan_types.h"

TQS_LEVEL_BEGIN

struct Pow2Plan;  // layout private to the power-of-two engine

// log2n in 0..27, else PLAN_BAD_EXPONENT; mode as for the general plans.
int pow2_complex_plan_create(Pow2Plan** out, int log2n, int mode, int hint);
int pow2_real_plan_create(Pow2Plan** out, int log2n, int mode, int hint);
int pow2_plan_work_size(const Pow2Plan* plan, int64_t* size_out);
int pow2_plan_destroy(Pow2Plan* plan);
// Complex: 2^log2n interleaved pairs. Real: permuted packed order.
int pow2_complex_forward(const double* in, double* out, const Pow2Plan* plan, void* work);
int pow2_complex_backward(const double* in, double* out, const Pow2Plan* plan, void* work);
int pow2_real_forward(const double* in, double* out, const Pow2Plan* plan, void* work);
int pow2_real_backward(const double* in, double* out, const Pow2Plan* plan, void* work);
// Backward from a spectrum whose middle frequency sits at in[nyquist_at]
// (see real_split_backward); lengths up to 64 take the packed order only.
int pow2_real_backward_at(const double* in, double* out, const Pow2Plan* plan, void* work,
                          int64_t nyquist_at);
// The longest length whose real plan reads the packed order only.
constexpr int64_t POW2_REAL_PACKED_ONLY = 64;


// The same entries behind opaque pointers, for level-independent callers.
extern const Pow2Api pow2_api;

TQS_LEVEL_END
