#include "platform/archive_bits.h"

#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "platform/paths.h"
#include "support/utils.h"

namespace vx {

namespace {

constexpr int kBusyTimeoutMs = 2000;
constexpr int kSchemaVersion = 1;

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string HomeDir() {
  std::string home = Env("HOME");
  if (!home.empty()) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

// Whether a path is absolute and lexically normal already: no empty, "."
// or ".." part and no separator at its end.  The paths of a backup's list
// are, and need no copy taken apart and put together again.
bool IsPlainAbsolute(const std::string& p) {
  if (p.size() < 2 || p.front() != '/' || p.back() == '/') return false;
  for (std::size_t start = 1; start <= p.size();) {
    std::size_t end = p.find('/', start);
    if (end == std::string::npos) end = p.size();
    const std::size_t len = end - start;
    if (len == 0 || (p[start] == '.' && (len == 1 || (len == 2 && p[start + 1] == '.')))) {
      return false;
    }
    start = end + 1;
  }
  return true;
}

// The store's key: an absolute, lexically normal path (links are not
// resolved, so a link and its target keep separate records).  The path
// itself when it is one already, else `spare` filled with it.
const std::string& Key(const std::string& path, std::string& spare) {
  if (IsPlainAbsolute(path)) return path;
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec);
  if (ec) p = path;
  spare = p.lexically_normal().string();
  return spare;
}

// Creates the store's folder (and missing parents); the last level is made
// private because the store lists the user's file names.
void MakeStoreFolder(const std::string& folder) {
  if (folder.empty() || DirectoryExists(folder)) return;
  std::string parent = folder;
  while (parent.size() > 1 && parent.back() == '/') parent.pop_back();
  parent = ExtractFilePath(parent);
  if (!parent.empty() && !ForceDirectories(parent)) {
    throw EArchiveStore("Archive-attribute store: cannot create the folder " + parent);
  }
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    throw EArchiveStore("Archive-attribute store: cannot create the folder " + folder);
  }
}

}  // namespace

struct TArchiveBitStore::Statements {
  sqlite3_stmt* select = nullptr;
  sqlite3_stmt* upsert = nullptr;
  sqlite3_stmt* remove = nullptr;
  ~Statements() {
    sqlite3_finalize(select);
    sqlite3_finalize(upsert);
    sqlite3_finalize(remove);
  }
};

namespace {

[[noreturn]] void Fail(sqlite3* db, const std::string& path, const std::string& what) {
  std::string msg = "Archive-attribute store " + path + ": " + what;
  if (db) {
    const int code = sqlite3_errcode(db);
    msg += ": ";
    msg += sqlite3_errmsg(db);
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED) {
      msg += " (another program holds the store locked)";
    } else if (code == SQLITE_NOTADB || code == SQLITE_CORRUPT) {
      msg += " (the store is damaged; move it away to start afresh)";
    }
  }
  throw EArchiveStore(msg);
}

void Exec(sqlite3* db, const std::string& path, const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
    sqlite3_free(err);
    Fail(db, path, std::string("cannot run \"") + sql + "\"");
  }
}

sqlite3_stmt* Prepare(sqlite3* db, const std::string& path, const char* sql) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) {
    Fail(db, path, "cannot prepare a query");
  }
  return st;
}

// Runs a prepared statement that returns no rows, then resets it.
// The key is bound without a copy: the bindings are cleared before it goes.
void BindKey(sqlite3_stmt* st, const std::string& key) {
  sqlite3_bind_text(st, 1, key.c_str(), static_cast<int>(key.size()), SQLITE_STATIC);
}

// Runs a statement that returns no rows; `what` and the key say what failed.
void StepDone(sqlite3* db, const std::string& path, sqlite3_stmt* st, const char* what,
              const std::string& key) {
  const int rc = sqlite3_step(st);
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  if (rc != SQLITE_DONE) Fail(db, path, what + key);
}

}  // namespace

TArchiveBitStore::TArchiveBitStore(const std::string& dbPath) : path_(dbPath) {
  MakeStoreFolder(ExtractFilePath(dbPath));
  if (sqlite3_open_v2(dbPath.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw EArchiveStore("Archive-attribute store " + dbPath + ": cannot open: " + msg);
  }
  try {
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    Exec(db_, path_,
         "CREATE TABLE IF NOT EXISTS cleared ("
         " path TEXT PRIMARY KEY NOT NULL,"
         " dev INTEGER NOT NULL, ino INTEGER NOT NULL, size INTEGER NOT NULL,"
         " mtime_ns INTEGER NOT NULL, ctime_ns INTEGER NOT NULL) WITHOUT ROWID");
    // Written only when it differs: every run opens the store, and a write
    // here would take the write lock (and sync) each time.
    sqlite3_stmt* version = Prepare(db_, path_, "PRAGMA user_version");
    const bool current =
        sqlite3_step(version) == SQLITE_ROW && sqlite3_column_int(version, 0) == kSchemaVersion;
    sqlite3_finalize(version);
    if (!current)
      Exec(db_, path_, ("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
    st_ = std::make_unique<Statements>();
    st_->select = Prepare(db_, path_,
                          "SELECT dev, ino, size, mtime_ns, ctime_ns FROM cleared WHERE path = ?1");
    st_->upsert =
        Prepare(db_, path_,
                "INSERT OR REPLACE INTO cleared (path, dev, ino, size, mtime_ns, ctime_ns)"
                " VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    st_->remove = Prepare(db_, path_, "DELETE FROM cleared WHERE path = ?1");
  } catch (...) {
    st_.reset();
    sqlite3_close(db_);
    db_ = nullptr;
    throw;
  }
}

TArchiveBitStore::~TArchiveBitStore() {
  if (tx_ != TTransaction::None) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  st_.reset();
  sqlite3_close(db_);
}

std::string TArchiveBitStore::DefaultPath() {
  const std::string file = "archive-bits.sqlite";
  const std::string stateDir = Env("VAULTIX_STATE_DIR");
  if (!stateDir.empty()) return IncludeBackslash(stateDir) + file;
  std::string xdg = Env("XDG_STATE_HOME");
  // Relative values are invalid by the XDG rules and are ignored.
  if (xdg.empty() || xdg[0] != '/') xdg = IncludeBackslash(HomeDir()) + ".local/state";
  return IncludeBackslash(xdg) + "vaultix/" + file;
}

std::unique_ptr<TArchiveBitStore> TArchiveBitStore::OpenDefault() {
  return std::make_unique<TArchiveBitStore>(DefaultPath());
}

TArchiveBitStore& TArchiveBitStore::Instance() {
  static std::mutex mutex;
  static std::unique_ptr<TArchiveBitStore> instance;
  std::lock_guard<std::mutex> lock(mutex);
  const std::string want = DefaultPath();
  if (!instance || instance->path() != want) {
    instance.reset();
    instance = std::make_unique<TArchiveBitStore>(want);
  }
  return *instance;
}

// Inside a pass of look-ups, opens (or renews, when it has been held for
// kLookupSnapshotMs) the pass's read transaction.
void TArchiveBitStore::WillRead() {
  if (lookupPasses_ == 0 || tx_ == TTransaction::Writing) return;
  const auto now = std::chrono::steady_clock::now();
  if (tx_ == TTransaction::Reading) {
    if (now - readingSince_ < std::chrono::milliseconds(kLookupSnapshotMs)) return;
    EndReading();
  }
  Exec(db_, path_, "BEGIN DEFERRED");
  tx_ = TTransaction::Reading;
  readingSince_ = now;
}

// A write outside a batch commits on its own, never inside a pass's read
// transaction (it would otherwise wait for the pass's end).
void TArchiveBitStore::WillWrite() {
  if (tx_ == TTransaction::Reading) EndReading();
}

void TArchiveBitStore::EndReading() {
  tx_ = TTransaction::None;
  // SQLite may already have ended it (a failed statement rolls back).
  if (!sqlite3_get_autocommit(db_)) Exec(db_, path_, "COMMIT");  // read only: releases the lock
}

void TArchiveBitStore::BeginLookups() { ++lookupPasses_; }

void TArchiveBitStore::EndLookups() {
  if (lookupPasses_ > 0 && --lookupPasses_ == 0 && tx_ == TTransaction::Reading) {
    tx_ = TTransaction::None;
    // Read only: nothing to lose; called from destructors, so never throws.
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  }
}

bool TArchiveBitStore::IsSet(const std::string& path, const TFileStamp& stamp) {
  WillRead();
  std::string spare;
  const std::string& key = Key(path, spare);
  sqlite3_stmt* st = st_->select;
  BindKey(st, key);
  const int rc = sqlite3_step(st);
  bool set = true;
  if (rc == SQLITE_ROW) {
    set = static_cast<std::uint64_t>(sqlite3_column_int64(st, 0)) != stamp.dev ||
          static_cast<std::uint64_t>(sqlite3_column_int64(st, 1)) != stamp.ino ||
          sqlite3_column_int64(st, 2) != stamp.size ||
          sqlite3_column_int64(st, 3) != stamp.mtimeNs ||
          sqlite3_column_int64(st, 4) != stamp.ctimeNs;
  }
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) Fail(db_, path_, "cannot read the record of " + key);
  return set;
}

bool TArchiveBitStore::IsSet(const std::string& path) {
  TFileStamp stamp;
  if (!GetFileStamp(path, stamp)) return true;
  return IsSet(path, stamp);
}

void TArchiveBitStore::Set(const std::string& path) {
  WillWrite();
  std::string spare;
  const std::string& key = Key(path, spare);
  BindKey(st_->remove, key);
  StepDone(db_, path_, st_->remove, "cannot set the archive attribute of ", key);
}

void TArchiveBitStore::BeginBatch() {
  if (tx_ == TTransaction::Writing) return;
  WillWrite();
  Exec(db_, path_, "BEGIN IMMEDIATE");
  tx_ = TTransaction::Writing;
}

void TArchiveBitStore::Clear(const std::string& path) {
  TFileStamp stamp;
  if (!GetFileStamp(path, stamp)) {
    Set(path);  // nothing left to describe: no record
    return;
  }
  Clear(path, stamp);
}

void TArchiveBitStore::Clear(const std::string& path, const TFileStamp& stamp) {
  WillWrite();
  std::string spare;
  const std::string& key = Key(path, spare);
  sqlite3_stmt* st = st_->upsert;
  BindKey(st, key);
  sqlite3_bind_int64(st, 2, static_cast<sqlite3_int64>(stamp.dev));
  sqlite3_bind_int64(st, 3, static_cast<sqlite3_int64>(stamp.ino));
  sqlite3_bind_int64(st, 4, stamp.size);
  sqlite3_bind_int64(st, 5, stamp.mtimeNs);
  sqlite3_bind_int64(st, 6, stamp.ctimeNs);
  StepDone(db_, path_, st, "cannot clear the archive attribute of ", key);
}

void TArchiveBitStore::CommitBatch() {
  if (tx_ != TTransaction::Writing) return;
  Exec(db_, path_, "COMMIT");
  tx_ = TTransaction::None;
}

void TArchiveBitStore::RollbackBatch() {
  if (tx_ != TTransaction::Writing) return;
  tx_ = TTransaction::None;
  Exec(db_, path_, "ROLLBACK");
}

std::int32_t GetFileAttributes(const std::string& path) {
  TFileStamp stamp;
  std::int32_t attr = GetPlainAttributes(path, &stamp);
  if (attr < 0 || (static_cast<std::uint32_t>(attr) & (faDirectory | faSysFile)) != 0) return attr;
  if (TArchiveBitStore::Instance().IsSet(path, stamp)) attr |= static_cast<std::int32_t>(faArchive);
  return attr;
}

bool SetFileAttributes(const std::string& path, std::uint32_t attrs) {
  const int kind = SetPermissionAttributes(path, attrs);
  if (kind < 0) return false;
  if (kind == 1) {
    TArchiveBitStore& store = TArchiveBitStore::Instance();
    if (attrs & faArchive) {
      store.Set(path);
    } else {
      store.Clear(path);
    }
  }
  return true;
}

}  // namespace vx
