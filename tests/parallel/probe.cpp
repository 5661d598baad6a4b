// Runs four-step transforms while one allocation fails, in a process of its
// own: with the memory manager's cache off every work area comes from the
// system allocator, which the probe replaces. A member whose area is refused
// must still meet the others at the barrier between the steps, the call
// must report the failure, and the next call, with memory again, must be
// right. A call that hangs ends the probe with SIGALRM.
//   tqs_parallel_probe N AVOID_SCRATCH FAIL_AT
// FAIL_AT counts the allocations of the first call from 1. Prints
//   first=STATUS second=STATUS error=RELATIVE_ERROR
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <unistd.h>

#include "service/memory_internal.h"
#include "support/reference.h"
#include "tqs_dfti.h"

namespace {

std::atomic<int> armed{0}, calls{0};
int fail_at = 0;

void* allocate(size_t size) {
  if (armed.load() && calls.fetch_add(1) + 1 == fail_at) return nullptr;
  return std::malloc(size);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  // A member left waiting at the barrier would hang the call: end instead.
  alarm(120);
  const int64_t n = std::atoll(argv[1]);
  const bool avoid = std::atoi(argv[2]) != 0;
  fail_at = std::atoi(argv[3]);
  tqs::mm_set_system_allocator(allocate, std::free);
  DftiHandle h = nullptr;
  if (DftiCreateDouble1D(&h, DFTI_COMPLEX, n) || DftiSet(h, DFTI_PLACEMENT, DFTI_NOT_INPLACE) ||
      (avoid && DftiSet(h, DFTI_SCRATCH_POLICY, DFTI_SCRATCH_AVOIDED)) || DftiCommit(h)) {
    return 3;
  }
  const std::vector<double> x = tqs_test::random_doubles(2 * n, 7);
  std::vector<double> y(2 * n), want(2 * n);
  tqs_test::reference_complex(x.data(), want.data(), n, -1);
  armed = 1;
  const long first = DftiForward(h, const_cast<double*>(x.data()), y.data());
  armed = 0;
  const long second = DftiForward(h, const_cast<double*>(x.data()), y.data());
  std::printf("first=%ld second=%ld error=%g\n", first, second,
              tqs_test::relative_rms_error(y.data(), want.data(), 2 * n));
  DftiRelease(&h);
  return 0;
}
