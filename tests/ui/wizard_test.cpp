// The main window's wizard: page checks, dependent controls, entries,
// headings, tab changes, the automatic advance, keyboard use and help.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <ctime>

#include "support/version.h"
#include "ui/help.h"
#include "ui/log_view.h"
#include "ui/main_form.h"
#include "ui/restore_tree.h"
#include "ui/status_form.h"
#include "ui/texts.h"
#include "ui/ui_fixture.h"

using namespace vx::ui;
using namespace vx::ui::test;

namespace {

// Sets controls from "Name=text" (edit), "+Name" (click a check box or radio
// button) and "@Name=entry" (append a list entry) steps; "$HOME" in a text
// stands for the private home folder.
void Apply(TMainForm& form, const QStringList& steps, const QString& home) {
  for (QString step : steps) {
    step.replace(QStringLiteral("$HOME"), home);
    if (step.startsWith(QLatin1Char('+'))) {
      Control<QAbstractButton>(&form, step.mid(1))->click();
    } else if (step.startsWith(QLatin1Char('@'))) {
      const int eq = step.indexOf(QLatin1Char('='));
      Control<QTreeWidget>(&form, step.mid(1, eq - 1))
          ->addTopLevelItem(new QTreeWidgetItem(QStringList{step.mid(eq + 1)}));
    } else {
      const int eq = step.indexOf(QLatin1Char('='));
      Control<QLineEdit>(&form, step.left(eq))->setText(step.mid(eq + 1));
    }
  }
}

// Puts the wizard on a page by name.
void GoTo(TMainForm& form, const QString& page) {
  for (int t = 0; t < 3; ++t) {
    const auto tab = static_cast<TMainForm::TTab>(t);
    QStackedWidget* s = form.Notebook(tab);
    for (int i = 0; i < s->count(); ++i) {
      if (s->widget(i)->objectName() == page) {
        form.SetActiveTab(tab);
        s->setCurrentIndex(i);
        form.UpdateWizardButtons();
        return;
      }
    }
  }
  qFatal("no page %s", qPrintable(page));
}

// Alt with a letter outside ASCII (the wizard's button accelerators).
void AltKey(QWidget* w, char16_t letter) {
  const auto key = static_cast<Qt::Key>(QChar(letter).unicode());
  const QString text = QChar(letter).toLower();
  QTest::sendKeyEvent(QTest::Press, w, key, text, Qt::AltModifier);
  QTest::sendKeyEvent(QTest::Release, w, key, text, Qt::AltModifier);
}

QStringList AllPages(TMainForm& form) {
  QStringList out;
  for (int t = 0; t < 3; ++t) {
    QStackedWidget* s = form.Notebook(static_cast<TMainForm::TTab>(t));
    for (int i = 0; i < s->count(); ++i) out << s->widget(i)->objectName();
  }
  return out;
}

}  // namespace

class WizardTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { vx::ReadVersionInfo(); }
  void PageChecks_data();
  void PageChecks();
  void TrimmedTextIsWrittenBack();
  void DependentControls_data();
  void DependentControls();
  void ModeGroupEnablesAndEmptiesTheDate();
  void InitialValues_data();
  void InitialValues();
  void HeadingsAndButtons_data();
  void HeadingsAndButtons();
  void TabChangeResetsThatTabOnly();
  void AddingEntries_data();
  void AddingEntries();
  void RemoveAndClearFollowTheList();
  void BrowseButtons_data();
  void BrowseButtons();
  void AutomaticAdvance_data();
  void AutomaticAdvance();
  void TabOrderFollowsThePage_data();
  void TabOrderFollowsThePage();
  void AcceleratorsStepAndStart();
  void HelpTopicBoxCopiesTheTopic_data();
  void HelpTopicBoxCopiesTheTopic();
  void F1OpensTheHelpOfThePage();
  void EveryPageAndWindowHasATopic();
  void TopicOfOtherWindows();
};

// ---- Page checks ----------------------------------------------------------------

void WizardTest::PageChecks_data() {
  QTest::addColumn<QString>("page");
  QTest::addColumn<QStringList>("steps");
  QTest::addColumn<QList<int>>("answers");  // buttons for the boxes shown
  QTest::addColumn<bool>("passes");
  QTest::addColumn<QString>("message");  // of the last box; "" for none
  QTest::addColumn<QString>("focus");    // the focused control after a failure

  using L = QList<int>;
  QTest::newRow("include list empty") << "BackupInclude" << QStringList{} << L{} << false
                                      << text::kNoIncludes << "BackupIncludeAddButton";
  QTest::newRow("include list with an entry")
      << "BackupInclude" << QStringList{"@BackupIncludeTree=/x"} << L{} << true << ""
      << "";
  QTest::newRow("exclude page has no check")
      << "BackupExclude" << QStringList{} << L{} << true << ""
      << "";
  QTest::newRow("location empty") << "BackupWhere" << QStringList{"BackupLocationEdit= \t "} << L{}
                                  << false << text::kNoLocation << "BackupLocationEdit";
  QTest::newRow("location missing, not created")
      << "BackupWhere" << QStringList{"BackupLocationEdit=$HOME/new/sub"} << L{BB_No} << false
      << text::kFolderMissing + "$HOME/new/sub" + text::kShallCreate << "BackupLocationEdit";
  QTest::newRow("location missing, created")
      << "BackupWhere" << QStringList{"BackupLocationEdit=$HOME/new/sub"} << L{BB_Yes} << true
      << text::kFolderMissing + "$HOME/new/sub" + text::kShallCreate << "";
  QTest::newRow("base name empty") << "BackupWhere" << QStringList{"BackupBaseNameEdit= "} << L{}
                                   << false << text::kNoBaseName << "BackupBaseNameEdit";
  for (const char* bad : {"a*b", "a/b", "a\\b", "a:b", "a?b", "a\"b", "a<b", "a>b", "a|b"})
    QTest::newRow(qPrintable(QStringLiteral("base name %1").arg(QString::fromLatin1(bad))))
        << "BackupWhere" << QStringList{QStringLiteral("BackupBaseNameEdit=") + bad} << L{} << false
        << text::kBadBaseName << "BackupBaseNameEdit";
  QTest::newRow("base name with dot and blanks")
      << "BackupWhere" << QStringList{"BackupBaseNameEdit=my back.up"} << L{} << true << ""
      << "";
  QTest::newRow("tape: location and name not needed")
      << "BackupWhere"
      << QStringList{"BackupLocationEdit=", "BackupBaseNameEdit=", "+BackupToTapeCheck"} << L{}
      << true << ""
      << "";
  QTest::newRow("encryption without password")
      << "BackupHow" << QStringList{"+BackupUseEncryptionCheck", "BackupPasswordEdit=  "} << L{}
      << false << text::kNoPassword << "BackupPasswordEdit";
  QTest::newRow("encryption with password")
      << "BackupHow"
      << QStringList{"+BackupUseEncryptionCheck", "BackupPasswordEdit=tajné heslo",
                     "BackupPasswordConfirmEdit=tajné heslo"}
      << L{} << true << ""
      << "";
  QTest::newRow("password of 7 bytes")
      << "BackupHow"
      << QStringList{"+BackupUseEncryptionCheck", "BackupPasswordEdit=tajneho",
                     "BackupPasswordConfirmEdit=tajneho"}
      << L{} << false << QString::fromUtf8("Heslo musí mať aspoň 8 znakov") << "BackupPasswordEdit";
  QTest::newRow("password of 7 letters, 8 bytes")
      << "BackupHow"
      << QStringList{"+BackupUseEncryptionCheck", "BackupPasswordEdit=tajného",
                     "BackupPasswordConfirmEdit=tajného"}
      << L{} << true << ""
      << "";
  QTest::newRow("password of 66 bytes")
      << "BackupHow"
      << QStringList{"+BackupUseEncryptionCheck", "BackupPasswordEdit=" + QString(66, 'h'),
                     "BackupPasswordConfirmEdit=" + QString(66, 'h')}
      << L{} << false << QString::fromUtf8("Heslo môže mať najviac 65 znakov!")
      << "BackupPasswordEdit";
  QTest::newRow("confirmation differs")
      << "BackupHow"
      << QStringList{"+BackupUseEncryptionCheck", "BackupPasswordEdit=tajné heslo",
                     "BackupPasswordConfirmEdit=tajne heslo"}
      << L{} << false << QString::fromUtf8("Heslo a jeho potvrdenie sa nezhodujú!")
      << "BackupPasswordConfirmEdit";
  QTest::newRow("confirmation empty")
      << "BackupHow" << QStringList{"+BackupUseEncryptionCheck", "BackupPasswordEdit=tajné heslo"}
      << L{} << false << QString::fromUtf8("Heslo a jeho potvrdenie sa nezhodujú!")
      << "BackupPasswordConfirmEdit";
  QTest::newRow("date mode, date empty") << "BackupHow" << QStringList{"+BackupModeGroup3"} << L{}
                                         << false << text::kBadDate << "BackupSpecialDateEdit";
  QTest::newRow("date mode, no date")
      << "BackupHow" << QStringList{"+BackupModeGroup3", "BackupSpecialDateEdit=zajtra"} << L{}
      << false << text::kBadDate << "BackupSpecialDateEdit";
  // $DATE: 2026-12-31 as the C library writes the user's short date.
  QTest::newRow("date mode, date in the short date format")
      << "BackupHow" << QStringList{"+BackupModeGroup3", "BackupSpecialDateEdit=$DATE"} << L{}
      << true << ""
      << "";
  QTest::newRow("restore set empty") << "RestoreFrom" << QStringList{"RestoreSetEdit=  "} << L{}
                                     << false << text::kNoRestoreSet << "RestoreSetEdit";
  QTest::newRow("restore set .002 goes on to reading")
      << "RestoreFrom" << QStringList{"RestoreSetEdit=$HOME/BACKUP.002"} << L{} << false
      << text::kCannotRead + " for,\n$HOME/BACKUP.002\n\n"
      << "";
  QTest::newRow("nothing selected to restore")
      << "RestoreWhat" << QStringList{} << L{} << false << text::kNoRestoreFiles << "RestoreTree";
  QTest::newRow("restore location empty") << "RestoreHow" << QStringList{} << L{} << false
                                          << text::kNoRestoreLocation << "RestoreLocationEdit";
  QTest::newRow("restore location missing, not created")
      << "RestoreHow" << QStringList{"RestoreLocationEdit=$HOME/r"} << L{BB_No} << false
      << text::kFolderMissing + "$HOME/r" + text::kShallCreate << "RestoreLocationEdit";
  QTest::newRow("restore location exists")
      << "RestoreHow" << QStringList{"RestoreLocationEdit=$HOME"} << L{} << true << ""
      << "";
  QTest::newRow("restore to original places needs no location")
      << "RestoreHow" << QStringList{"+RestoreToOriginalCheck"} << L{} << true << ""
      << "";
  QTest::newRow("verify set empty")
      << "VerifyWhat" << QStringList{} << L{} << false << text::kNoVerifySet << "VerifySetEdit";
  QTest::newRow("verify set .002") << "VerifyWhat" << QStringList{"VerifySetEdit=$HOME/BACKUP.002"}
                                   << L{} << false << text::kVerifyNot001 << "VerifySetEdit";
  QTest::newRow("verify set without extension")
      << "VerifyWhat" << QStringList{"VerifySetEdit=$HOME/x.y/BACKUP"} << L{} << false
      << text::kVerifyNot001 << "VerifySetEdit";
  QTest::newRow("verify page 2 has no check") << "VerifyHow" << QStringList{} << L{} << true << ""
                                              << "";
}

void WizardTest::PageChecks() {
  QFETCH(QString, page);
  QFETCH(QStringList, steps);
  QFETCH(QList<int>, answers);
  QFETCH(bool, passes);
  QFETCH(QString, message);
  QFETCH(QString, focus);
  TPrivateHome home;
  TBoxScript boxes;
  for (int a : answers) boxes.Answer(static_cast<TBoxButton>(a));
  TMainForm form;
  bool started = false;
  form.SetOperationHook([&](int, const vx::TWizardPages&) { started = true; });
  GoTo(form, page);
  std::tm last{};
  last.tm_year = 2026 - 1900;
  last.tm_mon = 11;
  last.tm_mday = 31;
  char date[64] = "";
  std::strftime(date, sizeof date, "%x", &last);
  steps.replaceInStrings(QStringLiteral("$DATE"), QString::fromLocal8Bit(date));
  Apply(form, steps, home.Home());
  QStackedWidget* stack = form.Notebook(form.ActiveTab());
  const int before = stack->currentIndex();
  form.PreviousNextClick(true);
  // Leaving forward: the next page, or the operation on the last one.
  const bool left = before == stack->count() - 1 ? started : stack->currentIndex() == before + 1;
  QCOMPARE(left, passes);
  if (!passes) QCOMPARE(stack->currentIndex(), before);
  message.replace(QStringLiteral("$HOME"), home.Home());
  if (message.isEmpty()) {
    QVERIFY(boxes.shown.empty());
  } else {
    QVERIFY(!boxes.shown.empty());
    const TBoxRequest& box = boxes.shown.front();
    QVERIFY2(box.Text.startsWith(message), qPrintable(box.Text));
    if (!passes && answers.isEmpty()) QCOMPARE(box.Icon, TBoxIcon::Stop);
  }
  if (!passes && !focus.isEmpty()) QCOMPARE(form.focusWidget()->objectName(), focus);
}

void WizardTest::TrimmedTextIsWrittenBack() {
  TPrivateHome home;
  TBoxScript boxes;
  TMainForm form;
  GoTo(form, QStringLiteral("BackupWhere"));
  auto* location = Control<QLineEdit>(&form, QStringLiteral("BackupLocationEdit"));
  location->setText(QStringLiteral("  ") + home.Home() + QStringLiteral(" \t"));
  form.PreviousNextClick(true);
  QCOMPARE(location->text(), home.Home());
  QCOMPARE(form.CurrentPageName(), QStringLiteral("BackupHow"));
  QVERIFY(boxes.shown.empty());
}

// ---- Dependent controls ---------------------------------------------------------

void WizardTest::DependentControls_data() {
  QTest::addColumn<QStringList>("clicks");
  QTest::addColumn<QStringList>("enabled");
  QTest::addColumn<QStringList>("disabled");
  QTest::addColumn<QStringList>("greyed");
  QTest::addColumn<QStringList>("white");

  QTest::newRow("backup to tape") << QStringList{"BackupToTapeCheck"} << QStringList{}
                                  << QStringList{"BackupLocationEdit", "BackupLocationButton",
                                                 "BackupBaseNameEdit", "segsize"}
                                  << QStringList{"BackupLocationEdit", "BackupBaseNameEdit"}
                                  << QStringList{};
  QTest::newRow("backup to tape and back")
      << QStringList{"BackupToTapeCheck", "BackupToTapeCheck"}
      << QStringList{"BackupLocationEdit", "BackupLocationButton", "BackupBaseNameEdit", "segsize"}
      << QStringList{} << QStringList{} << QStringList{"BackupLocationEdit", "BackupBaseNameEdit"};
  QTest::newRow("restore from tape") << QStringList{"RestoreFromTapeCheck"} << QStringList{}
                                     << QStringList{"RestoreSetEdit", "RestoreSetButton"}
                                     << QStringList{"RestoreSetEdit"} << QStringList{};
  QTest::newRow("restore from tape and back")
      << QStringList{"RestoreFromTapeCheck", "RestoreFromTapeCheck"}
      << QStringList{"RestoreSetEdit", "RestoreSetButton"} << QStringList{} << QStringList{}
      << QStringList{"RestoreSetEdit"};
  QTest::newRow("verify on tape") << QStringList{"VerifyTapeCheck"} << QStringList{}
                                  << QStringList{"VerifySetEdit", "VerifySetButton"}
                                  << QStringList{"VerifySetEdit"} << QStringList{};
  QTest::newRow("restore to original places")
      << QStringList{"RestoreToOriginalCheck"} << QStringList{}
      << QStringList{"RestoreLocationEdit", "RestoreLocationButton"}
      << QStringList{"RestoreLocationEdit"} << QStringList{};
  QTest::newRow("encryption on") << QStringList{"BackupUseEncryptionCheck"}
                                 << QStringList{"BackupPasswordEdit", "BackupPasswordConfirmEdit"}
                                 << QStringList{} << QStringList{}
                                 << QStringList{"BackupPasswordEdit", "BackupPasswordConfirmEdit"};
  QTest::newRow("encryption on and off")
      << QStringList{"BackupUseEncryptionCheck", "BackupUseEncryptionCheck"} << QStringList{}
      << QStringList{"BackupPasswordEdit", "BackupPasswordConfirmEdit"}
      << QStringList{"BackupPasswordEdit", "BackupPasswordConfirmEdit"} << QStringList{};
  QTest::newRow("date mode") << QStringList{"BackupModeGroup3"}
                             << QStringList{"BackupSpecialDateEdit"} << QStringList{}
                             << QStringList{} << QStringList{"BackupSpecialDateEdit"};
  QTest::newRow("date mode and back to full")
      << QStringList{"BackupModeGroup3", "BackupModeGroup0"} << QStringList{}
      << QStringList{"BackupSpecialDateEdit"} << QStringList{"BackupSpecialDateEdit"}
      << QStringList{};
}

void WizardTest::DependentControls() {
  QFETCH(QStringList, clicks);
  QFETCH(QStringList, enabled);
  QFETCH(QStringList, disabled);
  QFETCH(QStringList, greyed);
  QFETCH(QStringList, white);
  TPrivateHome home;
  TMainForm form;
  for (const QString& c : clicks) Control<QAbstractButton>(&form, c)->click();
  for (const QString& n : enabled) QVERIFY2(Control<QWidget>(&form, n)->isEnabled(), qPrintable(n));
  for (const QString& n : disabled)
    QVERIFY2(!Control<QWidget>(&form, n)->isEnabled(), qPrintable(n));
  for (const QString& n : greyed)
    QVERIFY2(Control<QWidget>(&form, n)->property("greyed").toBool(), qPrintable(n));
  for (const QString& n : white)
    QVERIFY2(!Control<QWidget>(&form, n)->property("greyed").toBool(), qPrintable(n));
}

void WizardTest::ModeGroupEnablesAndEmptiesTheDate() {
  TPrivateHome home;
  TMainForm form;
  GoTo(form, QStringLiteral("BackupHow"));
  auto* date = Control<QLineEdit>(&form, QStringLiteral("BackupSpecialDateEdit"));
  Control<QRadioButton>(&form, QStringLiteral("BackupModeGroup3"))->click();
  QCOMPARE(form.focusWidget(), date);
  date->setText(QStringLiteral("01.02.2024"));
  Control<QRadioButton>(&form, QStringLiteral("BackupModeGroup2"))->click();
  QVERIFY(date->text().isEmpty());
}

// ---- Initial values and captions ------------------------------------------------

void WizardTest::InitialValues_data() {
  QTest::addColumn<QString>("control");
  QTest::addColumn<QString>("property");
  QTest::addColumn<QVariant>("expected");
  auto row = [](const char* c, const char* p, const QVariant& v) {
    QTest::newRow(qPrintable(QStringLiteral("%1.%2").arg(QLatin1String(c), QLatin1String(p))))
        << QString::fromLatin1(c) << QString::fromLatin1(p) << v;
  };
  row("BackupLocationEdit", "text", QStringLiteral("$HOME/"));
  row("BackupBaseNameEdit", "text", QStringLiteral("Backup"));
  row("segsize", "text", QStringLiteral("0"));
  row("BackupToTapeCheck", "checked", false);
  row("BackupModeGroup0", "checked", true);
  row("BackupModeGroup0", "text", QStringLiteral("Zálohovať všetko "));
  row("BackupCompressionGroup1", "checked", true);
  row("BackupSpecialDateEdit", "enabled", false);
  row("BackupOpenFilesCheck", "checked", false);
  row("BackupSkipLocksCheck", "checked", false);
  row("BackupHiddenFilesCheck", "checked", true);
  row("BackupEraseTargetCheck", "checked", false);
  row("BackupUseEncryptionCheck", "checked", false);
  row("BackupVerifyCheck", "checked", false);
  row("BackupCreateLogCheck", "checked", true);
  row("BackupKeepArchiveFlagsCheck", "checked", false);
  row("BackupPasswordEdit", "enabled", false);
  row("BackupCommentEdit", "maxLength", 255);
  row("RestoreFromTapeCheck", "checked", false);
  row("RestoreModeGroup0", "checked", true);
  row("RestoreModeGroup2", "text", QStringLiteral("Novšie  a nové"));
  row("RestoreToOriginalCheck", "checked", false);
  row("RestoreAttributesCheck", "checked", true);
  row("RestoreSkipLocksCheck", "checked", false);
  row("RestoreCreateLogCheck", "checked", false);
  row("RestoreCommentEdit", "readOnly", true);
  row("VerifyTapeCheck", "checked", false);
  row("VerifyCreateLogCheck", "checked", false);
  row("VerifyWhatLabel", "visible", false);
  row("backupftpportnumber", "text", QStringLiteral("21"));
  row("restoreusername", "text", QStringLiteral("anonymous"));
  row("verifyftpcheck", "enabled", false);
  row("backupToFTPCheckGroup", "visible", false);
  row("NextButton", "text", text::kNext);
  row("PreviousButton", "enabled", false);
}

void WizardTest::InitialValues() {
  QFETCH(QString, control);
  QFETCH(QString, property);
  QFETCH(QVariant, expected);
  TPrivateHome home;
  TMainForm form;
  form.show();
  QVariant want = expected;
  if (want.typeId() == QMetaType::QString)
    want = want.toString().replace(QStringLiteral("$HOME"), home.Home());
  QObject* c = Control<QObject>(&form, control);
  QVariant got = c->property(property.toLatin1().constData());
  if (property == QLatin1String("visible")) got = static_cast<QWidget*>(c)->isVisible();
  QCOMPARE(got, want);
}

void WizardTest::HeadingsAndButtons_data() {
  QTest::addColumn<QString>("page");
  QTest::addColumn<QString>("heading");
  QTest::addColumn<QString>("nextCaption");
  QTest::addColumn<bool>("previousEnabled");
  const QString titles[] = {"BackupTitleLabel", "RestoreTitleLabel", "VerifyTitleLabel"};
  Q_UNUSED(titles);
  QTest::newRow("BackupInclude") << "BackupInclude" << text::kBackupHeadings[0] << text::kNext
                                 << false;
  QTest::newRow("BackupExclude") << "BackupExclude" << text::kBackupHeadings[1] << text::kNext
                                 << true;
  QTest::newRow("BackupWhere") << "BackupWhere" << text::kBackupHeadings[2] << text::kNext << true;
  QTest::newRow("BackupHow") << "BackupHow" << text::kBackupHeadings[3] << text::kStart << true;
  QTest::newRow("RestoreFrom") << "RestoreFrom" << text::kRestoreHeadings[0] << text::kNext
                               << false;
  QTest::newRow("RestoreWhat") << "RestoreWhat" << text::kRestoreHeadings[1] << text::kNext << true;
  QTest::newRow("RestoreHow") << "RestoreHow" << text::kRestoreHeadings[2] << text::kStart << true;
  QTest::newRow("VerifyWhat") << "VerifyWhat" << text::kVerifyHeadings[0] << text::kNext << false;
  QTest::newRow("VerifyHow") << "VerifyHow" << text::kVerifyHeadings[1] << text::kStart << true;
}

void WizardTest::HeadingsAndButtons() {
  QFETCH(QString, page);
  QFETCH(QString, heading);
  QFETCH(QString, nextCaption);
  QFETCH(bool, previousEnabled);
  TPrivateHome home;
  TMainForm form;
  GoTo(form, page);
  const QString label = page.startsWith(QLatin1String("Backup"))    ? "BackupTitleLabel"
                        : page.startsWith(QLatin1String("Restore")) ? "RestoreTitleLabel"
                                                                    : "VerifyTitleLabel";
  QCOMPARE(Control<QLabel>(&form, label)->text(), heading);
  QCOMPARE(Control<QPushButton>(&form, QStringLiteral("NextButton"))->text(), nextCaption);
  QCOMPARE(Control<QPushButton>(&form, QStringLiteral("PreviousButton"))->isEnabled(),
           previousEnabled);
}

void WizardTest::TabChangeResetsThatTabOnly() {
  TPrivateHome home;
  TMainForm form;
  GoTo(form, QStringLiteral("BackupHow"));
  auto* tabs = Control<QTabWidget>(&form, QStringLiteral("MainPage"));
  GoTo(form, QStringLiteral("RestoreHow"));
  QCOMPARE(Control<QLabel>(&form, QStringLiteral("Panel"))->palette().color(QPalette::Window),
           QColor(128, 0, 0));
  tabs->setCurrentIndex(TMainForm::BackupTab);
  QCOMPARE(form.CurrentPageName(), QStringLiteral("BackupInclude"));
  QCOMPARE(Control<QLabel>(&form, QStringLiteral("Panel"))->palette().color(QPalette::Window),
           QColor(0, 0, 128));
  // The restore stack kept its page until its tab comes back.
  QCOMPARE(form.Notebook(TMainForm::RestoreTab)->currentIndex(), 2);
  tabs->setCurrentIndex(TMainForm::RestoreTab);
  QCOMPARE(form.CurrentPageName(), QStringLiteral("RestoreFrom"));
  tabs->setCurrentIndex(TMainForm::VerifyTab);
  QCOMPARE(Control<QLabel>(&form, QStringLiteral("Panel"))->palette().color(QPalette::Window),
           QColor(128, 0, 128));
}

// ---- Entries --------------------------------------------------------------------

void WizardTest::AddingEntries_data() {
  QTest::addColumn<QString>("list");
  QTest::addColumn<QStringList>("listed");
  QTest::addColumn<QString>("answer");
  QTest::addColumn<bool>("added");
  QTest::addColumn<bool>("duplicate");
  QTest::addColumn<int>("image");
  QTest::newRow("folder with subfolders")
      << "BackupIncludeTree" << QStringList{} << "$HOME /S" << true << false << int(TI_Folder);
  QTest::newRow("single existing file")
      << "BackupIncludeTree" << QStringList{} << "$HOME/f.txt" << true << false << int(TI_File);
  QTest::newRow("mask") << "BackupExcludeTree" << QStringList{} << "$HOME/*.tmp" << true << false
                        << int(TI_Folder);
  QTest::newRow("same entry") << "BackupIncludeTree" << QStringList{"/data /S"} << "/data /S"
                              << false << true << 0;
  QTest::newRow("marker in other case")
      << "BackupExcludeTree" << QStringList{"/data /S"} << "/data /s" << false << true << 0;
  QTest::newRow("same path without marker") << "BackupIncludeTree" << QStringList{"/data /S"}
                                            << "/data" << true << false << int(TI_Folder);
  QTest::newRow("names differing in letter case")
      << "BackupIncludeTree" << QStringList{"/Data"} << "/data" << true << false << int(TI_Folder);
  QTest::newRow("duplicate only within its list")
      << "BackupExcludeTree" << QStringList{} << "/data" << true << false << int(TI_Folder);
  QTest::newRow("cancelled") << "BackupIncludeTree" << QStringList{} << "" << false << false << 0;
  QTest::newRow("only the marker")
      << "BackupIncludeTree" << QStringList{} << " /S" << false << false << 0;
}

void WizardTest::AddingEntries() {
  QFETCH(QString, list);
  QFETCH(QStringList, listed);
  QFETCH(QString, answer);
  QFETCH(bool, added);
  QFETCH(bool, duplicate);
  QFETCH(int, image);
  TPrivateHome home;
  WriteBytes(home.Home() + QStringLiteral("/f.txt"), "x");
  TBoxScript boxes;
  TPathScript paths;
  TMainForm form;
  Control<QTreeWidget>(&form, QStringLiteral("BackupIncludeTree"))
      ->addTopLevelItem(new QTreeWidgetItem(QStringList{"/data"}));
  auto* tree = Control<QTreeWidget>(&form, list);
  tree->clear();
  for (const QString& l : listed) tree->addTopLevelItem(new QTreeWidgetItem(QStringList{l}));
  answer.replace(QStringLiteral("$HOME"), home.Home());
  paths.answers.push_back(answer);
  const QString button = list == QLatin1String("BackupIncludeTree") ? "BackupIncludeAddButton"
                                                                    : "BackupExcludeAddButton";
  Control<QPushButton>(&form, button)->click();
  QCOMPARE(paths.calls.size(), std::size_t{1});
  QCOMPARE(paths.calls[0].first, SM_Files);
  QVERIFY(paths.calls[0].second.isEmpty());
  QCOMPARE(tree->topLevelItemCount(), listed.size() + (added ? 1 : 0));
  QCOMPARE(boxes.shown.size(), std::size_t(duplicate ? 1 : 0));
  if (duplicate) {
    QCOMPARE(boxes.shown[0].Text, text::kDuplicate);
    QCOMPARE(boxes.shown[0].Caption, form.windowTitle());
  }
  if (added) {
    QTreeWidgetItem* last = tree->topLevelItem(tree->topLevelItemCount() - 1);
    QCOMPARE(last->text(0), answer);
    QCOMPARE(last->data(0, kImageRole).toInt(), image);
    QCOMPARE(tree->currentItem(), last);
  }
}

void WizardTest::RemoveAndClearFollowTheList() {
  TPrivateHome home;
  TPathScript paths;
  TMainForm form;
  auto* remove = Control<QPushButton>(&form, QStringLiteral("BackupIncludeRemoveButton"));
  auto* clear = Control<QPushButton>(&form, QStringLiteral("BackupIncludeClearButton"));
  QVERIFY(!remove->isEnabled());
  QVERIFY(!clear->isEnabled());
  paths.answers = {QStringLiteral("/a"), QStringLiteral("/b")};
  form.AddEntry(Control<QTreeWidget>(&form, QStringLiteral("BackupIncludeTree")));
  form.AddEntry(Control<QTreeWidget>(&form, QStringLiteral("BackupIncludeTree")));
  QVERIFY(remove->isEnabled());
  remove->click();
  auto* tree = Control<QTreeWidget>(&form, QStringLiteral("BackupIncludeTree"));
  QCOMPARE(tree->topLevelItemCount(), 1);
  QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("/a"));
  QVERIFY(clear->isEnabled());
  clear->click();
  QCOMPARE(tree->topLevelItemCount(), 0);
  QVERIFY(!clear->isEnabled());
  QVERIFY(!remove->isEnabled());
}

void WizardTest::BrowseButtons_data() {
  QTest::addColumn<QString>("button");
  QTest::addColumn<QString>("edit");
  QTest::addColumn<int>("mode");
  QTest::addColumn<QString>("answer");
  QTest::newRow("backup folder") << "BackupLocationButton"
                                 << "BackupLocationEdit" << int(SM_BackupTarget) << "/srv/b";
  QTest::newRow("restore set") << "RestoreSetButton"
                               << "RestoreSetEdit" << int(SM_ArchiveSet) << "/srv/S.001";
  QTest::newRow("verify set") << "VerifySetButton"
                              << "VerifySetEdit" << int(SM_ArchiveSet) << "/srv/V.001";
  QTest::newRow("restore folder") << "RestoreLocationButton"
                                  << "RestoreLocationEdit" << int(SM_RestoreTarget) << "/srv/r";
  QTest::newRow("cancelled keeps the text") << "RestoreLocationButton"
                                            << "RestoreLocationEdit" << int(SM_RestoreTarget) << "";
}

void WizardTest::BrowseButtons() {
  QFETCH(QString, button);
  QFETCH(QString, edit);
  QFETCH(int, mode);
  QFETCH(QString, answer);
  TPrivateHome home;
  TPathScript paths;
  paths.answers.push_back(answer);
  TMainForm form;
  auto* e = Control<QLineEdit>(&form, edit);
  e->setText(QStringLiteral("/before/x"));
  Control<QPushButton>(&form, button)->click();
  QCOMPARE(paths.calls.size(), std::size_t{1});
  QCOMPARE(int(paths.calls[0].first), mode);
  QCOMPARE(paths.calls[0].second, QStringLiteral("/before/x"));
  QCOMPARE(e->text(), answer.isEmpty() ? QStringLiteral("/before/x") : answer);
}

// ---- Automatic advance ----------------------------------------------------------

void WizardTest::AutomaticAdvance_data() {
  QTest::addColumn<QString>("job");  // "" : no file at that name
  QTest::addColumn<QString>("page");
  QTest::addColumn<QString>("message");
  QTest::addColumn<bool>("started");
  const QString how =
      "[Where]\nBackupToTape=0\nLocation=$HOME/\nBaseName=Backup\n[How]\nMode=0\n"
      "Compression=1\nCreateLog=0\n";
  QTest::newRow("good job") << "[ID]\nVelmora=1\n[Include]\nFiles0=$HOME /S\n[Exclude]\n" + how
                            << "BackupHow"
                            << "" << true;
  QTest::newRow("job without includes") << "[ID]\nVelmora=1\n[Include]\n[Exclude]\n" + how
                                        << "BackupInclude" << text::kNoIncludes << true;
  QTest::newRow("job to a missing folder refused")
      << "[ID]\nVelmora=1\n[Include]\nFiles0=/x\n[Where]\nLocation=$HOME/missing/\n"
      << "BackupWhere" << text::kFolderMissing << true;
  QTest::newRow("not a job file") << "[ID]\nVelmora=0\n[Include]\nFiles0=/x\n"
                                  << "BackupInclude"
                                  << "\nNeplatný formát záložnej sady" << false;
  QTest::newRow("missing file") << ""
                                << "BackupInclude"
                                << "\nSúbor nenájdený.\n"
                                << false;
}

void WizardTest::AutomaticAdvance() {
  QFETCH(QString, job);
  QFETCH(QString, page);
  QFETCH(QString, message);
  QFETCH(bool, started);
  TPrivateHome home;
  TBoxScript boxes(BB_No);
  const QString file = home.Path(QStringLiteral("job.sqt"));
  if (!job.isEmpty()) WriteBytes(file, job.replace(QStringLiteral("$HOME"), home.Home()).toUtf8());
  TMainForm form({file});
  form.SetOperationHook([](int, const vx::TWizardPages&) { QFAIL("no operation may start"); });
  QCOMPARE(form.StartedWithJob(), started);
  form.show();
  QVERIFY(QTest::qWaitForWindowActive(&form));
  if (started) QTRY_VERIFY_WITH_TIMEOUT(!form.AdvanceTimer()->isActive(), 5000);
  QTest::qWait(started ? 100 : 1300);
  QCOMPARE(form.CurrentPageName(), page);
  if (message.isEmpty()) {
    QVERIFY(boxes.shown.empty());
    QCOMPARE(Control<QPushButton>(&form, QStringLiteral("NextButton"))->text(), text::kStart);
  } else {
    QCOMPARE(boxes.shown.size(), std::size_t{1});
    QVERIFY2(boxes.shown[0].Text.contains(message), qPrintable(boxes.shown[0].Text));
  }
}

// ---- Keyboard -------------------------------------------------------------------

void WizardTest::TabOrderFollowsThePage_data() {
  QTest::addColumn<QString>("page");
  QTest::addColumn<QStringList>("order");
  QTest::newRow("BackupInclude") << "BackupInclude"
                                 << QStringList{"BackupIncludeTree", "BackupIncludeAddButton",
                                                "NextButton"};
  QTest::newRow("RestoreWhat") << "RestoreWhat"
                               << QStringList{"RestoreCommentEdit", "RestoreTree", "PreviousButton",
                                              "NextButton"};
  QTest::newRow("VerifyHow") << "VerifyHow"
                             << QStringList{"VerifyCommentEdit", "VerifyCreateLogCheck",
                                            "PreviousButton", "NextButton"};
  QTest::newRow("BackupWhere") << "BackupWhere" << QStringList{"BackupToTapeCheck",
                                                               "BackupLocationEdit",
                                                               "BackupLocationButton",
                                                               "BackupBaseNameEdit",
                                                               "segsize",
                                                               "PreviousButton",
                                                               "NextButton"};
  QTest::newRow("BackupHow") << "BackupHow"
                             << QStringList{"BackupModeGroup0",
                                            "BackupCompressionGroup0",
                                            "BackupOpenFilesCheck",
                                            "BackupSkipLocksCheck",
                                            "BackupHiddenFilesCheck",
                                            "BackupEraseTargetCheck",
                                            "BackupUseEncryptionCheck",
                                            "BackupVerifyCheck",
                                            "BackupCreateLogCheck",
                                            "BackupKeepArchiveFlagsCheck",
                                            "BackupCommentEdit",
                                            "PreviousButton",
                                            "NextButton"};
  QTest::newRow("RestoreFrom") << "RestoreFrom"
                               << QStringList{"RestoreSetEdit", "RestoreSetButton",
                                              "RestoreFromTapeCheck", "RestorePasswordEdit",
                                              "NextButton"};
  QTest::newRow("RestoreHow")
      << "RestoreHow"
      << QStringList{"RestoreModeGroup0",     "RestoreToOriginalCheck", "RestoreAttributesCheck",
                     "RestoreSkipLocksCheck", "RestoreCreateLogCheck",  "RestoreLocationEdit",
                     "RestoreLocationButton", "PreviousButton",         "NextButton"};
  QTest::newRow("VerifyWhat") << "VerifyWhat"
                              << QStringList{"VerifySetEdit", "VerifySetButton", "VerifyTapeCheck",
                                             "VerifyPasswordEdit", "NextButton"};
}

void WizardTest::TabOrderFollowsThePage() {
  QFETCH(QString, page);
  QFETCH(QStringList, order);
  TPrivateHome home;
  TMainForm form;
  form.show();
  QVERIFY(QTest::qWaitForWindowActive(&form));
  GoTo(form, page);
  Control<QWidget>(&form, order.first())->setFocus();
  QCOMPARE(QApplication::focusWidget()->objectName(), order.first());
  for (int i = 1; i < order.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), order[i]);
  }
}

void WizardTest::AcceleratorsStepAndStart() {
  TPrivateHome home;
  TBoxScript boxes;
  int started = -1;
  TMainForm form;
  form.SetOperationHook([&](int kind, const vx::TWizardPages&) { started = kind; });
  form.show();
  QVERIFY(QTest::qWaitForWindowActive(&form));
  GoTo(form, QStringLiteral("VerifyHow"));
  // Alt with the underlined letter of "&Štart!" starts; Space ticks a box.
  Control<QWidget>(&form, QStringLiteral("VerifyCreateLogCheck"))->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
  QVERIFY(Control<QCheckBox>(&form, QStringLiteral("VerifyCreateLogCheck"))->isChecked());
  AltKey(&form, u'Š');
  QTRY_COMPARE(started, int(TMainForm::VerifyTab));  // a shortcut clicks animated
  // Alt with the underlined letter of "&Ďalej" steps forward.
  GoTo(form, QStringLiteral("BackupExclude"));
  AltKey(&form, u'Ď');
  QTRY_COMPARE(form.CurrentPageName(), QStringLiteral("BackupWhere"));
  // The menu items have keys: Ctrl+S asks where to save the job.
  TFileDialogScript dialogs;
  QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier);
  QCOMPARE(dialogs.requests.size(), std::size_t{1});
  QVERIFY(dialogs.requests[0].Save);
  // Enter presses the default button, Next.
  QTest::keyClick(Control<QWidget>(&form, QStringLiteral("segsize")), Qt::Key_Return);
  QCOMPARE(form.CurrentPageName(), QStringLiteral("BackupHow"));
  QVERIFY(boxes.shown.empty());
}

// ---- Help -----------------------------------------------------------------------

void WizardTest::HelpTopicBoxCopiesTheTopic_data() {
  QTest::addColumn<int>("answer");
  QTest::addColumn<bool>("copied");
  QTest::newRow("OK copies") << int(BB_Ok) << true;
  QTest::newRow("Cancel does not") << int(BB_Cancel) << false;
}

void WizardTest::HelpTopicBoxCopiesTheTopic() {
  QFETCH(int, answer);
  QFETCH(bool, copied);
  TPrivateHome home;
  TBoxScript boxes;
  boxes.Answer(static_cast<TBoxButton>(answer));
  TMainForm form;
  form.show();
  QVERIFY(QTest::qWaitForWindowActive(&form));
  GoTo(form, QStringLiteral("BackupWhere"));
  QApplication::clipboard()->setText(QStringLiteral("before"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1, Qt::ControlModifier | Qt::ShiftModifier);
  QCOMPARE(boxes.shown.size(), std::size_t{1});
  QCOMPARE(boxes.shown[0].Text, QStringLiteral("Window - ") + text::kMainCaption +
                                    QStringLiteral("\n\nHeslo ID - BackupWhere\n\n") +
                                    text::kHelpCopyHint);
  QCOMPARE(boxes.shown[0].Icon, TBoxIcon::Information);
  QCOMPARE(boxes.shown[0].Buttons, BB_Ok | BB_Cancel);
  QCOMPARE(QApplication::clipboard()->text(),
           copied ? QStringLiteral("BackupWhere") : QStringLiteral("before"));
}

void WizardTest::F1OpensTheHelpOfThePage() {
  TPrivateHome home;
  TMainForm form;
  form.show();
  QVERIFY(QTest::qWaitForWindowActive(&form));
  GoTo(form, QStringLiteral("RestoreFrom"));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
  THelpWindow* help = form.HelpHandler()->HelpWindow();
  QVERIFY(help != nullptr);
  QVERIFY(help->isVisible());
  QCOMPARE(help->Topic(), QStringLiteral("RestoreFrom"));
}

void WizardTest::EveryPageAndWindowHasATopic() {
  TPrivateHome home;
  TMainForm form;
  for (const QString& page : AllPages(form)) QVERIFY2(HasHelpTopic(page), qPrintable(page));
  for (int m = 0; m < 4; ++m) {
    TSelectionForm dialog(static_cast<TSelectionMode>(m));
    QString topic;
    QString windowText;
    form.HelpHandler()->TopicFor(&dialog, topic, windowText);
    QVERIFY2(HasHelpTopic(topic), qPrintable(topic));
    QCOMPARE(windowText, dialog.windowTitle());
  }
  // A page's help is in Slovak and names its subject.
  QVERIFY(HelpPage(QStringLiteral("BackupWhere")).contains(QStringLiteral("Kam zálohovať")));
}

void WizardTest::TopicOfOtherWindows() {
  TPrivateHome home;
  TMainForm form;
  form.show();
  TViewLogForm viewer(&form, home.Path(QStringLiteral("x.LOG")));
  TStatusForm status(&form, 0, form.ReadPages());
  const std::pair<QWidget*, QString> windows[] = {{&status, QStringLiteral("Status")},
                                                  {&viewer, QStringLiteral("ViewLog")}};
  for (const auto& [window, expected] : windows) {
    QString topic;
    QString windowText;
    form.HelpHandler()->TopicFor(window, topic, windowText);
    QCOMPARE(topic, expected);
    QCOMPARE(windowText, window->windowTitle());
    QVERIFY(HasHelpTopic(topic));
  }
  QCOMPARE(HelpTopicName(QStringLiteral("Vyberte miesto FormForm")),
           QStringLiteral("Vyberte_miesto_Form"));
}

QTEST_MAIN(WizardTest)
#include "wizard_test.moc"
