#pragma once
// The parts that only the Qt program has: the connections, the change notifications and
// the main window. The engine (news store, trees, server-group lists, queue, newsgroup
// list, ...) comes from TEngineParts, as in the command-line program; start-up calls both
// through its hooks. The window's parts are freed when the event loop has ended, before the
// shutdown hooks free the engine, and the connections before anything their slots use.
#include <memory>

#include "core/Startup.h"

namespace zev {
class TChangeQueue;
class TConnectionPool;
class TEngineParts;
namespace ui {
class TfrmMain;
}
}  // namespace zev

namespace zev::app {

class TQtHost;

class TProgramParts {
 public:
  TProgramParts(TQtHost& host, TEngineParts& engine);
  ~TProgramParts();
  TProgramParts(const TProgramParts&) = delete;
  TProgramParts& operator=(const TProgramParts&) = delete;

  // Adds the window's hooks; call after the engine has added its own.
  void AddHooks(FStartupHooks& hooks);

 private:
  void CreateMainWindow();
  void BeforeEventLoop();
  void AfterEventLoop();

  TQtHost& host_;
  TEngineParts& engine_;
  std::unique_ptr<TChangeQueue> changes_;
  std::unique_ptr<TConnectionPool> pool_;
  std::unique_ptr<ui::TfrmMain> window_;
};

}  // namespace zev::app
