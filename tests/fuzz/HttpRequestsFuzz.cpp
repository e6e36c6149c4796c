// A connection parses whatever a peer sends: whatever the bytes and however they are split
// into receives, nothing may crash, touch memory outside a buffer, or send a file from
// outside the document folder, and the connection must end soon once the peer has finished
// (shut down its sending side, at any point of its request) or has reset the connection.
//
// Input: byte 0 picks what the document handlers decide; byte 1 the receives: 0 sends all
// at once, n > 0 pieces of 1 to 2n bytes; byte 2 where the peer stops: n < 255 shuts down
// sending after n/255 of the rest (n odd: a reset instead), 255 after all of it; the rest
// is what the peer sends.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

#include "TempDir.h"
#include "http/HttpSrv.h"

namespace {

using namespace driftpost;

constexpr const char* Secret = "outside-the-document-folder";

// The document folder, with a file beside it that must never be sent.
const std::string& DocumentFolder() {
  static testing::TempDir dir;
  static const std::string folder = [] {
    std::filesystem::create_directories(dir.File("www/sub"));
    testing::WriteFile(dir.File("www/index.html"), "inside");
    testing::WriteFile(dir.File("secret"), Secret);
    return dir.File("www");
  }();
  return folder;
}

void Answer(THttpConnection& connection, const std::string& text) {
  auto stream = std::make_unique<TMemoryStream>();
  stream->WriteText(text);
  stream->SetPosition(0);
  connection.SetDocumentStream(std::move(stream));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const int mode = data[0] % 7;
  const unsigned pieces = data[1];
  const unsigned stop = data[2];
  std::string payload(reinterpret_cast<const char*>(data) + 3, size - 3);
  const bool reset = stop < 255 && stop % 2 == 1;
  if (stop < 255) payload.resize(payload.size() * stop / 255);
  std::minstd_rand pieceSizes(pieces);
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) std::abort();
  std::string answer;
  auto drain = [&answer, peer = pair[1]] {
    char buffer[65536];
    ssize_t got;
    while ((got = ::recv(peer, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<std::size_t>(got));
    return false;
  };
  TMessageLoop& loop = TMessageLoop::Current();
  {
    THttpConnection connection;
    connection.SetDocDir(DocumentFolder());
    connection.SetDefaultDoc("index.html");
    connection.SetLineLimit(512);
    // 0: files; 1: a self answer; 2: hfSendStream; 3: 404; 4: accept data; 5: a failing
    // handler; 6: a value outside the table.
    connection.OnGetDocument = connection.OnHeadDocument = connection.OnPostDocument =
        [&connection, mode](TComponent*, THttpGetFlag& flags) {
          if (mode == 5) throw Exception("handler failed");
          if (mode == 1 || mode == 2) Answer(connection, "HTTP/1.0 200 OK\r\n\r\n" + connection.Path());
          if (mode == 1) connection.SendDocumentStream();
          const THttpGetFlag decisions[] = {flags, hfSelfAnswer, hfSendStream, hfNotFound, hfAcceptData, flags,
                                            static_cast<THttpGetFlag>(200)};
          flags = decisions[mode];
        };
    connection.OnPostedData = [&connection](TComponent*, std::uint16_t) {
      if (connection.ReceiveText().find('!') == std::string::npos) return;
      Answer(connection, "done");
      connection.SendDocumentStream();
    };
    connection.Dup(pair[0]);
    for (std::size_t offset = 0, piece = 0; offset < payload.size() && connection.State() != wsClosed;
         offset += piece) {
      piece = pieces == 0 ? payload.size() : 1 + pieceSizes() % (2 * pieces);
      const std::string part = payload.substr(offset, piece);
      for (std::size_t sent = 0; sent < part.size() && connection.State() != wsClosed;) {
        ssize_t result = ::send(pair[1], part.data() + sent, part.size() - sent, MSG_NOSIGNAL);
        if (result < 0 && errno != EAGAIN) break;
        if (result > 0) sent += static_cast<std::size_t>(result);
        loop.RunUntil(drain, std::chrono::milliseconds(0));
      }
    }
    // The peer has said everything, or gives up: whatever state the request is in, the
    // connection ends once its answer (if any) has gone.
    if (reset) {
      ::close(pair[1]);
      pair[1] = -1;
    } else {
      ::shutdown(pair[1], SHUT_WR);
    }
    if (!loop.RunUntil([&] { return (pair[1] >= 0 && drain()) || connection.State() == wsClosed; },
                       std::chrono::seconds(5)))
      std::abort();
  }
  if (pair[1] >= 0) {
    drain();
    ::close(pair[1]);
  }
  // Answers repeat the request's path, so only a marker the peer did not send is a leak.
  if (answer.find(Secret) != std::string::npos && payload.find(Secret) == std::string::npos) std::abort();
  return 0;
}
