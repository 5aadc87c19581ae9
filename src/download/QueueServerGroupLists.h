#pragma once
// The queue's view of the server-group lists as the program runs: the queue index tells
// which server holds a queued article under which number, the server-group list keeps the
// refresh state of each pair. Start-up hands one of these to the queue.
#include "download/QueueServerGroups.h"

namespace zev {

class TSGLst;

class TQueueServerGroupLists : public TQueueServerGroups {
 public:
  TQueueServerGroupLists(TSGLst& serverGroups, TSGLst& queueIndex) : serverGroups_(serverGroups), queueIndex_(queueIndex) {}

  void Sources(TArticleOffset offset, std::vector<FArticleSource>& out) override;
  void ForgetArtNo(TServer& server, TGroup* group, TArticleOffset offset) override;
  bool HasRecord(TServer& server, TGroup& group) override;
  void SetRefreshKind(TServer& server, TGroup& group, uint8_t kind) override;
  bool RefreshIdle(TServer& server, TGroup& group) override;
  void SetRefreshIdle(TServer& server, TGroup& group, bool idle) override;
  void RefreshQueued(TServer& server, TGroup& group) override;
  TDateTime LastRefresh(TServer& server, TGroup& group) override;

 private:
  TSGLst& serverGroups_;
  TSGLst& queueIndex_;
};

}  // namespace zev
