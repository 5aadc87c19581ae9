#pragma once
// The article operations of the offset maps (TMapArticles) on an article accessor and its
// news store: what start-up installs as gMapArticles once the database is open.
#include "db/MapArticles.h"

namespace zev {

class TArticle;
class TNewsStore;

class TAccessorMapArticles : public TMapArticles {
 public:
  TAccessorMapArticles(TArticle& article, TNewsStore& store) : article_(article), store_(store) {}

  bool Expire(TArticleOffset offset) override;
  void Flush() override;
  bool Read(TArticleOffset offset, FMsgData& record) override;
  void IncludeFlag(TArticleOffset offset, TArticleFlag flag) override;
  TArticleOffset FirstPart(TArticleOffset offset) override;
  std::string DownloadDir(TArticleOffset offset) override;
  void SetDownloadDir(TArticleOffset offset, const std::string& dir) override;
  std::string FileName(TArticleOffset offset) override;

 private:
  TArticle& article_;
  TNewsStore& store_;
};

}  // namespace zev
