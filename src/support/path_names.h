#pragma once
// Path names as text: "/" is the separator, nothing is looked up on the disk.
#include <string>

namespace vx {

// Folder part up to and including the last "/" ("" when there is none).
std::string ExtractFilePath(const std::string& path);
// What follows the last "/".
std::string ExtractFileName(const std::string& path);
// path without its extension (the text from the last "." of the file name on).
std::string RemoveFileExt(const std::string& path);
// Whether the file name has an extension: a "." after its first character
// (the leading dot of a hidden file's name is none).
bool HasExtension(const std::string& path);
// path with "/" appended unless empty or already ending in "/".
std::string WithTrailingSlash(const std::string& path);
// path without the "/" at its end; "/" itself stays.
std::string WithoutTrailingSlashes(std::string path);
// Whether path names a volume of a split set, "SET.NNN" (three digits);
// setPath is then the path without ".NNN".
bool IsVolumeName(const std::string& path, std::string& setPath);

}  // namespace vx
