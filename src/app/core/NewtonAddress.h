// The address a user types into the Newton's browser to reach the server: one for each IPv4
// address of this machine that another device can reach. The machine's addresses are read
// from its network interfaces; tests hand in a list of their own.
#pragma once

#include <string>
#include <vector>

namespace driftpost {

struct TInterfaceAddress {
  std::string Address;  // dotted IPv4, e.g. "192.168.1.20"
  bool Loopback = false;
};

// The IPv4 addresses of the interfaces that are up, in the order the system lists them.
std::vector<TInterfaceAddress> LocalIPv4Addresses();

// "http://192.168.1.20:8080/", without ":80" for port 80.
std::string NewtonUrl(const std::string& address, const std::string& port);

// "Open <url> on the Newton" for every address that is not a loopback one, each once, in the
// list's order. When there is none, the loopback addresses stand in (127.0.0.1 when the list
// has none either), so the user still learns the port.
std::vector<std::string> NewtonAddressLines(const std::vector<TInterfaceAddress>& addresses, const std::string& port);

}  // namespace driftpost
