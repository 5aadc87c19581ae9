#pragma once
// The redo journal beside a tree file ("MsgLst.zev" has "MsgLst.zev-journal"). Pages are
// never written in place until every page of a flush is in the journal, synced, and a
// commit frame closes it; so a crash at any moment leaves either the old state (journal
// without commit: ignored) or the new one (committed journal: replayed on the next open).
// docs/db-format.md gives the byte layout.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "db/FileHandle.h"

namespace zev {

struct TJournalFrame {
  uint32_t length = 0;   // page bytes (8192, or 24576 for the root)
  uint64_t offset = 0;   // where the page bytes start in the journal
};

// Latest frame of every page, by page position.
using TJournalIndex = std::unordered_map<uint32_t, TJournalFrame>;

class TJournal {
 public:
  // `device`/`inode` identify the tree file, so a journal left beside a replaced file is
  // never applied to it.
  TJournal(std::string path, uint64_t device, uint64_t inode);

  static std::string PathFor(const std::string& treeFile) { return treeFile + "-journal"; }

  // Reads a leftover journal. True when it holds a complete, committed flush: `pages` then
  // lists the page frames and `logicalSize` the size of the tree file after that flush.
  // `unfinishedBase` is the tree file's size before a flush that began writing new pages
  // in place after the last commit (0 when none did): what lies beyond it is not the tree's.
  static bool ReadCommitted(const TFileHandle& journal, uint64_t device, uint64_t inode,
                            TJournalIndex& pages, uint64_t& logicalSize, uint64_t& unfinishedBase);

  // Appends one page; returns where its bytes lie. Starts a new journal after a Reset.
  uint64_t Append(uint32_t position, const uint8_t* data, uint32_t length);
  // Records, durably, the tree file's size before this flush, so that pages appended past
  // it may be written in place ahead of the commit: a crash before the commit cuts them off.
  void MarkBase(uint64_t fileSize);
  // Closes the flush with a commit frame and makes the journal durable.
  void Commit(uint64_t logicalSize);
  // Empties the journal once its pages are in place and synced.
  void Reset();
  void ReadPage(uint64_t offset, uint8_t* data, uint32_t length) const;
  uint64_t Bytes() const { return end_; }
  // Closes and deletes the journal file (clean close).
  void Remove();

 private:
  void Open();
  void WriteHeader();
  void AppendFrame(uint32_t kind, uint32_t position, uint64_t aux, const uint8_t* data, uint32_t length);
  void SyncWithDirectory();

  std::string path_;
  uint64_t device_, inode_;
  TFileHandle file_;
  uint64_t end_ = 0;        // bytes written in this journal; 0 = empty
  uint32_t chain_ = 0;      // CRC-32 of the journal so far
  bool dirSynced_ = false;  // the journal's directory entry is durable
  bool baseMarked_ = false;  // since the last commit or reset
  std::vector<uint8_t> frame_;
};

}  // namespace zev
