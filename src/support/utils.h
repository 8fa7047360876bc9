#pragma once
// Free-standing routines shared by the engine, the archive stream, the log
// and the front ends.  None keeps state, none shows a dialog.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "support/path_names.h"

namespace vx {

// Decimal text of value with padStr put in front while shorter than width
// (IntToStrPadded(7, 3, "0") == "007").
std::string IntToStrPadded(std::int64_t value, int width, const std::string& padStr);

// The interface's name for WithTrailingSlash: path with "/" appended unless
// empty or already ending in "/" (the separator of the system the name comes
// from was a backslash).
std::string IncludeBackslash(const std::string& path);

// First / last count characters of s, or s whole when not longer.
std::string LeftPart(const std::string& s, int count);
std::string RightPart(const std::string& s, int count);

// 64-bit size of a file; 0 when there is no such file.
std::int64_t GetFileSize64(const std::string& fileName);

// The archive checksum: CRC-32 (reflected 0xEDB88320 table), register preset
// to 0xFFFFFFFF and no final inversion.  kCrcInit is the start value;
// CrcUpdate continues a running register over more bytes.
inline constexpr std::uint32_t kCrcInit = 0xFFFFFFFFu;
std::uint32_t CrcUpdate(std::uint32_t reg, const void* data, std::size_t len);
// Checksum of a file's content; 0xFFFFFFFF for an empty or unopenable file.
std::uint32_t CalcFileCRC(const std::string& fileName);

// Human-readable sizes, exactly as the status display and the log show them.
std::string FormatSize(std::int32_t value);
std::string FormatSize64(std::int64_t value);
// printf-style "%W.Pf" with halves rounded away from zero and a point as the
// decimal separator, whatever the process's or the user's locale: a size or a
// ratio reads the same on screen, in a log and in a script's output.
std::string FormatFloat(int width, int precision, double value);
// The decimal separator of the user's locale (LC_NUMERIC).
char DecimalSeparator();

// The value of the first of the environment variables named that is set and
// not empty ("" when none is).
std::string FirstSetEnv(std::initializer_list<const char*> names);

// Copies source to dest in 32 KiB blocks; false when either cannot be opened
// or a write falls short.  A read error after opening throws std::ios_base::failure.
bool CopyFileBlocks(const std::string& source, const std::string& dest);

// Number of text lines in a file (a last line without a break counts); 0 when
// it cannot be opened.
int CountTextLines(const std::string& fileName);

}  // namespace vx
