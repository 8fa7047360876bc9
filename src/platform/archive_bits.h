#pragma once
// Linux has no archive attribute; this store keeps it.  Per absolute path it
// records the file's identity and change stamp at the moment its archive
// attribute was cleared.  The attribute reads SET when the file has no record
// or the stamp differs; clearing writes the record; setting deletes it.
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
  // The process-wide store at DefaultPath(); reopened when that path changes.
  static TArchiveBitStore& Instance();

  bool IsSet(const std::string& path, const TFileStamp& stamp);
  bool IsSet(const std::string& path);  // stats the file; a missing file reads set
  void Set(const std::string& path);

  // Clearing in batches: one transaction per reset pass.
  void BeginBatch();
  void Clear(const std::string& path);                       // stats the file now
  void Clear(const std::string& path, const TFileStamp& stamp);
  void CommitBatch();
  void RollbackBatch();

  const std::string& path() const { return path_; }

 private:
  std::string path_;
  sqlite3* db_ = nullptr;
  struct Statements;
  std::unique_ptr<Statements> st_;
  bool inBatch_ = false;
};

}  // namespace vx
