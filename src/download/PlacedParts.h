#pragma once
// TPlacedParts: a yEnc part whose post says where it lies in the file and how large the
// file is goes straight to its place in one file, "<name>.zevpart", written by the
// connections' handler threads side by side. When the last part is in, the file only
// loses its trailer and takes its name: no byte is copied a second time, and no part files
// are listed, merged or removed on the way.
//
// The trailer, after the file's own bytes, records which parts are in place, so a later
// run carries on where this one stopped. All numbers little-endian:
//   at S (the file size)     "ZEVPART1", S (u64), T parts (u32), CRC-32 of those 20 bytes
//                            (u32), 8 zero bytes
//   at S + 32 * p (1 <= p <= T)
//                            "ZPRT", p (u32), offset (u64), size (u64), CRC-32 of the part
//                            (u32), CRC-32 of those 28 bytes (u32)
// A part's slot is written only after its bytes, so a slot never names bytes that were not
// written (a torn slot fails its check and the part is fetched again).
//
// Files this scheme does not take stay with the part joiner: parts without a place, files
// whose parts already lie in part files (an earlier run, another program version), a
// ".zevpart" whose trailer describes a different file, implausible sizes.
//
// Locking: Open and Finish run under the decoder lock (they look at and rename names in
// the directory); Place takes only the file's own lock around its bookkeeping.
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "download/PartJoiner.h"

namespace zev {

class TDecodeFs;

enum class TPlaceOutcome {
  Written,    // the part's bytes and slot are on disk
  Duplicate,  // the part was in place already: nothing written
  Completed,  // every part is in place now: the caller finishes the file
};

class TPlacedParts {
 public:
  // The largest file and part count taken: beyond them a post's numbers are not believed.
  static constexpr uint64_t kMaxFileSize = uint64_t{1} << 40;
  static constexpr uint32_t kMaxParts = 100000;
  // Files kept open between parts; idle ones beyond this are closed (and read again from
  // their trailer when another part comes).
  static constexpr size_t kMaxOpenFiles = 64;
  static constexpr const char* kSuffix = ".zevpart";

  struct FFile;
  using TFileRef = std::shared_ptr<FFile>;

  explicit TPlacedParts(TDecodeFs& fs);
  ~TPlacedParts();
  TPlacedParts(const TPlacedParts&) = delete;
  TPlacedParts& operator=(const TPlacedParts&) = delete;

  // Under the decoder lock. The file `part` goes into, or none when the part joiner takes
  // it; `duplicate` is set when the finished file is already there and holds this part.
  TFileRef Open(const FPartData& part, bool& duplicate);
  // Outside the decoder lock: writes the part and its slot. Raises EDecodeIoError when the
  // disk refuses (the other parts stay in place, the slot stays empty).
  TPlaceOutcome Place(FFile& file, const FPartData& part);
  // Under the decoder lock, after Place answered Completed: cuts the trailer off and gives
  // the file its name (a free one beside a different file of that name). A failure raises
  // and leaves the file to be finished by the next copy of any of its parts.
  FJoinResult Finish(FFile& file);

 private:
  TFileRef Load(const FPartData& part, const std::string& path);
  TFileRef Create(const FPartData& part, const std::string& path);
  bool HasPartFiles(const FPartData& part);
  bool WholeFileHolds(const FPartData& part);
  void Remember(const std::string& key, TFileRef file);

  TDecodeFs& fs_;
  std::unordered_map<std::string, TFileRef> open_;
};

// Whether a part can be written at its place at all: it says where it lies and how large
// its file is, and those agree with each other and with its number.
bool PartHasPlace(const FPartData& part);

}  // namespace zev
