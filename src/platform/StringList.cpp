#include "platform/StringList.h"

#include "platform/Exception.h"

namespace driftpost {

const std::string& TStringList::operator[](int index) const {
  if (index < 0 || index >= Count()) throw EListError::IndexOutOfBounds(index);
  return items_[static_cast<std::size_t>(index)];
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count()) throw EListError::IndexOutOfBounds(index);
  items_.erase(items_.begin() + index);
}

int TStringList::IndexOf(const std::string& text) const {
  for (int i = 0; i < Count(); ++i)
    if (items_[static_cast<std::size_t>(i)] == text) return i;
  return -1;
}

std::string TStringList::Text() const {
  std::string text;
  for (const std::string& line : items_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TStringList::SetText(const std::string& text) {
  items_.clear();
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      items_.push_back(text.substr(start, i - start));
      ++i;
      if (c == '\r' && i < text.size() && text[i] == '\n') ++i;
      start = i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) items_.push_back(text.substr(start));
}

}  // namespace driftpost
