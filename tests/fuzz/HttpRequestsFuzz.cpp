// A connection parses whatever a peer sends: whatever the bytes and however they are split
// into receives, nothing may crash, touch memory outside a buffer, or serve a file from
// outside the document folder, and every connection must end once the peer has finished.
//
// Input: byte 0 picks what the document handlers decide, byte 1 the size of each receive
// (0: all at once), the rest is what the peer sends.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "TempDir.h"
#include "http/HttpSrv.h"

namespace {

using namespace driftpost;

constexpr const char* Secret = "outside-the-document-folder";

// The document folder, with a file inside it and one beside it that must never be sent.
const std::string& DocumentFolder() {
  static testing::TempDir dir;
  static const std::string folder = [] {
    std::filesystem::create_directories(dir.File("www/sub"));
    testing::WriteFile(dir.File("www/index.html"), "inside");
    testing::WriteFile(dir.File("www/sub/page.txt"), "also inside");
    testing::WriteFile(dir.File("secret"), Secret);
    return dir.File("www");
  }();
  return folder;
}

std::unique_ptr<TStream> StreamOf(const std::string& bytes) {
  auto stream = std::make_unique<TMemoryStream>();
  stream->WriteText(bytes);
  stream->SetPosition(0);
  return stream;
}

void Decide(THttpConnection& connection, int mode) {
  auto decide = [&connection, mode](TComponent*, THttpGetFlag& flags) {
    switch (mode) {
      case 1:
        flags = hfSelfAnswer;
        connection.SetDocumentStream(StreamOf("HTTP/1.0 200 OK\r\n\r\n" + connection.Path()));
        connection.SendDocumentStream();
        break;
      case 2:
        flags = hfSendStream;
        connection.SetDocumentStream(StreamOf(connection.Params()));
        break;
      case 3: flags = hfNotFound; break;
      case 4: flags = hfAcceptData; break;
      case 5: throw Exception("handler failed");
      case 6: flags = static_cast<THttpGetFlag>(200); break;
      default: break;  // the engine serves files
    }
  };
  connection.OnGetDocument = decide;
  connection.OnHeadDocument = decide;
  connection.OnPostDocument = decide;
  connection.OnPostedData = [&connection](TComponent*, std::uint16_t) {
    if (connection.ReceiveText().find('!') != std::string::npos) {
      connection.SetDocumentStream(StreamOf("done"));
      connection.SendDocumentStream();
    }
  };
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int mode = data[0] % 7;
  const std::size_t piece = data[1] == 0 ? size : data[1];
  const std::string payload(reinterpret_cast<const char*>(data) + 2, size - 2);

  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) std::abort();
  std::string answer;
  auto drain = [&answer, peer = pair[1]] {
    char buffer[65536];
    ssize_t got;
    while ((got = ::recv(peer, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<std::size_t>(got));
  };
  TMessageLoop& loop = TMessageLoop::Current();
  {
    THttpConnection connection;
    connection.SetDocDir(DocumentFolder());
    connection.SetDefaultDoc("index.html");
    connection.SetLineLimit(512);
    Decide(connection, mode);
    connection.Dup(pair[0]);
    for (std::size_t offset = 0; offset < payload.size(); offset += piece) {
      const std::string part = payload.substr(offset, piece);
      std::size_t sent = 0;
      while (sent < part.size() && connection.State() != wsClosed) {
        ssize_t result = ::send(pair[1], part.data() + sent, part.size() - sent, MSG_NOSIGNAL);
        if (result < 0 && errno != EAGAIN) break;
        if (result > 0) sent += static_cast<std::size_t>(result);
        loop.RunUntil([&] { drain(); return false; }, std::chrono::milliseconds(0));
      }
    }
    // The peer has said everything: whatever state the request is in, the connection ends.
    ::shutdown(pair[1], SHUT_WR);
    bool ended = loop.RunUntil(
        [&] {
          drain();
          return connection.State() == wsClosed;
        },
        std::chrono::milliseconds(5000));
    if (!ended) std::abort();
  }
  drain();
  ::close(pair[1]);
  // Answers repeat the request's path, so only a marker the peer did not send is a leak.
  if (answer.find(Secret) != std::string::npos && payload.find(Secret) == std::string::npos) std::abort();
  return 0;
}
