#include "app/core/NewtonAddress.h"

#include <algorithm>
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

namespace driftpost {

namespace {

constexpr const char* LoopbackAddress = "127.0.0.1";

bool IsLoopback(const in_addr& address) { return (ntohl(address.s_addr) >> 24) == 127; }

}  // namespace

std::vector<TInterfaceAddress> LocalIPv4Addresses() {
  std::vector<TInterfaceAddress> addresses;
  struct ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return addresses;
  for (const struct ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !(entry->ifa_flags & IFF_UP)) continue;
    const in_addr& address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr;
    char text[INET_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET, &address, text, sizeof text)) continue;
    addresses.push_back({text, (entry->ifa_flags & IFF_LOOPBACK) != 0 || IsLoopback(address)});
  }
  ::freeifaddrs(list);
  return addresses;
}

std::string NewtonUrl(const std::string& address, const std::string& port) {
  return "http://" + address + (port == "80" ? std::string() : ":" + port) + "/";
}

std::vector<std::string> NewtonAddressLines(const std::vector<TInterfaceAddress>& addresses,
                                            const std::string& port) {
  std::vector<std::string> reachable, loopback;
  for (const TInterfaceAddress& entry : addresses) {
    std::vector<std::string>& group = entry.Loopback ? loopback : reachable;
    if (std::find(group.begin(), group.end(), entry.Address) == group.end()) group.push_back(entry.Address);
  }
  if (reachable.empty()) reachable = loopback.empty() ? std::vector<std::string>{LoopbackAddress} : loopback;
  std::vector<std::string> lines;
  for (const std::string& address : reachable) lines.push_back("Open " + NewtonUrl(address, port) + " on the Newton");
  return lines;
}

}  // namespace driftpost
