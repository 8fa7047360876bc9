#include "support/path_names.h"

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

bool HasExtension(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const auto dot = path.rfind('.');
  return dot != std::string::npos && dot > nameStart;
}

std::string WithTrailingSlash(const std::string& path) {
  if (path.empty() || path.back() == '/') return path;
  return path + '/';
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool IsVolumeName(const std::string& path, std::string& setPath) {
  const std::size_t n = path.size();
  if (n < 5 || path[n - 4] != '.') return false;
  for (std::size_t i = n - 3; i < n; ++i) {
    if (path[i] < '0' || path[i] > '9') return false;
  }
  setPath = path.substr(0, n - 4);
  return true;
}

}  // namespace vx
