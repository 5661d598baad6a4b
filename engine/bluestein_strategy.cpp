// BluesteinStrategy: a transform of any length N that is not a power of two
// as a circular convolution of power-of-two length M >= 2N - 1, carried out
// by an inner complex descriptor of length M that the engine commits for
// itself. With -2jk = (k - j)^2 - j^2 - k^2 the DFT is
//   X_k = conj(c_k) * sum_j (x_j conj(c_j)) c_(k-j),   c_m = exp(+i pi m^2 / N),
// one pre-multiplication, one convolution through the inner transform and
// one post-multiplication. The backward transform conjugates input and
// output of the same steps. Complex and real variants share the tables.
#include <cmath>
#include <cstring>

#include "engine/general.h"
#include "engine/strategies.h"
#include "kernels/real_compute.h"
#include "kernels/roots.h"
#include "tqs_dfti.h"

TQS_LEVEL_BEGIN
namespace {

constexpr int TABLE_ALIGNMENT = 4096;
constexpr int64_t BLOCK = 4;

struct BluesteinPlan {
  int64_t length;
  EngineDescriptor* inner;
  int64_t inner_length;
  double* chirp_tables;    // 2M complex: conj(c) laid out for the convolution,
  double* chirp_spectrum;  // then the transformed kernel divided by M
};

// ---- team steps -----------------------------------------------------------

enum class Step { PreComplex, PreReal, PreHermitian, Multiply, PostComplex, PostHalf, PostReal };

struct StepArgs {
  Step step;
  bool conjugate;  // backward: conjugate the input and the output
  const BluesteinPlan* plan;
  const double* x;
  double* w;
  double* y;
  int64_t count;  // elements the step covers
};

inline void cmul(double ar, double ai, const double* b, double* out) {
  out[0] = ar * b[0] - ai * b[1];
  out[1] = ar * b[1] + ai * b[0];
}

void run_range(const StepArgs& s, int64_t lo, int64_t hi) {
  const BluesteinPlan& p = *s.plan;
  const int64_t n = p.length;
  const double* t = p.chirp_tables;
  const double sign = s.conjugate ? -1.0 : 1.0;
  for (int64_t k = lo; k < hi; ++k) {
    double* w = s.w + 2 * k;
    switch (s.step) {
      case Step::PreComplex:
        if (k < n) {
          cmul(s.x[2 * k], sign * s.x[2 * k + 1], t + 2 * k, w);
        } else {
          w[0] = w[1] = 0.0;
        }
        break;
      case Step::PreReal:
        if (k < n) {
          w[0] = s.x[k] * t[2 * k];
          w[1] = s.x[k] * t[2 * k + 1];
        } else {
          w[0] = w[1] = 0.0;
        }
        break;
      case Step::PreHermitian: {
        // x holds bins 0..N/2 as complex values; the rest mirror them.
        if (k < n) {
          const int64_t h = 2 * k <= n ? k : n - k;
          const double im = 2 * k <= n ? s.x[2 * h + 1] : -s.x[2 * h + 1];
          cmul(s.x[2 * h], -im, t + 2 * k, w);
        } else {
          w[0] = w[1] = 0.0;
        }
        break;
      }
      case Step::Multiply: {
        const double re = w[0], im = w[1];
        cmul(re, im, p.chirp_spectrum + 2 * k, w);
        break;
      }
      case Step::PostComplex: {
        double r[2];
        cmul(w[0], w[1], t + 2 * k, r);
        s.y[2 * k] = r[0];
        s.y[2 * k + 1] = sign * r[1];
        break;
      }
      case Step::PostHalf: {
        // The half spectrum goes back into w; the caller lays it out.
        double r[2];
        cmul(w[0], w[1], t + 2 * k, r);
        w[0] = r[0];
        w[1] = r[1];
        break;
      }
      case Step::PostReal:
        s.y[k] = w[0] * t[2 * k] - w[1] * t[2 * k + 1];
        break;
    }
  }
}

// Blocks of four elements, one contiguous run per member.
int64_t team_step(int64_t member, int64_t team, void* argument) {
  const StepArgs& s = *static_cast<const StepArgs*>(argument);
  const int64_t blocks = (s.count + BLOCK - 1) / BLOCK;
  const int64_t per = team < 2 ? blocks : (blocks - 1) / team + 1;
  const int64_t lo = member * per * BLOCK;
  int64_t hi = lo + per * BLOCK;
  if (hi > s.count) hi = s.count;
  if (lo < hi) run_range(s, lo, hi);
  return 0;
}

void run_step(EngineDescriptor* d, int64_t team, StepArgs s) {
  if (team > 1 && d->threading->parallel_team != nullptr) {
    d->threading->parallel_team(team, team_step, &s);
  } else {
    run_range(s, 0, s.count);
  }
}

// ---- compute --------------------------------------------------------------

bool cce_storage(const EngineDescriptor* d) { return d->conjugate_even_storage == DFTI_COMPLEX_COMPLEX; }

// The half spectrum h (m + 1 complex values) into the descriptor's layout.
void write_layout(const EngineDescriptor* d, const double* h, double* y) {
  const int64_t n = d->length, m = n / 2;
  if (cce_layout(d)) {
    std::memcpy(y, h, static_cast<size_t>(2 * (m + 1)) * sizeof(double));
    y[1] = 0.0;
    if (n % 2 == 0) y[2 * m + 1] = 0.0;
    return;
  }
  // Permuted order, then sequential when asked.
  y[0] = h[0];
  int64_t at = 1;
  if (n % 2 == 0 && n > 1) y[at++] = h[2 * m];
  for (int64_t k = 1; 2 * k < n; ++k) {
    y[at++] = h[2 * k];
    y[at++] = h[2 * k + 1];
  }
  if (d->packed_format == DFTI_PACKING_SEQUENTIAL) permuted_to_sequential(y, n);
}

// The descriptor's layout into the half spectrum h (m + 1 complex values).
void read_layout(const EngineDescriptor* d, const double* x, double* h) {
  const int64_t n = d->length, m = n / 2;
  if (cce_layout(d)) {
    std::memcpy(h, x, static_cast<size_t>(2 * (m + 1)) * sizeof(double));
  } else {
    const double* v = x;
    double* permuted = nullptr;
    if (d->packed_format == DFTI_PACKING_SEQUENTIAL && n % 2 == 0) {
      permuted = h + 2 * (m + 1);  // scratch behind the half spectrum
      sequential_to_permuted(x, permuted, n);
      v = permuted;
    }
    h[0] = v[0];
    int64_t at = 1;
    if (n % 2 == 0 && n > 1) {
      h[2 * m] = v[at++];
      h[2 * m + 1] = 0.0;
    }
    for (int64_t k = 1; 2 * k < n; ++k) {
      h[2 * k] = v[at++];
      h[2 * k + 1] = v[at++];
    }
  }
  h[1] = 0.0;
  if (n % 2 == 0) h[2 * m + 1] = 0.0;
}

long compute(EngineDescriptor* d, bool forward, void* a1, void* a2) {
  const auto* p = static_cast<const BluesteinPlan*>(d->strategy_plan);
  const bool inplace = d->placement == DFTI_INPLACE;
  if (a1 == nullptr || (!inplace && a2 == nullptr)) return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  const bool real = d->forward_domain == DFTI_REAL;
  // Offsets count elements of each side: complex values on the complex side
  // (and on the spectrum side of CCE storage), doubles on the real side.
  const int64_t spectrum_unit = real && !cce_storage(d) ? 1 : 2;
  const int64_t in_unit = real ? (forward ? 1 : spectrum_unit) : 2;
  const int64_t out_unit = real ? (forward ? spectrum_unit : 1) : 2;
  const double* x = static_cast<const double*>(a1) + d->input_offset * in_unit;
  double* y = static_cast<double*>(inplace ? a1 : a2) +
              (inplace ? d->input_offset * in_unit : d->output_offset * out_unit);
  if (inplace && real && cce_storage(d)) y = static_cast<double*>(a1) + d->output_offset * out_unit;

  const int64_t n = p->length, m = p->inner_length;
  const int64_t team = d->threading->get_max_threads != nullptr ? d->threading->get_max_threads() : 1;
  // The real variants keep the half spectrum (and its permuted copy) behind
  // the convolution buffer.
  const int64_t extra = real ? 2 * (n + 2) : 0;
  double* w = static_cast<double*>(
      tqs_mm_allocate(static_cast<uint64_t>(2 * m + extra) * sizeof(double), TABLE_ALIGNMENT));
  if (w == nullptr) return DFTI_STATUS_MEMORY;
  double* half = w + 2 * m;

  StepArgs s{Step::PreComplex, !forward, p, x, w, y, m};
  if (real && forward) {
    s.step = Step::PreReal;
  } else if (real) {
    read_layout(d, x, half);
    s.x = half;
    s.step = Step::PreHermitian;
  }
  run_step(d, team, s);
  EngineDescriptor* inner = p->inner;
  long status = inner->compute_forward(inner, w, nullptr, nullptr, nullptr);
  if (status == 0) {
    s.step = Step::Multiply;
    run_step(d, team, s);
    status = inner->compute_backward(inner, w, nullptr, nullptr, nullptr);
  }
  if (status == 0) {
    if (!real) {
      s.step = Step::PostComplex;
      s.count = n;
      run_step(d, team, s);
    } else if (forward) {
      s.step = Step::PostHalf;
      s.count = n / 2 + 1;
      run_step(d, team, s);
      write_layout(d, w, y);
    } else {
      s.step = Step::PostReal;
      s.count = n;
      run_step(d, team, s);
    }
  }
  tqs_mm_free(w);
  return status;
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

// ---- commit ---------------------------------------------------------------

bool applies(const EngineDescriptor* d) {
  const int64_t n = d->length;
  return d->complex_storage == DFTI_COMPLEX_COMPLEX && d->precision == DFTI_DOUBLE &&
         d->ordering == DFTI_ORDER_NATURAL && d->number_of_transforms == 1 &&
         d->number_of_user_threads == 1 && d->forward_scale == 1.0 && d->backward_scale == 1.0 &&
         d->normalised_rank == 1 && d->first_input_stride == 1 && d->first_output_stride == 1 &&
         n > 0 && (n & (n - 1)) != 0 &&
         (d->forward_domain != DFTI_REAL || inplace_cce_consistent(d));
}

void free_plan(EngineDescriptor* d) {
  auto* p = static_cast<BluesteinPlan*>(d->strategy_plan);
  if (p == nullptr) return;
  if (p->inner != nullptr) p->inner->destroy(p->inner);
  tqs_mm_free(p->chirp_tables);
  tqs_mm_free(p);
  d->strategy_plan = nullptr;
}

// conj(c_k) = exp(-i pi k^2 / N) at k and mirrored at M - k, zeros between;
// k^2 mod 2N is advanced by 2k + 1, never formed.
void fill_chirp(BluesteinPlan* p) {
  const int64_t n = p->length, m = p->inner_length;
  double* t = p->chirp_tables;
  t[0] = 1.0;
  t[1] = 0.0;
  const RootGenerator roots(2 * n);
  int64_t j = 0;
  for (int64_t k = 1; k < n; ++k) {
    j += 2 * k - 1;
    if (j >= 2 * n) j -= 2 * n;
    roots.cos_sin(j, t + 2 * k, t + 2 * k + 1);
  }
  for (int64_t k = 1; k < n; ++k) {
    t[2 * (m - k)] = t[2 * k];
    t[2 * (m - k) + 1] = t[2 * k + 1];
  }
  for (int64_t k = n; k <= m - n; ++k) t[2 * k] = t[2 * k + 1] = 0.0;
}

long build(const Strategy* self, EngineDescriptor* d) {
  auto* p = static_cast<BluesteinPlan*>(tqs_mm_calloc(1, sizeof(BluesteinPlan), 64));
  if (p == nullptr) return DFTI_STATUS_MEMORY;
  d->strategy_plan = p;
  d->committed_strategy = self;
  p->length = d->length;
  // Beyond 2^61 points the convolution length 2N - 1 has no power of two
  // in 64 bits; doubling would wrap and size the tables for a tiny M.
  if (p->length > (int64_t(1) << 61)) return DFTI_STATUS_DIMENSION_TOO_LARGE;
  int64_t m = 1;
  while (m < 2 * p->length - 1) m *= 2;
  p->inner_length = m;

  long status = level_api.create_complex(&p->inner, m);
  if (status != 0) return status;
  p->inner->thread_limit = d->thread_limit;
  status = p->inner->methods->commit(p->inner);
  if (status != 0) return status;

  p->chirp_tables = static_cast<double*>(
      tqs_mm_allocate(static_cast<uint64_t>(m) * 32, TABLE_ALIGNMENT));
  if (p->chirp_tables == nullptr) return DFTI_STATUS_MEMORY;
  p->chirp_spectrum = p->chirp_tables + 2 * m;
  fill_chirp(p);
  std::memcpy(p->chirp_spectrum, p->chirp_tables, static_cast<size_t>(m) * 16);
  status = p->inner->compute_forward(p->inner, p->chirp_spectrum, nullptr, nullptr, nullptr);
  if (status != 0) return status;
  const double inverse = 1.0 / static_cast<double>(m);
  for (int64_t i = 0; i < 2 * m; ++i) p->chirp_spectrum[i] *= inverse;
  for (int64_t k = 0; k < m; ++k) p->chirp_tables[2 * k + 1] = -p->chirp_tables[2 * k + 1];
  return 0;
}

long try_commit(const Strategy* self, EngineDescriptor* d) {
  if (!applies(d)) return STRATEGY_DECLINED;
  if (d->committed_strategy != self || d->strategy_plan != nullptr) d->release_committed_state(d);
  const long status = build(self, d);
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

const Strategy bluestein_strategy = {try_commit, release};

bool bluestein_owns(const EngineDescriptor* d) {
  return d->compute_forward == forward_inplace || d->compute_forward == forward_out;
}

TQS_LEVEL_END
