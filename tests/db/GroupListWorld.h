#pragma once
// A small world for the newsgroup-list tests: a data directory with a configuration
// pointing at it, server and group trees, the server-group list and the group list, all
// installed as the program's globals for the life of the object.
#include <memory>
#include <string>

#include "ModelTestUtil.h"
#include "core/Config.h"
#include "core/ZevIniFile.h"
#include "db/GroupCountFile.h"
#include "db/GroupList.h"
#include "db/GroupTree.h"
#include "db/NewsgroupCatalog.h"
#include "db/SGLst.h"
#include "db/ServerTree.h"

namespace zev::test {

class TListWorld {
 public:
  TListWorld() : dir(ScratchDir()), log(dir), ini(""), config(ini, dir), servers(ini), groups(ini, "/dl") {
    old_ = {gConfig, gServerGroups, gGroups, gServers, gNewsgroupCatalog, gGroupList};
    gConfig = &config;
    gServerGroups = &serverGroups;
    gGroups = &groups;
    gServers = &servers;
    servers.LoadServers();
    groups.LoadGroups();
    Open();
  }
  ~TListWorld() {
    Close();
    gConfig = old_.config;
    gServerGroups = old_.serverGroups;
    gGroups = old_.groups;
    gServers = old_.servers;
    gNewsgroupCatalog = old_.catalog;
    gGroupList = old_.list;
  }

  // Closing and opening again is what a restart of the program does to the list.
  void Open() {
    list = std::make_unique<TGroupList>(dir, 1 << 20);
    gNewsgroupCatalog = list.get();
    gGroupList = list.get();
  }
  void Close() {
    gNewsgroupCatalog = nullptr;
    list.reset();
  }

  TServer& AddServer(const std::string& host, uint16_t port = 119) {
    TServer* s = servers.CreateServerNode(host, snNewsServer, servers.Roots()[0].get());
    s->SetHost(host);
    s->Port = port;
    return *s;
  }
  TGroup& Subscribe(const std::string& name) {
    TGroup* g = groups.CreateGroupNode(gnNewsgroup, name, groups.Roots()[0].get());
    list->SubscriptionsChanged();
    return *g;
  }
  // Hands `text` to the list as one complete response.
  void List(TServer& server, const std::string& text) { list->HandleListResponse(server, text, true); }
  uint32_t Count(TServer& server, const std::string& name) { return list->ArticleCountByName(server, name); }
  uint32_t Carriers(const std::string& name) {
    FGroupHeader header;
    return list->FindGroup(name, header) ? header.CarrierCount : 0;
  }
  std::string CountFilePath(TServer& server) { return TGroupCountFile::Of(server).Path(); }

  std::string dir;
  TCapturedLog log;
  TZevIniFile ini;
  TConfig config;
  TServerTree servers;
  TGroupTree groups;
  TSGLst serverGroups;
  std::unique_ptr<TGroupList> list;

 private:
  struct {
    TConfig* config;
    TSGLst* serverGroups;
    TGroupTree* groups;
    TServerTree* servers;
    TNewsgroupCatalog* catalog;
    TGroupList* list;
  } old_;
};

}  // namespace zev::test
