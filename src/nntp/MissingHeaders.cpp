#include "nntp/MissingHeaders.h"

#include <algorithm>

namespace zev {

void TMissingHeaders::Add(TArticleOffset offset) { added_.push_back(offset); }

void TMissingHeaders::Merge() {
  if (added_.empty()) return;
  std::sort(added_.begin(), added_.end());
  added_.erase(std::unique(added_.begin(), added_.end()), added_.end());
  TMap2 merged;
  merged.reserve(list_.size() + added_.size());
  size_t a = 0;
  for (const FMapPair& p : list_) {
    while (a < added_.size() && added_[a] < p.key) merged.push_back({added_[a++], kNeeded});
    if (a < added_.size() && added_[a] == p.key) ++a;
    merged.push_back(p);
  }
  while (a < added_.size()) merged.push_back({added_[a++], kNeeded});
  list_.swap(merged);
  added_.clear();
}

int64_t TMissingHeaders::Find(TArticleOffset offset) {
  Merge();
  return FindInMap2(list_, offset);
}

void TMissingHeaders::Resolve(TArticleOffset offset) {
  if (list_.empty() && added_.empty()) return;
  const int64_t i = Find(offset);
  if (i >= 0) list_[static_cast<size_t>(i)].value = kResolved;
}

bool TMissingHeaders::IsNeeded(TArticleOffset offset) {
  const int64_t i = Find(offset);
  return i >= 0 && list_[static_cast<size_t>(i)].value == kNeeded;
}

void TMissingHeaders::Claim(TArticleOffset offset, uint32_t claimer) {
  const int64_t i = Find(offset);
  if (i >= 0 && list_[static_cast<size_t>(i)].value == kNeeded) list_[static_cast<size_t>(i)].value = claimer;
}

void TMissingHeaders::ReleaseClaims(uint32_t claimer) {
  for (FMapPair& p : list_)
    if (p.value == claimer) p.value = kNeeded;
}

void TMissingHeaders::ReleaseOffset(TArticleOffset offset) {
  if (list_.empty() && added_.empty()) return;
  const int64_t i = Find(offset);
  if (i >= 0 && list_[static_cast<size_t>(i)].value != kResolved) list_[static_cast<size_t>(i)].value = kNeeded;
}

void TMissingHeaders::ReleaseClaimOf(TArticleOffset offset, uint32_t claimer) {
  if (list_.empty() && added_.empty()) return;
  const int64_t i = Find(offset);
  if (i >= 0 && list_[static_cast<size_t>(i)].value == claimer) list_[static_cast<size_t>(i)].value = kNeeded;
}

void TMissingHeaders::Compact() {
  Merge();
  std::erase_if(list_, [](const FMapPair& p) { return p.value == kResolved; });
}

bool TMissingHeaders::Empty() {
  Merge();
  return list_.empty();
}

size_t TMissingHeaders::Size() {
  Merge();
  return list_.size();
}

}  // namespace zev
