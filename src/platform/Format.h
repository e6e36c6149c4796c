// Message formatting in the style of the program's message templates: "%s" takes a text,
// "%d" and "%u" a decimal number, "%x" a hexadecimal one (an optional width with a leading
// zero, as in "%.4x" or "%04x", pads it), "%%" is a percent sign. Arguments are consumed in
// order; a missing argument formats as nothing, so a bad template never reads past the list.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <variant>

namespace driftpost {

class FormatArg {
 public:
  FormatArg(const std::string& text) : value_(text) {}
  FormatArg(const char* text) : value_(std::string(text ? text : "")) {}
  FormatArg(int number) : value_(static_cast<long long>(number)) {}
  FormatArg(long number) : value_(static_cast<long long>(number)) {}
  FormatArg(long long number) : value_(number) {}
  FormatArg(unsigned number) : value_(static_cast<long long>(number)) {}
  FormatArg(unsigned long number) : value_(static_cast<long long>(number)) {}
  FormatArg(unsigned long long number) : value_(static_cast<long long>(number)) {}

  std::string AsText() const;
  long long AsNumber() const;

 private:
  std::variant<std::string, long long> value_;
};

std::string Format(const std::string& pattern, std::initializer_list<FormatArg> args);

// Decimal text of an integer, as the program writes numbers into logs, pages and headers.
std::string IntToStr(long long value);

}  // namespace driftpost
