// Runs the service probe in a child process with an explicit environment
// (nothing is inherited) and collects its standard output and exit code.
#pragma once
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace tqs_test {

struct ProbeResult {
  int exit_code = -1;
  std::string output;
};

// Child-process checks do not depend on the processor level the test binary
// runs with, so they run in its level-0 (or unforced) instance only.
inline bool child_checks_here() {
  const char* level = getenv("TQS_DEBUG_CPU_TYPE");
  return level == nullptr || std::string(level) == "0";
}
#define TQS_CHILD_CHECKS_ONLY_ONCE()                                            \
  do {                                                                          \
    if (!tqs_test::child_checks_here()) GTEST_SKIP() << "runs at level 0 only"; \
  } while (0)

inline std::string probe_path() {
  return std::string(TQS_TEST_BINARY_DIR) + "/tests/service/tqs_service_probe";
}

inline ProbeResult run_probe(const std::vector<std::string>& args,
                             const std::vector<std::string>& environment,
                             const std::string& directory = "") {
  std::string program = probe_path();
  std::vector<char*> argv;
  argv.push_back(program.data());
  std::vector<std::string> arg_copy(args);
  for (std::string& a : arg_copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_copy(environment);
  // Sanitizer settings travel with the child; the thread sanitizer's pause
  // at exit (it waits for the OpenMP workers) is dropped.
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* v = getenv(name)) env_copy.push_back(std::string(name) + "=" + v);
  }
  const char* tsan = getenv("TSAN_OPTIONS");
  env_copy.push_back(std::string("TSAN_OPTIONS=") + (tsan != nullptr ? tsan : "") +
                     (tsan != nullptr && *tsan != '\0' ? ":" : "") + "atexit_sleep_ms=0");
  std::vector<char*> envp;
  for (std::string& e : env_copy) envp.push_back(e.data());
  envp.push_back(nullptr);

  ProbeResult result;
  int fds[2];
  if (pipe(fds) != 0) return result;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    if (!directory.empty() && chdir(directory.c_str()) != 0) _exit(126);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(fds[1]);
  char buffer[4096];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0) result.output.append(buffer, n);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// The value after "key=" in the probe's output, up to the next blank or line end.
inline std::string field(const std::string& output, const std::string& key) {
  std::string marker = key + "=";
  size_t at = 0;
  while ((at = output.find(marker, at)) != std::string::npos) {
    if (at == 0 || output[at - 1] == ' ' || output[at - 1] == '\n') {
      size_t start = at + marker.size();
      size_t end = output.find_first_of(" \n", start);
      return output.substr(start, end - start);
    }
    at += marker.size();
  }
  return "<missing " + key + ">";
}

}  // namespace tqs_test
