#pragma once
// The Linux metadata of a set: one more entry of the set, an ordinary file
// placed last under a reserved stored path, whose content is this table.
// A reader that knows nothing of it restores it as a plain file and loses
// nothing else; this program applies it instead.
//
// Layout (integers little-endian; docs/writing-sets.md, "Linux metadata"):
//   "VXMT", u16 version (1), u16 flags (0)
//   u32 user count,  per user:  u32 id, u8 length, name
//   u32 group count, per group: u32 id, u8 length, name
//   u32 entry count, per entry:
//     u8 kind, u8 flags (1: access time follows, 2: extended attributes follow)
//     u16 mode (the 12 permission bits), u32 uid, u32 gid, i64 mtime (ns)
//     [i64 atime (ns)]
//     kind File:       u32 directory index
//     kind HardLink:   u32 directory index of the first name, u16 length, path
//     other kinds:     u16 length, path
//     kind Symlink:    u16 length, link text
//     kinds Char/BlockDevice: u64 device number
//     [u16 count, per attribute: u8 length, name, u32 length, value]
//   u32 checksum: the archive's CRC of every byte before it, inverted
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vx {

// The stored path of the table: a folder name no user file has (it lies
// directly under the root and starts with a dot and the program's name).
inline constexpr char kMetaTablePath[] = "/.vaultix-metadata/linux.meta";
inline constexpr std::uint16_t kMetaTableVersion = 1;
// The longest attribute value a table holds (the most Linux file systems
// keep).
inline constexpr std::size_t kMaxXattrValue = 65536;

enum class TMetaKind : std::uint8_t {
  File = 0,  // a file with a directory record
  Folder = 1,
  Symlink = 2,
  HardLink = 3,  // a second name of a file with a directory record
  Fifo = 4,
  Socket = 5,
  CharDevice = 6,
  BlockDevice = 7,
};
inline constexpr std::uint8_t kLastMetaKind = 7;

struct TMetaXattr {
  std::string name;
  std::string value;
  bool operator==(const TMetaXattr&) const = default;
};

struct TMetaEntry {
  TMetaKind kind = TMetaKind::File;
  std::uint32_t index = 0;  // File, HardLink: the directory index
  std::string path;         // every kind but File: the stored path
  std::string target;       // Symlink: the link's text
  std::uint16_t mode = 0;   // permission bits 07777
  std::uint32_t uid = 0;
  std::uint32_t gid = 0;
  std::int64_t mtimeNs = 0;
  bool hasAtime = false;
  std::int64_t atimeNs = 0;
  std::uint64_t rdev = 0;
  std::vector<TMetaXattr> xattrs;
  bool operator==(const TMetaEntry&) const = default;
};

struct TMetaTable {
  std::map<std::uint32_t, std::string> users;   // uid -> name
  std::map<std::uint32_t, std::string> groups;  // gid -> name
  std::vector<TMetaEntry> entries;
  bool operator==(const TMetaTable&) const = default;
};

std::vector<std::uint8_t> EncodeMetaTable(const TMetaTable& table);

// Decodes a table of a set whose directory holds `records` entries.  False
// with `error` set when the bytes are no table this program can trust: bad
// mark or checksum, a newer version, a count or length running past the
// end, an unknown kind, a mode above 07777, an index outside the directory,
// an empty path or name, a NUL byte in a path, link text or name, or bytes
// left over.  Nothing of a refused table is applied.
bool DecodeMetaTable(const std::uint8_t* data, std::size_t size, std::size_t records,
                     TMetaTable& table, std::string& error);

}  // namespace vx
