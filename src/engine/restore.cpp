// Restore: writes the selected files of an archive back to disk, and
// ExtractFile, the reader of one file's data blocks that verify shares.
//
// Every file is written to a new file beside its target and put in its place
// by a rename only when it came out whole, so a file already on disk is never
// truncated for data that then fail.
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <exception>
#include <fstream>
#include <string>
#include <vector>

#include "archive/errors.h"
#include "engine/read_set.h"
#include "engine/texts.h"
#include "engine/vaultrex.h"
#include "platform/date_time.h"
#include "platform/file_system.h"
#include "platform/locale.h"
#include "platform/paths.h"
#include "support/utils.h"

namespace vx {

namespace {

// The restore's own texts for a file it refuses or cannot put in place.
const char* const kParentComponent = "Cesta obsahuje \"..\" a viedla by mimo cieľového priečinka";
const char* const kBadComponent =
    "Uložená cesta obsahuje prázdnu časť, \".\" alebo znak NUL";
const char* const kNoFileName = "Cesta neobsahuje meno súboru";
const char* const kNotAbsolute = "Uložená cesta nie je úplná, obnovte ju do zvoleného priečinka";
const char* const kForeignLink =
    "Cesta vedie cez odkaz na priečinok, ktorý nepatrí vám ani správcovi";
const char* const kSizeDiffers = "Dĺžka dát v zálohe nezodpovedá dĺžke súboru";
const char* const kCannotCreate = "vytvárania dočasného súboru";
const char* const kWriteFailed = "Chyba pri zápise - nemožno zapísať všetky byty.";
const char* const kCrcDiffers =
    "Kontrolný súčet súboru je iný ako u originálneho súboru - súbor môže byť poškodený";

std::string IoError(int err) {
  return "Chyba I/O  (#" + std::to_string(err) + ") počas " + kCannotCreate;
}

bool DiskFullErrno(int err) { return err == ENOSPC || err == EDQUOT; }

// A stored path written on a drive-letter system ("C:\Data\a.txt", "\\srv\x").
bool IsForeignPath(const std::string& path) {
  return (path.size() >= 2 && path[1] == ':') || (!path.empty() && path[0] == '\\');
}

std::vector<std::string> SplitComponents(const std::string& rel) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : rel) {
    if (c == '/') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  parts.push_back(part);
  return parts;
}

// Why a path relative to its starting folder may not be restored: a NUL
// byte, or a component that is empty, "." or "..".  Empty when it may.
std::string PathRefusal(const std::string& rel) {
  if (rel.find('\0') != std::string::npos) return kBadComponent;
  for (const std::string& p : SplitComponents(rel)) {
    if (p == "..") return kParentComponent;
    if (p.empty() || p == ".") return kBadComponent;
  }
  return {};
}

class TFd {
 public:
  explicit TFd(int fd = -1) : fd_(fd) {}
  ~TFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int get() const { return fd_; }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// The permission bits a new file gets: 0666 less the process's umask, read
// without changing it.
mode_t NewFileMode() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Umask:", 0) == 0) {
      try {
        return static_cast<mode_t>(0666 & ~std::stoul(line.substr(6), nullptr, 8));
      } catch (const std::exception&) {
        break;
      }
    }
  }
  return 0644;
}

// Enters `path` (components separated by "/"; an absolute one from "/")
// starting at dir, creating missing folders when create is set.  A symbolic
// link on the way is followed only when followOwned is set and the link
// belongs to root or to the user running the restore; its text is entered
// the same way.  Returns 0 or an errno value; refused tells that a link was
// the reason.
int EnterFolders(TFd& dir, const std::string& path, bool create, bool followOwned, int depth,
                 bool& refused) {
  if (!path.empty() && path[0] == '/') {
    dir.reset(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) return errno;
  }
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  for (const std::string& p : SplitComponents(path)) {
    if (p.empty() || p == ".") continue;
    int next = ::openat(dir.get(), p.c_str(), flags);
    if (next < 0 && errno == ENOENT && create) {
      if (::mkdirat(dir.get(), p.c_str(), 0777) != 0 && errno != EEXIST) return errno;
      next = ::openat(dir.get(), p.c_str(), flags);
    }
    if (next < 0 && (errno == ELOOP || errno == ENOTDIR)) {
      const int openErr = errno;
      struct stat st {};
      if (::fstatat(dir.get(), p.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
      if (!S_ISLNK(st.st_mode)) return openErr;
      if (!followOwned || (st.st_uid != 0 && st.st_uid != ::geteuid())) {
        refused = followOwned;
        return ELOOP;
      }
      if (depth >= 40) return ELOOP;
      std::array<char, 4097> text{};
      const ssize_t n = ::readlinkat(dir.get(), p.c_str(), text.data(), text.size() - 1);
      if (n < 0) return errno;
      TFd linked(::fcntl(dir.get(), F_DUPFD_CLOEXEC, 0));
      if (linked.get() < 0) return errno;
      const int err = EnterFolders(linked, std::string(text.data(), static_cast<std::size_t>(n)),
                                   false, followOwned, depth + 1, refused);
      if (err != 0) return err;
      dir.reset(linked.release());
      continue;
    }
    if (next < 0) return errno;
    dir.reset(next);
  }
  return 0;
}

// Opens the folder `rel` below rootFd in one call, refusing any symbolic link
// on the way and any way out of root; -1 when it does not exist yet or the
// kernel cannot do it (the caller then goes component by component).
int OpenBeneath(int rootFd, const std::string& rel) {
  open_how how{};
  how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  long fd;
  do {
    fd = ::syscall(SYS_openat2, rootFd, rel.c_str(), &how, sizeof how);
  } while (fd < 0 && (errno == EINTR || errno == EAGAIN));
  return static_cast<int>(fd);
}

// Folders kept open from one target to the next during a restore run:
// RestoreTo, and the folder of the last target, as the files of a set lie
// folder by folder.
struct TFolderCache {
  std::string root;
  TFd rootFd;
  std::string folder;
  TFd folderFd;
};

thread_local TFolderCache* tFolders = nullptr;

class TFolderCacheScope {
 public:
  TFolderCacheScope() : previous_(tFolders) { tFolders = &cache_; }
  ~TFolderCacheScope() { tFolders = previous_; }
  TFolderCacheScope(const TFolderCacheScope&) = delete;
  TFolderCacheScope& operator=(const TFolderCacheScope&) = delete;

 private:
  TFolderCache cache_;
  TFolderCache* previous_;
};

// Opens (creating it when missing) the folder a target goes into.  Below
// root (a redirected restore) no symbolic link is followed at all; for a
// restore to the stored paths a folder link is followed only when it belongs
// to root or to the running user.  Returns the folder (a descriptor of its
// own) or -1 with err set; refused tells that a link was the reason.
int OpenTargetFolder(const std::string& folder, const std::string& root, int& err,
                     bool& refused) {
  TFolderCache local;
  TFolderCache& cache = tFolders != nullptr ? *tFolders : local;
  err = 0;
  refused = false;
  if (cache.folderFd.get() >= 0 && cache.folder == folder)
    return ::fcntl(cache.folderFd.get(), F_DUPFD_CLOEXEC, 0);
  TFd dir;
  if (!root.empty()) {
    if (cache.rootFd.get() < 0 || cache.root != root) {
      ForceDirectories(root);
      cache.rootFd.reset(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      cache.root = root;
      if (cache.rootFd.get() < 0) {
        err = errno;
        return -1;
      }
    }
    const std::string rel = folder.substr(root.size());
    const int found = rel.empty() ? -1 : OpenBeneath(cache.rootFd.get(), rel);
    if (found >= 0) {
      dir.reset(found);
    } else {
      dir.reset(::fcntl(cache.rootFd.get(), F_DUPFD_CLOEXEC, 0));
      if (dir.get() < 0) {
        err = errno;
        return -1;
      }
      err = EnterFolders(dir, rel, true, false, 0, refused);
    }
  } else {
    err = EnterFolders(dir, folder, true, true, 0, refused);
  }
  if (err != 0) return -1;
  cache.folder = folder;
  cache.folderFd.reset(::fcntl(dir.get(), F_DUPFD_CLOEXEC, 0));
  return dir.release();
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t len, int& err) {
  while (len > 0) {
    const ssize_t n = ::write(fd, data, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return false;
    }
    if (n == 0) {
      err = ENOSPC;
      return false;
    }
    data += n;
    len -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string Now() { return FormatDateTimeC(NowDateTime()); }

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

}  // namespace

// One restored file on its way: a new file with a private name beside the
// target, renamed over the target only by Commit.  Whatever does not reach
// Commit is removed again.
class TRestoreFile {
 public:
  TRestoreFile() = default;
  ~TRestoreFile() { Discard(); }
  TRestoreFile(const TRestoreFile&) = delete;
  TRestoreFile& operator=(const TRestoreFile&) = delete;

  // Prepares the new file for target; root is RestoreTo for a redirected
  // restore, empty otherwise.  false with Failure() when it cannot.
  bool Create(const std::string& target, const std::string& root) {
    const std::string folder = ExtractFilePath(target);
    name_ = ExtractFileName(target);
    bool refused = false;
    dir_.reset(OpenTargetFolder(folder.empty() ? std::string("./") : folder, root, err_, refused));
    if (dir_.get() < 0) {
      if (refused) refusal_ = kForeignLink;
      return false;
    }
    struct stat st {};
    if (::fstatat(dir_.get(), name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      // A file or a link is replaced; a folder, FIFO or device is left alone.
      if (S_ISDIR(st.st_mode)) return Fail(EISDIR);
      if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return Fail(EINVAL);
      existed_ = true;
      if (S_ISREG(st.st_mode)) oldMode_ = static_cast<int>(st.st_mode & 07777);
    } else if (errno != ENOENT) {
      return Fail(errno);
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::array<unsigned char, 8> random{};
      if (::getrandom(random.data(), random.size(), 0) != static_cast<ssize_t>(random.size()))
        return Fail(errno);
      static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
      std::string temp = ".vx-restore-";
      for (unsigned char c : random) temp += kChars[c % 36];
      const int fd = ::openat(dir_.get(), temp.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd >= 0) {
        fd_.reset(fd);
        temp_ = temp;
        return true;
      }
      if (errno != EEXIST) return Fail(errno);
    }
    return Fail(EEXIST);
  }

  bool Ready() const { return fd_.get() >= 0; }
  bool Existed() const { return existed_; }
  int Error() const { return err_; }
  // The text of a failure to create or commit.
  std::string Failure() const { return refusal_.empty() ? IoError(err_) : refusal_; }
  std::int64_t Bytes() const { return bytes_; }
  std::uint32_t Crc() const { return crc_; }
  bool WriteFailed() const { return writeFailed_; }

  bool Write(const std::uint8_t* data, std::size_t n) {
    if (!WriteAll(fd_.get(), data, n, err_)) {
      writeFailed_ = true;
      return false;
    }
    bytes_ += static_cast<std::int64_t>(n);
    crc_ = FastCrcUpdate(crc_, data, n);
    return true;
  }

  // Gives the new file its time and permissions and renames it over the
  // target; a replaced file's content reaches the disk before the rename.
  bool Commit(double time, bool applyAttributes, std::uint32_t attributes, mode_t newMode) {
    mode_t mode = oldMode_ >= 0 ? static_cast<mode_t>(oldMode_) : newMode;
    if (applyAttributes) {
      if (attributes & faReadOnly)
        mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
      else
        mode |= S_IWUSR;
    }
    ::fchmod(fd_.get(), mode);
    timespec times[2];
    times[0].tv_sec = static_cast<time_t>(DosToUnix(DateTimeToDos(time)));
    times[0].tv_nsec = 0;
    times[1] = times[0];
    ::futimens(fd_.get(), times);
    if (existed_ && ::fsync(fd_.get()) != 0 && errno != EINVAL) return Fail(errno);
    if (::close(fd_.release()) != 0 && errno != EINTR) return Fail(errno);
    int rc;
    if (existed_) {
      rc = ::renameat(dir_.get(), temp_.c_str(), dir_.get(), name_.c_str());
    } else {
      // Nothing was there: nothing that appeared meanwhile is replaced.
      rc = static_cast<int>(::syscall(SYS_renameat2, dir_.get(), temp_.c_str(), dir_.get(),
                                      name_.c_str(), RENAME_NOREPLACE));
      if (rc != 0 && (errno == EINVAL || errno == ENOSYS))
        rc = ::renameat(dir_.get(), temp_.c_str(), dir_.get(), name_.c_str());
    }
    if (rc != 0) return Fail(errno);
    temp_.clear();
    return true;
  }

  void Discard() {
    fd_.reset(-1);
    if (!temp_.empty() && dir_.get() >= 0) ::unlinkat(dir_.get(), temp_.c_str(), 0);
    temp_.clear();
  }

 private:
  bool Fail(int err) {
    err_ = err;
    return false;
  }

  TFd dir_;
  TFd fd_;
  std::string name_;
  std::string temp_;
  std::string refusal_;
  int err_ = 0;
  bool existed_ = false;
  int oldMode_ = -1;
  bool writeFailed_ = false;
  std::int64_t bytes_ = 0;
  std::uint32_t crc_ = kCrcInit;
};

// A list line selects a stored path as an include entry finds files: the
// line's name part matches the path's file name as the directory search
// matches masks (whole name, "*.*" takes every name); a line without a folder
// matches in any folder, otherwise its folder must equal the path's folder
// (case ignored) or, recursing, occur within it.
bool TVaultrex::MatchIncludeLine(const std::string& line, const std::string& path, bool recurse) {
  std::string entry = line;
  const bool own = StripRecursionMarker(entry);
  if (entry.empty()) return false;
  std::string p = path;
  if (IsForeignPath(path)) {
    // Paths of a drive-letter system: their folders end in "\".
    for (char& c : p) c = c == '\\' ? '/' : c;
    for (char& c : entry) c = c == '\\' ? '/' : c;
  }
  const std::string mask = ExtractFileName(entry);
  if (mask.empty() || !MatchSearchMask(mask, ExtractFileName(p))) return false;
  const std::string entryFolder = LowerAscii(ExtractFilePath(entry));
  if (entryFolder.empty()) return true;
  const std::string pathFolder = LowerAscii(ExtractFilePath(p));
  if (recurse || own) return pathFolder.find(entryFolder) != std::string::npos;
  return pathFolder == entryFolder;
}

void TVaultrex::BlockRead() {
  if (readStat_ == nullptr) return;
  ++blocksSinceReport_;
  const std::uint64_t now = TickCountMs();
  if (blocksSinceReport_ < kBlocksPerReport && now - lastReportTick_ < kReportIntervalMs) return;
  blocksSinceReport_ = 0;
  lastReportTick_ = now;
  LetMessagesRun();
  if (ReportStatistic(*readStat_)) throw EVX_UserAbortion("Prerušené užívateľom");
}

void TVaultrex::ExtractFile(const TDirRecord& record, TArchiveReader& reader,
                            TRestoreFile* target) {
  if (readStat_ != nullptr) {
    readStat_->CurrentFile = record.path;
    readStat_->CurrentFileSize = record.size;
  }
  TBlockTaker take;
  if (target != nullptr && target->Ready()) {
    take = [target](const std::uint8_t* raw, std::size_t n) { return target->Write(raw, n); };
  }
  reader.ReadFile(take, [this] { BlockRead(); });
  if (target == nullptr) return;
  if (!target->Ready() && !target->WriteFailed()) {
    if (DiskFullErrno(target->Error())) targetDiskFull_ = true;
    throw EVX_FileWriteError(target->Failure());
  }
  if (target->WriteFailed()) {
    if (DiskFullErrno(target->Error())) targetDiskFull_ = true;
    throw EVX_FileWriteError(kWriteFailed);
  }
}

bool TVaultrex::SelectedForRestore(const std::string& path) const {
  for (const std::string& line : IncludeNames) {
    if (!line.empty() && MatchIncludeLine(line, path, RecurseSubDir)) return true;
  }
  return false;
}

TVaultrex::TRestorePlan TVaultrex::PlanRestore(const TDirRecord& r) const {
  const std::string restoreTo = IncludeBackslash(RestoreTo);
  TRestorePlan plan;
  std::string& target = plan.target;
  std::string& refusal = plan.refusal;
  target = r.path;
  if (RedirectRestore) {
    std::string shortPath = r.path;
    if (IsForeignPath(shortPath)) {
      if (shortPath.size() >= 2 && shortPath[1] == ':') shortPath.erase(0, 2);
      for (char& c : shortPath) c = c == '\\' ? '/' : c;
      // "\\server\share": both leading separators go.
      while (shortPath.size() > 1 && shortPath[0] == '/' && shortPath[1] == '/')
        shortPath.erase(0, 1);
    }
    if (!shortPath.empty() && shortPath[0] == '/') shortPath.erase(0, 1);
    target = FlatRestore ? restoreTo + ExtractFileName(shortPath) : restoreTo + shortPath;
    refusal = PathRefusal(shortPath);
    if (refusal.empty() && ExtractFileName(shortPath).empty()) refusal = kNoFileName;
  } else if (target.empty() || target[0] != '/') {
    refusal = target.find('\0') != std::string::npos ? kBadComponent : kNotAbsolute;
  } else {
    refusal = PathRefusal(target.substr(1));
  }

  bool& restore = plan.restore;
  restore = refusal.empty();
  if (restore && RestoreMode != RM_All) {
    struct stat st {};
    const bool exists = ::lstat(target.c_str(), &st) == 0;
    plan.exists = exists;
    if (!exists) {
      restore = RestoreMode == RM_NewerAndNew;
    } else {
      // An existing target whose time cannot be read is restored: nothing
      // shows that it is newer, and a write that fails is logged.
      const std::uint32_t dos = GetFileDate(target);
      restore = dos == 0 || DosToDateTime(dos) < r.time;
    }
  }
  if (refusal.empty() && RestoreMode == RM_All) {
    struct stat st {};
    plan.exists = ::lstat(target.c_str(), &st) == 0;
  }
  return plan;
}

int TVaultrex::Restore() {
  PrepareCipher();
  int result = 0;
  int insertLine = 0;
  std::exception_ptr foreign;
  std::unique_ptr<TReadSet> set;
  TFolderCacheScope folders;
  restoreRoot_.clear();
  errors_ = 0;
  targetDiskFull_ = false;
  readStat_ = nullptr;
  try {
    OpenLog(insertLine);
    if (BackupToTape)
      WriteLog("Štart obnovovania z pásky o " + Now());
    else
      WriteLog("Štart obnovy z " + BackupDestination + "  " + Now());
    if (RedirectRestore)
      WriteLog("Obnoviť do " + RestoreTo + " pôvodného umiestnenia");
    else
      WriteLog("Obnoviť na pôvodné miesto");
    WriteLog("");

    if (RedirectRestore && RestoreTo.empty())
      throw EVX_ParameterError("Nutné určiť miesto kam sa majú súbory obnoviť");
    CheckReadSettings(*this, {.noPlace = engine_txt::kRestoreNoPlace,
                              .noPassword = engine_txt::kRestoreNoPassword,
                              .extension = engine_txt::kRestoreExtension,
                              .shortPassword = engine_txt::kShortPassword});
    set = std::make_unique<TReadSet>(*this);
    set->Open({engine_txt::kRestoreCutHeader, engine_txt::kRestoreForeign});
    set->ReadDirectory(fileList_);
    TArchiveStream* const stream = &set->Stream();
    const TArchiveHeader& header = set->Header();
    Comment = header.comment;

    for (TDirRecord& r : fileList_) r.mark = SelectedForRestore(r.path) ? 0 : 1;

    TExtBackupStatistic& stat = stream->Statistic;
    stat.PercentDone = 0;
    stat.TotalBytes = 0;
    stat.BytesRead = 0;
    stat.BytesWritten = 0;
    stat.FilesDone = 0;
    for (const TDirRecord& r : fileList_)
      if (r.mark == 0) stat.TotalBytes += r.size;

    RestoreTo = IncludeBackslash(RestoreTo);
    if (RedirectRestore) restoreRoot_ = RestoreTo;
    const bool tape = stream->IsTape();
    const mode_t newMode = NewFileMode();
    int skipCount = 0;
    StartBlockReports(stat);

    for (const TDirRecord& r : fileList_) {
      if (r.mark == 1) {
        if (tape)
          ++skipCount;
        else
          ExtractFile(r, set->Reader(), nullptr);
        continue;
      }

      // The target, and why it may not be written.
      const TRestorePlan plan = PlanRestore(r);
      const std::string& target = plan.target;
      const std::string& refusal = plan.refusal;
      const bool restore = plan.restore;

      if (!restore) {
        if (!refusal.empty()) {
          ++errors_;
          WriteLog("Chyba (" + refusal + ") sa vyskytla počas obnovy " + r.path);
        }
        if (tape)
          ++skipCount;
        else
          ExtractFile(r, set->Reader(), nullptr);
      } else {
        try {
          if (tape) {
            if (skipCount > 0) {
              stream->Destination()->SkipFilemarks(skipCount);
              stream->FlushToBlockEnd();
            }
            skipCount = 1;
          }
          TRestoreFile out;
          out.Create(target, restoreRoot_);
          ExtractFile(r, set->Reader(), &out);
          // The directory keeps the low 32 bits of the size.
          if (static_cast<std::uint32_t>(out.Bytes()) != static_cast<std::uint32_t>(r.size))
            throw EVX_BackupReadError(kSizeDiffers);
          // A stored checksum of 0 means the backup computed none.
          const bool crcMatches = NoFileCRCs || r.crc == 0 || out.Crc() == r.crc;
          // Data that changed during their backup never replace a file, but
          // are kept where nothing else stands.
          if (!crcMatches && out.Existed()) throw EVX_CRCError(kCrcDiffers);
          if (!out.Commit(r.time, RestoreAttributes, r.attr, newMode)) {
            if (DiskFullErrno(out.Error())) targetDiskFull_ = true;
            throw EVX_FileWriteError(out.Failure());
          }
          if (RestoreAttributes) SetFileAttributes(target, r.attr);
          if (!crcMatches) throw EVX_CRCError(kCrcDiffers);
          WriteLog(r.path + " OK obnovené  do " + target);
        } catch (const EVX_CRCError& e) {
          ++errors_;
          WriteLog("Chaba (" + std::string(e.what()) + ") sa vyskytla počas obnovy " + r.path);
        } catch (const EVX_FileWriteError& e) {
          ++errors_;
          WriteLog("Chyba (" + std::string(e.what()) + ") sa vyskytla počas obnovy " + r.path);
        } catch (const EVX_BackupReadError& e) {
          ++errors_;
          WriteLog("Chyba (" + std::string(e.what()) + ") sa vyskytla počas obnovy " + r.path);
        } catch (const EVX_ZipError& e) {
          ++errors_;
          WriteLog("Chyba (" + std::string(e.what()) + ") sa vyskytla počas obnovy " + r.path);
        }
      }

      ReportFileRead(stat, r);
    }
    readStat_ = nullptr;
    if (tape && EjectTape) stream->Destination()->Unload();
    stream->Close();
    // A selected file that did not come back whole fails the run.
    if (errors_ > 0) result = targetDiskFull_ ? 2 : 9;
  } catch (const std::exception& e) {
    result = ResultCodeOf(e, {TFurther::FileWrite, TFurther::UserAbortion, TFurther::WrongMedium,
                              TFurther::WrongPassword, TFurther::FTP});
    if (dynamic_cast<const EVX_Error*>(&e) == nullptr) foreign = std::current_exception();
  }
  readStat_ = nullptr;
  set.reset();
  restoreRoot_.clear();
  if (result == 0) {
    WriteLog("");
    WriteLog("Ukončené  " + Now());
  } else {
    WriteLog(ErrorText(result));
  }
  CloseLog();
  if (foreign) std::rethrow_exception(foreign);
  return result;
}

}  // namespace vx
