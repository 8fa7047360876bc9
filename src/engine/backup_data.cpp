// The reading side of the backup's data pass: opening each file (with the
// caller's answers on failure), reading it in blocks with its checksum, and
// handing the blocks to the pipeline.
#include "engine/backup_data.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>

#include "archive/errors.h"
#include "engine/texts.h"
#include "engine/vaultrex.h"
#include "platform/fd.h"
#include "platform/hooks.h"
#include "support/utils.h"

namespace vx {

namespace {

// Without a handler, AW_RETRY from HandleOpenError would try a file that stays
// locked for ever.  It is tried this many more times, a short pause apart,
// and then the backup ends as with AW_ABORT.
constexpr int kUnattendedOpenRetries = 3;
constexpr auto kOpenRetryPause = std::chrono::milliseconds(100);
// Jobs under way per packing thread: enough to keep the workers busy while
// the caller's thread reads, little enough to keep memory small (each job
// holds 64 KiB).
constexpr std::size_t kJobsPerThread = 16;

// Opens a file of the list for reading (never waiting on a FIFO put in the
// file's place since the scan, never reading a device); `stamp` receives
// the file's stamp at the open.
TFd OpenForReading(const std::string& path, bool& notRegular, TFileStamp& stamp, int& error) {
  TOpenResult r = OpenRegularForReading(path);
  notRegular = r.status == TOpenStatus::kNotRegular;
  error = r.status == TOpenStatus::kOpenFailed ? r.error : 0;
  if (r.status == TOpenStatus::kOpened) stamp = StampOf(r.info);
  return std::move(r.fd);
}

int EnvThreads() {
  const char* v = std::getenv("VAULTIX_BACKUP_THREADS");
  return v != nullptr ? std::atoi(v) : 0;
}

}  // namespace

int PackingWorkers(const TVaultrex& settings) {
  int threads = settings.BackupThreads;
  if (threads == 0) {
    // Nothing to pack, encipher or verify: copying blocks is no work for
    // a thread of its own.
    if (settings.CompressData == CDM_NoCompression && !settings.EncryptData &&
        !settings.VerifyDuringBackup) {
      return 0;
    }
    threads = EnvThreads();
    if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  }
  return threads <= 1 ? 0 : std::min(threads, 64);
}

TBackupDataPass::TBackupDataPass(const TVaultrex& settings, TDataPassTarget target)
    : s_(settings), t_(std::move(target)) {
  TBlockEncoding encoding;
  encoding.level = s_.CompressData == CDM_QuickCompression ? 1
                   : s_.CompressData == CDM_MaxCompression ? 9
                                                           : 0;
  encoding.key = s_.EncryptData ? s_.EncryptKey : std::string();
  encoding.verify = s_.VerifyDuringBackup;
  const int workers = PackingWorkers(s_);
  pipeline_ = std::make_unique<TBlockPipeline>(
      encoding, workers, kJobsPerThread * static_cast<std::size_t>(workers + 1));
}

TBackupDataPass::~TBackupDataPass() = default;

void TBackupDataPass::Run() {
  t_.outcomes.assign(t_.files.size(), TDataOutcome{});
  for (std::size_t i = 0; i < t_.files.size(); ++i) ReadFile(i);
  Drain();
  if (taken_ == 0 && !firstFailure_.empty()) {
    const std::string what = engine_txt::kNothingTaken + (": " + firstFailure_);
    if (firstFailureRead_) throw EVX_FileReadError(what);
    throw EVX_FileOpenError(what);
  }
}

// Opens a file of the list; on failure puts the caller's questions (once
// every block before it is on the medium) until the answer is not AW_RETRY.
// `error`: the errno of the last failed open.
TFd TBackupDataPass::OpenFile(std::size_t index, TReaction& answer, bool& notRegular, int& error) {
  const TDirRecord& rec = t_.files[index];
  TFileStamp& stamp = t_.outcomes[index].stamp;
  TFd fd = OpenForReading(rec.path, notRegular, stamp, error);
  if (fd) return fd;
  Drain();
  int unattendedRetries = kUnattendedOpenRetries;
  while (!fd && answer == AW_RETRY) {
    if (s_.OnCantOpenFile) {
      s_.OnCantOpenFile(rec.path, answer);
    } else {
      answer = s_.HandleOpenError;
      if (answer == AW_RETRY) {
        if (unattendedRetries-- == 0) {
          answer = AW_ABORT;
          break;
        }
        std::this_thread::sleep_for(kOpenRetryPause);
      }
    }
    if (answer == AW_RETRY) fd = OpenForReading(rec.path, notRegular, stamp, error);
  }
  return fd;
}

// A file that could not be opened: given up with AW_IGNORE, else the end
// of the backup.  The log line and the message name the system's reason.
void TBackupDataPass::OpenFailed(std::size_t index, TReaction answer, bool notRegular, int error) {
  const TDirRecord& rec = t_.files[index];
  ++t_.errors;
  const std::string reason = notRegular ? engine_txt::kNotRegular : ": " + SystemReason(error);
  const std::string number = engine_txt::kErrorNo + std::to_string(t_.errors);
  if (answer != AW_IGNORE) {
    t_.log(number + engine_txt::kBackupOpenEnds + rec.path + reason);
    throw EVX_FileOpenError(engine_txt::kCannotOpen + rec.path + reason);
  }
  t_.log(number + engine_txt::kErrorOnFile + rec.path + engine_txt::kFileSkippedOpen + reason);
  // A file gone since the scan was no file that could not be read.
  const bool vanished = !notRegular && error == ENOENT;
  t_.outcomes[index].loss =
      vanished ? TDataOutcome::TLoss::Vanished : TDataOutcome::TLoss::OpenFailed;
  if (!vanished && firstFailure_.empty()) firstFailure_ = rec.path + reason;
  EndFileData();
  EndFile(index, TFileEnd{});
}

// A read failed: once every block before it is on the medium, the caller
// decides.  true: the file is given up and the backup goes on.
bool TBackupDataPass::ReadFailed(std::size_t index, TReaction& answer, int error) {
  const TDirRecord& rec = t_.files[index];
  Drain();
  if (s_.OnCantReadFromFile) {
    s_.OnCantReadFromFile(rec.path, answer);
  } else {
    answer = s_.HandleFileReadError;
  }
  const std::string reason = ": " + SystemReason(error);
  if (answer == AW_IGNORE) {
    t_.log(engine_txt::kReadSkipped1 + rec.path + engine_txt::kReadSkipped2 + reason);
    t_.outcomes[index].loss = TDataOutcome::TLoss::ReadFailed;
    if (firstFailure_.empty()) {
      firstFailure_ = rec.path + reason;
      firstFailureRead_ = true;
    }
    return true;
  }
  ++t_.errors;
  t_.log(engine_txt::kErrorNo + std::to_string(t_.errors) + engine_txt::kBackupReadEnds + rec.path +
         reason);
  throw EVX_FileReadError(engine_txt::kCannotRead + rec.path + reason);
}

// Reads one file into blocks for the pipeline.  Never more than the scan
// saw: a file that grows, or was swapped for something endless, cannot fill
// the archive.  A read that fails after some bytes stores those first.
//
// The rest of a file that fits in a block is asked for with one byte more:
// a read that brings that byte shows the file grew, one that comes short
// right at the listed size shows it ended there, and neither needs a stat
// at the end (a tiny file costs one read).
void TBackupDataPass::ReadFile(std::size_t index) {
  const TDirRecord& rec = t_.files[index];
  TReaction answer = AW_RETRY;
  bool notRegular = false;
  int error = 0;
  TFd fd = OpenFile(index, answer, notRegular, error);
  if (!fd) return OpenFailed(index, answer, notRegular, error);
  TFileEnd end;
  end.whole = true;
  end.crc = kCrcInit;
  for (;;) {
    if (StopRequested()) {
      Drain();
      throw EVX_UserAbortion(engine_txt::kAborted);
    }
    const std::int64_t left = rec.fullSize - end.done;
    if (left <= 0) break;
    TBlockPipeline::TJob& job = FreeJob();
    const bool rest = left < static_cast<std::int64_t>(kBlockSize);
    const auto want = static_cast<std::size_t>(
        std::min<std::int64_t>(left, static_cast<std::int64_t>(kBlockSize)));
    const TIoResult got = ReadAtLeast(fd.Get(), job.raw.data(), rest ? want + 1 : want, want);
    const std::size_t kept = std::min(got.done, want);
    if (kept > 0) {
      if (!s_.NoFileCRCs) end.crc = FastCrcUpdate(end.crc, job.raw.data(), kept);
      job.rawLength = kept;
      pipeline_->Submit(false, index);
      end.done += static_cast<std::int64_t>(kept);
      TakeBack(false);
    }
    if (got.Failed() && ReadFailed(index, answer, got.error)) {
      fd.Reset();
      EndFileData();
      return EndFile(index, TFileEnd{});
    }
    if (rest && !got.Failed() && got.done >= want) {
      // The byte past the listed size came, or the read ended right there.
      end.sizeNow = got.done > want ? rec.fullSize + 1 : rec.fullSize;
      fd.Reset();
      return EndFile(index, end);
    }
    if (!got.Complete()) break;
  }
  end.sizeNow = FdSize(fd.Get());
  fd.Reset();
  EndFile(index, end);
}

TBlockPipeline::TJob& TBackupDataPass::FreeJob() {
  for (;;) {
    if (TBlockPipeline::TJob* job = pipeline_->Free()) return *job;
    TakeBack(true);
  }
}

// A file's end takes its place in the order: what it reports comes after
// its last block is on the medium.
void TBackupDataPass::EndFile(std::size_t index, const TFileEnd& end) {
  FreeJob();
  ends_.push_back(end);
  pipeline_->Submit(true, index);
  TakeBack(false);
}

}  // namespace vx
