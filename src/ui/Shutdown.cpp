#include "ui/Shutdown.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/Intl.h"

namespace zev::ui {

TfrmShutdown::TfrmShutdown(QWidget* parent) : QDialog(parent) {
  setWindowFlag(Qt::WindowStaysOnTopHint);
  text_ = new QLabel(this);
  text_->setWordWrap(true);
  bar_ = new QProgressBar(this);
  bar_->setTextVisible(false);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* shutdown = buttons->addButton(QString::fromUtf8(Tr("&Shutdown")), QDialogButtonBox::AcceptRole);
  QPushButton* cancel = buttons->addButton(QString::fromUtf8(Tr("&Cancel")), QDialogButtonBox::RejectRole);
  connect(shutdown, &QPushButton::clicked, this, [this] { Finish(soShutdown); });
  connect(cancel, &QPushButton::clicked, this, [this] { Finish(soCancel); });
  cancel->setDefault(true);
  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(8);
  layout->addWidget(text_);
  layout->addWidget(bar_);
  layout->addWidget(buttons);
  setMinimumWidth(360);
}

void TfrmShutdown::Setup(const QString& caption, const QString& text, int maximum) {
  setWindowTitle(caption);
  text_->setText(text);
  bar_->setRange(0, maximum);
  bar_->setValue(0);
  outcome_ = soPending;
}

void TfrmShutdown::Advance() {
  if (outcome_ != soPending) return;
  bar_->setValue(bar_->value() + 1);
  if (bar_->value() >= bar_->maximum()) Finish(soShutdown);
}

QString TfrmShutdown::Text() const { return text_->text(); }
int TfrmShutdown::Position() const { return bar_->value(); }

void TfrmShutdown::reject() { Finish(soCancel); }

void TfrmShutdown::Finish(TOutcome outcome) {
  outcome_ = outcome;
  hide();
}

}  // namespace zev::ui
