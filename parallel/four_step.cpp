// Four-step transform. With input index j + N2 i and output index k + N1 m,
//   X[k + N1 m] = sum_j w_N2^(j m) w_N^(j k) sum_i x[j + N2 i] w_N1^(i k),
// so step 1 transforms the N2 columns (length N1, stride N2) and multiplies
// column j's k-th value by w_N^(jk); step 2 transforms the N1 rows of the
// result (length N2) and writes row k to the output elements k + N1 m.
//
// The twiddle factors come from a table of N1 + N2 chirp values
// c(m) = exp(-i pi m^2 / 2N): since (j + k)^2 - (j - k)^2 = 4jk,
// w_N^(jk) = c(j + k) conj(c(|j - k|)), exact to two roundings for every
// (j, k), where a table of all N factors would be as large as the data.
//
// Placement of the intermediate result (mode 0): a temporary of N elements
// laid out like the input, so that step 2 reads contiguous rows and copies
// each group of rows transposed into the output. Without such a temporary
// (mode 1) step 1 writes column j contiguously at output element N1 j,
// which puts row k at output elements k + N1 m, exactly where its
// transform belongs; step 2 then gathers four rows at a time. In place the
// array is first transposed so that the columns are contiguous and step 1
// can work on them where they lie.
#include "parallel/four_step.h"

#include <cmath>
#include <cstring>

#include "engine/engine.h"
#include "engine/general.h"
#include "engine/strategies.h"
#include "kernels/roots.h"
#include "kernels/simd.h"
#include "parallel/drivers.h"
#include "parallel/square_transpose.h"
#include "tqs_dfti.h"

TQS_LEVEL_BEGIN
namespace {

using namespace simd;

// Step 1 gathers this many columns at once: eight neighbours fill two cache
// lines of every input row they touch.
constexpr int64_t COLUMN_GROUP = 16;
// Step 2 without a temporary gathers rows this far apart four at a time.
constexpr int64_t STRIDED_ROW_GROUP = 4;
// Step 2 with a temporary copies this many transformed rows out at once.
constexpr int64_t ROW_GROUP = 16;
// Columns and rows are dealt out in blocks of this many.
constexpr int64_t SHARE_BLOCK = 8;
constexpr int64_t CHIRP_MIRROR = 4;
constexpr int BUFFER_ALIGNMENT = 64;

// The columns and rows run through the sub-descriptors' axis routines, which
// only the general strategy installs; the specialised complex strategies
// would commit some lengths without them.
const Strategy* const sub_strategies[] = {&general_strategy, nullptr};

int64_t align_up(int64_t bytes) {
  return (bytes + BUFFER_ALIGNMENT - 1) / BUFFER_ALIGNMENT * BUFFER_ALIGNMENT;
}

const FourStepPlan* armed_plan(const EngineDescriptor* d) {
  if (d->commit_hook != four_step_release) return nullptr;
  return static_cast<const FourStepPlan*>(d->commit_hook_armed);
}

// ---- plan -----------------------------------------------------------------

// c(m) for m = 0 .. count - 1 behind four mirrored entries c(4) .. c(1);
// m^2 mod 4N is carried along, never formed, so it stays exact for any N.
double* build_chirp(int64_t n, int64_t count) {
  auto* table = static_cast<double*>(
      tqs_mm_allocate(static_cast<uint64_t>(count) * 16 + 16 * CHIRP_MIRROR, BUFFER_ALIGNMENT));
  if (table == nullptr) return nullptr;
  double* c = table + 2 * CHIRP_MIRROR;
  const int64_t period = 4 * n;
  const RootGenerator roots(period);
  int64_t square = 0;
  for (int64_t m = 0; m < count; ++m) {
    roots.root(square, c + 2 * m);
    square += 2 * m + 1;
    while (square >= period) square -= period;
  }
  for (int64_t m = 1; m <= CHIRP_MIRROR && m < count; ++m) {
    c[-2 * m] = c[2 * m];
    c[-2 * m + 1] = c[2 * m + 1];
  }
  return table;
}

long make_sub_descriptor(EngineDescriptor** out, int64_t length) {
  EngineDescriptor* s = nullptr;
  long status = create_engine_descriptor(&s, DFTI_DOUBLE, DFTI_COMPLEX, 1, &length);
  if (status != 0) return status;
  s->strategy_list = sub_strategies;
  s->thread_limit = 1;
  s->plan_flags |= FLAG_NESTED;
  status = s->methods->commit(s);
  if (status == 0 && (s->plan_flags & FLAG_DIRECT_AXIS) == 0) status = DFTI_STATUS_INTERNAL;
  if (status != 0) {
    s->destroy(s);
    return status;
  }
  // The members of the team bring their own work space.
  tqs_mm_free(s->work_buffer);
  s->work_buffer = nullptr;
  // A sub-descriptor beyond the plan limits carries a decomposition of its
  // own; it always gets a separate array here, so it may use a temporary.
  if (s->commit_hook == four_step_release && s->commit_hook_armed != nullptr) {
    static_cast<FourStepPlan*>(s->commit_hook_armed)->mode = 0;
  }
  *out = s;
  return 0;
}

void free_plan(FourStepPlan* p) {
  if (p == nullptr) return;
  if (p->large_plan != nullptr && p->large_plan != p->small_plan) p->large_plan->destroy(p->large_plan);
  if (p->small_plan != nullptr) p->small_plan->destroy(p->small_plan);
  tqs_mm_free(p->chirp_table);
  tqs_mm_free(p->temporary);
  tqs_mm_free_direct(p);
}

// Bytes of one member's area: a gather buffer followed by the work space of
// the sub-descriptor that the step runs; the larger of the two steps.
int64_t member_bytes(const FourStepPlan* p) {
  const int64_t columns = align_up(COLUMN_GROUP * p->factor1 * 16) + align_up(p->small_plan->max_work_size);
  const int64_t row_buffer = p->mode == 1 ? STRIDED_ROW_GROUP * p->factor2 * 16 : 0;
  const int64_t rows = align_up(row_buffer) + align_up(p->large_plan->max_work_size);
  return columns > rows ? columns : rows;
}

// ---- in-place transposition -------------------------------------------------

// Transposes a rows x cols matrix of items (item complex elements each),
// following the cycles of the permutation: position j rows + i of the result
// takes the item from i cols + j.
long permute_in_place(double* a, int64_t rows, int64_t cols, int64_t item) {
  const int64_t total = rows * cols;
  const int64_t words = (total + 63) / 64;
  auto* seen = static_cast<uint64_t*>(tqs_mm_calloc(static_cast<uint64_t>(words), 8, BUFFER_ALIGNMENT));
  auto* hold = static_cast<double*>(tqs_mm_allocate(static_cast<uint64_t>(item) * 16, BUFFER_ALIGNMENT));
  if (seen == nullptr || hold == nullptr) {
    tqs_mm_free(seen);
    tqs_mm_free(hold);
    return DFTI_STATUS_MEMORY;
  }
  const size_t bytes = static_cast<size_t>(item) * 16;
  const int64_t step = 2 * item;
  for (int64_t start = 1; start + 1 < total; ++start) {
    if (seen[start / 64] & (uint64_t{1} << (start % 64))) continue;
    std::memcpy(hold, a + start * step, bytes);
    int64_t at = start;
    for (;;) {
      seen[at / 64] |= uint64_t{1} << (at % 64);
      const int64_t from = (at % rows) * cols + at / rows;
      if (from == start) {
        std::memcpy(a + at * step, hold, bytes);
        break;
      }
      std::memcpy(a + at * step, a + from * step, bytes);
      at = from;
    }
  }
  tqs_mm_free(seen);
  tqs_mm_free(hold);
  return 0;
}

// The block rows of the team routine, on the calling thread.
void square_in_place(double* a, int64_t n, bool team) {
  const uint64_t u = static_cast<uint64_t>(n);
  if (team && n > 64 && tqs_trans_tqs_zimatcopy_square_t_par(u, a, u, square_block_kernel) == 1) return;
  if (n % 4 == 0) {
    const uint64_t m = u / 4, h = m / 2;
    for (uint64_t i = 0; i < m; ++i) {
      double* diagonal = a + 2 * (4 * i * u + 4 * i);
      if (i < h) {
        square_block_kernel(diagonal, diagonal, u, h + 1);
      } else {
        square_block_kernel(diagonal, diagonal, u, m - i);
        square_block_kernel(a + 2 * (4 * i), a + 2 * (4 * i * u), u, i - h);
      }
    }
    return;
  }
  const double one[2] = {1.0, 0.0};
  tqs_trans_tqs_zimatcopy_square_t(u, one, a, u);
}

// ---- steps ------------------------------------------------------------------

// w_N^(jk) from the chirp table (c points at c(0)).
inline C1 twiddle(const double* c, int64_t j, int64_t k) {
  const int64_t d = j >= k ? j - k : k - j;
  return cmulj(load1(c + 2 * (j + k)), load1(c + 2 * d));
}

template <bool FORWARD>
inline C1 turn(C1 x, C1 w) {
  if constexpr (FORWARD) {
    return cmul(x, w);
  } else {
    return cmulj(x, w);
  }
}

// Column j's n1 contiguous values times w^(jk), in place.
template <bool FORWARD>
void twiddle_column(double* x, int64_t j, int64_t n1, const double* c) {
  for (int64_t k = 0; k < n1; ++k) store1(x + 2 * k, turn<FORWARD>(load1(x + 2 * k), twiddle(c, j, k)));
}

// Rows this far ahead are asked for while a strided column group is read
// or written: every row lies on a page of its own, beyond what the hardware
// prefetchers follow.
constexpr int64_t PREFETCH_ROWS = 8;

// The w <= COLUMN_GROUP columns of a matrix whose rows lie `stride`
// elements apart, n rows each, into w contiguous vectors in buf.
void gather_columns(const double* src, int64_t stride, int64_t n, int64_t w, double* buf) {
  for (int64_t i = 0; i < n; ++i) {
    const double* row = src + 2 * i * stride;
    if (i + PREFETCH_ROWS < n) {
      const double* ahead = row + 2 * PREFETCH_ROWS * stride;
      for (int64_t line = 0; line < 2 * w; line += 8) __builtin_prefetch(ahead + line);
    }
    for (int64_t col = 0; col < w; ++col) store1(buf + 2 * (col * n + i), load1(row + 2 * col));
  }
}

// The reverse: w contiguous vectors of n, times scale, into columns.
void scatter_columns(const double* buf, int64_t n, int64_t w, double scale, double* dest, int64_t stride) {
  for (int64_t i = 0; i < n; ++i) {
    double* row = dest + 2 * i * stride;
    if (i + PREFETCH_ROWS < n) {
      double* ahead = row + 2 * PREFETCH_ROWS * stride;
      for (int64_t line = 0; line < 2 * w; line += 8) __builtin_prefetch(ahead + line, 1);
    }
    if (scale == 1.0) {
      for (int64_t col = 0; col < w; ++col) store1(row + 2 * col, load1(buf + 2 * (col * n + i)));
    } else {
      for (int64_t col = 0; col < w; ++col) store1(row + 2 * col, load1(buf + 2 * (col * n + i)) * scale);
    }
  }
}

// Columns j0 .. j0 + w - 1 (contiguous in buf, n1 apart) times their
// twiddles into the rows of a matrix of n2 columns.
template <bool FORWARD>
void scatter_twiddled(const double* buf, int64_t n1, int64_t j0, int64_t w, double* dest, int64_t n2,
                      const double* c) {
  for (int64_t k = 0; k < n1; ++k) {
    double* row = dest + 2 * (k * n2 + j0);
    if (k + PREFETCH_ROWS < n1) {
      double* ahead = row + 2 * PREFETCH_ROWS * n2;
      for (int64_t line = 0; line < 2 * w; line += 8) __builtin_prefetch(ahead + line, 1);
    }
    for (int64_t col = 0; col < w; ++col) {
      store1(row + 2 * col, turn<FORWARD>(load1(buf + 2 * (col * n1 + k)), twiddle(c, j0 + col, k)));
    }
  }
}

struct Run {
  EngineDescriptor* d;
  const FourStepPlan* p;
  bool forward;
  const double* in;
  double* out;
  double* temp;      // mode 0
  bool transposed;   // in place without a temporary: column j at out + N1 j
  double scale;
  int64_t area_bytes;
  int failed;        // a member's step 1 failed: nobody runs step 2
};

template <bool FORWARD>
long columns(const Run& r, int64_t j_begin, int64_t j_end, char* area) {
  const FourStepPlan* p = r.p;
  const int64_t n1 = p->factor1, n2 = p->factor2;
  EngineDescriptor* sub = p->small_plan;
  const AxisRoutine transform = FORWARD ? sub->axis_plan_forward : sub->axis_plan_backward;
  auto* buf = reinterpret_cast<double*>(area);
  void* work = area + align_up(COLUMN_GROUP * n1 * 16);
  const double* c = p->chirp_table + 2 * CHIRP_MIRROR;
  long status = 0;
  for (int64_t j0 = j_begin; j0 < j_end; j0 += COLUMN_GROUP) {
    const int64_t w = j_end - j0 < COLUMN_GROUP ? j_end - j0 : COLUMN_GROUP;
    if (r.transposed) {
      for (int64_t col = 0; col < w; ++col) {
        double* x = r.out + 2 * n1 * (j0 + col);
        status |= transform(x, x, sub, work);
        twiddle_column<FORWARD>(x, j0 + col, n1, c);
      }
      continue;
    }
    gather_columns(r.in + 2 * j0, n2, n1, w, buf);
    if (p->mode == 0) {
      for (int64_t col = 0; col < w; ++col) {
        double* x = buf + 2 * n1 * col;
        status |= transform(x, x, sub, work);
      }
      scatter_twiddled<FORWARD>(buf, n1, j0, w, r.temp, n2, c);
    } else {
      for (int64_t col = 0; col < w; ++col) {
        double* y = r.out + 2 * n1 * (j0 + col);
        status |= transform(buf + 2 * n1 * col, y, sub, work);
        twiddle_column<FORWARD>(y, j0 + col, n1, c);
      }
    }
  }
  return status;
}

template <bool FORWARD>
long rows(const Run& r, int64_t k_begin, int64_t k_end, char* area) {
  const FourStepPlan* p = r.p;
  const int64_t n1 = p->factor1, n2 = p->factor2;
  EngineDescriptor* sub = p->large_plan;
  const AxisRoutine transform = FORWARD ? sub->axis_plan_forward : sub->axis_plan_backward;
  long status = 0;
  if (p->mode == 0) {
    for (int64_t k0 = k_begin; k0 < k_end; k0 += ROW_GROUP) {
      const int64_t g = k_end - k0 < ROW_GROUP ? k_end - k0 : ROW_GROUP;
      for (int64_t k = k0; k < k0 + g; ++k) {
        double* x = r.temp + 2 * k * n2;
        status |= transform(x, x, sub, area);
      }
      scatter_columns(r.temp + 2 * k0 * n2, n2, g, r.scale, r.out + 2 * k0, n1);
    }
    return status;
  }
  auto* buf = reinterpret_cast<double*>(area);
  void* work = area + align_up(STRIDED_ROW_GROUP * n2 * 16);
  for (int64_t k0 = k_begin; k0 < k_end; k0 += STRIDED_ROW_GROUP) {
    const int64_t g = k_end - k0 < STRIDED_ROW_GROUP ? k_end - k0 : STRIDED_ROW_GROUP;
    gather_columns(r.out + 2 * k0, n1, n2, g, buf);
    for (int64_t k = 0; k < g; ++k) {
      double* x = buf + 2 * k * n2;
      status |= transform(x, x, sub, work);
    }
    scatter_columns(buf, n2, g, r.scale, r.out + 2 * k0, n1);
  }
  return status;
}

// Member k's share of count columns or rows: blocks of SHARE_BLOCK, the
// first members taking one block more when they do not divide evenly.
void share(int64_t count, int64_t k, int64_t team, int64_t* begin, int64_t* end) {
  const int64_t blocks = (count + SHARE_BLOCK - 1) / SHARE_BLOCK;
  const int64_t q = blocks > 0 ? (blocks - 1) / team : 0;
  const int64_t r = blocks - team * q;
  const int64_t first = k < r ? k * (q + 1) : r * (q + 1) + (k - r) * q;
  const int64_t mine = k < r ? q + 1 : q;
  *begin = first * SHARE_BLOCK < count ? first * SHARE_BLOCK : count;
  *end = (first + mine) * SHARE_BLOCK < count ? (first + mine) * SHARE_BLOCK : count;
}

template <bool FORWARD>
int64_t member(Run& r, int64_t k, int64_t team, char* area) {
  int64_t begin, end;
  long status = 0;
  share(r.p->factor2, k, team, &begin, &end);
  if (begin < end) status = area == nullptr ? long{DFTI_STATUS_MEMORY} : columns<FORWARD>(r, begin, end, area);
  if (status != 0) __atomic_store_n(&r.failed, 1, __ATOMIC_RELAXED);
  // Everybody reaches the barrier, failed or not; a barrier outside a team
  // would bind to whatever region the caller runs in.
  if (team > 1) r.d->threading->barrier(0);
  if (__atomic_load_n(&r.failed, __ATOMIC_RELAXED) != 0) return status;
  share(r.p->factor1, k, team, &begin, &end);
  if (begin < end) status = area == nullptr ? long{DFTI_STATUS_MEMORY} : rows<FORWARD>(r, begin, end, area);
  return status;
}

int64_t team_member(int64_t k, int64_t team, void* argument) {
  Run& r = *static_cast<Run*>(argument);
  char* area = static_cast<char*>(tqs_mm_allocate(static_cast<uint64_t>(r.area_bytes), BUFFER_ALIGNMENT));
  const int64_t status = r.forward ? member<true>(r, k, team, area) : member<false>(r, k, team, area);
  tqs_mm_free(area);
  return status;
}

// One transform. team: shared among a team; otherwise on the calling thread
// with work (axis_work_size bytes, or null).
long compute(const double* in, double* out, EngineDescriptor* d, bool forward, bool team, void* work) {
  const FourStepPlan* p = armed_plan(d);
  if (p == nullptr) return DFTI_STATUS_INTERNAL;
  const int64_t n = p->factor1 * p->factor2;
  Run r{d, p, forward, in, out, nullptr, false,
        forward ? d->active_forward_scale : d->active_backward_scale, member_bytes(p), 0};
  double* own_temp = nullptr;
  if (p->mode == 0) {
    // The team's temporary is kept with the plan: the per-thread caches
    // of the memory manager cannot be relied on for a block this large, and
    // a fresh one costs a page fault every 4 KiB. The axis routine may run
    // on several threads at once and brings its own.
    r.temp = team ? p->temporary : nullptr;
    if (r.temp == nullptr) {
      own_temp = static_cast<double*>(tqs_mm_allocate(static_cast<uint64_t>(n) * 16, BUFFER_ALIGNMENT));
      if (own_temp == nullptr) return DFTI_STATUS_MEMORY;
      r.temp = own_temp;
    }
  } else if (in == out) {
    const long status = transpose_in_place(out, p->factor1, p->factor2, team);
    if (status != 0) return status;
    r.transposed = true;
  }
  long status;
  if (team) {
    const ttl_services* t = d->threading;
    const int64_t size = driver_team_size(d);
    status = t != nullptr && t->parallel_team != nullptr ? t->parallel_team(size, team_member, &r)
                                                         : ttl_parallel_team(size, team_member, &r);
  } else if (work != nullptr) {
    status = forward ? member<true>(r, 0, 1, static_cast<char*>(work))
                     : member<false>(r, 0, 1, static_cast<char*>(work));
  } else {
    status = team_member(0, 1, &r);
  }
  tqs_mm_free(own_temp);
  return status;
}

long axis_forward(const double* in, double* out, EngineDescriptor* d, void* work) {
  return compute(in, out, d, true, false, work);
}

long axis_backward(const double* in, double* out, EngineDescriptor* d, void* work) {
  return compute(in, out, d, false, false, work);
}

}  // namespace

int64_t four_step_split(int64_t n) {
  if (n < 4) return 0;
  if (is_power_of_two(n)) return int64_t(1) << (floor_log2(n) / 2);
  int64_t s = static_cast<int64_t>(std::sqrt(static_cast<double>(n)));
  while (s * s < n) ++s;
  while (s > 1 && (s - 1) * (s - 1) >= n) --s;
  int64_t factors[64];
  int count = 0;
  int64_t rest = n;
  for (int64_t f = 2; f <= 3; ++f) {
    while (rest % f == 0) {
      factors[count++] = f;
      rest /= f;
    }
  }
  for (int64_t f = 5, step = 2; f <= rest / f; f += step, step = 6 - step) {
    while (rest % f == 0) {
      factors[count++] = f;
      rest /= f;
    }
  }
  if (rest > 1) factors[count++] = rest;
  // From the largest factor down, each goes to the smaller product unless
  // that would carry the larger one past sqrt(n).
  int64_t a = 1, b = 1;
  for (int i = count - 1; i >= 0; --i) {
    const int64_t f = factors[i];
    if (a < b || f > s / b) {
      a *= f;
    } else {
      b *= f;
    }
  }
  const int64_t r = a < b ? a : b;
  if (r == 1) return 0;
  return r < n / r ? r : n / r;
}

long four_step_plan(EngineDescriptor* d, bool team) {
  const int64_t n = d->length;
  // A row longer than the longest power-of-two plan would need a
  // decomposition of its own and tables that grow with the row: such a
  // split (a product with a huge prime) is left to the per-axis plans, which
  // refuse it, instead of spending minutes and gigabytes on tables. Since
  // the column is the shorter factor, no length above MAX_ROW^2 has any
  // other split, and those are declined before the trial division, which
  // would run to sqrt(n).
  constexpr int64_t MAX_ROW = int64_t(1) << 26;
  if (n > MAX_ROW * MAX_ROW) return FOUR_STEP_NO_SPLIT;
  const int64_t n1 = four_step_split(n);
  if (n1 == 0 || n / n1 > MAX_ROW) return FOUR_STEP_NO_SPLIT;
  auto* p = static_cast<FourStepPlan*>(tqs_mm_allocate_direct(sizeof(FourStepPlan), BUFFER_ALIGNMENT));
  if (p == nullptr) return DFTI_STATUS_MEMORY;
  std::memset(p, 0, sizeof(FourStepPlan));
  p->factor1 = p->factor1_copy = n1;
  p->factor2 = p->factor2_copy = n / n1;
  p->mode = d->workspace == DFTI_SCRATCH_AVOIDED ? 1 : 0;
  // The sub-descriptors first: a factor no plan can take (a huge prime)
  // ends the attempt before the chirp table and the temporary, which grow
  // with N, are filled. A failed attempt is not reported, so the order
  // changes no answer.
  long status = make_sub_descriptor(&p->small_plan, p->factor1);
  if (status == 0) {
    if (p->factor2 == p->factor1) {
      p->large_plan = p->small_plan;
    } else {
      status = make_sub_descriptor(&p->large_plan, p->factor2);
    }
  }
  if (status == 0) {
    p->chirp_table = build_chirp(n, p->factor1 + p->factor2);
    if (p->chirp_table == nullptr) status = DFTI_STATUS_MEMORY;
  }
  if (status == 0 && team && p->mode == 0) {
    p->temporary = static_cast<double*>(tqs_mm_allocate(static_cast<uint64_t>(n) * 16, BUFFER_ALIGNMENT));
    if (p->temporary == nullptr) status = DFTI_STATUS_MEMORY;
  }
  if (status != 0) {
    free_plan(p);
    return status;
  }
  if (d->commit_hook_armed != nullptr && d->commit_hook != nullptr) d->commit_hook(d);
  d->commit_hook_armed = p;
  d->commit_hook = four_step_release;
  return 0;
}

void four_step_release(EngineDescriptor* d) {
  auto* p = static_cast<FourStepPlan*>(d->commit_hook_armed);
  d->commit_hook_armed = nullptr;
  free_plan(p);
}

long four_step_forward(const double* input, double* output, EngineDescriptor* d, void*) {
  return compute(input, output, d, true, true, nullptr);
}

long four_step_backward(const double* input, double* output, EngineDescriptor* d, void*) {
  return compute(input, output, d, false, true, nullptr);
}

long try_four_step_axis(EngineDescriptor* m) {
  const int64_t n = m->length;
  if (m->complex_storage != DFTI_COMPLEX_COMPLEX || m->ordering != DFTI_ORDER_NATURAL ||
      m->normalised_rank != 1 || m->first_input_stride != 1 || m->first_output_stride != 1 ||
      floor_log2(n) < 16) {
    return STRATEGY_DECLINED;
  }
  if (axis_within_limits(n) && m->workspace != DFTI_SCRATCH_AVOIDED) return STRATEGY_DECLINED;
  // A team plan armed at this commit (its team was then cut to one thread)
  // serves the axis as well.
  if (armed_plan(m) == nullptr) {
    if (m->commit_hook_armed != nullptr || four_step_plan(m, false) != 0) return STRATEGY_DECLINED;
  }
  m->axis_plan_forward = axis_forward;
  m->axis_plan_backward = axis_backward;
  m->axis_needs_plan = 0;
  m->axis_work_size = member_bytes(armed_plan(m));
  return 0;
}

long transpose_in_place(double* a, int64_t rows, int64_t cols, bool team) {
  if (rows == cols) {
    square_in_place(a, rows, team);
    return 0;
  }
  if (cols % rows != 0) return permute_in_place(a, rows, cols, 1);
  // Rows made of cols / rows square blocks: gather each block's rows
  // (whole rows of the block move as one item), then transpose the squares.
  const long status = permute_in_place(a, rows, cols / rows, rows);
  if (status != 0) return status;
  for (int64_t b = 0; b < cols / rows; ++b) square_in_place(a + 2 * b * rows * rows, rows, team);
  return 0;
}

TQS_LEVEL_END
