#include "ui/Splash.h"

#include <QApplication>
#include <QPainter>

#include "core/Version.h"

namespace zev::ui {

static QPixmap SplashPicture() {
  constexpr int kWidth = 420, kHeight = 180;
  QPixmap pm(kWidth, kHeight);
  pm.fill(QColor(0x2b, 0x3a, 0x55));
  QPainter p(&pm);
  p.setPen(Qt::white);
  QFont title = p.font();
  title.setPointSize(22);
  title.setBold(true);
  p.setFont(title);
  p.drawText(QRect(0, 30, kWidth, 50), Qt::AlignCenter, QStringLiteral("Zevrin 2"));
  QFont small = p.font();
  small.setPointSize(10);
  small.setBold(false);
  p.setFont(small);
  p.drawText(QRect(0, 80, kWidth, 24), Qt::AlignCenter, QString::fromStdString(VersionText()));
  return pm;
}

TfrmSplash::TfrmSplash() : QSplashScreen(SplashPicture()) { setWindowTitle(QStringLiteral("Zev is starting...")); }

void TfrmSplash::SetStatus(const QString& text) {
  showMessage(text, Qt::AlignBottom | Qt::AlignHCenter, Qt::white);
  repaint();
  QApplication::processEvents();
}

}  // namespace zev::ui
