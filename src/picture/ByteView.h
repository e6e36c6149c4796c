// TByteView: a read-only stream over bytes that are already in memory, so that a part of a
// file (an icon's image, a bitmap inside a metafile record) can be read with the bitmap
// reader without copying it out. The bytes must outlive the view.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/Exception.h"
#include "platform/Stream.h"

namespace driftpost {

class TByteView : public TStream {
 public:
  TByteView(const std::uint8_t* data, std::size_t size) : data_(data), size_(static_cast<std::int64_t>(size)) {}
  std::int64_t Read(void* buffer, std::int64_t count) override {
    const std::int64_t piece = std::clamp<std::int64_t>(size_ - position_, 0, std::max<std::int64_t>(count, 0));
    if (piece) std::memcpy(buffer, data_ + position_, static_cast<std::size_t>(piece));
    position_ += piece;
    return piece;
  }
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    const std::int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? position_ : size_;
    if (base + offset >= 0) position_ = base + offset;
    return position_;
  }
  void SetSize(std::int64_t) override { throw EWriteError(); }
  std::int64_t Size() override { return size_; }

 private:
  const std::uint8_t* data_;
  std::int64_t size_;
  std::int64_t position_ = 0;
};

}  // namespace driftpost
