#pragma once
// TArticle: the accessor through which the program reads, creates, changes and expires
// article records ("MsgLst.zev"). It holds one record at a time; texts (subject template,
// author, file name, download directory, Message-ID) are loaded when asked for and cached
// until the next record. Subjects, authors, file names and download directories live once
// each in their string lists with a reference count that this class keeps right.
//
// One shared accessor (gArticle) serves the program; the part check owns a private one.
// Every sequence of operations on the shared accessor runs under its re-entrant lock
// (TArticleLock). Lock order: the queue list, then the article lock; the decoder lock,
// then the article lock.
#include <atomic>
#include <cstddef>
#include <cstring>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/MsgData.h"
#include "db/StringRefCache.h"

namespace zev {

class TNewsStore;
class TBTree;

class TArticle {
 public:
  explicit TArticle(TNewsStore& store);
  // Stores a record that is still dirty.
  ~TArticle();
  TArticle(const TArticle&) = delete;
  TArticle& operator=(const TArticle&) = delete;

  void Lock() { lock_.lock(); }
  void Unlock() { lock_.unlock(); }
  std::recursive_mutex& Mutex() { return lock_; }

  // Makes the record at `offset` current (storing a dirty one first). False, with the
  // accessor empty, when no record can be read there.
  bool Read(TArticleOffset offset);
  // Stores the current record. Refused (and logged) when its slot no longer holds this
  // article: freed, or taken by another article since the offset was learnt.
  void Write();
  // Forgets the current article, storing it first when dirty.
  void Clear();
  // Finds or adds the article with that Message-ID (without angle brackets); true when
  // added. `offset` 0 means the database could not take it.
  bool New(std::string_view messageId, TArticleOffset& offset);
  // Drops one server-group reference; true when it was the last (the article then leaves
  // its part chain and goes on the expiry list). The accessor is left empty.
  bool Expire(TArticleOffset offset);

  TArticleOffset Offset() const { return offset_; }
  bool Dirty() const { return dirty_; }
  void MarkDirty() { dirty_ = true; }
  // The record; callers read fields directly and may OR flags in (then MarkDirty).
  FMsgData& Data() { return msg_; }
  const FMsgData& Data() const { return msg_; }

  uint32_t AdjustRefCount(int64_t delta);
  void AdjustScore(int delta);
  void Include(int flag);
  void Exclude(int flag);
  void SetFileSize(uint32_t value) { Set(offsetof(FMsgData, FFileSize), value); }
  void SetPartSize(uint32_t value) { Set(offsetof(FMsgData, FPartSize), value); }
  void SetPrevPartLink(TArticleOffset value) { Set(offsetof(FMsgData, FPrevPart), value); }
  void SetNextPartLink(TArticleOffset value) { Set(offsetof(FMsgData, FNextPart), value); }
  void SetPartNo(uint16_t value) { Set(offsetof(FMsgData, FPartNo), value); }
  void SetPartTotal(uint16_t value) { Set(offsetof(FMsgData, FPartTotal), value); }
  void SetRefCount(uint32_t value) { Set(offsetof(FMsgData, FRefCount), value); }
  void SetScore(int8_t value) { Set(offsetof(FMsgData, FScore), value); }
  void SetDate(uint32_t packedDate) { Set(offsetof(FMsgData, FDate), packedDate); }
  // Line count and the size estimates that follow from it.
  void SetLines(uint32_t lines);
  // Bytes to transfer for this part.
  uint64_t EncodedSize() const;
  static bool SizesClose(uint32_t a, uint32_t b, bool yEnc);

  // Texts. Without a current article each is "(invalid article)".
  std::string GetSubject();          // the visible subject, built from the template
  std::string GetSubjectTemplate();  // as stored, with placeholder codes
  std::string GetSubjectPattern();   // codes as "$S", "$F", ...; "$" doubled
  std::string GetSortSubject();
  std::string SubjectDirectory();
  std::string GetAuthor();
  std::string AuthorDisplayName();
  std::string GetFileName();
  std::string GetDownloadDir();      // UTF-8
  std::string GetMessageId();
  std::string GetBracketedMessageId();
  // True when a new list entry was created.
  bool SetSubject(std::string_view subjectTemplate);
  bool SetAuthor(std::string_view author);
  bool SetFileName(std::string_view fileName);
  bool SetDownloadDir(std::string_view directory);
  bool SetDownloadDirCached(std::string_view directory);
  void SetFileNamePointer(uint32_t pointer);

  void SwapPartAndSetNumbers();

  // Part chains. Walks are bounded by the part (or file) total, so a damaged chain cannot
  // keep them going; broken back links are repaired on the way.
  bool FirstPart();
  uint32_t CountParts();
  uint32_t CountFiles();
  uint64_t TotalLines();
  uint32_t CombinedFlags();
  bool PartMap(std::vector<TArticleOffset>& parts);

  // The visible form of a template for the given record (used for any record, not only
  // the current one); `fileName` fills code 3.
  static std::string ExpandTemplate(std::string_view tmpl, const FMsgData& record, std::string_view fileName,
                                    char decimalPoint);
  static std::string PatternOf(std::string_view tmpl);
  static std::string DisplayNameOf(std::string_view author);

 private:
  enum TStringKind { skSubject, skAuthor, skFileName, skDownloadDir, kStringKinds };
  // Changes the field at `offset` (the record is packed: fields are copied, never bound).
  template <class T>
  void Set(size_t offset, T value) {
    std::lock_guard lock(lock_);
    char* field = reinterpret_cast<char*>(&msg_) + offset;
    T old;
    std::memcpy(&old, field, sizeof old);
    if (old != value) {
      std::memcpy(field, &value, sizeof value);
      dirty_ = true;
    }
  }
  TBTree* ListOf(TStringKind kind) const;
  static size_t PointerOffset(TStringKind kind);
  std::string LoadText(TStringKind kind);
  bool SetText(TStringKind kind, std::string_view text);
  void DropReference(TStringKind kind);
  uint32_t AddReference(TStringKind kind, std::string_view text, bool& created);
  void ClearCache();
  void Forget();
  static void RemoveSelfLinks(FMsgData& record, TArticleOffset offset, bool& changed);
  bool ReadAt(TArticleOffset offset, FMsgData& record);
  bool WriteAt(TArticleOffset offset, const FMsgData& record);
  bool WriteInPlace();
  void TellChainPartGone(TArticleOffset prev, TArticleOffset next, bool wasVisible, uint32_t bound);
  uint32_t WalkCount(bool parts, bool forward, bool repair);

  TNewsStore& store_;
  std::recursive_mutex lock_;
  TArticleOffset offset_ = 0;
  uint64_t offsetEpoch_ = 0;  // the article list's epoch when offset_ was found
  bool dirty_ = false;
  // Every 32-bit field of the packed record lies at a multiple of 4: aligned so, the
  // references the accessor takes to its fields are aligned too.
  alignas(4) FMsgData msg_{};
  std::optional<std::string> cache_[kStringKinds];
  // The full Message-ID once known; the text keeps its buffer from record to record.
  std::string messageId_;
  bool messageIdKnown_ = false;
  TStringRefCache places_[kStringKinds];
};

// Holds an accessor's lock for a scope.
class TArticleLock {
 public:
  explicit TArticleLock(TArticle& article) : article_(article) { article_.Lock(); }
  ~TArticleLock() { article_.Unlock(); }
  TArticleLock(const TArticleLock&) = delete;
  TArticleLock& operator=(const TArticleLock&) = delete;

 private:
  TArticle& article_;
};

extern TArticle* gArticle;
// Raised when SetFileName creates a new file-name record; the article views take it down
// and run the existing-file precaching again.
extern std::atomic<bool> gNewFileNames;

}  // namespace zev
