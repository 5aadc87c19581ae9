// The page pool: pinned pages stay put while others come and go.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <cstring>
#include <vector>

#include "db/BTreeFormat.h"
#include "db/PageCache.h"
#include "DbTestUtil.h"

using namespace zev;
using namespace zev::fmt;

namespace {

constexpr uint32_t kPages = 64;
constexpr size_t kCapacity = 16;

uint32_t PagePositionAt(uint32_t i) { return kNewFileSize + i * kPageSize; }

// A file of kPages pages after the fixed ones, each naming its own position at offset 100.
std::string FileOfMarkedPages() {
  std::string path = test::ScratchDir() + "pages.zev";
  std::vector<uint8_t> bytes(kNewFileSize + size_t{kPages} * kPageSize, 0);
  for (uint32_t i = 0; i < kPages; ++i) Store32(bytes.data() + PagePositionAt(i) + 100, PagePositionAt(i));
  test::WriteBytes(path, bytes);
  return path;
}

uint32_t Marker(const TPageRef& ref) { return Load32(ref.Data() + 100); }

// A page read again while pinned elsewhere, pinned pages the pool must pass over when it
// replaces its oldest, and more pinned pages than the pool holds.
TEST(PageCache, PinnedPagesStayWhileThePoolTurnsOver) {
  const std::vector<std::vector<uint32_t>> pinnedSets = {{}, {0}, {0, 1, 2}, {5, 40, 63}, {0, 3, 6, 9, 12, 15, 18, 21,
                                                                                              24, 27, 30, 33, 36, 39,
                                                                                              42, 45, 48, 51, 54}};
  const std::string path = FileOfMarkedPages();
  for (const auto& pinned : pinnedSets) {
    SCOPED_TRACE(testing::Message() << pinned.size() << " pinned pages");
    TFileHandle file(path, O_RDONLY);
    TPageCache cache(file, nullptr, kCapacity, file.Size());
    std::vector<TPageRef> held;
    std::vector<const uint8_t*> where;
    for (uint32_t i : pinned) {
      // Read and let go first: the pin below is a hit on a page in the replacement order.
      ASSERT_TRUE(cache.Get(PagePositionAt(i)));
      held.push_back(cache.Get(PagePositionAt(i)));
      // Pinned twice: the second reference goes at once, the page must stay pinned.
      TPageRef again = cache.Get(PagePositionAt(i));
      ASSERT_EQ(again.Data(), held.back().Data());
      where.push_back(held.back().Data());
    }
    for (int round = 0; round < 3; ++round) {
      for (uint32_t i = 0; i < kPages; ++i) {
        TPageRef ref = cache.Get(PagePositionAt(i));
        ASSERT_TRUE(ref);
        ASSERT_EQ(Marker(ref), PagePositionAt(i)) << "page " << i << ", round " << round;
      }
    }
    for (size_t j = 0; j < held.size(); ++j) {
      EXPECT_EQ(held[j].Data(), where[j]);
      EXPECT_EQ(Marker(held[j]), PagePositionAt(pinned[j]));
      EXPECT_EQ(cache.Get(PagePositionAt(pinned[j])).Data(), where[j]);
    }
  }
}

}  // namespace
