// Job files through the main window (menu items, dialogs, every control they
// keep) and what the program keeps outside itself (settings, file type).
#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
#include <QTest>
#include <QTreeWidget>
#include <QXmlStreamReader>

#include "support/version.h"
#include "ui/main_form.h"
#include "ui/restore_tree.h"
#include "ui/settings.h"
#include "ui/texts.h"
#include "ui/ui_fixture.h"

using namespace vx::ui;
using namespace vx::ui::test;

namespace {

// A control's value as text: an edit's text or a button's checked state.
QString Value(QObject* form, const QString& name) {
  QObject* c = Control<QObject>(form, name);
  if (auto* e = qobject_cast<QLineEdit*>(c)) return e->text();
  return static_cast<QAbstractButton*>(c)->isChecked() ? QStringLiteral("on")
                                                       : QStringLiteral("off");
}

void SetValue(QObject* form, const QString& name, const QString& value) {
  QObject* c = Control<QObject>(form, name);
  if (auto* e = qobject_cast<QLineEdit*>(c)) {
    if (!e->isEnabled()) qFatal("%s is disabled", qPrintable(name));
    e->setText(value);
  } else if (Value(form, name) != value) {
    static_cast<QAbstractButton*>(c)->click();
  }
}

QStringList Entries(QObject* form, const QString& list) {
  auto* t = Control<QTreeWidget>(form, list);
  QStringList out;
  for (int i = 0; i < t->topLevelItemCount(); ++i)
    out << t->topLevelItem(i)->text(0) + QLatin1Char('#') +
               QString::number(t->topLevelItem(i)->data(0, kImageRole).toInt());
  return out;
}

}  // namespace

class JobSettingsTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { vx::ReadVersionInfo(); }
  void JobKeepsEveryControl_data();
  void JobKeepsEveryControl();
  void EntriesAreAppendedWithTheirImages();
  void RefusedFileChangesNothing_data();
  void RefusedFileChangesNothing();
  void MenuItemsAskWithTheJobDialogs();
  void CancelledDialogsDoNothing();
  void ProgramPathIsRecorded();
  void UnwritableSettingsAreReportedAndStartUpGoesOn();
  void FileTypeIsRegisteredForTheLastProgram();
  void ProgramPathWithBlanksIsQuoted();
  void UnwritableFileTypeIsReported();
  void RegistrationGivesWayToThePackage_data();
  void RegistrationGivesWayToThePackage();
  void UnregisterRemovesOnlyWhatTheProgramWrote_data();
  void UnregisterRemovesOnlyWhatTheProgramWrote();
};

void JobSettingsTest::JobKeepsEveryControl_data() {
  QTest::addColumn<QStringList>("steps");  // control=value, in order
  QTest::newRow("BackupToTapeCheck") << QStringList{"BackupToTapeCheck=on"};
  QTest::newRow("BackupLocationEdit") << QStringList{"BackupLocationEdit=/srv/zálohy/"};
  QTest::newRow("BackupBaseNameEdit") << QStringList{"BackupBaseNameEdit=Týždeň"};
  for (int i = 0; i < 4; ++i)
    QTest::newRow(qPrintable(QStringLiteral("BackupModeGroup%1").arg(i)))
        << QStringList{QStringLiteral("BackupModeGroup%1=on").arg(i)};
  for (int i = 0; i < 3; ++i)
    QTest::newRow(qPrintable(QStringLiteral("BackupCompressionGroup%1").arg(i)))
        << QStringList{QStringLiteral("BackupCompressionGroup%1=on").arg(i)};
  for (const char* c : {"BackupOpenFilesCheck", "BackupSkipLocksCheck", "BackupEraseTargetCheck",
                        "BackupUseEncryptionCheck", "BackupVerifyCheck"})
    QTest::newRow(c) << QStringList{QString::fromLatin1(c) + "=on"};
  for (const char* c : {"BackupHiddenFilesCheck", "BackupCreateLogCheck"})
    QTest::newRow(qPrintable(QString::fromLatin1(c) + " off"))
        << QStringList{QString::fromLatin1(c) + "=off"};
  QTest::newRow("BackupPasswordEdit")
      << QStringList{"BackupUseEncryptionCheck=on", "BackupPasswordEdit=heslo = s medzerou"};
  QTest::newRow("BackupCommentEdit") << QStringList{"BackupCommentEdit=Mesačná; ľšč"};
  QTest::newRow("BackupCommentEdit empty") << QStringList{"BackupCommentEdit="};
}

void JobSettingsTest::JobKeepsEveryControl() {
  QFETCH(QStringList, steps);
  TPrivateHome home;
  TBoxScript boxes;
  const QString file = home.Path(QStringLiteral("job.sqt"));
  {
    TMainForm form;
    form.findChild<QTreeWidget*>(QStringLiteral("BackupIncludeTree"))
        ->addTopLevelItem(new QTreeWidgetItem(QStringList{"/data /S"}));
    for (const QString& s : steps) {
      const int eq = s.indexOf(QLatin1Char('='));
      SetValue(&form, s.left(eq), s.mid(eq + 1));
    }
    form.SaveJob(file);
  }
  TMainForm loaded;
  QVERIFY(loaded.LoadJob(file));
  for (const QString& s : steps) {
    const int eq = s.indexOf(QLatin1Char('='));
    QCOMPARE(Value(&loaded, s.left(eq)), s.mid(eq + 1));
  }
  QCOMPARE(Entries(&loaded, QStringLiteral("BackupIncludeTree")), QStringList({"/data /S#1"}));
  QVERIFY(boxes.shown.empty());
}

void JobSettingsTest::EntriesAreAppendedWithTheirImages() {
  TPrivateHome home;
  const QString file = home.Path(QStringLiteral("job.sqt"));
  WriteBytes(file,
             "[ID]\nVelmora=1\n[Include]\nFiles0=/a=b.txt\nFiles1=/x/*.tmp\n"
             "[Exclude]\nX=/y/file?.o\n");
  TMainForm form;
  QVERIFY(form.LoadJob(file));
  QVERIFY(form.LoadJob(file));
  QCOMPARE(Entries(&form, QStringLiteral("BackupIncludeTree")),
           QStringList({"/a=b.txt#1", "/x/*.tmp#0", "/a=b.txt#1", "/x/*.tmp#0"}));
  QCOMPARE(Entries(&form, QStringLiteral("BackupExcludeTree")),
           QStringList({"/y/file?.o#0", "/y/file?.o#0"}));
  QCOMPARE(form.findChild<QTreeWidget*>(QStringLiteral("BackupIncludeTree"))->currentIndex().row(),
           0);
}

void JobSettingsTest::RefusedFileChangesNothing_data() {
  QTest::addColumn<QString>("content");  // "" : no such file
  QTest::addColumn<QString>("message");
  QTest::newRow("marker missing") << "[ID]\n[Include]\nFiles0=/x\n[How]\nComment=c\n"
                                  << "\nNeplatný formát záložnej sady";
  QTest::newRow("marker 0") << "[ID]\nVelmora=0\n[Include]\nFiles0=/x\n"
                            << "\nNeplatný formát záložnej sady";
  QTest::newRow("no file") << ""
                           << "\nSúbor nenájdený.\nNesprávna cesta k súboru";
}

void JobSettingsTest::RefusedFileChangesNothing() {
  QFETCH(QString, content);
  QFETCH(QString, message);
  TPrivateHome home;
  TBoxScript boxes;
  const QString file = home.Path(QStringLiteral("job.sqt"));
  if (!content.isEmpty()) WriteBytes(file, content.toUtf8());
  TMainForm form;
  const QString comment = Value(&form, QStringLiteral("BackupCommentEdit"));
  QVERIFY(!form.LoadJob(file));
  QCOMPARE(boxes.shown.size(), std::size_t{1});
  QCOMPARE(boxes.shown[0].Text, file + message);
  QCOMPARE(boxes.shown[0].Icon, TBoxIcon::Stop);
  QVERIFY(Entries(&form, QStringLiteral("BackupIncludeTree")).isEmpty());
  QCOMPARE(Value(&form, QStringLiteral("BackupCommentEdit")), comment);
}

void JobSettingsTest::MenuItemsAskWithTheJobDialogs() {
  TPrivateHome home;
  TFileDialogScript dialogs;
  const QString file = home.Path(QStringLiteral("menu.sqt"));
  dialogs.answers = {file, file};
  TMainForm form;
  SetValue(&form, QStringLiteral("BackupCommentEdit"), QStringLiteral("z menu"));
  Control<QAction>(&form, QStringLiteral("FileSave"))->trigger();
  TMainForm other;
  Control<QAction>(&other, QStringLiteral("FileOpen"))->trigger();
  QCOMPARE(Value(&other, QStringLiteral("BackupCommentEdit")), QStringLiteral("z menu"));
  QCOMPARE(dialogs.requests.size(), std::size_t{2});
  const TFileDialogRequest& save = dialogs.requests[0];
  QVERIFY(save.Save);
  QCOMPARE(save.Caption, QStringLiteral("Uložiť záložnú sadu"));
  QCOMPARE(save.Folder, home.Home());  // no desktop folder in the private home
  QVERIFY(save.FileName.isEmpty());
  QCOMPARE(save.DefaultSuffix, QStringLiteral("sqt"));
  const TFileDialogRequest& open = dialogs.requests[1];
  QVERIFY(!open.Save);
  QCOMPARE(open.Caption, QStringLiteral("Otvoriť záložnú sadu"));
  QCOMPARE(open.FileName, QStringLiteral("*.sqt"));
  QVERIFY(open.Filter.startsWith(QStringLiteral("Záložná sada (*.SQT")));
}

void JobSettingsTest::CancelledDialogsDoNothing() {
  TPrivateHome home;
  TBoxScript boxes;
  TFileDialogScript dialogs;  // answers nothing: cancelled
  TMainForm form;
  Control<QAction>(&form, QStringLiteral("FileSave"))->trigger();
  Control<QAction>(&form, QStringLiteral("FileOpen"))->trigger();
  QCOMPARE(dialogs.requests.size(), std::size_t{2});
  QVERIFY(boxes.shown.empty());
  QVERIFY(QDir(home.Home()).entryList(QDir::Files).isEmpty());
}

void JobSettingsTest::ProgramPathIsRecorded() {
  TPrivateHome home;
  TBoxScript boxes;
  QVERIFY(SettingsFileName().startsWith(home.Path(QStringLiteral("config/Zarel/"))));
  QVERIFY(SettingsFileName().endsWith(QStringLiteral("/Velmora.conf")));
  QVERIFY(RecordProgramPath(QStringLiteral("/opt/one/vaultix"), QStringLiteral("c"), nullptr));
  QVERIFY(RecordProgramPath(QStringLiteral("/opt/two/vaultix"), QStringLiteral("c"), nullptr));
  QSettings s(SettingsFileName(), QSettings::IniFormat);
  QCOMPARE(s.value(QStringLiteral("Path")).toString(), QStringLiteral("/opt/two/vaultix"));
  QVERIFY(boxes.shown.empty());
}

void JobSettingsTest::UnwritableSettingsAreReportedAndStartUpGoesOn() {
  TPrivateHome home;
  TBoxScript boxes;
  // A file where the settings folder should be.
  WriteBytes(home.Path(QStringLiteral("config/Zarel")), "not a folder");
  TMainForm form({}, QStringLiteral("/opt/vaultix"));
  QVERIFY(!boxes.shown.empty());
  QCOMPARE(boxes.shown[0].Text, text::kRegistryFailed + SettingsFileName());
  QCOMPARE(boxes.shown[0].Icon, TBoxIcon::Stop);
  QCOMPARE(boxes.shown[0].Caption, QStringLiteral("Vaultix"));
  // The rest of the start-up ran: the file type was registered.
  QVERIFY(QFileInfo::exists(DesktopEntryFileName()));
  QCOMPARE(form.CurrentPageName(), QStringLiteral("BackupInclude"));
}

void JobSettingsTest::FileTypeIsRegisteredForTheLastProgram() {
  TPrivateHome home;
  TBoxScript boxes;
  QVERIFY(RegisterFileAssociation(QStringLiteral("/opt/one/vaultix"), nullptr));
  QVERIFY(RegisterFileAssociation(QStringLiteral("/opt/two/vaultix"), nullptr));
  QVERIFY(MimePackageFileName().startsWith(home.Path(QStringLiteral("data/mime/packages/"))));
  QVERIFY(DesktopEntryFileName().startsWith(home.Path(QStringLiteral("data/applications/"))));
  const QString mime = QString::fromUtf8(ReadBytes(MimePackageFileName()));
  QVERIFY(mime.contains(QStringLiteral("<glob pattern=\"*.sqt\"/>")));
  const QString desktop = QString::fromUtf8(ReadBytes(DesktopEntryFileName()));
  QVERIFY2(desktop.contains(QStringLiteral("\nExec=/opt/two/vaultix %f\n")), qPrintable(desktop));
  QVERIFY(desktop.contains(QStringLiteral("\nMimeType=application/x-vaultix-job;\n")));
  QVERIFY(boxes.shown.empty());
}

void JobSettingsTest::ProgramPathWithBlanksIsQuoted() {
  TPrivateHome home;
  QVERIFY(RegisterFileAssociation(QStringLiteral("/opt/my apps/100%/vaultix"), nullptr));
  const QString desktop = QString::fromUtf8(ReadBytes(DesktopEntryFileName()));
  QVERIFY2(desktop.contains(QStringLiteral("\nExec=\"/opt/my apps/100%%/vaultix\" %f\n")),
           qPrintable(desktop));
}

void JobSettingsTest::UnwritableFileTypeIsReported() {
  TPrivateHome home;
  TBoxScript boxes;
  WriteBytes(home.Path(QStringLiteral("data/mime")), "not a folder");
  QVERIFY(!RegisterFileAssociation(QStringLiteral("/opt/vaultix"), nullptr));
  QCOMPARE(boxes.shown.size(), std::size_t{1});
  QVERIFY(boxes.shown[0].Text.contains(MimePackageFileName()));
  QCOMPARE(boxes.shown[0].Icon, TBoxIcon::Stop);
}

// Files in the private home: "entry" the user's menu entry, "mime" the
// user's MIME file, "sys-entry" and "sys-mime" a package's in XDG_DATA_DIRS.
// A value: "ours" (written by this program), "old" (written by a version
// before the mark), "own" (the user's own file), "" none.
struct TRegistrationFiles {
  QString entry, mime;
};

const QByteArray kOldEntry =
    "[Desktop Entry]\nType=Application\nName=Vaultix\nComment=Zálohovanie údajov Vaultix\n"
    "Exec=/opt/vaultix %f\n";
const QByteArray kOldMime =
    "<?xml version=\"1.0\"?>\n<mime-info><mime-type type=\"application/x-vaultix-job\">"
    "<comment>Záložná sada</comment></mime-type></mime-info>\n";
const QByteArray kOwnEntry = "[Desktop Entry]\nType=Application\nName=My backup\nExec=my-vaultix\n";
const QByteArray kOwnMime = "<?xml version=\"1.0\"?>\n<mime-info/>\n";

void PutUserFiles(const TRegistrationFiles& files) {
  if (files.entry == QLatin1String("ours") || files.mime == QLatin1String("ours"))
    QVERIFY(RegisterFileAssociation(QStringLiteral("/opt/vaultix"), nullptr));
  if (files.entry == QLatin1String("old")) WriteBytes(DesktopEntryFileName(), kOldEntry);
  if (files.entry == QLatin1String("own")) WriteBytes(DesktopEntryFileName(), kOwnEntry);
  if (files.mime == QLatin1String("old")) WriteBytes(MimePackageFileName(), kOldMime);
  if (files.mime == QLatin1String("own")) WriteBytes(MimePackageFileName(), kOwnMime);
}

void JobSettingsTest::RegistrationGivesWayToThePackage_data() {
  QTest::addColumn<bool>("sysEntry");    // a package installed the menu entry
  QTest::addColumn<bool>("sysMime");     // ... the job-file type
  QTest::addColumn<QString>("before");   // the user's files before: ours, old, own
  QTest::addColumn<bool>("entryAfter");  // the user's menu entry exists afterwards
  QTest::addColumn<bool>("mimeAfter");
  QTest::newRow("no package") << false << false << "" << true << true;
  QTest::newRow("package") << true << true << "" << false << false;
  QTest::newRow("package, registered before") << true << true << "ours" << false << false;
  QTest::newRow("package, older version's files") << true << true << "old" << false << false;
  QTest::newRow("package, user's own files") << true << true << "own" << true << true;
  QTest::newRow("package with the type only") << false << true << "" << true << false;
  QTest::newRow("package with the entry only") << true << false << "" << false << true;
}

void JobSettingsTest::RegistrationGivesWayToThePackage() {
  QFETCH(bool, sysEntry);
  QFETCH(bool, sysMime);
  QFETCH(QString, before);
  QFETCH(bool, entryAfter);
  QFETCH(bool, mimeAfter);
  TPrivateHome home;
  TBoxScript boxes;
  PutUserFiles({before, before});
  if (sysEntry)
    WriteBytes(home.Path(QStringLiteral("system/applications/vaultix.desktop")), kOwnEntry);
  if (sysMime) WriteBytes(home.Path(QStringLiteral("system/mime/packages/vaultix.xml")), kOwnMime);
  QVERIFY(RegisterFileAssociation(QStringLiteral("/opt/two/vaultix"), nullptr));
  QCOMPARE(QFileInfo::exists(DesktopEntryFileName()), entryAfter);
  QCOMPARE(QFileInfo::exists(MimePackageFileName()), mimeAfter);
  if (mimeAfter && before.isEmpty()) {
    // Well-formed, or the desktop's MIME database refuses it.
    QXmlStreamReader xml(ReadBytes(MimePackageFileName()));
    while (!xml.atEnd()) xml.readNext();
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
  }
  // The user's own files are never touched.
  if (before == QLatin1String("own") && sysEntry) {
    QCOMPARE(ReadBytes(DesktopEntryFileName()), kOwnEntry);
    QCOMPARE(ReadBytes(MimePackageFileName()), kOwnMime);
  }
  QVERIFY(boxes.shown.empty());
}

void JobSettingsTest::UnregisterRemovesOnlyWhatTheProgramWrote_data() {
  QTest::addColumn<QString>("entry");
  QTest::addColumn<QString>("mime");
  QTest::addColumn<int>("removed");
  QTest::newRow("registered") << "ours"
                              << "ours" << 2;
  QTest::newRow("older version's files") << "old"
                                         << "old" << 2;
  QTest::newRow("user's own files") << "own"
                                    << "own" << 0;
  QTest::newRow("own entry, our type") << "own"
                                       << "ours" << 1;
  QTest::newRow("nothing") << ""
                           << "" << 0;
}

void JobSettingsTest::UnregisterRemovesOnlyWhatTheProgramWrote() {
  QFETCH(QString, entry);
  QFETCH(QString, mime);
  QFETCH(int, removed);
  TPrivateHome home;
  PutUserFiles({entry, mime});
  QStringList gone;
  QString error;
  QVERIFY2(UnregisterFileAssociation(gone, error), qPrintable(error));
  QCOMPARE(gone.size(), removed);
  QCOMPARE(QFileInfo::exists(DesktopEntryFileName()), entry == QLatin1String("own"));
  QCOMPARE(QFileInfo::exists(MimePackageFileName()), mime == QLatin1String("own"));
  if (entry == QLatin1String("own")) QCOMPARE(ReadBytes(DesktopEntryFileName()), kOwnEntry);
}

QTEST_MAIN(JobSettingsTest)
#include "job_settings_test.moc"
