#include "http/HttpSrv.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <vector>

#include "TempDir.h"
#include "net/NetTestKit.h"

namespace driftpost {
namespace {

using testing::RunLoopFor;
using testing::RunLoopUntil;
using testing::TempDir;
using testing::TRawClient;
using testing::WriteFile;

constexpr std::size_t Everything = std::string::npos;

// A port that nothing listens on at the moment.
int FreePort() {
  TWSocket probe;
  probe.SetProto("tcp");
  probe.SetAddr("127.0.0.1");
  probe.SetPort("0");
  probe.Listen();
  return std::stoi(probe.BoundPort());
}

// What one document event saw of its request.
struct TSeenRequest {
  std::string Method, Version, Path, Params, Document, ContentType, Accept, AcceptLanguage, UserAgent, Host,
      Connection;
  std::int32_t ContentLength = 0;
  std::vector<std::string> Headers;
};

TSeenRequest Capture(const THttpConnection& connection) {
  return TSeenRequest{connection.Method(),         connection.Version(),   connection.Path(),
                      connection.Params(),         connection.Document(),  connection.ReqContentType(),
                      connection.ReqAccept(),      connection.ReqAcceptLanguage(),
                      connection.ReqUserAgent(),   connection.ReqHost(),   connection.ReqConnection(),
                      connection.ReqContentLength(), connection.ReqHeaders().Items()};
}

// Records the size of every send, to see how answers are cut into chunks.
std::vector<int> sendSizes;
class TRecordingConnection : public THttpConnection {
 public:
  using THttpConnection::THttpConnection;
  int Send(const void* data, int length) override {
    sendSizes.push_back(length);
    return THttpConnection::Send(data, length);
  }
};

std::unique_ptr<TMemoryStream> StreamOf(const std::string& bytes) {
  auto stream = std::make_unique<TMemoryStream>();
  stream->WriteText(bytes);
  stream->SetPosition(0);
  return stream;
}

class HttpSrvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir.File("www/a"));
    server.SetAddr("127.0.0.1");
    server.SetPort("0");
    server.SetDocDir(dir.File("www"));
    server.OnServerStarted = [this](TComponent*) { events.push_back("started"); };
    server.OnServerStopped = [this](TComponent*) { events.push_back("stopped"); };
    server.OnClientConnect = [this](TComponent*, THttpConnection*, std::uint16_t error) {
      events.push_back("connect " + std::to_string(error) + " count " + std::to_string(server.ClientCount()));
    };
    server.OnClientDisconnect = [this](TComponent*, THttpConnection*, std::uint16_t error) {
      events.push_back("disconnect " + std::to_string(error) + " count " + std::to_string(server.ClientCount()));
    };
    server.Start();
  }

  int Port() { return std::stoi(server.ListeningSocket()->BoundPort()); }

  // One request on a connection of its own: everything the server sent until it closed.
  std::string Exchange(const std::string& request) {
    TRawClient client(Port());
    client.Send(request);
    return client.Read(Everything);
  }

  // Answers every GET with `answer` as a handed-over stream.
  void AnswerWith(const std::string& answer) {
    server.OnGetDocument = [answer](TComponent*, THttpConnection* client, THttpGetFlag& flags) {
      flags = hfSelfAnswer;
      client->SetDocumentStream(StreamOf(answer));
      client->SendDocumentStream();
    };
  }

  bool AllClientsGone() {
    return RunLoopUntil([this] { return server.ClientCount() == 0; });
  }

  TempDir dir;
  THttpServer server;
  std::vector<std::string> events;
};

TEST_F(HttpSrvTest, RequestLineAndHeaderLinesFillTheRequestRecord) {
  std::vector<TSeenRequest> seen;
  server.OnGetDocument = [&seen](TComponent*, THttpConnection* client, THttpGetFlag& flags) {
    seen.push_back(Capture(*client));
    flags = hfNotFound;
  };
  std::string answer = Exchange(
      "get /page?x=1&y=2 http/1.1\r\n"
      "Content-Length: 12\r\ncontent-type: text/plain\r\nAccept:*/*\r\nAccept-Language:   de\r\n"
      "USER-AGENT: tester\r\nHost: here\r\nConnection : Keep-Alive\r\nX-Other: y\r\nno colon at all\r\n\r\n");
  EXPECT_EQ(answer.substr(0, 24), "HTTP/1.1 404 Not Found\r\n");
  Exchange("GET /nothing\r\nContent-Length: twelve\r\n\r\n");
  Exchange("GET\r\n\r\n");
  Exchange("GET a/b.txt HTTP/1.0\r\n\r\n");
  // Old browsers write the blanks of a link into the request line as they are.
  Exchange("GET /my file.txt?q=a b HTTP/1.0\r\n\r\n");
  Exchange("GET /a/ HTTP/1.0 trailing words\r\n\r\n");
  ASSERT_EQ(seen.size(), 6u);

  const std::string www = dir.File("www");
  EXPECT_EQ(seen[0].Method, "GET");
  EXPECT_EQ(seen[0].Version, "HTTP/1.1");
  EXPECT_EQ(seen[0].Path, "/page");
  EXPECT_EQ(seen[0].Params, "x=1&y=2");
  EXPECT_EQ(seen[0].Document, www + "/page");
  EXPECT_EQ(seen[0].ContentLength, 12);
  EXPECT_EQ(seen[0].ContentType, "text/plain");
  EXPECT_EQ(seen[0].Accept, "*/*");
  EXPECT_EQ(seen[0].AcceptLanguage, "de");
  EXPECT_EQ(seen[0].UserAgent, "tester");
  EXPECT_EQ(seen[0].Host, "here");
  EXPECT_EQ(seen[0].Connection, "");  // the colon must follow the name directly
  EXPECT_EQ(seen[0].Headers, (std::vector<std::string>{"Content-Length: 12", "content-type: text/plain",
                                                       "Accept:*/*", "Accept-Language:   de", "USER-AGENT: tester",
                                                       "Host: here", "Connection : Keep-Alive", "X-Other: y",
                                                       "no colon at all"}));

  EXPECT_EQ(seen[1].Version, "HTTP/1.0");
  EXPECT_EQ(seen[1].Params, "");
  EXPECT_EQ(seen[1].ContentLength, 0);
  EXPECT_EQ(seen[2].Path, "");
  EXPECT_EQ(seen[2].Document, www + "/index.html");
  EXPECT_EQ(seen[3].Document, www + "/a/b.txt");
  EXPECT_EQ(seen[4].Path, "/my file.txt");
  EXPECT_EQ(seen[4].Params, "q=a b");
  EXPECT_EQ(seen[4].Version, "HTTP/1.0");
  EXPECT_EQ(seen[5].Document, www + "/a/index.html");
  EXPECT_EQ(seen[5].Version, "HTTP/1.0");
}

TEST_F(HttpSrvTest, FilesAreServedFromTheDocumentFolder) {
  WriteFile(dir.File("www/index.html"), "<p>hi</p>");
  WriteFile(dir.File("www/a/b.txt"), "0123456789");
  // Without a GET handler the engine serves files itself.
  EXPECT_EQ(Exchange("GET / HTTP/1.0\r\n\r\n"),
            "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 9\r\n\r\n<p>hi</p>");
  EXPECT_EQ(Exchange("HEAD /a/b.txt http/1.1\r\n\r\n"),
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 10\r\n\r\n");
  const std::string notFound =
      "<HTML><HEAD><TITLE>404 Not Found</TITLE></HEAD><BODY><H1>404 Not Found</H1>The requested URL /x was not "
      "found on this server.<P></BODY></HTML>\r\n";
  ASSERT_EQ(notFound.size(), 144u);
  EXPECT_EQ(Exchange("GET /x HTTP/1.0\r\n\r\n"),
            "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\nContent-Length: 144\r\n\r\n" + notFound);
  // A folder is no file; the 404 answer closes the connection.
  EXPECT_EQ(Exchange("GET /a HTTP/1.0\r\n\r\n").substr(0, 22), "HTTP/1.0 404 Not Found");
  EXPECT_TRUE(AllClientsGone());

  EXPECT_EQ(THttpConnection::ContentTypeForFile("/x/page.HTM"), "text/html");
  EXPECT_EQ(THttpConnection::ContentTypeForFile("/x/a.Gif"), "image/gif");
  EXPECT_EQ(THttpConnection::ContentTypeForFile("/x/a.bmp"), "image/bmp");
  EXPECT_EQ(THttpConnection::ContentTypeForFile("/x/a.jpeg"), "image/jpeg");
  EXPECT_EQ(THttpConnection::ContentTypeForFile("/x.txt/readme"), "application/binary");
}

TEST_F(HttpSrvTest, PathsThatLeaveTheDocumentFolderGet404) {
  WriteFile(dir.File("secret"), "the secret");
  WriteFile(dir.File("www/index.html"), "public");
  for (const char* request : {"GET /../secret HTTP/1.0", "HEAD /../secret HTTP/1.0", "GET ../secret HTTP/1.0",
                              "HEAD /a/../../secret HTTP/1.0", "GET /a/.. HTTP/1.0", "GET /a/../index.html HTTP/1.0"}) {
    std::string answer = Exchange(std::string(request) + "\r\n\r\n");
    EXPECT_EQ(answer.substr(0, 22), "HTTP/1.0 404 Not Found") << request;
    EXPECT_EQ(answer.find("the secret"), std::string::npos) << request;
  }
  // Names that only look like a parent stay files of the folder.
  WriteFile(dir.File("www/..x"), "dots");
  EXPECT_NE(Exchange("GET /..x HTTP/1.0\r\n\r\n").find("\r\n\r\ndots"), std::string::npos);
  // Without a document folder nothing is a file to serve, not even one from the root.
  server.SetDocDir("");
  EXPECT_EQ(Exchange("GET /etc/hostname HTTP/1.0\r\n\r\n").substr(0, 22), "HTTP/1.0 404 Not Found");
}

TEST_F(HttpSrvTest, UnknownMethodsAndDeclinedRequestsEndTheConnection) {
  EXPECT_EQ(Exchange("OPTIONS / HTTP/1.0\r\n\r\n").substr(0, 22), "HTTP/1.0 404 Not Found");
  // POST without a handler that accepts its body.
  EXPECT_EQ(Exchange("POST /form HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc").substr(0, 22), "HTTP/1.0 404 Not Found");
  // hfAcceptData on a GET, or a value outside the table: closed without an answer.
  server.OnGetDocument = [](TComponent*, THttpConnection*, THttpGetFlag& flags) { flags = hfAcceptData; };
  EXPECT_EQ(Exchange("GET / HTTP/1.0\r\n\r\n"), "");
  server.OnGetDocument = [](TComponent*, THttpConnection*, THttpGetFlag& flags) {
    flags = static_cast<THttpGetFlag>(77);
  };
  EXPECT_EQ(Exchange("GET / HTTP/1.0\r\n\r\n"), "");
  // A handler that fails leaves nothing to wait for.
  server.OnGetDocument = [](TComponent*, THttpConnection*, THttpGetFlag&) { throw Exception("broken"); };
  EXPECT_EQ(Exchange("GET / HTTP/1.0\r\n\r\n"), "");
  EXPECT_TRUE(AllClientsGone());
}

TEST_F(HttpSrvTest, AnAcceptedPostBodyIsOfferedLineByLine) {
  std::vector<std::string> body;
  server.OnPostDocument = [](TComponent*, THttpConnection*, THttpGetFlag& flags) { flags = hfAcceptData; };
  server.OnPostedData = [&body](TComponent*, THttpConnection* client, std::uint16_t) {
    body.push_back(client->ReceiveText());
    if (body.size() == 2) {
      client->SetDocumentStream(StreamOf("done"));
      client->SendDocumentStream();
    }
  };
  EXPECT_EQ(Exchange("POST /form HTTP/1.0\r\nContent-Length: 8\r\n\r\nab\ncdef\n"), "done");
  EXPECT_EQ(body, (std::vector<std::string>{"ab\n", "cdef\n"}));
}

TEST_F(HttpSrvTest, AnswersLeaveInChunksOfOneFrame) {
  server.SetClientClass(HttpConnectionClassOf<TRecordingConnection>());
  server.Stop();
  server.Start();
  const std::vector<std::pair<std::size_t, std::vector<int>>> cases = {
      {1514, {1514}}, {1515, {1514, 1}}, {0, {}}};
  for (const auto& [size, chunks] : cases) {
    sendSizes.clear();
    const std::string document(size, 'd');
    AnswerWith(document);
    EXPECT_EQ(Exchange("GET / HTTP/1.0\r\n\r\n"), document);
    EXPECT_EQ(sendSizes, chunks);
  }
  // A long answer arrives whole, in order.
  std::string large;
  for (int i = 0; i < 200000; ++i) large += static_cast<char>('a' + i % 23);
  AnswerWith(large);
  EXPECT_EQ(Exchange("GET / HTTP/1.0\r\n\r\n"), large);
  EXPECT_TRUE(AllClientsGone());
}

TEST_F(HttpSrvTest, KeepAliveKeepsTheConnectionAndItsHeaderLines) {
  std::vector<std::vector<std::string>> headers;
  server.OnGetDocument = [&headers](TComponent*, THttpConnection* client, THttpGetFlag& flags) {
    headers.push_back(client->ReqHeaders().Items());
    flags = hfSelfAnswer;
    client->SetDocumentStream(StreamOf("one"));
    client->SendDocumentStream();
  };
  TRawClient client(Port());
  client.Send("GET /1 HTTP/1.0\r\nConnection: keep-ALIVE\r\n\r\n");
  // Sending is shut down after the answer; the connection itself stays.
  EXPECT_EQ(client.Read(Everything), "one");
  RunLoopFor(100);
  EXPECT_EQ(server.ClientCount(), 1);

  // The next request is seen with every header line so far, but can no longer be answered:
  // the connection closes instead of leaving the client waiting.
  client.Send("GET /2 HTTP/1.0\r\nX-Second: 2\r\n\r\n");
  EXPECT_TRUE(AllClientsGone());
  EXPECT_EQ(headers, (std::vector<std::vector<std::string>>{{"Connection: keep-ALIVE"},
                                                            {"Connection: keep-ALIVE", "X-Second: 2"}}));

  TRawClient other(Port());
  other.Send("GET /3 HTTP/1.0\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(other.Read(Everything), "one");
  EXPECT_TRUE(AllClientsGone());
}

TEST_F(HttpSrvTest, AFloodOfHeaderLinesIsCutOffWhileOthersAreServed) {
  AnswerWith("served");
  // One endless line, and endless short header lines: both are cut off.
  for (const std::string& piece : {std::string(4096, 'a'), "X-Filler: " + std::string(990, 'b') + "\r\n"}) {
    TRawClient flood(Port());
    flood.Send("GET / HTTP/1.0\r\n");
    std::string block;
    while (block.size() < 64 * 1024) block += piece;
    std::size_t sent = 0;
    std::size_t nextCheck = 0;
    bool cutOff = false;
    while (!cutOff && sent < 32u << 20) {
      ssize_t result = ::send(flood.Fd(), block.data(), block.size(), MSG_NOSIGNAL);
      if (result > 0) sent += static_cast<std::size_t>(result);
      if (result < 0 && errno != EAGAIN) cutOff = true;
      RunLoopFor(1);
      if (sent >= nextCheck) {
        // Someone else is served all the while.
        nextCheck += 256 * 1024;
        TRawClient other(Port());
        other.Send("GET / HTTP/1.0\r\n\r\n");
        ASSERT_EQ(other.Read(Everything), "served");
      }
      if (!cutOff) cutOff = flood.WaitForClose(0);
    }
    EXPECT_TRUE(cutOff) << "still open after " << sent << " bytes";
    EXPECT_GT(sent, piece.size() > 4096 ? THttpConnection::MaxHeaderBytes : std::size_t{TCustomLineWSocket::DefaultLineLimit});
  }
  EXPECT_TRUE(AllClientsGone());
}

TEST_F(HttpSrvTest, ServerEventsComeInOrderAndCountTheClients) {
  server.Start();  // already listening: nothing happens
  EXPECT_EQ(events, std::vector<std::string>{"started"});
  const int firstPort = Port();
  TRawClient first(firstPort);
  TRawClient second(firstPort);
  ASSERT_TRUE(RunLoopUntil([this] { return server.ClientCount() == 2; }));

  // A new port restarts listening; the connections stay.
  server.SetPort("0");  // the same text: nothing happens
  EXPECT_EQ(events.size(), 3u);
  server.SetPort(std::to_string(FreePort()));
  EXPECT_EQ(server.ClientCount(), 2);
  AnswerWith("still here");
  first.Send("GET / HTTP/1.0\r\n\r\n");
  EXPECT_EQ(first.Read(Everything), "still here");
  ASSERT_TRUE(RunLoopUntil([this] { return server.ClientCount() == 1; }));

  server.Stop();
  ASSERT_TRUE(AllClientsGone());
  EXPECT_EQ(events, (std::vector<std::string>{"started", "connect 0 count 1", "connect 0 count 2", "stopped",
                                              "started", "disconnect 0 count 2", "stopped", "disconnect 0 count 1"}));
}

TEST_F(HttpSrvTest, ATakenPortFailsTheStartAndLeavesTheServerStopped) {
  THttpServer other;
  other.SetAddr("127.0.0.1");
  other.SetPort(std::to_string(Port()));
  bool started = false;
  other.OnServerStarted = [&started](TComponent*) { started = true; };
  try {
    other.Start();
    FAIL() << "started on a taken port";
  } catch (const ESocketException& error) {
    EXPECT_EQ(error.Message(), "Error 10048 in function Bind\r\nAddress already in use");
  }
  EXPECT_FALSE(started);
  EXPECT_NE(other.ListeningSocket()->State(), wsListening);
  // Once the port is free the same server starts.
  server.Stop();
  other.Start();
  EXPECT_TRUE(started);
}

TEST_F(HttpSrvTest, DestroyingTheServerFiresNothing) {
  auto temporary = std::make_unique<THttpServer>();
  std::vector<std::string> seen;
  temporary->SetAddr("127.0.0.1");
  temporary->SetPort("0");
  temporary->OnServerStopped = [&seen](TComponent*) { seen.push_back("stopped"); };
  temporary->OnClientDisconnect = [&seen](TComponent*, THttpConnection*, std::uint16_t) {
    seen.push_back("disconnect");
  };
  temporary->Start();
  TRawClient client(std::stoi(temporary->ListeningSocket()->BoundPort()));
  ASSERT_TRUE(RunLoopUntil([&] { return temporary->ClientCount() == 1; }));
  temporary.reset();
  EXPECT_TRUE(client.WaitForClose());
  RunLoopFor(50);
  EXPECT_TRUE(seen.empty());
}

}  // namespace
}  // namespace driftpost
