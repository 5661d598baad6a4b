// Compute entries that are one generated kernel and nothing else (the
// direct-kernel strategy's, the short complex and real transforms'): the
// kernel is called by name, so a call reads nothing of the descriptor or its
// plan, and a short transform costs little more than its kernel.
#pragma once
#include "engine/engine.h"
#include "engine/level_api.h"
#include "tqs_dfti.h"

TQS_LEVEL_BEGIN

template <CplxKernel K>
long kernel_entry_out(EngineDescriptor*, void* a1, void* a2, void*, void*) {
  if (a1 == nullptr || a2 == nullptr) return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  K(static_cast<const double*>(a1), static_cast<double*>(a2));
  return 0;
}

template <CplxKernel K>
long kernel_entry_inplace(EngineDescriptor*, void* a1, void*, void*, void*) {
  if (a1 == nullptr) return DFTI_STATUS_INCONSISTENT_CONFIGURATION;
  K(static_cast<const double*>(a1), static_cast<double*>(a1));
  return 0;
}

// The four entries of one length: forward and backward, in place and out of
// place.
struct KernelEntries {
  ComputeEntry forward_inplace, forward_out, backward_inplace, backward_out;
};

template <CplxKernel F, CplxKernel B>
constexpr KernelEntries kernel_entries() {
  return {kernel_entry_inplace<F>, kernel_entry_out<F>, kernel_entry_inplace<B>,
          kernel_entry_out<B>};
}

// Whether f is a forward entry of the table.
template <size_t N>
bool among_kernel_entries(const KernelEntries (&table)[N], ComputeEntry f) {
  if (f == nullptr) return false;
  for (const KernelEntries& e : table) {
    if (f == e.forward_inplace || f == e.forward_out) return true;
  }
  return false;
}

TQS_LEVEL_END
