#include "platform/mount_points.h"

#include <dirent.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "platform/paths.h"
#include "platform/texts.h"
#include "support/path_names.h"

namespace vx {
namespace {

using namespace txt::platform;

std::uint64_t fatLimitForTests = 0;

// Undoes the kernel's and fstab's octal escapes: "\040" is a blank.
std::string Unescape(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
        field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
      out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                               (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

std::vector<std::string> Fields(const std::string& line) {
  std::istringstream in(line);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

std::vector<std::string> Parts(const std::string& folder) {
  std::vector<std::string> parts;
  std::size_t i = 0;
  while (i < folder.size()) {
    const std::size_t slash = folder.find('/', i);
    const std::size_t end = slash == std::string::npos ? folder.size() : slash;
    if (end > i) parts.push_back(folder.substr(i, end - i));
    i = end + 1;
  }
  return parts;
}

// The places where removable disks are mounted by name: /media/X,
// /media/USER/X, /run/media/USER/X and /mnt/X.
bool RemovablePlace(const std::string& folder) {
  const std::vector<std::string> p = Parts(folder);
  if (p.size() == 2 && (p[0] == "media" || p[0] == "mnt")) return true;
  if (p.size() == 3 && p[0] == "media") return true;
  return p.size() == 4 && p[0] == "run" && p[1] == "media";
}

bool Listed(const std::vector<std::string>& points, const std::string& folder) {
  for (const std::string& m : points) {
    if (m == folder) return true;
  }
  return false;
}

std::string ReadWhole(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Normalised(const std::string& folder) {
  std::string absolute = folder;
  if (absolute.empty() || absolute[0] != '/') {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) != nullptr) absolute = WithTrailingSlash(cwd) + absolute;
  }
  std::vector<std::string> kept;
  for (const std::string& part : Parts(absolute)) {
    if (part == ".") continue;
    if (part == "..") {
      if (!kept.empty()) kept.pop_back();
      continue;
    }
    kept.push_back(part);
  }
  std::string out;
  for (const std::string& part : kept) out += "/" + part;
  return out.empty() ? "/" : out;
}

bool EmptyFolder(const std::string& folder) {
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
  if (!dir) return false;
  while (const dirent* e = ::readdir(dir.get())) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") return false;
  }
  return true;
}

std::string ParentOf(const std::string& folder) {
  const auto slash = folder.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : folder.substr(0, slash);
}

}  // namespace

std::vector<std::string> MountPointsOf(const std::string& mountinfo) {
  std::vector<std::string> points;
  std::istringstream in(mountinfo);
  std::string line;
  while (std::getline(in, line)) {
    const std::vector<std::string> f = Fields(line);
    if (f.size() >= 5) points.push_back(Unescape(f[4]));
  }
  return points;
}

std::string FileSystemTypeOf(const std::string& folder, const std::string& mountinfo) {
  std::string type;
  std::size_t best = 0;
  std::istringstream in(mountinfo);
  std::string line;
  while (std::getline(in, line)) {
    const std::vector<std::string> f = Fields(line);
    // The optional fields end with "-", followed by the type.
    std::size_t dash = 5;
    while (dash < f.size() && f[dash] != "-") ++dash;
    if (dash + 1 >= f.size()) continue;
    const std::string point = Unescape(f[4]);
    const bool covers = point == "/" || folder == point ||
                        (folder.compare(0, point.size(), point) == 0 &&
                         folder.size() > point.size() && folder[point.size()] == '/');
    // A later mount on the same point hides the earlier one.
    if (covers && point.size() + 1 >= best) {
      best = point.size() + 1;
      type = f[dash + 1];
    }
  }
  return type;
}

std::uint64_t FileSizeLimitOf(const std::string& folder) {
  static constexpr std::uint64_t kFatLimit = 0xFFFFFFFFull;  // 4 GiB - 1
  const std::uint64_t fatLimit = fatLimitForTests != 0 ? fatLimitForTests : kFatLimit;
  struct statfs fs {};
  if (::statfs(folder.empty() ? "." : folder.c_str(), &fs) != 0) return 0;
  if (fs.f_type == MSDOS_SUPER_MAGIC) return fatLimit;
  if (fs.f_type != FUSE_SUPER_MAGIC) return 0;
  // Through FUSE only the mount table tells what is below.
  char real[PATH_MAX];
  if (::realpath(folder.empty() ? "." : folder.c_str(), real) == nullptr) return 0;
  const std::string type = FileSystemTypeOf(real, ReadWhole("/proc/self/mountinfo"));
  return type == "fuse.fusefat" || type == "fuse.vfat" || type == "fuse.msdos" ? fatLimit : 0;
}

void SetFatFileLimitForTests(std::uint64_t bytes) { fatLimitForTests = bytes; }

std::vector<std::string> FstabMountPointsOf(const std::string& fstab) {
  std::vector<std::string> points;
  std::istringstream in(fstab);
  std::string line;
  while (std::getline(in, line)) {
    const std::vector<std::string> f = Fields(line);
    if (f.size() < 2 || f[0][0] == '#' || f[1][0] != '/') continue;
    std::string point = Unescape(f[1]);
    while (point.size() > 1 && point.back() == '/') point.pop_back();
    if (point != "/") points.push_back(point);
  }
  return points;
}

TMountGap MountGapOf(const std::string& folder, const std::string& mountinfo,
                     const std::string& fstab) {
  const std::vector<std::string> mounted = MountPointsOf(mountinfo);
  if (RemovablePlace(folder) && !Listed(mounted, folder)) return TMountGap::RemovablePlace;
  // The folder, or a folder above it, where fstab mounts a disk that is
  // not mounted now: whatever is written there lands on the disk below.
  const std::vector<std::string> planned = FstabMountPointsOf(fstab);
  for (std::string f = folder; f != "/"; f = ParentOf(f)) {
    if (Listed(planned, f) && !Listed(mounted, f)) return TMountGap::FstabNotMounted;
  }
  return TMountGap::None;
}

std::string DestinationRefusal(const std::string& folder, bool mayCreate) {
  const std::string f = Normalised(folder);
  const std::string mountinfo = ReadWhole("/proc/self/mountinfo");
  const std::string fstab = ReadWhole("/etc/fstab");
  if (DirectoryExists(f)) {
    if (MountGapOf(f, mountinfo, fstab) != TMountGap::None && EmptyFolder(f))
      return kFolderOpen + f + kFolderNoDisk;
    return "";
  }
  if (!mayCreate) return kFolderOpen + f + kFolderNotCreatedAllow;
  const std::string parent = ParentOf(f);
  if (!DirectoryExists(parent)) return kFolderOpen + f + kFolderNotCreatedParent;
  if (MountGapOf(parent, mountinfo, fstab) != TMountGap::None)
    return kFolderOpen + f + kFolderNotCreatedNoDisk1 + parent + kFolderNotCreatedNoDisk2;
  if (MountGapOf(f, mountinfo, fstab) == TMountGap::FstabNotMounted)
    return kFolderOpen + f + kFolderNoDisk;
  return "";
}

std::string PrepareDestinationFolder(const std::string& folder, bool mayCreate) {
  std::string why = DestinationRefusal(folder, mayCreate);
  if (!why.empty() || DirectoryExists(folder)) return why;
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    return kFolderOpen + folder + kFolderCannotCreate;
  return "";
}

}  // namespace vx
