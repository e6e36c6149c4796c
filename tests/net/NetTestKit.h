// Helpers for tests of the socket layer: plain blocking-free POSIX peers on 127.0.0.1,
// running the thread's loop until something has happened, and counting open descriptors.
#pragma once

#include <arpa/inet.h>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/MessageLoop.h"

namespace driftpost::testing {

inline bool RunLoopUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  return TMessageLoop::Current().RunUntil(done, std::chrono::milliseconds(timeoutMs));
}

// Runs the loop for a while, for checks that something does NOT happen.
inline void RunLoopFor(int milliseconds) {
  RunLoopUntil([] { return false; }, milliseconds);
}

inline int OpenDescriptorCount() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (dirent* entry = ::readdir(dir))
      if (entry->d_name[0] != '.') ++count;
    ::closedir(dir);
  }
  return count - 1;  // the directory's own descriptor
}

// A raw client socket: connects at once (the kernel completes the handshake before the
// server accepts) and reads without blocking while the loop runs.
class TRawClient {
 public:
  TRawClient() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
  explicit TRawClient(int port) : TRawClient() { Connect(port); }
  ~TRawClient() { Close(); }
  TRawClient(const TRawClient&) = delete;
  TRawClient& operator=(const TRawClient&) = delete;

  bool Connect(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    return ok;
  }
  void Send(const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
      ssize_t sent = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
      if (sent > 0)
        done += static_cast<std::size_t>(sent);
      else
        TMessageLoop::Current().RunUntil([] { return true; }, std::chrono::milliseconds(1));
    }
  }
  // Reads what has arrived, running the loop, until `count` bytes are there, the peer has
  // closed, or the time is up.
  std::string Read(std::size_t count, int timeoutMs = 5000) {
    RunLoopUntil([&] { return Pull() || received_.size() >= count; }, timeoutMs);
    std::string part = received_.substr(0, std::min(count, received_.size()));
    received_.erase(0, part.size());
    return part;
  }
  // Whether the peer has closed (end of stream or reset) within the time.
  bool WaitForClose(int timeoutMs = 5000) {
    return RunLoopUntil([&] { return Pull(); }, timeoutMs);
  }
  // Closes with a reset instead of a FIN.
  void Reset() {
    linger value{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &value, sizeof value);
    Close();
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  int Fd() const { return fd_; }
  int LocalPort() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
  }

 private:
  // Takes what is readable; true once the stream has ended.
  bool Pull() {
    char buffer[65536];
    for (;;) {
      ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
      if (got > 0) {
        received_.append(buffer, static_cast<std::size_t>(got));
        continue;
      }
      if (got == 0) return true;
      return errno != EAGAIN && errno != EINTR;
    }
  }

  int fd_;
  std::string received_;
};

}  // namespace driftpost::testing
