// The main window's pages and controls, with their names and captions.
#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/main_form.h"
#include "ui/main_form_util.h"
#include "ui/restore_tree.h"
#include "ui/texts.h"

namespace vx::ui {
namespace {

QLabel* Caption(QWidget* parent, const QString& text, QWidget* buddy = nullptr) {
  auto* l = new QLabel(text, parent);
  if (buddy) l->setBuddy(buddy);
  return l;
}

QLineEdit* Edit(QWidget* parent, const char* name, const QString& text = {}) {
  auto* e = new QLineEdit(text, parent);
  e->setObjectName(QString::fromLatin1(name));
  return e;
}

QLineEdit* MaskedEdit(QWidget* parent, const char* name) {
  QLineEdit* e = Edit(parent, name);
  e->setEchoMode(QLineEdit::Password);
  e->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));  // "*"
  return e;
}

QCheckBox* Check(QWidget* parent, const char* name, const QString& text, bool checked) {
  auto* c = new QCheckBox(text, parent);
  c->setObjectName(QString::fromLatin1(name));
  c->setChecked(checked);
  return c;
}

QPushButton* Button(QWidget* parent, const char* name, const QString& text) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setAutoDefault(false);
  return b;
}

QPushButton* BrowseButton(QWidget* parent, const char* name) {
  QPushButton* b = Button(parent, name, QStringLiteral("..."));
  b->setFixedWidth(32);
  return b;
}

QWidget* Page(const char* name) {
  auto* w = new QWidget;
  w->setObjectName(QString::fromLatin1(name));
  return w;
}

// A tab's pages scroll when the window is smaller than they are (a small or
// scaled screen), so the window never has to be larger than the screen.
class TPageScroll final : public QScrollArea {
 public:
  using QScrollArea::QScrollArea;
  // The usual size shows the largest page whole.
  QSize sizeHint() const override { return widget()->sizeHint(); }
};

QScrollArea* Scrolling(QWidget* sheet, QStackedWidget* stack) {
  auto* area = new TPageScroll(sheet);
  area->setObjectName(stack->objectName() + QStringLiteral("Scroll"));
  area->setFrameShape(QFrame::NoFrame);
  area->setWidgetResizable(true);
  area->setWidget(stack);
  return area;
}

QTreeWidget* EntryList(QWidget* parent, const char* name) {
  auto* t = new QTreeWidget(parent);
  t->setObjectName(QString::fromLatin1(name));
  t->setHeaderHidden(true);
  t->setRootIsDecorated(false);
  t->setItemsExpandable(false);
  t->setEditTriggers(QAbstractItemView::NoEditTriggers);
  t->setSelectionMode(QAbstractItemView::SingleSelection);
  return t;
}

}  // namespace

TRadioGroup::TRadioGroup(const QString& objectName, const QString& title, const QStringList& items,
                         QWidget* parent)
    : QGroupBox(title, parent) {
  setObjectName(objectName);
  auto* l = new QVBoxLayout(this);
  l->setSpacing(2);
  auto* group = new QButtonGroup(this);
  for (int i = 0; i < items.size(); ++i) {
    auto* r = new QRadioButton(items[i], this);
    r->setObjectName(objectName + QString::number(i));
    group->addButton(r, i);
    l->addWidget(r);
    items_ << r;
  }
  connect(group, &QButtonGroup::idClicked, this, [this](int) { emit Clicked(); });
}

int TRadioGroup::ItemIndex() const {
  for (int i = 0; i < items_.size(); ++i)
    if (items_[i]->isChecked()) return i;
  return -1;
}

void TRadioGroup::SetItemIndex(int index) {
  if (index >= 0 && index < items_.size()) items_[index]->setChecked(true);
}

QRadioButton* TRadioGroup::Item(int index) const { return items_.value(index); }
int TRadioGroup::Count() const { return static_cast<int>(items_.size()); }

void TMainForm::BuildMenu() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu"));
  QMenu* file = bar->addMenu(QStringLiteral("Súbor"));
  auto item = [this](QMenu* menu, const char* name, const QString& text, auto slot) {
    QAction* a = menu->addAction(text);
    a->setObjectName(QString::fromLatin1(name));
    connect(a, &QAction::triggered, this, slot);
    return a;
  };
  // The menu captions carry no accelerator letter, so the items have the
  // desktop's usual keys for keyboard-only use.
  item(file, "FileOpen", QStringLiteral("Otvoriť záložnú sadu"), [this] {
    LoadJob(QString());
  })->setShortcut(QKeySequence::Open);
  reopenItem_ = item(file, "FileReopen", text::kReopenJob.trimmed(), [this] { ReopenLastJob(); });
  reopenItem_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  item(file, "FileSave", QStringLiteral("Uložiť záložnú sadu"), [this] {
    SaveJob(QString());
  })->setShortcut(QKeySequence::Save);
  file->addSeparator();
  item(file, "FileSchedule", text::kScheduleItem, [this] { ScheduleJob(); });
  file->addSeparator();
  item(file, "ZobraziLOGsbor1", QStringLiteral("Zobraziť LOG súbor ..."), [this] {
    ViewLogs();
  })->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
  file->addSeparator();
  item(file, "FileClose", QStringLiteral("Koniec"), [this] {
    close();
  })->setShortcut(QKeySequence::Quit);
  QMenu* help = bar->addMenu(QStringLiteral("Pomoc"));
  item(help, "HelpAbout", QStringLiteral("O programe"), [this] { About(); });
}

QWidget* TMainForm::BuildBackupInclude(bool exclude) {
  QWidget* page = Page(exclude ? "BackupExclude" : "BackupInclude");
  QTreeWidget* list = EntryList(page, exclude ? "BackupExcludeTree" : "BackupIncludeTree");
  const char* names[2][3] = {
      {"BackupIncludeAddButton", "BackupIncludeRemoveButton", "BackupIncludeClearButton"},
      {"BackupExcludeAddButton", "BackupExcludeRemoveButton", "BackupExcludeClearButton"}};
  const QString captions[3] = {QStringLiteral("Pridať"), QStringLiteral("Odobrať"),
                               QStringLiteral("Vymazať")};
  QPushButton** buttons = exclude ? excludeButtons_ : includeButtons_;
  auto* column = new QVBoxLayout;
  for (int i = 0; i < 3; ++i) {
    buttons[i] = Button(page, names[exclude][i], captions[i]);
    column->addWidget(buttons[i]);
  }
  column->addStretch();
  auto* grid = new QGridLayout(page);
  grid->addWidget(Caption(page,
                          exclude ? QStringLiteral("Zoznam súborov a zložiek, ktoré sa majú "
                                                   "vylúčiť zo zálohy::")
                                  : QStringLiteral("Zoznam zložiek a súborov ktoré sa majú "
                                                   "zálohovať:"),
                          list),
                  0, 0, 1, 2);
  grid->addWidget(list, 1, 0);
  grid->addLayout(column, 1, 1);
  (exclude ? excludeTree_ : includeTree_) = list;
  connect(buttons[0], &QPushButton::clicked, this, [this, list] { AddEntry(list); });
  connect(buttons[1], &QPushButton::clicked, this, [this, list] { RemoveEntry(list); });
  connect(buttons[2], &QPushButton::clicked, this, [this, list] { ClearEntries(list); });
  connect(list, &QTreeWidget::itemSelectionChanged, this, &TMainForm::UpdateWizardButtons);
  connect(list, &QTreeWidget::itemClicked, this, &TMainForm::UpdateWizardButtons);
  return page;
}

TFtpControls TMainForm::BuildFtpGroup(QWidget* page, const QStringList& names,
                                      const QString& checkCaption, const QStringList& captions) {
  TFtpControls f;
  f.Group = new QGroupBox(page);
  f.Group->setObjectName(names[0] + QStringLiteral("Group"));
  f.Check = new QCheckBox(checkCaption, f.Group);
  f.Check->setObjectName(names[0]);
  const std::string n1 = names[1].toStdString(), n2 = names[2].toStdString(),
                    n3 = names[3].toStdString(), n4 = names[4].toStdString();
  f.Host = Edit(f.Group, n1.c_str(), QString::fromStdString(TFtpFields{}.HostName));
  f.Port = Edit(f.Group, n2.c_str(), QString::fromStdString(TFtpFields{}.Port));
  f.User = Edit(f.Group, n3.c_str(), QString::fromStdString(TFtpFields{}.UserName));
  f.Password = MaskedEdit(f.Group, n4.c_str());
  f.Password->setText(QString::fromStdString(TFtpFields{}.Password));
  auto* g = new QGridLayout(f.Group);
  g->addWidget(f.Check, 0, 0, 1, 2);
  QLineEdit* edits[4] = {f.Host, f.Port, f.User, f.Password};
  for (int i = 0; i < 4; ++i) {
    g->addWidget(Caption(f.Group, captions[i], edits[i]), i + 1, 0);
    g->addWidget(edits[i], i + 1, 1);
    edits[i]->setEnabled(false);
  }
  // The group is never shown: an FTP server cannot be chosen in this window,
  // but its values are handed to the engine all the same.
  f.Check->setEnabled(false);
  f.Group->setEnabled(false);
  f.Group->hide();
  return f;
}

QWidget* TMainForm::BuildBackupWhere() {
  QWidget* page = Page("BackupWhere");
  backupToTape_ =
      Check(page, "BackupToTapeCheck", QStringLiteral("Zálohovať na páskové zariadenie"), false);
  backupLocation_ = Edit(page, "BackupLocationEdit", HomeFolder());
  backupLocationButton_ = BrowseButton(page, "BackupLocationButton");
  backupBaseName_ = Edit(page, "BackupBaseNameEdit", QStringLiteral("Backup"));
  segsize_ = Edit(page, "segsize", QStringLiteral("0"));
  backupFtp_ =
      BuildFtpGroup(page,
                    {QStringLiteral("backupToFTPCheck"), QStringLiteral("backuphostnameedit"),
                     QStringLiteral("backupftpportnumber"), QStringLiteral("backupftpusername"),
                     QStringLiteral("backupftppassword")},
                    QStringLiteral("Zálohovať na FTP server"),
                    {QStringLiteral("FTP hostname"), QStringLiteral("Port:"),
                     QStringLiteral("FTP username"), QStringLiteral("heslo")});
  auto* note = new QLabel(QStringLiteral("Záloha sa uloží do súboru s týmto menom a koncovkou "
                                         ".001; ďalšie médiá dostanú koncovky .002, .003 atď."),
                          page);
  note->setWordWrap(true);
  auto* grid = new QGridLayout(page);
  grid->addWidget(backupToTape_, 0, 0, 1, 2);
  grid->addWidget(Caption(page, QStringLiteral("Zložka pre uloženie zálohy"), backupLocation_), 1,
                  0, 1, 2);
  grid->addWidget(backupLocation_, 2, 0);
  grid->addWidget(backupLocationButton_, 2, 1);
  grid->addWidget(Caption(page, QStringLiteral("Meno súboru zálohy bez koncovky"), backupBaseName_),
                  3, 0, 1, 2);
  grid->addWidget(backupBaseName_, 4, 0);
  grid->addWidget(Caption(page, QStringLiteral("Max veľkosť segmentu (KB)"), segsize_), 5, 0, 1, 2);
  grid->addWidget(segsize_, 6, 0);
  grid->addWidget(note, 7, 0, 1, 2);
  grid->addWidget(backupFtp_.Group, 8, 0, 1, 2);
  grid->setRowStretch(9, 1);
  connect(backupToTape_, &QCheckBox::clicked, this, &TMainForm::BackupToTapeCheckClick);
  connect(backupLocationButton_, &QPushButton::clicked, this,
          [this] { BrowseInto(backupLocation_, 2); });
  connect(backupFtp_.Check, &QCheckBox::clicked, this,
          [this] { FtpCheckClick(backupFtp_, backupToTape_); });
  return page;
}

QWidget* TMainForm::BuildBackupHow() {
  QWidget* page = Page("BackupHow");
  backupMode_ =
      new TRadioGroup(QStringLiteral("BackupModeGroup"), QStringLiteral("Zálohovací mód"),
                      {QStringLiteral("Zálohovať všetko "), QStringLiteral("Inkrementálne"),
                       QStringLiteral("Rozdielovo"), QStringLiteral("Len s dátumom <")},
                      page);
  backupMode_->SetItemIndex(0);
  backupDate_ = Edit(page, "BackupSpecialDateEdit");
  backupDate_->setEnabled(false);
  backupDate_->setMaximumWidth(110);
  backupCompression_ =
      new TRadioGroup(QStringLiteral("BackupCompressionGroup"), QStringLiteral("Kompresia"),
                      {QStringLiteral("Bez kompresie"), QStringLiteral("Vyššia rýchlosť"),
                       QStringLiteral("Maximálna kompresia")},
                      page);
  backupCompression_->SetItemIndex(1);
  auto* settings = new QGroupBox(QStringLiteral("Nastavenia"), page);
  backupOpenFiles_ = Check(settings, "BackupOpenFilesCheck",
                           QStringLiteral("Zálohovať aj otvorené súbory"), false);
  backupSkipLocks_ =
      Check(settings, "BackupSkipLocksCheck", QStringLiteral("Preskočiť zamknuté súbory"), false);
  backupHidden_ = Check(settings, "BackupHiddenFilesCheck",
                        QStringLiteral("Zálohovať skryté a systémové"), true);
  backupErase_ =
      Check(settings, "BackupEraseTargetCheck", QStringLiteral("Vymazať cieľovú zložku"), false);
  backupEncrypt_ = Check(settings, "BackupUseEncryptionCheck", QStringLiteral("Zašifrovať"), false);
  backupVerify_ =
      Check(settings, "BackupVerifyCheck", QStringLiteral("Priebežne kontrolovať"), false);
  backupLog_ = Check(settings, "BackupCreateLogCheck", QStringLiteral("Vytvoriť log záznam"), true);
  backupKeepFlags_ = Check(settings, "BackupKeepArchiveFlagsCheck",
                           QStringLiteral("Zachovať archívny atribút"), false);
  auto* sg = new QGridLayout(settings);
  sg->setVerticalSpacing(2);
  QCheckBox* checks[8] = {backupOpenFiles_, backupSkipLocks_, backupHidden_, backupErase_,
                          backupEncrypt_,   backupVerify_,    backupLog_,    backupKeepFlags_};
  for (int i = 0; i < 8; ++i) sg->addWidget(checks[i], i % 4, i / 4);
  backupPassword_ = MaskedEdit(page, "BackupPasswordEdit");
  backupPassword_->setEnabled(false);
  backupPasswordConfirm_ = MaskedEdit(page, "BackupPasswordConfirmEdit");
  backupPasswordConfirm_->setEnabled(false);
  backupComment_ = Edit(page, "BackupCommentEdit");
  backupComment_->setMaxLength(255);

  auto* grid = new QGridLayout(page);
  auto* modeColumn = new QVBoxLayout;
  modeColumn->addWidget(backupMode_);
  modeColumn->addWidget(backupDate_);
  grid->addLayout(modeColumn, 0, 0);
  grid->addWidget(backupCompression_, 0, 1, Qt::AlignTop);
  grid->addWidget(settings, 1, 0, 1, 2);
  auto* pw = new QHBoxLayout;
  pw->addWidget(Caption(page, QStringLiteral("Heslo pre zašifrovanie"), backupPassword_));
  pw->addWidget(backupPassword_);
  pw->addWidget(Caption(page, text::kPasswordConfirm, backupPasswordConfirm_));
  pw->addWidget(backupPasswordConfirm_);
  grid->addLayout(pw, 2, 0, 1, 2);
  auto* cm = new QHBoxLayout;
  cm->addWidget(Caption(page, QStringLiteral("Komentár"), backupComment_));
  cm->addWidget(backupComment_);
  grid->addLayout(cm, 3, 0, 1, 2);
  grid->setRowStretch(4, 1);
  connect(backupMode_, &TRadioGroup::Clicked, this, &TMainForm::BackupModeGroupClick);
  connect(backupEncrypt_, &QCheckBox::clicked, this, &TMainForm::BackupUseEncryptionCheckClick);
  return page;
}

QWidget* TMainForm::BuildBackupSheet() {
  auto* sheet = new QWidget;
  sheet->setObjectName(QStringLiteral("BackupSheet"));
  auto* stack = new QStackedWidget(sheet);
  stack->setObjectName(QStringLiteral("BackupNotebook"));
  stack->addWidget(BuildBackupInclude(false));
  stack->addWidget(BuildBackupInclude(true));
  stack->addWidget(BuildBackupWhere());
  stack->addWidget(BuildBackupHow());
  notebooks_[BackupTab] = stack;
  titles_[BackupTab] = new QLabel(sheet);
  titles_[BackupTab]->setObjectName(QStringLiteral("BackupTitleLabel"));
  auto* l = new QVBoxLayout(sheet);
  l->addWidget(titles_[BackupTab]);
  l->addWidget(Scrolling(sheet, stack), 1);
  return sheet;
}

QWidget* TMainForm::BuildRestoreFrom() {
  QWidget* page = Page("RestoreFrom");
  restoreSet_ = Edit(page, "RestoreSetEdit");
  restoreSetButton_ = BrowseButton(page, "RestoreSetButton");
  restoreFromTape_ =
      Check(page, "RestoreFromTapeCheck", QStringLiteral("Obnoviť z páskového zariadenia"), false);
  restorePassword_ = MaskedEdit(page, "RestorePasswordEdit");
  restoreFtp_ =
      BuildFtpGroup(page,
                    {QStringLiteral("RestoreFromFTPCheck"), QStringLiteral("restorehostname"),
                     QStringLiteral("restoreport"), QStringLiteral("restoreusername"),
                     QStringLiteral("restoreftppassword")},
                    QStringLiteral("Obnoviť z FTP servera"),
                    {QStringLiteral("FTP hostname"), QStringLiteral("Port"),
                     QStringLiteral("FTP Username"), QStringLiteral("FTP heslo")});
  auto* grid = new QGridLayout(page);
  grid->addWidget(Caption(page, QStringLiteral("Plná cesta k súboru *.001."), restoreSet_), 0, 0, 1,
                  2);
  grid->addWidget(restoreSet_, 1, 0);
  grid->addWidget(restoreSetButton_, 1, 1);
  grid->addWidget(restoreFromTape_, 2, 0, 1, 2);
  grid->addWidget(Caption(page, QStringLiteral("Heslo pre odšifrovanie"), restorePassword_), 3, 0,
                  1, 2);
  grid->addWidget(restorePassword_, 4, 0);
  grid->addWidget(restoreFtp_.Group, 5, 0, 1, 2);
  grid->setRowStretch(6, 1);
  connect(restoreSetButton_, &QPushButton::clicked, this, [this] { BrowseInto(restoreSet_, 0); });
  connect(restoreFromTape_, &QCheckBox::clicked, this, &TMainForm::RestoreFromTapeCheckClick);
  connect(restoreFtp_.Check, &QCheckBox::clicked, this,
          [this] { FtpCheckClick(restoreFtp_, restoreFromTape_); });
  return page;
}

QWidget* TMainForm::BuildRestoreWhat() {
  QWidget* page = Page("RestoreWhat");
  restoreComment_ = Edit(page, "RestoreCommentEdit");
  restoreComment_->setReadOnly(true);
  SetGreyed(restoreComment_, true);
  restoreDate_ = new QLabel(page);
  restoreDate_->setObjectName(QStringLiteral("RestoreDateLabel"));
  restoreDate_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  restoreTree_ = new TRestoreTree(page);
  auto* hint = new QLabel(
      QStringLiteral("Súbory a zložky, ktoré sa majú obnoviť označte stlačením medzerníka, alebo\n"
                     "kliknutím ľavého tlačítka myši na zaškrtávacom moxe pri príslušnej položke"),
      page);
  auto* grid = new QGridLayout(page);
  grid->addWidget(Caption(page, QStringLiteral("Komentár"), restoreComment_), 0, 0);
  grid->addWidget(restoreComment_, 0, 1);
  grid->addWidget(restoreDate_, 1, 0, 1, 2);
  grid->addWidget(Caption(page, QStringLiteral("Obsah zálohy:"), restoreTree_), 2, 0, 1, 2);
  grid->addWidget(restoreTree_, 3, 0, 1, 2);
  grid->addWidget(hint, 4, 0, 1, 2);
  grid->setRowStretch(3, 1);
  connect(restoreTree_, &TRestoreTree::Busy, this, [this](const QString& t) {
    statusBar()->showMessage(t);
    statusBar()->repaint();
  });
  return page;
}

QWidget* TMainForm::BuildRestoreHow() {
  QWidget* page = Page("RestoreHow");
  restoreMode_ = new TRadioGroup(QStringLiteral("RestoreModeGroup"), QStringLiteral("Mód"),
                                 {QStringLiteral("Obnoviť všetko"), QStringLiteral("Novšie"),
                                  QStringLiteral("Novšie  a nové")},
                                 page);
  restoreMode_->SetItemIndex(0);
  auto* settings = new QGroupBox(QStringLiteral("Nastavenia"), page);
  restoreToOriginal_ = Check(settings, "RestoreToOriginalCheck",
                             QStringLiteral("Obnoviť v pôvodnej lokácii"), false);
  restoreAttributes_ =
      Check(settings, "RestoreAttributesCheck", QStringLiteral("Obnoviť atribúty"), true);
  restoreSkipLocks_ =
      Check(settings, "RestoreSkipLocksCheck", QStringLiteral("Preskočiť zamknuté súbory"), false);
  restoreLog_ =
      Check(settings, "RestoreCreateLogCheck", QStringLiteral("Vytvoriť log záznam"), false);
  auto* sl = new QVBoxLayout(settings);
  sl->setSpacing(2);
  for (QCheckBox* c : {restoreToOriginal_, restoreAttributes_, restoreSkipLocks_, restoreLog_})
    sl->addWidget(c);
  restoreLocation_ = Edit(page, "RestoreLocationEdit");
  restoreLocationButton_ = BrowseButton(page, "RestoreLocationButton");
  auto* grid = new QGridLayout(page);
  grid->addWidget(restoreMode_, 0, 0, Qt::AlignTop);
  grid->addWidget(settings, 0, 1);
  grid->addWidget(
      Caption(page, QStringLiteral("Určite miesto pre uloženie obnovených súborov a zložiek"),
              restoreLocation_),
      1, 0, 1, 2);
  auto* loc = new QHBoxLayout;
  loc->addWidget(restoreLocation_);
  loc->addWidget(restoreLocationButton_);
  grid->addLayout(loc, 2, 0, 1, 2);
  grid->setRowStretch(3, 1);
  connect(restoreToOriginal_, &QCheckBox::clicked, this, &TMainForm::RestoreToOriginalCheckClick);
  connect(restoreLocationButton_, &QPushButton::clicked, this,
          [this] { BrowseInto(restoreLocation_, 3); });
  return page;
}

QWidget* TMainForm::BuildRestoreSheet() {
  auto* sheet = new QWidget;
  sheet->setObjectName(QStringLiteral("RestoreSheet"));
  auto* stack = new QStackedWidget(sheet);
  stack->setObjectName(QStringLiteral("RestoreNotebook"));
  stack->addWidget(BuildRestoreFrom());
  stack->addWidget(BuildRestoreWhat());
  stack->addWidget(BuildRestoreHow());
  notebooks_[RestoreTab] = stack;
  titles_[RestoreTab] = new QLabel(sheet);
  titles_[RestoreTab]->setObjectName(QStringLiteral("RestoreTitleLabel"));
  auto* l = new QVBoxLayout(sheet);
  l->addWidget(titles_[RestoreTab]);
  l->addWidget(Scrolling(sheet, stack), 1);
  return sheet;
}

QWidget* TMainForm::BuildVerifyWhat() {
  QWidget* page = Page("VerifyWhat");
  verifySet_ = Edit(page, "VerifySetEdit");
  verifySetButton_ = BrowseButton(page, "VerifySetButton");
  verifyTape_ = Check(page, "VerifyTapeCheck", QStringLiteral("Kontrola zálohy na páske"), false);
  verifyPassword_ = MaskedEdit(page, "VerifyPasswordEdit");
  verifyFtp_ = BuildFtpGroup(page,
                             {QStringLiteral("verifyftpcheck"), QStringLiteral("verifyhostname"),
                              QStringLiteral("verifyport"), QStringLiteral("verifyusername"),
                              QStringLiteral("verifyftppassword")},
                             QStringLiteral("Kontrola zálohy na FTPserveri"),
                             {QStringLiteral("FTP hostname"), QStringLiteral("Port"),
                              QStringLiteral("FTP Username"), QStringLiteral("FTP heslo")});
  auto* hint = new QLabel(QStringLiteral("Uveďte buď plnú cestu k súboru *.001, alebo zložku a "
                                         "názov súboru na FTP serveri."),
                          page);
  hint->setObjectName(QStringLiteral("VerifyWhatLabel"));
  hint->hide();
  auto* grid = new QGridLayout(page);
  grid->addWidget(Caption(page, QStringLiteral("Plná cesta k súboru *.001"), verifySet_), 0, 0, 1,
                  2);
  grid->addWidget(verifySet_, 1, 0);
  grid->addWidget(verifySetButton_, 1, 1);
  grid->addWidget(verifyTape_, 2, 0, 1, 2);
  grid->addWidget(Caption(page, QStringLiteral("Heslo pre odšifrovanie"), verifyPassword_), 3, 0, 1,
                  2);
  grid->addWidget(verifyPassword_, 4, 0);
  grid->addWidget(verifyFtp_.Group, 5, 0, 1, 2);
  grid->addWidget(hint, 6, 0, 1, 2);
  grid->setRowStretch(7, 1);
  connect(verifySetButton_, &QPushButton::clicked, this, [this] { BrowseInto(verifySet_, 0); });
  connect(verifyTape_, &QCheckBox::clicked, this, &TMainForm::VerifyTapeCheckClick);
  connect(verifyFtp_.Check, &QCheckBox::clicked, this,
          [this] { FtpCheckClick(verifyFtp_, verifyTape_); });
  return page;
}

QWidget* TMainForm::BuildVerifyHow() {
  QWidget* page = Page("VerifyHow");
  verifyComment_ = Edit(page, "VerifyCommentEdit");
  verifyComment_->setReadOnly(true);
  SetGreyed(verifyComment_, true);
  verifyDate_ = new QLabel(page);
  verifyDate_->setObjectName(QStringLiteral("VerifyDateLabel"));
  verifyDate_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  auto* settings = new QGroupBox(QStringLiteral("Nastavenia"), page);
  verifyLog_ = Check(settings, "VerifyCreateLogCheck", QStringLiteral("Vytvoriť log súbor"), false);
  auto* sl = new QVBoxLayout(settings);
  sl->addWidget(verifyLog_);
  auto* grid = new QGridLayout(page);
  grid->addWidget(Caption(page, QStringLiteral("Komentár"), verifyComment_), 0, 0);
  grid->addWidget(verifyComment_, 0, 1);
  grid->addWidget(verifyDate_, 1, 0, 1, 2);
  grid->addWidget(settings, 2, 0, 1, 2);
  grid->setRowStretch(3, 1);
  return page;
}

QWidget* TMainForm::BuildVerifySheet() {
  auto* sheet = new QWidget;
  sheet->setObjectName(QStringLiteral("VerifySheet"));
  auto* stack = new QStackedWidget(sheet);
  stack->setObjectName(QStringLiteral("VerifyNotebook"));
  stack->addWidget(BuildVerifyWhat());
  stack->addWidget(BuildVerifyHow());
  notebooks_[VerifyTab] = stack;
  titles_[VerifyTab] = new QLabel(sheet);
  titles_[VerifyTab]->setObjectName(QStringLiteral("VerifyTitleLabel"));
  auto* l = new QVBoxLayout(sheet);
  l->addWidget(titles_[VerifyTab]);
  l->addWidget(Scrolling(sheet, stack), 1);
  return sheet;
}

// Tab follows each page from top to bottom, left to right; the wizard's
// buttons come last.  Widgets of hidden pages are skipped by the focus chain.
void TMainForm::SetTabOrders() {
  const QList<QWidget*> chain = {includeTree_,
                                 includeButtons_[0],
                                 includeButtons_[1],
                                 includeButtons_[2],
                                 excludeTree_,
                                 excludeButtons_[0],
                                 excludeButtons_[1],
                                 excludeButtons_[2],
                                 backupToTape_,
                                 backupLocation_,
                                 backupLocationButton_,
                                 backupBaseName_,
                                 segsize_,
                                 backupMode_->Item(0),
                                 backupMode_->Item(1),
                                 backupMode_->Item(2),
                                 backupMode_->Item(3),
                                 backupDate_,
                                 backupCompression_->Item(0),
                                 backupCompression_->Item(1),
                                 backupCompression_->Item(2),
                                 backupOpenFiles_,
                                 backupSkipLocks_,
                                 backupHidden_,
                                 backupErase_,
                                 backupEncrypt_,
                                 backupVerify_,
                                 backupLog_,
                                 backupKeepFlags_,
                                 backupPassword_,
                                 backupPasswordConfirm_,
                                 backupComment_,
                                 restoreSet_,
                                 restoreSetButton_,
                                 restoreFromTape_,
                                 restorePassword_,
                                 restoreComment_,
                                 restoreTree_,
                                 restoreMode_->Item(0),
                                 restoreMode_->Item(1),
                                 restoreMode_->Item(2),
                                 restoreToOriginal_,
                                 restoreAttributes_,
                                 restoreSkipLocks_,
                                 restoreLog_,
                                 restoreLocation_,
                                 restoreLocationButton_,
                                 verifySet_,
                                 verifySetButton_,
                                 verifyTape_,
                                 verifyPassword_,
                                 verifyComment_,
                                 verifyLog_,
                                 previousButton_,
                                 nextButton_};
  for (int i = 1; i < chain.size(); ++i) setTabOrder(chain[i - 1], chain[i]);
}

// The backup page's password when the page is left: the lengths the backup
// accepts (in bytes, as the engine counts them) and the same text typed twice.
bool TMainForm::CheckBackupPassword(const QString& password) {
  const std::size_t bytes = static_cast<std::size_t>(password.toUtf8().size());
  if (bytes < vx::kMinPasswordBytes) {
    Fail(backupPassword_, txt::Text(txt::kResult14));
    return false;
  }
  if (bytes > vx::kMaxPasswordBytes) {
    Fail(backupPassword_, text::kPasswordLong);
    return false;
  }
  if (TrimText(backupPasswordConfirm_->text()) != password) {
    Fail(backupPasswordConfirm_, text::kPasswordMismatch);
    return false;
  }
  return true;
}

}  // namespace vx::ui
