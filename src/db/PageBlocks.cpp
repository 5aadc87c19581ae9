#include "db/PageBlocks.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace zev {

namespace {
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kSmallBlock = size_t{128} << 10;
}  // namespace

void TPageBlocks::FFree::operator()(uint8_t* p) const { std::free(p); }

TPageBlocks::TPageBlocks(bool largeBlocks)
    : blockBytes_(largeBlocks ? kHugePage : kSmallBlock), used_(largeBlocks ? kHugePage : kSmallBlock) {}

uint8_t* TPageBlocks::Take(size_t bytes) {
  if (used_ + bytes > blockBytes_) {
    const size_t alignment = blockBytes_ == kHugePage ? kHugePage : 4096;
    auto* block = static_cast<uint8_t*>(std::aligned_alloc(alignment, blockBytes_));
    if (!block) throw std::bad_alloc();
    blocks_.emplace_back(block);
    // Only a hint: without huge pages the block works the same, page by page.
    if (blockBytes_ == kHugePage) ::madvise(block, blockBytes_, MADV_HUGEPAGE);
    used_ = 0;
  }
  uint8_t* p = blocks_.back().get() + used_;
  used_ += bytes;
  std::memset(p, 0, bytes);
  return p;
}

}  // namespace zev
