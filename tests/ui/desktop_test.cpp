// The desktop program at home on a Linux desktop: the terminal options, Qt's
// own Slovak texts, a resizable window, tooltips, help over modal windows,
// what is remembered between starts, the job dialogs' folder, scheduling,
// the notification of a minimised run and split sets on one disk.
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeWidget>

#include "common/archive_writer.h"
#include "engine/wizard_job.h"
#include "platform/hooks.h"
#include "support/version.h"
#include "ui/application.h"
#include "ui/help.h"
#include "ui/main_form.h"
#include "ui/notify.h"
#include "ui/restore_tree.h"
#include "ui/schedule_dialog.h"
#include "ui/settings.h"
#include "ui/status_form.h"
#include "ui/ui_fixture.h"

using namespace vx::ui;
using namespace vx::ui::test;

namespace {

const QString kProgram = QStringLiteral(VX_BINARY_DIR "/src/app/vaultix");
const QString kCli = QStringLiteral(VX_BINARY_DIR "/src/cli/vaultix-cli");

QAction* MenuItem(QMainWindow& form, const char* name) {
  auto* a = form.findChild<QAction*>(QString::fromLatin1(name));
  if (!a) qFatal("menu item %s missing", name);
  return a;
}

// Runs a modal window to its end: whenever its operation is done, the
// "Close" button is pressed.
int RunToEnd(TStatusForm& form) {
  auto* watch = new QTimer(&form);
  QObject::connect(watch, &QTimer::timeout, &form, [&form, watch] {
    if (!form.OperationDone()) return;
    watch->stop();
    form.findChild<QPushButton*>(QStringLiteral("AbortButton"))->click();
  });
  watch->start(0);
  return form.exec();
}

// Keeps systemctl --user away from any real user manager: no session bus,
// an empty runtime folder.
class TNoUserManager {
 public:
  explicit TNoUserManager(const QString& runtime) {
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    QDir().mkpath(runtime);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    qputenv("VAULTIX_CLI", QFile::encodeName(kCli));
  }

 private:
  TSavedEnvironment saved_{{"DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR", "VAULTIX_CLI"}};
};

}  // namespace

class DesktopTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { vx::ReadVersionInfo(); }

  // ---- Start-up ----------------------------------------------------------------

  // Answered on the terminal without any window system (the platform named
  // here has no display to connect to).
  void TerminalOptions_data() {
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("pattern");
    QTest::newRow("--help") << "--help"
                            << "^Použitie: vaultix \\[SÚBOR\\.sqt\\]\n(.*\n)+$";
    QTest::newRow("-h") << "-h"
                        << "^Použitie: vaultix \\[SÚBOR\\.sqt\\]\n(.*\n)+$";
    QTest::newRow("--version") << "--version"
                               << "^vaultix [0-9]+(\\.[0-9]+)+\n$";
  }
  void TerminalOptions() {
    QFETCH(QString, option);
    QFETCH(QString, pattern);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    p.setProcessEnvironment(env);
    p.start(kProgram, {option});
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    QVERIFY2(QRegularExpression(pattern).match(out).hasMatch(), qPrintable(out));
    QCOMPARE(p.readAllStandardError(), QByteArray());
  }

  // The buttons of question boxes and dialogs speak Slovak.
  void QtOwnTextsAreSlovak_data() {
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("caption");
    QTest::newRow("yes") << int(QDialogButtonBox::Yes) << "Án&o";
    QTest::newRow("no") << int(QDialogButtonBox::No) << "&Nie";
    QTest::newRow("cancel") << int(QDialogButtonBox::Cancel) << "Zrušiť";
    QTest::newRow("close") << int(QDialogButtonBox::Close) << "Zavrieť";
  }
  void QtOwnTextsAreSlovak() {
    QFETCH(int, button);
    QFETCH(QString, caption);
    QVERIFY(InstallQtTranslations(*qApp));
    QDialogButtonBox box(static_cast<QDialogButtonBox::StandardButton>(button));
    QCOMPARE(box.button(static_cast<QDialogButtonBox::StandardButton>(button))->text(), caption);
  }

  // ---- The window's size -------------------------------------------------------

  void WindowGrowsAndFitsAScaledScreen() {
    TPrivateHome home;
    TMainForm form;
    // 1280x900 at 2x is 640x450; the title bar and a panel take their share.
    const QSize least = form.minimumSize();
    QVERIFY2(least.width() <= 600 && least.height() <= 380,
             qPrintable(QStringLiteral("%1x%2").arg(least.width()).arg(least.height())));
    QVERIFY(form.maximumSize().width() > 2000 && form.maximumSize().height() > 2000);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    struct TPage {
      TMainForm::TTab tab;
      int page;
      const char* control;
    };
    for (const TPage& p : {TPage{TMainForm::BackupTab, 0, "BackupIncludeTree"},
                           TPage{TMainForm::BackupTab, 1, "BackupExcludeTree"},
                           TPage{TMainForm::RestoreTab, 1, "RestoreTree"}}) {
      form.SetActiveTab(p.tab);
      form.Notebook(p.tab)->setCurrentIndex(p.page);
      form.resize(form.sizeHint());
      QCoreApplication::processEvents();
      auto* list = Control<QWidget>(&form, QString::fromLatin1(p.control));
      const QSize usual = list->size();
      form.resize(form.sizeHint() + QSize(400, 300));
      QCoreApplication::processEvents();
      const QSize grown = list->size() - usual;
      QVERIFY2(grown.width() >= 350 && grown.height() >= 250,
               qPrintable(QStringLiteral("%1 grew by %2x%3")
                              .arg(QLatin1String(p.control))
                              .arg(grown.width())
                              .arg(grown.height())));
    }
  }

  // Entries wider than their list show their whole text as a tooltip.
  void LongEntriesShowTheirWholeText() {
    TPrivateHome home;
    TPathScript paths;
    const QString longEntry = home.Home() + QStringLiteral("/") + QString(200, QLatin1Char('d'));
    QDir().mkpath(longEntry);
    paths.answers = {longEntry + QStringLiteral("/*"), longEntry + QStringLiteral("/x.txt")};
    TBoxScript boxes;
    TMainForm form;
    form.AddEntry(Control<QTreeWidget>(&form, QStringLiteral("BackupIncludeTree")));
    vx::TBackupPage page = form.ReadBackupPage();
    page.Exclude = {(longEntry + QStringLiteral("/tmp /S")).toStdString()};
    form.WriteBackupPage(page);
    QCOMPARE(Control<QTreeWidget>(&form, QStringLiteral("BackupIncludeTree"))
                 ->topLevelItem(0)
                 ->toolTip(0),
             longEntry + QStringLiteral("/*"));
    QCOMPARE(Control<QTreeWidget>(&form, QStringLiteral("BackupExcludeTree"))
                 ->topLevelItem(0)
                 ->toolTip(0),
             longEntry + QStringLiteral("/tmp /S"));
    TRestoreTree tree;
    tree.Fill(std::vector<std::string>{(longEntry + QStringLiteral("/x.txt")).toStdString()});
    QTreeWidgetItemIterator it(&tree);
    while (*it && TRestoreTree::NodePath(*it).isEmpty()) ++it;
    QVERIFY(*it);
    QCOMPARE((*it)->toolTip(0), longEntry + QStringLiteral("/x.txt"));
  }

  // ---- Help over modal windows -------------------------------------------------

  void HelpOpensOverAModalWindow_data() {
    QTest::addColumn<QString>("window");
    QTest::newRow("selection dialog") << "selection";
    QTest::newRow("status window") << "status";
  }
  void HelpOpensOverAModalWindow() {
    QFETCH(QString, window);
    TPrivateHome home;
    TBoxScript boxes;
    TMainForm form;
    form.show();
    std::unique_ptr<QDialog> modal;
    if (window == QLatin1String("selection"))
      modal = std::make_unique<TSelectionForm>(SM_ArchiveSet, &form);
    else
      modal = std::make_unique<TStatusForm>(&form, 0, vx::TWizardPages{});
    modal->setWindowModality(Qt::ApplicationModal);
    modal->show();
    QCOMPARE(QApplication::activeModalWidget(), modal.get());
    QTest::keyClick(modal.get(), Qt::Key_F1);
    THelpWindow* help = form.HelpHandler()->HelpWindow();
    QVERIFY(help);
    QVERIFY(help->isVisible());
    // A modal window lets only its own children be used.
    QCOMPARE(help->parentWidget(), modal.get());
    QTest::mouseClick(Control<QPushButton>(help, QStringLiteral("HelpCloseButton")),
                      Qt::LeftButton);
    QVERIFY(!help->isVisible());
    modal->reject();
    modal.reset();
    // Its owner gone, the help opens over the main window again.
    QTest::keyClick(&form, Qt::Key_F1);
    QVERIFY(form.HelpHandler()->HelpWindow());
    QCOMPARE(form.HelpHandler()->HelpWindow()->parentWidget(), &form);
  }

  // ---- Kept between starts -----------------------------------------------------

  void RemembersTheLastJobAndSet() {
    TPrivateHome home;
    TBoxScript boxes;
    const QString job = home.Home() + QStringLiteral("/nocna.sqt");
    const std::string base = home.Path(QStringLiteral("sady/SET")).toStdString();
    vx::test::WriteArchive(base, {{"/a/1", "x"}}, 0, "", "", std::int64_t{1} << 30);
    const QString set = QString::fromStdString(base) + QStringLiteral(".001");
    {
      TMainForm first;
      QVERIFY(!MenuItem(first, "FileReopen")->isEnabled());
      vx::TBackupPage page = first.ReadBackupPage();
      page.Include = {"/srv/data/* /S"};
      first.WriteBackupPage(page);
      QVERIFY(first.SaveJob(job));
      first.SetActiveTab(TMainForm::RestoreTab);
      Control<QLineEdit>(&first, QStringLiteral("RestoreSetEdit"))->setText(set);
      QVERIFY(first.ReadSetInfo());
    }
    TMainForm second;
    QCOMPARE(Control<QLineEdit>(&second, QStringLiteral("RestoreSetEdit"))->text(), set);
    QCOMPARE(Control<QLineEdit>(&second, QStringLiteral("VerifySetEdit"))->text(), set);
    QAction* reopen = MenuItem(second, "FileReopen");
    QVERIFY(reopen->isEnabled());
    QCOMPARE(reopen->text(), QStringLiteral("Znovu otvoriť nocna.sqt"));
    QVERIFY(second.ReadBackupPage().Include.empty());
    reopen->trigger();
    QCOMPARE(second.ReadBackupPage().Include, std::vector<std::string>{"/srv/data/* /S"});
    QCOMPARE(second.JobFile(), job);
    QVERIFY(boxes.shown.empty());
    // A job that is gone is not offered.
    QVERIFY(QFile::remove(job));
    TMainForm third;
    QVERIFY(!MenuItem(third, "FileReopen")->isEnabled());
  }

  // Both job dialogs start in the desktop folder when there is one, else in
  // the home folder, with no name filled in by the save dialog.
  void JobDialogsStartWhereJobsAreSaved_data() {
    QTest::addColumn<bool>("desktopExists");
    QTest::newRow("desktop folder there") << true;
    QTest::newRow("desktop folder missing") << false;
  }
  void JobDialogsStartWhereJobsAreSaved() {
    QFETCH(bool, desktopExists);
    TPrivateHome home;
    if (desktopExists) QDir().mkpath(home.Home() + QStringLiteral("/Plocha"));
    WriteBytes(home.Path(QStringLiteral("config/user-dirs.dirs")),
               "XDG_DESKTOP_DIR=\"$HOME/Plocha\"\n");
    TFileDialogScript dialogs;
    TMainForm form;
    form.SaveJob(QString());
    form.LoadJob(QString());
    QCOMPARE(dialogs.requests.size(), std::size_t{2});
    const QString expected = desktopExists ? home.Home() + QStringLiteral("/Plocha") : home.Home();
    QCOMPARE(dialogs.requests[0].Folder, expected);
    QVERIFY(dialogs.requests[0].FileName.isEmpty());
    QCOMPARE(dialogs.requests[1].Folder, expected);
  }

  // ---- Scheduling --------------------------------------------------------------

  void NextRunOfASchedule_data() {
    QTest::addColumn<QString>("when");  // as vaultix-cli schedules lists it
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QDateTime>("next");
    // 2026-12-08 is a Tuesday.
    const QDateTime now(QDate(2026, 12, 8), QTime(14, 0));
    QTest::newRow("daily, later today")
        << "daily 23:30" << now << QDateTime(QDate(2026, 12, 8), QTime(23, 30));
    QTest::newRow("daily, passed today")
        << "daily 02:30" << now << QDateTime(QDate(2026, 12, 9), QTime(2, 30));
    QTest::newRow("daily, this very minute")
        << "daily 14:00" << now << QDateTime(QDate(2026, 12, 9), QTime(14, 0));
    QTest::newRow("weekly, later this week")
        << "weekly Fri 08:15" << now << QDateTime(QDate(2026, 12, 11), QTime(8, 15));
    QTest::newRow("weekly, earlier this week")
        << "weekly Mon 08:15" << now << QDateTime(QDate(2026, 12, 14), QTime(8, 15));
    QTest::newRow("weekly, today still to come")
        << "weekly Tue 20:00" << now << QDateTime(QDate(2026, 12, 8), QTime(20, 0));
    QTest::newRow("weekly, today passed")
        << "weekly Tue 09:00" << now << QDateTime(QDate(2026, 12, 15), QTime(9, 0));
    QTest::newRow("weekly across the year")
        << "weekly Sun 23:59" << QDateTime(QDate(2026, 12, 28), QTime(0, 0))
        << QDateTime(QDate(2027, 1, 3), QTime(23, 59));
  }
  void NextRunOfASchedule() {
    QFETCH(QString, when);
    QFETCH(QDateTime, now);
    QFETCH(QDateTime, next);
    const auto parsed = ParseScheduleTime(when);
    QVERIFY(parsed);
    QCOMPARE(NextRun(*parsed, now), next);
  }

  void ScheduleTimesFromTheCommandLine_data() {
    QTest::addColumn<QString>("listed");
    QTest::addColumn<QStringList>("arguments");  // empty: not understood
    QTest::addColumn<QString>("words");
    QTest::newRow("daily") << "daily 02:30" << QStringList{"--daily", "02:30"} << "denne o 02:30";
    QTest::newRow("weekly") << "weekly Wed 21:05" << QStringList{"--weekly", "wed", "21:05"}
                            << "každú stredu o 21:05";
    QTest::newRow("weekly sunday")
        << "weekly Sun 00:00" << QStringList{"--weekly", "sun", "00:00"} << "každú nedeľu o 00:00";
    QTest::newRow("no such day") << "weekly Xyz 02:30" << QStringList{} << "";
    QTest::newRow("no time") << "daily 25:00" << QStringList{} << "";
    QTest::newRow("something else") << "monthly 1 02:30" << QStringList{} << "";
  }
  void ScheduleTimesFromTheCommandLine() {
    QFETCH(QString, listed);
    QFETCH(QStringList, arguments);
    QFETCH(QString, words);
    const auto when = ParseScheduleTime(listed);
    QCOMPARE(when.has_value(), !arguments.isEmpty());
    if (!when) return;
    QCOMPARE(ScheduleArguments(*when), arguments);
    QCOMPARE(DescribeScheduleTime(*when), words);
  }

  // The dialog schedules and removes through vaultix-cli itself: the same
  // unit files as `vaultix-cli schedule`.
  void ScheduleDialogUsesTheCommandLine() {
    TPrivateHome home;
    TNoUserManager noManager(home.Path(QStringLiteral("runtime")));
    TBoxScript boxes;
    const QString job = home.Home() + QStringLiteral("/tyzdenna.sqt");
    {
      // A job that can run: schedule refuses one that would take nothing.
      WriteBytes(home.Path(QStringLiteral("src/a.txt")), "obsah");
      TMainForm form;
      vx::TBackupPage page = form.ReadBackupPage();
      page.Include = {(home.Path(QStringLiteral("src")) + "/*.* /S").toStdString()};
      page.Location = (home.Path(QStringLiteral("dst")) + "/").toStdString();
      form.WriteBackupPage(page);
      QVERIFY(form.SaveJob(job));
    }
    TScheduleDialog dialog(job);
    dialog.SetClock([] { return QDateTime(QDate(2026, 12, 8), QTime(14, 0)); });
    QVERIFY(!dialog.Current());
    QCOMPARE(Control<QLabel>(&dialog, QStringLiteral("ScheduleStateLabel"))->text(),
             QStringLiteral("Záloha nie je naplánovaná."));
    QVERIFY(!Control<QPushButton>(&dialog, QStringLiteral("UnscheduleButton"))->isEnabled());
    Control<QRadioButton>(&dialog, QStringLiteral("ScheduleWeeklyRadio"))->setChecked(true);
    Control<QComboBox>(&dialog, QStringLiteral("ScheduleDayCombo"))->setCurrentIndex(2);
    Control<QTimeEdit>(&dialog, QStringLiteral("ScheduleTimeEdit"))->setTime(QTime(3, 15));
    QVERIFY(Control<QLabel>(&dialog, QStringLiteral("ScheduleNextLabel"))
                ->text()
                .startsWith(QStringLiteral("Ďalšie spustenie: streda ")));
    Control<QPushButton>(&dialog, QStringLiteral("ScheduleButton"))->click();
    QVERIFY2(boxes.shown.size() == 1, boxes.shown.empty() ? "" : qPrintable(boxes.shown[0].Text));
    QVERIFY2(boxes.shown[0].Text.startsWith(QStringLiteral("Naplánované: každú stredu o 03:15\n")),
             qPrintable(boxes.shown[0].Text));
    const QString timer = home.Path(QStringLiteral("config/systemd/user/vaultix-tyzdenna.timer"));
    QVERIFY(ReadBytes(timer).contains("OnCalendar=Wed *-*-* 03:15:00"));
    QVERIFY(dialog.Current());
    QCOMPARE(dialog.Current()->When, QStringLiteral("weekly Wed 03:15"));
    QVERIFY(Control<QLabel>(&dialog, QStringLiteral("ScheduleStateLabel"))
                ->text()
                .startsWith(QStringLiteral("Naplánované: každú stredu o 03:15\n")));
    // A new dialog finds the schedule again.
    TScheduleDialog again(job);
    QVERIFY(again.Current());
    QVERIFY(Control<QRadioButton>(&again, QStringLiteral("ScheduleWeeklyRadio"))->isChecked());
    QCOMPARE(Control<QTimeEdit>(&again, QStringLiteral("ScheduleTimeEdit"))->time(), QTime(3, 15));
    Control<QPushButton>(&again, QStringLiteral("UnscheduleButton"))->click();
    QVERIFY(!again.Current());
    QVERIFY(!QFileInfo::exists(timer));
    QCOMPARE(boxes.shown.size(), std::size_t{1});
  }

  // "Plánovať…" saves what the pages show into the job file before the
  // schedule dialog opens for it.
  void ScheduleItemSavesTheJobFirst() {
    TPrivateHome home;
    TNoUserManager noManager(home.Path(QStringLiteral("runtime")));
    TBoxScript boxes;
    TFileDialogScript dialogs;
    const QString job = home.Home() + QStringLiteral("/denna.sqt");
    dialogs.answers = {job};
    TMainForm form;
    vx::TBackupPage page = form.ReadBackupPage();
    page.Include = {"/srv/* /S"};
    form.WriteBackupPage(page);
    QString opened;
    QTimer::singleShot(0, &form, [&opened] {
      if (auto* d = qobject_cast<TScheduleDialog*>(QApplication::activeModalWidget())) {
        opened = d->objectName();
        d->reject();
      }
    });
    MenuItem(form, "FileSchedule")->trigger();
    QCOMPARE(MenuItem(form, "FileSchedule")->text(), QStringLiteral("Plánovať…"));
    QCOMPARE(opened, QStringLiteral("ScheduleForm"));
    QCOMPARE(dialogs.requests.size(), std::size_t{1});
    QVERIFY(dialogs.requests[0].Save);
    QVERIFY(ReadBytes(job).contains("/srv/* /S"));
    QCOMPARE(form.JobFile(), job);
  }

  // ---- Runs from the window ----------------------------------------------------

  void NotificationWhenARunEndsMinimised_data() {
    QTest::addColumn<bool>("minimised");
    QTest::addColumn<int>("notifications");
    QTest::newRow("minimised") << true << 1;
    QTest::newRow("in sight") << false << 0;
  }
  void NotificationWhenARunEndsMinimised() {
    QFETCH(bool, minimised);
    QFETCH(int, notifications);
    TPrivateHome home;
    TBoxScript boxes;
    WriteBytes(home.Path(QStringLiteral("src/a.txt")), "obsah");
    std::vector<std::tuple<QString, QString, bool>> shown;
    SetNotifyHook(
        [&shown](const QString& s, const QString& b, bool ok) { shown.emplace_back(s, b, ok); });
    vx::TWizardPages pages;
    pages.Backup.Include = {(home.Path(QStringLiteral("src")) + "/*.* /S").toStdString()};
    pages.Backup.Location = (home.Path(QStringLiteral("dst")) + "/").toStdString();
    QWidget main;
    TStatusForm form(&main, 0, pages);
    if (minimised) form.setWindowState(Qt::WindowMinimized);
    RunToEnd(form);
    SetNotifyHook(nullptr);
    QCOMPARE(int(shown.size()), notifications);
    if (notifications == 0) return;
    QCOMPARE(std::get<0>(shown[0]), QStringLiteral("Vaultix"));
    QCOMPARE(std::get<1>(shown[0]), QStringLiteral("Záloha dát je ukončená."));
    QVERIFY(std::get<2>(shown[0]));
  }

  // A set split by size into one folder is written without asking for any
  // medium.
  void SplitSetOnOneDiskAsksForNoMedium() {
    TPrivateHome home;
    TBoxScript boxes;
    InstallEngineHooks();
    std::string noise(300 * 1024, '\0');
    std::uint32_t x = 12345;
    for (char& c : noise) {
      x = x * 1103515245u + 12345u;
      c = static_cast<char>(x >> 24);
    }
    WriteBytes(home.Path(QStringLiteral("src/noise.bin")), QByteArray::fromStdString(noise));
    vx::TWizardPages pages;
    pages.Backup.Include = {(home.Path(QStringLiteral("src")) + "/*.* /S").toStdString()};
    pages.Backup.Location = (home.Path(QStringLiteral("dst")) + "/").toStdString();
    pages.Backup.SegmentSizeKB = "100";
    pages.Backup.Compression = 0;
    QWidget main;
    TStatusForm form(&main, 0, pages);
    RunToEnd(form);
    vx::SetQuestionBoxHook(nullptr);
    vx::SetProcessMessagesHook(nullptr);
    QCOMPARE(form.ResultCode(), 0);
    QStringList texts;
    for (const auto& b : boxes.shown) texts << b.Text;
    QCOMPARE(texts, QStringList{QStringLiteral("Záloha dát je ukončená.")});
    for (const char* volume : {"dst/Backup.001", "dst/Backup.002", "dst/Backup.003"})
      QVERIFY2(QFileInfo::exists(home.Path(QString::fromLatin1(volume))), volume);
  }
};

QTEST_MAIN(DesktopTest)
#include "desktop_test.moc"
