// The wizard driven like a user would, with the real engine: back up a folder
// (maximal compression, a password), verify the set, restore two ticked files
// elsewhere and compare their bytes; abort a running backup.
#include <QAction>
#include <QCheckBox>
#include <QDirIterator>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

#include "engine/vaultrex.h"
#include "support/version.h"
#include "ui/main_form.h"
#include "ui/restore_tree.h"
#include "ui/status_form.h"
#include "ui/ui_fixture.h"

using namespace vx::ui;
using namespace vx::ui::test;

namespace {

// What a status window showed when its operation ended.
struct TRun {
  bool seen = false;
  int result = -1;
  QString status;
};

// Watches for the status window: act() runs once while it is running (when
// given), and when it is done its result is kept and it is closed.
class TStatusWatch {
 public:
  explicit TStatusWatch(std::function<void(TStatusForm&)> act = nullptr) : act_(std::move(act)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(0);
  }
  TRun run;

 private:
  void Poll() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* s = qobject_cast<TStatusForm*>(w);
      if (!s || !s->isVisible()) continue;
      if (!s->OperationDone()) {
        if (act_) std::exchange(act_, nullptr)(*s);
        continue;
      }
      run = {true, s->ResultCode(), s->StatusText()};
      timer_.stop();
      Control<QPushButton>(s, QStringLiteral("AbortButton"))->click();  // now "Close"
    }
  }
  QTimer timer_;
  std::function<void(TStatusForm&)> act_;
};

QByteArray Content(int size, quint32 seed) {
  QByteArray b(size, Qt::Uninitialized);
  QRandomGenerator g(seed);
  for (int i = 0; i < size; ++i) b[i] = static_cast<char>("abcdefgh \n"[g.bounded(10)]);
  return b;
}

void Press(TMainForm& form, const QString& expectPage) {
  Control<QPushButton>(&form, QStringLiteral("NextButton"))->click();
  QCOMPARE(form.CurrentPageName(), expectPage);
}

}  // namespace

class EndToEndTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    vx::ReadVersionInfo();
    InstallEngineHooks();
  }
  void BackupVerifyRestoreTwoFiles();
  void AbortButtonStopsARunningBackup();
  void JobWithoutEraseTargetKeepsTheFolder_data();
  void JobWithoutEraseTargetKeepsTheFolder();
  void AbortedRunAgainKeepsThePreviousSet();
};

void EndToEndTest::BackupVerifyRestoreTwoFiles() {
  TPrivateHome home;
  TBoxScript boxes;
  TPathScript paths;
  const QString source = home.Home() + QStringLiteral("/zdroj");
  const QStringList names = {"a.txt", "sub/b.txt", "sub/c.txt", "sub/deep/d.txt", "e.txt"};
  for (int i = 0; i < names.size(); ++i)
    WriteBytes(source + QLatin1Char('/') + names[i], Content(50000 + 70000 * i, i + 1));
  QDir().mkpath(home.Home() + QStringLiteral("/zaloha"));
  QDir().mkpath(home.Home() + QStringLiteral("/obnova"));
  const QString password = QStringLiteral("tajné heslo");

  TMainForm form;
  form.show();
  // Backup: the folder with its subfolders, maximal compression, encrypted.
  paths.answers = {source + QStringLiteral("/* /S")};  // as the dialog gives a folder
  Control<QPushButton>(&form, QStringLiteral("BackupIncludeAddButton"))->click();
  Press(form, QStringLiteral("BackupExclude"));
  Press(form, QStringLiteral("BackupWhere"));
  Control<QLineEdit>(&form, QStringLiteral("BackupLocationEdit"))
      ->setText(home.Home() + QStringLiteral("/zaloha/"));
  Press(form, QStringLiteral("BackupHow"));
  Control<QRadioButton>(&form, QStringLiteral("BackupCompressionGroup2"))->click();
  Control<QCheckBox>(&form, QStringLiteral("BackupUseEncryptionCheck"))->click();
  Control<QLineEdit>(&form, QStringLiteral("BackupPasswordEdit"))->setText(password);
  Control<QLineEdit>(&form, QStringLiteral("BackupPasswordConfirmEdit"))->setText(password);
  {
    TStatusWatch watch;
    Press(form, QStringLiteral("BackupHow"));
    QVERIFY(watch.run.seen);
    QCOMPARE(watch.run.result, 0);
    QCOMPARE(watch.run.status, QStringLiteral("Záloha dát je ukončená."));
  }
  const QString set = home.Home() + QStringLiteral("/zaloha/Backup.001");
  QVERIFY(QFileInfo(set).isFile());
  // The data are packed and enciphered: no source text shows in the set.
  QVERIFY(!ReadBytes(set).contains(Content(50000, 1).left(64)));

  // Verify from the Kontrola tab, the password left empty: the encrypted set
  // asks for it.
  form.SetActiveTab(TMainForm::VerifyTab);
  Control<QLineEdit>(&form, QStringLiteral("VerifySetEdit"))->setText(set);
  Press(form, QStringLiteral("VerifyHow"));
  {
    boxes.passwords = {password};
    TStatusWatch watch;
    Press(form, QStringLiteral("VerifyHow"));
    QVERIFY(watch.run.seen);
    QCOMPARE(watch.run.result, 0);
    QCOMPARE(watch.run.status, QStringLiteral("Kontrola dát je ukončená."));
    QCOMPARE(boxes.passwordAsks.size(), std::size_t{1});
    QVERIFY(boxes.passwords.empty());
  }

  // Restore two ticked files from the Obnova tab into another folder.
  form.SetActiveTab(TMainForm::RestoreTab);
  Control<QLineEdit>(&form, QStringLiteral("RestoreSetEdit"))->setText(set);
  Control<QLineEdit>(&form, QStringLiteral("RestorePasswordEdit"))->setText(password);
  Press(form, QStringLiteral("RestoreWhat"));
  TRestoreTree* tree = form.RestoreTreeView();
  const QStringList wanted = {source + QStringLiteral("/sub/c.txt"),
                              source + QStringLiteral("/a.txt")};
  for (const QString& path : wanted) {
    QTreeWidgetItem* node = nullptr;
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
      if (TRestoreTree::NodePath(*it) == path) node = *it;
    QVERIFY2(node, qPrintable(path));
    tree->setCurrentItem(node);
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_Space);
  }
  QCOMPARE(form.RestoreSelection(), QStringList({wanted[1], wanted[0]}));
  Press(form, QStringLiteral("RestoreHow"));
  Control<QLineEdit>(&form, QStringLiteral("RestoreLocationEdit"))
      ->setText(home.Home() + QStringLiteral("/obnova"));
  {
    TStatusWatch watch;
    Press(form, QStringLiteral("RestoreHow"));
    QVERIFY(watch.run.seen);
    QCOMPARE(watch.run.result, 0);
    QCOMPARE(watch.run.status, QStringLiteral("Obnova dát je ukončená."));
  }
  QStringList restored;
  QDirIterator it(home.Home() + QStringLiteral("/obnova"), QDir::Files,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString file = it.next();
    restored << QFileInfo(file).fileName();
    const QString original = file.endsWith(QLatin1String("/a.txt")) ? wanted[1] : wanted[0];
    QCOMPARE(ReadBytes(file), ReadBytes(original));
  }
  restored.sort();
  QCOMPARE(restored, QStringList({"a.txt", "c.txt"}));
  QVERIFY(form.isVisible());  // the wizard is back after each run
}

void EndToEndTest::AbortButtonStopsARunningBackup() {
  TPrivateHome home;
  TBoxScript boxes;
  TPathScript paths;
  const QString source = home.Home() + QStringLiteral("/velky");
  for (int i = 0; i < 300; ++i)
    WriteBytes(source + QStringLiteral("/f%1.txt").arg(i), Content(40000, i));
  QDir().mkpath(home.Home() + QStringLiteral("/zaloha"));
  TMainForm form;
  form.show();
  paths.answers = {source + QStringLiteral("/* /S")};  // as the dialog gives a folder
  form.AddEntry(Control<QTreeWidget>(&form, QStringLiteral("BackupIncludeTree")));
  Press(form, QStringLiteral("BackupExclude"));
  Press(form, QStringLiteral("BackupWhere"));
  Control<QLineEdit>(&form, QStringLiteral("BackupLocationEdit"))
      ->setText(home.Home() + QStringLiteral("/zaloha/"));
  Press(form, QStringLiteral("BackupHow"));
  boxes.Answer(BB_Yes);  // "really abort?"
  bool clicked = false;
  TStatusWatch watch([&](TStatusForm& s) {
    clicked = true;
    Control<QPushButton>(&s, QStringLiteral("AbortButton"))->click();
  });
  Press(form, QStringLiteral("BackupHow"));
  QVERIFY(clicked);
  QVERIFY(watch.run.seen);
  QVERIFY(watch.run.result != 0);
  QCOMPARE(watch.run.status, QStringLiteral("Záloha dát bola prerušená."));
  QCOMPARE(boxes.shown.front().Buttons, BB_Yes | BB_No);
  // A backup that did not finish leaves no set behind.
  QVERIFY(!QFileInfo::exists(home.Home() + QStringLiteral("/zaloha/Backup.001")));
}

void EndToEndTest::JobWithoutEraseTargetKeepsTheFolder_data() {
  QTest::addColumn<QString>("location");  // the job's Location line, "" for none
  QTest::newRow("no location: the home folder") << QString();
  QTest::newRow("a folder of its own") << QStringLiteral("zaloha/");
}

// A job file written by hand or by an older version may lack the key: it
// never empties the folder the set goes to, which by default is home.  The
// folder holds the user's files and an older set of another name, which an
// erase step would take.
void EndToEndTest::JobWithoutEraseTargetKeepsTheFolder() {
  QFETCH(QString, location);
  TPrivateHome home;
  TBoxScript boxes;
  TFileDialogScript dialogs;
  const QString target =
      home.Home() + QLatin1Char('/') + (location.isEmpty() ? QString() : location);
  const QStringList foreign = {".bashrc", "dokumenty/list.odt", "praca.sqt", "Backup.txt"};
  for (const QString& name : foreign)
    WriteBytes(target + name, name.toUtf8() + QByteArrayLiteral(" patrí používateľovi\n"));
  const QString source = home.Path(QStringLiteral("zdroj"));
  WriteBytes(source + QStringLiteral("/a.txt"), Content(20000, 5));
  const QString job = home.Path(QStringLiteral("ruka.sqt"));
  for (const QByteArray& baseName : {QByteArrayLiteral("Stary"), QByteArrayLiteral("Backup")}) {
    QByteArray text = "[ID]\nVelmora=1\n[Include]\nFiles0=" + source.toUtf8() +
                      "/* /S\n[Where]\nBaseName=" + baseName + "\n";
    if (!location.isEmpty()) text += "Location=" + target.toUtf8() + "\n";
    text += "[How]\nMode=0\nCompression=1\nCreateLog=1\n";
    WriteBytes(job, text);
    TMainForm form;
    form.show();
    dialogs.answers = {job};
    Control<QAction>(&form, QStringLiteral("FileOpen"))->trigger();
    QVERIFY(!Control<QCheckBox>(&form, QStringLiteral("BackupEraseTargetCheck"))->isChecked());
    Press(form, QStringLiteral("BackupExclude"));
    Press(form, QStringLiteral("BackupWhere"));
    QCOMPARE(Control<QLineEdit>(&form, QStringLiteral("BackupLocationEdit"))->text(), target);
    Press(form, QStringLiteral("BackupHow"));
    TStatusWatch watch;
    Press(form, QStringLiteral("BackupHow"));
    QVERIFY(watch.run.seen);
    QCOMPARE(watch.run.result, 0);
  }
  QVERIFY(QFileInfo(target + QStringLiteral("Backup.001")).isFile());
  QVERIFY(QFileInfo(target + QStringLiteral("Stary.001")).isFile());
  for (const QString& name : foreign)
    QCOMPARE(ReadBytes(target + name), name.toUtf8() + QByteArrayLiteral(" patrí používateľovi\n"));
}

// A second run of the same job, aborted in the middle of its data, leaves
// the first set whole: it still verifies through the Kontrola tab.
void EndToEndTest::AbortedRunAgainKeepsThePreviousSet() {
  TPrivateHome home;
  TBoxScript boxes;
  TPathScript paths;
  const QString source = home.Home() + QStringLiteral("/zdroj");
  for (int i = 0; i < 6; ++i)
    WriteBytes(source + QStringLiteral("/f%1.txt").arg(i), Content(400000, 20 + i));
  const QString folder = home.Home() + QStringLiteral("/zaloha/");
  QDir().mkpath(folder);
  TMainForm form;
  form.show();
  paths.answers = {source + QStringLiteral("/* /S")};
  form.AddEntry(Control<QTreeWidget>(&form, QStringLiteral("BackupIncludeTree")));
  Press(form, QStringLiteral("BackupExclude"));
  Press(form, QStringLiteral("BackupWhere"));
  Control<QLineEdit>(&form, QStringLiteral("BackupLocationEdit"))->setText(folder);
  Press(form, QStringLiteral("BackupHow"));
  {
    TStatusWatch watch;
    Press(form, QStringLiteral("BackupHow"));
    QCOMPARE(watch.run.result, 0);
  }
  const QString set = folder + QStringLiteral("Backup.001");
  const QByteArray first = ReadBytes(set);
  QVERIFY(!first.isEmpty());

  // Again, with "Prerušiť" → "Áno" at the data's fifth block.
  int blocks = 0;
  {
    TStatusWatch watch([&](TStatusForm& s) {
      auto inner = s.Engine().OnNextBlock;
      s.Engine().OnNextBlock = [&blocks, &boxes, &s, inner](const std::string& f, std::int64_t done,
                                                            std::int64_t total) {
        inner(f, done, total);
        if (++blocks != 5) return;
        boxes.Answer(BB_Yes);
        Control<QPushButton>(&s, QStringLiteral("AbortButton"))->click();
      };
    });
    Press(form, QStringLiteral("BackupHow"));
    QVERIFY(watch.run.seen);
    QCOMPARE(watch.run.result, 12);
    QCOMPARE(watch.run.status, QStringLiteral("Záloha dát bola prerušená."));
  }
  QVERIFY(blocks >= 5);
  QCOMPARE(ReadBytes(set), first);
  QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList({"Backup.001"}));

  form.SetActiveTab(TMainForm::VerifyTab);
  Control<QLineEdit>(&form, QStringLiteral("VerifySetEdit"))->setText(set);
  Press(form, QStringLiteral("VerifyHow"));
  TStatusWatch watch;
  Press(form, QStringLiteral("VerifyHow"));
  QVERIFY(watch.run.seen);
  QCOMPARE(watch.run.result, 0);
  QCOMPARE(watch.run.status, QStringLiteral("Kontrola dát je ukončená."));
}

QTEST_MAIN(EndToEndTest)
#include "end_to_end_test.moc"
