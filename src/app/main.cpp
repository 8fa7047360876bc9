// vaultix: the desktop program.  Start-up: --help and --version for the
// terminal, version strings, the locale, the application, Qt's own Slovak
// texts, its title, the engine's hooks into the window system, and the main
// window with the job file named as the first argument.
#include <QApplication>
#include <QGuiApplication>
#include <QStringList>
#include <cstdio>
#include <string_view>

#include "platform/locale.h"
#include "support/version.h"
#include "ui/application.h"
#include "ui/main_form.h"
#include "ui/screenshots.h"
#include "ui/settings.h"

namespace {

// vaultix --unregister: removes the menu entry and the job-file type the
// program registered in the user's folders (see RegisterFileAssociation).
int Unregister(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QStringList removed;
  QString error;
  const bool ok = vx::ui::UnregisterFileAssociation(removed, error);
  for (const QString& file : removed) std::printf("removed %s\n", qPrintable(file));
  if (!ok) std::fprintf(stderr, "vaultix: cannot remove %s\n", qPrintable(error));
  return ok ? 0 : 1;
}

}  // namespace

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
  if (argc == 2 && std::string_view(argv[1]) == "--unregister") return Unregister(argc, argv);
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
