#pragma once
// The Linux metadata of a file, folder, link or special file: read from one
// lstat (never through a link), and applied to an entry of a folder opened
// for writing without ever following a link at the entry.
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vx {

// What lstat(2) (or the search's fstatat) said of an item.
struct TNodeMeta {
  std::uint32_t mode = 0;  // st_mode: type and the 12 permission bits
  std::uint32_t uid = 0;
  std::uint32_t gid = 0;
  std::int64_t mtimeNs = 0;
  std::int64_t atimeNs = 0;
  std::uint64_t rdev = 0;
  std::uint64_t dev = 0;
  std::uint64_t ino = 0;
  std::uint32_t nlink = 0;
  // Whether the file may have extended attributes: cleared by whoever
  // learnt on an open descriptor that it has none (a cheaper question than
  // one by path).
  bool xattrs = true;
};

// Whether the open file has extended attributes (true when that cannot be
// told).
bool HasXattrs(int fd);

TNodeMeta NodeMetaOf(const struct stat& st);
// lstat of path; false (errno set) when it fails.
bool ReadNodeMeta(const std::string& path, TNodeMeta& meta);
// The text of the symbolic link at path; false (errno set) when it is none
// or cannot be read.
bool ReadLinkText(const std::string& path, std::string& text);

using TXattrList = std::vector<std::pair<std::string, std::string>>;
// The extended attributes of path itself (a link's own, never its
// target's), POSIX ACLs and security.capability included.  A file system
// without them gives none.  False (errno set) when they cannot be read.
bool ReadXattrs(const std::string& path, TXattrList& list);

// Names from the user and group databases; "" when the id has none.
std::string UserNameOf(std::uint32_t uid);
std::string GroupNameOf(std::uint32_t gid);
// Ids of names; false when the database does not know the name.
bool UserIdOf(const std::string& name, std::uint32_t& uid);
bool GroupIdOf(const std::string& name, std::uint32_t& gid);
// Whether the running process may give files away (runs as root).
bool MayChangeOwners();
// Whether the running user is in the group (its own or a supplementary one).
bool InGroup(std::uint32_t gid);

// ---- Applying, in a folder `dir` opened for writing, to its entry `name`.
// Each returns 0 or the errno of the failure.  None follows a link at the
// entry: a link there is worked on itself (owner, times) or left alone
// (mode, attributes, which a link does not have).

// Makes a folder (mode 0700 until its own mode is applied); an existing
// folder (not a link to one) counts as made.
int MakeFolderAt(int dir, const std::string& name);
// Makes a symbolic link; whatever non-folder entry stands there is
// replaced (a link there is never followed), a folder is left (EEXIST).
int MakeSymlinkAt(int dir, const std::string& name, const std::string& text);
// Gives the file `fromName` in `fromDir` the second name; a non-folder
// entry standing there is replaced.
int MakeHardLinkAt(int fromDir, const std::string& fromName, int dir, const std::string& name);
// Makes a FIFO, socket or device node (type and permission bits in mode).
int MakeNodeAt(int dir, const std::string& name, std::uint32_t mode, std::uint64_t rdev);

int ChangeOwnerAt(int dir, const std::string& name, std::uint32_t uid, std::uint32_t gid);
// Sets the 12 permission bits; a link at the entry is left alone (ELOOP).
int ChangeModeAt(int dir, const std::string& name, std::uint32_t mode);
int SetTimesAt(int dir, const std::string& name, std::int64_t atimeNs, std::int64_t mtimeNs,
               bool keepAtime);
// Sets each attribute of the list; a link at the entry is left alone.
int SetXattrsAt(int dir, const std::string& name, const TXattrList& list);
// What stands at the entry now, never followed; false (errno) when nothing.
bool NodeMetaAt(int dir, const std::string& name, TNodeMeta& meta);

}  // namespace vx
