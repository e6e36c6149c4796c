// TIFF files written tag by tag, in either byte order, for the cases no tool writes: odd
// tag values, damaged strip tables, directory chains. Strips are stored after the header
// and, unless the test sets tags 273 and 279 itself, listed there.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace driftpost::testing {

class TTIFFBuilder {
 public:
  explicit TTIFFBuilder(bool bigEndian = false) : bigEndian_(bigEndian) {}

  // A tag of type BYTE (1), SHORT (3) or LONG (4) with these values.
  TTIFFBuilder& Tag(std::uint16_t tag, std::uint16_t type, std::vector<std::uint32_t> values) {
    tags_[tag] = TField{type, std::move(values)};
    return *this;
  }
  TTIFFBuilder& Short(std::uint16_t tag, std::uint32_t value) { return Tag(tag, 3, {value}); }
  TTIFFBuilder& Long(std::uint16_t tag, std::uint32_t value) { return Tag(tag, 4, {value}); }
  // A RATIONAL tag: numerator and denominator pairs.
  TTIFFBuilder& Rational(std::uint16_t tag, std::vector<std::uint32_t> pairs) { return Tag(tag, 5, std::move(pairs)); }
  // A picture's usual tags: size, samples, bits, compression, photometric.
  TTIFFBuilder& Picture(std::uint32_t width, std::uint32_t height, std::uint32_t samples, std::uint32_t bits,
                        std::uint32_t compression, std::uint32_t photometric) {
    Long(256, width).Long(257, height).Short(277, samples);
    Tag(258, 3, std::vector<std::uint32_t>(samples, bits));
    return Short(259, compression).Short(262, photometric);
  }
  TTIFFBuilder& Strip(const std::string& bytes) {
    strips_.push_back(bytes);
    return *this;
  }
  // The offset of the next directory, written after this one's entries.
  TTIFFBuilder& NextDirectory(std::uint32_t offset) {
    next_ = offset;
    return *this;
  }

  // Where the directory starts in Bytes(): after the header and the strips.
  std::uint32_t DirectoryOffset() const {
    std::uint32_t at = 8;
    for (const std::string& strip : strips_) at += static_cast<std::uint32_t>(strip.size());
    return at;
  }

  std::string Bytes() const {
    std::map<std::uint16_t, TField> tags = tags_;
    std::vector<std::uint32_t> offsets, counts;
    std::uint32_t at = 8;
    for (const std::string& strip : strips_) {
      offsets.push_back(at);
      counts.push_back(static_cast<std::uint32_t>(strip.size()));
      at += static_cast<std::uint32_t>(strip.size());
    }
    if (!strips_.empty()) {
      tags.try_emplace(273, TField{4, offsets});
      tags.try_emplace(279, TField{4, counts});
    }
    std::string out = bigEndian_ ? "MM" : "II";
    Put16(out, 42);
    Put32(out, at);
    for (const std::string& strip : strips_) out += strip;
    const std::uint32_t valuesAt = at + 2 + 12 * static_cast<std::uint32_t>(tags.size()) + 4;
    std::string values;
    Put16(out, static_cast<std::uint32_t>(tags.size()));
    for (const auto& [tag, field] : tags) {
      std::string packed;
      for (std::uint32_t value : field.Values) {
        if (field.Type == 1) packed += static_cast<char>(value);
        if (field.Type == 3) Put16(packed, value);
        if (field.Type == 4 || field.Type == 5) Put32(packed, value);
      }
      const std::uint32_t count =
          static_cast<std::uint32_t>(field.Type == 5 ? field.Values.size() / 2 : field.Values.size());
      Put16(out, tag);
      Put16(out, field.Type);
      Put32(out, count);
      if (packed.size() <= 4) {
        out += packed + std::string(4 - packed.size(), '\0');
      } else {
        Put32(out, valuesAt + static_cast<std::uint32_t>(values.size()));
        values += packed;
      }
    }
    Put32(out, next_);
    return out + values;
  }

 private:
  struct TField {
    std::uint16_t Type;
    std::vector<std::uint32_t> Values;
  };

  void Put16(std::string& out, std::uint32_t value) const {
    const char high = static_cast<char>(value >> 8), low = static_cast<char>(value);
    out += bigEndian_ ? std::string{high, low} : std::string{low, high};
  }
  void Put32(std::string& out, std::uint32_t value) const {
    if (bigEndian_) {
      Put16(out, value >> 16);
      Put16(out, value & 0xFFFF);
    } else {
      Put16(out, value & 0xFFFF);
      Put16(out, value >> 16);
    }
  }

  bool bigEndian_;
  std::map<std::uint16_t, TField> tags_;
  std::vector<std::string> strips_;
  std::uint32_t next_ = 0;
};

}  // namespace driftpost::testing
