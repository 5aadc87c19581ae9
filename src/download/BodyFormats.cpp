#include "download/BodyFormats.h"

#include <cstring>

#include "core/Crc32.h"
#include "core/TextUtil.h"
#include "download/Base64.h"
#include "download/DotStuffing.h"
#include "download/DownloadNames.h"
#include "download/MimeParts.h"
#include "download/Uudecode.h"

namespace zev {

namespace {

constexpr size_t kNpos = std::string::npos;

bool HasLineStarting(std::string_view text, std::string_view prefix) {
  if (text.substr(0, prefix.size()) == prefix) return true;
  return text.find("\n" + std::string(prefix)) != kNpos;
}

bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && EqualsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

// Where the body begins when the server sent the whole article (a server set to download
// with ARTICLE): after the blank line that ends the header lines the text starts with. 0
// when it does not start with header lines.
size_t ArticleBodyStart(std::string_view text) {
  bool anyHeader = false;
  for (size_t pos = 0; pos < text.size();) {
    const size_t lf = text.find('\n', pos);
    if (lf == kNpos) return 0;
    std::string_view line = text.substr(pos, lf - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) return anyHeader ? lf + 1 : 0;
    const bool folded = line[0] == ' ' || line[0] == '\t';
    if (!folded) {
      const size_t colon = line.find(':');
      if (colon == 0 || colon == kNpos) return 0;
      for (char c : line.substr(0, colon))
        if (static_cast<unsigned char>(c) <= 32 || static_cast<unsigned char>(c) >= 127) return 0;
      anyHeader = true;
    } else if (!anyHeader) {
      return 0;
    }
    pos = lf + 1;
  }
  return 0;
}

// A part of a multi-part file that the record describes; false when the record cannot.
bool RecordPart(const FBodyFacts& facts, FDecodedPiece& piece) {
  if (!facts.multiPart || facts.part < 1 || facts.total < facts.part) return false;
  piece.kind = TPieceKind::Part;
  piece.part = facts.part;
  piece.total = facts.total;
  piece.name = CleanPostName(facts.fileName);
  return true;
}

void AddPiece(FDecodedPiece piece, const std::string& body, FDecodedBody& result) {
  piece.crc = UpdateCrc32(body.data() + piece.offset, piece.size, 0);
  result.pieces.push_back(std::move(piece));
}

// --- uuencode ---

bool DecodeUuencode(std::string& body, const FBodyFacts& facts, FDecodedBody& result) {
  char* text = body.data();
  size_t writePos = 0;
  FUuHeader header;
  if (!FindUuHeader(body, 0, header)) {
    // A later part of a multi-part post carries only data lines. yEnc bodies are left
    // alone: their short last lines can look like uuencode.
    if (!facts.multiPart || facts.part == 1 || HasLineStarting(body, "=ybegin ")) return false;
    // Header lines such as a Message-ID can look like a full data line.
    const size_t bodyStart = ArticleBodyStart(body);
    size_t start = FindHeaderlessUuStart(std::string_view(body).substr(bodyStart));
    if (start == kNpos) return false;
    start += bodyStart;
    const FUuData data = UudecodeLines(text, body.size(), start, text);
    FDecodedPiece piece;
    if (data.produced == 0 || !RecordPart(facts, piece)) return false;
    piece.size = data.produced;
    AddPiece(std::move(piece), body, result);
    return true;
  }
  for (bool more = true; more;) {
    const size_t start = writePos;
    const FUuData data = UudecodeLines(text, body.size(), header.dataStart, text + writePos);
    writePos += data.produced;
    FDecodedPiece piece;
    piece.offset = start;
    piece.size = data.produced;
    if (data.sawEnd) {
      piece.name = CleanPostName(header.name);
      if (facts.multiPart) result.wholeFileInPart = true;
      AddPiece(std::move(piece), body, result);
      more = FindUuHeader(body, data.afterEnd, header);
      continue;
    }
    // Without its "end" line the data goes on in the next article: this is one part.
    if (!RecordPart(facts, piece)) {
      result.errors.push_back(FormatText("Decoding error in UUDecode, unexpected end of encoded data for file \"%s\", "
                                         "server=\"%s\".",
                                         header.name.c_str(), facts.server.c_str()));
      result.failed = true;
      return true;
    }
    AddPiece(std::move(piece), body, result);
    more = false;
  }
  return true;
}

// --- yEnc in MIME parts ---

bool DecodeMimeYenc(std::string& body, const FBodyFacts& facts, FDecodedBody& result) {
  size_t writePos = 0;
  bool any = false;
  for (const FMimePart& part : FindMimeParts(body, "x-yenc")) {
    any |= DecodeYencRange(body, part.contentBegin, part.contentEnd, writePos, facts, result);
    if (result.failed || (!result.pieces.empty() && result.pieces.back().kind == TPieceKind::Part)) break;
  }
  return any;
}

// --- MIME base64 ---

bool DecodeBase64(std::string& body, const FBodyFacts& facts, FDecodedBody& result) {
  const size_t skip = SkipBodyHeaders(body);
  const std::vector<FMimePart> parts = FindMimeParts(std::string_view(body).substr(skip), "base64");
  char* text = body.data();
  size_t writePos = 0;
  for (const FMimePart& part : parts) {
    const size_t begin = skip + part.contentBegin, end = skip + part.contentEnd;
    FDecodedPiece piece;
    piece.offset = writePos;
    piece.size = Base64Decode(text + begin, end - begin, text + writePos);
    writePos += piece.size;
    if (piece.size == 0) continue;
    if (!RecordPart(facts, piece)) piece.name = CleanPostName(part.name.empty() ? facts.fileName : part.name);
    AddPiece(std::move(piece), body, result);
    if (result.pieces.back().kind == TPieceKind::Part) break;
  }
  if (!parts.empty()) return !result.pieces.empty();
  // No part header: a later part of a multi-part post, or a bare JPEG.
  const std::string_view rest = std::string_view(body).substr(skip);
  const bool jpeg = (EndsWithIgnoreCase(facts.fileName, ".jpg") || EndsWithIgnoreCase(facts.fileName, ".jpeg")) &&
                    rest.substr(0, 4) == "/9j/";
  if (!(facts.multiPart && facts.part > 1) && !jpeg) return false;
  size_t end = rest.find("\n--");
  end = end == kNpos ? body.size() : skip + end;
  FDecodedPiece piece;
  piece.size = Base64Decode(text + skip, end - skip, text);
  if (piece.size == 0) return false;
  if (!RecordPart(facts, piece)) piece.name = CleanPostName(facts.fileName);
  AddPiece(std::move(piece), body, result);
  return true;
}

// --- text ---

void SaveAsText(std::string& body, const FBodyFacts& facts, FDecodedBody& result, bool raw) {
  body.resize(UndoDotStuffing(body.data(), body.size()));
  FDecodedPiece piece;
  piece.kind = TPieceKind::Text;
  piece.size = body.size();
  std::string name = CleanPostName(facts.fileName);
  if (raw) {
    if (facts.multiPart && facts.part > 0)
      name += FormatText(".%.*u", PartDigits(facts.total), facts.part);
    name += ".nws";
  } else if (!EndsWithIgnoreCase(name, ".txt")) {
    name += ".txt";
  }
  piece.name = std::move(name);
  result.format = raw ? TBodyFormat::SaveAsText : TBodyFormat::Text;
  AddPiece(std::move(piece), body, result);
}

}  // namespace

FDecodedBody DecodeBody(std::string& body, const FBodyFacts& facts) {
  FDecodedBody result;
  if (facts.saveAsText) {
    SaveAsText(body, facts, result, true);
    return result;
  }
  if (DecodeUuencode(body, facts, result)) {
    result.format = TBodyFormat::Uuencode;
  } else if (facts.yencFlag && DecodeMimeYenc(body, facts, result)) {
    result.format = TBodyFormat::MimeYenc;
  } else if (size_t writePos = 0; HasLineStarting(body, "=ybegin ") &&
                                  DecodeYencRange(body, 0, body.size(), writePos, facts, result)) {
    result.format = TBodyFormat::Yenc;
  } else if (!result.failed && DecodeBase64(body, facts, result)) {
    result.format = TBodyFormat::Base64;
  } else if (!result.failed) {
    SaveAsText(body, facts, result, false);
  }
  if (result.failed) result.pieces.clear();
  return result;
}

}  // namespace zev
