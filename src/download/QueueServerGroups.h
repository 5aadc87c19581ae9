#pragma once
// What the queue needs of the server-group lists: which server holds a queued article
// under which number (the queue index), and the refresh bookkeeping of each pair of server
// and group. Start-up wires it to the server-group lists; tests and benchmarks give the
// queue a table of their own.
//
// Called with the queue's list lock held; an implementation takes its own read lock inside.
#include <cstdint>
#include <vector>

#include "core/DateTime.h"
#include "db/MsgData.h"

namespace zev {

class TGroup;
class TServer;

// One server-group that holds an article.
struct FArticleSource {
  TServer* server = nullptr;
  TGroup* group = nullptr;
  uint32_t artNo = 0;  // 1: no number known, fetch by Message-ID
};

class TQueueServerGroups {
 public:
  virtual ~TQueueServerGroups() = default;

  // Every server-group whose queue index has a number for the article, in list order.
  virtual void Sources(TArticleOffset offset, std::vector<FArticleSource>& out) = 0;
  // The server forgets its number for the article, in `group` or, without one, in every
  // group (it does not have it, or its copy could not be decoded).
  virtual void ForgetArtNo(TServer& server, TGroup* group, TArticleOffset offset) = 0;

  // Whether the server carries the group (a server-group record exists).
  virtual bool HasRecord(TServer& server, TGroup& group) = 0;
  // The refresh mode of a manual refresh, for the header planning that follows the GROUP reply.
  virtual void SetRefreshKind(TServer& server, TGroup& group, uint8_t kind) = 0;
  // No header refresh of the pair is queued or running.
  virtual bool RefreshIdle(TServer& server, TGroup& group) = 0;
  virtual void SetRefreshIdle(TServer& server, TGroup& group, bool idle) = 0;
  // A refresh of the pair has been queued: RefreshIdle clears, and the first refresh since
  // start-up also clears FirstRefresh and Validated (so it checks for expired articles).
  virtual void RefreshQueued(TServer& server, TGroup& group) = 0;
  // When the pair was last refreshed (the map file's time when never in this run); 0 unknown.
  virtual TDateTime LastRefresh(TServer& server, TGroup& group) = 0;
};

}  // namespace zev
