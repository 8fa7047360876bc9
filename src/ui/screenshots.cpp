#include "ui/screenshots.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPixmap>
#include <QStackedWidget>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "ui/help.h"
#include "ui/log_view.h"
#include "ui/main_form.h"
#include "ui/selection_dialog.h"
#include "ui/settings.h"
#include "ui/status_form.h"

namespace vx::ui {
namespace {

void Settle(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool Save(QWidget* w, const QString& folder, const QString& name) {
  Settle(150);
  return w->grab().save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// Opens a modal window with open() and grabs whatever modal window is on top
// once it is up, then closes it.
bool GrabModal(const QString& folder, const QString& name, const std::function<void()>& open) {
  bool saved = false;
  QTimer::singleShot(400, [&] {
    if (QWidget* w = QApplication::activeModalWidget()) {
      saved = Save(w, folder, name);
      w->close();
    }
  });
  open();
  return saved;
}

}  // namespace

int RenderScreenshots(const QString& folder) {
  if (!QDir().mkpath(folder)) return 1;
  int failures = 0;
  TMainForm form;
  form.SetOperationHook([](int, const TWizardPages&) {});
  form.show();
  Settle(200);
  const char* tabs[] = {"backup", "restore", "verify"};
  for (int t = 0; t < 3; ++t) {
    form.SetActiveTab(static_cast<TMainForm::TTab>(t));
    QStackedWidget* stack = form.Notebook(static_cast<TMainForm::TTab>(t));
    for (int p = 0; p < stack->count(); ++p) {
      stack->setCurrentIndex(p);
      form.UpdateWizardButtons();
      const QString name = QStringLiteral("%1-%2-%3")
                               .arg(QString::fromLatin1(tabs[t]))
                               .arg(p + 1)
                               .arg(stack->currentWidget()->objectName());
      if (!Save(&form, folder, name)) ++failures;
    }
  }
  const char* modes[] = {"archive-set", "files", "backup-target", "restore-target"};
  for (int m = 0; m < 4; ++m) {
    TSelectionForm dialog(static_cast<TSelectionMode>(m), &form);
    dialog.StartAt(QDir::homePath() + QLatin1Char('/'));
    dialog.show();
    Settle(400);
    if (!Save(&dialog, folder, QStringLiteral("selection-%1").arg(QString::fromLatin1(modes[m]))))
      ++failures;
  }
  THelpWindow help(&form);
  help.ShowTopic(QStringLiteral("BackupWhere"));
  help.show();
  if (!Save(&help, folder, QStringLiteral("help-window"))) ++failures;
  help.hide();

  if (!GrabModal(folder, QStringLiteral("about-box"), [&] { ShowAboutBox(&form); })) ++failures;
  // A short log to look at.
  const QString log = QDir(folder).filePath(QStringLiteral("sample.LOG"));
  {
    QFile f(log);
    if (f.open(QIODevice::WriteOnly))
      f.write("Záloha začatá\nSúbor /home/eva/dokumenty/správa.odt zazálohovaný OK\n"
              "Záloha skončená\n");
  }
  if (!GrabModal(folder, QStringLiteral("log-viewer"), [&] { ShowLogViewer(&form, log); }))
    ++failures;
  QFile::remove(log);
  return failures == 0 ? 0 : 1;
}

}  // namespace vx::ui
