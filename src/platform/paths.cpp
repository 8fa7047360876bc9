#include "platform/paths.h"

#include <sys/stat.h>

#include <cerrno>

#include "support/strings.h"

namespace vx {

bool StripRecursionMarker(std::string& entry) {
  entry = TrimRight(entry);
  const std::size_t n = entry.size();
  // A blank, then "/S" in any case, closing the entry.
  if (n >= 3 && kBlanks.find(entry[n - 3]) != std::string_view::npos && entry[n - 2] == '/' &&
      (entry[n - 1] == 'S' || entry[n - 1] == 's')) {
    entry = TrimRight(std::string_view(entry).substr(0, n - 2));
    return true;
  }
  return false;
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return !S_ISDIR(st.st_mode);
  // A dangling symbolic link is still an entry that occupies the name.
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  if (path.empty()) return false;
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  const std::string p = WithoutTrailingSlashes(path);
  if (DirectoryExists(p)) return true;
  const auto slash = p.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    if (!ForceDirectories(p.substr(0, slash))) return false;
  }
  if (::mkdir(p.c_str(), 0777) != 0 && errno != EEXIST) return false;
  if (DirectoryExists(p)) return true;
  errno = ENOTDIR;  // something else stands there: errno tells why, as for mkdir
  return false;
}

}  // namespace vx
