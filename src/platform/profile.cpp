#include "platform/profile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <fstream>
#include <sstream>

#include "platform/fd.h"
#include "platform/paths.h"
#include "support/strings.h"

namespace vx {

namespace {

constexpr std::size_t kMaxProfileBytes = std::size_t{64} << 20;

struct TProfileText {
  std::vector<std::string> lines;  // without line breaks
  bool crlf = false;               // the file used CR LF; kept on rewrite
};

bool IsComment(const std::string& trimmed) { return !trimmed.empty() && trimmed[0] == ';'; }

// "[name]" (blanks around the name allowed); false for any other line.
bool SectionName(const std::string& line, std::string& name) {
  const std::string t = Trim(line);
  if (t.empty() || t[0] != '[') return false;
  const auto close = t.find(']');
  name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
  return true;
}

// "key=value": the key trimmed, the value as written after the first "=".
bool KeyValue(const std::string& line, std::string& key, std::string& value) {
  const std::string t = Trim(line);
  if (t.empty() || IsComment(t) || t[0] == '[') return false;
  const auto eq = t.find('=');
  if (eq == std::string::npos) return false;
  key = Trim(t.substr(0, eq));
  value = t.substr(eq + 1);
  return true;
}

// Only a regular file is read: a FIFO would wait for a writer for ever and a
// device such as /dev/zero would never end.  Anything else reads as missing.
bool Load(const std::string& file, TProfileText& text) {
  const TOpenResult opened = OpenRegularForReading(file);
  if (opened.status != TOpenStatus::kOpened) return false;
  std::string all;
  char chunk[8192];
  for (;;) {
    const TIoResult r = ReadAll(opened.fd.Get(), chunk, sizeof chunk);
    all.append(chunk, r.done);
    if (!r.Complete()) break;
    if (all.size() > kMaxProfileBytes) return false;  // no profile file is that big
  }
  std::istringstream in(all);
  std::string line;
  bool first = true;
  while (std::getline(in, line)) {
    if (first && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    first = false;
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
      text.crlf = true;
    }
    text.lines.push_back(line);
  }
  return true;
}

// [begin, end) of the first section of that name: begin is its header line.
bool FindSection(const TProfileText& text, const std::string& section, std::size_t& begin,
                 std::size_t& end) {
  std::string name;
  for (std::size_t i = 0; i < text.lines.size(); ++i) {
    if (!SectionName(text.lines[i], name) || !SameTextIgnoringCase(name, section)) continue;
    begin = i;
    end = i + 1;
    while (end < text.lines.size() && !SectionName(text.lines[end], name)) ++end;
    return true;
  }
  return false;
}

// Writes the whole file anew beside the old one and renames it over it, so a
// failure leaves the old file whole.  A link is written through to its target.
bool Store(const std::string& file, const TProfileText& text) {
  std::string target = file;
  struct stat st {};
  if (::lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (!::realpath(file.c_str(), resolved)) return false;
    target = resolved;
  }
  // New files are private: set and job files may hold passwords.
  mode_t mode = 0600;
  if (::stat(target.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode)) return false;
    mode = st.st_mode & 07777;
  }
  std::string templ = ExtractFilePath(target) + "." + ExtractFileName(target) + ".XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  TFd fd(::mkostemp(buf.data(), O_CLOEXEC));
  if (!fd) return false;
  const std::string tmp = buf.data();
  std::string data;
  for (const auto& line : text.lines) {
    data += line;
    data += text.crlf ? "\r\n" : "\n";
  }
  bool ok = WriteAll(fd.Get(), data.data(), data.size()).Complete();
  ok = ok && ::fchmod(fd.Get(), mode) == 0 && ::fsync(fd.Get()) == 0;
  ok = fd.Close() == 0 && ok;
  ok = ok && ::rename(tmp.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

}  // namespace

std::string GetProfileString(const std::string& file, const std::string& section,
                             const std::string& key, const std::string& def,
                             std::size_t bufferSize) {
  const std::size_t limit = bufferSize == 0 ? 0 : bufferSize - 1;
  TProfileText text;
  std::size_t begin = 0, end = 0;
  if (Load(file, text) && FindSection(text, section, begin, end)) {
    std::string k, v;
    for (std::size_t i = begin + 1; i < end; ++i) {
      if (!KeyValue(text.lines[i], k, v) || !SameTextIgnoringCase(k, Trim(key))) continue;
      v = Trim(v);
      if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
      return v.substr(0, limit);
    }
  }
  return def.substr(0, limit);
}

bool WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value) {
  const std::string sec = Trim(section);
  const std::string k = Trim(key);
  // Anything that would read back as a different line or section is refused
  // rather than written into the file.
  if (file.empty() || sec.empty() || k.empty() || HasLineBreak(section) || HasLineBreak(key) ||
      HasLineBreak(value) || sec.find(']') != std::string::npos ||
      k.find('=') != std::string::npos || k[0] == '[' || k[0] == ';') {
    return false;
  }
  TProfileText text;
  if (!Load(file, text) && FileExists(file)) return false;
  const std::string newLine = k + "=" + value;
  std::size_t begin = 0, end = 0;
  if (FindSection(text, sec, begin, end)) {
    std::string lk, lv;
    for (std::size_t i = begin + 1; i < end; ++i) {
      if (KeyValue(text.lines[i], lk, lv) && SameTextIgnoringCase(lk, k)) {
        text.lines[i] = newLine;
        return Store(file, text);
      }
    }
    // After the section's last non-blank line.
    std::size_t at = end;
    while (at > begin + 1 && Trim(text.lines[at - 1]).empty()) --at;
    text.lines.insert(text.lines.begin() + static_cast<std::ptrdiff_t>(at), newLine);
  } else {
    text.lines.push_back("[" + sec + "]");
    text.lines.push_back(newLine);
  }
  return Store(file, text);
}

bool EraseProfileSection(const std::string& file, const std::string& section) {
  TProfileText text;
  if (!Load(file, text)) return !FileExists(file);
  std::size_t begin = 0, end = 0;
  if (!FindSection(text, Trim(section), begin, end)) return true;
  text.lines.erase(text.lines.begin() + static_cast<std::ptrdiff_t>(begin),
                   text.lines.begin() + static_cast<std::ptrdiff_t>(end));
  return Store(file, text);
}

std::vector<std::string> GetProfileSection(const std::string& file, const std::string& section) {
  std::vector<std::string> out;
  TProfileText text;
  std::size_t begin = 0, end = 0;
  if (!Load(file, text) || !FindSection(text, Trim(section), begin, end)) return out;
  for (std::size_t i = begin + 1; i < end; ++i) {
    const std::string t = Trim(text.lines[i]);
    if (!t.empty() && !IsComment(t)) out.push_back(t);
  }
  return out;
}

}  // namespace vx
