#include "db/AccessorMapArticles.h"

#include "db/Article.h"
#include "db/BTree.h"
#include "db/NwsStore.h"

namespace zev {

bool TAccessorMapArticles::Expire(TArticleOffset offset) { return article_.Expire(offset); }

void TAccessorMapArticles::Flush() {
  // The reference counts go to disk with the map files that no longer hold them.
  if (TBTree* msgLst = store_.MsgLst()) msgLst->Flush(true, true);
}

bool TAccessorMapArticles::Read(TArticleOffset offset, FMsgData& record) {
  TArticleLock lock(article_);
  if (!article_.Read(offset)) return false;
  record = article_.Data();
  return true;
}

void TAccessorMapArticles::IncludeFlag(TArticleOffset offset, TArticleFlag flag) {
  TArticleLock lock(article_);
  if (!article_.Read(offset)) return;
  article_.Include(flag);
  article_.Write();
}

TArticleOffset TAccessorMapArticles::FirstPart(TArticleOffset offset) {
  TArticleLock lock(article_);
  if (!article_.Read(offset) || !article_.FirstPart()) return 0;
  return article_.Offset();
}

std::string TAccessorMapArticles::DownloadDir(TArticleOffset offset) {
  TArticleLock lock(article_);
  return article_.Read(offset) ? article_.GetDownloadDir() : std::string();
}

void TAccessorMapArticles::SetDownloadDir(TArticleOffset offset, const std::string& dir) {
  TArticleLock lock(article_);
  if (!article_.Read(offset)) return;
  article_.SetDownloadDir(dir);
  article_.Write();
}

std::string TAccessorMapArticles::FileName(TArticleOffset offset) {
  TArticleLock lock(article_);
  return article_.Read(offset) ? article_.GetFileName() : std::string();
}

}  // namespace zev
