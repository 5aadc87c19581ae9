#pragma once
// Recognises the format of a downloaded article body and decodes it in place: uuencode,
// yEnc wrapped in MIME, yEnc, MIME base64, and plain text (saved as ".txt"), or the raw
// text when the user asked to save it as text (".nws").
//
// The result lists the pieces to save (whole files, one part of a multi-part file, a text
// file) as ranges of the body buffer, which now holds the decoded bytes, and the log lines
// for anything wrong. Nothing here touches the disk or the database, so every hostile
// body can be fed to it directly (tests/fuzz).
//
// Integrity: a yEnc section is taken only when it is whole and every check its post makes
// possible passes ("=yend" size, "=ypart begin/end" against the decoded length, "pcrc32",
// and "crc32" for a whole file); otherwise the body fails and the article is fetched
// again, from another server where one carries it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zev {

enum class TBodyFormat : uint8_t { None, Uuencode, MimeYenc, Yenc, Base64, Text, SaveAsText };
enum class TPieceKind : uint8_t { WholeFile, Part, Text };

struct FDecodedPiece {
  TPieceKind kind = TPieceKind::WholeFile;
  std::string name;             // cleaned: a plain file name, never a path
  size_t offset = 0, size = 0;  // the decoded bytes in the body buffer
  uint32_t part = 0, total = 0; // for a part
  uint32_t crc = 0;             // CRC-32 of the decoded bytes
  // What a yEnc post says of the whole file a part belongs to.
  std::optional<uint64_t> fileOffset;  // where the part's first byte lies (from 0)
  std::optional<uint64_t> fileSize;
  std::optional<uint32_t> fileCrc;
};

// What the article's record says of the body.
struct FBodyFacts {
  bool multiPart = false;    // afMultiPart
  bool yencFlag = false;     // afyEncode: the subject announced yEnc
  uint32_t part = 0, total = 0;
  std::string fileName;      // from the subject analysis, or the subject's first 50 characters
  std::string subject;
  std::string server;        // for log lines
  bool saveAsText = false;   // the queue item asked for the raw text (".nws")
};

struct FDecodedBody {
  TBodyFormat format = TBodyFormat::None;
  bool failed = false;
  std::vector<std::string> errors;    // log lines at error level
  std::vector<std::string> warnings;  // log lines at warning level
  std::vector<FDecodedPiece> pieces;
  // The body turned out to hold a whole file although the article is marked as a part.
  bool wholeFileInPart = false;
};

FDecodedBody DecodeBody(std::string& body, const FBodyFacts& facts);

// The yEnc sections in body[begin, end), decoded to body[writePos...]; shared by plain and
// MIME-wrapped yEnc. True when a section with a name and a size was found.
bool DecodeYencRange(std::string& body, size_t begin, size_t end, size_t& writePos, const FBodyFacts& facts,
                     FDecodedBody& result);

}  // namespace zev
