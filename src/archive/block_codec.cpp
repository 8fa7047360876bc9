// One data block in and out: a zlib stream per block, Blowfish ECB, 10-byte header.
#include "archive/block_codec.h"

#include <libdeflate.h>
#include <zlib.h>

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "archive/errors.h"

namespace vx {
namespace {

constexpr std::size_t kMaxPadded = kBlockSize;  // 32768 is already a multiple of 8
// Blocks up to this length that libdeflate cannot make shorter are given to
// zlib as well (see EncodeInto).
constexpr std::size_t kSecondOpinionMax = 64;

std::size_t RoundUp8(std::size_t n) { return (n + 7) & ~static_cast<std::size_t>(7); }

const char* const kBadLength = "Dekomprimovaný blok nemá správnu dĺžku";

}  // namespace

struct TBlockCodec::State {
  // Compressors by level (created on first use, then kept: a libdeflate
  // compressor holds no stream state between calls, so nothing is reset).
  std::array<libdeflate_compressor*, 10> def{};
  // zlib's deflate by level, for the second opinion on small blocks.
  std::array<std::unique_ptr<z_stream>, 10> zlib{};
  libdeflate_decompressor* inf = nullptr;
  // Encode result: header + stored bytes (+ padding).
  std::vector<std::uint8_t> out = std::vector<std::uint8_t>(kBlockHeaderSize + kMaxPadded);
  // Decode work areas: deciphered stored bytes and the raw bytes.
  std::vector<std::uint8_t> plain = std::vector<std::uint8_t>(kMaxPadded);
  std::vector<std::uint8_t> raw = std::vector<std::uint8_t>(kBlockSize);
  // Work area of the incompressibility check.
  std::vector<std::uint16_t> slots = std::vector<std::uint16_t>(std::size_t{1} << 16);
  bool packEveryBlock = false;

  ~State() {
    for (libdeflate_compressor* c : def)
      if (c != nullptr) libdeflate_free_compressor(c);
    if (inf != nullptr) libdeflate_free_decompressor(inf);
    for (auto& z : zlib)
      if (z) deflateEnd(z.get());
  }

  // zlib's stream for a block of n bytes at `level` into `into`, or 0 when it
  // is not shorter than n (as compress2 would make it).
  std::size_t ZlibShorter(const std::uint8_t* block, std::size_t n, int level, std::uint8_t* into) {
    auto& z = zlib[static_cast<std::size_t>(level)];
    if (!z) {
      auto fresh = std::make_unique<z_stream>();
      if (deflateInit(fresh.get(), level) != Z_OK) return 0;
      z = std::move(fresh);
    } else if (deflateReset(z.get()) != Z_OK) {
      return 0;
    }
    z->next_in =
        const_cast<Bytef*>(block);  // NOLINT(cppcoreguidelines-pro-type-const-cast): zlib's API
    z->avail_in = static_cast<uInt>(n);
    z->next_out = into;
    z->avail_out = static_cast<uInt>(n - 1);
    return deflate(z.get(), Z_FINISH) == Z_STREAM_END ? static_cast<std::size_t>(z->total_out) : 0;
  }

  libdeflate_compressor* Deflater(int level) {
    auto& c = def[static_cast<std::size_t>(level)];
    if (c == nullptr) {
      c = libdeflate_alloc_compressor(level);
      if (c == nullptr) throw EVX_ZipError("deflate: compressor could not be created");
    }
    return c;
  }

  libdeflate_decompressor* Inflater() {
    if (inf == nullptr) {
      inf = libdeflate_alloc_decompressor();
      if (inf == nullptr) throw EVX_ZipError("deflate: decompressor could not be created");
    }
    return inf;
  }
};

TBlockCodec::TBlockCodec() : s_(std::make_unique<State>()) {}

void TBlockCodec::PackEveryBlock(bool on) { s_->packEveryBlock = on; }
TBlockCodec::~TBlockCodec() = default;

namespace {

void RunCipher(TCrypto* cipher, bool encrypt, const std::uint8_t* in, std::uint8_t* out,
               std::size_t padded) {
  cipher->InputType = SourceByteArray;
  cipher->CipherMode = ECBMode;
  cipher->InputArray = in;
  cipher->OutputArray = out;
  cipher->InputLength = static_cast<std::uint16_t>(padded);
  if (encrypt)
    cipher->Encrypt(false);
  else
    cipher->Decrypt(false);
}

// Whether deflate could gain more than a few bytes on a block, judged at a
// fraction of the cost of packing it (packing such a block costs more than
// packing text, and the result is thrown away).  Deflate gains in two ways:
// by coding frequent byte values in fewer bits, and by replacing strings
// that occur again with references.  A block is stored without packing only
// when neither can gain: its byte values are spread so evenly that even
// ideal coding of single bytes saves at most kMaxGain bytes, and hardly any
// four-byte string occurs twice.  Noise, packed and enciphered data pass;
// a stretch of text, a table, a run or a repeated piece anywhere does not.
constexpr std::size_t kMinJudged = 16384;
constexpr double kMaxGain = 32.0;  // noise of 32,768 bytes: about 23
constexpr int kMaxRepeats = 8;     // noise of 32,768 bytes: about 0.1
constexpr std::size_t kRepeatSlots = std::size_t{1} << 16;

double SingleByteGain(const std::uint8_t* data, std::size_t n) {
  // Four partial counts, so that a run of one byte value does not make every
  // increment wait for the one before.
  std::array<std::array<std::uint32_t, 256>, 4> part{};
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    ++part[0][data[i]];
    ++part[1][data[i + 1]];
    ++part[2][data[i + 2]];
    ++part[3][data[i + 3]];
  }
  for (; i < n; ++i) ++part[0][data[i]];
  std::array<std::uint32_t, 256> counts{};
  for (std::size_t v = 0; v < 256; ++v)
    counts[v] = part[0][v] + part[1][v] + part[2][v] + part[3][v];
  double bits = 0.0;  // ideal code length of the block, in bits
  const double total = static_cast<double>(n);
  for (std::uint32_t c : counts) {
    if (c != 0) bits -= static_cast<double>(c) * std::log2(static_cast<double>(c) / total);
  }
  return (8.0 * total - bits) / 8.0;
}

// slots: kRepeatSlots entries, the last position of each hash.  A repeat is
// a position whose four bytes equal those at the last earlier position with
// the same hash.  An empty slot reads as position 0, which cannot count as a
// repeat for a position after 0: four bytes equal to the block's first four
// have the first four's hash, whose slot position 0 took.  So every compare
// is made without asking whether the slot was taken, and without a branch
// (on noise about a third of the slots are taken, at random, and a branch on
// it would be mispredicted that often).
bool HasRepeats(const std::uint8_t* data, std::size_t n, std::uint16_t* slots) {
  std::memset(slots, 0, kRepeatSlots * sizeof *slots);
  int repeats = 0;
  for (std::size_t i = 1; i + 4 <= n; ++i) {
    std::uint32_t v, seen;
    std::memcpy(&v, data + i, 4);
    const std::uint32_t h = (v * 2654435761u) >> 16;
    std::memcpy(&seen, data + slots[h], 4);
    repeats += static_cast<int>(seen == v);
    if (repeats > kMaxRepeats) return true;
    slots[h] = static_cast<std::uint16_t>(i);
  }
  return false;
}

}  // namespace

bool PlainlyIncompressible(const std::uint8_t* raw, std::size_t n, std::uint16_t* slots) {
  if (n < kMinJudged) return false;
  return SingleByteGain(raw, n) <= kMaxGain && !HasRepeats(raw, n, slots);
}

const std::uint8_t* TBlockCodec::Encode(const std::uint8_t* raw, std::size_t n, int level,
                                        TCrypto* cipher, std::size_t& outLen,
                                        TBlockHeader* header) {
  outLen = EncodeInto(raw, n, level, cipher, s_->out.data(), header);
  return s_->out.data();
}

std::size_t TBlockCodec::EncodeInto(const std::uint8_t* raw, std::size_t n, int level,
                                    TCrypto* cipher, std::uint8_t* out, TBlockHeader* header) {
  if (n == 0 || n > kBlockSize) throw std::invalid_argument("TBlockCodec::Encode: block length");
  if (level < 0 || level > 9) throw std::invalid_argument("TBlockCodec::Encode: level");
  std::uint8_t* const stored = out + kBlockHeaderSize;
  TBlockHeader h;
  h.rawLength = static_cast<std::int32_t>(n);
  h.storedLength = static_cast<std::int32_t>(n);

  bool packed = false;
  if (level > 0 && n > 1) {
    // Only a result shorter than n is kept, so the compressor gets n - 1
    // bytes of room and gives up (returns 0) when the stream does not fit.
    // The result is a complete zlib stream (header, deflate data, Adler-32).
    libdeflate_compressor* const c = s_->Deflater(level);
    std::size_t len = 0;
    if (s_->packEveryBlock || !PlainlyIncompressible(raw, n, s_->slots.data()))
      len = libdeflate_zlib_compress(c, raw, n, stored, n - 1);
    // On a few dozen bytes the fast levels of libdeflate find no string that
    // zlib finds, and the block would stay raw though zlib makes it shorter:
    // a small block that did not get shorter gets zlib's try too.
    if (len == 0 && n <= kSecondOpinionMax) len = s_->ZlibShorter(raw, n, level, stored);
    if (len > 0) {
      packed = true;
      h.storedLength = static_cast<std::int32_t>(len);
      h.compressed = 1;
    }
  }
  if (!packed) std::memcpy(stored, raw, n);

  std::size_t onMedium = static_cast<std::size_t>(h.storedLength);
  if (cipher != nullptr) {
    std::size_t padded = RoundUp8(onMedium);
    std::memset(stored + onMedium, 0, padded - onMedium);
    RunCipher(cipher, true, stored, stored, padded);
    onMedium = padded;
  }
  EncodeBlockHeader(h, out);
  if (header != nullptr) *header = h;
  return kBlockHeaderSize + onMedium;
}

const std::uint8_t* TBlockCodec::Decode(const TBlockHeader& header, const std::uint8_t* stored,
                                        std::size_t onMedium, TCrypto* cipher) {
  if (!BlockHeaderValid(header)) throw EVX_BackupReadError("Porušená hlavička súboru");
  if (header.IsEnd()) return s_->raw.data();
  const auto storedLen = static_cast<std::size_t>(header.storedLength);
  const auto rawLen = static_cast<std::size_t>(header.rawLength);
  if (onMedium < StoredBytesOnMedium(header.storedLength, cipher != nullptr))
    throw EVX_BackupReadError("Predčasný koniec súboru pri čítaní súboru");

  const std::uint8_t* data = stored;
  if (cipher != nullptr) {
    RunCipher(cipher, false, stored, s_->plain.data(), RoundUp8(storedLen));
    data = s_->plain.data();
  }

  if (header.compressed == 0) {
    // Raw bytes: the writer stores exactly the raw length.
    if (storedLen != rawLen) throw EVX_BackupReadError("Porušená hlavička súboru");
    std::memcpy(s_->raw.data(), data, rawLen);
    return s_->raw.data();
  }

  // The stream must unpack to exactly the raw length; a damaged stream cannot
  // give it either, and both end the same way.
  std::size_t got = 0;
  libdeflate_result rc =
      libdeflate_zlib_decompress(s_->Inflater(), data, storedLen, s_->raw.data(), rawLen, &got);
  if (rc != LIBDEFLATE_SUCCESS || got != rawLen) throw EVX_ZipError(kBadLength);
  return s_->raw.data();
}

}  // namespace vx
