#include "nntp/EngineParts.h"

#include "core/Config.h"
#include "db/AccessorMapArticles.h"
#include "db/Article.h"
#include "db/Expirer.h"
#include "db/GroupList.h"
#include "db/GroupTree.h"
#include "db/MapArticles.h"
#include "db/NewsgroupCatalog.h"
#include "db/NwsStore.h"
#include "db/PartCheckHook.h"
#include "db/SGLst.h"
#include "db/ServerTree.h"
#include "download/BodyDecoder.h"
#include "download/Decoder.h"
#include "download/ExistList.h"
#include "download/PartCheck.h"
#include "download/Queue.h"
#include "download/QueueServerGroupLists.h"
#include "download/QueueSettings.h"
#include "filters/ExtList.h"
#include "filters/KillWant.h"
#include "nntp/AccessorQueueArticles.h"
#include "nntp/ArtList.h"
#include "nntp/GroupListFeed.h"
#include "platform/Paths.h"

namespace zev {

TEngineParts::TEngineParts() = default;

TEngineParts::~TEngineParts() { DestroyAll(); }

void TEngineParts::AddHooks(FStartupHooks& h) {
  h.createNewsStore = [this](const std::string& dir) { CreateNewsStore(dir); };
  h.deleteListFiles = [this] {
    if (store_) store_->DeleteListFiles();
  };
  h.autoSizeCaches = [this] {
    if (store_ && gConfig) store_->AutoSizeCaches(*gConfig);
  };
  h.createGroupList = [this] { CreateGroupList(); };
  h.openNewsStore = [this](bool warnings, bool dump) { OpenNewsStore(warnings, dump); };
  h.createHeaderRetrieval = [this] { CreateHeaderRetrieval(); };
  h.createQueue = [this] { CreateQueue(); };
  h.createKillWant = [this] { CreateKillWant(); };
  h.createExistingFiles = [this] { CreateExistingFiles(); };
  h.createArticleAccessor = [this] { CreateArticleAccessor(); };
  h.createDecoder = [this] { CreateDecoder(); };
  h.createPartCheck = [this] { CreatePartCheck(); };
  h.createExpirer = [this](const std::string& file) { CreateExpirer(file); };
  h.buildServerGroups = [this] { BuildServerGroups(); };
  h.deleteLogFiles = [this] {
    if (store_) store_->DeleteLogFiles();
  };
  h.deleteServerTreeZevFiles = [this] {
    if (servers_) TArtList::DeleteOffsetMapFiles(*servers_);
  };
  h.queueDueRefreshes = [this] { QueueDueRefreshes(); };
  h.destroyExpirer = [this] { DestroyExpirer(); };
  h.destroyExistingFiles = [this] { DestroyExistingFiles(); };
  h.destroyPartCheck = [this] { DestroyPartCheck(); };
  h.destroyDecoder = [this] { DestroyDecoder(); };
  h.destroyArticleAccessor = [this] { DestroyArticleAccessor(); };
  h.closeNewsStore = [this] { CloseNewsStore(); };
  h.destroyKillWant = [this] { DestroyKillWant(); };
  h.destroyServerGroupLists = [this] { DestroyServerGroupLists(); };
  h.destroyQueue = [this] { DestroyQueue(); };
  h.destroyHeaderRetrieval = [this] { DestroyHeaderRetrieval(); };
  h.destroyGroupList = [this] { DestroyGroupList(); };
  h.destroyNewsStore = [this] { DestroyNewsStore(); };
}

void TEngineParts::CreateNewsStore(const std::string& dataDir) {
  dataDir_ = dataDir;
  store_ = std::make_unique<TNewsStore>();
  store_->SetPath(dataDir);
  gNewsStore = store_.get();
}

void TEngineParts::CreateGroupList() {
  groupList_ = std::make_unique<TGroupList>(dataDir_, gConfig ? gConfig->GrpCacheSize : 524288);
  gGroupList = groupList_.get();
  gNewsgroupCatalog = groupList_.get();
  groupListFeed_ = std::make_unique<TGroupListFeed>(*groupList_);
  gNewsgroupFeed = groupListFeed_.get();
}

void TEngineParts::OpenNewsStore(bool warnings, bool dump) {
  store_->SetOptions(static_cast<uint8_t>((warnings ? boWarnings : 0) | (dump ? boDump : 0)));
  store_->SetActive(true);
}

// The trees come before the queue, which walks the server tree, and before the window,
// which shows them.
void TEngineParts::CreateHeaderRetrieval() {
  extensions_ = std::make_unique<TExtList>(TExtList::CreateFromPlatform());
  gExtList = extensions_.get();
  TZevIniFile& ini = gConfig->Ini();
  servers_ = std::make_unique<TServerTree>(ini);
  groups_ = std::make_unique<TGroupTree>(ini);
  servers_->LoadServers();
  groups_->LoadGroups();
  gServers = servers_.get();
  gGroups = groups_.get();
  serverGroups_ = std::make_unique<TSGLst>();
  queueIndex_ = std::make_unique<TSGLst>();
  gServerGroups = serverGroups_.get();
  gQueueIndex = queueIndex_.get();
  FArtListParts parts;
  parts.store = store_.get();
  parts.serverGroups = serverGroups_.get();
  parts.queueIndex = queueIndex_.get();
  parts.extensions = extensions_.get();
  artList_ = std::make_unique<TArtList>(parts);
  gArtList = artList_.get();
}

void TEngineParts::CreateQueue() {
  queueArticles_ = std::make_unique<TAccessorQueueArticles>();
  queueServerGroups_ = std::make_unique<TQueueServerGroupLists>(*serverGroups_, *queueIndex_);
  queue_ = std::make_unique<TQueue>(*queueArticles_, *queueServerGroups_, *servers_);
  if (gConfig) queue_->ApplySettings(QueueSettingsFrom(*gConfig));
  queue_->SetResponseTarget(artList_.get());
  queue_->SetHeaderObserver(artList_.get());
  artList_->Parts().queue = queue_.get();
  gQueue = queue_.get();
  gCommandSource = queue_.get();
}

void TEngineParts::CreateKillWant() {
  killWant_ = std::make_unique<TKillWant>(dataDir_);
  killWant_->Load();
  gKillWant = killWant_.get();
  artList_->Parts().filters = killWant_.get();
}

void TEngineParts::CreateArticleAccessor() {
  article_ = std::make_unique<TArticle>(*store_);
  gArticle = article_.get();
  mapArticles_ = std::make_unique<TAccessorMapArticles>(*article_, *store_);
  gMapArticles = mapArticles_.get();
  artList_->Parts().article = article_.get();
}

// Start-up creates the list after the decoder, which enters every completed file in it.
void TEngineParts::CreateExistingFiles() {
  existList_ = std::make_unique<TExistList>(platform::WithSlash(dataDir_) + "ExistLst.zev", nullptr);
  gExistList = existList_.get();
  if (decoder_) decoder_->SetExistList(existList_.get());
}

void TEngineParts::CreateDecoder() {
  decoder_ = std::make_unique<TDecoder>(*article_);
  decoder_->SetExistList(existList_.get());
  gBodyDecoder = decoder_.get();
  artList_->Parts().decoder = decoder_.get();
}

void TEngineParts::CreatePartCheck() {
  partCheck_ = std::make_unique<TPartCheck>(*store_, *article_);
  gPartCheck = partCheck_.get();
  gPartCheckHook = partCheck_.get();
  artList_->Parts().partCheck = partCheck_.get();
}

void TEngineParts::CreateExpirer(const std::string& fileName) {
  expirer_ = std::make_unique<TExpirer>(fileName);
  gExpirer = expirer_.get();
}

void TEngineParts::BuildServerGroups() {
  if (serverGroups_ && servers_ && groups_) serverGroups_->BuildAll(*servers_, *groups_);
}

void TEngineParts::QueueDueRefreshes() {
  if (!queue_ || !groups_) return;
  for (const auto& root : groups_->Roots()) queue_->ScheduleRefresh(*root, true, rmPlain);
}

void TEngineParts::DestroyExpirer() {
  gExpirer = nullptr;
  expirer_.reset();
}

void TEngineParts::DestroyPartCheck() {
  if (artList_) artList_->Parts().partCheck = nullptr;
  gPartCheckHook = nullptr;
  gPartCheck = nullptr;
  partCheck_.reset();
}

void TEngineParts::DestroyDecoder() {
  if (artList_) artList_->Parts().decoder = nullptr;
  gBodyDecoder = nullptr;
  decoder_.reset();
}

void TEngineParts::DestroyExistingFiles() {
  if (decoder_) decoder_->SetExistList(nullptr);
  gExistList = nullptr;
  existList_.reset();
}

void TEngineParts::DestroyArticleAccessor() {
  if (artList_) artList_->Parts().article = nullptr;
  gMapArticles = nullptr;
  mapArticles_.reset();
  gArticle = nullptr;
  article_.reset();
}

void TEngineParts::CloseNewsStore() {
  if (store_) store_->SetActive(false);
}

void TEngineParts::DestroyKillWant() {
  if (artList_) artList_->Parts().filters = nullptr;
  gKillWant = nullptr;
  killWant_.reset();
}

void TEngineParts::DestroyServerGroupLists() {
  // Refreshes cut short by the end of the program let go of their maps (saving them).
  if (artList_) artList_->EndAllRefreshes();
  gQueueIndex = nullptr;
  gServerGroups = nullptr;
  queueIndex_.reset();
  serverGroups_.reset();
}

void TEngineParts::DestroyQueue() {
  if (artList_) artList_->Parts().queue = nullptr;
  if (gCommandSource == queue_.get()) gCommandSource = nullptr;
  gQueue = nullptr;
  queue_.reset();
  queueServerGroups_.reset();
  queueArticles_.reset();
}

void TEngineParts::DestroyHeaderRetrieval() {
  gArtList = nullptr;
  artList_.reset();
  gServers = nullptr;
  gGroups = nullptr;
  servers_.reset();
  groups_.reset();
  gExtList = nullptr;
  extensions_.reset();
}

void TEngineParts::DestroyGroupList() {
  if (gNewsgroupFeed == groupListFeed_.get()) gNewsgroupFeed = nullptr;
  groupListFeed_.reset();
  if (gNewsgroupCatalog == groupList_.get()) gNewsgroupCatalog = nullptr;
  gGroupList = nullptr;
  groupList_.reset();
}

void TEngineParts::DestroyNewsStore() {
  gNewsStore = nullptr;
  store_.reset();
}

void TEngineParts::DestroyAll() {
  DestroyExpirer();
  DestroyPartCheck();
  DestroyExistingFiles();
  DestroyDecoder();
  DestroyArticleAccessor();
  CloseNewsStore();
  DestroyKillWant();
  DestroyServerGroupLists();
  DestroyQueue();
  DestroyHeaderRetrieval();
  DestroyGroupList();
  DestroyNewsStore();
}

}  // namespace zev
