#include "archive/erase_target.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/fd.h"
#include "support/path_names.h"

namespace vx {
namespace {

bool SameFileAs(const std::vector<std::string>& paths, const struct stat& st) {
  for (const std::string& keep : paths) {
    struct stat k;
    if (!keep.empty() && ::stat(keep.c_str(), &k) == 0 && k.st_dev == st.st_dev &&
        k.st_ino == st.st_ino) {
      return true;
    }
  }
  return false;
}

}  // namespace

TEraseListing ListErasable(const std::string& baseName, const std::vector<std::string>& keepPaths,
                           const std::function<bool(const std::string& name)>& ownFile) {
  TEraseListing listing;
  std::string folder = ExtractFilePath(baseName);
  if (folder.empty()) folder = "./";
  char real[PATH_MAX];
  if (::realpath(folder.c_str(), real) == nullptr) return listing;
  if (std::strcmp(real, "/") == 0) return listing;
  TFd folderFd = OpenFd(real, O_RDONLY | O_DIRECTORY);
  if (!folderFd) return listing;
  const int dfd = folderFd.Get();
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(dfd), &::closedir);
  if (!dir) return listing;
  folderFd.Release();  // the folder stream closes it now
  listing.folder = real;
  while (dirent* e = ::readdir(dir.get())) {
    struct stat st;
    if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    if (SameFileAs(keepPaths, st) || (ownFile && ownFile(e->d_name))) continue;
    listing.names.push_back(e->d_name);
  }
  return listing;
}

}  // namespace vx
