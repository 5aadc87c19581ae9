#pragma once
// TNewsStore owns the article database: the five list files in the data directory and the
// phantom list. It opens and closes them together, deletes them for a rebuild, sizes their
// page caches from the machine's memory, and offers direct accessors of the part links
// and flags of article records.
//
// The store has no lock of its own: the trees are thread-safe, and read-modify-write
// sequences on one article go through the article accessor's lock.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "db/BTree.h"
#include "db/MsgData.h"
#include "db/Phantoms.h"

namespace zev {

class TConfig;

// Kinds of list for RecommendedCacheSize.
enum TCacheKind : int {
  ckArticles = 0,
  ckAuthors = 1,
  ckSubjects = 2,
  ckFileNames = 3,
  ckExistingFiles = 4,
  ckGroupLists = 5,
};

// The page cache sizes the trees open with (bytes).
struct TStoreCacheSizes {
  int64_t msg = 4194304, auth = 262144, subj = 524288, file = 524288;
};

class TNewsStore {
 public:
  // `memorySize` answers the machine's physical memory (tests inject their own).
  explicit TNewsStore(std::function<uint64_t()> memorySize = {});
  ~TNewsStore();
  TNewsStore(const TNewsStore&) = delete;
  TNewsStore& operator=(const TNewsStore&) = delete;

  // Only while closed; raises "Attempted to change database path while database is open.".
  void SetPath(const std::string& directory);
  const std::string& Path() const { return path_; }
  // The warning and dump bits (boWarnings, boDump) every tree opens with.
  void SetOptions(uint8_t options) { options_ = options & (boWarnings | boDump); }
  uint8_t Options() const { return options_; }
  // Cache sizes for the next open; without a call, the configuration's (gConfig) or defaults.
  void SetCacheSizes(const TStoreCacheSizes& sizes) { sizes_ = sizes; haveSizes_ = true; }

  // Opens (or closes) MsgLst, AuthLst, SubjLst, FileLst, DirLst and the phantom list.
  // Raises "Could not create instance of DB object for %s" when a tree cannot be opened;
  // the trees opened before it are closed again.
  void SetActive(bool open);
  bool Active() const { return open_; }

  // Deletes the string lists, "Expired.zev" and "Phantoms.zev" ("MsgLst.zev" is the
  // caller's) with their journals.
  void DeleteListFiles();
  // Deletes the dump files of the five trees.
  void DeleteLogFiles();

  // Page cache size for a kind of list, computed in 64 bits and capped at 1 GiB.
  int64_t RecommendedCacheSize(int kind) const;
  // Unless the configuration asks for manual sizes: sets its six cache sizes.
  void AutoSizeCaches(TConfig& config) const;

  TBTree* MsgLst() const { return msgLst_.get(); }
  TBTree* AuthLst() const { return authLst_.get(); }
  TBTree* SubjLst() const { return subjLst_.get(); }
  TBTree* FileLst() const { return fileLst_.get(); }
  TBTree* DirLst() const { return dirLst_.get(); }
  TPhantomList* Phantoms() const { return phantoms_.get(); }

  // Direct access to the part links and flags of a record. False for a pointer of 16 or
  // less or a record that cannot be read. When the shared article accessor holds that
  // record, its copy is used (and AddFlagsSetNextPart stores it at once).
  bool ReadFlagsAndPrevPart(TArticleOffset offset, uint32_t& flags, TArticleOffset& prevPart);
  bool ReadFlagsAndNextPart(TArticleOffset offset, uint32_t& flags, TArticleOffset& nextPart);
  bool SetPrevPart(TArticleOffset offset, TArticleOffset value);
  bool AddFlagsSetNextPart(TArticleOffset offset, uint32_t flagBits, TArticleOffset value);

  static constexpr int64_t kMaxCacheSize = 1ll << 30;

 private:
  std::unique_ptr<TBTree> OpenTree(const char* name, uint8_t options, int64_t cacheSize);
  template <class TChange>
  bool ChangeRecord(TArticleOffset offset, TChange&& change);
  template <class TView>
  bool ViewRecord(TArticleOffset offset, TView&& view);
  void CloseAll();
  TStoreCacheSizes CacheSizes() const;
  uint64_t ListFileSize(int kind) const;

  std::function<uint64_t()> memorySize_;
  std::string path_;
  bool open_ = false;
  uint8_t options_ = 0;
  TStoreCacheSizes sizes_;
  bool haveSizes_ = false;
  std::unique_ptr<TBTree> msgLst_, authLst_, subjLst_, fileLst_, dirLst_;
  std::unique_ptr<TPhantomList> phantoms_;
};

extern TNewsStore* gNewsStore;

}  // namespace zev
