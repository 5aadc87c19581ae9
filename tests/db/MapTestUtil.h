#pragma once
// A small world for the server-group tests: a data directory, a configuration pointing at
// it, one or more news servers, a newsgroup, and an article store model that counts the
// references the maps drop.
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "ModelTestUtil.h"
#include "core/Config.h"
#include "core/ZevIniFile.h"
#include "db/BodyQueue.h"
#include "db/ExistingFileCheck.h"
#include "db/Group.h"
#include "db/MapArticles.h"
#include "db/NewsgroupCatalog.h"
#include "db/SGLst.h"
#include "db/Server.h"

namespace zev::test {

class TArticleModel : public TMapArticles {
 public:
  // Adds an article with `refs` map references.
  FMsgData& Add(TArticleOffset offset, uint32_t refs = 1) {
    FMsgData& r = records[offset];
    r = FMsgData{};
    r.FRefCount = refs;
    return r;
  }
  bool Expire(TArticleOffset offset) override {
    std::lock_guard lock(articleLock);
    released.push_back(offset);
    auto it = records.find(offset);
    if (it == records.end() || it->second.FRefCount == 0) return false;
    return --it->second.FRefCount == 0;
  }
  void Flush() override { ++flushes; }
  bool Read(TArticleOffset offset, FMsgData& record) override {
    std::lock_guard lock(articleLock);
    auto it = records.find(offset);
    if (it == records.end()) return false;
    record = it->second;
    return true;
  }
  void IncludeFlag(TArticleOffset offset, TArticleFlag flag) override {
    std::lock_guard lock(articleLock);
    SetFlag(records[offset], flag);
  }
  TArticleOffset FirstPart(TArticleOffset offset) override {
    std::lock_guard lock(articleLock);
    while (records.count(offset) && records[offset].FPrevPart != 0) offset = records[offset].FPrevPart;
    return records.count(offset) ? offset : 0;
  }
  std::string DownloadDir(TArticleOffset offset) override {
    std::lock_guard lock(articleLock);
    return dirs[offset];
  }
  void SetDownloadDir(TArticleOffset offset, const std::string& dir) override {
    std::lock_guard lock(articleLock);
    dirs[offset] = dir;
  }
  std::string FileName(TArticleOffset offset) override { return "file" + std::to_string(offset) + ".rar"; }

  std::recursive_mutex articleLock;  // stands for the article accessor's lock
  std::map<TArticleOffset, FMsgData> records;
  std::map<TArticleOffset, std::string> dirs;
  std::vector<TArticleOffset> released;
  int flushes = 0;
};

class TCatalogModel : public TNewsgroupCatalog {
 public:
  uint32_t ArticleCountByName(const TServer& server, std::string_view group) override {
    return carried.count({&server, std::string(group)}) ? 100 : 0;
  }
  void MarkNotCarried(const TServer& server, std::string_view group) override {
    carried.erase({&server, std::string(group)});
  }
  void SubscriptionsChanged() override {}
  std::set<std::pair<const TServer*, std::string>> carried;
};

class TQueueModel : public TBodyQueue {
 public:
  struct FItem {
    TArticleOffset offset;
    int score;
  };
  void PutBodyCommand(TGroup&, uint32_t, int score, TArticleOffset offset) override { items.push_back({offset, score}); }
  std::vector<FItem> items;
};

// Installs the configuration, the article model and both server-group lists for a test.
class TMapWorld {
 public:
  TMapWorld() : dir(ScratchDir()), log(dir), ini(""), config(ini, dir) {
    old_ = {gConfig, gMapArticles, gServerGroups, gQueueIndex, gNewsgroupCatalog};
    gConfig = &config;
    gMapArticles = &articles;
    gServerGroups = &serverGroups;
    gQueueIndex = &queueIndex;
    gNewsgroupCatalog = &catalog;
  }
  ~TMapWorld() {
    gConfig = old_.config;
    gMapArticles = old_.articles;
    gServerGroups = old_.serverGroups;
    gQueueIndex = old_.queueIndex;
    gNewsgroupCatalog = old_.catalog;
  }
  TServer& AddServer(const std::string& host, uint16_t port = 119) {
    servers.push_back(std::make_unique<TServer>(snNewsServer, host, nullptr));
    servers.back()->SetHost(host);
    servers.back()->Port = port;
    return *servers.back();
  }

  std::string dir;
  TCapturedLog log;
  TZevIniFile ini;
  TConfig config;
  TArticleModel articles;
  TCatalogModel catalog;
  TSGLst serverGroups, queueIndex;
  TQueueModel queue;
  std::vector<std::unique_ptr<TServer>> servers;

 private:
  struct {
    TConfig* config;
    TMapArticles* articles;
    TSGLst* serverGroups;
    TSGLst* queueIndex;
    TNewsgroupCatalog* catalog;
  } old_;
};

}  // namespace zev::test
