#include "platform/set_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <thread>
#include <utility>

#include "support/path_names.h"

namespace vx {
namespace {

// Between two tries of a lock held by another run.
constexpr int kPollMs = 100;

long long SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Whether path still names the file open as fd.
bool NamesFile(const std::string& path, int fd) {
  struct stat byName {};
  struct stat open {};
  return ::lstat(path.c_str(), &byName) == 0 && ::fstat(fd, &open) == 0 &&
         byName.st_dev == open.st_dev && byName.st_ino == open.st_ino;
}

// Tries of a name whose file keeps being removed under the lock.
constexpr int kRenamedTries = 8;

}  // namespace

TFileLock::~TFileLock() { Release(); }

TFileLock::TFileLock(TFileLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

TFileLock& TFileLock::operator=(TFileLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

void TFileLock::Release() noexcept {
  if (fd_ < 0) return;
  // Nobody else holds it (a shared lock becomes exclusive only then): the
  // name goes while this run still has the file locked.  Whoever opened
  // the file meanwhile finds its name gone once it has the lock, and tries
  // again.
  if (!path_.empty() && ::flock(fd_, LOCK_EX | LOCK_NB) == 0 && NamesFile(path_, fd_))
    ::unlink(path_.c_str());
  // Closing the only descriptor of the open file releases its flock.
  ::close(std::exchange(fd_, -1));
}

TLockAttempt TryLockFile(const std::string& lockFile, TLockKind kind) {
  TLockAttempt attempt;
  for (int i = 0; i < kRenamedTries; ++i) {
    // O_NOFOLLOW: a link planted under the lock's name locks nothing of ours.
    const int fd =
        ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600);
    if (fd < 0) {
      attempt.error = errno;
      attempt.outcome = TLockOutcome::NoLockFile;
      return attempt;
    }
    const int op = (kind == TLockKind::Shared ? LOCK_SH : LOCK_EX) | LOCK_NB;
    int rc = 0;
    while ((rc = ::flock(fd, op)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
      attempt.error = errno;
      attempt.outcome = errno == EWOULDBLOCK ? TLockOutcome::Busy : TLockOutcome::NoLockFile;
      ::close(fd);
      return attempt;
    }
    // The holder before removed the name while this run opened it: the
    // lock is on a file nobody else will look at.
    if (!NamesFile(lockFile, fd)) {
      ::close(fd);
      continue;
    }
    attempt.outcome = TLockOutcome::Locked;
    attempt.lock = TFileLock(fd, lockFile);
    return attempt;
  }
  attempt.outcome = TLockOutcome::Busy;
  return attempt;
}

TLockAttempt LockFileWaiting(const std::string& lockFile, TLockKind kind, const TLockWait& wait) {
  const auto now = wait.nowMs ? wait.nowMs : std::function<long long()>(SteadyMs);
  const long long deadline = now() + static_cast<long long>(std::max(wait.seconds, 0)) * 1000;
  for (;;) {
    TLockAttempt attempt = TryLockFile(lockFile, kind);
    if (attempt.outcome != TLockOutcome::Busy || wait.seconds <= 0) return attempt;
    if (wait.stop && wait.stop()) {
      attempt.outcome = TLockOutcome::Stopped;
      return attempt;
    }
    const long long left = deadline - now();
    if (left <= 0) return attempt;
    const int pause = static_cast<int>(std::min<long long>(left, kPollMs));
    if (wait.pause) {
      wait.pause(pause);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(pause));
    }
  }
}

std::string SetLockFileName(const std::string& baseName) {
  return ExtractFilePath(baseName) + "." + ExtractFileName(baseName) + ".lock";
}

std::string DestinationLockFileName(const std::string& stateFolder, const std::string& key) {
  std::string name;
  for (const char c : key) {
    const auto u = static_cast<unsigned char>(c);
    name += std::isalnum(u) != 0 || c == '-' || c == '.' ? c : '_';
  }
  return WithTrailingSlash(stateFolder) + "locks/" + name + ".lock";
}

}  // namespace vx
