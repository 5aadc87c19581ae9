#pragma once
// Dial-up (remote access) phone-book entries, which the server dialog offers for the
// availability choice "When connected to the selected connection(s):". Linux has no
// phone book: the listing is always empty and says so in the log (at the verbose level),
// and nothing changes the availability settings a server has stored.
#include <string>
#include <vector>

namespace zev {

// The remote-access code for "unknown error", which a system without remote access gives.
constexpr int kRasUnknownError = 635;

struct FDialupListing {
  std::vector<std::string> entries;
  int result = 0;  // 0, or the remote-access error code
};

FDialupListing ListDialupEntries();

}  // namespace zev
