#pragma once
// What the queue needs of the article database. Start-up wires it to the shared article
// accessor; tests and benchmarks give the queue a table of their own.
//
// Called with the queue's list lock held (the queue lock comes before the article lock),
// from the user-interface thread and from connection threads.
#include <cstdint>
#include <string>

#include "db/MsgData.h"

namespace zev {

// Which texts a read should fetch; the numbers always come.
enum TArticleTexts : unsigned {
  atNone = 0,
  atMessageId = 1,
  atDownloadDir = 2,
  atSubject = 4,
  atSubjectDir = 8,
};

struct FQueueArticle {
  uint64_t Size = 0;       // bytes of this part
  uint32_t Date = 0;       // packed file date
  uint32_t Flags = 0;      // TArticleFlag bits
  int8_t Score = 0;
  TArticleOffset PrevPart = 0;
  TArticleOffset NextPart = 0;
  std::string MessageId;    // without angle brackets
  std::string DownloadDir;  // the article's own directory; empty: its group's
  std::string Subject;      // the visible subject
  std::string SubjectDir;   // the directory the subject gives (groups with gfAppendSubject): one name,
                            // already cleaned for the file system
};

class TQueueArticles {
 public:
  virtual ~TQueueArticles() = default;
  // False when the offset names no readable record.
  virtual bool Read(TArticleOffset offset, FQueueArticle& article, unsigned texts = atNone) = 0;
  // The user took the article out of the queue: it is no longer marked for download.
  virtual void Unmark(TArticleOffset offset) = 0;
};

}  // namespace zev
