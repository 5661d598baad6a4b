// Per-axis routines, conjugate-even storage conversions and scaling. Every
// real plan speaks the permuted packed order (R0, R(n/2) for even n, then
// the pairs); the conversions to the other layouts are single passes over
// the output, in place.
#include <cstring>

#include "engine/engine.h"
#include "engine/kernel_entries.h"
#include "engine/plan.h"
#include "kernels/codelets.h"
#include "kernels/generated/codelet_kernels.h"
#include "kernels/generated/whole.h"
#include "kernels/pow2.h"
#include "kernels/real_compute.h"
#include "kernels/real_split.h"
#include "tqs_dfti.h"

TQS_LEVEL_BEGIN
namespace {

int check(const double* in, const double* out, const PlanRecord* plan) {
  if (plan == nullptr || in == nullptr || out == nullptr) return PLAN_NULL_POINTER;
  if (plan->tag != TAG_REAL_PLAN) return PLAN_WRONG_KIND;
  return PLAN_OK;
}

constexpr int64_t LONGEST_CODELET = 16;

// Short plans go straight to the straight-line kernels (they allow in == out).
int plan_forward(const double* in, double* out, const PlanRecord* plan, void* work) {
  const int64_t n = plan->length;
  if (n >= 1 && n <= LONGEST_CODELET) {
    if (plan->forward_scaled) {
      codelets.real_forward_scaled[n](in, out, plan->scale);
    } else {
      codelets.real_forward[n](in, out);
    }
    return PLAN_OK;
  }
  return real_plan_forward(in, out, plan, work);
}

int plan_backward(const double* in, double* out, const PlanRecord* plan, void* work) {
  const int64_t n = plan->length;
  if (n >= 1 && n <= LONGEST_CODELET) {
    if (plan->backward_scaled) {
      codelets.real_backward_scaled[n](in, out, plan->scale);
    } else {
      codelets.real_backward[n](in, out);
    }
    return PLAN_OK;
  }
  return real_plan_backward(in, out, plan, work);
}

}  // namespace

void permuted_to_sequential(double* v, int64_t n) {
  if (n % 2 != 0 || n < 4) return;
  const double nyquist = v[1];
  std::memmove(v + 1, v + 2, static_cast<size_t>(n - 2) * sizeof(double));
  v[n - 1] = nyquist;
}

void permuted_to_cce(double* v, int64_t n) {
  if (n % 2 == 0) {
    v[n] = v[1];
    v[n + 1] = 0.0;
    v[1] = 0.0;
  } else {
    for (int64_t k = n - 1; k >= 1; --k) v[k + 1] = v[k];
    v[1] = 0.0;
  }
}

void sequential_to_permuted(const double* in, double* out, int64_t n) {
  if (n % 2 == 0) {
    const double nyquist = in[n - 1];
    out[0] = in[0];
    for (int64_t k = n - 1; k >= 2; --k) out[k] = in[k - 1];
    out[1] = nyquist;
  } else if (out != in) {
    std::memcpy(out, in, static_cast<size_t>(n) * sizeof(double));
  }
}

void cce_to_permuted(const double* in, double* out, int64_t n) {
  out[0] = in[0];
  if (n % 2 == 0) {
    out[1] = in[n];
    if (out != in && n > 2) std::memcpy(out + 2, in + 2, static_cast<size_t>(n - 2) * sizeof(double));
  } else {
    for (int64_t k = 1; 2 * k < n; ++k) {
      out[2 * k - 1] = in[2 * k];
      out[2 * k] = in[2 * k + 1];
    }
  }
}

int storage_permuted_forward(const double* in, double* out, const PlanRecord* plan, void* work) {
  int code = check(in, out, plan);
  if (code != PLAN_OK) return code;
  return plan_forward(in, out, plan, work);
}

int storage_permuted_backward(const double* in, double* out, const PlanRecord* plan, void* work) {
  int code = check(in, out, plan);
  if (code != PLAN_OK) return code;
  return plan_backward(in, out, plan, work);
}

int storage_sequential_forward(const double* in, double* out, const PlanRecord* plan,
                               void* work) {
  int code = check(in, out, plan);
  if (code != PLAN_OK) return code;
  code = plan_forward(in, out, plan, work);
  permuted_to_sequential(out, plan->length);
  return code;
}

int storage_sequential_backward(const double* in, double* out, const PlanRecord* plan,
                                void* work) {
  int code = check(in, out, plan);
  if (code != PLAN_OK) return code;
  sequential_to_permuted(in, out, plan->length);
  return plan_backward(out, out, plan, work);
}

int storage_cce_forward(const double* in, double* out, const PlanRecord* plan, void* work) {
  int code = check(in, out, plan);
  if (code != PLAN_OK) return code;
  const int64_t n = plan->length;
  if (n >= 2 && n <= LONGEST_CODELET && !plan->forward_scaled) {
    codelets.real_forward_cce[n](in, out);
    return PLAN_OK;
  }
  code = plan_forward(in, out, plan, work);
  permuted_to_cce(out, plan->length);
  return code;
}

int storage_cce_backward(const double* in, double* out, const PlanRecord* plan, void* work) {
  int code = check(in, out, plan);
  if (code != PLAN_OK) return code;
  const int64_t n = plan->length;
  if (n > LONGEST_CODELET) return real_plan_backward_cce(in, out, plan, work);
  if (n >= 2 && !plan->backward_scaled) {
    codelets.real_backward_cce[n](in, out);
    return PLAN_OK;
  }
  cce_to_permuted(in, out, plan->length);
  return plan_backward(out, out, plan, work);
}

// Lengths up to 16 on a one-axis descriptor: kernel, layout conversion and
// scale in one routine. The axis's plan is unscaled and needs no work area,
// so nothing of the plan layer is left to run; this keeps the descriptor's
// cost on tiny transforms down to the calls themselves.
long axis_short_forward(const double* input, double* output, EngineDescriptor* d, void*) {
  const int64_t n = d->length;
  int64_t count = n;
  if (d->storage_forward == storage_cce_forward && n >= 2) {
    codelets.real_forward_cce[n](input, output);
    count = n + 1;
  } else if (d->storage_forward == storage_cce_forward) {
    codelets.real_forward[n](input, output);
    permuted_to_cce(output, n);
    count = n + 1;
  } else {
    codelets.real_forward[n](input, output);
    if (d->storage_forward == storage_sequential_forward) permuted_to_sequential(output, n);
  }
  const double scale = d->active_forward_scale;
  if (scale != 1.0) {
    const int64_t inc = 1;
    real_scale_descriptor_level(&count, &scale, output, &inc);
  }
  return 0;
}

long axis_short_backward(const double* input, double* output, EngineDescriptor* d, void*) {
  const int64_t n = d->length;
  const double* packed = input;
  if (d->storage_backward == storage_cce_backward && n >= 2) {
    codelets.real_backward_cce[n](input, output);
  } else {
    if (d->storage_backward == storage_cce_backward) {
      cce_to_permuted(input, output, n);
      packed = output;
    } else if (d->storage_backward == storage_sequential_backward) {
      sequential_to_permuted(input, output, n);
      packed = output;
    }
    codelets.real_backward[n](packed, output);
  }
  if (d->packed_format == DFTI_PACKING_HALF_SPECTRUM && d->placement == DFTI_INPLACE) {
    output[n] = 0.0;
  }
  const double scale = d->active_backward_scale;
  if (scale != 1.0) {
    const int64_t inc = 1;
    real_scale_descriptor_level(&n, &scale, output, &inc);
  }
  return 0;
}

// Out-of-place entries for the same case (one vector, unit strides, one user
// thread): the offsets are all that is left of the driver.
long real_compute_short_forward_out(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  const int64_t unit = d->conjugate_even_storage == DFTI_COMPLEX_COMPLEX ? 2 : 1;
  return axis_short_forward(static_cast<const double*>(a1) + d->input_offset,
                            static_cast<double*>(a2) + d->output_offset * unit, d, nullptr);
}

long real_compute_short_backward_out(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  const int64_t unit = d->conjugate_even_storage == DFTI_COMPLEX_COMPLEX ? 2 : 1;
  return axis_short_backward(static_cast<const double*>(a1) + d->input_offset * unit,
                             static_cast<double*>(a2) + d->output_offset, d, nullptr);
}

// The commonest short case, conjugate-even storage in complex pairs and no
// scale, as a kernel call and nothing else (chosen at commit, which fixes
// both).
long real_compute_short_cce_forward_out(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  codelets.real_forward_cce[d->length](static_cast<const double*>(a1) + d->input_offset,
                                       static_cast<double*>(a2) + 2 * d->output_offset);
  return 0;
}

long real_compute_short_cce_backward_out(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  codelets.real_backward_cce[d->length](static_cast<const double*>(a1) + 2 * d->input_offset,
                                        static_cast<double*>(a2) + d->output_offset);
  return 0;
}

namespace {

// Lengths 2..16 (index: the length).
constexpr KernelEntries kShortCceEntries[17] = {
    {},
    {},
    kernel_entries<real_cce_fwd_2, real_cce_bwd_2>(),
    kernel_entries<real_cce_fwd_3, real_cce_bwd_3>(),
    kernel_entries<real_cce_fwd_4, real_cce_bwd_4>(),
    kernel_entries<real_cce_fwd_5, real_cce_bwd_5>(),
    kernel_entries<real_cce_fwd_6, real_cce_bwd_6>(),
    kernel_entries<real_cce_fwd_7, real_cce_bwd_7>(),
    kernel_entries<real_cce_fwd_8, real_cce_bwd_8>(),
    kernel_entries<real_cce_fwd_9, real_cce_bwd_9>(),
    kernel_entries<real_cce_fwd_10, real_cce_bwd_10>(),
    kernel_entries<real_cce_fwd_11, real_cce_bwd_11>(),
    kernel_entries<real_cce_fwd_12, real_cce_bwd_12>(),
    kernel_entries<real_cce_fwd_13, real_cce_bwd_13>(),
    kernel_entries<real_cce_fwd_14, real_cce_bwd_14>(),
    kernel_entries<real_cce_fwd_15, real_cce_bwd_15>(),
    kernel_entries<real_cce_fwd_16, real_cce_bwd_16>(),
};

}  // namespace

bool real_short_cce_kernel_entries(int64_t n, ComputeEntry* forward, ComputeEntry* backward) {
  if (n < 2 || n > 16) return false;
  *forward = kShortCceEntries[n].forward_out;
  *backward = kShortCceEntries[n].backward_out;
  return true;
}

bool real_short_cce_kernel_entry(ComputeEntry f) {
  return among_kernel_entries(kShortCceEntries, f);
}

namespace {

#if TQS_LEVEL >= 4
// Even lengths whose half-length complex transform is one generated whole
// kernel: that kernel and the split step, named here, in place of the
// storage routine, the plan's execution and the mixed-radix dispatch, whose
// layers cost a tenth of these short transforms. The plan still owns the
// split table and says whether it carries the scale. With the half even the
// split step reads and writes the kernel's aligned pairs whole (see
// real_split_forward_cce_pairs; level 5, real 96 7-13 % faster, 160 and 168
// 5-11 %, 100 2-9 %).
template <CplxKernel W>
long whole_cce_forward_out(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  const PlanRecord* p = d->real_plan;
  double* out = static_cast<double*>(a2);
  W(static_cast<const double*>(a1), out);
  if (d->length % 4 == 0) {
    real_split_forward_cce_pairs(out, d->length, static_cast<const double*>(p->split_twiddles),
                                 p->forward_scaled ? p->scale : 1.0);
    return 0;
  }
  real_split_forward(out, d->length, static_cast<const double*>(p->split_twiddles),
                     p->forward_scaled ? p->scale : 1.0);
  permuted_to_cce(out, d->length);
  return 0;
}

template <CplxKernel W>
long whole_cce_backward_out(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  const PlanRecord* p = d->real_plan;
  double* out = static_cast<double*>(a2);
  if (d->length % 4 == 0)
    real_split_backward_cce_pairs(static_cast<const double*>(a1), out, d->length,
                                  static_cast<const double*>(p->split_twiddles),
                                  p->backward_scaled ? p->scale : 1.0);
  else
    real_split_backward(static_cast<const double*>(a1), out, d->length,
                        static_cast<const double*>(p->split_twiddles),
                        p->backward_scaled ? p->scale : 1.0, d->length);
  W(out, out);
  return 0;
}

struct WholeCceEntries {
  int32_t half;
  ComputeEntry forward, backward;
};

#define TQS_WHOLE_ENTRY(n_) \
  {n_, whole_cce_forward_out<whole##n_##_forward>, whole_cce_backward_out<whole##n_##_backward>},
constexpr WholeCceEntries kWholeCceEntries[] = {TQS_WHOLE_LENGTHS(TQS_WHOLE_ENTRY)};
#undef TQS_WHOLE_ENTRY
#endif

// Powers of two with a plan of their own: that plan's routine, named here,
// in place of the storage routine and the plan layer (the plan carries the
// scale and reads the Nyquist bin where the layout keeps it).
long pow2_cce_forward_out(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  double* out = static_cast<double*>(a2);
  const int code = pow2_real_forward(static_cast<const double*>(a1), out,
                                     static_cast<const Pow2Plan*>(d->real_plan->power_of_two_plan),
                                     d->work_buffer);
  permuted_to_cce(out, d->length);
  return translate_plan_status(code);
}

long pow2_cce_backward_out(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  return translate_plan_status(pow2_real_backward_at(
      static_cast<const double*>(a1), static_cast<double*>(a2),
      static_cast<const Pow2Plan*>(d->real_plan->power_of_two_plan), d->work_buffer, d->length));
}

}  // namespace

bool real_whole_cce_entries(const PlanRecord* plan, ComputeEntry* forward,
                            ComputeEntry* backward) {
  if (plan->power_of_two_plan != nullptr && plan->length > POW2_REAL_PACKED_ONLY) {
    *forward = pow2_cce_forward_out;
    *backward = pow2_cce_backward_out;
    return true;
  }
#if TQS_LEVEL >= 4
  const int64_t n = plan->length;
  if (n % 2 != 0 || !plan->factored || plan->core_length != n / 2) return false;
  for (const WholeCceEntries& e : kWholeCceEntries) {
    if (e.half == n / 2) {
      *forward = e.forward;
      *backward = e.backward;
      return true;
    }
  }
#else
  (void)plan;
  (void)forward;
  (void)backward;
#endif
  return false;
}

bool real_whole_cce_entry(ComputeEntry f) {
  if (f == pow2_cce_forward_out) return true;
#if TQS_LEVEL >= 4
  for (const WholeCceEntries& e : kWholeCceEntries) {
    if (f == e.forward) return true;
  }
#else
  (void)f;
#endif
  return false;
}

bool real_pow2_cce_batch_fits(const EngineDescriptor* d, bool forward) {
  const AxisRoutine axis = forward ? d->axis_plan_forward : d->axis_plan_backward;
  // In place the half-spectrum layout's backward routine clears a slot
  // behind each output (see axis_plan_backward): not here.
  if (!forward && d->packed_format == DFTI_PACKING_HALF_SPECTRUM && d->placement == DFTI_INPLACE)
    return false;
  return (axis == axis_plan_forward || axis == axis_plan_backward) && cce_layout(d) &&
         d->real_plan != nullptr && d->real_plan->power_of_two_plan != nullptr &&
         d->length > POW2_REAL_PACKED_ONLY &&
         (forward ? d->active_forward_scale : d->active_backward_scale) == 1.0;
}

long real_pow2_cce_batch(EngineDescriptor* d, bool forward, const double* x, int64_t xd, double* y,
                         int64_t yd, int64_t count, void* work) {
  return translate_plan_status(
      pow2_real_batch(x, xd, y, yd, count,
                      static_cast<const Pow2Plan*>(d->real_plan->power_of_two_plan), work,
                      !forward, d->length, forward ? permuted_to_cce : nullptr));
}

long axis_plan_forward(const double* input, double* output, EngineDescriptor* d, void* work) {
  int code = d->storage_forward(input, output, d->real_plan, work);
  const double scale = d->active_forward_scale;
  if (scale != 1.0) {
    const int64_t count = d->length + (cce_layout(d) ? 1 : 0);
    const int64_t inc = 1;
    real_scale_descriptor_level(&count, &scale, output, &inc);
  }
  return translate_plan_status(code);
}

long axis_plan_backward(const double* input, double* output, EngineDescriptor* d, void* work) {
  const int code = d->storage_backward(input, output, d->real_plan, work);
  if (d->packed_format == DFTI_PACKING_HALF_SPECTRUM && d->placement == DFTI_INPLACE) {
    output[d->length] = 0.0;
  }
  const double scale = d->active_backward_scale;
  if (scale != 1.0) {
    const int64_t count = d->length;
    const int64_t inc = 1;
    real_scale_descriptor_level(&count, &scale, output, &inc);
  }
  return translate_plan_status(code);
}

int real_scale_plan_level(double scale, double* x, int64_t count) {
  if (x == nullptr) return PLAN_NULL_POINTER;
  if (count < 1) return PLAN_BAD_LENGTH;
  if (scale == 1.0) return PLAN_OK;
  if (scale == 0.0) {
    std::memset(x, 0, static_cast<size_t>(count) * sizeof(double));
    return PLAN_OK;
  }
  int64_t i = 0;
  if ((reinterpret_cast<uintptr_t>(x) & 7) == 0) {
    while (i < count && (reinterpret_cast<uintptr_t>(x + i) & 31) != 0) x[i++] *= scale;
    for (; i + 16 <= count; i += 16) {
      for (int k = 0; k < 16; ++k) x[i + k] *= scale;
    }
  }
  for (; i < count; ++i) x[i] *= scale;
  return PLAN_OK;
}

void real_scale_descriptor_level(const int64_t* count, const double* alpha, double* x,
                                 const int64_t* inc) {
  const int64_t n = *count;
  const double a = *alpha;
  const int64_t step = *inc;
  if (n <= 0) return;
  int64_t i = 0;
  for (; i + 2 <= n; i += 2) {
    x[i * step] *= a;
    x[(i + 1) * step] *= a;
  }
  if (i < n) x[i * step] *= a;
}

TQS_LEVEL_END
