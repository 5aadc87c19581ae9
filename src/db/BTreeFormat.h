#pragma once
// The byte layout of a ".zev" B-tree file (docs/db-format.md describes it in full). Other
// tools and later versions read these files, so every constant here is part of the format.
#include <bit>
#include <cstdint>
#include <cstring>

namespace zev {

static_assert(std::endian::native == std::endian::little,
              "the file format is little-endian and is read by plain loads");

// Position of a record in a tree file: page position + offset in the page. Values of 16
// or less never name a record.
using TDataPointer = uint32_t;

// Tree options, given when a tree is opened.
enum TBTreeOption : uint8_t {
  boKeepCount = 1 << 0,        // deletes anywhere keep the total in the first data page exact
  boKeysInNodes = 1 << 1,      // fixed-size records, keys stored in the index nodes
  boCaseInsensitive = 1 << 2,  // keys compare with ASCII letters folded to upper case
  boSequenceNumbers = 1 << 3,  // a new record gets the running record count in its first 4 bytes
  boPrecache = 1 << 4,         // read every page into the cache when an existing file opens
  boWarnings = 1 << 5,         // integrity warnings go to the error log, the page to the dump
  boDump = 1 << 6,             // Dump writes to the ".log" file beside the tree
};

namespace fmt {

constexpr uint32_t kPageSize = 8192;
constexpr uint32_t kRootSize = 3 * kPageSize;         // the root is one node of three pages
constexpr uint32_t kFirstDataPage = kRootSize;        // 0x6000
constexpr uint32_t kNewFileSize = kRootSize + kPageSize;
constexpr uint32_t kSizeLimit = 0x3FFFFFFF;           // a page is appended only while below
constexpr uint32_t kHeaderSize = 17;
constexpr uint32_t kEntrySize = 8;
constexpr uint32_t kMaxKeyLength = 255;
constexpr uint32_t kChildMask = 0x1FFFF;              // 17-bit page numbers
constexpr uint32_t kKeyOffsetShift = 17;

// Node kind bits (byte 0 of every page).
constexpr uint8_t ntDir = 1;     // internal index node
constexpr uint8_t nt3x = 2;      // the three-page root
constexpr uint8_t ntType2 = 4;   // keys stored in the node / fixed-size records on a data page
constexpr uint8_t ntData = 8;    // data page
constexpr uint8_t ntFree = 16;   // page on the free-page list

// Header fields. Their meaning depends on the kind of page.
constexpr uint32_t kKindField = 0;
constexpr uint32_t kCountField = 1;   // entries / records / total records / next free page
constexpr uint32_t kPrevField = 5;    // previous leaf / previous data page / allocation hint
constexpr uint32_t kNextField = 9;    // next leaf / next data page / root: free-list head
constexpr uint32_t kLastField = 13;   // internal: LT child page number / data: first free slot

// Data pages: a free slot starts with two 16-bit fields, next slot offset and slot size.
constexpr uint32_t kSlotHeaderSize = 4;
constexpr uint32_t kFixedFirstSlot = 17;       // new fixed-record data page
constexpr uint32_t kKeyedFirstSlot = 24;       // new key-in-record data page, and the first data page
constexpr uint32_t kStringHeaderSize = 8;      // header of the string-list records

inline uint32_t Load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline uint16_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline void Store16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }

inline uint32_t PageOf(uint32_t position) { return position & ~(kPageSize - 1); }
inline uint32_t OffsetIn(uint32_t position) { return position & (kPageSize - 1); }
inline uint32_t PageNumber(uint32_t position) { return position / kPageSize; }
inline uint32_t PagePosition(uint32_t pageNumber) { return pageNumber * kPageSize; }
inline uint32_t RoundUp8(uint32_t n) { return (n + 7) & ~7u; }

}  // namespace fmt
}  // namespace zev
