#include "reference.h"

#include <cmath>
#include <map>
#include <memory>
#include <mutex>

namespace tqs_test {
namespace {

const long double kPi = 3.141592653589793238462643383279502884L;

// exp(sign * 2*pi*i*k/n), exact index reduction first.
cld root(int64_t k, int64_t n, int sign) {
  k %= n;
  if (k < 0) k += n;
  long double a = 2.0L * kPi * (long double)k / (long double)n;
  return cld(cosl(a), sign * sinl(a));
}

// Roots w^k, k = 0..n-1, of exp(-2*pi*i/n); small tables are kept.
std::shared_ptr<const std::vector<cld>> roots(int64_t n) {
  static std::mutex lock;
  static std::map<int64_t, std::shared_ptr<const std::vector<cld>>> cache;
  if (n <= 65536) {
    std::lock_guard<std::mutex> guard(lock);
    auto it = cache.find(n);
    if (it != cache.end()) return it->second;
  }
  auto table = std::make_shared<std::vector<cld>>(n);
  std::vector<cld>& w = *table;
  // Evaluate the first octant (or half/quarter when n allows no finer
  // symmetry) and mirror the rest exactly.
  int64_t direct = n % 4 == 0 ? n / 8 : n % 2 == 0 ? n / 4 : n / 2;
  for (int64_t k = 0; k <= direct && k < n; ++k) w[k] = root(k, n, -1);
  if (n % 4 == 0) {
    for (int64_t k = n / 8 + 1; k <= n / 4; ++k) {
      cld m = w[n / 4 - k];  // exp(-i(pi/2 - t)) = -i * conj(exp(-it))
      w[k] = cld(-m.imag(), -m.real());
    }
  }
  if (n % 2 == 0) {
    for (int64_t k = n / 4 + 1; k <= n / 2; ++k) w[k] = -std::conj(w[n / 2 - k]);
  }
  for (int64_t k = n / 2 + 1; k < n; ++k) w[k] = std::conj(w[n - k]);
  if (n <= 65536) {
    std::lock_guard<std::mutex> guard(lock);
    cache[n] = table;
  }
  return table;
}

int64_t smallest_factor(int64_t n) {
  if (n % 4 == 0) return 4;
  for (int64_t p = 2; p * p <= n; ++p)
    if (n % p == 0) return p;
  return n;
}

// Plain products: the library's complex multiply guards against infinities
// and is several times slower.
inline cld mul(cld a, cld b) {
  return cld(a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real());
}

// Transform of n points read with the given stride; w holds the wn roots of
// the outermost transform (wn a multiple of n), conjugated for sign +1.
struct Roots {
  const cld* w;
  int64_t wn;
  int sign;
  cld at(int64_t e) const { return sign < 0 ? w[e] : std::conj(w[e]); }
};

void fft(const cld* in, int64_t stride, cld* out, int64_t n, const Roots& r);

void naive(const cld* in, int64_t stride, cld* out, int64_t n, const Roots& r) {
  int64_t step = r.wn / n;
  for (int64_t k = 0; k < n; ++k) {
    cld acc = 0;
    int64_t e = 0;
    for (int64_t j = 0; j < n; ++j) {
      acc += mul(in[j * stride], r.at(e * step));
      e += k;
      if (e >= n) e -= n;
    }
    out[k] = acc;
  }
}

// Chirp-z for a large prime n: a convolution of power-of-two length.
void chirp(const cld* in, int64_t stride, cld* out, int64_t n, int sign) {
  int64_t m = 1;
  while (m < 2 * n - 1) m *= 2;
  std::vector<cld> c(n), a(m), b(m), fa(m), fb(m);
  auto w2 = roots(2 * n);
  int64_t idx = 0;  // k^2 mod 2n
  for (int64_t k = 0; k < n; ++k) {
    c[k] = sign < 0 ? (*w2)[idx] : std::conj((*w2)[idx]);  // exp(sign*i*pi*k^2/n)
    idx += 2 * k + 1;
    while (idx >= 2 * n) idx -= 2 * n;
  }
  for (int64_t k = 0; k < n; ++k) a[k] = mul(in[k * stride], c[k]);
  b[0] = std::conj(c[0]);
  for (int64_t k = 1; k < n; ++k) b[k] = b[m - k] = std::conj(c[k]);
  auto w = roots(m);
  fft(a.data(), 1, fa.data(), m, Roots{w->data(), m, -1});
  fft(b.data(), 1, fb.data(), m, Roots{w->data(), m, -1});
  for (int64_t k = 0; k < m; ++k) fa[k] = mul(fa[k], fb[k]);
  fft(fa.data(), 1, a.data(), m, Roots{w->data(), m, +1});
  for (int64_t k = 0; k < n; ++k) out[k] = mul(a[k], c[k]) / (long double)m;
}

void fft(const cld* in, int64_t stride, cld* out, int64_t n, const Roots& r) {
  if (n == 1) {
    out[0] = in[0];
    return;
  }
  int64_t p = smallest_factor(n);
  if (p == n) {
    if (n <= 64) {
      naive(in, stride, out, n, r);
    } else {
      chirp(in, stride, out, n, r.sign);
    }
    return;
  }
  int64_t m = n / p;
  for (int64_t j = 0; j < p; ++j) fft(in + j * stride, stride * p, out + j * m, m, r);
  int64_t step = r.wn / n;
  if (p == 2) {
    for (int64_t k = 0; k < m; ++k) {
      cld a = out[k], b = mul(out[m + k], r.at(k * step));
      out[k] = a + b;
      out[m + k] = a - b;
    }
    return;
  }
  if (p == 4) {
    for (int64_t k = 0; k < m; ++k) {
      cld a = out[k];
      cld b = mul(out[m + k], r.at(k * step));
      cld c = mul(out[2 * m + k], r.at(2 * k * step));
      cld d = mul(out[3 * m + k], r.at(3 * k * step));
      cld s0 = a + c, s1 = a - c, s2 = b + d, dd = b - d;
      // -i*dd forward, +i*dd backward
      cld s3 = r.sign < 0 ? cld(dd.imag(), -dd.real()) : cld(-dd.imag(), dd.real());
      out[k] = s0 + s2;
      out[2 * m + k] = s0 - s2;
      out[m + k] = s1 + s3;
      out[3 * m + k] = s1 - s3;
    }
    return;
  }
  std::vector<cld> t(p);
  int64_t pstep = r.wn / p;
  for (int64_t k = 0; k < m; ++k) {
    for (int64_t j = 0; j < p; ++j) t[j] = mul(out[j * m + k], r.at(j * k * step));
    for (int64_t q = 0; q < p; ++q) {
      cld acc = 0;
      int64_t e = 0;
      for (int64_t j = 0; j < p; ++j) {
        acc += mul(t[j], r.at(e * pstep));
        e += q;
        if (e >= p) e -= p;
      }
      out[q * m + k] = acc;
    }
  }
}

void transform(const cld* in, cld* out, int64_t n, int sign) {
  auto w = roots(n);
  fft(in, 1, out, n, Roots{w->data(), n, sign});
}

}  // namespace

void reference_dft(const cld* in, cld* out, int64_t n, int sign) { transform(in, out, n, sign); }

void reference_complex(const double* in, double* out, int64_t n, int sign) {
  std::vector<cld> a(n), b(n);
  for (int64_t k = 0; k < n; ++k) a[k] = cld(in[2 * k], in[2 * k + 1]);
  transform(a.data(), b.data(), n, sign);
  for (int64_t k = 0; k < n; ++k) {
    out[2 * k] = (double)b[k].real();
    out[2 * k + 1] = (double)b[k].imag();
  }
}

void reference_split(const double* in_re, const double* in_im, double* out_re, double* out_im,
                     int64_t n, int sign) {
  std::vector<cld> a(n), b(n);
  for (int64_t k = 0; k < n; ++k) a[k] = cld(in_re[k], in_im[k]);
  transform(a.data(), b.data(), n, sign);
  for (int64_t k = 0; k < n; ++k) {
    out_re[k] = (double)b[k].real();
    out_im[k] = (double)b[k].imag();
  }
}

void reference_real_forward(const double* in, double* packed, int64_t n) {
  std::vector<cld> a(n), b(n);
  for (int64_t k = 0; k < n; ++k) a[k] = cld(in[k], 0);
  transform(a.data(), b.data(), n, -1);
  packed[0] = (double)b[0].real();
  if (n % 2 == 0) {
    if (n > 1) packed[1] = (double)b[n / 2].real();
    for (int64_t k = 1; k < n / 2; ++k) {
      packed[2 * k] = (double)b[k].real();
      packed[2 * k + 1] = (double)b[k].imag();
    }
  } else {
    for (int64_t k = 1; k <= n / 2; ++k) {
      packed[2 * k - 1] = (double)b[k].real();
      packed[2 * k] = (double)b[k].imag();
    }
  }
}

void reference_real_backward(const double* packed, double* out, int64_t n) {
  std::vector<cld> a(n), b(n);
  a[0] = cld(packed[0], 0);
  if (n % 2 == 0) {
    if (n > 1) a[n / 2] = cld(packed[1], 0);
    for (int64_t k = 1; k < n / 2; ++k) a[k] = cld(packed[2 * k], packed[2 * k + 1]);
  } else {
    for (int64_t k = 1; k <= n / 2; ++k) a[k] = cld(packed[2 * k - 1], packed[2 * k]);
  }
  for (int64_t k = 1; k < (n + 1) / 2; ++k) a[n - k] = std::conj(a[k]);
  transform(a.data(), b.data(), n, +1);
  for (int64_t k = 0; k < n; ++k) out[k] = (double)b[k].real();
}

double relative_rms_error(const double* got, const double* want, int64_t count) {
  long double num = 0, den = 0;
  for (int64_t i = 0; i < count; ++i) {
    long double d = (long double)got[i] - want[i];
    num += d * d;
    den += (long double)want[i] * want[i];
  }
  if (den == 0) return (double)sqrtl(num / (count > 0 ? count : 1));
  return (double)sqrtl(num / den);
}

double accuracy_bound(int64_t n) {
  return 2.0 * std::ldexp(1.0, -52) * (1.0 + std::log2((double)(n > 1 ? n : 1)));
}

std::vector<double> random_doubles(int64_t count, uint64_t seed) {
  std::vector<double> v(count);
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull;
  for (int64_t i = 0; i < count; ++i) {
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    uint64_t r = x * 0x2545F4914F6CDD1Dull;
    v[i] = (double)(r >> 11) * std::ldexp(1.0, -52) - 1.0;
  }
  return v;
}

}  // namespace tqs_test
