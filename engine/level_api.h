// What each processor level's copy of the engine offers to level-independent
// code: the dispatch targets and, for tests and benchmarks, the plan layer and
// the codelet tables. Plain data; one constant instance per level.
#pragma once
#include <cstdint>

#include "engine/descriptor.h"
#include "engine/plan_types.h"

namespace tqs {

typedef void (*CplxKernel)(const double* in, double* out);
typedef void (*CplxKernelScaled)(const double* in, double* out, double scale);
typedef void (*SplitKernel)(const double* in_re, const double* in_im, double* out_re,
                            double* out_im);
typedef void (*SplitKernelScaled)(const double* in_re, const double* in_im, double* out_re,
                                  double* out_im, double scale);

// Straight-line kernels for lengths 1..16, indexed by length (slot 0 unused).
// Real kernels: n doubles in, n doubles out, spectrum in permuted packed order.
struct CodeletTables {
  CplxKernel complex_forward[17];
  CplxKernelScaled complex_forward_scaled[17];
  CplxKernel complex_backward[17];
  CplxKernelScaled complex_backward_scaled[17];
  SplitKernel split_forward[17];
  SplitKernelScaled split_forward_scaled[17];
  SplitKernel split_backward[17];
  SplitKernelScaled split_backward_scaled[17];
  CplxKernel real_forward[17];
  CplxKernelScaled real_forward_scaled[17];
  CplxKernel real_backward[17];
  CplxKernelScaled real_backward_scaled[17];
  // The same real kernels on the spectrum stored as n/2+1 complex values
  // (R0, 0, R1, I1, ...), unscaled; null below length 2.
  CplxKernel real_forward_cce[17];
  CplxKernel real_backward_cce[17];
};

typedef int (*Pow2Execute)(const double* in, double* out, const void* plan, void* work);
typedef int (*PlanCreate)(PlanRecord** out, int64_t n, int mode, int hint);
typedef int (*PlanWorkSize)(const PlanRecord* plan, int64_t* size_out);
typedef int (*PlanDestroy)(PlanRecord* plan);
// Interleaved complex (2n doubles) or real (n doubles, permuted packing).
typedef int (*PlanExecute)(const double* in, double* out, const PlanRecord* plan, void* work);
typedef int (*SplitPlanExecute)(const double* in_re, const double* in_im, double* out_re,
                                double* out_im, const PlanRecord* plan, void* work);

// The power-of-two plans of one level, for tests and benchmarks. Plans are
// opaque here (their record type lives in the level namespace).
struct Pow2Api {
  int (*complex_create)(void** out, int log2n, int mode, int hint);
  int (*real_create)(void** out, int log2n, int mode, int hint);
  int (*work_size)(const void* plan, int64_t* size_out);
  int (*destroy)(void* plan);
  Pow2Execute complex_forward;
  Pow2Execute complex_backward;
  Pow2Execute real_forward;
  Pow2Execute real_backward;
};

// Matrices of complex doubles (16 bytes per element) or doubles: B := alpha
// op(A); ordering 'R'/'C', trans 'N', 'T', 'R' (conjugate), 'C' (conjugate
// transpose), either case.
typedef void (*ComplexMatrixCopy)(char ordering, char trans, uint64_t rows, uint64_t cols,
                                  double alpha_re, double alpha_im, const double* a, uint64_t lda,
                                  double* b, uint64_t ldb);
typedef void (*RealMatrixCopy)(char ordering, char trans, uint64_t rows, uint64_t cols,
                               double alpha, const double* a, uint64_t lda, double* b,
                               uint64_t ldb);
// In-place square transposition A := alpha A^T of n x n complex doubles;
// alpha points at one complex double.
typedef void (*SquareTranspose)(uint64_t n, const double* alpha, double* a, uint64_t lda);

struct LevelApi {
  int level;
  // Dispatch targets of the public create call.
  long (*create_complex)(EngineDescriptor** handle, int64_t length);
  long (*create_real)(EngineDescriptor** handle, int64_t length);
  long (*create_engine_descriptor)(EngineDescriptor** handle, int precision, int domain,
                                   int dimension, const int64_t* lengths);
  StrategyList complex_strategies;
  StrategyList real_strategies;
  // One-dimensional plans.
  PlanCreate complex_plan_create;
  PlanCreate split_plan_create;
  PlanCreate real_plan_create;
  PlanWorkSize complex_plan_work_size;
  PlanWorkSize split_plan_work_size;
  PlanWorkSize real_plan_work_size;
  PlanDestroy complex_plan_destroy;
  PlanDestroy split_plan_destroy;
  PlanDestroy real_plan_destroy;
  PlanExecute complex_plan_forward;
  PlanExecute complex_plan_backward;
  SplitPlanExecute split_plan_forward;
  SplitPlanExecute split_plan_backward;
  PlanExecute real_plan_forward;
  PlanExecute real_plan_backward;
  const CodeletTables* codelets;
  // Power-of-two kernels by log2 n (0..6): complex, and whole-vector real
  // (permuted packed spectrum, unscaled).
  const CplxKernel* pow2_complex_forward;
  const CplxKernel* pow2_complex_backward;
  const CplxKernelScaled* pow2_complex_forward_scaled;
  const CplxKernelScaled* pow2_complex_backward_scaled;
  const CplxKernel* real_pow2_forward;
  const CplxKernel* real_pow2_backward;
  // Test entries to the inline radix butterflies (radix, backward, lanes, data).
  int (*radix_butterfly)(int radix, int backward, int lanes, double* data);
  int (*real_radix_butterfly)(int radix, int backward, int lanes, double* data);
  const Pow2Api* pow2;
  // Which strategy runs a committed descriptor (see engine/strategies.h).
  const char* (*committed_strategy_name)(const EngineDescriptor* d);
  const Strategy* (*find_strategy)(const char* name);
  ComplexMatrixCopy complex_matrix_copy;
  RealMatrixCopy real_matrix_copy;
  SquareTranspose square_transpose;
  // Straight-line complex kernels by length n = 2..64 (null where a length
  // has none): aligned interleaved data, every output times scale.
  const CplxKernelScaled* complex_length_forward;
  const CplxKernelScaled* complex_length_backward;
  // The roots of unity the table builders use: w[2k], w[2k+1] = cos, -sin
  // (2 pi k/n) for k < n; and the generator's roots one at a time, cs[2i],
  // cs[2i+1] = cos, sin (2 pi k[i]/n) for any integers k[i].
  void (*root_table)(double* w, int64_t n);
  void (*generated_roots)(int64_t n, const int64_t* k, int64_t count, double* cs);
};

// Indexed by processor level; built by CMake from the levels compiled in.
extern const LevelApi* const level_apis[6];

}  // namespace tqs
