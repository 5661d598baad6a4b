// The example program's whole report, byte for byte except the two measured
// errors, and its exit code.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(RealExample, PrintsTheExpectedReportAndPasses) {
  FILE* pipe = popen(TQS_TEST_BINARY_DIR "/example/basic_dp_real_dft_1d", "r");
  ASSERT_NE(nullptr, pipe);
  std::string out;
  char buffer[512];
  for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
  const int status = pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  ASSERT_FALSE(out.empty());
  ASSERT_EQ('\n', out.back()) << "the report ends with a newline";

  const std::string error_line = "MEASURED ERROR";
  const std::vector<std::string> expected = {
      "Example basic_dp_real_dft_1d",
      "Forward-Backward double-precision real-to-complex out-of-place 1D transform",
      "Configuration parameters:",
      " DFTI_PRECISION                = DFTI_DOUBLE",
      " DFTI_FORWARD_DOMAIN           = DFTI_REAL",
      " DFTI_DIMENSION                = 1",
      " DFTI_LENGTHS                  = {6}",
      " DFTI_PLACEMENT                = DFTI_NOT_INPLACE",
      " DFTI_CONJUGATE_EVEN_STORAGE   = DFTI_COMPLEX_COMPLEX",
      "Create DFTI descriptor",
      "Set configuration: out-of-place",
      "Set configuration: CCE storage",
      "Commit the  descriptor",
      "Allocate data arrays",
      "Initialize data for real-to-complex FFT",
      "Compute forward transform",
      "Verify the result",
      " Check if err is below errthr 1.43e-15",
      error_line,
      "Initialize data for complex-to-real FFT",
      "Compute backward transform",
      "Verify the result",
      " Check if err is below errthr 1.43e-15",
      error_line,
      "Free DFTI descriptor",
      "Free data arrays",
      "TEST PASSED",
  };
  const std::vector<std::string> got = lines_of(out);
  ASSERT_EQ(expected.size() + 1, got.size()) << out;

  // The first line is the version text, whatever the build calls itself.
  EXPECT_FALSE(got[0].empty());
  // The measured error: a "%.3lg" rendering of a value below the threshold.
  auto measured = [](const std::string& line) {
    const std::string prefix = " Verified,  maximum error was ";
    if (line.compare(0, prefix.size(), prefix) != 0) return false;
    const std::string value = line.substr(prefix.size());
    char* end = nullptr;
    const double v = std::strtod(value.c_str(), &end);
    if (end == value.c_str() || *end != '\0' || !(v >= 0.0 && v < 1.4349424430466251e-15)) return false;
    char again[64];
    std::snprintf(again, sizeof again, "%.3lg", v);
    return value == again;
  };
  for (size_t i = 0; i < expected.size(); ++i) {
    if (expected[i] == error_line) {
      EXPECT_TRUE(measured(got[i + 1])) << "line " << i + 2 << ": " << got[i + 1];
    } else {
      EXPECT_EQ(expected[i], got[i + 1]) << "line " << i + 2;
    }
  }
}

}  // namespace
