#pragma once
// The expiry list ("Expired.zev"): article offsets whose last server-group reference went,
// so the next expiry run visits only the data pages that can hold unreferenced records.
// The file is a plain sequence of 32-bit little-endian offsets in the order they were
// added; an offset may occur more than once.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "db/FileHandle.h"
#include "db/MsgData.h"

namespace zev {

class TExpirer {
 public:
  // Opens the file for appending, creating it when missing.
  explicit TExpirer(std::string fileName);
  // Writes what is buffered (unless reading) and deletes the file when it holds nothing.
  ~TExpirer();
  TExpirer(const TExpirer&) = delete;
  TExpirer& operator=(const TExpirer&) = delete;

  // Any thread. Offsets are buffered and written 4096 at a time.
  void Add(TArticleOffset offset);
  // Read mode: BeginRead takes the list's lock and keeps it until EndRead, so additions
  // wait while an expiry run consumes the list. Next returns 0 at the end.
  void BeginRead();
  TArticleOffset Next();
  // Leaves read mode with the list emptied.
  void EndRead();
  // Leaves read mode keeping the list (a run that failed half way).
  void AbortRead();
  // Empties the list (after a full scan made it pointless).
  void Clear();
  // Offsets written and buffered.
  uint64_t Count();

  static constexpr size_t kBufferEntries = 4096;

 private:
  void WriteBuffer();

  std::string fileName_;
  TFileHandle file_;
  uint64_t written_ = 0;  // entries in the file
  std::vector<uint32_t> buffer_;      // added, not yet written (kept aside while reading)
  std::vector<uint32_t> readBuffer_;  // read mode: the block being handed out
  uint64_t readPos_ = 0;              // next file entry to read into readBuffer_
  size_t readIndex_ = 0;
  bool readMode_ = false;
  std::recursive_mutex lock_;
};

extern TExpirer* gExpirer;

}  // namespace zev
