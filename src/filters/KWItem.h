#pragma once
// TKWItem: one kill or want filter. A regular expression tested against chosen header
// texts (subject, author, file name) of the articles of chosen newsgroups; a match gives
// the article the filter's action flags and score, and may pick its download directory.
//
// Threads: the filter set hands filters to header retrieval passes on connection threads
// while the user-interface thread edits the set. The expressions, the score and the
// download directory are set before a filter joins the set and are not changed while it
// is in it (the dialogs edit a copy and TKillWant::Replace swaps it in); only the flags and
// the expiry, which the set itself changes when a filter expires, are atomic.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/DateTime.h"
#include "filters/Perlre.h"

namespace zev {

// The filter flags, as stored (one hex byte) in "KillFile.ini" and "WantFile.ini".
enum TKWFlag : uint8_t {
  kwActive = 0x01,    // "Filter is Active"
  kwKill = 0x02,      // a kill filter ("KillFile.ini")
  kwWant = 0x04,      // a want filter ("WantFile.ini")
  kwAutoMark = 0x08,  // "Auto mark for download"
  kwSubject = 0x10,   // tested against the subject
  kwAuthor = 0x20,    // tested against the author
  kwFilename = 0x40,  // tested against the file name
};
// The header bits of a filter; the masks of the three header-retrieval passes.
constexpr uint8_t kwHeaders = kwSubject | kwAuthor | kwFilename;
constexpr uint8_t kwAuthorPass = kwAuthor;
constexpr uint8_t kwSubjectPass = kwSubject | kwFilename;
constexpr uint8_t kwOverviewPass = kwHeaders;

class TKWItem {
 public:
  // Active, testing all three headers, score 0, no expiry, empty texts.
  TKWItem();
  TKWItem(const TKWItem&) = delete;
  TKWItem& operator=(const TKWItem&) = delete;

  // Caseless, dot matches all, studied. An empty groups text means every newsgroup.
  TPerlre Expression{true, TPerlre::kCaseless | TPerlre::kDotAll};
  TPerlre Groups{true, TPerlre::kCaseless | TPerlre::kDotAll};

  uint8_t Flags() const { return flags_.load(); }
  void SetFlags(uint8_t flags) { flags_ = flags; }
  bool Has(uint8_t flag) const { return (flags_.load() & flag) != 0; }
  void Include(uint8_t flag) { flags_.fetch_or(flag); }
  void Exclude(uint8_t flag) { flags_.fetch_and(static_cast<uint8_t>(~flag)); }
  bool IsWant() const { return Has(kwWant); }

  // The article flags (TArticleFlag bits) a match gives: afKilled for a kill filter,
  // afWanted otherwise, plus afMarked with "Auto mark for download". Derived from the
  // flags every time, never stored.
  uint32_t Action() const;

  int8_t Score = 0;
  // Days since 30 December 1899; 0 means never.
  TDateTime Expiry() const { return expiry_.load(); }
  void SetExpiry(TDateTime expiry) { expiry_ = expiry; }
  // Empty, or ending with a path separator.
  std::string DownloadDir;

  // Whether the filter applies to the newsgroup: no groups text, or its expression is
  // found somewhere in the name. A groups text that does not compile applies to none.
  bool AppliesToGroup(std::string_view group) const;
  // A filter whose expiry lies before `now` stops being active and forgets its expiry;
  // an inactive filter forgets it too. True when the filter is active afterwards.
  bool ExpireBy(TDateTime now);
  // A copy for editing (the expressions are compiled again; a text that does not compile
  // is kept uncompiled).
  std::unique_ptr<TKWItem> Clone() const;

 private:
  std::atomic<uint8_t> flags_{kwActive | kwSubject | kwAuthor | kwFilename};
  std::atomic<TDateTime> expiry_{0};
};

}  // namespace zev
