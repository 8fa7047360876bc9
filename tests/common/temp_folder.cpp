#include "common/temp_folder.h"

#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace vx::test {

namespace fs = std::filesystem;

namespace {

std::string MakeFolder(const std::string& tag) {
  std::string templ = (fs::temp_directory_path() / ("vx-" + tag + "-XXXXXX")).string();
  if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + templ);
  return templ;
}

}  // namespace

TTempFolder::TTempFolder(const std::string& tag) : path_(MakeFolder(tag)) {}

TTempFolder::~TTempFolder() {
  std::error_code ec;
  // Give write permission back so that read-only folders can be emptied.
  ::chmod(path_.c_str(), 0700);
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0700);
  }
  fs::remove_all(path_, ec);
}

std::vector<std::string> TTempFolder::Names() const {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TScopedEnv::TScopedEnv(const char* name, const std::string& value) : TScopedEnv(name, nullptr) {
  ::setenv(name, value.c_str(), 1);
}

TScopedEnv::TScopedEnv(const char* name, std::nullptr_t) : name_(name) {
  if (const char* old = std::getenv(name)) {
    had_ = true;
    old_ = old;
  }
  ::unsetenv(name);
}

TScopedEnv::~TScopedEnv() {
  if (had_)
    ::setenv(name_.c_str(), old_.c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}

TSmallTmpfs::TSmallTmpfs(const std::string& size) {
  char templ[] = "/tmp/vx-tmpfs-XXXXXX";
  if (::geteuid() != 0 || ::mkdtemp(templ) == nullptr) return;
  path_ = templ;
  const std::string options = "size=" + size + ",mode=0777";
  mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

TSmallTmpfs::~TSmallTmpfs() {
  if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(path_, ec);
}

}  // namespace vx::test
