#pragma once
// The download queue: the one list of all network work (group refreshes, header ranges,
// existence checks and article bodies) and the scheduler that hands it to the connections.
//
// Threads. The user-interface thread adds and removes work, connection threads ask for
// their next command (NextCommand) and response handlers report results. Every operation
// takes the list lock itself, except those that receive a TLockedList: callers that add
// many items at once (article views, NZB import, start-up) hold one from LockList. Lock
// order: the queue list lock, then whatever the article and server-group ports take. The
// queue never calls a connection while it holds its lock, and takes the server tree's lock
// only before its own.
//
// Nodes. Items refer to servers, slots and groups by identity (TQueueRefs). The
// user-interface thread must call ForgetServer before it frees a server-tree node and
// RemoveForNode before it frees a group node; from then on no item leads to them.
//
// Speed. The scheduler does not scan the list: free body items are filed in heaps by
// carrier set, group and target (TQueueScheduler), header work is kept in its own short
// list, and an index by article offset answers IsQueued and joins file sets. Adding an item,
// finding it and handing it out cost O(log n).
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/DateTime.h"
#include "db/BodyQueue.h"
#include "db/SrvGrp.h"
#include "download/CommandSource.h"
#include "download/QueueArticles.h"
#include "download/QueueBackoff.h"
#include "download/QueueCarrierSets.h"
#include "download/QueueFileSet.h"
#include "download/QueueFreeSpace.h"
#include "download/QueueHeaderObserver.h"
#include "download/QueueItem.h"
#include "download/QueueItemPool.h"
#include "download/QueueOffsetIndex.h"
#include "download/QueueRanking.h"
#include "download/QueueRefs.h"
#include "download/QueueScheduler.h"
#include "download/QueueServerGroups.h"
#include "download/QueueSettings.h"

namespace zev {

class TGroup;
class TQueueGroupSelection;
class TServer;
class TServerTree;

// The refresh modes of the group menu are the server-groups' refresh kinds; automatic
// refreshes use rmPlain.
using TRefreshMode = TRefreshKind;
constexpr TRefreshMode rmPlain = rkPlain;
constexpr TRefreshMode rmNewOnly = rkNewOnly;
constexpr TRefreshMode rmNewAndMissing = rkNewAndMissing;
constexpr TRefreshMode rmAllAgain = rkAll;
constexpr TRefreshMode rmXpat = rkXpat;

class TQueue : public TCommandSource {
 public:
  // The list held by one caller: plain-list operations take it as proof of the lock.
  // It is also what automatic marking hands articles to (TBodyQueue). When it is released,
  // the articles added meanwhile are filed for the scheduler (their servers are looked up
  // once, after the caller registered their numbers) and unused new file sets are freed.
  class TLockedList : public TBodyQueue {
   public:
    TLockedList(TLockedList&& other) noexcept = default;
    ~TLockedList() override;
    void PutBodyCommand(TGroup& group, uint32_t flags, int score, TArticleOffset offset) override;
    // Items in list order (finished ones included while purge mode is off).
    size_t Count();
    TQueueItem* Item(size_t row);

   private:
    friend class TQueue;
    explicit TLockedList(TQueue& queue);
    TQueue* queue_;
    std::unique_lock<std::mutex> lock_;
  };

  TQueue(TQueueArticles& articles, TQueueServerGroups& serverGroups, TServerTree& servers);
  ~TQueue() override;
  TQueue(const TQueue&) = delete;
  TQueue& operator=(const TQueue&) = delete;

  // --- Wiring (start-up) and settings ---
  // Receives the responses of the queue's commands (the header retrieval).
  void SetResponseTarget(TResponseTarget* target);
  void SetHeaderObserver(TQueueHeaderObserver* observer);
  // The user-interface thread, whenever the configuration changes.
  void ApplySettings(const FQueueSettings& settings);
  FQueueSettings Settings() const;
  // Tests: the millisecond clock of the back-offs, the clock of refresh times, the disk.
  void SetClock(std::function<int64_t()> nowMs);
  void SetDateClock(std::function<TDateTime()> now);
  void SetDiskSpaceProbe(TDiskSpaceProbe probe);

  // --- Adding and finding articles (with the list held) ---
  TLockedList LockList();
  // Queues the article at `offset`, reached through `group`, unless it is queued already or
  // cannot be read. A score below -199 takes the article's own score; others are clamped.
  bool PutBodyCommand(TLockedList& list, TGroup* group, uint32_t flags, TQueueFileSet* set, int score,
                      TArticleOffset offset);
  // The file set of the queued parts of the article's file, a new empty one when none of
  // its parts is queued with a set, or nullptr for an unreadable article.
  TQueueFileSet* FindOrCreateSet(TLockedList& list, TArticleOffset offset);
  bool IsQueued(TLockedList& list, TArticleOffset offset);
  // Retires the body items of the article that `handlerSlot` works on (nullptr: that
  // nobody works on): downloaded, or unmarked by the user.
  void MarkHandled(TLockedList& list, TArticleOffset offset, const TServer* handlerSlot);
  void MarkHandled(TArticleOffset offset, const TServer* handlerSlot);
  void SetArticleScore(TArticleOffset offset, int score);
  // New sizes for queued articles: (offset, size) pairs sorted by offset.
  void UpdateSizes(const std::vector<std::pair<TArticleOffset, uint64_t>>& sizes);
  // The server-group lists learned or forgot a number for a queued article: the queue
  // looks again at which servers carry it.
  void SourcesChanged(TArticleOffset offset);
  // Gives every queued part of one multi-part file a shared set (after loading the queue
  // file or queueing the marked articles at start-up).
  void LinkSets();

  // --- Header work, from the header retrieval on a connection that selected `group` ---
  // Queues the range as items of the server's chunk size (newest first) and starts the
  // first at once; when paused, leaves a group refresh instead.
  void EnqueueHeaderCmnd(TConnectionFace& connection, TQueueKind kind, uint32_t flags, uint32_t high, uint32_t low,
                         TGroup* group);
  void EnqueueValidateCmnd(TConnectionFace& connection, TGroup* group, uint32_t flags, uint32_t artNo, uint32_t low,
                           uint32_t high);
  // The XPAT search of the group (header name and pattern), set by the search dialog.
  void SetXpatQuery(TGroup& group, std::string header, std::string pattern);
  // Queues refreshes for the newsgroups at and below `node` (user-interface thread).
  void ScheduleRefresh(TGroup& node, bool automatic, TRefreshMode mode);

  // --- The command source ---
  void NextCommand(TConnectionFace& connection) override;
  void CommandFailed(TConnectionFace& connection) override;
  void ReleaseItem(TConnectionFace& connection) override;
  bool WorkAvailable(TServer& slot) override;
  // A header command completed: its item is finished.
  void FinishCurrent(TConnectionFace& connection);
  // A body arrived: the connection is free for its next command, while the item stays with
  // the slot until the decoder reports with MarkHandled or PutBack.
  void BodyReceived(TConnectionFace& connection);
  // The article of the connection's current body item is missing on its server: the server
  // forgets its number and the item is free for the others.
  void ReleaseForOtherServers(TConnectionFace& connection);
  // The body fetched by `slot` could not be decoded: it goes back to the queue, and the
  // server forgets its number so that another server is tried.
  void PutBack(TArticleOffset offset, TServer& slot);
  // The outcome of a "group" command the queue sent to move the connection to an item's group.
  void GroupSelected(TConnectionFace& connection, bool accepted, const std::string& group);

  // --- Finding and removing ---
  // The first item in list order with this target and group whose kind is in `kinds`
  // (a bit per TQueueKind), finished items included.
  TQueueItem* FindItem(TLockedList& list, const TServer* target, const TGroup* group, uint32_t kinds);
  // How many servers have header work queued for the group.
  int CountPendingServers(const TGroup& group);
  // The group node (and everything below it) is going away: its items are removed.
  void RemoveForNode(TGroup& node);
  // The server-tree node (and everything below it) is going away: items targeted at it
  // lose their target or, for its header work, are removed.
  void ForgetServer(TServer& node);
  // The user deletes these items (from the grid). Items being worked on stay.
  void DeleteItems(TLockedList& list, const std::vector<TQueueItem*>& items);
  // The user's Target command: the item may only be fetched from `server` (nullptr: from
  // any). Only free body items made from articles take a target.
  void Retarget(TLockedList& list, TQueueItem* item, TServer* server);
  void PurgeHandled();

  // --- State for the main window ---
  // The connection manager opens nothing while the queue is paused.
  bool IsPaused() override { return paused_.load(); }
  void SetPaused(bool paused);
  bool PurgeMode() const;
  void SetPurgeMode(bool purge);
  // Whether the grid must be redrawn; clears the flag.
  bool TakeChanged() { return changed_.exchange(false); }
  int32_t BodyCount() const { return bodyCount_.load(); }
  uint64_t TotalBytes() const { return totalBytes_.load(); }
  size_t ItemCount() const;
  // Queued body items of a newsgroup.
  uint32_t QueuedBodies(const TGroup& group) const;
  // The first status bar panel: "<count> (<size>)".
  std::string SummaryText() const;
  // The status bar hint, with the estimated time of arrival as the window computes it.
  std::string StatusHint(const std::string& eta) const;
  int PrimarySortColumn() const;

 private:
  struct FAction;
  struct FSelection;
  struct FCandidate;
  struct FSlotFacts;
  struct FGroupSwitch {
    TQueueItem* item = nullptr;
    uint32_t seq = 0;
  };
  struct FXpatQuery {
    std::string header, pattern;
  };
  struct FHeaderFailure {
    TQueueKind kind;
    std::string group;
  };

  // Items and the list.
  TQueueItem* NewItem(TQueueKind kind, TNodeId group, int8_t score);
  void Append(TQueueItem* item, bool file = true);
  void FreeItem(TQueueItem* item);
  void Retire(TQueueItem* item);
  void Uncount(TQueueItem* item);
  void Compact();
  void RemoveHeaderItem(TQueueItem* item);
  void Refile(TQueueItem* item);
  void RecomputeCarriers(TQueueItem* item, const std::vector<FArticleSource>& sources);
  // Looks up again which servers carry the item's article, and files it accordingly.
  void Resource(TQueueItem* item);
  void FileUnfiled();
  void SweepHomeless(int64_t nowMs);
  bool PutBody(TGroup* group, uint32_t flags, TQueueFileSet* set, int score, TArticleOffset offset);
  void MarkHandledLocked(TArticleOffset offset, const TServer* handlerSlot);
  TQueueFileSet* NewSet(bool fresh);
  void ReleaseSet(TQueueFileSet* set);
  void FreeUnusedSets();
  void GroupCountDelta(TNodeId group, int delta);

  // Connections.
  FSlotFacts ReadSlotFacts(const TServer& server, const TServer& slot);
  FAction DecideNext(TConnectionFace& connection, const FSlotFacts& facts);
  FAction CommandFor(TConnectionFace& connection, TQueueItem* item, const FSelection& s);
  FAction StartBody(TConnectionFace& connection, TQueueItem* item, const FSelection& s, TGroup* group);
  FAction SwitchGroup(TConnectionFace& connection, TQueueItem* item, const FSelection& s, TGroup* group);
  std::string BodyId(TQueueItem* item, const FSelection& s);
  void FailWithoutId(TQueueItem* item, const FSelection& s, TGroup* group);
  void Perform(TConnectionFace& connection, FAction& action);
  TQueueItem* CurrentOf(TConnectionFace& connection, TNodeId slot);
  void DropCurrent(TConnectionFace& connection, TNodeId slot);
  void Refused(TQueueItem* item, TNodeId server, std::vector<FHeaderFailure>& failures);
  void DropItem(TQueueItem* item, const std::string& why);
  TNodeId CurrentGroupOf(const FSelection& s);
  void Notify(TConnectionFace& connection, const std::vector<FHeaderFailure>& failures);
  FAction StartHeaderRange(TConnectionFace& connection, TQueueItem* item, TServer& server, TGroup& group);
  uint64_t ChunkSizeFor(TQueueKind kind, TServer& server, TGroup& group, uint64_t count);
  void AppendChunks(TQueueItem* first, uint32_t low, uint32_t high, uint64_t chunk);

  // Refreshes and header work.
  void ScheduleGroupRefresh(TGroup& group, const std::vector<TServer*>& servers, bool automatic, TRefreshMode mode,
                            TDateTime now);
  TQueueItem* FindHeaderItem(TNodeId target, TNodeId group, uint32_t kinds, bool withHandled) const;

  // The scheduler.
  TQueueItem* SelectNextItem(FSelection& s);
  bool HandOut(TQueueItem* item, uint32_t bucket, FSelection& s);
  bool HasTargetedBody(FSelection& s);
  FCandidate BestHeaderItem(const FSelection& s, bool targetedOnly);
  TQueueItem* TopFor(uint32_t bucket, FSelection& s);
  bool Better(const FCandidate& a, const FCandidate& b) const;
  int Effective(const TQueueItem* item, const FSelection& s) const;
  int BucketRank(uint32_t bucket, const FSelection& s);
  uint32_t ResolveOnServer(TQueueItem* item, const FSelection& s, TNodeId& group);
  FSpaceResult CheckSpace(TQueueItem* item, FSelection& s);
  void BeginRanking(const FSelection& s);
  bool HeaderItemEligible(const TQueueItem* item, const FSelection& s, bool targetedOnly) const;
  bool CountWork(FSelection& s, int needed);

  // File sets.
  template <typename Fn>
  bool WalkParts(TArticleOffset from, bool forward, Fn fn);
  void LinkFrom(TQueueItem* item, size_t position, const FQueueArticle& article);

  // Removal.
  void Orphan(TQueueItem* item);
  void ForgetServers(const std::vector<TServer*>& nodes);

  TQueueArticles& articles_;
  TQueueServerGroups& serverGroups_;
  TServerTree& servers_;

  mutable std::mutex lock_;
  TQueueItemPool pool_;
  std::vector<TQueueItem*> list_;         // list order, with holes left by freed items
  size_t holes_ = 0;
  uint32_t nextSeq_ = 1;
  std::vector<TQueueItem*> headerItems_;  // the items that are not bodies, in list order
  TQueueOffsetIndex offsets_{pool_};
  TQueueRefs refs_;
  TQueueCarrierSets carriers_;
  TQueueScheduler scheduler_{pool_};
  TQueueRanking ranking_;
  TQueueBackoff backoff_;
  TQueueFreeSpace freeSpace_;
  std::vector<std::unique_ptr<TQueueFileSet>> sets_;
  std::vector<TQueueFileSet*> freshSets_;
  std::unordered_map<TNodeId, uint32_t> queuedBodies_;
  std::unordered_map<TNodeId, FXpatQuery> xpat_;
  std::unordered_map<TNodeId, FGroupSwitch> switches_;  // by slot
  std::unordered_set<TNodeId> heldBackSlots_;           // slots showing why a download waits
  std::unordered_map<TNodeId, std::pair<std::string, TNodeId>> slotGroups_;  // by slot: selected name, group
  struct FItemRef {
    TQueueItem* item;
    uint32_t seq;
    bool Valid() const { return TQueueItemPool::IsLive(item) && item->Sequence() == seq; }
  };
  std::vector<FItemRef> unfiled_;   // bodies added under the current TLockedList
  std::vector<FItemRef> homeless_;  // bodies no known server carries, looked at again now and then
  int64_t lastSweepMs_ = 0;
  std::vector<FArticleSource> sources_;  // scratch
  std::vector<FCandidate> candidates_;   // scratch
  FQueueSettings settings_;
  bool purge_ = true;
  int primarySort_ = -1;
  TResponseTarget* target_ = nullptr;
  TQueueHeaderObserver* observer_ = nullptr;
  std::function<int64_t()> clock_;
  std::function<TDateTime()> dateClock_;
  std::unique_ptr<TQueueGroupSelection> groupSelection_;

  std::atomic<bool> paused_{false};
  std::atomic<bool> changed_{false};
  std::atomic<bool> offlineCheck_{false};
  std::atomic<int32_t> bodyCount_{0};
  std::atomic<uint64_t> totalBytes_{0};
};

// Created by start-up after the article list and before the decoder.
extern TQueue* gQueue;

}  // namespace zev
