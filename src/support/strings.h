#pragma once
// Text helpers without state: trimming, splitting, ASCII case and the
// integer grammar of set and job files.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vx {

// What counts as blank between the words of a line of a set or job file.
inline constexpr std::string_view kBlanks = " \t";
// Every white-space character of the C locale.
inline constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

// s without the characters of `blanks` at its start, its end or both.
std::string TrimLeft(std::string_view s, std::string_view blanks = kBlanks);
std::string TrimRight(std::string_view s, std::string_view blanks = kBlanks);
std::string Trim(std::string_view s, std::string_view blanks = kBlanks);

// The pieces between the separators, empty ones included: n separators give
// n + 1 pieces ("a//b" -> "a", "", "b"; "" -> one empty piece).
std::vector<std::string> Split(std::string_view s, char separator);
// The pieces of a list in which every item is followed by the separator (the
// last one may lack it): "a\tb\t" and "a\tb" give "a", "b"; "" gives none.
std::vector<std::string> SplitTerminated(std::string_view s, char separator);
// The words between any of the separator characters, empty ones dropped.
std::vector<std::string> SplitWords(std::string_view s, std::string_view separators);

// s with A-Z turned into a-z; other bytes (UTF-8 included) stay.
std::string LowerAscii(std::string s);
// Equal but for the case of A-Z.
bool SameTextIgnoringCase(std::string_view a, std::string_view b);

// An integer as set and job files store it: white space around it allowed, then
// either a decimal number with an optional sign, or "0x" / "0X" and
// hexadecimal digits (when the text is longer than two characters).  Anything
// else, and a value beyond a signed 64-bit integer, is no number.  `hex`, when
// given, tells which form it was.
std::optional<std::int64_t> ParseIniInteger(std::string_view text, bool* hex = nullptr);

}  // namespace vx
