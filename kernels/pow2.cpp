// Power-of-two plans: creation and execution.
//
// Decimation in time, depth first. A 2^L-point transform is split into R
// sub-transforms of the input decimated by R (R = 4 or 8), each computed
// recursively, then closed by one radix-R pass with twiddles. The recursion
// ends in straight-line leaves of up to 16 points that read the input with a
// stride and write contiguously. Depth first, every sub-transform is finished
// while it is still in cache, which makes the same scheme serve in-cache and
// out-of-cache lengths.
//
// The top-level sub-transforms write into the work area and the closing pass
// writes the output, so input and output may coincide. On the AVX levels the
// top-level sub-transforms are computed two at a time, one per 128-bit lane
// (sub-transforms j and j+1 read neighbouring input elements, so every load
// is a full 256-bit load); the closing pass transposes lane pairs back into
// columns.
#include "kernels/pow2_plan.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "kernels/pow2_kernels.h"
#include "service/tqs_service.h"

TQS_LEVEL_BEGIN

extern const double pow2_sine1024[257];

namespace {

using namespace p2;

// w_n^k = (cos(2 pi k/n), -sin(2 pi k/n)) from the quarter-wave table
// qs[j] = sin(2 pi j/n), j = 0..n/4 (qs read with stride qstride).
struct Roots {
  const double* qs;
  int64_t qstride;
  int64_t n;
  void get(int64_t k, double* w) const {
    k &= n - 1;
    if (n < 4) {
      w[0] = k == 0 ? 1.0 : -1.0;
      w[1] = 0.0;
      return;
    }
    int64_t q4 = n >> 2;
    int64_t quad = k / q4, r = k - quad * q4;
    double s = qs[r * qstride], c = qs[(q4 - r) * qstride];
    switch (quad) {
      case 0:
        w[0] = c;
        w[1] = -s;
        break;
      case 1:
        w[0] = -s;
        w[1] = -c;
        break;
      case 2:
        w[0] = -c;
        w[1] = s;
        break;
      default:
        w[0] = s;
        w[1] = c;
        break;
    }
  }
};

constexpr long double TWO_PI_L = 6.283185307179586476925286766559005768L;

int64_t align_up(int64_t v, int64_t a) { return (v + a - 1) & ~(a - 1); }

// Radix bits of the pass that closes a 2^L-point sub-transform; 0 = leaf.
int8_t g_sched[POW2_MAX_LOG2 + 1];
bool g_sched_set = false;
int radix_bits(int L) {
  if (!g_sched_set) {
    const char* e = getenv("TQS_P2_SCHED");
    for (int i = 0; i <= POW2_MAX_LOG2; ++i) {
      int b = 0;
      if (i > 4) b = i == 5 ? 2 : ((i - 4) % 3 == 0 ? 3 : 2);
      g_sched[i] = int8_t(b);
    }
    for (int i = 0; e != nullptr && *e != 0 && i <= POW2_MAX_LOG2; ++i) {
      g_sched[i] = int8_t(strtol(e, const_cast<char**>(&e), 10));
      if (*e == ',') ++e;
    }
    g_sched_set = true;
  }
  return g_sched[L];
}

// Twiddle table of a radix pass closing a 2^L-point transform: for each
// column k, the R-1 roots w^(j*k), j = 1..R-1.
void fill_pass(double* t, int L, const Roots& roots) {
  int rb = radix_bits(L);
  int64_t R = int64_t(1) << rb, m = int64_t(1) << (L - rb);
  int64_t step = roots.n >> L;
  for (int64_t k = 0; k < m; ++k)
    for (int64_t j = 1; j < R; ++j, t += 2) roots.get(j * k * step, t);
}

// The same roots for two neighbouring columns side by side.
void fill_pass_pairs(double* t, int L, const Roots& roots) {
  int rb = radix_bits(L);
  int64_t R = int64_t(1) << rb, m = int64_t(1) << (L - rb);
  int64_t step = roots.n >> L;
  for (int64_t k = 0; k < m; k += 2)
    for (int64_t j = 1; j < R; ++j, t += 4) {
      roots.get(j * k * step, t);
      roots.get(j * (k + 1) * step, t + 2);
    }
}

int64_t pass_table_doubles(int L) {
  int rb = radix_bits(L);
  return 2 * ((int64_t(1) << L) - (int64_t(1) << (L - rb)));
}

int create(Pow2Plan** out, int log2n, int mode, int hint, bool real) {
  if (out == nullptr) return PLAN_NULL_POINTER;
  *out = nullptr;
  if (log2n < 0 || log2n > POW2_MAX_LOG2) return PLAN_BAD_EXPONENT;
  if (mode != SCALE_FORWARD && mode != SCALE_BACKWARD && mode != SCALE_BOTH_SQRT &&
      mode != SCALE_NONE)
    return PLAN_BAD_MODE;
  const int64_t n = int64_t(1) << log2n;
  const int cl = real ? log2n - 1 : log2n;

  // Sizes, in doubles, of everything behind the record.
  const int64_t head = align_up(sizeof(Pow2Plan), 64) / 8;
  const bool own_sine = log2n > 10;
  const int64_t qs_size = own_sine ? align_up(n / 4 + 1, 8) : 0;
  int64_t tw_size = 0;
  int64_t pass_off[POW2_MAX_LOG2 + 1];
  int64_t top_off = -1, split_off = -1;
  for (int i = 0; i <= POW2_MAX_LOG2; ++i) pass_off[i] = -1;
  if (cl >= 5) {
#if TQS_AVX
    top_off = tw_size;
    tw_size += pass_table_doubles(cl);
#else
    pass_off[cl] = tw_size;
    tw_size += pass_table_doubles(cl);
#endif
    for (int L = cl - radix_bits(cl); radix_bits(L) > 0; L -= radix_bits(L)) {
      pass_off[L] = tw_size;
      tw_size += pass_table_doubles(L);
    }
  }
  if (real && n >= 4) {
    split_off = tw_size;
    tw_size += 2 * (n / 4 + 1);
  }
  const int64_t total = (head + qs_size + tw_size) * 8;
  char* mem = static_cast<char*>(tqs_mm_allocate(uint64_t(total), 64));
  if (mem == nullptr) return PLAN_NO_MEMORY;
  memset(mem, 0, sizeof(Pow2Plan));
  Pow2Plan* p = reinterpret_cast<Pow2Plan*>(mem);
  double* base = reinterpret_cast<double*>(mem);
  p->tag = real ? TAG_POW2_REAL : TAG_POW2_COMPLEX;
  p->log2n = log2n;
  p->complex_log2 = cl;
  p->hint = hint;
  if (mode == SCALE_FORWARD || mode == SCALE_BOTH_SQRT) p->forward_scaled = 1;
  if (mode == SCALE_BACKWARD || mode == SCALE_BOTH_SQRT) p->backward_scaled = 1;
  p->scale = mode == SCALE_BOTH_SQRT ? 1.0 / sqrt(double(n)) : 1.0 / double(n);
  if (mode == SCALE_NONE) p->scale = 1.0;
  p->work_size = cl >= 5 ? (int64_t(16) << cl) + 32 : 0;
  for (int L = 0; L <= POW2_MAX_LOG2; ++L) p->bits[L] = int8_t(radix_bits(L));

  Roots roots{pow2_sine1024, 1, n};
  if (own_sine) {
    double* qs = base + head;
    // Sines up to the octant, cosines of the mirrored angle above it.
    const int64_t q4 = n / 4, q8 = n / 8;
    for (int64_t j = 0; j <= q8; ++j) qs[j] = double(sinl(TWO_PI_L * (long double)j / (long double)n));
    for (int64_t j = q8 + 1; j <= q4; ++j)
      qs[j] = double(cosl(TWO_PI_L * (long double)(q4 - j) / (long double)n));
    roots.qs = qs;
  } else if (log2n >= 2) {
    roots.qstride = 1024 >> log2n;
  }
  p->quarter_sine = roots.qs;
  double* tw = base + head + qs_size;
  p->twiddles = tw;
  // The roots of a 2^L-point pass are every (n/2^L)-th n-point root, so one
  // table serves the complex transform of n/2 points inside a real plan.
  for (int L = 0; L <= POW2_MAX_LOG2; ++L)
    if (pass_off[L] >= 0) {
      fill_pass(tw + pass_off[L], L, roots);
      p->pass_tw[L] = tw + pass_off[L];
    }
  if (top_off >= 0) {
    fill_pass_pairs(tw + top_off, cl, roots);
    p->top_tw = tw + top_off;
  }
  if (split_off >= 0) {
    double* s = tw + split_off;
    for (int64_t k = 0; k <= n / 4; ++k) roots.get(k, s + 2 * k);
    p->split_tw = s;
  }
  *out = p;
  return PLAN_OK;
}

template <bool INV, bool SC, class V>
void rec(const double* in, ptrdiff_t is, double* o, int L, const Pow2Plan* pl, double scale) {
  const int rb = pl->bits[L];
  if (rb == 0) {
    switch (L) {
      case 0:
        leaf_fixed<INV, SC, V, 0>(in, is, o, scale);
        break;
      case 1:
        leaf_fixed<INV, SC, V, 1>(in, is, o, scale);
        break;
      case 2:
        leaf_fixed<INV, SC, V, 2>(in, is, o, scale);
        break;
      case 3:
        leaf_fixed<INV, SC, V, 3>(in, is, o, scale);
        break;
      default:
        leaf_fixed<INV, SC, V, 4>(in, is, o, scale);
        break;
    }
    return;
  }
  constexpr int D = VT<V>::D;
  const ptrdiff_t R = ptrdiff_t(1) << rb, m = ptrdiff_t(1) << (L - rb);
  for (ptrdiff_t j = 0; j < R; ++j) rec<INV, SC, V>(in + j * is, is * R, o + j * m * D, L - rb, pl, scale);
  switch (rb) {
    case 1:
      pass<INV, V, 2>(o, o, m, pl->pass_tw[L]);
      break;
    case 2:
      pass<INV, V, 4>(o, o, m, pl->pass_tw[L]);
      break;
    case 3:
      pass<INV, V, 8>(o, o, m, pl->pass_tw[L]);
      break;
    default:
      pass<INV, V, 16>(o, o, m, pl->pass_tw[L]);
      break;
  }
}

template <bool INV, bool SC>
void leaf_direct(const double* in, double* out, int L, double scale) {
  switch (L) {
    case 0:
      leaf_fixed<INV, SC, C1, 0>(in, 2, out, scale);
      break;
    case 1:
      leaf_fixed<INV, SC, C1, 1>(in, 2, out, scale);
      break;
    case 2:
      leaf_fixed<INV, SC, C1, 2>(in, 2, out, scale);
      break;
    case 3:
      leaf_fixed<INV, SC, C1, 3>(in, 2, out, scale);
      break;
    default:
      leaf_fixed<INV, SC, C1, 4>(in, 2, out, scale);
      break;
  }
}

// 2^L-point complex transform, in -> out (may alias), work >= 16 * 2^L bytes.
template <bool INV, bool SC>
void run_complex(const double* in, double* out, double* work, int L, const Pow2Plan* pl,
                 double scale) {
  if (L <= 4) {
    leaf_direct<INV, SC>(in, out, L, scale);
    return;
  }
  const int rb = pl->bits[L];
  const ptrdiff_t R = ptrdiff_t(1) << rb, m = ptrdiff_t(1) << (L - rb);
#if TQS_AVX
  for (ptrdiff_t j = 0; j < R; j += 2)
    rec<INV, SC, C2>(in + 2 * j, 2 * R, work + 2 * j * m, L - rb, pl, scale);
  switch (rb) {
    case 1:
      pass_top2<INV, 2>(work, out, m, pl->top_tw);
      break;
    case 2:
      pass_top2<INV, 4>(work, out, m, pl->top_tw);
      break;
    case 3:
      pass_top2<INV, 8>(work, out, m, pl->top_tw);
      break;
    default:
      pass_top2<INV, 16>(work, out, m, pl->top_tw);
      break;
  }
#else
  for (ptrdiff_t j = 0; j < R; ++j)
    rec<INV, SC, C1>(in + 2 * j, 2 * R, work + 2 * j * m, L - rb, pl, scale);
  switch (rb) {
    case 1:
      pass<INV, C1, 2>(work, out, m, pl->pass_tw[L]);
      break;
    case 2:
      pass<INV, C1, 4>(work, out, m, pl->pass_tw[L]);
      break;
    case 3:
      pass<INV, C1, 8>(work, out, m, pl->pass_tw[L]);
      break;
    default:
      pass<INV, C1, 16>(work, out, m, pl->pass_tw[L]);
      break;
  }
#endif
}

template <bool INV>
void run_complex_s(const double* in, double* out, double* work, int L, const Pow2Plan* pl,
                   bool scaled) {
  if (scaled)
    run_complex<INV, true>(in, out, work, L, pl, pl->scale);
  else
    run_complex<INV, false>(in, out, work, L, pl, 1.0);
}

int check(const double* in, const double* out, const Pow2Plan* pl, int32_t tag) {
  if (pl == nullptr) return PLAN_NULL_POINTER;
  if (pl->tag != tag) return PLAN_WRONG_KIND;
  if (in == nullptr || out == nullptr) return PLAN_NULL_POINTER;
  return PLAN_OK;
}

// The caller's work area aligned up to 32 bytes, or one of our own.
double* get_work(const Pow2Plan* pl, void* work, void** own) {
  *own = nullptr;
  if (pl->work_size == 0) return nullptr;
  if (work != nullptr) {
    uintptr_t a = (reinterpret_cast<uintptr_t>(work) + 31) & ~uintptr_t(31);
    return reinterpret_cast<double*>(a);
  }
  *own = tqs_mm_allocate(uint64_t(pl->work_size), 64);
  return static_cast<double*>(*own);
}

template <bool INV>
int complex_exec(const double* in, double* out, const Pow2Plan* pl, void* work) {
  int st = check(in, out, pl, TAG_POW2_COMPLEX);
  if (st != PLAN_OK) return st;
  void* own;
  double* w = get_work(pl, work, &own);
  if (pl->work_size != 0 && w == nullptr) return PLAN_NO_MEMORY;
  run_complex_s<INV>(in, out, w, pl->log2n, pl, INV ? pl->backward_scaled : pl->forward_scaled);
  if (own != nullptr) tqs_mm_free(own);
  return PLAN_OK;
}

}  // namespace

int pow2_complex_plan_create(Pow2Plan** out, int log2n, int mode, int hint) {
  return create(out, log2n, mode, hint, false);
}

int pow2_real_plan_create(Pow2Plan** out, int log2n, int mode, int hint) {
  return create(out, log2n, mode, hint, true);
}

int pow2_plan_work_size(const Pow2Plan* plan, int64_t* size_out) {
  if (plan == nullptr || size_out == nullptr) return PLAN_NULL_POINTER;
  if (plan->tag != TAG_POW2_COMPLEX && plan->tag != TAG_POW2_REAL) return PLAN_WRONG_KIND;
  *size_out = plan->work_size;
  return PLAN_OK;
}

int pow2_plan_destroy(Pow2Plan* plan) {
  if (plan == nullptr) return PLAN_NULL_POINTER;
  plan->tag = 0;
  tqs_mm_free(plan);
  return PLAN_OK;
}

int pow2_complex_forward(const double* in, double* out, const Pow2Plan* plan, void* work) {
  return complex_exec<false>(in, out, plan, work);
}

int pow2_complex_backward(const double* in, double* out, const Pow2Plan* plan, void* work) {
  return complex_exec<true>(in, out, plan, work);
}

int pow2_real_forward(const double* in, double* out, const Pow2Plan* plan, void* work) {
  int st = check(in, out, plan, TAG_POW2_REAL);
  if (st != PLAN_OK) return st;
  const double s = plan->forward_scaled ? plan->scale : 1.0;
  if (plan->log2n == 0) {
    out[0] = in[0] * s;
    return PLAN_OK;
  }
  void* own;
  double* w = get_work(plan, work, &own);
  if (plan->work_size != 0 && w == nullptr) return PLAN_NO_MEMORY;
  run_complex<false, false>(in, out, w, plan->complex_log2, plan, 1.0);
  pow2_split_forward(out, plan->log2n, plan->split_tw, s);
  if (own != nullptr) tqs_mm_free(own);
  return PLAN_OK;
}

int pow2_real_backward(const double* in, double* out, const Pow2Plan* plan, void* work) {
  int st = check(in, out, plan, TAG_POW2_REAL);
  if (st != PLAN_OK) return st;
  const double s = plan->backward_scaled ? plan->scale : 1.0;
  if (plan->log2n == 0) {
    out[0] = in[0] * s;
    return PLAN_OK;
  }
  void* own;
  double* w = get_work(plan, work, &own);
  if (plan->work_size != 0 && w == nullptr) return PLAN_NO_MEMORY;
  pow2_split_backward(in, out, plan->log2n, plan->split_tw, s);
  run_complex<true, false>(out, out, w, plan->complex_log2, plan, 1.0);
  if (own != nullptr) tqs_mm_free(own);
  return PLAN_OK;
}

namespace {
int api_complex_create(void** out, int log2n, int mode, int hint) {
  return create(reinterpret_cast<Pow2Plan**>(out), log2n, mode, hint, false);
}
int api_real_create(void** out, int log2n, int mode, int hint) {
  return create(reinterpret_cast<Pow2Plan**>(out), log2n, mode, hint, true);
}
int api_work_size(const void* p, int64_t* s) {
  return pow2_plan_work_size(static_cast<const Pow2Plan*>(p), s);
}
int api_destroy(void* p) { return pow2_plan_destroy(static_cast<Pow2Plan*>(p)); }
int api_cf(const double* in, double* out, const void* p, void* w) {
  return pow2_complex_forward(in, out, static_cast<const Pow2Plan*>(p), w);
}
int api_cb(const double* in, double* out, const void* p, void* w) {
  return pow2_complex_backward(in, out, static_cast<const Pow2Plan*>(p), w);
}
int api_rf(const double* in, double* out, const void* p, void* w) {
  return pow2_real_forward(in, out, static_cast<const Pow2Plan*>(p), w);
}
int api_rb(const double* in, double* out, const void* p, void* w) {
  return pow2_real_backward(in, out, static_cast<const Pow2Plan*>(p), w);
}
}  // namespace

const Pow2Api pow2_api = {api_complex_create, api_real_create, api_work_size, api_destroy,
                          api_cf, api_cb, api_rf, api_rb};

TQS_LEVEL_END
