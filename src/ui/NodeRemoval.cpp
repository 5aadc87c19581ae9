#include "ui/NodeRemoval.h"

#include <exception>

#include "core/Log.h"
#include "ui/Progress.h"

namespace zev::ui {

TNodeRemoval::TNodeRemoval(QWidget* window) : window_(window) {}

TNodeRemoval::~TNodeRemoval() {
  if (thread_.joinable()) thread_.join();
}

void TNodeRemoval::Run(const std::string& text, std::function<void()> work, std::function<void()> finish) {
  if (running_.exchange(true)) return;
  finish_ = std::move(finish);
  progress_ = new TfrmProgress(window_);
  progress_->setWindowModality(Qt::ApplicationModal);
  progress_->SetCancelEnabled(false);
  progress_->SetRange(0);
  progress_->SetText(QString::fromStdString(text));
  progress_->show();
  thread_ = std::thread([this, work = std::move(work)] {
    try {
      work();
    } catch (const std::exception& e) {
      LogException(e, "TfrmMain.RemoveNode");
    }
    QMetaObject::invokeMethod(this, &TNodeRemoval::Done, Qt::QueuedConnection);
  });
}

void TNodeRemoval::Done() {
  if (thread_.joinable()) thread_.join();
  if (progress_) progress_->deleteLater();
  progress_ = nullptr;
  std::function<void()> finish = std::move(finish_);
  finish_ = nullptr;
  running_ = false;
  if (finish) finish();
}

}  // namespace zev::ui
