#include "ui/Busy.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/Intl.h"

namespace zev::ui {

TfrmBusy::TfrmBusy(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8(Tr("Busy")));
  setWindowFlag(Qt::WindowStaysOnTopHint);
  setModal(false);
  text_ = new QLabel(this);
  text_->setWordWrap(true);
  text_->setAlignment(Qt::AlignCenter);
  auto* abort = new QPushButton(QString::fromUtf8(Tr("Abort")), this);
  connect(abort, &QPushButton::clicked, this, &TfrmBusy::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_);
  layout->addWidget(abort, 0, Qt::AlignHCenter);
  setMinimumWidth(300);
}

void TfrmBusy::SetText(const QString& text) { text_->setText(text); }

// Closing the window aborts as well: the caller must not go on without being told.
void TfrmBusy::reject() { aborted_ = true; }

}  // namespace zev::ui
