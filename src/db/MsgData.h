#pragma once
// The article record of "MsgLst.zev" and its flag set. 77 bytes, little-endian, no
// padding: the record is stored byte for byte in the B-tree's data pages, so this layout
// is the file format.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zev {

// Article offset: the data pointer of an article record in MsgLst. 0 means none; values
// of 16 or less are never records.
using TArticleOffset = uint32_t;

#pragma pack(push, 1)
struct FMsgData {
  char FMsgId[8];         // first 8 characters of the Message-ID, zero-filled
  uint32_t FRefCount;     // references from server-group maps
  uint32_t FDate;         // packed local date-time (see core/DateTime.h)
  uint32_t FLines;        // lines of one part
  uint32_t FFlags;        // TArticleFlag bits
  uint32_t FPartSize;     // decoded bytes of this part (estimate until decoded)
  uint32_t FFileSize;     // bytes of the whole file, 0 = unknown
  uint32_t FReserved;
  uint16_t FPartNo;
  uint16_t FPartTotal;
  uint16_t FFileNo;
  uint16_t FFileTotal;
  uint32_t FSubject;      // data pointers into SubjLst, AuthLst, FileLst, DirLst
  uint32_t FAuthor;
  uint32_t FFileName;
  uint32_t FDownloadDir;
  uint32_t FPrevPart;     // article offsets, 0 = none
  uint32_t FNextPart;
  uint32_t FPrevFile;
  uint32_t FNextFile;
  int8_t FScore;
};
#pragma pack(pop)
static_assert(sizeof(FMsgData) == 77, "the article record is 77 bytes on disk");

// Bit numbers of FMsgData::FFlags.
enum TArticleFlag : int {
  afRead = 0,
  afDownloaded = 1,
  afMarked = 2,
  afApproxSize = 3,
  afExactName = 4,
  afBadSize = 5,
  afExactSize = 6,
  afMultiPart = 7,
  afGoodParts = 8,
  afBadParts = 9,
  afWanted = 10,
  afKilled = 11,
  afEncodeUUE = 12,
  afEncodeMIME = 13,
  afyEncode = 14,
  afNowDownloading = 15,
  afSaveAsText = 16,
  afFree22 = 17,
  afHideIfCombined = 18,
  afHeaderOnly = 19,
  afBuildSubject = 20,
  afHideIfOverview = 21,
  afKillWantCSV = 22,
  afIsReply = 23,
  afFree30 = 24,
  afFree31 = 25,
  afFree32 = 26,
  afFree33 = 27,
  afFree34 = 28,
  afFree35 = 29,
  afFree36 = 30,
  afReserved = 31,
};

// Fields of the packed record must be read and written by value: a pointer or reference to
// one would be misaligned. These address a 32-bit field by its offset (offsetof).
inline uint32_t FieldAt(const FMsgData& d, size_t offset) {
  uint32_t v;
  std::memcpy(&v, reinterpret_cast<const char*>(&d) + offset, sizeof v);
  return v;
}
inline void SetFieldAt(FMsgData& d, size_t offset, uint32_t v) {
  std::memcpy(reinterpret_cast<char*>(&d) + offset, &v, sizeof v);
}

constexpr uint32_t FlagBit(TArticleFlag f) { return 1u << f; }
inline bool HasFlag(const FMsgData& d, TArticleFlag f) { return (d.FFlags & FlagBit(f)) != 0; }
inline void SetFlag(FMsgData& d, TArticleFlag f) { d.FFlags |= FlagBit(f); }
inline void ClearFlag(FMsgData& d, TArticleFlag f) { d.FFlags &= ~FlagBit(f); }

// Placeholder codes of a subject template.
enum TTemplateCode : char {
  tcFileSetSlash = 1,  // FFileNo "/" FFileTotal
  tcFileSetOf = 2,     // FFileNo " of " FFileTotal
  tcFileName = 3,
  tcPartNo = 4,        // FPartNo "/" FPartTotal
  tcSizeBytes = 5,
  tcSizeKB = 6,
  tcYenc = 7,
};

// Existing-file match codes; a higher code is a better match.
enum TFileMatch : uint8_t { fmNone = 0, fmCSVInfo = 1, fmCSVName = 2, fmDiskName = 3, fmCSVExact = 4, fmDiskExact = 5 };

}  // namespace zev
