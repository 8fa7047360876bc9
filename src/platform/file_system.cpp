#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cwctype>
#include <memory>

#include "platform/date_time.h"
#include "platform/paths.h"

namespace vx {

namespace {

// Decodes UTF-8 into code points; a byte that does not start a valid sequence
// stands for itself, so any byte string can be matched.
std::u32string Decode(const std::string& s) {
  std::u32string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    char32_t cp = len == 1 ? c : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
    bool ok = len > 0 && i + len <= s.size();
    for (int k = 1; ok && k < len; ++k) {
      const unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) ok = false;
      cp = cp << 6 | (cc & 0x3F);
    }
    if (!ok) {
      out.push_back(0xDC00 + c);  // lone byte, kept apart from real characters
      ++i;
      continue;
    }
    out.push_back(cp);
    i += static_cast<std::size_t>(len);
  }
  return out;
}

char32_t Fold(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  return static_cast<char32_t>(std::towlower(static_cast<wint_t>(c)));
}

// "*" any run, "?" exactly one character; iterative with one back-track point.
bool Wildcard(const std::u32string& mask, const std::u32string& name) {
  std::size_t m = 0, n = 0, starM = std::u32string::npos, starN = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == U'*') {
      starM = m++;
      starN = n;
    } else if (m < mask.size() && (mask[m] == U'?' || Fold(mask[m]) == Fold(name[n]))) {
      ++m;
      ++n;
    } else if (starM != std::u32string::npos) {
      m = starM + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == U'*') ++m;
  return m == mask.size();
}

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

std::int64_t Ns(const timespec& ts) {
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void FillStamp(const struct stat& st, TFileStamp& stamp) {
  stamp.dev = static_cast<std::uint64_t>(st.st_dev);
  stamp.ino = static_cast<std::uint64_t>(st.st_ino);
  stamp.size = static_cast<std::int64_t>(st.st_size);
  stamp.mtimeNs = Ns(st.st_mtim);
  stamp.ctimeNs = Ns(st.st_ctim);
}

std::uint32_t PermissionAttrs(const struct stat& st) {
  return (st.st_mode & S_IWUSR) ? 0u : faReadOnly;
}

std::string LastComponent(const std::string& path) {
  return ExtractFileName(WithoutTrailingSlashes(path));
}

// What a directory entry or a path looks like to the search: `st` is filled
// with what is reported (the target of a link to a regular file, the entry
// itself otherwise).  Returns false when the entry vanished.
bool Classify(int dirFd, const char* name, const std::string& shownName, struct stat& st,
              std::uint32_t& attr, struct stat* own = nullptr) {
  if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  attr = 0;
  if (S_ISLNK(st.st_mode)) {
    if (own != nullptr) *own = st;
    struct stat target {};
    if (::fstatat(dirFd, name, &target, 0) == 0 && S_ISREG(target.st_mode)) {
      st = target;
    } else {
      attr |= faSysFile;  // link to a folder, a special file or nowhere
    }
  } else if (S_ISDIR(st.st_mode)) {
    attr |= faDirectory;
  } else if (!S_ISREG(st.st_mode)) {
    attr |= faSysFile;
  }
  attr |= PermissionAttrs(st);
  if (!shownName.empty() && shownName[0] == '.' && shownName != "." && shownName != "..") {
    attr |= faHidden;
  }
  return true;
}

}  // namespace

bool MatchSearchMask(const std::string& mask, const std::string& name) {
  if (mask == "*" || mask == "*.*") return true;
  const std::u32string n = Decode(name);
  const std::u32string m = Decode(mask);
  if (Wildcard(m, n)) return true;
  // "X.*" also takes the bare name "X".
  if (m.size() >= 2 && m[m.size() - 2] == U'.' && m.back() == U'*') {
    return Wildcard(m.substr(0, m.size() - 2), n);
  }
  return false;
}

bool FindFiles(const std::string& folder, const std::string& mask,
               const std::function<void(const TSearchRec&)>& fn, int* error) {
  const std::string dirName = folder.empty() ? std::string(".") : folder;
  DirPtr dir(::opendir(dirName.c_str()));
  if (!dir) {
    if (error != nullptr) *error = errno;
    return false;
  }
  const int fd = ::dirfd(dir.get());
  bool whole = true;
  while (const dirent* e = ::readdir(dir.get())) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (!MatchSearchMask(mask, name)) continue;
    struct stat st {};
    struct stat own {};
    std::uint32_t attr = 0;
    if (!Classify(fd, e->d_name, name, st, attr, &own)) {
      // Listed but not to be examined (a folder without the x bit).
      if (errno == EACCES) {
        whole = false;
        if (error != nullptr) *error = EACCES;
      }
      continue;
    }
    if (attr & faDirectory) continue;
    TSearchRec rec;
    rec.name = name;
    rec.attr = attr;
    rec.size = (attr & faSysFile) ? 0 : static_cast<std::int64_t>(st.st_size);
    rec.dosTime = UnixToDos(st.st_mtim.tv_sec);
    FillStamp(st, rec.stamp);
    rec.node = NodeMetaOf(st);
    rec.link = S_ISLNK(own.st_mode);
    if (rec.link) rec.linkNode = NodeMetaOf(own);
    fn(rec);
  }
  return whole;
}

std::vector<std::string> FindSubfolders(const std::string& folder, bool includeHidden,
                                        bool* opened) {
  std::vector<std::string> out;
  const std::string dirName = folder.empty() ? std::string(".") : folder;
  DirPtr dir(::opendir(dirName.c_str()));
  if (opened != nullptr) *opened = dir != nullptr;
  if (!dir) return out;
  const int fd = ::dirfd(dir.get());
  while (const dirent* e = ::readdir(dir.get())) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (name[0] == '.' && !includeHidden) continue;
    // The listing's type spares a stat of every file; only a file system
    // that does not give it (DT_UNKNOWN) is asked.
    if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN) continue;
    struct stat st {};
    if (::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) out.push_back(name);
  }
  return out;
}

int DeleteFilesByMask(const std::string& mask) {
  if (mask.empty()) return 0;
  const std::string folder = ExtractFilePath(mask);
  std::vector<std::string> names;
  FindFiles(folder, ExtractFileName(mask),
            [&names](const TSearchRec& rec) { names.push_back(rec.name); });
  for (const auto& name : names) {
    // Unlinking needs no write permission on the file itself, so read-only
    // entries go too; a failure is counted like a success.
    (void)::unlink((folder + name).c_str());
  }
  return static_cast<int>(names.size());
}

std::int32_t GetPlainAttributes(const std::string& path, TFileStamp* stamp) {
  if (path.empty()) return -1;
  struct stat st {};
  std::uint32_t attr = 0;
  if (!Classify(AT_FDCWD, path.c_str(), LastComponent(path), st, attr)) return -1;
  if (stamp != nullptr) FillStamp(st, *stamp);
  return static_cast<std::int32_t>(attr);
}

int SetPermissionAttributes(const std::string& path, std::uint32_t attrs) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) {
    struct stat lst {};
    // A dangling link exists but carries nothing that could be set.
    return !path.empty() && ::lstat(path.c_str(), &lst) == 0 ? 0 : -1;
  }
  mode_t mode = st.st_mode & 07777;
  if (attrs & faReadOnly) {
    mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  } else {
    mode |= S_IWUSR;
  }
  // Only touch the permissions when they change: chmod moves the change
  // time, which the archive-bit store watches.
  if (mode != (st.st_mode & 07777) && ::chmod(path.c_str(), mode) != 0) return -1;
  return S_ISREG(st.st_mode) ? 1 : 0;
}

std::uint32_t GetFileDate(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return 0;
  return UnixToDos(st.st_mtim.tv_sec);
}

void SetFileDateTime(const std::string& path, std::uint32_t dosDateTime) {
  struct stat st {};
  if (path.empty() || ::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return;
  timespec times[2];
  times[0].tv_sec = static_cast<time_t>(DosToUnix(dosDateTime));
  times[0].tv_nsec = 0;
  times[1] = times[0];
  (void)::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

TFileStamp StampOf(const struct stat& st) {
  TFileStamp stamp;
  FillStamp(st, stamp);
  return stamp;
}

bool GetFileStamp(const std::string& path, TFileStamp& stamp) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
  FillStamp(st, stamp);
  return true;
}

}  // namespace vx
