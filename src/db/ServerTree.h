#pragma once
// The user's news servers as a tree of TServer nodes, and its stored form: the numbered
// "Server:N" sections of the settings file, in pre-order. The main window mirrors the
// tree into its tree control; the order of children here is the order shown there.
//
// Structure changes (creating, freeing, slot counts) happen on the user-interface thread
// under the tree's lock; other threads that walk the tree (the connection manager,
// counting slots) take the lock shared. Nodes stay where they are while they exist, so a
// connection may keep pointers to its slot and walk up through Parent() without the lock.
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/DateTime.h"
#include "db/Server.h"

namespace zev {

class TZevIniFile;

class TServerTree {
 public:
  explicit TServerTree(TZevIniFile& ini);
  ~TServerTree();
  TServerTree(const TServerTree&) = delete;
  TServerTree& operator=(const TServerTree&) = delete;

  // Builds the tree from the "Server:N" sections (replacing any tree in memory). Parent
  // indexes that older versions counted with connection slots are converted; indexes
  // that cannot be resolved put the node under the first root, with a log entry.
  void LoadServers(TDateTime now = NowLocal());
  // WriteServers, then writes the settings file to disk.
  void SaveServers();
  // Writes every node but the slots, in pre-order without gaps, and erases the leftover
  // higher sections. Does not write the file.
  void WriteServers();

  // A folder goes among its parent's leading folders in name order; everything else is
  // appended. A node below a parent copies the parent's settings and inherits; a new root
  // gets the settings of a plain LAN server. Both totals start their period at `now`.
  TServer* CreateServerNode(std::string name, TServerNodeType type, TServer* parent, TDateTime now = NowLocal());
  // Frees the node and everything below it. The connections of its slots must have ended.
  void FreeServerNodes(TServer* node);
  // Moves the node, with everything below it, under the root or folder `parent`, before
  // its child `before` (nullptr: as the last child). A node that inherits takes over the
  // settings of its new parent. False (and nothing moved) when `parent` is no root or
  // folder, or lies below the node itself.
  bool MoveNode(TServer* node, TServer* parent, TServer* before);
  // Brings the slots of a news server to its MaxConn: missing "#k" names are filled in
  // first; surplus slots go from the end, only those in kRemovableStates with no
  // connection attached. Returns whether the slots changed.
  bool AdjustSlots(TServer& server);

  const std::vector<std::unique_ptr<TServer>>& Roots() const { return roots_; }
  // Every node (slots included) in tree order, under the shared lock.
  void ForEachNode(const std::function<void(TServer&)>& visit) const;
  // The first news server in tree order with exactly this host and port.
  TServer* FindServerByHost(std::string_view host, uint16_t port) const;

  // Counting over a subtree; a slot counts itself.
  int CountLive(const TServer& node) const;
  int CountInStates(const TServer& node, TConnStateSet states) const;
  bool AnyInState(const TServer& node, TConnState state) const;
  int HeldItemCount(const TServer& node) const;

  // A news server's state from its slots' states.
  void UpdateAggregateState(TServer& server) const;
  // The half-second tick: every node takes a rate sample, news servers get their
  // aggregate state, every node its BusyCount.
  void TakeRateSamples();
  // Resets the totals of every node (slots excepted) whose period has ended, and saves
  // the tree when any was reset. Returns whether any was.
  bool CheckResets(TDateTime now);
  void ResetDaily(TServer& node, TDateTime now = NowLocal());
  void ResetMonthly(TServer& node, TDateTime now = NowLocal());

  std::shared_mutex& Lock() const { return lock_; }

 private:
  TServer* InsertNode(std::unique_ptr<TServer> node, TServer* parent);
  TServer* ResolveParent(const std::vector<TServer*>& loaded, int64_t p, int section) const;
  void CreateSlots(TServer& server);
  void InsertMissingSlot(TServer& server);
  bool RemoveLastRemovableSlot(TServer& server);
  void Flush();
  template <typename Fn>
  void ForEachSlot(const TServer& node, Fn fn) const;

  TZevIniFile& ini_;
  mutable std::shared_mutex lock_;
  std::vector<std::unique_ptr<TServer>> roots_;
};

extern TServerTree* gServers;

}  // namespace zev
