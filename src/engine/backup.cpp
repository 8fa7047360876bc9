// The backup run: checks, scan, archive header and directory, the data of
// every file, and the way out of a failed run.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>

#include "archive/erase_target.h"
#include "archive/errors.h"
#include "archive/format.h"
#include "engine/backup_run.h"
#include "engine/metadata.h"
#include "engine/texts.h"
#include "engine/vaultrex.h"
#include "platform/archive_bits.h"
#include "platform/date_time.h"
#include "platform/mount_points.h"
#include "platform/paths.h"
#include "platform/set_lock.h"
#include "support/utils.h"

namespace vx {

namespace {

constexpr std::size_t kMaxKeyBytes = 65;
constexpr std::size_t kMinKeyBytes = 8;

// Codes a backup reports besides the common ones.
constexpr int kBackupCodes[] = {EVX_UserAbortion::kCode, EVX_VerificationFailed::kCode,
                                EVX_WrongMedium::kCode,  EVX_WrongPassword::kCode,
                                EVX_FTPError::kCode,     kMarksNotStoredCode};

std::filesystem::path Canonical(const std::filesystem::path& p) {
  std::error_code ec;
  auto c = std::filesystem::weakly_canonical(p, ec);
  return ec ? p.lexically_normal() : c;
}

std::int64_t MonotonicNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

// Emptying the target folder must never delete the system's root nor a file
// this very backup is about to read (as listed, or where a link leads).
void CheckEraseTarget(const std::string& baseName, const std::vector<TDirRecord>& files) {
  std::string folder = ExtractFilePath(baseName);
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.empty()) folder = ".";
  const auto target = Canonical(folder);
  if (target == target.root_path()) throw EVX_ParameterError(engine_txt::kEraseRoot);
  for (const TDirRecord& r : files) {
    const std::filesystem::path p(r.path);
    if (Canonical(p).parent_path() == target || Canonical(p.parent_path()) == target) {
      throw EVX_ParameterError(engine_txt::kEraseSources);
    }
  }
}

void CheckBackupSettings(const TVaultrex& s) {
  if (s.EncryptData && s.EncryptKey.empty()) throw EVX_ParameterError(engine_txt::kNoPassword);
  if (s.IncludeNames.empty()) throw EVX_ParameterError(engine_txt::kNoIncludes);
  if (!s.BackupToTape && !s.BackupToFTP && s.SpanDisks && HasFileExtension(s.ArchiveBaseName)) {
    throw EVX_ParameterError(engine_txt::kSpanExtension);
  }
  if (s.VerifyDuringBackup && s.BackupToTape) throw EVX_ParameterError(engine_txt::kVerifyOnTape);
  if (s.EncryptData && s.EncryptKey.size() < kMinKeyBytes) {
    throw EVX_WrongPassword(engine_txt::kPasswordShort);
  }
  // A longer key would make the cipher fall back to its unkeyed tables:
  // the set would look encrypted while anyone could read it.
  if (s.EncryptData && s.EncryptKey.size() > kMaxKeyBytes) {
    throw EVX_WrongPassword(engine_txt::kPasswordLong);
  }
}

TBackupRun::TBackupRun(TVaultrex& engine)
    : engine_(engine), frame_(engine, {kBackupCodes, TForeignPolicy::RethrowUnmapped}) {}

// The stream goes before the log: a destination may still log as it closes.
TBackupRun::~TBackupRun() { stream_.reset(); }

int TBackupRun::Run() {
  frame_.ResetCounters();
  engine_.lastFailure_.clear();
  startNs_ = MonotonicNs();
  frame_.OpenLog();  // a log that cannot be opened ends the run with its own exception
  int code = frame_.Run([this] { Body(); });
  if (code != 0) {
    if (!foreignFailure_) engine_.lastFailure_ = frame_.Failure();
    Abandon();
    LogFailure(code);
  } else if (engine_.notTaken_ > 0) {
    // The set is complete, but without some items of the selection.
    code = kPartialCode;
  }
  stream_.reset();
  return frame_.Finish(code);
}

// Marks a failure that is no engine error (it leaves the operation as it
// is); a failing archive-bit store also says so in the log.
void TBackupRun::Body() {
  try {
    Steps();
  } catch (const EVX_Error&) {
    throw;
  } catch (const EArchiveStore& e) {
    foreignFailure_ = true;
    frame_.Log(engine_txt::kArchiveStoreFailed + std::string(e.what()));
    throw;
  } catch (...) {
    foreignFailure_ = true;
    throw;
  }
}

void TBackupRun::Steps() {
  CheckBackupSettings(engine_);
  if (!engine_.SpanDisks) engine_.MaxSplitSize = 0;
  TVaultrex& v = engine_;
  // A missing folder is created only where it cannot fill the wrong disk.
  if (!v.BackupToTape && !v.BackupToFTP) {
    const std::string folder =
        ExtractFilePath(IncludeBackslash(v.BackupDestination) + v.ArchiveBaseName);
    const std::string refusal = PrepareDestinationFolder(folder, v.CreateDestination);
    if (!refusal.empty()) throw EVX_CreateStreamError(refusal);
  }
  // One writer per set, from before the scan to the last reset mark.
  setLock_ = v.LockSet(TLockKind::Exclusive);
  // The archive-bit store is opened once for the run: the scan reads it,
  // the reset pass writes it.
  std::unique_ptr<TArchiveBitStore> ownBits;
  if (!engine_.ArchiveBits) ownBits = TArchiveBitStore::OpenDefault();
  TArchiveBitStore& bits = engine_.ArchiveBits ? *engine_.ArchiveBits : *ownBits;
  // A run that resets marks scans and resets them alone: another one in
  // between would mark as backed up a file changed after this scan.
  if (!v.KeepArchiveFlags && (v.BackupMode == BM_Full || v.BackupMode == BM_Incremental))
    bitsLock_ = v.LockArchiveBits(bits);
  engine_.ScanFiles(bits);
  if (!engine_.fileList_.empty()) WriteSet(bits);
  for (const TDataOutcome& outcome : outcomes_) {
    if (outcome.loss != TDataOutcome::TLoss::None) ++engine_.notTaken_;
  }
  if (engine_.LogFileMode != LFM_NoLog) WriteSummary();
  // The set is complete, but a file in it did not pass its check.
  if (verifyFailed_) throw EVX_VerificationFailed(engine_txt::kBackupVerifyFailed);
}

void TBackupRun::WriteSet(TArchiveBitStore& bits) {
  TVaultrex& v = engine_;
  const std::string baseName = IncludeBackslash(v.BackupDestination) + v.ArchiveBaseName;
  if (v.EraseTargetDir && !v.BackupToTape && !v.BackupToFTP)
    CheckEraseTarget(baseName, v.fileList_);
  if (v.SpanDisks && v.AskForFirstDisk) {
    TReaction answer = v.scanAnswer_;
    v.AskForDisk(1, answer);
    if (answer == AW_ABORT) throw EVX_UserAbortion(engine_txt::kAborted);
  }
  stream_ = v.OpenStream(TStreamMode::Write, baseName, v.MaxSplitSize);
  for (const std::string& name : stream_->Leftovers())
    frame_.Log(engine_txt::kLeftoverRemoved + name);
  if (stream_->VolumeCap() > 0) {
    frame_.Log(engine_txt::kFatVolumes1 +
               std::to_string(stream_->VolumeCap() + kVolumeTrailerSize) +
               engine_txt::kFatVolumes2);
  }
  if (v.StoreMetadata) {
    const TMetaTable table = BuildMetaTable(v.fileList_, v.scanExtras_, v.StoreXattrs);
    metaBytes_ = EncodeMetaTable(table);
    metaRecord_.path = kMetaTablePath;
    metaRecord_.fullSize = static_cast<std::int64_t>(metaBytes_.size());
    metaRecord_.size = static_cast<std::int32_t>(metaBytes_.size());
    metaRecord_.crc = v.NoFileCRCs ? 0 : CrcUpdate(kCrcInit, metaBytes_.data(), metaBytes_.size());
    // The newest time the table holds: the same files give the same set.
    std::int64_t newest = 0;
    for (const TMetaEntry& e : table.entries) newest = std::max(newest, e.mtimeNs);
    metaRecord_.time = DosToDateTime(UnixToDos(newest / 1'000'000'000));
  }
  WriteArchiveHeader();
  WriteDirectory();
  TBackupDataPass pass(
      v, TDataPassTarget{
             v.fileList_, outcomes_, *stream_, v.errors_, v.warnings_, verifyFailed_,
             v.LogFileMode != LFM_NoLog, [this](const std::string& line) { frame_.Log(line); },
             [&v] { v.LetMessagesRun(); },
             [&v](const TExtBackupStatistic& stat) { return v.ReportStatistic(stat); }});
  // The scan's checksum helpers and the packing threads are started by now.
  frame_.NoteRefusedThreads();
  pass.Run();
  if (v.StoreMetadata) pass.StoreExtra(metaBytes_);
  // The archive is complete on its medium before any attribute is reset: a
  // failure writing the last block must not mark files as backed up.  First
  // every byte is made durable under the temporary names, then the set takes
  // its name (the point of no return), then the marks are reset: a run
  // ending between the two leaves a new set and marks still set, so the
  // next incremental takes those files again; the other order could clear
  // marks of files no committed set holds.  The stream object stays for its
  // statistics.
  if (v.BackupToTape && v.EjectTape && stream_->Destination()) stream_->Destination()->Unload();
  stream_->Finish();
  stream_->Commit();
  if (!v.KeepArchiveFlags && (v.BackupMode == BM_Full || v.BackupMode == BM_Incremental)) {
    try {
      ResetArchiveAttributes(bits);
    } catch (const std::exception& e) {
      frame_.Log(engine_txt::kArchiveStoreFailed + std::string(e.what()));
      frame_.Log(engine_txt::kMarksNotStored);
      throw EVX_Error(engine_txt::kMarksNotStored, kMarksNotStoredCode);
    }
  }
}

void TBackupRun::WriteArchiveHeader() {
  TArchiveHeader header;
  header.compressed = engine_.CompressData != CDM_NoCompression;
  header.encrypted = engine_.EncryptData;
  header.spanned = engine_.SpanDisks;
  header.comment = CutStoredString(engine_.Comment);
  std::uint8_t bytes[kHeaderSize];
  EncodeHeader(header, bytes);
  stream_->WriteBytes(bytes, kHeaderSize);
  startNs_ = MonotonicNs();
  startTime_ = NowDateTime();
  if (engine_.VerifyDuringBackup) stream_->Statistic.BytesVerified += kHeaderSize;
}

void TBackupRun::WriteDirectory() {
  const std::vector<TDirRecord>& records = engine_.fileList_;
  std::uint8_t count[kCountSize];
  const bool meta = !metaRecord_.path.empty();
  EncodeCount(static_cast<std::int32_t>(records.size() + (meta ? 1 : 0)), count);
  stream_->WriteBytes(count, kCountSize);
  std::int64_t total = 0;
  std::uint8_t bytes[kRecordSize];
  for (const TDirRecord& r : records) {
    EncodeRecord(r, bytes);
    stream_->WriteBytes(bytes, kRecordSize);
    total += r.fullSize;
  }
  // The metadata table comes last: a reader that does not know it finds
  // every file where it always was.
  if (meta) {
    EncodeRecord(metaRecord_, bytes);
    stream_->WriteBytes(bytes, kRecordSize);
  }
  stream_->Statistic.TotalBytes = total;
}

// On disk the partial set is removed and an older set of the same name
// stays; a tape or FTP stream writes its pending block.
void TBackupRun::Abandon() noexcept {
  if (!stream_) return;
  try {
    if (engine_.BackupToTape && engine_.EjectTape && stream_->Destination()) {
      stream_->Destination()->Unload();
    }
  } catch (...) {
  }
  stream_->Abandon();
  stream_.reset();
}

// A refused setting says which check refused it.
void TBackupRun::LogFailure(int code) noexcept {
  try {
    const std::string& failure = engine_.lastFailure_;
    // A write error that names its file and reason (a file-size limit) says
    // them too.
    const bool refused =
        ((code == EVX_ParameterError::kCode || code == EVX_WrongPassword::kCode) &&
         !failure.empty()) ||
        (code == EVX_BackupWriteError::kCode && failure.find(": ") != std::string::npos);
    frame_.Log(engine_txt::kBackupEndedBy + TVaultrex::ErrorText(code) +
               (refused ? ": " + failure : std::string()));
  } catch (...) {
  }
}

int TVaultrex::Backup() { return TBackupRun(*this).Run(); }

void TVaultrex::PreviewBackup(std::vector<std::string>& erased) {
  errors_ = 0;
  warnings_ = 0;
  erased.clear();
  CheckBackupSettings(*this);
  // The real run refuses a destination folder it may not create or use.
  if (!BackupToTape && !BackupToFTP) {
    const std::string refusal = DestinationRefusal(
        ExtractFilePath(IncludeBackslash(BackupDestination) + ArchiveBaseName), CreateDestination);
    if (!refusal.empty()) throw EVX_CreateStreamError(refusal);
  }
  const std::unique_ptr<TArchiveBitStore> own =
      ArchiveBits ? nullptr : TArchiveBitStore::OpenDefault();
  ScanFiles(ArchiveBits ? *ArchiveBits : *own);
  if (fileList_.empty() || !EraseTargetDir || BackupToTape || BackupToFTP) return;
  // The real run refuses to empty a folder it reads from.
  CheckEraseTarget(IncludeBackslash(BackupDestination) + ArchiveBaseName, fileList_);
  // The same list the stream's erase step makes (the running log is kept).
  const TEraseListing listing =
      ListErasable(IncludeBackslash(BackupDestination) + ArchiveBaseName, EraseRules(), nullptr);
  for (const std::string& name : listing.names) erased.push_back(listing.folder + "/" + name);
  if (!listing.kept.empty() || listing.homeFolder) ++warnings_;
}

}  // namespace vx
