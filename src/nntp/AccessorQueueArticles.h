#pragma once
// What the queue reads of the article database (TQueueArticles), on the shared article
// accessor (gArticle): start-up hands one of these to the queue.
#include "download/QueueArticles.h"

namespace zev {

class TAccessorQueueArticles : public TQueueArticles {
 public:
  bool Read(TArticleOffset offset, FQueueArticle& article, unsigned texts = atNone) override;
  void Unmark(TArticleOffset offset) override;
};

}  // namespace zev
