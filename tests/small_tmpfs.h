#pragma once
// A small tmpfs mounted on a fresh folder: a disk that really fills up.
// Needs root; `ok()` is false otherwise (the test then skips with a reason).
#include <stdlib.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace vxfs {

class TSmallTmpfs {
 public:
  explicit TSmallTmpfs(const std::string& size = "1m") {
    char templ[] = "/tmp/vx-tmpfs-XXXXXX";
    if (::geteuid() != 0 || ::mkdtemp(templ) == nullptr) return;
    path_ = templ;
    const std::string options = "size=" + size + ",mode=0777";
    mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~TSmallTmpfs() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TSmallTmpfs(const TSmallTmpfs&) = delete;
  TSmallTmpfs& operator=(const TSmallTmpfs&) = delete;

  bool ok() const { return mounted_; }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  bool mounted_ = false;
};

}  // namespace vxfs
