#include "ui/About.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "core/Intl.h"
#include "core/Version.h"
#include "ui/AppIcon.h"

namespace zev::ui {
namespace {

QString Credits() {
  return QString::fromUtf8(Tr(
      "<p>A newsreader for binary files on Usenet: it keeps the headers of your newsgroups, "
      "joins multi-part posts into files and downloads them over several connections at once.</p>"
      "<p>Built with <a href=\"https://www.qt.io/\">Qt</a>, "
      "<a href=\"https://www.pcre.org/\">PCRE2</a>, <a href=\"https://www.openssl.org/\">OpenSSL</a> and "
      "<a href=\"https://github.com/intel/isa-l\">ISA-L</a>.</p>"));
}

}  // namespace

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8(Tr("About Zevrin")));
  auto* picture = new QLabel(this);
  picture->setPixmap(AppIcon().pixmap(96, 96));
  picture->setAlignment(Qt::AlignTop);
  auto* title = new QLabel(QStringLiteral("Zevrin 2"), this);
  QFont big = title->font();
  big.setPointSizeF(big.pointSizeF() * 1.6);
  big.setBold(true);
  title->setFont(big);
  auto* version = new QLabel(QString::fromStdString(VersionText()), this);
  auto* credits = new QTextBrowser(this);
  credits->setOpenExternalLinks(true);
  credits->setHtml(Credits());
  credits->setFrameShape(QFrame::NoFrame);
  credits->viewport()->setAutoFillBackground(false);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* text = new QVBoxLayout;
  text->addWidget(title);
  text->addWidget(version);
  text->addWidget(credits, 1);
  auto* top = new QHBoxLayout;
  top->setSpacing(16);
  top->addWidget(picture);
  top->addLayout(text, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addWidget(buttons);
  resize(480, 300);
}

}  // namespace zev::ui
