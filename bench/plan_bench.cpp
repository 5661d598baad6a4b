// One-dimensional plan execution against FFTW 3 (FFTW_MEASURE, one thread),
// in the same process, the two timed in alternation. Prints the median time
// per forward transform and the ratio ours/FFTW, complex and real, at the
// processor level chosen by TQS_DEBUG_CPU_TYPE, and the geometric mean of
// the ratios. Powers of two run the power-of-two plans directly; other
// lengths run the general plans. Batches are timed in thread CPU time, so
// that time slices lost to other processes on a shared machine do not count
// (cache interference from them still does; the medians absorb most of it).
//
// Usage: plan_bench [seconds per length] [lengths...]
// TQS_BENCH_WISDOM=file keeps FFTW's measurements between runs.
#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "engine/level_api.h"
#include "service/tqs_service.h"

namespace {

using Clock = std::chrono::steady_clock;

double cpu_now() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

bool is_pow2(int64_t n) { return n > 0 && (n & (n - 1)) == 0; }
int log2_of(int64_t n) {
  int l = 0;
  while ((int64_t(1) << l) < n) ++l;
  return l;
}

// Ours: one forward transform, returns false when no plan could be made.
struct Ours {
  const tqs::LevelApi* api = nullptr;
  bool real = false;
  bool pow2 = false;
  void* p2 = nullptr;
  tqs::PlanRecord* rec = nullptr;
  double* work = nullptr;

  bool make(int64_t n, bool is_real) {
    real = is_real;
    pow2 = is_pow2(n);
    int64_t ws = 0;
    if (pow2) {
      const tqs::Pow2Api& a = *api->pow2;
      if ((real ? a.real_create : a.complex_create)(&p2, log2_of(n), tqs::SCALE_NONE, 0) != 0)
        return false;
      a.work_size(p2, &ws);
    } else {
      if ((real ? api->real_plan_create : api->complex_plan_create)(&rec, n, tqs::SCALE_NONE, 0) !=
              0 ||
          rec == nullptr)
        return false;
      (real ? api->real_plan_work_size : api->complex_plan_work_size)(rec, &ws);
    }
    if (ws > 0) work = static_cast<double*>(tqs_mm_allocate(uint64_t(ws) + 64, 64));
    return true;
  }
  int run(const double* in, double* out) const {
    if (pow2)
      return (real ? api->pow2->real_forward : api->pow2->complex_forward)(in, out, p2, work);
    return (real ? api->real_plan_forward : api->complex_plan_forward)(in, out, rec, work);
  }
  ~Ours() {
    if (p2 != nullptr) api->pow2->destroy(p2);
    if (rec != nullptr) (real ? api->real_plan_destroy : api->complex_plan_destroy)(rec);
    if (work != nullptr) tqs_mm_free(work);
  }
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Median seconds per transform of ours and of FFTW, timed in alternation.
bool measure(int64_t n, bool real, const tqs::LevelApi* api, double budget, double* t_ours,
             double* t_fftw) {
  const int64_t doubles = real ? n + 2 : 2 * n;
  double* in = fftw_alloc_real(size_t(2 * n + 2));
  double* out = fftw_alloc_real(size_t(2 * n + 2));
  double* fin = fftw_alloc_real(size_t(2 * n + 2));
  double* fout = fftw_alloc_real(size_t(2 * n + 2));
  fftw_plan fp = real ? fftw_plan_dft_r2c_1d(int(n), fin, reinterpret_cast<fftw_complex*>(fout),
                                             FFTW_MEASURE)
                      : fftw_plan_dft_1d(int(n), reinterpret_cast<fftw_complex*>(fin),
                                         reinterpret_cast<fftw_complex*>(fout), FFTW_FORWARD,
                                         FFTW_MEASURE);
  for (int64_t i = 0; i < doubles; ++i) in[i] = fin[i] = std::sin(0.37 * double(i)) + 0.1;
  Ours ours;
  ours.api = api;
  bool ok = ours.make(n, real) && ours.run(in, out) == 0;
  // Batch size: about 2 ms per batch.
  int reps = 1;
  {
    double t0 = cpu_now();
    fftw_execute(fp);
    double one = cpu_now() - t0;
    reps = std::max(1, int(2e-3 / std::max(one, 1e-9)));
  }
  std::vector<double> a, b;
  auto start = Clock::now();
  for (int round = 0; round < 200; ++round) {
    if (ok) {
      double t0 = cpu_now();
      for (int r = 0; r < reps; ++r) ours.run(in, out);
      a.push_back((cpu_now() - t0) / reps);
    }
    double t1 = cpu_now();
    for (int r = 0; r < reps; ++r) fftw_execute(fp);
    b.push_back((cpu_now() - t1) / reps);
    if (round >= 4 && std::chrono::duration<double>(Clock::now() - start).count() > budget) break;
  }
  *t_ours = ok ? median(a) : 0.0;
  *t_fftw = median(b);
  fftw_destroy_plan(fp);
  fftw_free(in);
  fftw_free(out);
  fftw_free(fin);
  fftw_free(fout);
  return ok;
}

std::string fmt_time(double s) {
  char buf[32];
  if (s < 1e-6)
    std::snprintf(buf, sizeof buf, "%7.1f ns", s * 1e9);
  else if (s < 1e-3)
    std::snprintf(buf, sizeof buf, "%7.2f us", s * 1e6);
  else
    std::snprintf(buf, sizeof buf, "%7.2f ms", s * 1e3);
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  double budget = argc > 1 ? std::atof(argv[1]) : 0.3;
  std::vector<int64_t> lengths;
  for (int i = 2; i < argc; ++i) lengths.push_back(std::atoll(argv[i]));
  if (lengths.empty())
    lengths = {16,     64,      256,     1024, 4096, 16384, 65536, 262144, 1 << 20, 1 << 22,
               6,      12,      96,      100,  168,  1000,  3000,  10000,  100000,  97,
               4099};
  const char* wisdom = std::getenv("TQS_BENCH_WISDOM");
  if (wisdom != nullptr) fftw_import_wisdom_from_filename(wisdom);
  const int level = tqs_cpu_level();
  const tqs::LevelApi* api = tqs::level_apis[level];
  std::printf("processor level %d (code of level %d), %.2f s per length and kind\n", level,
              api->level, budget);
  std::printf("%9s | %11s %11s %6s | %11s %11s %6s\n", "n", "complex", "fftw", "ratio", "real",
              "fftw", "ratio");
  {
    // Warm-up (page faults, clock ramp) outside the table.
    double a = 0, b = 0;
    measure(1024, false, api, 0.2, &a, &b);
  }
  double log_sum[2] = {0, 0};
  int count[2] = {0, 0};
  for (int64_t n : lengths) {
    std::string cells[2];
    for (int kind = 0; kind < 2; ++kind) {
      double to = 0, tf = 0;
      bool ok = measure(n, kind == 1, api, budget, &to, &tf);
      char buf[96];
      if (ok) {
        double ratio = to / tf;
        log_sum[kind] += std::log(ratio);
        ++count[kind];
        std::snprintf(buf, sizeof buf, "%s %s %6.2f", fmt_time(to).c_str(), fmt_time(tf).c_str(),
                      ratio);
      } else {
        std::snprintf(buf, sizeof buf, "%11s %s %6s", "n/a", fmt_time(tf).c_str(), "n/a");
      }
      cells[kind] = buf;
    }
    std::printf("%9lld | %s | %s\n", static_cast<long long>(n), cells[0].c_str(), cells[1].c_str());
    std::fflush(stdout);
  }
  std::printf("geometric mean ratio: complex %.3f (%d lengths), real %.3f (%d lengths)\n",
              count[0] ? std::exp(log_sum[0] / count[0]) : 0.0, count[0],
              count[1] ? std::exp(log_sum[1] / count[1]) : 0.0, count[1]);
  if (wisdom != nullptr) fftw_export_wisdom_to_filename(wisdom);
  return 0;
}
