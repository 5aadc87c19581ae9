#pragma once
// A small window shown during a long operation (a sort of a large article list) with an
// "Abort" button; the caller polls Aborted() while it works. Not modal.
#include <QDialog>
#include <atomic>

class QLabel;

namespace zev::ui {

class TfrmBusy : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmBusy(QWidget* parent = nullptr);
  void SetText(const QString& text);
  bool Aborted() const { return aborted_.load(); }

  void reject() override;

 private:
  QLabel* text_;
  std::atomic<bool> aborted_{false};
};

}  // namespace zev::ui
