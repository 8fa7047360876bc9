#include "support/utils.h"

#include <fcntl.h>
#include <langinfo.h>
#include <libdeflate.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ios>
#include <memory>
#include <system_error>
#include <vector>

#include "support/texts.h"

namespace vx {

namespace {

// Closes a descriptor on every path out.
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int release() {
    const int f = fd;
    fd = -1;
    return f;
  }
};

[[noreturn]] void ThrowIo(const std::string& what, int err) {
  throw std::ios_base::failure(what, std::error_code(err, std::generic_category()));
}

ssize_t ReadSome(int fd, void* buf, std::size_t len) {
  ssize_t n;
  do {
    n = ::read(fd, buf, len);
  } while (n < 0 && errno == EINTR);
  return n;
}

bool WriteAll(int fd, const char* p, std::size_t len) {
  while (len > 0) {
    const ssize_t n = ::write(fd, p, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    len -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::string IntToStrPadded(std::int64_t value, int width, const std::string& padStr) {
  std::string s = std::to_string(value);
  if (padStr.empty()) return s;
  while (static_cast<int>(s.size()) < width) s.insert(0, padStr);
  return s;
}

std::string LeftPart(const std::string& s, int count) {
  if (count < 0) count = 0;
  return static_cast<std::size_t>(count) >= s.size() ? s
                                                     : s.substr(0, static_cast<std::size_t>(count));
}

std::string RightPart(const std::string& s, int count) {
  if (count < 0) count = 0;
  return static_cast<std::size_t>(count) >= s.size()
             ? s
             : s.substr(s.size() - static_cast<std::size_t>(count));
}

std::string IncludeBackslash(const std::string& path) { return WithTrailingSlash(path); }

std::int64_t GetFileSize64(const std::string& fileName) {
  struct stat st {};
  if (fileName.empty() || ::stat(fileName.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return 0;
  return static_cast<std::int64_t>(st.st_size);
}

std::uint32_t CrcUpdate(std::uint32_t reg, const void* data, std::size_t len) {
  // The deflate library's crc32 inverts on entry and exit; undoing both
  // leaves the raw register.  It uses the processor's carry-less
  // multiplication where there is one: several times faster than a table.
  return ~libdeflate_crc32(~reg, data, len);
}

std::uint32_t CalcFileCRC(const std::string& fileName) {
  std::uint32_t reg = kCrcInit;
  // O_NONBLOCK: a FIFO passed by mistake must not hang the open.
  Fd f(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (f.fd < 0) return reg;
  struct stat st {};
  if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) return reg;
  // Large reads, but no bigger than the file needs, and left uninitialised:
  // most files are small and this runs once per file of a scan.
  const std::size_t size = static_cast<std::size_t>(
      std::clamp<std::int64_t>(static_cast<std::int64_t>(st.st_size) + 1, 4096, 1 << 20));
  std::unique_ptr<unsigned char[]> buf(new unsigned char[size]);
  for (;;) {
    const ssize_t n = ReadSome(f.fd, buf.get(), size);
    if (n <= 0) break;
    reg = CrcUpdate(reg, buf.get(), static_cast<std::size_t>(n));
  }
  return reg;
}

char DecimalSeparator() {
  // Read from the locale the environment names, whatever the process's
  // global LC_NUMERIC is (numbers in files stay in the C notation).
  static std::string cachedName;
  static char cached = '.';
  static bool valid = false;
  const std::string name = FirstSetEnv({"LC_ALL", "LC_NUMERIC", "LANG"});
  if (valid && name == cachedName) return cached;
  char sep = '.';
  if (locale_t loc = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr))) {
    const char* radix = ::nl_langinfo_l(RADIXCHAR, loc);
    if (radix && radix[0] && !radix[1]) sep = radix[0];
    ::freelocale(loc);
  }
  cachedName = name;
  cached = sep;
  valid = true;
  return sep;
}

std::string FormatFloat(int width, int precision, double value) {
  if (precision < 0) precision = 0;
  if (precision > 60) precision = 60;
  std::string out;
  if (!std::isfinite(value)) {
    out = std::isnan(value) ? "NAN" : (value < 0 ? "-INF" : "INF");
  } else {
    const bool negative = std::signbit(value);
    // The exact decimal expansion of the double, then rounded on the digits
    // with halves going away from zero (printf would round them to even).
    // 309 integer digits at most, a point and 100 fraction digits.  to_chars
    // ignores the process's locale: the desktop toolkit sets LC_NUMERIC to
    // the user's, where printf would write a comma.
    std::vector<char> buf(512);
    const std::to_chars_result r =
        std::to_chars(buf.data(), buf.data() + buf.size(), std::fabs(value),
                      std::chars_format::fixed, precision + 40);
    const std::string digits(buf.data(), r.ec == std::errc{} ? r.ptr : buf.data());
    const std::size_t point = digits.find('.');
    if (point == std::string::npos) return FormatFloat(width, precision, 0.0);
    std::string intPart = digits.substr(0, point);
    std::string frac = digits.substr(point + 1);
    const bool roundUp = frac[static_cast<std::size_t>(precision)] >= '5';
    std::string kept = intPart + frac.substr(0, static_cast<std::size_t>(precision));
    if (roundUp) {
      std::size_t i = kept.size();
      while (i > 0) {
        --i;
        if (kept[i] == '9') {
          kept[i] = '0';
        } else {
          ++kept[i];
          break;
        }
        if (i == 0) kept.insert(kept.begin(), '1');
      }
    }
    const std::size_t intLen = kept.size() - static_cast<std::size_t>(precision);
    out = kept.substr(0, intLen);
    if (precision > 0) {
      out += '.';  // the same text in every locale, on screen and in logs
      out += kept.substr(intLen);
    }
    if (negative && kept.find_first_not_of('0') != std::string::npos) out.insert(out.begin(), '-');
  }
  if (static_cast<int>(out.size()) < width)
    out.insert(0, static_cast<std::size_t>(width) - out.size(), ' ');
  return out;
}

std::string FormatSize(std::int32_t value) {
  if (value < 2048) return FormatFloat(6, 0, value);
  if (value < 2097152) return FormatFloat(6, 1, value / 1024.0) + "k";
  return FormatFloat(6, 1, value / 1048576.0) + "M";
}

std::string FormatSize64(std::int64_t value) {
  // Beyond "T" the display has no room to spare; "P" and "E" keep the
  // reading honest for the largest 64-bit values.
  static const char* const kSuffix[] = {"k", "M", "G", "T", "P", "E"};
  double x = static_cast<double>(value);
  int n = 1;
  while (x > 2048 && n < 7) {
    x /= 1024;
    ++n;
  }
  if (n == 1) return FormatFloat(6, 0, x);
  return FormatFloat(6, 1, x) + " " + kSuffix[n - 2];
}

bool CopyFileBlocks(const std::string& source, const std::string& dest) {
  Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.fd < 0) return false;
  Fd out(::open(dest.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (out.fd < 0) return false;
  std::vector<char> buf(32768);
  for (;;) {
    const ssize_t n = ReadSome(in.fd, buf.data(), buf.size());
    if (n < 0) ThrowIo(txt::support::kCannotRead + source, errno);
    if (n == 0) break;
    if (!WriteAll(out.fd, buf.data(), static_cast<std::size_t>(n))) return false;
  }
  return ::close(out.release()) == 0;
}

int CountTextLines(const std::string& fileName) {
  Fd f(::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (f.fd < 0) return 0;
  struct stat st {};
  // Only a regular file has lines to count: /dev/zero would be read for ever.
  if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  std::vector<char> buf(1 << 16);
  int lines = 0;
  char last = '\n';
  for (;;) {
    const ssize_t n = ReadSome(f.fd, buf.data(), buf.size());
    if (n < 0) {
      if (errno == EAGAIN) break;
      ThrowIo(txt::support::kCannotRead + fileName, errno);
    }
    if (n == 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      if (buf[static_cast<std::size_t>(i)] == '\n') ++lines;
    }
    last = buf[static_cast<std::size_t>(n - 1)];
  }
  if (last != '\n') ++lines;
  return lines;
}

std::string FirstSetEnv(std::initializer_list<const char*> names) {
  for (const char* var : names) {
    const char* v = std::getenv(var);
    if (v && *v) return v;
  }
  return "";
}

}  // namespace vx
