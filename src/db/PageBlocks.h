#pragma once
// Memory for the buffers of a page cache, carved from large blocks. A tree's pages are
// visited in no order at all, and with one small allocation per buffer nearly every visit
// of a large cache missed the TLB; blocks of 2 MiB may be backed by huge pages instead.
// Buffers are never given back one by one: the cache keeps its pool until it goes.
//
// The first write to fresh memory makes the system find and clear it, which for a large
// cache growing during a refresh took a noticeable share of the storing thread. Once a
// large cache has begun its first block, the next one is made and written to on another
// thread, so the cache's own thread finds it ready. That thread runs only on processors
// nobody else wants (the connections need them more), and the cache never waits for it:
// a block not ready yet is left for later and the cache makes its own.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <future>
#include <memory>
#include <vector>

namespace zev {

class TPageBlocks {
 public:
  // `largeBlocks`: the cache will hold many pages, worth whole huge pages.
  explicit TPageBlocks(bool largeBlocks);
  // Stops the block being prepared and waits for its thread (one small step at most).
  ~TPageBlocks();
  TPageBlocks(const TPageBlocks&) = delete;
  TPageBlocks& operator=(const TPageBlocks&) = delete;

  // `bytes` (a multiple of the page size, at most 64 KiB) of zeroed memory, aligned to a
  // page, valid until this object goes.
  uint8_t* Take(size_t bytes);

 private:
  struct FFree {
    void operator()(uint8_t* p) const;
  };
  using TBlock = std::unique_ptr<uint8_t, FFree>;
  static TBlock NewBlock(size_t bytes);
  // The block prepared in the background when it is ready, else a new one made here.
  TBlock NextBlock();

  size_t blockBytes_;
  size_t used_;
  std::vector<TBlock> blocks_;
  std::future<TBlock> prepared_;  // large blocks only: the block after the current one
  std::atomic<bool> stopPreparing_{false};
};

}  // namespace zev
