#pragma once
// What the main window asks of the download queue, the connections and the connection
// manager. Each call does nothing (or answers "nothing there") when that part of the
// engine is absent, as in tests that run the window without it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/TreeRows.h"

namespace zev {
class TGroup;
class TServer;
class TServerTree;
}

namespace zev::ui {

// --- The queue ---
bool QueuePaused();
void SetQueuePaused(bool paused);
size_t QueueItemCount();
uint64_t QueueBytes();
// The first status bar panel and its hint.
std::string QueueSummary();
std::string QueueHint(const std::string& eta);
// Whether the queue has nothing left that any connection could work on.
bool QueueFinished();
// Whether the queue grid must be redrawn (clears the flag).
bool QueueTakeChanged();
FGroupFigures GroupFigures(const TGroup& group);
// Queues header refreshes for the newsgroups at and below the node.
void RefreshGroups(TGroup& node, bool automatic);
// The node is about to be freed: the queue lets go of everything that refers to it.
void QueueForgetServer(TServer& node);
void QueueForgetGroup(TGroup& node);

// One row of the queue page.
struct FQueueRow {
  const void* item = nullptr;
  std::string type, handler, target, group, data;
  int score = 0;
  bool handled = false;
  bool working = false;  // a connection works on it
};
std::vector<FQueueRow> QueueRows();
// Adds `delta` to the score of the items (clamped to -128..127), or sets it.
void ScoreQueueItems(const std::vector<const void*>& items, int value, bool relative);
void DeleteQueueItems(const std::vector<const void*>& items);

// --- Connections ---
// The user's Connect: every slot below the node; returns how many connections started.
int ConnectNode(TServer& node, int count = -1);
// The user's Disconnect: a busy connection finishes its item unless `force`; a second
// request asks whether to cut it short.
void DisconnectNode(TServer& node, bool force);
// Program end: every connection stops, after its current item unless `force`.
void StopAllConnections(bool force);
// Connections whose thread still runs.
size_t RunningConnections();
// Whether a slot at or below the node has a connection or is busy.
bool ConnectionsBelow(const TServer& node);

// --- The connection manager ---
// Creates the manager when there is none, then asks it for a management pass.
void KickConnectionManager(TServerTree& tree);
// Ends the manager and waits for its thread.
void EndConnectionManager();
bool ConnectionManagerExists();

}  // namespace zev::ui
