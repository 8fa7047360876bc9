#include "ui/status_form.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <optional>

#include "engine/vaultrex.h"
#include "platform/date_time.h"
#include "platform/hooks.h"
#include "platform/paths.h"
#include "support/utils.h"
#include "support/version.h"
#include "ui/log_view.h"
#include "ui/message_boxes.h"
#include "ui/notify.h"
#include "ui/texts.h"

namespace vx::ui {

namespace {

// The engine's code for a password that is missing, too short or wrong.
constexpr int kWrongPasswordCode = 14;

struct TBarSteps {
  int value;
  int maximum;
};

// The file bar's position for a block report.  The bar counts in int while
// the engine counts bytes in 64 bits: a file of 2 GiB and more has both
// counts shifted right together until the total fits, which keeps the ratio.
// An empty range would make the bar a busy indicator: a file without bytes
// shows full.
TBarSteps FileBarSteps(std::int64_t done, std::int64_t total) {
  if (total <= 0) return {1, 1};
  done = std::clamp<std::int64_t>(done, 0, total);
  int shift = 0;
  while ((total >> shift) > std::numeric_limits<int>::max()) ++shift;
  return {static_cast<int>(done >> shift), static_cast<int>(total >> shift)};
}

using txt::Text;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// "hh:mm:ss" of the time-of-day part of a span in days (a day or more wraps).
QString FormatClock(double days) {
  if (!std::isfinite(days) || days < 0) days = 0;
  const double fraction = days - std::floor(days);
  long long seconds = std::llround(fraction * 86400.0);
  if (seconds >= 86400) seconds = 0;
  return QString::asprintf("%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

// The task-bar title while the program is minimised: "Velmora - 42%".
QString ProgressTitle(int percent) {
  if (VersionString(VS_InternalName).empty()) ReadVersionInfo();
  return Q(VersionString(VS_InternalName)) + QStringLiteral(" - ") + QString::number(percent) +
         QLatin1Char('%');
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text = QString(),
                  Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QString::fromLatin1(name));
  l->setAlignment(align);
  return l;
}

}  // namespace

TStatusForm::TStatusForm(QWidget* mainWindow, int operationKind, TWizardPages pages)
    : QDialog(mainWindow),
      mainWindow_(mainWindow),
      operationKind_(operationKind),
      pages_(std::move(pages)),
      vaultix_(std::make_unique<TVaultrex>()),
      clock_([] { return NowDateTime(); }),
      caption_(Text(txt::kStatusCaption)) {
  setObjectName(QStringLiteral("StatusForm"));
  setWindowTitle(caption_);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setModal(true);

  const auto right = Qt::AlignRight | Qt::AlignVCenter;
  currentFileHdg_ = MakeLabel(this, "CurrentFileHdg", Text(txt::kCurrentFileHdg));
  currentDirectoryLabel_ = MakeLabel(this, "CurrentDirectoryLabel");
  currentFileLabel_ = MakeLabel(this, "CurrentFileLabel");
  QFont bold = currentFileLabel_->font();
  bold.setBold(true);
  currentFileLabel_->setFont(bold);
  // Long paths are cut at the window's edge instead of widening the window.
  for (QLabel* l : {currentDirectoryLabel_, currentFileLabel_}) {
    l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    l->setMinimumHeight(l->fontMetrics().height());
  }
  fileProgressBar_ = new QProgressBar(this);
  fileProgressBar_->setObjectName(QStringLiteral("FileProgressBar"));
  fileProgressBar_->setTextVisible(false);
  fileProgressBar_->setRange(0, 100);
  fileProgressBar_->setValue(0);

  auto* grid = new QGridLayout;
  grid->addWidget(MakeLabel(this, "ProcessedHdg", Text(txt::kProcessedHdg), right), 0, 1);
  grid->addWidget(MakeLabel(this, "RemainingHdg", Text(txt::kRemainingHdg), right), 0, 2);
  grid->addWidget(MakeLabel(this, "TimeHdg", Text(txt::kTimeHdg)), 1, 0);
  timeProcessedLabel_ = MakeLabel(this, "TimeProcessedLabel", QString(), right);
  timeRemainingLabel_ = MakeLabel(this, "TimeRemainingLabel", QString(), right);
  grid->addWidget(timeProcessedLabel_, 1, 1);
  grid->addWidget(timeRemainingLabel_, 1, 2);
  grid->addWidget(MakeLabel(this, "BytesHdg", Text(txt::kBytesHdg)), 2, 0);
  bytesProcessedLabel_ = MakeLabel(this, "BytesProcessedLabel", QString(), right);
  bytesRemainingLabel_ = MakeLabel(this, "BytesRemainingLabel", QString(), right);
  grid->addWidget(bytesProcessedLabel_, 2, 1);
  grid->addWidget(bytesRemainingLabel_, 2, 2);
  grid->setColumnMinimumWidth(1, 110);
  grid->setColumnMinimumWidth(2, 110);
  grid->setColumnMinimumWidth(3, 24);

  grid->addWidget(MakeLabel(this, "DisksHdg", Text(txt::kDisksHdg)), 0, 4);
  disksLabel_ = MakeLabel(this, "DisksLabel", QStringLiteral("1"), right);
  grid->addWidget(disksLabel_, 0, 5);
  grid->addWidget(MakeLabel(this, "CompressionHdg", Text(txt::kCompressionHdg)), 1, 4);
  compressionLabel_ = MakeLabel(this, "CompressionLabel", QString(), right);
  grid->addWidget(compressionLabel_, 1, 5);
  grid->addWidget(MakeLabel(this, "SpeedHdg", Text(txt::kSpeedHdg)), 2, 4);
  speedLabel_ = MakeLabel(this, "SpeedLabel", QString(), right);
  grid->addWidget(speedLabel_, 2, 5);
  grid->setColumnMinimumWidth(5, 90);

  percentLabel_ = MakeLabel(this, "PercentLabel", QStringLiteral("0%"), Qt::AlignCenter);
  QFont big = percentLabel_->font();
  big.setBold(true);
  big.setPointSize(big.pointSize() * 2 + 4);
  percentLabel_->setFont(big);
  QPalette maroon = percentLabel_->palette();
  maroon.setColor(QPalette::WindowText, QColor(128, 0, 0));
  percentLabel_->setPalette(maroon);

  progressBar_ = new QProgressBar(this);
  progressBar_->setObjectName(QStringLiteral("ProgressBar"));
  progressBar_->setRange(0, 100);
  progressBar_->setValue(0);
  progressBar_->setTextVisible(false);

  viewLogButton_ = new QPushButton(Text(txt::kViewLogButton), this);
  viewLogButton_->setObjectName(QStringLiteral("ViewLogButton"));
  viewLogButton_->setAutoDefault(false);
  viewLogButton_->hide();
  abortButton_ = new QPushButton(Text(txt::kAbortButton), this);
  abortButton_->setObjectName(QStringLiteral("AbortButton"));
  abortButton_->setDefault(true);
  connect(abortButton_, &QPushButton::clicked, this, [this] { AbortButtonClick(); });
  connect(viewLogButton_, &QPushButton::clicked, this, [this] { ViewLogButtonClick(); });

  statusBar_ = new QStatusBar(this);
  statusBar_->setObjectName(QStringLiteral("StatusBar"));
  statusBar_->setSizeGripEnabled(false);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(viewLogButton_);
  buttons->addWidget(abortButton_);
  buttons->addStretch(1);

  auto* top = new QVBoxLayout(this);
  top->setContentsMargins(0, 0, 0, 0);
  top->setSpacing(0);
  auto* body = new QVBoxLayout;
  body->setContentsMargins(12, 12, 12, 8);
  body->setSpacing(6);
  body->addWidget(currentFileHdg_);
  body->addWidget(currentDirectoryLabel_);
  body->addWidget(currentFileLabel_);
  body->addWidget(fileProgressBar_);
  body->addSpacing(6);
  body->addLayout(grid);
  body->addSpacing(6);
  body->addWidget(percentLabel_);
  body->addWidget(progressBar_);
  body->addSpacing(6);
  body->addLayout(buttons);
  top->addLayout(body);
  top->addWidget(statusBar_);

  setFixedSize(480, sizeHint().height());

  ApplyStatusWindowDefaults(*vaultix_);
  AttachEvents();

  // Centred over the main window, which is hidden while this one is open.
  if (mainWindow_) {
    const QRect m = mainWindow_->frameGeometry();
    move(m.left() + (m.width() - width()) / 2, m.top() + (m.height() - height()) / 2);
    mainWindow_->hide();
  }
}

TStatusForm::~TStatusForm() {
  if (started_ && !operationDone_) SetStopRequestHook(nullptr);
  if (mainWindow_) mainWindow_->show();
}

int TStatusForm::ResultCode() const { return resultCode_; }

TVaultrex& TStatusForm::Engine() { return *vaultix_; }

QString TStatusForm::StatusText() const { return statusBar_->currentMessage(); }

QString TStatusForm::LogFolder() { return Q(RunLogFolder()); }

QString TStatusForm::MainCaption() const {
  return mainWindow_ ? mainWindow_->windowTitle() : QString();
}

void TStatusForm::SetStatus(const QString& text) {
  statusBar_->showMessage(text);
  statusBar_->repaint();
}

void TStatusForm::Repaint() { repaint(); }

void TStatusForm::AttachEvents() {
  TVaultrex& e = *vaultix_;
  e.OnStartFileScan = [this](const std::string& dir, TReaction& r) {
    if (abortRequested_) {
      r = AW_ABORT;
      return;
    }
    SetStatus(Text(txt::kStatusScanning));
    progressBar_->hide();
    currentDirectoryLabel_->setText(Q(dir));
    Repaint();
  };
  e.OnScanNextDir = [this](const std::string& dir, TReaction& r) {
    currentDirectoryLabel_->setText(Q(dir));
    currentDirectoryLabel_->repaint();  // only the label: this runs for every folder
    if (abortRequested_) r = AW_ABORT;
  };
  e.OnScanNextFile = [this](const std::string& file, TReaction& r) {
    currentFileLabel_->setText(Q(file));
    currentFileLabel_->repaint();  // only the label: this runs for every file
    if (abortRequested_) r = AW_ABORT;
  };
  e.OnEndFileScan = [this](const std::string&, TReaction& r) {
    if (abortRequested_) {
      r = AW_ABORT;
      return;
    }
    currentDirectoryLabel_->clear();
    currentFileLabel_->clear();
    SetStatus(Text(txt::kStatusBackingUp));
    progressBar_->show();
    // The target folder of a disk backup, with every missing level.  A tape
    // or FTP backup names no local folder.
    if (!vaultix_->BackupToTape && !vaultix_->BackupToFTP && !vaultix_->BackupDestination.empty())
      ForceDirectories(vaultix_->BackupDestination);
    Repaint();
    startTime_ = Now();  // the times and speed cover the copying only
  };
  e.OnExtStatistic = [this](const TExtBackupStatistic& s, bool& cancel) {
    ShowProgress(s, cancel);
  };
  e.OnResetAttributes = [this](const TExtBackupStatistic& s, bool& cancel) {
    ResetAttributes(s, cancel);
  };
  e.OnNextBlock = [this](const std::string& file, std::int64_t done, std::int64_t total) {
    const TBarSteps steps = FileBarSteps(done, total);
    fileProgressBar_->setMinimum(0);
    fileProgressBar_->setMaximum(steps.maximum);
    fileProgressBar_->setValue(steps.value);
    ShowBlockProgress(file, done);
    QCoreApplication::processEvents();
  };
  e.OnNextDisk = [this](int diskNo, TReaction& r) { AskForMedium(diskNo, r); };
  // A set whose header says it is encrypted, read without a password: the
  // password is asked for before any data are read.  Cancelled, the run ends
  // as one without a password (14).
  e.OnPasswordNeeded = [this](std::string& key) {
    const std::optional<QString> typed =
        AskPassword({this, text::kPasswordAskCaption, text::kPasswordAsk});
    if (!typed || typed->isEmpty()) return false;
    key = typed->toStdString();
    return true;
  };
  e.OnCantOpenFile = [this](const std::string& f, TReaction& r) {
    AskFile(txt::kCantOpenFile, f, r);
  };
  e.OnCantReadFromFile = [this](const std::string& f, TReaction& r) {
    AskFile(txt::kCantReadFile, f, r);
  };
}

void TStatusForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!started_) {
    started_ = true;
    // The operation runs inside the window's event loop, once it is on screen.
    QTimer::singleShot(0, this, [this] { Run(); });
  }
}

void TStatusForm::Run() {
  abortRequested_ = false;
  operationDone_ = false;
  startTime_ = Now();
  lastStat_ = TExtBackupStatistic{};
  // The engine asks at every data block whether to stop: "Prerušiť" ends a
  // large file within a block, not at its end.
  SetStopRequestHook([this] { return abortRequested_; });
  switch (operationKind_) {
    case 1:
      caption_ = Text(txt::kStatusRestoreCaption);
      setWindowTitle(caption_);
      RunRestore();
      break;
    case 2:
      caption_ = Text(txt::kStatusVerifyCaption);
      setWindowTitle(caption_);
      RunVerify();
      break;
    default:
      caption_ = Text(txt::kStatusBackupCaption);
      setWindowTitle(caption_);
      RunBackup();
      break;
  }
}

// Hands the page to the engine and runs the operation.  A page setting that
// does not convert ends the run as a parameter failure (1), anything else that
// escapes the engine as 99: never as a finished run.
void TStatusForm::RunGuarded(const std::function<void()>& apply,
                             const std::function<int()>& operation) {
  try {
    apply();
    try {
      resultCode_ = operation();
    } catch (...) {
      resultCode_ = 99;
    }
  } catch (...) {
    resultCode_ = 1;
  }
  FinishOperation();
}

static std::string LogNameForRun(int kind) {
  const std::string folder = RunLogFolder();
  ForceDirectories(folder);
  return RunLogFileName(folder, kind);
}

void TStatusForm::RunBackup() {
  RunGuarded([this] { ApplyBackupPage(*vaultix_, pages_.Backup, LogNameForRun(0)); },
             [this] { return vaultix_->Backup(); });
}

void TStatusForm::RunRestore() {
  SetStatus(Text(txt::kStatusRestoring));
  progressBar_->show();
  Repaint();
  RunGuarded([this] { ApplyRestorePage(*vaultix_, pages_.Restore, LogNameForRun(1)); },
             [this] { return vaultix_->Restore(); });
}

void TStatusForm::RunVerify() {
  SetStatus(Text(txt::kStatusVerifying));
  progressBar_->show();
  Repaint();
  RunGuarded([this] { ApplyVerifyPage(*vaultix_, pages_.Verify, LogNameForRun(2)); },
             [this] { return vaultix_->Verify(); });
}

void TStatusForm::ShowFileAndTitle(const TExtBackupStatistic& s, bool& cancel) {
  if (abortRequested_) cancel = true;
  currentDirectoryLabel_->setText(Q(ExtractFilePath(s.CurrentFile)));
  currentFileLabel_->setText(Q(ExtractFileName(s.CurrentFile)));
  lastPercent_ = s.PercentDone;
  progressBar_->setValue(std::clamp(s.PercentDone, 0, 100));
  percentLabel_->setText(QString::number(s.PercentDone) + QLatin1Char('%'));
  if (appMinimized_) {
    setWindowTitle(ProgressTitle(s.PercentDone));
  } else if (windowTitle() != caption_) {
    setWindowTitle(caption_);
  }
}

void TStatusForm::ShowProgress(const TExtBackupStatistic& s, bool& cancel) {
  lastStat_ = s;
  ShowCounters(s);
  const double ratio = s.BytesWritten != 0
                           ? static_cast<double>(s.BytesRead) / static_cast<double>(s.BytesWritten)
                           : 0.0;
  compressionLabel_->setText(QStringLiteral("1:") + Q(FormatFloat(3, 1, ratio)));
  ShowFileAndTitle(s, cancel);
}

// A backup reports its statistics after each file; within a file each block
// moves the counters on from the last report by the bytes of the file read
// so far.  The ratio waits for the file's end: the bytes written are not
// known before.
void TStatusForm::ShowBlockProgress(const std::string& file, std::int64_t doneOfFile) {
  if (operationKind_ != 0 || operationDone_) return;
  TExtBackupStatistic s = lastStat_;
  if (s.TotalBytes == 0) {
    // Before the first file's end the total is the scan's.
    for (const TDirRecord& r : vaultix_->FileList()) s.TotalBytes += r.fullSize;
  }
  s.BytesRead += std::max<std::int64_t>(doneOfFile, 0);
  if (s.TotalBytes > 0) {
    const double percent =
        static_cast<double>(s.BytesRead) * 100.0 / static_cast<double>(s.TotalBytes);
    s.PercentDone = static_cast<std::int32_t>(std::clamp(std::nearbyint(percent), 0.0, 100.0));
  }
  s.CurrentFile = file;
  ShowCounters(s);
  bool cancel = false;  // the stop request reaches the engine through its hook
  ShowFileAndTitle(s, cancel);
}

void TStatusForm::ShowCounters(const TExtBackupStatistic& s) {
  const std::int64_t processed = operationKind_ == 1 ? s.BytesWritten : s.BytesRead;
  bytesProcessedLabel_->setText(Q(FormatSize64(processed)));
  std::int64_t remaining = s.TotalBytes - processed;
  if (remaining < 0 || s.PercentDone == 100) remaining = 0;
  bytesRemainingLabel_->setText(Q(FormatSize64(remaining)));

  const double now = Now();
  const double elapsed = now - startTime_;
  timeProcessedLabel_->setText(FormatClock(elapsed));
  const double left =
      s.PercentDone == 0 ? 1.0 / 24.0 : (100.0 - s.PercentDone) * elapsed / s.PercentDone;
  timeRemainingLabel_->setText(FormatClock(left));
  if (now > startTime_) {
    const double perMinute = static_cast<double>(processed) / (elapsed * 1440.0);
    speedLabel_->setText(Q(FormatSize64(static_cast<std::int64_t>(std::llround(perMinute)))) +
                         QStringLiteral("/min"));
  } else {
    speedLabel_->setText(QStringLiteral("0/min"));
  }
}

void TStatusForm::ResetAttributes(const TExtBackupStatistic& s, bool& cancel) {
  ShowFileAndTitle(s, cancel);
}

void TStatusForm::AskForMedium(int diskNo, TReaction& reaction) {
  disksLabel_->setText(QString::number(diskNo));
  Repaint();
  const QString text =
      diskNo == 1 ? Text(txt::kFirstDiskQuestion)
                  : Text(txt::kInsertMedium) +
                        Text(vaultix_->BackupToTape ? txt::kMediumTape : txt::kMediumDisk) +
                        QLatin1Char(' ') + QString::number(diskNo) + QLatin1Char('.');
  if (ShowBox(this, MainCaption(), text, TBoxIcon::Information, BB_Ok | BB_Cancel) == BB_Cancel) {
    reaction = AW_ABORT;
    abortRequested_ = true;
  }
}

void TStatusForm::AskFile(const char* question, const std::string& fileName, TReaction& reaction) {
  const bool skipLocks = (operationKind_ == 0 && pages_.Backup.SkipLocks) ||
                         (operationKind_ == 1 && pages_.Restore.SkipLocks);
  if (skipLocks) {
    reaction = AW_IGNORE;
    return;
  }
  switch (ShowBox(this, MainCaption(), Text(question) + Q(fileName), TBoxIcon::Information,
                  BB_Abort | BB_Retry | BB_Ignore)) {
    case BB_Retry:
      reaction = AW_RETRY;
      break;
    case BB_Ignore:
      reaction = AW_IGNORE;
      break;
    default:
      reaction = AW_ABORT;
      abortRequested_ = true;
      break;
  }
}

// "Záloha dát je ukončená, 3 položky neboli zálohované.": the count with
// the Slovak plural of its number.
static QString PartialBackupText(int notTaken) {
  const int n = std::max(notTaken, 0);
  const char* tail = n == 1             ? txt::kNotTakenOne
                     : n >= 2 && n <= 4 ? txt::kNotTakenFew
                                        : txt::kNotTakenMany;
  return Text(txt::kEndPartialHead) + QString::number(n) + Text(tail);
}

void TStatusForm::FinishOperation() {
  SetStopRequestHook(nullptr);
  if (vaultix_->LogFileMode != LFM_NoLog && FileExists(vaultix_->LogFileName)) {
    viewLogButton_->show();
    viewLogButton_->setEnabled(true);
  }
  progressBar_->hide();
  abortButton_->setText(Text(txt::kAbortButtonDone));
  abortButton_->setEnabled(true);
  setWindowTitle(caption_);
  const char* head = operationKind_ == 1   ? txt::kEndRestore
                     : operationKind_ == 2 ? txt::kEndVerify
                                           : txt::kEndBackup;
  // A run that left some items out has finished all the same.
  const bool finished = resultCode_ == 0 || resultCode_ == kPartialCode;
  const bool partial = resultCode_ == kPartialCode && !abortRequested_;
  const QString text =
      partial && operationKind_ == 0
          ? PartialBackupText(vaultix_->NotTakenCount())
          : Text(head) + Text(!finished || abortRequested_ ? txt::kEndAborted : txt::kEndDone);
  if (finished && !abortRequested_) {
    // Files left out never count as read: the last report may stand at 2 %,
    // with their bytes and an hour still to go.
    lastPercent_ = 100;
    progressBar_->setValue(100);
    percentLabel_->setText(QStringLiteral("100%"));
    bytesRemainingLabel_->setText(Q(FormatSize64(0)));
    timeRemainingLabel_->setText(FormatClock(0.0));
  }
  SetStatus(text);
  // Nobody sees the closing box of a minimised program: the desktop says it.
  if (appMinimized_) NotifyDesktop(QStringLiteral("Vaultix"), text, finished && !abortRequested_);
  if (partial) {
    ShowBox(this, caption_,
            text + QStringLiteral("\n\n") +
                (operationKind_ == 0 ? Text(txt::kPartialDetails) : ResultMessage(resultCode_)),
            TBoxIcon::Warning, BB_Ok);
  } else if (resultCode_ == kPartialCode) {
    ShowBox(this, caption_, text + QStringLiteral("\n\n") + ResultMessage(resultCode_),
            TBoxIcon::Warning, BB_Ok);
  } else if (resultCode_ == kWrongPasswordCode && operationKind_ != 0 &&
             !vaultix_->LastFailure().empty()) {
    // Reading: no password, or one the set's data do not decode with; the
    // result text of 14 speaks of a backup password's length.
    ShowBox(this, caption_, text + QStringLiteral("\n\n") + Q(vaultix_->LastFailure()),
            TBoxIcon::Stop, BB_Ok);
  } else if (resultCode_ != 0) {
    ShowBox(this, caption_, text + QStringLiteral("\n\n") + ResultMessage(resultCode_),
            TBoxIcon::Stop, BB_Ok);
  } else {
    ShowBox(this, caption_, text, TBoxIcon::Information, BB_Ok);
  }
  operationDone_ = true;
}

void TStatusForm::AbortButtonClick() {
  if (operationDone_) {
    done(kAbortResult);
    return;
  }
  if (ShowBox(this, Text(txt::kAbortQuestionCaption), Text(txt::kAbortQuestion), TBoxIcon::Question,
              BB_Yes | BB_No) != BB_Yes) {
    return;
  }
  abortButton_->setEnabled(false);
  abortButton_->repaint();
  SetStatus(Text(txt::kStatusAborting));
  abortRequested_ = true;
}

void TStatusForm::ViewLog() {
  const QString file = Q(vaultix_->LogFileName);
  if (!vaultix_->LogFileName.empty() && FileExists(vaultix_->LogFileName))
    ShowLogViewer(this, file);
  viewLogButton_->setEnabled(!vaultix_->LogFileName.empty() && FileExists(vaultix_->LogFileName));
}

void TStatusForm::ViewLogButtonClick() { ViewLog(); }

void TStatusForm::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange) return;
  // The main window is hidden while this window is open, so minimising this
  // window minimises the whole program; its task-bar entry then shows the
  // progress title.
  if (isMinimized()) {
    if (!appMinimized_) {
      appMinimized_ = true;
      if (!operationDone_ && started_) setWindowTitle(ProgressTitle(lastPercent_));
    }
  } else if (appMinimized_) {
    appMinimized_ = false;
    setWindowTitle(caption_);
  }
}

void TStatusForm::done(int result) {
  // No way out while the operation runs.
  if (!operationDone_ && started_) return;
  QDialog::done(result);
  if (mainWindow_) mainWindow_->show();
}

}  // namespace vx::ui
