#include "archive/erase_target.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "archive/format.h"
#include "platform/fd.h"
#include "support/path_names.h"

namespace vx {
namespace {

enum class TVerdict { Ours, Foreign, InUse };

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

std::string RealPath(const std::string& path) {
  char real[PATH_MAX];
  return !path.empty() && ::realpath(path.c_str(), real) != nullptr ? std::string(real) : "";
}

// The home folder as $HOME names it and as the password database does.
bool IsHomeFolder(const std::string& realFolder) {
  if (const char* home = std::getenv("HOME"); home != nullptr && RealPath(home) == realFolder)
    return true;
  struct passwd pw {};
  struct passwd* found = nullptr;
  char buf[4096];
  return ::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &found) == 0 && found != nullptr &&
         RealPath(found->pw_dir) == realFolder;
}

// A lock file of this program ("." + name + ".lock", empty): never erased,
// and no reason for a warning.
bool IsLockFile(const std::string& name, const struct stat& st) {
  return name.size() > 6 && name[0] == '.' && name.compare(name.size() - 5, 5, ".lock") == 0 &&
         st.st_size == 0;
}

bool StartsWithHeader(int fd) {
  std::uint8_t bytes[kHeaderSize];
  TArchiveHeader header;
  return ::pread(fd, bytes, kHeaderSize, 0) == static_cast<ssize_t>(kHeaderSize) &&
         DecodeHeader(bytes, header);
}

bool FirstLineBegins(int fd, const std::vector<std::string>& marks) {
  char buf[256];
  const ssize_t n = ::pread(fd, buf, sizeof buf, 0);
  if (n <= 0) return false;
  const std::string head(buf, static_cast<std::size_t>(n));
  for (const std::string& mark : marks) {
    if (!mark.empty() && head.compare(0, mark.size(), mark) == 0) return true;
  }
  return false;
}

bool FirstVolumeIsSet(int dfd, const std::string& setName) {
  const TFd first(::openat(dfd, (setName + ".001").c_str(),
                           O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat st;
  return first && ::fstat(first.Get(), &st) == 0 && S_ISREG(st.st_mode) &&
         StartsWithHeader(first.Get());
}

// Whether another run holds the lock of a set this file may belong to (its
// own name, the name of the set a volume or temporary file is of).  The set
// being written is this run's own: its lock is ours.
bool SetInUse(int dfd, const std::string& name, const std::string& ownSet) {
  std::vector<std::string> sets = {name};
  std::string volumeOf;
  if (IsVolumeName(name, volumeOf)) sets.push_back(volumeOf);
  // ".NAME.XXXXXX": the temporary file a one-file set is written to.
  if (name.size() > 8 && name[0] == '.' && name[name.size() - 7] == '.')
    sets.push_back(name.substr(1, name.size() - 8));
  for (const std::string& set : sets) {
    if (set == ownSet) continue;
    const TFd lock(::openat(dfd, ("." + set + ".lock").c_str(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (lock && ::flock(lock.Get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) return true;
  }
  return false;
}

// Opens the file, makes sure it is still the regular file st describes and
// takes its lock (so that no other run can take it while it is looked at
// and removed): open is the descriptor that holds the lock.
TVerdict Classify(int dfd, const std::string& name, const struct stat& st,
                  const std::string& ownSet, const TEraseRules& rules, TFd& open) {
  open =
      TFd(::openat(dfd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat now;
  if (!open || ::fstat(open.Get(), &now) != 0 || !S_ISREG(now.st_mode) || now.st_dev != st.st_dev ||
      now.st_ino != st.st_ino)
    return TVerdict::Foreign;
  // Another run writes it (or reads it): it is in use, whoever it is.
  int rc = 0;
  while ((rc = ::flock(open.Get(), LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (rc != 0 || SetInUse(dfd, name, ownSet)) return TVerdict::InUse;
  if (StartsWithHeader(open.Get())) return TVerdict::Ours;
  std::string volumeOf;
  if (IsVolumeName(name, volumeOf)) {
    if (FirstVolumeIsSet(dfd, volumeOf)) return TVerdict::Ours;
    // A later volume of the set being written, left from an earlier run on
    // this medium: every volume holds whole transfer blocks.
    if (volumeOf == ownSet && now.st_size > 0 && now.st_size % static_cast<off_t>(kBlockSize) == 0)
      return TVerdict::Ours;
  }
  if (IsRunLogName(name) && FirstLineBegins(open.Get(), rules.logMarks)) return TVerdict::Ours;
  return TVerdict::Foreign;
}

bool Digits(const std::string& s, std::size_t at, std::size_t count) {
  if (at + count > s.size()) return false;
  for (std::size_t i = at; i < at + count; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
  }
  return true;
}

}  // namespace

bool IsRunLogName(const std::string& name) {
  std::size_t at = 0;
  for (const char* word : {"Backup ", "Restore ", "Verify "}) {
    if (name.rfind(word, 0) == 0) at = std::strlen(word);
  }
  // "MM-DD-YYYY HH-MM-SS.LOG"
  const std::string stamp = at == 0 ? std::string() : name.substr(at);
  return stamp.size() == 23 && Digits(stamp, 0, 2) && stamp[2] == '-' && Digits(stamp, 3, 2) &&
         stamp[5] == '-' && Digits(stamp, 6, 4) && stamp[10] == ' ' && Digits(stamp, 11, 2) &&
         stamp[13] == '-' && Digits(stamp, 14, 2) && stamp[16] == '-' && Digits(stamp, 17, 2) &&
         stamp.compare(19, 4, ".LOG") == 0;
}

TEraseListing ListErasable(const std::string& baseName, const TEraseRules& rules,
                           const std::function<bool(const std::string& name)>& ownFile) {
  TEraseListing listing;
  std::string folder = ExtractFilePath(baseName);
  if (folder.empty()) folder = "./";
  const std::string real = RealPath(folder);
  if (real.empty() || real == "/") return listing;
  TFd folderFd = OpenFd(real, O_RDONLY | O_DIRECTORY);
  if (!folderFd) return listing;
  listing.folder = real;
  if (IsHomeFolder(real)) {
    listing.homeFolder = true;
    return listing;
  }
  const int dfd = folderFd.Get();
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(dfd), &::closedir);
  if (!dir) return listing;
  folderFd.Release();  // the folder stream closes it now
  listing.setName = ExtractFileName(baseName);
  while (dirent* e = ::readdir(dir.get())) {
    const std::string name = e->d_name;
    struct stat st;
    if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    if (SameFileAs(rules.keepPaths, st) || (ownFile && ownFile(name)) || IsLockFile(name, st))
      continue;
    TFd open;
    if (Classify(dfd, name, st, listing.setName, rules, open) == TVerdict::Ours) {
      listing.names.push_back(name);
    } else {
      listing.kept.push_back(name);
    }
  }
  return listing;
}

void EraseListed(TEraseListing listing, const TEraseRules& rules) {
  if (listing.folder.empty()) return;
  const TFd dir = OpenFd(listing.folder, O_RDONLY | O_DIRECTORY);
  // A later volume is known as a set's by its first volume: the first
  // volumes go last.
  std::stable_partition(listing.names.begin(), listing.names.end(), [](const std::string& n) {
    std::string volumeOf;
    return !IsVolumeName(n, volumeOf) || n.compare(n.size() - 4, 4, ".001") != 0;
  });
  if (dir) {
    for (const std::string& name : listing.names) {
      struct stat st;
      TFd open;
      // Looked at again, holding the file's lock while it is removed: it may
      // have changed, or another run may have taken it, since the listing.
      const bool ours =
          ::fstatat(dir.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISREG(st.st_mode) &&
          Classify(dir.Get(), name, st, listing.setName, rules, open) == TVerdict::Ours;
      if (ours && ::unlinkat(dir.Get(), name.c_str(), 0) == 0) {
        if (rules.deleted) rules.deleted(listing.folder + "/" + name);
      } else if (!ours || errno != ENOENT) {
        listing.kept.push_back(name);
      }
    }
  }
  if ((!listing.kept.empty() || listing.homeFolder) && rules.kept) rules.kept(listing);
}

}  // namespace vx
