#pragma once
// Advisory locks (flock) that keep two runs apart: one writer of a set at a
// time, readers only while nobody writes it, one run at a time that resets
// marks in the archive-bit store.  A lock lives in a small lock file of its
// own, created 0600.  The last holder removes it, holding it exclusively
// while it does; a run that locked a file which has lost its name meanwhile
// lets go and tries the name again, so that two runs never hold locks on two
// different files of one name.
#include <functional>
#include <string>
#include <utility>

namespace vx {

enum class TLockKind { Shared, Exclusive };

// A held lock; released when the object goes (or Release()).  An empty
// object holds nothing.
class TFileLock {
 public:
  TFileLock() = default;
  TFileLock(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~TFileLock();
  TFileLock(TFileLock&& other) noexcept;
  TFileLock& operator=(TFileLock&& other) noexcept;
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;

  bool Held() const { return fd_ >= 0; }
  // Removes the lock file when nobody else holds it, then lets go.
  void Release() noexcept;

 private:
  int fd_ = -1;
  std::string path_;
};

enum class TLockOutcome {
  Locked,     // the lock is held
  Busy,       // another run holds it (and waiting, if any, is over)
  Stopped,    // a stop was asked for while waiting
  NoLockFile  // the lock file cannot be created or opened (read-only medium)
};

struct TLockAttempt {
  TLockOutcome outcome = TLockOutcome::NoLockFile;
  TFileLock lock;
  int error = 0;  // errno when NoLockFile
};

// One try, never waiting.  The lock file is created 0600 when missing.
TLockAttempt TryLockFile(const std::string& lockFile, TLockKind kind);

// How a wait passes time between tries; tests put their own in.
struct TLockWait {
  int seconds = 0;                              // 0: one try only
  std::function<bool()> stop;                   // asked before every pause
  std::function<void(int milliseconds)> pause;  // default: sleeps
  std::function<long long()> nowMs;             // default: the monotonic clock
};

// Tries, and while another run holds the lock, tries again every short
// while until wait.seconds have passed or wait.stop answers true.
TLockAttempt LockFileWaiting(const std::string& lockFile, TLockKind kind, const TLockWait& wait);

// The lock file of a set on disk: "." + the set's file name + ".lock" in the
// set's folder ("/backup/.daily.sqt.lock" for "/backup/daily.sqt").
std::string SetLockFileName(const std::string& baseName);

// The lock file of a destination that has no folder of its own (a tape
// drive, an FTP server): stateFolder + "locks/" + the key with every
// character but letters, digits, '-' and '.' turned into '_'.
std::string DestinationLockFileName(const std::string& stateFolder, const std::string& key);

}  // namespace vx
