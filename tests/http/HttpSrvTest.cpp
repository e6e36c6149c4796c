#include "http/HttpSrv.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/socket.h>

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
