#pragma once
// The articles whose subject, author, date or line count is still unknown after a
// Message-ID-only header pass, each with its claim: 0 still needed, a connection's
// identity while that connection's "xhdr" pass is under way, or resolved.
//
// Used under the header-retrieval lock only. Additions are collected unsorted and merged
// in one sort when the list is next searched, so a pass that adds a million articles does
// not shift the array a million times.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "db/Map.h"
#include "db/MsgData.h"

namespace zev {

class TMissingHeaders {
 public:
  static constexpr uint32_t kNeeded = 0;
  static constexpr uint32_t kResolved = 0x7FFFFFFF;

  // Adds the article as needed; an article already listed keeps its claim.
  void Add(TArticleOffset offset);
  // The field arrived.
  void Resolve(TArticleOffset offset);
  bool IsNeeded(TArticleOffset offset);
  void Claim(TArticleOffset offset, uint32_t claimer);
  // The claimer's pass failed or its articles went: its claims are needed again.
  void ReleaseClaims(uint32_t claimer);
  void ReleaseOffset(TArticleOffset offset);
  // Only when `claimer` holds the article's claim.
  void ReleaseClaimOf(TArticleOffset offset, uint32_t claimer);
  // Drops resolved entries.
  void Compact();
  bool Empty();
  size_t Size();

 private:
  void Merge();
  int64_t Find(TArticleOffset offset);

  TMap2 list_;                        // sorted by offset
  std::vector<TArticleOffset> added_; // not merged yet
};

}  // namespace zev
