#include "db/BTreeCheck.h"

#include <algorithm>

#include "core/TextUtil.h"
#include "db/BTreeInternal.h"

namespace zev {

using namespace fmt;

namespace {
constexpr size_t kMaxProblems = 500;
}

std::string TCheckReport::Text() const {
  std::string out;
  for (auto& p : problems) out += "ERROR: " + p + "\n";
  for (auto& n : notes) out += "note: " + n + "\n";
  out += FormatText("%llu keys, %llu records, %u levels, %llu index pages, %llu data pages, %llu free pages: %s\n",
                    static_cast<unsigned long long>(keys), static_cast<unsigned long long>(records), depth,
                    static_cast<unsigned long long>(indexPages), static_cast<unsigned long long>(dataPages),
                    static_cast<unsigned long long>(freePages), Ok() ? "OK" : "DAMAGED");
  return out;
}

void TBTreeCheck::Problem(std::string text) {
  if (report_.problems.size() < kMaxProblems) report_.problems.push_back(std::move(text));
  else if (report_.problems.size() == kMaxProblems) report_.problems.push_back("... and more");
}

void TBTreeCheck::Note(std::string text) { report_.notes.push_back(std::move(text)); }

// Every page has one role; a page reached a second time is reported and not walked again.
bool TBTreeCheck::Claim(uint32_t position, TRole role, const char* what) {
  uint32_t n = PageNumber(position);
  if (n >= roles_.size()) {
    Problem(FormatText("%s %u lies beyond the end of the file", what, position));
    return false;
  }
  if (roles_[n] != rNone) {
    Problem(FormatText("%s %u is also reached as another page (role %u)", what, position, roles_[n]));
    return false;
  }
  roles_[n] = role;
  return true;
}

TCheckReport TBTree::Check() { return TBTreeCheck(*this).Run(); }

TCheckReport TBTreeCheck::Run() {
  std::shared_lock lock(tree_.lock_);
  report_ = TCheckReport{};
  roles_.assign(tree_.FileSize() / kPageSize, rNone);
  leaves_.clear();
  keyed_.clear();
  stored_.clear();
  leafDepth_ = -1;
  roles_[0] = roles_[1] = roles_[2] = rRoot;
  roles_[3] = rData;
  VisitNode(0, 0, std::nullopt, std::nullopt);
  report_.depth = static_cast<uint32_t>(leafDepth_ + 1);
  CheckLeafChain();
  CheckDataPages();
  CheckFreeList();
  CheckRecordsAgainstKeys();
  CheckUnclaimedPages();
  return std::move(report_);
}

void TBTreeCheck::VisitNode(uint32_t position, uint32_t depth, const std::optional<std::string>& low,
                            const std::optional<std::string>& high) {
  bool isRoot = position == 0;
  if (depth > kMaxDepth) return Problem(FormatText("index deeper than %zu levels at page %u", kMaxDepth, position));
  if (!isRoot && !Claim(position, rIndex, "index page")) return;
  TPageRef ref = tree_.cache_->Get(position);
  if (!ref) return Problem(FormatText("index page %u cannot be read", position));
  TNode node(ref.Data(), ref.Size());
  uint8_t expected = (isRoot ? nt3x : 0) | (tree_.KeysInNodes() ? ntType2 : 0);
  if ((node.Kind() & ~ntDir) != expected)
    return Problem(FormatText("page %u has kind %u where an index page of this tree belongs", position, node.Kind()));
  std::string why;
  if (!node.Valid(&why)) return Problem(FormatText("index page %u: %s", position, why.c_str()));
  ++report_.indexPages;
  uint32_t n = node.Count();
  if (!isRoot && n == 0) Problem(FormatText("index page %u below the root is empty", position));

  bool ci = tree_.CaseInsensitive();
  TBTree::TKeyReader keys(tree_);
  std::vector<std::optional<std::string>> texts(n);
  for (uint32_t i = 0; i < n; ++i) {
    std::string_view k;
    TPageRef record;
    uint32_t offset;
    if (!keys.KeyOf(node, i, k) || (!node.KeysInNode() && !tree_.LocateRecord(node.Dp(i), record, offset))) {
      Problem(FormatText("index page %u, entry %u: the key of record %u cannot be read", position, i, node.Dp(i)));
      continue;
    }
    texts[i] = std::string(k);
    if (low && CompareKeys(*texts[i], *low, ci) < 0)
      Problem(FormatText("index page %u, entry %u: key \"%s\" lies below its separator \"%s\"", position, i,
                         texts[i]->c_str(), low->c_str()));
    if (high && CompareKeys(*texts[i], *high, ci) >= 0)
      Problem(FormatText("index page %u, entry %u: key \"%s\" is not below the next separator \"%s\"", position, i,
                         texts[i]->c_str(), high->c_str()));
    if (i > 0 && texts[i - 1] && CompareKeys(*texts[i - 1], *texts[i], ci) >= 0)
      Problem(FormatText("index page %u: keys %u and %u are out of order", position, i - 1, i));
  }

  if (!node.IsDir()) {
    if (leafDepth_ < 0) leafDepth_ = depth;
    else if (leafDepth_ != static_cast<int64_t>(depth))
      Problem(FormatText("leaf %u lies at depth %u, other leaves at %lld", position, depth,
                         static_cast<long long>(leafDepth_)));
    if (!isRoot) leaves_.push_back(position);
    for (uint32_t i = 0; i < n; ++i) {
      TPageRef record;
      uint32_t offset;
      if (!tree_.LocateRecord(node.Dp(i), record, offset))
        Problem(FormatText("leaf %u, entry %u points to %u, which is not a stored record", position, i, node.Dp(i)));
      keyed_.push_back(node.Dp(i));
      ++report_.keys;
    }
    return;
  }
  for (uint32_t c = 0; c <= n; ++c) {
    uint32_t child = node.SlotChild(c);
    if (!tree_.ValidChild(child)) {
      Problem(FormatText("index page %u: child %u refers to %u, outside the file", position, c, child));
      continue;
    }
    const std::optional<std::string>& childLow = c == 0 ? low : texts[c - 1];
    const std::optional<std::string>& childHigh = c == n ? high : texts[c];
    VisitNode(child, depth + 1, childLow, childHigh);
  }
}

void TBTreeCheck::CheckLeafChain() {
  for (size_t i = 0; i < leaves_.size(); ++i) {
    TPageRef ref = tree_.cache_->Get(leaves_[i]);
    if (!ref) continue;
    TNode leaf(ref.Data(), ref.Size());
    uint32_t prev = i == 0 ? 0 : leaves_[i - 1];
    uint32_t next = i + 1 == leaves_.size() ? 0 : leaves_[i + 1];
    if (leaf.Prev() != prev)
      Problem(FormatText("leaf %u links back to %u instead of %u", leaves_[i], leaf.Prev(), prev));
    if (leaf.Next() != next)
      Problem(FormatText("leaf %u links on to %u instead of %u", leaves_[i], leaf.Next(), next));
  }
}

void TBTreeCheck::CheckDataPages() {
  uint8_t kind = ntData | (tree_.KeysInNodes() ? ntType2 : 0);
  uint32_t recordSize = tree_.SizeParam();
  uint64_t sum = 0;
  uint32_t prev = 0;
  uint32_t total = 0, hint = 0;
  for (uint32_t position = kFirstDataPage; position != 0;) {
    // The first data page is claimed from the start, so only this catches a chain back to it.
    if (position == kFirstDataPage && prev != 0) {
      Problem(FormatText("data page %u links back to the first data page", prev));
      break;
    }
    if (position != kFirstDataPage) {
      if (!tree_.ValidChild(position)) {
        Problem(FormatText("data page %u links on to %u, outside the file", prev, position));
        break;
      }
      if (!Claim(position, rData, "data page")) break;
    }
    TPageRef ref = tree_.cache_->Get(position);
    if (!ref) {
      Problem(FormatText("data page %u cannot be read", position));
      break;
    }
    TDataPage page(ref.Data(), position);
    if (page.Kind() != kind) {
      Problem(FormatText("page %u in the data page chain has kind %u", position, page.Kind()));
      break;
    }
    ++report_.dataPages;
    if (position == kFirstDataPage) {
      total = page.Count();
      hint = page.Hint();
    } else if (page.Prev() != prev) {
      Problem(FormatText("data page %u links back to %u instead of %u", position, page.Prev(), prev));
    }
    std::string why;
    uint32_t onPage = 0;
    if (!page.FreeListValid(&why)) {
      Problem(FormatText("data page %u: %s", position, why.c_str()));
    } else {
      for (uint32_t slot = page.FirstFree(); slot != 0; slot = Load16(ref.Data() + slot)) {
        uint32_t size = Load16(ref.Data() + slot + 2);
        const uint8_t* body = ref.Data() + slot + kSlotHeaderSize;
        if (std::any_of(body, body + size - kSlotHeaderSize, [](uint8_t b) { return b != 0; }))
          Problem(FormatText("data page %u: free slot at %u is not cleared", position, slot));
      }
      bool whole = page.ForEachRecord(recordSize, [&](uint32_t offset) {
        ++onPage;
        stored_.push_back(position + offset);
      });
      if (!whole) Problem(FormatText("data page %u: its records cannot be walked", position));
      if (position != kFirstDataPage && page.Count() != onPage)
        Problem(FormatText("data page %u counts %u records but holds %u", position, page.Count(), onPage));
    }
    sum += onPage;
    prev = position;
    position = page.Next();
  }
  report_.records = sum;
  bool exact = tree_.Options() & boKeepCount;
  if (exact ? total != sum : total < sum)
    Problem(FormatText("the first data page counts %u records, the pages hold %llu", total,
                       static_cast<unsigned long long>(sum)));
  if (hint != 0 && (hint != kFirstDataPage && (PageNumber(hint) >= roles_.size() || roles_[PageNumber(hint)] != rData ||
                                               OffsetIn(hint) != 0)))
    Problem(FormatText("the allocation hint %u is not a data page", hint));
}

void TBTreeCheck::CheckFreeList() {
  TPageRef root = tree_.cache_->Get(0);
  uint32_t position = Load32(root.Data() + kNextField);
  while (position != 0) {
    if (!tree_.ValidChild(position)) {
      Problem(FormatText("the free page list refers to %u, outside the file", position));
      return;
    }
    if (!Claim(position, rFree, "free page")) return;
    TPageRef ref = tree_.cache_->Get(position);
    if (!ref) return Problem(FormatText("free page %u cannot be read", position));
    if (ref.Data()[kKindField] != ntFree) {
      Problem(FormatText("page %u is on the free page list but has kind %u", position, ref.Data()[kKindField]));
      return;
    }
    ++report_.freePages;
    position = Load32(ref.Data() + kCountField);
  }
}

void TBTreeCheck::CheckRecordsAgainstKeys() {
  std::sort(keyed_.begin(), keyed_.end());
  for (size_t i = 1; i < keyed_.size(); ++i)
    if (keyed_[i] == keyed_[i - 1]) Problem(FormatText("record %u is the record of two keys", keyed_[i]));
  std::sort(stored_.begin(), stored_.end());
  std::vector<TDataPointer> orphans;
  std::set_difference(stored_.begin(), stored_.end(), keyed_.begin(), keyed_.end(), std::back_inserter(orphans));
  if (!orphans.empty())
    Note(FormatText("%zu records have no key (the first at %u)", orphans.size(), orphans.front()));
}

void TBTreeCheck::CheckUnclaimedPages() {
  for (size_t n = 4; n < roles_.size(); ++n) {
    if (roles_[n] != rNone) continue;
    TPageRef ref = tree_.cache_->Get(PagePosition(static_cast<uint32_t>(n)));
    uint8_t kind = ref ? ref.Data()[kKindField] : 0;
    Problem(FormatText("page %u (kind %u) is not reached from the index, the data chain or the free list",
                       PagePosition(static_cast<uint32_t>(n)), kind));
  }
}

}  // namespace zev
