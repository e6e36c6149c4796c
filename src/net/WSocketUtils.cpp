// The free functions of the socket layer: the start-up record, instance counting, the
// resolvers and the error texts.
#include <arpa/inet.h>
#include <atomic>
#include <cstring>
#include <vector>

#include "net/WSocket.h"
#include "platform/TextUtils.h"

namespace driftpost {

namespace {

std::atomic<int> instanceCount{0};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The decimal value of the digits after leading blanks, or -1 when it exceeds `limit`.
long long LeadingNumberUpTo(const std::string& text, long long limit) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  long long value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > limit) return -1;
  }
  return value;
}

// The address of a text that IsDottedAddress accepts, in network order.
std::uint32_t DottedToAddress(const std::string& text) {
  std::uint32_t hostOrder = 0;
  std::uint32_t part = 0;
  for (char c : text) {
    if (IsDigit(c)) {
      part = part * 10 + static_cast<std::uint32_t>(c - '0');
    } else if (c == '.') {
      hostOrder = (hostOrder << 8) | part;
      part = 0;
    }
  }
  hostOrder = (hostOrder << 8) | part;
  return htonl(hostOrder);
}

}  // namespace

namespace detail {
void AddSocketInstance() { ++instanceCount; }
void RemoveSocketInstance() {
  if (--instanceCount < 1) instanceCount = 0;
}
}  // namespace detail

int WSocketInstanceCount() { return instanceCount; }

void GetWinsockInfo(TWSAData& data) {
  // The socket interface is linked into the program, so there is nothing to load: the
  // record describes what this implementation offers.
  data = TWSAData{};
  data.wVersion = 0x0101;
  data.wHighVersion = 0x0101;
  std::strncpy(data.szDescription, "Driftpost POSIX sockets with message-loop notifications",
               sizeof data.szDescription - 1);
  std::strncpy(data.szSystemStatus, "Running", sizeof data.szSystemStatus - 1);
  data.iMaxSockets = 0xFFFF;
  data.iMaxUdpDg = 65507;
}

bool IsDottedAddress(const std::string& text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  if (i < n && text[i] == '.') return false;
  int dots = 0;
  int part = 0;
  for (; i < n; ++i) {
    char c = text[i];
    if (IsDigit(c)) {
      part = part * 10 + (c - '0');
      if (part > 255) return false;
    } else if (c == '.') {
      if (++dots > 3) return false;
      if (i + 1 >= n || !IsDigit(text[i + 1])) return false;
      part = 0;
    } else {
      // Only trailing blanks may follow the address.
      for (; i < n; ++i)
        if (text[i] != ' ') return false;
      break;
    }
  }
  return dots == 3 && part <= 255;
}

int ParseLeadingNumber(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  // Unsigned arithmetic wraps like the 32-bit integer this was written for.
  std::uint32_t value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
  return static_cast<int>(value);
}

std::uint32_t WSocketResolveHost(const std::string& host) {
  if (host.empty() || host.size() > 256)
    throw ESocketException("WSocketResolveHost: '" + host + "' Invalid Hostname.");
  std::string name = Trim(host);
  if (IsDottedAddress(name)) {
    std::uint32_t address = DottedToAddress(name);
    if (address == winsock::INADDR_NONE_VALUE && name != "255.255.255.255")
      throw ESocketException("WSocketResolveHost: '" + host + "' Invalid IP address.");
    return address;
  }
  std::vector<winsock::TInAddr> addresses;
  int error = winsock::ResolveHostName(name, addresses);
  if (error != 0)
    throw ESocketException(Format("WSocketResolveHost: Cannot convert host address '%s', Error #%d", {host, error}));
  return addresses.front();
}

int WSocketResolvePort(const std::string& port, const std::string& proto) {
  if (port.empty() || port.size() >= 32) throw ESocketException("WSocketResolvePort: Invalid Port.");
  if (IsDigit(port[0])) {
    // A number beyond the 16 bits of a port would silently become another port.
    long long number = LeadingNumberUpTo(port, 65535);
    if (number < 0) throw ESocketException("WSocketResolvePort: Invalid Port.");
    return static_cast<int>(number);
  }
  int number = 0;
  int error = winsock::GetServicePort(Trim(port), Trim(proto), number);
  if (error != 0) throw ESocketException(Format("WSocketResolvePort: Cannot convert port '%s', Error #%d", {port, error}));
  return number;
}

int WSocketResolveProto(const std::string& proto) {
  if (proto.empty() || proto.size() >= 32) throw ESocketException("WSocketResolveProto: Invalid Protocol.");
  std::string name = Trim(proto);
  if (!name.empty() && IsDigit(name[0])) return ParseLeadingNumber(name);
  int number = 0;
  int error = winsock::GetProtocolNumber(name, number);
  if (error != 0)
    throw ESocketException(Format("WSocketResolveProto: Cannot convert protocol '%s', Error #%d", {proto, error}));
  return number;
}

std::string WinsockErrorText(int code) {
  switch (code) {
    case 0: return "No Error";
    case 10004: return "Interrupted system call";
    case 10009: return "Bad file number";
    case 10013: return "Permission denied";
    case 10014: return "Bad address";
    case 10022: return "Invalid argument";
    case 10024: return "Too many open files";
    case 10035: return "Operation would block";
    case 10036: return "Operation now in progress";
    case 10037: return "Operation already in progress";
    case 10038: return "Socket operation on non-socket";
    case 10039: return "Destination address required";
    case 10040: return "Message too long";
    case 10041: return "Protocol wrong type for socket";
    case 10042: return "Protocol not available";
    case 10043: return "Protocol not supported";
    case 10044: return "Socket type not supported";
    case 10045: return "Operation not supported on socket";
    case 10046: return "Protocol family not supported";
    case 10047: return "Address family not supported by protocol family";
    case 10048: return "Address already in use";
    case 10049: return "Address not available";
    case 10050: return "Network is down";
    case 10051: return "Network is unreachable";
    case 10052: return "Network dropped connection on reset";
    case 10053: return "Connection aborted";
    case 10054: return "Connection reset by peer";
    case 10055: return "No buffer space available";
    case 10056: return "Socket is already connected";
    case 10057: return "Socket is not connected";
    case 10058: return "Can't send after socket shutdown";
    case 10059: return "Too many references: can't splice";
    case 10060: return "Connection timed out";
    case 10061: return "Connection refused";
    case 10062: return "Too many levels of symbolic links";
    case 10063: return "File name too long";
    case 10064: return "Host is down";
    case 10065: return "No route to host";
    case 10066: return "Directory not empty";
    case 10067: return "Too many processes";
    case 10068: return "Too many users";
    case 10069: return "Disc quota exceeded";
    case 10070: return "Stale NFS file handle";
    case 10071: return "Too many levels of remote in path";
    case 10091: return "Network sub-system is unusable";
    case 10092: return "WinSock DLL cannot support this application";
    case 10093: return "WinSock not initialized";
    case 11001: return "Host not found";
    case 11002: return "Non-authoritative host not found";
    case 11003: return "Non-recoverable error";
    case 11004: return "No Data";
    default: return "Not a WinSock error";
  }
}

}  // namespace driftpost
