#pragma once
// Name lookup for stream connections: every address of a host, IPv6 and IPv4 alike, in
// the order the resolver prefers, and the address texts the program shows.
#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zev::platform {

struct FSocketAddress {
  sockaddr_storage addr{};
  socklen_t length = 0;
  int Family() const { return addr.ss_family; }
};

// Resolves `host` (a name or an address literal) for `port`. Returns 0, or a socket error
// code (SocketError.h) when the lookup failed or found no address.
int LookupHost(const std::string& host, uint16_t port, std::vector<FSocketAddress>& out);

// "192.0.2.1" for IPv4; IPv6 as eight upper-case hexadecimal groups without leading
// zeros and without "::" compression ("0:0:0:0:0:0:0:1"), the form the connection
// entries have always shown; "" for other families.
std::string FormatAddress(const FSocketAddress& address);

}  // namespace zev::platform
