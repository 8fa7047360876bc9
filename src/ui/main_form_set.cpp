// The main window's reading of a set (the restore tree's contents) and its
// job files.
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTreeWidget>
#include <stdexcept>

#include "engine/vaultrex.h"
#include "platform/date_time.h"
#include "platform/locale.h"
#include "platform/paths.h"
#include "ui/application.h"
#include "ui/log_view.h"
#include "ui/main_form.h"
#include "ui/message_boxes.h"
#include "ui/restore_tree.h"
#include "ui/schedule_dialog.h"
#include "ui/settings.h"
#include "ui/texts.h"

namespace vx::ui {
namespace {

std::int32_t PortOf(const QString& text) {
  bool ok = false;
  const int port = text.toInt(&ok, 10);
  return ok ? port : 21;
}

}  // namespace

bool TMainForm::ReadSetInfo() {
  const bool restore = ActiveTab() == RestoreTab;
  QLineEdit* setEdit = restore ? restoreSet_ : verifySet_;
  QCheckBox* tape = restore ? restoreFromTape_ : verifyTape_;
  const TFtpControls& ftp = restore ? restoreFtp_ : verifyFtp_;
  QLineEdit* password = restore ? restorePassword_ : verifyPassword_;
  QLineEdit* comment = restore ? restoreComment_ : verifyComment_;
  QLabel* date = restore ? restoreDate_ : verifyDate_;

  QApplication::setOverrideCursor(Qt::WaitCursor);
  statusBar()->showMessage(text::kReadingSet);
  animate_->show();
  animate_->raise();
  repaint();
  if (restore) restoreTree_->Clear();

  bool ok = false;
  const QString typed = setEdit->text();
  if (!tape->isChecked() && !ftp.Check->isChecked() && !QFileInfo(typed).isFile()) {
    // A mistyped name: no medium to ask for, the file is not there.
    ShowBox(this, windowTitle(),
            text::kCannotRead + QStringLiteral(" for,\n") + typed + QStringLiteral("\n\n") +
                text::kSetFileMissing,
            TBoxIcon::Stop, BB_Ok);
  } else {
    vx::TVaultrex engine;
    engine.SpanDisks = true;
    engine.EncryptData = !password->text().isEmpty();
    engine.EncryptKey = password->text().toStdString();
    const std::string set = setEdit->text().toStdString();
    engine.BackupToTape = tape->isChecked();
    engine.BackupDestination = vx::ExtractFilePath(set);
    engine.ArchiveBaseName = vx::RemoveFileExt(vx::ExtractFileName(set));
    engine.BackupToFTP = ftp.Check->isChecked();
    engine.FTPConnection.HostName = ftp.Host->text().toStdString();
    engine.FTPConnection.Port = PortOf(ftp.Port->text());
    engine.FTPConnection.UserName = ftp.User->text().toStdString();
    engine.FTPConnection.Password = ftp.Password->text().toStdString();
    try {
      const int r = engine.Catalog();
      if (r != 0) {
        QString message = text::kCannotRead;
        message += engine.BackupToTape ? QStringLiteral(".") : QStringLiteral(" for,\n");
        message += setEdit->text() + QStringLiteral("\n\n") + ResultMessage(r);
        ShowBox(this, windowTitle(), message, TBoxIcon::Stop, BB_Ok);
      } else {
        ok = true;
        if (!engine.BackupToTape && !engine.BackupToFTP) RememberLastSet(typed);
        if (restore) {
          std::vector<TStoredEntry> entries;
          entries.reserve(engine.FileList().size());
          for (const auto& record : engine.FileList())
            entries.push_back({QString::fromStdString(record.path), record.fullSize, record.time});
          restoreTree_->Fill(entries);
        }
        // The comment stored in the set's header and the time its first
        // volume was written.
        std::string stored;
        comment->setText(engine.RetrieveComment(stored) == 0 ? QString::fromStdString(stored)
                                                             : QString());
        struct stat st {};
        if (!engine.BackupToTape && !engine.BackupToFTP && ::stat(set.c_str(), &st) == 0)
          date->setText(text::kCreated + QString::fromStdString(
                                             vx::FormatDateTimeC(vx::UnixToDateTime(st.st_mtime))));
        else
          date->clear();
      }
    } catch (const std::exception& e) {
      ShowError(this, QString::fromStdString(e.what()));
    }
  }

  statusBar()->clearMessage();
  animate_->hide();
  if (restore) restoreTree_->ClearSelection();
  QApplication::restoreOverrideCursor();
  return ok;
}

bool TMainForm::LoadJob(const QString& fileName) {
  QString name = fileName;
  if (name.isEmpty()) {
    TFileDialogRequest r;
    r.Caption = text::kJobOpenTitle;
    r.Folder = JobDialogFolder();  // where the save dialog saves
    r.FileName = QStringLiteral("*.sqt");
    r.Filter = text::kJobFilter;
    r.DefaultSuffix = QStringLiteral("sqt");
    name = AskFileName(this, r);
    if (name.isEmpty()) return false;
  }
  TBackupPage page = ReadBackupPage();
  try {
    vx::LoadJobFile(QFile::encodeName(name).toStdString(), page);
  } catch (const std::exception& e) {
    ShowError(this, QString::fromStdString(e.what()));
    return false;
  }
  WriteBackupPage(page);
  JobFileUsed(name);
  UpdateWizardButtons();
  return true;
}

bool TMainForm::SaveJob(const QString& fileName) {
  QString name = fileName;
  if (name.isEmpty()) {
    TFileDialogRequest r;
    r.Save = true;
    r.Caption = text::kJobSaveTitle;
    r.Folder = JobDialogFolder();
    r.Filter = text::kJobFilter;
    r.DefaultSuffix = QStringLiteral("sqt");
    name = AskFileName(this, r);
    if (name.isEmpty()) return false;
  }
  bool saved = false;
  try {
    vx::SaveJobFile(QFile::encodeName(name).toStdString(), ReadBackupPage());
    JobFileUsed(name);
    saved = true;
  } catch (const std::exception& e) {
    // A job that was not written is never reported as saved.
    ShowError(this, QString::fromStdString(e.what()));
  }
  UpdateWizardButtons();
  return saved;
}

void TMainForm::JobFileUsed(const QString& fileName) {
  jobFile_ = QFileInfo(fileName).absoluteFilePath();
  RememberLastJob(jobFile_);
  UpdateReopenItem();
}

void TMainForm::UpdateReopenItem() {
  const QString last = LastJobFile();
  const bool there = !last.isEmpty() && QFileInfo(last).isFile();
  reopenItem_->setEnabled(there);
  reopenItem_->setText(there ? text::kReopenJob + QFileInfo(last).fileName()
                             : text::kReopenJob.trimmed());
  reopenItem_->setToolTip(there ? last : QString());
}

void TMainForm::ScheduleJob() {
  // The schedule runs the job file: what the pages show now is saved first.
  if (!SaveJob(jobFile_)) return;
  TScheduleDialog dialog(jobFile_, this);
  dialog.exec();
}

void TMainForm::ReopenLastJob() {
  const QString last = LastJobFile();
  if (!last.isEmpty()) LoadJob(last);
}

}  // namespace vx::ui
