#pragma once
// TPartCheck: gathers the parts of multi-part posts while their headers arrive, links each
// part to its neighbours in the article database, and decides when all parts of a file
// are there. A complete file gives every part afGoodParts, one computed file size and a
// common read state; while parts are missing the arriving part carries afBadParts.
//
// The index lives in memory only: for every (file name, subject template) pair a list of
// part maps, one per candidate file (reposts of the same name and subject make several).
// Entry i of a map holds the record offset of part i, 0 while unseen; entry 0 holds the
// typical part size and what was seen of the parts' read states. A map is dropped when its
// file completes. Maps of files that never complete are evicted, oldest first, once the
// index holds more part entries than its budget, so a group full of incomplete posts
// cannot grow the index without end.
//
// Threads: callers hold the shared article accessor's lock (CheckItem works on its current
// record). The index has its own lock as well, because an article that expires through
// another accessor reaches RecheckKnown without the shared accessor's lock. Lock order:
// article accessor, then the index.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "db/Article.h"
#include "db/MsgData.h"
#include "db/PartCheckHook.h"

namespace zev {

class TNewsStore;

class TPartCheck : public TPartCheckHook {
 public:
  // Part entries (all maps together) the index may hold before it evicts: 8M entries are
  // 32 MB, room for a hundred thousand incomplete files of 80 parts.
  static constexpr size_t kDefaultEntryBudget = size_t{8} << 20;

  // `shared` is the accessor the callers hold locked; neighbour parts are read through a
  // private accessor on `store`.
  TPartCheck(TNewsStore& store, TArticle& shared, size_t entryBudget = kDefaultEntryBudget);
  ~TPartCheck() override;
  TPartCheck(const TPartCheck&) = delete;
  TPartCheck& operator=(const TPartCheck&) = delete;

  // Files the article at `offset` into its part map and links it to its neighbours; true
  // when that made (or found) its file complete. Only multi-part articles with a part
  // number between 1 and their part count are handled; for others the result is false and
  // nothing changes. With `doNotWrite` the current record is left for the caller to store.
  bool CheckItem(TArticleOffset offset, bool doNotWrite);
  // Checks every part along the article's chain, then the article itself, keeping the
  // parts' read states as they are. Each direction stops after as many steps as the file
  // has parts, so a looping chain cannot hold it. Takes the shared accessor's lock itself.
  void RecheckChain(TArticleOffset offset);
  // The article left its file (it expired): its place in a part map is freed. True when
  // its file is still complete, which after losing a part it never is.
  bool RecheckKnown(TArticleOffset offset) override;

  uint64_t MapsCreated() const;
  uint64_t FilesCompleted() const;
  uint64_t MapsEvicted() const;
  size_t OpenMaps() const;
  size_t OpenEntries() const;

 private:
  struct FPartMap {
    std::vector<uint32_t> entries;  // [0] size and read bits, [i] offset of part i
    uint64_t touched = 0;
  };
  using TMapList = std::vector<FPartMap>;

  // The part being checked, as read from the shared accessor.
  struct FPart {
    TArticleOffset offset = 0;
    uint32_t no = 0, total = 0, size = 0;
    bool read = false;
  };

  static uint64_t KeyOf(const FMsgData& record);
  bool Place(const FPart& part);
  FPartMap NewMap(const FPart& part);
  size_t ChooseMap(const TMapList& list, const FPart& part) const;
  static void Enter(FPartMap& map, uint32_t no, TArticleOffset offset, uint32_t size, bool read);
  void LinkPrevious(FPartMap& map, const FPart& part);
  void LinkNext(FPartMap& map, const FPart& part);
  static bool Complete(const FPartMap& map);
  void FinishFile(const FPartMap& map, const FPart& part);
  void MarkComplete(FMsgData& record, uint32_t no, uint32_t total, uint32_t fileSize, int readState) const;
  uint32_t FileSize(const FPartMap& map, const FPart& part);
  bool ReadPart(TArticleOffset offset, FMsgData& record);
  void CollectChain(TArticleOffset start, bool forward, std::vector<TArticleOffset>& out);
  void EvictIfOverBudget();

  TNewsStore& store_;
  TArticle& shared_;
  TArticle own_;
  size_t entryBudget_;
  mutable std::recursive_mutex lock_;
  std::unordered_map<uint64_t, TMapList> index_;
  size_t entries_ = 0;
  size_t maps_ = 0;
  uint64_t clock_ = 0;
  bool recheck_ = false;
  bool noWrite_ = false;
  uint64_t mapsCreated_ = 0;
  uint64_t filesCompleted_ = 0;
  uint64_t mapsEvicted_ = 0;
};

// Created by start-up after the decoder.
extern TPartCheck* gPartCheck;

}  // namespace zev
