#include "kernels/real_odd.h"

#include "kernels/radix.h"

TQS_LEVEL_BEGIN

using namespace simd;
using namespace radix;

namespace {

template <int R, bool F>
inline void real_bfly(double* x) {
#define TQS_REAL_CASE(r)               \
  if constexpr (R == r) {              \
    if constexpr (F) {                 \
      real_butterfly##r##_forward(x);  \
    } else {                           \
      real_butterfly##r##_backward(x); \
    }                                  \
    return;                            \
  }
  TQS_REAL_CASE(3)
  TQS_REAL_CASE(5)
  TQS_REAL_CASE(7)
  TQS_REAL_CASE(11)
  TQS_REAL_CASE(13)
#undef TQS_REAL_CASE
}

// Real transform of r values in place (packed order out), or back; R == 0
// runs the direct transform of the table on a complex copy.
template <int R, bool F>
inline void real_dft(double* t, int r, const double* cs) {
  if constexpr (R != 0) {
    real_bfly<R, F>(t);
  } else {
    C1 z[kMaxGeneric];
    const int h = (r - 1) / 2;
    if constexpr (F) {
      for (int j = 0; j < r; ++j) z[j] = set1(t[j], 0.0);
      bfly_odd_rt<true>(z, r, cs);
      t[0] = z[0].v[0];
      for (int k = 1; k <= h; ++k) store1(t + 2 * k - 1, z[k]);
    } else {
      z[0] = set1(t[0], 0.0);
      for (int k = 1; k <= h; ++k) {
        z[k] = load1(t + 2 * k - 1);
        z[r - k] = conj(z[k]);
      }
      bfly_odd_rt<false>(z, r, cs);
      for (int j = 0; j < r; ++j) t[j] = z[j].v[0];
    }
  }
}

template <int R, bool F>
inline void complex_dft(C1* z, int r, const double* cs) {
  if constexpr (R != 0) {
    bfly<R, F>(z);
  } else {
    bfly_odd_rt<F>(z, r, cs);
  }
}

// Forward pass: r packed sub-spectra of length m (block of r*m doubles at a)
// into the packed spectrum of length r*m at b.
template <int R>
void pass_forward(const FactorRecord& f, int64_t blocks, const double* a, double* b) {
  const int r = R == 0 ? (int)f.radix : R;
  const int64_t m = f.m, rm = r * m, half = (rm - 1) / 2, h = (m - 1) / 2;
  const double* tw = (const double*)f.twiddles;
  const double* cs = (const double*)f.generic_table;
  for (int64_t blk = 0; blk < blocks; ++blk) {
    const double* y = a + blk * rm;
    double* x = b + blk * rm;
    double t[R == 0 ? kMaxGeneric : R];
    for (int j = 0; j < r; ++j) t[j] = y[j * m];
    real_dft<R, true>(t, r, cs);
    x[0] = t[0];
    for (int q = 1; q <= (r - 1) / 2; ++q) {
      x[2 * q * m - 1] = t[2 * q - 1];
      x[2 * q * m] = t[2 * q];
    }
    for (int64_t k = 1; k <= h; ++k) {
      C1 z[R == 0 ? kMaxGeneric : R];
      const double* w = tw + 2 * k * (r - 1);
      z[0] = load1(y + 2 * k - 1);
      for (int j = 1; j < r; ++j) z[j] = cmul(load1(y + j * m + 2 * k - 1), load1(w + 2 * (j - 1)));
      complex_dft<R, true>(z, r, cs);
      for (int q = 0; q < r; ++q) {
        int64_t bin = k + q * m;
        if (bin <= half) {
          store1(x + 2 * bin - 1, z[q]);
        } else {
          store1(x + 2 * (rm - bin) - 1, conj(z[q]));
        }
      }
    }
  }
}

// Backward pass: the packed spectrum of length r*m at a into r packed
// sub-spectra at b, each r times the forward one.
template <int R>
void pass_backward(const FactorRecord& f, int64_t blocks, const double* a, double* b) {
  const int r = R == 0 ? (int)f.radix : R;
  const int64_t m = f.m, rm = r * m, half = (rm - 1) / 2, h = (m - 1) / 2;
  const double* tw = (const double*)f.twiddles;
  const double* cs = (const double*)f.generic_table;
  for (int64_t blk = 0; blk < blocks; ++blk) {
    const double* x = a + blk * rm;
    double* y = b + blk * rm;
    double t[R == 0 ? kMaxGeneric : R];
    t[0] = x[0];
    for (int q = 1; q <= (r - 1) / 2; ++q) {
      t[2 * q - 1] = x[2 * q * m - 1];
      t[2 * q] = x[2 * q * m];
    }
    real_dft<R, false>(t, r, cs);
    for (int j = 0; j < r; ++j) y[j * m] = t[j];
    for (int64_t k = 1; k <= h; ++k) {
      C1 z[R == 0 ? kMaxGeneric : R];
      const double* w = tw + 2 * k * (r - 1);
      for (int q = 0; q < r; ++q) {
        int64_t bin = k + q * m;
        z[q] = bin <= half ? load1(x + 2 * bin - 1) : conj(load1(x + 2 * (rm - bin) - 1));
      }
      complex_dft<R, false>(z, r, cs);
      store1(y + 2 * k - 1, z[0]);
      for (int j = 1; j < r; ++j) store1(y + j * m + 2 * k - 1, cmulj(z[j], load1(w + 2 * (j - 1))));
    }
  }
}

template <bool F>
void run_pass(const FactorRecord& f, int64_t blocks, const double* a, double* b) {
  switch (f.radix) {
#define TQS_PASS_CASE(r)                                   \
  case r:                                                  \
    if constexpr (F) {                                     \
      pass_forward<r>(f, blocks, a, b);                    \
    } else {                                               \
      pass_backward<r>(f, blocks, a, b);                   \
    }                                                      \
    break;
    TQS_PASS_CASE(3)
    TQS_PASS_CASE(5)
    TQS_PASS_CASE(7)
    TQS_PASS_CASE(11)
    TQS_PASS_CASE(13)
#undef TQS_PASS_CASE
    default:
      if constexpr (F) {
        pass_forward<0>(f, blocks, a, b);
      } else {
        pass_backward<0>(f, blocks, a, b);
      }
  }
}

// Leaves: gather L reals (forward) into packed leaf spectra, or scatter
// the backward leaf transforms to the output.
template <int L, bool F>
void leaves(const PlanRecord* p, const double* src, double* dst) {
  const FactorRecord& deep = p->factors[p->last_factor_index];
  const FactorRecord& lf = p->factors[p->last_factor_index + 1];
  const int l = L == 0 ? (int)lf.radix : L;
  const double* cs = (const double*)lf.generic_table;
  const int32_t* offsets = (const int32_t*)p->scratch;
  const int64_t r = deep.radix, s = deep.s, stride = r * s;
  const double* packed = src;
  double* packed_out = dst;
  for (int64_t e = 0; e < lf.blocks; ++e) {
    for (int64_t j = 0; j < r; ++j) {
      const int64_t base = offsets[e] + j * s;
      double t[L == 0 ? kMaxGeneric : L];
      if constexpr (F) {
        for (int u = 0; u < l; ++u) t[u] = src[base + u * stride];
        real_dft<L, true>(t, l, cs);
        for (int u = 0; u < l; ++u) packed_out[u] = t[u];
        packed_out += l;
      } else {
        // t[0] outside the loop: GCC cannot tell that l >= 1 once the
        // generic butterfly is inlined, and would call it uninitialised.
        t[0] = packed[0];
        for (int u = 1; u < l; ++u) t[u] = packed[u];
        packed += l;
        real_dft<L, false>(t, l, cs);
        for (int u = 0; u < l; ++u) dst[base + u * stride] = t[u];
      }
    }
  }
}

template <bool F>
void run_leaves(const PlanRecord* p, const double* src, double* dst) {
  switch (p->factors[p->last_factor_index + 1].radix) {
    case 3: leaves<3, F>(p, src, dst); break;
    case 5: leaves<5, F>(p, src, dst); break;
    case 7: leaves<7, F>(p, src, dst); break;
    case 11: leaves<11, F>(p, src, dst); break;
    case 13: leaves<13, F>(p, src, dst); break;
    default: leaves<0, F>(p, src, dst); break;
  }
}

}  // namespace

void real_odd_forward(const PlanRecord* p, const double* in, double* out, double* work) {
  const int64_t n = p->length;
  double* bufs[2] = {work, work + n};
  run_leaves<true>(p, in, bufs[0]);
  int cur = 0;
  for (int t = p->last_factor_index; t >= 0; --t) {
    double* dst = t == 0 ? out : bufs[cur ^ 1];
    run_pass<true>(p->factors[t], p->factors[t].blocks, bufs[cur], dst);
    cur ^= 1;
  }
}

void real_odd_backward(const PlanRecord* p, const double* in, double* out, double* work) {
  const int64_t n = p->length;
  double* bufs[2] = {work, work + n};
  const double* src = in;
  int cur = 0;
  for (int t = 0; t <= p->last_factor_index; ++t) {
    run_pass<false>(p->factors[t], p->factors[t].blocks, src, bufs[cur]);
    src = bufs[cur];
    cur ^= 1;
  }
  run_leaves<false>(p, src, out);
}

TQS_LEVEL_END
