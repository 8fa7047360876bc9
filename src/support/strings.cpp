#include "support/strings.h"

#include <cstdint>

namespace vx {

std::string TrimLeft(std::string_view s, std::string_view blanks) {
  const auto first = s.find_first_not_of(blanks);
  return first == std::string_view::npos ? std::string() : std::string(s.substr(first));
}

std::string TrimRight(std::string_view s, std::string_view blanks) {
  const auto last = s.find_last_not_of(blanks);
  return last == std::string_view::npos ? std::string() : std::string(s.substr(0, last + 1));
}

std::string Trim(std::string_view s, std::string_view blanks) {
  const auto first = s.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(blanks);
  return std::string(s.substr(first, last - first + 1));
}

std::vector<std::string> Split(std::string_view s, char separator) {
  std::vector<std::string> pieces;
  for (;;) {
    const auto at = s.find(separator);
    pieces.emplace_back(s.substr(0, at));
    if (at == std::string_view::npos) return pieces;
    s.remove_prefix(at + 1);
  }
}

std::vector<std::string> SplitTerminated(std::string_view s, char separator) {
  std::vector<std::string> pieces = Split(s, separator);
  if (pieces.back().empty()) pieces.pop_back();
  return pieces;
}

std::vector<std::string> SplitWords(std::string_view s, std::string_view separators) {
  std::vector<std::string> words;
  std::size_t pos = 0;
  while ((pos = s.find_first_not_of(separators, pos)) != std::string_view::npos) {
    const auto end = s.find_first_of(separators, pos);
    words.emplace_back(s.substr(pos, end == std::string_view::npos ? end : end - pos));
    pos = end;
  }
  return words;
}

namespace {
char LowerAsciiChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

std::string LowerAscii(std::string s) {
  for (char& c : s) c = LowerAsciiChar(c);
  return s;
}

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAsciiChar(a[i]) != LowerAsciiChar(b[i])) return false;
  }
  return true;
}

std::optional<std::int64_t> ParseIniInteger(std::string_view text, bool* hex) {
  const std::string t = Trim(text, kWhiteSpace);
  if (t.empty()) return std::nullopt;
  unsigned base = 10;
  std::size_t pos = 0;
  bool negative = false;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    pos = 2;
  } else if (t[0] == '-' || t[0] == '+') {
    negative = t[0] == '-';
    pos = 1;
  }
  if (pos >= t.size()) return std::nullopt;
  // Accumulated unsigned with an overflow check against the limit of a
  // signed 64-bit value (one more for a negative one).
  const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
  std::uint64_t value = 0;
  for (; pos < t.size(); ++pos) {
    const char c = t[pos];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    if (value > (limit - digit) / base) return std::nullopt;
    value = value * base + digit;
  }
  if (hex) *hex = base == 16;
  if (!negative) return static_cast<std::int64_t>(value);
  if (value == std::uint64_t{1} << 63) return INT64_MIN;
  return -static_cast<std::int64_t>(value);
}

}  // namespace vx
