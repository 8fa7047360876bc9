#pragma once
// A strict reader of archive bytes from any byte source: the beginning of an
// archive (header, count, directory) and one file's run of data blocks.  Every
// damage ends with the engine's exception for it; nothing is allocated on the
// strength of a number read from the archive.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/block_codec.h"
#include "archive/crypto.h"
#include "archive/format.h"

namespace vx {

class TArchiveStream;

// Where the reader takes its bytes.  Read returns how many bytes it gave;
// fewer than asked means the source has ended.
class TByteSource {
 public:
  virtual ~TByteSource() = default;
  virtual std::size_t Read(void* data, std::size_t count) = 0;
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

// An archive stream: it never reads short, it throws instead.
class TStreamByteSource : public TByteSource {
 public:
  explicit TStreamByteSource(TArchiveStream& stream) : stream_(stream) {}
  std::size_t Read(void* data, std::size_t count) override;

 private:
  TArchiveStream& stream_;
};

// Reads the 263-byte header.  Short: EVX_BackupReadError; wrong magic
// number: EVX_NoProperBackup.
TArchiveHeader ReadArchiveHeader(TByteSource& src);

// Reads the file count and that many records into records (cleared first)
// and returns the count.  A count that is negative or beyond kMaxFileCount,
// or a short read, is EVX_BackupReadError.
std::int32_t ReadDirectory(TByteSource& src, std::vector<TDirRecord>& records);

// Reads one file's data blocks up to and including its end-of-data block.
// With a sink, each block is decoded (deciphered with cipher when the archive
// is encrypted, inflated) and its raw bytes handed over; without one the
// blocks are only read past.  Returns the number of raw bytes the blocks
// represent.
using TBlockSink = std::function<void(const std::uint8_t* data, std::size_t len)>;
std::int64_t ReadFileData(TByteSource& src, bool encrypted, TBlockCodec& codec, TCrypto* cipher,
                          const TBlockSink& sink);

// Reads a whole archive held in memory: header, directory and every file's
// data, decoding each block (key used when the archive is encrypted).  Returns
// 0 when everything decoded, otherwise the result code of the engine
// exception that stopped it (3 zip, 8 foreign file, 9 damaged archive).
// Used by the fuzz target and its corpus replay.
int ScanArchiveBytes(const std::uint8_t* data, std::size_t size, const std::string& key);

}  // namespace vx
