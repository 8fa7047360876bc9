#pragma once
// File descriptors: one owner that closes on every path out, loops that
// read and write whole buffers, and the open used for every file whose
// content is read (it never waits on a FIFO and accepts only regular files).
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace vx {

// Owns one descriptor (or none, -1) and closes it when destroyed.  Movable,
// not copyable.
class TFd {
 public:
  TFd() noexcept = default;
  explicit TFd(int fd) noexcept : fd_(fd) {}
  ~TFd() { Reset(); }
  TFd(TFd&& other) noexcept : fd_(other.Release()) {}
  TFd& operator=(TFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;

  int Get() const noexcept { return fd_; }
  bool IsOpen() const noexcept { return fd_ >= 0; }
  explicit operator bool() const noexcept { return IsOpen(); }

  // Closes the descriptor held (a failure is not reported) and takes fd.
  void Reset(int fd = -1) noexcept;
  // Gives the descriptor up without closing it; the object holds none after.
  int Release() noexcept;
  // Closes the descriptor held and reports how: 0, or the errno of close(2).
  // EINTR counts as closed (Linux has released the descriptor by then).
  // Nothing held is 0.
  int Close() noexcept;

 private:
  int fd_ = -1;
};

// open(2) with O_CLOEXEC added, repeated while interrupted by a signal.
// Holds nothing on failure, errno tells why.
TFd OpenFd(const std::string& path, int flags, mode_t mode = 0);

// How a transfer of a whole buffer ended.
enum class TIoStatus {
  kComplete,   // every byte was moved
  kEndOfFile,  // (reads only) the file ended first; `done` bytes were read
  kError,      // `error` holds the errno; `done` bytes were moved before it
};

struct TIoResult {
  TIoStatus status = TIoStatus::kComplete;
  std::size_t done = 0;
  int error = 0;

  bool Complete() const { return status == TIoStatus::kComplete; }
  bool Failed() const { return status == TIoStatus::kError; }
};

// Reads until `len` bytes are in, the file ends or an error comes; short
// reads and EINTR are continued.
TIoResult ReadAll(int fd, void* data, std::size_t len);

// As ReadAll, but a read that comes short once at least `enough` bytes are
// in ends the reading (status kEndOfFile): on a regular file a short read
// means the file ended there when it was read, and asking again only to be
// told so costs a system call.  With `enough` == `len` it is ReadAll.
TIoResult ReadAtLeast(int fd, void* data, std::size_t len, std::size_t enough);

// Writes all `len` bytes; short writes and EINTR are continued.  A write(2)
// that moves nothing counts as ENOSPC.
TIoResult WriteAll(int fd, const void* data, std::size_t len);

// How OpenRegularForReading ended.
enum class TOpenStatus {
  kOpened,
  kOpenFailed,  // open(2) or fstat(2) failed; `error` holds the errno
  kNotRegular,  // a FIFO, device, socket or folder: nothing to read as a file
};

struct TOpenResult {
  TFd fd;
  TOpenStatus status = TOpenStatus::kOpenFailed;
  int error = 0;
  struct stat info {};  // when opened: what fstat(2) said at the open
};

// Opens a file read-only for taking its content.  The open never blocks (a
// FIFO put where a file was expected) and only a regular file is accepted: a
// device such as /dev/zero would be read for ever.  The descriptor returned
// is in blocking mode.
TOpenResult OpenRegularForReading(const std::string& path);

// A leftover's check before it is removed: opens the entry `name` of the
// folder dfd (no link followed, no blocking) when it is a regular file of
// this user that no other open file holds locked (flock), and takes its
// lock, so that no other run takes it while it is looked at and removed.
// Empty otherwise.
TFd LockUnusedFileOfMine(int dfd, const char* name);

// The size of an open file now; -1 when it cannot be asked.
std::int64_t FdSize(int fd);

}  // namespace vx
