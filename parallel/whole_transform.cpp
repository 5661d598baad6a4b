// Which whole-transform path takes one long complex transform on a team,
// and the compute side of the chosen one.
#include "parallel/whole_transform.h"

#include <cstring>

#include "engine/general.h"
#include "parallel/drivers.h"
#include "parallel/four_step.h"
#include "parallel/large_pow2.h"
#include "tqs_dfti.h"

TQS_LEVEL_BEGIN
namespace {

constexpr int TEMPORARY_ALIGNMENT = 64;

bool natural_unit_strides(const EngineDescriptor* d) {
  return d->ordering == DFTI_ORDER_NATURAL && d->first_input_stride == 1 && d->first_output_stride == 1;
}

bool try_four_step(EngineDescriptor* d) {
  if (four_step_plan(d, true) != 0) {
    clear_whole_transform(d);
    return false;
  }
  d->large_forward = four_step_forward;
  d->large_backward = four_step_backward;
  return true;
}

bool aligned16(const void* p) { return (reinterpret_cast<uintptr_t>(p) & 15) == 0; }

}  // namespace

void try_whole_transform_paths(EngineDescriptor* d) {
  const int64_t n = d->length;
  if (d->complex_storage != DFTI_COMPLEX_COMPLEX || d->number_of_transforms != 1 || d->normalised_rank != 1) {
    return;
  }
  if (!is_power_of_two(n)) {
    if (natural_unit_strides(d) && d->log2_length >= 11) try_four_step(d);
    return;
  }
  // Below AVX the large kernels beat the four-step transform on the team
  // sizes they are written for.
  const int threads = d->thread_count;
  const bool kernels_first = TQS_LEVEL < 4 && (threads == 2 || threads == 4 || threads == 8) &&
                             d->placement != DFTI_INPLACE && n <= (int64_t(1) << LARGE_MAX_LOG2);
  if (natural_unit_strides(d) && d->log2_length > 10 && !kernels_first && try_four_step(d)) return;
  if (d->placement == DFTI_NOT_INPLACE && natural_unit_strides(d) && d->log2_length >= LARGE_MIN_LOG2 &&
      d->log2_length <= LARGE_MAX_LOG2 && select_large_kernel(d) != 0) {
    clear_whole_transform(d);
  }
}

long whole_transform(EngineDescriptor* d, bool forward, const double* input, double* output) {
  const LargeEntry entry = forward ? d->large_forward : d->large_backward;
  if (d->commit_hook_armed != nullptr) return entry(input, output, d, d->work_buffer);
  // The large kernels load and store whole complex values: arrays off the
  // 16-byte grid go through aligned copies. The output copy needs no
  // contents, since the kernel writes every element.
  const size_t bytes = static_cast<size_t>(d->length) * 16;
  double* in_copy = nullptr;
  double* out_copy = nullptr;
  if (!aligned16(input)) {
    in_copy = static_cast<double*>(tqs_mm_allocate(bytes, TEMPORARY_ALIGNMENT));
    if (in_copy == nullptr) return DFTI_STATUS_MEMORY;
    std::memcpy(in_copy, input, bytes);
  }
  if (!aligned16(output)) {
    out_copy = static_cast<double*>(tqs_mm_allocate(bytes, TEMPORARY_ALIGNMENT));
    if (out_copy == nullptr) {
      tqs_mm_free(in_copy);
      return DFTI_STATUS_MEMORY;
    }
  }
  const long status = entry(in_copy != nullptr ? in_copy : input, out_copy != nullptr ? out_copy : output,
                            d, d->large_kernel_table);
  if (out_copy != nullptr && status == 0) std::memcpy(output, out_copy, bytes);
  tqs_mm_free(in_copy);
  tqs_mm_free(out_copy);
  return status;
}

TQS_LEVEL_END
