#include "platform/AddressLookup.h"

#include <netdb.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/SocketError.h"

namespace zev::platform {

int LookupHost(const std::string& host, uint16_t port, std::vector<FSocketAddress>& out) {
  out.clear();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const int rc = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
  if (rc != 0) return SocketErrorFromLookup(rc, errno);
  for (const addrinfo* a = list; a; a = a->ai_next) {
    if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
    if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
    FSocketAddress address;
    std::memcpy(&address.addr, a->ai_addr, a->ai_addrlen);
    address.length = a->ai_addrlen;
    out.push_back(address);
  }
  freeaddrinfo(list);
  return out.empty() ? seNoData : seNone;
}

std::string FormatAddress(const FSocketAddress& address) {
  char text[64] = "";
  if (address.Family() == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&address.addr);
    const auto* b = reinterpret_cast<const unsigned char*>(&in->sin_addr);
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
  } else if (address.Family() == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address.addr);
    const unsigned char* b = in6->sin6_addr.s6_addr;
    int pos = 0;
    for (int i = 0; i < 8; ++i)
      pos += std::snprintf(text + pos, sizeof text - pos, i ? ":%X" : "%X", b[2 * i] << 8 | b[2 * i + 1]);
  }
  return text;
}

}  // namespace zev::platform
