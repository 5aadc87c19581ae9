#pragma once
// What the server and group model needs of the newsgroup list (the list of groups each
// server offers, with article counts). The newsgroup list implements this interface and
// start-up points gNewsgroupCatalog at it; until then the model works without one: no
// server is known to carry any group.
#include <cstdint>
#include <string_view>

namespace zev {

class TServer;

class TNewsgroupCatalog {
 public:
  virtual ~TNewsgroupCatalog() = default;
  // The server's estimated article count of the group; 0 when it does not carry it.
  virtual uint32_t ArticleCountByName(const TServer& server, std::string_view group) = 0;
  // The server no longer carries the group (it answered "411 no such group").
  virtual void MarkNotCarried(const TServer& server, std::string_view group) = 0;
  // The set of subscribed newsgroups changed: the list's subscription marks are stale.
  virtual void SubscriptionsChanged() = 0;
  // A "group" reply showed that the server carries the group with about `count` articles.
  virtual void SetArticleCount(const TServer& /*server*/, std::string_view /*group*/, uint32_t /*count*/) {}
};

extern TNewsgroupCatalog* gNewsgroupCatalog;

}  // namespace zev
