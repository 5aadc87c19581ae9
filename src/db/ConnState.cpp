#include "db/ConnState.h"

namespace zev {

const char* ConnStateText(TConnState state) {
  static constexpr const char* kTexts[kConnStateCount] = {
      "",
      "Connected",
      "Switching mode...",
      "Authorizing...",
      "Authorizing...",
      "Checking supported commands...",
      "Receiving (new) newsgroups...",
      "Checking server date...",
      "Selecting newsgroup...",
      "Receiving headers... ",
      "Receiving article ",
      "Ready",
      "Error!",
      "Connecting...",
      "User disconnected",
      "Retrying...",
  };
  return state < kConnStateCount ? kTexts[state] : "";
}

}  // namespace zev
