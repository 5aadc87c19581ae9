#pragma once
// Records the queue's own source files share; not part of its interface.
#include <cstdint>
#include <string>
#include <vector>

#include "download/Queue.h"

namespace zev {

// What a connection is to do, decided under the list lock and done after it is released
// (a connection may call back into the queue from SetReady or DisconnectNow).
struct TQueue::FAction {
  enum TKind : uint8_t { None, Start, Ready, Disconnect } kind = None;
  TResponseTarget* target = nullptr;
  std::string text;
  TDataMode mode = dmNone;
  uint64_t expected = 0;
  bool multiLine = false;

  static FAction MakeReady() { return Make(Ready); }
  static FAction MakeDisconnect() { return Make(Disconnect); }
  static FAction MakeStart(TResponseTarget* target, std::string text, TDataMode mode, uint64_t expected,
                           bool multiLine) {
    FAction a = Make(Start);
    a.target = target;
    a.text = std::move(text);
    a.mode = mode;
    a.expected = expected;
    a.multiLine = multiLine;
    return a;
  }
  static FAction Make(TKind kind) {
    FAction a;
    a.kind = kind;
    return a;
  }
};

// Facts about the asking slot's server that need the server tree's lock, read before the
// queue's lock is taken.
struct TQueue::FSlotFacts {
  int slotCount = 0;
  int slotIndex = -1;  // the asking slot's position among its server's slots
  int aliveIdle = 0;
  std::vector<const TServer*> offline;  // servers only retrying their connection
};

// One connection's view while the scheduler chooses for it.
struct TQueue::FSelection {
  TServer* server = nullptr;
  TServer* slot = nullptr;
  TNodeId serverId = 0;
  TNodeId slotId = 0;
  uint32_t mode = 0;
  bool skipGroup = false;     // the server fetches bodies by Message-ID without GROUP
  std::string currentName;   // the group the connection has selected
  TNodeId currentGroup = 0;  // that group's identity, when items refer to it
  int64_t nowMs = 0;
  int probes = 0;  // items it may still turn down
  const std::vector<const TServer*>* offline = nullptr;
  std::string heldBack;  // why a body was not started, for the slot's status
};

struct TQueue::FCandidate {
  TQueueItem* item = nullptr;
  int eff = 0;   // score plus the same-group bonus
  int rank = 0;  // how suitable this server is (bodies)
  uint32_t bucket = 0;
};

}  // namespace zev
