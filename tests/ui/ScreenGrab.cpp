// zevrin-screengrab FILE.png: saves the whole screen of $DISPLAY (the screenshot script
// runs it against Xvfb).
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: zevrin-screengrab FILE.png\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "xcb");
  QGuiApplication app(argc, argv);
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen || !screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1]))) {
    std::fprintf(stderr, "zevrin-screengrab: could not grab the screen\n");
    return 1;
  }
  return 0;
}
