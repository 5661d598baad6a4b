// Long-double reference transforms for the comparison report.
//
// The accuracy columns of the report compare both libraries with these, so
// they must be clearly better than double: every twiddle factor is computed
// directly with cosl/sinl from an exactly reduced angle (no recurrences), and
// the arithmetic runs in 80-bit long double. Lengths whose prime factors are
// all small run a recursive mixed-radix decimation in time; any other length
// goes through a chirp convolution of power-of-two length, so every length is
// O(n log n).
#pragma once
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace report {

using cld = std::complex<long double>;

// Prime factors up to this size run as direct O(p^2) butterflies inside the
// recursion; a length with a larger factor goes through the chirp convolution.
constexpr uint64_t kLargestDirectFactor = 64;

inline uint64_t smallest_factor(uint64_t n) {
  for (uint64_t p = 2; p * p <= n; ++p)
    if (n % p == 0) return p;
  return n;
}

inline bool is_smooth(uint64_t n) {
  while (n > 1) {
    uint64_t p = smallest_factor(n);
    if (p > kLargestDirectFactor) return false;
    n /= p;
  }
  return true;
}

// exp(-2*pi*i*j/n) for 0 <= j < n, from the exact fraction j/n folded into
// the first octant so that cosl/sinl only ever see small angles.
inline cld unit_root(uint64_t j, uint64_t n) {
  const long double pi = 3.141592653589793238462643383279502884L;
  // 8j/n in [0, 8): octant index and the remainder within it.
  unsigned __int128 eight_j = (unsigned __int128)j * 8;
  uint64_t octant = (uint64_t)(eight_j / n);
  uint64_t rem = (uint64_t)(eight_j % n);  // angle = (octant + rem/n) * pi/4
  long double phi = pi / 4 * (long double)rem / (long double)n;
  long double c = cosl(phi), s = sinl(phi);
  // The angle theta = octant*pi/4 + phi; write cos/sin of theta exactly
  // through the octant symmetries (r = sqrt(1/2)).
  const long double r = 0.707106781186547524400844362104849039L;
  long double ct, st;
  switch (octant) {
    case 0: ct = c; st = s; break;
    case 1: ct = r * (c - s); st = r * (c + s); break;
    case 2: ct = -s; st = c; break;
    case 3: ct = -r * (c + s); st = r * (c - s); break;
    case 4: ct = -c; st = -s; break;
    case 5: ct = -r * (c - s); st = -r * (c + s); break;
    case 6: ct = s; st = -c; break;
    default: ct = r * (c + s); st = -r * (c - s); break;
  }
  return cld(ct, -st);
}

// Plain product: the library's operator* goes through a NaN-recovering
// helper call, which dominates the run time at the largest lengths.
inline cld mul(cld a, cld b) {
  return cld(a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real());
}

class Reference {
 public:
  // Forward (sign -1) or backward (sign +1) complex transform of x in place.
  static void complex_transform(std::vector<cld>& x, int sign) {
    const uint64_t n = x.size();
    if (n <= 1) return;
    if (sign > 0)
      for (auto& v : x) v = std::conj(v);
    if (is_smooth(n)) {
      Reference r(n);
      std::vector<cld> out(n);
      r.recurse(x.data(), 1, out.data(), n);
      x.swap(out);
    } else {
      chirp(x);
    }
    if (sign > 0)
      for (auto& v : x) v = std::conj(v);
  }

 private:
  explicit Reference(uint64_t n) : roots_(n) {
    for (uint64_t j = 0; j < n; ++j) roots_[j] = unit_root(j, n);
  }

  // Decimation in time: the p sub-transforms of the strided subsequences go
  // to consecutive blocks of out, then one pass of radix p combines them.
  // Here stride = n/len, so w_len^j is roots_[j * stride].
  void recurse(const cld* in, uint64_t stride, cld* out, uint64_t len) {
    if (len == 1) {
      out[0] = in[0];
      return;
    }
    const uint64_t p = smallest_factor(len), m = len / p;
    for (uint64_t r = 0; r < p; ++r) recurse(in + r * stride, stride * p, out + r * m, m);
    if (p == 2) {
      for (uint64_t k = 0; k < m; ++k) {
        cld a = out[k], b = mul(out[m + k], roots_[k * stride]);
        out[k] = a + b;
        out[m + k] = a - b;
      }
      return;
    }
    std::vector<cld> t(p), wp(p);
    for (uint64_t j = 0; j < p; ++j) wp[j] = roots_[j * m * stride];  // w_p^j
    for (uint64_t k = 0; k < m; ++k) {
      for (uint64_t r = 0; r < p; ++r) t[r] = mul(out[r * m + k], roots_[r * k * stride]);
      for (uint64_t s = 0; s < p; ++s) {
        cld acc = t[0];
        for (uint64_t r = 1; r < p; ++r) acc += mul(t[r], wp[(r * s) % p]);
        out[s * m + k] = acc;
      }
    }
  }

  // Forward transform of any length as a convolution with the chirp
  // exp(-i*pi*k^2/n), whose angle is reduced exactly through k^2 mod 2n.
  static void chirp(std::vector<cld>& x) {
    const uint64_t n = x.size();
    uint64_t len = 1;
    while (len < 2 * n - 1) len *= 2;
    std::vector<cld> c(n);
    for (uint64_t k = 0; k < n; ++k) {
      uint64_t q = (uint64_t)(((unsigned __int128)k * k) % (2 * n));
      c[k] = unit_root(q, 2 * n);
    }
    std::vector<cld> a(len, 0), b(len, 0);
    for (uint64_t k = 0; k < n; ++k) a[k] = mul(x[k], c[k]);
    b[0] = std::conj(c[0]);
    for (uint64_t k = 1; k < n; ++k) b[k] = b[len - k] = std::conj(c[k]);
    complex_transform(a, -1);
    complex_transform(b, -1);
    for (uint64_t k = 0; k < len; ++k) a[k] = mul(a[k], b[k]);
    complex_transform(a, +1);
    const long double scale = 1.0L / (long double)len;
    for (uint64_t k = 0; k < n; ++k) x[k] = mul(a[k] * scale, c[k]);
  }

  std::vector<cld> roots_;
};

// Real forward: n real values -> n/2+1 complex values (conjugate-even half).
inline std::vector<cld> real_forward(const double* x, uint64_t n) {
  std::vector<cld> v(n);
  for (uint64_t k = 0; k < n; ++k) v[k] = cld(x[k], 0);
  Reference::complex_transform(v, -1);
  v.resize(n / 2 + 1);
  return v;
}

// Real backward: n/2+1 complex values (imaginary parts of bin 0 and, for even
// n, bin n/2 taken as zero) -> n real values.
inline std::vector<long double> real_backward(const double* half, uint64_t n) {
  std::vector<cld> v(n);
  const uint64_t h = n / 2;
  for (uint64_t k = 0; k <= h; ++k) v[k] = cld(half[2 * k], half[2 * k + 1]);
  v[0].imag(0);
  if (n % 2 == 0) v[h].imag(0);
  for (uint64_t k = 1; k < n - k; ++k) v[n - k] = std::conj(v[k]);
  Reference::complex_transform(v, +1);
  std::vector<long double> out(n);
  for (uint64_t k = 0; k < n; ++k) out[k] = v[k].real();
  return out;
}

}  // namespace report
