#pragma once
// One decision round of the connection manager over the server tree: which slot to
// start on a server that has work and room under the connection limits of itself and its
// folders (the server with the highest preference first), which automatic connections
// are surplus, and, when a server with work found no room, which connection to ask to
// leave. Only servers with sfConnectOnDemand are managed.
#include <memory>
#include <vector>

namespace zev {

class TServer;

// What a pass needs to know of, and do to, the connections.
class TManagedSlots {
 public:
  virtual ~TManagedSlots() = default;
  virtual bool HasConnection(const TServer& slot) = 0;
  // The slot's connection was asked to disconnect (by anyone / by the user).
  virtual bool DisconnectPending(const TServer& slot) = 0;
  virtual bool UserDisconnectPending(const TServer& slot) = 0;
  virtual bool WorkAvailable(TServer& slot) = 0;
  // Asks an automatic connection to leave (not by the user, not forced).
  virtual void Stop(TServer& slot) = 0;
  // Tells the slot's ready connection that work is waiting, so it asks for it now.
  virtual void Nudge(TServer& slot) = 0;
};

struct FPassResult {
  TServer* startCandidate = nullptr;
  TServer* stopCandidate = nullptr;
  bool limitHit = false;          // a server with work had no room
  bool stopCandidateOver = false; // the stop candidate's server is above its own limit
};

class TConnMgrPass {
 public:
  explicit TConnMgrPass(TManagedSlots& slots) : slots_(slots) {}
  // Walks the trees below `roots`. Surplus idle connections are stopped on the way; the
  // start and stop candidates are returned for the caller to act on.
  FPassResult Run(const std::vector<std::unique_ptr<TServer>>& roots);

 private:
  void Visit(TServer& node, int64_t limit, int excess);
  void VisitServer(TServer& server, int64_t limit, int excess);
  void StopPhase(TServer& server, bool over, int64_t& live);
  void Consider(TServer& slot, int64_t live);
  void StartPhase(TServer& server, int64_t live, int64_t limit, bool under);

  TManagedSlots& slots_;
  FPassResult result_;
};

// Slots below `node` whose state is neither csIdle, csError nor csUserDisconnected.
int64_t CountLiveSlots(const TServer& node);

}  // namespace zev
