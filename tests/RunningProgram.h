// Runs the built program in a folder of its own, as a user would, and watches what it
// writes. The program keeps its files beside its executable, so each run gets a copy.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace driftpost::testing {

class RunningProgram {
 public:
  // Copies the program into `folder` (unless a copy is there already, which may be running)
  // and starts it there, in that folder as its current one, without a display and with the
  // given command-line arguments.
  explicit RunningProgram(const std::string& folder, std::vector<std::string> extraEnvironment = {},
                          const std::vector<std::string>& arguments = {}) {
    executable_ = folder + "/driftpost";
    if (!std::filesystem::exists(executable_))
      std::filesystem::copy_file(std::string(DRIFTPOST_BINARY_DIR) + "/driftpost", executable_);
    std::vector<char*> argv{executable_.data()};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(pipeFds[1], 1);
      ::dup2(pipeFds[1], 2);
      ::close(pipeFds[0]);
      ::close(pipeFds[1]);
      ::unsetenv("DISPLAY");
      ::unsetenv("WAYLAND_DISPLAY");
      ::unsetenv("QT_QPA_PLATFORM");
      for (const std::string& assignment : extraEnvironment) ::putenv(const_cast<char*>(assignment.c_str()));
      if (::chdir(folder.c_str()) != 0) ::_exit(127);
      ::execv(executable_.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(pipeFds[1]);
    output_fd_ = pipeFds[0];
  }

  ~RunningProgram() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (output_fd_ >= 0) ::close(output_fd_);
  }

  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  // Reads the program's output until it contains `text`; false on timeout or end of output.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (output_.find(text) == std::string::npos) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !ReadSome(static_cast<int>(left.count()))) return false;
    }
    return true;
  }

  void Signal(int signal) { ::kill(pid_, signal); }

  // Waits for the program to end; returns its exit status, or -1 for a timeout or a signal.
  int WaitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      int status = 0;
      pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        exited_ = true;
        while (ReadSome(0)) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      if (std::chrono::steady_clock::now() > deadline) return -1;
      ReadSome(20);
    }
  }

  const std::string& Output() const { return output_; }
  pid_t Pid() const { return pid_; }

 private:
  bool ReadSome(int timeoutMs) {
    struct pollfd fd = {output_fd_, POLLIN, 0};
    if (::poll(&fd, 1, timeoutMs) <= 0) return false;
    char buffer[4096];
    ssize_t got = ::read(output_fd_, buffer, sizeof buffer);
    if (got <= 0) return false;
    output_.append(buffer, static_cast<std::size_t>(got));
    return true;
  }

  std::string executable_;
  pid_t pid_ = -1;
  int output_fd_ = -1;
  bool exited_ = false;
  std::string output_;
};

}  // namespace driftpost::testing
