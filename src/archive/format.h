#pragma once
// The bytes of a backup set: 263-byte header, file count, 277-byte directory
// records, and per file a run of data blocks (10-byte block header + stored
// bytes) ending with an end-of-data block.  All integers little-endian.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/node_meta.h"

namespace vx {

inline constexpr std::uint32_t kArchiveMagic = 0x7ABBCCDDu;
inline constexpr std::size_t kHeaderSize = 263;
inline constexpr std::size_t kCountSize = 4;
inline constexpr std::size_t kRecordSize = 277;
inline constexpr std::size_t kBlockHeaderSize = 10;
inline constexpr std::size_t kBlockSize = 32768;  // data blocks and transfer blocks
inline constexpr std::size_t kMaxStringBytes = 255;

struct TArchiveHeader {
  bool compressed = false;
  bool encrypted = false;
  bool spanned = false;
  std::string comment;  // at most 255 bytes are stored
};

// One directory record (also the engine's file-list element).
struct TDirRecord {
  std::string path;       // at most 255 bytes are stored
  std::int32_t size = 0;  // the format's field: the low 32 bits of the size
  std::uint32_t crc = 0;
  std::uint32_t attr = 0;
  double time = 0.0;  // date-time double, local time
  std::uint8_t mark = 0;
  // Not stored: the whole size in 64 bits (the scan's; for a record read
  // from an archive, the stored field taken as unsigned).
  std::int64_t fullSize = 0;
  // Not stored here: what the scan's stat said of the file (its mode,
  // owner, times, inode), for the set's metadata table.
  TNodeMeta node{};
};

struct TBlockHeader {
  std::int32_t rawLength = 0;
  std::int32_t storedLength = 0;
  std::uint8_t compressed = 0;
  std::uint8_t reserved = 0;
  bool IsEnd() const { return storedLength == 0; }
};

// Cuts text to at most 255 bytes without splitting a UTF-8 character.
std::string CutStoredString(const std::string& text);

void EncodeHeader(const TArchiveHeader& h, std::uint8_t out[kHeaderSize]);
// false when the magic number is wrong (h is then left untouched).
bool DecodeHeader(const std::uint8_t in[kHeaderSize], TArchiveHeader& h);

void EncodeCount(std::int32_t count, std::uint8_t out[kCountSize]);
std::int32_t DecodeCount(const std::uint8_t in[kCountSize]);

// The largest file count a reader accepts: the directory records of a larger
// count would not fit into 2^31 bytes.  Every record also needs its 10-byte
// end-of-data block, so no archive this program writes comes near it.
inline constexpr std::int32_t kMaxFileCount =
    static_cast<std::int32_t>(0x7FFFFFFF / (kRecordSize + kBlockHeaderSize));
// A decoded file count is plausible when it is 0..kMaxFileCount.  Anything
// else means a damaged archive; check before allocating for the records.
inline bool PlausibleFileCount(std::int32_t count) { return count >= 0 && count <= kMaxFileCount; }

// A directory record a backup can have written: a path without NUL bytes
// and a finite time.  Anything else means the directory ran into damaged
// bytes.  (Every 32-bit size is possible: sizes of 2 GB and more keep only
// their low 32 bits.)
bool PlausibleRecord(const TDirRecord& r);

void EncodeRecord(const TDirRecord& r, std::uint8_t out[kRecordSize]);
TDirRecord DecodeRecord(const std::uint8_t in[kRecordSize]);

void EncodeBlockHeader(const TBlockHeader& b, std::uint8_t out[kBlockHeaderSize]);
TBlockHeader DecodeBlockHeader(const std::uint8_t in[kBlockHeaderSize]);
// Raw and stored lengths both within 0..32768.
bool BlockHeaderValid(const TBlockHeader& b);

// Bytes that follow a block header: the stored length, rounded up to a
// multiple of 8 when the archive is encrypted.
inline std::size_t StoredBytesOnMedium(std::int32_t storedLength, bool encrypted) {
  std::size_t n = static_cast<std::size_t>(storedLength);
  return encrypted ? ((n + 7) & ~static_cast<std::size_t>(7)) : n;
}

// The trailer of every volume of a spanned disk set: 32 bytes after the
// volume's whole transfer blocks.  A reader of volumes reads whole blocks
// and discards the short rest of an ended volume unread, so the trailer
// changes nothing the archive says; it tells the volumes of one run from
// those of another.  Bytes 0..7 "VXVOLSET", 8..23 the run's random set
// identity, 24..27 the volume number, 28..31 the checksum of bytes 0..27.
// Volumes of sets written before it have none (their size is a multiple of
// the block size).
inline constexpr std::size_t kVolumeTrailerSize = 32;
using TSetIdentity = std::array<std::uint8_t, 16>;

struct TVolumeTrailer {
  TSetIdentity setId{};
  std::uint32_t volume = 0;
};

void EncodeVolumeTrailer(const TVolumeTrailer& t, std::uint8_t out[kVolumeTrailerSize]);
// false when the bytes are no trailer (wrong mark or checksum).
bool DecodeVolumeTrailer(const std::uint8_t in[kVolumeTrailerSize], TVolumeTrailer& t);

}  // namespace vx
