#pragma once
// Sets written with the archive layer itself, so that the reading operations
// can be tested on sets of any content, damaged and hostile ones included.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_stream.h"
#include "archive/block_codec.h"
#include "archive/crypto.h"
#include "archive/format.h"
#include "platform/date_time.h"
#include "platform/paths.h"
#include "support/path_names.h"
#include "support/utils.h"

namespace vx::test {

struct TStoredFile {
  std::string path;     // as stored
  std::string content;  // the bytes of its data blocks
  std::uint32_t attr = 0x20;
  bool badCrc = false;  // store a wrong checksum
};

// The stored time of every file: 2024-03-14 10:20:30.
inline double FixedTime() {
  double t = 0.0;
  TryEncodeDateTime(2024, 3, 14, 10, 20, 30, t);
  return t;
}

// Header, directory and blocks as a backup writes them.  level 0, 1 or 9; a
// key enciphers the blocks; limit > 0 splits the set into volumes.
inline void WriteArchive(const std::string& base, const std::vector<TStoredFile>& files,
                         int level = 0, const std::string& key = "",
                         const std::string& comment = "", std::int64_t limit = 0) {
  // The stream creates no folder (a backup does, before it opens it).
  ForceDirectories(ExtractFilePath(base));
  TArchiveStream out(TStreamMode::Write, base, limit > 0, limit, false,
                     [](int, TReaction&) { return false; });
  TArchiveHeader h{level != 0, !key.empty(), limit > 0, comment};
  std::uint8_t buf[kRecordSize] = {};
  EncodeHeader(h, buf);
  out.WriteBytes(buf, kHeaderSize);
  EncodeCount(static_cast<std::int32_t>(files.size()), buf);
  out.WriteBytes(buf, kCountSize);
  for (const TStoredFile& f : files) {
    const std::uint32_t crc = CrcUpdate(kCrcInit, f.content.data(), f.content.size());
    const TDirRecord r{f.path,
                       static_cast<std::int32_t>(f.content.size()),
                       f.badCrc ? crc ^ 1u : crc,
                       f.attr,
                       FixedTime(),
                       0};
    EncodeRecord(r, buf);
    out.WriteBytes(buf, kRecordSize);
  }
  TBlockCodec codec;
  TBlowFish cipher;
  cipher.SetKey(key);
  for (const TStoredFile& f : files) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(f.content.data());
    for (std::size_t pos = 0; pos < f.content.size(); pos += kBlockSize) {
      std::size_t len = 0;
      const std::uint8_t* enc =
          codec.Encode(data + pos, std::min(kBlockSize, f.content.size() - pos), level,
                       key.empty() ? nullptr : &cipher, len);
      out.WriteBytes(enc, len);
    }
    const std::uint8_t end[kBlockHeaderSize] = {};
    out.WriteBytes(end, kBlockHeaderSize);
  }
  out.Close();
}

}  // namespace vx::test
