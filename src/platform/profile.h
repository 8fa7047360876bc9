#pragma once
// Profile (INI) files: sections and keys matched without regard to case,
// values trimmed of blanks and of one pair of enclosing double quotes when
// read, other sections and keys kept on write, the file created when missing.
// A file name without a folder is taken in the current directory.  UTF-8.
#include <cstddef>
#include <string>
#include <vector>

namespace vx {

// The value, at most bufferSize - 1 bytes of it; def when missing.
std::string GetProfileString(const std::string& file, const std::string& section,
                             const std::string& key, const std::string& def,
                             std::size_t bufferSize = 2048);
// false when the file cannot be written.
bool WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value);
bool EraseProfileSection(const std::string& file, const std::string& section);
// The section's lines as "key=value" (comments and blank lines left out).
std::vector<std::string> GetProfileSection(const std::string& file, const std::string& section);

}  // namespace vx
