#pragma once
// The structure checker of a tree file. It walks every page and reports what breaks an
// invariant of the layout: key order, separators, child references, leaf chain, all leaves
// at one depth, data-page chain and free slots, record counts, the free-page list, and
// pages nothing refers to. It reads the file as it is and never follows a damaged value,
// so any file, however broken, gets a report rather than a crash.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "db/BTree.h"

namespace zev {

struct TCheckReport {
  std::vector<std::string> problems;  // broken invariants
  std::vector<std::string> notes;     // sound but worth knowing (records without a key ...)
  uint64_t keys = 0, records = 0;
  uint64_t indexPages = 0, dataPages = 0, freePages = 0;
  uint32_t depth = 0;

  bool Ok() const { return problems.empty(); }
  std::string Text() const;
};

class TBTreeCheck {
 public:
  explicit TBTreeCheck(TBTree& tree) : tree_(tree) {}
  TCheckReport Run();

 private:
  enum TRole : uint8_t { rNone, rRoot, rIndex, rData, rFree };
  void Problem(std::string text);
  void Note(std::string text);
  bool Claim(uint32_t position, TRole role, const char* what);
  void VisitNode(uint32_t position, uint32_t depth, const std::optional<std::string>& low,
                 const std::optional<std::string>& high);
  void CheckLeafChain();
  void CheckDataPages();
  void CheckFreeList();
  void CheckRecordsAgainstKeys();
  void CheckUnclaimedPages();

  TBTree& tree_;
  TCheckReport report_;
  std::vector<uint8_t> roles_;
  std::vector<uint32_t> leaves_;
  std::vector<TDataPointer> keyed_;    // data pointers of the leaf entries
  std::vector<TDataPointer> stored_;   // data pointers of the stored records
  int64_t leafDepth_ = -1;
};

}  // namespace zev
