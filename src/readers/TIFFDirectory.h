// One image file directory of a TIFF file: its 12-byte entries (tag, field type, count and
// four value bytes), sorted by tag, and the getters that read a tag's values with their
// defaults. A value whose count × type size fits four bytes stands in the entry itself;
// larger ones are read from the offset there, counted from the file's start in the stream.
//
// Values are decoded in the file's byte order when they are read, so a little-endian and a
// big-endian file give the same numbers. Values are read only from inside the stream: a list
// whose offset or count reaches past the end keeps only the values the stream holds. The
// directory uses the stream it was read from, which must outlive it.
#pragma once

#include <cstdint>
#include <vector>

#include "picture/ImageProperties.h"
#include "platform/Stream.h"

namespace driftpost {

enum TTIFFFieldType : std::uint16_t {
  ftByte = 1,
  ftASCII = 2,
  ftShort = 3,
  ftLong = 4,
  ftRational = 5,
  ftSByte = 6,
  ftUndefined = 7,
  ftSShort = 8,
  ftSLong = 9,
  ftSRational = 10,
  ftFloat = 11,
  ftDouble = 12,
};

struct TTIFFEntry {
  std::uint16_t Tag = 0;
  std::uint16_t Type = 0;
  std::uint32_t Count = 0;
  std::uint8_t Value[4] = {};  // as stored: the values themselves, or their offset
};

class TTIFFDirectory {
 public:
  // The file's header: its byte order, version and first directory offset. False when the
  // stream does not begin with "II" or "MM" and two more bytes (the version is not checked).
  struct THeader {
    bool BigEndian = false;
    std::uint16_t Version = 0;
    std::uint32_t FirstOffset = 0;
  };
  static bool ReadHeader(TStream& stream, THeader& header);

  TTIFFDirectory() = default;
  TTIFFDirectory(TStream& stream, std::int64_t base, bool bigEndian)
      : stream_(&stream), base_(base), end_(stream.Size()), bigEndian_(bigEndian) {}

  // Reads the directory at `offset`: its entry count, the entries (then sorted by tag) and
  // the offset of the next directory. False when it does not lie inside the stream (a
  // missing next offset counts as 0).
  bool Read(std::uint32_t offset);
  // Only the entry count and the next offset, to walk past a directory.
  bool Skip(std::uint32_t offset);

  std::uint32_t NextOffset() const { return nextOffset_; }
  const std::vector<TTIFFEntry>& Entries() const { return entries_; }
  bool BigEndian() const { return bigEndian_; }

  // The entry of a tag, or none.
  const TTIFFEntry* Find(std::uint32_t tag) const;

  // Absent: `fallback`. A count other than 1: the value field as a 32-bit number. Count 1:
  // a BYTE, SHORT, SSHORT, LONG or SLONG value, other types `fallback`.
  std::uint32_t Value(std::uint32_t tag, std::uint32_t fallback) const;
  // As Value, and the tag's count (0 when absent).
  std::uint32_t ValueAndCount(std::uint32_t tag, std::uint32_t& count, std::uint32_t fallback) const;
  // The values of a BYTE, SHORT, SSHORT, LONG or SLONG tag; empty when absent.
  std::vector<std::uint32_t> Cardinals(std::uint32_t tag) const;
  // The bytes of a BYTE, ASCII, SBYTE or UNDEFINED tag, or the low bytes of an integer tag.
  TByteArray Bytes(std::uint32_t tag) const;
  // The values of a numeric tag as numbers (a rational as numerator ÷ denominator, 0 for a
  // zero denominator); empty when absent.
  std::vector<float> Floats(std::uint32_t tag) const;
  // A numeric tag of count 1, or `fallback`.
  float Float(std::uint32_t tag, float fallback) const;
  // The values of a tag as stored in the file, at most `limit` of them.
  std::vector<std::uint8_t> RawValues(const TTIFFEntry& entry, std::uint32_t limit) const;

  // Bytes of one value of a field type; 0 for an unknown type.
  static std::uint32_t TypeSize(std::uint16_t type);

 private:
  std::uint16_t Load16(const std::uint8_t* at) const;
  std::uint32_t Load32(const std::uint8_t* at) const;
  // Value `index` of a number type in `raw`, as a double.
  double Number(std::uint16_t type, const std::uint8_t* raw, std::size_t index) const;
  bool ReadAt(std::int64_t offset, void* buffer, std::int64_t count) const;

  TStream* stream_ = nullptr;
  std::int64_t base_ = 0;
  std::int64_t end_ = 0;
  bool bigEndian_ = false;
  std::vector<TTIFFEntry> entries_;
  std::uint32_t nextOffset_ = 0;
};

}  // namespace driftpost
