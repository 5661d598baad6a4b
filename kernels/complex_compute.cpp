// Compute entries of complex descriptors under the general strategy: the
// offsets, the single-vector shortcut, the user-thread slots, and the
// choice between the whole-transform kernels, the threaded drivers and the
// serial batch kernel.
#include <cstdint>

#include "engine/engine.h"
#include "kernels/complex_compute.h"
#include "kernels/real_compute.h"
#include "parallel/drivers.h"

TQS_LEVEL_BEGIN
namespace {

// The caller's arrays, displaced by the offsets. In place the output is the
// input: the configured output strides are ignored in place, and so is the
// output offset.
struct Arrays {
  const double* x_re;
  const double* x_im;  // split storage only
  double* y_re;
  double* y_im;
};

bool split_storage(const EngineDescriptor* d) { return d->complex_storage == DFTI_REAL_REAL; }

long displace(const EngineDescriptor* d, bool inplace, void* a1, void* a2, void* a3, void* a4,
              Arrays* a) {
  if (split_storage(d)) {
    void* y_re = inplace ? a1 : a3;
    void* y_im = inplace ? a2 : a4;
    if (a1 == nullptr || a2 == nullptr || y_re == nullptr || y_im == nullptr) {
      return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
    }
    const int64_t out = inplace ? d->input_offset : d->output_offset;
    a->x_re = static_cast<const double*>(a1) + d->input_offset;
    a->x_im = static_cast<const double*>(a2) + d->input_offset;
    a->y_re = static_cast<double*>(y_re) + out;
    a->y_im = static_cast<double*>(y_im) + out;
    return 0;
  }
  void* y = inplace ? a1 : a2;
  if (a1 == nullptr || y == nullptr) return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  a->x_re = static_cast<const double*>(a1) + 2 * d->input_offset;
  a->x_im = nullptr;
  a->y_re = inplace ? const_cast<double*>(a->x_re) : static_cast<double*>(y) + 2 * d->output_offset;
  a->y_im = nullptr;
  return 0;
}

long one_vector(EngineDescriptor* d, bool forward, const Arrays& a, void* work) {
  if (split_storage(d)) {
    return (forward ? d->split_axis_forward : d->split_axis_backward)(a.x_re, a.x_im, a.y_re,
                                                                      a.y_im, d, work);
  }
  return (forward ? d->axis_plan_forward : d->axis_plan_backward)(a.x_re, a.y_re, d, work);
}

long serial(EngineDescriptor* d, bool forward, const Arrays& a, void* work) {
  if (split_storage(d)) {
    return split_serial_batch(d, forward, a.x_re, a.x_im, a.y_re, a.y_im, d->number_of_transforms,
                              work);
  }
  return complex_serial_batch(d, forward, a.x_re, a.y_re, d->number_of_transforms, work);
}

long compute(EngineDescriptor* d, bool forward, bool inplace, void* a1, void* a2, void* a3,
             void* a4) {
  Arrays a;
  const long status = displace(d, inplace, a1, a2, a3, a4, &a);
  if (status != 0) return status;

  if (d->number_of_user_threads > 1) {
    const int slot = take_user_thread_slot(d);
    if (slot < 0) return DFTI_STATUS_USER_THREADS;
    void* work = d->work_buffer == nullptr
                     ? nullptr
                     : static_cast<char*>(d->work_buffer) + slot * d->max_work_size;
    const long result = (d->plan_flags & FLAG_SINGLE_THREAD) ? one_vector(d, forward, a, work)
                                                              : serial(d, forward, a, work);
    return_user_thread_slot(d, slot);
    return result;
  }
  if (d->plan_flags & FLAG_DIRECT_AXIS) return one_vector(d, forward, a, d->work_buffer);
  if (d->thread_count > 1 && !split_storage(d)) {
    if (d->number_of_transforms == 1 && (forward ? d->large_forward : d->large_backward) != nullptr) {
      return whole_transform(d, forward, a.x_re, a.y_re);
    }
    return complex_threaded_driver(d, forward, inplace, a.x_re, a.y_re);
  }
  return serial(d, forward, a, d->work_buffer);
}

}  // namespace

long complex_compute_forward_inplace(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  return compute(d, true, true, a1, a2, nullptr, nullptr);
}

long complex_compute_backward_inplace(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  return compute(d, false, true, a1, a2, nullptr, nullptr);
}

long complex_compute_forward_out(EngineDescriptor* d, void* a1, void* a2, void* a3, void* a4) {
  return compute(d, true, false, a1, a2, a3, a4);
}

long complex_compute_backward_out(EngineDescriptor* d, void* a1, void* a2, void* a3, void* a4) {
  return compute(d, false, false, a1, a2, a3, a4);
}

TQS_LEVEL_END
