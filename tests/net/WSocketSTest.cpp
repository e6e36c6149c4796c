#include "net/WSocketS.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <chrono>
#include <memory>
#include <poll.h>
#include <set>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "NetTestKit.h"

namespace driftpost {
namespace {

using testing::OpenDescriptorCount;
using testing::RunLoopFor;
using testing::RunLoopUntil;
using testing::TRawClient;

int freedClients = 0;

class TCountedClient : public TWSocketClient {
 public:
  using TWSocketClient::TWSocketClient;
  ~TCountedClient() override { ++freedClients; }
};

struct TServerFixture : ::testing::Test {
  TWSocketServer server;
  std::vector<std::string> events;

  void SetUp() override {
    freedClients = 0;
    server.SetName("Server");
    server.SetClientClass(ClientClassOf<TCountedClient>());
    server.SetBanner("Hello");
    server.OnClientConnect = [this](TComponent*, TWSocketClient* client, std::uint16_t) {
      events.push_back("connect " + client->Name() + " count " + std::to_string(server.ClientCount()));
    };
    server.OnClientDisconnect = [this](TComponent*, TWSocketClient* client, std::uint16_t error) {
      events.push_back("disconnect " + client->Name() + " error " + std::to_string(error) + " count " +
                       std::to_string(server.ClientCount()));
    };
    Start();
  }
  void Start() {
    server.SetProto("tcp");
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.Listen();
  }
  int Port() { return std::stoi(server.BoundPort()); }
};

TEST_F(TServerFixture, ClientsAreCountedInTheirEventsAndFreedAfterwards) {
  TRawClient first(Port());
  EXPECT_EQ(first.Read(7), "Hello\r\n");
  TRawClient second(Port());
  EXPECT_EQ(second.Read(7), "Hello\r\n");
  ASSERT_EQ(server.ClientCount(), 2);
  EXPECT_EQ(server.Client(0)->PeerPort(), std::to_string(first.LocalPort()));
  EXPECT_EQ(server.Client(1)->PeerAddr(), "127.0.0.1");
  EXPECT_EQ(server.Client(2), nullptr);
  EXPECT_EQ(server.Client(0)->Server(), &server);

  first.Reset();  // a reset still reports error 0 to the owner
  second.Close();
  ASSERT_TRUE(RunLoopUntil([&] { return server.ClientCount() == 0; }));
  EXPECT_EQ(freedClients, 2);
  EXPECT_EQ(events, (std::vector<std::string>{"connect ServerClient1 count 1", "connect ServerClient2 count 2",
                                              "disconnect ServerClient1 error 0 count 2",
                                              "disconnect ServerClient2 error 0 count 1"}));
}

TEST_F(TServerFixture, MaxClientsTurnsTheThirdClientAway) {
  server.SetMaxClients(2);
  TRawClient first(Port());
  TRawClient second(Port());
  EXPECT_EQ(first.Read(7), "Hello\r\n");
  EXPECT_EQ(second.Read(7), "Hello\r\n");
  TRawClient third(Port());
  EXPECT_EQ(third.Read(100), "Sorry, too many clients\r\n");
  EXPECT_TRUE(third.WaitForClose());
  ASSERT_TRUE(RunLoopUntil([&] { return events.size() == 4; }));
  EXPECT_EQ(events[2], "connect ServerClient3 count 3");
  EXPECT_EQ(events[3], "disconnect ServerClient3 error 0 count 3");
  EXPECT_EQ(server.ClientCount(), 2);
}

TEST_F(TServerFixture, BannerIsSkippedWhenEmptyOrWhenTheConnectHandlerCloses) {
  server.SetBanner("");
  {
    TRawClient quiet(Port());
    ASSERT_TRUE(RunLoopUntil([&] { return server.ClientCount() == 1; }));
    RunLoopFor(30);
    EXPECT_EQ(quiet.Read(1, 10), "");
  }
  ASSERT_TRUE(RunLoopUntil([&] { return server.ClientCount() == 0; }));

  server.SetBanner("Hello");
  server.OnClientConnect = [](TComponent*, TWSocketClient* client, std::uint16_t) { client->Close(); };
  TRawClient closed(Port());
  EXPECT_TRUE(closed.WaitForClose());
  EXPECT_EQ(closed.Read(100, 10), "");
  ASSERT_TRUE(RunLoopUntil([&] { return server.ClientCount() == 0; }));
}

TEST_F(TServerFixture, SerialNumberCountsOnAcrossStopAndStart) {
  std::set<std::string> names;
  server.OnClientCreate = [&](TComponent*, TWSocketClient* client) {
    // Set per-client options here: the connection is adopted afterwards.
    client->SetLingerOnOff(wsLingerOff);
  };
  server.OnClientConnect = [&](TComponent*, TWSocketClient* client, std::uint16_t) { names.insert(client->Name()); };
  {
    TRawClient one(Port());
    ASSERT_TRUE(RunLoopUntil([&] { return names.size() == 1; }));
  }
  server.Close();
  EXPECT_EQ(server.State(), wsClosed);
  Start();
  TRawClient two(Port());
  ASSERT_TRUE(RunLoopUntil([&] { return names.size() == 2; }));
  EXPECT_EQ(names, (std::set<std::string>{"ServerClient1", "ServerClient2"}));
  EXPECT_EQ(server.ClientSerial(), 2u);
}

TEST_F(TServerFixture, DestroyingTheServerFreesItsClientsWithoutEvents) {
  auto owned = std::make_unique<TWSocketServer>();
  owned->SetClientClass(ClientClassOf<TCountedClient>());
  owned->SetAddr("127.0.0.1");
  owned->SetPort("0");
  owned->Listen();
  int disconnects = 0;
  owned->OnClientDisconnect = [&](TComponent*, TWSocketClient*, std::uint16_t) { ++disconnects; };
  TRawClient a(std::stoi(owned->BoundPort()));
  TRawClient b(std::stoi(owned->BoundPort()));
  ASSERT_TRUE(RunLoopUntil([&] { return owned->ClientCount() == 2; }));
  owned.reset();
  EXPECT_EQ(freedClients, 2);
  EXPECT_TRUE(a.WaitForClose());
  RunLoopFor(20);
  EXPECT_EQ(disconnects, 0);
}

TEST_F(TServerFixture, ClientsThatResetBeforeTheyAreTakenAreDroppedAndTheServerGoesOn) {
  // The loop does not run while these come and go, so each one is gone before it is taken:
  // it has no peer address any more, or cannot be accepted at all.
  for (int i = 0; i < 50; ++i) {
    TRawClient client(Port());
    client.Reset();
  }
  RunLoopFor(100);
  EXPECT_EQ(server.State(), wsListening);
  EXPECT_EQ(server.ClientCount(), 0);
  TRawClient later(Port());
  EXPECT_EQ(later.Read(7), "Hello\r\n");
  // A dropped one had no events; any taken before its reset had both.
  const auto connects = std::count_if(events.begin(), events.end(), [](const std::string& e) { return e[0] == 'c'; });
  EXPECT_EQ(connects, 1 + static_cast<long>(events.size()) - connects);
}

TEST_F(TServerFixture, AFailingConnectHandlerEndsItsClientOnly) {
  server.OnClientConnect = [](TComponent*, TWSocketClient*, std::uint16_t) { throw Exception("handler failed"); };
  TRawClient client(Port());
  EXPECT_TRUE(client.WaitForClose());
  ASSERT_TRUE(RunLoopUntil([this] { return server.ClientCount() == 0; }));
  EXPECT_EQ(server.State(), wsListening);
  EXPECT_EQ(events, (std::vector<std::string>{"disconnect ServerClient1 error 0 count 1"}));
}

TEST_F(TServerFixture, ABurstOfConnectionsWaitsForItsTurnInsteadOfBeingDropped) {
  // Nobody accepts while 300 connections are started: the system must hold them all, so
  // that none waits a second for another try of its handshake.
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(Port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::vector<pollfd> burst;
  for (int i = 0; i < 300; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    burst.push_back({fd, POLLOUT, 0});
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  std::size_t connected = 0;
  while (connected < burst.size() && std::chrono::steady_clock::now() < deadline) {
    connected = 0;
    ::poll(burst.data(), burst.size(), 20);
    for (const pollfd& peer : burst) connected += (peer.revents & POLLOUT) != 0;
  }
  EXPECT_EQ(connected, burst.size());
  ASSERT_TRUE(RunLoopUntil([this] { return server.ClientCount() == 300; }));
  for (const pollfd& peer : burst) ::close(peer.fd);
  ASSERT_TRUE(RunLoopUntil([this] { return server.ClientCount() == 0; }));
}

// An echo server on TWSocketServer and clients on TWSocket: 2,000 connections opened, used
// and closed, 20 at a time.
TEST(WSocketServerStress, TwoThousandEchoConnectionsLeaveNothingBehind) {
  TMessageLoop::Current();  // the loop's own descriptors are not the test's concern
  const int descriptorsBefore = OpenDescriptorCount();
  freedClients = 0;
  {
    TWSocketServer server;
    server.SetClientClass(ClientClassOf<TCountedClient>());
    server.SetBanner("");
    server.SetListenBacklog(64);
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.Listen();
    server.OnClientConnect = [](TComponent*, TWSocketClient* client, std::uint16_t) {
      client->SetLineMode(true);
      client->SetLineEnd("\n");
      client->OnDataAvailable = [client](TComponent*, std::uint16_t) { client->SendText(client->ReceiveText()); };
    };
    const std::string port = server.BoundPort();
    const int total = 2000;
    int started = 0, echoed = 0, failed = 0;
    std::function<void()> startOne = [&] {
      int number = started++;
      auto* client = new TWSocket();
      auto expected = std::make_shared<std::string>("ping " + std::to_string(number) + "\n");
      auto reply = std::make_shared<std::string>();
      client->OnSessionConnected = [&, client, expected](TComponent*, std::uint16_t error) {
        if (error) {
          ++failed;
          client->FreeLater();
          return;
        }
        client->SendText(*expected);
      };
      client->OnDataAvailable = [&, client, expected, reply](TComponent*, std::uint16_t) {
        *reply += client->ReceiveText();
        if (reply->size() < expected->size()) return;
        if (*reply == *expected) ++echoed;
        else ++failed;
        client->Close();
        client->FreeLater();
        if (started < total) startOne();
      };
      client->SetAddr("127.0.0.1");
      client->SetPort(port);
      client->Connect();
    };
    for (int i = 0; i < 20; ++i) startOne();
    ASSERT_TRUE(RunLoopUntil([&] { return echoed + failed == total && server.ClientCount() == 0; }, 120000))
        << echoed << " echoed, " << failed << " failed, " << server.ClientCount() << " clients left";
    RunLoopFor(20);
    EXPECT_EQ(echoed, total);
    EXPECT_EQ(freedClients, total);
    EXPECT_EQ(server.ClientSerial(), static_cast<unsigned>(total));
  }
  EXPECT_EQ(OpenDescriptorCount(), descriptorsBefore);
}

// Lowers the soft descriptor limit so that only `spare` more descriptors can be had, and
// restores it when it goes.
class TDescriptorLimit {
 public:
  explicit TDescriptorLimit(int spare) {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    std::set<int> open;
    for (int fd = 0; fd < 4096; ++fd)
      if (::fcntl(fd, F_GETFD) != -1) open.insert(fd);
    int limit = 0;
    for (int free = 0; free < spare; ++limit)
      if (!open.count(limit)) ++free;
    rlimit lowered = saved_;
    lowered.rlim_cur = static_cast<rlim_t>(limit);
    ::setrlimit(RLIMIT_NOFILE, &lowered);
  }
  ~TDescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &saved_); }

 private:
  rlimit saved_{};
};

TEST(WSocketServerLimits, OutOfDescriptorsTheServerWaitsInsteadOfGivingUp) {
  TWSocketServer server;
  server.SetBanner("Hi");
  server.SetListenBacklog(32);
  server.SetAddr("127.0.0.1");
  server.SetPort("0");
  server.Listen();
  int port = std::stoi(server.BoundPort());
  {
    // One full session first: the sanitizers need descriptors of their own the first time
    // they check a type, and there will be none to spare below.
    TRawClient warmUp(port);
    EXPECT_EQ(warmUp.Read(4), "Hi\r\n");
  }
  ASSERT_TRUE(RunLoopUntil([&] { return server.ClientCount() == 0; }));
  const int clientCount = 8;
  std::vector<std::unique_ptr<TRawClient>> clients;
  for (int i = 0; i < clientCount; ++i) clients.push_back(std::make_unique<TRawClient>());  // made before the limit
  std::vector<std::string> greetings(clientCount);
  {
    TDescriptorLimit limit(3);
    for (auto& client : clients) ASSERT_TRUE(client->Connect(port));
    ASSERT_TRUE(RunLoopUntil([&] { return server.ClientCount() == 3 && server.AcceptSuspended(); }))
        << server.ClientCount() << " clients, suspended " << server.AcceptSuspended() << ", state " << server.State();
    RunLoopFor(100);
    EXPECT_EQ(server.ClientCount(), 3);
    EXPECT_EQ(server.State(), wsListening);
    // Clients leave one by one; each departure makes room for a waiting one.
    int served = 0;
    for (int round = 0; round < 20 && served < clientCount; ++round) {
      for (int i = 0; i < clientCount; ++i) {
        if (!clients[i] || !greetings[i].empty()) continue;
        greetings[i] = clients[i]->Read(4, 20);
        if (!greetings[i].empty()) {
          ++served;
          clients[i].reset();
        }
      }
      RunLoopFor(50);
    }
    EXPECT_EQ(served, clientCount);
  }
  for (const std::string& greeting : greetings) EXPECT_EQ(greeting, "Hi\r\n");
  ASSERT_TRUE(RunLoopUntil([&] { return server.ClientCount() == 0; }));
  EXPECT_EQ(server.State(), wsListening);
  TRawClient later(port);
  EXPECT_EQ(later.Read(4), "Hi\r\n");
}

}  // namespace
}  // namespace driftpost
