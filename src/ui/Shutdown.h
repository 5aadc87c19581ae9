#pragma once
// The countdown before the program closes (and perhaps shuts the computer down) because
// all work is done. The caller sets the range and advances the bar once per timer tick;
// at its end the dialog reports "shut down" as if the button were pressed.
#include <QDialog>

class QLabel;
class QProgressBar;

namespace zev::ui {

class TfrmShutdown : public QDialog {
  Q_OBJECT
 public:
  enum TOutcome { soPending = 0, soShutdown = 1, soCancel = 2 };

  explicit TfrmShutdown(QWidget* parent = nullptr);
  void Setup(const QString& caption, const QString& text, int maximum);
  void Advance();
  TOutcome Outcome() const { return outcome_; }
  QString Text() const;
  int Position() const;

  void reject() override;

 private:
  void Finish(TOutcome outcome);

  QLabel* text_;
  QProgressBar* bar_;
  TOutcome outcome_ = soPending;
};

}  // namespace zev::ui
