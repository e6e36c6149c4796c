// The console log: the lines that record the server's work. It keeps at most 201 lines,
// dropping the oldest first, writes every line to standard output as well, so a run without
// a display still shows what the server does, and tells an observer (the console window)
// after each change. Control characters in a line (a request path, a header line) are kept
// as "\xNN" text, so that neither the terminal nor the window obeys them.
#pragma once

#include <cstdio>
#include <deque>
#include <functional>
#include <string>

namespace driftpost {

class TConsoleLog {
 public:
  static constexpr int MaxLines = 201;

  explicit TConsoleLog(std::FILE* echo = stdout) : echo_(echo) {}

  void LogLine(const std::string& rawText);
  void Clear();

  int Count() const { return static_cast<int>(lines_.size()); }
  const std::deque<std::string>& Lines() const { return lines_; }
  void SetEcho(std::FILE* echo) { echo_ = echo; }

  // Fired after every change; the view shows the last line.
  std::function<void()> OnChange;

 private:
  std::deque<std::string> lines_;
  std::FILE* echo_;
};

}  // namespace driftpost
