// Message printer (built-in texts, catalog module, overflow report) and the
// version banner.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "probe_runner.h"
#include "service/tqs_service.h"

namespace {

using tqs_test::run_probe;

const std::string VERSION =
    "Tavix(R) Quorvan Version 11.0.1 Product Build 20121016 for Tavix(R) 64 architecture "
    "applications";

TEST(Messages, BuiltInTexts) {
  testing::internal::CaptureStdout();
  tqs_print_message(0, 1213, 1, 7);
  tqs_print_message(0, 0, 0);
  tqs_print_message(0, 766, 0);
  tqs_print_message(0, 771, 0);
  tqs_print_message(0, 6, 2, 3, "DftiSet");
  tqs_print_message(0, 10, 0);
  tqs_print_message(0, 500, 0);  // a component this library does not have
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "TQS ERROR: CPU 7 is not supported.\n"
            "\n"
            "TQS DFTI ERROR: Descriptor is bad or corrupted\n"
            "TQS DFTI ERROR: Incorrect status\n"
            "TQS ERROR: Parameter 3 was incorrect on entry to DftiSet.\n" +
                std::string(79, '-') + "\n\n");
}

TEST(Messages, FormattedTextIsPrintedAsAFormat) {
  testing::internal::CaptureStdout();
  tqs_print_message(0, 8, 1, "a 100%% b");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "TQS INTERNAL ERROR: Not enough work memory in function a 100% b.\n");
}

// The overflow report starts when the formatted length minus one exceeds 512.
TEST(Messages, OverflowEndsTheProcessWithCode8) {
  TQS_CHILD_CHECKS_ONLY_ONCE();
  const std::string prefix = "TQS ERROR: Parameter 1 was incorrect on entry to ";
  auto run = [&](size_t total_length) {
    std::string name(total_length - prefix.size() - 1, 'x');
    return run_probe({"message", "6", "1", name}, {});
  };
  auto fits = run(513);
  EXPECT_EQ(fits.exit_code, 0);
  // Longer than the 512-byte area: cut, never written past it.
  EXPECT_EQ(fits.output, (prefix + std::string(511 - prefix.size(), 'x')) + "\n");

  auto over = run(514);
  EXPECT_EQ(over.exit_code, 8);
  EXPECT_EQ(over.output,
            "\nTQS INTERNAL ERROR: message buffer overflow."
            "\n       Message N 6   Lenght: 513   Buffer size: 512\n");
  auto far_over = run(2000);
  EXPECT_EQ(far_over.exit_code, 8);
  EXPECT_NE(far_over.output.find("Lenght: 1999 "), std::string::npos) << far_over.output;
}

TEST(Messages, CatalogOfTheLocale) {
  TQS_CHILD_CHECKS_ONLY_ONCE();
  std::string root = std::string(TQS_TEST_BINARY_DIR) + "/tests/service/catalog";
  auto r = run_probe({"message", "1213", "5"}, {"LC_ALL=xx_TEST"}, root);
  EXPECT_EQ(r.output, "CATALOG: processor 5 refused\n");
  r = run_probe({"message", "1213", "5"}, {"LANG=xx_TEST"}, root);
  EXPECT_EQ(r.output, "CATALOG: processor 5 refused\n");
  // LC_ALL wins over LANG.
  r = run_probe({"message", "1213", "5"}, {"LC_ALL=yy_NONE", "LANG=xx_TEST"}, root);
  EXPECT_EQ(r.output, "TQS ERROR: CPU 5 is not supported.\n");
  // Texts without a final CR LF, and ids the catalog lacks, keep the built-in text.
  r = run_probe({"message", "761"}, {"LC_ALL=xx_TEST"}, root);
  EXPECT_EQ(r.output, "TQS DFTI SUCCESS: No error\n");
  r = run_probe({"message", "762"}, {"LC_ALL=xx_TEST"}, root);
  EXPECT_EQ(r.output, "TQS DFTI ERROR: Not enough memory to allocate\n");
  r = run_probe({"message", "764"}, {"LC_ALL=xx_TEST"}, root);
  EXPECT_EQ(r.output, "TQS DFTI ERROR: Inconsistent configuration parameters\n");
  r = run_probe({"message", "763"}, {"LC_ALL=xx_TEST"}, root);
  EXPECT_EQ(r.output, "CATALOG: 100% sure\n");
  // Without a locale the "C" folder is tried, which does not exist here.
  r = run_probe({"message", "1213", "5"}, {}, root);
  EXPECT_EQ(r.output, "TQS ERROR: CPU 5 is not supported.\n");
  // A locale value that would leave the folder is not followed.
  r = run_probe({"message", "1213", "5"}, {"LC_ALL=../catalog/xx_TEST"}, root + "/xx_TEST");
  EXPECT_EQ(r.output, "TQS ERROR: CPU 5 is not supported.\n");
}

TEST(Version, FullTextAndZeroFill) {
  ASSERT_EQ(VERSION.size(), 96u);
  char buffer[198];
  memset(buffer, 0x55, sizeof buffer);
  tqs_version_text(buffer, 198);
  EXPECT_EQ(std::string(buffer), VERSION);
  for (int i = 96; i < 198; ++i) ASSERT_EQ(buffer[i], 0) << i;

  memset(buffer, 0x55, sizeof buffer);
  tqs_version_text(buffer, 97);
  EXPECT_EQ(std::string(buffer), VERSION);
  EXPECT_EQ(buffer[97], 0x55);
}

TEST(Version, CutToCapacity) {
  char buffer[32];
  memset(buffer, 0x55, sizeof buffer);
  tqs_version_text(buffer, 10);
  EXPECT_EQ(std::string(buffer), VERSION.substr(0, 9));
  EXPECT_EQ(buffer[10], 0x55);

  char exact[96];
  tqs_version_text(exact, 96);
  EXPECT_EQ(std::string(exact), VERSION.substr(0, 95));

  memset(buffer, 0x55, sizeof buffer);
  tqs_version_text(buffer, 1);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[1], 0x55);
  tqs_version_text(buffer, 0);
  EXPECT_EQ(buffer[1], 0x55);
}

}  // namespace
