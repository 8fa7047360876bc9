// The main window's behaviour: start-up, the wizard's steps, page checks,
// entries and the dependent controls.
#include "ui/main_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <stdexcept>

#include "engine/vaultrex.h"
#include "platform/paths.h"
#include "support/version.h"
#include "ui/application.h"
#include "ui/help.h"
#include "ui/log_view.h"
#include "ui/main_form_util.h"
#include "ui/message_boxes.h"
#include "ui/restore_tree.h"
#include "ui/selection_dialog.h"
#include "ui/settings.h"
#include "ui/status_form.h"
#include "ui/texts.h"

namespace vx::ui {

QString HomeFolder() {
  QString home = QDir::homePath();
  if (!home.endsWith(QLatin1Char('/'))) home += QLatin1Char('/');
  return home;
}

void SetGreyed(QWidget* edit, bool greyed) {
  QPalette p = edit->palette();
  const QPalette system = QApplication::palette(edit);
  const QColor c = greyed ? system.color(QPalette::Active, QPalette::Button)
                          : system.color(QPalette::Active, QPalette::Base);
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    p.setColor(group, QPalette::Base, c);
  edit->setPalette(p);
  edit->setProperty("greyed", greyed);
}

QString TrimText(const QString& text) {
  int b = 0;
  int e = static_cast<int>(text.size());
  while (b < e && text[b].unicode() <= 32) ++b;
  while (e > b && text[e - 1].unicode() <= 32) --e;
  return text.mid(b, e - b);
}

namespace {

// Panel colours of the tabs: navy, maroon, purple.
const QColor kPanelColours[] = {QColor(0, 0, 128), QColor(128, 0, 0), QColor(128, 0, 128)};

// Trims an edit and writes the trimmed text back.
QString Trimmed(QLineEdit* edit) {
  QString t = TrimText(edit->text());
  if (t != edit->text()) edit->setText(t);
  return t;
}

// An entry's path and whether it carries the recursion marker.
std::pair<QString, bool> EntryKey(const QString& text) {
  std::string s = text.toStdString();
  const bool recursive = vx::StripRecursionMarker(s);
  return {QString::fromStdString(s), recursive};
}

}  // namespace

TMainForm::TMainForm(const QStringList& arguments, const QString& programPath) : QMainWindow() {
  setObjectName(QStringLiteral("MainForm"));
  // A resizable window: the lists and the restore tree grow with it.
  BuildMenu();

  auto* central = new QWidget(this);
  panel_ = new QLabel(central);
  panel_->setObjectName(QStringLiteral("Panel"));
  panel_->setFixedWidth(110);
  panel_->setAutoFillBackground(true);
  panel_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  panel_->setPixmap(style()
                        ->standardIcon(QStyle::SP_DriveHDIcon)
                        .pixmap(64, 64)
                        .scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  panel_->setContentsMargins(0, 24, 0, 0);

  mainPage_ = new QTabWidget(central);
  mainPage_->setObjectName(QStringLiteral("MainPage"));
  mainPage_->addTab(BuildBackupSheet(), QStringLiteral("Zálohovanie"));
  mainPage_->addTab(BuildRestoreSheet(), QStringLiteral("Obnova"));
  mainPage_->addTab(BuildVerifySheet(), QStringLiteral("Kontrola"));
  for (QLabel* t : titles_) {
    QFont f = t->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.2);
    t->setFont(f);
  }

  previousButton_ = new QPushButton(text::kPrevious, central);
  previousButton_->setObjectName(QStringLiteral("PreviousButton"));
  previousButton_->setAutoDefault(false);
  nextButton_ = new QPushButton(text::kNext, central);
  nextButton_->setObjectName(QStringLiteral("NextButton"));
  nextButton_->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(previousButton_);
  buttons->addWidget(nextButton_);
  auto* right = new QVBoxLayout;
  right->addWidget(mainPage_, 1);
  right->addLayout(buttons);
  auto* all = new QHBoxLayout(central);
  all->addWidget(panel_);
  all->addLayout(right, 1);
  setCentralWidget(central);
  statusBar()->setObjectName(QStringLiteral("StatusBar"));
  statusBar()->setSizeGripEnabled(true);

  animate_ = new QLabel(central);
  animate_->setObjectName(QStringLiteral("Animate"));
  animate_->setPixmap(style()->standardIcon(QStyle::SP_FileDialogContentsView).pixmap(48, 48));
  animate_->resize(48, 48);
  animate_->hide();

  timer1_ = new QTimer(this);
  timer1_->setObjectName(QStringLiteral("Timer1"));
  timer1_->setInterval(1000);
  connect(timer1_, &QTimer::timeout, this, &TMainForm::Timer1Timer);
  connect(previousButton_, &QPushButton::clicked, this, [this] { PreviousNextClick(false); });
  connect(nextButton_, &QPushButton::clicked, this, [this] { PreviousNextClick(true); });
  connect(mainPage_, &QTabWidget::currentChanged, this, &TMainForm::MainPageChange);
  connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
    if (s == Qt::ApplicationActive) ApplicationActivated();
  });
  SetTabOrders();

  // Start-up: caption from the version information, the program's path in
  // the user's settings, the help key, the first pages, a job file named on
  // the command line, and the job-file type.
  const QString description = QString::fromStdString(vx::VersionString(vx::VS_FileDescription));
  setWindowTitle(description);
  SetApplicationTitle(description.isEmpty() ? QStringLiteral("Vaultix") : description);
  if (!programPath.isEmpty()) RecordProgramPath(programPath, windowTitle(), this);
  help_ = new THelpKeyHandler(this, [this] { return CurrentPageName(); });
  SetActiveTab(BackupTab);
  for (QStackedWidget* s : notebooks_) s->setCurrentIndex(0);
  MainPageChange();
  // The set read last time stands in the set fields; the job opened or saved
  // last time is offered in the Súbor menu.
  const QString lastSet = LastSetFile();
  if (!lastSet.isEmpty() && QFileInfo(lastSet).isFile()) {
    restoreSet_->setText(lastSet);
    verifySet_->setText(lastSet);
  }
  UpdateReopenItem();
  if (!arguments.isEmpty()) startedWithJob_ = LoadJob(arguments.constFirst());
  if (!startedWithJob_ && reopenItem_->isEnabled())
    statusBar()->showMessage(text::kLastJobHint + QFileInfo(LastJobFile()).fileName());
  UpdateWizardButtons();
  nextButton_->setFocus();
  // The window opens at its usual size where the screen has room for it and
  // never below what its pages need; on a small or scaled screen (2x on
  // 1280x900) it opens at the screen's size.
  setMinimumSize(minimumSizeHint());
  // The usual size shows the largest page whole.
  for (QStackedWidget* s : notebooks_)
    for (int i = 0; i < s->count(); ++i)
      s->widget(i)->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  QSize size = sizeHint().expandedTo(QSize(660, 500));
  UpdateWizardButtons();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect room = screen->availableGeometry();
    const QSize frame = QSize(16, 48);  // the window manager's border and title
    size = size.boundedTo(room.size() - frame).expandedTo(minimumSize());
    resize(size);
    move(room.center() - rect().center());
  } else {
    resize(size);
  }
  if (!programPath.isEmpty()) RegisterFileAssociation(programPath, this);
}

TMainForm::~TMainForm() = default;

// ---- Wizard -------------------------------------------------------------------

TMainForm::TTab TMainForm::ActiveTab() const {
  return static_cast<TTab>(mainPage_->currentIndex());
}
void TMainForm::SetActiveTab(TTab tab) { mainPage_->setCurrentIndex(tab); }
QStackedWidget* TMainForm::Notebook(TTab tab) const { return notebooks_[tab]; }

QString TMainForm::CurrentPageName() const {
  return notebooks_[ActiveTab()]->currentWidget()->objectName();
}

void TMainForm::MainPageChange() {
  const TTab tab = ActiveTab();
  QPalette p = panel_->palette();
  p.setColor(QPalette::Window, kPanelColours[tab]);
  panel_->setPalette(p);
  notebooks_[tab]->setCurrentIndex(0);
  UpdateWizardButtons();
}

void TMainForm::UpdateWizardButtons() {
  QStackedWidget* stack = notebooks_[ActiveTab()];
  const int index = stack->currentIndex();
  // Only the page in sight counts for the tab's size: a short page does not
  // scroll because a taller one is hidden behind it.
  for (QStackedWidget* s : notebooks_) {
    for (int i = 0; i < s->count(); ++i) {
      const auto policy = i == s->currentIndex() ? QSizePolicy::Preferred : QSizePolicy::Ignored;
      s->widget(i)->setSizePolicy(policy, policy);
    }
  }
  previousButton_->setEnabled(index > 0);
  nextButton_->setText(index == stack->count() - 1 ? text::kStart : text::kNext);
  titles_[BackupTab]->setText(text::kBackupHeadings[notebooks_[BackupTab]->currentIndex()]);
  titles_[RestoreTab]->setText(text::kRestoreHeadings[notebooks_[RestoreTab]->currentIndex()]);
  titles_[VerifyTab]->setText(text::kVerifyHeadings[notebooks_[VerifyTab]->currentIndex()]);
  includeButtons_[1]->setEnabled(!includeTree_->selectedItems().isEmpty());
  includeButtons_[2]->setEnabled(includeTree_->topLevelItemCount() > 0);
  excludeButtons_[1]->setEnabled(!excludeTree_->selectedItems().isEmpty());
  excludeButtons_[2]->setEnabled(excludeTree_->topLevelItemCount() > 0);
}

void TMainForm::PreviousNextClick(bool next) {
  QStackedWidget* stack = notebooks_[ActiveTab()];
  const int index = stack->currentIndex();
  if (next && !ValidatePage(stack->currentWidget()->objectName())) return;
  if (!next && index > 0)
    stack->setCurrentIndex(index - 1);
  else if (next && index < stack->count() - 1)
    stack->setCurrentIndex(index + 1);
  else if (next)
    StartOperation();
  UpdateWizardButtons();
  nextButton_->setFocus();
}

void TMainForm::StartOperation() {
  const int kind = ActiveTab();
  const TWizardPages pages = ReadPages();
  if (operationHook_) {
    operationHook_(kind, pages);
    return;
  }
  TStatusForm status(this, kind, pages);
  status.exec();
}

void TMainForm::Fail(QWidget* focus, const QString& message) {
  if (focus) focus->setFocus();
  if (!message.isEmpty()) ShowError(this, message);
}

bool TMainForm::ValidatePage(const QString& page) {
  if (page == QLatin1String("BackupInclude")) {
    if (includeTree_->topLevelItemCount() == 0) {
      Fail(includeButtons_[0], text::kNoIncludes);
      return false;
    }
  } else if (page == QLatin1String("BackupWhere")) {
    const QString location = Trimmed(backupLocation_);
    const QString base = Trimmed(backupBaseName_);
    if (backupLocation_->isEnabled() && location.isEmpty()) {
      Fail(backupLocation_, text::kNoLocation);
      return false;
    }
    if (backupLocation_->isEnabled() && !EnsureDirectory(location, this)) {
      Fail(backupLocation_, QString());
      return false;
    }
    if (backupBaseName_->isEnabled() && base.isEmpty()) {
      Fail(backupBaseName_, text::kNoBaseName);
      return false;
    }
    if (backupBaseName_->isEnabled() && !IsValidFileName(base)) {
      Fail(backupBaseName_, text::kBadBaseName);
      return false;
    }
  } else if (page == QLatin1String("BackupHow")) {
    const QString password = Trimmed(backupPassword_);
    if (backupPassword_->isEnabled() && password.isEmpty()) {
      Fail(backupPassword_, text::kNoPassword);
      return false;
    }
    if (backupPassword_->isEnabled() && !CheckBackupPassword(password)) return false;
    if (backupMode_->ItemIndex() == 3) {
      // The date is read exactly as the operation will read it.
      try {
        vx::TVaultrex probe;
        vx::ApplyBackupPage(probe, ReadBackupPage(), std::string());
      } catch (const std::exception& e) {
        Fail(backupDate_, QString::fromStdString(e.what()));
        return false;
      }
    }
  } else if (page == QLatin1String("RestoreFrom")) {
    const QString set = Trimmed(restoreSet_);
    if (restoreSet_->isEnabled() && set.isEmpty()) {
      Fail(restoreSet_, text::kNoRestoreSet);
      return false;
    }
    return ReadSetInfo();
  } else if (page == QLatin1String("RestoreWhat")) {
    if (restoreTree_->Selection().isEmpty()) {
      Fail(restoreTree_, text::kNoRestoreFiles);
      return false;
    }
  } else if (page == QLatin1String("RestoreHow")) {
    Trimmed(restorePassword_);
    const QString location = Trimmed(restoreLocation_);
    if (restoreLocation_->isEnabled() && location.isEmpty()) {
      Fail(restoreLocation_, text::kNoRestoreLocation);
      return false;
    }
    if (restoreLocation_->isEnabled() && !EnsureDirectory(location, this)) {
      Fail(restoreLocation_, QString());
      return false;
    }
  } else if (page == QLatin1String("VerifyWhat")) {
    const QString set = Trimmed(verifySet_);
    if (verifySet_->isEnabled() && set.isEmpty()) {
      Fail(verifySet_, text::kNoVerifySet);
      return false;
    }
    if (verifySet_->isEnabled()) {
      const QString name = set.mid(set.lastIndexOf(QLatin1Char('/')) + 1);
      const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
      if (dot < 0 || name.mid(dot) != QLatin1String(".001")) {
        Fail(verifySet_, text::kVerifyNot001);
        return false;
      }
    }
    return ReadSetInfo();
  }
  return true;
}

// ---- Entries --------------------------------------------------------------------

void TMainForm::AddEntry(QTreeWidget* list) {
  const QString answer = SelectPath(SM_Files, QString(), this);
  if (answer.isEmpty() || answer == text::kRecursionMarker) return;
  // Names on Linux differ by letter case, so only the recursion marker is
  // compared without regard to it.
  const auto key = EntryKey(answer);
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    if (EntryKey(list->topLevelItem(i)->text(0)) == key) {
      ShowBox(this, windowTitle(), text::kDuplicate, TBoxIcon::Stop, BB_Ok);
      return;
    }
  }
  auto* item = new QTreeWidgetItem(QStringList{answer});
  item->setToolTip(0, answer);  // the whole path of an entry wider than the list
  SetNodeImage(item, vx::FileExists(answer.toStdString()) ? TI_File : TI_Folder);
  list->addTopLevelItem(item);
  list->setCurrentItem(item);
  list->setFocus();
  UpdateWizardButtons();
}

void TMainForm::RemoveEntry(QTreeWidget* list) {
  const auto selected = list->selectedItems();
  if (!selected.isEmpty()) delete selected.constFirst();
  list->viewport()->update();
  list->setFocus();
  UpdateWizardButtons();
}

void TMainForm::ClearEntries(QTreeWidget* list) {
  list->clear();
  list->setFocus();
  UpdateWizardButtons();
}

void TMainForm::BrowseInto(QLineEdit* edit, int mode) {
  const QString answer = SelectPath(static_cast<TSelectionMode>(mode), edit->text(), this);
  if (!answer.isEmpty()) edit->setText(answer);
  UpdateWizardButtons();
}

// ---- Dependent controls ---------------------------------------------------------

void TMainForm::BackupToTapeCheckClick() {
  const bool on = backupToTape_->isChecked();
  for (QWidget* w :
       {static_cast<QWidget*>(backupLocation_), static_cast<QWidget*>(backupLocationButton_),
        static_cast<QWidget*>(backupBaseName_), static_cast<QWidget*>(segsize_)})
    w->setEnabled(!on);
  SetGreyed(backupLocation_, on);
  SetGreyed(backupBaseName_, on);
}

void TMainForm::RestoreFromTapeCheckClick() {
  const bool on = restoreFromTape_->isChecked();
  restoreSet_->setEnabled(!on);
  restoreSetButton_->setEnabled(!on);
  SetGreyed(restoreSet_, on);
}

void TMainForm::VerifyTapeCheckClick() {
  const bool on = verifyTape_->isChecked();
  verifySet_->setEnabled(!on);
  verifySetButton_->setEnabled(!on);
  SetGreyed(verifySet_, on);
}

void TMainForm::RestoreToOriginalCheckClick() {
  const bool on = restoreToOriginal_->isChecked();
  restoreLocation_->setEnabled(!on);
  restoreLocationButton_->setEnabled(!on);
  SetGreyed(restoreLocation_, on);
}

void TMainForm::BackupUseEncryptionCheckClick() {
  const bool on = backupEncrypt_->isChecked();
  for (QLineEdit* e : {backupPassword_, backupPasswordConfirm_}) {
    e->setEnabled(on);
    SetGreyed(e, !on);
  }
}

void TMainForm::BackupModeGroupClick() {
  const bool special = backupMode_->ItemIndex() == 3;
  backupDate_->setEnabled(special);
  SetGreyed(backupDate_, !special);
  if (special)
    backupDate_->setFocus();
  else
    backupDate_->clear();
}

void TMainForm::FtpCheckClick(TFtpControls& ftp, QCheckBox* tape) {
  const bool on = ftp.Check->isChecked();
  if (on) {
    tape->setChecked(false);
    if (tape == backupToTape_) {
      backupLocation_->setEnabled(true);
      backupBaseName_->setEnabled(true);
      SetGreyed(backupLocation_, false);
      SetGreyed(backupBaseName_, false);
    }
  }
  for (QLineEdit* e : {ftp.Host, ftp.Port, ftp.User, ftp.Password}) e->setEnabled(on);
}

// ---- Page values ----------------------------------------------------------------

namespace {

std::vector<std::string> EntryTexts(const QTreeWidget* list) {
  std::vector<std::string> out;
  out.reserve(static_cast<std::size_t>(list->topLevelItemCount()));
  for (int i = 0; i < list->topLevelItemCount(); ++i)
    out.push_back(list->topLevelItem(i)->text(0).toStdString());
  return out;
}

TFtpFields ReadFtp(const TFtpControls& f) {
  TFtpFields out;
  out.Enabled = f.Check->isChecked();
  out.HostName = f.Host->text().toStdString();
  out.Port = f.Port->text().toStdString();
  out.UserName = f.User->text().toStdString();
  out.Password = f.Password->text().toStdString();
  return out;
}

}  // namespace

TBackupPage TMainForm::ReadBackupPage() const {
  TBackupPage p;
  p.Include = EntryTexts(includeTree_);
  p.Exclude = EntryTexts(excludeTree_);
  p.ToTape = backupToTape_->isChecked();
  p.Location = backupLocation_->text().toStdString();
  p.BaseName = backupBaseName_->text().toStdString();
  p.SegmentSizeKB = segsize_->text().toStdString();
  p.Ftp = ReadFtp(backupFtp_);
  p.Mode = backupMode_->ItemIndex();
  p.SpecialDate = backupDate_->text().toStdString();
  p.Compression = backupCompression_->ItemIndex();
  p.OpenFiles = backupOpenFiles_->isChecked();
  p.SkipLocks = backupSkipLocks_->isChecked();
  p.HiddenFiles = backupHidden_->isChecked();
  p.EraseTarget = backupErase_->isChecked();
  p.Encryption = backupEncrypt_->isChecked();
  p.Verify = backupVerify_->isChecked();
  p.CreateLog = backupLog_->isChecked();
  p.KeepArchiveFlags = backupKeepFlags_->isChecked();
  p.Password = backupPassword_->text().toStdString();
  p.Comment = backupComment_->text().toStdString();
  return p;
}

TRestorePage TMainForm::ReadRestorePage() const {
  TRestorePage p;
  p.SetFile = restoreSet_->text().toStdString();
  p.FromTape = restoreFromTape_->isChecked();
  p.Password = restorePassword_->text().toStdString();
  p.Ftp = ReadFtp(restoreFtp_);
  for (const QString& s : restoreTree_->Selection()) p.Selection.push_back(s.toStdString());
  p.Mode = restoreMode_->ItemIndex();
  p.ToOriginal = restoreToOriginal_->isChecked();
  p.Attributes = restoreAttributes_->isChecked();
  p.SkipLocks = restoreSkipLocks_->isChecked();
  p.CreateLog = restoreLog_->isChecked();
  p.Location = restoreLocation_->text().toStdString();
  return p;
}

TVerifyPage TMainForm::ReadVerifyPage() const {
  TVerifyPage p;
  p.SetFile = verifySet_->text().toStdString();
  p.FromTape = verifyTape_->isChecked();
  p.Password = verifyPassword_->text().toStdString();
  p.Ftp = ReadFtp(verifyFtp_);
  p.CreateLog = verifyLog_->isChecked();
  return p;
}

TWizardPages TMainForm::ReadPages() const {
  return TWizardPages{ReadBackupPage(), ReadRestorePage(), ReadVerifyPage()};
}

void TMainForm::WriteBackupPage(const TBackupPage& p) {
  auto append = [](QTreeWidget* list, const std::vector<std::string>& entries) {
    for (std::size_t i = static_cast<std::size_t>(list->topLevelItemCount()); i < entries.size();
         ++i) {
      const QString t = QString::fromStdString(entries[i]);
      auto* item = new QTreeWidgetItem(QStringList{t});
      item->setToolTip(0, t);
      const bool mask = t.contains(QLatin1Char('*')) || t.contains(QLatin1Char('?'));
      SetNodeImage(item, mask ? TI_Drive : TI_Folder);
      list->addTopLevelItem(item);
    }
    if (list->topLevelItemCount() > 0) list->setCurrentItem(list->topLevelItem(0));
  };
  append(includeTree_, p.Include);
  append(excludeTree_, p.Exclude);
  backupToTape_->setChecked(p.ToTape);
  backupLocation_->setText(QString::fromStdString(p.Location));
  backupBaseName_->setText(QString::fromStdString(p.BaseName));
  segsize_->setText(QString::fromStdString(p.SegmentSizeKB));
  backupFtp_.Check->setChecked(p.Ftp.Enabled);
  backupFtp_.Host->setText(QString::fromStdString(p.Ftp.HostName));
  backupFtp_.Port->setText(QString::fromStdString(p.Ftp.Port));
  backupFtp_.User->setText(QString::fromStdString(p.Ftp.UserName));
  backupFtp_.Password->setText(QString::fromStdString(p.Ftp.Password));
  backupMode_->SetItemIndex(p.Mode);
  backupCompression_->SetItemIndex(p.Compression);
  backupOpenFiles_->setChecked(p.OpenFiles);
  backupSkipLocks_->setChecked(p.SkipLocks);
  backupHidden_->setChecked(p.HiddenFiles);
  backupErase_->setChecked(p.EraseTarget);
  backupEncrypt_->setChecked(p.Encryption);
  backupVerify_->setChecked(p.Verify);
  backupLog_->setChecked(p.CreateLog);
  backupKeepFlags_->setChecked(p.KeepArchiveFlags);
  backupPassword_->setText(QString::fromStdString(p.Password));
  backupPasswordConfirm_->setText(backupPassword_->text());  // a saved job's password is confirmed
  backupComment_->setText(QString::fromStdString(p.Comment));
  // The controls that depend on those just set.
  BackupToTapeCheckClick();
  BackupUseEncryptionCheckClick();
  const bool special = p.Mode == 3;
  backupDate_->setEnabled(special);
  SetGreyed(backupDate_, !special);
  backupDate_->setText(special ? QString::fromStdString(p.SpecialDate) : QString());
}

// ---- Activation, help, logs -------------------------------------------------------

void TMainForm::showEvent(QShowEvent* event) {
  setWindowTitle(text::kMainCaption);
  SetApplicationTitle(text::kMainCaption);
  QMainWindow::showEvent(event);
}

void TMainForm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  // The busy picture stays in the middle of the window.
  animate_->move((centralWidget()->width() - animate_->width()) / 2,
                 (centralWidget()->height() - animate_->height()) / 2);
}

void TMainForm::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) ApplicationActivated();
  QMainWindow::changeEvent(event);
}

// Next is the window's default button: Enter that no control used presses it.
void TMainForm::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier && nextButton_->isEnabled()) {
    nextButton_->click();
    event->accept();
    return;
  }
  QMainWindow::keyPressEvent(event);
}

void TMainForm::ApplicationActivated() {
  if (startedWithJob_ && !activatedOnce_) timer1_->start();
  activatedOnce_ = true;
}

void TMainForm::Timer1Timer() {
  timer1_->stop();
  // A page that refuses to be left ends the presses (its message was shown).
  for (int i = 0; i < 3; ++i) {
    QStackedWidget* stack = notebooks_[ActiveTab()];
    const int before = stack->currentIndex();
    nextButton_->click();
    if (stack->currentIndex() == before) break;
  }
}

void TMainForm::ViewLogs() { ViewChosenLog(this, DesktopLogFolder()); }
void TMainForm::About() { ShowAboutBox(this); }

const QStringList& TMainForm::RestoreSelection() const { return restoreTree_->Selection(); }

}  // namespace vx::ui
