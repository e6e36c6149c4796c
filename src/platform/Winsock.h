// The socket calls the socket layer is written against: POSIX sockets in the shape of the
// Winsock 1.1 interface, so that every error is reported as its Winsock code (errno is
// translated here, and only here) and readiness arrives as window-style messages through
// the calling thread's TMessageLoop.
//
// Differences from POSIX a caller relies on:
// - every socket is non-blocking and close-on-exec from its creation; nothing here blocks
//   except the blocking name queries (ResolveHostName, GetServicePort, GetProtocolNumber);
// - a failing call returns -1 (or INVALID_SOCKET) and leaves its Winsock code for
//   WSAGetLastError(), which is kept per thread; interrupted calls are retried;
// - receive, accept and a send that would block (or could take only part of the data)
//   enable the matching notification again, as WSAAsyncSelect sockets do; closesocket
//   forgets the socket's notifications;
// - sends never raise SIGPIPE.
#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <vector>

#include "platform/MessageLoop.h"

namespace driftpost::winsock {

using TSocket = int;
constexpr TSocket INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEACCES = 10013;
constexpr int WSAEFAULT = 10014;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAEALREADY = 10037;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEDESTADDRREQ = 10039;
constexpr int WSAEMSGSIZE = 10040;
constexpr int WSAEPROTOTYPE = 10041;
constexpr int WSAENOPROTOOPT = 10042;
constexpr int WSAEPROTONOSUPPORT = 10043;
constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEOPNOTSUPP = 10045;
constexpr int WSAEPFNOSUPPORT = 10046;
constexpr int WSAEAFNOSUPPORT = 10047;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENETDOWN = 10050;
constexpr int WSAENETUNREACH = 10051;
constexpr int WSAENETRESET = 10052;
constexpr int WSAECONNABORTED = 10053;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOBUFS = 10055;
constexpr int WSAEISCONN = 10056;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAESHUTDOWN = 10058;
constexpr int WSAETOOMANYREFS = 10059;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSAELOOP = 10062;
constexpr int WSAENAMETOOLONG = 10063;
constexpr int WSAEHOSTDOWN = 10064;
constexpr int WSAEHOSTUNREACH = 10065;
constexpr int WSAENOTEMPTY = 10066;
constexpr int WSAEPROCLIM = 10067;
constexpr int WSAEUSERS = 10068;
constexpr int WSAEDQUOT = 10069;
constexpr int WSAESTALE = 10070;
constexpr int WSAEREMOTE = 10071;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSAVERNOTSUPPORTED = 10092;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

// The one translation of system errors into Winsock codes.
int ErrorFromErrno(int errnoValue);
// The same for the answers of getaddrinfo/getnameinfo (EAI_*).
int ErrorFromLookup(int lookupError);

int WSAGetLastError();
void WSASetLastError(int code);

// An IPv4 address in network byte order, as the socket address record holds it.
using TInAddr = std::uint32_t;
constexpr TInAddr INADDR_NONE_VALUE = 0xFFFFFFFFu;
// "a.b.c.d" of an address in network order.
std::string inet_ntoa(TInAddr address);

TSocket socket(int family, int type, int protocol);
// Forgets the socket's notifications and releases the descriptor (also when the system
// reports an error: the descriptor is gone either way on this platform).
int closesocket(TSocket s);
int bind(TSocket s, const sockaddr_in& address);
int listen(TSocket s, int backlog);
TSocket accept(TSocket s, sockaddr_in* address);
// Starts a connection; the normal answer is -1 with WSAEWOULDBLOCK, and FD_CONNECT follows.
int connect(TSocket s, const sockaddr_in& address);
int recv(TSocket s, void* buffer, int length, int flags);
int recvfrom(TSocket s, void* buffer, int length, int flags, sockaddr_in* from);
int send(TSocket s, const void* data, int length, int flags);
int sendto(TSocket s, const void* data, int length, int flags, const sockaddr_in& to);
// how: 0 receiving, 1 sending, 2 both.
int shutdown(TSocket s, int how);
int setsockopt(TSocket s, int level, int option, int value);
// SO_LINGER as a Winsock program means it, without ever making close() wait (see .cpp).
int SetLinger(TSocket s, int onOff, int seconds);
// FIONREAD: bytes waiting to be read.
int BytesWaiting(TSocket s, unsigned long& count);
// SIOCOUTQ: bytes handed over for sending that the peer has not acknowledged yet (for a
// local stream socket: not read yet).
int BytesUnacknowledged(TSocket s, unsigned long& count);
// Fill `address`; a peer or local name that is not IPv4 gives a record with only its family.
int getsockname(TSocket s, sockaddr_in& address);
int getpeername(TSocket s, sockaddr_in& address);
int WSAAsyncSelect(TSocket s, THandle target, unsigned msg, long mask);

// ---- name lookups
// Blocking queries, each returning 0 or a Winsock code (also left in WSAGetLastError).
int ResolveHostName(const std::string& name, std::vector<TInAddr>& addresses);
int GetServicePort(const std::string& name, const std::string& protocol, int& port);
int GetProtocolNumber(const std::string& name, int& number);

// Asynchronous lookups: the query runs on a worker thread and its completion is posted to
// `target` as `msg` with WParam = the task handle and the error code in the high word of
// LParam. The answer is then fetched once with TakeLookupResult. A cancelled task posts
// nothing and its answer is dropped. A task handle of 0 means the lookup could not start.
using TTaskHandle = std::uintptr_t;
struct THostEntry {
  std::string Name;
  std::vector<TInAddr> Addresses;
};
TTaskHandle WSAAsyncGetHostByName(THandle target, unsigned msg, const std::string& name);
TTaskHandle WSAAsyncGetHostByAddr(THandle target, unsigned msg, TInAddr address);
int WSACancelAsyncRequest(TTaskHandle task);
THostEntry TakeLookupResult(TTaskHandle task);

}  // namespace driftpost::winsock
