// The settings file: sections of key=value lines. Section and key names compare without
// regard to letter case; a missing file, section or key yields the caller's default; writing
// a key creates the file, section and key as needed and keeps every other line of the file.
// Each write replaces the file atomically, so a failed write never leaves it damaged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace driftpost {

class TIniFile {
 public:
  explicit TIniFile(std::string fileName);

  const std::string& FileName() const { return fileName_; }

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& fallback) const;
  // A value that is not an integer yields the default.
  std::int32_t ReadInteger(const std::string& section, const std::string& key,
                           std::int32_t fallback) const;
  bool ReadBool(const std::string& section, const std::string& key, bool fallback) const;

  // Raise EFCreateError when the file cannot be written.
  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, std::int32_t value);

  bool SectionExists(const std::string& section) const;

 private:
  void Load();
  // Index of the section's header line, or -1.
  int FindSection(const std::string& section) const;
  // Index of the key's line within the section starting at `header`, or -1.
  int FindKey(int header, const std::string& key) const;

  std::string fileName_;
  std::vector<std::string> lines_;
};

}  // namespace driftpost
