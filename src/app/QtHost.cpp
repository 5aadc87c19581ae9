#include "app/QtHost.h"

#include <QApplication>
#include <QMessageBox>
#include <QStyleFactory>
#include <QTimer>
#include <QWidget>

#include "core/Busy.h"
#include "core/Intl.h"
#include "core/TerminationSignal.h"

namespace zev::app {
namespace {

// Until the main window exists the program shows its splash for this long, then ends.
constexpr int kSplashOnlyMs = 1500;

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The stored style numbers name the styles of the old toolkit; only two remain meaningful.
void ApplyStyle(int style) {
  constexpr int kCurrentTheme = 6;
  if (style == kCurrentTheme) return;
  if (QStyle* s = QStyleFactory::create(style == 0 ? QStringLiteral("Windows") : QStringLiteral("Fusion")))
    QApplication::setStyle(s);
}

}  // namespace

TQtHost::TQtHost() : splash_(std::make_unique<ui::TfrmSplash>()) {
  QApplication::setApplicationName(QStringLiteral("Zevrin"));
  TTerminationSignal::Install();
  if (TTerminationSignal::WakeupFd() >= 0) {
    signalNotifier_ = std::make_unique<QSocketNotifier>(TTerminationSignal::WakeupFd(), QSocketNotifier::Read);
    QObject::connect(signalNotifier_.get(), &QSocketNotifier::activated, [this] { OnTerminationSignal(); });
  }
  SetBusyCursorHook([](bool busy) {
    if (busy) QApplication::setOverrideCursor(Qt::WaitCursor);
    else QApplication::restoreOverrideCursor();
  });
  splash_->show();
}

TQtHost::~TQtHost() { SetBusyCursorHook(nullptr); }

void TQtHost::ShowStatus(const std::string& text) {
  if (splash_) splash_->SetStatus(Q(text));
}

bool TQtHost::AskYesNo(const std::string& text) {
  return QMessageBox::question(nullptr, QStringLiteral("Zevrin"), Q(text), QMessageBox::Yes | QMessageBox::No) ==
         QMessageBox::Yes;
}

bool TQtHost::AskRetryIgnore(const std::string& caption, const std::string& text) {
  QMessageBox box(QMessageBox::Critical, Q(caption), Q(text), QMessageBox::Retry | QMessageBox::Ignore);
  box.setDefaultButton(QMessageBox::Retry);
  return box.exec() == QMessageBox::Retry;
}

void TQtHost::ProcessEvents() { QApplication::processEvents(); }

void TQtHost::Linger(int ms) {
  if (TTerminationSignal::Requested()) return;
  QEventLoop loop;
  lingerLoop_ = &loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
  lingerLoop_ = nullptr;
}

void TQtHost::CloseSplash() {
  if (!mainWindow_) {
    ShowStatus(Tr("Ready."));
    Linger(kSplashOnlyMs);
  }
  splash_.reset();
}

int TQtHost::RunEventLoop() {
  if (!mainWindow_) return 0;
  if (beforeLoop_) beforeLoop_();
  const int code = QApplication::exec();
  if (afterLoop_) afterLoop_();
  return code;
}

void TQtHost::OnTerminationSignal() {
  signalNotifier_->setEnabled(false);  // the pipe stays readable; one close is enough
  if (lingerLoop_) lingerLoop_->quit();
  // The main window's close request runs the normal shutdown; without one the loop ends.
  if (mainWindow_) mainWindow_->close();
  else QApplication::quit();
}

FStartupHooks TQtHost::Hooks() {
  FStartupHooks hooks;
  hooks.applyStyle = ApplyStyle;
  // Qt reads JPEG and PNG through its image plug-ins; nothing to register.
  hooks.registerPictureFormats = [] {};
  return hooks;
}

}  // namespace zev::app
