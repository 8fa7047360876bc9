// The file selection scan: include entries become directory records, the
// backup mode and the hidden/system rule decide per file, exclude entries
// remove records afterwards.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <memory>

#include "archive/block_codec.h"
#include "archive/erase_target.h"
#include "archive/errors.h"
#include "engine/vaultrex.h"
#include "platform/archive_bits.h"
#include "platform/date_time.h"
#include "platform/file_system.h"
#include "platform/hooks.h"
#include "platform/paths.h"
#include "support/utils.h"

namespace vx {

namespace {

// The checksum of a file's content as CalcFileCRC gives it (0xFFFFFFFF for an
// empty or unopenable file), read through one buffer kept for the thread
// instead of a fresh one per file, and with the fast CRC.  At most `limit`
// bytes are read, the size the directory search saw, so that the data pass
// can compare what it reads.  `stopped` is set when a stop was asked for.
std::uint32_t FileCrc(const std::string& path, std::int64_t limit, bool& stopped) {
  constexpr std::size_t kCrcBuffer = 256 * 1024;
  thread_local std::unique_ptr<std::uint8_t[]> buffer;
  std::uint32_t reg = kCrcInit;
  stopped = false;
  // O_NONBLOCK: a FIFO put there since the folder was read must not hang.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return reg;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    if (!buffer) buffer.reset(new std::uint8_t[kCrcBuffer]);
    while (limit > 0) {
      if (StopRequested()) {
        stopped = true;
        break;
      }
      const auto want = static_cast<std::size_t>(
          std::min<std::int64_t>(limit, static_cast<std::int64_t>(kCrcBuffer)));
      const ssize_t n = ::read(fd, buffer.get(), want);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      reg = FastCrcUpdate(reg, buffer.get(), static_cast<std::size_t>(n));
      limit -= n;
    }
  }
  ::close(fd);
  return reg;
}

std::string TrimBlanks(const std::string& s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(' ');
  return s.substr(first, last - first + 1);
}

std::string TrimRightBlanks(const std::string& s) {
  const auto last = s.find_last_not_of(' ');
  return last == std::string::npos ? std::string() : s.substr(0, last + 1);
}

}  // namespace

void TVaultrex::ScanFiles() {
  leftOut_ = 0;
  foldersNotRead_ = 0;
  scanAnswer_ = AW_RETRY;
  if (OnStartFileScan) {
    OnStartFileScan("", scanAnswer_);
    if (scanAnswer_ == AW_ABORT) throw EVX_UserAbortion("Terminated by user during file scan");
  }
  fileList_.clear();
  // The archive-bit look-ups of the whole scan share read transactions.
  TArchiveBitLookups lookups(TArchiveBitStore::Instance());

  for (const std::string& line : IncludeNames) {
    if (line.empty()) continue;
    std::string entry = line;
    const bool ownRecursion = StripRecursionMarker(entry);
    const int found = ScanFolder(entry, RecurseSubDir || ownRecursion);
    if (found == 0 && BackupMode == BM_Full && LogFileMode != LFM_NoLog) {
      ++warnings_;
      if (OnWarning) {
        scanAnswer_ = AW_IGNORE;
        OnWarning(WT_NoFilesFound, entry, scanAnswer_);
        if (scanAnswer_ == AW_ABORT) {
          throw EVX_UserAbortion("Prerušené užívateľom počas načítania súborov");
        }
      }
      WriteLog("Upozornenie :" + entry + " neexistuje");
    }
  }

  for (const std::string& line : ExcludeNames) {
    if (line.empty()) continue;
    std::string entry = line;
    const bool recurse = StripRecursionMarker(entry) || RecurseSubDir;
    entry = TrimBlanks(entry);
    std::erase_if(fileList_, [&](const TDirRecord& r) {
      return MatchExclude(entry, r.path, recurse);
    });
  }

  if (OnEndFileScan) {
    OnEndFileScan("", scanAnswer_);
    if (scanAnswer_ == AW_ABORT) throw EVX_UserAbortion("Prerušené užívateľom");
  }
}

int TVaultrex::ScanFolder(const std::string& entry, bool recurse) {
  LetMessagesRun();
  const std::string folder = ExtractFilePath(entry);
  if (folder.empty() || !DirectoryExists(folder)) return 0;
  const std::string mask = TrimRightBlanks(entry.substr(folder.size()));
  std::string subMask = mask;
  if (subMask.find('.') == std::string::npos) subMask += ".*";

  if (OnScanNextDir) {
    scanAnswer_ = AW_IGNORE;
    OnScanNextDir(folder, scanAnswer_);
    if (scanAnswer_ == AW_ABORT) throw EVX_UserAbortion("Načítanie súborov bolo prerušené.");
  }

  // Listed first, handled afterwards: the handling may raise, and the
  // search must be over by then.
  std::vector<TSearchRec> found;
  const bool whole =
      FindFiles(folder, mask, [&found](const TSearchRec& rec) { found.push_back(rec); });
  if (!whole) FolderNotRead(folder);

  int count = 0;
  for (const TSearchRec& rec : found) {
    if (StopRequested()) throw EVX_UserAbortion("Načítanie súborov bolo prerušené.");
    if (rec.attr & (faDirectory | faVolumeID)) continue;
    if (OnScanNextFile) {
      scanAnswer_ = AW_IGNORE;
      OnScanNextFile(rec.name, scanAnswer_);
      if (scanAnswer_ == AW_ABORT) throw EVX_UserAbortion("Načítanie súborov bolo prerušené.");
    }
    LetMessagesRun();

    // Devices, FIFOs, sockets and links that lead nowhere are never taken:
    // reading a FIFO would hang.  They are not counted as left out either.
    if (rec.attr & faSysFile) continue;

    const std::string path = folder + rec.name;
    const double time = DosToDateTime(rec.dosTime);
    bool archiveBit = false;
    bool archiveBitKnown = false;
    bool taken = true;
    switch (BackupMode) {
      case BM_Full:
        break;
      case BM_Incremental:
      case BM_Differential:
        archiveBit = TArchiveBitStore::Instance().IsSet(path, rec.stamp);
        archiveBitKnown = true;
        taken = archiveBit;
        break;
      case BM_Special:
        taken = time >= SpecialBackupDate;
        break;
    }
    if (!taken) {
      ++leftOut_;
      continue;
    }
    if ((rec.attr & faHidden) && !BackupHiddenSysFiles) continue;

    // The archive keeps at most 255 bytes of a path.  A cut path would name
    // another file (or none): such a file is never opened and never listed.
    if (path.size() > kMaxStringBytes) {
      PathTooLong(path);
      continue;
    }
    if (!archiveBitKnown) archiveBit = TArchiveBitStore::Instance().IsSet(path, rec.stamp);
    TDirRecord r;
    r.path = path;
    r.size = static_cast<std::int32_t>(static_cast<std::uint32_t>(rec.size));
    r.fullSize = rec.size;
    r.attr = rec.attr | (archiveBit ? faArchive : 0u);
    r.time = time;
    r.mark = 0;
    bool stopped = false;
    r.crc = NoFileCRCs ? 0u : FileCrc(r.path, rec.size, stopped);
    if (stopped) throw EVX_UserAbortion("Načítanie súborov bolo prerušené.");
    fileList_.push_back(std::move(r));
    ++count;
  }

  if (recurse) {
    bool opened = true;
    const auto subfolders = FindSubfolders(folder, BackupHiddenSysFiles, &opened);
    if (!opened && whole) FolderNotRead(folder);
    for (const std::string& name : subfolders) {
      if (name == "." || name == "..") continue;
      count += ScanFolder(folder + name + "/" + subMask, recurse);
    }
  }
  return count;
}

// A folder the scan could not open or examine: its files are not backed up.
void TVaultrex::FolderNotRead(const std::string& folder) {
  ++warnings_;
  ++foldersNotRead_;
  WriteLog("Upozornenie :" + folder + " nemožno otvoriť, jeho súbory nie sú zazálohované");
}

// A path longer than the archive can keep: counted and logged as a file that
// cannot be opened; with HandleOpenError AW_ABORT the backup ends with 4.
void TVaultrex::PathTooLong(const std::string& path) {
  ++errors_;
  const std::string reason = ": cesta je dlhšia ako 255 bajtov";
  if (HandleOpenError == AW_ABORT) {
    WriteLog("CHYBA #" + std::to_string(errors_) + ": Zálohovanie prerušené chybou pri otvorení " +
             path + reason);
    throw EVX_FileOpenError("Nemožno otvoriť súbor " + path);
  }
  WriteLog("CHYBA #" + std::to_string(errors_) + ": Súbor " + path +
           " nie je zazálohovaný - chyba pri otvorení súboru" + reason);
}

}  // namespace vx

namespace vx {

void TVaultrex::PreviewBackup(std::vector<std::string>& erased) {
  errors_ = 0;
  warnings_ = 0;
  erased.clear();
  CheckBackupSettings();
  ScanFiles();
  if (fileList_.empty() || !EraseTargetDir || BackupToTape || BackupToFTP) return;
  // The real run refuses to empty a folder it reads from.
  CheckEraseTarget(IncludeBackslash(BackupDestination) + ArchiveBaseName, fileList_);
  // The stream keeps the running log when it empties the folder.
  std::vector<std::string> keep;
  if (LogFileMode != LFM_NoLog && !LogFileName.empty()) keep.push_back(LogFileName);
  const TEraseListing listing =
      ListErasable(IncludeBackslash(BackupDestination) + ArchiveBaseName, keep, nullptr);
  for (const std::string& name : listing.names) erased.push_back(listing.folder + "/" + name);
}

}  // namespace vx
