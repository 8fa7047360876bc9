// Restore.  A file already on disk is never truncated for data that then
// fail; data that changed during their backup never replace a file.
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <string>

#include "archive/errors.h"
#include "engine/metadata.h"
#include "engine/restore_run.h"
#include "engine/stored_check.h"
#include "engine/texts.h"
#include "platform/date_time.h"
#include "platform/file_system.h"
#include "platform/locale.h"
#include "support/path_names.h"
#include "support/strings.h"
#include "support/utils.h"

namespace vx {

namespace {

constexpr int kRestoreCodes[] = {EVX_FileWriteError::kCode, EVX_UserAbortion::kCode,
                                 EVX_WrongMedium::kCode, EVX_WrongPassword::kCode,
                                 EVX_FTPError::kCode};

std::string Now() { return FormatDateTimeC(NowDateTime()); }

// "Chyba I/O  (#<errno>) počas vytvárania dočasného súboru: <reason>"
std::string IoError(int err) {
  return engine_txt::kIoErrorOpen + std::to_string(err) + engine_txt::kIoErrorClose +
         engine_txt::kCannotCreate + (err != 0 ? ": " + SystemReason(err) : std::string());
}

}  // namespace

TRestoreRun::TRestoreRun(TVaultrex& engine)
    : engine_(engine), frame_(engine, {kRestoreCodes, TForeignPolicy::RethrowNonEngine}) {}

int TRestoreRun::Run() {
  frame_.ResetCounters();
  int result = frame_.Run([this] {
    frame_.OpenLog();
    LogStart();
    Body();
  });
  set_.reset();
  // A selected file that did not come back whole fails the run.
  if (result == 0 && frame_.Errors() > 0) result = targetDiskFull_ ? 2 : 9;
  // Metadata that could not be applied: the files are there, not all as
  // they were.
  if (result == 0 && metaWarnings_ > 0) result = kPartialCode;
  frame_.LogEnd(result, engine_txt::kRestoreDone + Now());
  return frame_.Finish(result);
}

void TRestoreRun::LogStart() const {
  if (engine_.BackupToTape)
    frame_.Log(engine_txt::kRestoreStartTape + Now());
  else
    frame_.Log(engine_txt::kRestoreStart + engine_.BackupDestination + "  " + Now());
  if (engine_.RedirectRestore)
    frame_.Log(engine_txt::kRestoreToBefore + engine_.RestoreTo + engine_txt::kRestoreToAfter);
  else
    frame_.Log(engine_txt::kRestoreInPlace);
  frame_.Log("");
}

void TRestoreRun::Body() {
  if (engine_.RedirectRestore && engine_.RestoreTo.empty())
    throw EVX_ParameterError(engine_txt::kRestoreNoTarget);
  CheckReadSettings(engine_, {.noPlace = engine_txt::kRestoreNoPlace,
                              .noPassword = engine_txt::kRestoreNoPassword,
                              .extension = engine_txt::kRestoreExtension,
                              .shortPassword = engine_txt::kShortPassword});
  set_ = std::make_unique<TReadSet>(engine_);
  set_->Open({engine_txt::kRestoreCutHeader, engine_txt::kRestoreForeign});
  set_->ReadDirectory(engine_.fileList_);
  set_->CheckPassword(engine_.fileList_, engine_txt::kRestoreNoPassword);
  engine_.Comment = set_->Header().comment;
  applyMeta_ = engine_.StoreMetadata && !engine_.fileList_.empty() &&
               IsMetaTableRecord(engine_.fileList_.back());
  restored_.assign(applyMeta_ ? engine_.fileList_.size() : 0, std::string());
  TExtBackupStatistic& stat = set_->Stream().Statistic;
  TOperationFrame::ResetStatistic(stat, MarkSelection());
  engine_.RestoreTo = WithTrailingSlash(engine_.RestoreTo);
  folders_ =
      std::make_unique<TTargetFolders>(engine_.RedirectRestore ? engine_.RestoreTo : std::string());
  tape_ = set_->Stream().IsTape();
  // With a metadata table every file is created private and gets its own
  // mode from the table once the run has written it.
  newMode_ = applyMeta_ ? (NewFileMode() & 0600u) : NewFileMode();
  frame_.StartBlockReports(stat);
  if (engine_.ThreadsWanted() > 1) {
    writes_ = std::make_unique<TWriteBehind>(*folders_, newMode_,
                                             [this](TWriteJob& job) { Written(job); });
    // Not one writer to be had: every file is written on this thread.
    if (writes_->Writers() == 0) writes_.reset();
  }
  frame_.NoteRefusedThreads();
  try {
    for (const TDirRecord& r : engine_.fileList_) Treat(r);
    DrainWrites();
  } catch (...) {
    // What was handed over is written and reported before the run ends.
    DrainWrites();
    throw;
  }
  writes_.reset();
  FlushRestored();
  for (const std::string& path : folders_->TakeLeftoversRemoved())
    frame_.Log(engine_txt::kRestoreLeftover + path);
  if (tape_ && engine_.EjectTape) set_->Stream().Destination()->Unload();
  set_->Close();
}

void TRestoreRun::FlushRestored() {
  // The run reports its files restored only once they are on the disk, with
  // their folders: one flush per file system written to, not one per file.
  const int err = folders_->Flush();
  if (err == 0) return;
  NoteDiskFull(err);
  frame_.CountError();
  frame_.Log(engine_txt::kSyncFailedOpen + std::to_string(err) + engine_txt::kSyncFailedClose);
}

std::int64_t TRestoreRun::MarkSelection() {
  std::int64_t total = 0;
  for (TDirRecord& r : engine_.fileList_) {
    // The metadata table is never restored as a file.
    r.mark = !IsMetaTableRecord(r) && engine_.SelectedForRestore(r.path) ? 0 : 1;
    if (r.mark == 0) total += r.fullSize;
  }
  return total;
}

void TRestoreRun::Treat(const TDirRecord& r) {
  fileBytes_ = -1;
  if (applyMeta_ && &r == &engine_.fileList_.back()) {
    ApplyMetadata(r);
    return;
  }
  if (r.mark == 1) {
    PassOver(r);
    return;
  }
  TVaultrex::TRestorePlan plan = engine_.PlanRestore(r, false);
  if (writes_ && plan.restore && writes_->Holds(plan.target)) {
    // The same target again: it is looked at once the first one is there.
    writes_->Drain();
    plan = engine_.PlanRestore(r, false);
  }
  std::string twin;
  if (plan.restore && !(twin = CaseTwin(plan.target)).empty()) {
    plan.restore = false;
    plan.refusal = engine_txt::kCaseTwin + twin;
  }
  if (!plan.restore) {
    if (!plan.refusal.empty()) Failed(r, engine_txt::kRestoreErrorOpen, plan.refusal);
    PassOver(r);
  } else {
    Guarded(r, [&] { RestoreFile(r, plan); });
  }
  frame_.FileRead(r, fileBytes_);
}

void TRestoreRun::Guarded(const TDirRecord& r, const std::function<void()>& restore) {
  try {
    restore();
  } catch (const EVX_CRCError& e) {
    Failed(r, engine_txt::kRestoreCrcErrorOpen, e.what());
  } catch (const EVX_Error& e) {
    if (e.Code() != EVX_FileWriteError::kCode && e.Code() != EVX_BackupReadError::kCode &&
        e.Code() != EVX_ZipError::kCode)
      throw;
    Failed(r, engine_txt::kRestoreErrorOpen, e.what());
  }
}

void TRestoreRun::PassOver(const TDirRecord& r) {
  if (tape_) {
    ++skipCount_;
    return;
  }
  frame_.FileStarts(r);
  fileBytes_ = set_->Reader().ReadFile(nullptr, [this] { frame_.BlockRead(); });
}

void TRestoreRun::Failed(const TDirRecord& r, const char* open, const std::string& reason) {
  if (!inWritten_) DrainWrites();
  frame_.CountError();
  frame_.Log(open + reason + engine_txt::kRestoreErrorClose + r.path);
}

// Two stored names that differ only in letter case reach one file on a file
// system that does not tell them apart (FAT, exFAT, a case-folding folder):
// the second would silently replace the first.  Only a name whose folded
// form this run has restored before is looked at on the disk: it is a twin
// when its spelling reaches a file while its folder lists that file only
// under another spelling.  Gives that spelling's path, "" when none.
std::string TRestoreRun::CaseTwin(const std::string& target) {
  const std::string folded = LowerAscii(target);
  if (restoredNames_.insert(std::hash<std::string>{}(folded)).second) return {};
  DrainWrites();  // an earlier spelling handed over is on the disk now
  const std::size_t slash = target.rfind('/');
  const std::string folder = target.substr(0, slash + 1);
  const std::string name = target.substr(slash + 1);
  struct stat st {};
  if (::lstat(target.c_str(), &st) != 0) return {};
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.empty() ? "." : folder.c_str()),
                                                &::closedir);
  if (!dir) return {};
  const std::string foldedName = LowerAscii(name);
  std::string other;
  while (const dirent* e = ::readdir(dir.get())) {
    const std::string entry(e->d_name);
    if (entry == name) return {};  // listed as itself: a file of its own
    if (LowerAscii(entry) == foldedName) other = folder + entry;
  }
  return other;
}

void TRestoreRun::NoteDiskFull(int err) {
  if (err == ENOSPC || err == EDQUOT) targetDiskFull_ = true;
}

void TRestoreRun::RestoreFile(const TDirRecord& r, const TVaultrex::TRestorePlan& plan) {
  const std::string& target = plan.target;
  if (tape_) {
    if (skipCount_ > 0) {
      set_->Stream().Destination()->SkipFilemarks(skipCount_);
      set_->Stream().FlushToBlockEnd();
    }
    skipCount_ = 1;
  }
  using TReadOnly = TTargetFile::TReadOnly;
  const TReadOnly readOnly = !engine_.RestoreAttributes ? TReadOnly::Keep
                             : (r.attr & faReadOnly)    ? TReadOnly::Set
                                                        : TReadOnly::Clear;
  // The directory keeps the low 32 bits of the size: one of more than a
  // small file's is a large file, but a small one may stand for 4 GiB more
  // (a disk image of exactly 4 GiB says 0), which only the data tell.
  if (writes_ && static_cast<std::uint32_t>(r.size) <= TWriteBehind::kSmallFile) {
    HandOver(r, plan, readOnly);
    return;
  }
  // Reports keep the order of the files.
  DrainWrites();
  TTargetFile out;
  out.Create(target, *folders_, readOnly, newMode_);
  TExtracted got{0, kCrcInit};
  fileBytes_ = Extract(r, out, got);
  Finish(r, plan, out, got);
}

void TRestoreRun::Finish(const TDirRecord& r, const TVaultrex::TRestorePlan& plan, TTargetFile& out,
                         const TExtracted& got) {
  CheckWritten(out, out.Ready());
  CheckSize(r, got.bytes);
  const bool crcMatches = CrcMatches(r, got.crc);
  Committed(r, plan.target, out, out.Commit(r.time, MayReplace(plan, crcMatches)), crcMatches);
}

void TRestoreRun::HandOver(const TDirRecord& r, const TVaultrex::TRestorePlan& plan,
                           TTargetFile::TReadOnly readOnly) {
  frame_.FileStarts(r);
  auto job = std::make_unique<TWriteJob>();
  job->data.reserve(static_cast<std::size_t>(static_cast<std::uint32_t>(r.size)));
  TExtracted got{0, kCrcInit};
  // Set once the data outgrow a small file: the file is then written here,
  // as a large one, from what was gathered on.
  std::unique_ptr<TTargetFile> out;
  fileBytes_ = set_->Reader().ReadFile(
      [&](const std::uint8_t* raw, std::size_t n) {
        if (!out && job->data.size() + n > TWriteBehind::kSmallFile) {
          // Reports keep the order of the files.
          DrainWrites();
          out = std::make_unique<TTargetFile>();
          out->Create(plan.target, *folders_, readOnly, newMode_);
          got = {0, kCrcInit};
          if (!out->Ready() || !Put(*out, got, job->data.data(), job->data.size())) return false;
          std::vector<std::uint8_t>().swap(job->data);
        }
        if (out) return Put(*out, got, raw, n);
        job->data.insert(job->data.end(), raw, raw + n);
        got.bytes += static_cast<std::int64_t>(n);
        got.crc = CrcUpdate(got.crc, raw, n);
        return true;
      },
      [this] { frame_.BlockRead(); });
  if (out) {
    Finish(r, plan, *out, got);
    return;
  }
  CheckSize(r, got.bytes);
  const std::uint32_t crc = got.crc;
  job->record = &r;
  job->target = plan.target;
  job->readOnly = readOnly;
  job->time = r.time;
  job->crcMatches = CrcMatches(r, crc);
  job->mayReplace = MayReplace(plan, job->crcMatches);
  writes_->Push(std::move(job));
}

void TRestoreRun::Written(TWriteJob& job) {
  // Set while this file is reported (a failure then must not wait for the
  // writer from inside its own delivery), and reset however Guarded() ends,
  // so that a failure reported later still waits for the writer first.
  struct TReporting {
    bool& flag;
    explicit TReporting(bool& f) : flag(f) { flag = true; }
    ~TReporting() { flag = false; }
    TReporting(const TReporting&) = delete;
    TReporting& operator=(const TReporting&) = delete;
  } reporting(inWritten_);
  Guarded(*job.record, [&] {
    CheckWritten(job.file, job.created);
    Committed(*job.record, job.target, job.file, job.committed, job.crcMatches);
  });
}

void TRestoreRun::CheckSize(const TDirRecord& r, std::int64_t bytes) {
  if (!SizeMatches(r, bytes)) throw EVX_BackupReadError(engine_txt::kSizeDiffers);
}

bool TRestoreRun::CrcMatches(const TDirRecord& r, std::uint32_t crc) const {
  return vx::CrcMatches(r, crc, engine_.NoFileCRCs);
}

bool TRestoreRun::MayReplace(const TVaultrex::TRestorePlan& plan, bool crcMatches) const {
  // Data that changed during their backup never replace a file, but are
  // kept where nothing else stands.  A restore of everything replaces
  // whatever stands at the target; the other modes replace only a file their
  // plan found there (one that appeared since is left alone: the write fails).
  return crcMatches && (engine_.RestoreMode == RM_All || plan.exists);
}

void TRestoreRun::Committed(const TDirRecord& r, const std::string& target, const TTargetFile& out,
                            bool committed, bool crcMatches) {
  if (!committed) {
    if (!crcMatches && out.Existed()) throw EVX_CRCError(engine_txt::kCrcDiffers);
    NoteDiskFull(out.Error());
    throw EVX_FileWriteError(IoError(out.Error()));
  }
  if (engine_.RestoreAttributes) SetFileAttributes(target, r.attr);
  if (applyMeta_) restored_[static_cast<std::size_t>(&r - engine_.fileList_.data())] = target;
  if (!crcMatches) throw EVX_CRCError(engine_txt::kCrcDiffers);
  if (frame_.Logging()) frame_.Log(r.path + engine_txt::kRestoredTo + target);
}

void TRestoreRun::CheckWritten(const TTargetFile& target, bool created) {
  if (!created || target.WriteFailed()) NoteDiskFull(target.Error());
  if (!created)
    throw EVX_FileWriteError(target.LinkRefused() ? std::string(engine_txt::kForeignLink)
                                                  : IoError(target.Error()));
  if (target.WriteFailed()) throw EVX_FileWriteError(engine_txt::kWriteFailed);
}

bool TRestoreRun::Put(TTargetFile& target, TExtracted& got, const std::uint8_t* raw,
                      std::size_t n) {
  // Zeros are left holes: a restored disk image takes no more room than its
  // data.
  if (!target.WriteSparse(raw, n)) return false;
  got.bytes += static_cast<std::int64_t>(n);
  got.crc = CrcUpdate(got.crc, raw, n);
  return true;
}

// Reads one file's data blocks into target; a target that could not be
// created has its data read past.  Returns the bytes the data held.
std::int64_t TRestoreRun::Extract(const TDirRecord& r, TTargetFile& target, TExtracted& got) {
  frame_.FileStarts(r);
  TBlockTaker take;
  if (target.Ready()) {
    take = [&got, &target](const std::uint8_t* raw, std::size_t n) {
      return Put(target, got, raw, n);
    };
  }
  return set_->Reader().ReadFile(take, [this] { frame_.BlockRead(); });
}

void TRestoreRun::MetaWarning(const std::string& line) {
  ++engine_.warnings_;
  ++metaWarnings_;
  frame_.Log(line);
}

void TRestoreRun::ApplyMetadata(const TDirRecord& r) {
  // Every file before it is on the disk and reported.
  DrainWrites();
  if (tape_) {
    if (skipCount_ > 0) {
      set_->Stream().Destination()->SkipFilemarks(skipCount_);
      set_->Stream().FlushToBlockEnd();
    }
    skipCount_ = 1;
  }
  std::vector<std::uint8_t> bytes;
  std::uint32_t crc = kCrcInit;
  set_->Reader().ReadFile(
      [&bytes, &crc](const std::uint8_t* raw, std::size_t n) {
        bytes.insert(bytes.end(), raw, raw + n);
        crc = CrcUpdate(crc, raw, n);
        return true;
      },
      [this] { frame_.BlockRead(); });
  TMetaTable table;
  std::string error;
  if (!SizeMatches(r, static_cast<std::int64_t>(bytes.size())) || !CrcMatches(r, crc)) {
    error = engine_txt::kCrcDiffers;
  } else {
    DecodeMetaTable(bytes.data(), bytes.size(), engine_.fileList_.size() - 1, table, error);
  }
  if (!error.empty()) {
    MetaWarning(engine_txt::kMetaTableRefused + error);
    return;
  }
  ApplyMetaTable(table,
                 TMetaApplyTarget{
                     engine_, restored_, *folders_,
                     [this](const std::string& path, const char* what, const std::string& reason) {
                       MetaWarning(engine_txt::kWarning + path + engine_txt::kMetaNotApplied +
                                   what + ": " + reason);
                     }});
}

}  // namespace vx
