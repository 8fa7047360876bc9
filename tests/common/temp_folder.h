#pragma once
// Private folders and environment for the tests: a fresh folder removed with
// everything in it, a variable set for the life of an object, a private
// archive-bit store, and a small disk that really fills up.
#include <string>
#include <vector>

namespace vx::test {

// A fresh folder under the temporary folder ($TMPDIR or /tmp), removed with
// its contents; folders made read-only inside it are emptied too.
class TTempFolder {
 public:
  explicit TTempFolder(const std::string& tag = "test");
  ~TTempFolder();
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;

  const std::string& path() const { return path_; }
  // path/rel
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }
  // Names in the folder (sorted), for checking that nothing was left behind.
  std::vector<std::string> Names() const;

 private:
  std::string path_;
};

// Sets (or, given nullptr, unsets) an environment variable and puts the old
// value back afterwards.
class TScopedEnv {
 public:
  TScopedEnv(const char* name, const std::string& value);
  TScopedEnv(const char* name, std::nullptr_t);
  ~TScopedEnv();
  TScopedEnv(const TScopedEnv&) = delete;
  TScopedEnv& operator=(const TScopedEnv&) = delete;

 private:
  std::string name_, old_;
  bool had_ = false;
};

// Points VAULTIX_STATE_DIR at a fresh folder for the life of the object, so
// that every test starts with an empty archive-bit store.
class TStateScope {
 public:
  TStateScope() : env_("VAULTIX_STATE_DIR", dir_.path()) {}
  const std::string& path() const { return dir_.path(); }

 private:
  TTempFolder dir_{"state"};
  TScopedEnv env_;
};

// A small tmpfs mounted on a fresh folder: a disk that really fills up.
// Needs root; ok() is false otherwise (the test then skips with a reason).
class TSmallTmpfs {
 public:
  explicit TSmallTmpfs(const std::string& size = "1m");
  ~TSmallTmpfs();
  TSmallTmpfs(const TSmallTmpfs&) = delete;
  TSmallTmpfs& operator=(const TSmallTmpfs&) = delete;

  bool ok() const { return mounted_; }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

 private:
  std::string path_;
  bool mounted_ = false;
};

}  // namespace vx::test
