// Selection matching, and the engine's published matching functions.
#include "engine/selection.h"

#include "engine/vaultrex.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "support/strings.h"

namespace vx {

namespace {

std::string Slashed(std::string s) {
  for (char& c : s) c = c == '\\' ? '/' : c;
  return s;
}

}  // namespace

bool MatchMask(const std::string& mask, const std::string& name) {
  std::string m = LowerAscii(mask);
  std::string n = LowerAscii(name);
  if (n.find('.') == std::string::npos) n += '.';
  if (!n.empty() && n.front() == '.') {
    const auto dot = m.find('.');
    if (dot != std::string::npos) m.erase(0, dot);
  }
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < m.size() && j < n.size()) {
    if (m[i] == '?' || m[i] == n[j]) {
      ++i;
      ++j;
    } else if (m[i] != '*') {
      return false;
    } else {
      if (i + 1 == m.size()) return true;
      ++j;
      if (j < n.size() && n[j] == m[i + 1]) ++i;
    }
  }
  return i >= m.size();
}

bool MatchExclude(const std::string& pattern, const std::string& path, bool recurse) {
  if (!MatchMask(ExtractFileName(pattern), ExtractFileName(path))) return false;
  const std::string patternFolder = ExtractFilePath(pattern);
  if (patternFolder.empty()) return true;
  const std::string pathFolder = LowerAscii(ExtractFilePath(path));
  if (recurse) return pathFolder.find(LowerAscii(patternFolder)) != std::string::npos;
  return pathFolder == LowerAscii(patternFolder);
}

bool MatchIncludeLine(const std::string& line, const std::string& path, bool recurse) {
  std::string entry = line;
  const bool own = StripRecursionMarker(entry);
  if (entry.empty()) return false;
  std::string p = path;
  if (IsForeignPath(path)) {
    // Paths of a drive-letter system: their folders end in "\".
    p = Slashed(p);
    entry = Slashed(entry);
  }
  const std::string mask = ExtractFileName(entry);
  if (mask.empty() || !MatchSearchMask(mask, ExtractFileName(p))) return false;
  const std::string entryFolder = LowerAscii(ExtractFilePath(entry));
  if (entryFolder.empty()) return true;
  const std::string pathFolder = LowerAscii(ExtractFilePath(p));
  if (recurse || own) return pathFolder.find(entryFolder) != std::string::npos;
  return pathFolder == entryFolder;
}

bool SelectedByIncludes(const std::vector<std::string>& includes, bool recurse,
                        const std::string& path) {
  for (const std::string& line : includes) {
    if (!line.empty() && MatchIncludeLine(line, path, recurse)) return true;
  }
  return false;
}

bool KeptByDelete(const std::vector<std::string>& includes,
                  const std::vector<std::string>& excludes, bool recurse, const std::string& path) {
  const bool byIncludes = !includes.empty();
  for (const std::string& line : byIncludes ? includes : excludes) {
    if (!line.empty() && MatchIncludeLine(line, path, recurse)) return byIncludes;
  }
  return !byIncludes;
}

bool TVaultrex::MatchMask(const std::string& mask, const std::string& name) {
  return vx::MatchMask(mask, name);
}

bool TVaultrex::MatchExclude(const std::string& pattern, const std::string& path, bool recurse) {
  return vx::MatchExclude(pattern, path, recurse);
}

bool TVaultrex::MatchIncludeLine(const std::string& line, const std::string& path, bool recurse) {
  return vx::MatchIncludeLine(line, path, recurse);
}

bool IsForeignPath(const std::string& path) {
  return (path.size() >= 2 && path[1] == ':') || (!path.empty() && path[0] == '\\');
}

}  // namespace vx
