// Split-storage transforms along one axis: every transform goes through the
// one SplitComplexPlan, either where it lies (unit strides) or through a
// gather buffer that holds a block of transforms side by side, so that
// neighbouring transforms (small distances) are read and written together.
#include "engine/split_compute.h"

#include "engine/plan.h"
#include "tqs_dfti.h"

TQS_LEVEL_BEGIN
namespace {

// Transforms per block are chosen so that a block spans about one cache
// line of neighbouring elements.
constexpr int64_t BLOCK_SPAN = 8;
// Short transforms are worth a thread only per this many elements.
constexpr int64_t SHORT_LENGTH = 32;
constexpr int64_t LOCAL_WORK_BYTES = 4096;

int64_t at_least_one(int64_t v) { return v < 1 ? 1 : v; }
// Distances are whatever the caller set: the most negative one saturates.
int64_t magnitude(int64_t v) { return v >= 0 ? v : (v == INT64_MIN ? INT64_MAX : -v); }

// An odd number of 8-element groups per row keeps the rows of a block from
// falling into the same cache sets.
int64_t padded_length(int64_t n) {
  int64_t p = (n + 7) / 8 * 8;
  if ((p / 8) % 2 == 0) p += 8;
  return p;
}

struct Job {
  const SplitOneAxisPlan* plan;
  SplitPlanExecute run;
  double scale;
  bool inplace;
  const double* in_re;
  const double* in_im;
  double* out_re;
  double* out_im;
};

void scale_pair(double* re, double* im, int64_t n, double s) {
  if (s == 1.0) return;
  for (int64_t j = 0; j < n; ++j) re[j] *= s;
  for (int64_t j = 0; j < n; ++j) im[j] *= s;
}

// Transforms [first, first + count) where they lie.
long run_where_they_lie(const Job& job, int64_t first, int64_t count, void* work) {
  const SplitOneAxisPlan& p = *job.plan;
  for (int64_t t = first; t < first + count; ++t) {
    const int64_t i = t * p.input_distance;
    const int64_t o = t * p.output_distance;
    double* yr = job.out_re + o;
    double* yi = job.out_im + o;
    const int code = job.run(job.in_re + i, job.in_im + i, yr, yi, p.plan, work);
    if (code != PLAN_OK) return translate_plan_status(code);
    scale_pair(yr, yi, p.length, job.scale);
  }
  return 0;
}

// Out of place with a unit-stride output: the output vectors themselves
// serve as the gather buffer.
long run_gathered_into_output(const Job& job, int64_t first, int64_t count, void* work) {
  const SplitOneAxisPlan& p = *job.plan;
  const int64_t n = p.length, is = p.input_stride;
  for (int64_t j = 0; j < n; ++j) {
    const double* xr = job.in_re + (j * is + first * p.input_distance);
    const double* xi = job.in_im + (j * is + first * p.input_distance);
    double* yr = job.out_re + (j + first * p.output_distance);
    double* yi = job.out_im + (j + first * p.output_distance);
    for (int64_t u = 0; u < count; ++u) {
      yr[u * p.output_distance] = xr[u * p.input_distance];
      yi[u * p.output_distance] = xi[u * p.input_distance];
    }
  }
  for (int64_t t = first; t < first + count; ++t) {
    double* yr = job.out_re + t * p.output_distance;
    double* yi = job.out_im + t * p.output_distance;
    const int code = job.run(yr, yi, yr, yi, p.plan, work);
    if (code != PLAN_OK) return translate_plan_status(code);
    scale_pair(yr, yi, n, job.scale);
  }
  return 0;
}

// Any strides: gather the block into rows of the buffer (real parts, then
// imaginary parts, padded apart), transform each row, scatter with the scale.
long run_through_buffer(const Job& job, int64_t first, int64_t count, double* buffer, void* work) {
  const SplitOneAxisPlan& p = *job.plan;
  const int64_t n = p.length, pad = p.padded, row = 2 * pad;
  if (!job.inplace && p.input_stride == 1) {
    for (int64_t u = 0; u < count; ++u) {
      const int64_t i = (first + u) * p.input_distance;
      double* r = buffer + u * row;
      const int code = job.run(job.in_re + i, job.in_im + i, r, r + pad, p.plan, work);
      if (code != PLAN_OK) return translate_plan_status(code);
    }
  } else {
    for (int64_t j = 0; j < n; ++j) {
      const double* xr = job.in_re + (j * p.input_stride + first * p.input_distance);
      const double* xi = job.in_im + (j * p.input_stride + first * p.input_distance);
      for (int64_t u = 0; u < count; ++u) {
        buffer[u * row + j] = xr[u * p.input_distance];
        buffer[u * row + pad + j] = xi[u * p.input_distance];
      }
    }
    for (int64_t u = 0; u < count; ++u) {
      double* r = buffer + u * row;
      const int code = job.run(r, r + pad, r, r + pad, p.plan, work);
      if (code != PLAN_OK) return translate_plan_status(code);
    }
  }
  const double s = job.scale;
  for (int64_t j = 0; j < n; ++j) {
    double* yr = job.out_re + (j * p.output_stride + first * p.output_distance);
    double* yi = job.out_im + (j * p.output_stride + first * p.output_distance);
    if (s == 1.0) {
      for (int64_t u = 0; u < count; ++u) {
        yr[u * p.output_distance] = buffer[u * row + j];
        yi[u * p.output_distance] = buffer[u * row + pad + j];
      }
    } else {
      for (int64_t u = 0; u < count; ++u) {
        yr[u * p.output_distance] = buffer[u * row + j] * s;
        yi[u * p.output_distance] = buffer[u * row + pad + j] * s;
      }
    }
  }
  return 0;
}

// Thread t of a team of T takes a ceil-divided share of the blocks; members
// beyond the work (a team larger than asked for) take none.
int64_t worker(int64_t t, int64_t team, void* argument) {
  const Job& job = *static_cast<const Job*>(argument);
  const SplitOneAxisPlan& p = *job.plan;
  if (team < 1) return 0;
  const int64_t blocks = (p.count + p.block - 1) / p.block;
  const int64_t chunk = (blocks + team - 1) / team;
  const int64_t first_block = t * chunk;
  if (first_block >= blocks) return 0;
  const int64_t end_block = first_block + chunk < blocks ? first_block + chunk : blocks;

  const bool buffered = p.padded > 1;
  const int64_t buffer_bytes = buffered ? p.block * 2 * p.padded * 8 : 0;
  const int64_t bytes = buffer_bytes + p.work_size;
  // Short transforms are dominated by the call itself: their work stays on
  // the stack instead of going through the allocator on every call.
  alignas(64) char local[LOCAL_WORK_BYTES];
  void* area = nullptr;
  if (bytes > LOCAL_WORK_BYTES) {
    area = tqs_mm_allocate(static_cast<uint64_t>(bytes), 64);
    if (area == nullptr) return DFTI_STATUS_MEMORY;
  }
  char* base = area != nullptr ? static_cast<char*>(area) : local;
  double* buffer = reinterpret_cast<double*>(base);
  void* work = p.work_size > 0 ? base + buffer_bytes : nullptr;

  const bool direct = p.input_stride == 1 && p.output_stride == 1;
  long status = 0;
  for (int64_t b = first_block; b < end_block && status == 0; ++b) {
    const int64_t first = b * p.block;
    const int64_t count = first + p.block <= p.count ? p.block : p.count - first;
    if (direct) {
      status = run_where_they_lie(job, first, count, work);
    } else if (buffered) {
      status = run_through_buffer(job, first, count, buffer, work);
    } else {
      status = run_gathered_into_output(job, first, count, work);
    }
  }
  tqs_mm_free(area);
  return status;
}

long compute(EngineDescriptor* d, bool forward, bool inplace, void* a1, void* a2, void* a3,
             void* a4) {
  if (a1 == nullptr || a2 == nullptr || (!inplace && (a3 == nullptr || a4 == nullptr))) {
    return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  }
  const auto* p = static_cast<const SplitOneAxisPlan*>(d->strategy_plan);
  if (p == nullptr || p->plan == nullptr) return DFTI_STATUS_INTERNAL;
  Job job;
  job.plan = p;
  job.run = forward ? split_plan_forward : split_plan_backward;
  job.scale = forward ? p->forward_scale : p->backward_scale;
  job.inplace = inplace;
  // In place the output shares the input's displacement: its configured
  // offset is ignored, as its strides are.
  double* in_re = static_cast<double*>(a1) + d->input_offset;
  double* in_im = static_cast<double*>(a2) + d->input_offset;
  job.in_re = in_re;
  job.in_im = in_im;
  job.out_re = inplace ? in_re : static_cast<double*>(a3) + d->output_offset;
  job.out_im = inplace ? in_im : static_cast<double*>(a4) + d->output_offset;
  if (d->threading == nullptr || d->threading->parallel_team == nullptr) return worker(0, 1, &job);
  return d->threading->parallel_team(p->team, worker, &job);
}

}  // namespace

void split_one_axis_blocking(SplitOneAxisPlan* p, bool inplace, int32_t thread_count) {
  const int64_t n = p->length, k = p->count;
  const int64_t di = at_least_one(magnitude(p->input_distance));
  const int64_t dout = at_least_one(magnitude(p->output_distance));
  // n * k / SHORT_LENGTH without forming n * k, which a huge count overflows.
  const int64_t by_length =
      n <= SHORT_LENGTH ? k / SHORT_LENGTH * n + k % SHORT_LENGTH * n / SHORT_LENGTH : k;
  const bool unit_in = p->input_stride == 1;
  const bool unit_out = p->output_stride == 1;
  int64_t block = 1, padded = 1, team = by_length;
  if (unit_in && unit_out) {
    // Every transform runs where it lies.
  } else if (inplace) {
    block = at_least_one(BLOCK_SPAN / di);
    padded = padded_length(n);
  } else if (unit_in) {
    block = at_least_one(BLOCK_SPAN / dout);
    padded = padded_length(n);
  } else if (unit_out) {
    block = at_least_one(BLOCK_SPAN / di);
  } else {
    const int64_t by_in = BLOCK_SPAN / di, by_out = BLOCK_SPAN / dout;
    block = at_least_one(by_in > by_out ? by_in : by_out);
    padded = padded_length(n);
  }
  if (padded > 1) team = at_least_one(k / block);
  if (team > thread_count) team = thread_count;
  p->block = block;
  p->padded = padded;
  p->team = team;
}

long split_one_axis_forward_inplace(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  return compute(d, true, true, a1, a2, nullptr, nullptr);
}
long split_one_axis_backward_inplace(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  return compute(d, false, true, a1, a2, nullptr, nullptr);
}
long split_one_axis_forward_out(EngineDescriptor* d, void* a1, void* a2, void* a3, void* a4) {
  return compute(d, true, false, a1, a2, a3, a4);
}
long split_one_axis_backward_out(EngineDescriptor* d, void* a1, void* a2, void* a3, void* a4) {
  return compute(d, false, false, a1, a2, a3, a4);
}

TQS_LEVEL_END
