// The exception classes shared by every layer. Each failure the program reports is an
// exception of a named class that carries the message shown to the user; subsystems derive
// their own classes (socket, picture, reader errors) from Exception in their own folders.
#pragma once

#include <exception>
#include <string>

namespace driftpost {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// A list index outside the list; also raised with -1 when a searched entry is missing.
class EListError : public Exception {
 public:
  using Exception::Exception;
  static EListError IndexOutOfBounds(long long index);
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

class EFileStreamError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// A file that cannot be opened for reading.
class EFOpenError : public EFileStreamError {
 public:
  using EFileStreamError::EFileStreamError;
  static EFOpenError ForFile(const std::string& fileName);
};

// A file that cannot be created or replaced.
class EFCreateError : public EFileStreamError {
 public:
  using EFileStreamError::EFileStreamError;
  static EFCreateError ForFile(const std::string& fileName);
};

// A stream delivered fewer bytes than were asked for.
class EReadError : public EStreamError {
 public:
  EReadError();
  using EStreamError::EStreamError;
};

// A stream accepted fewer bytes than were given.
class EWriteError : public EStreamError {
 public:
  EWriteError();
  using EStreamError::EStreamError;
};

// A value that cannot be converted or assigned to the asked-for type.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace driftpost
