#include "readers/TIFFDirectory.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "picture/ByteOrder.h"

namespace driftpost {
namespace {

constexpr std::size_t EntrySize = 12;

bool IsInteger(std::uint16_t type) {
  return type == ftByte || type == ftShort || type == ftSShort || type == ftLong || type == ftSLong;
}

}  // namespace

bool TTIFFDirectory::ReadHeader(TStream& stream, THeader& header) {
  std::uint8_t bytes[8];
  if (stream.Read(bytes, sizeof bytes) != sizeof bytes) return false;
  if (bytes[0] != bytes[1] || (bytes[0] != 'I' && bytes[0] != 'M')) return false;
  header.BigEndian = bytes[0] == 'M';
  header.Version = header.BigEndian ? LoadBE16(&bytes[2]) : LoadLE16(&bytes[2]);
  header.FirstOffset = header.BigEndian ? LoadBE32(&bytes[4]) : LoadLE32(&bytes[4]);
  return true;
}

std::uint32_t TTIFFDirectory::TypeSize(std::uint16_t type) {
  switch (type) {
    case ftByte:
    case ftASCII:
    case ftSByte:
    case ftUndefined:
      return 1;
    case ftShort:
    case ftSShort:
      return 2;
    case ftLong:
    case ftSLong:
    case ftFloat:
      return 4;
    case ftRational:
    case ftSRational:
    case ftDouble:
      return 8;
    default:
      return 0;
  }
}

std::uint16_t TTIFFDirectory::Load16(const std::uint8_t* at) const { return bigEndian_ ? LoadBE16(at) : LoadLE16(at); }

std::uint32_t TTIFFDirectory::Load32(const std::uint8_t* at) const { return bigEndian_ ? LoadBE32(at) : LoadLE32(at); }

bool TTIFFDirectory::ReadAt(std::int64_t offset, void* buffer, std::int64_t count) const {
  const std::int64_t at = base_ + offset;
  if (!stream_ || offset < 0 || count < 0 || at > end_ || count > end_ - at) return false;
  stream_->SetPosition(at);
  return stream_->Read(buffer, count) == count;
}

bool TTIFFDirectory::Skip(std::uint32_t offset) {
  std::uint8_t count[2];
  if (!ReadAt(offset, count, 2)) return false;
  std::uint8_t next[4];
  const std::int64_t nextAt = std::int64_t{offset} + 2 + std::int64_t{Load16(count)} * EntrySize;
  nextOffset_ = ReadAt(nextAt, next, 4) ? Load32(next) : 0;
  return nextAt <= end_ - base_;
}

bool TTIFFDirectory::Read(std::uint32_t offset) {
  entries_.clear();
  if (!Skip(offset)) return false;
  std::uint8_t count[2];
  ReadAt(offset, count, 2);
  std::vector<std::uint8_t> bytes(std::size_t{Load16(count)} * EntrySize);
  if (!ReadAt(std::int64_t{offset} + 2, bytes.data(), static_cast<std::int64_t>(bytes.size()))) return false;
  entries_.resize(bytes.size() / EntrySize);
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const std::uint8_t* at = &bytes[i * EntrySize];
    TTIFFEntry& entry = entries_[i];
    entry.Tag = Load16(at);
    entry.Type = Load16(at + 2);
    entry.Count = Load32(at + 4);
    std::memcpy(entry.Value, at + 8, 4);
  }
  std::stable_sort(entries_.begin(), entries_.end(),
                   [](const TTIFFEntry& a, const TTIFFEntry& b) { return a.Tag < b.Tag; });
  return true;
}

const TTIFFEntry* TTIFFDirectory::Find(std::uint32_t tag) const {
  const auto found = std::lower_bound(entries_.begin(), entries_.end(), tag,
                                      [](const TTIFFEntry& entry, std::uint32_t wanted) { return entry.Tag < wanted; });
  return found != entries_.end() && found->Tag == tag ? &*found : nullptr;
}

std::uint32_t TTIFFDirectory::Value(std::uint32_t tag, std::uint32_t fallback) const {
  std::uint32_t count = 0;
  return ValueAndCount(tag, count, fallback);
}

std::uint32_t TTIFFDirectory::ValueAndCount(std::uint32_t tag, std::uint32_t& count, std::uint32_t fallback) const {
  const TTIFFEntry* entry = Find(tag);
  count = entry ? entry->Count : 0;
  if (!entry) return fallback;
  if (entry->Count != 1) return Load32(entry->Value);
  switch (entry->Type) {
    case ftByte:
      return entry->Value[0];
    case ftShort:
    case ftSShort:
      return Load16(entry->Value);
    case ftLong:
    case ftSLong:
      return Load32(entry->Value);
    default:
      return fallback;
  }
}

std::vector<std::uint8_t> TTIFFDirectory::RawValues(const TTIFFEntry& entry, std::uint32_t limit) const {
  const std::uint64_t size = TypeSize(entry.Type);
  const std::uint64_t wanted = std::min(entry.Count, limit) * size;
  if (std::uint64_t{entry.Count} * size <= 4) return std::vector<std::uint8_t>(entry.Value, entry.Value + wanted);
  // Only whole values that lie inside the stream.
  const std::int64_t at = std::int64_t{Load32(entry.Value)};
  const std::int64_t available = std::max<std::int64_t>(end_ - base_ - at, 0);
  std::vector<std::uint8_t> raw(std::min<std::uint64_t>(wanted, static_cast<std::uint64_t>(available) / size * size));
  if (!ReadAt(at, raw.data(), static_cast<std::int64_t>(raw.size()))) raw.clear();
  return raw;
}

double TTIFFDirectory::Number(std::uint16_t type, const std::uint8_t* raw, std::size_t index) const {
  const std::uint8_t* at = raw + index * TypeSize(type);
  auto ratio = [](double numerator, double denominator) { return denominator == 0 ? 0.0 : numerator / denominator; };
  switch (type) {
    case ftSByte:
      return static_cast<std::int8_t>(at[0]);
    case ftShort:
      return Load16(at);
    case ftSShort:
      return static_cast<std::int16_t>(Load16(at));
    case ftLong:
      return Load32(at);
    case ftSLong:
      return static_cast<std::int32_t>(Load32(at));
    case ftRational:
      return ratio(Load32(at), Load32(at + 4));
    case ftSRational:
      return ratio(static_cast<std::int32_t>(Load32(at)), static_cast<std::int32_t>(Load32(at + 4)));
    case ftFloat:
      return std::bit_cast<float>(Load32(at));
    case ftDouble: {
      const std::uint64_t high = Load32(at), low = Load32(at + 4);
      return std::bit_cast<double>(bigEndian_ ? high << 32 | low : low << 32 | high);
    }
    default:
      return at[0];
  }
}

std::vector<std::uint32_t> TTIFFDirectory::Cardinals(std::uint32_t tag) const {
  const TTIFFEntry* entry = Find(tag);
  if (!entry || !IsInteger(entry->Type)) return {};
  const std::vector<std::uint8_t> raw = RawValues(*entry, entry->Count);
  std::vector<std::uint32_t> values(raw.size() / TypeSize(entry->Type));
  for (std::size_t i = 0; i < values.size(); ++i)
    values[i] = static_cast<std::uint32_t>(static_cast<std::int64_t>(Number(entry->Type, raw.data(), i)));
  return values;
}

TByteArray TTIFFDirectory::Bytes(std::uint32_t tag) const {
  const TTIFFEntry* entry = Find(tag);
  if (!entry || TypeSize(entry->Type) == 0) return {};
  if (TypeSize(entry->Type) == 1) return RawValues(*entry, entry->Count);
  const std::vector<std::uint32_t> values = Cardinals(tag);
  return TByteArray(values.begin(), values.end());
}

std::vector<float> TTIFFDirectory::Floats(std::uint32_t tag) const {
  const TTIFFEntry* entry = Find(tag);
  if (!entry || TypeSize(entry->Type) == 0 || entry->Type == ftASCII) return {};
  const std::vector<std::uint8_t> raw = RawValues(*entry, entry->Count);
  std::vector<float> values(raw.size() / TypeSize(entry->Type));
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<float>(Number(entry->Type, raw.data(), i));
  return values;
}

float TTIFFDirectory::Float(std::uint32_t tag, float fallback) const {
  const TTIFFEntry* entry = Find(tag);
  if (!entry || entry->Count != 1) return fallback;
  const std::vector<float> values = Floats(tag);
  return values.empty() ? fallback : values[0];
}

}  // namespace driftpost
