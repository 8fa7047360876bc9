// The writing side of the backup's data pass, on the caller's thread: the
// encoded blocks taken back from the pipeline in order and put on the
// medium, and each file's end with its checks, log line and statistics.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "archive/errors.h"
#include "engine/backup_data.h"
#include "engine/texts.h"
#include "engine/vaultrex.h"

namespace vx {

namespace {

std::int32_t RoundPercent(double value) {
  return static_cast<std::int32_t>(std::nearbyint(value));  // halves to even
}

}  // namespace

// Takes back the jobs that are done, in order; with `wait`, waits for the
// oldest one first.
void TBackupDataPass::TakeBack(bool wait) {
  while (TBlockPipeline::TJob* job = pipeline_->Oldest(wait)) {
    Store(*job);
    pipeline_->Release();
    wait = false;
  }
}

void TBackupDataPass::Drain() {
  while (pipeline_->Pending()) TakeBack(true);
}

void TBackupDataPass::Store(const TBlockPipeline::TJob& job) {
  if (job.error) std::rethrow_exception(job.error);
  const TDirRecord& rec = t_.files[job.tag];
  if (job.marker) {
    const TFileEnd end = ends_.front();
    ends_.pop_front();
    if (end.whole) {
      ++taken_;
      EndFileData();
      FinishFile(rec, t_.outcomes[job.tag], end);
    }
    storedOfFile_ = 0;
    fileMatches_ = true;
    FileDone(rec);
    return;
  }
  t_.stream.WriteBytes(job.encoded.data(), job.encodedLength);
  fileMatches_ = fileMatches_ && job.matches;
  t_.letMessagesRun();
  storedOfFile_ += static_cast<std::int64_t>(job.rawLength);
  if (s_.OnNextBlock) s_.OnNextBlock(rec.path, storedOfFile_, rec.fullSize);
}

void TBackupDataPass::StoreExtra(const std::vector<std::uint8_t>& bytes) {
  Drain();
  for (std::size_t at = 0; at < bytes.size();) {
    TBlockPipeline::TJob* job = pipeline_->Free();
    const std::size_t n = std::min(kBlockSize, bytes.size() - at);
    std::memcpy(job->raw.data(), bytes.data() + at, n);
    job->rawLength = n;
    pipeline_->Submit(false, 0);
    const TBlockPipeline::TJob* done = pipeline_->Oldest(true);
    if (done->error) std::rethrow_exception(done->error);
    t_.stream.WriteBytes(done->encoded.data(), done->encodedLength);
    pipeline_->Release();
    at += n;
  }
  EndFileData();
}

// The end of a file's data; on tape it also ends the transfer block and
// writes a file mark, for skipped files too, so that every file on tape
// ends the same way.
void TBackupDataPass::EndFileData() {
  std::uint8_t end[kBlockHeaderSize];
  EncodeBlockHeader(TBlockHeader{}, end);
  t_.stream.WriteBytes(end, kBlockHeaderSize);
  if (s_.BackupToTape) {
    t_.stream.FlushToBlockEnd();
    t_.stream.WriteTapeFileMark();
  }
}

// A file read to its end and stored: whether it changed since the scan,
// whether it passed its verification, the statistics and its log line.
void TBackupDataPass::FinishFile(const TDirRecord& rec, TDataOutcome& outcome,
                                 const TFileEnd& end) {
  TExtBackupStatistic& stat = t_.stream.Statistic;
  // Changed since the scan: other content, or another size now.
  const bool changed = (!s_.NoFileCRCs && end.crc != rec.crc) || end.done != rec.fullSize ||
                       (end.sizeNow >= 0 && end.sizeNow != rec.fullSize);
  const bool passed = !s_.VerifyDuringBackup || (fileMatches_ && !changed);
  stat.BytesRead += rec.fullSize;
  if (!passed) t_.verifyFailed = true;
  if (!s_.VerifyDuringBackup) {
    stat.BytesVerified = 0;
  } else if (!t_.verifyFailed) {
    stat.BytesVerified = stat.BytesWritten;
  }
  UpdateProgress(stat);
  if (!passed) {
    ++t_.errors;
    t_.log(engine_txt::kErrorNo + std::to_string(t_.errors) + engine_txt::kErrorOnFile + rec.path +
           (fileMatches_ ? engine_txt::kNotVerifiedChanged : engine_txt::kNotVerifiedDiffers));
    return;
  }
  ++stat.FilesDone;
  if (changed) {
    // Stored as read; its checksum is the scan's, so its restore reports
    // the mismatch.  It keeps its archive attribute for the next backup.
    ++t_.warnings;
    outcome.loss = TDataOutcome::TLoss::Changed;
    t_.log(engine_txt::kWarning + rec.path + engine_txt::kChangedDuringBackup);
    return;
  }
  if (t_.logging) {
    t_.log(engine_txt::kFile + rec.path +
           (s_.VerifyDuringBackup ? engine_txt::kStoredVerified : engine_txt::kStored));
  }
  outcome.stored = true;
}

void TBackupDataPass::UpdateProgress(TExtBackupStatistic& stat) const {
  if (stat.TotalBytes > 0) {
    stat.PercentDone = RoundPercent(static_cast<double>(stat.BytesRead) * 100.0 /
                                    static_cast<double>(stat.TotalBytes));
  } else {
    stat.PercentDone = RoundPercent(static_cast<double>(stat.FilesDone) * 100.0 /
                                    static_cast<double>(t_.files.size()));
  }
}

// After each file, stored or not: the statistics event, whose answer may
// end the backup.
void TBackupDataPass::FileDone(const TDirRecord& rec) {
  TExtBackupStatistic& stat = t_.stream.Statistic;
  stat.CurrentFile = rec.path;
  stat.CurrentFileSize = rec.fullSize;
  t_.letMessagesRun();
  if (t_.report(stat)) throw EVX_UserAbortion(engine_txt::kAborted);
}

}  // namespace vx
