#pragma once
// A server-group: one subscribed newsgroup on one news server. It keeps, for that pair,
// the offset map (article number -> article record offset, or a marker), the article
// numbers whose headers are still to be fetched, the reverse map (article offset ->
// article number) of queued articles, and the status bytes by which the header retrieval
// and the queue coordinate a refresh.
//
// Connection threads and the user-interface thread use a server-group at the same time.
// MapLock guards the offset map; StateLock serialises the header retrieval of the pair.
// Lock order: the header-retrieval lock, then StateLock, then MapLock, then the article
// accessor's lock.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/DateTime.h"
#include "db/Map.h"
#include "db/MsgData.h"
#include "db/PendingRanges.h"

namespace zev {

class TServer;
class TGroup;
class TBodyQueue;

// Offset-map entries that are not article offsets.
enum TMapMarker : uint32_t {
  mmNotFetched = 0,     // the header has not been fetched yet
  mmMissing = 1,        // the server has no such article (missing or expired)
  mmBeyondLimit = 3,    // outside the header limit, not fetched
};
constexpr uint32_t kFirstArticleOffset = 17;  // entries from here on are article offsets

// Kinds of a refresh in progress (RefreshKind).
enum TRefreshKind : uint8_t { rkPlain = 0, rkNewOnly = 1, rkNewAndMissing = 2, rkAll = 3, rkXpat = 4 };

class TSrvGrp {
 public:
  // Raises EZevError when either is missing.
  TSrvGrp(TServer* server, TGroup* group);
  ~TSrvGrp();
  TSrvGrp(const TSrvGrp&) = delete;
  TSrvGrp& operator=(const TSrvGrp&) = delete;

  TServer& Server() const { return *server_; }
  TGroup& Group() const { return *group_; }
  // "" when the group's name cannot name a file (logged).
  std::string MapFileName() const;

  // --- The offset map. Every LoadOffsMap is paired with one ReleaseOffsMap (TMapUse). ---
  // Counts a user; reads the file when the map is not in memory. True when the map holds
  // at least its first value. Errors are logged, never raised.
  bool LoadOffsMap();
  // Writes the map when it changed since it was read; errors are logged.
  void SaveOffsMap();
  // The last user frees the map (saving it first when it changed).
  void ReleaseOffsMap();
  bool IsUnused() const;

  uint32_t FirstArtNo() const;
  uint32_t LastArtNo() const;
  uint32_t ArtCount() const;
  // 0 outside first..last; writes outside it are ignored.
  uint32_t GetEntry(uint32_t artNo) const;
  void SetEntry(uint32_t artNo, uint32_t value);
  // A copy of the loaded map, OffsMap[0] = first article number (tests and tools).
  std::vector<uint32_t> MapSnapshot() const;

  // Brings the map in line with the range a "GROUP" response reported: applies the header
  // limit (and the map size cap), then shifts, extends or rebuilds the map, dropping the
  // article reference of every entry that leaves it, and queues the new numbers as
  // pending. With `extend` (a refresh of older articles) the range may also grow at the
  // front. Loads and releases the map itself.
  void AdjustServerFile(uint32_t newFirst, uint32_t newLast, bool extend);
  // The server renumbered the group: no entry of the old numbering may stand for the new
  // one. Every article reference goes and the map is rebuilt for the range, all pending.
  void RebuildServerFile(uint32_t newFirst, uint32_t newLast);
  // Drops this pair's reference to every article in the map; every entry becomes 0.
  bool ReleaseAllArticles();

  // --- Pending ranges ---
  void AddPendingRange(uint32_t start, uint32_t count) { pending_.Add(start, count); }
  void RemovePendingRange(uint32_t start, uint32_t count) { pending_.Remove(start, count); }
  std::optional<std::pair<uint32_t, uint32_t>> LastPendingRange() const { return pending_.Last(); }
  const TPendingRanges& PendingRanges() const { return pending_; }

  // --- The reverse map: article offset -> article number on this server ---
  // An article number of 0 forgets the number of a known offset and adds nothing.
  void SetReverse(TArticleOffset offset, uint32_t artNo);
  uint32_t GetReverse(TArticleOffset offset) const;
  bool HoldsArticle(TArticleOffset offset) const { return GetReverse(offset) != 0; }

  // --- Refresh state ---
  // LastRefresh; when unknown, the map file's modification time.
  TDateTime GetLastRefresh();
  void SetLastRefresh(TDateTime when) { lastRefresh_ = when; }
  // Forgets the refresh state and the reverse map, when nobody uses the map.
  void ResetState();
  std::mutex& StateLock() { return stateLock_; }

  std::atomic<uint8_t> RefreshKind{rkPlain};
  std::atomic<bool> RefreshIdle{true};
  std::atomic<bool> Validated{true};
  std::atomic<bool> ValidationQueued{false};
  std::atomic<bool> FirstRefresh{true};

  // --- Queue and export helpers (need gMapArticles) ---
  // The read article numbers as .newsrc runs: "1-3,5".
  std::string ReadRanges();
  // A want filter picked the article: mark every part of its file for download (unless
  // the file exists already) and note the parts' article numbers in the queue index.
  // The caller holds the queue's list lock.
  void AutoMarkFile(TArticleOffset offset, TBodyQueue& queue);
  // Queues every article of the map that is in `marked` (offset -> non-zero while not yet
  // queued) and notes its article number in the queue index. The map must be loaded.
  void QueueMarked(TMap2& marked, TBodyQueue& queue);

 private:
  // The map operations below run under MapLock and only collect the article offsets whose
  // references must go; the caller drops them after the lock is released.
  uint64_t HeaderLimit() const;
  void AdjustLocked(uint32_t newFirst, uint32_t newLast, bool extend, std::vector<uint32_t>& released);
  void Rebuild(uint32_t first, uint32_t last, uint64_t limit);
  void Grow(uint32_t newLast, uint64_t limit);
  void ShiftForward(uint32_t newFirst, uint32_t newLast, uint64_t limit, std::vector<uint32_t>& released);
  void ExtendFront(uint32_t newFirst, uint32_t newLast, uint64_t limit, std::vector<uint32_t>& released);
  void FixWindow(uint64_t excess, uint64_t oldLastPos);
  void CollectReferences(size_t from, size_t to, std::vector<uint32_t>& out) const;
  void ReleaseAllLocked(std::vector<uint32_t>& released);
  std::unordered_map<TArticleOffset, uint32_t> FindArtNos(const std::vector<TArticleOffset>& offsets) const;
  void NoteQueuedArticles(const std::vector<TArticleOffset>& offsets);

  TServer* server_;
  TGroup* group_;
  mutable std::recursive_mutex mapLock_;
  std::vector<uint32_t> offsMap_;
  bool dirty_ = false;
  int loadCount_ = 0;
  mutable std::mutex reverseLock_;
  TMap2 reverse_;
  TPendingRanges pending_;
  std::atomic<TDateTime> lastRefresh_{0};
  std::mutex stateLock_;
};

// Pairs a LoadOffsMap with its ReleaseOffsMap.
class TMapUse {
 public:
  explicit TMapUse(TSrvGrp& sg) : sg_(sg), loaded_(sg.LoadOffsMap()) {}
  ~TMapUse() { sg_.ReleaseOffsMap(); }
  TMapUse(const TMapUse&) = delete;
  TMapUse& operator=(const TMapUse&) = delete;
  bool Loaded() const { return loaded_; }

 private:
  TSrvGrp& sg_;
  bool loaded_;
};

}  // namespace zev
