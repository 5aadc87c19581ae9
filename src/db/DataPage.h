#pragma once
// A data page: records allocated from the end of the page downward, and the free space
// kept as a list of free slots sorted by offset. A free slot begins with two 16-bit
// fields, the offset of the next free slot (0 = last) and the slot size; its other bytes
// are zero, so a freed record never looks like a stored one.
//
// Fixed-record pages (ntType2) hold records of one size at offsets 8192 - size * k.
// Key-in-record pages hold header + key text + zero byte, rounded up to 8 bytes.
#include <cstdint>
#include <functional>
#include <string>

#include "db/BTreeFormat.h"

namespace zev {

class TDataPage {
 public:
  TDataPage(uint8_t* data, uint32_t position) : p_(data), position_(position) {}

  uint8_t Kind() const { return p_[fmt::kKindField]; }
  bool Fixed() const { return Kind() & fmt::ntType2; }
  bool IsData() const { return (Kind() & ~fmt::ntType2) == fmt::ntData; }
  bool IsFirst() const { return position_ == fmt::kFirstDataPage; }
  uint32_t Count() const { return fmt::Load32(p_ + fmt::kCountField); }
  void SetCount(uint32_t n) { fmt::Store32(p_ + fmt::kCountField, n); }
  uint32_t Prev() const { return fmt::Load32(p_ + fmt::kPrevField); }
  uint32_t Next() const { return fmt::Load32(p_ + fmt::kNextField); }
  void SetPrev(uint32_t position) { fmt::Store32(p_ + fmt::kPrevField, position); }
  void SetNext(uint32_t position) { fmt::Store32(p_ + fmt::kNextField, position); }
  uint32_t FirstFree() const { return fmt::Load32(p_ + fmt::kLastField); }
  // First data page only: the page where storing should look first (0 = none).
  uint32_t Hint() const { return Prev(); }
  void SetHint(uint32_t position) { SetPrev(position); }
  // Offset of the lowest byte records may use on this page.
  uint32_t Start() const { return IsFirst() || !Fixed() ? fmt::kKeyedFirstSlot : fmt::kFixedFirstSlot; }

  // Makes a freshly allocated page an empty data page: one free slot to the page end.
  void Init(bool fixed);

  // Finds room for `size` bytes: fixed records take the first slot that fits, key-in-record
  // records the smallest. Returns the record's offset in the page, 0 when nothing fits.
  uint32_t Allocate(uint32_t size);
  enum class TFreeResult { Freed, AlreadyFree, Invalid };
  // Returns `size` bytes at `offset` to the free list, merged with adjacent free slots.
  TFreeResult Free(uint32_t offset, uint32_t size);
  bool InFreeSlot(uint32_t offset, uint32_t size) const;
  void ClearFreeList() { fmt::Store32(p_ + fmt::kLastField, 0); }

  // The free list is sorted, inside the page and free of overlaps.
  bool FreeListValid(std::string* why = nullptr) const;
  // Calls back the offset of every record; key-in-record records are found by walking the
  // page, so the page must be sound. Returns false when the walk meets damage.
  bool ForEachRecord(uint32_t recordSize, const std::function<void(uint32_t offset)>& fn) const;
  // Size of the record slot at `offset` (key-in-record: from its key length), 0 if broken.
  uint32_t SlotSize(uint32_t offset, uint32_t recordSize) const;
  // A stored record of a fixed-record page starts at 8192 - size * k.
  static bool FixedAligned(uint32_t offset, uint32_t recordSize) {
    return offset >= fmt::kFixedFirstSlot && offset + recordSize <= fmt::kPageSize &&
           (fmt::kPageSize - offset) % recordSize == 0;
  }

 private:
  uint16_t SlotNext(uint32_t slot) const { return fmt::Load16(p_ + slot); }
  uint16_t SlotLength(uint32_t slot) const { return fmt::Load16(p_ + slot + 2); }
  void SetSlot(uint32_t slot, uint32_t next, uint32_t size);
  void SetFirstFree(uint32_t offset) { fmt::Store32(p_ + fmt::kLastField, offset); }
  void LinkAfter(uint32_t prevSlot, uint32_t slot);
  bool Fits(uint32_t slotSize, uint32_t size) const;

  uint8_t* p_;
  uint32_t position_;
};

}  // namespace zev
