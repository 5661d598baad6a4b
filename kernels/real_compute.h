// Execution side of a committed real-domain descriptor: compute entries,
// drivers over batches and strides, per-axis routines, conjugate-even
// storage conversions and scaling. The real planner installs these at commit.
#pragma once
#include "engine/level.h"
#include "engine/descriptor.h"
#include "engine/plan_types.h"
#include "tqs_dfti.h"

TQS_LEVEL_BEGIN

// The layouts that hold the half spectrum as n/2 + 1 complex values.
inline bool cce_layout(const EngineDescriptor* d) {
  return d->conjugate_even_storage == DFTI_COMPLEX_COMPLEX ||
         d->packed_format == DFTI_PACKING_HALF_SPECTRUM;
}

// Compute entries (the in-place ones take one array, the others input, output).
long real_compute_forward_inplace(EngineDescriptor* d, void* a1, void* a2, void* a3, void* a4);
long real_compute_backward_inplace(EngineDescriptor* d, void* a1, void* a2, void* a3, void* a4);
long real_compute_forward_out(EngineDescriptor* d, void* a1, void* a2, void* a3, void* a4);
long real_compute_backward_out(EngineDescriptor* d, void* a1, void* a2, void* a3, void* a4);

// One vector: storage routine plus the descriptor's (active) scale. Answers
// a public status.
long axis_plan_forward(const double* input, double* output, EngineDescriptor* d, void* work);
long axis_plan_backward(const double* input, double* output, EngineDescriptor* d, void* work);
// The same for lengths up to 16 on one axis, without the plan layer.
long axis_short_forward(const double* input, double* output, EngineDescriptor* d, void* work);
long axis_short_backward(const double* input, double* output, EngineDescriptor* d, void* work);
long real_compute_short_forward_out(EngineDescriptor* d, void* a1, void* a2, void*, void*);
long real_compute_short_backward_out(EngineDescriptor* d, void* a1, void* a2, void*, void*);
long real_compute_short_cce_forward_out(EngineDescriptor* d, void* a1, void* a2, void*, void*);
long real_compute_short_cce_backward_out(EngineDescriptor* d, void* a1, void* a2, void*, void*);
// The same without offsets: an entry per length that calls its kernel by
// name (lengths 2..16; false for the others, which leave the entries as
// they were).
bool real_short_cce_kernel_entries(int64_t n, ComputeEntry* forward, ComputeEntry* backward);
// Whether f is a forward entry of those.
bool real_short_cce_kernel_entry(ComputeEntry f);
// The same for the even lengths whose plan's half-length transform is one
// whole kernel (AVX levels) and for the powers of two above 64 (every
// level; false for the others): conjugate-even storage in complex pairs, no
// offsets, no scale beyond the plan's own.
bool real_whole_cce_entries(const PlanRecord* plan, ComputeEntry* forward,
                            ComputeEntry* backward);
bool real_whole_cce_entry(ComputeEntry f);

// Storage routines: the real plan in permuted packed order, converted to or
// from the chosen layout. Answer plan-level codes.
int storage_permuted_forward(const double* in, double* out, const PlanRecord* plan, void* work);
int storage_permuted_backward(const double* in, double* out, const PlanRecord* plan, void* work);
int storage_sequential_forward(const double* in, double* out, const PlanRecord* plan, void* work);
int storage_sequential_backward(const double* in, double* out, const PlanRecord* plan,
                                void* work);
int storage_cce_forward(const double* in, double* out, const PlanRecord* plan, void* work);
int storage_cce_backward(const double* in, double* out, const PlanRecord* plan, void* work);

// Layout conversions of one vector of length n, in place or from in to out.
// The CCE/half-spectrum vector holds n + 2 doubles (n even) or n + 1 (odd).
void permuted_to_sequential(double* v, int64_t n);
void permuted_to_cce(double* v, int64_t n);
void sequential_to_permuted(const double* in, double* out, int64_t n);
void cce_to_permuted(const double* in, double* out, int64_t n);

// Whole-vector kernels with unit strides for the powers of two up to 64 (32
// and 64 at the AVX levels) and, in the conjugate-even layout (cce), the
// other even lengths from 18 to 62: they take the axis routine's place; no
// plan, no storage routine. Null when this level has none for n.
AxisRoutine real_whole_vector_forward(int64_t n, bool cce);
AxisRoutine real_whole_vector_backward(int64_t n, bool cce);
// The straight-line kernel (in, out) that the axis routine of a one-axis
// descriptor in the conjugate-even layout runs unscaled (the short and the
// whole-vector routines), or null.
CplxKernel real_cce_kernel(const EngineDescriptor* d, bool forward);

// Whether the contiguous vectors of a one-axis descriptor in the
// conjugate-even layout can run as one batch of its power-of-two plan
// (unscaled, plan above 64 points, the axis's storage routine its own), and
// that batch: count vectors, the t-th from x + t * xd to y + t * yd
// (doubles). Each transform's closing pass fetches the next one's input.
bool real_pow2_cce_batch_fits(const EngineDescriptor* d, bool forward);
long real_pow2_cce_batch(EngineDescriptor* d, bool forward, const double* x, int64_t xd, double* y,
                         int64_t yd, int64_t count, void* work);

// One transform over several axes (CCE or half-spectrum layout), arrays
// displaced to the transform; answers a public status.
long real_multi_axis_transform(EngineDescriptor* head, bool forward, const double* x, double* y,
                               void* work);

// The multi-axis driver of the descriptor's table: the planner never asks
// for it (several axes go through real_multi_axis_transform, which knows
// the direction); it answers "not implemented".
long real_multi_axis_driver(const double* input, double* output, int64_t in_stride,
                            int64_t out_stride, int64_t next_in_stride, int64_t next_out_stride,
                            EngineDescriptor* d, void* work);

// Serial multi-transform driver over count vectors of the batch; arrays are
// already displaced by the offsets (and by the first vector's distance).
long real_serial_driver(EngineDescriptor* d, bool forward, const double* input, double* output,
                        int64_t count, void* work);

// Elements of one side as the drivers count them: doubles per element of
// the call's input (output) side, 2 on the complex side of CCE storage.
inline int64_t real_input_unit(const EngineDescriptor* d, bool forward) {
  return !forward && d->conjugate_even_storage == DFTI_COMPLEX_COMPLEX ? 2 : 1;
}
inline int64_t real_output_unit(const EngineDescriptor* d, bool forward) {
  return forward && d->conjugate_even_storage == DFTI_COMPLEX_COMPLEX ? 2 : 1;
}

// Plan-level scaling: count doubles by scale; -8 null array, -6 count < 1.
int real_scale_plan_level(double scale, double* x, int64_t count);
// Descriptor-level scaling, arguments by reference: x[i*inc] *= alpha.
void real_scale_descriptor_level(const int64_t* count, const double* alpha, double* x,
                                 const int64_t* inc);

// Slots of user_thread_slots (one word per declared user thread, 0 = free).
// take answers the slot index, or -1 when every slot is busy.
int take_user_thread_slot(EngineDescriptor* d);
void return_user_thread_slot(EngineDescriptor* d, int slot);

TQS_LEVEL_END
