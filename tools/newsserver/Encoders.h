#pragma once
// The binary-to-text encodings the generator posts with. Output uses LF line ends; the
// article builder turns them into CRLF and dot-stuffs.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zev::testserver {

// CRC-32 (IEEE, as in yEnc's pcrc32/crc32 and zlib), continuing from `crc`.
uint32_t Crc32(const void* data, size_t size, uint32_t crc = 0);

struct FYencLineOptions {
  int lineLength = 128;
  // Posting tools differ here: some escape a '.' that starts a line, others leave it to
  // the NNTP layer's dot-stuffing. Clients must cope with both.
  bool escapeLeadingDot = true;
};

// The encoded data lines of yEnc (no =ybegin/=yend), each ending in LF. NUL, LF, CR and
// '=' are always escaped, TAB and space at the start or end of a line too.
std::string YencEncodeLines(const uint8_t* data, size_t size, const FYencLineOptions& options);

// Lines of traditional uuencode: 45 bytes per line, '`' for zero, each ending in LF.
// Without the "begin" and "end" lines.
std::string UuencodeLines(const uint8_t* data, size_t size);

// Base64 in lines of 76 characters, each ending in LF (MIME).
std::string Base64Lines(const uint8_t* data, size_t size);

}  // namespace zev::testserver

namespace zev::testserver {

// One yEnc article body: =ybegin (with part= and total= for multi-part posts), =ypart,
// the data lines and =yend. The CRC fields are given rather than computed so that broken
// posts can lie about them.
struct FYencPartPlan {
  std::string name;
  uint64_t fileSize = 0;
  uint32_t part = 0;         // 0: the single-part form without part=, total= and =ypart
  uint32_t total = 0;
  uint64_t begin = 1;        // 1-based offset of the first byte in the file
  const uint8_t* data = nullptr;
  size_t size = 0;
  uint64_t declaredSize = 0; // =yend size=
  uint32_t pcrc32 = 0;
  bool withFileCrc = false;  // crc32= of the whole file, usually only on the last part
  uint32_t fileCrc = 0;
  FYencLineOptions lines;
};

std::string YencPartBody(const FYencPartPlan& plan);

}  // namespace zev::testserver
