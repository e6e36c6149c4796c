#include "app/core/SingleInstance.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace driftpost {

namespace {

// A hand-over is the paths, each ended by a zero byte; the sender then shuts its side. The
// receiver answers one byte once it has them all.
constexpr char Taken = 'T';
constexpr std::size_t MaxHandOverBytes = 1 << 20;
constexpr std::chrono::milliseconds ReceiveTime{1000};

using Clock = std::chrono::steady_clock;

// 64-bit FNV-1a: a short, stable name for a share list's path.
std::string NameOf(const std::string& path) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char byte : path) hash = (hash ^ byte) * 1099511628211ull;
  char name[32];
  std::snprintf(name, sizeof name, "driftpost-%016llx", static_cast<unsigned long long>(hash));
  return name;
}

bool IsPrivateFolder(const std::string& folder) {
  struct stat status = {};
  return ::lstat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::getuid() &&
         (status.st_mode & 077) == 0;
}

// $XDG_RUNTIME_DIR when it is a full path to a folder of this user's only; else
// /tmp/driftpost-<uid>, made so. Empty when neither can be had.
std::string PrivateFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/' && IsPrivateFolder(runtime)) return runtime;
  const std::string folder = "/tmp/driftpost-" + std::to_string(::getuid());
  ::mkdir(folder.c_str(), 0700);
  return IsPrivateFolder(folder) ? folder : std::string();
}

bool FillAddress(const std::string& path, sockaddr_un& address) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

int MillisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on `fd` until the deadline; false when the time ran out.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd entry = {fd, events, 0};
    const int ready = ::poll(&entry, 1, MillisecondsUntil(deadline));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

class TDescriptor {
 public:
  explicit TDescriptor(int fd) : fd_(fd) {}
  ~TDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

std::optional<std::vector<std::string>> ParseHandOver(std::string_view message) {
  if (!message.empty() && message.back() != '\0') return std::nullopt;
  std::vector<std::string> paths;
  while (!message.empty()) {
    const std::size_t end = message.find('\0');
    const std::string_view path = message.substr(0, end);
    if (path.starts_with('/')) paths.emplace_back(path);
    message.remove_prefix(end + 1);
  }
  return paths;
}

TSingleInstance::TSingleInstance(const std::string& containerFileName) : folder_(PrivateFolder()) {
  if (folder_.empty()) return;
  const std::string name = NameOf(containerFileName);
  socketPath_ = folder_ + "/" + name + ".socket";
  lockPath_ = folder_ + "/" + name + ".lock";
  sockaddr_un address;
  if (!FillAddress(socketPath_, address)) folder_.clear();
}

TSingleInstance::~TSingleInstance() {
  if (listen_ >= 0) {
    ::close(listen_);
    ::unlink(socketPath_.c_str());
  }
  if (lock_ >= 0) ::close(lock_);
}

bool TSingleInstance::Claim() {
  if (folder_.empty() || lock_ >= 0) return true;
  const int lock = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lock < 0) return true;
  if (::flock(lock, LOCK_EX | LOCK_NB) != 0) {
    const bool held = errno == EWOULDBLOCK;
    ::close(lock);
    return !held;
  }
  lock_ = lock;
  // A socket left by a copy that did not end in order is in the way; the lock says that
  // copy is gone.
  ::unlink(socketPath_.c_str());
  sockaddr_un address;
  FillAddress(socketPath_, address);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return true;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0) {
    ::close(fd);
    return true;
  }
  listen_ = fd;
  return true;
}

std::optional<std::vector<std::string>> TSingleInstance::Accept() {
  if (listen_ < 0) return std::nullopt;
  const TDescriptor peer(::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC));
  if (peer.Get() < 0) return std::nullopt;
  ucred credentials = {};
  socklen_t size = sizeof credentials;
  if (::getsockopt(peer.Get(), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || credentials.uid != ::getuid())
    return std::nullopt;

  const Clock::time_point deadline = Clock::now() + ReceiveTime;
  std::string received;
  char buffer[4096];
  for (;;) {
    if (!WaitFor(peer.Get(), POLLIN, deadline)) return std::nullopt;
    const ssize_t got = ::recv(peer.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return std::nullopt;
    }
    received.append(buffer, static_cast<std::size_t>(got));
    if (received.size() > MaxHandOverBytes) return std::nullopt;
  }
  std::optional<std::vector<std::string>> paths = ParseHandOver(received);
  if (!paths) return std::nullopt;
  ::send(peer.Get(), &Taken, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
  return paths;
}

std::string TSingleInstance::HandOver(const std::vector<std::string>& paths, std::chrono::milliseconds timeout) const {
  const std::string notTaken = "Driftpost is already running for this share list, but it did not take the files.";
  sockaddr_un address;
  if (folder_.empty() || !FillAddress(socketPath_, address)) return notTaken;
  const Clock::time_point deadline = Clock::now() + timeout;
  const TDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.Get() < 0) return notTaken;
  // The running copy may have taken its claim a moment ago and not be listening yet.
  while (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if ((errno != ENOENT && errno != ECONNREFUSED && errno != EINTR) || Clock::now() >= deadline) return notTaken;
    ::usleep(20000);
  }
  std::string message;
  for (const std::string& path : paths) message.append(path).push_back('\0');
  for (std::size_t sent = 0; sent < message.size();) {
    if (!WaitFor(fd.Get(), POLLOUT, deadline)) return notTaken;
    const ssize_t done = ::send(fd.Get(), message.data() + sent, message.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (done < 0 && errno != EINTR && errno != EAGAIN) return notTaken;
    if (done > 0) sent += static_cast<std::size_t>(done);
  }
  ::shutdown(fd.Get(), SHUT_WR);
  char answer = 0;
  if (!WaitFor(fd.Get(), POLLIN, deadline) || ::recv(fd.Get(), &answer, 1, 0) != 1 || answer != Taken) return notTaken;
  return {};
}

}  // namespace driftpost
