// TBTree: walks over the records of the fixed-record data pages. A page's records are
// copied under the lock and handed out after it, so the callback may change the tree.
#include <algorithm>
#include <cstring>

#include "db/BTreeInternal.h"
#include "db/Expirer.h"

namespace zev {

using namespace fmt;

namespace {

struct TPageRecords {
  std::vector<TDataPointer> pointers;
  std::vector<uint8_t> bytes;  // the records one after another
};

}  // namespace

// The records of one page whose kind is exactly a fixed-record data page.
static void CollectPage(TPageCache& cache, std::shared_mutex& lock, uint32_t position, uint32_t recordSize,
                        TPageRecords& out) {
  out.pointers.clear();
  out.bytes.clear();
  std::shared_lock guard(lock);
  TPageRef ref = cache.Get(position);
  if (!ref || ref.Data()[kKindField] != (ntData | ntType2)) return;
  TDataPage page(ref.Data(), position);
  page.ForEachRecord(recordSize, [&](uint32_t offset) {
    out.pointers.push_back(position + offset);
    out.bytes.insert(out.bytes.end(), ref.Data() + offset, ref.Data() + offset + recordSize);
  });
}

void TBTree::ForEachRecord(const TRecordCallback& fn, TExpirer* expiry) {
  TPageRecords records;
  for (uint64_t position = kFirstDataPage; position < FileSize(); position += kPageSize) {
    CollectPage(*cache_, lock_, static_cast<uint32_t>(position), sizeParam_, records);
    for (size_t i = 0; i < records.pointers.size(); ++i) fn(records.pointers[i], &records.bytes[i * sizeParam_]);
  }
  if (expiry) expiry->Clear();
}

void TBTree::ForEachRecordInPages(TExpirer& expiry, const TRecordCallback& fn, const std::function<void()>& idle) {
  expiry.BeginRead();
  try {
    std::vector<uint32_t> pages;
    for (TArticleOffset offset; (offset = expiry.Next()) != 0;) {
      pages.push_back(PageOf(offset));
      if (idle && pages.size() % 128 == 0) idle();
    }
    std::sort(pages.begin(), pages.end());
    pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
    TPageRecords records;
    for (uint32_t position : pages) {
      if (position < kFirstDataPage || position >= FileSize()) continue;
      CollectPage(*cache_, lock_, position, sizeParam_, records);
      for (size_t i = 0; i < records.pointers.size(); ++i) fn(records.pointers[i], &records.bytes[i * sizeParam_]);
    }
  } catch (...) {
    expiry.AbortRead();
    throw;
  }
  expiry.EndRead();
}

}  // namespace zev
