// The archive reader.
#include "archive/archive_reader.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>

#include "archive/archive_stream.h"
#include "archive/block_pipeline.h"
#include "archive/errors.h"
#include "archive/texts.h"
#include "platform/hooks.h"

namespace vx {

namespace {

using txt::archive::kBrokenFileHeader;
using txt::archive::kDamagedSet;
using txt::archive::kRecordMissing;

// Blocks that may be read ahead of the taker, per decoding thread.
constexpr std::size_t kJobsPerWorker = 8;
// Records read between two looks at whether the run is asked to stop: a
// directory of millions of records takes seconds to read.
constexpr std::int32_t kRecordsPerStopCheck = 4096;

// Keeps a block's decoding error when it is damage (the file's data are then
// read past and the error raised at its end); any other error goes on.
void KeepDamage(const std::exception_ptr& error, std::optional<EVX_Error>& damage) {
  try {
    std::rethrow_exception(error);
  } catch (const EVX_ZipError& e) {
    damage.emplace(e);
  } catch (const EVX_BackupReadError& e) {
    damage.emplace(e);
  }
}

// Takes back, unused, whatever a file left under way in the pipeline.
class TPipelineEmptier {
 public:
  explicit TPipelineEmptier(TBlockPipeline& pipe) : pipe_(pipe) {}
  ~TPipelineEmptier() {
    while (pipe_.Oldest(true) != nullptr) pipe_.Release();
  }
  TPipelineEmptier(const TPipelineEmptier&) = delete;
  TPipelineEmptier& operator=(const TPipelineEmptier&) = delete;

 private:
  TBlockPipeline& pipe_;
};

}  // namespace

std::size_t TMemoryByteSource::Read(void* data, std::size_t count) {
  const std::size_t n = std::min(count, size_ - pos_);
  if (n > 0) std::memcpy(data, data_ + pos_, n);
  pos_ += n;
  return n;
}

std::size_t TStreamByteSource::Read(void* data, std::size_t count) {
  stream_.ReadBytes(data, count);
  return count;
}

bool TStreamByteSource::Whole() const { return stream_.FirstVolumeWhole(); }

void TStreamByteSource::FileEnded() {
  if (stream_.IsTape()) stream_.FlushToBlockEnd();
}

TArchiveReader::TArchiveReader(TByteSource& src, TBlockCodec& codec)
    : src_(src), codec_(codec), stored_(kBlockSize) {}

TArchiveReader::~TArchiveReader() = default;

void TArchiveReader::SetDecodeWorkers(int workers, const std::string& key) {
  pipeline_.reset();
  pipelineKeyed_ = !key.empty();
  if (workers <= 0) return;
  TBlockEncoding decoding;
  decoding.key = key;
  decoding.decode = true;
  pipeline_ = std::make_unique<TBlockPipeline>(
      decoding, workers, kJobsPerWorker * static_cast<std::size_t>(workers + 1));
  // No thread to be had: the caller's thread decodes, as with no workers.
  if (pipeline_->Workers() == 0) pipeline_.reset();
}

void TArchiveReader::ReadExact(void* data, std::size_t count, const char* text) {
  std::size_t got = 0;
  try {
    got = src_.Read(data, count);
  } catch (const EVX_BackupReadError&) {
    throw EVX_BackupReadError(text);
  }
  if (got != count) throw EVX_BackupReadError(text);
}

TArchiveHeader TArchiveReader::ReadHeader(const THeaderTexts& texts) {
  ReadExact(rawHeader_, kHeaderSize, texts.cut);
  TArchiveHeader h;
  if (!DecodeHeader(rawHeader_, h)) throw EVX_NoProperBackup(texts.foreign);
  // A set's volume cut short: what follows cannot be trusted.
  if (!src_.Whole()) throw EVX_BackupReadError(texts.cut);
  encrypted_ = h.encrypted;
  return h;
}

std::int32_t TArchiveReader::ReadDirectory(std::vector<TDirRecord>& records,
                                           std::int64_t archiveSize) {
  records.clear();
  std::uint8_t raw[kRecordSize];
  ReadExact(raw, kCountSize, kDamagedSet);
  const std::int32_t count = DecodeCount(raw);
  if (!PlausibleFileCount(count)) throw EVX_BackupReadError(kDamagedSet);
  const std::int64_t needed =
      static_cast<std::int64_t>(kHeaderSize + kCountSize) +
      static_cast<std::int64_t>(count) * static_cast<std::int64_t>(kRecordSize);
  if (archiveSize > 0 && needed > archiveSize) throw EVX_BackupReadError(kDamagedSet);
  if (count == 0) CheckNothingFollows(archiveSize);
  // Records are added as they arrive: a count larger than the data ends at
  // the first short read, having allocated only for records really present.
  try {
    for (std::int32_t i = 0; i < count; ++i) {
      if (i % kRecordsPerStopCheck == 0 && StopRequested())
        throw EVX_UserAbortion(txt::archive::kUserAbort);
      ReadExact(raw, kRecordSize, kRecordMissing);
      records.push_back(DecodeRecord(raw));
      // A record no backup writes means the count ran into other bytes.
      if (!PlausibleRecord(records.back())) throw EVX_BackupReadError(kDamagedSet);
    }
  } catch (...) {
    records.clear();
    throw;
  }
  return count;
}

// A set of no files is one transfer block: the header, the count and
// padding.  A count of 0 in front of anything else (directory records, more
// blocks) is a damaged count, not an empty set.
void TArchiveReader::CheckNothingFollows(std::int64_t archiveSize) {
  if (archiveSize > static_cast<std::int64_t>(kBlockSize)) throw EVX_BackupReadError(kDamagedSet);
  std::vector<std::uint8_t> rest(kBlockSize - kHeaderSize - kCountSize);
  std::size_t got = 0;
  try {
    got = src_.Read(rest.data(), rest.size());
  } catch (const EVX_BackupReadError&) {
    return;  // the medium ends here: nothing follows
  }
  for (std::size_t i = 0; i < got; ++i) {
    if (rest[i] != 0x00 && rest[i] != 0xFF) throw EVX_BackupReadError(kDamagedSet);
  }
}

bool TArchiveReader::NextHeader(TBlockHeader& header, const TDataTexts& texts) {
  ReadExact(head_, kBlockHeaderSize, texts.cutHeader);
  header = DecodeBlockHeader(head_);
  if (!BlockHeaderValid(header)) throw EVX_BackupReadError(kBrokenFileHeader);
  return !header.IsEnd();
}

bool TArchiveReader::NextBlock(TBlockHeader& header, std::size_t& onMedium, const TBlockTick& tick,
                               const TDataTexts& texts) {
  onMedium = 0;
  if (!NextHeader(header, texts)) return false;
  onMedium = StoredBytesOnMedium(header.storedLength, encrypted_);
  ReadExact(stored_.data(), onMedium, texts.cutData);
  if (tick) tick();
  return true;
}

std::int64_t TArchiveReader::ReadFile(const TBlockTaker& take, const TBlockTick& tick,
                                      const TDataTexts& texts) {
  std::optional<EVX_Error> damage;
  std::int64_t total = 0;
  // The workers' cipher must be the one this archive needs.
  const bool ahead =
      take && pipeline_ && pipelineKeyed_ == encrypted_ && (!encrypted_ || cipher_ != nullptr);
  if (ahead) {
    total = ReadFileAhead(take, tick, texts, damage);
  } else {
    bool decoding = static_cast<bool>(take);
    TBlockHeader header;
    std::size_t onMedium = 0;
    while (NextBlock(header, onMedium, tick, texts)) {
      total += header.rawLength;
      if (!decoding) continue;
      // A block whose header holds but whose bytes do not decode: its length
      // fields still say where the next block begins.
      const std::uint8_t* raw = nullptr;
      try {
        raw = codec_.Decode(header, stored_.data(), onMedium, encrypted_ ? cipher_ : nullptr);
      } catch (const EVX_ZipError& e) {
        damage.emplace(e);
        decoding = false;
        continue;
      } catch (const EVX_BackupReadError& e) {
        damage.emplace(e);
        decoding = false;
        continue;
      }
      decoding = take(raw, static_cast<std::size_t>(header.rawLength));
    }
  }
  src_.FileEnded();
  if (damage && damage->Code() == EVX_ZipError::kCode) throw EVX_ZipError(damage->what());
  if (damage) throw EVX_BackupReadError(damage->what());
  return total;
}

// The source is read and the tick called block by block as ReadFile does
// with no workers; each block is handed to a worker as soon as the next
// block's header shows that another follows, and the taker gets the decoded
// blocks in order whenever they are ready.  The file's last block is decoded
// here (a file of one block costs no hand-over), and everything is handed
// over before the end-of-data block's FileEnded, or before a failure of the
// source or the tick goes on: the taker sees the same blocks as without
// workers, in the same order.
std::int64_t TArchiveReader::ReadFileAhead(const TBlockTaker& take, const TBlockTick& tick,
                                           const TDataTexts& texts,
                                           std::optional<EVX_Error>& damage) {
  TBlockPipeline& pipe = *pipeline_;
  const TPipelineEmptier emptier(pipe);
  bool decoding = true;
  auto hand = [&](const std::exception_ptr& error, const std::uint8_t* raw, std::size_t n) {
    if (!decoding) return;
    // Whatever happens, a block that failed or a taker that threw gets no
    // more blocks.
    decoding = false;
    if (error) {
      KeepDamage(error, damage);
      return;
    }
    decoding = take(raw, n);
  };
  auto handOldest = [&](bool wait) {
    TBlockPipeline::TJob* job = pipe.Oldest(wait);
    if (job == nullptr) return false;
    hand(job->error, job->raw.data(), job->rawLength);
    pipe.Release();
    return true;
  };
  // The block read last, not yet handed to a worker.
  TBlockPipeline::TJob* held = nullptr;
  auto handAll = [&] {
    std::exception_ptr error;
    const std::uint8_t* raw = nullptr;
    std::size_t n = 0;
    if (held != nullptr && decoding) {
      const TBlockHeader header = DecodeBlockHeader(held->encoded.data());
      n = static_cast<std::size_t>(header.rawLength);
      try {
        raw = codec_.Decode(header, held->encoded.data() + kBlockHeaderSize,
                            held->encodedLength - kBlockHeaderSize, encrypted_ ? cipher_ : nullptr);
      } catch (...) {
        error = std::current_exception();
      }
    }
    while (handOldest(true)) {
    }
    if (held != nullptr) hand(error, raw, n);
    held = nullptr;
  };
  std::int64_t total = 0;
  try {
    TBlockHeader header;
    while (NextHeader(header, texts)) {
      if (held != nullptr) {
        pipe.Submit(false, 0);
        held = nullptr;
      }
      total += header.rawLength;
      const std::size_t onMedium = StoredBytesOnMedium(header.storedLength, encrypted_);
      TBlockPipeline::TJob* job = nullptr;
      while (decoding && (job = pipe.Free()) == nullptr) handOldest(true);
      if (decoding) {
        std::memcpy(job->encoded.data(), head_, kBlockHeaderSize);
        ReadExact(job->encoded.data() + kBlockHeaderSize, onMedium, texts.cutData);
        job->encodedLength = kBlockHeaderSize + onMedium;
      } else {
        job = nullptr;
        ReadExact(stored_.data(), onMedium, texts.cutData);
      }
      if (tick) tick();
      held = job;
      while (handOldest(false)) {
      }
    }
    handAll();
  } catch (...) {
    const std::exception_ptr failure = std::current_exception();
    handAll();
    std::rethrow_exception(failure);
  }
  return total;
}

void TArchiveReader::CopyFile(const TStoredBlockTaker& take, const TBlockTick& tick,
                              const TDataTexts& texts) {
  TBlockHeader header;
  std::size_t onMedium = 0;
  for (;;) {
    const bool data = NextBlock(header, onMedium, nullptr, texts);
    take(head_, stored_.data(), onMedium);
    if (!data) break;
    if (tick) tick();
  }
  src_.FileEnded();
}

TArchiveHeader ReadArchiveHeader(TByteSource& src) {
  TBlockCodec codec;
  return TArchiveReader(src, codec).ReadHeader();
}

std::int32_t ReadDirectory(TByteSource& src, std::vector<TDirRecord>& records) {
  TBlockCodec codec;
  return TArchiveReader(src, codec).ReadDirectory(records);
}

std::int64_t ReadFileData(TByteSource& src, bool encrypted, TBlockCodec& codec, TCrypto* cipher,
                          const TBlockSink& sink) {
  TArchiveReader reader(src, codec);
  reader.SetEncrypted(encrypted);
  reader.SetCipher(cipher);
  if (!sink) return reader.ReadFile(nullptr);
  return reader.ReadFile([&sink](const std::uint8_t* data, std::size_t n) {
    sink(data, n);
    return true;
  });
}

int ScanArchive(TByteSource& src, const std::string& key) {
  TBlockCodec codec;
  TBlowFish cipher;
  cipher.SetKey(key);
  return ScanArchive(src, codec, cipher);
}

int ScanArchive(TByteSource& src, TBlockCodec& codec, TCrypto& cipher) {
  TArchiveReader reader(src, codec);
  reader.SetCipher(&cipher);
  try {
    reader.ReadHeader();
    std::vector<TDirRecord> records;
    reader.ReadDirectory(records);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
      reader.ReadFile([&sum](const std::uint8_t* p, std::size_t n) {
        for (std::size_t k = 0; k < n; k += 512) sum += p[k];
        return true;
      });
    }
    (void)sum;
    return 0;
  } catch (const EVX_ZipError& e) {
    return e.Code();
  } catch (const EVX_NoProperBackup& e) {
    return e.Code();
  } catch (const EVX_BackupReadError& e) {
    return e.Code();
  }
}

int ScanArchiveBytes(const std::uint8_t* data, std::size_t size, const std::string& key) {
  TMemoryByteSource src(data, size);
  return ScanArchive(src, key);
}

}  // namespace vx
