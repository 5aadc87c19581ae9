#pragma once
// The queue's ports for the window tests: no articles, and a table saying which server
// carries which group.
#include <map>
#include <utility>

#include "download/Queue.h"

namespace zev::test {

class TNoArticles : public TQueueArticles {
 public:
  bool Read(TArticleOffset, FQueueArticle&, unsigned) override { return false; }
  void Unmark(TArticleOffset) override {}
};

class TCarriedGroups : public TQueueServerGroups {
 public:
  void Carry(TServer& server, TGroup& group) { idle_[{&server, &group}] = true; }

  void Sources(TArticleOffset, std::vector<FArticleSource>&) override {}
  void ForgetArtNo(TServer&, TGroup*, TArticleOffset) override {}
  bool HasRecord(TServer& server, TGroup& group) override { return idle_.count({&server, &group}) != 0; }
  void SetRefreshKind(TServer&, TGroup&, uint8_t) override {}
  bool RefreshIdle(TServer& server, TGroup& group) override { return idle_[{&server, &group}]; }
  void SetRefreshIdle(TServer& server, TGroup& group, bool idle) override { idle_[{&server, &group}] = idle; }
  void RefreshQueued(TServer& server, TGroup& group) override { idle_[{&server, &group}] = false; }
  TDateTime LastRefresh(TServer&, TGroup&) override { return 0; }

 private:
  std::map<std::pair<TServer*, TGroup*>, bool> idle_;
};

// The program's queue for the life of the object.
class TQueueInPlace {
 public:
  explicit TQueueInPlace(TServerTree& servers) : queue(articles, carried, servers) {
    gQueue = &queue;
    gCommandSource = &queue;
  }
  ~TQueueInPlace() {
    gCommandSource = nullptr;
    gQueue = nullptr;
  }
  TNoArticles articles;
  TCarriedGroups carried;
  TQueue queue;
};

}  // namespace zev::test
