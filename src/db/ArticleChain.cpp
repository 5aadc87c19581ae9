// TArticle: walks along the part and file chains of the current article. Every walk is
// bounded by the part (or file) total, so a damaged chain that loops ends it; broken back
// links met on the way are repaired and the repair logged.
#include <algorithm>

#include "core/Error.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/Article.h"
#include "db/BTree.h"
#include "db/NwsStore.h"

namespace zev {

namespace {

uint32_t Bound(uint32_t total) { return std::max<uint32_t>(total, 1) + 1; }

// The two directions of a chain over one pair of link fields.
struct TChain {
  size_t back;   // offset of the link walked
  size_t forth;  // offset of the link that must point back
  const char* repairMessage;
};

constexpr TChain kPrevParts{offsetof(FMsgData, FPrevPart), offsetof(FMsgData, FNextPart),
                            "Found and corrected missing next part pointer in multi-part article"};
constexpr TChain kNextParts{offsetof(FMsgData, FNextPart), offsetof(FMsgData, FPrevPart),
                            "Found and corrected missing previous part pointer in multi-part article"};
constexpr TChain kPrevFiles{offsetof(FMsgData, FPrevFile), offsetof(FMsgData, FNextFile),
                            "Found and corrected missing next file pointer in multi-file article set"};
constexpr TChain kNextFiles{offsetof(FMsgData, FNextFile), offsetof(FMsgData, FPrevFile),
                            "Found and corrected missing previous file pointer in multi-file article set"};

}  // namespace

bool TArticle::FirstPart() {
  std::lock_guard lock(lock_);
  if (offset_ <= 16) return false;
  if (dirty_) Write();
  dirty_ = false;
  ClearCache();
  TArticleOffset start = offset_;
  bool ok = true;
  try {
    for (uint32_t steps = 0, bound = Bound(msg_.FPartTotal); msg_.FPrevPart > 16 && steps < bound; ++steps) {
      if (dirty_) Write();
      TArticleOffset from = offset_;
      if (!Read(msg_.FPrevPart)) {
        ok = false;
        break;
      }
      if (msg_.FNextPart != from) {
        msg_.FNextPart = from;
        dirty_ = true;
        LogError(kPrevParts.repairMessage, 0);
      }
    }
  } catch (const std::exception& e) {
    LogException(e, "TArticle.FirstPart", FormatText("Article ID: %u", start));
    ok = false;
  }
  if (!ok) {
    offset_ = 0;
    msg_.FPrevPart = msg_.FNextPart = msg_.FPrevFile = msg_.FNextFile = 0;
    msg_.FSubject = msg_.FAuthor = msg_.FFileName = msg_.FDownloadDir = 0;
    dirty_ = false;
  }
  return ok;
}

namespace {

// Follows `chain` from `start` for at most `bound` records; calls `visit` with each record
// reached and its offset, and repairs a back link that does not name the record it was
// reached from when `repair` is set. `visit` returning false ends the walk.
template <class TVisit>
void Walk(TBTree& list, TArticleOffset startOffset, const FMsgData& start, const TChain& chain, uint32_t bound,
          bool repair, TVisit&& visit) {
  TArticleOffset from = startOffset, at = FieldAt(start, chain.back);
  for (uint32_t steps = 0; at > 16 && at != from && steps < bound; ++steps) {
    FMsgData r{};
    if (!list.ReadRecord(at, &r) || r.FMsgId[4] == 0) return;
    if (!visit(at, r)) return;
    if (repair && FieldAt(r, chain.forth) != from) {
      SetFieldAt(r, chain.forth, from);
      list.WriteRecord(at, &r);
      LogError(chain.repairMessage, 0);
    }
    from = at;
    at = FieldAt(r, chain.back);
  }
}

}  // namespace

uint32_t TArticle::CountParts() {
  std::lock_guard lock(lock_);
  if (offset_ <= 16) return 0;
  if (HasFlag(msg_, afMultiPart) && HasFlag(msg_, afGoodParts)) return msg_.FPartTotal;
  uint32_t count = 1;
  for (const TChain* chain : {&kPrevParts, &kNextParts})
    Walk(*store_.MsgLst(), offset_, msg_, *chain, Bound(msg_.FPartTotal), true, [&](TArticleOffset, const FMsgData&) {
      ++count;
      return true;
    });
  return count;
}

uint32_t TArticle::CountFiles() {
  std::lock_guard lock(lock_);
  if (offset_ <= 16) return 0;
  uint32_t count = 1;
  for (const TChain* chain : {&kPrevFiles, &kNextFiles})
    Walk(*store_.MsgLst(), offset_, msg_, *chain, Bound(msg_.FFileTotal), true, [&](TArticleOffset, const FMsgData&) {
      ++count;
      return true;
    });
  return count;
}

uint64_t TArticle::TotalLines() {
  std::lock_guard lock(lock_);
  if (offset_ <= 16) return 0;
  uint64_t lines = msg_.FLines;
  for (const TChain* chain : {&kPrevParts, &kNextParts})
    Walk(*store_.MsgLst(), offset_, msg_, *chain, Bound(msg_.FPartTotal), false,
         [&](TArticleOffset, const FMsgData& r) {
           lines += r.FLines;
           return true;
         });
  return lines;
}

uint32_t TArticle::CombinedFlags() {
  std::lock_guard lock(lock_);
  if (offset_ <= 16) return 0;
  uint32_t flags = msg_.FFlags;
  for (const TChain* chain : {&kPrevParts, &kNextParts}) {
    bool backwards = chain == &kPrevParts;
    uint16_t previousNo = msg_.FPartNo;
    // The walk ends where the part numbers stop running the right way or another file begins.
    Walk(*store_.MsgLst(), offset_, msg_, *chain, Bound(msg_.FPartTotal), true,
         [&](TArticleOffset, const FMsgData& r) {
           flags |= r.FFlags;
           bool inOrder = backwards ? r.FPartNo < previousNo : r.FPartNo > previousNo;
           if (r.FPartTotal != msg_.FPartTotal || !inOrder) return false;
           previousNo = r.FPartNo;
           return true;
         });
  }
  return flags;
}

bool TArticle::PartMap(std::vector<TArticleOffset>& parts) {
  std::lock_guard lock(lock_);
  parts.clear();
  if (offset_ <= 16) return false;
  if (!HasFlag(msg_, afMultiPart)) {
    parts.push_back(offset_);
    return true;
  }
  uint16_t partNo = msg_.FPartNo, partTotal = msg_.FPartTotal;
  parts.assign(std::max(partNo, partTotal), 0);
  auto put = [&](TArticleOffset at, uint16_t partNo) {
    if (partNo == 0) return;  // never linked by a sound chain; nowhere to put it
    if (partNo > parts.size()) parts.resize(partNo, 0);
    parts[partNo - 1] = at;
  };
  put(offset_, msg_.FPartNo);
  for (const TChain* chain : {&kPrevParts, &kNextParts})
    Walk(*store_.MsgLst(), offset_, msg_, *chain, Bound(msg_.FPartTotal), false,
         [&](TArticleOffset at, const FMsgData& r) {
           put(at, r.FPartNo);
           return true;
         });
  return true;
}

}  // namespace zev
