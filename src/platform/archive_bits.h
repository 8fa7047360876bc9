#pragma once
// Linux has no archive attribute; this store keeps it.  Per absolute path it
// records the file's identity and change stamp at the moment its archive
// attribute was cleared.  The attribute reads SET when the file has no record
// or the stamp differs; clearing writes the record; setting deletes it.
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/file_system.h"

struct sqlite3;

namespace vx {

// The store is locked, damaged or cannot be created.  Never swallowed: a file
// must not silently read as "not archived".
class EArchiveStore : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TArchiveBitStore {
 public:
  explicit TArchiveBitStore(const std::string& dbPath);  // opens or creates
  ~TArchiveBitStore();
  TArchiveBitStore(const TArchiveBitStore&) = delete;
  TArchiveBitStore& operator=(const TArchiveBitStore&) = delete;

  // $VAULTIX_STATE_DIR/archive-bits.sqlite, else
  // ${XDG_STATE_HOME:-~/.local/state}/vaultix/archive-bits.sqlite.
  static std::string DefaultPath();
  // A store at DefaultPath(), opened now: what a run uses when its caller
  // hands none in.  The environment is read once, here.
  static std::unique_ptr<TArchiveBitStore> OpenDefault();
  // A process-wide store at DefaultPath() for the single attribute calls
  // below; reopened when that path changes.  A run opens its own instead.
  static TArchiveBitStore& Instance();

  bool IsSet(const std::string& path, const TFileStamp& stamp);
  bool IsSet(const std::string& path);  // stats the file; a missing file reads set
  void Set(const std::string& path);

  // Clearing in batches: one transaction per reset pass.  Nothing of a batch
  // is on disk before CommitBatch; a batch cut short (crash, exception,
  // RollbackBatch) leaves every file as it was.  Look-ups inside a batch see
  // its writes.
  void BeginBatch();
  void Clear(const std::string& path);  // stats the file now
  void Clear(const std::string& path, const TFileStamp& stamp);
  void CommitBatch();
  void RollbackBatch();

  // A pass of look-ups (the scan).  Between BeginLookups and EndLookups the
  // look-ups share read transactions, so an unchanged file costs one indexed
  // look-up and no locking or journal checks of its own.  The read
  // transaction is renewed every kLookupSnapshotMs, so another program's
  // writes wait for at most that long.  Set and Clear outside a batch still
  // commit at once (the pass's read transaction is ended first).  Passes nest.
  void BeginLookups();
  void EndLookups();
  static constexpr int kLookupSnapshotMs = 200;

  const std::string& path() const { return path_; }

 private:
  enum class TTransaction { None, Reading, Writing };
  void EndReading();
  void WillRead();
  void WillWrite();

  std::string path_;
  sqlite3* db_ = nullptr;
  struct Statements;
  std::unique_ptr<Statements> st_;
  TTransaction tx_ = TTransaction::None;
  int lookupPasses_ = 0;
  std::chrono::steady_clock::time_point readingSince_;
};

// Keeps a pass of look-ups open for as long as it lives.  The store must
// outlive it.
class TArchiveBitLookups {
 public:
  explicit TArchiveBitLookups(TArchiveBitStore& store) : store_(store) { store_.BeginLookups(); }
  ~TArchiveBitLookups() { store_.EndLookups(); }
  TArchiveBitLookups(const TArchiveBitLookups&) = delete;
  TArchiveBitLookups& operator=(const TArchiveBitLookups&) = delete;

 private:
  TArchiveBitStore& store_;
};

// Keeps a batch open for as long as it lives: what is not committed when it
// ends is rolled back.  The store must outlive it.
class TArchiveBitBatch {
 public:
  explicit TArchiveBitBatch(TArchiveBitStore& store) : store_(store) { store_.BeginBatch(); }
  ~TArchiveBitBatch() {
    if (open_) {
      try {
        store_.RollbackBatch();
      } catch (...) {
      }
    }
  }
  TArchiveBitBatch(const TArchiveBitBatch&) = delete;
  TArchiveBitBatch& operator=(const TArchiveBitBatch&) = delete;
  void Commit() {
    open_ = false;
    store_.CommitBatch();
  }

 private:
  TArchiveBitStore& store_;
  bool open_ = true;
};

// Attributes of a path including faArchive from the process-wide store; -1
// when the path does not exist.  Throws EArchiveStore when the store cannot
// answer.
std::int32_t GetFileAttributes(const std::string& path);
// Applies faReadOnly (permission bits) and faArchive (the process-wide
// store); the other bits cannot be set and are ignored.  false when the path
// does not exist.
bool SetFileAttributes(const std::string& path, std::uint32_t attrs);

}  // namespace vx
