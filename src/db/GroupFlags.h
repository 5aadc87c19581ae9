#pragma once
// The kinds of group-tree nodes and the bits of a group node's Flags, as stored in the
// settings file.
#include <cstdint>

namespace zev {

enum TGroupNodeType : uint8_t { gnRoot = 0, gnFolder = 1, gnNewsgroup = 2 };

enum TGroupFlag : int {
  gfInherit = 0,
  gfAutoRefresh = 1,
  // bits 2-4: the automatic refresh interval (TRefreshInterval)
  gfAppendAbbr = 5,
  gfAppendName = 6,
  gfAppendSubject = 7,
  gfLogFile = 8,
  gfDescriptIon = 9,
  gfCsvLog = 10,
  gfAutoFileCheck = 11,
  gfMarkReadAlways = 12,
  gfMarkReadNever = 13,  // neither 12 nor 13: ask
  gfHeaderLimit = 14,
  gfExpanded = 28,
  gfCustomSort = 29,
};

constexpr uint32_t GroupFlagBit(TGroupFlag f) { return 1u << f; }

enum TRefreshInterval : uint32_t {
  riProgramStart = 0,
  ri24Hours = 1,
  ri12Hours = 2,
  ri6Hours = 3,
  ri3Hours = 4,
  riHour = 5,
  ri30Minutes = 6,
};
constexpr int kRefreshIntervalShift = 2;
constexpr uint32_t kRefreshIntervalMask = 7u << kRefreshIntervalShift;

// Bits a group keeps as its own when it copies its parent's settings.
constexpr uint32_t kOwnGroupFlags = GroupFlagBit(gfInherit) | GroupFlagBit(gfExpanded);

// Sort columns of the article list, by index.
enum TSortColumn : uint8_t {
  scOffset, scSize, scDateTime, scPart, scFSet, scSubject, scAuthor, scFilename,
  scDate, scTime, scDirectory, scScore, scLines,
};
constexpr int kSortColumnCount = 13;
constexpr int kFirstTestSortColumn = scDate;  // 8..12 need the "test1" switch

}  // namespace zev
