#include "download/Decoder.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>

#include "core/Config.h"
#include "core/Crc32.h"
#include "core/Format.h"
#include "core/Log.h"
#include "core/TextUtil.h"
#include "db/Article.h"
#include "db/Group.h"
#include "db/Server.h"
#include "download/DownloadLogs.h"
#include "download/ExistList.h"
#include "platform/Paths.h"

namespace zev {

namespace {

// A subject stands in for a missing file name, cut to this many characters.
constexpr size_t kSubjectAsName = 50;

bool ConfigHas(int bit) { return gConfig && gConfig->Has(bit); }

}  // namespace

struct TDecoder::FArticleFacts {
  uint32_t flags = 0;
  uint32_t part = 0, total = 0;
  std::string subject, fileName, ownDir, subjectDir;
};

struct TDecoder::FSaved {
  bool any = false;         // some data is on disk (now or from before)
  bool complete = false;    // a file was completed by this body
  bool textOnly = false;    // saved as ".nws": never counts as a complete file
  std::string postName;     // the name the post gave the file (recorded on the article)
  std::string name;         // the completed file's name in the directory
  uint64_t size = 0;
  uint32_t crc = 0;
  bool damaged = false;
};

TDecoder::TDecoder(TArticle& article, TDecodeFs& fs)
    : article_(article), fs_(fs), joiner_(fs, ledger_), placed_(fs) {}

bool TDecoder::ReadArticle(TArticleOffset offset, FArticleFacts& facts) {
  TArticleLock lock(article_);
  if (!article_.Read(offset)) return false;
  const FMsgData& d = article_.Data();
  facts.flags = d.FFlags;
  facts.part = d.FPartNo;
  facts.total = d.FPartTotal;
  facts.subject = article_.GetSubject();
  facts.fileName = article_.GetFileName();
  if (facts.fileName.empty()) facts.fileName = facts.subject.substr(0, kSubjectAsName);
  facts.ownDir = article_.GetDownloadDir();
  facts.subjectDir = article_.SubjectDirectory();
  return true;
}

std::string TDecoder::TargetDir(const FArticleFacts& facts, const TGroup* group) const {
  if (!facts.ownDir.empty()) return platform::WithSlash(facts.ownDir);
  if (!group) return platform::DownloadDir();
  std::string dir = platform::WithSlash(group->EffectiveDecodeDir());
  if (group->Has(gfAppendSubject)) dir += facts.subjectDir;
  return dir;
}

TDecodeResult TDecoder::Decode(TGroup* group, TServer& slot, bool saveAsText, TArticleOffset offset,
                               std::string& body) {
  FArticleFacts article;
  if (!ReadArticle(offset, article)) {
    LogError(FormatText("Decoder: article %u is no longer in the database; its body is dropped.", offset), 1);
    return drNotSaved;
  }
  if (body.empty()) {
    LogError(FormatText("Decoding error: empty body for \"%s\", server=\"%s\".", article.subject.c_str(),
                        slot.NewsServer().Name().c_str()),
             1);
    return drFailed;
  }
  FBodyFacts facts;
  facts.multiPart = article.flags & FlagBit(afMultiPart);
  facts.yencFlag = article.flags & FlagBit(afyEncode);
  facts.part = article.part;
  facts.total = article.total;
  facts.fileName = article.fileName;
  facts.subject = article.subject;
  facts.server = slot.NewsServer().Name();
  facts.saveAsText = saveAsText;
  const FDecodedBody decoded = DecodeBody(body, facts);
  for (const std::string& w : decoded.warnings) LogError(w, 0);
  for (const std::string& e : decoded.errors) LogError(e, 1);
  if (decoded.failed || decoded.pieces.empty()) return drFailed;

  const std::string dir = TargetDir(article, group);
  std::unique_lock lock(lock_);
  if (!MakeDirs(fs_, dir)) {
    LogError(FormatText("Unable to create directory \"%s\"!", dir.c_str()), 1);
    return drFailed;
  }
  FSaved saved;
  if (std::optional<FPlacement> placement = PlacePart(decoded, article, dir, body)) {
    lock.unlock();
    saved = SavePlaced(*placement, decoded.pieces.front(), dir, group, offset, article.subject);
  } else {
    saved = SavePieces(decoded, article, dir, body, group, offset);
    lock.unlock();
  }
  const uint64_t key = Record(offset, decoded, saved, saveAsText);
  if (saved.complete && !saved.damaged && !saved.textOnly && existList_ && key != 0)
    existList_->AddEntry(dir, {}, key, saved.size, esFound);
  return drSaved;
}

TDecoder::FSaved TDecoder::SavePieces(const FDecodedBody& decoded, const FArticleFacts& facts,
                                      const std::string& dir, const std::string& body, const TGroup* group,
                                      TArticleOffset offset) {
  FSaved last;
  for (const FDecodedPiece& piece : decoded.pieces) {
    FSaved saved = piece.kind == TPieceKind::Part ? SavePart(piece, facts, dir, body) : SaveWhole(piece, dir, body);
    saved.textOnly = decoded.format == TBodyFormat::SaveAsText;
    if (saved.complete) Announce(offset, saved, dir, group, facts.subject);
    last = std::move(saved);
  }
  return last;
}

TDecoder::FSaved TDecoder::SaveWhole(const FDecodedPiece& piece, const std::string& dir, const std::string& body) {
  FSaved saved;
  saved.any = true;
  saved.postName = piece.kind == TPieceKind::Text ? std::string() : piece.name;
  const char* data = body.data() + piece.offset;
  if (SameContent(fs_, dir + piece.name, data, piece.size)) return saved;  // already there: nothing new
  saved.name = MakeUniqueName(fs_, dir, piece.name);
  TDecodeFile temp = CreateTempFile(fs_, dir, saved.name);
  const std::string tempPath = temp.Path();
  try {
    temp.WriteAll(data, piece.size, 0);
    temp.Close();
    if (fs_.Rename(tempPath, dir + saved.name, false) != 0) throw EDecodeIoError("Cannot rename to", dir + saved.name, errno);
  } catch (...) {
    temp.Close();
    fs_.Unlink(tempPath);
    throw;
  }
  saved.complete = true;
  saved.size = piece.size;
  saved.crc = piece.crc;
  return saved;
}

FPartData TDecoder::PreparePart(const FDecodedPiece& piece, const FArticleFacts& facts, const std::string& dir,
                                const std::string& body) {
  // The post names the file differently from its subject: earlier parts follow the post.
  const std::string recorded = CleanPostName(facts.fileName);
  if (recorded != piece.name) joiner_.RenameParts(dir, recorded, piece.name);
  ledger_.NoteExpected(dir + piece.name, piece.fileSize, piece.fileCrc);
  FPartData part;
  part.dir = dir;
  part.name = piece.name;
  part.part = piece.part;
  part.total = piece.total;
  part.data = body.data() + piece.offset;
  part.size = piece.size;
  part.crc = piece.crc;
  part.offset = piece.fileOffset;
  part.fileSize = piece.fileSize;
  return part;
}

TDecoder::FSaved TDecoder::SavePart(const FDecodedPiece& piece, const FArticleFacts& facts, const std::string& dir,
                                    const std::string& body) {
  return AfterJoin(joiner_.Save(PreparePart(piece, facts, dir, body)), piece, dir);
}

TDecoder::FSaved TDecoder::AfterJoin(const FJoinResult& joined, const FDecodedPiece& piece, const std::string& dir) {
  FSaved saved;
  saved.any = true;
  saved.postName = piece.name;
  if (!joined.complete || joined.duplicate) return saved;
  saved.complete = true;
  saved.name = joined.fileName;
  saved.size = joined.fileSize;
  if (joined.fileCrc) {
    saved.crc = *joined.fileCrc;
  } else if (!CalcFileCRC32(dir + saved.name, saved.crc)) {
    saved.crc = 0;
  }
  CheckJoined(piece, dir, saved);
  saved.damaged = saved.damaged || joined.damaged;
  return saved;
}

std::optional<TDecoder::FPlacement> TDecoder::PlacePart(const FDecodedBody& decoded, const FArticleFacts& facts,
                                                        const std::string& dir, const std::string& body) {
  if (decoded.pieces.size() != 1 || decoded.pieces.front().kind != TPieceKind::Part) return std::nullopt;
  FPlacement placement{PreparePart(decoded.pieces.front(), facts, dir, body), nullptr, false};
  placement.file = placed_.Open(placement.part, placement.duplicate);
  if (!placement.file && !placement.duplicate) return std::nullopt;
  return placement;
}

TDecoder::FSaved TDecoder::SavePlaced(const FPlacement& placement, const FDecodedPiece& piece, const std::string& dir,
                                      const TGroup* group, TArticleOffset offset, const std::string& subject) {
  FSaved saved;
  saved.any = true;
  saved.postName = piece.name;
  if (placement.duplicate || placed_.Place(*placement.file, placement.part) != TPlaceOutcome::Completed) return saved;
  std::lock_guard lock(lock_);
  saved = AfterJoin(placed_.Finish(*placement.file), piece, dir);
  if (saved.complete) Announce(offset, saved, dir, group, subject);
  return saved;
}

void TDecoder::CheckJoined(const FDecodedPiece& piece, const std::string& dir, FSaved& saved) {
  const TPartLedger::FExpected expected = ledger_.Expected(dir + piece.name);
  ledger_.ForgetExpected(dir + piece.name);
  const bool sizeBad = expected.size && *expected.size != saved.size;
  const bool crcBad = expected.crc && *expected.crc != saved.crc;
  if (!sizeBad && !crcBad) return;
  saved.damaged = true;
  LogError(FormatText("Joined file \"%s%s\" does not match its post (size %llu, expected %llu; CRC %08X, expected "
                      "%08X): kept for repair, not counted as downloaded.",
                      dir.c_str(), saved.name.c_str(), static_cast<unsigned long long>(saved.size),
                      static_cast<unsigned long long>(expected.size.value_or(saved.size)), saved.crc,
                      expected.crc.value_or(saved.crc)),
           1);
}

uint64_t TDecoder::Record(TArticleOffset offset, const FDecodedBody& decoded, const FSaved& saved, bool saveAsText) {
  uint64_t decodedSize = 0;
  for (const FDecodedPiece& piece : decoded.pieces) decodedSize += piece.size;
  TArticleLock lock(article_);
  if (!article_.Read(offset)) return 0;
  if (decoded.wholeFileInPart) article_.Exclude(afMultiPart);
  if (!saved.postName.empty() && !saveAsText) RecordName(saved.postName);
  if (!article_.Read(offset)) return 0;
  article_.Include(afDownloaded);
  if (ConfigHas(cfMarkReadWhenDownloaded)) article_.Include(afRead);
  if (!saveAsText) article_.SetPartSize(static_cast<uint32_t>(std::min<uint64_t>(decodedSize, UINT32_MAX)));
  article_.Write();
  if (saved.complete && !saved.damaged && !saved.textOnly) RecordExactSize(saved.size);
  return article_.Read(offset) ? article_.Data().FFileName : 0;
}

// The parts to visit: every part of a multi-part file, or the article alone.
std::vector<TArticleOffset> TDecoder::PartsOfCurrent() {
  std::vector<TArticleOffset> parts;
  article_.PartMap(parts);
  std::erase(parts, TArticleOffset{0});
  if (parts.empty()) parts.push_back(article_.Offset());
  return parts;
}

void TDecoder::RecordName(const std::string& name) {
  // Once the article carries the post's name, its file has been seen to: one walk per file.
  if (HasFlag(article_.Data(), afExactName) && article_.GetFileName() == name) return;
  for (TArticleOffset at : PartsOfCurrent()) {
    if (!article_.Read(at)) continue;
    const std::string old = article_.GetFileName();
    if (old != name) {
      std::string tmpl = article_.GetSubjectTemplate();
      // The subject still shows the name it was posted with.
      for (size_t pos = tmpl.find(static_cast<char>(tcFileName)); pos != std::string::npos;
           pos = tmpl.find(static_cast<char>(tcFileName), pos + old.size()))
        tmpl.replace(pos, 1, old);
      article_.SetSubject(tmpl);
      article_.SetFileName(name);
    }
    article_.Include(afExactName);
    article_.Write();
  }
}

void TDecoder::RecordExactSize(uint64_t size) {
  // The record holds 32 bits; a larger file keeps its estimate.
  if (size > UINT32_MAX) return;
  for (TArticleOffset at : PartsOfCurrent()) {
    if (!article_.Read(at)) continue;
    FMsgData& d = article_.Data();
    if (d.FFileSize != size) {
      FMsgData old = d;
      ClearFlag(old, afIsReply);
      std::string tmpl = article_.GetSubjectTemplate();
      std::string rebuilt;
      for (char c : tmpl)
        rebuilt += c == tcSizeBytes || c == tcSizeKB
                       ? TArticle::ExpandTemplate(std::string(1, c), old, {}, UserNumberSymbols().decimalPoint)
                       : std::string(1, c);
      if (rebuilt != tmpl) article_.SetSubject(rebuilt);
      article_.SetFileSize(static_cast<uint32_t>(size));
    }
    article_.Include(afExactSize);
    article_.Write();
  }
}

void TDecoder::Announce(TArticleOffset offset, const FSaved& saved, const std::string& dir, const TGroup* group,
                        const std::string& subject) {
  if (!saved.damaged && group) {
    FDownloadLogTargets targets;
    targets.csv = group->Has(gfCsvLog);
    targets.log = group->Has(gfLogFile);
    targets.descriptIon = group->Has(gfDescriptIon);
    targets.dataDir = gConfig ? gConfig->DataStore : std::string();
    targets.subjectInCsv = ConfigHas(cfSubjectInCsvComment);
    FDownloadLogLine line{saved.name, saved.size, saved.crc, dir, subject, group->GroupAbbreviation()};
    WriteDownloadLogs(targets, line);
  }
  if (listener_) listener_({offset, dir, saved.name, saved.size, saved.crc, saved.damaged});
}

}  // namespace zev
