// The file selection scan: include entries become directory records, the
// backup mode and the hidden/system rule decide per file, exclude entries
// remove records afterwards.
#include "engine/scan.h"

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "archive/block_codec.h"
#include "archive/errors.h"
#include "engine/metadata.h"
#include "engine/texts.h"
#include "engine/vaultrex.h"
#include "platform/archive_bits.h"
#include "platform/date_time.h"
#include "platform/fd.h"
#include "platform/file_system.h"
#include "platform/hooks.h"
#include "platform/node_meta.h"
#include "platform/paths.h"
#include "support/threads.h"
#include "support/utils.h"

namespace vx {

namespace {

constexpr int kMostChecksumThreads = 8;
// Fewer files than this are not worth a thread of their own.
constexpr std::size_t kFilesPerChecksumThread = 64;

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

std::uint32_t FileCrc(const std::string& path, std::int64_t limit,
                      const std::function<bool()>& stop, bool& stopped, bool* xattrs) {
  constexpr std::size_t kCrcBuffer = std::size_t{256} * 1024;
  thread_local std::unique_ptr<std::uint8_t[]> buffer;
  std::uint32_t reg = kCrcInit;
  stopped = false;
  // Never waits: a FIFO put there since the folder was read gives nothing
  // at once.  The reads stop at the size the listing saw, so no file type
  // needs asking for (one open, one read, one close for a small file).
  const TFd fd = OpenFd(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (!fd) return reg;
  if (xattrs != nullptr) *xattrs = HasXattrs(fd.Get());
  if (!buffer) buffer = std::make_unique<std::uint8_t[]>(kCrcBuffer);
  while (limit > 0) {
    if (stop()) {
      stopped = true;
      break;
    }
    const auto want = static_cast<std::size_t>(
        std::min<std::int64_t>(limit, static_cast<std::int64_t>(kCrcBuffer)));
    const TIoResult got = ReadAll(fd.Get(), buffer.get(), want);
    reg = FastCrcUpdate(reg, buffer.get(), got.done);
    if (!got.Complete()) break;
    limit -= static_cast<std::int64_t>(got.done);
  }
  return reg;
}

int ChecksumThreads(const TVaultrex& settings) {
  int threads = settings.ThreadsWanted();
  if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  return std::clamp(threads, 1, kMostChecksumThreads);
}

TFileScan::TFileScan(const TVaultrex& settings, TArchiveBitStore& bits, TScanTarget target)
    : s_(settings), bits_(bits), t_(std::move(target)) {}

// Puts an event's question; true when the caller answered AW_ABORT.
bool TFileScan::Ask(const std::function<void(const std::string&, TReaction&)>& event,
                    const std::string& name) {
  if (!event) return false;
  t_.answer = AW_IGNORE;
  event(name, t_.answer);
  return t_.answer == AW_ABORT;
}

void TFileScan::Run() {
  t_.leftOut = 0;
  t_.foldersNotRead = 0;
  t_.notTaken = 0;
  t_.answer = AW_RETRY;
  if (s_.OnStartFileScan) {
    s_.OnStartFileScan("", t_.answer);
    if (t_.answer == AW_ABORT) throw EVX_UserAbortion(engine_txt::kScanCancelledAtStart);
  }
  t_.files.clear();
  t_.extras.clear();
  foldersTaken_.clear();
  // The archive-bit look-ups of the whole scan share read transactions.
  TArchiveBitLookups lookups(bits_);

  for (const std::string& line : s_.IncludeNames) {
    if (line.empty()) continue;
    std::string entry = line;
    const bool ownRecursion = StripRecursionMarker(entry);
    const int found = ScanFolder(entry, s_.RecurseSubDir || ownRecursion, false);
    if (found == 0 && s_.BackupMode == BM_Full && s_.LogFileMode != LFM_NoLog) {
      ++t_.warnings;
      if (s_.OnWarning) {
        t_.answer = AW_IGNORE;
        s_.OnWarning(WT_NoFilesFound, entry, t_.answer);
        if (t_.answer == AW_ABORT) {
          throw EVX_UserAbortion(engine_txt::kScanCancelledAtWarning);
        }
      }
      t_.log(engine_txt::kWarning + entry + engine_txt::kEntryMissing);
    }
  }

  for (const std::string& line : s_.ExcludeNames) {
    if (line.empty()) continue;
    std::string entry = line;
    const bool recurse = StripRecursionMarker(entry) || s_.RecurseSubDir;
    entry = TrimBlanks(entry);
    std::erase_if(t_.files, [&](const TDirRecord& r) {
      return TVaultrex::MatchExclude(entry, r.path, recurse);
    });
    std::erase_if(t_.extras, [&](const TMetaEntry& e) {
      return TVaultrex::MatchExclude(entry, e.path, recurse);
    });
  }
  if (s_.StoreMetadata) SeparateHardLinks();

  Checksums();

  if (s_.OnEndFileScan) {
    s_.OnEndFileScan("", t_.answer);
    if (t_.answer == AW_ABORT) throw EVX_UserAbortion(engine_txt::kAborted);
  }
}

int TFileScan::ScanFolder(const std::string& entry, bool recurse, bool listed) {
  t_.letMessagesRun();
  const std::string folder = ExtractFilePath(entry);
  if (folder.empty()) return 0;
  if (!DirectoryExists(folder)) {
    // Renamed or removed since its parent was listed: none of it is taken.
    if (listed) FolderNotRead(folder, ENOENT);
    return 0;
  }
  const std::string mask = TrimRightBlanks(entry.substr(folder.size()));
  std::string subMask = mask;
  if (subMask.find('.') == std::string::npos) subMask += ".*";

  if (Ask(s_.OnScanNextDir, folder)) throw EVX_UserAbortion(engine_txt::kScanCancelled);

  // Listed first, handled afterwards: the handling may raise, and the
  // search must be over by then.
  std::vector<TSearchRec> found;
  int error = 0;
  const bool whole = FindFiles(
      folder, mask, [&found](const TSearchRec& rec) { found.push_back(rec); }, &error);
  if (!whole) FolderNotRead(folder, error);
  if (s_.StoreMetadata) TakeFolder(folder);

  int count = 0;
  for (const TSearchRec& rec : found) {
    if (StopRequested()) throw EVX_UserAbortion(engine_txt::kScanCancelled);
    if (rec.attr & (faDirectory | faVolumeID)) continue;
    if (Ask(s_.OnScanNextFile, rec.name)) {
      throw EVX_UserAbortion(engine_txt::kScanCancelled);
    }
    t_.letMessagesRun();
    // Devices, FIFOs, sockets and links that lead nowhere are never read:
    // reading a FIFO would hang.  They are not counted as left out either;
    // the metadata table records them, and links as links.
    if ((rec.attr & faSysFile) || (rec.link && s_.StoreMetadata && !s_.FollowLinks)) {
      if (s_.StoreMetadata) TakeOther(folder, rec);
      continue;
    }
    TakeFile(folder, rec, count);
  }

  if (recurse) {
    bool opened = true;
    const auto subfolders = FindSubfolders(folder, s_.BackupHiddenSysFiles, &opened);
    const int listError = errno;  // why the folder could not be opened
    if (!opened && whole) FolderNotRead(folder, listError);
    for (const std::string& name : subfolders) {
      if (name == "." || name == "..") continue;
      std::string below = folder;
      below.append(name).append("/").append(subMask);
      count += ScanFolder(below, recurse, true);
    }
  }
  return count;
}

// Decides on one listed file and, when it is taken, lists it (its checksum
// comes after the listing).  An unchanged file of an incremental run costs
// the listing's stat and one look-up in the store.
void TFileScan::TakeFile(const std::string& folder, const TSearchRec& rec, int& count) {
  std::string path = folder + rec.name;
  const double time = DosToDateTime(rec.dosTime);
  bool archiveBit = false;
  bool archiveBitKnown = false;
  bool taken = true;
  switch (s_.BackupMode) {
    case BM_Full:
      break;
    case BM_Incremental:
    case BM_Differential:
      archiveBit = bits_.IsSet(path, rec.stamp);
      archiveBitKnown = true;
      taken = archiveBit;
      break;
    case BM_Special:
      taken = time >= s_.SpecialBackupDate;
      break;
  }
  if (!taken) {
    ++t_.leftOut;
    return;
  }
  if ((rec.attr & faHidden) && !s_.BackupHiddenSysFiles) return;

  // The archive keeps at most 255 bytes of a path.  A cut path would name
  // another file (or none): such a file is never opened and never listed.
  if (path.size() > kMaxStringBytes) {
    PathTooLong(path);
    return;
  }
  if (!archiveBitKnown) archiveBit = bits_.IsSet(path, rec.stamp);
  TDirRecord& r = t_.files.emplace_back();
  r.path = std::move(path);
  r.size = static_cast<std::int32_t>(static_cast<std::uint32_t>(rec.size));
  r.fullSize = rec.size;
  r.attr = rec.attr | (archiveBit ? faArchive : 0u);
  r.time = time;
  r.mark = 0;
  r.crc = 0;  // the checksum pass after the listing fills it in
  r.node = rec.node;
  ++count;
}

// A folder the scan went into, as the table keeps it (its own stat: the
// listing gives none of the folder itself).  One that is reached through a
// link is no folder of the set.
void TFileScan::TakeFolder(const std::string& folder) {
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  TNodeMeta node;
  if (path == "/" || !foldersTaken_.insert(path).second) return;
  if (!ReadNodeMeta(path, node) || !S_ISDIR(node.mode)) return;
  t_.extras.push_back(MetaEntryOf(TMetaKind::Folder, node));
  t_.extras.back().path = std::move(path);
}

// A link or a special file listed in a folder: kept in the table only (its
// link text read here, the link never followed).  Hidden ones follow the
// rule of files.
void TFileScan::TakeOther(const std::string& folder, const TSearchRec& rec) {
  if ((rec.attr & faHidden) && !s_.BackupHiddenSysFiles) return;
  const TNodeMeta& node = rec.link ? rec.linkNode : rec.node;
  TMetaKind kind = TMetaKind::Fifo;
  switch (node.mode & S_IFMT) {
    case S_IFLNK:
      kind = TMetaKind::Symlink;
      break;
    case S_IFIFO:
      kind = TMetaKind::Fifo;
      break;
    case S_IFSOCK:
      kind = TMetaKind::Socket;
      break;
    case S_IFCHR:
      kind = TMetaKind::CharDevice;
      break;
    case S_IFBLK:
      kind = TMetaKind::BlockDevice;
      break;
    default:
      return;  // gone or changed since it was listed
  }
  TMetaEntry e = MetaEntryOf(kind, node);
  e.path = folder + rec.name;
  if (kind == TMetaKind::Symlink && (!ReadLinkText(e.path, e.target) || e.target.empty())) return;
  t_.extras.push_back(std::move(e));
}

// A file with more than one name is stored once: each later name of the
// same inode leaves the list and becomes a hard link to the first.
void TFileScan::SeparateHardLinks() {
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::uint32_t> first;
  std::vector<TDirRecord> kept;
  kept.reserve(t_.files.size());
  for (TDirRecord& r : t_.files) {
    if (r.node.nlink > 1) {
      const auto key = std::make_pair(r.node.dev, r.node.ino);
      const auto [at, added] = first.emplace(key, static_cast<std::uint32_t>(kept.size()));
      if (!added) {
        TMetaEntry e = MetaEntryOf(TMetaKind::HardLink, r.node);
        e.index = at->second;
        e.path = std::move(r.path);
        t_.extras.push_back(std::move(e));
        continue;
      }
    }
    kept.push_back(std::move(r));
  }
  t_.files = std::move(kept);
}

// The checksum of every file kept, once the listing and the exclude entries
// are done (an excluded file is never read).  Files are taken one after the
// other by the caller's thread and, for a long list, by more threads: the
// per-file cost is the open, the read and the close.  Only the caller's
// thread asks whether to stop; the others follow its answer.  Nothing is
// reported from here, so no event changes its thread or its order.
void TFileScan::Checksums() {
  std::vector<TDirRecord>& files = t_.files;
  if (s_.NoFileCRCs || files.empty()) return;
  const std::size_t threads =
      std::min(static_cast<std::size_t>(ChecksumThreads(s_)),
               (files.size() + kFilesPerChecksumThread - 1) / kFilesPerChecksumThread);
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex failureLock;
  std::exception_ptr failure;  // the first of a helper thread; set before `stop`
  // The metadata table asks each file for its extended attributes: here on
  // the descriptor already open, so that a file without any costs no look-up
  // by path later.
  const bool xattrs = s_.StoreMetadata && s_.StoreXattrs;
  const auto work = [&files, &next, &stop, xattrs](const std::function<bool()>& stopHere) {
    for (;;) {
      const std::size_t i = next.fetch_add(1);
      if (i >= files.size() || stopHere()) return;
      bool stopped = false;
      files[i].crc = FileCrc(files[i].path, files[i].fullSize, stopHere, stopped,
                             xattrs ? &files[i].node.xattrs : nullptr);
      if (stopped) return;
    }
  };
  std::vector<std::thread> helpers;
  const auto joinAll = [&helpers, &stop] {
    stop = true;
    for (std::thread& t : helpers) t.join();
    helpers.clear();
  };
  try {
    // Helpers the system refuses are done without.
    for (std::size_t h = 1; h < threads; ++h) {
      const bool started = StartThread(helpers, [&work, &stop, &failure, &failureLock] {
        try {
          work([&stop] { return stop.load(std::memory_order_relaxed); });
        } catch (...) {
          const std::lock_guard<std::mutex> lock(failureLock);
          if (!failure) failure = std::current_exception();
          stop = true;
        }
      });
      if (!started) break;
    }
    bool asked = false;  // the caller's answer to "stop?"
    work([&stop, &asked] {
      if (StopRequested()) {
        asked = true;
        stop = true;
      }
      return stop.load(std::memory_order_relaxed);
    });
    // The caller is out of files; the helpers finish the ones they hold.
    for (std::thread& t : helpers) t.join();
    helpers.clear();
    if (failure) std::rethrow_exception(failure);
    if (asked) throw EVX_UserAbortion(engine_txt::kScanCancelled);
  } catch (...) {
    joinAll();
    throw;
  }
}

// A folder the scan could not open or examine: its files are not backed up.
// One that is gone (renamed or removed while the scan ran) is said to be
// missing; the others name the system's reason.
void TFileScan::FolderNotRead(const std::string& folder, int error) {
  ++t_.warnings;
  ++t_.notTaken;
  if (error == ENOENT || error == ENOTDIR) {
    t_.log(engine_txt::kWarning + folder + engine_txt::kEntryMissing);
    return;
  }
  ++t_.foldersNotRead;
  t_.log(engine_txt::kWarning + folder + engine_txt::kFolderNotRead +
         (error != 0 ? ": " + SystemReason(error) : std::string()));
}

// A path longer than the archive can keep: counted and logged as a file that
// cannot be opened; with HandleOpenError AW_ABORT the backup ends with 4.
void TFileScan::PathTooLong(const std::string& path) {
  ++t_.errors;
  ++t_.notTaken;
  const std::string reason = engine_txt::kPathTooLong;
  if (s_.HandleOpenError == AW_ABORT) {
    t_.log(engine_txt::kErrorNo + std::to_string(t_.errors) + engine_txt::kBackupOpenEnds + path +
           reason);
    throw EVX_FileOpenError(engine_txt::kCannotOpen + path);
  }
  t_.log(engine_txt::kErrorNo + std::to_string(t_.errors) + engine_txt::kErrorOnFile + path +
         engine_txt::kFileSkippedOpen + reason);
}

void TVaultrex::ScanFiles(TArchiveBitStore& bits) {
  TFileScan scan(
      *this, bits,
      TScanTarget{fileList_, leftOut_, foldersNotRead_, notTaken_, errors_, warnings_, scanExtras_,
                  scanAnswer_, [this](const std::string& line) { WriteLog(line); },
                  [this] { LetMessagesRun(); }});
  scan.Run();
}

}  // namespace vx
