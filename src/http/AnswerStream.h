// TAnswerStream: an HTTP answer as a connection sends it. Its head is held in memory (the
// status line, the header fields and any body that was generated); an optional tail follows
// it that is read from an open file a block at a time, so that sending a file never holds
// the file in memory, however large it is and however slowly the client reads.
//
// The tail is exactly as long as the file was when it was attached, which is what the
// answer's Content-Length announced: bytes that a growing file gains later are not sent,
// and a file that has become shorter raises EReadError when its end comes early (after the
// bytes it still had). The stream owns the file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Stream.h"

namespace driftpost {

class TAnswerStream : public TStream {
 public:
  std::int64_t Read(void* buffer, std::int64_t count) override;
  // Writes into the head; refused (0 bytes written) once a tail is attached.
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  // Sets the size of the head; refused with EWriteError once a tail is attached.
  void SetSize(std::int64_t newSize) override;
  std::int64_t Size() override { return HeadSize() + tailLength_; }

  // Appends the first `length` bytes of `file` (from its beginning) as the tail.
  void AttachFile(std::unique_ptr<TFileStream> file, std::int64_t length);

  std::int64_t HeadSize() const { return static_cast<std::int64_t>(head_.size()); }
  std::int64_t TailSize() const { return tailLength_; }

 private:
  std::int64_t ReadTail(char* out, std::int64_t count);

  std::vector<char> head_;
  std::unique_ptr<TFileStream> file_;
  std::int64_t tailLength_ = 0;
  // 0 <= position_ <= Size() while reading; a seek may put it past the end, where reads
  // give nothing.
  std::int64_t position_ = 0;
};

}  // namespace driftpost
