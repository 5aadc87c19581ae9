#include "download/QueueRanking.h"

namespace zev {

void TQueueRanking::Begin(TStandingOf standingOf, bool skipOffline) {
  standingOf_ = std::move(standingOf);
  skipOffline_ = skipOffline;
  known_.assign(known_.size(), false);
}

const FServerStanding& TQueueRanking::Standing(TNodeId server) {
  if (server >= known_.size()) {
    known_.resize(server + 1, false);
    standings_.resize(server + 1);
  }
  if (!known_[server]) {
    standings_[server] = standingOf_ ? standingOf_(server) : FServerStanding{};
    known_[server] = true;
  }
  return standings_[server];
}

int TQueueRanking::Rank(TNodeId server, const std::vector<TNodeId>& carriers) {
  const FServerStanding self = Standing(server);
  int rank = 3;
  for (TNodeId other : carriers) {
    if (other == server) continue;
    const FServerStanding& o = Standing(other);
    if (skipOffline_ && o.offline) continue;
    if (o.preference > self.preference) return 0;
    if (o.preference < self.preference) continue;
    if (o.rate > self.rate)
      rank = 1;
    else if (rank == 3)
      rank = 2;
  }
  return rank;
}

}  // namespace zev
