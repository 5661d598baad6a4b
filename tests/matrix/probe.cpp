// Runs checked in-place square transpositions in a process of its own, so
// that tests can choose the thread settings (read once per process).
//   tqs_matrix_probe N:LDA:OFFSET:ALPHA_RE ...
// prints one line per case: team (threads of the domain "all"), the path the
// unscaled transposition took, and whether the result was right.
#include <cstdio>
#include <cstdlib>

#include "matrix_harness.h"
#include "service/tqs_service.h"

int main(int argc, char** argv) {
  const tqs::LevelApi* api = tqs::level_apis[tqs_cpu_level()];
  for (int i = 1; i < argc; ++i) {
    unsigned long long n = 0, lda = 0, offset = 0;
    double alpha = 0.0;
    if (std::sscanf(argv[i], "%llu:%llu:%llu:%lf", &n, &lda, &offset, &alpha) != 4) {
      std::printf("bad case %s\n", argv[i]);
      return 2;
    }
    matrix_test::SquareOutcome r = matrix_test::square_case(api, n, lda, offset, alpha, 0.0);
    std::printf("case=%s team=%d path=%s ok=%d %s\n", argv[i], tqs_domain_get_max_threads(0),
                r.parallel ? "parallel" : "serial", r.ok ? 1 : 0, r.detail.c_str());
  }
  return 0;
}
