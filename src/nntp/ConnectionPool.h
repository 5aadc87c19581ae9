#pragma once
// Every connection the program runs, and the slot operations that start and stop them.
//
// The pool owns the connection objects. A connection clears its slot's Connection pointer
// when its thread ends; the pool deletes it only some seconds later, so that a thread that
// read the pointer just before (the window's display, a state change) never holds a
// dangling one. Callers that act on a slot's connection go through WithConnection, which
// keeps it alive for the call.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>

#include "nntp/Connection.h"
#include "nntp/ConnectionEnv.h"

namespace zev {

class TServer;

class TConnectionPool {
 public:
  // How long an ended connection is kept before it is deleted.
  static constexpr std::chrono::seconds kGrace{10};

  explicit TConnectionPool(FConnectionEnv env = {});
  // Ends every connection (as at program end) and waits for them.
  ~TConnectionPool();
  TConnectionPool(const TConnectionPool&) = delete;
  TConnectionPool& operator=(const TConnectionPool&) = delete;

  // Starts connections below `node` (a slot, server, folder or root): at most `count`, or
  // all with a negative count; returns how many it started. An automatic start takes only
  // idle slots and marks them AutoStarted; the user's start also restarts slots in error
  // or disconnected by the user. A slot whose connection is still running keeps it, a
  // pending disconnect request of that connection is cancelled, and a ready connection
  // asks for work at once. A slot never gets a second connection.
  int StartSlot(TServer& node, bool automatic, int count);
  // Stops the connections below `node`, the last slot first. Without `force` a busy
  // connection finishes its item first (see TConnection::RequestDisconnect).
  void StopSlots(TServer& node, bool byUser, bool force, const std::function<bool()>& confirmForce = {});

  // Runs `use` with the slot's running connection; false when it has none.
  bool WithConnection(const TServer& slot, const std::function<void(TConnection&)>& use);
  // Ends every connection at once. At program end the queue's items stay as they are.
  void TerminateAll(bool programEnding);
  // Waits until every connection has ended; false when the time ran out.
  bool WaitAllEnded(std::chrono::milliseconds timeout);
  // Connections whose thread still runs.
  size_t RunningCount() const;

 private:
  struct FEntry {
    std::unique_ptr<TConnection> connection;
    bool ended = false;
    std::chrono::steady_clock::time_point endedAt;
  };
  int StartOnSlot(TServer& slot, bool automatic);
  void OnEnded(TConnection& connection);
  void ReapLocked(bool all);
  TConnection* FindLocked(const TServer& slot);

  FConnectionEnv env_;
  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::list<FEntry> entries_;
};

// The program's pool, set by start-up.
inline TConnectionPool* gConnectionPool = nullptr;

// The slot operations on the program's pool (nothing happens without one).
int StartSlot(TServer& node, bool automatic, int count);
void StopSlots(TServer& node, bool byUser, bool force, const std::function<bool()>& confirmForce = {});

}  // namespace zev
