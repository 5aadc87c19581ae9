// The in-place node edits keep the key area one block, and the free space the writer sees
// is what the entries say it is, at every entry count (the lowest key is searched several
// entries at a time, with the rest one by one).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "db/BTreeFormat.h"
#include "db/BTreeNode.h"

namespace zev {
namespace {

uint32_t LowestKeyOneByOne(const TNode& node) {
  uint32_t low = node.Size();
  for (uint32_t i = 0; i < node.Count(); ++i) low = std::min(low, node.KeyOffset(i));
  return low;
}

uint32_t FreeSpaceOneByOne(const TNode& node) {
  return LowestKeyOneByOne(node) - fmt::kHeaderSize - fmt::kEntrySize * node.Count();
}

std::string RandomKey(std::mt19937& random) {
  std::uniform_int_distribution<int> length(1, 60), letter('a', 'z');
  std::string key(static_cast<size_t>(length(random)), 'x');
  for (char& c : key) c = static_cast<char>(letter(random));
  return key;
}

TEST(BTreeNodeTest, FreeSpaceMatchesTheEntriesWhileKeysComeAndGo) {
  struct FCase {
    uint32_t size;
    uint8_t kind;
  };
  // A leaf page and the three-page root, whose key offsets use all fifteen bits.
  for (FCase c : {FCase{fmt::kPageSize, fmt::ntType2}, FCase{fmt::kRootSize, fmt::ntType2 | fmt::nt3x}}) {
    SCOPED_TRACE(c.size);
    std::vector<uint8_t> page(c.size, 0);
    TNode node(page.data(), c.size);
    node.SetKind(c.kind);
    std::mt19937 random(c.size);
    std::vector<std::string> keys;
    // Fill until full, checking at each count, then empty it again from random places.
    for (;;) {
      ASSERT_EQ(node.FreeSpace(), FreeSpaceOneByOne(node)) << "count " << node.Count();
      std::string key = RandomKey(random);
      auto at = std::lower_bound(keys.begin(), keys.end(), key);
      if (at != keys.end() && *at == key) continue;
      const auto index = static_cast<uint32_t>(at - keys.begin());
      if (!node.InsertAt(index, 0x6000 + 8 * index, 0, key)) break;
      keys.insert(at, key);
    }
    ASSERT_GT(node.Count(), 100u);
    EXPECT_LT(node.FreeSpace(), TNode::EntryBytes(true, 60));
    while (node.Count() > 0) {
      node.RemoveAt(std::uniform_int_distribution<uint32_t>(0, node.Count() - 1)(random));
      ASSERT_EQ(node.FreeSpace(), FreeSpaceOneByOne(node)) << "count " << node.Count();
    }
    EXPECT_EQ(node.FreeSpace(), c.size - fmt::kHeaderSize);
  }
}

}  // namespace
}  // namespace zev
