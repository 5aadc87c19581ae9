#pragma once
// What the decoder knows of the part files it wrote in this run: the CRC-32 of each (so
// the CRC of a joined file is combined from its pieces instead of reading the file again)
// and what the post said of the whole file (its size and CRC, from yEnc). Part files
// left from an earlier run are unknown here; their CRC is then read from disk.
//
// Used under the decoder lock only.
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

namespace zev {

class TPartLedger {
 public:
  // Entries beyond this are dropped wholesale: an abandoned download must not grow the
  // ledger without end, and a forgotten CRC is only read again.
  static constexpr size_t kMaxEntries = 100000;

  void Note(const std::string& path, uint64_t size, uint32_t crc);
  // The CRC of `path` when it was noted with this size.
  std::optional<uint32_t> Crc(const std::string& path, uint64_t size) const;
  void Forget(const std::string& path);

  struct FExpected {
    std::optional<uint64_t> size;
    std::optional<uint32_t> crc;
  };
  // `file` is the complete file's path (directory and name).
  void NoteExpected(const std::string& file, std::optional<uint64_t> size, std::optional<uint32_t> crc);
  FExpected Expected(const std::string& file) const;
  void ForgetExpected(const std::string& file);

 private:
  struct FPiece {
    uint64_t size;
    uint32_t crc;
  };
  std::unordered_map<std::string, FPiece> pieces_;
  std::unordered_map<std::string, FExpected> expected_;
};

}  // namespace zev
