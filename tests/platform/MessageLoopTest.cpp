#include "platform/MessageLoop.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/Winsock.h"

namespace driftpost {
namespace {

using namespace std::chrono_literals;

// Records every message; optionally runs an action for each.
struct TRecorder : TMessageTarget {
  TMessageLoop& loop = TMessageLoop::Current();
  THandle handle = loop.AllocateHandle(this);
  std::vector<TMessage> seen;
  std::function<void(const TMessage&)> action;

  ~TRecorder() { loop.DeallocateHandle(handle); }
  void HandleMessage(TMessage& message) override {
    seen.push_back(message);
    if (action) action(message);
  }
  std::vector<unsigned> Numbers() const {
    std::vector<unsigned> numbers;
    for (const TMessage& message : seen) numbers.push_back(message.Msg);
    return numbers;
  }
};

bool Readable(int fd) {
  pollfd descriptor{fd, POLLIN, 0};
  return ::poll(&descriptor, 1, 0) == 1;
}

TEST(MessageLoop, DispatchesInPostOrderAndDropsMessagesOfGoneTargets) {
  TMessageLoop& loop = TMessageLoop::Current();
  TRecorder first;
  auto second = std::make_unique<TRecorder>();
  loop.PostMessage(first.handle, 1, 0, 0);
  loop.PostMessage(second->handle, 2, 0, 0);
  loop.PostMessage(first.handle, 3, 7, -9);
  THandle gone = second->handle;
  second.reset();
  loop.PostMessage(gone, 4, 0, 0);
  EXPECT_TRUE(Readable(loop.Descriptor()));
  loop.ProcessMessages();
  EXPECT_EQ(first.Numbers(), (std::vector<unsigned>{1, 3}));
  EXPECT_EQ(first.seen[1].WParam, 7u);
  EXPECT_EQ(first.seen[1].LParam, -9);
  EXPECT_FALSE(loop.WaitForWork(0ms));
}

TEST(MessageLoop, MessagesPostedByHandlersWaitForTheNextPassButNestedPassesKeepOrder) {
  TMessageLoop& loop = TMessageLoop::Current();
  TRecorder target;
  target.action = [&](const TMessage& message) {
    if (message.Msg == 1) loop.PostMessage(target.handle, 10, 0, 0);
    // A nested pass (as PumpMessages makes) takes the older messages first.
    if (message.Msg == 2) {
      loop.PostMessage(target.handle, 20, 0, 0);
      loop.PumpMessages();
    }
  };
  loop.PostMessage(target.handle, 1, 0, 0);
  loop.ProcessMessages();
  EXPECT_EQ(target.Numbers(), (std::vector<unsigned>{1}));
  EXPECT_TRUE(Readable(loop.Descriptor()));
  loop.PostMessage(target.handle, 2, 0, 0);
  loop.PostMessage(target.handle, 3, 0, 0);
  loop.ProcessMessages();
  EXPECT_EQ(target.Numbers(), (std::vector<unsigned>{1, 10, 2, 3, 20}));
}

TEST(MessageLoop, PostsFromOtherThreadsWakeTheLoop) {
  TMessageLoop& loop = TMessageLoop::Current();
  TRecorder target;
  TMessagePoster poster = loop.Poster();
  std::thread worker([&] {
    std::this_thread::sleep_for(20ms);
    for (unsigned i = 0; i < 100; ++i) poster.PostMessage(target.handle, i, 0, 0);
  });
  EXPECT_TRUE(loop.RunUntil([&] { return target.seen.size() == 100; }, 5000ms));
  worker.join();
  for (unsigned i = 0; i < 100; ++i) EXPECT_EQ(target.seen[i].Msg, i);
  // A poster outlives its loop harmlessly.
  TMessagePoster orphan;
  {
    TMessageLoop other;
    orphan = other.Poster();
  }
  EXPECT_FALSE(orphan.PostMessage(1, 1, 0, 0));
}

TEST(MessageLoop, TimersFireOnceInDueOrderUnlessKilled) {
  TMessageLoop& loop = TMessageLoop::Current();
  TRecorder target;
  loop.SetTimer(target.handle, 2, 40ms);
  loop.SetTimer(target.handle, 1, 10ms);
  unsigned killed = loop.SetTimer(target.handle, 3, 20ms);
  loop.KillTimer(killed);
  EXPECT_TRUE(loop.RunUntil([&] { return target.seen.size() == 2; }, 2000ms));
  loop.RunUntil([] { return false; }, 80ms);
  EXPECT_EQ(target.Numbers(), (std::vector<unsigned>{1, 2}));
}

TEST(MessageLoop, ThousandsOfTimersKeepTheirOrderAndAGoneTargetTakesOnlyItsOwn) {
  TMessageLoop& loop = TMessageLoop::Current();
  TRecorder kept;
  auto gone = std::make_unique<TRecorder>();
  // Set in a scrambled order, due 1 to 40 ms after they were set; odd numbers go to the
  // target that stays, and a fifth of those are killed.
  std::vector<unsigned> killed;
  std::vector<std::chrono::steady_clock::time_point> due(4000);
  for (unsigned i = 0; i < 4000; ++i) {
    const unsigned n = (i * 1237) % 4000;
    const auto delay = std::chrono::milliseconds(1 + n / 100);
    due[n] = std::chrono::steady_clock::now() + delay;
    unsigned id = loop.SetTimer(n % 2 ? kept.handle : gone->handle, n, delay);
    if (n % 10 == 3) killed.push_back(id);
  }
  for (unsigned id : killed) loop.KillTimer(id);
  loop.KillTimer(killed.front());  // twice does nothing
  gone.reset();
  ASSERT_TRUE(loop.RunUntil([&] { return kept.seen.size() == 1600; }, 5000ms));
  loop.RunUntil([] { return false; }, 60ms);
  ASSERT_EQ(kept.seen.size(), 1600u);
  for (std::size_t i = 1; i < kept.seen.size(); ++i) {
    EXPECT_LE(due[kept.seen[i - 1].Msg], due[kept.seen[i].Msg] + 100us) << "timer " << kept.seen[i].Msg;
    EXPECT_NE(kept.seen[i].Msg % 10, 3u);
  }
}

TEST(MessageLoop, RunEndsOnQuitAndPumpRunsTheHook) {
  TMessageLoop& loop = TMessageLoop::Current();
  TRecorder target;
  target.action = [&](const TMessage&) { loop.Quit(); };
  loop.SetTimer(target.handle, 5, 10ms);
  loop.Run();
  EXPECT_EQ(target.Numbers(), (std::vector<unsigned>{5}));
  EXPECT_FALSE(loop.QuitRequested());
  int hookRuns = 0;
  loop.SetPumpHook([&] { ++hookRuns; });
  loop.PumpMessages();
  loop.SetPumpHook(nullptr);
  EXPECT_EQ(hookRuns, 1);
}

// The notification emulation over a socket pair: each notification is posted once and
// enabled again by the matching call; data comes before the close.
TEST(MessageLoop, SocketNotificationsAreOneShotUntilReenabled) {
  TMessageLoop& loop = TMessageLoop::Current();
  TRecorder target;
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
  ASSERT_EQ(winsock::WSAAsyncSelect(pair[0], target.handle, 0x401, FD_READ | FD_WRITE | FD_CLOSE), 0);
  auto events = [&] {
    std::vector<long> list;
    for (const TMessage& message : target.seen) {
      EXPECT_EQ(static_cast<int>(message.WParam), pair[0]);
      list.push_back(SelectEvent(message.LParam));
    }
    target.seen.clear();
    return list;
  };
  loop.RunUntil([] { return false; }, 20ms);
  EXPECT_EQ(events(), std::vector<long>{FD_WRITE});  // connected: writable at once, once

  ASSERT_EQ(::write(pair[1], "abc", 3), 3);
  loop.RunUntil([] { return false; }, 20ms);
  ASSERT_EQ(::write(pair[1], "def", 3), 3);
  loop.RunUntil([] { return false; }, 20ms);
  EXPECT_EQ(events(), std::vector<long>{FD_READ});  // not again before a receive
  char buffer[4];
  EXPECT_EQ(winsock::recv(pair[0], buffer, 4, 0), 4);
  loop.RunUntil([] { return false; }, 20ms);
  EXPECT_EQ(events(), std::vector<long>{FD_READ});  // two bytes are still waiting

  ::close(pair[1]);
  loop.RunUntil([] { return false; }, 20ms);
  EXPECT_EQ(events(), std::vector<long>{FD_CLOSE});
  EXPECT_EQ(winsock::recv(pair[0], buffer, 4, 0), 2);
  EXPECT_EQ(winsock::recv(pair[0], buffer, 4, 0), 0);
  loop.RunUntil([] { return false; }, 20ms);
  EXPECT_EQ(events(), std::vector<long>{});  // the end of the stream is no new data
  EXPECT_EQ(winsock::send(pair[0], "x", 1, 0), -1);
  EXPECT_EQ(winsock::WSAGetLastError(), winsock::WSAECONNRESET);
  winsock::closesocket(pair[0]);
}

TEST(MessageLoop, SystemErrorsBecomeWinsockCodes) {
  EXPECT_EQ(winsock::ErrorFromErrno(EADDRINUSE), 10048);
  EXPECT_EQ(winsock::ErrorFromErrno(EACCES), 10013);
  EXPECT_EQ(winsock::ErrorFromErrno(ECONNRESET), 10054);
  EXPECT_EQ(winsock::ErrorFromErrno(EAGAIN), 10035);
  EXPECT_EQ(winsock::ErrorFromErrno(EMFILE), 10024);
  EXPECT_EQ(winsock::ErrorFromErrno(ECONNREFUSED), 10061);
  EXPECT_EQ(winsock::inet_ntoa(htonl(0x7F000001)), "127.0.0.1");
}

}  // namespace
}  // namespace driftpost
