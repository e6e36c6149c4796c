// Byte streams: the abstract TStream with position and size, a file stream over a POSIX
// descriptor and a growable memory stream. Answers are built in memory streams, files are
// read through file streams, and readers see only TStream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace driftpost {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;

  // Reads up to `count` bytes; returns how many were read (0 at the end).
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  // Writes up to `count` bytes; returns how many were written.
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  // Moves the position; returns the new position. Positions before 0 are refused.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
  virtual void SetSize(std::int64_t newSize) = 0;

  std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, TSeekOrigin::soBeginning); }
  virtual std::int64_t Size();

  // Read exactly `count` bytes or raise EReadError.
  void ReadBuffer(void* buffer, std::int64_t count);
  // Write exactly `count` bytes or raise EWriteError.
  void WriteBuffer(const void* buffer, std::int64_t count);
  void WriteText(const std::string& text) { WriteBuffer(text.data(), static_cast<std::int64_t>(text.size())); }

  // Copies `count` bytes from the source's position; a count of 0 copies the whole source
  // from its beginning. Returns the number of bytes copied.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

enum TFileMode : unsigned {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareDenyWrite = 0x0020,
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFF00,
};

class TFileStream : public TStream {
 public:
  // Raises EFOpenError when an existing file cannot be opened and EFCreateError when a file
  // cannot be created (fmCreate). Opening never waits: a folder, a pipe or a socket is
  // refused like a missing file.
  TFileStream(const std::string& fileName, unsigned mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t newSize) override;

  const std::string& FileName() const { return fileName_; }
  int Handle() const { return fd_; }
  // Whether the opened file is a regular file (not a device).
  bool Regular() const { return regular_; }

 private:
  std::string fileName_;
  int fd_ = -1;
  bool regular_ = false;
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t newSize) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }

  void Clear();
  const std::uint8_t* Memory() const { return data_.data(); }
  std::uint8_t* Memory() { return data_.data(); }
  const std::vector<std::uint8_t>& Bytes() const { return data_; }
  std::string AsString() const { return std::string(data_.begin(), data_.end()); }

  void LoadFromStream(TStream& stream);
  void LoadFromFile(const std::string& fileName);
  void SaveToStream(TStream& stream);

 private:
  std::vector<std::uint8_t> data_;
  std::int64_t position_ = 0;
};

// Reads a whole file into memory; raises EFOpenError or EReadError.
std::string ReadFileToString(const std::string& fileName);

}  // namespace driftpost
