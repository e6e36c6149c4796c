// TBuffer: one block of a socket's send queue. Data is copied into it once and leaves it
// through the socket; a drained block is rewound and filled again from its start, so the
// last block of a queue is reused for the whole connection.
#pragma once

#include <memory>

namespace driftpost {

class TBuffer {
 public:
  // The size a request of 0 or less gets: one Ethernet frame.
  static constexpr int DefaultSize = 1514;

  explicit TBuffer(int size);

  int Size() const { return size_; }
  // Sets the capacity (0 or less means DefaultSize). Bytes not yet sent are kept; a size
  // below the fill count is raised to it, so no data is ever cut off.
  void SetSize(int size);
  // Copies as much of `data` as fits; returns the number of bytes stored.
  int Write(const void* data, int length);
  // The first unsent byte and the number of unsent bytes (nullptr and 0 when there are none).
  const char* Peek(int& length) const;
  // Marks up to `count` unsent bytes as sent; returns how many were.
  int Remove(int count);
  int UnsentCount() const { return fillCount_ - takeCount_; }

 private:
  // Invariant: 0 <= takeCount_ <= fillCount_ <= size_. When the two counts meet they both
  // return to 0, so the block is filled again from its start.
  std::unique_ptr<char[]> storage_;
  int size_ = 0;
  int fillCount_ = 0;  // bytes written so far: the offset of the first free byte
  int takeCount_ = 0;  // bytes already sent: the offset of the first unsent byte
};

}  // namespace driftpost
