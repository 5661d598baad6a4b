// This level's create entries and its table for level-independent code.
#include "engine/engine.h"
#include "engine/strategies.h"
#include "engine/plan.h"
#include "kernels/codelets.h"
#include "kernels/matrix_copy.h"
#include "kernels/pow2.h"
#include "kernels/roots.h"
#include "parallel/square_transpose.h"
#include "tqs_dfti.h"

TQS_LEVEL_BEGIN
namespace {

long create_stub(EngineDescriptor** handle, int64_t length, int domain) {
  if (handle == nullptr) return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  if (length == 0) return DFTI_STATUS_INVALID_CONFIGURATION;
  int64_t lengths[1] = {length};
  long status = create_engine_descriptor(handle, DFTI_DOUBLE, domain, 1, lengths);
  if (status != 0) return status;
  (*handle)->strategy_list = domain == DFTI_COMPLEX ? complex_strategy_list : real_strategy_list;
  return 0;
}

long create_complex(EngineDescriptor** handle, int64_t length) {
  return create_stub(handle, length, DFTI_COMPLEX);
}

long create_real(EngineDescriptor** handle, int64_t length) {
  return create_stub(handle, length, DFTI_REAL);
}

void generated_roots(int64_t n, const int64_t* k, int64_t count, double* cs) {
  const RootGenerator g(n);
  for (int64_t i = 0; i < count; ++i) g.cos_sin(k[i], cs + 2 * i, cs + 2 * i + 1);
}

}  // namespace

const LevelApi level_api = {
    TQS_LEVEL,
    create_complex,
    create_real,
    create_engine_descriptor,
    complex_strategy_list,
    real_strategy_list,
    complex_plan_create,
    split_plan_create,
    real_plan_create,
    complex_plan_work_size,
    split_plan_work_size,
    real_plan_work_size,
    complex_plan_destroy,
    split_plan_destroy,
    real_plan_destroy,
    complex_plan_forward,
    complex_plan_backward,
    split_plan_forward,
    split_plan_backward,
    real_plan_forward,
    real_plan_backward,
    &codelets,
    codelet_pow2_complex_forward,
    codelet_pow2_complex_backward,
    codelet_pow2_complex_forward_scaled,
    codelet_pow2_complex_backward_scaled,
    real_pow2_forward,
    real_pow2_backward,
    radix_butterfly,
    real_radix_butterfly,
    &pow2_api,
    committed_strategy_name,
    find_strategy,
    complex_matrix_copy,
    real_matrix_copy,
    tqs_trans_tqs_zimatcopy_square_t,
    complex_length_forward,
    complex_length_backward,
    root_table,
    generated_roots,
};

TQS_LEVEL_END
