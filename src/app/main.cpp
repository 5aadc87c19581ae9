// zevrin: the desktop program.
#include <QApplication>
#include <QTimer>

#include "ui/Splash.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  zev::ui::TfrmSplash splash;
  splash.show();
  splash.SetStatus(QStringLiteral("Starting..."));
  QTimer::singleShot(1500, &app, &QApplication::quit);
  return app.exec();
}
