// One-dimensional plans: creation, work size, execution, destruction.
// Every function answers a plan-level code (engine/plan_types.h).
#pragma once
#include "engine/level.h"
#include "engine/descriptor.h"
#include "engine/plan_types.h"

TQS_LEVEL_BEGIN

int complex_plan_create(PlanRecord** out, int64_t n, int mode, int hint);
int split_plan_create(PlanRecord** out, int64_t n, int mode, int hint);
int real_plan_create(PlanRecord** out, int64_t n, int mode, int hint);

int complex_plan_work_size(const PlanRecord* plan, int64_t* size_out);
// What a complex plan of n points will at least ask for as work, known
// without building it: a strategy with a fixed work area declines a length
// here instead of paying for tables it would then throw away.
int64_t complex_plan_least_work(int64_t n);
int split_plan_work_size(const PlanRecord* plan, int64_t* size_out);
int real_plan_work_size(const PlanRecord* plan, int64_t* size_out);

int complex_plan_destroy(PlanRecord* plan);
int split_plan_destroy(PlanRecord* plan);
int real_plan_destroy(PlanRecord* plan);

// Interleaved complex: n (re, im) pairs. Input and output may coincide.
// work may be null (the routine then allocates and frees its own).
int complex_plan_forward(const double* in, double* out, const PlanRecord* plan, void* work);
int complex_plan_backward(const double* in, double* out, const PlanRecord* plan, void* work);
// count of them, the t-th from in + t * in_dist to out + t * out_dist
// (doubles): one call for a batch of contiguous vectors, so that each
// transform's input can be fetched while the one before it computes.
int complex_plan_batch(const double* in, int64_t in_dist, double* out, int64_t out_dist,
                       int64_t count, const PlanRecord* plan, void* work, bool forward);
int split_plan_forward(const double* in_re, const double* in_im, double* out_re, double* out_im,
                       const PlanRecord* plan, void* work);
int split_plan_backward(const double* in_re, const double* in_im, double* out_re,
                        double* out_im, const PlanRecord* plan, void* work);
// Real: n doubles in, n doubles out in permuted packed order (and back).
int real_plan_forward(const double* in, double* out, const PlanRecord* plan, void* work);
int real_plan_backward(const double* in, double* out, const PlanRecord* plan, void* work);
// The same from a spectrum of n/2+1 complex values (n+2 doubles, the
// imaginary parts of the first and, for even n, the last ignored).
int real_plan_backward_cce(const double* in, double* out, const PlanRecord* plan, void* work);

// Maps the descriptor's scales to a plan scaling mode; 0 when none fits.
int plan_scale_mode(const EngineDescriptor* d, int* mode_out);

TQS_LEVEL_END
