// zevrin: the desktop program.
#include <QApplication>
#include <QDir>
#include <clocale>
#include <string>
#include <vector>

#include "app/ProgramParts.h"
#include "app/QtHost.h"
#include "core/Intl.h"
#include "core/Startup.h"
#include "nntp/EngineParts.h"
#include "platform/Paths.h"
#include "ui/AppIcon.h"

namespace {

// Installed catalogues lie in ../share/locale beside bin/; a program run from the build
// tree uses the catalogues built there.
std::string LocaleDir() {
  std::string installed = zev::platform::ProgramDir() + "../share/locale";
  if (QDir(QString::fromStdString(installed)).exists()) return installed;
  return ZEV_BUILD_LOCALE_DIR;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // QApplication adopts the user's locale for every category; numbers in files and on the
  // wire must keep the "." whatever the desktop language is.
  std::setlocale(LC_NUMERIC, "C");
  zev::InitTranslations(LocaleDir().c_str());
  // Hiding in the tray closes no window; the program ends when the main window's closing
  // sequence says so.
  QApplication::setQuitOnLastWindowClosed(false);
  QGuiApplication::setDesktopFileName(QStringLiteral("zevrin"));
  zev::ui::ChooseIconTheme();
  QApplication::setWindowIcon(zev::ui::AppIcon());
  zev::app::TQtHost host;
  zev::TEngineParts engine;
  zev::app::TProgramParts parts(host, engine);
  zev::FStartupHooks hooks = host.Hooks();
  engine.AddHooks(hooks);
  parts.AddHooks(hooks);
  zev::TStartup startup(host, hooks);
  return startup.Run(std::vector<std::string>(argv + 1, argv + argc));
}
