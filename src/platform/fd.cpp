#include "platform/fd.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vx {

void TFd::Reset(int fd) noexcept {
  if (fd_ >= 0 && fd_ != fd) ::close(fd_);
  fd_ = fd;
}

int TFd::Release() noexcept {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

int TFd::Close() noexcept {
  if (fd_ < 0) return 0;
  const int err = ::close(Release()) == 0 ? 0 : errno;
  return err == EINTR ? 0 : err;
}

TFd OpenFd(const std::string& path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return TFd(fd);
}

TIoResult ReadAll(int fd, void* data, std::size_t len) { return ReadAtLeast(fd, data, len, len); }

TIoResult ReadAtLeast(int fd, void* data, std::size_t len, std::size_t enough) {
  auto* p = static_cast<unsigned char*>(data);
  TIoResult r;
  while (r.done < len) {
    const std::size_t asked = len - r.done;
    const ssize_t n = ::read(fd, p + r.done, asked);
    if (n < 0) {
      if (errno == EINTR) continue;
      r.status = TIoStatus::kError;
      r.error = errno;
      return r;
    }
    if (n == 0) {
      r.status = TIoStatus::kEndOfFile;
      return r;
    }
    r.done += static_cast<std::size_t>(n);
    if (static_cast<std::size_t>(n) < asked && r.done >= enough && r.done < len) {
      r.status = TIoStatus::kEndOfFile;
      return r;
    }
  }
  return r;
}

TIoResult WriteAll(int fd, const void* data, std::size_t len) {
  const auto* p = static_cast<const unsigned char*>(data);
  TIoResult r;
  while (r.done < len) {
    const ssize_t n = ::write(fd, p + r.done, len - r.done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      r.status = TIoStatus::kError;
      r.error = n < 0 ? errno : ENOSPC;
      return r;
    }
    r.done += static_cast<std::size_t>(n);
  }
  return r;
}

TOpenResult OpenRegularForReading(const std::string& path) {
  TOpenResult r;
  r.fd = OpenFd(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (!r.fd) {
    r.error = errno;
    return r;
  }
  struct stat& st = r.info;
  if (::fstat(r.fd.Get(), &st) != 0) {
    r.error = errno;
    r.fd.Reset();
    return r;
  }
  if (!S_ISREG(st.st_mode)) {
    r.fd.Reset();
    r.status = TOpenStatus::kNotRegular;
    return r;
  }
  // Of the flags F_SETFL changes only O_NONBLOCK was set: clearing them all
  // needs no F_GETFL first (one call less per file read).
  if (::fcntl(r.fd.Get(), F_SETFL, 0) != 0) {
    r.error = errno;
    r.fd.Reset();
    return r;
  }
  r.status = TOpenStatus::kOpened;
  return r;
}

TFd LockUnusedFileOfMine(int dfd, const char* name) {
  TFd fd(::openat(dfd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat st {};
  if (!fd || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
      ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
    return TFd();
  return fd;
}

std::int64_t FdSize(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

}  // namespace vx
