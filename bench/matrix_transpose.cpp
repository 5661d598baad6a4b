// Transposition speed: the out-of-place copies (complex and real, unit and
// general scale) and the in-place square transposition of large matrices,
// against a plain loop and FFTW's rank-0 transposition plans, in one process
// on the same 64-byte aligned buffers, timed in alternating rounds (medians).
// Usage: TQS_DEBUG_CPU_TYPE=5 [TQS_NUM_THREADS=1] matrix_transpose [rounds] [kind]
// kind: complex, real or square (default: all three). The in-place square
// transposition uses the team of the domain "all"; the others run on one
// thread. Each row shows the median and the fastest round.
#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "engine/level_api.h"
#include "service/tqs_service.h"

namespace {

double* aligned(size_t doubles) {
  return static_cast<double*>(fftw_malloc(doubles * sizeof(double)));
}

struct Contender {
  std::string name;
  std::function<void()> run;
  std::vector<double> seconds;
};

// Alternates the contenders round by round, so that a disturbance of the
// machine hits them alike; answers the median of each.
void time_all(std::vector<Contender>& cs, int rounds) {
  for (Contender& c : cs) c.run();  // warm-up: pages touched, caches primed
  for (int r = 0; r < rounds; ++r) {
    for (Contender& c : cs) {
      auto t0 = std::chrono::steady_clock::now();
      c.run();
      auto t1 = std::chrono::steady_clock::now();
      c.seconds.push_back(std::chrono::duration<double>(t1 - t0).count());
    }
  }
  for (Contender& c : cs) std::sort(c.seconds.begin(), c.seconds.end());
}

void report(const char* title, double bytes_moved, std::vector<Contender>& cs) {
  const double base = cs.back().seconds[cs.back().seconds.size() / 2];
  std::printf("%s\n", title);
  for (Contender& c : cs) {
    const double t = c.seconds[c.seconds.size() / 2];
    std::printf("  %-12s %9.3f ms (fastest %8.3f)  %6.2f GB/s  %5.2fx the plain loop\n",
                c.name.c_str(), t * 1e3, c.seconds[0] * 1e3, bytes_moved / t * 1e-9, base / t);
  }
}

void fill(double* p, size_t count) {
  for (size_t k = 0; k < count; ++k) p[k] = double(k % 1013) * 0.5 - 17.0;
}

// Out of place, complex: B (cols x rows) := alpha A^T.
void complex_case(const tqs::LevelApi* api, uint64_t rows, uint64_t cols, double ar, double ai,
                  int rounds) {
  const size_t count = 2 * rows * cols;
  double* a = aligned(count);
  double* b = aligned(count);
  // FFTW's rank-0 plan with a two-dimensional loop is its transposition.
  fftw_iodim dims[2] = {{int(rows), int(cols), 1}, {int(cols), 1, int(rows)}};
  fftw_plan plan =
      fftw_plan_guru_dft(0, nullptr, 2, dims, reinterpret_cast<fftw_complex*>(a),
                         reinterpret_cast<fftw_complex*>(b), FFTW_FORWARD, FFTW_MEASURE);
  fill(a, count);
  std::vector<Contender> cs;
  cs.push_back({"ours",
                [&] { api->complex_matrix_copy('R', 'T', rows, cols, ar, ai, a, cols, b, rows); },
                {}});
  const bool unit = ar == 1.0 && ai == 0.0;
  if (unit && plan != nullptr) cs.push_back({"FFTW rank-0", [&] { fftw_execute(plan); }, {}});
  cs.push_back({"plain loop",
                [&] {
                  for (uint64_t i = 0; i < rows; ++i) {
                    for (uint64_t j = 0; j < cols; ++j) {
                      const double xr = a[2 * (i * cols + j)], xi = a[2 * (i * cols + j) + 1];
                      b[2 * (j * rows + i)] = unit ? xr : ar * xr - ai * xi;
                      b[2 * (j * rows + i) + 1] = unit ? xi : ar * xi + ai * xr;
                    }
                  }
                },
                {}});
  time_all(cs, rounds);
  char title[160];
  std::snprintf(title, sizeof title, "complex %llu x %llu out of place, alpha (%g, %g)",
                (unsigned long long)rows, (unsigned long long)cols, ar, ai);
  report(title, 2.0 * count * sizeof(double), cs);
  if (plan != nullptr) fftw_destroy_plan(plan);
  fftw_free(a);
  fftw_free(b);
}

void real_case(const tqs::LevelApi* api, uint64_t rows, uint64_t cols, int rounds) {
  const size_t count = rows * cols;
  double* a = aligned(count);
  double* b = aligned(count);
  fftw_iodim dims[2] = {{int(rows), int(cols), 1}, {int(cols), 1, int(rows)}};
  fftw_plan plan = fftw_plan_guru_r2r(0, nullptr, 2, dims, a, b, nullptr, FFTW_MEASURE);
  fill(a, count);
  std::vector<Contender> cs;
  cs.push_back(
      {"ours", [&] { api->real_matrix_copy('R', 'T', rows, cols, 1.0, a, cols, b, rows); }, {}});
  if (plan != nullptr) cs.push_back({"FFTW rank-0", [&] { fftw_execute(plan); }, {}});
  cs.push_back({"plain loop",
                [&] {
                  for (uint64_t i = 0; i < rows; ++i) {
                    for (uint64_t j = 0; j < cols; ++j) b[j * rows + i] = a[i * cols + j];
                  }
                },
                {}});
  time_all(cs, rounds);
  char title[160];
  std::snprintf(title, sizeof title, "real %llu x %llu out of place, alpha 1",
                (unsigned long long)rows, (unsigned long long)cols);
  report(title, 2.0 * count * sizeof(double), cs);
  if (plan != nullptr) fftw_destroy_plan(plan);
  fftw_free(a);
  fftw_free(b);
}

// In place, square, unscaled: each run transposes the previous result again.
void square_case(const tqs::LevelApi* api, uint64_t n, int rounds) {
  const size_t count = 2 * n * n;
  double* a = aligned(count);
  fftw_iodim dims[2] = {{int(n), int(n), 1}, {int(n), 1, int(n)}};
  fftw_plan plan =
      fftw_plan_guru_dft(0, nullptr, 2, dims, reinterpret_cast<fftw_complex*>(a),
                         reinterpret_cast<fftw_complex*>(a), FFTW_FORWARD, FFTW_MEASURE);
  fill(a, count);
  const double one[2] = {1.0, 0.0};
  std::vector<Contender> cs;
  cs.push_back({"ours", [&] { api->square_transpose(n, one, a, n); }, {}});
  if (plan != nullptr) cs.push_back({"FFTW rank-0", [&] { fftw_execute(plan); }, {}});
  cs.push_back({"plain loop",
                [&] {
                  for (uint64_t r = 0; r < n; ++r) {
                    for (uint64_t c = 0; c < r; ++c) {
                      double* x = a + 2 * (r * n + c);
                      double* y = a + 2 * (c * n + r);
                      std::swap(x[0], y[0]);
                      std::swap(x[1], y[1]);
                    }
                  }
                },
                {}});
  time_all(cs, rounds);
  char title[160];
  std::snprintf(title, sizeof title, "complex %llu x %llu in place, alpha 1 (team %d)",
                (unsigned long long)n, (unsigned long long)n, tqs_domain_get_max_threads(0));
  report(title, 2.0 * count * sizeof(double), cs);
  if (plan != nullptr) fftw_destroy_plan(plan);
  fftw_free(a);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 15;
  const std::string kind = argc > 2 ? argv[2] : "all";
  const tqs::LevelApi* api = tqs::level_apis[tqs_cpu_level()];
  std::printf("level %d (code of level %d), %d rounds\n", tqs_cpu_level(), api->level, rounds);
  if (kind == "all" || kind == "complex") {
    complex_case(api, 1024, 1024, 1.0, 0.0, rounds);
    complex_case(api, 2048, 1000, 1.0, 0.0, rounds);
    complex_case(api, 1000, 2048, 1.0, 0.0, rounds);
    complex_case(api, 2048, 1000, 0.5, -0.25, rounds);
  }
  if (kind == "all" || kind == "real") {
    real_case(api, 2048, 1000, rounds);
    real_case(api, 4096, 4096, rounds);
  }
  if (kind == "all" || kind == "square") {
    square_case(api, 1024, rounds);
    square_case(api, 2048, rounds);
  }
  return 0;
}
