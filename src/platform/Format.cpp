#include "platform/Format.h"

#include <cstdio>

namespace driftpost {

std::string FormatArg::AsText() const {
  if (const auto* text = std::get_if<std::string>(&value_)) return *text;
  return IntToStr(std::get<long long>(value_));
}

long long FormatArg::AsNumber() const {
  if (const auto* number = std::get_if<long long>(&value_)) return *number;
  return 0;
}

std::string IntToStr(long long value) { return std::to_string(value); }

std::string Format(const std::string& pattern, std::initializer_list<FormatArg> args) {
  std::string out;
  out.reserve(pattern.size() + 32);
  auto next = args.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    if (c != '%' || i + 1 >= pattern.size()) {
      out += c;
      continue;
    }
    std::size_t j = i + 1;
    if (pattern[j] == '%') {
      out += '%';
      i = j;
      continue;
    }
    // Optional precision or zero-padded width, as in "%.4x" or "%04x".
    bool precision = false;
    if (pattern[j] == '.') {
      precision = true;
      ++j;
    }
    int width = 0;
    while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9' && width < 100) {
      width = width * 10 + (pattern[j] - '0');
      ++j;
    }
    (void)precision;
    if (j >= pattern.size()) {
      out.append(pattern, i, std::string::npos);
      break;
    }
    char kind = pattern[j];
    if (kind != 's' && kind != 'd' && kind != 'u' && kind != 'x' && kind != 'X') {
      out.append(pattern, i, j - i + 1);
      i = j;
      continue;
    }
    std::string piece;
    if (next != args.end()) {
      const FormatArg& arg = *next++;
      if (kind == 's') {
        piece = arg.AsText();
      } else if (kind == 'x' || kind == 'X') {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, kind == 'x' ? "%llx" : "%llX",
                      static_cast<unsigned long long>(arg.AsNumber()));
        piece = buffer;
      } else {
        piece = IntToStr(arg.AsNumber());
      }
    }
    if (kind != 's' && static_cast<int>(piece.size()) < width) {
      bool negative = !piece.empty() && piece[0] == '-';
      std::string digits = negative ? piece.substr(1) : piece;
      digits.insert(0, static_cast<std::size_t>(width) - piece.size(), '0');
      piece = negative ? "-" + digits : digits;
    }
    out += piece;
    i = j;
  }
  return out;
}

}  // namespace driftpost
