#pragma once
// Reading one file's data from an archive stream block by block; restore
// writes the blocks to the target file, verify compares them with the file
// on disk.
#include <cstddef>
#include <cstdint>
#include <functional>

#include "archive/archive_stream.h"
#include "archive/block_codec.h"
#include "archive/crypto.h"

namespace vx {

// Takes the raw bytes of the next block; returns false when it wants no more
// (the rest of the file's data is then read past without being decoded).
using TBlockSink = std::function<bool(const std::uint8_t* raw, std::size_t n)>;
// Called after every block read, decoded or not; may throw to stop the run.
using TBlockTick = std::function<void()>;

// Reads the data blocks of one file up to and including its end-of-data
// block (on tape also to the end of the transfer block).  buffer holds at
// least one stored block.  An empty sink only reads the data past.
// Throws EVX_BackupReadError for a damaged or cut header or cut data: the
// stream then stands somewhere inside the file's data.  A block whose header
// holds but whose bytes do not decode (a stream that does not unpack, a raw
// block whose lengths differ) stops the decoding; the rest of the file is
// read past and EVX_ZipError (or EVX_BackupReadError) is thrown at its end,
// so the next file starts where it should.
void ReadFileBlocks(TArchiveStream& stream, TBlockCodec& codec, std::uint8_t* buffer,
                    bool encrypted, TCrypto* cipher, const TBlockSink& sink,
                    const TBlockTick& tick = nullptr);

}  // namespace vx
