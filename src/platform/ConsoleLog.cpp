#include "platform/ConsoleLog.h"

#include "platform/TextUtils.h"

namespace driftpost {

void TConsoleLog::LogLine(const std::string& rawText) {
  // Lines carry request paths and header lines as the network sent them: a terminal must
  // see their control characters as text, never obey them.
  const std::string text = EscapeControlCharacters(rawText);
  while (Count() > MaxLines - 1) lines_.pop_front();
  lines_.push_back(text);
  if (echo_) {
    std::fwrite(text.data(), 1, text.size(), echo_);
    std::fputc('\n', echo_);
    std::fflush(echo_);
  }
  if (OnChange) OnChange();
}

void TConsoleLog::Clear() {
  lines_.clear();
  if (OnChange) OnChange();
}

}  // namespace driftpost
