#include "platform/profile.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <memory>
#include <string_view>
#include <utility>

#include "platform/fd.h"
#include "platform/paths.h"
#include "support/strings.h"

namespace vx {

namespace {

constexpr std::size_t kMaxProfileBytes = std::size_t{64} << 20;

std::function<void(TProfileSaveStep, const std::string&)>& SaveHook() {
  static std::function<void(TProfileSaveStep, const std::string&)> hook;
  return hook;
}

void Step(TProfileSaveStep step, const std::string& path) {
  if (SaveHook()) SaveHook()(step, path);
}

bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

// The temporary file of a save: removed unless it was renamed over the file.
class TTempName {
 public:
  explicit TTempName(std::string path) : path_(std::move(path)) {}
  ~TTempName() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TTempName(const TTempName&) = delete;
  TTempName& operator=(const TTempName&) = delete;
  const std::string& path() const { return path_; }
  void Release() { path_.clear(); }

 private:
  std::string path_;
};

// Removes what killed saves of `name` left in the folder: files named as a
// save names its temporary file, of this user, that no save holds locked.
void RemoveLeftovers(const std::string& folder, const std::string& name) {
  const TFd dfd = OpenFd(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY);
  if (!dfd) return;
  TFd listing(::fcntl(dfd.Get(), F_DUPFD_CLOEXEC, 0));
  if (!listing) return;
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(listing.Get()), &::closedir);
  if (!dir) return;
  listing.Release();  // the folder stream closes it now
  const std::string prefix = "." + name + ".";
  while (const dirent* e = ::readdir(dir.get())) {
    const std::string_view entry(e->d_name);
    if (entry.size() != prefix.size() + 6 || entry.substr(0, prefix.size()) != prefix) continue;
    const TFd file = LockUnusedFileOfMine(dfd.Get(), e->d_name);
    struct stat st {};
    if (!file || ::fstat(file.Get(), &st) != 0) continue;
    // Still the file that was locked: removed by name only then.
    struct stat now {};
    if (::fstatat(dfd.Get(), e->d_name, &now, AT_SYMLINK_NOFOLLOW) != 0 ||
        now.st_ino != st.st_ino || now.st_dev != st.st_dev)
      continue;
    ::unlinkat(dfd.Get(), e->d_name, 0);
  }
}

// A folder that cannot be opened for reading (EACCES: a folder this user may
// write but not list) or whose file system cannot sync folders (EINVAL)
// counts as synced: the file was replaced all the same.
bool SyncFolder(const std::string& folder) {
  const TFd dfd = OpenFd(folder, O_RDONLY | O_DIRECTORY);
  if (!dfd) return errno == EACCES;
  return ::fsync(dfd.Get()) == 0 || errno == EINVAL;
}

}  // namespace

void SetProfileSaveHook(std::function<void(TProfileSaveStep, const std::string&)> hook) {
  SaveHook() = std::move(hook);
}

TProfile::TLine TProfile::Parse(std::string text) {
  TLine line;
  line.text = std::move(text);
  const std::string t = Trim(line.text);
  if (t.empty() || t[0] == ';') return line;
  if (t[0] == '[') {
    // "[name]" with blanks around the name allowed.
    const auto close = t.find(']');
    line.kind = TLine::TKind::kSection;
    line.name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return line;
  }
  const auto eq = t.find('=');
  if (eq == std::string::npos) return line;
  line.kind = TLine::TKind::kKey;
  line.name = Trim(t.substr(0, eq));
  return line;
}

// Only a regular file is read: a FIFO would wait for a writer for ever and a
// device such as /dev/zero would never end.
TProfileLoad TProfile::Load(const std::string& file) {
  lines_.clear();
  crlf_ = false;
  loadError_ = 0;
  const TOpenResult opened = OpenRegularForReading(file);
  if (opened.status == TOpenStatus::kNotRegular) return TProfileLoad::kNotRegular;
  if (opened.status != TOpenStatus::kOpened) {
    loadError_ = opened.error;
    return TProfileLoad::kOpenFailed;
  }
  if (opened.info.st_size > static_cast<off_t>(kMaxProfileBytes)) return TProfileLoad::kTooBig;
  std::string all;
  all.reserve(static_cast<std::size_t>(opened.info.st_size));
  char chunk[65536];
  for (;;) {
    const TIoResult r = ReadAll(opened.fd.Get(), chunk, sizeof chunk);
    if (r.Failed()) {
      loadError_ = r.error;
      return TProfileLoad::kReadFailed;
    }
    all.append(chunk, r.done);
    if (all.size() > kMaxProfileBytes) return TProfileLoad::kTooBig;  // no profile file is that big
    if (!r.Complete()) break;
  }
  std::size_t at = 0;
  if (all.compare(0, 3, "\xEF\xBB\xBF") == 0) at = 3;
  while (at < all.size()) {
    std::size_t end = all.find('\n', at);
    if (end == std::string::npos) end = all.size();
    std::string text = all.substr(at, end - at);
    if (!text.empty() && text.back() == '\r') {
      text.pop_back();
      crlf_ = true;
    }
    lines_.push_back(Parse(std::move(text)));
    at = end + 1;
  }
  return TProfileLoad::kLoaded;
}

bool TProfile::Find(const std::string& section, std::size_t& begin, std::size_t& end) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind != TLine::TKind::kSection || !SameTextIgnoringCase(lines_[i].name, section))
      continue;
    begin = i;
    end = i + 1;
    while (end < lines_.size() && lines_[end].kind != TLine::TKind::kSection) ++end;
    return true;
  }
  return false;
}

std::string TProfile::Get(const std::string& section, const std::string& key,
                          const std::string& def, std::size_t bufferSize) const {
  const std::size_t limit = bufferSize == 0 ? 0 : bufferSize - 1;
  std::size_t begin = 0, end = 0;
  if (Find(Trim(section), begin, end)) {
    const std::string k = Trim(key);
    for (std::size_t i = begin + 1; i < end; ++i) {
      const TLine& line = lines_[i];
      if (line.kind != TLine::TKind::kKey || !SameTextIgnoringCase(line.name, k)) continue;
      std::string v = Trim(line.text.substr(line.text.find('=') + 1));
      if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
      return v.substr(0, limit);
    }
  }
  return def.substr(0, limit);
}

std::vector<std::string> TProfile::Section(const std::string& section) const {
  std::vector<std::string> out;
  std::size_t begin = 0, end = 0;
  if (!Find(Trim(section), begin, end)) return out;
  for (std::size_t i = begin + 1; i < end; ++i) {
    std::string t = Trim(lines_[i].text);
    if (!t.empty() && t[0] != ';') out.push_back(std::move(t));
  }
  return out;
}

bool TProfile::Set(const std::string& section, const std::string& key, const std::string& value) {
  const std::string sec = Trim(section);
  const std::string k = Trim(key);
  // Anything that would read back as a different line or section is refused
  // rather than written into the file.
  if (sec.empty() || k.empty() || HasLineBreak(section) || HasLineBreak(key) ||
      HasLineBreak(value) || sec.find(']') != std::string::npos ||
      k.find('=') != std::string::npos || k[0] == '[' || k[0] == ';') {
    return false;
  }
  TLine newLine{k + "=" + value, TLine::TKind::kKey, k};
  std::size_t begin = 0, end = 0;
  if (!Find(sec, begin, end)) {
    lines_.push_back(TLine{"[" + sec + "]", TLine::TKind::kSection, sec});
    lines_.push_back(std::move(newLine));
    return true;
  }
  for (std::size_t i = begin + 1; i < end; ++i) {
    if (lines_[i].kind == TLine::TKind::kKey && SameTextIgnoringCase(lines_[i].name, k)) {
      lines_[i] = std::move(newLine);
      return true;
    }
  }
  // After the section's last non-blank line.
  std::size_t at = end;
  while (at > begin + 1 && Trim(lines_[at - 1].text).empty()) --at;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(newLine));
  return true;
}

bool TProfile::EraseSection(const std::string& section) {
  std::size_t begin = 0, end = 0;
  if (!Find(Trim(section), begin, end)) return false;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(begin),
               lines_.begin() + static_cast<std::ptrdiff_t>(end));
  return true;
}

std::string TProfile::Text() const {
  std::string data;
  for (const TLine& line : lines_) {
    data += line.text;
    data += crlf_ ? "\r\n" : "\n";
  }
  return data;
}

// Writes the whole file anew beside the old one and renames it over it, so a
// failure leaves the old file whole.
bool TProfile::Save(const std::string& file) const {
  if (file.empty()) return false;
  std::string target = file;
  struct stat st {};
  if (::lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (!::realpath(file.c_str(), resolved)) return false;
    target = resolved;
  }
  // New files are private: set and job files may hold passwords.
  mode_t mode = 0600;
  bool existed = false;
  if (::stat(target.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return false;
    mode = st.st_mode & 07777;
    existed = true;
  }
  const std::string folder = ExtractFilePath(target);
  RemoveLeftovers(folder, ExtractFileName(target));
  std::string templ = folder + "." + ExtractFileName(target) + ".XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  TFd fd(::mkostemp(buf.data(), O_CLOEXEC));
  if (!fd) return false;
  TTempName tmp(buf.data());
  // Held until the rename: the next save's clean-up leaves it alone.
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return false;
  const std::string data = Text();
  if (!WriteAll(fd.Get(), data.data(), data.size()).Complete()) return false;
  Step(TProfileSaveStep::kTempWritten, tmp.path());
  // Root saving another user's file gives it back to its owner.
  if (existed && ::geteuid() == 0 && (st.st_uid != 0 || st.st_gid != 0)) {
    if (::fchown(fd.Get(), st.st_uid, st.st_gid) != 0) return false;
  }
  if (::fchmod(fd.Get(), mode) != 0 || ::fsync(fd.Get()) != 0) return false;
  Step(TProfileSaveStep::kTempSynced, tmp.path());
  if (::rename(tmp.path().c_str(), target.c_str()) != 0) return false;
  tmp.Release();
  fd.Reset();
  Step(TProfileSaveStep::kRenamed, target);
  const std::string where = folder.empty() ? "." : folder;
  if (!SyncFolder(where)) return false;
  Step(TProfileSaveStep::kFolderSynced, where);
  return true;
}

std::string GetProfileString(const std::string& file, const std::string& section,
                             const std::string& key, const std::string& def,
                             std::size_t bufferSize) {
  TProfile profile;
  profile.Load(file);
  return profile.Get(section, key, def, bufferSize);
}

bool WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value) {
  if (file.empty()) return false;
  TProfile profile;
  if (profile.Load(file) != TProfileLoad::kLoaded && FileExists(file)) return false;
  return profile.Set(section, key, value) && profile.Save(file);
}

bool EraseProfileSection(const std::string& file, const std::string& section) {
  TProfile profile;
  if (profile.Load(file) != TProfileLoad::kLoaded) return !FileExists(file);
  return !profile.EraseSection(section) || profile.Save(file);
}

std::vector<std::string> GetProfileSection(const std::string& file, const std::string& section) {
  TProfile profile;
  profile.Load(file);
  return profile.Section(section);
}

}  // namespace vx
