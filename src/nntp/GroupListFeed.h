#pragma once
// The newsgroup list as the connections' start-up sees it: "list" and "newgroups" data
// and the server's clock go to TGroupList, which lives below the connections' contract in
// the library order and therefore does not implement it itself.
#include "db/GroupList.h"
#include "db/Server.h"
#include "download/CommandSource.h"

namespace zev {

class TGroupListFeed : public TNewsgroupFeed {
 public:
  explicit TGroupListFeed(TGroupList& list) : list_(list) {}

  void HandleResponse(TConnectionFace& connection, const FResponseBlock& block) override {
    // A refused "newgroups" (5xx) carries no data; only a 2xx answer holds list lines.
    if (block.code < 200 || block.code >= 300) return;
    list_.HandleListResponse(connection.Server(), block.data, block.type == btLast || block.type == btComplete);
  }
  TDateTime LastUpdate(const TServer& server) override { return list_.LastUpdate(server); }
  void SetLastUpdate(const TServer& server, TDateTime localTime) override { list_.SetLastUpdate(server, localTime); }

 private:
  TGroupList& list_;
};

}  // namespace zev
