#pragma once
// How suitable a server is for an article that other servers carry too. The answer, from
// 0 to 3, orders body items of equal score:
//   0  a server of higher preference carries it: this server gives way;
//   1  a server of equal preference that is faster carries it;
//   2  only servers of equal preference that are not faster carry it;
//   3  no other server carries it.
// Servers of lower preference do not count. With "lower priority servers when higher ones
// are offline" on, servers that are only retrying their connection do not count either.
//
// The standing of each server (preference, average rate, offline) is taken once per
// selection, so every bucket of one connection's choice is ranked on the same figures.
#include <cstdint>
#include <functional>
#include <vector>

#include "download/QueueItem.h"

namespace zev {

class TServer;

struct FServerStanding {
  int8_t preference = 0;
  double rate = 0;  // average kB/s
  bool offline = false;
};

class TQueueRanking {
 public:
  using TStandingOf = std::function<FServerStanding(TNodeId)>;

  // Starts a selection: standings are looked up on first use through `standingOf`.
  void Begin(TStandingOf standingOf, bool skipOffline);
  int Rank(TNodeId server, const std::vector<TNodeId>& carriers);

 private:
  const FServerStanding& Standing(TNodeId server);

  TStandingOf standingOf_;
  bool skipOffline_ = false;
  std::vector<FServerStanding> standings_;
  std::vector<bool> known_;
};

}  // namespace zev
