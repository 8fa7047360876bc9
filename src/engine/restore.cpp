// Restore: writes the selected files of an archive back to disk, and
// ExtractFile, the reader of one file's data blocks that verify shares.
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <exception>
#include <string>
#include <vector>

#include "archive/errors.h"
#include "engine/file_blocks.h"
#include "engine/vaultrex.h"
#include "platform/date_time.h"
#include "platform/file_system.h"
#include "platform/locale.h"
#include "platform/paths.h"
#include "support/utils.h"

namespace vx {

namespace {

// A stored path written on a drive-letter system ("C:\Data\a.txt", "\\srv\x").
bool IsForeignPath(const std::string& path) {
  return (path.size() >= 2 && path[1] == ':') || (!path.empty() && path[0] == '\\');
}

std::vector<std::string> SplitComponents(const std::string& rel) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : rel) {
    if (c == '/') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

bool HasParentComponent(const std::string& rel) {
  for (const std::string& p : SplitComponents(rel)) {
    if (p == "..") return true;
  }
  return false;
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

// Opens `name` in the folder `dirFd` for writing, truncated.  A symbolic link
// there is removed first (never written through), a read-only file gets its
// owner's write permission back; anything but a regular file is refused.
// sizeAtOpen receives the length the file had.
int OpenLeaf(int dirFd, const std::string& name, off_t& sizeAtOpen) {
  if (name.empty() || name == "." || name == "..") {
    errno = EINVAL;
    return -1;
  }
  // O_NONBLOCK: a FIFO at the target must not make the open wait.  The old
  // content is cut to the new length when the file is closed (TTarget): a
  // truncation to zero here would make the file system write every rewritten
  // file through to the disk at once.
  const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  int fd = ::openat(dirFd, name.c_str(), flags, 0666);
  struct stat st {};
  if (fd < 0 && (errno == ELOOP || errno == EACCES || errno == EPERM)) {
    // A link there, or a read-only file the owner may not write to.
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return -1;
    if (S_ISLNK(st.st_mode)) {
      if (::unlinkat(dirFd, name.c_str(), 0) != 0) return -1;
    } else if (S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0) {
      if (::fchmodat(dirFd, name.c_str(), (st.st_mode & 07777) | S_IWUSR, 0) != 0) return -1;
    }
    fd = ::openat(dirFd, name.c_str(), flags, 0666);
  }
  if (fd < 0) return -1;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  // A read-only file opened all the same (by the superuser) gets its owner's
  // write permission back like any other.
  if ((st.st_mode & S_IWUSR) == 0) ::fchmod(fd, (st.st_mode & 07777) | S_IWUSR);
  sizeAtOpen = st.st_size;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

// Folders kept open from one target to the next during a restore run
// (TFolderCacheScope; without one every target finds its folders anew):
// RestoreTo, below which each target's folder is then found in one step, and
// for a restore to the stored paths the folder of the last target, as the
// files of a set lie folder by folder.
class TFolderCache {
 public:
  int Find(const std::string& folder) const { return folder == folder_ ? fd_.get() : -1; }
  void Keep(const std::string& folder, int fd) {
    folder_ = folder;
    fd_.reset(fd);
  }
  int Root(const std::string& root) const { return root == root_ ? rootFd_.get() : -1; }
  void KeepRoot(const std::string& root, int fd) {
    root_ = root;
    rootFd_.reset(fd);
  }

 private:
  std::string folder_;
  TFd fd_;
  std::string root_;
  TFd rootFd_;
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

// Creates the target file with its missing folders.  Below `root` (a
// redirected restore) every folder is entered without following links and
// ".." is refused, so nothing can be written outside root.
int CreateTarget(const std::string& target, const std::string& root, off_t& sizeAtOpen) {
  if (!root.empty() && target.size() > root.size() && target.compare(0, root.size(), root) == 0) {
    const std::vector<std::string> parts = SplitComponents(target.substr(root.size()));
    if (parts.empty()) {
      errno = EINVAL;
      return -1;
    }
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
      if (parts[i] == "..") {
        errno = EINVAL;
        return -1;
      }
    }
    TFd dir;
    int rootFd = tFolders != nullptr ? tFolders->Root(root) : -1;
    if (rootFd < 0) {
      ForceDirectories(root);
      dir.reset(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (dir.get() < 0) return -1;
      if (tFolders != nullptr) tFolders->KeepRoot(root, dir.release());
      rootFd = tFolders != nullptr ? tFolders->Root(root) : dir.get();
    }
    if (parts.size() == 1) return OpenLeaf(rootFd, parts.back(), sizeAtOpen);
    // Mostly the folder is there already and found in one step.
    std::string rel = parts[0];
    for (std::size_t i = 1; i + 1 < parts.size(); ++i) rel += "/" + parts[i];
    const int found = OpenBeneath(rootFd, rel);
    if (found >= 0) {
      dir.reset(found);
      return OpenLeaf(dir.get(), parts.back(), sizeAtOpen);
    }
    if (dir.get() < 0) dir.reset(::fcntl(rootFd, F_DUPFD_CLOEXEC, 0));
    if (dir.get() < 0) return -1;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
      const std::string& p = parts[i];
      if (p == ".") continue;
      const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
      int next = ::openat(dir.get(), p.c_str(), flags);
      if (next < 0 && errno == ENOENT) {
        if (::mkdirat(dir.get(), p.c_str(), 0777) != 0 && errno != EEXIST) return -1;
        next = ::openat(dir.get(), p.c_str(), flags);
      }
      if (next < 0) return -1;
      dir.reset(next);
    }
    return OpenLeaf(dir.get(), parts.back(), sizeAtOpen);
  }
  const std::string folder = ExtractFilePath(target);
  if (folder.empty()) return OpenLeaf(AT_FDCWD, target, sizeAtOpen);
  const int cached = tFolders != nullptr ? tFolders->Find(folder) : -1;
  if (cached >= 0) return OpenLeaf(cached, ExtractFileName(target), sizeAtOpen);
  if (folder.size() > 1) ForceDirectories(folder);
  TFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) return -1;
  const int fd = OpenLeaf(dir.get(), ExtractFileName(target), sizeAtOpen);
  if (tFolders != nullptr) tFolders->Keep(folder, dir.release());
  return fd;
}

// A target file being written: whatever happens, it ends as long as the
// bytes written to it, never with a tail of its former content.
class TTarget {
 public:
  TTarget() = default;
  ~TTarget() { Close(); }
  TTarget(const TTarget&) = delete;
  TTarget& operator=(const TTarget&) = delete;
  void Open(int fd, off_t sizeAtOpen) {
    fd_ = fd;
    sizeAtOpen_ = sizeAtOpen;
  }
  int fd() const { return fd_; }
  void Wrote(std::size_t n) { written_ += static_cast<off_t>(n); }
  // A write that failed may have left part of its bytes behind.
  void WriteFailed() { partial_ = true; }
  // false when cutting or closing failed.
  bool Close() {
    if (fd_ < 0) return true;
    // Written from the start on, the file is as long as what was written
    // unless it was longer before or a write stopped halfway.
    bool ok = (sizeAtOpen_ <= written_ && !partial_) || ::ftruncate(fd_, written_) == 0;
    ok = ::close(fd_) == 0 && ok;
    fd_ = -1;
    return ok;
  }

 private:
  int fd_ = -1;
  off_t sizeAtOpen_ = 0;
  off_t written_ = 0;
  bool partial_ = false;
};

bool WriteAll(int fd, const std::uint8_t* data, std::size_t len) {
  while (len > 0) {
    const ssize_t n = ::write(fd, data, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    data += n;
    len -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string Now() { return FormatDateTimeC(NowDateTime()); }

}  // namespace

bool TVaultrex::MatchIncludeLine(const std::string& line, const std::string& path, bool recurse) {
  std::string entry = line;
  const bool own = StripRecursionMarker(entry);
  if (entry.empty()) return false;
  if (IsForeignPath(path)) {
    // Paths of a drive-letter system: their folders end in "\".
    std::string p = path;
    for (char& c : p) c = c == '\\' ? '/' : c;
    for (char& c : entry) c = c == '\\' ? '/' : c;
    return MatchExclude(entry, p, recurse || own);
  }
  return MatchExclude(entry, path, recurse || own);
}

void TVaultrex::ExtractFile(const TDirRecord& record, TArchiveStream& stream, bool encrypted,
                            const std::string& target) {
  (void)record;
  TTarget out;
  bool writing = !target.empty();
  int createErrno = 0;
  bool writeFailed = false;
  extractCrc_ = kCrcInit;
  if (writing) {
    off_t sizeAtOpen = 0;
    const int fd = CreateTarget(target, restoreRoot_, sizeAtOpen);
    out.Open(fd, sizeAtOpen);
    if (out.fd() < 0) {
      // The file's data are still read past, so the next file starts right.
      createErrno = errno;
      writing = false;
    }
  }
  if (!codec_) codec_ = std::make_unique<TBlockCodec>();
  TBlockSink sink;
  if (writing) {
    sink = [&](const std::uint8_t* raw, std::size_t n) {
      if (!WriteAll(out.fd(), raw, n)) {
        out.WriteFailed();
        writeFailed = true;
        return false;
      }
      out.Wrote(n);
      extractCrc_ = FastCrcUpdate(extractCrc_, raw, n);
      return true;
    };
  }
  ReadFileBlocks(stream, *codec_, buffer1_.data(), encrypted, encrypted ? cipher_.get() : nullptr,
                 sink);
  if (!out.Close()) writeFailed = true;
  if (createErrno != 0)
    throw EVX_FileWriteError("Chyba I/O  (#" + std::to_string(createErrno) + ") počas " +
                             "vytvárania dočasného súboru");
  if (writeFailed) throw EVX_FileWriteError("Chyba pri zápise - nemožno zapísať všetky byty.");
}

int TVaultrex::Restore() {
  PrepareCipher();
  int result = 0;
  int insertLine = 0;
  std::exception_ptr foreign;
  std::unique_ptr<TArchiveStream> stream;
  TFolderCacheScope folders;
  restoreRoot_.clear();
  errors_ = 0;
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
    if (!BackupToTape && (BackupDestination.empty() || ArchiveBaseName.empty()))
      throw EVX_ParameterError("Je potrebné určiť kam sa má záloha uložiť");
    if (EncryptData && EncryptKey.empty()) throw EVX_ParameterError("Chýba heslo na dešifrovanie");
    if (SpanDisks && ArchiveBaseName.find('.') != std::string::npos)
      throw EVX_ParameterError("Pri delení zálohy nesmie byť určená koncovka súboru zálohy");
    if (EncryptData && EncryptKey.size() < 8)
      throw EVX_WrongPassword("Krátke heslo (min. 8 znakov)");

    if (SpanDisks && !BackupToTape && !BackupToFTP) CheckFirstMedium();
    stream = OpenStream(TStreamMode::Read, IncludeBackslash(BackupDestination) + ArchiveBaseName, 0);
    TArchiveHeader header;
    ReadArchiveHeader(*stream, header, "Poškodený zálohový súbor",
                      "Chýba magické číslo - špatný formát súboru");
    ReadDirectory(*stream);
    Comment = header.comment;

    for (TDirRecord& r : fileList_) {
      r.mark = 1;
      for (const std::string& line : IncludeNames) {
        if (line.empty()) continue;
        if (MatchIncludeLine(line, r.path, RecurseSubDir)) {
          r.mark = 0;
          break;
        }
      }
    }

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
    int skipCount = 0;

    for (const TDirRecord& r : fileList_) {
      if (r.mark == 1) {
        if (tape)
          ++skipCount;
        else
          ExtractFile(r, *stream, header.encrypted, "");
        continue;
      }

      // The target, and why it may not be written.
      std::string target = r.path;
      std::string refusal;
      if (RedirectRestore) {
        std::string shortPath = r.path;
        if (IsForeignPath(shortPath)) {
          if (shortPath.size() >= 2 && shortPath[1] == ':') shortPath.erase(0, 2);
          for (char& c : shortPath) c = c == '\\' ? '/' : c;
        }
        if (!shortPath.empty() && shortPath[0] == '/') shortPath.erase(0, 1);
        target = FlatRestore ? RestoreTo + ExtractFileName(shortPath) : RestoreTo + shortPath;
        if (HasParentComponent(FlatRestore ? ExtractFileName(shortPath) : shortPath))
          refusal = "Cesta obsahuje \"..\" a viedla by mimo cieľového priečinka";
        else if (ExtractFileName(shortPath).empty() || ExtractFileName(shortPath) == ".")
          refusal = "Cesta neobsahuje meno súboru";
      } else if (target.empty() || target[0] != '/') {
        refusal = "Uložená cesta nie je úplná, obnovte ju do zvoleného priečinka";
      }

      bool restore = refusal.empty();
      if (restore && RestoreMode != RM_All) {
        struct stat st {};
        const bool exists = ::lstat(target.c_str(), &st) == 0;
        if (!exists) {
          restore = RestoreMode == RM_NewerAndNew;
        } else {
          // An existing target whose time cannot be read is restored: nothing
          // shows that it is newer, and a write that fails is logged.
          const std::uint32_t dos = GetFileDate(target);
          restore = dos == 0 || DosToDateTime(dos) < r.time;
        }
      }

      if (!restore) {
        if (!refusal.empty()) {
          ++errors_;
          WriteLog("Chyba (" + refusal + ") sa vyskytla počas obnovy " + r.path);
        }
        if (tape)
          ++skipCount;
        else
          ExtractFile(r, *stream, header.encrypted, "");
      } else {
        try {
          if (tape) {
            if (skipCount > 0) {
              stream->Destination()->SkipFilemarks(skipCount);
              stream->FlushToBlockEnd();
            }
            skipCount = 1;
          }
          ExtractFile(r, *stream, header.encrypted, target);
          if (!NoFileCRCs && extractCrc_ != r.crc)
            throw EVX_CRCError(
                "Kontrolný súčet súboru je iný ako u originálneho súboru - súbor môže byť "
                "poškodený");
          SetFileDateTime(target, DateTimeToDos(r.time));
          if (RestoreAttributes) SetFileAttributes(target, r.attr);
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
        }
      }

      ReportFileRead(stat, r);
    }
    if (tape && EjectTape) stream->Destination()->Unload();
    stream->Close();
  } catch (const std::exception& e) {
    result = ResultCodeOf(e, {TFurther::FileWrite, TFurther::UserAbortion, TFurther::WrongMedium,
                              TFurther::WrongPassword, TFurther::FTP});
    if (dynamic_cast<const EVX_Error*>(&e) == nullptr) foreign = std::current_exception();
  }
  stream.reset();
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
