/* tqs-dft: double-precision discrete Fourier transforms behind a descriptor.
 *
 * Life of a transform: DftiCreateDouble1D, DftiSet/DftiGet, DftiCommit,
 * DftiForward/DftiBackward (any number of times), DftiRelease.
 * Every call returns one of the DFTI_STATUS_* codes below.
 *
 * Variadic arguments: enumerated values travel as int, lengths, strides,
 * distances and counts as 64-bit integers (int64_t / long long), scales as
 * double, arrays and result destinations as pointers. */
#ifndef TQS_DFTI_H
#define TQS_DFTI_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct tqs_dfti_descriptor* DftiHandle;

/* Configuration parameters. */
enum DftiConfigParam {
  DFTI_FORWARD_DOMAIN = 0,
  DFTI_DIMENSION = 1,
  DFTI_LENGTHS = 2,
  DFTI_PRECISION = 3,
  DFTI_FWD_SCALE = 4,
  DFTI_BWD_SCALE = 5,
  DFTI_TRANSFORM_COUNT = 7,
  DFTI_COMPLEX_LAYOUT = 8,
  DFTI_REAL_LAYOUT = 9,
  DFTI_CONJUGATE_EVEN_STORAGE = 10,
  DFTI_PLACEMENT = 11,
  DFTI_IN_STRIDES = 12,
  DFTI_OUT_STRIDES = 13,
  DFTI_IN_DISTANCE = 14,
  DFTI_OUT_DISTANCE = 15,
  DFTI_SCRATCH_POLICY = 17,
  DFTI_OUTPUT_ORDER = 18,
  DFTI_TRANSPOSITION = 19,
  DFTI_LABEL = 20,
  DFTI_PACKING = 21,
  DFTI_COMMIT_STATE = 22,
  DFTI_VERSION_TEXT = 23,
  DFTI_NUMBER_OF_USER_THREADS = 26,
  DFTI_MAX_THREADS = 27
};

/* Configuration values. */
enum DftiConfigValue {
  DFTI_STATE_COMMITTED = 30,
  DFTI_STATE_UNCOMMITTED = 31,
  DFTI_COMPLEX = 32,
  DFTI_REAL = 33,
  DFTI_SINGLE = 35,
  DFTI_DOUBLE = 36,
  DFTI_COMPLEX_COMPLEX = 39,
  DFTI_COMPLEX_REAL = 40,
  DFTI_REAL_COMPLEX = 41,
  DFTI_REAL_REAL = 42,
  DFTI_INPLACE = 43,
  DFTI_NOT_INPLACE = 44,
  DFTI_ORDER_NATURAL = 48,
  DFTI_ORDER_PERMUTED_BACKWARD = 49,
  DFTI_SCRATCH_ALLOWED = 51,
  DFTI_SCRATCH_AVOIDED = 52,
  DFTI_NO_TRANSPOSITION = 53,
  DFTI_PACKING_HALF_SPECTRUM = 54,
  DFTI_PACKING_SEQUENTIAL = 55,
  DFTI_PACKING_PERMUTED = 56,
  DFTI_PACKING_CCE = 57
};

/* Status codes. */
enum DftiStatus {
  DFTI_STATUS_SUCCESS = 0,
  DFTI_STATUS_MEMORY = 1,                    /* an allocation failed */
  DFTI_STATUS_INVALID_CONFIGURATION = 2,     /* bad argument value, or not committed */
  DFTI_STATUS_INCONSISTENT_CONFIGURATION = 3,/* id out of range, read-only, value refused */
  DFTI_STATUS_THREADING = 4,                 /* error in the threading runtime */
  DFTI_STATUS_BAD_DESCRIPTOR = 5,            /* null or corrupted handle */
  DFTI_STATUS_NOT_IMPLEMENTED = 6,           /* recognised but not implemented */
  DFTI_STATUS_INTERNAL = 7,                  /* internal error */
  DFTI_STATUS_USER_THREADS = 8,              /* too few DFTI_NUMBER_OF_USER_THREADS */
  DFTI_STATUS_DIMENSION_TOO_LARGE = 9        /* a dimension beyond 32 bits */
};

/* Room a caller provides for DFTI_VERSION_TEXT. */
#define DFTI_VERSION_TEXT_LENGTH 198

long DftiCreateDouble1D(DftiHandle* handle, int domain, ...);
long DftiSet(DftiHandle handle, int parameter, ...);
long DftiGet(DftiHandle handle, int parameter, ...);
long DftiCommit(DftiHandle handle);
long DftiForward(DftiHandle handle, ...);
long DftiBackward(DftiHandle handle, ...);
long DftiRelease(DftiHandle* handle);

#ifdef __cplusplus
}
#endif

#endif /* TQS_DFTI_H */
