// File sets: the queued parts of one multi-part file share one set, found through the
// article's part chains and the index by offset, never by scanning the list.
#include "download/QueueInternal.h"

namespace zev {

namespace {

// Part numbers are 16-bit; a longer chain is a damaged one (or a loop).
constexpr int kMaxChainSteps = 65536;

}  // namespace

template <typename Fn>
bool TQueue::WalkParts(TArticleOffset from, bool forward, Fn fn) {
  for (int step = 0; from > kLastInvalidOffset && step < kMaxChainSteps; ++step) {
    FQueueArticle part;
    if (!articles_.Read(from, part)) return false;
    fn(from);
    from = forward ? part.NextPart : part.PrevPart;
  }
  return true;
}

TQueueFileSet* TQueue::FindOrCreateSet(TLockedList&, TArticleOffset offset) {
  if (offset <= kLastInvalidOffset) return nullptr;
  FQueueArticle article;
  if (!articles_.Read(offset, article)) return nullptr;
  // The set of the latest queued part wins, as if the list were searched from its end.
  TQueueFileSet* found = nullptr;
  uint32_t foundSeq = 0;
  auto consider = [&](TArticleOffset part) {
    offsets_.ForEach(part, [&](TQueueItem* item) {
      if (item->FileSet && item->seq_ >= foundSeq) {
        found = item->FileSet;
        foundSeq = item->seq_;
      }
    });
  };
  consider(offset);
  WalkParts(article.PrevPart, false, consider);
  WalkParts(article.NextPart, true, consider);
  return found ? found : NewSet(true);
}

void TQueue::LinkSets() {
  std::lock_guard lock(lock_);
  Compact();
  for (size_t i = list_.size(); i-- > 1;) {
    TQueueItem* item = list_[i];
    if (!item->IsBody() || item->FileSet || item->IsHandled()) continue;
    FQueueArticle article;
    if (articles_.Read(item->Data[0], article)) LinkFrom(item, i, article);
  }
  // Loading and the start-up scan register further servers' numbers for articles that
  // were already queued: look at every item's servers again.
  for (TQueueItem* item : list_)
    if (item->IsBody() && !item->IsHandled() && !item->Handler) Resource(item);
  changed_ = true;
}

void TQueue::LinkFrom(TQueueItem* item, size_t position, const FQueueArticle& article) {
  TQueueFileSet* set = NewSet(false);
  set->RefCount = 1;
  set->TotalBytes = item->Data[1];
  item->FileSet = set;
  // The parts queued before this one join it; those after it were linked already.
  auto join = [&](TArticleOffset part) {
    offsets_.ForEach(part, [&](TQueueItem* other) {
      if (other->listPos_ >= position || other->FileSet || other->IsHandled()) return;
      other->FileSet = set;
      ++set->RefCount;
      set->TotalBytes += other->Data[1];
    });
  };
  // An unreadable part ends its chain only; the rest of the queue is still linked.
  WalkParts(article.PrevPart, false, join);
  WalkParts(article.NextPart, true, join);
}

}  // namespace zev
