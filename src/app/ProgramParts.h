#pragma once
// The parts of the engine that the Qt program creates for its window: the server and group
// trees, the server-group lists, the connections and the change notifications, and the
// main window itself. Start-up calls them through its hooks; they are freed when the
// event loop has ended, the trees only after every connection has.
#include <memory>

#include "core/Startup.h"

namespace zev {
class TChangeQueue;
class TConnectionPool;
class TGroupTree;
class TSGLst;
class TServerTree;
namespace ui {
class TfrmMain;
}
}  // namespace zev

namespace zev::app {

class TQtHost;

class TProgramParts {
 public:
  explicit TProgramParts(TQtHost& host);
  ~TProgramParts();
  TProgramParts(const TProgramParts&) = delete;
  TProgramParts& operator=(const TProgramParts&) = delete;

  void AddHooks(FStartupHooks& hooks);

 private:
  void CreateServerGroupLists();
  void DestroyServerGroupLists();
  void CreateMainWindow();
  void BeforeEventLoop();
  void AfterEventLoop();

  TQtHost& host_;
  std::unique_ptr<TServerTree> servers_;
  std::unique_ptr<TGroupTree> groups_;
  std::unique_ptr<TSGLst> serverGroups_;
  std::unique_ptr<TSGLst> queueIndex_;
  std::unique_ptr<TChangeQueue> changes_;
  std::unique_ptr<TConnectionPool> pool_;
  std::unique_ptr<ui::TfrmMain> window_;
};

}  // namespace zev::app
