// One-dimensional plans: the choice of algorithm by length, the tables each
// choice needs, execution and release. Complex lengths of at most 16 go to
// the straight-line kernels, powers of two to their own engine, lengths with
// small factors to the mixed-radix engine, short primes to the direct
// transform and everything else to a convolution: Rader's for primes whose
// n - 1 has only small factors, the chirp-z transform otherwise. Even real
// lengths run a complex transform of half the length and the split step.
#include "engine/plan.h"

#include <cmath>
#include <cstring>

#include "kernels/bluestein.h"
#include "kernels/codelets.h"
#include "kernels/direct.h"
#include "kernels/mixed_radix.h"
#include "kernels/pow2.h"
#include "kernels/real_compute.h"
#include "kernels/real_odd.h"
#include "kernels/real_split.h"
#include "service/tqs_service.h"

TQS_LEVEL_BEGIN

namespace {

// The level-0 copy keeps every generic length shorter.
constexpr int kTrialLimit = TQS_LEVEL == 0 ? 75 : 90;
constexpr int kOddRemainderLimit = TQS_LEVEL == 0 ? 75 : 90;
constexpr int kEvenRemainderLimit = TQS_LEVEL == 0 ? 75 : 150;
constexpr int64_t kDirectLimit = TQS_LEVEL == 0 ? 75 : 90;
constexpr int64_t kOddRealDirectLimit = TQS_LEVEL == 0 ? 100 : 90;
constexpr int64_t kGeneralLimit = int64_t(1) << 26;
constexpr int64_t kChirpLimit = int64_t(1) << 25;
constexpr int kMaxLog2 = 27;

bool is_pow2(int64_t n) { return n > 0 && (n & (n - 1)) == 0; }

int log2_of(int64_t n) {
  int k = 0;
  while ((int64_t(1) << k) < n) ++k;
  return k;
}

void free_if(void* p) {
  if (p != nullptr) tqs_mm_free(p);
}

// Frees everything the record owns, then the record.
void release(PlanRecord* p) {
  if (p->power_of_two_plan != nullptr) pow2_plan_destroy((Pow2Plan*)p->power_of_two_plan);
  free_if(p->direct_table);
  free_if(p->split_twiddles);
  free_if(p->split_twiddle_pairs);
  free_if(p->chirp);
  free_if(p->chirp_spectrum);
  free_if(p->rader_order);
  free_if(p->scratch);
  if (p->inner_plan != nullptr) complex_plan_destroy(p->inner_plan);
  if (p->factored) {
    for (int i = 0; i <= p->last_factor_index + 1 && i < MAX_FACTORS; ++i) {
      FactorRecord& f = p->factors[i];
      bool shared = i > 0 && f.generic_table == p->factors[i - 1].generic_table;
      if (!shared) free_if(f.generic_table);
      free_if(f.twiddles);
    }
  }
  memset(p, 0, sizeof(*p));
  tqs_mm_free(p);
}

// Steps common to the three kinds: arguments, record, scaling mode.
int begin(PlanRecord** out, int64_t n, int mode, int hint, int32_t tag, PlanRecord** rec) {
  if (out == nullptr) return PLAN_NULL_POINTER;
  if (n < 1) return PLAN_BAD_LENGTH;
  PlanRecord* p = (PlanRecord*)tqs_mm_allocate(sizeof(PlanRecord), 64);
  if (p == nullptr) return PLAN_NO_MEMORY;
  memset(p, 0, sizeof(*p));
  p->tag = tag;
  p->hint = hint;
  switch (mode) {
    case SCALE_NONE:
      break;
    case SCALE_BOTH_SQRT:
      p->forward_scaled = p->backward_scaled = 1;
      p->scale = 1.0 / sqrt((double)n);
      break;
    case SCALE_FORWARD:
      p->forward_scaled = 1;
      p->scale = 1.0 / (double)n;
      break;
    case SCALE_BACKWARD:
      p->backward_scaled = 1;
      p->scale = 1.0 / (double)n;
      break;
    default:
      release(p);
      return PLAN_BAD_MODE;
  }
  if (is_pow2(n) && log2_of(n) > kMaxLog2) {
    release(p);
    return PLAN_BAD_EXPONENT;
  }
  if (!is_pow2(n) && n >= kGeneralLimit) {
    release(p);
    return PLAN_BAD_LENGTH;
  }
  p->length = (int32_t)n;
  p->power_of_two = is_pow2(n) ? 1 : 0;
  *rec = p;
  return PLAN_OK;
}

int64_t mixed_work(int64_t generic, int64_t len) { return (generic + len) * 16 + 64; }

// Plans a complex transform of len points into the record (factor records,
// direct table or chirp-z tables); the caller has dealt with len <= 16.
int plan_core(PlanRecord* p, int64_t len, int64_t* work) {
  uint32_t radices[MAX_FACTORS];
  const int limit = (len & 1) ? kOddRemainderLimit : kEvenRemainderLimit;
  const int count = factor_length(len, kTrialLimit, limit, radices);
  p->core_length = (int32_t)len;
  if (count > 0) {
    int64_t generic = 0;
    int code = mixed_radix_build(p, len, radices, count, false, &generic);
    *work = mixed_work(generic, len);
    return code;
  }
  if (len <= kDirectLimit) {
    p->direct_table = direct_table_create(len);
    if (p->direct_table == nullptr) return PLAN_NO_MEMORY;
    *work = 16 * len + 32;
    return PLAN_OK;
  }
  if (len >= kChirpLimit) return PLAN_BAD_LENGTH;
  int code = bluestein_build(p, len, true);
  if (code == PLAN_OK) *work = bluestein_work_bytes(p);
  return code;
}

int finish(PlanRecord** out, PlanRecord* p, int code, int64_t work) {
  if (code != PLAN_OK) {
    release(p);
    return code;
  }
  if (work > INT32_MAX) {
    release(p);
    return PLAN_BAD_LENGTH;
  }
  p->work_size = (int32_t)work;
  *out = p;
  return PLAN_OK;
}

int create_complex_kind(PlanRecord** out, int64_t n, int mode, int hint, int32_t tag) {
  PlanRecord* p = nullptr;
  int code = begin(out, n, mode, hint, tag, &p);
  if (code != PLAN_OK) return code;
  int64_t work = 0;
  if (n > 16) {
    if (is_pow2(n)) {
      Pow2Plan* sub = nullptr;
      code = pow2_complex_plan_create(&sub, log2_of(n), mode, hint);
      p->power_of_two_plan = sub;
      if (code == PLAN_OK) code = pow2_plan_work_size(sub, &work);
    } else {
      code = plan_core(p, n, &work);
    }
    // The split kind interleaves into two complex buffers of its work.
    if (code == PLAN_OK && tag == TAG_SPLIT_PLAN) work += 32 * n + 64;
  }
  return finish(out, p, code, work);
}

// ---- execution helpers ----------------------------------------------------

int check(const PlanRecord* p, int32_t tag, const void* in, const void* out) {
  if (p == nullptr) return PLAN_NULL_POINTER;
  if (p->tag != tag) return PLAN_WRONG_KIND;
  if (in == nullptr || out == nullptr) return PLAN_NULL_POINTER;
  return PLAN_OK;
}

// The caller's work aligned up to 32 bytes, or a fresh block (freed by
// the caller through *owned).
double* work_area(const PlanRecord* p, void* work, void** owned) {
  *owned = nullptr;
  if (p->work_size <= 0) return nullptr;
  if (work != nullptr) {
    return (double*)(((uintptr_t)work + 31) & ~(uintptr_t)31);
  }
  *owned = tqs_mm_allocate((uint64_t)p->work_size, 64);
  return (double*)*owned;
}

bool overlaps(const double* a, const double* b, int64_t doubles) {
  return a < b + doubles && b < a + doubles;
}

int scale_doubles(double scale, double* a, int64_t count) {
  if (a == nullptr) return PLAN_NULL_POINTER;
  if (count < 1) return PLAN_BAD_LENGTH;
  if (scale == 1.0) return PLAN_OK;
  if (scale == 0.0) {
    memset(a, 0, (size_t)count * sizeof(double));
    return PLAN_OK;
  }
  for (int64_t i = 0; i < count; ++i) a[i] *= scale;
  return PLAN_OK;
}

// Complex transform of the record's core length from in to out (may
// coincide); work is the aligned work area.
int run_core(const PlanRecord* p, const double* in, double* out, bool forward, double* work) {
  const int64_t len = p->core_length;
  if (len <= 16) {
    const CplxKernel k = forward ? codelets.complex_forward[len] : codelets.complex_backward[len];
    k(in, out);
    return PLAN_OK;
  }
  // Up to 64 points one straight-line kernel beats any pass structure; it
  // wants aligned data, which the plan's own tables below still serve. The
  // exceptions measured (every length up to 64 at level 5) are the lengths
  // with a two-lane whole transform at the AVX levels.
  if (len <= 64 && !(TQS_LEVEL >= 4 && mixed_radix_whole(len)) &&
      ((reinterpret_cast<uintptr_t>(in) | reinterpret_cast<uintptr_t>(out)) & 15) == 0) {
    const CplxKernelScaled k = (forward ? complex_length_forward : complex_length_backward)[len];
    if (k != nullptr) {
      k(in, out, 1.0);
      return PLAN_OK;
    }
  }
  if (p->factored) {
    const double* src = in;
    if (overlaps(in, out, 2 * len)) {
      memcpy(work, in, (size_t)len * 16);
      src = work;
    }
    if (forward) {
      mixed_radix_forward(p, src, out);
    } else {
      mixed_radix_backward(p, src, out);
    }
    return PLAN_OK;
  }
  if (p->direct_table != nullptr) {
    direct_complex((const double*)p->direct_table, len, in, out, forward);
    return PLAN_OK;
  }
  return bluestein_run(p, len, in, BLUESTEIN_COMPLEX, out, BLUESTEIN_COMPLEX, forward, work);
}

int complex_execute(const double* in, double* out, const PlanRecord* p, void* work, bool forward) {
  int code = check(p, TAG_COMPLEX_PLAN, in, out);
  if (code != PLAN_OK) return code;
  const int64_t n = p->length;
  const bool scaled = forward ? p->forward_scaled : p->backward_scaled;
  if (n <= 16) {
    if (scaled) {
      (forward ? codelets.complex_forward_scaled : codelets.complex_backward_scaled)[n](in, out,
                                                                                       p->scale);
    } else {
      (forward ? codelets.complex_forward : codelets.complex_backward)[n](in, out);
    }
    return PLAN_OK;
  }
  void* owned;
  double* w = work_area(p, work, &owned);
  if (p->work_size > 0 && w == nullptr) return PLAN_NO_MEMORY;
  if (p->power_of_two_plan != nullptr) {
    const Pow2Plan* sub = (const Pow2Plan*)p->power_of_two_plan;
    code = forward ? pow2_complex_forward(in, out, sub, w) : pow2_complex_backward(in, out, sub, w);
    free_if(owned);
    return code;
  }
  code = run_core(p, in, out, forward, w);
  if (code == PLAN_OK && scaled) scale_doubles(p->scale, out, 2 * n);
  free_if(owned);
  return code;
}

int split_execute(const double* in_re, const double* in_im, double* out_re, double* out_im,
                  const PlanRecord* p, void* work, bool forward) {
  if (p == nullptr) return PLAN_NULL_POINTER;
  if (p->tag != TAG_SPLIT_PLAN) return PLAN_WRONG_KIND;
  if (in_re == nullptr || in_im == nullptr || out_re == nullptr || out_im == nullptr) {
    return PLAN_NULL_POINTER;
  }
  const int64_t n = p->length;
  const bool scaled = forward ? p->forward_scaled : p->backward_scaled;
  if (n <= 16) {
    if (scaled) {
      (forward ? codelets.split_forward_scaled : codelets.split_backward_scaled)[n](
          in_re, in_im, out_re, out_im, p->scale);
    } else {
      (forward ? codelets.split_forward : codelets.split_backward)[n](in_re, in_im, out_re, out_im);
    }
    return PLAN_OK;
  }
  void* owned;
  double* w = work_area(p, work, &owned);
  if (w == nullptr) return PLAN_NO_MEMORY;
  double* a = w;
  double* b = w + 2 * n;
  double* rest = w + 4 * n;
  for (int64_t k = 0; k < n; ++k) {
    a[2 * k] = in_re[k];
    a[2 * k + 1] = in_im[k];
  }
  int code;
  if (p->power_of_two_plan != nullptr) {
    const Pow2Plan* sub = (const Pow2Plan*)p->power_of_two_plan;
    code = forward ? pow2_complex_forward(a, b, sub, rest) : pow2_complex_backward(a, b, sub, rest);
  } else {
    code = run_core(p, a, b, forward, rest);
    if (code == PLAN_OK && scaled) scale_doubles(p->scale, b, 2 * n);
  }
  if (code == PLAN_OK) {
    for (int64_t k = 0; k < n; ++k) {
      out_re[k] = b[2 * k];
      out_im[k] = b[2 * k + 1];
    }
  }
  free_if(owned);
  return code;
}

// nyquist_at: where a backward input keeps its middle frequency (see
// real_plan_backward_cce); 1 is the packed order.
int real_execute(const double* in, double* out, const PlanRecord* p, void* work, bool forward,
                 int64_t nyquist_at = 1) {
  int code = check(p, TAG_REAL_PLAN, in, out);
  if (code != PLAN_OK) return code;
  const int64_t n = p->length;
  if (nyquist_at != 1) {
    // Only the split steps of even lengths read the stored spectrum where
    // it lies; the others are handed the packed order.
    const bool split_reads_it =
        (n & 1) == 0 && n > 16 &&
        (p->power_of_two_plan == nullptr || n > POW2_REAL_PACKED_ONLY);
    if (!split_reads_it) {
      cce_to_permuted(in, out, n);
      in = out;
      nyquist_at = 1;
    }
  }
  bool scaled = forward ? p->forward_scaled : p->backward_scaled;
  if (n <= 16) {
    if (scaled) {
      (forward ? codelets.real_forward_scaled : codelets.real_backward_scaled)[n](in, out, p->scale);
    } else {
      (forward ? codelets.real_forward : codelets.real_backward)[n](in, out);
    }
    return PLAN_OK;
  }
  void* owned;
  double* w = work_area(p, work, &owned);
  if (p->work_size > 0 && w == nullptr) return PLAN_NO_MEMORY;
  if (p->power_of_two_plan != nullptr) {
    const Pow2Plan* sub = (const Pow2Plan*)p->power_of_two_plan;
    code = forward ? pow2_real_forward(in, out, sub, w)
                   : pow2_real_backward_at(in, out, sub, w, nyquist_at);
    free_if(owned);
    return code;
  }
  if ((n & 1) == 0) {
    // The split step carries the plan's scale, so no pass of its own.
    const double s = scaled ? p->scale : 1.0;
    scaled = false;
    const double* table = (const double*)p->split_twiddles;
    if (forward) {
      code = run_core(p, in, out, true, w);
      if (code == PLAN_OK) real_split_forward(out, n, table, s);
    } else {
      // The mixed-radix engine cannot run in place: stage the half-length
      // complex data in the work area (its first n doubles are the area
      // run_core would copy to) instead of copying it there afterwards.
      double* mid = p->factored && w != nullptr && !overlaps(w, out, n) ? w : out;
      real_split_backward(in, mid, n, table, s, nyquist_at);
      code = run_core(p, mid, out, false, mid == w ? w + n : w);
    }
  } else if (p->factored) {
    if (forward) {
      real_odd_forward(p, in, out, w);
    } else {
      real_odd_backward(p, in, out, w);
    }
  } else if (p->direct_table != nullptr) {
    if (forward) {
      direct_real_forward((const double*)p->direct_table, n, in, out);
    } else {
      direct_real_backward((const double*)p->direct_table, n, in, out);
    }
  } else if (forward) {
    code = bluestein_run(p, n, in, BLUESTEIN_REAL, out, BLUESTEIN_PACKED, true, w);
  } else {
    code = bluestein_run(p, n, in, BLUESTEIN_PACKED, out, BLUESTEIN_REAL, false, w);
  }
  if (code == PLAN_OK && scaled) scale_doubles(p->scale, out, n);
  free_if(owned);
  return code;
}

int work_size_of(const PlanRecord* p, int64_t* size_out, int32_t tag) {
  if (p == nullptr || size_out == nullptr) return PLAN_NULL_POINTER;
  if (p->tag != tag) return PLAN_WRONG_KIND;
  *size_out = p->work_size;
  return PLAN_OK;
}

int destroy_of(PlanRecord* p, int32_t tag) {
  if (p == nullptr) return PLAN_NULL_POINTER;
  if (p->tag != tag) return PLAN_WRONG_KIND;
  release(p);
  return PLAN_OK;
}

}  // namespace

int64_t complex_plan_least_work(int64_t n) {
  // Only the straight-line kernels work without an area; every other plan
  // passes the n points through one (see create_complex_kind and plan_core).
  if (n <= 16 || (is_pow2(n) && n <= 64)) return 0;
  return 16 * n + 32;
}

int complex_plan_create(PlanRecord** out, int64_t n, int mode, int hint) {
  return create_complex_kind(out, n, mode, hint, TAG_COMPLEX_PLAN);
}

int split_plan_create(PlanRecord** out, int64_t n, int mode, int hint) {
  return create_complex_kind(out, n, mode, hint, TAG_SPLIT_PLAN);
}

int real_plan_create(PlanRecord** out, int64_t n, int mode, int hint) {
  PlanRecord* p = nullptr;
  int code = begin(out, n, mode, hint, TAG_REAL_PLAN, &p);
  if (code != PLAN_OK) return code;
  int64_t work = 0;
  if (n <= 16) return finish(out, p, PLAN_OK, 0);
  if (is_pow2(n)) {
    Pow2Plan* sub = nullptr;
    code = pow2_real_plan_create(&sub, log2_of(n), mode, hint);
    p->power_of_two_plan = sub;
    if (code == PLAN_OK) code = pow2_plan_work_size(sub, &work);
    return finish(out, p, code, work);
  }
  if (n & 1) {
    uint32_t radices[MAX_FACTORS];
    int count = factor_length(n, kTrialLimit, kOddRemainderLimit, radices);
    if (count > 0) {
      int64_t generic = 0;
      p->odd_factored = 1;
      code = mixed_radix_build(p, n, radices, count, true, &generic);
      work = mixed_work(generic, n);
    } else if (n <= kOddRealDirectLimit) {
      p->direct_table = direct_table_create(n);
      if (p->direct_table == nullptr) code = PLAN_NO_MEMORY;
      work = 8 * n + 32;
    } else if (n < kChirpLimit) {
      code = bluestein_build(p, n, false);
      if (code == PLAN_OK) work = bluestein_work_bytes(p);
    } else {
      code = PLAN_BAD_LENGTH;
    }
    return finish(out, p, code, work);
  }
  const int64_t h = n / 2;
  const int64_t table = real_split_table_doubles(n);
  double* split = (double*)tqs_mm_allocate((uint64_t)table * sizeof(double), 64);
  p->split_twiddles = split;
  if (split == nullptr) return finish(out, p, PLAN_NO_MEMORY, 0);
  real_split_table(split, n);
  p->core_length = (int32_t)h;
  if (h > 16) code = plan_core(p, h, &work);
  return finish(out, p, code, work);
}

int complex_plan_work_size(const PlanRecord* p, int64_t* size_out) {
  return work_size_of(p, size_out, TAG_COMPLEX_PLAN);
}
int split_plan_work_size(const PlanRecord* p, int64_t* size_out) {
  return work_size_of(p, size_out, TAG_SPLIT_PLAN);
}
int real_plan_work_size(const PlanRecord* p, int64_t* size_out) {
  return work_size_of(p, size_out, TAG_REAL_PLAN);
}

int complex_plan_destroy(PlanRecord* p) { return destroy_of(p, TAG_COMPLEX_PLAN); }
int split_plan_destroy(PlanRecord* p) { return destroy_of(p, TAG_SPLIT_PLAN); }
int real_plan_destroy(PlanRecord* p) { return destroy_of(p, TAG_REAL_PLAN); }

int complex_plan_forward(const double* in, double* out, const PlanRecord* p, void* work) {
  return complex_execute(in, out, p, work, true);
}
int complex_plan_backward(const double* in, double* out, const PlanRecord* p, void* work) {
  return complex_execute(in, out, p, work, false);
}
int complex_plan_batch(const double* in, int64_t in_dist, double* out, int64_t out_dist,
                       int64_t count, const PlanRecord* p, void* work, bool forward) {
  if (p != nullptr && p->tag == TAG_COMPLEX_PLAN && p->power_of_two_plan != nullptr && in != nullptr &&
      out != nullptr) {
    void* owned;
    double* w = work_area(p, work, &owned);
    if (p->work_size > 0 && w == nullptr) return PLAN_NO_MEMORY;
    const int code = pow2_complex_batch(in, in_dist, out, out_dist, count,
                                        (const Pow2Plan*)p->power_of_two_plan, w, !forward);
    free_if(owned);
    return code;
  }
  for (int64_t t = 0; t < count; ++t) {
    const int code = complex_execute(in + t * in_dist, out + t * out_dist, p, work, forward);
    if (code != PLAN_OK) return code;
  }
  return PLAN_OK;
}
int split_plan_forward(const double* in_re, const double* in_im, double* out_re, double* out_im,
                       const PlanRecord* p, void* work) {
  return split_execute(in_re, in_im, out_re, out_im, p, work, true);
}
int split_plan_backward(const double* in_re, const double* in_im, double* out_re,
                        double* out_im, const PlanRecord* p, void* work) {
  return split_execute(in_re, in_im, out_re, out_im, p, work, false);
}
int real_plan_forward(const double* in, double* out, const PlanRecord* p, void* work) {
  return real_execute(in, out, p, work, true);
}
int real_plan_backward(const double* in, double* out, const PlanRecord* p, void* work) {
  return real_execute(in, out, p, work, false);
}
int real_plan_backward_cce(const double* in, double* out, const PlanRecord* p, void* work) {
  return real_execute(in, out, p, work, false, p == nullptr ? 1 : p->length);
}

int plan_scale_mode(const EngineDescriptor* d, int* mode_out) {
  if (d == nullptr || d->dims.count < 1 || d->dims.records == nullptr) return 0;
  const double n = (double)d->dims.records[0].length;
  const double f = d->forward_scale, b = d->backward_scale;
  const double inv = 1.0 / n, inv_sqrt = 1.0 / sqrt(n);
  int mode;
  if (f == 1.0 && b == 1.0) {
    mode = SCALE_NONE;
  } else if (f == inv && b == 1.0) {
    mode = SCALE_FORWARD;
  } else if (f == 1.0 && b == inv) {
    mode = SCALE_BACKWARD;
  } else if (f == inv_sqrt && b == inv_sqrt) {
    mode = SCALE_BOTH_SQRT;
  } else {
    return 0;
  }
  if (mode_out != nullptr) *mode_out = mode;
  return 1;
}

TQS_LEVEL_END
