// The selection dialog and the path checks the pages use.
#include <QCheckBox>
#include <QComboBox>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <cerrno>

#include "ui/selection_dialog.h"
#include "ui/texts.h"
#include "ui/ui_fixture.h"

using namespace vx::ui;
using namespace vx::ui::test;

class SelectionTest : public QObject {
  Q_OBJECT

 private slots:
  void IsValidFileNameRejectsNineCharacters_data();
  void IsValidFileNameRejectsNineCharacters();
  void FilesExist_data();
  void FilesExist();
  void DirectoryOrDriveExists_data();
  void DirectoryOrDriveExists();
  void EnsureDirectory_data();
  void EnsureDirectory();
  void MountPointsSkipPseudoFileSystems();
  void Modes_data();
  void Modes();
  void FolderOrSingleFileInFilesMode_data();
  void FolderOrSingleFileInFilesMode();
  void OkChecks_data();
  void OkChecks();
  void DriveNotReady_data();
  void DriveNotReady();
  void DoubleClickPicksAFile_data();
  void DoubleClickPicksAFile();
};

// A double-click on a file in the file list is a click on it and OK: the
// dialog closes with that file, after OK's own check.
void SelectionTest::DoubleClickPicksAFile_data() {
  QTest::addColumn<int>("mode");
  QTest::addColumn<QString>("file");
  QTest::addColumn<QString>("result");  // empty: the dialog stays open
  QTest::newRow("a set's first volume") << int(SM_ArchiveSet) << "SET.001"
                                        << "$HOME/SET.001";
  QTest::newRow("one file to back up") << int(SM_Files) << "list.txt"
                                       << "$HOME/list.txt";
}

void SelectionTest::DoubleClickPicksAFile() {
  QFETCH(int, mode);
  QFETCH(QString, file);
  QFETCH(QString, result);
  TPrivateHome home;
  WriteBytes(home.Home() + QStringLiteral("/SET.001"), "x");
  WriteBytes(home.Home() + QStringLiteral("/list.txt"), "y");
  TBoxScript boxes;
  TSelectionForm form(static_cast<TSelectionMode>(mode));
  form.StartAt(home.Home() + QLatin1Char('/'));
  form.show();
  auto* list = Control<QListView>(&form, QStringLiteral("FileListBox"));
  auto* model = qobject_cast<QFileSystemModel*>(list->model());
  QVERIFY(model);
  const QModelIndex index = model->index(home.Home() + QLatin1Char('/') + file);
  QVERIFY(index.isValid());
  emit list->doubleClicked(index);
  QCOMPARE(form.result(), int(QDialog::Accepted));
  QVERIFY(!form.isVisible());
  QCOMPARE(form.Result(), result.replace(QStringLiteral("$HOME"), home.Home()));
  QVERIFY(boxes.shown.empty());
}

void SelectionTest::IsValidFileNameRejectsNineCharacters_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<bool>("valid");
  for (QChar c : QStringLiteral("\\/:*?\"<>|"))
    QTest::newRow(qPrintable(QStringLiteral("with %1").arg(c)))
        << QStringLiteral("a%1b").arg(c) << false;
  QTest::newRow("blanks and dots") << "my back.up 1" << true;
  QTest::newRow("empty") << "" << true;
  QTest::newRow("diacritics") << "záloha_ľšč" << true;
}

void SelectionTest::IsValidFileNameRejectsNineCharacters() {
  QFETCH(QString, name);
  QFETCH(bool, valid);
  QCOMPARE(IsValidFileName(name), valid);
}

void SelectionTest::FilesExist_data() {
  QTest::addColumn<QString>("mask");
  QTest::addColumn<bool>("recursive");
  QTest::addColumn<bool>("found");
  QTest::newRow("top level") << "*.txt" << false << true;
  QTest::newRow("three levels down, not recursive") << "*.doc" << false << false;
  QTest::newRow("three levels down, recursive") << "*.doc" << true << true;
  QTest::newRow("a folder matches too") << "l1" << false << true;
  QTest::newRow("nothing anywhere") << "*.xls" << true << false;
  QTest::newRow("case-insensitive mask") << "*.TXT" << false << true;
}

void SelectionTest::FilesExist() {
  QFETCH(QString, mask);
  QFETCH(bool, recursive);
  QFETCH(bool, found);
  TPrivateHome home;
  const QString root = home.Path(QStringLiteral("f/"));
  WriteBytes(root + QStringLiteral("a.txt"), "a");
  WriteBytes(root + QStringLiteral("l1/l2/l3/deep.doc"), "d");
  QCOMPARE(vx::ui::FilesExist(root, mask, recursive), found);
}

void SelectionTest::DirectoryOrDriveExists_data() {
  QTest::addColumn<QString>("path");
  QTest::addColumn<bool>("exists");
  QTest::newRow("root") << "/" << true;
  QTest::newRow("existing folder") << "$HOME" << true;
  QTest::newRow("with trailing slash") << "$HOME/" << true;
  QTest::newRow("missing folder") << "$HOME/none" << false;
  QTest::newRow("a file is no folder") << "$HOME/file" << false;
  QTest::newRow("empty") << "" << false;
}

void SelectionTest::DirectoryOrDriveExists() {
  QFETCH(QString, path);
  QFETCH(bool, exists);
  TPrivateHome home;
  WriteBytes(home.Home() + QStringLiteral("/file"), "x");
  QCOMPARE(vx::ui::DirectoryOrDriveExists(path.replace(QStringLiteral("$HOME"), home.Home())),
           exists);
}

void SelectionTest::EnsureDirectory_data() {
  QTest::addColumn<QString>("path");
  QTest::addColumn<int>("answer");
  QTest::addColumn<bool>("result");
  QTest::addColumn<QStringList>("boxes");
  QTest::newRow("existing: no question") << "$HOME" << int(BB_Yes) << true << QStringList{};
  QTest::newRow("root: no question") << "/" << int(BB_Yes) << true << QStringList{};
  QTest::newRow("missing, No") << "$HOME/a/b" << int(BB_No) << false
                               << QStringList{text::kFolderMissing + "$HOME/a/b" +
                                              text::kShallCreate};
  QTest::newRow("missing, Yes creates parents")
      << "$HOME/a/b" << int(BB_Yes) << true
      << QStringList{text::kFolderMissing + "$HOME/a/b" + text::kShallCreate};
  QTest::newRow("cannot be created")
      << "$HOME/file/sub" << int(BB_Yes) << false
      << QStringList{text::kFolderMissing + "$HOME/file/sub" + text::kShallCreate,
                     text::kCannotCreate + "$HOME/file/sub"};
}

void SelectionTest::EnsureDirectory() {
  QFETCH(QString, path);
  QFETCH(int, answer);
  QFETCH(bool, result);
  QFETCH(QStringList, boxes);
  TPrivateHome home;
  WriteBytes(home.Home() + QStringLiteral("/file"), "x");
  TBoxScript script;
  script.Answer(static_cast<TBoxButton>(answer));
  path.replace(QStringLiteral("$HOME"), home.Home());
  QCOMPARE(vx::ui::EnsureDirectory(path), result);
  QStringList shown;
  for (const auto& b : script.shown) shown << b.Text;
  for (QString& b : boxes) b.replace(QStringLiteral("$HOME"), home.Home());
  QCOMPARE(shown, boxes);
  if (!boxes.isEmpty()) QCOMPARE(script.shown[0].Buttons, BB_Yes | BB_No);
  QCOMPARE(QFileInfo(path).isDir(), result);
}

void SelectionTest::MountPointsSkipPseudoFileSystems() {
  const QString mounts =
      "overlay / overlay rw 0 0\n"
      "proc /proc proc rw 0 0\n"
      "tmpfs /dev tmpfs rw 0 0\n"
      "sysfs /sys sysfs ro 0 0\n"
      "cgroup /sys/fs/cgroup cgroup2 ro 0 0\n"
      "tmpfs /run/user/1000 tmpfs rw 0 0\n"
      "/dev/sda2 /home ext4 rw 0 0\n"
      "/dev/sdb1 /media/eva/USB\\040DISK vfat rw 0 0\n"
      "tmpfs /tmp tmpfs rw 0 0\n"
      "/dev/loop3 /snap/core/1 squashfs ro 0 0\n"
      "/dev/sda2 /home ext4 rw 0 0\n";
  QCOMPARE(MountPointsFrom(mounts), QStringList({"/", "/home", "/media/eva/USB DISK", "/tmp"}));
}

void SelectionTest::Modes_data() {
  QTest::addColumn<int>("mode");
  QTest::addColumn<QString>("caption");
  QTest::addColumn<QString>("label");
  QTest::addColumn<bool>("filesEnabled");
  QTest::addColumn<bool>("includeShown");
  QTest::addColumn<QString>("text");  // after starting in $HOME
  QTest::newRow("set") << 0 << "Vyberte zálohovú sadu"
                       << "Zálohová sada:" << true << false << "$HOME/*.001";
  QTest::newRow("files") << 1 << "Výber zálohovej sady"
                         << "Súbor:" << true << true << "$HOME/*";
  QTest::newRow("backup target") << 2 << "Vyberte miesto pre uloženie zálohy"
                                 << "Zálohovať do:" << false << false << "$HOME";
  QTest::newRow("restore target") << 3 << "Vyberte miesto kam sa majú obnoviť súbory"
                                  << "Obnoviť do:" << false << false << "$HOME";
}

void SelectionTest::Modes() {
  QFETCH(int, mode);
  QFETCH(QString, caption);
  QFETCH(QString, label);
  QFETCH(bool, filesEnabled);
  QFETCH(bool, includeShown);
  QFETCH(QString, text);
  TPrivateHome home;
  TSelectionForm form(static_cast<TSelectionMode>(mode));
  form.StartAt(home.Home() + QLatin1Char('/'));
  form.show();
  QCOMPARE(form.windowTitle(), caption);
  QCOMPARE(Control<QLabel>(&form, QStringLiteral("SelectionLabel"))->text(), label);
  QCOMPARE(Control<QListView>(&form, QStringLiteral("FileListBox"))->isEnabled(), filesEnabled);
  QCOMPARE(Control<QCheckBox>(&form, QStringLiteral("IncludeCheck"))->isVisible(), includeShown);
  QCOMPARE(Control<QLineEdit>(&form, QStringLiteral("SelectionEdit"))->text(),
           text.replace(QStringLiteral("$HOME"), home.Home()));
  for (const char* name : {"DirectoryListBox", "DriveComboBox", "OKButton", "CancelButton",
                           "DirectoriesLabel", "FilesLabel", "DrivesLabel"})
    QVERIFY2(form.findChild<QWidget*>(QString::fromLatin1(name)), name);
}

void SelectionTest::FolderOrSingleFileInFilesMode_data() {
  QTest::addColumn<QString>("file");  // "" : the folder with a mask
  QTest::addColumn<bool>("checked");
  QTest::addColumn<QString>("result");
  QTest::newRow("mask with subfolders") << "" << true << "$HOME/data/*.doc /S";
  QTest::newRow("mask without subfolders") << "" << false << "$HOME/data/*.doc";
  QTest::newRow("single file never recursive") << "$HOME/data/a.doc" << true << "$HOME/data/a.doc";
}

void SelectionTest::FolderOrSingleFileInFilesMode() {
  QFETCH(QString, file);
  QFETCH(bool, checked);
  QFETCH(QString, result);
  TPrivateHome home;
  WriteBytes(home.Home() + QStringLiteral("/data/a.doc"), "x");
  TBoxScript boxes;
  TSelectionForm form(SM_Files);
  form.StartAt(home.Home() + QStringLiteral("/data/"));
  form.show();
  auto* include = Control<QCheckBox>(&form, QStringLiteral("IncludeCheck"));
  include->setChecked(checked);
  if (file.isEmpty())
    Control<QLineEdit>(&form, QStringLiteral("SelectionEdit"))
        ->setText(home.Home() + QStringLiteral("/data/*.doc"));
  else
    form.FileChosen(file.replace(QStringLiteral("$HOME"), home.Home()));
  QCOMPARE(include->isEnabled(), file.isEmpty());
  QVERIFY(form.CheckOk());
  QCOMPARE(form.Result(), result.replace(QStringLiteral("$HOME"), home.Home()));
  QVERIFY(boxes.shown.empty());
}

void SelectionTest::OkChecks_data() {
  QTest::addColumn<int>("mode");
  QTest::addColumn<QString>("text");
  QTest::addColumn<int>("answer");
  QTest::addColumn<bool>("closes");
  QTest::addColumn<QString>("message");
  QTest::newRow("set exists") << 0 << "$HOME/SET.001" << 0 << true << "";
  QTest::newRow("set mask refused although sets exist")
      << 0 << "$HOME/*.001" << 0 << false << text::kSetNotFound;
  QTest::newRow("set missing") << 0 << "$HOME/NONE.001" << 0 << false << text::kSetNotFound;
  QTest::newRow("files found") << 1 << "$HOME/*.001" << 0 << true << "";
  QTest::newRow("files not found") << 1 << "$HOME/*.xyz" << 0 << false << text::kFilesNotFound;
  QTest::newRow("backup target root") << 2 << "/" << 0 << true << "";
  QTest::newRow("backup target missing, No")
      << 2 << "$HOME/new" << int(BB_No) << false << text::kFolderMissing;
  QTest::newRow("restore target missing, Yes")
      << 3 << "$HOME/new" << int(BB_Yes) << true << text::kFolderMissing;
}

void SelectionTest::OkChecks() {
  QFETCH(int, mode);
  QFETCH(QString, text);
  QFETCH(int, answer);
  QFETCH(bool, closes);
  QFETCH(QString, message);
  TPrivateHome home;
  WriteBytes(home.Home() + QStringLiteral("/SET.001"), "x");
  TBoxScript boxes;
  if (answer) boxes.Answer(static_cast<TBoxButton>(answer));
  TSelectionForm form(static_cast<TSelectionMode>(mode));
  form.StartAt(home.Home() + QLatin1Char('/'));
  form.show();
  Control<QLineEdit>(&form, QStringLiteral("SelectionEdit"))
      ->setText(text.replace(QStringLiteral("$HOME"), home.Home()));
  Control<QPushButton>(&form, QStringLiteral("OKButton"))->click();
  QCOMPARE(form.isVisible(), !closes);
  QCOMPARE(form.result() == QDialog::Accepted, closes);
  if (message.isEmpty()) {
    QVERIFY(boxes.shown.empty());
  } else {
    QCOMPARE(boxes.shown.size(), std::size_t{1});
    QVERIFY(boxes.shown[0].Text.startsWith(message));
    if (mode < 2) QCOMPARE(boxes.shown[0].Caption, form.windowTitle());
  }
}

void SelectionTest::DriveNotReady_data() {
  QTest::addColumn<QList<int>>("answers");
  QTest::addColumn<int>("probes");  // how often the drive was tried
  QTest::addColumn<bool>("switched");
  QTest::newRow("cancel keeps the drive") << QList<int>{BB_Cancel} << 1 << false;
  QTest::newRow("retry tries again") << QList<int>{BB_Retry, BB_Cancel} << 2 << false;
  QTest::newRow("retry until ready") << QList<int>{BB_Retry} << 2 << true;
  QTest::newRow("other errors do not stop the switch") << QList<int>{} << 1 << true;
}

void SelectionTest::DriveNotReady() {
  QFETCH(QList<int>, answers);
  QFETCH(int, probes);
  QFETCH(bool, switched);
  TPrivateHome home;
  TBoxScript boxes;
  for (int a : answers) boxes.Answer(static_cast<TBoxButton>(a));
  TSelectionForm form(SM_BackupTarget);
  form.StartAt(QStringLiteral("/"));
  auto* drives = Control<QComboBox>(&form, QStringLiteral("DriveComboBox"));
  drives->addItem(QStringLiteral("/media/cd"));
  int tried = 0;
  SetDriveProbe([&](const QString& root) {
    if (root != QLatin1String("/media/cd")) return 0;
    ++tried;
    if (answers.isEmpty()) return EACCES;
    // Ready only after the first retry when the script says so.
    return switched && tried > 1 ? 0 : EIO;
  });
  drives->setCurrentIndex(drives->count() - 1);
  SetDriveProbe(nullptr);
  QCOMPARE(tried, probes);
  QCOMPARE(boxes.shown.size(),
           std::size_t(switched ? std::min<int>(1, answers.size()) : answers.size()));
  for (const TBoxRequest& box : boxes.shown) {
    QCOMPARE(box.Text, QStringLiteral("/media/cd") + text::kNotAccessible);
    QCOMPARE(box.Buttons, BB_Retry | BB_Cancel);
    QCOMPARE(box.Icon, TBoxIcon::Stop);
  }
  QCOMPARE(drives->currentText(), switched ? QStringLiteral("/media/cd") : QStringLiteral("/"));
  QCOMPARE(form.CurrentFolder(), switched ? QStringLiteral("/media/cd") : QStringLiteral("/"));
}

QTEST_MAIN(SelectionTest)
#include "selection_test.moc"
