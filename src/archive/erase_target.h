#pragma once
// Emptying the target folder of a backup: which files go.  The stream that
// erases and a dry run that only shows it read the same list.
#include <functional>
#include <string>
#include <vector>

namespace vx {

struct TEraseListing {
  std::string folder;              // the folder's real path ("" when nothing goes)
  std::vector<std::string> names;  // the files' names in it
};

// The regular files of the folder of baseName, never in "/": all but the
// files named in keepPaths (the same file, however reached) and the names
// for which ownFile answers true.
TEraseListing ListErasable(const std::string& baseName, const std::vector<std::string>& keepPaths,
                           const std::function<bool(const std::string& name)>& ownFile);

}  // namespace vx
