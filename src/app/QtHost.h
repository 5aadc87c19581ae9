#pragma once
// The Qt program's answer to the engine's start-up and shutdown: the splash window shows
// the status texts, message boxes ask the questions, and SIGTERM/SIGINT (through the
// engine's wake-up pipe) close the program the normal way, so the settings are saved.
#include <QEventLoop>
#include <QPointer>
#include <QSocketNotifier>
#include <functional>
#include <memory>

#include "core/Startup.h"
#include "core/UiHost.h"
#include "ui/Splash.h"

class QWidget;

namespace zev::app {

class TQtHost : public TUiHost {
 public:
  TQtHost();
  ~TQtHost() override;

  void ShowStatus(const std::string& text) override;
  bool AskYesNo(const std::string& text) override;
  bool AskRetryIgnore(const std::string& caption, const std::string& text) override;
  void ProcessEvents() override;
  void Linger(int ms) override;
  void CloseSplash() override;
  int RunEventLoop() override;

  // The main window, once it exists; until then the program shows the splash and ends.
  void SetMainWindow(QWidget* window) { mainWindow_ = window; }
  // Called just before the event loop starts and right after it ends.
  void SetEventLoopHooks(std::function<void()> before, std::function<void()> after) {
    beforeLoop_ = std::move(before);
    afterLoop_ = std::move(after);
  }
  // The hooks that only the Qt program fills (style, pictures, busy cursor).
  FStartupHooks Hooks();

 private:
  void OnTerminationSignal();

  std::unique_ptr<ui::TfrmSplash> splash_;
  std::unique_ptr<QSocketNotifier> signalNotifier_;
  QPointer<QWidget> mainWindow_;
  QEventLoop* lingerLoop_ = nullptr;
  std::function<void()> beforeLoop_;
  std::function<void()> afterLoop_;
};

}  // namespace zev::app
