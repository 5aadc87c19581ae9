#pragma once
// One entry of the download queue: a group refresh, a header range, an existence check or
// an article body to download.
//
// Items never point at servers, connection slots or groups: they carry the identities the
// queue hands out for them (TQueueRefs). A server or group that is deleted is forgotten by
// the queue first, so an item can never reach a freed node.
//
// Every field is read and written under the queue's list lock.
#include <array>
#include <cstdint>
#include <string_view>

#include "db/MsgData.h"

namespace zev {

class TQueueFileSet;

// Identity of a server, connection slot or group inside the queue; 0 is none.
using TNodeId = uint32_t;
// The Target of a finished item that waits to be freed.
constexpr TNodeId kHandledTarget = 0xFFFFFFFFu;

enum TQueueKind : uint8_t {
  qkGroup = 0,
  qkXpat = 1,
  qkValidate = 2,
  qkMessageID = 3,
  qkSize = 4,
  qkListgroup = 5,
  qkSubject = 6,
  qkAuthor = 7,
  qkDate = 8,
  qkBody = 9,
};
constexpr int kQueueKindCount = 10;

enum TQueueFlag : uint32_t {
  qfBadPath = 0x02,        // the download directory could not be checked
  qfDecodeError = 0x04,    // the last download failed to decode; the item was put back
  qfUncounted = 0x08,      // the size has already left the queue totals
  qfArticle = 0x10,        // a body item made from an article (accepts a new Target)
  qfSaveAsText = 0x20,     // save the article as text instead of decoding it
  qfByMessageID = 0x40,    // with article number 1, fetch by Message-ID (NZB import)
  qfRenumbered = 0x10000,  // the server renumbered the group; the final block extends the map
};

// Data[1] of a body item whose size needs more than 32 bits.
constexpr uint32_t kOversizedArticle = 0xFFFFFFFFu;
// Data[2] of a body item that has no number on the serving server: fetch by Message-ID.
constexpr uint32_t kFetchByMessageId = 1;
// Article offsets up to this value are never records.
constexpr TArticleOffset kLastInvalidOffset = 16;

// The "Type" column text of the queue grid.
const char* QueueKindTypeText(TQueueKind kind);
// The word of "queue.xml" ("GROUP", "XPAT", ...); body items are "article" elements.
const char* QueueKindXmlWord(TQueueKind kind);
// The kind of a "queue.xml" command word, compared without regard to case; anything
// unknown is a group refresh.
TQueueKind QueueKindFromXmlWord(std::string_view word);
// Kinds whose Data holds an article-number range.
constexpr bool IsHeaderRangeKind(TQueueKind kind) { return kind == qkXpat || (kind >= qkMessageID && kind <= qkDate); }

class TQueueItem {
 public:
  // Fields are ordered by size: a queue holds a hundred thousand of these.
  TQueueFileSet* FileSet = nullptr;
  uint32_t Flags = 0;
  TNodeId Handler = 0;  // the connection slot working on it
  TNodeId Target = 0;   // the only server that may take it, or kHandledTarget
  TNodeId Group = 0;
  // qkBody: [0] article offset, [1] size in bytes, [2] number on the serving server,
  // [3] packed article date. Header ranges: [0] low, [1] high. qkValidate: [0] low,
  // [1] high, [2] the number to check. qkGroup: none.
  std::array<uint32_t, 4> Data{};
  int8_t Score = 0;
  TQueueKind Kind = qkGroup;
  uint8_t DataCount = 0;

  bool IsBody() const { return Kind == qkBody; }
  bool IsHandled() const { return Target == kHandledTarget; }
  bool Has(TQueueFlag f) const { return (Flags & f) != 0; }
  TArticleOffset Offset() const { return IsBody() ? Data[0] : 0; }
  uint32_t ArticleSize() const { return IsBody() ? Data[1] : 0; }
  void SetRange(uint32_t low, uint32_t high) {
    Data = {low, high, 0, 0};
    DataCount = 2;
  }
  void ClearData() {
    Data = {};
    DataCount = 0;
  }
  // The number of articles of a header range (64-bit: a range may span all numbers).
  uint64_t RangeCount() const { return DataCount >= 2 && Data[1] >= Data[0] ? uint64_t{Data[1]} - Data[0] + 1 : 0; }

  // The position in list order: a later item has a larger number.
  uint32_t Sequence() const { return seq_; }

 private:
  friend class TQueue;
  friend class TQueueBackoff;
  friend class TQueueItemPool;
  friend class TQueueOffsetIndex;
  friend class TQueueScheduler;

  uint32_t seq_ = 0;
  uint32_t poolIndex_ = 0;
  uint32_t listPos_ = 0;
  uint32_t bucket_ = 0;          // the scheduler bucket it is filed in; 0 none
  uint32_t carriers_ = 0;        // the set of servers that carry its article (TQueueCarrierSets)
  uint32_t nextSameOffset_ = 0;  // pool index + 1 of the next item with the same offset
  int8_t filedScore_ = 0;        // the score its entry in bucket_ was filed with
  bool inHeap_ = false;          // that entry is still in the bucket's heap
  bool live_ = false;
  bool hasBackoff_ = false;
};

}  // namespace zev
