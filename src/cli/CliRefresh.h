#pragma once
// `zevrin-cli refresh`: runs the refreshes of some groups to their end, the way the
// window's timer drives them: first the newsgroup list of every server that never sent
// one (so that the program knows which servers carry the groups), then the refreshes, with
// the connection manager opening connections as work appears. On a terminal a progress
// line shows what arrived. Gives up when no connection can work for a while (the server
// cannot be reached) or at once when every connection failed (a refused log-in), and on
// SIGINT or SIGTERM.
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zev {
class TChangeQueue;
class TConnMgr;
class TConnectionPool;
class TEngineParts;
class TGroup;
class TServer;
}

namespace zev::cli {

class TCliRefresh {
 public:
  // How long no connection may be able to work before the refresh gives up.
  static constexpr int kStallTicks = 60;  // of 500 ms
  static constexpr int kTickMs = 500;

  TCliRefresh(TEngineParts& engine, std::vector<TGroup*> groups);
  ~TCliRefresh();
  // Returns the exit code.
  int Run();

 private:
  // Ticks until `done` holds; the exit code, ecOk when it did.
  int RunUntil(const std::function<bool()>& done);
  std::vector<TServer*> ServersWithoutList() const;
  void AddNewServerGroups();
  bool Over() const;
  bool AnyConnectionCanWork() const;
  static bool SlotFailed(const TServer& slot);
  bool AllSlotsFailed() const;
  std::string FailureText() const;
  void ShowProgress(bool final);
  void ApplyChangeNotes();
  void EndConnections();

  TEngineParts& engine_;
  std::vector<TGroup*> groups_;
  std::unique_ptr<TChangeQueue> changes_;
  std::unique_ptr<TConnectionPool> pool_;
  std::unique_ptr<TConnMgr> manager_;
  bool terminal_ = false;
  size_t progressWidth_ = 0;
  std::string failure_;
};

}  // namespace zev::cli
