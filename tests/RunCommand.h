// Running a command through the shell, as the tests that drive independent tools do.
#pragma once

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace driftpost::testing {

// Runs a command through the shell; its exit status, with what it printed (standard output
// and standard error) appended to `output`.
inline int RunCommand(const std::string& command, std::string& output) {
  std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  for (std::size_t got; pipe && (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
  const int status = pipe ? ::pclose(pipe) : -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace driftpost::testing
