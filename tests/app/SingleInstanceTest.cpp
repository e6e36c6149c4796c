#include "app/core/SingleInstance.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <future>

#include "TempDir.h"

namespace driftpost {
namespace {

using namespace std::chrono_literals;

// What the program's loop does: waits until a later start knocks, then takes its hand-over.
std::optional<std::vector<std::string>> AcceptWhenKnocked(TSingleInstance& running) {
  pollfd knock = {running.ListenDescriptor(), POLLIN, 0};
  if (::poll(&knock, 1, 5000) != 1) return std::nullopt;
  return running.Accept();
}

// Each test keeps its claims in a private folder of its own.
class SingleInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    if (old) saved_ = old;
    ::setenv("XDG_RUNTIME_DIR", runtime_.Path().c_str(), 1);
  }
  void TearDown() override {
    if (saved_.empty())
      ::unsetenv("XDG_RUNTIME_DIR");
    else
      ::setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
  }

  testing::TempDir runtime_;
  std::string saved_;
};

TEST_F(SingleInstanceTest, OneCopyPerShareListTakesTheFilesOfLaterStarts) {
  TSingleInstance running("/home/me/driftpost.container");
  ASSERT_TRUE(running.Claim());
  ASSERT_GE(running.ListenDescriptor(), 0);
  EXPECT_EQ(running.SocketPath().rfind(runtime_.Path() + "/driftpost-", 0), 0u) << running.SocketPath();

  // Another share list is another copy's business.
  TSingleInstance other("/srv/driftpost/driftpost.container");
  EXPECT_TRUE(other.Claim());

  TSingleInstance later("/home/me/driftpost.container");
  EXPECT_FALSE(later.Claim());
  EXPECT_EQ(later.ListenDescriptor(), -1);
  const std::vector<std::string> files{"/home/me/cat.bmp", "/home/me/a folder", "/home/me/ünïcode.txt"};
  auto handOver = std::async(std::launch::async, [&] { return later.HandOver(files); });
  const auto taken = AcceptWhenKnocked(running);
  ASSERT_TRUE(taken.has_value());
  EXPECT_EQ(*taken, files);
  EXPECT_EQ(handOver.get(), "");

  // A start without files only brings the window forward.
  handOver = std::async(std::launch::async, [&] { return later.HandOver({}); });
  const auto none = AcceptWhenKnocked(running);
  ASSERT_TRUE(none.has_value());
  EXPECT_TRUE(none->empty());
  EXPECT_EQ(handOver.get(), "");
}

TEST_F(SingleInstanceTest, TheClaimEndsWithTheCopyAndAStaleSocketIsReplaced) {
  std::string socketPath;
  {
    TSingleInstance first("/home/me/driftpost.container");
    ASSERT_TRUE(first.Claim());
    socketPath = first.SocketPath();
  }
  EXPECT_NE(::access(socketPath.c_str(), F_OK), 0);
  // A socket file left behind by a copy that was killed.
  const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, socketPath.c_str());
  ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(stale);
  TSingleInstance second("/home/me/driftpost.container");
  ASSERT_TRUE(second.Claim());
  EXPECT_GE(second.ListenDescriptor(), 0);
}

TEST_F(SingleInstanceTest, UnfinishedOrMalformedHandOversTakeNothing) {
  TSingleInstance running("/home/me/driftpost.container");
  ASSERT_TRUE(running.Claim());
  auto connectRaw = [&](const std::string& bytes, bool finish) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, running.SocketPath().c_str());
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    if (finish) ::shutdown(fd, SHUT_WR);
    return fd;
  };
  // Never finished: given up after a second.
  int fd = connectRaw(std::string("/home/me/a.bmp\0", 15), false);
  EXPECT_FALSE(running.Accept().has_value());
  ::close(fd);
  // A last path without its end, and relative paths.
  fd = connectRaw("/home/me/a.bmp", true);
  EXPECT_FALSE(running.Accept().has_value());
  ::close(fd);
  fd = connectRaw(std::string("notes.txt\0/home/me/b.bmp\0\0", 26), true);
  const auto taken = running.Accept();
  ASSERT_TRUE(taken.has_value());
  EXPECT_EQ(*taken, std::vector<std::string>{"/home/me/b.bmp"});
  ::close(fd);
  // Nobody waiting.
  EXPECT_FALSE(running.Accept().has_value());

  // A copy that holds the claim but does not answer: the later start says so in time.
  TSingleInstance later("/home/me/driftpost.container");
  ASSERT_FALSE(later.Claim());
  EXPECT_EQ(later.HandOver({"/home/me/c.bmp"}, 300ms),
            "Driftpost is already running for this share list, but it did not take the files.");
}

}  // namespace
}  // namespace driftpost
