#include "core/Startup.h"

#include <signal.h>

#include <ctime>
#include <filesystem>

#include "core/Config.h"
#include "core/Error.h"
#include "core/Intl.h"
#include "core/Log.h"
#include "core/TerminationSignal.h"
#include "core/UiHost.h"
#include "core/ZevIniFile.h"

namespace zev {

FStartupState gStartup;
std::atomic<bool> gDebugSwitch{false};

int SpinIntervalMs() { return gStartup.switches.test2 ? 0 : 5; }

namespace {

constexpr int kMessageLingerMs = 3000;

// A failure while opening the database ends the program without saving anything.
class EDatabaseFailure : public EZevError {
 public:
  EDatabaseFailure() : EZevError("Unable to open database!") {}
};

template <typename... Args>
void CallGuarded(const std::function<void(Args...)>& hook, Args... args) {
  if (!hook) return;
  try {
    hook(args...);
  } catch (const std::exception& e) {
    LogException(e, "TStartup.OpenDatabase");
    throw EDatabaseFailure();
  }
}

}  // namespace

TStartup::TStartup(TUiHost& host, FStartupHooks hooks, FPathEnvironment env)
    : host_(host), hooks_(std::move(hooks)), env_(std::move(env)) {}

TStartup::~TStartup() {
  if (gConfig == config_.get()) gConfig = nullptr;
}

void TStartup::Call(const std::function<void()>& hook) {
  if (hook) hook();
}

int TStartup::Run(const std::vector<std::string>& args) {
  InstallUnhandledExceptionHandler();
  TTerminationSignal::Install();
  gStartup = FStartupState{};
  gStartup.switches = ParseCommandLine(args);
  gStartup.programDir = env_.programDir;
  gDebugSwitch = gStartup.switches.debug;
  Call(hooks_.registerPictureFormats);
  host_.ShowStatus(Tr("Starting..."));
  if (!OpenSettings()) {
    Shutdown();
    return 1;
  }
  try {
    DecideAndCleanRebuilds();
    OpenDatabase();
  } catch (const EDatabaseFailure&) {
    AbandonAfterDatabaseFailure();
    return 1;
  } catch (const std::exception& e) {
    LogException(e, "TStartup.Run");
    host_.ShowStatus(e.what());
    host_.Linger(kMessageLingerMs);
    Shutdown();
    return 1;
  }
  RunGuardedMain();
  Shutdown();
  return exitCode_;
}

bool TStartup::OpenSettings() {
  try {
    gStartup.iniPath = ResolveIniPath(gStartup.switches, env_, &host_);
    ini_ = std::make_unique<TZevIniFile>(gStartup.iniPath);
    host_.ShowStatus(Tr("Loading configuration..."));
    config_ = std::make_unique<TConfig>(*ini_, DefaultDataDir(gStartup.iniPath, env_), &host_);
    gConfig = config_.get();
    config_->Load();
    if (hooks_.applyStyle) hooks_.applyStyle(config_->DefaultStyle);
    std::filesystem::create_directories(config_->DataStore);
    if (hooks_.createNewsStore) hooks_.createNewsStore(config_->DataStore);
    if (gStartup.switches.dump) SetDumpLogPath(ResolveLogPath(gStartup.switches.dumpArg, config_->DataStore, "dump.log"));
    SetErrorLogPath(ResolveLogPath(gStartup.switches.errorArg, config_->DataStore, "error.log"));
    if (gStartup.switches.scan) config_->SetDbScanDate(true);
    // A peer closing a connection must surface as an error on that connection, not end
    // the process.
    signal(SIGPIPE, SIG_IGN);
    return true;
  } catch (const std::exception& e) {
    host_.ShowStatus(e.what());
    host_.Linger(kMessageLingerMs);
    exitCode_ = 1;
    return false;
  }
}

void TStartup::DecideAndCleanRebuilds() {
  const std::string& dataDir = config_->DataStore;
  gStartup.rebuild = DecideRebuilds(dataDir, config_->AutoExpire, std::time(nullptr));
  if (gStartup.rebuild.articles) {
    Call(hooks_.deleteListFiles);
    ResetGroupCounters(*ini_);
    config_->UpdateFileWithRetry();
  }
  if (RemoveStaleServerFiles(*ini_, dataDir, gStartup.rebuild)) config_->UpdateFileWithRetry();
  Call(hooks_.autoSizeCaches);
}

void TStartup::OpenDatabase() {
  CallGuarded(hooks_.createGroupList);
  Call(hooks_.createHeaderRetrieval);
  Call(hooks_.createQueue);
  Call(hooks_.createWindowLists);
  Call(hooks_.createServerGroupLists);
  Call(hooks_.createExeMatcher);
  Call(hooks_.loadViewFilters);
  Call(hooks_.createKillWant);
  host_.ShowStatus(Tr("Opening article database..."));
  TWarningsLevel level = config_->WarningsLevel();
  bool warnings = level != TWarningsLevel::None;
  bool dump = !gStartup.switches.debug && level != TWarningsLevel::Verbose;
  CallGuarded(hooks_.openNewsStore, warnings, dump);
  Call(hooks_.createArticleAccessor);
  Call(hooks_.createDecoder);
  Call(hooks_.createPartCheck);
  CallGuarded(hooks_.createExistingFiles);
  host_.ShowStatus(Tr("Initializing user interface..."));
  Call(hooks_.createDirScanner);
  Call(hooks_.createMainWindow);
}

void TStartup::AbandonAfterDatabaseFailure() {
  host_.ShowStatus(Tr("Unable to open database!"));
  host_.Linger(kMessageLingerMs);
  // The configuration is discarded unsaved and the settings file is not written.
  gConfig = nullptr;
  config_.reset();
  ini_.reset();
}

void TStartup::RunGuardedMain() {
  try {
    StartEventLoop();
  } catch (const std::exception& e) {
    std::vector<void*> frames;
    if (auto* z = dynamic_cast<const EZevError*>(&e)) frames = z->Frames();
    else frames = CaptureFrames(1);
    std::string text = "Exception " + std::string(e.what()) + " in Main!\r\nTerminating Program!\r\n";
    text += StackTraceText(frames.data(), frames.size());
    LogError(text, 0);
    exitCode_ = 1;
  }
  Call(hooks_.destroyExpirer);
}

void TStartup::StartEventLoop() {
  Call(hooks_.togglePause);
  if (config_->Has(cfFlatToolbars)) Call(hooks_.flatToolbars);
  if (hooks_.createExpirer) hooks_.createExpirer(config_->DataStore + "Expired.zev");
  host_.ShowStatus(Tr("Scanning database..."));
  Call(hooks_.buildServerGroups);
  if (gStartup.switches.debug) {
    Call(hooks_.deleteLogFiles);
    config_->SetDbScanDate(true);
    gStartup.switches.quick = false;
  }
  RestoreQueue();
  gStartup.switches.debug = false;
  gDebugSwitch = false;
  host_.ShowStatus(Tr("Determining newsgroups needing a refresh..."));
  Call(hooks_.queueDueRefreshes);
  host_.CloseSplash();
  if (!gStartup.switches.pause) Call(hooks_.togglePause);
  if (!config_->Has(cfStartInTray)) Call(hooks_.showMainWindow);
  if (gStartup.switches.autoClose) Call(hooks_.closeWhenFinished);
  if (!TTerminationSignal::Requested()) exitCode_ = host_.RunEventLoop();
}

void TStartup::RestoreQueue() {
  std::string queueFile = config_->DataStore + "queue.xml";
  gStartup.queueFilePresent = std::filesystem::exists(queueFile);
  auto loadIfPresent = [&] {
    if (gStartup.queueFilePresent && hooks_.loadQueue) hooks_.loadQueue(queueFile);
  };
  if (gStartup.rebuild.articles) {
    Call(hooks_.deleteServerTreeZevFiles);
  } else if (gStartup.switches.quick) {
    loadIfPresent();
  } else if (config_->DbScanDue()) {
    if (hooks_.runExpiry) hooks_.runExpiry(gStartup.queueFilePresent);
    config_->SetDbScanDate(false);
    loadIfPresent();
  } else if (gStartup.queueFilePresent) {
    loadIfPresent();
  } else {
    Call(hooks_.rebuildQueueFromMarked);
  }
}

void TStartup::Shutdown() {
  Call(hooks_.destroyDirScanner);
  Call(hooks_.destroyExistingFiles);
  Call(hooks_.destroyPartCheck);
  Call(hooks_.destroyDecoder);
  Call(hooks_.destroyArticleAccessor);
  Call(hooks_.closeNewsStore);
  Call(hooks_.destroyKillWant);
  Call(hooks_.destroyViewFilters);
  Call(hooks_.destroyExeMatcher);
  Call(hooks_.destroyServerGroupLists);
  Call(hooks_.destroyWindowLists);
  Call(hooks_.destroyQueue);
  Call(hooks_.destroyHeaderRetrieval);
  Call(hooks_.destroyGroupList);
  Call(hooks_.destroyNewsStore);
  if (config_) config_->Save();
  gConfig = nullptr;
  config_.reset();
  ini_.reset();
}

}  // namespace zev
