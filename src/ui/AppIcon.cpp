#include "ui/AppIcon.h"

#include <QApplication>
#include <QDir>

// The resources of a static library are registered by hand; the linker would drop their
// automatic registration.
static void InitUiResources() { Q_INIT_RESOURCE(Resources); }

namespace zev::ui {

QIcon AppIcon() {
  static const bool registered = (InitUiResources(), true);
  (void)registered;
  QIcon icon;
  icon.addFile(QStringLiteral(":/zevrin/zevrin.svg"));
  icon.addFile(QStringLiteral(":/zevrin/zevrin-48.png"), QSize(48, 48));
  return icon;
}

QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback) {
  QIcon icon = QIcon::fromTheme(QString::fromLatin1(name));
  return icon.isNull() ? QApplication::style()->standardIcon(fallback) : icon;
}

QIcon ThemeIcon(const char* name) { return QIcon::fromTheme(QString::fromLatin1(name)); }

void ChooseIconTheme() {
  if (!QIcon::themeName().isEmpty() && QIcon::themeName() != QLatin1String("hicolor")) return;
  for (const char* theme : {"breeze", "Adwaita", "Tango", "oxygen"}) {
    for (const QString& dir : QIcon::themeSearchPaths()) {
      if (QDir(dir + '/' + QLatin1String(theme)).exists()) {
        QIcon::setThemeName(QLatin1String(theme));
        return;
      }
    }
  }
}

}  // namespace zev::ui
