#include "ui/screenshots.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QStackedWidget>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "engine/vaultrex.h"
#include "ui/help.h"
#include "ui/log_view.h"
#include "ui/main_form.h"
#include "ui/message_boxes.h"
#include "ui/restore_tree.h"
#include "ui/schedule_dialog.h"
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

// Answers every box at once: pictures are made without anyone to click.
// While captureAs is set, each box is drawn and saved first, as captureAs
// (the first) or captureAs-2, captureAs-3 ...
class TAutoBoxes final : public TMessageBoxes {
 public:
  QString folder;
  QString captureAs;
  bool keepCapturing = false;
  int saved = 0;

  TBoxButton Show(const TBoxRequest& r) override {
    if (!captureAs.isEmpty()) {
      ++shown_;
      QMessageBox box(r.Icon == TBoxIcon::Information ? QMessageBox::Information
                      : r.Icon == TBoxIcon::Stop      ? QMessageBox::Critical
                      : r.Icon == TBoxIcon::Warning   ? QMessageBox::Warning
                      : r.Icon == TBoxIcon::Question  ? QMessageBox::Question
                                                      : QMessageBox::NoIcon,
                      r.Caption, r.Text, QMessageBox::NoButton, r.Parent);
      const std::pair<int, QMessageBox::StandardButton> buttons[] = {
          {BB_Ok, QMessageBox::Ok},         {BB_Cancel, QMessageBox::Cancel},
          {BB_Abort, QMessageBox::Abort},   {BB_Retry, QMessageBox::Retry},
          {BB_Ignore, QMessageBox::Ignore}, {BB_Yes, QMessageBox::Yes},
          {BB_No, QMessageBox::No}};
      for (const auto& [ours, qt] : buttons)
        if (r.Buttons & ours) box.addButton(qt);
      box.show();
      const QString name = shown_ == 1 ? captureAs : captureAs + QStringLiteral("-%1").arg(shown_);
      if (Save(&box, folder, name)) ++saved;
      if (!keepCapturing) {
        captureAs.clear();
        shown_ = 0;
      }
    }
    for (TBoxButton b : {BB_Ok, BB_Yes, BB_Ignore, BB_Retry})
      if (r.Buttons & b) return b;
    return BB_Cancel;
  }

 private:
  int shown_ = 0;
};

// A small backup of folders in the home folder, with its log, shown in the
// status window when it has ended; logFile and setFile name what it wrote.
bool GrabStatusWindow(TMainForm& form, const QString& folder, QString& logFile, QString& setFile) {
  const QString home = QDir::homePath();
  const QString source = home + QStringLiteral("/Dokumenty");
  const struct {
    const char* name;
    int size;
  } files[] = {{"/správa.txt", 200000},
               {"/Faktúry/2026/január.odt", 48000},
               {"/Faktúry/2026/február.odt", 51000},
               {"/Faktúry/prehľad.ods", 23000},
               {"/Fotky/dovolenka.jpg", 1500000}};
  for (const auto& file : files) {
    const QString path = source + QString::fromUtf8(file.name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(QByteArray(file.size, 'v'));
  }
  QDir().mkpath(home + QStringLiteral("/zaloha"));
  TWizardPages pages = form.ReadPages();
  pages.Backup.Include = {(source + QStringLiteral("/* /S")).toStdString()};
  pages.Backup.Location = (home + QStringLiteral("/zaloha/")).toStdString();
  pages.Backup.CreateLog = true;
  pages.Backup.Comment = "Týždenná záloha dokumentov";
  setFile = home + QStringLiteral("/zaloha/Backup.001");
  TStatusForm status(&form, 0, pages);
  bool saved = false;
  QElapsedTimer waited;
  waited.start();
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (status.OperationDone() || waited.elapsed() > 20000) {
      poll.stop();
      saved = status.OperationDone() && Save(&status, folder, QStringLiteral("status-window"));
      status.close();
    }
  });
  poll.start(100);
  status.exec();
  logFile = QString::fromStdString(status.Engine().LogFileName);
  return saved;
}

}  // namespace

int RenderScreenshots(const QString& folder) {
  if (!QDir().mkpath(folder)) return 1;
  TAutoBoxes boxes;
  TMessageBoxes* previous = SetMessageBoxes(&boxes);
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

  boxes.folder = folder;
  boxes.captureAs = QStringLiteral("about-box");
  ShowAboutBox(&form);
  if (boxes.saved != 1) ++failures;
  boxes.captureAs = QStringLiteral("status-box");
  boxes.keepCapturing = true;
  QString log;
  QString set;
  if (!GrabStatusWindow(form, folder, log, set) || boxes.saved < 2) ++failures;
  boxes.captureAs.clear();
  boxes.keepCapturing = false;
  // The log of that backup in the log viewer.
  if (!GrabModal(folder, QStringLiteral("log-viewer"), [&] { ShowLogViewer(&form, log); }))
    ++failures;
  // Its set in the restore tree, one folder partly ticked.
  form.SetActiveTab(TMainForm::RestoreTab);
  form.Notebook(TMainForm::RestoreTab)->setCurrentIndex(0);
  form.findChild<QLineEdit*>(QStringLiteral("RestoreSetEdit"))->setText(set);
  form.PreviousNextClick(true);
  TRestoreTree* tree = form.RestoreTreeView();
  for (QTreeWidgetItemIterator it(tree); *it; ++it) {
    if ((*it)->text(0) == QStringLiteral("január.odt")) {
      tree->setCurrentItem(*it);
      tree->ToggleRestoreNode();
    }
  }
  if (!Save(&form, folder, QStringLiteral("restore-2-RestoreWhat"))) ++failures;
  // The schedule dialog of a saved job.
  const QString job = QDir::homePath() + QStringLiteral("/dokumenty.sqt");
  form.SaveJob(job);
  {
    TScheduleDialog schedule(job, &form);
    schedule.show();
    if (!Save(&schedule, folder, QStringLiteral("schedule-dialog"))) ++failures;
  }
  // The main window made larger: the lists grow with it.
  form.resize(form.size() + QSize(240, 160));
  if (!Save(&form, folder, QStringLiteral("restore-2-RestoreWhat-larger"))) ++failures;
  SetMessageBoxes(previous);
  return failures == 0 ? 0 : 1;
}

}  // namespace vx::ui
