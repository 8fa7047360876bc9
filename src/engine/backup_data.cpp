// The reading side of the backup's data pass: opening each file (with the
// caller's answers on failure), reading it in blocks with its checksum, and
// handing the blocks to the pipeline.
#include "engine/backup_data.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>

#include "archive/errors.h"
#include "engine/vaultrex.h"
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

constexpr const char* kNotRegular = ": nie je obyčajný súbor";

class TFd {
 public:
  explicit TFd(int fd) : fd_(fd) {}
  ~TFd() { Close(); }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int get() const { return fd_; }
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// Opens a file of the list for reading.  The open never waits (a FIFO put in
// the file's place since the scan), and only a regular file is read: a
// device such as /dev/zero would fill the archive.  Anything else counts as a
// failed open; `notRegular` tells which.  `stamp` receives the file's stamp.
int OpenForReading(const std::string& path, bool& notRegular, TFileStamp& stamp) {
  notRegular = false;
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return fd;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    notRegular = true;
    return -1;
  }
  stamp.dev = st.st_dev;
  stamp.ino = st.st_ino;
  stamp.size = st.st_size;
  stamp.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp.ctimeNs = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  // Regular file: the reads block as they should once the flag is gone.
  (void)::fcntl(fd, F_SETFL, 0);
  return fd;
}

std::int64_t SizeNow(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
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
}

// Opens a file of the list; on failure puts the caller's questions (once
// every block before it is on the medium) until the answer is not AW_RETRY.
// Returns the descriptor, or -1.
int TBackupDataPass::OpenFile(const TDirRecord& rec, TReaction& answer, bool& notRegular) {
  TFileStamp& stamp = t_.outcomes[static_cast<std::size_t>(&rec - t_.files.data())].stamp;
  int fd = OpenForReading(rec.path, notRegular, stamp);
  if (fd >= 0) return fd;
  Drain();
  int unattendedRetries = kUnattendedOpenRetries;
  while (fd < 0 && answer == AW_RETRY) {
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
    if (answer == AW_RETRY) fd = OpenForReading(rec.path, notRegular, stamp);
  }
  return fd;
}

// A read failed: once every block before it is on the medium, the caller
// decides.  true: the file is given up and the backup goes on.
bool TBackupDataPass::ReadFailed(const TDirRecord& rec, TReaction& answer) {
  Drain();
  if (s_.OnCantReadFromFile) {
    s_.OnCantReadFromFile(rec.path, answer);
  } else {
    answer = s_.HandleFileReadError;
  }
  if (answer == AW_IGNORE) {
    t_.log("File " + rec.path + " not backed up due to read errors");
    return true;
  }
  ++t_.errors;
  t_.log("CHYBA #" + std::to_string(t_.errors) + ": Zálohovanie prerušené - chyba pri čítaní " +
         rec.path);
  throw EVX_FileReadError("Nemožno prečítať súbor " + rec.path);
}

// Reads one file into blocks for the pipeline.  Never more than the scan
// saw: a file that grows, or was swapped for something endless, cannot fill
// the archive.
void TBackupDataPass::ReadFile(std::size_t index) {
  const TDirRecord& rec = t_.files[index];
  TReaction answer = AW_RETRY;
  bool notRegular = false;
  TFd fd(OpenFile(rec, answer, notRegular));
  if (fd.get() < 0) {
    ++t_.errors;
    const std::string reason = notRegular ? kNotRegular : "";
    if (answer != AW_IGNORE) {
      t_.log("CHYBA #" + std::to_string(t_.errors) +
             ": Zálohovanie prerušené chybou pri otvorení " + rec.path + reason);
      throw EVX_FileOpenError("Nemožno otvoriť súbor " + rec.path);
    }
    t_.log("CHYBA #" + std::to_string(t_.errors) + ": Súbor " + rec.path +
           " nie je zazálohovaný - chyba pri otvorení súboru" + reason);
    EndFileData();
    EndFile(index, TFileEnd{});
    return;
  }
  TFileEnd end;
  end.whole = true;
  end.crc = kCrcInit;
  for (;;) {
    if (StopRequested()) {
      Drain();
      throw EVX_UserAbortion("Prerušené užívateľom");
    }
    const std::int64_t left = rec.fullSize - end.done;
    if (left <= 0) break;
    TBlockPipeline::TJob& job = FreeJob();
    const auto want = static_cast<std::size_t>(
        std::min<std::int64_t>(left, static_cast<std::int64_t>(kBlockSize)));
    const ssize_t n = ::read(fd.get(), job.raw.data(), want);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && ReadFailed(rec, answer)) {
      fd.Close();
      EndFileData();
      EndFile(index, TFileEnd{});
      return;
    }
    if (n == 0) break;
    const auto count = static_cast<std::size_t>(n);
    if (!s_.NoFileCRCs) end.crc = FastCrcUpdate(end.crc, job.raw.data(), count);
    job.rawLength = count;
    pipeline_->Submit(false, index);
    end.done += n;
    TakeBack(false);
  }
  end.sizeNow = SizeNow(fd.get());
  fd.Close();
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
  ends_.push_back(end);
  pipeline_->Submit(true, index);
  TakeBack(false);
}

}  // namespace vx
