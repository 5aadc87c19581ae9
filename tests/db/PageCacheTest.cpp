// The page pool: pinned pages stay put while others come and go.
#include <gtest/gtest.h>

#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "db/BTreeFormat.h"
#include "db/PageBlocks.h"
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

// Buffers from one block after another (the large kind prepares each next block on
// another thread): every buffer comes zeroed and aligned, and none overlaps another.
TEST(PageBlocks, BuffersAreZeroedAlignedAndApartAcrossBlocks) {
  for (bool large : {false, true}) {
    SCOPED_TRACE(large);
    TPageBlocks blocks(large);
    std::vector<uint8_t*> taken;
    const size_t count = (size_t{5} << 20) / kPageSize;  // past two huge blocks
    for (size_t i = 0; i < count; ++i) {
      uint8_t* p = blocks.Take(kPageSize);
      ASSERT_EQ(reinterpret_cast<uintptr_t>(p) % 4096, 0u);
      ASSERT_TRUE(std::all_of(p, p + kPageSize, [](uint8_t b) { return b == 0; })) << i;
      std::memset(p, static_cast<int>(i % 251) + 1, kPageSize);
      taken.push_back(p);
    }
    for (size_t i = 0; i < count; ++i)
      ASSERT_TRUE(std::all_of(taken[i], taken[i] + kPageSize, [&](uint8_t b) { return b == i % 251 + 1; })) << i;
  }
}

}  // namespace
