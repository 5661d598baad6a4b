// In-place square transposition A := alpha A^T: every size around the 4 x 4
// blocks and the 64 x 64 threshold, padded rows, misaligned bases, scaled and
// unscaled; and, in child processes with chosen team sizes, which path the
// unscaled transposition takes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "matrix_harness.h"
#include "service/tqs_service.h"
#include "support/process.h"

namespace {

using matrix_test::square_case;
using matrix_test::SquareOutcome;

const tqs::LevelApi* api() { return tqs::level_apis[tqs_cpu_level()]; }

const uint64_t kSizes[] = {0,  1,  2,  3,  4,  5,  7,  8,   16,  17,  31,
                           63, 64, 65, 66, 68, 72, 96, 100, 128, 131, 200};

TEST(SquareTranspose, MatchesPlainLoopForEverySizePaddingAndScale) {
  const double alphas[][2] = {{1.0, 0.0}, {2.0, 0.0}, {0.5, -1.5}};
  for (uint64_t n : kSizes) {
    for (uint64_t pad : {0, 4, 3}) {
      for (uint64_t offset : {0, 2}) {
        for (const auto& alpha : alphas) {
          SquareOutcome r = square_case(api(), n, n + pad, offset, alpha[0], alpha[1]);
          ASSERT_TRUE(r.ok) << "n " << n << " lda " << n + pad << " offset " << offset << " alpha "
                            << alpha[0] << "," << alpha[1] << ": " << r.detail;
        }
      }
    }
  }
}

struct ChildLine {
  std::string team, path, ok, text;
};

// Runs the probe with the given thread environment and the parent's
// processor level; one line per case.
std::vector<ChildLine> run_child(const std::vector<std::string>& env,
                                 const std::vector<std::string>& cases) {
  std::vector<std::string> full(env);
  for (const char* name : {"TQS_DEBUG_CPU_TYPE"}) {
    if (const char* value = std::getenv(name)) full.push_back(std::string(name) + "=" + value);
  }
  tqs_test::ProcessResult r = tqs_test::run_process(
      std::string(TQS_TEST_BINARY_DIR) + "/tests/matrix/tqs_matrix_probe", cases, full);
  EXPECT_EQ(0, r.exit_code) << r.output;
  auto field = [](const std::string& line, const std::string& key) {
    size_t at = line.find(" " + key + "=");
    if (at == std::string::npos) return std::string("?");
    at += key.size() + 2;
    return line.substr(at, line.find(' ', at) - at);
  };
  std::vector<ChildLine> lines;
  size_t start = 0, end;
  while ((end = r.output.find('\n', start)) != std::string::npos) {
    std::string line = r.output.substr(start, end - start);
    lines.push_back({field(line, "team"), field(line, "path"), field(line, "ok"), line});
    start = end + 1;
  }
  EXPECT_EQ(cases.size(), lines.size()) << r.output;
  return lines;
}

// Teams of 1 to 5 (dynamic adjustment off, so the count is used as given):
// n = 68 has 17 block rows (only a team of 1 divides them), n = 80 has 20
// (not 3), n = 100 has 25 (1 and 5), n = 240 has 60 (all of them). Whatever
// the team, the element loop does 64 x 64, a scale other than 1, a base 16
// or 32 bytes off a cache line, and a row stride or size not a multiple of 4.
TEST(SquareTranspose, TeamSizesFromTheEnvironment) {
  const std::vector<std::string> cases = {
      "68:68:0:1",   "80:80:0:1",   "100:100:0:1", "240:240:0:1", "240:252:0:1", "64:64:0:1",
      "240:240:0:2", "240:240:2:1", "240:240:4:1", "240:242:0:1", "242:244:0:1"};
  for (int team = 1; team <= 5; ++team) {
    const bool block_path[] = {team == 1, team != 3, team == 1 || team == 5, true, true};
    std::vector<ChildLine> lines =
        run_child({"TQS_NUM_THREADS=" + std::to_string(team), "TQS_DYNAMIC=FALSE"}, cases);
    for (size_t i = 0; i < lines.size() && i < cases.size(); ++i) {
      SCOPED_TRACE("team " + std::to_string(team) + ": " + lines[i].text);
      EXPECT_EQ(std::to_string(team), lines[i].team);
      EXPECT_EQ("1", lines[i].ok);
      EXPECT_EQ(i < 5 && block_path[i] ? "parallel" : "serial", lines[i].path);
    }
  }
}

// The team is that of the domain "all", not the transforms' own count.
TEST(SquareTranspose, TeamComesFromTheDomainAll) {
  std::vector<ChildLine> lines =
      run_child({"TQS_DOMAIN_NUM_THREADS=TQS_FFT=4,TQS_ALL=1", "TQS_DYNAMIC=FALSE"}, {"68:68:0:1"});
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ("1", lines[0].ok) << lines[0].text;
  EXPECT_EQ("parallel", lines[0].path) << lines[0].text;
  lines = run_child({"TQS_DOMAIN_NUM_THREADS=TQS_FFT=1,TQS_ALL=4", "TQS_DYNAMIC=FALSE"},
                    {"68:68:0:1", "80:80:0:1"});
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("serial", lines[0].path) << lines[0].text;
  EXPECT_EQ("parallel", lines[1].path) << lines[1].text;
  EXPECT_EQ("1", lines[0].ok);
  EXPECT_EQ("1", lines[1].ok);
}

}  // namespace
