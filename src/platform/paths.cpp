#include "platform/paths.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>

namespace vx {

std::string ExtractFilePath(const std::string& path) {
  const auto pos = path.rfind('/');
  return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

std::string ExtractFileName(const std::string& path) {
  const auto pos = path.rfind('/');
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

std::string RemoveFileExt(const std::string& path) {
  const auto slash = path.rfind('/');
  const auto dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
  return path.substr(0, dot);
}

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

void TrimTrailingBlanks(std::string& s) {
  while (!s.empty() && IsBlank(s.back())) s.pop_back();
}
}  // namespace

bool StripRecursionMarker(std::string& entry) {
  TrimTrailingBlanks(entry);
  const std::size_t n = entry.size();
  // A blank, then "/S" in any case, closing the entry.
  if (n >= 3 && IsBlank(entry[n - 3]) && entry[n - 2] == '/' &&
      (entry[n - 1] == 'S' || entry[n - 1] == 's')) {
    entry.resize(n - 2);
    TrimTrailingBlanks(entry);
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

bool DirectoryExists(const std::string& path) {
  if (path.empty()) return false;
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (DirectoryExists(p)) return true;
  const auto slash = p.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    if (!ForceDirectories(p.substr(0, slash))) return false;
  }
  if (::mkdir(p.c_str(), 0777) != 0 && errno != EEXIST) return false;
  return DirectoryExists(p);
}

}  // namespace vx
