#include "nntp/ConnMgrPass.h"

#include "db/Server.h"

namespace zev {

namespace {

bool AnyAliveIdle(const TServer& server) {
  for (const auto& slot : server.Children())
    if (slot->IsSlot() && kAliveIdleStates.Contains(slot->State())) return true;
  return false;
}

bool OverTransferLimit(const TServer& server) {
  return server.Daily.LimitReached(server.Has(sfDailyLimit)) ||
         server.Monthly.LimitReached(server.Has(sfMonthlyLimit));
}

}  // namespace

int64_t CountLiveSlots(const TServer& node) {
  if (node.IsSlot()) {
    const TConnState s = node.State();
    return s != csIdle && s != csError && s != csUserDisconnected;
  }
  int64_t n = 0;
  for (const auto& child : node.Children()) n += CountLiveSlots(*child);
  return n;
}

FPassResult TConnMgrPass::Run(const std::vector<std::unique_ptr<TServer>>& roots) {
  result_ = {};
  for (const auto& root : roots) Visit(*root, -1, -1);
  return result_;
}

// `limit`: the tightest MaxConn of the node and its ancestors; `excess`: -1 below that
// limit, 0 at it, 1 above it.
void TConnMgrPass::Visit(TServer& node, int64_t limit, int excess) {
  const int64_t maxConn = node.MaxConn;
  if (limit < 0 || maxConn < limit) limit = maxConn;
  if (node.IsFolderLike()) {
    const int64_t live = CountLiveSlots(node);
    if (excess <= 0 && limit == live) excess = 0;
    else if (limit < live) excess = 1;
    for (const auto& child : node.Children()) Visit(*child, limit, excess);
    return;
  }
  if (node.IsNewsServer() && node.Has(sfConnectOnDemand)) VisitServer(node, limit, excess);
}

void TConnMgrPass::VisitServer(TServer& server, int64_t limit, int excess) {
  int64_t live = CountLiveSlots(server);
  const bool over = static_cast<int64_t>(server.MaxConn) < live || excess > 0;
  const bool under = excess < 0;
  if (over || live == limit || !under) StopPhase(server, over, live);
  if (result_.limitHit && !(live < limit && under && !AnyAliveIdle(server))) return;
  StartPhase(server, live, limit, under);
}

void TConnMgrPass::StopPhase(TServer& server, bool over, int64_t& live) {
  const bool aboveOwnLimit = static_cast<int64_t>(server.MaxConn) < live;
  for (const auto& child : server.Children()) {
    TServer& slot = *child;
    if (!slot.IsSlot() || !slots_.HasConnection(slot)) continue;
    if (!slot.AutoStarted && !aboveOwnLimit) continue;
    if (!kBusyStates.Contains(slot.State())) {
      if (over) {
        slots_.Stop(slot);
        --live;
        return;
      }
      Consider(slot, live);
    } else if (over && (!result_.stopCandidate || !result_.stopCandidateOver)) {
      Consider(slot, live);
    }
  }
}

void TConnMgrPass::Consider(TServer& slot, int64_t live) {
  if (slots_.DisconnectPending(slot)) return;
  const bool slotOver = static_cast<int64_t>(slot.NewsServer().MaxConn) < live;
  if (TServer* c = result_.stopCandidate) {
    if (result_.stopCandidateOver && !slotOver) return;
    if (c->AutoStarted && !slot.AutoStarted) return;
    if (c->Paused && !slot.Paused) return;
    if (slot.Idle < c->Idle) return;
  }
  result_.stopCandidate = &slot;
  result_.stopCandidateOver = slotOver;
}

void TConnMgrPass::StartPhase(TServer& server, int64_t live, int64_t limit, bool under) {
  for (const auto& child : server.Children()) {
    TServer& slot = *child;
    if (!slot.IsSlot()) continue;
    const TConnState state = slot.State();
    // A connection that is still getting ready, or ready, takes the work itself; a ready
    // one hears of it now rather than at its next idle tick.
    if (state == csReady && slots_.HasConnection(slot) && slots_.WorkAvailable(slot)) slots_.Nudge(slot);
    if (kAliveIdleStates.Contains(state) && !server.Has(sfParallelConnects)) return;
    if (state == csError || state == csUserDisconnected || slots_.UserDisconnectPending(slot) ||
        slots_.HasConnection(slot) || slot.Paused)
      continue;
    if (OverTransferLimit(server)) continue;
    if (result_.startCandidate && result_.startCandidate->NewsServer().Preference() >= server.Preference()) continue;
    if (!slots_.WorkAvailable(slot)) continue;
    if (live < limit && under) result_.startCandidate = &slot;
    else result_.limitHit = true;
    return;
  }
}

}  // namespace zev
