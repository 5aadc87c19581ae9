#include "ui/ShutdownWhenFinished.h"

#include "core/Intl.h"

namespace zev::ui {

TShutdownWhenFinished::~TShutdownWhenFinished() { CloseDialog(); }

void TShutdownWhenFinished::SetClose(bool on) {
  close_ = on;
  if (!on) {
    shutdown_ = false;
    CloseDialog();
  }
}

void TShutdownWhenFinished::SetShutdown(bool on, uint8_t method) {
  shutdown_ = on;
  if (on) {
    close_ = true;
    method_ = method;
  }
  // The countdown's texts name what will happen; a change starts it again.
  CloseDialog();
}

TShutdownWhenFinished::TStep TShutdownWhenFinished::Tick(bool workDone) {
  if (!close_) return swWaiting;
  if (!workDone) {
    CloseDialog();
    return swWaiting;
  }
  if (!dialog_) {
    dialog_ = new TfrmShutdown(parent_);
    if (shutdown_)
      dialog_->Setup(QString::fromUtf8(Tr("Shutdown Computer")),
                     QString::fromUtf8(Tr("The computer will automatically shutdown in 15 seconds...")),
                     kCountdownTicks);
    else
      dialog_->Setup(QString::fromUtf8(Tr("Shutdown Zev")),
                     QString::fromUtf8(Tr("The program will automatically shutdown in 15 seconds...")),
                     kCountdownTicks);
    dialog_->show();
    return swWaiting;
  }
  dialog_->Advance();
  switch (dialog_->Outcome()) {
    case TfrmShutdown::soCancel:
      SetClose(false);
      return swCancelled;
    case TfrmShutdown::soShutdown:
      CloseDialog();
      return swShutDown;
    default: return swWaiting;
  }
}

void TShutdownWhenFinished::CloseDialog() {
  if (dialog_) dialog_->deleteLater();
  dialog_ = nullptr;
}

}  // namespace zev::ui
