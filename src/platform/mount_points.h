#pragma once
// Whether a backup's destination folder is where a disk should be mounted
// but none is: creating the folder there, or writing into it, would fill the
// disk the system runs from instead of the backup disk.
#include <cstdint>
#include <string>
#include <vector>

namespace vx {

// The mount points a mountinfo text lists (/proc/self/mountinfo: the fifth
// field of each line), with the kernel's octal escapes ("\040") undone.
std::vector<std::string> MountPointsOf(const std::string& mountinfo);

// The mount points an fstab text names (second field; swap and "none" are
// none), escapes undone as in mountinfo.
std::vector<std::string> FstabMountPointsOf(const std::string& fstab);

enum class TMountGap {
  None,            // the folder is no place of a missing disk
  RemovablePlace,  // /media/X, /media/USER/X, /run/media/USER/X or /mnt/X, nothing mounted there
  FstabNotMounted  // fstab names it (or a folder above it) a mount point, nothing mounted there
};

// Decides for an absolute, normalised folder (no "." or ".." parts, no
// trailing "/") from the texts alone, without looking at the disk.
TMountGap MountGapOf(const std::string& folder, const std::string& mountinfo,
                     const std::string& fstab);

// Why a backup may not create its destination folder, or not write into it;
// "" when it may.  Reads /proc/self/mountinfo and /etc/fstab.  An existing
// folder is refused only when it is empty and a mount point with nothing
// mounted (or below an fstab mount point with nothing mounted); a missing
// one is created only when allowed, when its parent exists and the parent
// is no mount point with nothing mounted.  Creates nothing.
std::string DestinationRefusal(const std::string& folder, bool mayCreate);

// The type of the file system a folder is on, by the mount whose point is
// the longest one above (or at) the folder in a mountinfo text: "vfat",
// "fuse.fusefat", "ext4" ...; "" when no mount covers it.  The folder is
// absolute and normalised.
std::string FileSystemTypeOf(const std::string& folder, const std::string& mountinfo);

// The biggest file the file system of `folder` can hold, or 0 when it sets
// no limit of its own that matters here: FAT (vfat, msdos, and FAT through
// FUSE) holds files of at most 4 GiB - 1 bytes.
std::uint64_t FileSizeLimitOf(const std::string& folder);

// Tests stand a smaller limit in for FAT's, so that a FAT file system
// mounted for a test reaches it with a few blocks; 0 restores the real one.
void SetFatFileLimitForTests(std::uint64_t bytes);

// DestinationRefusal, then creates the folder (one level, 0700) when it is
// missing; "" on success, else why not.
std::string PrepareDestinationFolder(const std::string& folder, bool mayCreate);

}  // namespace vx
