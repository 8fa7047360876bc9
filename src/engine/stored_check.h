#pragma once
// What every reader asks of a stored file's unpacked bytes before it calls
// the file good: as many bytes as its directory record says (the record keeps
// the low 32 bits of the size) and, where the record holds a checksum, the
// same checksum.  Restore and verify judge a file by these same two rules.
#include <cstddef>
#include <cstdint>

#include "archive/format.h"
#include "support/utils.h"

namespace vx {

// The length and checksum of the bytes unpacked so far.
struct TUnpacked {
  std::int64_t bytes = 0;
  std::uint32_t crc = kCrcInit;
  void Add(const std::uint8_t* raw, std::size_t n) {
    bytes += static_cast<std::int64_t>(n);
    crc = CrcUpdate(crc, raw, n);
  }
};

inline bool SizeMatches(const TDirRecord& r, std::int64_t bytes) {
  return static_cast<std::uint32_t>(bytes) == static_cast<std::uint32_t>(r.size);
}

// A stored checksum of 0 means the backup computed none; noFileCRCs is the
// engine's setting that no checksum is compared.
inline bool CrcMatches(const TDirRecord& r, std::uint32_t crc, bool noFileCRCs) {
  return noFileCRCs || r.crc == 0 || crc == r.crc;
}

}  // namespace vx
