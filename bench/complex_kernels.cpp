// Short complex transforms: the per-length kernels (lengths 17..63), the
// fixed-length strategies (96, 168; single and batched) and the
// direct-kernel strategies (powers of two up to 128), each against the
// general one-dimensional plan of the same length and against FFTW
// (FFTW_MEASURE, one thread). Nanoseconds per transform, medians of
// alternating timing blocks.
// Usage: TQS_DEBUG_CPU_TYPE=L complex_kernels [lengths] [fixed] [direct]
#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "engine/level_api.h"
#include "service/tqs_service.h"
#include "tqs_dfti.h"

namespace {

const tqs::LevelApi& api() { return *tqs::level_apis[tqs_cpu_level()]; }

template <class F>
double block_seconds(F& f, int64_t calls) {
  auto t0 = std::chrono::steady_clock::now();
  for (int64_t i = 0; i < calls; ++i) f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / calls;
}

// Median seconds per call of each contender, timed in alternating blocks.
template <class... F>
std::vector<double> race(F&... fs) {
  constexpr size_t k = sizeof...(F);
  int64_t calls = 1;
  {
    auto& first = std::get<0>(std::forward_as_tuple(fs...));
    while (block_seconds(first, calls) * calls < 2e-4) calls *= 2;
  }
  std::vector<std::vector<double>> t(k);
  for (int round = 0; round < 41; ++round) {
    size_t i = 0;
    ((t[i++].push_back(block_seconds(fs, calls))), ...);
  }
  std::vector<double> m;
  for (auto& v : t) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    m.push_back(v[v.size() / 2]);
  }
  return m;
}

struct Buffers {
  double* in;
  double* out;
  explicit Buffers(int64_t doubles) {
    in = fftw_alloc_real(static_cast<size_t>(doubles));
    out = fftw_alloc_real(static_cast<size_t>(doubles));
    for (int64_t i = 0; i < doubles; ++i) in[i] = std::sin(0.37 * static_cast<double>(i));
  }
  ~Buffers() {
    fftw_free(in);
    fftw_free(out);
  }
};

struct Plan {
  tqs::PlanRecord* p = nullptr;
  std::vector<double> work;
  explicit Plan(int64_t n) {
    api().complex_plan_create(&p, n, tqs::SCALE_NONE, 0);
    int64_t size = 0;
    api().complex_plan_work_size(p, &size);
    work.resize(static_cast<size_t>(size / 8 + 8));
  }
  ~Plan() { api().complex_plan_destroy(p); }
};

fftw_plan fftw_batch(int n, int count, Buffers& b) {
  return fftw_plan_many_dft(1, &n, count, reinterpret_cast<fftw_complex*>(b.in), nullptr, 1, n,
                            reinterpret_cast<fftw_complex*>(b.out), nullptr, 1, n, FFTW_FORWARD,
                            FFTW_MEASURE);
}

double geomean(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += std::log(x);
  return v.empty() ? 0 : std::exp(s / static_cast<double>(v.size()));
}

void lengths() {
  std::printf("per-length kernels, level %d (ns per transform)\n", tqs_cpu_level());
  std::printf("%4s %9s %9s %9s %8s %8s\n", "n", "kernel", "plan", "fftw", "k/fftw", "k/plan");
  std::vector<double> vs_fftw, vs_plan;
  for (int n = 17; n < 64; ++n) {
    if ((n & (n - 1)) == 0) continue;
    Buffers b(2 * n);
    Plan plan(n);
    fftw_plan f = fftw_batch(n, 1, b);
    tqs::CplxKernelScaled kernel = api().complex_length_forward[n];
    auto ours = [&] { kernel(b.in, b.out, 1.0); };
    auto general = [&] { api().complex_plan_forward(b.in, b.out, plan.p, plan.work.data()); };
    auto peer = [&] { fftw_execute(f); };
    std::vector<double> t = race(ours, general, peer);
    std::printf("%4d %9.1f %9.1f %9.1f %8.2f %8.2f\n", n, t[0] * 1e9, t[1] * 1e9, t[2] * 1e9,
                t[0] / t[2], t[0] / t[1]);
    vs_fftw.push_back(t[0] / t[2]);
    vs_plan.push_back(t[0] / t[1]);
    fftw_destroy_plan(f);
  }
  std::printf("geometric mean: kernel/fftw %.3f, kernel/plan %.3f\n\n", geomean(vs_fftw),
              geomean(vs_plan));
}

// One descriptor of count transforms of length n (tight, out of place,
// one thread unless threads says otherwise) against the plan in a loop and
// FFTW's batch.
void descriptor_case(int64_t n, int64_t count, int64_t threads) {
  Buffers b(2 * n * count);
  DftiHandle h = nullptr;
  DftiCreateDouble1D(&h, DFTI_COMPLEX, n);
  DftiSet(h, DFTI_PLACEMENT, DFTI_NOT_INPLACE);
  DftiSet(h, DFTI_TRANSFORM_COUNT, count);
  DftiSet(h, DFTI_IN_DISTANCE, n);
  DftiSet(h, DFTI_OUT_DISTANCE, n);
  DftiSet(h, DFTI_MAX_THREADS, threads);
  long status = DftiCommit(h);
  const char* by = status == 0 ? api().committed_strategy_name(reinterpret_cast<tqs::EngineDescriptor*>(h))
                               : "(not committed)";
  Plan plan(n);
  fftw_plan f = fftw_batch(static_cast<int>(n), static_cast<int>(count), b);
  auto ours = [&] { DftiForward(h, b.in, b.out); };
  auto general = [&] {
    for (int64_t t = 0; t < count; ++t)
      api().complex_plan_forward(b.in + 2 * n * t, b.out + 2 * n * t, plan.p, plan.work.data());
  };
  auto peer = [&] { fftw_execute(f); };
  if (status != 0) {
    std::vector<double> t = race(general, peer);
    std::printf("%4lld x %-3lld t%lld %-14s %9s %9.1f %9.1f\n", (long long)n, (long long)count,
                (long long)threads, by, "-", t[0] * 1e9 / count, t[1] * 1e9 / count);
  } else {
    std::vector<double> t = race(ours, general, peer);
    std::printf("%4lld x %-3lld t%lld %-14s %9.1f %9.1f %9.1f %8.2f %8.2f\n", (long long)n,
                (long long)count, (long long)threads, by, t[0] * 1e9 / count, t[1] * 1e9 / count,
                t[2] * 1e9 / count, t[0] / t[2], t[0] / t[1]);
  }
  fftw_destroy_plan(f);
  DftiRelease(&h);
}

void header(const char* what) {
  std::printf("%s, level %d (ns per transform)\n", what, tqs_cpu_level());
  std::printf("%-20s %-14s %9s %9s %9s %8s %8s\n", "case", "strategy", "ours", "plan", "fftw",
              "o/fftw", "o/plan");
}

void fixed() {
  header("fixed lengths");
  for (int64_t n : {96, 168}) {
    for (int64_t count : {1, 2, 63, 64}) descriptor_case(n, count, 1);
    descriptor_case(n, 256, 2);
  }
  std::printf("\n");
}

void direct() {
  header("direct kernels");
  for (int64_t n = 2; n <= 128; n *= 2) descriptor_case(n, 1, 1);
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  bool any = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    any = true;
    if (a == "lengths") lengths();
    if (a == "fixed") fixed();
    if (a == "direct") direct();
  }
  if (!any) {
    lengths();
    fixed();
    direct();
  }
  return 0;
}
