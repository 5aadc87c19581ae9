#pragma once
// yEnc encoding, for the test news server's article generator, tests and benchmarks.
// The program itself only reads yEnc; posts made here follow yEnc 1.3 as posting programs
// write it, so decoding them exercises the same paths as real posts.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace zev {

struct TYencEncodeOptions {
  size_t lineLength = 128;          // encoded characters per line (an escape may add one)
  bool escapeLineStartDot = false;  // escape "." at a line start instead of leaving it to
                                    // NNTP dot-stuffing (posting programs differ)
};

// The data lines of `data`, each ended by CR LF; no keyword lines.
std::string YencEncodeLines(std::span<const uint8_t> data, const TYencEncodeOptions& options = {});

// What a post says about the data it carries.
struct TYencPostInfo {
  std::string name;
  uint64_t fileSize = 0;     // size of the whole file
  uint32_t part = 0;         // 0: a single-part post (no "part=", no "=ypart")
  uint32_t total = 0;        // number of parts, written when part != 0
  uint64_t begin = 1;        // offset of the part's first byte in the file, from 1
  bool withFileCrc = false;  // write "crc32=" (the whole file's CRC) on "=yend"
  uint32_t fileCrc = 0;
};

// A complete article body before NNTP transport: "=ybegin" (and "=ypart" for a part), the
// data lines, "=yend" with "size=", the part CRC ("pcrc32=" for parts) and, for a single
// part, "crc32=" of the data.
std::string YencEncodeArticle(std::span<const uint8_t> data, const TYencPostInfo& info,
                              const TYencEncodeOptions& options = {});

// The NNTP transport form of a body: every line beginning with "." gets another "." in
// front, a missing final line end is added, and the "." line ends it.
std::string DotStuffBody(std::string_view body);

}  // namespace zev
