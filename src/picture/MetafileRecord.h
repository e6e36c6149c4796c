// One record's parameter bytes, read by offset. A read past the end gives 0; the players
// check every count against Has() before they take variable parts, and the record tables
// give each record's fixed minimum size.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "picture/ByteOrder.h"
#include "picture/MetafileCanvas.h"

namespace driftpost::metafile {

class TRecordReader {
 public:
  TRecordReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t Size() const { return size_; }
  const std::uint8_t* Data() const { return data_; }
  // True when `count` items of `itemSize` bytes fit from `offset` on.
  bool Has(std::size_t offset, std::uint64_t count, std::size_t itemSize) const {
    return offset <= size_ && count <= (size_ - offset) / itemSize;
  }
  TBytes Bytes(std::size_t offset, std::size_t count) const {
    return Has(offset, count, 1) ? TBytes{data_ + offset, count} : TBytes{};
  }

  std::uint16_t U16(std::size_t offset) const { return offset + 2 <= size_ ? LoadLE16(data_ + offset) : 0; }
  std::int16_t S16(std::size_t offset) const { return static_cast<std::int16_t>(U16(offset)); }
  std::uint32_t U32(std::size_t offset) const { return offset + 4 <= size_ ? LoadLE32(data_ + offset) : 0; }
  std::int32_t S32(std::size_t offset) const { return static_cast<std::int32_t>(U32(offset)); }
  float F32(std::size_t offset) const { return std::bit_cast<float>(U32(offset)); }
  std::uint8_t U8(std::size_t offset) const { return offset < size_ ? data_[offset] : 0; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

}  // namespace driftpost::metafile
