#pragma once
// The program's fixed start-up and shutdown sequences, shared by the Qt program and the
// command-line program. The objects created here belong to other parts of the engine; this
// class fixes only when each is created and destroyed. Each part plugs in through its named
// hook in FStartupHooks; a hook left empty is a part not built yet, and its step is skipped
// in its place while the rest keeps its order.
//
// Everything runs on the thread that calls Run (the UI thread).
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/CommandLine.h"
#include "core/RebuildCheck.h"

namespace zev {

class TConfig;
class TUiHost;
class TZevIniFile;

// Process-wide start-up state, visible to the rest of the program.
struct FStartupState {
  FSwitches switches;
  std::string iniPath;
  std::string programDir;
  FRebuild rebuild;
  bool queueFilePresent = false;
};
extern FStartupState gStartup;
// The "debug" switch while it is live (until the queue has been restored); read by the
// B-tree engine from any thread.
extern std::atomic<bool> gDebugSwitch;
// Pause of the busy-wait locks between attempts: 5 ms, or 0 with the "test2" switch.
int SpinIntervalMs();

// Shutdown hooks are called also for objects whose creation never ran (a start-up that
// failed early), so they must accept that.
struct FStartupHooks {
  // Before the settings file opens.
  std::function<void()> registerPictureFormats;
  // Guarded block: a failure shows its message and goes straight to shutdown.
  std::function<void(int style)> applyStyle;
  std::function<void(const std::string& dataDir)> createNewsStore;  // and give it the data directory
  // Rebuilds and caches.
  std::function<void()> deleteListFiles;
  std::function<void()> autoSizeCaches;
  // "Unable to open database!" when one of these raises.
  std::function<void()> createGroupList;
  std::function<void(bool warnings, bool dump)> openNewsStore;
  std::function<void()> createExistingFiles;
  // The singletons, in creation order.
  std::function<void()> createHeaderRetrieval;
  std::function<void()> createQueue;
  std::function<void()> createWindowLists;
  std::function<void()> createServerGroupLists;
  std::function<void()> createExeMatcher;
  std::function<void()> loadViewFilters;
  std::function<void()> createKillWant;
  std::function<void()> createArticleAccessor;
  std::function<void()> createDecoder;
  std::function<void()> createPartCheck;
  std::function<void()> createDirScanner;
  std::function<void()> createMainWindow;
  // While the event loop exists.
  std::function<void()> togglePause;  // the main window's pause action
  std::function<void()> flatToolbars;
  std::function<void(const std::string& expiredFile)> createExpirer;
  std::function<void()> buildServerGroups;
  std::function<void()> deleteLogFiles;
  std::function<void()> deleteServerTreeZevFiles;
  std::function<void(const std::string& queueFile)> loadQueue;
  std::function<void(bool queueFilePresent)> runExpiry;
  std::function<void()> rebuildQueueFromMarked;  // and group the rebuilt entries into files
  std::function<void()> queueDueRefreshes;
  std::function<void()> showMainWindow;
  std::function<void()> closeWhenFinished;
  // Shutdown, after the event loop, in this order.
  std::function<void()> destroyExpirer;
  std::function<void()> destroyDirScanner;
  std::function<void()> destroyExistingFiles;
  std::function<void()> destroyPartCheck;
  std::function<void()> destroyDecoder;
  std::function<void()> destroyArticleAccessor;
  std::function<void()> closeNewsStore;
  std::function<void()> destroyKillWant;
  std::function<void()> destroyViewFilters;
  std::function<void()> destroyExeMatcher;  // writes its patterns back to the configuration first
  std::function<void()> destroyServerGroupLists;
  std::function<void()> destroyWindowLists;
  std::function<void()> destroyQueue;
  std::function<void()> destroyHeaderRetrieval;
  std::function<void()> destroyGroupList;
  std::function<void()> destroyNewsStore;
};

class TStartup {
 public:
  TStartup(TUiHost& host, FStartupHooks hooks, FPathEnvironment env = CurrentPathEnvironment());
  ~TStartup();

  // Start-up, the host's event loop, and shutdown. Returns the process exit code.
  int Run(const std::vector<std::string>& args);

 private:
  bool OpenSettings();
  void DecideAndCleanRebuilds();
  void OpenDatabase();
  void RunGuardedMain();
  void StartEventLoop();
  void RestoreQueue();
  void Shutdown();
  void AbandonAfterDatabaseFailure();
  static void Call(const std::function<void()>& hook);

  TUiHost& host_;
  FStartupHooks hooks_;
  FPathEnvironment env_;
  std::unique_ptr<TZevIniFile> ini_;
  std::unique_ptr<TConfig> config_;
  int exitCode_ = 0;
};

}  // namespace zev
