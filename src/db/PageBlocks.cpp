#include "db/PageBlocks.h"

#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/ThreadName.h"
#include "platform/ThreadPriority.h"

namespace zev {

namespace {
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kSmallBlock = size_t{128} << 10;
}  // namespace

void TPageBlocks::FFree::operator()(uint8_t* p) const { std::free(p); }

TPageBlocks::TPageBlocks(bool largeBlocks)
    : blockBytes_(largeBlocks ? kHugePage : kSmallBlock), used_(largeBlocks ? kHugePage : kSmallBlock) {}

TPageBlocks::~TPageBlocks() {
  stopPreparing_.store(true, std::memory_order_relaxed);
  if (prepared_.valid()) prepared_.wait();
}

TPageBlocks::TBlock TPageBlocks::NewBlock(size_t bytes) {
  const size_t alignment = bytes == kHugePage ? kHugePage : 4096;
  TBlock block(static_cast<uint8_t*>(std::aligned_alloc(alignment, bytes)));
  if (!block) throw std::bad_alloc();
  // Only a hint: without huge pages the block works the same, page by page.
  if (bytes == kHugePage) ::madvise(block.get(), bytes, MADV_HUGEPAGE);
  return block;
}

TPageBlocks::TBlock TPageBlocks::NextBlock() {
  if (prepared_.valid() && prepared_.wait_for(std::chrono::seconds(0)) == std::future_status::ready)
    return prepared_.get();  // rethrows the preparer's bad_alloc
  return NewBlock(blockBytes_);
}

uint8_t* TPageBlocks::Take(size_t bytes) {
  if (used_ + bytes > blockBytes_) {
    blocks_.push_back(NextBlock());
    used_ = 0;
    if (blockBytes_ == kHugePage && !prepared_.valid()) {
      prepared_ = std::async(std::launch::async, [this, bytes = blockBytes_] {
        platform::NameThisThread("zev-pagemem");
        platform::MakeThisThreadBackground();
        TBlock block = NewBlock(bytes);
        // In steps: a background thread may get a processor seldom, and a cache that goes
        // away waits for it to finish one step, not a whole block.
        constexpr size_t kStep = size_t{64} << 10;
        for (size_t at = 0; at < bytes && !stopPreparing_.load(std::memory_order_relaxed); at += kStep)
          std::memset(block.get() + at, 0, std::min(kStep, bytes - at));
        return block;
      });
    }
  }
  uint8_t* p = blocks_.back().get() + used_;
  used_ += bytes;
  std::memset(p, 0, bytes);
  return p;
}

}  // namespace zev
