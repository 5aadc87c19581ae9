#include "db/DataPage.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace zev {

using namespace fmt;

namespace {
// More steps than a sound free list can have: a longer walk means a cycle.
constexpr int kMaxSlots = kPageSize / kSlotHeaderSize;
// Every walk of a free list stops at a slot whose header would not lie inside the page, so
// a damaged list is never followed out of the page. (Written without a sum: the first-free
// field is 32 bits wide, and a value near 2^32 must not wrap round into the page.)
inline bool SlotInPage(uint32_t slot) { return slot >= kHeaderSize && slot <= kPageSize - kSlotHeaderSize; }
}  // namespace

void TDataPage::SetSlot(uint32_t slot, uint32_t next, uint32_t size) {
  Store16(p_ + slot, static_cast<uint16_t>(next));
  Store16(p_ + slot + 2, static_cast<uint16_t>(size));
}

void TDataPage::LinkAfter(uint32_t prevSlot, uint32_t slot) {
  if (prevSlot == 0) SetFirstFree(slot);
  else Store16(p_ + prevSlot, static_cast<uint16_t>(slot));
}

void TDataPage::Init(bool fixed) {
  std::memset(p_, 0, kPageSize);
  p_[kKindField] = fixed ? (ntData | ntType2) : ntData;
  uint32_t start = Start();
  SetSlot(start, 0, kPageSize - start);
  SetFirstFree(start);
}

// The remainder of a slot must still hold a slot header.
bool TDataPage::Fits(uint32_t slotSize, uint32_t size) const {
  return slotSize == size || slotSize >= size + kSlotHeaderSize;
}

uint32_t TDataPage::Allocate(uint32_t size) {
  uint32_t best = 0, bestPrev = 0, prev = 0;
  int steps = 0;
  for (uint32_t slot = FirstFree(); SlotInPage(slot) && steps < kMaxSlots; slot = SlotNext(slot), ++steps) {
    uint32_t length = SlotLength(slot);
    if (slot + length > kPageSize) break;
    if (Fits(length, size) && (best == 0 || length < SlotLength(best))) {
      best = slot;
      bestPrev = prev;
      if (Fixed() || length == size) break;
    }
    prev = slot;
  }
  if (best == 0) return 0;
  uint32_t length = SlotLength(best);
  if (length == size) {
    LinkAfter(bestPrev, SlotNext(best));
    std::memset(p_ + best, 0, kSlotHeaderSize);
    return best;
  }
  SetSlot(best, SlotNext(best), length - size);
  return best + length - size;
}

TDataPage::TFreeResult TDataPage::Free(uint32_t offset, uint32_t size) {
  if (offset < Start() || size < kSlotHeaderSize || offset + size > kPageSize) return TFreeResult::Invalid;
  uint32_t prev = 0, next = FirstFree();
  int steps = 0;
  for (; next != 0 && next < offset && steps < kMaxSlots; next = SlotNext(next), ++steps) {
    if (!SlotInPage(next)) return TFreeResult::Invalid;
    if (next + SlotLength(next) > offset) return TFreeResult::AlreadyFree;
    prev = next;
  }
  if (next != 0 && (!SlotInPage(next) || steps >= kMaxSlots)) return TFreeResult::Invalid;
  if (next == offset) return TFreeResult::AlreadyFree;
  if (next != 0 && offset + size > next) return TFreeResult::Invalid;

  std::memset(p_ + offset, 0, size);
  uint32_t slot = offset, length = size;
  if (prev != 0 && prev + SlotLength(prev) == offset) {
    slot = prev;
    length += SlotLength(prev);
  } else {
    LinkAfter(prev, offset);
  }
  if (next != 0 && slot + length == next) {
    uint32_t after = SlotNext(next);
    length += SlotLength(next);
    std::memset(p_ + next, 0, kSlotHeaderSize);
    next = after;
  }
  SetSlot(slot, next, length);
  return TFreeResult::Freed;
}

bool TDataPage::InFreeSlot(uint32_t offset, uint32_t size) const {
  int steps = 0;
  for (uint32_t slot = FirstFree(); SlotInPage(slot) && steps < kMaxSlots; slot = SlotNext(slot), ++steps) {
    if (slot >= offset + size) return false;
    if (slot + SlotLength(slot) > offset) return true;
  }
  return false;
}

bool TDataPage::FreeListValid(std::string* why) const {
  auto fail = [&](uint32_t slot, const char* text) {
    if (why) *why = "free slot at " + std::to_string(slot) + ": " + text;
    return false;
  };
  uint32_t limit = Start();
  int steps = 0;
  for (uint32_t slot = FirstFree(); slot != 0; slot = SlotNext(slot)) {
    if (++steps > kMaxSlots) return fail(slot, "the list does not end");
    if (slot < limit) return fail(slot, "out of order or overlapping the one before");
    if (!SlotInPage(slot)) return fail(slot, "beyond the page");
    uint32_t length = SlotLength(slot);
    if (length < kSlotHeaderSize || slot + length > kPageSize) return fail(slot, "size out of range");
    limit = slot + length;
  }
  return true;
}

uint32_t TDataPage::SlotSize(uint32_t offset, uint32_t recordSize) const {
  if (Fixed()) return offset + recordSize <= kPageSize ? recordSize : 0;
  uint32_t keyAt = offset + recordSize;
  if (keyAt >= kPageSize) return 0;
  size_t len = strnlen(reinterpret_cast<const char*>(p_ + keyAt), kPageSize - keyAt);
  if (keyAt + len >= kPageSize) return 0;
  uint32_t size = RoundUp8(recordSize + static_cast<uint32_t>(len) + 1);
  return offset + size <= kPageSize ? size : 0;
}

bool TDataPage::ForEachRecord(uint32_t recordSize, const std::function<void(uint32_t)>& fn) const {
  std::vector<std::pair<uint32_t, uint32_t>> slots;  // free slots, ascending
  int steps = 0;
  for (uint32_t slot = FirstFree(); SlotInPage(slot) && steps < kMaxSlots; slot = SlotNext(slot), ++steps)
    slots.emplace_back(slot, SlotLength(slot));
  // A damaged list may be unsorted or overlapping; the walks below need it ascending.
  std::sort(slots.begin(), slots.end());
  if (Fixed()) {
    if (recordSize == 0) return false;
    size_t s = slots.size();
    for (uint32_t q = kPageSize - recordSize; q >= Start() && q <= kPageSize; q -= recordSize) {
      while (s > 0 && slots[s - 1].first >= q + recordSize) --s;
      bool isFree = s > 0 && slots[s - 1].first + slots[s - 1].second > q;
      if (!isFree) fn(q);
      if (q < recordSize) break;
    }
    return true;
  }
  uint32_t q = Start();
  size_t s = 0;
  while (q < kPageSize) {
    if (s < slots.size() && slots[s].first == q) {
      q += slots[s++].second;
      continue;
    }
    uint32_t size = SlotSize(q, recordSize);
    uint32_t limit = s < slots.size() ? slots[s].first : kPageSize;
    if (size == 0 || q + size > limit) return false;
    fn(q);
    q += size;
  }
  return q == kPageSize;
}

}  // namespace zev
