#include "nntp/AccessorQueueArticles.h"

#include "db/Article.h"
#include "download/QueueItem.h"

namespace zev {

bool TAccessorQueueArticles::Read(TArticleOffset offset, FQueueArticle& out, unsigned texts) {
  // The accessor comes and goes with the database; the queue outlives neither.
  TArticle* article = gArticle;
  if (!article || offset <= kLastInvalidOffset) return false;
  TArticleLock lock(*article);
  if (!article->Read(offset)) return false;
  const FMsgData& r = article->Data();
  out.Size = article->EncodedSize();
  out.Date = r.FDate;
  out.Flags = r.FFlags;
  out.Score = r.FScore;
  out.PrevPart = r.FPrevPart;
  out.NextPart = r.FNextPart;
  if (texts & atMessageId) out.MessageId = article->GetMessageId();
  if (texts & atDownloadDir) out.DownloadDir = article->GetDownloadDir();
  if (texts & atSubject) out.Subject = article->GetSubject();
  if (texts & atSubjectDir) {
    out.SubjectDir = article->SubjectDirectory();
    while (!out.SubjectDir.empty() && out.SubjectDir.back() == '/') out.SubjectDir.pop_back();
  }
  return true;
}

void TAccessorQueueArticles::Unmark(TArticleOffset offset) {
  TArticle* article = gArticle;
  if (!article || offset <= kLastInvalidOffset) return;
  TArticleLock lock(*article);
  if (!article->Read(offset)) return;
  article->Exclude(afMarked);
  article->Write();
}

}  // namespace zev
