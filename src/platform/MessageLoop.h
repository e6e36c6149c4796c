// TMessageLoop: the per-thread message loop that drives every socket. It stands where a
// desktop thread's window-message queue would: objects register as message targets and get
// a handle (their "hidden window"), anyone may post a message to a handle, and the loop
// dispatches the messages in the order they were posted. A message for a target that no
// longer exists is dropped, so deferred work can never reach a destroyed object.
//
// Besides posted messages the loop owns an epoll set. Sockets registered with AsyncSelect
// have their readiness turned into the five socket notifications (FD_READ, FD_WRITE,
// FD_ACCEPT, FD_CONNECT, FD_CLOSE), posted as messages to the socket's target, each posted
// once and enabled again by the matching socket call (see AsyncSelect). One-shot timers post
// a message to a target after a delay.
//
// Driving the loop:
// - headless and in tests: Run() until Quit(), or RunUntil(condition, timeout);
// - under a GUI: watch Descriptor() for readability (one QSocketNotifier) and call
//   ProcessMessages() when it fires; install SetPumpHook so that PumpMessages() (used by
//   code that must let events happen while it waits) also runs the GUI's own events.
//
// Threads: each thread has its own loop (Current()). Only PostMessage and the poster handed
// out by Poster() may be used from other threads; everything else belongs to the loop's
// thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

namespace driftpost {

using THandle = std::uintptr_t;  // a message target's handle; 0 is no target
using TWParam = std::uintptr_t;
using TLParam = std::intptr_t;

struct TMessage {
  THandle Target = 0;
  unsigned Msg = 0;
  TWParam WParam = 0;
  TLParam LParam = 0;
};

// The first message number free for a program's own use; socket messages count from here.
constexpr unsigned WM_USER = 0x400;

// Socket notification bits, as carried in the low word of a notification's LParam; the
// high word carries the error code (0 for success).
constexpr long FD_READ = 0x01;
constexpr long FD_WRITE = 0x02;
constexpr long FD_OOB = 0x04;
constexpr long FD_ACCEPT = 0x08;
constexpr long FD_CONNECT = 0x10;
constexpr long FD_CLOSE = 0x20;

constexpr TLParam MakeSelectLParam(long events, int error) {
  return static_cast<TLParam>((static_cast<unsigned long>(error & 0xFFFF) << 16) |
                              static_cast<unsigned long>(events & 0xFFFF));
}
constexpr long SelectEvent(TLParam lParam) { return static_cast<long>(lParam & 0xFFFF); }
constexpr int SelectError(TLParam lParam) { return static_cast<int>((lParam >> 16) & 0xFFFF); }

// An object that receives messages. It registers itself with AllocateHandle and must
// deallocate its handle before it is destroyed.
class TMessageTarget {
 public:
  virtual void HandleMessage(TMessage& message) = 0;

 protected:
  ~TMessageTarget() = default;
};

namespace detail {
struct TPostQueue;
struct TSocketWatch;
}  // namespace detail

// A thread-safe way to post into one loop; it stays safe to use after the loop is gone
// (posting then does nothing), which is what worker threads need.
class TMessagePoster {
 public:
  TMessagePoster() = default;
  explicit TMessagePoster(std::shared_ptr<detail::TPostQueue> queue) : queue_(std::move(queue)) {}
  // False when the loop no longer exists.
  bool PostMessage(THandle target, unsigned msg, TWParam wParam, TLParam lParam) const;

 private:
  std::shared_ptr<detail::TPostQueue> queue_;
};

class TMessageLoop {
 public:
  // The calling thread's loop, created on first use and destroyed when the thread ends.
  static TMessageLoop& Current();

  TMessageLoop();
  ~TMessageLoop();
  TMessageLoop(const TMessageLoop&) = delete;
  TMessageLoop& operator=(const TMessageLoop&) = delete;

  // --- message targets
  THandle AllocateHandle(TMessageTarget* target);
  // Forgets the handle: messages still queued for it, and timers aimed at it, are dropped.
  void DeallocateHandle(THandle handle);
  bool IsHandle(THandle handle) const { return targets_.count(handle) != 0; }

  // --- posting (safe from any thread)
  void PostMessage(THandle target, unsigned msg, TWParam wParam, TLParam lParam);
  TMessagePoster Poster() const { return TMessagePoster(queue_); }

  // --- timers: one message to `target` after `delay`. Returns the timer's id (never 0).
  // Setting and killing a timer cost the same however many timers there are.
  unsigned SetTimer(THandle target, unsigned msg, std::chrono::milliseconds delay,
                    TWParam wParam = 0, TLParam lParam = 0);
  void KillTimer(unsigned timerId);

  // --- driving the loop
  // Turns ready sockets and due timers into messages, then dispatches every message that
  // was queued when the call began, without blocking. Handlers may post more; those wait
  // for the next call. Re-entrant: a handler may call it (through PumpMessages) again.
  void ProcessMessages();
  // ProcessMessages, then the GUI's hook when one is installed.
  void PumpMessages();
  void SetPumpHook(std::function<void()> hook) { pumpHook_ = std::move(hook); }
  // Blocks until something is ready (a message, a socket, a timer) or `timeout` has passed;
  // a negative timeout waits without limit. Returns whether something is ready.
  bool WaitForWork(std::chrono::milliseconds timeout);
  // Processes messages until Quit() is called.
  void Run();
  void Quit();
  bool QuitRequested() const { return quit_; }
  // Processes messages until `done` returns true or `timeout` has passed; returns `done()`.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // Readable whenever ProcessMessages has work to do: the descriptor a GUI watches.
  int Descriptor() const { return epollFd_; }

  // --- the socket notification emulation, used by the socket calls of Winsock.h.
  // Requests the notifications in `mask` for `fd`, posted as `msg` to `target` (mask 0
  // requests none). As with window-message sockets, a condition that already holds is
  // reported at once: a connected socket gets FD_WRITE, waiting data FD_READ.
  // Returns 0, or -1 with errno set.
  int AsyncSelect(int fd, THandle target, unsigned msg, long mask);
  // Called by the socket calls so that a notification can be posted again:
  void NoteReceive(int fd, int errnoValue);  // after a receive (errnoValue 0 for success)
  void NoteAccept(int fd);                   // after an accept
  void NoteSendBlocked(int fd);              // after a send that would have blocked
  void NoteConnecting(int fd);               // after a connect was started
  void NoteListening(int fd);                // after listen succeeded
  void NoteShutdown(int fd, int how);        // after shutdown
  bool WriteShutDown(int fd) const;          // whether shutdown stopped sending on `fd`
  void ForgetSocket(int fd);                 // before the descriptor is closed

 private:
  struct TTimer {
    std::chrono::steady_clock::time_point Due;
    THandle Target;
    unsigned Msg;
    TWParam WParam;
    TLParam LParam;
  };

  void PollReadiness();
  void FireDueTimers();
  void ArmTimerFd();
  void SocketReady(detail::TSocketWatch& watch, std::uint32_t events);
  void PostNotification(const detail::TSocketWatch& watch, long event, int error);
  int UpdateInterest(detail::TSocketWatch& watch);
  detail::TSocketWatch* FindWatch(int fd);

  int epollFd_ = -1;
  int timerFd_ = -1;
  std::shared_ptr<detail::TPostQueue> queue_;
  std::unordered_map<THandle, TMessageTarget*> targets_;
  using TTimerKey = std::pair<std::chrono::steady_clock::time_point, unsigned>;  // due, id

  void ForgetTimer(std::unordered_map<unsigned, TTimer>::iterator timer);

  std::unordered_map<unsigned, TTimer> timers_;
  std::set<TTimerKey> timerOrder_;                          // every timer, the earliest first
  std::unordered_multimap<THandle, unsigned> timerTargets_;  // the timers aimed at each target
  std::chrono::steady_clock::time_point armedDue_{};        // what the timer descriptor waits for
  unsigned nextTimerId_ = 1;
  std::unordered_map<int, std::unique_ptr<detail::TSocketWatch>> watches_;
  std::function<void()> pumpHook_;
  bool quit_ = false;
};

}  // namespace driftpost
