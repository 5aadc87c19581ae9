#pragma once
// The progress window of a long operation: a label, a bar and "Cancel", which sets a flag
// the caller polls. Without Cancel the button is not shown at all.
#include <QDialog>
#include <atomic>

class QLabel;
class QProgressBar;
class QPushButton;

namespace zev::ui {

class TfrmProgress : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmProgress(QWidget* parent = nullptr);
  void SetText(const QString& text);
  // A maximum of 0 makes the bar a busy indicator.
  void SetRange(int maximum);
  void SetPosition(int position);
  void SetCancelEnabled(bool enabled);
  bool Cancelled() const { return cancelled_.load(); }
  QString Text() const;

  void reject() override;

 private:
  QLabel* text_;
  QProgressBar* bar_;
  QPushButton* cancel_;
  std::atomic<bool> cancelled_{false};
};

}  // namespace zev::ui
