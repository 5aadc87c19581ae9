#include "ui/Splash.h"

#include <QApplication>
#include <QPainter>

namespace zev::ui {

static QPixmap SplashPicture() {
  QPixmap pm(420, 180);
  pm.fill(QColor(0x2b, 0x3a, 0x55));
  QPainter p(&pm);
  p.setPen(Qt::white);
  QFont f = p.font();
  f.setPointSize(22);
  f.setBold(true);
  p.setFont(f);
  p.drawText(QRect(0, 30, 420, 50), Qt::AlignCenter, QStringLiteral("Zevrin 2"));
  return pm;
}

TfrmSplash::TfrmSplash() : QSplashScreen(SplashPicture()) { setWindowTitle(QStringLiteral("Zev is starting...")); }

void TfrmSplash::SetStatus(const QString& text) {
  showMessage(text, Qt::AlignBottom | Qt::AlignHCenter, Qt::white);
  QApplication::processEvents();
}

}  // namespace zev::ui
