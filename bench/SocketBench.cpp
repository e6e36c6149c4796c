// Loopback throughput of the socket layer: echo round trips and new connections per second,
// server and client sharing one thread's message loop as the program's sockets do.
#include <benchmark/benchmark.h>
#include <chrono>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "net/WSocketS.h"

namespace {

using namespace driftpost;

// An echo server on 127.0.0.1 and an ephemeral port.
struct TEchoServer {
  TWSocketServer server;
  TEchoServer() {
    server.SetBanner("");
    server.SetListenBacklog(64);
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.OnClientConnect = [](TComponent*, TWSocketClient* client, std::uint16_t) {
      client->OnDataAvailable = [client](TComponent*, std::uint16_t) { client->SendText(client->ReceiveText()); };
    };
    server.Listen();
  }
  std::string Port() { return server.BoundPort(); }
};

bool RunUntil(const std::function<bool()>& done) {
  return TMessageLoop::Current().RunUntil(done, std::chrono::milliseconds(10000));
}

void BM_EchoRoundTrip(benchmark::State& state) {
  TEchoServer echo;
  TWSocket client;
  const std::string message(static_cast<std::size_t>(state.range(0)), 'x');
  std::size_t received = 0;
  bool connected = false;
  client.OnSessionConnected = [&](TComponent*, std::uint16_t error) { connected = error == 0; };
  client.OnDataAvailable = [&](TComponent*, std::uint16_t) { received += client.ReceiveText().size(); };
  client.SetAddr("127.0.0.1");
  client.SetPort(echo.Port());
  client.Connect();
  if (!RunUntil([&] { return connected; })) state.SkipWithError("no connection");
  // Without TCP_NODELAY a large echo waits for the peer's delayed acknowledgement (about
  // 40 ms on Linux) whenever a short last segment is held back: that measures TCP, not the
  // socket layer.
  winsock::setsockopt(client.HSocket(), IPPROTO_TCP, TCP_NODELAY, 1);
  winsock::setsockopt(echo.server.Client(0)->HSocket(), IPPROTO_TCP, TCP_NODELAY, 1);
  for (auto _ : state) {
    received = 0;
    client.SendText(message);
    if (!RunUntil([&] { return received >= message.size(); })) {
      state.SkipWithError("no echo");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * state.range(0) * 2);
}
BENCHMARK(BM_EchoRoundTrip)->Arg(64)->Arg(16384);

void BM_NewConnection(benchmark::State& state) {
  TEchoServer echo;
  const std::string port = echo.Port();
  for (auto _ : state) {
    TWSocket client;
    bool connected = false;
    client.OnSessionConnected = [&](TComponent*, std::uint16_t error) { connected = error == 0; };
    client.SetAddr("127.0.0.1");
    client.SetPort(port);
    client.Connect();
    if (!RunUntil([&] { return connected && echo.server.ClientCount() == 1; })) {
      state.SkipWithError("no connection");
      break;
    }
    client.Close();
    if (!RunUntil([&] { return echo.server.ClientCount() == 0; })) {
      state.SkipWithError("client not freed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NewConnection);

// Many connected clients leave at once: the time from their closes until the server has
// freed every one of them, per client, for growing numbers of clients.
void BM_ClientsLeaveAtOnce(benchmark::State& state) {
  TEchoServer echo;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(echo.Port())));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<int> peers;
    for (int i = 0; i < count; ++i) {
      peers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
      if (::connect(peers.back(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) break;
      TMessageLoop::Current().ProcessMessages();
    }
    if (!RunUntil([&] { return echo.server.ClientCount() == count; })) {
      state.SkipWithError("clients not taken");
      break;
    }
    state.ResumeTiming();
    for (int peer : peers) ::close(peer);
    if (!RunUntil([&] { return echo.server.ClientCount() == 0; })) {
      state.SkipWithError("clients not freed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_ClientsLeaveAtOnce)->Arg(500)->Arg(2000)->Arg(4000)->Unit(benchmark::kMillisecond);

}  // namespace
