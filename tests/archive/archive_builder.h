#pragma once
// Builds a whole archive in memory the way a backup lays it out: header,
// count, records, then each file in 32,768-byte blocks and its end block.
// Shared by the reader tests and the fuzz corpus generator.
#include <cstdint>
#include <string>
#include <vector>

#include "archive/block_codec.h"
#include "archive/crypto.h"
#include "archive/format.h"

namespace vx::test {

struct TFileSpec {
  std::string path;
  std::vector<std::uint8_t> content;
};

inline std::vector<std::uint8_t> BuildArchive(const std::vector<TFileSpec>& files, int level,
                                              const std::string& key,
                                              const std::string& comment = "") {
  std::vector<std::uint8_t> out(kHeaderSize + kCountSize);
  TArchiveHeader h;
  h.compressed = level > 0;
  h.encrypted = !key.empty();
  h.comment = comment;
  EncodeHeader(h, out.data());
  EncodeCount(static_cast<std::int32_t>(files.size()), out.data() + kHeaderSize);
  for (const auto& f : files) {
    TDirRecord r;
    r.path = f.path;
    r.size = static_cast<std::int32_t>(f.content.size());
    r.attr = 0x20;
    r.time = 45000.25;
    std::uint8_t rec[kRecordSize];
    EncodeRecord(r, rec);
    out.insert(out.end(), rec, rec + kRecordSize);
  }
  TBlockCodec codec;
  TBlowFish cipher;
  cipher.SetKey(key);
  for (const auto& f : files) {
    for (std::size_t at = 0; at < f.content.size(); at += kBlockSize) {
      std::size_t n = std::min(kBlockSize, f.content.size() - at);
      std::size_t len = 0;
      const std::uint8_t* block =
          codec.Encode(f.content.data() + at, n, level, key.empty() ? nullptr : &cipher, len);
      out.insert(out.end(), block, block + len);
    }
    out.insert(out.end(), kBlockHeaderSize, 0);  // end-of-data block
  }
  return out;
}

}  // namespace vx::test
