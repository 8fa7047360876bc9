// The end of a backup run: the archive-attribute reset and the log summary.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <stdexcept>

#include "archive/errors.h"
#include "engine/backup_run.h"
#include "engine/texts.h"
#include "engine/vaultrex.h"
#include "platform/archive_bits.h"
#include "platform/date_time.h"
#include "platform/locale.h"
#include "platform/paths.h"
#include "support/utils.h"

namespace vx {

namespace {

constexpr std::size_t kResetReportEvery = 500;

struct TFileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

std::int64_t MonotonicNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

// Clears the archive attribute of every file stored whole in this run, in
// one transaction of the archive-bit store, once the set has its name.  A file whose open or read
// was skipped, or whose verification failed, keeps it for the next backup.
void TBackupRun::ResetArchiveAttributes(TArchiveBitStore& store) {
  std::unique_ptr<std::FILE, TFileCloser> debug;
  if (engine_.DebugAttrib) {
    debug.reset(std::fopen("VABIT.TXT", "w"));
    if (!debug) throw std::runtime_error(engine_txt::kDebugAttribCannotCreate);
  }
  // The reset reports through a copy, so that the summary still counts the
  // files really backed up.
  TExtBackupStatistic stat = stream_ ? stream_->Statistic : TExtBackupStatistic{};
  const std::vector<TDirRecord>& files = engine_.fileList_;
  const std::size_t n = files.size();
  TArchiveBitBatch batch(store);
  for (std::size_t i = 0; i < n; ++i) {
    const TDirRecord& r = files[i];
    if (engine_.OnResetAttributes && i % kResetReportEvery == 0) {
      stat.PercentDone = static_cast<std::int32_t>(
          std::nearbyint(static_cast<double>(i + 1) * 100.0 / static_cast<double>(n)));
      stat.FilesDone = static_cast<std::int32_t>(i);
      stat.CurrentFile = r.path;
      // The set has its name already: a stop asked for now is not taken,
      // the marks go on to match the set (one short transaction) and the run
      // ends with its real result.
      bool cancel = false;
      engine_.OnResetAttributes(stat, cancel);
      engine_.LetMessagesRun();
    }
    if (debug) std::fprintf(debug.get(), "%s\n", r.path.c_str());
    // The record is the stamp the file had when it was opened for reading,
    // so a file changed since then reads as set again: no stat is needed
    // here.  A record the store holds already is not written again.
    if (i < outcomes_.size() && outcomes_[i].stored) {
      const TFileStamp& stamp = outcomes_[i].stamp;
      if (store.IsSet(r.path, stamp)) store.Clear(r.path, stamp);
    }
  }
  StreamTestPoint("marks-commit", 0);
  batch.Commit();
}

void TBackupRun::WriteSummary() {
  const TExtBackupStatistic stat = stream_ ? stream_->Statistic : TExtBackupStatistic{};
  frame_.InsertSummary();  // keeps the lines of older runs above
  LogStartAndMode();
  TVaultrex& v = engine_;
  if (v.VerifyDuringBackup) frame_.Log(engine_txt::kVerifiedDuring);
  frame_.Log(engine_txt::kBackupDone + FormatDateTimeC(NowDateTime()));
  if (v.errors_ == 0) {
    frame_.Log(engine_txt::kNoErrors);
  } else {
    frame_.Log(engine_txt::kErrorCount + std::to_string(v.errors_));
  }
  if (v.warnings_ > 0) frame_.Log(engine_txt::kWarningCount + std::to_string(v.warnings_));
  if (v.notTaken_ > 0) frame_.Log(engine_txt::kNotTakenCount + std::to_string(v.notTaken_));
  LogCounts(stat);
  // A monotonic clock in nanoseconds; a run within one tick counts as 1 ns.
  const std::int64_t elapsed = std::max<std::int64_t>(MonotonicNs() - startNs_, 1);
  const double perMinute =
      std::nearbyint(static_cast<double>(stat.BytesRead) * 60e9 / static_cast<double>(elapsed));
  const auto rate = perMinute >= 9.2e18 ? std::numeric_limits<std::int64_t>::max()
                                        : static_cast<std::int64_t>(perMinute);
  frame_.Log(engine_txt::kRate1 + FormatSize64(rate) + engine_txt::kRate2);
}

void TBackupRun::LogStartAndMode() {
  const TVaultrex& v = engine_;
  const double start = startTime_ != 0.0 ? startTime_ : NowDateTime();
  if (v.BackupToTape) {
    frame_.Log(engine_txt::kStartTape + FormatDateTimeC(start));
  } else {
    frame_.Log(engine_txt::kStartDisk + IncludeBackslash(v.BackupDestination) + v.ArchiveBaseName +
               engine_txt::kStartAt + FormatDateTimeC(start));
  }
  switch (v.BackupMode) {
    case BM_Full:
      frame_.Log(engine_txt::kFullDone);
      break;
    case BM_Incremental:
      frame_.Log(engine_txt::kIncrementalDone);
      break;
    case BM_Differential:
      frame_.Log(engine_txt::kDifferentialDone);
      break;
    case BM_Special:
      frame_.Log(engine_txt::kSpecialDone + FormatDateTimeC(v.SpecialBackupDate) + ")");
      break;
  }
}

void TBackupRun::LogCounts(const TExtBackupStatistic& stat) {
  const TVaultrex& v = engine_;
  if (v.BackupMode == BM_Full) {
    frame_.Log(engine_txt::kStoredCount + std::to_string(stat.FilesDone) + engine_txt::kFilesWord);
  } else {
    frame_.Log(engine_txt::kFoundCount + std::to_string(stat.FilesDone + v.leftOut_) +
               engine_txt::kFoundFor + std::to_string(v.leftOut_) + engine_txt::kLeftOut);
  }
  frame_.Log(FormatSize64(stat.BytesRead) + engine_txt::kBytesRead);
  frame_.Log(FormatSize64(stat.BytesWritten) + engine_txt::kBytesWritten);
  if (v.CompressData == CDM_NoCompression || stat.BytesRead <= 0 || stat.BytesWritten <= 0) {
    frame_.Log(engine_txt::kUncompressed);
  } else if (stat.BytesRead > stat.BytesWritten) {
    frame_.Log(engine_txt::kRatio + FormatFloat(4, 1,
                                                static_cast<double>(stat.BytesRead) /
                                                    static_cast<double>(stat.BytesWritten)));
  } else {
    frame_.Log(engine_txt::kRatioNone);
  }
}

}  // namespace vx
