#pragma once
// TDecoder: turns a downloaded article body into files in the download directory, and
// records the outcome in the article database, the existing-file list and the download
// logs. It is the body handler's TBodyDecoder.
//
// A call decodes the body in place first (BodyFormats.h); that needs nothing shared, so
// the connections' handler threads decode side by side. A yEnc part that knows its place
// in the file is written there side by side too (PlacedParts.h); the decoder's lock covers
// only finding its file and finishing it. Other file work runs under the lock, which keeps
// part-file joins from racing. The records are written after the lock is let go. Lock
// order: the decoder lock, then the article lock; the existing-file list's lock last.
//
// Outcome: drSaved when the body's data is on disk (or was there already), drFailed when
// the body is empty or damaged (the article is fetched again, from another server where
// one carries it). A file that cannot be written raises EDecodeIoError: the parts already
// on disk stay intact and the body handler puts the article back.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "download/BodyDecoder.h"
#include "download/BodyFormats.h"
#include "download/DecodeFs.h"
#include "download/PartJoiner.h"
#include "download/PartLedger.h"
#include "download/PlacedParts.h"

namespace zev {

class TArticle;
class TExistList;

// A file the decoder finished.
struct FCompletedFile {
  TArticleOffset offset = 0;  // the article whose body completed it
  std::string dir, name;      // where it is now
  uint64_t size = 0;
  uint32_t crc = 0;
  // The joined file differs from what its post promised (size or "crc32="): it stays on
  // disk for repair tools, but counts as neither complete nor downloaded-exactly.
  bool damaged = false;
};

class TDecoder : public TBodyDecoder {
 public:
  explicit TDecoder(TArticle& article, TDecodeFs& fs = SystemDecodeFs());

  TDecodeResult Decode(TGroup* group, TServer& slot, bool saveAsText, TArticleOffset offset,
                       std::string& body) override;

  // Completed files are entered here (none: no entry).
  void SetExistList(TExistList* list) { existList_ = list; }
  // Told of every completed file, under the decoder lock (keep it short).
  void SetCompletionListener(std::function<void(const FCompletedFile&)> listener) {
    listener_ = std::move(listener);
  }

 private:
  struct FArticleFacts;
  struct FSaved;

  bool ReadArticle(TArticleOffset offset, FArticleFacts& facts);
  std::string TargetDir(const FArticleFacts& facts, const TGroup* group) const;
  FSaved SavePieces(const FDecodedBody& decoded, const FArticleFacts& facts, const std::string& dir,
                    const std::string& body, const TGroup* group, TArticleOffset offset);
  FSaved SaveWhole(const FDecodedPiece& piece, const std::string& dir, const std::string& body);
  FSaved SavePart(const FDecodedPiece& piece, const FArticleFacts& facts, const std::string& dir,
                  const std::string& body);
  FPartData PreparePart(const FDecodedPiece& piece, const FArticleFacts& facts, const std::string& dir,
                        const std::string& body);
  FSaved AfterJoin(const FJoinResult& joined, const FDecodedPiece& piece, const std::string& dir);
  // A part that goes to its place in the file (under the lock), or none for the joiner.
  struct FPlacement {
    FPartData part;
    TPlacedParts::TFileRef file;
    bool duplicate = false;  // the finished file holds it already
  };
  std::optional<FPlacement> PlacePart(const FDecodedBody& decoded, const FArticleFacts& facts, const std::string& dir,
                                      const std::string& body);
  // Outside the lock until the part completes its file.
  FSaved SavePlaced(const FPlacement& placement, const FDecodedPiece& piece, const std::string& dir,
                    const TGroup* group, TArticleOffset offset, const std::string& subject);
  void CheckJoined(const FDecodedPiece& piece, const std::string& dir, FSaved& saved);
  // Records the outcome on the article (and its parts); returns its file-name key.
  uint64_t Record(TArticleOffset offset, const FDecodedBody& decoded, const FSaved& saved, bool saveAsText);
  std::vector<TArticleOffset> PartsOfCurrent();
  void RecordName(const std::string& name);
  void RecordExactSize(uint64_t size);
  void Announce(TArticleOffset offset, const FSaved& saved, const std::string& dir, const TGroup* group,
                const std::string& subject);

  TArticle& article_;
  TDecodeFs& fs_;
  std::mutex lock_;
  TPartLedger ledger_;
  TPartJoiner joiner_;
  TPlacedParts placed_;
  TExistList* existList_ = nullptr;
  std::function<void(const FCompletedFile&)> listener_;
};

}  // namespace zev
