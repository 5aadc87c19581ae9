#pragma once
// Large newsgroup lists like the ones big providers send (100,000 groups and more), for
// the newsgroup-list tests and benchmark. The groups hold no articles; each only reports
// a fixed number range, so a list of 150,000 groups costs a few megabytes.
#include <cstdint>
#include <string>

#include "NewsGroup.h"

namespace zev::testserver {

class TArticleStore;

// A group that only has a number range (LIST, NEWGROUPS and GROUP answers).
class TListedGroup : public TNewsGroup {
 public:
  TListedGroup(std::string name, uint64_t low, uint64_t high, int64_t created);
  uint64_t Count() const override { return high_ >= low_ ? high_ - low_ + 1 : 0; }
  uint64_t Low() const override { return low_; }
  uint64_t High() const override { return high_; }
  uint64_t NextNumber(uint64_t) const override { return 0; }
  TArticlePtr Article(uint64_t) const override { return nullptr; }
  std::string Xref(uint64_t) const override { return {}; }

 private:
  uint64_t low_, high_;
};

struct FGroupListOptions {
  uint64_t count = 150000;
  uint64_t seed = 1;
  int64_t created = kDefaultGroupCreated;
};

// Adds `count` groups with made-up but plausible names ("alt.binaries.tv7k2"), unique and
// the same for the same seed, with number ranges from empty to millions of articles.
void AddGeneratedGroups(TArticleStore& store, const FGroupListOptions& options);
// The name of generated group `i` (0-based) for the seed.
std::string GeneratedGroupName(uint64_t seed, uint64_t i);

}  // namespace zev::testserver
