#pragma once
// The engine's process-wide parts, created and destroyed through the start-up sequence's
// hooks so that the Qt program and the command-line program run the same engine: the news
// store and article accessor, the server and group trees, the server-group lists, header
// retrieval, the queue, the kill and want filters, the part check, the expiry list, the
// extension list and the newsgroup list. Each part is published through its global
// pointer while it exists.
//
// The front ends add what only they have (the main window, the connections and the
// connection manager) and must end every connection before the shutdown hooks run.
// Everything here runs on the thread that runs the start-up sequence.
#include <memory>
#include <string>

#include "core/Startup.h"

namespace zev {

class TAccessorMapArticles;
class TAccessorQueueArticles;
class TArtList;
class TArticle;
class TDecoder;
class TExistList;
class TExpirer;
class TExtList;
class TGroupList;
class TGroupListFeed;
class TGroupTree;
class TKillWant;
class TNewsStore;
class TPartCheck;
class TQueue;
class TQueueServerGroupLists;
class TSGLst;
class TServerTree;

class TEngineParts {
 public:
  TEngineParts();
  // Destroys whatever the shutdown hooks did not.
  ~TEngineParts();
  TEngineParts(const TEngineParts&) = delete;
  TEngineParts& operator=(const TEngineParts&) = delete;

  // Fills the engine's creation and destruction hooks (and the database-scan and refresh
  // hooks that only need the engine).
  void AddHooks(FStartupHooks& hooks);

  // The steps the hooks run, in start-up order; tests call them directly.
  void CreateNewsStore(const std::string& dataDir);
  void CreateGroupList();
  void OpenNewsStore(bool warnings, bool dump);
  void CreateHeaderRetrieval();  // with the extension list, the trees and the server-group lists
  void CreateQueue();
  void CreateKillWant();
  void CreateExistingFiles();  // the list the decoder enters completed files in
  void CreateArticleAccessor();
  void CreateDecoder();
  void CreatePartCheck();
  void CreateExpirer(const std::string& fileName);
  void BuildServerGroups();
  void QueueDueRefreshes();
  // Shutdown, in order.
  void DestroyExpirer();
  void DestroyPartCheck();
  void DestroyDecoder();
  void DestroyExistingFiles();
  void DestroyArticleAccessor();
  void CloseNewsStore();
  void DestroyKillWant();
  void DestroyServerGroupLists();
  void DestroyQueue();
  void DestroyHeaderRetrieval();
  void DestroyGroupList();
  void DestroyNewsStore();
  void DestroyAll();

  TNewsStore* Store() const { return store_.get(); }
  TServerTree* Servers() const { return servers_.get(); }
  TGroupTree* Groups() const { return groups_.get(); }
  TQueue* Queue() const { return queue_.get(); }
  TArtList* ArtList() const { return artList_.get(); }
  TArticle* Article() const { return article_.get(); }
  TDecoder* Decoder() const { return decoder_.get(); }
  TExistList* ExistList() const { return existList_.get(); }
  TPartCheck* PartCheck() const { return partCheck_.get(); }
  TKillWant* KillWant() const { return killWant_.get(); }
  TSGLst* ServerGroups() const { return serverGroups_.get(); }
  TGroupList* GroupList() const { return groupList_.get(); }
  const std::string& DataDir() const { return dataDir_; }

 private:
  std::string dataDir_;
  std::unique_ptr<TNewsStore> store_;
  std::unique_ptr<TGroupList> groupList_;
  std::unique_ptr<TGroupListFeed> groupListFeed_;
  std::unique_ptr<TExtList> extensions_;
  std::unique_ptr<TServerTree> servers_;
  std::unique_ptr<TGroupTree> groups_;
  std::unique_ptr<TSGLst> serverGroups_, queueIndex_;
  std::unique_ptr<TArtList> artList_;
  std::unique_ptr<TAccessorQueueArticles> queueArticles_;
  std::unique_ptr<TQueueServerGroupLists> queueServerGroups_;
  std::unique_ptr<TQueue> queue_;
  std::unique_ptr<TKillWant> killWant_;
  std::unique_ptr<TArticle> article_;
  std::unique_ptr<TAccessorMapArticles> mapArticles_;
  std::unique_ptr<TExistList> existList_;
  std::unique_ptr<TDecoder> decoder_;
  std::unique_ptr<TPartCheck> partCheck_;
  std::unique_ptr<TExpirer> expirer_;
};

}  // namespace zev
