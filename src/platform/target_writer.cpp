// Writing files below a chosen folder.
#include "platform/target_writer.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <vector>

#include "platform/date_time.h"
#include "platform/paths.h"
#include "support/strings.h"

namespace vx {

namespace {

constexpr int kMaxLinkDepth = 40;
constexpr int kTemporaryNameAttempts = 100;

TFd DupFd(const TFd& fd) { return TFd(::fcntl(fd.Get(), F_DUPFD_CLOEXEC, 0)); }

// Where a component that is no folder leads: into the link's text when it
// is a link that may be followed.  Returns 0 or an errno value.
int EnterFolders(TFd& dir, const std::string& path, bool create, bool followOwned, int depth,
                 bool& refused);

int FollowLink(TFd& dir, const std::string& name, int openErr, bool followOwned, int depth,
               bool& refused) {
  struct stat st {};
  if (::fstatat(dir.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  if (!S_ISLNK(st.st_mode)) return openErr;
  if (!followOwned || (st.st_uid != 0 && st.st_uid != ::geteuid())) {
    refused = followOwned;
    return ELOOP;
  }
  if (depth >= kMaxLinkDepth) return ELOOP;
  std::array<char, 4097> text{};
  const ssize_t n = ::readlinkat(dir.Get(), name.c_str(), text.data(), text.size() - 1);
  if (n < 0) return errno;
  TFd linked = DupFd(dir);
  if (!linked) return errno;
  const int err = EnterFolders(linked, std::string(text.data(), static_cast<std::size_t>(n)), false,
                               followOwned, depth + 1, refused);
  if (err != 0) return err;
  dir = std::move(linked);
  return 0;
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
    dir = OpenFd("/", O_RDONLY | O_DIRECTORY);
    if (!dir) return errno;
  }
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  for (const std::string& p : Split(path, '/')) {
    if (p.empty() || p == ".") continue;
    int next = ::openat(dir.Get(), p.c_str(), flags);
    if (next < 0 && errno == ENOENT && create) {
      if (::mkdirat(dir.Get(), p.c_str(), 0777) != 0 && errno != EEXIST) return errno;
      next = ::openat(dir.Get(), p.c_str(), flags);
    }
    if (next < 0 && (errno == ELOOP || errno == ENOTDIR)) {
      const int err = FollowLink(dir, p, errno, followOwned, depth, refused);
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

unsigned NewFileMode() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Umask:", 0) == 0) {
      try {
        return static_cast<unsigned>(0666 & ~std::stoul(line.substr(6), nullptr, 8));
      } catch (const std::exception&) {
        break;
      }
    }
  }
  return 0644;
}

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
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0) ::chmod(newFile.c_str(), st.st_mode & 07777);
  return std::rename(newFile.c_str(), target.c_str()) == 0;
}

bool RemoveFile(const std::string& path) { return std::remove(path.c_str()) == 0; }

std::shared_ptr<const TFd> TTargetFolders::Open(const std::string& folder, int& err,
                                                bool& refused) {
  err = 0;
  refused = false;
  if (folderFd_ && folder_ == folder) return folderFd_;
  TFd dir;
  if (!root_.empty()) {
    if (!rootFd_) {
      ForceDirectories(root_);
      rootFd_ = OpenFd(root_, O_RDONLY | O_DIRECTORY);
      if (!rootFd_) {
        err = errno;
        return nullptr;
      }
    }
    const std::string rel = folder.substr(root_.size());
    if (!rel.empty()) dir = OpenBeneath(rootFd_, rel);
    if (!dir) {
      dir = DupFd(rootFd_);
      if (!dir) {
        err = errno;
        return nullptr;
      }
      err = EnterFolders(dir, rel, true, false, 0, refused);
    }
  } else {
    err = EnterFolders(dir, folder, true, true, 0, refused);
  }
  if (err != 0) return nullptr;
  folder_ = folder;
  folderFd_ = std::make_shared<const TFd>(std::move(dir));
  return folderFd_;
}

const char* TTargetFolders::TemporaryName(bool drawAgain) {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  if (random_[0] == '\0' || drawAgain) {
    std::array<unsigned char, 12> random{};
    if (::getrandom(random.data(), random.size(), 0) != static_cast<ssize_t>(random.size()))
      return nullptr;
    for (std::size_t i = 0; i < random.size(); ++i) random_[i] = kChars[random[i] % 36];
    random_[random.size()] = '\0';
  }
  std::snprintf(name_.data(), name_.size(), ".vx-restore-%s-%llu", random_.data(),
                static_cast<unsigned long long>(++count_));
  return name_.data();
}

bool TTargetFile::Create(const std::string& target, TTargetFolders& folders) {
  const std::string folder = ExtractFilePath(target);
  name_ = ExtractFileName(target);
  dir_ = folders.Open(folder.empty() ? std::string("./") : folder, err_, linkRefused_);
  if (!dir_) return false;
  folders_ = &folders;
  struct stat st {};
  if (::fstatat(dir_->Get(), name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(st.st_mode)) return Fail(EISDIR);
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return Fail(EINVAL);
    existed_ = true;
    if (S_ISREG(st.st_mode)) oldMode_ = static_cast<int>(st.st_mode & 07777);
  } else if (errno != ENOENT) {
    return Fail(errno);
  }
  return OpenTemporary(folders);
}

bool TTargetFile::OpenTemporary(TTargetFolders& folders) {
  for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
    const char* temp = folders.TemporaryName(attempt > 0);
    if (temp == nullptr) return Fail(errno);
    const int fd =
        ::openat(dir_->Get(), temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      fd_.Reset(fd);
      temp_ = temp;
      return true;
    }
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

bool TTargetFile::Commit(double time, TReadOnly readOnly, unsigned newMode) {
  auto mode = static_cast<mode_t>(oldMode_ >= 0 ? static_cast<unsigned>(oldMode_) : newMode);
  if (readOnly == TReadOnly::Set) mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  if (readOnly == TReadOnly::Clear) mode |= S_IWUSR;
  ::fchmod(fd_.Get(), mode);
  timespec times[2];
  times[0].tv_sec = static_cast<time_t>(folders_->Times().ToUnix(DateTimeToDos(time)));
  times[0].tv_nsec = 0;
  times[1] = times[0];
  ::futimens(fd_.Get(), times);
  if (existed_ && ::fsync(fd_.Get()) != 0 && errno != EINVAL) return Fail(errno);
  const int closeErr = fd_.Close();
  if (closeErr != 0) return Fail(closeErr);
  if (!RenameOver()) return Fail(errno);
  temp_.clear();
  return true;
}

bool TTargetFile::RenameOver() {
  if (existed_) return ::renameat(dir_->Get(), temp_.c_str(), dir_->Get(), name_.c_str()) == 0;
  // Nothing was there: nothing that appeared meanwhile is replaced.
  long rc = ::syscall(SYS_renameat2, dir_->Get(), temp_.c_str(), dir_->Get(), name_.c_str(),
                      RENAME_NOREPLACE);
  if (rc != 0 && (errno == EINVAL || errno == ENOSYS))
    rc = ::renameat(dir_->Get(), temp_.c_str(), dir_->Get(), name_.c_str());
  return rc == 0;
}

void TTargetFile::Discard() {
  fd_.Reset();
  if (!temp_.empty() && dir_) ::unlinkat(dir_->Get(), temp_.c_str(), 0);
  temp_.clear();
}

}  // namespace vx
