#pragma once
// The status window: runs one operation on its own engine and shows its
// progress, asks the engine's questions, reports the result and offers the log.
#include <QDialog>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

#include "engine/types.h"
#include "engine/wizard_job.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QStatusBar;

namespace vx {
class TVaultrex;
}

namespace vx::ui {

class TStatusForm : public QDialog {
  Q_OBJECT
 public:
  // The exec() result when the window is closed with its "Close" button.
  static constexpr int kAbortResult = 3;

  // kind: 0 backup, 1 restore, 2 verify.  The page of that kind is run when
  // the window is first shown (exec()).  Creating the window hides
  // mainWindow; closing it shows mainWindow again.
  TStatusForm(QWidget* mainWindow, int operationKind, TWizardPages pages);
  ~TStatusForm() override;

  int ResultCode() const;
  TVaultrex& Engine();

  // The view-log action: the log viewer for Engine().LogFileName when that
  // file exists (also used by the main window's "view a log" menu item).
  void ViewLog();

  bool OperationDone() const { return operationDone_; }
  bool AbortRequested() const { return abortRequested_; }
  bool AppMinimized() const { return appMinimized_; }
  // The text of the status bar.
  QString StatusText() const;

  // The statistics display (the engine's statistics event).
  void ShowProgress(const TExtBackupStatistic& stat, bool& cancel);
  // Where the times come from (days since 1899-12-30); tests set a clock.
  void SetClock(std::function<double()> clock) { clock_ = std::move(clock); }
  void SetStartTime(double startTime) { startTime_ = startTime; }

  // The folder the run logs go to: $VAULTIX_STATE_DIR/logs, else
  // ${XDG_STATE_HOME:-~/.local/state}/vaultix/logs (with "/").
  static QString LogFolder();

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void done(int result) override;

 private:
  void Run();
  void RunBackup();
  void RunRestore();
  void RunVerify();
  void RunGuarded(const std::function<void()>& apply, const std::function<int()>& operation);
  void FinishOperation();
  void AbortButtonClick();
  void ViewLogButtonClick();
  void AttachEvents();
  void ResetAttributes(const TExtBackupStatistic& stat, bool& cancel);
  void ShowFileAndTitle(const TExtBackupStatistic& stat, bool& cancel);
  void ShowCounters(const TExtBackupStatistic& stat);
  void ShowBlockProgress(const std::string& file, std::int64_t doneOfFile);
  void AskForMedium(int diskNo, TReaction& reaction);
  void AskFile(const char* question, const std::string& fileName, TReaction& reaction);
  void SetStatus(const QString& text);
  void Repaint();
  QString MainCaption() const;
  double Now() const { return clock_(); }

  QPointer<QWidget> mainWindow_;
  int operationKind_;
  TWizardPages pages_;
  std::unique_ptr<TVaultrex> vaultix_;
  std::function<double()> clock_;
  QString caption_;  // the window's own caption; the task bar shows a progress title instead while
                     // minimised
  int resultCode_ = 0;
  double startTime_ = 0.0;
  int lastPercent_ = 0;
  TExtBackupStatistic lastStat_;  // the engine's last statistics report of this run
  bool started_ = false;
  bool abortRequested_ = false;
  bool operationDone_ = false;
  bool appMinimized_ = false;

  QLabel* currentFileHdg_ = nullptr;
  QLabel* currentDirectoryLabel_ = nullptr;
  QLabel* currentFileLabel_ = nullptr;
  QProgressBar* fileProgressBar_ = nullptr;
  QLabel* timeProcessedLabel_ = nullptr;
  QLabel* timeRemainingLabel_ = nullptr;
  QLabel* bytesProcessedLabel_ = nullptr;
  QLabel* bytesRemainingLabel_ = nullptr;
  QLabel* disksLabel_ = nullptr;
  QLabel* compressionLabel_ = nullptr;
  QLabel* speedLabel_ = nullptr;
  QLabel* percentLabel_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QPushButton* abortButton_ = nullptr;
  QPushButton* viewLogButton_ = nullptr;
  QStatusBar* statusBar_ = nullptr;
};

}  // namespace vx::ui
