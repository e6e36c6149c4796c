#include "platform/Stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Exception.h"

namespace driftpost {

std::int64_t TStream::Size() {
  std::int64_t position = Seek(0, TSeekOrigin::soCurrent);
  std::int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(position, TSeekOrigin::soBeginning);
  return size;
}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError();
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  const std::int64_t total = count;
  std::vector<char> buffer(static_cast<std::size_t>(std::min<std::int64_t>(count, 61440)) + 1);
  while (count > 0) {
    std::int64_t piece = std::min<std::int64_t>(count, static_cast<std::int64_t>(buffer.size()));
    source.ReadBuffer(buffer.data(), piece);
    WriteBuffer(buffer.data(), piece);
    count -= piece;
  }
  return total;
}

TFileStream::TFileStream(const std::string& fileName, unsigned mode) : fileName_(fileName) {
  // Never blocking: opening a pipe waits for its other end, and the name of a file may have
  // been given to a pipe since anyone looked at it. What was opened is checked afterwards.
  int flags = O_CLOEXEC | O_NONBLOCK;
  if (mode == fmCreate) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  } else {
    switch (mode & 0x3) {
      case fmOpenWrite: flags |= O_WRONLY; break;
      case fmOpenReadWrite: flags |= O_RDWR; break;
      default: flags |= O_RDONLY; break;
    }
  }
  do fd_ = ::open(fileName.c_str(), flags, 0666);
  while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) {
    if (mode == fmCreate) throw EFCreateError::ForFile(fileName);
    throw EFOpenError::ForFile(fileName);
  }
  // A folder opens read-only on this platform, but it is not a file to read; a pipe or a
  // socket is no file either.
  struct stat info;
  if (::fstat(fd_, &info) != 0 || S_ISDIR(info.st_mode) || S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    if (mode == fmCreate) throw EFCreateError::ForFile(fileName);
    throw EFOpenError::ForFile(fileName);
  }
  regular_ = S_ISREG(info.st_mode);
  ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  std::int64_t done = 0;
  auto* out = static_cast<char*>(buffer);
  while (done < count) {
    ssize_t got = ::read(fd_, out + done, static_cast<std::size_t>(count - done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += got;
  }
  return done;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  std::int64_t done = 0;
  const auto* in = static_cast<const char*>(buffer);
  while (done < count) {
    ssize_t put = ::write(fd_, in + done, static_cast<std::size_t>(count - done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    done += put;
  }
  return done;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
               : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                  : SEEK_END;
  off_t result = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (result < 0) return ::lseek(fd_, 0, SEEK_CUR);
  return result;
}

void TFileStream::SetSize(std::int64_t newSize) {
  if (newSize < 0 || ::ftruncate(fd_, static_cast<off_t>(newSize)) != 0) throw EWriteError();
  if (Position() > newSize) SetPosition(newSize);
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  std::int64_t available = static_cast<std::int64_t>(data_.size()) - position_;
  if (count <= 0 || available <= 0) return 0;
  std::int64_t piece = std::min(count, available);
  std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(piece));
  position_ += piece;
  return piece;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  std::int64_t end = position_ + count;
  if (end > static_cast<std::int64_t>(data_.size())) data_.resize(static_cast<std::size_t>(end));
  std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(count));
  position_ = end;
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t base = origin == TSeekOrigin::soBeginning ? 0
                      : origin == TSeekOrigin::soCurrent ? position_
                                                         : static_cast<std::int64_t>(data_.size());
  std::int64_t target = base + offset;
  if (target >= 0) position_ = target;
  return position_;
}

void TMemoryStream::SetSize(std::int64_t newSize) {
  if (newSize < 0) newSize = 0;
  data_.resize(static_cast<std::size_t>(newSize));
  if (position_ > newSize) position_ = newSize;
}

void TMemoryStream::Clear() {
  data_.clear();
  data_.shrink_to_fit();
  position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& stream) {
  stream.SetPosition(0);
  std::int64_t size = stream.Size();
  SetSize(size);
  if (size != 0) stream.ReadBuffer(data_.data(), size);
  position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(file);
}

void TMemoryStream::SaveToStream(TStream& stream) {
  stream.WriteBuffer(data_.data(), static_cast<std::int64_t>(data_.size()));
}

std::string ReadFileToString(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  std::string text;
  char buffer[65536];
  for (;;) {
    std::int64_t got = file.Read(buffer, sizeof buffer);
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return text;
}

}  // namespace driftpost
