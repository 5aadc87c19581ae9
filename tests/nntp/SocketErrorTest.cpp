#include "platform/SocketError.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

#include "nntp/Connection.h"
#include "platform/AddressLookup.h"

using namespace zev;
using namespace zev::platform;

TEST(SocketError, ErrnoAndLookupResultsMapOntoTheTable) {
  struct {
    int code;
    int expected;
  } errnos[] = {{ECONNREFUSED, 10061}, {ECONNRESET, 10054}, {EPIPE, 10054}, {ETIMEDOUT, 10060},
                {EHOSTUNREACH, 10065}, {ENETUNREACH, 10051}, {ECONNABORTED, 10053}, {EMFILE, 10024}};
  for (const auto& e : errnos) EXPECT_EQ(SocketErrorFromErrno(e.code), e.expected) << e.code;
  EXPECT_EQ(SocketErrorFromLookup(EAI_NONAME, 0), 11001);
  EXPECT_EQ(SocketErrorFromLookup(EAI_AGAIN, 0), 11002);
  EXPECT_EQ(SocketErrorFromLookup(EAI_SYSTEM, ECONNREFUSED), 10061);
}

TEST(SocketError, TextsAndRetryableSets) {
  EXPECT_EQ(SocketErrorName(10061), "WSAECONNREFUSED (Connection refused)");
  EXPECT_EQ(SocketErrorName(11004), "WSANO_DATA (Valid name, but no data record of requested type)");
  EXPECT_EQ(SocketErrorName(4), "Unknown WinSock error (4)");
  EXPECT_TRUE(WinSockErrorText(10054).starts_with("Error \"WSAECONNRESET (Connection reset by peer)\" 20"));
  for (int code : {10053, 10054, 10055, 10060, 10061, 10064, 10065, 10067}) EXPECT_TRUE(IsRetryableConnectError(code));
  for (int code : {10013, 10051, 11001}) EXPECT_FALSE(IsRetryableConnectError(code));
  for (int code : {10053, 10054, 10055}) EXPECT_TRUE(IsBrokenConnectionError(code));
  EXPECT_FALSE(IsBrokenConnectionError(10060));
}

TEST(SocketError, AddressTextsAndLiteralLookup) {
  std::vector<FSocketAddress> found;
  ASSERT_EQ(LookupHost("::1", 119, found), 0);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(FormatAddress(found[0]), "0:0:0:0:0:0:0:1");
  ASSERT_EQ(LookupHost("127.0.0.1", 119, found), 0);
  EXPECT_EQ(FormatAddress(found[0]), "127.0.0.1");
  // An empty name fails at once, without asking any name server.
  EXPECT_EQ(LookupHost("", 119, found), 11001);
}

TEST(RetryInterval, GrowsByAQuarterUpToTheCeiling) {
  uint32_t interval = 10;
  std::vector<uint32_t> seen;
  for (int i = 0; i < 4; ++i) seen.push_back(interval = GrownRetryInterval(interval));
  EXPECT_EQ(seen, (std::vector<uint32_t>{13, 17, 22, 28}));
  EXPECT_EQ(GrownRetryInterval(590), kMaxRetryInterval);
  EXPECT_EQ(GrownRetryInterval(kMaxRetryInterval), kMaxRetryInterval);
}
