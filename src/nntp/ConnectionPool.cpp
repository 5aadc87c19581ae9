#include "nntp/ConnectionPool.h"

#include "db/Server.h"

namespace zev {

TConnectionPool::TConnectionPool(FConnectionEnv env) : env_(std::move(env)) {}

TConnectionPool::~TConnectionPool() {
  TerminateAll(true);
  WaitAllEnded(std::chrono::hours(24));
  std::lock_guard lock(lock_);
  ReapLocked(true);
}

int TConnectionPool::StartSlot(TServer& node, bool automatic, int count) {
  if (count == 0) return 0;
  if (node.IsSlot()) return StartOnSlot(node, automatic);
  int started = 0;
  for (const auto& child : node.Children()) {
    const int left = count < 0 ? -1 : count - started;
    if (left == 0) break;
    started += StartSlot(*child, automatic, left);
  }
  return started;
}

int TConnectionPool::StartOnSlot(TServer& slot, bool automatic) {
  std::lock_guard lock(lock_);
  ReapLocked(false);
  if (slot.Connection.load()) {
    // The user's start adopts a running automatic connection: it stays when work runs out.
    if (!automatic) slot.AutoStarted = false;
    if (slot.State() != csUserDisconnected)
      if (TConnection* running = FindLocked(slot)) {
        running->CancelDisconnectRequest();
        running->NudgeForWork();
      }
    return 0;
  }
  // Slots in error or disconnected by the user wait for the user.
  if (automatic && slot.State() != csIdle) return 0;
  auto connection = std::make_unique<TConnection>(slot, env_, [this](TConnection& c) { OnEnded(c); });
  TSlotConnection* none = nullptr;
  if (!slot.Connection.compare_exchange_strong(none, connection.get())) return 0;
  // Only the start that wins the slot says how it was started: an automatic start that
  // loses must not make a user's running connection give up when it runs out of work.
  slot.AutoStarted = automatic;
  TConnection* started = connection.get();
  entries_.emplace_back().connection = std::move(connection);
  started->Start();
  return 1;
}

void TConnectionPool::StopSlots(TServer& node, bool byUser, bool force, const std::function<bool()>& confirmForce) {
  if (!node.IsSlot()) {
    const auto& children = node.Children();
    for (auto it = children.rbegin(); it != children.rend(); ++it) StopSlots(**it, byUser, force, confirmForce);
    return;
  }
  const bool hadConnection = WithConnection(node, [&](TConnection& c) {
    if (force) c.Terminate();
    else c.RequestDisconnect(byUser, false, confirmForce);
  });
  if (hadConnection && !force) return;
  node.SetState(byUser ? csUserDisconnected : csIdle);
}

bool TConnectionPool::WithConnection(const TServer& slot, const std::function<void(TConnection&)>& use) {
  std::lock_guard lock(lock_);
  TConnection* connection = FindLocked(slot);
  if (!connection) return false;
  use(*connection);
  return true;
}

TConnection* TConnectionPool::FindLocked(const TServer& slot) {
  for (FEntry& entry : entries_)
    if (!entry.ended && &entry.connection->Slot() == &slot) return entry.connection.get();
  return nullptr;
}

void TConnectionPool::TerminateAll(bool programEnding) {
  std::lock_guard lock(lock_);
  for (FEntry& entry : entries_)
    if (!entry.ended) entry.connection->Terminate(programEnding);
}

bool TConnectionPool::WaitAllEnded(std::chrono::milliseconds timeout) {
  std::unique_lock lock(lock_);
  return changed_.wait_for(lock, timeout, [this] {
    for (const FEntry& entry : entries_)
      if (!entry.ended) return false;
    return true;
  });
}

size_t TConnectionPool::RunningCount() const {
  std::lock_guard lock(lock_);
  size_t n = 0;
  for (const FEntry& entry : entries_) n += !entry.ended;
  return n;
}

void TConnectionPool::OnEnded(TConnection& connection) {
  {
    std::lock_guard lock(lock_);
    for (FEntry& entry : entries_)
      if (entry.connection.get() == &connection) {
        entry.ended = true;
        entry.endedAt = std::chrono::steady_clock::now();
      }
  }
  changed_.notify_all();
}

void TConnectionPool::ReapLocked(bool all) {
  const auto now = std::chrono::steady_clock::now();
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (it->ended && (all || now - it->endedAt >= kGrace)) {
      it->connection->Join();
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
}

int StartSlot(TServer& node, bool automatic, int count) {
  return gConnectionPool ? gConnectionPool->StartSlot(node, automatic, count) : 0;
}

void StopSlots(TServer& node, bool byUser, bool force, const std::function<bool()>& confirmForce) {
  if (gConnectionPool) gConnectionPool->StopSlots(node, byUser, force, confirmForce);
}

}  // namespace zev
