#include "http/AnswerStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "platform/Exception.h"
#include "platform/Format.h"

namespace driftpost {

std::int64_t TAnswerStream::Read(void* buffer, std::int64_t count) {
  auto* out = static_cast<char*>(buffer);
  std::int64_t done = 0;
  if (count > 0 && position_ < HeadSize()) {
    done = std::min(count, HeadSize() - position_);
    std::memcpy(out, head_.data() + position_, static_cast<std::size_t>(done));
    position_ += done;
  }
  if (done < count && position_ < Size()) done += ReadTail(out + done, count - done);
  return done;
}

std::int64_t TAnswerStream::ReadTail(char* out, std::int64_t count) {
  std::int64_t done = 0;
  while (done < count && position_ < Size()) {
    const std::int64_t offset = position_ - HeadSize();
    const std::int64_t piece = std::min(count - done, tailLength_ - offset);
    ssize_t got = ::pread(file_->Handle(), out + done, static_cast<std::size_t>(piece), static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw EReadError(Format("%s cannot be read: %s", {file_->FileName(), std::strerror(errno)}));
    if (got == 0) {
      // What this call got is delivered; the next call reports the early end.
      if (done > 0) break;
      throw EReadError(Format("%s became shorter while it was sent: %d of %d bytes",
                              {file_->FileName(), offset, tailLength_}));
    }
    done += got;
    position_ += got;
  }
  return done;
}

std::int64_t TAnswerStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0 || file_) return 0;
  const std::int64_t end = position_ + count;
  if (end > HeadSize()) head_.resize(static_cast<std::size_t>(end));
  std::memcpy(head_.data() + position_, buffer, static_cast<std::size_t>(count));
  position_ = end;
  return count;
}

std::int64_t TAnswerStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  const std::int64_t base = origin == TSeekOrigin::soBeginning ? 0
                            : origin == TSeekOrigin::soCurrent ? position_
                                                               : Size();
  if (base + offset >= 0) position_ = base + offset;
  return position_;
}

void TAnswerStream::SetSize(std::int64_t newSize) {
  if (file_) throw EWriteError();
  head_.resize(static_cast<std::size_t>(std::max<std::int64_t>(newSize, 0)));
  position_ = std::min(position_, HeadSize());
}

void TAnswerStream::AttachFile(std::unique_ptr<TFileStream> file, std::int64_t length) {
  file_ = std::move(file);
  tailLength_ = file_ ? std::max<std::int64_t>(length, 0) : 0;
}

}  // namespace driftpost
