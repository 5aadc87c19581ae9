#pragma once
// The question dialog: every confirmation and every retry-or-ignore question after an
// error. Its check box lets the user keep the answer, so that the same confirmation is
// answered without asking from then on.
#include <QDialog>
#include <string>

class QCheckBox;
class QLabel;
class QPushButton;

namespace zev::ui {

// Answer codes, as callers store them.
enum TAnswer : int { anCancel = 2, anYes = 3, anNo = 4, anRetry = 6, anIgnore = 7 };

// Option bits of QueryUser.
enum TQueryOption : int {
  qoCancel = 1,    // the Cancel button is enabled (and is the Esc button)
  qoRemember = 2,  // the "remember" check box is enabled
  qoError = 4,     // "Retry" and "Ignore" instead of "Yes" and "No"
};

class TfrmQueryDlg : public QDialog {
  Q_OBJECT
 public:
  // `defaultButton`: anCancel, the first button (anYes or anRetry) or the second (anNo or
  // anIgnore).
  TfrmQueryDlg(const QString& text, int options, int defaultButton, QWidget* parent = nullptr);

  QString Text() const;
  bool Remember() const;
  void SetRemember(bool on);
  QPushButton* Button(int index) const { return buttons_[index]; }
  // The answer Esc (and closing the window) gives.
  int EscapeAnswer() const { return escapeAnswer_; }

  void reject() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void Arrange(int options);

  bool errorMode_;
  int escapeAnswer_;
  QLabel* label_;
  QPushButton* buttons_[3];
  QCheckBox* remember_;
};

// Asks the question and returns the answer code; `remember` tells whether the user ticked
// "Remember my answer and stop asking.".
int QueryUser(const std::string& text, int options, bool& remember, int defaultButton);

}  // namespace zev::ui
