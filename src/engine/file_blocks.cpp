// One file's data blocks read from the archive stream and handed on decoded.
#include "engine/file_blocks.h"

#include <array>

#include "archive/errors.h"
#include "archive/format.h"

namespace vx {

void ReadFileBlocks(TArchiveStream& stream, TBlockCodec& codec, std::uint8_t* buffer,
                    bool encrypted, TCrypto* cipher, const TBlockSink& sink) {
  bool decoding = static_cast<bool>(sink);
  std::array<std::uint8_t, kBlockHeaderSize> hb{};
  for (;;) {
    try {
      stream.ReadBytes(hb.data(), hb.size());
    } catch (const EVX_BackupReadError&) {
      throw EVX_BackupReadError("Predčasný koniec súboru v hlavičke súboru");
    }
    const TBlockHeader bh = DecodeBlockHeader(hb.data());
    // A raw block cannot stand for more bytes than it stores.
    if (!BlockHeaderValid(bh) || (bh.compressed == 0 && bh.rawLength > bh.storedLength))
      throw EVX_BackupReadError("Porušená hlavička súboru");
    if (bh.storedLength == 0) break;
    const std::size_t onMedium = StoredBytesOnMedium(bh.storedLength, encrypted);
    try {
      stream.ReadBytes(buffer, onMedium);
    } catch (const EVX_BackupReadError&) {
      throw EVX_BackupReadError("Predčasný koniec súboru pri čítaní súboru");
    }
    if (!decoding) continue;
    const std::uint8_t* raw = codec.Decode(bh, buffer, onMedium, cipher);
    decoding = sink(raw, static_cast<std::size_t>(bh.rawLength));
  }
  if (stream.IsTape()) stream.FlushToBlockEnd();
}

}  // namespace vx
