#pragma once
// The one reader of archive bytes, from any byte source: the beginning of an
// archive (header, count, directory) and each file's run of data blocks.
// Every reading operation of the engine reads its archive through it.  Every
// damage ends with the engine's exception for it; nothing is allocated on the
// strength of a number read from the archive.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "archive/block_codec.h"
#include "archive/crypto.h"
#include "archive/errors.h"
#include "archive/format.h"
#include "archive/texts.h"

namespace vx {

class TArchiveStream;
class TBlockPipeline;

// Where the reader takes its bytes.  Read returns how many bytes it gave;
// fewer than asked means the source has ended (a source may throw
// EVX_BackupReadError instead; the reader then raises its own text).
class TByteSource {
 public:
  virtual ~TByteSource() = default;
  virtual std::size_t Read(void* data, std::size_t count) = 0;
  // Whether the medium read so far is whole (a disk volume cut short is not).
  virtual bool Whole() const { return true; }
  // Called after a file's end-of-data block has been read.
  virtual void FileEnded() {}
};

// Bytes held in memory.
class TMemoryByteSource : public TByteSource {
 public:
  TMemoryByteSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::size_t Read(void* data, std::size_t count) override;
  std::size_t Position() const { return pos_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// An archive stream: it never reads short, it throws instead.  A tape moves
// to the end of its transfer block behind each file, where the next file
// begins.
class TStreamByteSource : public TByteSource {
 public:
  explicit TStreamByteSource(TArchiveStream& stream) : stream_(stream) {}
  std::size_t Read(void* data, std::size_t count) override;
  bool Whole() const override;
  void FileEnded() override;

 private:
  TArchiveStream& stream_;
};

// The texts of a header that is cut short or is no archive header; each
// reading operation has its own.
struct THeaderTexts {
  const char* cut = txt::archive::kDamagedSet;
  const char* foreign = txt::archive::kNotASet;
};

// The texts of a file's data that end early.
struct TDataTexts {
  const char* cutHeader = txt::archive::kEarlyEndInHeader;
  const char* cutData = txt::archive::kEarlyEndInFile;
};

// Takes the raw bytes of the next block; false when it wants no more (the
// rest of the file's data is then read past without being decoded).
using TBlockTaker = std::function<bool(const std::uint8_t* raw, std::size_t n)>;
// Called after every data block read, decoded or not; may throw to stop.
using TBlockTick = std::function<void()>;
// Takes one block as stored: its 10 header bytes and its stored bytes (none
// for the end-of-data block).
using TStoredBlockTaker =
    std::function<void(const std::uint8_t* head, const std::uint8_t* stored, std::size_t n)>;

class TArchiveReader {
 public:
  // The codec decodes the blocks; both it and src outlive the reader.
  TArchiveReader(TByteSource& src, TBlockCodec& codec);
  ~TArchiveReader();
  TArchiveReader(const TArchiveReader&) = delete;
  TArchiveReader& operator=(const TArchiveReader&) = delete;

  // Reads the 263-byte header.  Short, or the medium not whole:
  // EVX_BackupReadError(texts.cut); wrong magic number:
  // EVX_NoProperBackup(texts.foreign).  Remembers whether the archive is
  // encrypted.
  TArchiveHeader ReadHeader(const THeaderTexts& texts = {});
  // The header's bytes as read.
  const std::uint8_t* RawHeader() const { return rawHeader_; }
  // The data of an encrypted archive are deciphered with cipher (null: none).
  void SetCipher(TCrypto* cipher) { cipher_ = cipher; }
  void SetEncrypted(bool encrypted) { encrypted_ = encrypted; }
  // ReadFile decodes on `workers` threads (0, the default: on the caller's)
  // with a cipher of its own keyed with key (the archive's password; empty
  // when it is not encrypted).  The source is read, the tick called and the
  // taker handed its blocks on the caller's thread exactly as with none:
  // only the decoding moves, a few blocks ahead of the taker, and never
  // past the file's end.  Threads the system refuses are done without.
  void SetDecodeWorkers(int workers, const std::string& key);

  // Reads the file count and the records into records, one by one as they
  // arrive, and returns the count.  A count that is negative or beyond
  // kMaxFileCount, one the archive's size (archiveSize, when known, else -1)
  // cannot hold, a record no backup writes, or a short read: records is
  // emptied and EVX_BackupReadError raised.
  std::int32_t ReadDirectory(std::vector<TDirRecord>& records, std::int64_t archiveSize = -1);

  // Reads one file's data blocks up to and including its end-of-data block.
  // With a taker each block is decoded and its raw bytes handed over;
  // without one the blocks are only read past.  A damaged or cut block
  // header or cut data: EVX_BackupReadError at once (the source then stands
  // inside the file's data).  A block whose header holds but whose bytes do
  // not decode stops the decoding; the rest of the file is read past and
  // EVX_ZipError (or EVX_BackupReadError) raised at its end, so that the
  // next file starts where it should.  Returns the raw bytes the blocks
  // stand for.
  std::int64_t ReadFile(const TBlockTaker& take, const TBlockTick& tick = nullptr,
                        const TDataTexts& texts = {});
  // Hands on every block of one file as stored, end-of-data block included.
  void CopyFile(const TStoredBlockTaker& take, const TBlockTick& tick, const TDataTexts& texts);

 private:
  void CheckNothingFollows(std::int64_t archiveSize);
  void ReadExact(void* data, std::size_t count, const char* text);
  // Reads the next block's header and stored bytes; false at the end block.
  bool NextBlock(TBlockHeader& header, std::size_t& onMedium, const TBlockTick& tick,
                 const TDataTexts& texts);
  // Reads the next block header into head_; false at the end block.
  bool NextHeader(TBlockHeader& header, const TDataTexts& texts);
  std::int64_t ReadFileAhead(const TBlockTaker& take, const TBlockTick& tick,
                             const TDataTexts& texts, std::optional<EVX_Error>& damage);

  TByteSource& src_;
  TBlockCodec& codec_;
  TCrypto* cipher_ = nullptr;
  bool encrypted_ = false;
  std::uint8_t rawHeader_[kHeaderSize] = {};
  std::uint8_t head_[kBlockHeaderSize] = {};
  std::vector<std::uint8_t> stored_;
  std::unique_ptr<TBlockPipeline> pipeline_;
  bool pipelineKeyed_ = false;
};

// Reads the 263-byte header with the default texts.
TArchiveHeader ReadArchiveHeader(TByteSource& src);

// Reads the file count and that many records into records (cleared first)
// and returns the count.
std::int32_t ReadDirectory(TByteSource& src, std::vector<TDirRecord>& records);

// Reads one file's data, handing each decoded block to sink (when given).
// Returns the number of raw bytes the blocks represent.
using TBlockSink = std::function<void(const std::uint8_t* data, std::size_t len)>;
std::int64_t ReadFileData(TByteSource& src, bool encrypted, TBlockCodec& codec, TCrypto* cipher,
                          const TBlockSink& sink);

// Reads a whole archive: header, directory and every file's data, decoding
// each block (key used when the archive is encrypted).  Returns 0 when
// everything decoded, otherwise the result code of the engine exception that
// stopped it (3 zip, 8 foreign file, 9 damaged archive).
int ScanArchive(TByteSource& src, const std::string& key);
// The same with a codec and a keyed cipher kept from one archive to the next.
int ScanArchive(TByteSource& src, TBlockCodec& codec, TCrypto& cipher);
// The same over bytes held in memory.
int ScanArchiveBytes(const std::uint8_t* data, std::size_t size, const std::string& key);

}  // namespace vx
