#pragma once
// Writing files below a chosen folder without ever leaving it: the folders a
// target goes into are opened (and created) one component at a time with
// no symbolic link followed below the root, and each file is written as a
// new file without a name (or, where the file system cannot make one, under
// a private name beside its target) that takes the target's name only once
// it is whole.  A file already on disk is never truncated for data that then
// fail.
#include <sys/types.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/date_time.h"
#include "platform/fd.h"

namespace vx {

// Tests only: called with a folder link's name after its owner was checked
// and before its text is read (nullptr: nothing is called).
void SetLinkCheckedHook(std::function<void(const std::string& name)> hook);

// Whether the way to `folder` (an absolute path) passes a folder link that
// an in-place restore refuses to follow (one that belongs neither to root
// nor to the user running it), found as the restore would find it but
// without creating or opening anything for writing.  Missing folders end
// the look: a restore makes them.
bool FolderWayRefused(const std::string& folder);

// The process's umask, read without changing it.
unsigned ProcessUmask();
// The permission bits a new file gets: 0666 less the process's umask.
unsigned NewFileMode();

// Whether a directory entry of that name exists (a link itself counts).
bool PathEntryExists(const std::string& path);
// The path with every link resolved; the path itself when that fails.
std::string RealPathOf(const std::string& path);
// Gives newFile the permission bits of target (when it exists) and renames
// it over target; false when the rename fails.  newFile (content and
// permissions) reaches the disk before the rename; the folder's entry is
// the caller's (FlushFolder).
bool ReplaceKeepingMode(const std::string& newFile, const std::string& target);

// Makes a folder's entries (a new, renamed or removed file) durable: 0 or
// the errno.  A folder that cannot be flushed (EINVAL, EROFS: some network
// and read-only file systems) counts as flushed.
int FlushFolder(const std::string& folder);
// Writes back everything the file system of the open file fd holds and
// waits for it (syncfs): 0 or the errno of a write that failed since fd was
// opened.
int FlushFileSystem(int fd);
// For tests: how many flushes the two above have issued so far, and an
// errno every later one fails with (0: none, the default).
std::uint64_t FlushesIssued();
void FailFlushes(int err);
// Removes a file; false when it could not.
bool RemoveFile(const std::string& path);

// The folder a target goes into, opened: null with err set when it could
// not be (refused: a link was the reason); created: made by this run.
struct TTargetPlace {
  std::shared_ptr<const TFd> dir;
  bool created = false;
  int err = 0;
  bool refused = false;
};

// The folders of one writing run.  With a root (a redirected restore) no
// symbolic link below it is followed and nothing outside it is reached;
// without one, paths are absolute and a folder link is followed only when it
// belongs to root or to the running user.  The root and the folder of the
// last target stay open from one target to the next, as the files of a set
// lie folder by folder.
//
// Folders are opened on one thread; files may be made in them on others
// (TemporaryName, NamelessFiles, UseNamedTemporaries and Umask may be called
// from any thread; Times belongs to the thread that opens the folders).
class TTargetFolders {
 public:
  explicit TTargetFolders(std::string root = {}) : root_(std::move(root)), umask_(ProcessUmask()) {}
  const std::string& Root() const { return root_; }
  // Opens (creating it when missing) the folder a target goes into; the
  // same folder as the last time is handed out again, not opened anew.
  // Null with err set on failure; refused tells that a link was the reason.
  std::shared_ptr<const TFd> Open(std::string_view folder, int& err, bool& refused);
  // Opens the folder of a target (a path whose folder ends at its last "/").
  TTargetPlace Place(std::string_view target);
  // Whether the folder last opened was made by this run.
  bool FolderCreated() const { return folderCreated_; }
  // The process's umask, read when the run starts.
  unsigned Umask() const { return umask_; }

  // Makes everything written below the folders opened so far durable,
  // files and folder entries: one flush (FlushFileSystem) per file system
  // they lie on.  0 or the first errno.
  int Flush();

  // The run's conversion of file times.
  TDosTimes& Times() { return times_; }
  // A private name for a new file, different on every call: a random part
  // drawn once per run (and again when a name is taken) and a count.  False
  // when no random part could be drawn.
  bool TemporaryName(bool drawAgain, std::array<char, 48>& name);
  // Whether new files are made without a name (and linked to their target
  // once whole): true until the file system refuses such a file or /proc
  // (through which the link is made) is missing.  Every new file of the run
  // is then made under a private name instead, as it is after
  // UseNamedTemporaries().
  bool NamelessFiles();
  void UseNamedTemporaries() { nameless_ = 0; }
  // Whether a file without a name can be linked by its descriptor alone
  // (which takes a privilege), rather than through /proc; learnt from the
  // first link of the run.
  bool LinkByDescriptor() const { return linkByFd_ != 0; }
  void LinkThroughProc() { linkByFd_ = 0; }

  // Where new files get private names, a run killed before their rename
  // leaves them behind.  The first time a folder gets such a file, the stale
  // ones in it are removed: regular files of this user named as this
  // writer names them that no running writer holds locked (each holds its
  // files locked while it writes them).  Callable from any thread.
  void RemoveLeftovers(const TFd& folder);
  // The paths removed so far (relative to the folders they were in, with
  // the folder's device and inode), handed out once.
  std::vector<std::string> TakeLeftoversRemoved();

 private:
  // Notes the file system of a folder just opened (for Flush).
  void NoteFileSystem(const std::shared_ptr<const TFd>& folder);

  std::string root_;
  TFd rootFd_;
  // A folder opened first on each file system written to: its descriptor
  // was opened before anything was written there, so a flush through it
  // reports every write of the run that failed.
  std::vector<std::pair<dev_t, std::shared_ptr<const TFd>>> fileSystems_;
  std::string folder_;
  std::shared_ptr<const TFd> folderFd_;
  bool rootCreated_ = false;
  bool folderCreated_ = false;
  const unsigned umask_;
  std::atomic<int> nameless_{-1};  // -1: not yet known
  std::atomic<int> linkByFd_{-1};  // -1: not yet known
  TDosTimes times_;
  std::mutex leftoverMutex_;  // guards the two below
  std::vector<std::pair<dev_t, ino_t>> cleaned_;
  std::vector<std::string> leftovers_;
  std::mutex nameMutex_;           // guards what follows
  std::array<char, 13> random_{};  // empty until drawn
  std::uint64_t count_ = 0;
};

// One file on its way to its target: a new file without a name (or with a
// private one beside the target) in the target's folder, that takes the
// target's name only in Commit.  Whatever does not reach Commit is removed
// again.
class TTargetFile {
 public:
  TTargetFile() = default;
  ~TTargetFile() { Discard(); }
  TTargetFile(const TTargetFile&) = delete;
  TTargetFile& operator=(const TTargetFile&) = delete;

  // The permissions a file ends with: readOnly when given takes the write
  // permission away, else gives the owner write permission.
  enum class TReadOnly : std::uint8_t { Keep, Set, Clear };

  // Prepares the new file for target, to end with newMode (as readOnly
  // tells); false (Error(), LinkRefused()) when it cannot.
  bool Create(const std::string& target, TTargetFolders& folders, TReadOnly readOnly,
              unsigned newMode);
  // The same in a folder already opened (by TTargetFolders::Place).
  bool Create(const std::string& target, const TTargetPlace& place, TTargetFolders& folders,
              TReadOnly readOnly, unsigned newMode);
  bool Ready() const { return fd_.IsOpen(); }
  // Whether Commit found a file or a link at the target.
  bool Existed() const { return existed_; }
  int Error() const { return err_; }
  bool LinkRefused() const { return linkRefused_; }
  bool WriteFailed() const { return writeFailed_; }

  bool Write(const std::uint8_t* data, std::size_t n);
  // As Write, but a run of n zero bytes (4 KiB or more) is left a hole: the
  // file reads the same and the file system stores nothing for it.
  bool WriteSparse(const std::uint8_t* data, std::size_t n);
  // Gives the new file its time (a date-time) and renames it to the target.
  // A file or a link found there is replaced only when mayReplace is set
  // (else the failure is EEXIST with Existed()): a replaced file keeps its
  // permissions (as readOnly tells) and the new content reaches the disk
  // before the rename.  A folder, FIFO or device there is left alone.
  bool Commit(double time, bool mayReplace = true);
  // The same with the time in seconds since 1970 (as TDosTimes gives it).
  bool CommitAt(std::int64_t unixTime, bool mayReplace);
  void Discard();

 private:
  bool Fail(int err) {
    err_ = err;
    return false;
  }
  bool OpenTemporary(unsigned mode);
  bool LinkNameless(bool mayReplace);
  int LinkTo(const char* name);
  bool RenameOver(bool mayReplace, bool noReplaceWorks);

  std::shared_ptr<const TFd> dir_;
  TTargetFolders* folders_ = nullptr;
  TFd fd_;
  std::string name_;
  std::array<char, 48> temp_{};  // the new file's name; empty once renamed
                                 // and while it has none
  bool nameless_ = false;        // fd_ is a file without a name
  int err_ = 0;
  bool linkRefused_ = false;
  bool existed_ = false;
  TReadOnly readOnly_ = TReadOnly::Keep;
  mode_t mode_ = 0600;
  bool modeSet_ = false;  // the new file was created with mode_
  bool writeFailed_ = false;
  off_t hole_ = 0;  // zero bytes after the last written, not yet in the file
};

}  // namespace vx
