// Complex transforms of length 96 and 168 with unit strides, single or in
// batches, on a team: each thread takes a contiguous share of the batch and
// runs it two transforms per 256-bit register, one lane each. The strategy
// exists only where those registers do (levels 4 and 5); below, its objects
// decline everything.
#include "engine/strategies.h"
#include "kernels/generated/codelet_kernels.h"
#include "kernels/roots.h"
#include "tqs_dfti.h"

TQS_LEVEL_BEGIN

#if TQS_LEVEL >= 4
namespace {

struct FixedLengthPlan {
  int64_t input_stride;
  int64_t output_stride;
  int64_t input_distance;
  int64_t output_distance;
  int64_t number_of_transforms;
  int32_t placement;
  double* twiddles;  // (p/2) x (q-1) groups of eight doubles
};

typedef void (*SingleKernel)(const double* in, double* out, const double* tw);
typedef void (*PairKernel)(const double* in, double* out, int64_t pairs, int64_t din,
                           int64_t dout, const double* tw);
typedef void (*PairKernelInPlace)(double* data, int64_t pairs, int64_t d, const double* tw);

// n = p x q: pass 1 runs q transforms of length p, pass 2 p of length q.
struct FixedLength {
  int64_t n;
  int64_t p;
  int64_t q;
  SingleKernel single[2];  // forward, backward
  PairKernel pair[2];
  PairKernelInPlace pair_inplace[2];
};

constexpr FixedLength length96 = {96,
                                  8,
                                  12,
                                  {fixed_single_fwd_96, fixed_single_bwd_96},
                                  {fixed_pair_fwd_96, fixed_pair_bwd_96},
                                  {fixed_pair_fwd_96_inplace, fixed_pair_bwd_96_inplace}};
constexpr FixedLength length168 = {168,
                                   12,
                                   14,
                                   {fixed_single_fwd_168, fixed_single_bwd_168},
                                   {fixed_pair_fwd_168, fixed_pair_bwd_168},
                                   {fixed_pair_fwd_168_inplace, fixed_pair_bwd_168_inplace}};

// Group (j, m) for the column pair (2j, 2j+1) and row m = 1..q-1:
// {cos a, cos a, cos b, cos b, -sin a, sin a, -sin b, sin b} with
// a = 2 pi (2j) m / n and b = 2 pi (2j+1) m / n.
void fill_twiddles(double* tw, const FixedLength& f) {
  for (int64_t j = 0; j < f.p / 2; ++j) {
    for (int64_t m = 1; m < f.q; ++m) {
      double* g = tw + 8 * (j * (f.q - 1) + m - 1);
      for (int64_t lane = 0; lane < 2; ++lane) {
        double c, s;
        root_cos_sin((2 * j + lane) * m, f.n, &c, &s);
        g[2 * lane] = c;
        g[2 * lane + 1] = c;
        g[4 + 2 * lane] = -s;
        g[5 + 2 * lane] = s;
      }
    }
  }
}

struct Job {
  const FixedLength* length;
  const FixedLengthPlan* plan;
  int direction;  // 0 forward, 1 backward
  const double* input;
  double* output;
};

// Thread t of T takes transforms [first, first + share): the first
// count mod T threads one more than the others. A share runs two transforms
// at a time; an odd share ends with one transform alone. Both kernels give
// a transform the same bits, so neither the sharing nor the pairing shows
// in the results.
int64_t run_share(int64_t t, int64_t team, void* argument) {
  const Job& job = *static_cast<const Job*>(argument);
  const FixedLengthPlan& plan = *job.plan;
  const FixedLength& f = *job.length;
  // No divisions for the common team of one: they cost as much as a tenth
  // of a lone transform.
  const int64_t base = team == 1 ? plan.number_of_transforms : plan.number_of_transforms / team;
  const int64_t extra = team == 1 ? 0 : plan.number_of_transforms % team;
  const int64_t share = t < extra ? base + 1 : base;
  const int64_t first = t < extra ? t * (base + 1) : t * base + extra;
  const int64_t pairs = share / 2;
  const int64_t dout = 2 * plan.output_distance;
  double* out = job.output + first * dout;
  if (plan.placement == DFTI_INPLACE) {
    if (pairs > 0) f.pair_inplace[job.direction](out, pairs, dout, plan.twiddles);
    if (share % 2 != 0) {
      out += 2 * pairs * dout;
      f.single[job.direction](out, out, plan.twiddles);
    }
    return 0;
  }
  const int64_t din = 2 * plan.input_distance;
  const double* in = job.input + first * din;
  if (pairs > 0) f.pair[job.direction](in, out, pairs, din, dout, plan.twiddles);
  if (share % 2 != 0) f.single[job.direction](in + 2 * pairs * din, out + 2 * pairs * dout, plan.twiddles);
  return 0;
}

template <const FixedLength& F, int Direction>
long compute(EngineDescriptor* d, void* a1, void* a2, void*, void*) {
  const auto* plan = static_cast<const FixedLengthPlan*>(d->strategy_plan);
  const bool inplace = plan->placement == DFTI_INPLACE;
  if (a1 == nullptr || (!inplace && a2 == nullptr)) return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  // A batch of no transforms (a count below 1 is accepted and means none)
  // leaves the arrays alone.
  if (plan->number_of_transforms < 1) return 0;
  Job job = {&F, plan, Direction, static_cast<const double*>(a1),
             static_cast<double*>(inplace ? a1 : a2)};
  // Threads beyond the batch would get empty shares; asking for no more
  // than the batch keeps a single transform off the team machinery.
  int64_t team = d->thread_count;
  if (team > plan->number_of_transforms) team = plan->number_of_transforms;
  if (team < 2 || d->threading == nullptr || d->threading->parallel_team == nullptr) {
    return run_share(0, 1, &job);
  }
  return d->threading->parallel_team(team, run_share, &job);
}

bool applies(const EngineDescriptor* d, int64_t n) {
  if (d->forward_domain != DFTI_COMPLEX || d->complex_storage != DFTI_COMPLEX_COMPLEX) return false;
  if (!(d->forward_scale == 1.0 && d->backward_scale == 1.0)) return false;
  if (d->normalised_rank != 1) return false;
  const DimensionRecord& axis = d->normalised_dims.records[0];
  if (axis.length != n || axis.input_stride != 1 || axis.output_stride != 1) return false;
  // The compute entries take the caller's pointers as they are; displaced
  // data is left to the strategies that apply offsets.
  if (d->input_offset != 0 || (d->placement != DFTI_INPLACE && d->output_offset != 0)) return false;
  if (d->normalised_transforms.count > 1) return false;
  if (d->normalised_transforms.count == 1) {
    const DimensionRecord& batch = d->normalised_transforms.records[0];
    if (batch.length > 1 && (batch.input_stride < n || batch.output_stride < n)) return false;
  }
  return true;
}

template <const FixedLength& F>
long try_commit(const Strategy* self, EngineDescriptor* d) {
  if (!applies(d, F.n)) return STRATEGY_DECLINED;
  if (d->committed_strategy != self) d->release_committed_state(d);
  if (d->strategy_plan != nullptr) d->release_committed_state(d);
  d->committed_strategy = self;

  auto* plan = static_cast<FixedLengthPlan*>(tqs_mm_allocate(sizeof(FixedLengthPlan), 64));
  if (plan == nullptr) return DFTI_STATUS_MEMORY;
  const uint64_t groups = static_cast<uint64_t>(F.p / 2 * (F.q - 1));
  plan->twiddles = static_cast<double*>(tqs_mm_allocate(groups * 8 * sizeof(double), 64));
  if (plan->twiddles == nullptr) {
    tqs_mm_free(plan);
    return DFTI_STATUS_MEMORY;
  }
  const DimensionRecord& axis = d->normalised_dims.records[0];
  plan->input_stride = axis.input_stride;
  plan->output_stride = axis.output_stride;
  if (d->normalised_transforms.count == 1) {
    const DimensionRecord& batch = d->normalised_transforms.records[0];
    plan->number_of_transforms = batch.length;
    plan->input_distance = batch.input_stride;
    plan->output_distance = batch.output_stride;
  } else {
    plan->number_of_transforms = 1;
    plan->input_distance = 0;
    plan->output_distance = 0;
  }
  plan->placement = d->placement;
  fill_twiddles(plan->twiddles, F);
  d->strategy_plan = plan;

  install_compute_entries(d, compute<F, 0>, compute<F, 0>, compute<F, 1>, compute<F, 1>);
  return 0;
}

long release(const Strategy* self, EngineDescriptor* d) {
  if (!drop_compute_entries(self, d)) return DFTI_STATUS_INTERNAL;
  auto* plan = static_cast<FixedLengthPlan*>(d->strategy_plan);
  if (plan != nullptr) {
    tqs_mm_free(plan->twiddles);
    tqs_mm_free(plan);
  }
  d->strategy_plan = nullptr;
  return 0;
}

}  // namespace

const Strategy fixed_length96_strategy = {try_commit<length96>, release};
const Strategy fixed_length168_strategy = {try_commit<length168>, release};

bool fixed_length_owns(const EngineDescriptor* d) {
  const ComputeEntry f = d->compute_forward;
  return f == compute<length96, 0> || f == compute<length168, 0>;
}

#else

namespace {
long decline(const Strategy*, EngineDescriptor*) { return STRATEGY_DECLINED; }
}  // namespace

const Strategy fixed_length96_strategy = {decline, nullptr};
const Strategy fixed_length168_strategy = {decline, nullptr};
bool fixed_length_owns(const EngineDescriptor*) { return false; }

#endif

TQS_LEVEL_END
