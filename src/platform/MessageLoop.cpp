#include "platform/MessageLoop.h"

#include <algorithm>
#include <cstring>
#include <atomic>
#include <cerrno>
#include <deque>
#include <mutex>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include "platform/Exception.h"
#include "platform/Winsock.h"

namespace driftpost {

namespace detail {

// The queue of posted messages, shared with every poster so that worker threads can still
// post (into nothing) after the loop has gone. Each message carries a serial number so that
// a dispatch pass knows where the messages queued before it began end, also when a handler
// runs a nested pass.
struct TPostQueue {
  struct TQueued {
    std::uint64_t Serial;
    TMessage Message;
  };

  std::mutex Mutex;
  std::deque<TQueued> Messages;
  std::uint64_t NextSerial = 0;
  int WakeFd = -1;          // eventfd in the loop's epoll set; readable while a wake is pending
  bool WakePending = false;
  bool Alive = true;

  // Appends a message; `wake` makes the loop's descriptor readable so that a waiting loop
  // (or the GUI's notifier) notices it.
  bool Enqueue(const TMessage& message, bool wake) {
    std::lock_guard<std::mutex> lock(Mutex);
    if (!Alive) return false;
    Messages.push_back({NextSerial++, message});
    if (wake) WakeLocked();
    return true;
  }

  void WakeLocked() {
    if (WakePending || WakeFd < 0) return;
    WakePending = true;
    std::uint64_t one = 1;
    // A full counter (impossible in practice) still leaves the descriptor readable.
    [[maybe_unused]] ssize_t written = ::write(WakeFd, &one, sizeof one);
  }

  void ClearWake() {
    std::lock_guard<std::mutex> lock(Mutex);
    WakePending = false;
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t got = ::read(WakeFd, &count, sizeof count);
  }
};

// What the loop knows about one socket registered for notifications.
struct TSocketWatch {
  int Fd = -1;
  THandle Target = 0;
  unsigned Msg = 0;
  long Mask = 0;
  bool Datagram = false;
  bool Listening = false;
  bool Connecting = false;
  bool Connected = false;
  // A notification is posted once and stays off until the matching call enables it again.
  bool ReadEnabled = true;
  bool WriteEnabled = true;
  bool AcceptEnabled = true;
  bool Hangup = false;       // the peer closed or reset the connection
  bool ClosePosted = false;  // FD_CLOSE has been posted for this hang-up
  bool ResetSeen = false;    // a receive already reported the reset
  bool WriteShut = false;
  std::uint32_t Interest = 0;  // what the epoll set watches now; 0 = not in the set
};

}  // namespace detail

namespace {

std::atomic<THandle> nextHandle{1};

int SocketErrorOf(int fd) {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
  return error;
}

int BytesWaiting(int fd) {
  int count = 0;
  if (::ioctl(fd, FIONREAD, &count) != 0) return 0;
  return count;
}

}  // namespace

bool TMessagePoster::PostMessage(THandle target, unsigned msg, TWParam wParam, TLParam lParam) const {
  if (!queue_) return false;
  return queue_->Enqueue({target, msg, wParam, lParam}, true);
}

TMessageLoop& TMessageLoop::Current() {
  thread_local TMessageLoop loop;
  return loop;
}

TMessageLoop::TMessageLoop() : queue_(std::make_shared<detail::TPostQueue>()) {
  epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
  queue_->WakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  timerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (epollFd_ < 0 || queue_->WakeFd < 0 || timerFd_ < 0)
    throw Exception("Cannot create the message loop: " + std::string(std::strerror(errno)));
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = queue_->WakeFd;
  ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, queue_->WakeFd, &event);
  event.data.fd = timerFd_;
  ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, timerFd_, &event);
}

TMessageLoop::~TMessageLoop() {
  {
    std::lock_guard<std::mutex> lock(queue_->Mutex);
    queue_->Alive = false;
    queue_->Messages.clear();
    if (queue_->WakeFd >= 0) ::close(queue_->WakeFd);
    queue_->WakeFd = -1;
  }
  if (timerFd_ >= 0) ::close(timerFd_);
  if (epollFd_ >= 0) ::close(epollFd_);
}

THandle TMessageLoop::AllocateHandle(TMessageTarget* target) {
  THandle handle = nextHandle.fetch_add(1);
  targets_[handle] = target;
  return handle;
}

void TMessageLoop::DeallocateHandle(THandle handle) {
  targets_.erase(handle);
  auto [first, last] = timerTargets_.equal_range(handle);
  for (auto it = first; it != last; ++it) {
    auto timer = timers_.find(it->second);
    if (timer != timers_.end()) timerOrder_.erase({timer->second.Due, timer->first});
    timers_.erase(it->second);
  }
  if (first != last) {
    timerTargets_.erase(first, last);
    ArmTimerFd();
  }
}

void TMessageLoop::PostMessage(THandle target, unsigned msg, TWParam wParam, TLParam lParam) {
  queue_->Enqueue({target, msg, wParam, lParam}, true);
}

unsigned TMessageLoop::SetTimer(THandle target, unsigned msg, std::chrono::milliseconds delay,
                                TWParam wParam, TLParam lParam) {
  unsigned id = nextTimerId_++;
  if (nextTimerId_ == 0) nextTimerId_ = 1;
  auto due = std::chrono::steady_clock::now() + std::max(delay, std::chrono::milliseconds(0));
  timers_[id] = {due, target, msg, wParam, lParam};
  timerOrder_.insert({due, id});
  timerTargets_.emplace(target, id);
  ArmTimerFd();
  return id;
}

void TMessageLoop::ForgetTimer(std::unordered_map<unsigned, TTimer>::iterator timer) {
  timerOrder_.erase({timer->second.Due, timer->first});
  auto [first, last] = timerTargets_.equal_range(timer->second.Target);
  for (auto it = first; it != last; ++it) {
    if (it->second == timer->first) {
      timerTargets_.erase(it);
      break;
    }
  }
  timers_.erase(timer);
}

void TMessageLoop::KillTimer(unsigned timerId) {
  auto timer = timers_.find(timerId);
  if (timer == timers_.end()) return;
  ForgetTimer(timer);
  ArmTimerFd();
}

void TMessageLoop::ArmTimerFd() {
  const auto earliest = timerOrder_.empty() ? std::chrono::steady_clock::time_point{} : timerOrder_.begin()->first;
  if (earliest == armedDue_) return;
  armedDue_ = earliest;
  itimerspec due{};
  if (!timerOrder_.empty()) {
    auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(earliest.time_since_epoch()).count();
    // steady_clock is CLOCK_MONOTONIC here; an absolute time of 0 would disarm the timer.
    if (since <= 0) since = 1;
    due.it_value.tv_sec = static_cast<time_t>(since / 1000000000);
    due.it_value.tv_nsec = static_cast<long>(since % 1000000000);
  }
  ::timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &due, nullptr);
}

void TMessageLoop::FireDueTimers() {
  std::uint64_t expirations = 0;
  [[maybe_unused]] ssize_t got = ::read(timerFd_, &expirations, sizeof expirations);
  // The descriptor has fired: whatever it waited for must be set again.
  armedDue_ = {};
  auto now = std::chrono::steady_clock::now();
  // In the order they fall due (timers due at the same moment in the order they were set).
  while (!timerOrder_.empty() && timerOrder_.begin()->first <= now) {
    auto timer = timers_.find(timerOrder_.begin()->second);
    const TTimer due = timer->second;
    ForgetTimer(timer);
    queue_->Enqueue({due.Target, due.Msg, due.WParam, due.LParam}, false);
  }
  ArmTimerFd();
}

void TMessageLoop::PollReadiness() {
  epoll_event events[128];
  int count;
  do {
    count = ::epoll_wait(epollFd_, events, 128, 0);
  } while (count < 0 && errno == EINTR);
  for (int i = 0; i < count; ++i) {
    int fd = events[i].data.fd;
    if (fd == queue_->WakeFd) {
      queue_->ClearWake();
    } else if (fd == timerFd_) {
      FireDueTimers();
    } else if (detail::TSocketWatch* watch = FindWatch(fd)) {
      SocketReady(*watch, events[i].events);
    }
  }
}

void TMessageLoop::ProcessMessages() {
  PollReadiness();
  std::uint64_t limit;
  {
    std::lock_guard<std::mutex> lock(queue_->Mutex);
    limit = queue_->NextSerial;
  }
  try {
    for (;;) {
      TMessage message;
      {
        std::lock_guard<std::mutex> lock(queue_->Mutex);
        if (queue_->Messages.empty() || queue_->Messages.front().Serial >= limit) break;
        message = queue_->Messages.front().Message;
        queue_->Messages.pop_front();
      }
      auto it = targets_.find(message.Target);
      if (it == targets_.end()) continue;  // the target is gone: drop the message
      it->second->HandleMessage(message);
    }
  } catch (...) {
    // The messages left in the queue must not wait for an unrelated event.
    std::lock_guard<std::mutex> lock(queue_->Mutex);
    if (!queue_->Messages.empty()) queue_->WakeLocked();
    throw;
  }
}

void TMessageLoop::PumpMessages() {
  ProcessMessages();
  if (pumpHook_) pumpHook_();
}

bool TMessageLoop::WaitForWork(std::chrono::milliseconds timeout) {
  {
    std::lock_guard<std::mutex> lock(queue_->Mutex);
    if (!queue_->Messages.empty()) return true;
  }
  pollfd descriptor{epollFd_, POLLIN, 0};
  int waitMs = timeout.count() < 0 ? -1 : static_cast<int>(std::min<long long>(timeout.count(), 1 << 30));
  int result;
  do {
    result = ::poll(&descriptor, 1, waitMs);
  } while (result < 0 && errno == EINTR);
  return result > 0;
}

void TMessageLoop::Run() {
  while (!quit_) {
    ProcessMessages();
    if (quit_) break;
    WaitForWork(std::chrono::milliseconds(-1));
  }
  quit_ = false;
}

void TMessageLoop::Quit() {
  quit_ = true;
  std::lock_guard<std::mutex> lock(queue_->Mutex);
  queue_->WakeLocked();
}

bool TMessageLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    ProcessMessages();
    if (done()) return true;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return done();
    WaitForWork(std::min(left, std::chrono::milliseconds(50)));
  }
  return true;
}

// ---------------------------------------------------------------- socket notifications

detail::TSocketWatch* TMessageLoop::FindWatch(int fd) {
  auto it = watches_.find(fd);
  return it == watches_.end() ? nullptr : it->second.get();
}

void TMessageLoop::PostNotification(const detail::TSocketWatch& watch, long event, int error) {
  queue_->Enqueue({watch.Target, watch.Msg, static_cast<TWParam>(watch.Fd), MakeSelectLParam(event, error)},
                  true);
}

int TMessageLoop::UpdateInterest(detail::TSocketWatch& watch) {
  std::uint32_t interest = 0;
  const long mask = watch.Mask;
  if (mask == 0) {
    interest = 0;
  } else if (watch.Connecting) {
    // Completion shows as writability (or an error) whether or not FD_CONNECT is wanted.
    interest = EPOLLOUT;
  } else if (watch.Listening) {
    if ((mask & FD_ACCEPT) && watch.AcceptEnabled) interest = EPOLLIN;
  } else if (watch.Datagram) {
    if ((mask & FD_READ) && watch.ReadEnabled) interest |= EPOLLIN;
    if ((mask & FD_WRITE) && watch.WriteEnabled) interest |= EPOLLOUT;
  } else if (watch.Connected) {
    // After a hang-up nothing more can arrive: data still waiting is reported when a
    // receive enables FD_READ again (NoteReceive), never by a level-triggered EPOLLIN that
    // would stay set at the end of the stream.
    if (!watch.Hangup) {
      if ((mask & FD_READ) && watch.ReadEnabled) interest |= EPOLLIN;
      if ((mask & FD_CLOSE) && !watch.ClosePosted) interest |= EPOLLRDHUP;
    }
    if ((mask & FD_WRITE) && watch.WriteEnabled) interest |= EPOLLOUT;
  }
  if (interest == watch.Interest) return 0;
  epoll_event event{};
  event.events = interest;
  event.data.fd = watch.Fd;
  int op = interest == 0 ? EPOLL_CTL_DEL : (watch.Interest == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD);
  if (::epoll_ctl(epollFd_, op, watch.Fd, &event) != 0 && op != EPOLL_CTL_DEL) return -1;
  watch.Interest = interest;
  return 0;
}

int TMessageLoop::AsyncSelect(int fd, THandle target, unsigned msg, long mask) {
  auto& slot = watches_[fd];
  const bool known = slot != nullptr;
  if (!slot) {
    slot = std::make_unique<detail::TSocketWatch>();
    slot->Fd = fd;
  }
  detail::TSocketWatch& watch = *slot;
  // Asking again for a connection's notifications (to pause or resume some of them) changes
  // nothing of what is known about it: it stays connected after a reset has taken its
  // peer's address, and a close that has been reported is not reported again.
  const bool wasConnected = known && watch.Connected && !watch.Datagram;
  const bool hangup = wasConnected && watch.Hangup;
  const bool closePosted = wasConnected && watch.ClosePosted;
  int type = 0;
  socklen_t length = sizeof type;
  if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0) {
    int error = errno;
    ForgetSocket(fd);
    errno = error;
    return -1;
  }
  watch.Datagram = type == SOCK_DGRAM;
  if (!watch.Datagram && !watch.Connecting) {
    int accepting = 0;
    length = sizeof accepting;
    watch.Listening = ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &length) == 0 && accepting;
    sockaddr_storage peer{};
    length = sizeof peer;
    watch.Connected = wasConnected ||
                      (!watch.Listening && ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) == 0);
  }
  watch.Target = target;
  watch.Msg = msg;
  watch.Mask = mask;
  watch.ReadEnabled = watch.WriteEnabled = watch.AcceptEnabled = true;
  watch.Hangup = hangup;
  watch.ClosePosted = closePosted;
  // After a close nothing wakes the loop for the data before it: what waits is reported now,
  // and so is a close that happened while FD_CLOSE was not asked for.
  if (hangup && (mask & FD_READ) && BytesWaiting(fd) > 0) {
    watch.ReadEnabled = false;
    PostNotification(watch, FD_READ, 0);
  }
  if (hangup && !closePosted && (mask & FD_CLOSE)) {
    watch.ClosePosted = true;
    PostNotification(watch, FD_CLOSE, watch.ResetSeen ? winsock::WSAECONNRESET : 0);
  }
  // Fails only when the epoll set cannot take the descriptor (out of memory or watches).
  return UpdateInterest(watch);
}

void TMessageLoop::SocketReady(detail::TSocketWatch& watch, std::uint32_t events) {
  const long mask = watch.Mask;
  if (watch.Connecting) {
    if (events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) {
      int error = SocketErrorOf(watch.Fd);
      watch.Connecting = false;
      if (error != 0) {
        // A failed connect reports FD_CONNECT with the error and nothing else.
        watch.Hangup = watch.ClosePosted = true;
        if (mask & FD_CONNECT) PostNotification(watch, FD_CONNECT, winsock::ErrorFromErrno(error));
      } else {
        watch.Connected = true;
        watch.ReadEnabled = true;
        if (mask & FD_CONNECT) PostNotification(watch, FD_CONNECT, 0);
        // The first FD_WRITE follows the connection at once.
        if (mask & FD_WRITE) {
          PostNotification(watch, FD_WRITE, 0);
          watch.WriteEnabled = false;
        }
      }
    }
    UpdateInterest(watch);
    return;
  }
  if (watch.Listening) {
    if ((events & EPOLLIN) && watch.AcceptEnabled && (mask & FD_ACCEPT)) {
      watch.AcceptEnabled = false;
      PostNotification(watch, FD_ACCEPT, 0);
    }
    UpdateInterest(watch);
    return;
  }
  if (watch.Datagram) {
    if ((events & EPOLLIN) && watch.ReadEnabled && (mask & FD_READ)) {
      watch.ReadEnabled = false;
      PostNotification(watch, FD_READ, 0);
    }
    if ((events & EPOLLOUT) && watch.WriteEnabled && (mask & FD_WRITE)) {
      watch.WriteEnabled = false;
      PostNotification(watch, FD_WRITE, 0);
    }
    UpdateInterest(watch);
    return;
  }
  if (!watch.Connected) {
    UpdateInterest(watch);
    return;
  }
  bool hangup = events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR);
  int waiting = 0;
  if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) waiting = BytesWaiting(watch.Fd);
  // Readable with nothing to read is the end of the stream.
  if ((events & EPOLLIN) && waiting == 0) hangup = true;
  // The data before a close is always offered before the close itself.
  if (waiting > 0 && watch.ReadEnabled && (mask & FD_READ)) {
    watch.ReadEnabled = false;
    PostNotification(watch, FD_READ, 0);
  }
  if (hangup && !watch.Hangup) {
    watch.Hangup = true;
    int error = (events & EPOLLERR) ? SocketErrorOf(watch.Fd) : 0;
    // EPIPE here is a reset that came after the peer's FIN: the peer closed normally
    // first, which is what the close reports.
    if (error == EPIPE) error = 0;
    int code = error ? winsock::ErrorFromErrno(error) : (watch.ResetSeen ? winsock::WSAECONNRESET : 0);
    if ((mask & FD_CLOSE) && !watch.ClosePosted) {
      watch.ClosePosted = true;
      PostNotification(watch, FD_CLOSE, code);
    }
  }
  if ((events & EPOLLOUT) && watch.WriteEnabled && (mask & FD_WRITE)) {
    watch.WriteEnabled = false;
    PostNotification(watch, FD_WRITE, 0);
  }
  UpdateInterest(watch);
}

void TMessageLoop::NoteReceive(int fd, int errnoValue) {
  detail::TSocketWatch* watch = FindWatch(fd);
  if (!watch) return;
  if (errnoValue == ECONNRESET) watch->ResetSeen = true;
  if (watch->ReadEnabled) return;
  watch->ReadEnabled = true;
  if (watch->Hangup && !watch->Datagram && (watch->Mask & FD_READ) && BytesWaiting(fd) > 0) {
    watch->ReadEnabled = false;
    PostNotification(*watch, FD_READ, 0);
  }
  UpdateInterest(*watch);
}

void TMessageLoop::NoteAccept(int fd) {
  detail::TSocketWatch* watch = FindWatch(fd);
  if (!watch || watch->AcceptEnabled) return;
  watch->AcceptEnabled = true;
  UpdateInterest(*watch);
}

void TMessageLoop::NoteSendBlocked(int fd) {
  detail::TSocketWatch* watch = FindWatch(fd);
  if (!watch || watch->WriteEnabled) return;
  watch->WriteEnabled = true;
  UpdateInterest(*watch);
}

void TMessageLoop::NoteConnecting(int fd) {
  auto& slot = watches_[fd];
  if (!slot) {
    slot = std::make_unique<detail::TSocketWatch>();
    slot->Fd = fd;
  }
  slot->Connecting = true;
  slot->Connected = slot->Listening = false;
  slot->Hangup = slot->ClosePosted = false;
  UpdateInterest(*slot);
}

void TMessageLoop::NoteListening(int fd) {
  auto& slot = watches_[fd];
  if (!slot) {
    slot = std::make_unique<detail::TSocketWatch>();
    slot->Fd = fd;
  }
  slot->Listening = true;
  slot->Connecting = slot->Connected = false;
  UpdateInterest(*slot);
}

void TMessageLoop::NoteShutdown(int fd, int how) {
  if (how != SHUT_WR && how != SHUT_RDWR) return;
  auto& slot = watches_[fd];
  if (!slot) {
    slot = std::make_unique<detail::TSocketWatch>();
    slot->Fd = fd;
  }
  slot->WriteShut = true;
}

bool TMessageLoop::WriteShutDown(int fd) const {
  auto it = watches_.find(fd);
  return it != watches_.end() && it->second->WriteShut;
}

void TMessageLoop::ForgetSocket(int fd) {
  auto it = watches_.find(fd);
  if (it == watches_.end()) return;
  if (it->second->Interest != 0) ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
  watches_.erase(it);
}

}  // namespace driftpost
