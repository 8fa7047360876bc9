#pragma once
// The main window: a wizard with three tabs (backup, restore, verify), each a
// stack of named pages stepped through with Previous and Next; Next on a
// tab's last page runs the operation in the status window.
#include <QGroupBox>
#include <QMainWindow>
#include <QStringList>
#include <functional>

#include "engine/wizard_job.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QStackedWidget;
class QTabWidget;
class QTimer;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace vx::ui {

class TRestoreTree;
class THelpKeyHandler;

// A titled group of radio buttons with an item index, as the pages use them.
class TRadioGroup;

// The hidden FTP group of a page.
struct TFtpControls {
  QGroupBox* Group = nullptr;
  QCheckBox* Check = nullptr;
  QLineEdit* Host = nullptr;
  QLineEdit* Port = nullptr;
  QLineEdit* User = nullptr;
  QLineEdit* Password = nullptr;
};

class TMainForm : public QMainWindow {
  Q_OBJECT
 public:
  // arguments: the command line without the program; a first argument names
  // a job file to load.  programPath is recorded in the user's settings.
  explicit TMainForm(const QStringList& arguments = {}, const QString& programPath = {});
  ~TMainForm() override;

  enum TTab { BackupTab = 0, RestoreTab = 1, VerifyTab = 2 };

  // ---- The wizard ----
  TTab ActiveTab() const;
  void SetActiveTab(TTab tab);
  QStackedWidget* Notebook(TTab tab) const;
  QString CurrentPageName() const;
  void PreviousNextClick(bool next);
  void UpdateWizardButtons();
  // false when the page may not be left forward (its message already shown).
  bool ValidatePage(const QString& pageName);
  void StartOperation();
  bool StartedWithJob() const { return startedWithJob_; }

  // ---- Page values ----
  TBackupPage ReadBackupPage() const;
  TRestorePage ReadRestorePage() const;
  TVerifyPage ReadVerifyPage() const;
  TWizardPages ReadPages() const;
  // Sets the backup pages; include and exclude entries beyond those already
  // listed are appended (image 0 for masks, 1 otherwise).
  void WriteBackupPage(const TBackupPage& page);

  // ---- Entries, job files, logs ----
  void AddEntry(QTreeWidget* list);
  bool LoadJob(const QString& fileName);  // empty: ask with the open dialog
  bool SaveJob(const QString& fileName);  // empty: ask with the save dialog
  // The job file last opened or saved in this window (empty: none).
  QString JobFile() const { return jobFile_; }
  // Opens the job file remembered from an earlier start (Súbor menu).
  void ReopenLastJob();
  // "Plánovať…": saves the job (to its file, or asks for one) and opens the
  // schedule dialog for it.
  void ScheduleJob();
  bool ReadSetInfo();
  const QStringList& RestoreSelection() const;
  TRestoreTree* RestoreTreeView() const { return restoreTree_; }
  THelpKeyHandler* HelpHandler() const { return help_; }

  // Replaces running the status window (tests of the wizard alone).
  using TOperationHook = std::function<void(int kind, const TWizardPages&)>;
  void SetOperationHook(TOperationHook hook) { operationHook_ = std::move(hook); }

  QTimer* AdvanceTimer() const { return timer1_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // Page building (main_form_pages.cpp).
  void BuildMenu();
  QWidget* BuildBackupSheet();
  QWidget* BuildRestoreSheet();
  QWidget* BuildVerifySheet();
  QWidget* BuildBackupInclude(bool exclude);
  QWidget* BuildBackupWhere();
  QWidget* BuildBackupHow();
  QWidget* BuildRestoreFrom();
  QWidget* BuildRestoreWhat();
  QWidget* BuildRestoreHow();
  QWidget* BuildVerifyWhat();
  QWidget* BuildVerifyHow();
  TFtpControls BuildFtpGroup(QWidget* page, const QStringList& names, const QString& checkCaption,
                             const QStringList& captions);
  void SetTabOrders();

  // Behaviour (main_form.cpp).
  void MainPageChange();
  void RemoveEntry(QTreeWidget* list);
  void ClearEntries(QTreeWidget* list);
  void BrowseInto(QLineEdit* edit, int mode);
  void BackupToTapeCheckClick();
  void RestoreFromTapeCheckClick();
  void VerifyTapeCheckClick();
  void RestoreToOriginalCheckClick();
  void BackupUseEncryptionCheckClick();
  void BackupModeGroupClick();
  void FtpCheckClick(TFtpControls& ftp, QCheckBox* tape);
  void ViewLogs();
  void About();
  void ApplicationActivated();
  void Timer1Timer();
  void Fail(QWidget* focus, const QString& message);
  bool CheckBackupPassword(const QString& password);
  void JobFileUsed(const QString& fileName);
  void UpdateReopenItem();

  // Window-level controls.
  QTabWidget* mainPage_ = nullptr;
  QLabel* panel_ = nullptr;
  QLabel* titles_[3] = {};
  QStackedWidget* notebooks_[3] = {};
  QLabel* animate_ = nullptr;
  QPushButton* previousButton_ = nullptr;
  QPushButton* nextButton_ = nullptr;
  QTimer* timer1_ = nullptr;

  // Backup pages.
  QTreeWidget* includeTree_ = nullptr;
  QTreeWidget* excludeTree_ = nullptr;
  QPushButton* includeButtons_[3] = {};  // add, remove, clear
  QPushButton* excludeButtons_[3] = {};
  QCheckBox* backupToTape_ = nullptr;
  QLineEdit* backupLocation_ = nullptr;
  QPushButton* backupLocationButton_ = nullptr;
  QLineEdit* backupBaseName_ = nullptr;
  QLineEdit* segsize_ = nullptr;
  TFtpControls backupFtp_;
  TRadioGroup* backupMode_ = nullptr;
  QLineEdit* backupDate_ = nullptr;
  TRadioGroup* backupCompression_ = nullptr;
  QCheckBox* backupOpenFiles_ = nullptr;
  QCheckBox* backupSkipLocks_ = nullptr;
  QCheckBox* backupHidden_ = nullptr;
  QCheckBox* backupErase_ = nullptr;
  QCheckBox* backupEncrypt_ = nullptr;
  QCheckBox* backupVerify_ = nullptr;
  QCheckBox* backupLog_ = nullptr;
  QCheckBox* backupKeepFlags_ = nullptr;
  QLineEdit* backupPassword_ = nullptr;
  QLineEdit* backupPasswordConfirm_ = nullptr;  // typed again, compared when the page is left
  QLineEdit* backupComment_ = nullptr;

  // Restore pages.
  QLineEdit* restoreSet_ = nullptr;
  QPushButton* restoreSetButton_ = nullptr;
  QCheckBox* restoreFromTape_ = nullptr;
  QLineEdit* restorePassword_ = nullptr;
  TFtpControls restoreFtp_;
  QLineEdit* restoreComment_ = nullptr;
  QLabel* restoreDate_ = nullptr;
  TRestoreTree* restoreTree_ = nullptr;
  TRadioGroup* restoreMode_ = nullptr;
  QCheckBox* restoreToOriginal_ = nullptr;
  QCheckBox* restoreAttributes_ = nullptr;
  QCheckBox* restoreSkipLocks_ = nullptr;
  QCheckBox* restoreLog_ = nullptr;
  QLineEdit* restoreLocation_ = nullptr;
  QPushButton* restoreLocationButton_ = nullptr;

  // Verify pages.
  QLineEdit* verifySet_ = nullptr;
  QPushButton* verifySetButton_ = nullptr;
  QCheckBox* verifyTape_ = nullptr;
  QLineEdit* verifyPassword_ = nullptr;
  TFtpControls verifyFtp_;
  QLineEdit* verifyComment_ = nullptr;
  QLabel* verifyDate_ = nullptr;
  QCheckBox* verifyLog_ = nullptr;

  QAction* reopenItem_ = nullptr;
  QString jobFile_;
  bool startedWithJob_ = false;
  bool activatedOnce_ = false;
  TOperationHook operationHook_;
  THelpKeyHandler* help_ = nullptr;
};

class TRadioGroup : public QGroupBox {
  Q_OBJECT
 public:
  TRadioGroup(const QString& objectName, const QString& title, const QStringList& items,
              QWidget* parent);
  int ItemIndex() const;
  void SetItemIndex(int index);
  QRadioButton* Item(int index) const;
  int Count() const;

 signals:
  void Clicked();

 private:
  QList<QRadioButton*> items_;
};

}  // namespace vx::ui
