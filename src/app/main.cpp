// vaultix: the desktop program.  Start-up: version strings, the locale, the
// application and its title, the engine's hooks into the window system, and
// the main window with the job file named as the first argument.
#include <QApplication>
#include <QStringList>

#include "platform/locale.h"
#include "support/version.h"
#include "ui/application.h"
#include "ui/main_form.h"
#include "ui/screenshots.h"

int main(int argc, char** argv) {
  vx::ReadVersionInfo();
  vx::InitLocale();
  QApplication app(argc, argv);
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
