// Writing files below a chosen folder.
#include "platform/target_writer.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "platform/date_time.h"
#include "platform/paths.h"
#include "support/strings.h"

namespace vx {

namespace {

constexpr int kMaxLinkDepth = 40;
constexpr int kTemporaryNameAttempts = 100;

TFd DupFd(const TFd& fd) { return TFd(::fcntl(fd.Get(), F_DUPFD_CLOEXEC, 0)); }

std::function<void(const std::string&)> linkCheckedHook;

// Where a component that is no folder leads: into the link's text when it
// is a link that may be followed.  Returns 0 or an errno value.
int EnterFolders(TFd& dir, const std::string& path, bool create, bool followOwned, int depth,
                 bool& refused, bool& created);

// The link is opened itself (O_PATH | O_NOFOLLOW) and both its owner and its
// text are read through that one descriptor: a link swapped for another one
// after the owner was checked cannot lend its text to the check's verdict.
int FollowLink(TFd& dir, const std::string& name, int openErr, bool followOwned, int depth,
               bool& refused, bool& created) {
  const TFd link(::openat(dir.Get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!link) return errno;
  struct stat st {};
  if (::fstat(link.Get(), &st) != 0) return errno;
  if (!S_ISLNK(st.st_mode)) return openErr;
  if (!followOwned || (st.st_uid != 0 && st.st_uid != ::geteuid())) {
    refused = followOwned;
    return ELOOP;
  }
  if (depth >= kMaxLinkDepth) return ELOOP;
  if (linkCheckedHook) linkCheckedHook(name);
  std::array<char, 4097> text{};
  const ssize_t n = ::readlinkat(link.Get(), "", text.data(), text.size() - 1);
  if (n < 0) return errno;
  TFd linked = DupFd(dir);
  if (!linked) return errno;
  const int err = EnterFolders(linked, std::string(text.data(), static_cast<std::size_t>(n)), false,
                               followOwned, depth + 1, refused, created);
  if (err != 0) return err;
  dir = std::move(linked);
  return 0;
}

// Enters `path` (components separated by "/"; an absolute one from "/")
// starting at dir, creating missing folders when create is set.  A symbolic
// link on the way is followed only when followOwned is set and the link
// belongs to root or to the user running the restore; its text is entered
// the same way.  Returns 0 or an errno value; refused tells that a link was
// the reason; created whether the folder reached was made by this call.
int EnterFolders(TFd& dir, const std::string& path, bool create, bool followOwned, int depth,
                 bool& refused, bool& created) {
  if (!path.empty() && path[0] == '/') {
    dir = OpenFd("/", O_RDONLY | O_DIRECTORY);
    if (!dir) return errno;
  }
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  for (const std::string& p : Split(path, '/')) {
    if (p.empty() || p == ".") continue;
    int next = ::openat(dir.Get(), p.c_str(), flags);
    created = false;
    if (next < 0 && errno == ENOENT && create) {
      if (::mkdirat(dir.Get(), p.c_str(), 0777) == 0)
        created = true;
      else if (errno != EEXIST)
        return errno;
      next = ::openat(dir.Get(), p.c_str(), flags);
    }
    if (next < 0 && (errno == ELOOP || errno == ENOTDIR)) {
      created = false;
      const int err = FollowLink(dir, p, errno, followOwned, depth, refused, created);
      if (err != 0) return err;
      continue;
    }
    if (next < 0) return errno;
    dir.Reset(next);
  }
  return 0;
}

// Opens the folder `rel` below rootFd in one call, refusing any symbolic link
// on the way and any way out of root; holds nothing when it does not exist
// yet or the kernel cannot do it (the caller then goes component by
// component).
TFd OpenBeneath(const TFd& rootFd, const std::string& rel) {
  open_how how{};
  how.flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  long fd = -1;
  do {
    fd = ::syscall(SYS_openat2, rootFd.Get(), rel.c_str(), &how, sizeof how);
  } while (fd < 0 && (errno == EINTR || errno == EAGAIN));
  return TFd(static_cast<int>(fd));
}

}  // namespace

bool FolderWayRefused(const std::string& folder) {
  TFd dir;
  bool refused = false;
  bool created = false;
  (void)EnterFolders(dir, folder, false, true, 0, refused, created);
  return refused;
}

void SetLinkCheckedHook(std::function<void(const std::string& name)> hook) {
  linkCheckedHook = std::move(hook);
}

unsigned ProcessUmask() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Umask:", 0) == 0) {
      try {
        return static_cast<unsigned>(std::stoul(line.substr(6), nullptr, 8) & 0777);
      } catch (const std::exception&) {
        break;
      }
    }
  }
  return 022;
}

unsigned NewFileMode() { return 0666 & ~ProcessUmask(); }

bool PathEntryExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::string RealPathOf(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string result(real);
  std::free(real);
  return result;
}

bool ReplaceKeepingMode(const std::string& newFile, const std::string& target) {
  TFd fd = OpenFd(newFile, O_RDONLY | O_NOFOLLOW);
  if (!fd) return false;
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) ::fchmod(fd.Get(), st.st_mode & 07777);
  if (::fsync(fd.Get()) != 0 && errno != EINVAL && errno != EROFS) return false;
  if (fd.Close() != 0) return false;
  return std::rename(newFile.c_str(), target.c_str()) == 0;
}

namespace {

std::atomic<std::uint64_t> flushesIssued{0};
std::atomic<int> flushFailure{0};

// The failure a test asked for, counting the flush.
int CountFlush() {
  ++flushesIssued;
  return flushFailure.load();
}

}  // namespace

int FlushFolder(const std::string& folder) {
  const TFd fd = OpenFd(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY);
  if (!fd) return errno;
  if (const int err = CountFlush(); err != 0) return err;
  if (::fsync(fd.Get()) == 0 || errno == EINVAL || errno == EROFS) return 0;
  return errno;
}

int FlushFileSystem(int fd) {
  if (const int err = CountFlush(); err != 0) return err;
  return ::syncfs(fd) == 0 ? 0 : errno;
}

std::uint64_t FlushesIssued() { return flushesIssued; }

void FailFlushes(int err) { flushFailure = err; }

bool RemoveFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

std::shared_ptr<const TFd> TTargetFolders::Open(std::string_view folder, int& err, bool& refused) {
  err = 0;
  refused = false;
  if (folderFd_ && folder_ == folder) return folderFd_;
  TFd dir;
  bool created = false;
  if (!root_.empty()) {
    if (!rootFd_) {
      rootCreated_ = !PathEntryExists(root_) && ForceDirectories(root_);
      rootFd_ = OpenFd(root_, O_RDONLY | O_DIRECTORY);
      if (!rootFd_) {
        err = errno;
        return nullptr;
      }
    }
    const std::string rel(folder.substr(root_.size()));
    created = rel.empty() && rootCreated_;
    if (!rel.empty()) dir = OpenBeneath(rootFd_, rel);
    if (!dir) {
      dir = DupFd(rootFd_);
      if (!dir) {
        err = errno;
        return nullptr;
      }
      if (!rel.empty()) err = EnterFolders(dir, rel, true, false, 0, refused, created);
    }
  } else {
    err = EnterFolders(dir, std::string(folder), true, true, 0, refused, created);
  }
  if (err != 0) return nullptr;
  folder_.assign(folder);
  folderFd_ = std::make_shared<const TFd>(std::move(dir));
  folderCreated_ = created;
  NoteFileSystem(folderFd_);
  return folderFd_;
}

void TTargetFolders::NoteFileSystem(const std::shared_ptr<const TFd>& folder) {
  struct stat st {};
  // A folder that cannot be looked at is flushed on its own account.
  const dev_t dev = ::fstat(folder->Get(), &st) == 0 ? st.st_dev : 0;
  for (const auto& [known, fd] : fileSystems_) {
    if (known == dev && dev != 0) return;
  }
  fileSystems_.emplace_back(dev, folder);
}

int TTargetFolders::Flush() {
  int first = 0;
  for (const auto& [dev, fd] : fileSystems_) {
    const int err = FlushFileSystem(fd->Get());
    if (first == 0) first = err;
  }
  return first;
}

TTargetPlace TTargetFolders::Place(std::string_view target) {
  // The folder (up to the last "/"), without copying it (this runs for
  // every file).
  const std::size_t slash = target.rfind('/');
  const std::string_view folder =
      slash == std::string_view::npos ? std::string_view("./") : target.substr(0, slash + 1);
  TTargetPlace place;
  place.dir = Open(folder, place.err, place.refused);
  place.created = place.dir && folderCreated_;
  return place;
}

bool TTargetFolders::NamelessFiles() {
  if (nameless_ < 0) nameless_ = ::access("/proc/self/fd", X_OK) == 0 ? 1 : 0;
  return nameless_ == 1;
}

bool TTargetFolders::TemporaryName(bool drawAgain, std::array<char, 48>& name) {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  const std::lock_guard<std::mutex> lock(nameMutex_);
  if (random_[0] == '\0' || drawAgain) {
    std::array<unsigned char, 12> random{};
    if (::getrandom(random.data(), random.size(), 0) != static_cast<ssize_t>(random.size()))
      return false;
    for (std::size_t i = 0; i < random.size(); ++i) random_[i] = kChars[random[i] % 36];
    random_[random.size()] = '\0';
  }
  // ".vx-restore-<random>-<count>", put together by hand (this runs for
  // every file).
  static constexpr std::string_view kPrefix = ".vx-restore-";
  char* out = std::copy(kPrefix.begin(), kPrefix.end(), name.begin());
  out = std::copy(random_.begin(), random_.end() - 1, out);
  *out++ = '-';
  std::array<char, 20> digits{};
  std::size_t n = 0;
  for (std::uint64_t count = ++count_; n == 0 || count != 0; count /= 10)
    digits[n++] = static_cast<char>('0' + count % 10);
  while (n > 0) *out++ = digits[--n];
  *out = '\0';
  return true;
}

namespace {

// The permissions a file of mode `base` ends with: readOnly when given
// takes the write permission away, else gives the owner write permission.
mode_t FinalMode(unsigned base, TTargetFile::TReadOnly readOnly) {
  auto mode = static_cast<mode_t>(base & 07777);
  if (readOnly == TTargetFile::TReadOnly::Set)
    mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  if (readOnly == TTargetFile::TReadOnly::Clear) mode |= S_IWUSR;
  return mode;
}

long RenameNoReplace(int dir, const char* from, const char* to) {
  return ::syscall(SYS_renameat2, dir, from, dir, to, RENAME_NOREPLACE);
}

// The path through which an open file without a name is given one.
std::array<char, 32> FdPath(int fd) {
  std::array<char, 32> path{};
  std::snprintf(path.data(), path.size(), "/proc/self/fd/%d", fd);
  return path;
}

}  // namespace

void TTargetFolders::RemoveLeftovers(const TFd& folder) {
  struct stat dirSt {};
  if (::fstat(folder.Get(), &dirSt) != 0) return;
  const std::lock_guard<std::mutex> lock(leftoverMutex_);
  const std::pair<dev_t, ino_t> id{dirSt.st_dev, dirSt.st_ino};
  if (std::find(cleaned_.begin(), cleaned_.end(), id) != cleaned_.end()) return;
  cleaned_.push_back(id);
  TFd listing = DupFd(folder);
  if (!listing) return;
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(listing.Get()), &::closedir);
  if (!dir) return;
  listing.Release();  // the folder stream closes it now
  ::rewinddir(dir.get());
  constexpr std::string_view kPrefix = ".vx-restore-";
  // The folder's path for the log, as the kernel knows it.
  std::array<char, 4097> real{};
  const ssize_t n = ::readlink(FdPath(folder.Get()).data(), real.data(), real.size() - 1);
  const std::string where =
      n > 0 ? std::string(real.data(), static_cast<std::size_t>(n)) + "/" : "";
  while (const dirent* e = ::readdir(dir.get())) {
    const std::string_view name(e->d_name);
    if (name.substr(0, kPrefix.size()) != kPrefix) continue;
    const TFd file = LockUnusedFileOfMine(folder.Get(), e->d_name);  // not while a writer has it
    struct stat st {};
    if (!file || ::fstat(file.Get(), &st) != 0) continue;
    // Still the file that was locked: removed by name only then.
    struct stat now {};
    if (::fstatat(folder.Get(), e->d_name, &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        now.st_ino != st.st_ino || now.st_dev != st.st_dev)
      continue;
    if (::unlinkat(folder.Get(), e->d_name, 0) == 0) leftovers_.push_back(where + e->d_name);
  }
}

std::vector<std::string> TTargetFolders::TakeLeftoversRemoved() {
  const std::lock_guard<std::mutex> lock(leftoverMutex_);
  return std::exchange(leftovers_, {});
}

bool TTargetFile::Create(const std::string& target, TTargetFolders& folders, TReadOnly readOnly,
                         unsigned newMode) {
  return Create(target, folders.Place(target), folders, readOnly, newMode);
}

bool TTargetFile::Create(const std::string& target, const TTargetPlace& place,
                         TTargetFolders& folders, TReadOnly readOnly, unsigned newMode) {
  const std::size_t slash = target.rfind('/');
  name_.assign(target, slash == std::string::npos ? 0 : slash + 1);
  readOnly_ = readOnly;
  mode_ = FinalMode(newMode, readOnly);
  linkRefused_ = place.refused;
  if (!place.dir) return Fail(place.err);
  dir_ = place.dir;
  folders_ = &folders;
  // Whether a file already stands at the target is found out only when
  // the new one is renamed into place.  In a folder this run made nothing
  // but this run's files stands, so there the new file may carry its final
  // permissions from the start (never more than it ends with); elsewhere it
  // stays private until Commit.
  modeSet_ = place.created && (mode_ & ~folders.Umask()) == mode_;
  return OpenTemporary(modeSet_ ? mode_ : 0600);
}

bool TTargetFile::OpenTemporary(unsigned mode) {
  nameless_ = false;
  if (folders_->NamelessFiles()) {
    // A new file without a name costs the folder no entry until Commit and
    // leaves nothing behind when the run dies.
    const int fd = ::openat(dir_->Get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd >= 0) {
      fd_.Reset(fd);
      nameless_ = true;
      return true;
    }
    // What a file system (or kernel) that cannot make one answers.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return Fail(errno);
    folders_->UseNamedTemporaries();
  }
  folders_->RemoveLeftovers(*dir_);
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    if (!folders_->TemporaryName(attempt > 0, temp_)) return Fail(errno);
    const int fd = ::openat(dir_->Get(), temp_.data(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      fd_.Reset(fd);
      // Held while the file is written: a later run's cleaning keeps it.
      (void)::flock(fd, LOCK_EX | LOCK_NB);
      return true;
    }
    temp_[0] = '\0';
    if (errno != EEXIST) return Fail(errno);
  }
  return Fail(EEXIST);
}

bool TTargetFile::Write(const std::uint8_t* data, std::size_t n) {
  const TIoResult r = WriteAll(fd_.Get(), data, n);
  if (r.Complete()) return true;
  err_ = r.error;
  writeFailed_ = true;
  return false;
}

bool TTargetFile::WriteSparse(const std::uint8_t* data, std::size_t n) {
  constexpr std::size_t kLeastHole = 4096;
  if (n >= kLeastHole && data[0] == 0 && std::memcmp(data, data + 1, n - 1) == 0) {
    hole_ += static_cast<off_t>(n);
    return true;
  }
  if (hole_ > 0) {
    if (::lseek(fd_.Get(), hole_, SEEK_CUR) < 0) {
      err_ = errno;
      writeFailed_ = true;
      return false;
    }
    hole_ = 0;
  }
  return Write(data, n);
}

bool TTargetFile::Commit(double time, bool mayReplace) {
  return CommitAt(folders_->Times().ToUnix(DateTimeToDos(time)), mayReplace);
}

bool TTargetFile::CommitAt(std::int64_t unixTime, bool mayReplace) {
  if (hole_ > 0) {
    // Zeros at the end: the file reaches its size without blocks for them.
    const off_t end = ::lseek(fd_.Get(), 0, SEEK_CUR);
    if (end < 0 || ::ftruncate(fd_.Get(), end + hole_) != 0) return Fail(errno);
    hole_ = 0;
  }
  if (!modeSet_) ::fchmod(fd_.Get(), mode_);
  timespec times[2];
  times[0].tv_sec = static_cast<time_t>(unixTime);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  ::futimens(fd_.Get(), times);
  if (nameless_) return LinkNameless(mayReplace);
  const int closeErr = fd_.Close();
  if (closeErr != 0) return Fail(closeErr);
  // Nothing that stands at the target is replaced by this rename.
  if (RenameNoReplace(dir_->Get(), temp_.data(), name_.c_str()) != 0) {
    const int err = errno;
    if (err != EEXIST && err != EINVAL && err != ENOSYS) return Fail(err);
    // Something stands there, or the file system cannot tell: look.
    if (!RenameOver(mayReplace, err == EEXIST)) return false;
  }
  temp_[0] = '\0';
  return true;
}

// Links the open file without a name to `name` in its folder; never
// replaces anything.  With the privilege to link by descriptor that saves
// the look-up through /proc.
int TTargetFile::LinkTo(const char* name) {
  if (folders_->LinkByDescriptor()) {
    if (::linkat(fd_.Get(), "", dir_->Get(), name, AT_EMPTY_PATH) == 0) return 0;
    if (errno != ENOENT && errno != EPERM) return -1;
    // What a process without the privilege is answered.
    folders_->LinkThroughProc();
  }
  const std::array<char, 32> path = FdPath(fd_.Get());
  return ::linkat(AT_FDCWD, path.data(), dir_->Get(), name, AT_SYMLINK_FOLLOW);
}

bool TTargetFile::LinkNameless(bool mayReplace) {
  if (LinkTo(name_.c_str()) == 0) {
    nameless_ = false;
    const int closeErr = fd_.Close();
    if (closeErr == 0) return true;
    // Nothing stood there before the link: take the unsound file away.
    ::unlinkat(dir_->Get(), name_.c_str(), 0);
    return Fail(closeErr);
  }
  if (errno != EEXIST) return Fail(errno);
  // Something stands there: the new file takes a private name and goes on
  // as a named one.
  for (int attempt = 0;; ++attempt) {
    if (!folders_->TemporaryName(attempt > 0, temp_)) return Fail(errno);
    if (LinkTo(temp_.data()) == 0) break;
    temp_[0] = '\0';
    if (errno != EEXIST || attempt + 1 >= kTemporaryNameAttempts) return Fail(errno);
  }
  nameless_ = false;
  const int closeErr = fd_.Close();
  if (closeErr != 0) return Fail(closeErr);
  if (!RenameOver(mayReplace, true)) return false;
  temp_[0] = '\0';
  return true;
}

bool TTargetFile::RenameOver(bool mayReplace, bool noReplaceWorks) {
  struct stat st {};
  if (::fstatat(dir_->Get(), name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) return Fail(errno);
    // Gone again (or never there): still nothing is replaced where the
    // file system can promise it.
    const long rc = noReplaceWorks
                        ? RenameNoReplace(dir_->Get(), temp_.data(), name_.c_str())
                        : ::renameat(dir_->Get(), temp_.data(), dir_->Get(), name_.c_str());
    return rc == 0 || Fail(errno);
  }
  if (S_ISDIR(st.st_mode)) return Fail(EISDIR);
  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return Fail(EINVAL);
  existed_ = true;
  if (!mayReplace) return Fail(EEXIST);
  // A replaced file keeps its permissions, and the new content reaches the
  // disk before the old file goes.
  const mode_t mode = S_ISREG(st.st_mode) ? FinalMode(st.st_mode, readOnly_) : mode_;
  TFd fd(::openat(dir_->Get(), temp_.data(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return Fail(errno);
  ::fchmod(fd.Get(), mode);
  if (::fsync(fd.Get()) != 0 && errno != EINVAL) return Fail(errno);
  const int closeErr = fd.Close();
  if (closeErr != 0) return Fail(closeErr);
  return ::renameat(dir_->Get(), temp_.data(), dir_->Get(), name_.c_str()) == 0 || Fail(errno);
}

void TTargetFile::Discard() {
  fd_.Reset();
  if (temp_[0] != '\0' && dir_) ::unlinkat(dir_->Get(), temp_.data(), 0);
  temp_[0] = '\0';
}

}  // namespace vx
