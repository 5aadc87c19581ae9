// Two writer threads and a reader share one tree.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "db/BTree.h"
#include "db/BTreeFormat.h"
#include "db/BTreeNode.h"
#include "DbTestUtil.h"

using namespace zev;

namespace {

std::string WriterKey(int writer, int i) { return "w" + std::to_string(writer) + "." + std::to_string(i) + "@x.net"; }
uint32_t TagOf(const std::string& key) { return static_cast<uint32_t>(std::hash<std::string>{}(key)); }

TEST(BTreeThreads, TwoWritersAndAReader) {
  for (uint32_t sizeParam : {77u, 8u}) {
    uint8_t options = sizeParam == 77 ? (boKeepCount | boKeysInNodes) : boKeepCount;
    // A small cache makes the reader and the writers replace each other's pages.
    TBTree tree(test::ScratchDir() + "threads.zev", options, 512 << 10, sizeParam);
    constexpr int kPerWriter = 21000 / test::kSlowBuildDivisor;  // a multiple of 3: every key i % 3 == 1 is deleted
    std::atomic<bool> done{false};
    std::atomic<int> readerErrors{0};
    auto writer = [&](int w) {
      std::vector<uint8_t> record(sizeParam, 0);
      for (int i = 0; i < kPerWriter; ++i) {
        std::string key = WriterKey(w, i);
        uint32_t tag = TagOf(key);
        std::memcpy(record.data(), &tag, 4);
        TDataPointer dp;
        ASSERT_TRUE(tree.Insert(key, record.data(), dp));
        if (i % 3 == 2) {
          ASSERT_TRUE(tree.DeleteKey(WriterKey(w, i - 1), true));
        }
      }
    };
    std::thread reader([&] {
      std::vector<uint8_t> record(sizeParam);
      std::mt19937 rng(3);
      while (!done) {
        std::string key = WriterKey(rng() % 2, rng() % kPerWriter);
        TDataPointer dp;
        // A key may vanish between Find and ReadRecord; a record read must be its own.
        if (tree.Find(key, dp) && tree.ReadRecord(dp, record.data()) && fmt::Load32(record.data()) != TagOf(key)) {
          // The slot may have been freed and reused by another key in between: check again.
          TDataPointer again;
          if (tree.Find(key, again) && again == dp && tree.ReadRecord(dp, record.data()) &&
              fmt::Load32(record.data()) != TagOf(key))
            ++readerErrors;
        }
        if (rng() % 512 == 0) {
          auto map = tree.GetMap();
          for (size_t i = 1; i < map.size(); ++i)
            if (map[i] == map[i - 1]) ++readerErrors;
        }
      }
    });
    std::thread a(writer, 0), b(writer, 1);
    a.join();
    b.join();
    done = true;
    reader.join();
    EXPECT_EQ(readerErrors.load(), 0);
    EXPECT_EQ(tree.RecordCount(), 2u * (kPerWriter - kPerWriter / 3));
    test::ExpectSound(tree);
    for (int w = 0; w < 2; ++w)
      for (int i = 0; i < kPerWriter; ++i) {
        TDataPointer dp;
        EXPECT_EQ(tree.Find(WriterKey(w, i), dp), i % 3 != 1) << WriterKey(w, i);
      }
  }
}

}  // namespace
