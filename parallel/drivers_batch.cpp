// Threaded drivers over batches: the transforms of one call are shared
// among the threads of one team, each thread running the level's serial
// kernel on its consecutive run with its own slice of the work buffer.
#include <omp.h>

#include <cstdint>

#include "engine/engine.h"
#include "kernels/complex_compute.h"
#include "kernels/real_compute.h"
#include "parallel/drivers.h"
#include "tqs_dfti.h"

TQS_LEVEL_BEGIN
namespace {

// A thread's share of the batch and where it works.
struct Share {
  int64_t start;
  int64_t count;
};

// With LARGE set every transform is big: a remainder of at most half the
// team is better done afterwards, each transform on its own, than left to
// lengthen a few threads' runs.
Share batch_share(const EngineDescriptor* d, int64_t n, int k, int t, int64_t* leftover_start) {
  Share s{0, 0};
  if (d->plan_flags & FLAG_LARGE) {
    const int64_t q = n / t, r = n % t;
    if (r > 0 && r <= t / 2) {
      s.start = k * q;
      s.count = q;
      if (k == 0) *leftover_start = static_cast<int64_t>(t) * q;
      return s;
    }
  }
  block_partition(n, k, t, &s.start, &s.count);
  return s;
}

void* work_slice(const EngineDescriptor* d, int k) {
  if (d->work_buffer == nullptr) return nullptr;
  return static_cast<char*>(d->work_buffer) + static_cast<int64_t>(k) * d->max_work_size;
}

// The serial kernel of one side over a run of the batch.
struct Batch {
  EngineDescriptor* d;
  bool forward;
  bool real;
  const double* x;
  double* y;
  int64_t x_step;  // doubles from one transform to the next
  int64_t y_step;

  long run(int64_t start, int64_t count, void* work) const {
    const double* in = x + start * x_step;
    double* out = y + start * y_step;
    if (real) return real_serial_driver(d, forward, in, out, count, work);
    return complex_serial_batch(d, forward, in, out, count, work);
  }
};

long share_batch(const Batch& b, int team) {
  const int64_t n = b.d->number_of_transforms;
  long status = 0;
  int64_t leftover = n;
#pragma omp parallel num_threads(team)
  {
    const int k = omp_get_thread_num();
    const int t = omp_get_num_threads();
    const Share s = batch_share(b.d, n, k, t, &leftover);
    if (s.count > 0) {
      const long mine = b.run(s.start, s.count, work_slice(b.d, k));
      if (mine != 0) {
#pragma omp atomic write
        status = mine;
      }
    }
  }
  if (status != 0 || leftover >= n) return status;
  // The leftover transforms, one after another on the calling thread.
  return b.run(leftover, n - leftover, work_slice(b.d, 0));
}

// The doubles one side of a vector covers, relative to the array base.
void widen(int64_t base, int64_t count, int64_t stride, int64_t unit, int64_t* lo, int64_t* hi) {
  const int64_t first = base, last = base + (count - 1) * stride * unit;
  const int64_t a = first < last ? first : last, b = (first < last ? last : first) + unit;
  if (a < *lo) *lo = a;
  if (b > *hi) *hi = b;
}

// In place the real and the spectrum views of a transform overlap in one
// array. Runs of transforms may go to different threads only when every
// transform's footprint (both views) lies clear of the next one's.
bool inplace_transforms_apart(const EngineDescriptor* d, bool forward, const double* x,
                              const double* y) {
  const int64_t in_unit = real_input_unit(d, forward), out_unit = real_output_unit(d, forward);
  const int64_t step = d->input_distance * in_unit;
  if (step != d->output_distance * out_unit) return false;
  const int64_t n = d->length;
  int64_t spectrum = n;
  if (d->conjugate_even_storage == DFTI_COMPLEX_COMPLEX) {
    spectrum = n / 2 + 1;
  } else if (d->packed_format == DFTI_PACKING_HALF_SPECTRUM) {
    spectrum = n / 2 * 2 + 2;
  }
  int64_t lo = INT64_MAX, hi = INT64_MIN;
  widen(0, forward ? n : spectrum, d->first_input_stride, in_unit, &lo, &hi);
  widen(y - x, forward ? spectrum : n, d->first_output_stride, out_unit, &lo, &hi);
  return (step < 0 ? -step : step) >= hi - lo;
}

// One multi-axis transform spread over the team: one region per axis, the
// axis's vectors shared in contiguous runs; the end of a region is the
// barrier the next axis needs.
long spread_transform(EngineDescriptor* d, bool forward, const double* x, double* y, int team) {
  for (int k = 0; k < d->normalised_rank; ++k) {
    const int64_t count = complex_axis_pass_vectors(d, k);
    long status = 0;
    const int t = count < team ? static_cast<int>(count) : team;
#pragma omp parallel num_threads(t)
    {
      const int me = omp_get_thread_num();
      int64_t first = 0, run = 0;
      block_partition(count, me, omp_get_num_threads(), &first, &run);
      if (run > 0) {
        const long mine = complex_axis_pass(d, k, forward, x, y, first, first + run, work_slice(d, me));
        if (mine != 0) {
#pragma omp atomic write
          status = mine;
        }
      }
    }
    if (status != 0) return status;
  }
  return 0;
}

// Few large multi-axis transforms are better spread inside each transform
// than handed out whole: a transform counts as large from 2^16 words on a
// machine with more than 3 cores per package, from 2^18 words otherwise.
bool spread_inside(const EngineDescriptor* d) {
  const int rank = d->normalised_rank;
  if (rank < 2 || rank > 3) return false;
  const EngineDescriptor* outer = d;
  const EngineDescriptor* before = d;
  while (outer->next != nullptr) {
    before = outer;
    outer = outer->next;
  }
  int64_t m = d->thread_count;
  if (outer->length < m) m = outer->length;
  if (before->length < m) m = before->length;
  double words = static_cast<double>(d->total_points) * 2.0;
  if (d->placement == DFTI_NOT_INPLACE) words *= 2.0;
  const unsigned cores = tqs_get_cores_per_package();
  const int s = cores > 3 && cores != ~0u ? 16 : 18;
  const double count = static_cast<double>(d->number_of_transforms);
  return static_cast<double>(int64_t(1) << s) * count <= words && 2.0 * count <= static_cast<double>(m);
}

}  // namespace

int driver_team_size(const EngineDescriptor* d) {
  int t = tqs_domain_get_max_threads(2);
  if (d->thread_count < t) t = d->thread_count;
  return t < 1 ? 1 : t;
}

void block_partition(int64_t n, int k, int t, int64_t* start, int64_t* count) {
  if (t < 2) {
    *start = 0;
    *count = n;
    return;
  }
  const int64_t per = (n + t - 1) / t;
  const int64_t full = per > 0 ? n / per : 0;
  *start = k * per;
  if (k < full) {
    *count = per;
  } else if (k == full) {
    *count = n - per * full;
  } else {
    *count = 0;
  }
  if (*start >= n) *count = 0;
}

long complex_threaded_driver(EngineDescriptor* d, bool forward, bool, const double* input,
                             double* output) {
  const int team = driver_team_size(d);
  const int64_t count = d->number_of_transforms;
  if (team >= 2 && d->normalised_rank >= 2 && (count < 2 || spread_inside(d))) {
    for (int64_t t = 0; t < count; ++t) {
      const long status = spread_transform(d, forward, input + 2 * t * d->input_distance,
                                           output + 2 * t * d->output_distance, team);
      if (status != 0) return status;
    }
    return 0;
  }
  if (team < 2 || count < 2) {
    return complex_serial_batch(d, forward, input, output, count, d->work_buffer);
  }
  // A valid in-place batch gives every transform its own elements, and
  // both views are the same, so the runs never meet.
  const Batch b{d, forward, false, input, output, 2 * d->input_distance, 2 * d->output_distance};
  return share_batch(b, team);
}

long real_threaded_driver(EngineDescriptor* d, bool forward, const double* input, double* output) {
  const int team = driver_team_size(d);
  const int64_t in_unit = real_input_unit(d, forward);
  const int64_t out_unit = real_output_unit(d, forward);
  bool shared = team >= 2 && d->number_of_transforms >= 2;
  if (shared && d->placement == DFTI_INPLACE) {
    shared = d->normalised_rank == 1 && inplace_transforms_apart(d, forward, input, output);
  }
  if (!shared) {
    return real_serial_driver(d, forward, input, output, d->number_of_transforms, d->work_buffer);
  }
  const Batch b{d, forward, true, input, output, d->input_distance * in_unit,
                d->output_distance * out_unit};
  return share_batch(b, team);
}

TQS_LEVEL_END
