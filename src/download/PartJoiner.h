#pragma once
// TPartJoiner: puts one decoded part of a multi-part file into the download directory and
// joins the part files into the whole file once every part is there.
//
// A part goes at the end of the part file that ends just before it (the common case when
// parts arrive in order: only its own bytes are written), or else into a part file of its
// own. Neighbouring part files are then joined, but only a smaller (or equal) file into a
// larger one, so every byte is copied at most log2(parts) times before the final join
// however the parts arrive; nothing is ever prepended, which would rewrite the whole
// file. When the part files cover 1..T, they are appended to the first in order, and
// the result takes the file's name (or a free name beside a different file of that name).
//
// Failures: a write that fails cuts its target back to where it was, so the part files on
// disk stay intact, and raises EDecodeIoError. A part that is already on disk is not
// written again, but the final join is still tried, so a retry after a failed join
// completes the file.
//
// Runs under the decoder lock: part files of one directory are never touched by two
// threads at once.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "download/DownloadNames.h"

namespace zev {

class TDecodeFs;
class TPartLedger;

struct FPartData {
  std::string dir;   // the download directory, with a trailing "/"
  std::string name;  // the file's name (cleaned)
  uint32_t part = 0, total = 0;  // 1 <= part <= total
  const char* data = nullptr;
  size_t size = 0;
  uint32_t crc = 0;  // CRC-32 of the data
  // yEnc tells where the part lies in the file and how large the file is; with both, a
  // part of a file that is already complete on disk is recognised as a duplicate.
  std::optional<uint64_t> offset;
  std::optional<uint64_t> fileSize;
};

struct FJoinResult {
  bool written = false;    // the part's bytes reached the disk now
  bool complete = false;   // the whole file is there now, as `fileName`
  bool duplicate = false;  // the part or the joined file was already there: nothing is new
  std::string fileName;
  uint64_t fileSize = 0;
  std::optional<uint32_t> fileCrc;  // combined from the pieces when all were known
  bool damaged = false;             // the parts do not make up the file exactly
};

class TPartJoiner {
 public:
  TPartJoiner(TDecodeFs& fs, TPartLedger& ledger) : fs_(fs), ledger_(ledger) {}

  FJoinResult Save(const FPartData& part);
  // The part files of `oldName` become part files of `newName` (the post named the file
  // differently from its subject).
  void RenameParts(const std::string& dir, const std::string& oldName, const std::string& newName);

 private:
  struct FPartFile {
    FPartRange range;
    std::string path;
    uint64_t size = 0;
  };
  using TFiles = std::vector<FPartFile>;

  TFiles Scan(const std::string& dir, const std::string& name);
  bool AlreadyPresent(const FPartData& part, TFiles& files, FJoinResult& result);
  size_t WriteSingle(const FPartData& part, TFiles& files);
  bool AppendPart(const FPartData& part, FPartFile& target);
  size_t MergeNeighbours(const FPartData& part, TFiles& files, size_t index);
  bool JoinInto(const FPartData& part, FPartFile& target, FPartFile& source);
  void FinishIfComplete(const FPartData& part, TFiles& files, FJoinResult& result);
  std::optional<uint32_t> CombinedCrc(const std::vector<FPartFile>& chain) const;
  void RenameOrThrow(const std::string& from, const std::string& to);

  TDecodeFs& fs_;
  TPartLedger& ledger_;
};

}  // namespace zev
