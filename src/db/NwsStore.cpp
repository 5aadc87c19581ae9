#include "db/NwsStore.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "core/Config.h"
#include "core/Error.h"
#include "core/Intl.h"
#include "core/TextUtil.h"
#include "db/Article.h"
#include "db/Journal.h"
#include "platform/SystemInfo.h"

namespace zev {

TNewsStore* gNewsStore = nullptr;

namespace {

constexpr int64_t kDirCacheSize = 262144;
constexpr uint64_t kSmallMachine = 64ull << 20;

// Adds 256 KiB and clears the low 18 bits: a multiple of 256 KiB above the size.
int64_t Up(uint64_t size) {
  return static_cast<int64_t>(std::min<uint64_t>((size + 262144) & ~uint64_t{262143},
                                                 static_cast<uint64_t>(TNewsStore::kMaxCacheSize)));
}

// The cache grows with the list: the floor share of memory, the list's own size, or at
// most the ceiling share.
int64_t ListCache(uint64_t memory, uint64_t fileSize, uint64_t floorDiv, uint64_t ceilDiv) {
  if (fileSize < memory / floorDiv) return Up(memory / floorDiv);
  if (memory / ceilDiv < fileSize + 262144) return Up(memory / ceilDiv);
  return Up(fileSize);
}

// The shared accessor's copy of the record at `offset`, or null when it holds another one.
// Either way its lock is then in `lock`, so that nobody loads that record meanwhile.
FMsgData* HeldCopy(TArticleOffset offset, std::unique_lock<std::recursive_mutex>& lock) {
  if (!gArticle) return nullptr;
  lock = std::unique_lock(gArticle->Mutex());
  return gArticle->Offset() == offset ? &gArticle->Data() : nullptr;
}

}  // namespace

TNewsStore::TNewsStore(std::function<uint64_t()> memorySize)
    : memorySize_(memorySize ? std::move(memorySize) : [] { return platform::TotalPhysicalMemory(); }) {}

TNewsStore::~TNewsStore() {
  try {
    SetActive(false);
  } catch (const std::exception& e) {
    LogException(e, "TNewsStore.Destroy");
  }
}

void TNewsStore::SetPath(const std::string& directory) {
  if (open_) throw EZevError(Tr("Attempted to change database path while database is open."));
  path_ = directory;
  if (!path_.empty() && path_.back() != '/') path_ += '/';
}

TStoreCacheSizes TNewsStore::CacheSizes() const {
  if (haveSizes_ || !gConfig) return sizes_;
  return TStoreCacheSizes{gConfig->MsgCacheSize, gConfig->AuthCacheSize, gConfig->SubjCacheSize,
                          gConfig->FileCacheSize};
}

std::unique_ptr<TBTree> TNewsStore::OpenTree(const char* name, uint8_t options, int64_t cacheSize) {
  try {
    return std::make_unique<TBTree>(path_ + name, options | options_, cacheSize, options & boKeysInNodes ? 77 : 8);
  } catch (const std::exception& e) {
    LogException(e, "TNewsStore.SetActive");
    throw EZevError(FormatText(Tr("Could not create instance of DB object for %s"), name));
  }
}

void TNewsStore::SetActive(bool open) {
  if (open == open_) return;
  if (!open) {
    CloseAll();
    return;
  }
  TStoreCacheSizes sizes = CacheSizes();
  try {
    msgLst_ = OpenTree("MsgLst.zev", boKeepCount | boKeysInNodes, sizes.msg);
    authLst_ = OpenTree("AuthLst.zev", boKeepCount | boCaseInsensitive | boPrecache, sizes.auth);
    subjLst_ = OpenTree("SubjLst.zev", boKeepCount | boPrecache, sizes.subj);
    fileLst_ = OpenTree("FileLst.zev", boKeepCount | boCaseInsensitive | boPrecache, sizes.file);
    dirLst_ = OpenTree("DirLst.zev", boKeepCount | boCaseInsensitive | boPrecache, kDirCacheSize);
    phantoms_ = std::make_unique<TPhantomList>(path_ + "Phantoms.zev");
  } catch (...) {
    CloseAll();
    throw;
  }
  open_ = true;
}

void TNewsStore::CloseAll() {
  dirLst_.reset();
  fileLst_.reset();
  subjLst_.reset();
  authLst_.reset();
  msgLst_.reset();
  phantoms_.reset();
  open_ = false;
}

void TNewsStore::DeleteListFiles() {
  for (const char* name : {"AuthLst.zev", "SubjLst.zev", "FileLst.zev", "DirLst.zev", "Expired.zev", "Phantoms.zev"}) {
    ::unlink((path_ + name).c_str());
    ::unlink(TJournal::PathFor(path_ + name).c_str());
  }
}

void TNewsStore::DeleteLogFiles() {
  for (const char* name : {"MsgLst.log", "AuthLst.log", "DirLst.log", "SubjLst.log", "FileLst.log"})
    ::unlink((path_ + name).c_str());
}

uint64_t TNewsStore::ListFileSize(int kind) const {
  TBTree* tree = kind == ckAuthors ? authLst_.get() : kind == ckSubjects ? subjLst_.get() : fileLst_.get();
  if (tree) return tree->FileSize();
  const char* name = kind == ckAuthors ? "AuthLst.zev" : kind == ckSubjects ? "SubjLst.zev" : "FileLst.zev";
  return platform::FileSize32(path_ + name);
}

int64_t TNewsStore::RecommendedCacheSize(int kind) const {
  uint64_t memory = memorySize_();
  bool small = memory < kSmallMachine;
  switch (kind) {
    case ckArticles:
      return small ? 2097152 : Up(memory / 32);
    case ckAuthors:
      return small ? Up(memory / 512) : ListCache(memory, ListFileSize(kind), 512, 128);
    case ckSubjects:
    case ckFileNames:
    case ckExistingFiles:
      return small ? Up(memory / 256) : ListCache(memory, ListFileSize(kind), 256, 64);
    default:
      return 4194304;
  }
}

void TNewsStore::AutoSizeCaches(TConfig& config) const {
  if (config.Has(cfManualCacheSizes)) return;
  auto size32 = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, 0, kMaxCacheSize)); };
  config.MsgCacheSize = size32(RecommendedCacheSize(ckArticles));
  config.AuthCacheSize = size32(RecommendedCacheSize(ckAuthors));
  config.SubjCacheSize = size32(RecommendedCacheSize(ckSubjects));
  config.FileCacheSize = size32(RecommendedCacheSize(ckFileNames));
  config.FileCheckCacheSize = size32(RecommendedCacheSize(ckExistingFiles));
  config.GrpCacheSize = size32(RecommendedCacheSize(ckGroupLists));
}

// Reads the record (the shared accessor's copy when it holds it), lets `change` alter it,
// and stores it when `change` says so, in one step of the list.
template <class TChange>
bool TNewsStore::ChangeRecord(TArticleOffset offset, TChange&& change) {
  if (offset <= 16 || !msgLst_) return false;
  std::unique_lock<std::recursive_mutex> lock;
  if (FMsgData* held = HeldCopy(offset, lock)) {
    if (change(*held)) {
      gArticle->MarkDirty();
      gArticle->Write();
    }
    return true;
  }
  bool inUse = false;
  const bool done = msgLst_->ChangeRecord(offset, [&](uint8_t* bytes) {
    FMsgData record;
    std::memcpy(&record, bytes, sizeof record);
    inUse = record.FMsgId[4] != 0;
    if (!inUse || !change(record)) return false;
    std::memcpy(bytes, &record, sizeof record);
    return true;
  });
  return done && inUse;
}

// The same for reading only, which a read-only list allows too.
template <class TView>
bool TNewsStore::ViewRecord(TArticleOffset offset, TView&& view) {
  if (offset <= 16 || !msgLst_) return false;
  std::unique_lock<std::recursive_mutex> lock;
  if (const FMsgData* held = HeldCopy(offset, lock)) {
    view(*held);
    return true;
  }
  FMsgData record;
  if (!msgLst_->ReadRecord(offset, &record) || record.FMsgId[4] == 0) return false;
  view(record);
  return true;
}

bool TNewsStore::ReadFlagsAndPrevPart(TArticleOffset offset, uint32_t& flags, TArticleOffset& prevPart) {
  return ViewRecord(offset, [&](const FMsgData& r) {
    flags = r.FFlags;
    prevPart = r.FPrevPart;
  });
}

bool TNewsStore::ReadFlagsAndNextPart(TArticleOffset offset, uint32_t& flags, TArticleOffset& nextPart) {
  return ViewRecord(offset, [&](const FMsgData& r) {
    flags = r.FFlags;
    nextPart = r.FNextPart;
  });
}

bool TNewsStore::SetPrevPart(TArticleOffset offset, TArticleOffset value) {
  return ChangeRecord(offset, [&](FMsgData& r) {
    r.FPrevPart = value;
    return true;
  });
}

bool TNewsStore::AddFlagsSetNextPart(TArticleOffset offset, uint32_t flagBits, TArticleOffset value) {
  return ChangeRecord(offset, [&](FMsgData& r) {
    r.FFlags |= flagBits;
    r.FNextPart = value;
    return true;
  });
}

}  // namespace zev
