#include "ui/Progress.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/Intl.h"

namespace zev::ui {

TfrmProgress::TfrmProgress(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8(Tr("Progress...")));
  setWindowFlag(Qt::WindowStaysOnTopHint);
  setWindowFlag(Qt::WindowCloseButtonHint, false);
  text_ = new QLabel(QString::fromUtf8(Tr("Progress:")), this);
  text_->setWordWrap(true);
  bar_ = new QProgressBar(this);
  cancel_ = new QPushButton(QString::fromUtf8(Tr("Cancel")), this);
  connect(cancel_, &QPushButton::clicked, this, [this] { cancelled_ = true; });
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_);
  layout->addWidget(bar_);
  layout->addWidget(cancel_, 0, Qt::AlignHCenter);
  setMinimumWidth(380);
}

void TfrmProgress::SetText(const QString& text) { text_->setText(text); }
void TfrmProgress::SetRange(int maximum) { bar_->setRange(0, maximum); }
void TfrmProgress::SetPosition(int position) { bar_->setValue(position); }
QString TfrmProgress::Text() const { return text_->text(); }

void TfrmProgress::SetCancelEnabled(bool enabled) {
  cancel_->setEnabled(enabled);
  cancel_->setVisible(enabled);
}

// Esc cancels only when cancelling is allowed; the window itself stays until its owner
// closes it.
void TfrmProgress::reject() {
  if (cancel_->isEnabled()) cancelled_ = true;
}

}  // namespace zev::ui
