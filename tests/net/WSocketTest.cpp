#include "net/WSocket.h"

#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

#include "NetTestKit.h"

namespace driftpost {
namespace {

using testing::OpenDescriptorCount;
using testing::RunLoopFor;
using testing::RunLoopUntil;
using testing::TRawClient;

std::string ErrorMessage(const std::function<void()>& action) {
  try {
    action();
  } catch (const ESocketException& e) {
    return e.Message();
  }
  return "(no exception)";
}

// A listening TWSocket on 127.0.0.1 and an ephemeral port.
std::unique_ptr<TWSocket> ListenOnLoopback() {
  auto listener = std::make_unique<TWSocket>();
  listener->SetProto("tcp");
  listener->SetAddr("127.0.0.1");
  listener->SetPort("0");
  listener->Listen();
  return listener;
}

int PortOf(TWSocket& socket) { return std::stoi(socket.BoundPort()); }

// A connected pair of TWSockets: `client` connected to `server`, accepted by a listener.
struct TConnectedPair {
  std::unique_ptr<TWSocket> listener = ListenOnLoopback();
  TWSocket server;
  TWSocket client;
  bool connected = false;

  TConnectedPair() {
    listener->OnSessionAvailable = [this](TComponent*, std::uint16_t) { server.Dup(listener->Accept()); };
    client.OnSessionConnected = [this](TComponent*, std::uint16_t error) { connected = error == 0; };
    client.SetProto("tcp");
    client.SetAddr("127.0.0.1");
    client.SetPort(listener->BoundPort());
    client.Connect();
    EXPECT_TRUE(RunLoopUntil([this] { return connected && server.State() == wsConnected; }));
  }
};

TEST(WSocketResolve, DottedAddressTable) {
  EXPECT_TRUE(IsDottedAddress("1.2.3.4"));
  EXPECT_TRUE(IsDottedAddress("  10.0.0.255  "));
  EXPECT_TRUE(IsDottedAddress("255.255.255.255"));
  EXPECT_FALSE(IsDottedAddress("1.2.3.256"));
  EXPECT_FALSE(IsDottedAddress(".1.2.3"));
  EXPECT_FALSE(IsDottedAddress("1.2.3"));
  EXPECT_FALSE(IsDottedAddress("1.2.3.4.5"));
  EXPECT_FALSE(IsDottedAddress("1.2.3."));
  EXPECT_FALSE(IsDottedAddress("1..2.3"));
  EXPECT_FALSE(IsDottedAddress("1.2.3.4x"));
  EXPECT_FALSE(IsDottedAddress("1.2.3.4 x"));
  EXPECT_FALSE(IsDottedAddress(""));
  EXPECT_FALSE(IsDottedAddress("localhost"));
  EXPECT_FALSE(IsDottedAddress("99999999999999999999.1.1.1"));
}

TEST(WSocketResolve, HostPortAndProtocolTexts) {
  EXPECT_EQ(WSocketResolveHost("255.255.255.255"), 0xFFFFFFFFu);
  EXPECT_EQ(WSocketResolveHost(" 127.0.0.1 "), htonl(INADDR_LOOPBACK));
  EXPECT_EQ(WSocketResolveHost("localhost"), htonl(INADDR_LOOPBACK));
  EXPECT_EQ(ErrorMessage([] { WSocketResolveHost(""); }), "WSocketResolveHost: '' Invalid Hostname.");
  EXPECT_EQ(ErrorMessage([] { WSocketResolveHost("0255.255.255.255"); }),
            "WSocketResolveHost: '0255.255.255.255' Invalid IP address.");
  // Not a dotted address: the name query is asked, and finds nothing.
  EXPECT_EQ(ErrorMessage([] { WSocketResolveHost("1.2.3.256"); }).rfind(
                "WSocketResolveHost: Cannot convert host address '1.2.3.256', Error #", 0),
            0u);

  EXPECT_EQ(WSocketResolvePort("80", "tcp"), 80);
  EXPECT_EQ(WSocketResolvePort("8080abc", "tcp"), 8080);
  EXPECT_EQ(ErrorMessage([] { WSocketResolvePort(std::string(32, '1'), "tcp"); }), "WSocketResolvePort: Invalid Port.");
  EXPECT_EQ(ErrorMessage([] { WSocketResolvePort("", "tcp"); }), "WSocketResolvePort: Invalid Port.");
  // A number beyond 16 bits must not wrap to another port.
  EXPECT_EQ(ErrorMessage([] { WSocketResolvePort("65616", "tcp"); }), "WSocketResolvePort: Invalid Port.");
  EXPECT_EQ(ErrorMessage([] { WSocketResolvePort("no-such-service", "tcp"); }).rfind(
                "WSocketResolvePort: Cannot convert port 'no-such-service', Error #", 0),
            0u);

  EXPECT_EQ(WSocketResolveProto("tcp"), 6);
  EXPECT_EQ(WSocketResolveProto(" udp "), 17);
  EXPECT_EQ(WSocketResolveProto("17"), 17);
  EXPECT_EQ(ErrorMessage([] { WSocketResolveProto(""); }), "WSocketResolveProto: Invalid Protocol.");

  EXPECT_EQ(ParseLeadingNumber("  42abc"), 42);
  EXPECT_EQ(ParseLeadingNumber("abc"), 0);
  EXPECT_EQ(ParseLeadingNumber("4294967297"), 1);  // wraps, never undefined
}

TEST(WSocketResolve, ErrorTextsAndStartUpRecord) {
  EXPECT_EQ(WinsockErrorText(0), "No Error");
  EXPECT_EQ(WinsockErrorText(10048), "Address already in use");
  EXPECT_EQ(WinsockErrorText(10054), "Connection reset by peer");
  EXPECT_EQ(WinsockErrorText(11004), "No Data");
  EXPECT_EQ(WinsockErrorText(10090), "Not a WinSock error");
  TWSAData data;
  GetWinsockInfo(data);
  EXPECT_EQ(data.wVersion, 0x0101);
  EXPECT_NE(std::string(data.szDescription), "");
  int before = WSocketInstanceCount();
  {
    TWSocket socket;
    EXPECT_EQ(WSocketInstanceCount(), before + 1);
  }
  EXPECT_EQ(WSocketInstanceCount(), before);
}

TEST(WSocket, SettersRefuseChangesWhileOpen) {
  auto listener = ListenOnLoopback();
  // The same value again is accepted silently.
  listener->SetPort("0");
  EXPECT_EQ(ErrorMessage([&] { listener->SetPort("81"); }), "Cannot change Port if not closed");
  EXPECT_EQ(ErrorMessage([&] { listener->SetAddr("10.0.0.1"); }), "Cannot change Addr if not closed");
  EXPECT_EQ(ErrorMessage([&] { listener->SetProto("udp"); }), "Cannot change Proto if not closed");
  EXPECT_EQ(ErrorMessage([&] { listener->SetLocalPort("1"); }), "Cannot change LocalPort if not closed");
  EXPECT_EQ(ErrorMessage([&] { listener->SetLocalAddr("1.2.3.4"); }), "Cannot change LocalAddr if not closed");

  TWSocket closed;
  EXPECT_EQ(ErrorMessage([&] { closed.SetLocalAddr("not an address"); }), "SetLocalAddr(): Invalid IP address");
  closed.SetLocalAddr(" 10.1.2.3");
  EXPECT_EQ(closed.LocalAddr(), "10.1.2.3");
  closed.SetLocalAddr("");
  EXPECT_EQ(closed.LocalAddr(), "0.0.0.0");
  EXPECT_EQ(ErrorMessage([&] { closed.SetSendFlags(static_cast<TSocketSendFlags>(7)); }), "Invalid SendFlags");
  // With OnError set, the error becomes the event and the call returns.
  int errors = 0;
  listener->OnError = [&](TComponent*) { ++errors; };
  listener->SetPort("82");
  EXPECT_EQ(errors, 1);
}

TEST(WSocket, ListenOnBusyPortReportsBindErrorWithoutLeaking) {
  auto first = ListenOnLoopback();
  int descriptors = OpenDescriptorCount();
  TWSocket second;
  second.SetAddr("0.0.0.0");
  second.SetPort(first->BoundPort());
  EXPECT_EQ(ErrorMessage([&] { second.Listen(); }), "Error 10048 in function Bind\r\nAddress already in use");
  EXPECT_EQ(second.State(), wsClosed);
  EXPECT_EQ(second.LastError(), 10048);
  int errors = 0;
  second.OnError = [&](TComponent*) { ++errors; };
  second.Listen();
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

TEST(WSocket, ListenAfterCloseNeedsThePortAgain) {
  auto listener = ListenOnLoopback();
  EXPECT_EQ(listener->State(), wsListening);
  listener->Close();
  EXPECT_EQ(listener->State(), wsClosed);
  EXPECT_EQ(listener->Port(), "0");
  EXPECT_EQ(ErrorMessage([&] { listener->Listen(); }),
            "Error 10022 in function listen: port not assigned\r\nInvalid argument");
  listener->SetPort("0");
  listener->SetAddr("127.0.0.1");
  listener->Listen();
  EXPECT_EQ(listener->State(), wsListening);
}

TEST(WSocket, ConnectReportsStatesAndErrors) {
  TWSocket client;
  EXPECT_EQ(ErrorMessage([&] { client.Connect(); }), "Connect: No Port Specified");
  client.SetPort("1");
  EXPECT_EQ(ErrorMessage([&] { client.Connect(); }), "Connect: No IP Address Specified");
  client.SetAddr("no.such.host.invalid");
  EXPECT_EQ(ErrorMessage([&] { client.Connect(); }).rfind("connect: WSocketResolveHost: Cannot convert", 0), 0u);
  EXPECT_EQ(ErrorMessage([&] { client.Send("x", 1); }), "Error 10057 in function Send\r\nSocket is not connected");

  // Nobody listens on a port just released: FD_CONNECT carries "connection refused".
  int port;
  {
    auto listener = ListenOnLoopback();
    port = PortOf(*listener);
  }
  std::vector<TSocketState> states;
  int connectError = -1;
  client.OnChangeState = [&](TComponent*, TSocketState, TSocketState now) { states.push_back(now); };
  client.OnSessionConnected = [&](TComponent*, std::uint16_t error) { connectError = error; };
  client.SetAddr("127.0.0.1");
  client.SetPort(std::to_string(port));
  client.Connect();
  ASSERT_TRUE(RunLoopUntil([&] { return connectError >= 0 && client.State() == wsClosed; }));
  EXPECT_EQ(connectError, 10061);
  EXPECT_EQ(states, (std::vector<TSocketState>{wsOpened, wsConnecting, wsConnected, wsClosed}));
}

TEST(WSocket, StaleAndForeignNotificationsAreIgnored) {
  auto listener = ListenOnLoopback();
  TWSocket client;
  int closed = 0;
  bool connected = false;
  client.OnSessionClosed = [&](TComponent*, std::uint16_t) { ++closed; };
  client.OnSessionConnected = [&](TComponent*, std::uint16_t) { connected = true; };
  client.SetAddr("127.0.0.1");
  client.SetPort(listener->BoundPort());
  client.Connect();
  ASSERT_EQ(client.State(), wsConnecting);
  // An FD_CLOSE while connecting, and one for another handle, change nothing.
  client.Loop().PostMessage(client.Handle(), WM_SOCKET_SELECT, static_cast<TWParam>(client.HSocket()),
                            MakeSelectLParam(FD_CLOSE, 0));
  client.Loop().PostMessage(client.Handle(), WM_SOCKET_SELECT, static_cast<TWParam>(client.HSocket() + 1000),
                            MakeSelectLParam(FD_CLOSE, 10054));
  ASSERT_TRUE(RunLoopUntil([&] { return connected; }));
  client.Loop().PostMessage(client.Handle(), WM_SOCKET_SELECT, static_cast<TWParam>(client.HSocket() + 1000),
                            MakeSelectLParam(FD_CLOSE, 10054));
  RunLoopFor(50);
  EXPECT_EQ(closed, 0);
  EXPECT_EQ(client.State(), wsConnected);
}

TEST(WSocket, SessionClosedFiresOnceWithTheCloseError) {
  TConnectedPair pair;
  std::vector<int> closed;
  pair.server.OnSessionClosed = [&](TComponent*, std::uint16_t error) { closed.push_back(error); };
  pair.client.Close();
  ASSERT_TRUE(RunLoopUntil([&] { return pair.server.State() == wsClosed; }));
  pair.server.Close();
  RunLoopFor(30);
  EXPECT_EQ(closed, std::vector<int>{0});

  // A peer that resets without closing first.
  auto listener = ListenOnLoopback();
  TWSocket accepted;
  listener->OnSessionAvailable = [&](TComponent*, std::uint16_t) { accepted.Dup(listener->Accept()); };
  closed.clear();
  accepted.OnSessionClosed = [&](TComponent*, std::uint16_t error) { closed.push_back(error); };
  TRawClient peer(PortOf(*listener));
  ASSERT_TRUE(RunLoopUntil([&] { return accepted.State() == wsConnected; }));
  peer.Reset();
  ASSERT_TRUE(RunLoopUntil([&] { return !closed.empty(); }));
  EXPECT_EQ(closed, std::vector<int>{10054});
}

TEST(WSocket, DataBeforeThePeersCloseIsOfferedFirst) {
  TConnectedPair pair;
  std::vector<std::string> events;
  pair.server.OnDataAvailable = [&](TComponent*, std::uint16_t) { events.push_back(pair.server.ReceiveText()); };
  pair.server.OnSessionClosed = [&](TComponent*, std::uint16_t error) { events.push_back("closed " + std::to_string(error)); };
  pair.client.SetLingerOnOff(wsLingerOff);
  pair.client.SendText("last words");
  pair.client.Shutdown(1);
  ASSERT_TRUE(RunLoopUntil([&] { return pair.server.State() == wsClosed; }));
  std::string data;
  for (std::size_t i = 0; i + 1 < events.size(); ++i) data += events[i];
  EXPECT_EQ(data, "last words");
  EXPECT_EQ(events.back(), "closed 0");
  EXPECT_EQ(pair.server.ReadCount(), 0);  // restored by the close
}

// A socket whose system send accepts only a budget of bytes, then would block.
class TThrottledSocket : public TWSocket {
 public:
  using TWSocket::TWSocket;
  using TCustomWSocket::SendQueue;
  int budget = 1000;

 protected:
  int RawSend(const void* data, int length) override {
    if (budget <= 0) {
      winsock::WSASetLastError(winsock::WSAEWOULDBLOCK);
      return -1;
    }
    int sent = TWSocket::RawSend(data, std::min(length, budget));
    if (sent > 0) budget -= sent;
    return sent;
  }
};

TEST(WSocket, SendQueuesBlocksAndReportsOneDataSent) {
  auto listener = ListenOnLoopback();
  TThrottledSocket client;
  int peerFd = -1;
  listener->OnSessionAvailable = [&](TComponent*, std::uint16_t) { peerFd = listener->Accept(); };
  int dataSent = 0;
  client.OnDataSent = [&](TComponent*, std::uint16_t) { ++dataSent; };
  client.SetAddr("127.0.0.1");
  client.SetPort(listener->BoundPort());
  client.Connect();
  ASSERT_TRUE(RunLoopUntil([&] { return client.State() == wsConnected && peerFd >= 0 && dataSent == 1; }));
  dataSent = 0;

  std::string payload(4000, '\0');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7);
  EXPECT_EQ(client.Send(payload.data(), 4000), 4000);
  ASSERT_EQ(client.SendQueue().size(), 3u);
  std::vector<int> unsent;
  for (const auto& block : client.SendQueue()) unsent.push_back(block->UnsentCount());
  EXPECT_EQ(unsent, (std::vector<int>{514, 1514, 972}));  // blocks of 1514, 1514 and 972
  RunLoopFor(30);
  EXPECT_EQ(dataSent, 0);

  client.budget = 100000;
  client.Loop().PostMessage(client.Handle(), WM_SOCKET_SELECT, static_cast<TWParam>(client.HSocket()),
                            MakeSelectLParam(FD_WRITE, 0));
  ASSERT_TRUE(RunLoopUntil([&] { return dataSent > 0; }));
  RunLoopFor(30);
  EXPECT_EQ(dataSent, 1);
  EXPECT_EQ(client.SendQueue().size(), 1u);  // the last block stays for reuse
  std::string received(4000, '\0');
  std::size_t got = 0;
  ASSERT_TRUE(RunLoopUntil([&] {
    ssize_t n = ::recv(peerFd, received.data() + got, received.size() - got, MSG_DONTWAIT);
    if (n > 0) got += static_cast<std::size_t>(n);
    return got == received.size();
  }));
  EXPECT_EQ(received, payload);

  // A larger block size makes the next blocks larger: the same bytes in fewer pieces.
  client.SetBufSize(8192);
  client.budget = 0;
  EXPECT_EQ(client.Send(payload.data(), 4000), 4000);
  unsent.clear();
  for (const auto& block : client.SendQueue()) unsent.push_back(block->UnsentCount());
  EXPECT_EQ(unsent, (std::vector<int>{1514, 2486}));  // the kept block, then one of 8192
  client.SetBufSize(0);
  EXPECT_EQ(client.BufSize(), 1514);
  ::close(peerFd);
}

TEST(WSocket, LargeSendDrainsAsThePeerReads) {
  TConnectedPair pair;
  std::string payload(3 * 1024 * 1024, '\0');
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i % 251);
  std::string received;
  int dataSent = 0;
  pair.server.OnDataAvailable = [&](TComponent*, std::uint16_t) { received += pair.server.ReceiveText(); };
  pair.client.OnDataSent = [&](TComponent*, std::uint16_t) { ++dataSent; };
  // Small system buffers, so that most of the payload waits in the queue.
  winsock::setsockopt(pair.client.HSocket(), SOL_SOCKET, SO_SNDBUF, 32768);
  winsock::setsockopt(pair.server.HSocket(), SOL_SOCKET, SO_RCVBUF, 32768);
  RunLoopFor(20);
  dataSent = 0;
  EXPECT_EQ(pair.client.Send(payload.data(), static_cast<int>(payload.size())), static_cast<int>(payload.size()));
  EXPECT_FALSE(pair.client.AllSent());
  ASSERT_TRUE(RunLoopUntil([&] { return received.size() == payload.size(); }, 20000))
      << received.size() << " sent " << dataSent << " allsent " << pair.client.AllSent();
  RunLoopFor(20);
  EXPECT_EQ(dataSent, 1);
  EXPECT_TRUE(received == payload);
}

// Collects what a line-mode socket offers: each line, then "closed".
struct TLineRecorder {
  std::vector<std::string> events;
  void Attach(TWSocket& socket) {
    socket.OnDataAvailable = [this, &socket](TComponent*, std::uint16_t) { events.push_back(socket.ReceiveText()); };
    socket.OnSessionClosed = [this](TComponent*, std::uint16_t) { events.push_back("<closed>"); };
  }
};

TEST(WSocketLineMode, OffersEveryLineOfOneReceive) {
  TConnectedPair pair;
  TLineRecorder recorder;
  recorder.Attach(pair.server);
  pair.server.SetLineMode(true);
  pair.server.SetLineEnd("\n");
  pair.client.SendText("GET / HTTP/1.0\r\nHost: x\r\n\r\n");
  ASSERT_TRUE(RunLoopUntil([&] { return recorder.events.size() == 3; }));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"GET / HTTP/1.0\r\n", "Host: x\r\n", "\r\n"}));
}

TEST(WSocketLineMode, FindsLineEndSplitAcrossReceivesAndOffersTheLastLineBeforeClosing) {
  TConnectedPair pair;
  TLineRecorder recorder;
  recorder.Attach(pair.server);
  pair.server.SetLineMode(true);
  pair.client.SendText("first\r");
  RunLoopFor(30);
  EXPECT_TRUE(recorder.events.empty());
  pair.client.SendText("\nsecond\r\nunterminated");
  ASSERT_TRUE(RunLoopUntil([&] { return recorder.events.size() == 2; }));
  pair.client.SetLingerOnOff(wsLingerOff);
  pair.client.Close();
  ASSERT_TRUE(RunLoopUntil([&] { return recorder.events.size() == 4; }));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"first\r\n", "second\r\n", "unterminated", "<closed>"}));
}

TEST(WSocketLineMode, SwitchingOffMidLineKeepsTheUnreadBytesInOrder) {
  TConnectedPair pair;
  std::string plain;
  int lines = 0;
  pair.server.SetLineMode(true);
  pair.server.OnDataAvailable = [&](TComponent*, std::uint16_t) {
    if (pair.server.LineMode()) {
      char head[4];
      ASSERT_EQ(pair.server.Receive(head, 4), 4);
      EXPECT_EQ(std::string(head, 4), "HEAD");
      ++lines;
      pair.server.SetLineMode(false);
    } else {
      plain += pair.server.ReceiveText();
    }
  };
  pair.client.SendText("HEADER\r\nbody line\r\nmore");
  ASSERT_TRUE(RunLoopUntil([&] { return plain == "ER\r\nbody line\r\nmore"; }));
  pair.client.SendText(" and later");
  ASSERT_TRUE(RunLoopUntil([&] { return plain == "ER\r\nbody line\r\nmore and later"; }));
  EXPECT_EQ(lines, 1);
}

TEST(WSocketLineMode, AnEndlessLineIsCutOffAtTheLimit) {
  TConnectedPair pair;
  TLineRecorder recorder;
  recorder.Attach(pair.server);
  pair.server.SetLineMode(true);
  pair.server.SetLineEnd("\n");
  EXPECT_EQ(pair.server.LineLimit(), 65536);
  pair.client.SendText("short\n");
  std::string endless(70000, 'x');
  pair.client.SendText(endless);
  ASSERT_TRUE(RunLoopUntil([&] { return pair.server.State() == wsClosed; }));
  // Without an OnLineTooLong handler the socket closes; the long line is never offered.
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"short\n", "<closed>"}));

  TConnectedPair handled;
  int tooLong = 0;
  handled.server.SetLineMode(true);
  handled.server.SetLineLimit(10);
  handled.server.OnLineTooLong = [&](TComponent*) {
    ++tooLong;
    handled.server.SetLineMode(false);  // take the rest as plain data
  };
  std::string plain;
  handled.server.OnDataAvailable = [&](TComponent*, std::uint16_t) { plain += handled.server.ReceiveText(); };
  handled.client.SendText("0123456789ABCDEF\r\n");
  ASSERT_TRUE(RunLoopUntil([&] { return plain == "0123456789ABCDEF\r\n"; }));
  EXPECT_EQ(tooLong, 1);
  EXPECT_EQ(handled.server.State(), wsConnected);
}

TEST(WSocketLineMode, EditLineAppliesBackspaceAndTabWithEcho) {
  TConnectedPair pair;
  TLineRecorder recorder;
  recorder.Attach(pair.server);
  pair.server.SetLineMode(true);
  pair.server.SetLineEdit(true);
  pair.server.SetLineEcho(true);
  std::string echo;
  pair.client.OnDataAvailable = [&](TComponent*, std::uint16_t) { echo += pair.client.ReceiveText(); };
  pair.client.SendText("abx");
  RunLoopFor(20);
  pair.client.SendText("\b\bc\td\r\n");
  ASSERT_TRUE(RunLoopUntil([&] { return recorder.events.size() == 1 && echo.size() >= 19; }));
  EXPECT_EQ(recorder.events[0], "ac      d\r\n");
  EXPECT_EQ(echo, "abx\b \b\b \bc      d\r\n");
}

TEST(WSocket, BackgroundExceptionsAbortUnlessTheHandlerKeepsTheSocket) {
  TConnectedPair pair;
  std::string seen;
  pair.server.OnBgException = [&](TComponent*, const std::exception& e, bool& canClose) {
    seen = e.what();
    canClose = false;
  };
  pair.server.Loop().PostMessage(pair.server.Handle(), WM_TEST_EXCEPTION, 0, 0);
  ASSERT_TRUE(RunLoopUntil([&] { return !seen.empty(); }));
  EXPECT_EQ(seen, "Test exception in WSocket");
  EXPECT_EQ(pair.server.State(), wsConnected);

  pair.server.OnBgException = nullptr;
  pair.server.Loop().PostMessage(pair.server.Handle(), WM_TEST_EXCEPTION, 0, 0);
  ASSERT_TRUE(RunLoopUntil([&] { return pair.server.State() == wsClosed; }));

  // An exception from OnDataAvailable is swallowed by the read loop.
  TConnectedPair reading;
  int calls = 0;
  reading.server.OnDataAvailable = [&](TComponent*, std::uint16_t) {
    ++calls;
    reading.server.ReceiveText();
    throw ESocketException("handler failed");
  };
  reading.client.SendText("data");
  ASSERT_TRUE(RunLoopUntil([&] { return calls == 1; }));
  EXPECT_EQ(reading.server.State(), wsConnected);
}

TEST(WSocket, DeferredCloseAndFreeRunFromTheLoop) {
  TConnectedPair pair;
  pair.server.CloseLater();
  EXPECT_EQ(pair.server.State(), wsConnected);
  ASSERT_TRUE(RunLoopUntil([&] { return pair.server.State() == wsClosed; }));

  struct TTracked : TWSocket {
    bool* freed;
    explicit TTracked(bool* flag) : freed(flag) {}
    ~TTracked() override { *freed = true; }
  };
  bool freed = false;
  auto* socket = new TTracked(&freed);
  socket->FreeLater();
  EXPECT_FALSE(freed);
  ASSERT_TRUE(RunLoopUntil([&] { return freed; }));
}

TEST(WSocket, PausedSocketHearsNothingUntilResumed) {
  TConnectedPair pair;
  std::string received;
  pair.server.OnDataAvailable = [&](TComponent*, std::uint16_t) { received += pair.server.ReceiveText(); };
  EXPECT_TRUE(pair.server.Pause());
  pair.client.SendText("while paused");
  RunLoopFor(50);
  EXPECT_EQ(received, "");
  EXPECT_TRUE(pair.server.Resume());
  ASSERT_TRUE(RunLoopUntil([&] { return received == "while paused"; }));
}

TEST(WSocket, ReceivingPausedLeavesDataWaitingWhileWritesAndTheCloseGoOn) {
  TConnectedPair pair;
  std::string received;
  int sent = 0, closed = 0;
  pair.server.OnDataAvailable = [&](TComponent*, std::uint16_t) { received += pair.server.ReceiveText(); };
  pair.server.OnDataSent = [&](TComponent*, std::uint16_t) { ++sent; };
  pair.server.OnSessionClosed = [&](TComponent*, std::uint16_t) { ++closed; };
  pair.server.PauseReceiving();
  pair.client.SendText("while paused");
  pair.server.SendText("answer");
  ASSERT_TRUE(RunLoopUntil([&] { return sent > 0; }));
  RunLoopFor(50);
  EXPECT_EQ(received, "");
  pair.server.ResumeReceiving();
  ASSERT_TRUE(RunLoopUntil([&] { return received == "while paused"; }));
  // A close while paused is heard, and the data before it is still there to read.
  pair.server.PauseReceiving();
  pair.client.SendText(" last words");
  pair.client.Shutdown(1);
  ASSERT_TRUE(RunLoopUntil([&] { return closed == 1; }));
  EXPECT_EQ(received, "while paused last words");
}

TEST(WSocket, TheReceivedByteCountPassesTwoGigabytes) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  TWSocket socket;
  socket.Dup(pair[0]);
  const std::int64_t total = (std::int64_t{1} << 31) + 12345;
  std::thread writer([peer = pair[1], total] {
    std::vector<char> block(1 << 20, 'x');
    for (std::int64_t left = total; left > 0;) {
      ssize_t put = ::write(peer, block.data(), static_cast<std::size_t>(std::min<std::int64_t>(left, 1 << 20)));
      if (put <= 0) break;
      left -= put;
    }
    ::close(peer);
  });
  std::vector<char> buffer(1 << 20);
  for (;;) {
    const int got = socket.Receive(buffer.data(), static_cast<int>(buffer.size()));
    if (got == 0 || (got < 0 && socket.LastError() != winsock::WSAEWOULDBLOCK)) break;
    if (got < 0) {
      pollfd readable{socket.HSocket(), POLLIN, 0};
      ::poll(&readable, 1, 100);
    }
  }
  writer.join();
  EXPECT_EQ(socket.ReadCount(), total);
}

TEST(WSocket, LookupsCompleteFromTheLoopAndCancelledOnesStaySilent) {
  TWSocket socket;
  std::vector<int> done;
  socket.OnDnsLookupDone = [&](TComponent*, std::uint16_t error) { done.push_back(error); };
  socket.DnsLookup(" 10.0.0.1");
  EXPECT_EQ(done, std::vector<int>{0});
  EXPECT_EQ(socket.DnsResult(), "10.0.0.1");

  done.clear();
  socket.DnsLookup("localhost");
  EXPECT_TRUE(done.empty());
  ASSERT_TRUE(RunLoopUntil([&] { return !done.empty(); }));
  EXPECT_EQ(done, std::vector<int>{0});
  EXPECT_EQ(socket.DnsResult(), "127.0.0.1");
  EXPECT_GE(socket.DnsResultList().Count(), 1);

  done.clear();
  socket.ReverseLookup("127.0.0.1");
  ASSERT_TRUE(RunLoopUntil([&] { return !done.empty(); }));
  EXPECT_EQ(done, std::vector<int>{0});
  EXPECT_FALSE(socket.DnsResult().empty());

  done.clear();
  socket.DnsLookup("localhost");
  socket.CancelLookup();
  RunLoopFor(200);
  EXPECT_EQ(done, std::vector<int>{10004});

  EXPECT_EQ(ErrorMessage([&] { socket.DnsLookup(""); }), "DNS lookup: invalid host name.");
}

}  // namespace
}  // namespace driftpost
