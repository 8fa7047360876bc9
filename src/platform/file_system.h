#pragma once
// Directory search, attributes and file times, mapped onto Linux.
#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/node_meta.h"

namespace vx {

// Attribute bits as the archive stores them.
inline constexpr std::uint32_t faReadOnly = 0x01;  // owner has no write permission
inline constexpr std::uint32_t faHidden = 0x02;    // name starts with "."
inline constexpr std::uint32_t faSysFile = 0x04;   // not a regular file (device, FIFO, socket)
inline constexpr std::uint32_t faVolumeID = 0x08;  // never reported
inline constexpr std::uint32_t faDirectory = 0x10;
inline constexpr std::uint32_t faArchive = 0x20;  // kept by the archive-bit store

// Identity and change stamp of a file, as the archive-bit store records it.
struct TFileStamp {
  std::uint64_t dev = 0;
  std::uint64_t ino = 0;
  std::int64_t size = 0;
  std::int64_t mtimeNs = 0;
  std::int64_t ctimeNs = 0;
};

// One entry yielded by the directory search.
struct TSearchRec {
  std::string name;           // without folder
  std::int64_t size = 0;      // full 64-bit size
  std::uint32_t attr = 0;     // faReadOnly/faHidden/faSysFile/faDirectory (faArchive not included)
  std::uint32_t dosTime = 0;  // last write, local DOS date-time
  TFileStamp stamp;
  // What the search's stat said of the item reported (the target of a link
  // to a regular file), and whether the entry is a symbolic link; then
  // `linkNode` is the link's own.
  TNodeMeta node;
  bool link = false;
  TNodeMeta linkNode;
};

// Include-mask match as the directory search does it: case-insensitive, "*"
// and "?" over the whole name; "*" and "*.*" match every name; "X.*" also
// matches the bare name "X".
bool MatchSearchMask(const std::string& mask, const std::string& name);

// Calls fn for every directory entry of `folder` (a folder path with or without
// trailing "/") that is not a folder and whose name matches `mask`, in the
// order the system lists them.  A link to a regular file reports the file it
// points to; links to folders and dangling links are reported as system files
// so that no scan takes them.  A folder that cannot be opened yields nothing.
// Returns false when the folder could not be opened, or some of its entries
// could not be examined for want of permission; `error`, when given, then
// receives the errno of the failure.
bool FindFiles(const std::string& folder, const std::string& mask,
               const std::function<void(const TSearchRec&)>& fn, int* error = nullptr);

// Names of the subfolders of `folder` in listing order, without "." and "..";
// links to folders are never listed; hidden ("." names) only when includeHidden.
// `opened`, when given, tells whether the folder could be opened (when not,
// errno tells why on return).
std::vector<std::string> FindSubfolders(const std::string& folder, bool includeHidden,
                                        bool* opened = nullptr);

// Deletes every non-folder entry of the folder part of mask that matches its
// name part (read-only ones too); returns how many were found.  Empty mask: 0.
int DeleteFilesByMask(const std::string& mask);

// Attributes of a path without faArchive (the archive-bit store adds it, see
// platform/archive_bits.h); -1 when the path does not exist.  `stamp`, when
// given, receives the stamp of what the path leads to.
std::int32_t GetPlainAttributes(const std::string& path, TFileStamp* stamp = nullptr);
// Applies faReadOnly as permission bits; the other bits are ignored.  -1 when
// the path does not exist or the change failed, 1 for a regular file, 0 for
// anything else.
int SetPermissionAttributes(const std::string& path, std::uint32_t attrs);

// Last-write time of a file as a local DOS date-time; 0 when it cannot be read.
std::uint32_t GetFileDate(const std::string& path);
// Sets access and modification time from a local DOS date-time; silently does
// nothing on failure.  Never follows a symbolic link at path.
void SetFileDateTime(const std::string& path, std::uint32_t dosDateTime);

// Stamp of what stat(2) reported.
TFileStamp StampOf(const struct stat& st);

// Stamp of a path (links followed); false when it cannot be stat-ed.
bool GetFileStamp(const std::string& path, TFileStamp& stamp);

}  // namespace vx
