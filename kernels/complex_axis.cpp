// Axis routines of complex axes: one contiguous vector through the axis's
// plan or straight-line kernel, with the axis's scale, and the planner's
// choice between them.
#include <cstdint>

#include "engine/general.h"
#include "engine/plan.h"
#include "kernels/codelets.h"
#include "kernels/complex_compute.h"
#include "kernels/real_compute.h"
#include "parallel/four_step.h"

TQS_LEVEL_BEGIN
namespace {

void scale_doubles(double* x, int64_t count, double scale) {
  if (scale == 1.0) return;
  const int64_t inc = 1;
  real_scale_descriptor_level(&count, &scale, x, &inc);
}

// The straight-line kernel of length n, or null. The powers of two have
// theirs among the codelets of their own engine (which any alignment suits).
CplxKernelScaled length_kernel(int64_t n, bool forward) {
  if (n < 2 || n > 64) return nullptr;
  if (is_power_of_two(n)) {
    const int k = __builtin_ctzll(static_cast<uint64_t>(n));
    return (forward ? codelet_pow2_complex_forward_scaled : codelet_pow2_complex_backward_scaled)[k];
  }
  return (forward ? complex_length_forward : complex_length_backward)[n];
}

}  // namespace

CplxKernelScaled complex_axis_kernel(const EngineDescriptor* d, bool forward) {
  if (d->axis_plan_forward != complex_axis_kernel_forward) return nullptr;
  return length_kernel(d->length, forward);
}

long complex_axis_ordered_forward(const double* in, double* out, EngineDescriptor* d, void* work) {
  const int code = complex_plan_forward(in, out, d->complex_plan, work);
  scale_doubles(out, 2 * d->length, d->active_forward_scale);
  return translate_plan_status(code);
}

long complex_axis_ordered_backward(const double* in, double* out, EngineDescriptor* d, void* work) {
  const int code = complex_plan_backward(in, out, d->complex_plan, work);
  scale_doubles(out, 2 * d->length, d->active_backward_scale);
  return translate_plan_status(code);
}

long complex_axis_ordered_batch(const double* in, int64_t in_dist, double* out, int64_t out_dist,
                                int64_t count, EngineDescriptor* d, void* work, bool forward) {
  return translate_plan_status(
      complex_plan_batch(in, in_dist, out, out_dist, count, d->complex_plan, work, forward));
}

// The kernels fold the scale into their stores, so they always multiply;
// misaligned vectors take the plan, which gives the same transform.
long complex_axis_kernel_forward(const double* in, double* out, EngineDescriptor* d, void* work) {
  if (!aligned16(in, out)) return complex_axis_ordered_forward(in, out, d, work);
  length_kernel(d->length, true)(in, out, d->active_forward_scale);
  return 0;
}

long complex_axis_kernel_backward(const double* in, double* out, EngineDescriptor* d, void* work) {
  if (!aligned16(in, out)) return complex_axis_ordered_backward(in, out, d, work);
  length_kernel(d->length, false)(in, out, d->active_backward_scale);
  return 0;
}

long split_axis_forward(const double* in_re, const double* in_im, double* out_re, double* out_im,
                        EngineDescriptor* d, void* work) {
  const int code = split_plan_forward(in_re, in_im, out_re, out_im, d->split_plan, work);
  scale_doubles(out_re, d->length, d->active_forward_scale);
  scale_doubles(out_im, d->length, d->active_forward_scale);
  return translate_plan_status(code);
}

long split_axis_backward(const double* in_re, const double* in_im, double* out_re,
                         double* out_im, EngineDescriptor* d, void* work) {
  const int code = split_plan_backward(in_re, in_im, out_re, out_im, d->split_plan, work);
  scale_doubles(out_re, d->length, d->active_backward_scale);
  scale_doubles(out_im, d->length, d->active_backward_scale);
  return translate_plan_status(code);
}

long plan_complex_axis(EngineDescriptor* m) {
  const int64_t n = m->length;
  // One long vector may run as a decomposition into shorter plans: the way
  // past the plan limits, and the way to transform without a scratch vector
  // of its own length.
  if (try_four_step_axis(m) == 0) return 0;
  if (!axis_within_limits(n)) return DFTI_STATUS_DIMENSION_TOO_LARGE;
  int64_t work = 0;
  int code;
  m->axis_needs_plan = 1;
  if (m->complex_storage == DFTI_REAL_REAL) {
    code = split_plan_create(&m->split_plan, n, SCALE_NONE, 0);
    if (code == PLAN_OK) code = split_plan_work_size(m->split_plan, &work);
    m->split_axis_forward = split_axis_forward;
    m->split_axis_backward = split_axis_backward;
  } else {
    code = complex_plan_create(&m->complex_plan, n, SCALE_NONE, 0);
    if (code == PLAN_OK) code = complex_plan_work_size(m->complex_plan, &work);
    // The permuted output order is the natural one: the ordered routines
    // serve both orders, and backward accepts whatever forward produced.
    m->axis_plan_forward = complex_axis_ordered_forward;
    m->axis_plan_backward = complex_axis_ordered_backward;
    if (m->ordering == DFTI_ORDER_NATURAL && length_kernel(n, true) != nullptr &&
        length_kernel(n, false) != nullptr) {
      // The plan stays for misaligned vectors.
      m->axis_plan_forward = complex_axis_kernel_forward;
      m->axis_plan_backward = complex_axis_kernel_backward;
    }
  }
  if (code != PLAN_OK) return translate_plan_status(code);
  m->axis_work_size = work;
  return 0;
}

TQS_LEVEL_END
