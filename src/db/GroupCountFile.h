#pragma once
// A news server's newsgroup-list file, "GrpLst.zev" in the server's data directory: which
// groups of the group index the server carries, each with an article-count estimate.
//
// Layout, little-endian, nothing else in the file:
//   offset 0           8 bytes  LastUpdate: date-time (days since 1899-12-30, local time)
//                               of the last list update from the server; 0 = never
//   offset 8 + 4 × id  4 bytes  article count of the group whose GroupId is id (the
//                               group's sequence number in the group index); 0 = not carried
// Slots past the end of the file read as 0; writing one past the end extends the file
// with zeros up to it.
//
// The object holds only the path; every call opens the file for the one operation.
// Callers hold the server's newsgroup-list lock: shared to read, alone to write.
#include <cstdint>
#include <shared_mutex>
#include <string>
#include <vector>

#include "core/DateTime.h"

namespace zev {

class TServer;

// The server's newsgroup-list lock, which guards its count file (of a slot: its server's).
std::shared_mutex& CountFileLock(const TServer& server);

class TGroupCountFile {
 public:
  explicit TGroupCountFile(std::string path) : path_(std::move(path)) {}
  // The file of the server (of a slot's server). Empty for a server without a host: such
  // a server has never listed anything and nothing is written for it.
  static TGroupCountFile Of(const TServer& server);

  const std::string& Path() const { return path_; }
  bool Exists() const;

  // 0 when the file is missing or too short, and for a value that is no plausible
  // date-time (a damaged file must not put a garbage date into "newgroups").
  TDateTime LastUpdate() const;
  uint32_t Count(uint32_t groupId) const;
  // Every slot, indexed by GroupId (index 0 is never a group); empty without a file.
  std::vector<uint32_t> Counts() const;

  // The writes create the server's directory and the file when missing; a file created
  // here starts with LastUpdate 0. They raise EZevError when the file cannot be written.
  void SetLastUpdate(TDateTime value) const;
  void SetCount(uint32_t groupId, uint32_t count) const;
  // Writes slots first..last from counts[first..last] in one go.
  void WriteCounts(const std::vector<uint32_t>& counts, uint32_t first, uint32_t last) const;
  // Deletes the file; false when there was none.
  bool Remove() const;

 private:
  std::string path_;
};

}  // namespace zev
