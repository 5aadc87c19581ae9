#pragma once
// Memory for the buffers of a page cache, carved from large blocks. A tree's pages are
// visited in no order at all, and with one small allocation per buffer nearly every visit
// of a large cache missed the TLB; blocks of 2 MiB may be backed by huge pages instead.
// Buffers are never given back one by one: the cache keeps its pool until it goes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zev {

class TPageBlocks {
 public:
  // `largeBlocks`: the cache will hold many pages, worth whole huge pages.
  explicit TPageBlocks(bool largeBlocks);
  // `bytes` (a multiple of the page size, at most 64 KiB) of zeroed memory, aligned to a
  // page, valid until this object goes.
  uint8_t* Take(size_t bytes);

 private:
  struct FFree {
    void operator()(uint8_t* p) const;
  };
  size_t blockBytes_;
  size_t used_;
  std::vector<std::unique_ptr<uint8_t, FFree>> blocks_;
};

}  // namespace zev
