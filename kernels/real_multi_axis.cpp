// Real transforms over several axes. The half spectrum of one transform is
// assembled in a tight scratch array: forward, the real rows along axis 0
// go into it, the outer axes are transformed there as complex data, and the
// result is laid out in the caller's spectrum; backward runs the same steps
// the other way round. Going through the scratch costs one extra pass over
// the spectrum but lets every layout of the caller's arrays, in place or
// not, use contiguous rows and columns.
#include "engine/engine.h"
#include "kernels/real_compute.h"

TQS_LEVEL_BEGIN
namespace {

constexpr int MAX_AXES = 8;
constexpr int64_t COLUMN_GROUP = 8;

struct Shape {
  EngineDescriptor* axes[MAX_AXES];
  int rank;
  int64_t half;        // complex values of a row of the half spectrum
  int64_t rows;        // rows of axis 0 (product of the outer lengths)
  int64_t pitch[MAX_AXES];  // tight strides of the scratch, in complex values
};

Shape shape_of(EngineDescriptor* head) {
  Shape s{};
  for (EngineDescriptor* m = head; m != nullptr && s.rank < MAX_AXES; m = m->next) {
    s.axes[s.rank++] = m;
  }
  s.half = head->length / 2 + 1;
  s.rows = 1;
  s.pitch[0] = 1;
  int64_t p = s.half;
  for (int k = 1; k < s.rank; ++k) {
    s.pitch[k] = p;
    p *= s.axes[k]->length;
    s.rows *= s.axes[k]->length;
  }
  return s;
}

// Where row r (outer indices in odometer order, axis 1 fastest) starts in
// the caller's array, for strides taken from the input or output side.
int64_t row_offset(const Shape& s, int64_t r, bool input_side) {
  int64_t at = 0;
  for (int k = 1; k < s.rank; ++k) {
    const int64_t i = r % s.axes[k]->length;
    r /= s.axes[k]->length;
    at += i * (input_side ? s.axes[k]->first_input_stride : s.axes[k]->first_output_stride);
  }
  return at;
}

// The caller's spectrum: doubles of value k of a row, and the distance of
// its imaginary part. CCE strides count complex values, half-spectrum
// strides count doubles.
struct SpectrumView {
  int64_t step;  // doubles from value k to k + 1
  int64_t imag;  // doubles from the real to the imaginary part
  int64_t unit;  // doubles per stride unit of the outer axes
};

SpectrumView spectrum_view(const EngineDescriptor* d, int64_t stride0) {
  if (d->conjugate_even_storage == DFTI_COMPLEX_COMPLEX) return {2 * stride0, 1, 2};
  return {2 * stride0, stride0, 1};
}

void copy_spectrum_rows(const Shape& s, const EngineDescriptor* d, bool to_scratch,
                        const double* x, double* y, double* scratch, int64_t first, int64_t last) {
  const bool input_side = to_scratch;
  const int64_t stride0 = input_side ? d->first_input_stride : d->first_output_stride;
  const SpectrumView v = spectrum_view(d, stride0);
  for (int64_t r = first; r < last; ++r) {
    double* row = scratch + 2 * r * s.half;
    const int64_t base = row_offset(s, r, input_side) * v.unit;
    for (int64_t k = 0; k < s.half; ++k) {
      if (to_scratch) {
        row[2 * k] = x[base + k * v.step];
        row[2 * k + 1] = x[base + k * v.step + v.imag];
      } else {
        y[base + k * v.step] = row[2 * k];
        y[base + k * v.step + v.imag] = row[2 * k + 1];
      }
    }
  }
}

// Rows along axis 0 between the caller's real array and the scratch.
long real_rows(const Shape& s, EngineDescriptor* head, bool forward, const double* x, double* y,
               double* scratch, int64_t first, int64_t last, void* work) {
  const int64_t n = head->length;
  for (int64_t r = first; r < last; ++r) {
    double* row = scratch + 2 * r * s.half;
    if (forward) {
      const double* src = x + row_offset(s, r, true);
      const int64_t xs = head->first_input_stride;
      for (int64_t j = 0; j < n; ++j) row[j] = src[j * xs];
      const long status = head->axis_plan_forward(row, row, head, work);
      if (status != 0) return status;
    } else {
      const long status = head->axis_plan_backward(row, row, head, work);
      if (status != 0) return status;
      double* dst = y + row_offset(s, r, false);
      const int64_t ys = head->first_output_stride;
      for (int64_t j = 0; j < n; ++j) dst[j * ys] = row[j];
    }
  }
  return 0;
}

// Complex vectors along axis k of the scratch, in groups of adjacent columns.
long outer_axis(const Shape& s, int k, bool forward, double* scratch, double* buffer, void* work) {
  EngineDescriptor* axis = s.axes[k];
  const AxisRoutine run = forward ? axis->axis_plan_forward : axis->axis_plan_backward;
  const int64_t n = axis->length, pitch = s.pitch[k];
  const int64_t planes = s.rows / n;  // combinations of the other outer axes
  for (int64_t c = 0; c < planes; ++c) {
    // Offset of combination c: the outer axes other than k in odometer order.
    int64_t rest = c, base = 0;
    for (int j = 1; j < s.rank; ++j) {
      if (j == k) continue;
      base += (rest % s.axes[j]->length) * s.pitch[j];
      rest /= s.axes[j]->length;
    }
    for (int64_t b = 0; b < s.half; b += COLUMN_GROUP) {
      const int64_t group = s.half - b < COLUMN_GROUP ? s.half - b : COLUMN_GROUP;
      double* col0 = scratch + 2 * (base + b);
      for (int64_t j = 0; j < n; ++j) {
        const double* src = col0 + 2 * j * pitch;
        for (int64_t g = 0; g < group; ++g) {
          buffer[2 * (g * n + j)] = src[2 * g];
          buffer[2 * (g * n + j) + 1] = src[2 * g + 1];
        }
      }
      for (int64_t g = 0; g < group; ++g) {
        const long status = run(buffer + 2 * g * n, buffer + 2 * g * n, axis, work);
        if (status != 0) return status;
      }
      for (int64_t j = 0; j < n; ++j) {
        double* dst = col0 + 2 * j * pitch;
        for (int64_t g = 0; g < group; ++g) {
          dst[2 * g] = buffer[2 * (g * n + j)];
          dst[2 * g + 1] = buffer[2 * (g * n + j) + 1];
        }
      }
    }
  }
  return 0;
}

}  // namespace

long real_multi_axis_transform(EngineDescriptor* head, bool forward, const double* x, double* y,
                               void* work) {
  const Shape s = shape_of(head);
  int64_t longest = 1;
  for (int k = 1; k < s.rank; ++k) longest = longest > s.axes[k]->length ? longest : s.axes[k]->length;
  const uint64_t doubles = static_cast<uint64_t>(2 * s.half * s.rows + 2 * COLUMN_GROUP * longest);
  double* scratch = static_cast<double*>(tqs_mm_allocate(doubles * sizeof(double), WORK_ALIGNMENT));
  if (scratch == nullptr) return DFTI_STATUS_MEMORY;
  double* buffer = scratch + 2 * s.half * s.rows;
  long status = 0;
  if (forward) {
    status = real_rows(s, head, true, x, y, scratch, 0, s.rows, work);
    for (int k = 1; status == 0 && k < s.rank; ++k) status = outer_axis(s, k, true, scratch, buffer, work);
    if (status == 0) copy_spectrum_rows(s, head, false, x, y, scratch, 0, s.rows);
  } else {
    copy_spectrum_rows(s, head, true, x, y, scratch, 0, s.rows);
    for (int k = s.rank - 1; status == 0 && k >= 1; --k) {
      status = outer_axis(s, k, false, scratch, buffer, work);
    }
    if (status == 0) status = real_rows(s, head, false, x, y, scratch, 0, s.rows, work);
  }
  tqs_mm_free(scratch);
  return status;
}

TQS_LEVEL_END
