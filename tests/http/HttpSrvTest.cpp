#include "http/HttpSrv.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

#include "TempDir.h"
#include "net/NetTestKit.h"

namespace driftpost {
namespace {

using testing::RunLoopFor;
using testing::RunLoopUntil;
using testing::TRawClient;
using testing::WriteFile;

constexpr std::size_t Everything = std::string::npos;

std::vector<int> sendSizes;  // every send of a TRecordingConnection, to see the chunks
class TRecordingConnection : public THttpConnection {
 public:
  using THttpConnection::THttpConnection;
  int Send(const void* data, int length) override {
    sendSizes.push_back(length);
    return THttpConnection::Send(data, length);
  }
};

class HttpSrvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir.File("www/a"));
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.SetDocDir(dir.File("www"));
    server.OnServerStarted = [this](TComponent*) { events.push_back("started"); };
    server.OnServerStopped = [this](TComponent*) { events.push_back("stopped"); };
    server.OnClientConnect = [this](TComponent*, THttpConnection*, std::uint16_t) {
      events.push_back("connect " + std::to_string(server.ClientCount()));
    };
    server.OnClientDisconnect = [this](TComponent*, THttpConnection*, std::uint16_t error) {
      events.push_back("disconnect " + std::to_string(error) + " " + std::to_string(server.ClientCount()));
    };
    server.Start();
  }
  int Port() { return std::stoi(server.ListeningSocket()->BoundPort()); }
  // One request on a connection of its own: all the server sent until it closed.
  std::string Exchange(const std::string& request) {
    TRawClient client(Port());
    client.Send(request);
    return client.Read(Everything);
  }
  void AnswerWith(const std::string& answer) {
    server.OnGetDocument = [answer](TComponent*, THttpConnection* client, THttpGetFlag& flags) {
      flags = hfSelfAnswer;
      auto stream = std::make_unique<TMemoryStream>();
      stream->WriteText(answer + client->Params());
      stream->SetPosition(0);
      client->SetDocumentStream(std::move(stream));
      client->SendDocumentStream();
    };
  }
  bool AllClientsGone() {
    return RunLoopUntil([this] { return server.ClientCount() == 0; });
  }

  testing::TempDir dir;
  std::unique_ptr<THttpServer> owned = std::make_unique<THttpServer>();
  THttpServer& server = *owned;
  std::vector<std::string> events;
};

TEST_F(HttpSrvTest, RequestLineAndHeaderLinesFillTheRequestRecord) {
  std::vector<std::string> seen;
  server.OnGetDocument = [&seen](TComponent*, THttpConnection* client, THttpGetFlag& flags) {
    seen.push_back(client->Method() + "|" + client->Version() + "|" + client->Path() + "|" + client->Params() + "|" +
                   client->Document() + "|" + std::to_string(client->ReqContentLength()) + "|" +
                   client->ReqContentType() + "|" + client->ReqUserAgent() + "|" + client->ReqConnection() + "|" +
                   std::to_string(client->ReqHeaders().Count()));
    flags = hfNotFound;
  };
  EXPECT_EQ(Exchange("get /page?x=1&y=2 http/1.1\r\ncontent-LENGTH: 12\r\nContent-Type:  text/plain\r\n"
                     "USER-AGENT: me\r\nConnection : Keep-Alive\r\nno colon\r\n\r\n")
                .substr(0, 24),
            "HTTP/1.1 404 Not Found\r\n");
  Exchange("GET /a/\r\nContent-Length: twelve\r\n\r\n");
  Exchange("GET a/b.txt HTTP/1.0\r\n\r\n");
  // Old browsers write the blanks of a link into the request line as they are.
  Exchange("GET /my file?q=a b HTTP/1.0\r\n\r\n");
  Exchange("GET / HTTP/1.0 and more\r\n\r\n");
  const std::string www = dir.File("www");
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "GET|HTTP/1.1|/page|x=1&y=2|" + www + "/page|12|text/plain|me||5",
                      "GET|HTTP/1.0|/a/||" + www + "/a/index.html|0||||1",
                      "GET|HTTP/1.0|a/b.txt||" + www + "/a/b.txt|0||||0",
                      "GET|HTTP/1.0|/my file|q=a b|" + www + "/my file|0||||0",
                      "GET|HTTP/1.0|/||" + www + "/index.html|0||||0",
                  }));
}

TEST_F(HttpSrvTest, FilesComeFromTheDocumentFolderAndNeverFromOutside) {
  WriteFile(dir.File("www/index.html"), "<p>hi</p>");
  WriteFile(dir.File("www/a/b.txt"), "0123456789");
  WriteFile(dir.File("secret"), "the secret");
  EXPECT_EQ(Exchange("GET / HTTP/1.0\r\n\r\n"),
            "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 9\r\n\r\n<p>hi</p>");
  EXPECT_EQ(Exchange("HEAD /a/b.txt http/1.1\r\n\r\n"),
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 10\r\n\r\n");
  const std::string notFound =
      "<HTML><HEAD><TITLE>404 Not Found</TITLE></HEAD><BODY><H1>404 Not Found</H1>The requested URL /x was not "
      "found on this server.<P></BODY></HTML>\r\n";
  EXPECT_EQ(Exchange("GET /x HTTP/1.0\r\n\r\n"),
            "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: 144\r\n\r\n" + notFound);
  for (const char* request : {"GET /../secret", "HEAD /../secret", "GET ../secret", "GET /a/../../secret",
                              "GET /a/../index.html", "GET /a", "OPTIONS /"})
    EXPECT_EQ(Exchange(request + std::string(" HTTP/1.0\r\n\r\n")).substr(0, 22), "HTTP/1.0 404 Not Found") << request;
  // Without a document folder nothing is a file, not even one from the root.
  server.SetDocDir("");
  EXPECT_EQ(Exchange("GET /etc/hostname HTTP/1.0\r\n\r\n").substr(0, 22), "HTTP/1.0 404 Not Found");
  EXPECT_TRUE(AllClientsGone());
}

TEST_F(HttpSrvTest, AnswersLeaveInBlocksOf64KiB) {
  server.SetClientClass(HttpConnectionClassOf<TRecordingConnection>());
  server.Stop();
  server.Start();
  const int block = THttpConnection::DocumentBlockSize;
  const std::vector<std::pair<std::size_t, std::vector<int>>> cases = {
      {65536, {block}}, {65537, {block, 1}}, {3 * 65536 + 5, {block, block, block, 5}}, {0, {}}};
  for (const auto& [size, chunks] : cases) {
    sendSizes.clear();
    // Most of the document comes from the handler, the last bytes from the request.
    const std::size_t fromRequest = std::min<std::size_t>(size, 10);
    AnswerWith(std::string(size - fromRequest, 'd'));
    const std::string document(size, 'd');
    EXPECT_EQ(Exchange("GET /?" + std::string(fromRequest, 'd') + " HTTP/1.0\r\n\r\n"), document);
    EXPECT_EQ(sendSizes, chunks);
  }
  AnswerWith("");
  // A handler that fails, or declines with a value that answers nothing, leaves nothing to
  // wait for.
  server.OnGetDocument = [](TComponent*, THttpConnection*, THttpGetFlag&) { throw Exception("broken"); };
  EXPECT_EQ(Exchange("GET / HTTP/1.0\r\n\r\n"), "");
  server.OnGetDocument = [](TComponent*, THttpConnection*, THttpGetFlag& flags) { flags = hfAcceptData; };
  EXPECT_EQ(Exchange("GET / HTTP/1.0\r\n\r\n"), "");
  EXPECT_TRUE(AllClientsGone());
}

TEST_F(HttpSrvTest, KeepAliveKeepsTheConnectionAndItsHeaderLines) {
  std::vector<int> headerCounts;
  AnswerWith("one");
  auto answer = server.OnGetDocument;
  server.OnGetDocument = [&](TComponent* sender, THttpConnection* client, THttpGetFlag& flags) {
    headerCounts.push_back(client->ReqHeaders().Count());
    answer(sender, client, flags);
  };
  TRawClient client(Port());
  client.Send("GET / HTTP/1.0\r\nConnection: keep-ALIVE\r\n\r\n");
  EXPECT_EQ(client.Read(Everything), "one");  // sending is shut down after the answer
  RunLoopFor(50);
  EXPECT_EQ(server.ClientCount(), 1);
  // The next request is seen with every header line so far, but cannot be answered: the
  // connection closes rather than leave the client waiting.
  client.Send("GET / HTTP/1.0\r\nX-Second: 2\r\n\r\n");
  EXPECT_TRUE(AllClientsGone());
  EXPECT_EQ(headerCounts, (std::vector<int>{1, 2}));
}

TEST_F(HttpSrvTest, AFloodOfHeaderLinesIsCutOffWhileOthersAreServed) {
  AnswerWith("served");
  TRawClient flood(Port());
  flood.Send("GET / HTTP/1.0\r\n");
  std::string lines;
  while (lines.size() < 64 * 1024) lines += "X-Filler: " + std::string(990, 'b') + "\r\n";
  std::size_t sent = 0;
  bool cutOff = false;
  for (std::size_t nextCheck = 0; !cutOff && sent < (32u << 20);) {
    ssize_t result = ::send(flood.Fd(), lines.data(), lines.size(), MSG_NOSIGNAL);
    if (result > 0) sent += static_cast<std::size_t>(result);
    cutOff = (result < 0 && errno != EAGAIN) || flood.WaitForClose(1);
    if (sent >= nextCheck) {
      nextCheck += 256 * 1024;
      ASSERT_EQ(Exchange("GET / HTTP/1.0\r\n\r\n"), "served");
    }
  }
  EXPECT_TRUE(cutOff);
  EXPECT_GT(sent, THttpConnection::MaxHeaderBytes);
}

TEST_F(HttpSrvTest, NotFoundAnswersEscapeThePathAndGiveHeadOnlyTheHeader) {
  const std::string body = "<HTML><HEAD><TITLE>404 Not Found</TITLE></HEAD><BODY><H1>404 Not Found</H1>The "
                           "requested URL /&lt;b&gt;&amp;&quot;x&quot; was not found on this server.<P></BODY></HTML>"
                           "\r\n";
  const std::string header = "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: " +
                             std::to_string(body.size()) + "\r\n\r\n";
  EXPECT_EQ(Exchange("GET /<b>&\"x\" HTTP/1.0\r\n\r\n"), header + body);
  EXPECT_EQ(Exchange("HEAD /<b>&\"x\" HTTP/1.0\r\n\r\n"), header);
  // Only a real version is echoed in the status line.
  for (const char* version : {"JUNK\x1B[2J", "HTTP/1.0X", "HTTP/12.0", "HTTP/1.", "FTP/1.0"})
    EXPECT_EQ(Exchange("GET /x " + std::string(version) + "\r\n\r\n").substr(0, 24), "HTTP/1.0 404 Not Found\r\n")
        << version;
  EXPECT_EQ(Exchange("GET /x http/2.0\r\n\r\n").substr(0, 24), "HTTP/2.0 404 Not Found\r\n");
}

// Answers of `size` bytes from the document folder, made of its offsets.
class HttpSrvPeerTest : public HttpSrvTest {
 protected:
  std::string Document(const std::string& name, std::size_t size) {
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 7 + i / 4093);
    WriteFile(dir.File("www/" + name), content);
    return "HTTP/1.0 200 OK\r\nContent-Type: application/binary\r\nContent-Length: " + std::to_string(size) +
           "\r\n\r\n" + content;
  }
  // Sends `count` bytes on the client's socket from a thread of its own, until done or
  // refused, while this thread runs the loop; true when all of them went.
  struct TFlood {
    std::atomic<bool> Done{false};
    bool AllSent = false;
    std::thread Sender;
    ~TFlood() {
      RunLoopUntil([this] { return Done.load(); }, 20000);
      Sender.join();
    }
  };
  void Flood(TFlood& flood, TRawClient& client, std::size_t count) {
    flood.Sender = std::thread([&flood, fd = client.Fd(), count] {
      const std::string block(65536, 'z');
      std::size_t sent = 0;
      while (sent < count) {
        ssize_t put = ::send(fd, block.data(), std::min(block.size(), count - sent), MSG_NOSIGNAL);
        if (put > 0) {
          sent += static_cast<std::size_t>(put);
        } else if (put < 0 && errno == EAGAIN) {
          pollfd writable{fd, POLLOUT, 0};
          ::poll(&writable, 1, 100);
        } else {
          break;
        }
      }
      flood.AllSent = sent == count;
      flood.Done = true;
    });
  }
  std::vector<std::string> dropped;

  void SetUp() override {
    HttpSrvTest::SetUp();
    server.OnConnectionDropped = [this](TComponent*, THttpConnection*, const std::string& reason) {
      dropped.push_back(reason);
    };
  }
};

TEST_F(HttpSrvPeerTest, APeerThatHasFinishedSendingStillGetsTheWholeAnswer) {
  const std::string big = Document("big.bin", 4 << 20);
  AnswerWith("self answer ");
  for (const auto& [request, answer] : std::vector<std::pair<std::string, std::string>>{
           {"GET /big.bin HTTP/1.0\r\n\r\n", big},
           {"HEAD /big.bin HTTP/1.0\r\n\r\n", big.substr(0, big.find("\r\n\r\n") + 4)},
           {"GET /?x HTTP/1.0\r\n\r\n", "self answer x"}}) {
    if (request[0] == 'G' && request[5] == '?') {
      AnswerWith("self answer ");
    } else {
      server.OnGetDocument = nullptr;
    }
    TRawClient client(Port());
    client.Send(request);
    ::shutdown(client.Fd(), SHUT_WR);
    EXPECT_EQ(client.Read(Everything, 20000), answer) << request;
  }
  EXPECT_TRUE(AllClientsGone());
}

TEST_F(HttpSrvPeerTest, WhatFollowsTheRequestIsDroppedWithoutCuttingTheAnswer) {
  const std::string big = Document("big.bin", 4 << 20);
  {
    // More than a line may hold, without a line end.
    TRawClient client(Port());
    client.Send("GET /big.bin HTTP/1.0\r\n\r\n" + std::string(100 << 10, 'x'));
    EXPECT_EQ(client.Read(Everything, 20000), big);
  }
  {
    // Far more than is read: the connection stops reading, ends its answer, then closes.
    TRawClient client(Port());
    client.Send("GET /big.bin HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n");
    TFlood flood;
    Flood(flood, client, 16 << 20);
    EXPECT_EQ(client.Read(Everything, 20000), big);
    // After the answer the connection reads on until the peer is done.
    EXPECT_TRUE(RunLoopUntil([&] { return flood.Done.load(); }, 10000));
    EXPECT_TRUE(flood.AllSent);
  }
  EXPECT_TRUE(AllClientsGone());
  EXPECT_EQ(dropped, std::vector<std::string>{});
}

TEST_F(HttpSrvPeerTest, AConnectionClosingWithUnreadInputLetsItsAnswerArriveFirst) {
  // A POST nobody takes is answered 404 and closed, with most of its body unread. The
  // client reads only once it has sent everything.
  TRawClient client(Port());
  client.Send("POST /form HTTP/1.0\r\n\r\n" + std::string(3 << 20, 'p'));
  RunLoopFor(300);
  const std::string answer = client.Read(Everything);
  EXPECT_EQ(answer.substr(0, 24), "HTTP/1.0 404 Not Found\r\n");
  EXPECT_EQ(answer.size(), 219u) << answer;
  // Once the peer closes, the connection goes at once, not after its drain time.
  client.Close();
  EXPECT_TRUE(RunLoopUntil([this] { return server.ClientCount() == 0; }, 1000));
}

TEST_F(HttpSrvPeerTest, ConnectionsWithoutARequestInTimeAreDroppedAndSaySo) {
  server.SetRequestTimeout(std::chrono::milliseconds(300));
  AnswerWith("kept ");
  const auto started = std::chrono::steady_clock::now();
  TRawClient silent(Port());
  TRawClient half(Port());
  half.Send("GET / HTTP/1.0\r\nHost: x");
  TRawClient trickle(Port());
  TRawClient kept(Port());
  kept.Send("GET /?alive HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n");
  EXPECT_EQ(kept.Read(Everything), "kept alive");
  // One byte every 50 ms is activity, but no request.
  const std::string request = "GET / HTTP/1.0\r\nX-Slow: " + std::string(100, 's');
  for (char byte : request) {
    if (trickle.WaitForClose(50)) break;
    if (::send(trickle.Fd(), &byte, 1, MSG_NOSIGNAL) != 1) break;
  }
  const auto trickled = std::chrono::steady_clock::now() - started;
  EXPECT_LT(trickled, std::chrono::milliseconds(1500));
  for (TRawClient* client : {&silent, &half, &kept}) EXPECT_TRUE(client->WaitForClose(2000));
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));
  EXPECT_TRUE(AllClientsGone());
  EXPECT_EQ(dropped, std::vector<std::string>(4, "no complete request within 0.3 s"));
}

TEST_F(HttpSrvPeerTest, AnAnswerThatMakesNoProgressIsDroppedButASlowReaderIsNot) {
  server.SetRequestTimeout(std::chrono::milliseconds(300));
  Document("big.bin", 16 << 20);
  // Both with small windows, so that the answers wait for them soon.
  TRawClient stalled, slow;
  for (TRawClient* client : {&stalled, &slow}) {
    const int small = 4096;
    ::setsockopt(client->Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    client->Connect(Port());
    client->Send("GET /big.bin HTTP/1.0\r\n\r\n");
  }
  // The slow reader takes up to 8 KB every 100 ms, for four time limits; the other takes
  // nothing.
  std::size_t taken = 0;
  for (int i = 0; i < 12; ++i) {
    RunLoopFor(100);
    char buffer[8192];
    const ssize_t got = ::recv(slow.Fd(), buffer, sizeof buffer, 0);
    if (got > 0) taken += static_cast<std::size_t>(got);
  }
  EXPECT_GT(taken, 12u * 4096);
  EXPECT_EQ(dropped, std::vector<std::string>{"the answer made no progress for 0.3 s"});
  EXPECT_EQ(server.ClientCount(), 1);
  EXPECT_TRUE(stalled.WaitForClose());
}

TEST_F(HttpSrvPeerTest, AFileIsSentAsLongAsItWasAtTheStartAndEndsEarlyWhenItShrinks) {
  const std::string grows = Document("grows.bin", 1 << 20);
  {
    TRawClient client(Port());
    client.Send("GET /grows.bin HTTP/1.0\r\n\r\n");
    std::string answer = client.Read(1000);
    std::ofstream(dir.File("www/grows.bin"), std::ios::app) << std::string(1 << 20, 'g');
    answer += client.Read(Everything);
    EXPECT_EQ(answer, grows);
  }
  // A client with a small window keeps the server from reading far ahead in the file.
  const std::string shrinks = Document("shrinks.bin", 8 << 20);
  TRawClient client;
  const int small = 4096;
  ::setsockopt(client.Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  client.Connect(Port());
  client.Send("GET /shrinks.bin HTTP/1.0\r\n\r\n");
  std::string answer = client.Read(65536);
  std::filesystem::resize_file(dir.File("www/shrinks.bin"), 2 << 20);
  answer += client.Read(Everything);
  EXPECT_LT(answer.size(), shrinks.size());
  EXPECT_EQ(answer, shrinks.substr(0, answer.size()));
  ASSERT_EQ(dropped.size(), 1u);
  const std::string sent = std::to_string(answer.size() - shrinks.find("\r\n\r\n") - 4);
  EXPECT_EQ(dropped[0],
            dir.File("www/shrinks.bin") + " became shorter while it was sent: " + sent + " of 8388608 bytes");
}

TEST_F(HttpSrvTest, ServerEventsComeInOrder) {
  server.Start();  // listening already: nothing happens
  TRawClient first(Port());
  TRawClient second(Port());
  ASSERT_TRUE(RunLoopUntil([this] { return server.ClientCount() == 2; }));
  // Another address restarts listening (the same port text does nothing); the connections
  // stay.
  server.SetPort("0");
  server.SetAddr("127.0.0.2");
  AnswerWith("still here");
  first.Send("GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(first.Read(Everything), "still here");
  ASSERT_TRUE(RunLoopUntil([this] { return server.ClientCount() == 1; }));
  server.Stop();
  ASSERT_TRUE(AllClientsGone());
  EXPECT_EQ(events, (std::vector<std::string>{"started", "connect 1", "connect 2", "stopped", "started",
                                              "disconnect 0 2", "stopped", "disconnect 0 1"}));

  // The port is taken by another: the start fails and nothing fires.
  server.SetAddr("127.0.0.1");
  server.Start();
  THttpServer other;
  other.SetAddr("127.0.0.1");
  other.SetPort(server.ListeningSocket()->BoundPort());
  other.OnServerStarted = [this](TComponent*) { events.push_back("other started"); };
  try {
    other.Start();
    ADD_FAILURE() << "started on a taken port";
  } catch (const ESocketException& error) {
    EXPECT_EQ(error.Message(), "Error 10048 in function Bind\r\nAddress already in use");
  }
  EXPECT_EQ(events.back(), "started");

  // Destroying the server closes its connections without any event.
  TRawClient third(Port());
  ASSERT_TRUE(RunLoopUntil([this] { return server.ClientCount() == 1; }));
  const std::size_t before = events.size();
  owned.reset();
  EXPECT_TRUE(third.WaitForClose());
  EXPECT_EQ(events.size(), before);
}

}  // namespace
}  // namespace driftpost
