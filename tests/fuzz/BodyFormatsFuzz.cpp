// Article bodies of any content through format recognition and in-place decoding
// (uuencode, yEnc plain and in MIME, MIME base64, text): never a crash, decoded pieces lie
// inside the buffer, and every name is a plain file name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "download/BodyFormats.h"

using namespace zev;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  // The first bytes say what the article record claims.
  FBodyFacts facts;
  facts.multiPart = data[0] & 1;
  facts.yencFlag = data[0] & 2;
  facts.saveAsText = (data[0] & 0x1C) == 0x1C;
  facts.part = data[1] % 8;
  facts.total = data[2] % 8;
  facts.fileName = (data[0] & 0x20) ? "pic.jpg" : "../x";
  facts.subject = "\"my file.bin\" yEnc (1/3)";
  std::string body(reinterpret_cast<const char*>(data) + 3, size - 3);
  const size_t original = body.size();
  const FDecodedBody result = DecodeBody(body, facts);
  if (body.size() > original) std::abort();
  if (result.failed && !result.pieces.empty()) std::abort();
  for (const FDecodedPiece& piece : result.pieces) {
    if (piece.offset > body.size() || piece.size > body.size() - piece.offset) std::abort();
    if (piece.name.empty() || piece.name == "." || piece.name == "..") std::abort();
    if (piece.name.find('/') != std::string::npos || piece.name.find('\\') != std::string::npos) std::abort();
    for (unsigned char c : piece.name)
      if (c < 32) std::abort();
    if (piece.kind == TPieceKind::Part && (piece.part < 1 || piece.part > piece.total)) std::abort();
  }
  return 0;
}
