// What the descriptor layer costs on a small transform: a length-6 real
// forward transform through DftiForward against the bare plan call that it
// ends in. Both run interleaved in one process; the median of many rounds is
// reported. Usage: TQS_DEBUG_CPU_TYPE=5 descriptor_overhead [length]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/level_api.h"
#include "service/tqs_service.h"
#include "tqs_dfti.h"

namespace {

double seconds_per_call(void (*body)(void*), void* arg, int calls) {
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) body(arg);
  auto t1 = std::chrono::steady_clock::now();
  return std::chrono::duration<double>(t1 - t0).count() / calls;
}

struct Case {
  DftiHandle handle;
  const tqs::LevelApi* api;
  tqs::PlanRecord* plan;
  double* in;
  double* out;
  double* packed;
};

void through_descriptor(void* p) {
  auto* c = static_cast<Case*>(p);
  DftiForward(c->handle, c->in, c->out);
}

void bare_plan(void* p) {
  auto* c = static_cast<Case*>(p);
  c->api->real_plan_forward(c->in, c->packed, c->plan, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t n = argc > 1 ? std::atoll(argv[1]) : 6;
  Case c{};
  c.api = tqs::level_apis[tqs_cpu_level()];
  std::vector<double> in(n, 0.25), out(n + 2), packed(n);
  c.in = in.data();
  c.out = out.data();
  c.packed = packed.data();
  if (DftiCreateDouble1D(&c.handle, DFTI_REAL, n) != 0 ||
      DftiSet(c.handle, DFTI_PLACEMENT, DFTI_NOT_INPLACE) != 0 ||
      DftiSet(c.handle, DFTI_CONJUGATE_EVEN_STORAGE, DFTI_COMPLEX_COMPLEX) != 0 ||
      DftiCommit(c.handle) != 0) {
    std::printf("commit failed\n");
    return 1;
  }
  if (c.api->real_plan_create(&c.plan, n, tqs::SCALE_NONE, 0) != 0) {
    std::printf("plan failed\n");
    return 1;
  }
  const int calls = 20000;
  std::vector<double> public_times, plan_times;
  for (int round = 0; round < 101; ++round) {
    public_times.push_back(seconds_per_call(through_descriptor, &c, calls));
    plan_times.push_back(seconds_per_call(bare_plan, &c, calls));
  }
  std::nth_element(public_times.begin(), public_times.begin() + 50, public_times.end());
  std::nth_element(plan_times.begin(), plan_times.begin() + 50, plan_times.end());
  double pub = public_times[50] * 1e9, bare = plan_times[50] * 1e9;
  std::printf("level %d, real forward n=%lld: DftiForward %.1f ns, plan call %.1f ns, ratio %.2f\n",
              tqs_cpu_level(), static_cast<long long>(n), pub, bare, pub / bare);
  c.api->real_plan_destroy(c.plan);
  DftiRelease(&c.handle);
  return 0;
}
