// Archiving one file of the file list: open (with the caller's answers on
// failure), read in 32,768-byte blocks, encode each block, write it, and end
// the file's data with the end-of-data block.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

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

constexpr const char* kNotRegular = ": nie je obyčajný súbor";

// Opens a file of the list for reading.  The open never waits (a FIFO put in
// the file's place since the scan), and only a regular file is read: a
// device such as /dev/zero would fill the archive.  Anything else counts as a
// failed open; `notRegular` tells which.
int OpenForReading(const std::string& path, bool& notRegular) {
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
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

TFileStamp StampOf(int fd) {
  TFileStamp s;
  struct stat st {};
  if (::fstat(fd, &st) == 0) {
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.ctimeNs = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  }
  return s;
}

std::int32_t RoundPercent(double value) {
  return static_cast<std::int32_t>(std::nearbyint(value));  // halves to even
}

}  // namespace

void TVaultrex::ArchiveFile(std::size_t index) {
  const TDirRecord& rec = fileList_[index];
  TFileOutcome& outcome = outcomes_[index];
  TExtBackupStatistic& stat = stream_->Statistic;

  // The end of a file's data; on tape it also ends the transfer block and
  // writes a file mark, for skipped files too, so that every file on tape
  // ends the same way.
  auto endFileData = [this] {
    std::uint8_t end[kBlockHeaderSize];
    EncodeBlockHeader(TBlockHeader{}, end);
    stream_->WriteBytes(end, kBlockHeaderSize);
    if (BackupToTape) {
      stream_->FlushToBlockEnd();
      stream_->WriteTapeFileMark();
    }
  };

  TReaction answer = AW_RETRY;
  bool notRegular = false;
  TFd fd(OpenForReading(rec.path, notRegular));
  int unattendedRetries = kUnattendedOpenRetries;
  while (fd.get() < 0 && answer == AW_RETRY) {
    if (OnCantOpenFile) {
      OnCantOpenFile(rec.path, answer);
    } else {
      answer = HandleOpenError;
      if (answer == AW_RETRY) {
        if (unattendedRetries-- == 0) {
          answer = AW_ABORT;
          break;
        }
        std::this_thread::sleep_for(kOpenRetryPause);
      }
    }
    if (answer == AW_RETRY) fd.Reset(OpenForReading(rec.path, notRegular));
  }
  if (fd.get() < 0) {
    ++errors_;
    const std::string reason = notRegular ? kNotRegular : "";
    if (answer == AW_IGNORE) {
      WriteLog("CHYBA #" + std::to_string(errors_) + ": Súbor " + rec.path +
               " nie je zazálohovaný - chyba pri otvorení súboru" + reason);
      endFileData();
      return;
    }
    WriteLog("CHYBA #" + std::to_string(errors_) + ": Zálohovanie prerušené chybou pri otvorení " +
             rec.path + reason);
    throw EVX_FileOpenError("Nemožno otvoriť súbor " + rec.path);
  }
  outcome.stamp = StampOf(fd.get());

  const int level = CompressData == CDM_QuickCompression ? 1
                    : CompressData == CDM_MaxCompression ? 9
                                                         : 0;
  TCrypto* cipher = EncryptData ? cipher_.get() : nullptr;
  std::int64_t done = 0;
  std::uint32_t crc = kCrcInit;
  bool blocksMatch = true;

  // Never more than the scan saw: a file that grows, or was swapped for
  // something endless, cannot fill the archive.
  for (;;) {
    if (StopRequested()) throw EVX_UserAbortion("Prerušené užívateľom");
    const std::int64_t left = rec.fullSize - done;
    const auto want = static_cast<std::size_t>(
        std::min<std::int64_t>(left, static_cast<std::int64_t>(kBlockSize)));
    const ssize_t n = want == 0 ? 0 : ::read(fd.get(), buffer1_.data(), want);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (OnCantReadFromFile) {
        OnCantReadFromFile(rec.path, answer);
      } else {
        answer = HandleFileReadError;
      }
      if (answer == AW_IGNORE) {
        WriteLog("File " + rec.path + " not backed up due to read errors");
        fd.Close();
        endFileData();
        return;
      }
      ++errors_;
      WriteLog("CHYBA #" + std::to_string(errors_) + ": Zálohovanie prerušené - chyba pri čítaní " +
               rec.path);
      throw EVX_FileReadError("Nemožno prečítať súbor " + rec.path);
    }

    if (n > 0) {
      const auto count = static_cast<std::size_t>(n);
      std::size_t outLen = 0;
      TBlockHeader header;
      const std::uint8_t* out =
          codec_->Encode(buffer1_.data(), count, level, cipher, outLen, &header);
      stream_->WriteBytes(out, outLen);
      if (!NoFileCRCs) crc = FastCrcUpdate(crc, buffer1_.data(), count);
      if (VerifyDuringBackup) {
        if (blocksMatch) {
          // Decode what was just stored, from a copy, and compare it with
          // the bytes read.
          const std::size_t stored = outLen - kBlockHeaderSize;
          std::memcpy(buffer2_.data(), out + kBlockHeaderSize, stored);
          try {
            const std::uint8_t* back = codec_->Decode(header, buffer2_.data(), stored, cipher);
            blocksMatch = header.rawLength == static_cast<std::int32_t>(count) &&
                          std::memcmp(back, buffer1_.data(), count) == 0;
          } catch (const EVX_ZipError&) {
            blocksMatch = false;
          }
        }
      }
      LetMessagesRun();
      done += n;
      if (OnNextBlock) OnNextBlock(rec.path, done, rec.fullSize);
      continue;
    }

    // End of the file.
    endFileData();
    // Changed since the scan: other content, or another size now.
    struct stat now {};
    const bool changed = (!NoFileCRCs && crc != rec.crc) || done != rec.fullSize ||
                         (::fstat(fd.get(), &now) == 0 && now.st_size != rec.fullSize);
    const bool passed = !VerifyDuringBackup || (blocksMatch && !changed);
    stat.BytesRead += rec.fullSize;
    if (!passed) verifyFailed_ = true;
    if (!VerifyDuringBackup) {
      stat.BytesVerified = 0;
    } else if (!verifyFailed_) {
      stat.BytesVerified = stat.BytesWritten;
    }
    if (stat.TotalBytes > 0) {
      stat.PercentDone = RoundPercent(static_cast<double>(stat.BytesRead) * 100.0 /
                                      static_cast<double>(stat.TotalBytes));
    } else {
      stat.PercentDone = RoundPercent(static_cast<double>(stat.FilesDone) * 100.0 /
                                      static_cast<double>(fileList_.size()));
    }
    fd.Close();
    if (!passed) {
      ++errors_;
      WriteLog("CHYBA #" + std::to_string(errors_) + ": Súbor " + rec.path +
               (blocksMatch ? " nie je overený - obsah sa zmenil od načítania zoznamu súborov"
                            : " nie je overený - uložené dáta sa nezhodujú s prečítanými"));
      return;
    }
    ++stat.FilesDone;
    if (changed) {
      // Stored as read; its checksum is the scan's, so its restore reports
      // the mismatch.  It keeps its archive attribute for the next backup.
      ++warnings_;
      WriteLog("Upozornenie :" + rec.path + " sa počas zálohovania zmenil");
      return;
    }
    WriteLog("Súbor " + rec.path +
             (VerifyDuringBackup ? " zazálohovaný a overený OK" : " Zazálohovaný OK"));
    outcome.stored = true;
    return;
  }
}

}  // namespace vx
