// vaultix: the desktop program.  Start-up: --help and --version for the
// terminal, version strings, the locale, the application, Qt's own Slovak
// texts, its title, the engine's hooks into the window system, and the main
// window with the job file named as the first argument.
#include <QApplication>
#include <QGuiApplication>
#include <QStringList>
#include <cstdio>

#include "platform/locale.h"
#include "support/version.h"
#include "ui/application.h"
#include "ui/main_form.h"
#include "ui/screenshots.h"

int main(int argc, char** argv) {
  vx::ReadVersionInfo();
  // Answered before a window system is needed, like any other program.
  QStringList plain;
  for (int i = 1; i < argc; ++i) plain << QString::fromLocal8Bit(argv[i]);
  if (const auto info = vx::ui::InformationOption(plain)) {
    std::fputs(info->c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  vx::InitLocale();
  QApplication app(argc, argv);
  // The task bar's name; the window's own caption stays as it is.
  QGuiApplication::setApplicationDisplayName(QStringLiteral("Vaultix"));
  QGuiApplication::setDesktopFileName(QStringLiteral("vaultix"));
  vx::ui::InstallQtTranslations(app);
  vx::ui::SetApplicationTitle(QStringLiteral("Vaultix"));
  vx::ui::InstallEngineHooks();
  QStringList args = QCoreApplication::arguments().mid(1);
  // Hidden: renders every window into PNG files (scripts/screenshots.sh).
  if (args.size() == 2 && args[0] == QLatin1String("--screenshots"))
    return vx::ui::RenderScreenshots(args[1]);
  vx::ui::TMainForm form(args, QCoreApplication::applicationFilePath());
  form.show();
  return QApplication::exec();
}
