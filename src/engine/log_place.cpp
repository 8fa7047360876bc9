#include "engine/log_place.h"

#include <limits.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "engine/vaultrex.h"
#include "support/path_names.h"

namespace vx {
namespace {

// The folder's real path and the file's name; the path as given when its
// folder does not exist.
std::string RealPlace(const std::string& path) {
  std::string folder = ExtractFilePath(path);
  if (folder.empty()) folder = "./";
  char real[PATH_MAX];
  if (::realpath(folder.c_str(), real) == nullptr) return path;
  return WithTrailingSlash(real) + ExtractFileName(path);
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

bool LogNamesTheSet(const TVaultrex& e) {
  if (e.BackupToTape || e.BackupToFTP || e.LogFileMode == LFM_NoLog || e.LogFileName.empty())
    return false;
  const std::string base = WithTrailingSlash(e.BackupDestination) + e.ArchiveBaseName;
  const std::string log = RealPlace(e.LogFileName);
  const std::string set = RealPlace(base);
  if (!e.SpanDisks) return log == set || SameFile(e.LogFileName, base);
  std::string volumeOf;
  if (IsVolumeName(log, volumeOf) && volumeOf == set) return true;
  // A volume reached by another name (a link): the volumes present.
  for (int n = 1; n <= 999; ++n) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, ".%03d", n);
    struct stat st {};
    if (::stat((base + suffix).c_str(), &st) != 0) break;
    if (SameFile(e.LogFileName, base + suffix)) return true;
  }
  return false;
}

}  // namespace vx
