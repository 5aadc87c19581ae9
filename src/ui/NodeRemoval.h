#pragma once
// Removing a server or a group expires its articles, which can take a while. The work runs
// on a thread of its own while the progress window keeps the user from changing the trees
// and the window goes on painting; when it is done, the node itself is freed on the
// user-interface thread. No event loop is nested and no lock is held while waiting.
#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

class QWidget;

namespace zev::ui {

class TfrmProgress;

class TNodeRemoval : public QObject {
  Q_OBJECT
 public:
  explicit TNodeRemoval(QWidget* window);
  // Waits for a removal still running.
  ~TNodeRemoval() override;

  // Runs `work` on the removal thread, then `finish` on this thread.
  void Run(const std::string& text, std::function<void()> work, std::function<void()> finish);
  bool Running() const { return running_.load(); }

 private:
  void Done();

  QWidget* window_;
  QPointer<TfrmProgress> progress_;
  std::function<void()> finish_;
  std::thread thread_;
  std::atomic<bool> running_{false};
};

}  // namespace zev::ui
