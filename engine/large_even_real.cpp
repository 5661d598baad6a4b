// LargeEvenRealStrategy: one real transform of even length N >= 16384 on a
// team of at least two threads, as a P x Q two-dimensional problem (real
// transforms of length Q, complex transforms of length P; the passes are in
// parallel/large_even_real.cpp). Commit splits N, builds the chirp table
// the twiddles are formed from, the plans, the table of spectra between the
// passes and the members' areas; nothing is allocated while computing.
#include "engine/general.h"
#include "engine/large_even_real_plan.h"
#include "engine/plan.h"
#include "engine/strategies.h"
#include "kernels/real_compute.h"
#include "kernels/roots.h"
#include "parallel/large_even_real.h"
#include "tqs_dfti.h"

TQS_LEVEL_BEGIN
namespace {

constexpr int64_t SHORTEST = 16384;
constexpr int64_t LONGEST_P = 512;
constexpr int TABLE_ALIGNMENT = 4096;
// Columns of the input gathered together (four cache lines of each row) and
// columns of the spectra (sixteen lines of each row), unless a block would
// outgrow its share of the second-level cache.
constexpr int64_t GATHERED_COLUMNS = 32;
constexpr int64_t GATHERED_ROWS = 64;
constexpr int64_t DEFAULT_BLOCK_BYTES = 256 * 1024;

int64_t round_up(int64_t v, int64_t to) { return (v + to - 1) / to * to; }
int64_t larger_of(int64_t a, int64_t b) { return a > b ? a : b; }

// A row length in elements of `bytes` each, whole cache lines, and an odd
// number of them, so that the rows of a gathered block spread over the
// cache sets instead of piling into a few.
int64_t spread_stride(int64_t elements, int64_t bytes) {
  const int64_t per_line = 64 / bytes;
  int64_t s = round_up(elements, per_line);
  if ((s / per_line) % 2 == 0) s += per_line;
  return s;
}

bool applies(const EngineDescriptor* d) {
  const int64_t n = d->length;
  const int32_t f = d->packed_format;
  return d->forward_domain == DFTI_REAL &&
         (f == DFTI_PACKING_CCE || f == DFTI_PACKING_PERMUTED || f == DFTI_PACKING_HALF_SPECTRUM) &&
         (cce_layout(d) || f == DFTI_PACKING_PERMUTED) && d->number_of_transforms == 1 &&
         d->number_of_user_threads == 1 && d->forward_scale == 1.0 && d->backward_scale == 1.0 &&
         d->normalised_rank == 1 && d->first_input_stride == 1 && d->first_output_stride == 1 &&
         n % 2 == 0 && n >= SHORTEST && d->thread_count >= 2 && inplace_cce_consistent(d);
}

// N = P x Q, Q even: factors of N/2 go to P while P is the smaller and
// stays within LONGEST_P, the rest to Q; 3 x 3 and 5 x 5 are shared out
// first.
void split_length(int64_t n, int64_t* p_out, int64_t* q_out) {
  int64_t m = n / 2, p = 1, q = 2;
  if (m % 9 == 0) {
    m /= 9;
    p = 3;
    q = 6;
  }
  if (m % 25 == 0) {
    m /= 25;
    p *= 5;
    q *= 5;
  }
  for (int64_t d = 2; m > 1;) {
    if (d * d > m) d = m;  // what is left is prime
    if (m % d != 0) {
      ++d;
      continue;
    }
    m /= d;
    if (p < q && (p == 1 || p * d <= LONGEST_P)) {
      p *= d;
    } else {
      q *= d;
    }
  }
  *p_out = p;
  *q_out = q;
}

// exp(-i pi k^2 / (2N)) = exp(-2 pi i (k^2 mod 4N) / 4N), k from -(Q - 1).
void fill_chirp(LargeEvenRealPlan* plan) {
  const int64_t P = plan->p, Q = plan->q, period = 4 * P * Q;
  const RootGenerator roots(period);
  for (int64_t i = 0; i < 2 * Q + P; ++i) {
    const int64_t k = i - (Q - 1);
    const int64_t j = (k * k) % period;
    double c, s;
    roots.cos_sin(j, &c, &s);
    plan->chirp[2 * i] = c;
    plan->chirp[2 * i + 1] = -s;
  }
  plan->chirp_centre = plan->chirp + 2 * (Q - 1);
}

double* allocate_doubles(int64_t count) {
  return static_cast<double*>(
      tqs_mm_allocate(static_cast<uint64_t>(count) * sizeof(double), TABLE_ALIGNMENT));
}

void free_plan(EngineDescriptor* d) {
  auto* p = static_cast<LargeEvenRealPlan*>(d->strategy_plan);
  if (p == nullptr) return;
  if (p->real_forward_plan != nullptr) real_plan_destroy(p->real_forward_plan);
  if (p->real_backward_plan != nullptr) real_plan_destroy(p->real_backward_plan);
  if (p->complex_plan != nullptr) complex_plan_destroy(p->complex_plan);
  tqs_mm_free(p->chirp);
  tqs_mm_free(p->spectra);
  tqs_mm_free(p->member_area);
  tqs_mm_free(p);
  d->strategy_plan = nullptr;
}

long make_plans(LargeEvenRealPlan* p) {
  int code = real_plan_create(&p->real_forward_plan, p->q, SCALE_NONE, 0);
  if (code == PLAN_OK) code = real_plan_create(&p->real_backward_plan, p->q, SCALE_NONE, 0);
  if (code == PLAN_OK) code = complex_plan_create(&p->complex_plan, p->p, SCALE_NONE, 0);
  int64_t forward_work = 0, backward_work = 0;
  if (code == PLAN_OK) code = real_plan_work_size(p->real_forward_plan, &forward_work);
  if (code == PLAN_OK) code = real_plan_work_size(p->real_backward_plan, &backward_work);
  if (code == PLAN_OK) code = complex_plan_work_size(p->complex_plan, &p->complex_work_size);
  p->real_work_size = larger_of(forward_work, backward_work);
  return translate_plan_status(code);
}

// How the members share the passes and what each one's slice holds: its
// block (gathered columns of the input, or rows of the spectra plus the
// Nyquist row), then the work area of the plans. A block's data takes at
// most half the second-level cache, where it stays through its transforms.
void lay_out(LargeEvenRealPlan* p, const EngineDescriptor* d) {
  const int64_t P = p->p, Q = p->q;
  const int l2 = descriptor_cache_size(d, 2);
  const int64_t budget = l2 > 0 ? l2 / 2 : DEFAULT_BLOCK_BYTES;
  p->row_stride = spread_stride(Q / 2, 16);
  p->real_stride = spread_stride(Q, 8);
  p->complex_stride = spread_stride(P, 16);
  int64_t columns = GATHERED_COLUMNS < P ? GATHERED_COLUMNS : P;
  while (columns > 1 && columns * Q * 8 > budget) columns /= 2;
  int64_t rows = GATHERED_ROWS < Q / 2 ? GATHERED_ROWS : Q / 2;
  while (rows > 1 && rows * P * 16 > budget) rows /= 2;
  p->columns = columns;
  p->rows = rows;
  p->block_bytes =
      round_up(larger_of(columns * p->real_stride * 8, (rows + 1) * p->complex_stride * 16), 64);
  // Plan work areas are aligned up to 32 bytes inside the slice.
  const int64_t work = round_up(larger_of(p->real_work_size, p->complex_work_size) + 32, 64);
  p->slice_bytes = p->block_bytes + work;
  // Slices only for members that can exist and find work: no more than the
  // domain's threads (the team's size at compute) or the blocks of a pass.
  int64_t members = d->thread_count;
  if (d->threading != nullptr && d->threading->get_max_threads != nullptr) {
    const int64_t available = d->threading->get_max_threads();
    if (available < members) members = available;
  }
  const int64_t pieces = larger_of((P + columns - 1) / columns, (Q / 2 + rows - 1) / rows);
  if (pieces < members) members = pieces;
  p->members = members < 1 ? 1 : members;
  if (p->members > 1) p->slice_bytes += slice_room(p->slice_bytes);
}

long build(EngineDescriptor* d) {
  auto* p = static_cast<LargeEvenRealPlan*>(d->strategy_plan);
  p->packed_format = d->packed_format;
  p->placement = d->placement;
  split_length(d->length, &p->p, &p->q);
  const int64_t P = p->p, Q = p->q;

  // The plans first: they refuse lengths beyond their limits before any
  // table of that size is made.
  const long status = make_plans(p);
  if (status != 0) return status;
  p->chirp = allocate_doubles(2 * (2 * Q + P));
  if (p->chirp == nullptr) return DFTI_STATUS_MEMORY;
  fill_chirp(p);
  lay_out(p, d);
  // P rows of row_stride (backward) or Q/2 rows of complex_stride (forward).
  p->spectra = allocate_doubles(2 * larger_of(P * p->row_stride, Q / 2 * p->complex_stride));
  p->member_area = static_cast<char*>(
      tqs_mm_allocate(static_cast<uint64_t>(p->members * p->slice_bytes), TABLE_ALIGNMENT));
  if (p->spectra == nullptr || p->member_area == nullptr) return DFTI_STATUS_MEMORY;
  return 0;
}

long compute(EngineDescriptor* d, bool forward, void* a1, void* a2) {
  const auto* p = static_cast<const LargeEvenRealPlan*>(d->strategy_plan);
  const bool inplace = d->placement == DFTI_INPLACE;
  if (a1 == nullptr || (!inplace && a2 == nullptr)) return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  if (p == nullptr) return DFTI_STATUS_INTERNAL;
  // Offsets count elements of each side: complex values on the spectrum
  // side of DFTI_COMPLEX_COMPLEX storage, doubles everywhere else.
  const int64_t in_unit = real_input_unit(d, forward);
  const int64_t out_unit = real_output_unit(d, forward);
  double* base = static_cast<double*>(a1);
  const double* x = base + d->input_offset * in_unit;
  double* y;
  if (!inplace) {
    y = static_cast<double*>(a2) + d->output_offset * out_unit;
  } else if (d->conjugate_even_storage == DFTI_COMPLEX_COMPLEX) {
    y = base + d->output_offset * out_unit;
  } else {
    y = base + d->input_offset;
  }
  const bool zero_past_end =
      !forward && inplace && d->packed_format == DFTI_PACKING_HALF_SPECTRUM;
  return large_even_real_run(p, d->threading, d->thread_count, forward, cce_layout(d),
                             zero_past_end, x, y);
}

long forward_inplace(EngineDescriptor* d, void* a1, void*, void*, void*) {
  return compute(d, true, a1, a1);
}
long backward_inplace(EngineDescriptor* d, void* a1, void*, void*, void*) {
  return compute(d, false, a1, a1);
}
long forward_out(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  return compute(d, true, a1, a2);
}
long backward_out(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  return compute(d, false, a1, a2);
}

long try_commit(const Strategy* self, EngineDescriptor* d) {
  if (!applies(d)) return STRATEGY_DECLINED;
  // Whatever an earlier commit left (this strategy's plan or the general
  // strategy's chain and buffers) goes first.
  d->release_committed_state(d);
  d->strategy_plan = tqs_mm_calloc(1, sizeof(LargeEvenRealPlan), 256);
  if (d->strategy_plan == nullptr) return DFTI_STATUS_MEMORY;
  d->committed_strategy = self;
  const long status = build(d);
  if (status != 0) {
    free_plan(d);
    return status;
  }
  install_compute_entries(d, forward_inplace, forward_out, backward_inplace, backward_out);
  return 0;
}

long release(const Strategy* self, EngineDescriptor* d) {
  if (!drop_compute_entries(self, d)) return DFTI_STATUS_INTERNAL;
  free_plan(d);
  return 0;
}

}  // namespace

const Strategy large_even_real_strategy = {try_commit, release};

bool large_even_real_owns(const EngineDescriptor* d) {
  return d->compute_forward == forward_inplace || d->compute_forward == forward_out;
}

TQS_LEVEL_END
