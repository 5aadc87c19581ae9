#include "ui/QueryDlg.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "core/Intl.h"
#include "ui/ModalRunner.h"

namespace zev::ui {
namespace {

constexpr int kMinClientWidth = 400;
constexpr int kMaxButtonGap = 32;
constexpr int kMargin = 8;

QString T(const char* text) { return QString::fromUtf8(Tr(text)); }

}  // namespace

TfrmQueryDlg::TfrmQueryDlg(const QString& text, int options, int defaultButton, QWidget* parent)
    : QDialog(parent), errorMode_((options & qoError) != 0) {
  setWindowTitle(errorMode_ ? T("Error") : T("Confirmation"));
  label_ = new QLabel(text, this);
  label_->setWordWrap(true);
  label_->setAlignment(Qt::AlignCenter);
  label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  buttons_[0] = new QPushButton(errorMode_ ? T("&Retry") : T("&Yes"), this);
  buttons_[1] = new QPushButton(errorMode_ ? T("&Ignore") : T("&No"), this);
  buttons_[2] = new QPushButton(T("Cancel"), this);
  remember_ = new QCheckBox(T("Remember my answer and stop asking."), this);
  remember_->setEnabled((options & qoRemember) != 0);

  const int answers[3] = {errorMode_ ? anRetry : anYes, errorMode_ ? anIgnore : anNo, anCancel};
  for (int i = 0; i < 3; ++i) connect(buttons_[i], &QPushButton::clicked, this, [this, a = answers[i]] { done(a); });
  const bool cancelEnabled = (options & qoCancel) != 0;
  buttons_[2]->setEnabled(cancelEnabled);
  escapeAnswer_ = cancelEnabled ? anCancel : answers[1];

  Arrange(options);
  int focus = defaultButton == anCancel && cancelEnabled ? 2
              : defaultButton == anNo || defaultButton == anIgnore ? 1
                                                                    : 0;
  buttons_[focus]->setDefault(true);
  buttons_[focus]->setFocus();
}

// The buttons share the width of the widest caption; the dialog is never narrower than
// 400 pixels, and the buttons stand evenly spread, at most 32 pixels apart.
void TfrmQueryDlg::Arrange(int /*options*/) {
  const QFontMetrics fm(font());
  const int standardHeight = fm.boundingRect(QStringLiteral("Zy")).height() + 8;
  int buttonWidth = 0;
  for (QPushButton* b : buttons_) buttonWidth = std::max(buttonWidth, fm.horizontalAdvance(b->text().remove('&')) + 32);
  for (QPushButton* b : buttons_) b->setFixedSize(buttonWidth, standardHeight + 4);
  const int checkWidth = fm.horizontalAdvance(remember_->text()) + standardHeight;
  const int clientWidth = std::max(kMinClientWidth, std::max(3 * buttonWidth, checkWidth) + 2 * kMargin);
  const int gap = std::min(kMaxButtonGap, (clientWidth - 2 * kMargin - 3 * buttonWidth) / 4);

  auto* row = new QHBoxLayout;
  row->addStretch(1);
  for (int i = 0; i < 3; ++i) {
    if (i) row->addSpacing(gap);
    row->addWidget(buttons_[i]);
  }
  row->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2 * kMargin, 2 * kMargin, 2 * kMargin, 2 * kMargin);
  layout->setSpacing(kMargin + 4);
  layout->addWidget(label_);
  layout->addLayout(row);
  layout->addWidget(remember_, 0, Qt::AlignHCenter);
  label_->setMinimumWidth(clientWidth - 4 * kMargin);
  setMinimumWidth(clientWidth);
  layout->setSizeConstraint(QLayout::SetMinimumSize);
}

QString TfrmQueryDlg::Text() const { return label_->text(); }
bool TfrmQueryDlg::Remember() const { return remember_->isChecked(); }
void TfrmQueryDlg::SetRemember(bool on) { remember_->setChecked(on); }

void TfrmQueryDlg::reject() { done(escapeAnswer_); }

void TfrmQueryDlg::keyPressEvent(QKeyEvent* event) {
  if (!(event->modifiers() & Qt::AltModifier)) {
    int answer = 0;
    switch (event->key()) {
      case Qt::Key_Y: answer = errorMode_ ? 0 : anYes; break;
      case Qt::Key_N: answer = errorMode_ ? 0 : anNo; break;
      case Qt::Key_R: answer = errorMode_ ? anRetry : 0; break;
      case Qt::Key_I: answer = errorMode_ ? anIgnore : 0; break;
      default: break;
    }
    if (answer) {
      done(answer);
      return;
    }
  }
  QDialog::keyPressEvent(event);
}

int QueryUser(const std::string& text, int options, bool& remember, int defaultButton) {
  TfrmQueryDlg dialog(QString::fromStdString(text), options, defaultButton, DialogParent());
  int answer = ExecModal(dialog);
  remember = dialog.Remember();
  // A dialog closed some other way (the runner gave up) counts as Esc.
  if (answer != anCancel && answer != anYes && answer != anNo && answer != anRetry && answer != anIgnore)
    answer = dialog.EscapeAnswer();
  return answer;
}

}  // namespace zev::ui
