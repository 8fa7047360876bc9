#include "platform/node_meta.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/fd.h"

namespace vx {

namespace {

std::int64_t Ns(const timespec& ts) {
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

timespec Ts(std::int64_t ns) {
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(ns / 1000000000);
  ts.tv_nsec = static_cast<long>(ns % 1000000000);
  if (ts.tv_nsec < 0) {
    ts.tv_nsec += 1000000000;
    --ts.tv_sec;
  }
  return ts;
}

int Errno(int rc) { return rc == 0 ? 0 : errno; }

// Removes a non-folder entry that stands in the way of a new one.
int ClearWay(int dir, const std::string& name) {
  struct stat st {};
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return 0;
  if (S_ISDIR(st.st_mode)) return EEXIST;
  return Errno(::unlinkat(dir, name.c_str(), 0));
}

// The entry opened as a path only, never through a link; the caller learns
// from `st` what it is.
TFd OpenEntry(int dir, const std::string& name, struct stat& st) {
  TFd fd(::openat(dir, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (fd && ::fstat(fd.Get(), &st) != 0) return TFd();
  return fd;
}

std::string ProcPath(const TFd& fd) { return "/proc/self/fd/" + std::to_string(fd.Get()); }

}  // namespace

TNodeMeta NodeMetaOf(const struct stat& st) {
  TNodeMeta m;
  m.mode = st.st_mode;
  m.uid = st.st_uid;
  m.gid = st.st_gid;
  m.mtimeNs = Ns(st.st_mtim);
  m.atimeNs = Ns(st.st_atim);
  m.rdev = st.st_rdev;
  m.dev = st.st_dev;
  m.ino = st.st_ino;
  m.nlink = static_cast<std::uint32_t>(st.st_nlink);
  return m;
}

bool HasXattrs(int fd) { return ::flistxattr(fd, nullptr, 0) != 0; }

bool ReadNodeMeta(const std::string& path, TNodeMeta& meta) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  meta = NodeMetaOf(st);
  return true;
}

bool ReadLinkText(const std::string& path, std::string& text) {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (n < 0) return false;
    if (static_cast<std::size_t>(n) < buffer.size()) {
      text.assign(buffer.data(), static_cast<std::size_t>(n));
      return true;
    }
    if (buffer.size() >= 65536) {
      errno = ENAMETOOLONG;
      return false;
    }
    buffer.resize(buffer.size() * 4);
  }
}

bool ReadXattrs(const std::string& path, TXattrList& list) {
  list.clear();
  ssize_t size = ::llistxattr(path.c_str(), nullptr, 0);
  if (size < 0) return errno == ENOTSUP;
  if (size == 0) return true;
  std::vector<char> names(static_cast<std::size_t>(size));
  size = ::llistxattr(path.c_str(), names.data(), names.size());
  if (size < 0) return false;
  for (std::size_t at = 0; at < static_cast<std::size_t>(size);) {
    const std::string name(names.data() + at);
    at += name.size() + 1;
    if (name.empty()) continue;
    const ssize_t length = ::lgetxattr(path.c_str(), name.c_str(), nullptr, 0);
    if (length < 0) {
      if (errno == ENODATA) continue;  // removed since it was listed
      return false;
    }
    std::string value(static_cast<std::size_t>(length), '\0');
    const ssize_t got = ::lgetxattr(path.c_str(), name.c_str(), value.data(), value.size());
    if (got < 0) return false;
    value.resize(static_cast<std::size_t>(got));
    list.emplace_back(name, std::move(value));
  }
  return true;
}

std::string UserNameOf(std::uint32_t uid) {
  std::vector<char> buffer(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
    return {};
  return found->pw_name;
}

std::string GroupNameOf(std::uint32_t gid) {
  std::vector<char> buffer(65536);
  group gr{};
  group* found = nullptr;
  if (::getgrgid_r(gid, &gr, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
    return {};
  return found->gr_name;
}

bool UserIdOf(const std::string& name, std::uint32_t& uid) {
  std::vector<char> buffer(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (::getpwnam_r(name.c_str(), &pw, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr)
    return false;
  uid = found->pw_uid;
  return true;
}

bool GroupIdOf(const std::string& name, std::uint32_t& gid) {
  std::vector<char> buffer(65536);
  group gr{};
  group* found = nullptr;
  if (::getgrnam_r(name.c_str(), &gr, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr)
    return false;
  gid = found->gr_gid;
  return true;
}

bool MayChangeOwners() { return ::geteuid() == 0; }

bool InGroup(std::uint32_t gid) {
  if (::getegid() == gid) return true;
  const int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  const int got = ::getgroups(count, groups.data());
  for (int i = 0; i < got; ++i)
    if (groups[static_cast<std::size_t>(i)] == gid) return true;
  return false;
}

int MakeFolderAt(int dir, const std::string& name) {
  if (::mkdirat(dir, name.c_str(), 0700) == 0) return 0;
  const int err = errno;
  struct stat st {};
  if (err == EEXIST && ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISDIR(st.st_mode))
    return 0;
  return err;
}

int MakeSymlinkAt(int dir, const std::string& name, const std::string& text) {
  if (::symlinkat(text.c_str(), dir, name.c_str()) == 0) return 0;
  if (errno != EEXIST) return errno;
  if (const int err = ClearWay(dir, name)) return err;
  return Errno(::symlinkat(text.c_str(), dir, name.c_str()));
}

int MakeHardLinkAt(int fromDir, const std::string& fromName, int dir, const std::string& name) {
  // Never through a link: linkat without AT_SYMLINK_FOLLOW links the entry
  // itself.
  if (::linkat(fromDir, fromName.c_str(), dir, name.c_str(), 0) == 0) return 0;
  if (errno != EEXIST) return errno;
  struct stat a {};
  struct stat b {};
  if (::fstatat(fromDir, fromName.c_str(), &a, AT_SYMLINK_NOFOLLOW) == 0 &&
      ::fstatat(dir, name.c_str(), &b, AT_SYMLINK_NOFOLLOW) == 0 && a.st_dev == b.st_dev &&
      a.st_ino == b.st_ino)
    return 0;  // linked already
  if (const int err = ClearWay(dir, name)) return err;
  return Errno(::linkat(fromDir, fromName.c_str(), dir, name.c_str(), 0));
}

int MakeNodeAt(int dir, const std::string& name, std::uint32_t mode, std::uint64_t rdev) {
  // Private until its own mode is applied.
  const mode_t type = mode & S_IFMT;
  if (::mknodat(dir, name.c_str(), type | 0600, static_cast<dev_t>(rdev)) == 0) return 0;
  if (errno != EEXIST) return errno;
  struct stat st {};
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      (st.st_mode & S_IFMT) == type && st.st_rdev == static_cast<dev_t>(rdev))
    return 0;
  if (const int err = ClearWay(dir, name)) return err;
  return Errno(::mknodat(dir, name.c_str(), type | 0600, static_cast<dev_t>(rdev)));
}

int ChangeOwnerAt(int dir, const std::string& name, std::uint32_t uid, std::uint32_t gid) {
  return Errno(::fchownat(dir, name.c_str(), uid, gid, AT_SYMLINK_NOFOLLOW));
}

int ChangeModeAt(int dir, const std::string& name, std::uint32_t mode) {
  struct stat st {};
  const TFd fd = OpenEntry(dir, name, st);
  if (!fd) return errno;
  if (S_ISLNK(st.st_mode)) return ELOOP;
  // Through the descriptor's own entry in /proc: the item opened above,
  // whatever the name leads to by now.
  return Errno(::chmod(ProcPath(fd).c_str(), mode & 07777));
}

int SetTimesAt(int dir, const std::string& name, std::int64_t atimeNs, std::int64_t mtimeNs,
               bool keepAtime) {
  timespec times[2] = {Ts(atimeNs), Ts(mtimeNs)};
  if (keepAtime) times[0].tv_nsec = UTIME_OMIT;
  return Errno(::utimensat(dir, name.c_str(), times, AT_SYMLINK_NOFOLLOW));
}

int SetXattrsAt(int dir, const std::string& name, const TXattrList& list) {
  if (list.empty()) return 0;
  struct stat st {};
  const TFd fd = OpenEntry(dir, name, st);
  if (!fd) return errno;
  if (S_ISLNK(st.st_mode)) return ELOOP;
  const std::string path = ProcPath(fd);
  int first = 0;
  for (const auto& [key, value] : list) {
    if (::setxattr(path.c_str(), key.c_str(), value.data(), value.size(), 0) != 0 && first == 0)
      first = errno;
  }
  return first;
}

bool NodeMetaAt(int dir, const std::string& name, TNodeMeta& meta) {
  struct stat st {};
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  meta = NodeMetaOf(st);
  return true;
}

}  // namespace vx
