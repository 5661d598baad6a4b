// Long-double reference transforms for the accuracy tests: O(n log n) for
// every length (mixed radix over the prime factors, chirp-z for large prime
// factors), with roots evaluated in long double. Unscaled, e^(-2*pi*i*jk/n)
// forward (sign -1) and e^(+2*pi*i*jk/n) backward (sign +1).
#pragma once
#include <complex>
#include <cstdint>
#include <vector>

namespace tqs_test {

using cld = std::complex<long double>;

// out may not alias in.
void reference_dft(const cld* in, cld* out, int64_t n, int sign);

// Interleaved complex doubles (2n each); in and out may coincide.
void reference_complex(const double* in, double* out, int64_t n, int sign);
// Split complex arrays.
void reference_split(const double* in_re, const double* in_im, double* out_re, double* out_im,
                     int64_t n, int sign);
// Real forward: n doubles -> n doubles of the permuted packed spectrum
// (n even: R_0, R_n/2, R_1, I_1, ...; n odd: R_0, R_1, I_1, ...).
void reference_real_forward(const double* in, double* packed, int64_t n);
// Real backward: packed spectrum -> n doubles (the Hermitian extension's transform).
void reference_real_backward(const double* packed, double* out, int64_t n);

// sqrt(sum |got - want|^2 / sum |want|^2) over count doubles (absolute RMS
// when want is all zero).
double relative_rms_error(const double* got, const double* want, int64_t count);
// The accuracy bound the engine promises: 2 * 2^-52 * (1 + log2 n).
double accuracy_bound(int64_t n);

// Deterministic pseudo-random doubles in [-1, 1).
std::vector<double> random_doubles(int64_t count, uint64_t seed);

}  // namespace tqs_test
