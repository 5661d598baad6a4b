/* Forward and backward real-to-complex out-of-place transform of length 6,
 * verified against the analytic spectrum of a cosine and an impulse. */
#include <float.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "tqs_dfti.h"

static const double TWO_PI = 6.283185307179586;

static double error_threshold(int n) {
  return log((double)n) * 2.5 / log(2.0) * DBL_EPSILON;
}

static void fill_real_cosine(double* x, int n, int h) {
  double factor = ((n - h) % n == 0) ? 1.0 : 2.0;
  int64_t nh = 0;
  for (int i = 0; i < n; ++i) {
    double phase = (double)(nh % n) / n * TWO_PI;
    x[i] = cos(phase) * factor / n;
    nh += h;
  }
}

static int verify_half_spectrum(const double* x, int n, int h) {
  double errthr = error_threshold(n);
  double maxerr = 0.0;
  printf(" Check if err is below errthr %.3lg\n", errthr);
  for (int k = 0; k < n / 2 + 1; ++k) {
    double re_exp = ((k - h) % n == 0 || (-k - h) % n == 0) ? 1.0 : 0.0;
    double im_exp = 0.0;
    double re_got = x[2 * k];
    double im_got = x[2 * k + 1];
    double err = fabs(re_got - re_exp) + fabs(im_got - im_exp);
    if (err > maxerr) maxerr = err;
    if (!(errthr > err)) {
      printf(" x[%i]: ", k);
      printf(" expected (%.17lg,%.17lg), ", re_exp, im_exp);
      printf(" got (%.17lg,%.17lg), ", re_got, im_got);
      printf(" err %.3lg\n", err);
      printf(" Verification FAILED\n");
      return 1;
    }
  }
  printf(" Verified,  maximum error was %.3lg\n", maxerr);
  return 0;
}

static void fill_half_spectrum(double* x, int n, int h) {
  int64_t kh = 0;
  for (int k = 0; k < n / 2 + 1; ++k) {
    double phase = (double)(kh % n) / n * TWO_PI;
    x[2 * k] = cos(phase) / n;
    x[2 * k + 1] = -(sin(phase) / n);
    kh += h;
  }
}

static int verify_real_impulse(const double* x, int n, int h) {
  double errthr = error_threshold(n);
  double maxerr = 0.0;
  printf(" Check if err is below errthr %.3lg\n", errthr);
  for (int i = 0; i < n; ++i) {
    double expected = ((i - h) % n == 0) ? 1.0 : 0.0;
    double err = fabs(x[i] - expected);
    if (err > maxerr) maxerr = err;
    if (!(errthr > err)) {
      printf(" x[%i]: ", i);
      printf(" expected %.17lg, ", expected);
      printf(" got %.17lg, ", x[i]);
      printf(" err %.3lg\n", err);
      printf(" Verification FAILED\n");
      return 1;
    }
  }
  printf(" Verified,  maximum error was %.3lg\n", maxerr);
  return 0;
}

int main(void) {
  const int n = 6;
  const int h = -1;
  char version[DFTI_VERSION_TEXT_LENGTH];
  DftiHandle handle = NULL;
  double* x_real = NULL;
  double* x_cmplx = NULL;
  long status;

  DftiGet(NULL, DFTI_VERSION_TEXT, version);
  printf("%s\n", version);
  printf("Example basic_dp_real_dft_1d\n");
  printf("Forward-Backward double-precision real-to-complex out-of-place 1D transform\n");
  printf("Configuration parameters:\n");
  printf(" DFTI_PRECISION                = DFTI_DOUBLE\n");
  printf(" DFTI_FORWARD_DOMAIN           = DFTI_REAL\n");
  printf(" DFTI_DIMENSION                = 1\n");
  printf(" DFTI_LENGTHS                  = {%d}\n", n);
  printf(" DFTI_PLACEMENT                = DFTI_NOT_INPLACE\n");
  printf(" DFTI_CONJUGATE_EVEN_STORAGE   = DFTI_COMPLEX_COMPLEX\n");

  printf("Create DFTI descriptor\n");
  status = DftiCreateDouble1D(&handle, DFTI_REAL, (int64_t)n);
  if (status != 0) goto failed;

  printf("Set configuration: out-of-place\n");
  status = DftiSet(handle, DFTI_PLACEMENT, DFTI_NOT_INPLACE);
  if (status != 0) goto failed;

  printf("Set configuration: CCE storage\n");
  status = DftiSet(handle, DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_COMPLEX);
  if (status != 0) goto failed;

  printf("Commit the  descriptor\n");
  status = DftiCommit(handle);
  if (status != 0) goto failed;

  printf("Allocate data arrays\n");
  x_real = (double*)malloc(n * sizeof(double));
  x_cmplx = (double*)malloc((n / 2 + 1) * 2 * sizeof(double));
  if (x_real == NULL || x_cmplx == NULL) goto failed;

  printf("Initialize data for real-to-complex FFT\n");
  fill_real_cosine(x_real, n, h);

  printf("Compute forward transform\n");
  status = DftiForward(handle, x_real, x_cmplx);
  if (status != 0) goto failed;

  printf("Verify the result\n");
  status = verify_half_spectrum(x_cmplx, n, h);
  if (status != 0) goto failed;

  printf("Initialize data for complex-to-real FFT\n");
  fill_half_spectrum(x_cmplx, n, h);

  printf("Compute backward transform\n");
  status = DftiBackward(handle, x_cmplx, x_real);
  if (status != 0) goto failed;

  printf("Verify the result\n");
  status = verify_real_impulse(x_real, n, h);
  if (status == 0) goto cleanup;

failed:
  printf(" ERROR, status = %li\n", status);
  status = 1;

cleanup:
  printf("Free DFTI descriptor\n");
  DftiRelease(&handle);
  printf("Free data arrays\n");
  free(x_real);
  free(x_cmplx);
  printf("TEST %s\n", (status != 0) ? "FAILED" : "PASSED");
  return (int)status;
}
