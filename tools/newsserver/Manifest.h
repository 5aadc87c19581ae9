#pragma once
// What the generator posted, for tests to compare a client's results against: files with
// names, sizes, CRCs, parts and Message-IDs, and the text articles. Written as JSON.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zev::testserver {

struct FManifestPart {
  uint32_t number = 0;
  std::string messageId;
  std::string subject;
  uint64_t begin = 0;   // 1-based first byte in the file (yEnc)
  uint64_t end = 0;     // last byte
  uint32_t crc32 = 0;   // CRC of the part's real data
  bool posted = true;   // false: the part was never posted (its Message-ID gives 430)
  bool badCrc = false;  // =yend pcrc32= does not match the data
  bool truncated = false;
  std::vector<std::pair<std::string, uint64_t>> numbers;  // group and article number
};

struct FManifestFile {
  std::string name;
  std::string encoding;          // "yenc", "yenc-single", "uuencode", "base64"
  std::vector<std::string> groups;
  uint64_t size = 0;
  uint32_t crc32 = 0;
  uint32_t set = 0;              // file-set number, 0 when the file stands alone
  std::string broken;            // "", "missing-part", "bad-crc", "truncated"
  std::vector<FManifestPart> parts;
  std::string data;              // the original bytes, only when the generator keeps them
};

struct FManifestText {
  std::string messageId;
  std::string subject;
  std::string group;
  uint64_t number = 0;
};

struct FManifest {
  uint64_t seed = 0;
  std::vector<std::string> groups;
  std::vector<FManifestFile> files;
  std::vector<FManifestText> texts;

  const FManifestFile* FindFile(const std::string& name) const;
  std::string ToJson() const;
};

// JSON string literal with the escapes JSON requires.
std::string JsonQuote(const std::string& text);

}  // namespace zev::testserver
