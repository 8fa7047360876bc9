#pragma once
// Path helpers.  Paths are native POSIX paths with "/" as separator.
#include <string>

namespace vx {

// Folder part up to and including the last "/" ("" when there is none).
std::string ExtractFilePath(const std::string& path);
// What follows the last "/".
std::string ExtractFileName(const std::string& path);
// path without its extension (the text from the last "." of the file name on).
std::string RemoveFileExt(const std::string& path);

// Removes a recursion marker from an include or exclude entry and returns
// whether there was one.  The marker is a blank followed by "/S" (any case)
// at the end of the entry, trailing blanks allowed; the entry is returned
// trimmed of trailing blanks.
bool StripRecursionMarker(std::string& entry);

bool FileExists(const std::string& path);       // a non-folder entry exists
bool DirectoryExists(const std::string& path);  // a folder exists (links followed)
// Creates the folder and all missing parents; true when it exists afterwards.
bool ForceDirectories(const std::string& path);

}  // namespace vx
