// One file's data blocks read from the archive stream and handed on decoded.
#include "engine/file_blocks.h"

#include <array>
#include <optional>
#include <string>

#include "archive/errors.h"
#include "archive/format.h"

namespace vx {

void ReadFileBlocks(TArchiveStream& stream, TBlockCodec& codec, std::uint8_t* buffer,
                    bool encrypted, TCrypto* cipher, const TBlockSink& sink,
                    const TBlockTick& tick) {
  bool decoding = static_cast<bool>(sink);
  std::optional<std::string> damage;
  bool unpackFailed = false;
  std::array<std::uint8_t, kBlockHeaderSize> hb{};
  for (;;) {
    try {
      stream.ReadBytes(hb.data(), hb.size());
    } catch (const EVX_BackupReadError&) {
      throw EVX_BackupReadError("Predčasný koniec súboru v hlavičke súboru");
    }
    const TBlockHeader bh = DecodeBlockHeader(hb.data());
    if (!BlockHeaderValid(bh)) throw EVX_BackupReadError("Porušená hlavička súboru");
    if (bh.storedLength == 0) break;
    const std::size_t onMedium = StoredBytesOnMedium(bh.storedLength, encrypted);
    try {
      stream.ReadBytes(buffer, onMedium);
    } catch (const EVX_BackupReadError&) {
      throw EVX_BackupReadError("Predčasný koniec súboru pri čítaní súboru");
    }
    if (tick) tick();
    if (!decoding) continue;
    // A block whose header holds but whose bytes do not decode: its length
    // fields still say where the next block begins.
    const std::uint8_t* raw = nullptr;
    try {
      raw = codec.Decode(bh, buffer, onMedium, cipher);
    } catch (const EVX_ZipError& e) {
      damage = e.what();
      unpackFailed = true;
      decoding = false;
      continue;
    } catch (const EVX_BackupReadError& e) {
      damage = e.what();
      decoding = false;
      continue;
    }
    decoding = sink(raw, static_cast<std::size_t>(bh.rawLength));
  }
  if (stream.IsTape()) stream.FlushToBlockEnd();
  if (damage && unpackFailed) throw EVX_ZipError(*damage);
  if (damage) throw EVX_BackupReadError(*damage);
}

}  // namespace vx
