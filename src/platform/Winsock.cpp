#include "platform/Winsock.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace driftpost::winsock {

namespace {

thread_local int lastError = 0;

// Records a failure of the system call that just returned and gives the call's result.
int Fail(int errnoValue) {
  lastError = ErrorFromErrno(errnoValue);
  return SOCKET_ERROR;
}

socklen_t AddressLength() { return static_cast<socklen_t>(sizeof(sockaddr_in)); }

void CopyInet(const sockaddr_storage& from, sockaddr_in& to) {
  std::memset(&to, 0, sizeof to);
  if (from.ss_family == AF_INET)
    std::memcpy(&to, &from, sizeof to);
  else
    to.sin_family = from.ss_family;
}

// ---- asynchronous lookups

struct TLookupTask {
  TMessagePoster Poster;
  THandle Target = 0;
  unsigned Msg = 0;
  THostEntry Answer;
};

std::mutex tasksMutex;
std::map<TTaskHandle, std::shared_ptr<TLookupTask>> tasks;
TTaskHandle nextTask = 1;

TTaskHandle StartLookup(THandle target, unsigned msg, std::function<int(THostEntry&)> query) {
  auto task = std::make_shared<TLookupTask>();
  task->Poster = TMessageLoop::Current().Poster();
  task->Target = target;
  task->Msg = msg;
  TTaskHandle handle;
  {
    std::lock_guard<std::mutex> lock(tasksMutex);
    handle = nextTask++;
    tasks[handle] = task;
  }
  try {
    std::thread([handle, task, query = std::move(query)] {
      THostEntry answer;
      int error = query(answer);
      {
        std::lock_guard<std::mutex> lock(tasksMutex);
        // A cancelled task is no longer listed: its answer is dropped unseen.
        if (!tasks.count(handle)) return;
        task->Answer = std::move(answer);
      }
      task->Poster.PostMessage(task->Target, task->Msg, handle, MakeSelectLParam(0, error));
    }).detach();
  } catch (const std::system_error&) {
    std::lock_guard<std::mutex> lock(tasksMutex);
    tasks.erase(handle);
    lastError = WSAENOBUFS;
    return 0;
  }
  return handle;
}

}  // namespace

int ErrorFromErrno(int errnoValue) {
  switch (errnoValue) {
    case 0: return 0;
    case EINTR: return WSAEINTR;
    case EBADF: return WSAEBADF;
    case EPERM:
    case EACCES: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
    case EAGAIN: return WSAEWOULDBLOCK;
    case EINPROGRESS: return WSAEINPROGRESS;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case EPIPE:
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETOOMANYREFS: return WSAETOOMANYREFS;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ELOOP: return WSAELOOP;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    case ENOTEMPTY: return WSAENOTEMPTY;
    case EUSERS: return WSAEUSERS;
    case EDQUOT: return WSAEDQUOT;
    case ESTALE: return WSAESTALE;
    case EREMOTE: return WSAEREMOTE;
    default: return WSAEINVAL;
  }
}

int ErrorFromLookup(int lookupError) {
  switch (lookupError) {
    case 0: return 0;
    case EAI_NONAME: return WSAHOST_NOT_FOUND;
    case EAI_AGAIN: return WSATRY_AGAIN;
    case EAI_NODATA:
    case EAI_ADDRFAMILY: return WSANO_DATA;
    case EAI_MEMORY: return WSAENOBUFS;
    case EAI_SYSTEM: return ErrorFromErrno(errno);
    default: return WSANO_RECOVERY;
  }
}

int WSAGetLastError() { return lastError; }
void WSASetLastError(int code) { lastError = code; }

std::string inet_ntoa(TInAddr address) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(&address);
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) + "." +
         std::to_string(bytes[3]);
}

TSocket socket(int family, int type, int protocol) {
  int s = ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
  if (s < 0) return Fail(errno);
  return s;
}

int closesocket(TSocket s) {
  TMessageLoop::Current().ForgetSocket(s);
  // No retry on EINTR: Linux has released the descriptor already, and a second close could
  // hit a descriptor that another part of the program has been given meanwhile.
  if (::close(s) != 0 && errno == EBADF) {
    lastError = WSAENOTSOCK;
    return SOCKET_ERROR;
  }
  return 0;
}

int bind(TSocket s, const sockaddr_in& address) {
  if (::bind(s, reinterpret_cast<const sockaddr*>(&address), AddressLength()) != 0) return Fail(errno);
  return 0;
}

int listen(TSocket s, int backlog) {
  if (::listen(s, backlog) != 0) return Fail(errno);
  TMessageLoop::Current().NoteListening(s);
  return 0;
}

TSocket accept(TSocket s, sockaddr_in* address) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  int client;
  do {
    client = ::accept4(s, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
  } while (client < 0 && errno == EINTR);
  int error = errno;
  TMessageLoop::Current().NoteAccept(s);
  if (client < 0) {
    // Linux hands the failure of the pending connection itself (a network error, a
    // protocol error) to accept; to the caller that connection was aborted, and the
    // listening socket is fine.
    switch (error) {
      case EPROTO: case ENOPROTOOPT: case ENETDOWN: case ENONET: case EHOSTDOWN:
      case EHOSTUNREACH: case ENETUNREACH: case EOPNOTSUPP:
        error = ECONNABORTED;
        break;
      default:
        break;
    }
    return Fail(error);
  }
  if (address) CopyInet(peer, *address);
  return client;
}

int connect(TSocket s, const sockaddr_in& address) {
  int result = ::connect(s, reinterpret_cast<const sockaddr*>(&address), AddressLength());
  // An interrupted non-blocking connect goes on in the background like one in progress.
  if (result != 0 && errno != EINPROGRESS && errno != EINTR) return Fail(errno);
  TMessageLoop::Current().NoteConnecting(s);
  if (result == 0) return 0;
  lastError = WSAEWOULDBLOCK;
  return SOCKET_ERROR;
}

int recv(TSocket s, void* buffer, int length, int flags) {
  ssize_t got;
  do {
    got = ::recv(s, buffer, static_cast<std::size_t>(std::max(length, 0)), flags);
  } while (got < 0 && errno == EINTR);
  int error = got < 0 ? errno : 0;
  TMessageLoop::Current().NoteReceive(s, error);
  if (got < 0) return Fail(error);
  return static_cast<int>(got);
}

int recvfrom(TSocket s, void* buffer, int length, int flags, sockaddr_in* from) {
  sockaddr_storage peer{};
  socklen_t peerLength = sizeof peer;
  ssize_t got;
  do {
    got = ::recvfrom(s, buffer, static_cast<std::size_t>(std::max(length, 0)), flags,
                     reinterpret_cast<sockaddr*>(&peer), &peerLength);
  } while (got < 0 && errno == EINTR);
  int error = got < 0 ? errno : 0;
  TMessageLoop::Current().NoteReceive(s, error);
  if (got < 0) return Fail(error);
  if (from) CopyInet(peer, *from);
  return static_cast<int>(got);
}

namespace {

int SendResult(TSocket s, int length, ssize_t sent, int error) {
  // A partial send is one that would have blocked for the rest: the system's buffer is
  // full, and FD_WRITE must come when it has room again.
  if (sent >= 0 && sent < length) TMessageLoop::Current().NoteSendBlocked(s);
  if (sent >= 0) return static_cast<int>(sent);
  if (error == EAGAIN) TMessageLoop::Current().NoteSendBlocked(s);
  // EPIPE means "after shutdown" only when this side shut down sending; otherwise the peer
  // reset the connection and its error was already taken by an earlier call.
  if (error == EPIPE && !TMessageLoop::Current().WriteShutDown(s)) error = ECONNRESET;
  return Fail(error);
}

}  // namespace

int send(TSocket s, const void* data, int length, int flags) {
  ssize_t sent;
  do {
    sent = ::send(s, data, static_cast<std::size_t>(std::max(length, 0)), flags | MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  return SendResult(s, length, sent, sent < 0 ? errno : 0);
}

int sendto(TSocket s, const void* data, int length, int flags, const sockaddr_in& to) {
  ssize_t sent;
  do {
    sent = ::sendto(s, data, static_cast<std::size_t>(std::max(length, 0)), flags | MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr*>(&to), AddressLength());
  } while (sent < 0 && errno == EINTR);
  return SendResult(s, length, sent, sent < 0 ? errno : 0);
}

int shutdown(TSocket s, int how) {
  int posixHow = how == 0 ? SHUT_RD : (how == 1 ? SHUT_WR : SHUT_RDWR);
  if (::shutdown(s, posixHow) != 0) return Fail(errno);
  TMessageLoop::Current().NoteShutdown(s, posixHow);
  return 0;
}

int setsockopt(TSocket s, int level, int option, int value) {
  if (::setsockopt(s, level, option, &value, sizeof value) != 0) return Fail(errno);
  return 0;
}

int SetLinger(TSocket s, int onOff, int seconds) {
  // On Linux, close() of a socket whose linger option is on with a time-out waits in the
  // kernel until the queued data has left or the time-out has passed, even for a
  // non-blocking socket, and the whole message loop would wait with it. So only the
  // abortive form (on with 0 seconds: close resets the connection at once) goes to the
  // kernel unchanged; a graceful linger with a time-out is set as linger off, which makes
  // close() return at once while the kernel still delivers the queued data and the FIN in
  // the background.
  linger value{};
  value.l_onoff = (onOff != 0 && seconds == 0) ? 1 : 0;
  value.l_linger = 0;
  if (::setsockopt(s, SOL_SOCKET, SO_LINGER, &value, sizeof value) != 0) return Fail(errno);
  return 0;
}

int BytesWaiting(TSocket s, unsigned long& count) {
  int waiting = 0;
  if (::ioctl(s, FIONREAD, &waiting) != 0) {
    count = 0;
    return Fail(errno);
  }
  count = static_cast<unsigned long>(std::max(waiting, 0));
  return 0;
}

int BytesUnacknowledged(TSocket s, unsigned long& count) {
  int queued = 0;
  if (::ioctl(s, SIOCOUTQ, &queued) != 0) {
    count = 0;
    return Fail(errno);
  }
  count = static_cast<unsigned long>(std::max(queued, 0));
  return 0;
}

int getsockname(TSocket s, sockaddr_in& address) {
  sockaddr_storage name{};
  socklen_t length = sizeof name;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&name), &length) != 0) return Fail(errno);
  CopyInet(name, address);
  return 0;
}

int getpeername(TSocket s, sockaddr_in& address) {
  sockaddr_storage name{};
  socklen_t length = sizeof name;
  if (::getpeername(s, reinterpret_cast<sockaddr*>(&name), &length) != 0) return Fail(errno);
  CopyInet(name, address);
  return 0;
}

int WSAAsyncSelect(TSocket s, THandle target, unsigned msg, long mask) {
  if (TMessageLoop::Current().AsyncSelect(s, target, msg, mask) != 0) return Fail(errno);
  return 0;
}

int ResolveHostName(const std::string& name, std::vector<TInAddr>& addresses) {
  addresses.clear();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* answer = nullptr;
  int result = ::getaddrinfo(name.c_str(), nullptr, &hints, &answer);
  if (result != 0) {
    lastError = ErrorFromLookup(result);
    return lastError;
  }
  for (addrinfo* entry = answer; entry; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addrlen < sizeof(sockaddr_in)) continue;
    TInAddr address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
    if (std::find(addresses.begin(), addresses.end(), address) == addresses.end()) addresses.push_back(address);
  }
  ::freeaddrinfo(answer);
  if (addresses.empty()) {
    lastError = WSANO_DATA;
    return lastError;
  }
  return 0;
}

int GetServicePort(const std::string& name, const std::string& protocol, int& port) {
  servent entry{};
  servent* found = nullptr;
  char buffer[4096];
  ::getservbyname_r(name.c_str(), protocol.empty() ? nullptr : protocol.c_str(), &entry, buffer, sizeof buffer,
                    &found);
  if (!found) {
    lastError = WSANO_DATA;
    return lastError;
  }
  port = ntohs(static_cast<std::uint16_t>(found->s_port));
  return 0;
}

int GetProtocolNumber(const std::string& name, int& number) {
  protoent entry{};
  protoent* found = nullptr;
  char buffer[4096];
  ::getprotobyname_r(name.c_str(), &entry, buffer, sizeof buffer, &found);
  if (found) {
    number = found->p_proto;
    return 0;
  }
  // A minimal system may lack the protocols database; the two protocols sockets are made
  // with must still resolve.
  static const struct {
    const char* Name;
    int Number;
  } builtIn[] = {{"ip", 0}, {"icmp", 1}, {"tcp", 6}, {"udp", 17}};
  for (const auto& known : builtIn) {
    if (strcasecmp(name.c_str(), known.Name) == 0) {
      number = known.Number;
      return 0;
    }
  }
  lastError = WSANO_DATA;
  return lastError;
}

TTaskHandle WSAAsyncGetHostByName(THandle target, unsigned msg, const std::string& name) {
  return StartLookup(target, msg, [name](THostEntry& answer) {
    int error = ResolveHostName(name, answer.Addresses);
    if (error == 0) answer.Name = name;
    return error;
  });
}

TTaskHandle WSAAsyncGetHostByAddr(THandle target, unsigned msg, TInAddr address) {
  return StartLookup(target, msg, [address](THostEntry& answer) {
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = address;
    char host[NI_MAXHOST];
    int result = ::getnameinfo(reinterpret_cast<const sockaddr*>(&peer), sizeof peer, host, sizeof host, nullptr,
                               0, NI_NAMEREQD);
    if (result != 0) return ErrorFromLookup(result);
    answer.Name = host;
    answer.Addresses.push_back(address);
    return 0;
  });
}

int WSACancelAsyncRequest(TTaskHandle task) {
  std::lock_guard<std::mutex> lock(tasksMutex);
  if (!tasks.erase(task)) {
    lastError = WSAEINVAL;
    return SOCKET_ERROR;
  }
  return 0;
}

THostEntry TakeLookupResult(TTaskHandle task) {
  std::lock_guard<std::mutex> lock(tasksMutex);
  auto it = tasks.find(task);
  if (it == tasks.end()) return {};
  THostEntry answer = std::move(it->second->Answer);
  tasks.erase(it);
  return answer;
}

}  // namespace driftpost::winsock
