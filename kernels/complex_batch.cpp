// The serial batch kernel of complex descriptors: every transform of the
// batch, along every axis, one vector at a time. Contiguous vectors run
// where they lie; strided ones are gathered into an aligned scratch vector,
// transformed there and scattered back.
#include <cstring>

#include "engine/engine.h"
#include "kernels/call_scratch.h"
#include "kernels/codelets.h"
#include "kernels/complex_compute.h"

TQS_LEVEL_BEGIN
namespace {

constexpr int BATCH_GROUP = 8;
constexpr int MAX_AXES = 8;

// Complex elements: strides count 16-byte elements.
void gather(const double* x, int64_t stride, int64_t n, double* v) {
  for (int64_t j = 0; j < n; ++j) {
    v[2 * j] = x[2 * j * stride];
    v[2 * j + 1] = x[2 * j * stride + 1];
  }
}

void scatter(const double* v, double* y, int64_t stride, int64_t n) {
  for (int64_t j = 0; j < n; ++j) {
    y[2 * j * stride] = v[2 * j];
    y[2 * j * stride + 1] = v[2 * j + 1];
  }
}

struct Call {
  bool forward;
  void* work;
  CallScratch scratch;
};

AxisRoutine routine(const EngineDescriptor* axis, bool forward) {
  return forward ? axis->axis_plan_forward : axis->axis_plan_backward;
}

// One vector of the axis descriptor's length with any strides.
long transform_vector(Call& c, EngineDescriptor* axis, const double* x, int64_t xs, double* y,
                      int64_t ys) {
  const int64_t n = axis->length;
  const AxisRoutine run = routine(axis, c.forward);
  if (ys == 1) {
    if (xs == 1) return run(x, y, axis, c.work);
    // Out of place the output vector is the natural place to gather into;
    // in place the strides are equal, so this branch is out of place.
    gather(x, xs, n, y);
    return run(y, y, axis, c.work);
  }
  double* v = c.scratch.get(2 * n);
  if (v == nullptr) return DFTI_STATUS_MEMORY;
  gather(x, xs, n, v);
  const long status = run(v, v, axis, c.work);
  if (status != 0) return status;
  scatter(v, y, ys, n);
  return 0;
}

// Vectors of one axis, count of them, the next one xd (yd) elements on:
// interleaved vectors (distances 1) go eight at a time (then 4, 2, 1)
// through the scratch, so that each gather and scatter walks memory in runs
// instead of one element per vector.
long vectors(Call& c, EngineDescriptor* axis, const double* x, int64_t xs, int64_t xd, double* y,
             int64_t ys, int64_t yd, int64_t count) {
  const int64_t n = axis->length;
  // Short contiguous vectors with a straight-line kernel call it directly
  // (the axis routine and the plan around it cost as much as the kernel),
  // and unscaled at the AVX levels two at a time where a pair kernel exists
  // (one per lane, no lane exchanges). Level 5, batches of 1000, ns per
  // transform before / after, FFTW: 12 points 7.0 / 4.4, 4.7; 16 9.6 / 7.1,
  // 6.9; 20 19 / 10, 14; 60 86 / 62, 81.
  const CplxKernelScaled kernel = complex_axis_kernel(axis, c.forward);
  const double s = c.forward ? axis->active_forward_scale : axis->active_backward_scale;
  if (kernel != nullptr && xs == 1 && ys == 1 && aligned16(x, y)) {
    int64_t t = 0;
#if TQS_LEVEL >= 4
    const CplxPairsKernel pairs =
        n < 64 && s == 1.0 ? (c.forward ? complex_pairs_forward : complex_pairs_backward)[n]
                           : nullptr;
    if (pairs != nullptr) {
      pairs(x, xd, y, yd, count / 2);
      t = count - count % 2;
    }
#endif
    for (; t < count; ++t) kernel(x + 2 * t * xd, y + 2 * t * yd, s);
    return 0;
  }
  // Strided ones up to 16 points, unscaled, likewise without a gather or a
  // scatter, which cost more than their transform (ns per vector before /
  // after, batches of 1000 of 12 points with strides of 2: level 5 15 /
  // 4.2, level 0 16 / 7.0).
  if (kernel != nullptr && n <= 16 && s == 1.0) {
    (c.forward ? complex_strided_forward : complex_strided_backward)[n](x, xs, xd, y, ys, yd,
                                                                        count);
    return 0;
  }
  // Contiguous vectors through the plan in one call, which fetches each
  // one's input while the one before it computes.
  if (xs == 1 && ys == 1 && s == 1.0 && count > 1 &&
      routine(axis, c.forward) ==
          (c.forward ? complex_axis_ordered_forward : complex_axis_ordered_backward))
    return complex_axis_ordered_batch(x, 2 * xd, y, 2 * yd, count, axis, c.work, c.forward);
  if (xd != 1 || yd != 1 || n == 1) {
    for (int64_t t = 0; t < count; ++t) {
      const long status = transform_vector(c, axis, x + 2 * t * xd, xs, y + 2 * t * yd, ys);
      if (status != 0) return status;
    }
    return 0;
  }
  const AxisRoutine run = routine(axis, c.forward);
  double* v = c.scratch.get(2 * n * BATCH_GROUP);
  if (v == nullptr) return DFTI_STATUS_MEMORY;
  int64_t t = 0;
  while (t < count) {
    int64_t group = BATCH_GROUP;
    while (group > count - t) group /= 2;
    for (int64_t j = 0; j < n; ++j) {
      const double* src = x + 2 * (j * xs + t);
      for (int64_t g = 0; g < group; ++g) {
        v[g * 2 * n + 2 * j] = src[2 * g];
        v[g * 2 * n + 2 * j + 1] = src[2 * g + 1];
      }
    }
    for (int64_t g = 0; g < group; ++g) {
      const long status = run(v + g * 2 * n, v + g * 2 * n, axis, c.work);
      if (status != 0) return status;
    }
    for (int64_t j = 0; j < n; ++j) {
      double* dst = y + 2 * (j * ys + t);
      for (int64_t g = 0; g < group; ++g) {
        dst[2 * g] = v[g * 2 * n + 2 * j];
        dst[2 * g + 1] = v[g * 2 * n + 2 * j + 1];
      }
    }
    t += group;
  }
  return 0;
}

// The axes of a multi-axis descriptor, innermost first.
int chain(EngineDescriptor* head, EngineDescriptor** axes) {
  int rank = 0;
  for (EngineDescriptor* m = head; m != nullptr && rank < MAX_AXES; m = m->next) axes[rank++] = m;
  return rank;
}

// The vectors of axis k of one transform are numbered v = c * L + b, where b
// runs along the innermost other axis (the batch dimension of the pass) and
// c numbers the combinations of the remaining axes.
struct Pass {
  EngineDescriptor* axes[MAX_AXES];
  int rank;
  int k;
  int batch_axis;  // innermost axis other than k
  int64_t batch;   // its length
};

Pass make_pass(EngineDescriptor* head, int k) {
  Pass p{};
  p.rank = chain(head, p.axes);
  p.k = k;
  p.batch_axis = k == 0 ? 1 : 0;
  p.batch = p.axes[p.batch_axis]->length;
  return p;
}

long run_pass(Call& c, const Pass& p, const double* x, double* y, int64_t first, int64_t last) {
  EngineDescriptor* axis = p.axes[p.k];
  const EngineDescriptor* along = p.axes[p.batch_axis];
  // Axis 0 reads the input; later axes work in place on the output.
  const bool from_input = p.k == 0;
  const int64_t xs = from_input ? axis->first_input_stride : axis->first_output_stride;
  const int64_t xd = from_input ? along->first_input_stride : along->first_output_stride;
  const int64_t ys = axis->first_output_stride, yd = along->first_output_stride;
  const double* src = from_input ? x : y;
  int64_t v = first;
  while (v < last) {
    int64_t combination = v / p.batch, b = v % p.batch;
    int64_t run = p.batch - b;
    if (run > last - v) run = last - v;
    int64_t in_at = b * xd, out_at = b * yd;
    for (int j = 0; j < p.rank; ++j) {
      if (j == p.k || j == p.batch_axis) continue;
      const int64_t index = combination % p.axes[j]->length;
      combination /= p.axes[j]->length;
      in_at += index * (from_input ? p.axes[j]->first_input_stride : p.axes[j]->first_output_stride);
      out_at += index * p.axes[j]->first_output_stride;
    }
    const long status = vectors(c, axis, src + 2 * in_at, xs, xd, y + 2 * out_at, ys, yd, run);
    if (status != 0) return status;
    v += run;
  }
  return 0;
}

}  // namespace

int64_t complex_axis_pass_vectors(EngineDescriptor* head, int k) {
  EngineDescriptor* axes[MAX_AXES];
  const int rank = chain(head, axes);
  int64_t total = 1;
  for (int j = 0; j < rank; ++j) {
    if (j != k) total *= axes[j]->length;
  }
  return total;
}

long complex_axis_pass(EngineDescriptor* head, int k, bool forward, const double* input,
                       double* output, int64_t first, int64_t last, void* work) {
  Call c{forward, work, {}};
  return run_pass(c, make_pass(head, k), input, output, first, last);
}

namespace {

// One transform over several axes, pass after pass.
long multi_axis(Call& c, EngineDescriptor* head, const double* x, double* y) {
  for (int k = 0; k < head->normalised_rank; ++k) {
    const long status = run_pass(c, make_pass(head, k), x, y, 0, complex_axis_pass_vectors(head, k));
    if (status != 0) return status;
  }
  return 0;
}

}  // namespace

long complex_serial_batch(EngineDescriptor* d, bool forward, const double* input, double* output,
                          int64_t count, void* work) {
  if (count < 1) return 0;
  Call c{forward, work, {}};
  if (d->normalised_rank == 1) {
    return vectors(c, d, input, d->first_input_stride, d->input_distance, output,
                   d->first_output_stride, d->output_distance, count);
  }
  for (int64_t t = 0; t < count; ++t) {
    const double* x = input + 2 * t * d->input_distance;
    double* y = output + 2 * t * d->output_distance;
    const long status = multi_axis(c, d, x, y);
    if (status != 0) return status;
  }
  return 0;
}

long split_serial_batch(EngineDescriptor* d, bool forward, const double* in_re,
                        const double* in_im, double* out_re, double* out_im, int64_t count,
                        void* work) {
  if (d->normalised_rank != 1) return DFTI_STATUS_NOT_IMPLEMENTED;
  if (count < 1) return 0;
  const int64_t n = d->length;
  const int64_t xs = d->first_input_stride;
  const int64_t ys = d->first_output_stride;
  const SplitAxisRoutine run = forward ? d->split_axis_forward : d->split_axis_backward;
  CallScratch scratch;
  double* v = nullptr;
  if (xs != 1 || ys != 1) {
    v = scratch.get(2 * n);
    if (v == nullptr) return DFTI_STATUS_MEMORY;
  }
  for (int64_t t = 0; t < count; ++t) {
    const double* xr = in_re + t * d->input_distance;
    const double* xi = in_im + t * d->input_distance;
    double* yr = out_re + t * d->output_distance;
    double* yi = out_im + t * d->output_distance;
    long status;
    if (v == nullptr) {
      status = run(xr, xi, yr, yi, d, work);
    } else {
      for (int64_t j = 0; j < n; ++j) {
        v[j] = xr[j * xs];
        v[n + j] = xi[j * xs];
      }
      status = run(v, v + n, v, v + n, d, work);
      if (status == 0) {
        for (int64_t j = 0; j < n; ++j) {
          yr[j * ys] = v[j];
          yi[j * ys] = v[n + j];
        }
      }
    }
    if (status != 0) return status;
  }
  return 0;
}

TQS_LEVEL_END
