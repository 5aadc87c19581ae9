// yEnc bodies, plain or wrapped in MIME: the sections of a body, their integrity checks and
// the pieces they give.
#include <algorithm>

#include "core/Crc32.h"
#include "core/TextUtil.h"
#include "download/BodyFormats.h"
#include "download/DownloadNames.h"
#include "download/YencDecoder.h"

namespace zev {

namespace {

constexpr uint64_t kMaxParts = 65535;

struct FSectionFacts {
  std::string name;  // as the post spells it
  uint64_t part = 0;
  const FBodyFacts* facts;
};

std::string Where(const FSectionFacts& s) {
  return FormatText("for file \"%s\", part %llu, server=\"%s\".", s.name.c_str(),
                    static_cast<unsigned long long>(s.part), s.facts->server.c_str());
}

std::string SizeMismatch(uint64_t expected, uint64_t decoded, const FSectionFacts& s) {
  return FormatText("Size mismatch in yDecode (expected %llu, decoded %llu bytes) ",
                    static_cast<unsigned long long>(expected), static_cast<unsigned long long>(decoded)) +
         Where(s);
}

// The number of parts of the file: what the post says (the subject analysis may have
// guessed wrong), else what the subject says, else what the part's place and length imply
// (all parts but the last are equally long).
uint32_t PartTotal(const TYencSection& sec, uint64_t part, const FBodyFacts& facts) {
  uint64_t total = sec.begin.total.value_or(0);
  if (total < part) total = facts.total;
  if (total >= part) return static_cast<uint32_t>(std::min(total, kMaxParts));
  const uint64_t length = sec.decodedSize;
  if (sec.part.end && sec.begin.size && length > 0 && *sec.part.end < *sec.begin.size)
    total = (*sec.begin.size + length - 1) / length;
  return static_cast<uint32_t>(std::min(std::max<uint64_t>(total, part), kMaxParts));
}

// Checks one closed section; false (with the error logged in `result`) when it fails.
bool CheckSection(const TYencSection& sec, const FSectionFacts& s, bool asPart, FDecodedBody& result) {
  TYencSection judged = sec;
  if (!asPart) judged.begin.part.reset();
  const uint32_t faults = CheckYencSection(judged);
  if (faults & yfNoEnd) {
    result.errors.push_back("Decoding error in yDecode, unexpected end of encoded data " + Where(s));
    return false;
  }
  if (faults & yfNoEndSize) {
    result.errors.push_back("Decoding error in yDecode, no \"=yend size=xxxxxx\" line found " + Where(s));
    return false;
  }
  if (!asPart && (faults & yfBeginSize)) {
    result.errors.push_back(SizeMismatch(sec.begin.size.value_or(0), sec.decodedSize, s));
    return false;
  }
  if (asPart && (faults & yfEndSize)) {
    result.errors.push_back(SizeMismatch(*sec.end.size, sec.decodedSize, s));
    return false;
  }
  const uint32_t integrity = faults & (yfNoPartLine | yfPartRange | yfPartCrc | yfCrc);
  if (integrity) {
    result.errors.push_back("yEnc integrity error (" + YencFaultText(integrity) + ") " + Where(s));
    return false;
  }
  if (faults & yfEndSize)
    result.warnings.push_back(FormatText(
        "Warning! Size mismatch in yDecode due to buggy yEncoder: filename = \"%s\", Begin Size =%llu, End Size = %llu.",
        s.name.c_str(), static_cast<unsigned long long>(sec.decodedSize),
        static_cast<unsigned long long>(*sec.end.size)));
  return true;
}

// Turns a closed section into a piece. False when the body must fail.
bool TakeSection(const TYencSection& sec, size_t start, const FBodyFacts& facts, FDecodedBody& result) {
  FSectionFacts s{*sec.begin.name, sec.begin.part.value_or(0), &facts};
  if (sec.begin.spacedKeyword) s.name = RespellFromSubject(s.name, facts.subject);
  bool asPart = sec.ClaimsPart();
  if (asPart && sec.begin.size && *sec.begin.size == sec.decodedSize && s.part == 1) {
    result.warnings.push_back("Warning! Single part yEncoded article claiming to be multipart for file \"" + s.name +
                              "\"");
    asPart = false;
  }
  if (asPart && (s.part < 1 || s.part > kMaxParts)) {
    result.errors.push_back("yEnc part number out of range " + Where(s));
    return false;
  }
  if (!CheckSection(sec, s, asPart, result)) return false;
  FDecodedPiece piece;
  piece.kind = asPart ? TPieceKind::Part : TPieceKind::WholeFile;
  piece.name = CleanPostName(s.name);
  piece.offset = start;
  piece.size = sec.decodedSize;
  piece.crc = sec.crc;
  piece.fileCrc = sec.end.crc32;
  if (asPart) {
    piece.part = static_cast<uint32_t>(s.part);
    piece.total = PartTotal(sec, s.part, facts);
    piece.fileSize = sec.begin.size;
    if (sec.part.begin) piece.fileOffset = *sec.part.begin - 1;
  } else {
    piece.fileSize = sec.decodedSize;
    if (facts.multiPart) result.wholeFileInPart = true;
  }
  result.pieces.push_back(std::move(piece));
  return true;
}

}  // namespace

bool DecodeYencRange(std::string& body, size_t begin, size_t end, size_t& writePos, const FBodyFacts& facts,
                     FDecodedBody& result) {
  TYencDecoder decoder;
  char* base = body.data();
  const char* in = base + begin;
  size_t len = end - begin;
  size_t sectionStart = writePos;
  bool recognised = false;
  for (;;) {
    const TYencDecoder::TStep step = len > 0 ? decoder.Step(in, len, base + writePos) : decoder.Finish();
    in += step.consumed;
    len -= step.consumed;
    writePos += step.produced;
    if (step.event == TYencDecoder::TEvent::BodyEnd) break;
    if (step.event == TYencDecoder::TEvent::Begin) sectionStart = writePos;
    if (step.event != TYencDecoder::TEvent::End) continue;
    const TYencSection& sec = decoder.Section();
    // A header without the name or the size cannot make a file: not ours, skipped.
    if (!sec.begin.name || sec.begin.name->empty() || !sec.begin.size) {
      writePos = sectionStart;
      continue;
    }
    recognised = true;
    if (!TakeSection(sec, sectionStart, facts, result)) {
      result.failed = true;
      break;
    }
    // One part per article; only whole files may follow each other.
    if (result.pieces.back().kind == TPieceKind::Part) break;
  }
  return recognised;
}

}  // namespace zev
