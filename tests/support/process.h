// Runs a program in a child process with an explicit environment, for the
// settings that are read once per process.
#pragma once
#include <string>
#include <vector>

namespace tqs_test {

struct ProcessResult {
  int exit_code = -1;   // exit status, or 128 + signal number
  std::string output;   // standard output
};

// env entries are "NAME=value"; the child sees exactly these, PATH, and the
// parent's sanitizer settings where env gives none.
ProcessResult run_process(const std::string& path, const std::vector<std::string>& args,
                          const std::vector<std::string>& env);

}  // namespace tqs_test
