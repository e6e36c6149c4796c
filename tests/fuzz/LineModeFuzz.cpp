// Line mode takes bytes from any peer: whatever they are and however they are split into
// receives, the lines offered must be the same as for one receive, no line may exceed the
// limit, and nothing may crash.
//
// Input: byte 0 picks LineEnd, byte 1 the line limit, byte 2 the number of split points,
// then one byte per split point (the length of each receive), then the payload.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "net/WSocket.h"

namespace {

using namespace driftpost;

void Settle() {
  TMessageLoop& loop = TMessageLoop::Current();
  do {
    loop.ProcessMessages();
  } while (loop.WaitForWork(std::chrono::milliseconds(0)));
}

std::vector<std::string> Offer(const std::string& lineEnd, int limit, const std::string& payload,
                               const std::vector<std::size_t>& chunks) {
  std::vector<std::string> events;
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) != 0) std::abort();
  // Room for any input at once, so that each write is one receive.
  int size = 1 << 20;
  ::setsockopt(pair[1], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  ::setsockopt(pair[0], SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  bool closed = false;
  {
    TWSocket socket;
    socket.SetLineMode(true);
    socket.SetLineEnd(lineEnd);
    socket.SetLineLimit(limit);
    socket.OnDataAvailable = [&](TComponent*, std::uint16_t) {
      std::string line = socket.ReceiveText();
      if (line.size() > static_cast<std::size_t>(limit) + lineEnd.size()) std::abort();  // the limit holds
      events.push_back("line:" + line);
    };
    socket.OnLineTooLong = [&](TComponent*) { events.push_back("too long"); };
    socket.OnSessionClosed = [&](TComponent*, std::uint16_t) {
      events.push_back("closed");
      closed = true;
    };
    socket.Dup(pair[0]);
    std::size_t offset = 0;
    for (std::size_t chunk : chunks) {
      chunk = std::min(chunk, payload.size() - offset);
      if (chunk > 0 && ::send(pair[1], payload.data() + offset, chunk, MSG_NOSIGNAL) < 0) break;
      offset += chunk;
      Settle();
    }
    if (offset < payload.size()) ::send(pair[1], payload.data() + offset, payload.size() - offset, MSG_NOSIGNAL);
    Settle();
    ::close(pair[1]);
    TMessageLoop::Current().RunUntil([&] { return closed; }, std::chrono::milliseconds(2000));
    if (!closed) std::abort();
  }
  return events;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  static const char* const lineEnds[] = {"\n", "\r\n", "\r\n\r\n", "aba"};
  std::string lineEnd = lineEnds[data[0] % 4];
  int limit = data[1] == 255 ? TCustomLineWSocket::DefaultLineLimit : 1 + data[1] % 64;
  std::size_t splits = data[2] % 16;
  std::size_t position = 3;
  std::vector<std::size_t> chunks;
  for (std::size_t i = 0; i < splits && position < size; ++i) chunks.push_back(1 + data[position++]);
  std::string payload(reinterpret_cast<const char*>(data) + position, size - position);

  std::vector<std::string> whole = Offer(lineEnd, limit, payload, {});
  std::vector<std::string> split = Offer(lineEnd, limit, payload, chunks);
  if (whole != split) std::abort();
  return 0;
}
