#include "nntp/ConnMgr.h"

#include <algorithm>
#include <exception>
#include <shared_mutex>

#include "core/Log.h"
#include "db/ServerTree.h"
#include "download/CommandSource.h"
#include "nntp/ConnMgrPass.h"
#include "nntp/ConnectionPool.h"
#include "nntp/IdleTicks.h"
#include "platform/ThreadName.h"

namespace zev {

namespace {

// The pass's view of the program's connections.
class TPoolSlots final : public TManagedSlots {
 public:
  TPoolSlots(TConnectionPool& pool, TCommandSource& source) : pool_(pool), source_(source) {}

  bool HasConnection(const TServer& slot) override { return slot.Connection.load() != nullptr; }
  bool DisconnectPending(const TServer& slot) override {
    bool pending = false;
    pool_.WithConnection(slot, [&](TConnection& c) { pending = c.DisconnectRequest() != drNone; });
    return pending;
  }
  bool UserDisconnectPending(const TServer& slot) override {
    bool pending = false;
    pool_.WithConnection(slot, [&](TConnection& c) { pending = c.DisconnectRequest() == drByUser; });
    return pending;
  }
  bool WorkAvailable(TServer& slot) override { return source_.WorkAvailable(slot); }
  void Stop(TServer& slot) override { pool_.StopSlots(slot, false, false); }
  void Nudge(TServer& slot) override { pool_.WithConnection(slot, [](TConnection& c) { c.NudgeForWork(); }); }

 private:
  TConnectionPool& pool_;
  TCommandSource& source_;
};

bool AnyBusyBelow(const TServer& node) {
  if (node.IsSlot()) return kBusyStates.Contains(node.State());
  for (const auto& child : node.Children())
    if (AnyBusyBelow(*child)) return true;
  return false;
}

}  // namespace

TConnMgr::TConnMgr(TServerTree& tree, TConnectionPool& pool, TCommandSource* source,
                   std::chrono::milliseconds interval)
    : tree_(tree), pool_(pool), source_(source), interval_(interval) {
  gIdleTicks = 0;
  thread_ = std::thread([this] {
    platform::NameThisThread("zev-connmgr");
    Execute();
  });
}

TConnMgr::~TConnMgr() {
  {
    std::lock_guard lock(lock_);
    stop_ = true;
  }
  stopChanged_.notify_all();
  thread_.join();
  TConnMgr* self = this;
  gConnMgr.compare_exchange_strong(self, nullptr);
}

bool TConnMgr::AllIdle() const {
  const auto ticksPerSecond = std::max<int64_t>(1, 1000 / std::max<int64_t>(1, interval_.count()));
  return gIdleTicks.load() >= ticksPerSecond;
}

void TConnMgr::Execute() {
  std::unique_lock lock(lock_);
  while (!stop_) {
    lock.unlock();
    try {
      if (kick_.exchange(false)) RunPass();
      if (!AnyBusy()) ++gIdleTicks;
    } catch (const std::exception& e) {
      LogException(e, "TConnMgr|Execute");
    }
    lock.lock();
    stopChanged_.wait_for(lock, interval_, [this] { return stop_; });
  }
}

bool TConnMgr::AnyBusy() const {
  std::shared_lock lock(tree_.Lock());
  for (const auto& root : tree_.Roots())
    if (AnyBusyBelow(*root)) return true;
  return false;
}

void TConnMgr::RunPass() {
  ++passes_;
  TCommandSource* source = source_ ? source_ : gCommandSource;
  if (!source || source->IsPaused()) return;
  // Nodes stay put while the shared lock is held; the window changes the tree only under
  // the exclusive lock.
  std::shared_lock lock(tree_.Lock());
  if (tree_.Roots().empty()) return;
  TPoolSlots slots(pool_, *source);
  const FPassResult result = TConnMgrPass(slots).Run(tree_.Roots());
  if (result.startCandidate) pool_.StartSlot(*result.startCandidate, true, 1);
  if (result.stopCandidate && result.limitHit) pool_.StopSlots(*result.stopCandidate, false, false);
}

}  // namespace zev
