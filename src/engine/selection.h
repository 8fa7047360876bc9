#pragma once
// Selection matching: the masks of exclusions, and the list lines that
// select stored paths for a restore or a delete.
#include <string>
#include <vector>

namespace vx {

// A single left-to-right pass without backtracking: "*" swallows at least
// one character and stops at the first occurrence of the character after
// it, and unused characters at the end of the name do not matter.
bool MatchMask(const std::string& mask, const std::string& name);
// Whether an exclusion (a mask with an optional folder) takes a path: the
// masks match the file names, and the folders are equal (case ignored) or,
// recursing, the pattern's folder occurs within the path's.
bool MatchExclude(const std::string& pattern, const std::string& path, bool recurse);
// Whether a list line selects a stored path, as an include entry finds
// files: the line's name part matches the path's file name as the directory
// search matches masks (whole name, "*.*" takes every name); a line without
// a folder matches in any folder, otherwise its folder must equal the
// path's folder (case ignored) or, recursing, occur within it.
bool MatchIncludeLine(const std::string& line, const std::string& path, bool recurse);

// A restore takes a stored path when a non-empty include line selects it.
bool SelectedByIncludes(const std::vector<std::string>& includes, bool recurse,
                        const std::string& path);
// A delete keeps the paths the include lines select when there are any,
// else the paths the exclude lines do not select.
bool KeptByDelete(const std::vector<std::string>& includes,
                  const std::vector<std::string>& excludes, bool recurse, const std::string& path);

// A stored path written on a drive-letter system ("C:\Data\a.txt", "\\srv\x").
bool IsForeignPath(const std::string& path);

}  // namespace vx
