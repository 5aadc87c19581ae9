#pragma once
// What a connection works with besides its slot: where its commands come from, where the
// newsgroup list goes, whom it trusts, and how long its "second" is (tests shorten it so
// that time-outs and retry waits take milliseconds).
#include <chrono>
#include <memory>
#include <string>

namespace zev {

class TCommandSource;
class TNewsgroupFeed;
class TTlsContext;

struct FConnectionEnv {
  TCommandSource* source = nullptr;  // null: gCommandSource
  TNewsgroupFeed* feed = nullptr;    // null: gNewsgroupFeed
  std::shared_ptr<TTlsContext> tls;  // null: the system's trusted certificates
  // The unit of the receive loop's wait, the idle and no-response time-outs and the retry
  // wait.
  std::chrono::milliseconds second{1000};
  // Directory of the per-connection logs; empty: the server's data directory.
  std::string logDir;
};

}  // namespace zev
