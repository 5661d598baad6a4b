// Execution side of committed complex-domain descriptors under the general
// strategy: compute entries, the axis routines of complex axes, and the
// serial batch kernel that takes batches, strides and several axes down to
// one contiguous vector at a time. The complex planner installs these at
// commit; the real planner borrows the ordered axis routines for the outer
// axes of multi-axis real transforms.
#pragma once
#include <cstdint>

#include "engine/descriptor.h"
#include "engine/level.h"
#include "engine/plan_types.h"
#include "tqs_dfti.h"

TQS_LEVEL_BEGIN

// Whether both pointers are 16-byte aligned (what the kernels of 17..63
// points need).
inline bool aligned16(const void* a, const void* b) {
  return ((reinterpret_cast<uintptr_t>(a) | reinterpret_cast<uintptr_t>(b)) & 15) == 0;
}

// Compute entries. Interleaved storage: (input[, output]); split storage:
// (input re, input im[, output re, output im]).
long complex_compute_forward_inplace(EngineDescriptor* d, void* a1, void* a2, void* a3, void* a4);
long complex_compute_backward_inplace(EngineDescriptor* d, void* a1, void* a2, void* a3, void* a4);
long complex_compute_forward_out(EngineDescriptor* d, void* a1, void* a2, void* a3, void* a4);
long complex_compute_backward_out(EngineDescriptor* d, void* a1, void* a2, void* a3, void* a4);

// Axis routines of one contiguous interleaved vector of the axis's length;
// input and output may coincide. They apply the axis's active scale and
// answer a public status.
long complex_axis_ordered_forward(const double* in, double* out, EngineDescriptor* d, void* work);
long complex_axis_ordered_backward(const double* in, double* out, EngineDescriptor* d, void* work);
// count such vectors through an axis whose routines are the ordered ones,
// the t-th from in + t * in_dist to out + t * out_dist (doubles), unscaled
// axes only.
long complex_axis_ordered_batch(const double* in, int64_t in_dist, double* out, int64_t out_dist,
                                int64_t count, EngineDescriptor* d, void* work, bool forward);
// The straight-line kernel of the axis's length (2..64) on 16-byte aligned
// data; anything else goes through the ordered routine.
long complex_axis_kernel_forward(const double* in, double* out, EngineDescriptor* d, void* work);
long complex_axis_kernel_backward(const double* in, double* out, EngineDescriptor* d, void* work);
// The kernel those routines call (16-byte aligned vectors), or null when the
// axis runs another routine.
CplxKernelScaled complex_axis_kernel(const EngineDescriptor* d, bool forward);
// Split storage: the same on separate real and imaginary arrays.
long split_axis_forward(const double* in_re, const double* in_im, double* out_re, double* out_im,
                        EngineDescriptor* d, void* work);
long split_axis_backward(const double* in_re, const double* in_im, double* out_re,
                         double* out_im, EngineDescriptor* d, void* work);

// Chooses the routines of one complex axis and makes its plan (the member's
// complex_plan or split_plan, axis_work_size). Answers a public status: 9
// for a length beyond the plan limits.
long plan_complex_axis(EngineDescriptor* member);

// The serial batch kernel: count transforms of the descriptor one after
// another on the calling thread, arrays already displaced by the offsets
// (output equal to input in place). Answers the first failing status.
long complex_serial_batch(EngineDescriptor* d, bool forward, const double* input, double* output,
                          int64_t count, void* work);
// One pass of a multi-axis transform: the vectors first..last-1 of axis k
// (numbered as the pass enumerates them; complex_axis_pass_vectors gives the
// count). Axis 0 reads the input; later axes work in place on the output.
int64_t complex_axis_pass_vectors(EngineDescriptor* head, int k);
long complex_axis_pass(EngineDescriptor* head, int k, bool forward, const double* input,
                       double* output, int64_t first, int64_t last, void* work);

long split_serial_batch(EngineDescriptor* d, bool forward, const double* in_re,
                        const double* in_im, double* out_re, double* out_im, int64_t count,
                        void* work);

TQS_LEVEL_END
