#pragma once
// Encoding and decoding of one data block: a zlib stream per block (kept only when
// smaller), Blowfish ECB per block, and the 10-byte block header.  Owns its
// work buffers and compressor states, so no allocation happens per block.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "archive/crypto.h"
#include "archive/format.h"
#include "support/utils.h"

namespace vx {

// The archive checksum's running register; the same as CrcUpdate.
inline std::uint32_t FastCrcUpdate(std::uint32_t reg, const void* data, std::size_t len) {
  return CrcUpdate(reg, data, len);
}

// The most bytes one encoded block takes: its header and 32,768 stored bytes
// (already a multiple of the cipher's 8).
inline constexpr std::size_t kMaxEncodedBlock = kBlockHeaderSize + kBlockSize;

// Whether deflate could gain no more than a few bytes on n raw bytes (the
// check EncodeInto makes before packing): byte values spread evenly and
// hardly any four-byte string occurring twice.  slots: a work area of
// 65,536 entries.
bool PlainlyIncompressible(const std::uint8_t* raw, std::size_t n, std::uint16_t* slots);

class TBlockCodec {
 public:
  // level: 0 none, 1 quick, 9 maximal.  cipher may be null (no encryption).
  TBlockCodec();
  ~TBlockCodec();
  TBlockCodec(const TBlockCodec&) = delete;
  TBlockCodec& operator=(const TBlockCodec&) = delete;

  // Encodes n (1..32768) raw bytes.  A block whose bytes are plainly
  // incompressible (noise, packed or enciphered data: packing could not
  // save more than a few bytes) is stored raw without being packed first.  The result (block header
  // followed by the stored bytes, rounded up to 8 when encrypting) stays valid until the next call;
  // its length is returned in outLen.  Throws EVX_ZipError when the compressor fails.
  const std::uint8_t* Encode(const std::uint8_t* raw, std::size_t n, int level, TCrypto* cipher,
                             std::size_t& outLen, TBlockHeader* header = nullptr);

  // As Encode, into `out` (kMaxEncodedBlock bytes); returns the length.
  std::size_t EncodeInto(const std::uint8_t* raw, std::size_t n, int level, TCrypto* cipher,
                         std::uint8_t* out, TBlockHeader* header = nullptr);

  // Packs every block, with no incompressibility check first: for measuring
  // what the check costs in archive size (bench/).
  void PackEveryBlock(bool on);

  // Decodes the stored bytes of one block (onMedium = StoredBytesOnMedium
  // bytes as read) into raw bytes; returns a pointer to header.rawLength bytes,
  // valid until the next call.  Throws EVX_ZipError "Dekomprimovaný blok nemá
  // správnu dĺžku" when inflation does not give exactly the raw length.
  const std::uint8_t* Decode(const TBlockHeader& header, const std::uint8_t* stored,
                             std::size_t onMedium, TCrypto* cipher);

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace vx
