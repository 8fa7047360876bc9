// The strict archive reader.
#include "archive/archive_reader.h"

#include <cstring>

#include "archive/archive_stream.h"
#include "archive/errors.h"

namespace vx {

std::size_t TMemoryByteSource::Read(void* data, std::size_t count) {
  std::size_t n = std::min(count, size_ - pos_);
  if (n > 0) std::memcpy(data, data_ + pos_, n);
  pos_ += n;
  return n;
}

std::size_t TStreamByteSource::Read(void* data, std::size_t count) {
  stream_.ReadBytes(data, count);
  return count;
}

TArchiveHeader ReadArchiveHeader(TByteSource& src) {
  std::uint8_t raw[kHeaderSize];
  if (src.Read(raw, kHeaderSize) != kHeaderSize)
    throw EVX_BackupReadError("Poškodený zálohový súbor");
  TArchiveHeader h;
  if (!DecodeHeader(raw, h)) throw EVX_NoProperBackup("Nie je to zálohový súbor");
  return h;
}

std::int32_t ReadDirectory(TByteSource& src, std::vector<TDirRecord>& records) {
  records.clear();
  std::uint8_t raw[kRecordSize];
  if (src.Read(raw, kCountSize) != kCountSize)
    throw EVX_BackupReadError("Poškodený zálohový súbor");
  const std::int32_t count = DecodeCount(raw);
  if (!PlausibleFileCount(count)) throw EVX_BackupReadError("Poškodený zálohový súbor");
  // Records are added as they arrive: a count larger than the data ends at
  // the first short read, having allocated only for records really present.
  for (std::int32_t i = 0; i < count; ++i) {
    if (src.Read(raw, kRecordSize) != kRecordSize)
      throw EVX_BackupReadError("Lesefehler aus Stream");
    records.push_back(DecodeRecord(raw));
    if (!PlausibleRecord(records.back())) throw EVX_BackupReadError("Poškodený zálohový súbor");
  }
  return count;
}

std::int64_t ReadFileData(TByteSource& src, bool encrypted, TBlockCodec& codec, TCrypto* cipher,
                          const TBlockSink& sink) {
  std::uint8_t head[kBlockHeaderSize];
  std::uint8_t stored[kBlockSize];
  std::int64_t total = 0;
  for (;;) {
    if (src.Read(head, kBlockHeaderSize) != kBlockHeaderSize)
      throw EVX_BackupReadError("Predčasný koniec súboru v hlavičke súboru");
    const TBlockHeader h = DecodeBlockHeader(head);
    if (!BlockHeaderValid(h)) throw EVX_BackupReadError("Porušená hlavička súboru");
    if (h.IsEnd()) return total;
    const std::size_t onMedium = StoredBytesOnMedium(h.storedLength, encrypted);
    if (src.Read(stored, onMedium) != onMedium)
      throw EVX_BackupReadError("Predčasný koniec súboru pri čítaní súboru");
    total += h.rawLength;
    if (sink) {
      const std::uint8_t* raw = codec.Decode(h, stored, onMedium, encrypted ? cipher : nullptr);
      sink(raw, static_cast<std::size_t>(h.rawLength));
    }
  }
}

int ScanArchiveBytes(const std::uint8_t* data, std::size_t size, const std::string& key) {
  TMemoryByteSource src(data, size);
  TBlockCodec codec;
  TBlowFish cipher;
  cipher.SetKey(key);
  try {
    const TArchiveHeader h = ReadArchiveHeader(src);
    std::vector<TDirRecord> records;
    ReadDirectory(src, records);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
      ReadFileData(src, h.encrypted, codec, &cipher, [&sum](const std::uint8_t* p, std::size_t n) {
        for (std::size_t k = 0; k < n; k += 512) sum += p[k];
      });
    }
    (void)sum;
    return 0;
  } catch (const EVX_ZipError&) {
    return 3;
  } catch (const EVX_NoProperBackup&) {
    return 8;
  } catch (const EVX_BackupReadError&) {
    return 9;
  }
}

}  // namespace vx
