#pragma once
// The article operations the offset maps need: dropping the reference a map entry holds,
// flushing the article database after references went, and the record reads and changes
// of automatic marking and the .newsrc export. TAccessorMapArticles provides them on the
// shared article accessor (start-up points gMapArticles at it); tests give a model of
// their own. Each operation takes the accessor's lock itself; the maps never call one
// while they hold their own lock.
#include <string>

#include "db/MsgData.h"

namespace zev {

class TMapArticles {
 public:
  virtual ~TMapArticles() = default;
  // Drops one server-group reference to the article; true when it was the last.
  virtual bool Expire(TArticleOffset offset) = 0;
  // Writes the article database's changed pages after references were dropped.
  virtual void Flush() = 0;
  // The article's record; false when it cannot be read.
  virtual bool Read(TArticleOffset offset, FMsgData& record) = 0;
  // Sets one flag of the article and stores the record.
  virtual void IncludeFlag(TArticleOffset offset, TArticleFlag flag) = 0;
  // The first part of the article's file (the article itself when it has no earlier
  // part); 0 when it cannot be read.
  virtual TArticleOffset FirstPart(TArticleOffset offset) = 0;
  // The article's own download directory ("" when it has none), and changing it.
  virtual std::string DownloadDir(TArticleOffset offset) = 0;
  virtual void SetDownloadDir(TArticleOffset offset, const std::string& dir) = 0;
  virtual std::string FileName(TArticleOffset offset) = 0;
};

extern TMapArticles* gMapArticles;

}  // namespace zev
