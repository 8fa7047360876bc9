#pragma once
// The set's Linux metadata table on the engine's side: built from the
// scan's list for a backup, applied after a restore has written the files,
// compared by a verify.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/format.h"
#include "archive/meta_table.h"
#include "platform/node_meta.h"

namespace vx {

class TVaultrex;
class TTargetFolders;

// A table entry of that kind from a stat (no path, index or link text yet).
TMetaEntry MetaEntryOf(TMetaKind kind, const TNodeMeta& node);

// Whether a directory record is the metadata table's own entry.
bool IsMetaTableRecord(const TDirRecord& record);

// The table of a backup: an entry per file of the list (by its index) and
// the scan's other items; with xattrs, the extended attributes of files and
// folders.  Owners' names are looked up once per id.
TMetaTable BuildMetaTable(const std::vector<TDirRecord>& files,
                          const std::vector<TMetaEntry>& extras, bool xattrs);

// What applying a table works with and reports to.
struct TMetaApplyTarget {
  const TVaultrex& settings;
  // Per directory index: where the file was restored ("" when it was not).
  const std::vector<std::string>& restored;
  TTargetFolders& folders;
  // An item that could not be given what the table says: its target path,
  // what (engine_txt::kMetaMode ...) and why.
  std::function<void(const std::string& path, const char* what, const std::string& reason)> warn;
};

// Creates the table's folders, hard links, special files (as root) and
// symbolic links, then gives every restored item its owner (as root, by
// name first), extended attributes, mode and times, children before their
// folder.  A link is never followed: nothing is written through one.
void ApplyMetaTable(const TMetaTable& table, const TMetaApplyTarget& target);

// A verify's metadata differences of one item against the disk.
struct TMetaDifferences {
  bool mode = false;
  bool owner = false;
  bool link = false;
  bool time = false;
  bool missing = false;
};
TMetaDifferences CompareMeta(const TMetaEntry& entry, const std::string& path);

}  // namespace vx
