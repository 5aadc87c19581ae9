// TArticle: loading, storing, creating and expiring records; counters and sizes.
#include "db/Article.h"

#include <algorithm>
#include <cstring>

#include "core/Error.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/BTree.h"
#include "db/Expirer.h"
#include "db/NwsStore.h"
#include "db/PartCheckHook.h"

namespace zev {

TArticle* gArticle = nullptr;
std::atomic<bool> gNewFileNames{false};
TPartCheckHook* gPartCheckHook = nullptr;

namespace {
// A record is in use while the fifth character of its Message-ID is set: freed slots are
// zero beyond their first four bytes.
bool InUse(const FMsgData& r) { return r.FMsgId[4] != 0; }

std::string ShortId(const char* id) { return std::string(id, strnlen(id, 8)); }
}  // namespace

TArticle::TArticle(TNewsStore& store) : store_(store) {}

TArticle::~TArticle() {
  try {
    Clear();
  } catch (const std::exception& e) {
    LogException(e, "TArticle.Destroy");
  }
}

void TArticle::ClearCache() {
  for (auto& c : cache_) c.reset();
  messageIdKnown_ = false;
}

// After a failed load nothing of the previous record may pass for the new one.
void TArticle::Forget() {
  offset_ = 0;
  msg_ = FMsgData{};
  dirty_ = false;
  ClearCache();
}

void TArticle::RemoveSelfLinks(FMsgData& r, TArticleOffset offset, bool& changed) {
  auto unlinked = [&](uint32_t link) -> uint32_t {
    if (link != offset) return link;
    changed = true;
    return 0;
  };
  r.FPrevPart = unlinked(r.FPrevPart);
  r.FNextPart = unlinked(r.FNextPart);
  r.FPrevFile = unlinked(r.FPrevFile);
  r.FNextFile = unlinked(r.FNextFile);
}

bool TArticle::ReadAt(TArticleOffset offset, FMsgData& record) {
  return offset > 16 && store_.MsgLst()->ReadRecord(offset, &record) && InUse(record);
}

bool TArticle::WriteAt(TArticleOffset offset, const FMsgData& record) {
  return store_.MsgLst()->WriteRecord(offset, &record);
}

bool TArticle::Read(TArticleOffset offset) {
  std::lock_guard lock(lock_);
  if (dirty_ && offset_ > 16) Write();
  dirty_ = false;
  ClearCache();
  try {
    const uint64_t epoch = store_.MsgLst() ? store_.MsgLst()->Epoch() : 0;
    if (offset <= 16 || !store_.MsgLst() || !store_.MsgLst()->ReadRecord(offset, &msg_))
      throw EZevError(FormatText("No article record at offset %u", offset));
    offset_ = offset;
    offsetEpoch_ = epoch;
    bool changed = false;
    RemoveSelfLinks(msg_, offset, changed);
    if (changed) dirty_ = true;
    return true;
  } catch (const std::exception& e) {
    Forget();
    LogException(e, "TArticle.Read", FormatText("Article ID: %u", offset));
    return false;
  }
}

void TArticle::Write() {
  std::lock_guard lock(lock_);
  dirty_ = false;
  if (offset_ <= 16) {
    LogError("Error! Attempted to write an uninitialized article!", 1, true);
    return;
  }
  try {
    bool changed = false;
    RemoveSelfLinks(msg_, offset_, changed);
    if (WriteInPlace()) return;
    FMsgData stored{};
    bool readable = store_.MsgLst()->ReadRecord(offset_, &stored);
    bool same = readable && InUse(stored) && std::memcmp(stored.FMsgId, msg_.FMsgId, sizeof msg_.FMsgId) == 0;
    // When the full Message-ID is known, the slot must still be that article's; it surely
    // is while the list has freed no record since the slot was found.
    TDataPointer current = 0;
    if (same && messageIdKnown_ && !messageId_.empty() && store_.MsgLst()->Epoch() != offsetEpoch_)
      same = store_.MsgLst()->Find(messageId_, current) && current == offset_;
    if (same) {
      store_.MsgLst()->WriteRecord(offset_, &msg_);
      return;
    }
    std::string bracketed = GetBracketedMessageId();
    LogError(FormatText("Call of TArticle.Write to Offs=%u, MsgID=%s [old short: <%.5s...>, new short: <%.5s...>], "
                        "RefCount=%d!",
                        offset_, bracketed.c_str(), ShortId(stored.FMsgId).c_str(), ShortId(msg_.FMsgId).c_str(),
                        static_cast<int>(stored.FRefCount)),
             1, true);
  } catch (const std::exception& e) {
    LogException(e, "TArticle.Write");
  }
}

// The common case of Write in one step of the list: the slot still holds this Message-ID
// and, when the full Message-ID is known, the list has freed no record since the slot was
// found. Anything else is left to Write's thorough check.
bool TArticle::WriteInPlace() {
  if (!InUse(msg_)) return false;
  const uint64_t epoch = messageIdKnown_ && !messageId_.empty() ? offsetEpoch_ : 0;
  return store_.MsgLst()->WriteRecordIfSame(offset_, &msg_, offsetof(FMsgData, FMsgId), sizeof msg_.FMsgId, epoch);
}

void TArticle::Clear() {
  std::lock_guard lock(lock_);
  if (dirty_ && offset_ > 16) Write();
  Forget();
}

bool TArticle::New(std::string_view messageId, TArticleOffset& offset) {
  std::lock_guard lock(lock_);
  Clear();
  std::string_view head = messageId.substr(0, std::min({messageId.find('\0'), messageId.size(), sizeof msg_.FMsgId}));
  std::memcpy(msg_.FMsgId, head.data(), head.size());
  msg_.FRefCount = 1;
  TDataPointer dp = 0;
  const uint64_t epoch = store_.MsgLst()->Epoch();
  bool added = store_.MsgLst()->Insert(messageId, &msg_, dp);
  offsetEpoch_ = epoch;
  offset = dp;
  if (dp == 0) {
    Forget();
    return false;
  }
  offset_ = dp;
  messageId_.assign(messageId.substr(0, std::min(messageId.find('\0'), size_t{255})));
  messageIdKnown_ = true;
  dirty_ = added;
  return added;
}

uint32_t TArticle::AdjustRefCount(int64_t delta) {
  std::lock_guard lock(lock_);
  if (delta == 0) return msg_.FRefCount;
  if (delta > 0) {
    msg_.FRefCount = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{msg_.FRefCount} + delta, UINT32_MAX));
  } else {
    uint64_t down = static_cast<uint64_t>(-delta);
    msg_.FRefCount = down < msg_.FRefCount ? msg_.FRefCount - static_cast<uint32_t>(down) : 0;
    if (msg_.FRefCount == 0 && gExpirer && offset_ > 16) gExpirer->Add(offset_);
  }
  dirty_ = true;
  return msg_.FRefCount;
}

void TArticle::AdjustScore(int delta) {
  std::lock_guard lock(lock_);
  delta = std::clamp(delta, -256, 256);
  msg_.FScore = static_cast<int8_t>(std::clamp(msg_.FScore + delta, -128, 127));
  dirty_ = true;
}

void TArticle::Include(int flag) {
  if (flag < 0 || flag > 31) return;
  Set(offsetof(FMsgData, FFlags), msg_.FFlags | (1u << flag));
}

void TArticle::Exclude(int flag) {
  if (flag < 0 || flag > 31) return;
  Set(offsetof(FMsgData, FFlags), msg_.FFlags & ~(1u << flag));
}

void TArticle::SetLines(uint32_t lines) {
  std::lock_guard lock(lock_);
  // A huge count on a part of a multi-part file is the count of the whole file.
  msg_.FLines = lines >= 16001 && msg_.FPartTotal >= 2 ? lines / msg_.FPartTotal : lines;
  uint32_t l = msg_.FLines;
  uint64_t estimate;
  if (l >= 1001 && l % 1000 <= 9) estimate = uint64_t{l / 1000} * 45000;
  else if (HasFlag(msg_, afyEncode)) estimate = uint64_t{l} * 126;
  else if (l < 41) estimate = uint64_t{l} * 25;
  else estimate = uint64_t{l} * 45 - 90;
  uint32_t e = static_cast<uint32_t>(std::min<uint64_t>(estimate, UINT32_MAX));
  if (e == msg_.FPartSize || lines == 0) return;
  if (HasFlag(msg_, afMultiPart)) {
    if (msg_.FPartSize == 0 || !HasFlag(msg_, afDownloaded)) msg_.FPartSize = e;
  } else {
    msg_.FPartSize = e;
    bool questionable = false;
    if (msg_.FFileSize == 0) {
      if (e < 2001) questionable = true;
      else msg_.FFileSize = e;
    } else if (!SizesClose(e, msg_.FFileSize, HasFlag(msg_, afyEncode))) {
      questionable = true;
    }
    if (questionable) {
      SetFlag(msg_, afBadSize);
      ClearFlag(msg_, afExactSize);
      ClearFlag(msg_, afApproxSize);
    }
  }
  dirty_ = true;
}

uint64_t TArticle::EncodedSize() const {
  return HasFlag(msg_, afyEncode) ? uint64_t{msg_.FLines} * 130 : uint64_t{msg_.FPartSize} * 62 / 45;
}

bool TArticle::SizesClose(uint32_t a, uint32_t b, bool yEnc) {
  uint64_t x = a, y = b;
  if ((x > y ? x - y : y - x) < 1000) return true;
  if (yEnc) return y - y / 64 < x && x < y + 2000 + y / 32;
  return y - y / 256 < x && x < y + 2000 + y / 128;
}

bool TArticle::Expire(TArticleOffset offset) {
  std::lock_guard lock(lock_);
  Clear();
  try {
    FMsgData r{};
    if (!ReadAt(offset, r)) throw EZevError(FormatText("No article record at offset %u", offset));
    if (r.FRefCount >= 2) {
      --r.FRefCount;
      WriteAt(offset, r);
      return false;
    }
    TArticleOffset prev = r.FPrevPart, next = r.FNextPart;
    bool wasVisible = !HasFlag(r, afHideIfCombined);
    r.FPrevPart = r.FNextPart = 0;
    r.FRefCount = 0;
    for (TArticleFlag f : {afMarked, afGoodParts, afBadParts, afHideIfCombined}) ClearFlag(r, f);
    if (gExpirer) gExpirer->Add(offset);
    WriteAt(offset, r);
    if (HasFlag(r, afMultiPart)) {
      if (gPartCheckHook) gPartCheckHook->RecheckKnown(offset);
      TellChainPartGone(prev == offset ? 0 : prev, next == offset ? 0 : next, wasVisible,
                        std::max<uint32_t>(r.FPartTotal, 1) + 1);
    }
    return true;
  } catch (const std::exception& e) {
    LogException(e, "TArticle.Expire");
    return false;
  }
}

namespace {
void MarkPartGone(FMsgData& r) {
  ClearFlag(r, afMarked);
  ClearFlag(r, afGoodParts);
  SetFlag(r, afBadParts);
}
}  // namespace

// The parts around an expired one learn that their file lost a part. Each walk ends after
// `bound` records, so a damaged chain that loops cannot hold it.
void TArticle::TellChainPartGone(TArticleOffset prev, TArticleOffset next, bool wasVisible, uint32_t bound) {
  FMsgData last{}, c{};
  if (next > 16 && ReadAt(next, last)) {
    last.FPrevPart = prev;
    MarkPartGone(last);
    WriteAt(next, last);
    TArticleOffset lastAt = next;
    TArticleOffset at = last.FNextPart == next ? 0 : last.FNextPart;
    for (uint32_t steps = 0; at > 16 && steps < bound && ReadAt(at, c); ++steps) {
      MarkPartGone(c);
      bool ordered = last.FPartNo < c.FPartNo;
      if (!ordered && c.FPrevPart == lastAt) c.FPrevPart = 0;
      WriteAt(at, c);
      if (c.FNextPart == at) break;
      if (!ordered && ReadAt(lastAt, last)) {
        last.FNextPart = 0;
        ClearFlag(last, afHideIfCombined);
        WriteAt(lastAt, last);
      }
      last = c;
      lastAt = at;
      at = c.FNextPart;
    }
  }
  if (prev > 16 && ReadAt(prev, last)) {
    last.FNextPart = next;
    MarkPartGone(last);
    if (wasVisible) ClearFlag(last, afHideIfCombined);
    WriteAt(prev, last);
    TArticleOffset lastAt = prev;
    TArticleOffset at = last.FPrevPart == prev ? 0 : last.FPrevPart;
    for (uint32_t steps = 0; at > 16 && steps < bound && ReadAt(at, c); ++steps) {
      MarkPartGone(c);
      bool ordered = c.FPartNo < last.FPartNo;
      if (!ordered && c.FNextPart == lastAt) {
        c.FNextPart = 0;
        ClearFlag(c, afHideIfCombined);
      }
      WriteAt(at, c);
      if (c.FPrevPart == at) break;
      if (!ordered && ReadAt(lastAt, last)) {
        last.FPrevPart = 0;
        WriteAt(lastAt, last);
      }
      last = c;
      lastAt = at;
      at = c.FPrevPart;
    }
  }
}

}  // namespace zev
