#include "cli/job.h"

#include "cli/configure.h"
#include "engine/wizard_job.h"
#include "platform/paths.h"
#include "support/utils.h"

namespace vx {
namespace {

// The log file name of a run, as the status window names it.
std::string RunLog(int kind) {
  const std::string folder = RunLogFolder();
  if (!ForceDirectories(folder)) throw ECliSetting("cannot create the log folder " + folder);
  return RunLogFileName(folder, kind);
}

}  // namespace

std::string ConfigureFromJob(TVaultrex& engine, const TCliOptions& o) {
  TBackupPage job;
  LoadJobFile(o.jobFile, job);
  std::string warnings;
  if (job.Encryption && !job.Password.empty() && ReadableByOthers(o.jobFile)) {
    warnings = "warning: job file " + o.jobFile +
               " holds a password and can be read by other users (chmod 600 it)\n";
  }
  ApplyStatusWindowDefaults(engine);
  engine.LockWaitSeconds = o.waitLock;

  // Listing a set keeps no log.
  const bool lists = o.operation == TCliOperation::Catalog || o.operation == TCliOperation::Comment;
  const bool logged = !lists && !o.noLog && (job.CreateLog || o.logFile);
  const int kind = o.operation == TCliOperation::Restore  ? 1
                   : o.operation == TCliOperation::Backup ? 0
                                                          : 2;
  const std::string logName = !logged ? std::string() : o.logFile ? *o.logFile : RunLog(kind);
  const std::string setFile = WithTrailingSlash(job.Location) + job.BaseName + ".001";
  const std::string password = job.Encryption ? job.Password : std::string();

  switch (o.operation) {
    case TCliOperation::Backup:
      // --log keeps a log also for a job that asks for none.
      job.CreateLog = logged;
      try {
        ApplyBackupPage(engine, job, logName);
      } catch (const std::runtime_error& ex) {
        // A date-mode job: job files keep no date, so it cannot run unattended.
        throw ECliSetting(o.jobFile + ": " + ex.what());
      }
      // The job's "skip locked files" box answers every open and read failure.
      if (job.SkipLocks) {
        engine.HandleOpenError = AW_IGNORE;
        engine.HandleFileReadError = AW_IGNORE;
      }
      break;
    case TCliOperation::Restore: {
      TRestorePage page;
      page.SetFile = setFile;
      page.FromTape = job.ToTape;
      page.Password = password;
      page.Selection = o.includes.empty() ? TStrings{"*"} : o.includes;
      page.Mode = o.restoreMode ? static_cast<int>(*o.restoreMode) : 0;
      page.ToOriginal = false;
      page.Location = o.restoreTo.value_or("");
      page.CreateLog = logged;
      ApplyRestorePage(engine, page, logName);
      break;
    }
    default: {
      TVerifyPage page;
      page.SetFile = setFile;
      page.FromTape = job.ToTape;
      page.Password = password;
      page.CreateLog = logged;
      ApplyVerifyPage(engine, page, logName);
      break;
    }
  }
  return warnings;
}

}  // namespace vx
