// The locks that keep two runs on one set apart, and the erase step's rules.
#include <memory>
#include <utility>

#include "archive/errors.h"
#include "engine/texts.h"
#include "engine/vaultrex.h"
#include "platform/hooks.h"
#include "platform/paths.h"
#include "support/path_names.h"
#include "support/utils.h"

namespace vx {
namespace {

// The folder the program keeps its state in (the archive-bit store's).
std::string StateFolder() { return ExtractFilePath(TArchiveBitStore::DefaultPath()); }

TFileLock Take(const std::string& lockFile, TLockKind kind, int seconds, const std::string& what,
               std::string& failure) {
  TLockWait wait;
  wait.seconds = seconds;
  wait.stop = [] { return StopRequested(); };
  TLockAttempt attempt = LockFileWaiting(lockFile, kind, wait);
  switch (attempt.outcome) {
    case TLockOutcome::Locked:
      return std::move(attempt.lock);
    case TLockOutcome::Busy:
      failure = engine_txt::kSetInUse1 + what + engine_txt::kSetInUse2;
      throw EVX_SetInUse(failure);
    case TLockOutcome::Stopped:
      throw EVX_UserAbortion(engine_txt::kAborted);
    case TLockOutcome::NoLockFile:
      break;
  }
  return {};
}

}  // namespace

TFileLock TVaultrex::LockSet(TLockKind kind) {
  std::string lockFile;
  std::string what;
  if (BackupToTape) {
    // The first tape drive, whatever set is on it.
    what = "tape";
    lockFile = DestinationLockFileName(StateFolder(), "tape");
  } else if (BackupToFTP) {
    const std::string name = SpanDisks ? RemoveFileExt(ArchiveBaseName) : ArchiveBaseName;
    what = "ftp://" + FTPConnection.HostName + ":" + std::to_string(FTPConnection.Port) + "/" +
           BackupDestination + "/" + name;
    lockFile = DestinationLockFileName(StateFolder(), what);
  } else {
    what = IncludeBackslash(BackupDestination) + ArchiveBaseName;
    lockFile = SetLockFileName(what);
  }
  if (BackupToTape || BackupToFTP) ForceDirectories(ExtractFilePath(lockFile));
  return Take(lockFile, kind, LockWaitSeconds, what, lastFailure_);
}

TFileLock TVaultrex::LockArchiveBits(const TArchiveBitStore& store) {
  if (store.path().empty() || store.path() == ":memory:") return {};
  return Take(store.path() + ".lock", TLockKind::Exclusive, LockWaitSeconds, store.path(),
              lastFailure_);
}

TEraseRules TVaultrex::EraseRules() {
  TEraseRules rules;
  if (LogFileMode != LFM_NoLog && !LogFileName.empty()) rules.keepPaths.push_back(LogFileName);
  rules.logMarks = {engine_txt::kStartDisk,    engine_txt::kStartTape,
                    engine_txt::kRestoreStart, engine_txt::kRestoreStartTape,
                    engine_txt::kVerifyStart,  engine_txt::kVerifyStartTape};
  rules.deleted = [this](const std::string& path) { WriteLog(engine_txt::kErased + path); };
  // One warning for the run, however many volumes find the files again.
  rules.kept = [this, warned = std::make_shared<bool>(false)](const TEraseListing& listing) {
    if (std::exchange(*warned, true)) return;
    ++warnings_;
    WriteLog(engine_txt::kWarning + listing.folder +
             (listing.homeFolder ? std::string(engine_txt::kEraseHome)
                                 : engine_txt::kEraseKept1 + std::to_string(listing.kept.size()) +
                                       engine_txt::kEraseKept2));
  };
  return rules;
}

}  // namespace vx
