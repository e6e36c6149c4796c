#include "platform/IniFile.h"

#include "platform/AtomicFile.h"
#include "platform/Exception.h"
#include "platform/Stream.h"
#include "platform/StringList.h"
#include "platform/TextUtils.h"

namespace driftpost {

namespace {

// The section name of a header line "[name]", or false when the line is not a header.
bool ParseHeader(const std::string& line, std::string& name) {
  std::string text = Trim(line);
  if (text.size() < 2 || text.front() != '[') return false;
  std::size_t close = text.find(']');
  if (close == std::string::npos) return false;
  name = Trim(text.substr(1, close - 1));
  return true;
}

// Splits "key=value"; comment lines and lines without '=' are not entries.
bool ParseEntry(const std::string& line, std::string& key, std::string& value) {
  std::string text = Trim(line);
  if (text.empty() || text[0] == ';' || text[0] == '#') return false;
  std::size_t equals = text.find('=');
  if (equals == std::string::npos) return false;
  key = Trim(text.substr(0, equals));
  value = Trim(text.substr(equals + 1));
  // A value written between double quotes is read without them.
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
  return true;
}

}  // namespace

TIniFile::TIniFile(std::string fileName) : fileName_(std::move(fileName)) { Load(); }

void TIniFile::Load() {
  lines_.clear();
  try {
    TStringList list;
    list.SetText(ReadFileToString(fileName_));
    lines_ = list.Items();
  } catch (const Exception&) {
    // A missing or unreadable file reads as empty: every key has its default.
  }
}

int TIniFile::FindSection(const std::string& section) const {
  std::string name;
  for (std::size_t i = 0; i < lines_.size(); ++i)
    if (ParseHeader(lines_[i], name) && SameText(name, section)) return static_cast<int>(i);
  return -1;
}

int TIniFile::FindKey(int header, const std::string& key) const {
  std::string name, value;
  for (std::size_t i = static_cast<std::size_t>(header) + 1; i < lines_.size(); ++i) {
    if (ParseHeader(lines_[i], name)) break;
    if (ParseEntry(lines_[i], name, value) && SameText(name, key)) return static_cast<int>(i);
  }
  return -1;
}

bool TIniFile::SectionExists(const std::string& section) const { return FindSection(section) >= 0; }

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& fallback) const {
  int header = FindSection(section);
  if (header < 0) return fallback;
  int line = FindKey(header, key);
  if (line < 0) return fallback;
  std::string name, value;
  ParseEntry(lines_[static_cast<std::size_t>(line)], name, value);
  return value;
}

std::int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key,
                                   std::int32_t fallback) const {
  return StrToIntDef(ReadString(section, key, ""), fallback);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool fallback) const {
  return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  // Re-read first, so that changes made by others since we loaded are kept.
  Load();
  std::vector<std::string> lines = lines_;
  const std::string entry = key + "=" + value;
  int header = FindSection(section);
  if (header < 0) {
    if (!lines.empty() && !Trim(lines.back()).empty()) lines.emplace_back();
    lines.push_back("[" + section + "]");
    lines.push_back(entry);
  } else {
    int line = FindKey(header, key);
    if (line >= 0) {
      lines[static_cast<std::size_t>(line)] = entry;
    } else {
      // Append after the section's last entry, before any blank lines that end it.
      std::size_t insert = static_cast<std::size_t>(header) + 1;
      std::string name;
      for (std::size_t i = insert; i < lines.size() && !ParseHeader(lines[i], name); ++i)
        if (!Trim(lines[i]).empty()) insert = i + 1;
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insert), entry);
    }
  }
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  WriteFileAtomically(fileName_, text);
  lines_ = std::move(lines);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, std::int32_t value) {
  WriteString(section, key, std::to_string(value));
}

}  // namespace driftpost
