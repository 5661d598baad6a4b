#include "model.h"

#include <cmath>

namespace tqs_fuzz {

namespace {

bool two_to_one(int64_t a, int64_t b) {
  return static_cast<__int128>(a) == 2 * static_cast<__int128>(b) ||
         static_cast<__int128>(b) == 2 * static_cast<__int128>(a);
}

}  // namespace

Commit commit_expectation(const Model& m) {
  if (m.n > kCommitLength) return Commit::Skip;
  // Each declared user thread gets a work area of its own.
  if (m.user_threads > 16) return Commit::Skip;
  // The split strategies, and at the AVX levels the fixed-length strategies
  // of 96 and 168 points, take any count and then have nothing to do; every
  // other path refuses an empty batch.
  const bool fixed_length = !m.real() && !m.split() && (m.n == 96 || m.n == 168);
  if (m.count < 1) return m.split() || fixed_length ? Commit::MayDecline : Commit::MustFail;
  if (m.real()) {
    if (m.ces == DFTI_COMPLEX_COMPLEX && m.inplace() && !two_to_one(m.in_off, m.out_off))
      return Commit::MustFail;
    // CCE packing left over with DFTI_COMPLEX_REAL storage: the general
    // planner has no routine for it; the convolution strategy may serve it.
    if (m.ces == DFTI_COMPLEX_REAL && m.packing == DFTI_PACKING_CCE) return Commit::MayDecline;
  }
  return Commit::MustSucceed;
}

long set_enumerated(Model& m, int parameter, int32_t v) {
  switch (parameter) {
    case DFTI_COMPLEX_LAYOUT:
      if (v == DFTI_COMPLEX_COMPLEX || v == DFTI_REAL_REAL) return m.complex_layout = v, 0;
      return v == DFTI_COMPLEX_REAL || v == DFTI_REAL_COMPLEX ? 6 : 3;
    case DFTI_REAL_LAYOUT:
      if (v == DFTI_REAL_REAL) return 0;
      return v == DFTI_REAL_COMPLEX ? 6 : 3;
    case DFTI_CONJUGATE_EVEN_STORAGE:
      if (v == DFTI_COMPLEX_COMPLEX) return m.ces = v, m.packing = DFTI_PACKING_CCE, 0;
      if (v == DFTI_COMPLEX_REAL) return m.ces = v, 0;
      return v == DFTI_REAL_COMPLEX || v == DFTI_REAL_REAL ? 6 : 3;
    case DFTI_PLACEMENT:
      if (v == DFTI_INPLACE || v == DFTI_NOT_INPLACE) return m.placement = v, 0;
      return 3;
    case DFTI_SCRATCH_POLICY:
      if (v == DFTI_SCRATCH_ALLOWED || v == DFTI_SCRATCH_AVOIDED) return m.scratch = v, 0;
      return 3;
    case DFTI_OUTPUT_ORDER:
      if (v == DFTI_ORDER_NATURAL || (v == DFTI_ORDER_PERMUTED_BACKWARD && !m.real()))
        return m.ordering = v, 0;
      return v == DFTI_ORDER_PERMUTED_BACKWARD || v == 50 ? 6 : 3;
    case DFTI_PACKING:
      if (v >= DFTI_PACKING_HALF_SPECTRUM && v <= DFTI_PACKING_CCE) return m.packing = v, 0;
      return 3;
    case 6: case 16: case 24: case 25:
      return 6;
    default:  // domain, precision, transposition, commit state: read only
      return 3;
  }
}

// ---- compute layouts ---------------------------------------------------------

Spectrum spectrum_layout(const Model& m) {
  if (m.ces == DFTI_COMPLEX_COMPLEX || m.packing == DFTI_PACKING_HALF_SPECTRUM) return Spectrum::Cce;
  if (m.packing == DFTI_PACKING_PERMUTED) return Spectrum::Permuted;
  if (m.packing == DFTI_PACKING_SEQUENTIAL) return Spectrum::Sequential;
  return Spectrum::Unknown;
}

bool call_shapes(const Model& m, bool forward, SideShape* in, SideShape* out) {
  *in = {m.in_off, m.in_stride, m.in_dist, m.n, 2};
  *out = {m.out_off, m.out_stride, m.out_dist, m.n, 2};
  if (!m.real()) {
    if (m.split()) in->unit = out->unit = 1;
    if (m.inplace()) *out = *in;
    return true;
  }
  const Spectrum s = spectrum_layout(m);
  if (s == Spectrum::Unknown) return false;
  const bool complex_units = m.ces == DFTI_COMPLEX_COMPLEX;
  SideShape& time = forward ? *in : *out;
  SideShape& freq = forward ? *out : *in;
  time.slots = m.n;
  time.unit = 1;
  if (s == Spectrum::Cce) {
    freq.slots = complex_units ? m.n / 2 + 1 : 2 * (m.n / 2 + 1);
    freq.unit = complex_units ? 2 : 1;
  } else {
    freq.slots = m.n;
    freq.unit = 1;
  }
  if (m.inplace() && !complex_units) out->offset = in->offset;
  return true;
}

bool extent(const SideShape& s, int64_t count, int64_t* lo, int64_t* hi) {
  __int128 low = s.offset, high = s.offset;
  const __int128 along = static_cast<__int128>(s.slots - 1) * s.stride;
  const __int128 across = static_cast<__int128>(count - 1) * s.distance;
  (along < 0 ? low : high) += along;
  (across < 0 ? low : high) += across;
  low *= s.unit;
  high = high * s.unit + s.unit - 1;
  if (low < 0 || high >= kMaxDoubles) return false;
  *lo = static_cast<int64_t>(low);
  *hi = static_cast<int64_t>(high);
  return true;
}

void positions(const SideShape& s, int64_t count, std::vector<int64_t>* p) {
  p->clear();
  for (int64_t t = 0; t < count; ++t)
    for (int64_t j = 0; j < s.slots; ++j)
      for (int u = 0; u < s.unit; ++u) p->push_back(s.unit * (s.offset + t * s.distance + j * s.stride) + u);
}

// ---- the direct transform ----------------------------------------------------

namespace {

struct Twiddles {
  int64_t n = 0;
  std::vector<long double> c, s;
  void prepare(int64_t len) {
    if (len == n) return;
    n = len;
    c.resize(static_cast<size_t>(n));
    s.resize(static_cast<size_t>(n));
    for (int64_t r = 0; r < n; ++r) {
      const long double a = 6.283185307179586476925286766559005768L * r / n;
      c[r] = cosl(a);
      s[r] = sinl(a);
    }
  }
};

Twiddles twiddles;

}  // namespace

void direct(const std::vector<double>& x, int64_t n, int sign, std::vector<double>* y) {
  twiddles.prepare(n);
  y->assign(static_cast<size_t>(2 * n), 0.0);
  for (int64_t k = 0; k < n; ++k) {
    long double re = 0, im = 0;
    int64_t r = 0;
    for (int64_t j = 0; j < n; ++j, r = (r + k) % n) {
      const long double c = twiddles.c[r], s = sign * twiddles.s[r];
      re += x[2 * j] * c - x[2 * j + 1] * s;
      im += x[2 * j] * s + x[2 * j + 1] * c;
    }
    (*y)[2 * k] = static_cast<double>(re);
    (*y)[2 * k + 1] = static_cast<double>(im);
  }
}

std::vector<double> to_layout(Spectrum s, int64_t n, const std::vector<double>& h) {
  if (s == Spectrum::Cce) return h;
  const int64_t m = n / 2;
  const bool even = n % 2 == 0 && n > 1;
  std::vector<double> v = {h[0]};
  if (s == Spectrum::Permuted && even) v.push_back(h[2 * m]);
  for (int64_t k = 1; k < (even ? m : m + 1); ++k) {
    v.push_back(h[2 * k]);
    v.push_back(h[2 * k + 1]);
  }
  if (s == Spectrum::Sequential && even) v.push_back(h[2 * m]);
  return v;
}

}  // namespace tqs_fuzz
