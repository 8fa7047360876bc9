// Verify: unpacks every file of an archive and compares it, block by block as
// it is unpacked, byte for byte with the file at its stored path.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <ios>
#include <memory>
#include <system_error>
#include <vector>

#include "archive/errors.h"
#include "engine/read_set.h"
#include "engine/texts.h"
#include "engine/vaultrex.h"
#include "platform/date_time.h"
#include "platform/locale.h"
#include "support/utils.h"

namespace vx {

namespace {

constexpr std::size_t kChunk = 32768;

class TReadFd {
 public:
  explicit TReadFd(int fd) : fd_(fd) {}
  ~TReadFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  TReadFd(const TReadFd&) = delete;
  TReadFd& operator=(const TReadFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Opens a regular file for reading only; a FIFO or device never makes it wait.
int OpenForReading(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// Reads up to count bytes, fewer only at the end of the file.
std::size_t ReadChunk(int fd, std::uint8_t* data, std::size_t count) {
  std::size_t got = 0;
  while (got < count) {
    const ssize_t n = ::read(fd, data + got, count - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::ios_base::failure("I/O error while comparing files",
                                   std::error_code(errno, std::generic_category()));
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return got;
}

std::int64_t SizeOf(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0)
    throw std::ios_base::failure("I/O error while comparing files",
                                 std::error_code(errno, std::generic_category()));
  return st.st_size;
}

std::string Now() { return FormatDateTimeC(NowDateTime()); }

// The comparison of one stored file, fed its unpacked bytes block by block,
// with the file on disk.  Gives the codes of CompareFiles: 2 the disk file
// cannot be opened, 3 size or content differs, 4 the disk file gave fewer or
// more bytes than its size said.
class TDiskComparison {
 public:
  TDiskComparison(const std::string& diskFile, std::uint8_t* buffer)
      : fd_(OpenForReading(diskFile)), buffer_(buffer) {
    if (fd_.get() >= 0) size_ = SizeOf(fd_.get());
  }

  // Always true: the rest of the file is unpacked even after a difference,
  // so that damaged data show as such whatever the disk holds.
  bool Next(const std::uint8_t* raw, std::size_t n) {
    unpacked_ += static_cast<std::int64_t>(n);
    if (fd_.get() < 0 || code_ != 0 || unpacked_ > size_) return true;
    if (ReadChunk(fd_.get(), buffer_, n) != n)
      code_ = 4;
    else if (std::memcmp(buffer_, raw, n) != 0)
      code_ = 3;
    return true;
  }

  int Finish() {
    if (fd_.get() < 0) return 2;
    if (unpacked_ != size_) return 3;
    if (code_ != 0) return code_;
    // Bytes added behind the size read at the start.
    std::uint8_t extra = 0;
    return ReadChunk(fd_.get(), &extra, 1) == 0 ? 0 : 4;
  }

 private:
  TReadFd fd_;
  std::uint8_t* buffer_;
  std::int64_t size_ = 0;
  std::int64_t unpacked_ = 0;
  int code_ = 0;
};

}  // namespace

int TVaultrex::CompareFiles(const std::string& copy, const std::string& diskFile) {
  TReadFd a(OpenForReading(copy));
  if (a.get() < 0) return 1;
  // Read-only access is all a comparison needs: a write-protected or
  // read-only file on disk is compared, not reported as missing.
  TReadFd b(OpenForReading(diskFile));
  if (b.get() < 0) return 2;
  if (SizeOf(a.get()) != SizeOf(b.get())) return 3;
  std::unique_ptr<std::uint8_t[]> bufA(new std::uint8_t[kChunk]);
  std::unique_ptr<std::uint8_t[]> bufB(new std::uint8_t[kChunk]);
  for (;;) {
    const std::size_t na = ReadChunk(a.get(), bufA.get(), kChunk);
    const std::size_t nb = ReadChunk(b.get(), bufB.get(), kChunk);
    if (na != nb) return 4;
    if (std::memcmp(bufA.get(), bufB.get(), na) != 0) return 3;
    if (na < kChunk) return 0;
  }
}

int TVaultrex::Verify() {
  PrepareCipher();
  int ok = 0;
  int missing = 0;
  int different = 0;
  int other = 0;
  bool failed = false;
  int result = 0;
  int insertLine = 0;
  std::exception_ptr foreign;
  std::unique_ptr<TReadSet> set;
  restoreRoot_.clear();
  try {
    OpenLog(insertLine);
    CheckReadSettings(*this, {.noPlace = engine_txt::kVerifyNoPlace,
                              .noPassword = engine_txt::kVerifyNoPassword,
                              .extension = engine_txt::kVerifyExtension,
                              .shortPassword = engine_txt::kShortPassword});

    if (BackupToTape)
      WriteLog("Štart overovania zálohy na páske  " + Now());
    else
      WriteLog("Štart overovania zálohy z " + BackupDestination + "  " + Now());
    WriteLog("");

    set = std::make_unique<TReadSet>(*this);
    set->Open({engine_txt::kVerifyCutHeader, engine_txt::kVerifyForeign});
    set->ReadDirectory(fileList_);
    TArchiveStream* const stream = &set->Stream();

    TExtBackupStatistic& stat = stream->Statistic;
    stat.PercentDone = 0;
    stat.TotalBytes = 0;
    stat.BytesRead = 0;
    stat.BytesWritten = 0;
    stat.FilesDone = 0;
    for (const TDirRecord& r : fileList_) stat.TotalBytes += r.size;

    std::vector<std::uint8_t> diskBytes(kBlockSize);

    StartBlockReports(stat);
    for (const TDirRecord& r : fileList_) {
      stat.CurrentFile = r.path;
      stat.CurrentFileSize = r.size;
      TVerifyOutcome outcome = TVerifyOutcome::Failed;
      try {
        TDiskComparison comparison(r.path, diskBytes.data());
        set->Reader().ReadFile(
            [&](const std::uint8_t* raw, std::size_t n) { return comparison.Next(raw, n); },
            [this] { BlockRead(); });
        const int code = comparison.Finish();
        switch (code) {
          case 0:
            ++ok;
            WriteLog(r.path + " bez chýb");
            outcome = TVerifyOutcome::Same;
            break;
          case 1:
            ++other;
            WriteLog(r.path + " chyba počas kontroly");
            break;
          case 2:
            ++missing;
            WriteLog(r.path + " súbor chýba alebo je uzmaknutý");
            outcome = TVerifyOutcome::Missing;
            break;
          case 3:
            ++different;
            WriteLog(r.path + " rozdiel v  súbore v zálohe");
            outcome = TVerifyOutcome::Different;
            break;
          default:
            ++other;
            WriteLog("Chyba počas kontroly " + r.path);
            break;
        }
        if (code != 0) failed = true;
      } catch (const EVX_Error& e) {
        // The set's data ended early or were damaged: the file was not
        // checked, which a verify must never report as success.  A block
        // that does not unpack leaves the stream at the next file.
        if (!dynamic_cast<const EVX_FileWriteError*>(&e) &&
            !dynamic_cast<const EVX_BackupReadError*>(&e) && !dynamic_cast<const EVX_ZipError*>(&e))
          throw;
        WriteLog("Chyba (" + std::string(e.what()) + ") počas kontroly " + r.path);
        ++other;
        failed = true;
        // On tape the next file begins behind this file's mark; a read that
        // stopped inside damaged data would otherwise go on there.
        if (stream->IsTape() && dynamic_cast<const EVX_BackupReadError*>(&e)) {
          stream->Destination()->SkipFilemarks(1);
          stream->FlushToBlockEnd();
        }
      }
      if (OnFileVerified) OnFileVerified(r.path, outcome);
      ReportFileRead(stat, r);
    }
    readStat_ = nullptr;
    stream->Close();
  } catch (const std::exception& e) {
    result = ResultCodeOf(e, {TFurther::FileWrite, TFurther::UserAbortion, TFurther::WrongMedium,
                              TFurther::WrongPassword, TFurther::FTP});
    if (dynamic_cast<const EVX_Error*>(&e) == nullptr) foreign = std::current_exception();
  }
  readStat_ = nullptr;
  set.reset();
  errors_ = missing + different + other;
  try {
    if (result != 0) {
      WriteLog(ErrorText(result));
    } else {
      // The summary stands in front of this run's lines: the lines the log
      // held when it opened stay above it.
      if (log_ && LogFileMode != LFM_NoLog) log_->InsertAt(insertLine + 1);
      WriteLog("Kontrola ukončená " + Now());
      WriteLog(std::to_string(ok) + " Súbor/y skontrolované OK");
      const int bad = missing + different + other;
      if (bad > 0) {
        WriteLog(std::to_string(bad) + " kontrola  súboru/ov neprebehla v poriadku z dôvodu:");
        if (missing > 0) WriteLog("   " + std::to_string(missing) + " Súbor/y chýbajú na harddisku");
        if (different > 0)
          WriteLog("   " + std::to_string(different) + " Súbor/y jeúsú odlišné od originálu");
        if (other > 0)
          WriteLog("   " + std::to_string(other) + " Došlo k inej chybe pri porovnávaní súboru");
        WriteLog("");
      }
      if (failed) result = 98;
    }
  } catch (const std::exception&) {
    if (!foreign) foreign = std::current_exception();
    result = 99;
  }
  CloseLog();
  if (foreign) std::rethrow_exception(foreign);
  return result;
}

}  // namespace vx
