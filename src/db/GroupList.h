#pragma once
// TGroupList: which newsgroups exist and which news servers carry them, with an article
// count estimate per server and group.
//
// - The group index, "GrpLst.zev" in the data directory: a key-in-record tree whose key is
//   the newsgroup name (byte order) and whose record header holds two 32-bit fields,
//   GroupId (the sequence number the file gave the name when it was first inserted) and
//   CarrierCount (how many servers' lists name the group).
// - One count file per news server (TGroupCountFile): the article count of every GroupId
//   on that server, and the time of the server's last list update.
//
// It is filled by the connections' start-up ("list" on a server's first connection,
// "newgroups" since the last update afterwards), by "group" replies and by imports, and
// tells the server-group lists whether a server carries a group. TGroupListRows shows it
// in the Newsgroups grid.
//
// Threads: every method may be called from any thread. List storing is serialised by one
// lock; each count file is used only under its server's newsgroup-list lock; the index
// is thread-safe itself.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/DateTime.h"
#include "db/BTreeFormat.h"
#include "db/NewsgroupCatalog.h"

namespace zev {

class TBTree;
class TServer;
struct TCheckReport;

constexpr std::string_view kGroupIndexFileName = "GrpLst.zev";

// The record header of the group index.
struct FGroupHeader {
  uint32_t GroupId = 0;
  uint32_t CarrierCount = 0;
};
static_assert(sizeof(FGroupHeader) == 8);

// What one batch of list lines did.
struct FListStoreResult {
  uint32_t stored = 0;    // lines whose group was stored
  uint32_t added = 0;     // names new to the index
  uint32_t refused = 0;   // lines with a name that cannot be a newsgroup (logged)
};

class TGroupList : public TNewsgroupCatalog {
 public:
  // Opens (or creates) the group index in `dataDir` with a page cache of `cacheSize`
  // bytes. Raises EZevError when the file cannot be opened.
  TGroupList(const std::string& dataDir, int64_t cacheSize, uint8_t extraOptions = 0);
  ~TGroupList() override;
  TGroupList(const TGroupList&) = delete;
  TGroupList& operator=(const TGroupList&) = delete;

  // --- Filling ---
  // One block of a "list" or "newgroups" response: the lines after the status line as the
  // server sent them (dot-stuffed). The lines are sorted before they are stored, so the
  // index grows in key order. After the
  // final block the server is marked for new server-groups (ServerGroupsDirty) and
  // GroupListsChanged is set.
  void HandleListResponse(TServer& server, std::string_view data, bool finalBlock);
  // Stores lines of the form "name high low ...", best sorted by name. Lines without a
  // field after the name are ignored; lines whose name is no usable newsgroup name are
  // skipped and logged.
  FListStoreResult StoreLines(const TServer& server, std::vector<std::string_view>& lines);
  // The same for lines held as strings (the .newsrc import adds "name 1 1").
  FListStoreResult StoreStrings(const TServer& server, const std::vector<std::string>& lines);
  // From a "group" reply: the server carries the group with about `count` articles (an
  // empty group counts 1, so that it stays carried). Names not in the index are ignored.
  void SetArticleCount(const TServer& server, std::string_view name, uint32_t count) override;
  // Local date-time of the last list update from the server; 0 when never.
  TDateTime LastUpdate(const TServer& server);
  void SetLastUpdate(const TServer& server, TDateTime value);

  // --- Queries (TNewsgroupCatalog) ---
  uint32_t ArticleCountByName(const TServer& server, std::string_view name) override;
  void MarkNotCarried(const TServer& server, std::string_view name) override;
  void SubscriptionsChanged() override { subscriptionGeneration_.fetch_add(1); }

  // Every slot of the server's count file, indexed by GroupId; empty without a file.
  std::vector<uint32_t> ServerCounts(const TServer& server);
  // The groups the server carries, with their counts, in name order.
  std::vector<std::pair<std::string, uint32_t>> CountsForServer(const TServer& server);
  // Every group of the index in key (byte) order.
  void ForEachGroup(const std::function<void(std::string_view name, uint32_t groupId)>& visit);
  // The header of a name; false when the name is not in the index.
  bool FindGroup(std::string_view name, FGroupHeader& header);
  uint32_t GroupCount();
  // Walks the whole index file (tests and the database tool).
  TCheckReport CheckIndex();

  // --- Commands ---
  // Sets the server's count of the group by hand (Force Exist: 1, Force NonExist: 0).
  // Dropping a count to 0 also drops the server-group of that server and group; raising
  // it from 0 marks the server for new server-groups when the group is subscribed. False
  // when the name is not in the index or nothing changed.
  bool ForceCount(TServer& server, std::string_view name, uint32_t count);
  // Forgets everything the server listed: its count file goes and every group it carried
  // loses one carrier. The server's next connection downloads the whole list again.
  void ForgetServer(TServer& server);

  // --- Change tracking (for the Newsgroups page) ---
  // Raised when a name is added to the index.
  uint64_t IndexGeneration() const { return indexGeneration_.load(); }
  // Raised whenever any count file changes.
  uint64_t CountsGeneration() const { return countsGeneration_.load(); }
  // Raised when the subscribed newsgroups changed.
  uint64_t SubscriptionGeneration() const { return subscriptionGeneration_.load(); }
  // Set when a server's list was updated; the window clears it when it has reacted.
  std::atomic<bool> GroupListsChanged{false};

 private:
  FListStoreResult StoreSorted(const TServer& server, const std::vector<std::string_view>& lines);
  bool AddCarrier(TDataPointer dp, int32_t delta);

  std::unique_ptr<TBTree> index_;
  std::mutex storeLock_;
  std::atomic<uint64_t> indexGeneration_{1};
  std::atomic<uint64_t> countsGeneration_{1};
  std::atomic<uint64_t> subscriptionGeneration_{1};
};

extern TGroupList* gGroupList;

}  // namespace zev
