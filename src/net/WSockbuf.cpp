#include "net/WSockbuf.h"

#include <algorithm>
#include <cstring>

namespace driftpost {

TBuffer::TBuffer(int size) { SetSize(size); }

void TBuffer::SetSize(int size) {
  if (size <= 0) size = DefaultSize;
  size = std::max(size, fillCount_);
  if (size == size_ && storage_) return;
  auto fresh = std::make_unique<char[]>(static_cast<std::size_t>(size));
  if (fillCount_ > takeCount_) std::memcpy(fresh.get(), storage_.get(), static_cast<std::size_t>(fillCount_));
  storage_ = std::move(fresh);
  size_ = size;
}

int TBuffer::Write(const void* data, int length) {
  int room = size_ - fillCount_;
  if (room <= 0 || length <= 0) return 0;
  int count = std::min(room, length);
  std::memcpy(storage_.get() + fillCount_, data, static_cast<std::size_t>(count));
  fillCount_ += count;
  return count;
}

const char* TBuffer::Peek(int& length) const {
  length = fillCount_ - takeCount_;
  return length > 0 ? storage_.get() + takeCount_ : nullptr;
}

int TBuffer::Remove(int count) {
  int removed = std::clamp(count, 0, fillCount_ - takeCount_);
  takeCount_ += removed;
  if (takeCount_ == fillCount_) takeCount_ = fillCount_ = 0;
  return removed;
}

}  // namespace driftpost
