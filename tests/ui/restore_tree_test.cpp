// The restore tree: its nodes from stored paths (Linux and Windows sets),
// ticking by key and mouse, the selection, and reading real sets.
#include "ui/restore_tree.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>

#include "common/archive_writer.h"
#include "platform/date_time.h"
#include "platform/hooks.h"
#include "platform/locale.h"
#include "support/version.h"
#include "ui/log_view.h"
#include "ui/main_form.h"
#include "ui/texts.h"
#include "ui/ui_fixture.h"

using namespace vx::ui;
using namespace vx::ui::test;

namespace {

std::vector<std::string> Std(const QStringList& l) {
  std::vector<std::string> out;
  for (const QString& s : l) out.push_back(s.toStdString());
  return out;
}

// The tree as indented lines "text[state]" in tree order.
QStringList Dump(const QTreeWidget& tree) {
  QStringList out;
  std::function<void(QTreeWidgetItem*, int)> walk = [&](QTreeWidgetItem* n, int depth) {
    out << QString(depth * 2, QLatin1Char(' ')) + n->text(0) +
               (TRestoreTree::State(n) == TI_Checked ? QStringLiteral(" [x]") : QString());
    for (int i = 0; i < n->childCount(); ++i) walk(n->child(i), depth + 1);
  };
  for (int i = 0; i < tree.topLevelItemCount(); ++i) walk(tree.topLevelItem(i), 0);
  return out;
}

QTreeWidgetItem* Find(TRestoreTree& tree, const QStringList& path) {
  QTreeWidgetItem* n = nullptr;
  for (const QString& p : path) {
    n = tree.FindChildNode(n, p);
    if (!n) qFatal("no node %s", qPrintable(p));
  }
  return n;
}

// Sets chosen in the wizard are named by their first volume, ".001".
constexpr std::int64_t kOneVolume = std::int64_t{1} << 30;

void Toggle(TRestoreTree& tree, QTreeWidgetItem* node) {
  tree.setCurrentItem(node);
  QTest::keyClick(&tree, Qt::Key_Space);
}

}  // namespace

class RestoreTreeTest : public QObject {
  Q_OBJECT

 private slots:
  void NodesFromStoredPaths_data();
  void NodesFromStoredPaths();
  void NodePathGivesTheStoredPathBack_data();
  void NodePathGivesTheStoredPathBack();
  void FindChildNodeLooksOnlyOneLevelDown();
  void TickingARootTicksEverythingBelow();
  void TickingTwiceUnticksTheSubtree();
  void TickingAFileTicksItsAncestors();
  void SpaceWithoutASelectedNodeDoesNothing();
  void ClickOnTheBoxTicksClickOnTheTextDoesNot();
  void OpensDownToTheFirstFiles_data();
  void OpensDownToTheFirstFiles();
  void FolderBoxesShowPartialTicks_data();
  void FolderBoxesShowPartialTicks();
  void initTestCase() { vx::ReadVersionInfo(); }
  void ReadsARealSet_data();
  void ReadsARealSet();
  void SizeAndDateColumnsOfARealSet();
  void ReadingTwiceGivesTheSameUntickedTree();
  void ReadingAVerifySetBuildsNoTree();
  void MistypedSetNameSaysTheFileIsMissing();
  void SetNameTheEngineRefuses();
  void FailureMessage_data();
  void FailureMessage();
};

void RestoreTreeTest::NodesFromStoredPaths_data() {
  QTest::addColumn<QStringList>("stored");
  QTest::addColumn<QStringList>("tree");
  QTest::newRow("windows: two folders named B")
      << QStringList{"C:\\A\\B\\F1.TXT", "C:\\B\\F2.TXT"}
      << QStringList{"(C:)", "  A", "    B", "      F1.TXT", "  B", "    F2.TXT"};
  QTest::newRow("windows: drives and folders in other case share nodes")
      << QStringList{"D:\\Data\\x.doc", "C:\\z.txt", "D:\\DATA\\y.doc"}
      << QStringList{"(C:)", "  z.txt", "(D:)", "  Data", "    x.doc", "    y.doc"};
  QTest::newRow("linux: one root, sorted children")
      << QStringList{"/home/eva/b.txt", "/home/eva/a.txt", "/etc/hosts", "/top.txt"}
      << QStringList{"/",       "  etc",       "    hosts",   "  home",
                     "    eva", "      a.txt", "      b.txt", "  top.txt"};
  QTest::newRow("linux: folders differing in case stay apart")
      << QStringList{"/x/A/f", "/x/a/g"}
      << QStringList{"/", "  x", "    A", "      f", "    a", "      g"};
  QTest::newRow("linux: backslash and colon are name characters")
      << QStringList{"/d/a\\b:c.txt"} << QStringList{"/", "  d", "    a\\b:c.txt"};
}

void RestoreTreeTest::NodesFromStoredPaths() {
  QFETCH(QStringList, stored);
  QFETCH(QStringList, tree);
  TRestoreTree t;
  t.Fill(Std(stored));
  QCOMPARE(Dump(t), tree);
  QVERIFY(t.Selection().isEmpty());
}

void RestoreTreeTest::NodePathGivesTheStoredPathBack_data() {
  QTest::addColumn<QStringList>("stored");
  QTest::newRow("windows") << QStringList{"C:\\DATA\\SUB\\AAA.TXT", "C:\\B.TXT", "E:\\x\\y\\z"};
  QTest::newRow("linux") << QStringList{"/home/eva/docs/a.txt", "/b", "/home/eva/Docs/a.txt",
                                        "/srv/with space/ľšč.odt"};
}

void RestoreTreeTest::NodePathGivesTheStoredPathBack() {
  QFETCH(QStringList, stored);
  TRestoreTree t;
  t.Fill(Std(stored));
  QStringList got;
  for (QTreeWidgetItemIterator it(&t); *it; ++it) {
    const QString p = TRestoreTree::NodePath(*it);
    if ((*it)->data(0, kImageRole).toInt() == TI_File)
      got << p;
    else
      QVERIFY2(p.isEmpty(), qPrintable((*it)->text(0)));
  }
  got.sort();
  stored.sort();
  QCOMPARE(got, stored);
}

void RestoreTreeTest::FindChildNodeLooksOnlyOneLevelDown() {
  TRestoreTree t;
  t.Fill(Std({"C:\\A\\B\\F1.TXT"}));
  QTreeWidgetItem* drive = t.FindChildNode(nullptr, QStringLiteral("(C:)"));
  QVERIFY(drive);
  QVERIFY(!t.FindChildNode(drive, QStringLiteral("B")));
  QVERIFY(!t.FindChildNode(nullptr, QStringLiteral("A")));
  QVERIFY(!t.FindChildNode(drive, QStringLiteral("a")));  // exact, letter case included
  QTreeWidgetItem* sub = t.FolderNode(QStringLiteral("C:\\A\\B\\"));
  QCOMPARE(sub->text(0), QStringLiteral("B"));
  QCOMPARE(sub->parent()->text(0), QStringLiteral("A"));
  QCOMPARE(t.FolderNode(QStringLiteral("C:\\")), drive);
}

void RestoreTreeTest::TickingARootTicksEverythingBelow() {
  TRestoreTree t;
  t.Fill(Std({"C:\\A\\one.txt", "C:\\A\\B\\two.txt", "C:\\three.txt", "D:\\other.txt"}));
  Toggle(t, Find(t, {"(C:)"}));
  QCOMPARE(t.Selection(), QStringList({"C:\\A\\B\\two.txt", "C:\\A\\one.txt", "C:\\three.txt"}));
  Toggle(t, Find(t, {"(C:)", "A", "one.txt"}));
  QCOMPARE(t.Selection(), QStringList({"C:\\A\\B\\two.txt", "C:\\three.txt"}));
  QCOMPARE(TRestoreTree::State(Find(t, {"(C:)"})), int(TI_Checked));
  QCOMPARE(TRestoreTree::State(Find(t, {"(C:)", "A"})), int(TI_Checked));
  QCOMPARE(TRestoreTree::State(Find(t, {"(D:)"})), int(TI_Unchecked));
}

void RestoreTreeTest::TickingTwiceUnticksTheSubtree() {
  TRestoreTree t;
  t.Fill(Std({"/a/x/1", "/a/x/y/2", "/a/3"}));
  QTreeWidgetItem* x = Find(t, {"/", "a", "x"});
  Toggle(t, x);
  QCOMPARE(t.Selection(), QStringList({"/a/x/1", "/a/x/y/2"}));
  Toggle(t, x);
  QVERIFY(t.Selection().isEmpty());
  QCOMPARE(TRestoreTree::State(Find(t, {"/", "a", "x", "y", "2"})), int(TI_Unchecked));
  QCOMPARE(TRestoreTree::State(x), int(TI_Unchecked));
}

void RestoreTreeTest::TickingAFileTicksItsAncestors() {
  TRestoreTree t;
  t.Fill(Std({"/a/x/1", "/a/x/2", "/A/x/1"}));
  Toggle(t, Find(t, {"/", "a", "x", "1"}));
  Toggle(t, Find(t, {"/", "A", "x", "1"}));
  QCOMPARE(Dump(t), QStringList({"/ [x]", "  A [x]", "    x [x]", "      1 [x]", "  a [x]",
                                 "    x [x]", "      1 [x]", "      2"}));
  QCOMPARE(t.Selection(), QStringList({"/A/x/1", "/a/x/1"}));
}

void RestoreTreeTest::SpaceWithoutASelectedNodeDoesNothing() {
  TRestoreTree t;
  t.Fill(Std({"/a/1"}));
  t.setCurrentItem(nullptr);
  t.clearSelection();
  const QStringList before = Dump(t);
  QTest::keyClick(&t, Qt::Key_Space);
  QCOMPARE(Dump(t), before);
  QVERIFY(t.Selection().isEmpty());
}

void RestoreTreeTest::ClickOnTheBoxTicksClickOnTheTextDoesNot() {
  TRestoreTree t;
  t.resize(300, 200);
  t.Fill(Std({"/a.txt", "/b.txt"}));
  t.expandAll();
  t.show();
  QVERIFY(QTest::qWaitForWindowExposed(&t));
  QTreeWidgetItem* a = Find(t, {"/", "a.txt"});
  QStyleOptionViewItem option;
  option.initFrom(&t);
  option.rect = t.visualItemRect(a);
  option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDecoration;
  option.decorationSize = QSize(16, 16);
  const QRect box = t.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, &t);
  QTest::mouseClick(t.viewport(), Qt::LeftButton, {},
                    t.visualItemRect(a).topRight() - QPoint(5, -3));
  QVERIFY(t.Selection().isEmpty());
  QTest::mouseClick(t.viewport(), Qt::LeftButton, {}, box.center());
  QCOMPARE(t.Selection(), QStringList({"/a.txt"}));
}

// The opened folders in tree order, as "a/b" below the root node.
QStringList Expanded(const QTreeWidget& tree) {
  QStringList out;
  for (QTreeWidgetItemIterator it(const_cast<QTreeWidget*>(&tree)); *it; ++it) {
    if (!(*it)->isExpanded()) continue;
    QStringList names;
    for (const QTreeWidgetItem* n = *it; n; n = n->parent()) names.prepend(n->text(0));
    out << names.join(QLatin1Char('|'));
  }
  return out;
}

void RestoreTreeTest::OpensDownToTheFirstFiles_data() {
  QTest::addColumn<QStringList>("stored");
  QTest::addColumn<QStringList>("expanded");
  QTest::newRow("files deep below one chain")
      << QStringList{"/home/eva/docs/a.txt", "/home/eva/docs/b.txt"}
      << QStringList{"/", "/|home", "/|home|eva", "/|home|eva|docs"};
  QTest::newRow("the shallowest file decides for every branch")
      << QStringList{"/home/eva/deep/er/x", "/srv/y", "/srv/z/w"}
      << QStringList{"/", "/|home", "/|srv"};
  QTest::newRow("a file in the root opens nothing below it")
      << QStringList{"/top.txt", "/a/b/c.txt"} << QStringList{"/"};
  QTest::newRow("windows drives") << QStringList{"C:\\DATA\\A.DOC", "D:\\X\\Y\\B.DOC"}
                                  << QStringList{"(C:)", "(C:)|DATA", "(D:)", "(D:)|X"};
}

void RestoreTreeTest::OpensDownToTheFirstFiles() {
  QFETCH(QStringList, stored);
  QFETCH(QStringList, expanded);
  TRestoreTree t;
  t.Fill(Std(stored));
  QCOMPARE(Expanded(t), expanded);
}

void RestoreTreeTest::FolderBoxesShowPartialTicks_data() {
  QTest::addColumn<QList<QStringList>>("ticks");  // nodes toggled in turn
  QTest::addColumn<QStringList>("boxes");         // "/|a": 0 none, 1 partly, 2 all
  QTest::newRow("nothing ticked") << QList<QStringList>{}
                                  << QStringList{"/ 0", "/|a 0", "/|a|x 0", "/|b 0"};
  QTest::newRow("one file of two in a folder") << QList<QStringList>{{"/", "a", "x", "1"}}
                                               << QStringList{"/ 1", "/|a 1", "/|a|x 1", "/|b 0"};
  QTest::newRow("every file of a folder")
      << QList<QStringList>{{"/", "a", "x", "1"}, {"/", "a", "x", "2"}}
      << QStringList{"/ 1", "/|a 1", "/|a|x 2", "/|b 0"};
  QTest::newRow("a whole folder, then one file of it off")
      << QList<QStringList>{{"/", "a"}, {"/", "a", "3"}}
      << QStringList{"/ 1", "/|a 1", "/|a|x 2", "/|b 0"};
  QTest::newRow("everything") << QList<QStringList>{{"/"}}
                              << QStringList{"/ 2", "/|a 2", "/|a|x 2", "/|b 2"};
  QTest::newRow("everything, then off again")
      << QList<QStringList>{{"/"}, {"/"}} << QStringList{"/ 0", "/|a 0", "/|a|x 0", "/|b 0"};
}

void RestoreTreeTest::FolderBoxesShowPartialTicks() {
  QFETCH(QList<QStringList>, ticks);
  QFETCH(QStringList, boxes);
  TRestoreTree t;
  t.Fill(Std({"/a/x/1", "/a/x/2", "/a/3", "/b/4"}));
  for (const QStringList& node : ticks) Toggle(t, Find(t, node));
  QStringList got;
  for (const QString folder : {"/", "/|a", "/|a|x", "/|b"}) {
    const auto state = Find(t, folder.split(QLatin1Char('|')))->checkState(0);
    got << folder + QLatin1Char(' ') + QString::number(int(state));
  }
  QCOMPARE(got, boxes);
}

// ---- Real sets ------------------------------------------------------------------

void RestoreTreeTest::ReadsARealSet_data() {
  QTest::addColumn<QStringList>("stored");
  QTest::addColumn<QString>("password");
  QTest::addColumn<QString>("root");
  QTest::newRow("linux set") << QStringList{"/home/eva/a.txt", "/home/eva/sub/b.txt"} << ""
                             << "/";
  QTest::newRow("encrypted linux set") << QStringList{"/srv/x.bin"} << "tajné"
                                       << "/";
  QTest::newRow("set written on windows") << QStringList{"C:\\DATA\\A.DOC", "C:\\DATA\\B.DOC"} << ""
                                          << "(C:)";
}

void RestoreTreeTest::ReadsARealSet() {
  QFETCH(QStringList, stored);
  QFETCH(QString, password);
  QFETCH(QString, root);
  TPrivateHome home;
  TBoxScript boxes;
  std::vector<vx::test::TStoredFile> files;
  for (const QString& s : stored) files.push_back({s.toStdString(), "obsah " + s.toStdString()});
  const std::string base = home.Path(QStringLiteral("SET")).toStdString();
  vx::test::WriteArchive(base, files, 1, password.toStdString(), "Týždenná záloha", kOneVolume);
  TMainForm form;
  form.SetActiveTab(TMainForm::RestoreTab);
  Control<QLineEdit>(&form, QStringLiteral("RestoreSetEdit"))
      ->setText(QString::fromStdString(base) + QStringLiteral(".001"));
  Control<QLineEdit>(&form, QStringLiteral("RestorePasswordEdit"))->setText(password);
  form.PreviousNextClick(true);
  QVERIFY2(boxes.shown.empty(), boxes.shown.empty() ? "" : qPrintable(boxes.shown[0].Text));
  QCOMPARE(form.CurrentPageName(), QStringLiteral("RestoreWhat"));
  TRestoreTree* tree = form.RestoreTreeView();
  QCOMPARE(tree->topLevelItemCount(), 1);
  QCOMPARE(tree->topLevelItem(0)->text(0), root);
  QStringList paths;
  for (QTreeWidgetItemIterator it(tree); *it; ++it)
    if (!TRestoreTree::NodePath(*it).isEmpty()) paths << TRestoreTree::NodePath(*it);
  QCOMPARE(paths, stored);
  QCOMPARE(Control<QLineEdit>(&form, QStringLiteral("RestoreCommentEdit"))->text(),
           QStringLiteral("Týždenná záloha"));
  QVERIFY(Control<QLabel>(&form, QStringLiteral("RestoreDateLabel"))
              ->text()
              .startsWith(text::kCreated));
  // Ticking a file lets the page be left.
  tree->setCurrentItem(tree->topLevelItem(0));
  QTest::keyClick(tree, Qt::Key_Space);
  QCOMPARE(form.RestoreSelection(), stored);
  form.PreviousNextClick(true);
  QCOMPARE(form.CurrentPageName(), QStringLiteral("RestoreHow"));
}

// The columns of a set read from disk: the stored size and time of each
// file, in the user's (here Slovak) format; nothing for folders; the whole
// stored path as a file's tooltip.
void RestoreTreeTest::SizeAndDateColumnsOfARealSet() {
  TPrivateHome home;
  TBoxScript boxes;
  QLocale::setDefault(QLocale(QLocale::Slovak, QLocale::Slovakia));
  const std::string base = home.Path(QStringLiteral("SET")).toStdString();
  vx::test::WriteArchive(base,
                         {{"/data/velky.bin", std::string(3 * 1024 * 1024 / 2, 'x')},
                          {"/data/maly.txt", std::string(2560, 'y')}},
                         0, "", "", kOneVolume);
  TMainForm form;
  form.SetActiveTab(TMainForm::RestoreTab);
  Control<QLineEdit>(&form, QStringLiteral("RestoreSetEdit"))
      ->setText(QString::fromStdString(base) + QStringLiteral(".001"));
  const bool read = form.ReadSetInfo();
  QLocale::setDefault(QLocale::c());
  QVERIFY(read);
  TRestoreTree& t = *form.RestoreTreeView();
  QCOMPARE(t.headerItem()->text(1), QStringLiteral("Veľkosť"));
  QCOMPARE(t.headerItem()->text(2), QStringLiteral("Dátum"));
  QTreeWidgetItem* big = Find(t, {"/", "data", "velky.bin"});
  QTreeWidgetItem* small = Find(t, {"/", "data", "maly.txt"});
  QCOMPARE(big->text(1), QStringLiteral("1,5 MB"));
  QCOMPARE(small->text(1), QStringLiteral("2,5 kB"));
  QCOMPARE(big->text(2), QStringLiteral("14. 3. 2024 10:20"));
  QCOMPARE(big->toolTip(0), QStringLiteral("/data/velky.bin"));
  QTreeWidgetItem* folder = Find(t, {"/", "data"});
  QVERIFY(folder->text(1).isEmpty() && folder->text(2).isEmpty());
  QVERIFY(folder->isExpanded());
  QVERIFY(boxes.shown.empty());
}

void RestoreTreeTest::ReadingTwiceGivesTheSameUntickedTree() {
  TPrivateHome home;
  TBoxScript boxes;
  const std::string base = home.Path(QStringLiteral("SET")).toStdString();
  vx::test::WriteArchive(base, {{"/a/1", "x"}, {"/a/2", "y"}, {"/b/3", "z"}}, 0, "", "",
                         kOneVolume);
  TMainForm form;
  form.SetActiveTab(TMainForm::RestoreTab);
  Control<QLineEdit>(&form, QStringLiteral("RestoreSetEdit"))
      ->setText(QString::fromStdString(base) + QStringLiteral(".001"));
  QVERIFY(form.ReadSetInfo());
  TRestoreTree* tree = form.RestoreTreeView();
  const QStringList first = Dump(*tree);
  tree->setCurrentItem(tree->topLevelItem(0));
  tree->ToggleRestoreNode();
  QCOMPARE(form.RestoreSelection().size(), 3);
  QVERIFY(form.ReadSetInfo());
  QCOMPARE(Dump(*tree), first);
  QVERIFY(form.RestoreSelection().isEmpty());
  QVERIFY(boxes.shown.empty());
}

void RestoreTreeTest::ReadingAVerifySetBuildsNoTree() {
  TPrivateHome home;
  TBoxScript boxes;
  const std::string base = home.Path(QStringLiteral("SET")).toStdString();
  vx::test::WriteArchive(base, {{"/a/1", "x"}}, 0, "", "kontrola", kOneVolume);
  TMainForm form;
  form.SetActiveTab(TMainForm::VerifyTab);
  Control<QLineEdit>(&form, QStringLiteral("VerifySetEdit"))
      ->setText(QString::fromStdString(base) + QStringLiteral(".001"));
  form.PreviousNextClick(true);
  QCOMPARE(form.CurrentPageName(), QStringLiteral("VerifyHow"));
  QCOMPARE(form.RestoreTreeView()->topLevelItemCount(), 0);
  QCOMPARE(Control<QLineEdit>(&form, QStringLiteral("VerifyCommentEdit"))->text(),
           QStringLiteral("kontrola"));
  QVERIFY(boxes.shown.empty());
}

// A set name that names no file is reported as such at once: there is no
// medium to ask for.
void RestoreTreeTest::MistypedSetNameSaysTheFileIsMissing() {
  TPrivateHome home;
  TBoxScript boxes;
  boxes.Answer(BB_Abort);
  InstallEngineHooks();
  TMainForm form;
  form.SetActiveTab(TMainForm::RestoreTab);
  Control<QLineEdit>(&form, QStringLiteral("RestoreSetEdit"))->setText(home.Path("NONE.001"));
  const bool read = form.ReadSetInfo();
  vx::SetQuestionBoxHook(nullptr);
  vx::SetProcessMessagesHook(nullptr);
  QVERIFY(!read);
  QCOMPARE(boxes.shown.size(), std::size_t{1});
  QCOMPARE(boxes.shown[0].Text, QStringLiteral("Nie je možné načítať informácie o záložnej sade! "
                                               "for,\n") +
                                    home.Path("NONE.001") +
                                    QStringLiteral("\n\nSúbor neexistuje."));
  QCOMPARE(boxes.shown[0].Icon, TBoxIcon::Stop);
}

void RestoreTreeTest::SetNameTheEngineRefuses() {
  TPrivateHome home;
  TBoxScript boxes;
  TMainForm form;
  form.SetActiveTab(TMainForm::VerifyTab);
  WriteBytes(home.Path("a.b.001"), "x");
  Control<QLineEdit>(&form, QStringLiteral("VerifySetEdit"))->setText(home.Path("a.b.001"));
  form.PreviousNextClick(true);
  QCOMPARE(form.CurrentPageName(), QStringLiteral("VerifyWhat"));
  QCOMPARE(boxes.shown.size(), std::size_t{1});
  // The engine's own message in the application's error box.
  QVERIFY(!boxes.shown[0].Text.startsWith(text::kCannotRead));
  QVERIFY(!boxes.shown[0].Text.isEmpty());
  QCOMPARE(boxes.shown[0].Caption, ApplicationTitle());
  QCOMPARE(boxes.shown[0].Icon, TBoxIcon::Stop);
}

void RestoreTreeTest::FailureMessage_data() {
  QTest::addColumn<QString>("tab");
  QTest::addColumn<QString>("set");  // $HOME: the private folder
  QTest::addColumn<bool>("tape");
  QTest::addColumn<QString>("start");
  QTest::newRow("disk set missing")
      << "restore"
      << "$HOME/NONE.001" << false << text::kCannotRead + " for,\n$HOME/NONE.001\n\n";
  QTest::newRow("not a set") << "verify"
                             << "$HOME/JUNK.001" << false
                             << text::kCannotRead + " for,\n$HOME/JUNK.001\n\n";
  QTest::newRow("tape without a drive") << "restore"
                                        << "" << true << text::kCannotRead + ".\n\n";
}

void RestoreTreeTest::FailureMessage() {
  QFETCH(QString, tab);
  QFETCH(QString, set);
  QFETCH(bool, tape);
  QFETCH(QString, start);
  TPrivateHome home;
  qputenv("VAULTIX_TAPE", QFile::encodeName(home.Path(QStringLiteral("no-sg"))));
  TBoxScript boxes;
  WriteBytes(home.Path(QStringLiteral("JUNK.001")), QByteArray(600, 'j'));
  set.replace(QStringLiteral("$HOME"), home.Path(QString()).chopped(1));
  start.replace(QStringLiteral("$HOME"), home.Path(QString()).chopped(1));
  TMainForm form;
  const bool restore = tab == QLatin1String("restore");
  form.SetActiveTab(restore ? TMainForm::RestoreTab : TMainForm::VerifyTab);
  const QString prefix = restore ? "Restore" : "Verify";
  Control<QLineEdit>(&form, prefix + (restore ? "SetEdit" : "SetEdit"))->setText(set);
  if (tape)
    Control<QCheckBox>(&form, restore ? "RestoreFromTapeCheck" : "VerifyTapeCheck")->click();
  const QString page = form.CurrentPageName();
  form.PreviousNextClick(true);
  qunsetenv("VAULTIX_TAPE");
  QCOMPARE(form.CurrentPageName(), page);
  QVERIFY(!boxes.shown.empty());
  const TBoxRequest& box = boxes.shown.back();
  QVERIFY2(box.Text.startsWith(start), qPrintable(box.Text));
  QVERIFY(box.Text.size() > start.size());  // the result's own sentence follows
  QCOMPARE(box.Caption, form.windowTitle());
  QCOMPARE(box.Icon, TBoxIcon::Stop);
  QCOMPARE(form.RestoreTreeView()->topLevelItemCount(), 0);
}

QTEST_MAIN(RestoreTreeTest)
#include "restore_tree_test.moc"
