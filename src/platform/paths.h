#pragma once
// Path helpers that look at the disk.  Paths are native POSIX paths with "/"
// as separator; the names alone are taken apart by support/path_names.h.
#include <string>

#include "support/path_names.h"

namespace vx {

// Removes a recursion marker from an include or exclude entry and returns
// whether there was one.  The marker is a blank followed by "/S" (any case)
// at the end of the entry, trailing blanks allowed; the entry is returned
// trimmed of trailing blanks.
bool StripRecursionMarker(std::string& entry);

bool FileExists(const std::string& path);       // a non-folder entry exists
bool IsRegularFile(const std::string& path);    // a regular file, links followed
bool DirectoryExists(const std::string& path);  // a folder exists (links followed)
// Creates the folder and all missing parents; true when it exists afterwards,
// else errno tells why (ENOTDIR: something that is no folder stands there).
bool ForceDirectories(const std::string& path);

}  // namespace vx
