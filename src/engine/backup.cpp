// The backup operation: checks, scan, archive header and directory, the data
// of every file, the archive-attribute reset and the log summary.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <system_error>

#include "archive/errors.h"
#include "engine/vaultrex.h"
#include "platform/archive_bits.h"
#include "platform/date_time.h"
#include "platform/file_system.h"
#include "platform/locale.h"
#include "platform/paths.h"
#include "support/utils.h"

namespace vx {

namespace {

constexpr std::size_t kMaxKeyBytes = 65;
constexpr std::size_t kMinKeyBytes = 8;
constexpr std::size_t kResetReportEvery = 500;

std::filesystem::path Canonical(const std::filesystem::path& p) {
  std::error_code ec;
  auto c = std::filesystem::weakly_canonical(p, ec);
  return ec ? p.lexically_normal() : c;
}

}  // namespace

// Emptying the target folder must never delete the system's root nor a file
// this very backup is about to read (as listed, or where a link leads).
void CheckEraseTarget(const std::string& baseName, const std::vector<TDirRecord>& files) {
  std::string folder = ExtractFilePath(baseName);
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.empty()) folder = ".";
  const auto target = Canonical(folder);
  if (target == target.root_path()) throw EVX_ParameterError("Koreňový adresár nemožno vymazať");
  for (const TDirRecord& r : files) {
    const std::filesystem::path p(r.path);
    if (Canonical(p).parent_path() == target || Canonical(p.parent_path()) == target) {
      throw EVX_ParameterError("Cieľový adresár obsahuje zálohované súbory, nemožno ho vymazať");
    }
  }
}

namespace {

std::int64_t MonotonicNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct TFileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

// The settings a backup refuses before it scans; its dry run refuses the same.
void TVaultrex::CheckBackupSettings() const {
  if (EncryptData && EncryptKey.empty()) throw EVX_ParameterError("Chýba heslo!!!");
  if (IncludeNames.empty()) throw EVX_ParameterError("Súbor nebol zazálohovaný");
  if (!BackupToTape && !BackupToFTP && SpanDisks && HasFileExtension(ArchiveBaseName)) {
    throw EVX_ParameterError("Meno súboru zálohy musí byť uvedené bez koncovky");
  }
  if (VerifyDuringBackup && BackupToTape) {
    throw EVX_ParameterError("Nemožno verifikovať súbor počas zápisu na pásku");
  }
  if (EncryptData && EncryptKey.size() < kMinKeyBytes) {
    throw EVX_WrongPassword("Heslo je krátke (min. 8 znakov)");
  }
  // A longer key would make the cipher fall back to its unkeyed tables:
  // the set would look encrypted while anyone could read it.
  if (EncryptData && EncryptKey.size() > kMaxKeyBytes) {
    throw EVX_WrongPassword("Heslo je dlhé (max. 65 znakov)");
  }
}

int TVaultrex::Backup() {
  PrepareCipher();
  errors_ = 0;
  warnings_ = 0;
  verifyFailed_ = false;
  outcomes_.clear();
  lastFailure_.clear();
  startNs_ = MonotonicNs();
  startTime_ = 0.0;

  // The stream and the log are freed on every path out of the operation.
  struct TCleanup {
    TVaultrex& v;
    ~TCleanup() {
      v.stream_.reset();
      v.CloseLog();
    }
  } cleanup{*this};
  stream_.reset();

  int insertLine = 0;
  OpenLog(insertLine);  // a log that cannot be opened ends the run with its own exception

  int code = 0;
  std::exception_ptr foreign;
  try {
    CheckBackupSettings();
    if (!SpanDisks) MaxSplitSize = 0;

    // The archive-bit store is opened once for the run: the scan reads it,
    // the reset pass writes it.
    std::unique_ptr<TArchiveBitStore> ownBits;
    if (!ArchiveBits) ownBits = TArchiveBitStore::OpenDefault();
    TArchiveBitStore& bits = ArchiveBits ? *ArchiveBits : *ownBits;
    ScanFiles(bits);

    if (!fileList_.empty()) {
      const std::string baseName = IncludeBackslash(BackupDestination) + ArchiveBaseName;
      if (EraseTargetDir && !BackupToTape && !BackupToFTP) CheckEraseTarget(baseName, fileList_);
      if (SpanDisks && AskForFirstDisk) {
        TReaction answer = scanAnswer_;
        AskForDisk(1, answer);
        if (answer == AW_ABORT) throw EVX_UserAbortion("Prerušené užívateľom");
      }
      stream_ = OpenStream(TStreamMode::Write, baseName, MaxSplitSize);
      WriteArchiveHeader();
      WriteDirectory(fileList_);
      TBackupDataPass(*this, TDataPassTarget{fileList_, outcomes_, *stream_, errors_, warnings_,
                                             verifyFailed_, LogFileMode != LFM_NoLog,
                                             [this](const std::string& line) { WriteLog(line); },
                                             [this] { LetMessagesRun(); },
                                             [this](const TExtBackupStatistic& stat) {
                                               return ReportStatistic(stat);
                                             }})
          .Run();
      // The archive is complete on its medium before any attribute is
      // reset: a failure writing the last block must not mark files as
      // backed up.  The stream object stays for its statistics.
      if (BackupToTape && EjectTape && stream_->Destination()) stream_->Destination()->Unload();
      stream_->Close();
      if (!KeepArchiveFlags && (BackupMode == BM_Full || BackupMode == BM_Incremental)) {
        ResetArchiveAttributes(bits);
      }
    }
    if (LogFileMode != LFM_NoLog) WriteBackupSummary(insertLine);
    // The set is complete, but a file in it did not pass its check.
    if (verifyFailed_) throw EVX_VerificationFailed("Chyba pri verifikácii súboru");
  } catch (const EVX_Error& e) {
    code = ResultCodeOf(e, {TFurther::UserAbortion, TFurther::VerificationFailed,
                            TFurther::WrongMedium, TFurther::WrongPassword, TFurther::FTP});
    lastFailure_ = e.what();
    if (code == 99) foreign = std::current_exception();  // a class backup does not expect
  } catch (const EArchiveStore& e) {
    code = 99;
    foreign = std::current_exception();
    WriteLog(std::string("Chyba evidencie archívnych atribútov: ") + e.what());
  } catch (...) {
    code = 99;
    foreign = std::current_exception();
  }

  if (code != 0) {
    if (stream_) {
      try {
        if (BackupToTape && EjectTape && stream_->Destination()) stream_->Destination()->Unload();
      } catch (...) {
      }
      // On disk the partial set is removed and an older set of the same
      // name stays; a tape or FTP stream writes its pending block.
      stream_->Abandon();
      stream_.reset();
    }
    try {
      // A refused setting says which check refused it.
      const bool refused = (code == 1 || code == 14) && !lastFailure_.empty();
      WriteLog("Prerušenie zálohovania spôsobené " + ErrorText(code) +
               (refused ? ": " + lastFailure_ : std::string()));
    } catch (...) {
    }
    CloseLog();
    if (foreign) std::rethrow_exception(foreign);
  }
  return code;
}

void TVaultrex::WriteArchiveHeader() {
  TArchiveHeader header;
  header.compressed = CompressData != CDM_NoCompression;
  header.encrypted = EncryptData;
  header.spanned = SpanDisks;
  header.comment = CutStoredString(Comment);
  std::uint8_t bytes[kHeaderSize];
  EncodeHeader(header, bytes);
  stream_->WriteBytes(bytes, kHeaderSize);
  startNs_ = MonotonicNs();
  startTime_ = NowDateTime();
  if (VerifyDuringBackup) stream_->Statistic.BytesVerified += kHeaderSize;
}

void TVaultrex::WriteDirectory(const std::vector<TDirRecord>& records) {
  std::uint8_t count[kCountSize];
  EncodeCount(static_cast<std::int32_t>(records.size()), count);
  stream_->WriteBytes(count, kCountSize);
  std::int64_t total = 0;
  std::uint8_t bytes[kRecordSize];
  for (const TDirRecord& r : records) {
    EncodeRecord(r, bytes);
    stream_->WriteBytes(bytes, kRecordSize);
    total += r.fullSize;
  }
  stream_->Statistic.TotalBytes = total;
}

// Clears the archive attribute of every file stored whole in this run, in
// one transaction of the archive-bit store.  A file whose open or read was
// skipped, or whose verification failed, keeps it for the next backup.
void TVaultrex::ResetArchiveAttributes(TArchiveBitStore& store) {
  std::unique_ptr<std::FILE, TFileCloser> debug;
  if (DebugAttrib) {
    debug.reset(std::fopen("VABIT.TXT", "w"));
    if (!debug) throw std::runtime_error("Nemožno vytvoriť súbor VABIT.TXT");
  }
  // The reset reports through a copy, so that the summary still counts
  // the files really backed up.
  TExtBackupStatistic stat = stream_ ? stream_->Statistic : TExtBackupStatistic{};
  const std::size_t n = fileList_.size();

  store.BeginBatch();
  bool cancelled = false;
  try {
    for (std::size_t i = 0; i < n && !cancelled; ++i) {
      const TDirRecord& r = fileList_[i];
      if (OnResetAttributes && i % kResetReportEvery == 0) {
        stat.PercentDone = static_cast<std::int32_t>(
            std::nearbyint(static_cast<double>(i + 1) * 100.0 / static_cast<double>(n)));
        stat.FilesDone = static_cast<std::int32_t>(i);
        stat.CurrentFile = r.path;
        bool cancel = false;
        OnResetAttributes(stat, cancel);
        if (cancel) {
          cancelled = true;
          break;
        }
        LetMessagesRun();
      }
      TFileStamp now;
      const bool readable = GetFileStamp(r.path, now);
      if (debug) std::fprintf(debug.get(), "%s\n", r.path.c_str());
      if (readable && i < outcomes_.size() && outcomes_[i].stored && store.IsSet(r.path, now)) {
        store.Clear(r.path, outcomes_[i].stamp);
      }
    }
    // What was cleared before a cancel was really backed up: keep it.
    store.CommitBatch();
  } catch (...) {
    try {
      store.RollbackBatch();
    } catch (...) {
    }
    throw;
  }
  if (cancelled) throw EVX_UserAbortion("User cancelled during resetting files attributes");
}

void TVaultrex::WriteBackupSummary(int insertLine) {
  if (!log_) return;
  const TExtBackupStatistic stat = stream_ ? stream_->Statistic : TExtBackupStatistic{};
  log_->InsertAt(insertLine + 1);  // keeps the insertLine lines of older runs

  const double start = startTime_ != 0.0 ? startTime_ : NowDateTime();
  if (BackupToTape) {
    WriteLog("Start zálohovania na pásku o " + FormatDateTimeC(start));
  } else {
    WriteLog("Start backup to " + IncludeBackslash(BackupDestination) + ArchiveBaseName + " at " +
             FormatDateTimeC(start));
  }
  switch (BackupMode) {
    case BM_Full: WriteLog("Plné zálohovanie ukončené"); break;
    case BM_Incremental: WriteLog("Incrementálne zálohovanie ukončené"); break;
    case BM_Differential: WriteLog("Rozdielové zálohovanie ukončené"); break;
    case BM_Special:
      WriteLog("Špecialne zálohovanie (súbory novšie ako " + FormatDateTimeC(SpecialBackupDate) +
               ")");
      break;
  }
  if (VerifyDuringBackup) WriteLog("Overenie súboru počas zálohovania");
  WriteLog("Zálohovanie ukončené " + FormatDateTimeC(NowDateTime()));
  if (errors_ == 0) {
    WriteLog("Žiadna chyba počas zálohovania");
  } else {
    WriteLog("Chyba počas zálohovania: " + std::to_string(errors_));
  }
  if (warnings_ > 0) WriteLog("Upozornenia počas zálohy: " + std::to_string(warnings_));
  if (BackupMode == BM_Full) {
    WriteLog("Zálohované " + std::to_string(stat.FilesDone) + " súbory");
  } else {
    WriteLog("Najdené " + std::to_string(stat.FilesDone + leftOut_) + " súbory pre zálohovanie " +
             std::to_string(leftOut_) + " zostali neuložené");
  }
  WriteLog(FormatSize64(stat.BytesRead) + " prečítané");
  WriteLog(FormatSize64(stat.BytesWritten) + " zapísané");
  if (CompressData != CDM_NoCompression && stat.BytesRead > 0 && stat.BytesWritten > 0) {
    if (stat.BytesRead > stat.BytesWritten) {
      WriteLog("Kompresia : 1:" + FormatFloat(4, 1,
                                              static_cast<double>(stat.BytesRead) /
                                                  static_cast<double>(stat.BytesWritten)));
    } else {
      WriteLog("Kompresia : 1:1 (bez kompresie)");
    }
  } else {
    WriteLog("Bez kompresie");
  }
  // A monotonic clock in nanoseconds; a run within one tick counts as 1 ns.
  const std::int64_t elapsed = std::max<std::int64_t>(MonotonicNs() - startNs_, 1);
  const double perMinute = std::nearbyint(static_cast<double>(stat.BytesRead) * 60e9 /
                                          static_cast<double>(elapsed));
  const auto rate = perMinute >= 9.2e18 ? std::numeric_limits<std::int64_t>::max()
                                        : static_cast<std::int64_t>(perMinute);
  WriteLog("Backed up at " + FormatSize64(rate) + " per Minute");
}

}  // namespace vx
