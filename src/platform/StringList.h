// An ordered list of texts, as the program keeps header lines, extension lists and log
// lines. Index errors raise EListError with the offending index.
#pragma once

#include <string>
#include <vector>

namespace driftpost {

class TStringList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& operator[](int index) const;
  const std::string& Strings(int index) const { return (*this)[index]; }
  void Add(std::string text) { items_.push_back(std::move(text)); }
  void Delete(int index);
  void Clear() { items_.clear(); }
  int IndexOf(const std::string& text) const;

  // Every line followed by CR LF, the last one included.
  std::string Text() const;
  // Splits into lines: a line ends at CR, LF or CR LF; a final line without an end is still
  // a line, and no empty line follows a final line end.
  void SetText(const std::string& text);

  const std::vector<std::string>& Items() const { return items_; }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<std::string> items_;
};

}  // namespace driftpost
