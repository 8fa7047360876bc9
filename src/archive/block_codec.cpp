// One data block in and out: a zlib stream per block, Blowfish ECB, 10-byte header.
#include "archive/block_codec.h"

#include <libdeflate.h>

#include <array>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "archive/errors.h"

namespace vx {
namespace {

constexpr std::size_t kMaxPadded = kBlockSize;  // 32768 is already a multiple of 8

std::size_t RoundUp8(std::size_t n) { return (n + 7) & ~static_cast<std::size_t>(7); }

const char* const kBadLength = "Dekomprimovaný blok nemá správnu dĺžku";

}  // namespace

struct TBlockCodec::State {
  // Compressors by level (created on first use, then kept: a libdeflate
  // compressor holds no stream state between calls, so nothing is reset).
  std::array<libdeflate_compressor*, 10> def{};
  libdeflate_decompressor* inf = nullptr;
  // Encode result: header + stored bytes (+ padding).
  std::vector<std::uint8_t> out = std::vector<std::uint8_t>(kBlockHeaderSize + kMaxPadded);
  // Decode work areas: deciphered stored bytes and the raw bytes.
  std::vector<std::uint8_t> plain = std::vector<std::uint8_t>(kMaxPadded);
  std::vector<std::uint8_t> raw = std::vector<std::uint8_t>(kBlockSize);

  ~State() {
    for (libdeflate_compressor* c : def)
      if (c != nullptr) libdeflate_free_compressor(c);
    if (inf != nullptr) libdeflate_free_decompressor(inf);
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

std::uint32_t FastCrcUpdate(std::uint32_t reg, const void* data, std::size_t len) {
  // libdeflate's crc32 inverts on entry and exit like zlib's; undoing both
  // leaves the raw register.
  return ~libdeflate_crc32(~reg, data, len);
}

TBlockCodec::TBlockCodec() : s_(std::make_unique<State>()) {}
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

// Whether a block is plainly incompressible (packed or enciphered data,
// noise), judged at a fraction of the cost of packing it: packing such a
// block costs more than packing text, and the result is thrown away.  The
// block must use the byte values about evenly, in its first piece and as a
// whole (any text, table or run of some length shows a value far more often
// than 1 in 256), and pieces at its start, middle and end must each not get
// shorter when packed; anything else is given to the compressor whole.
constexpr std::size_t kSample = 4096;
constexpr std::size_t kMinJudged = 4 * kSample;

// true when no byte value occurs more than `limit` times in data[0, n).
bool EvenlySpread(const std::uint8_t* data, std::size_t n, std::uint32_t limit) {
  std::array<std::uint32_t, 256> counts{};
  for (std::size_t i = 0; i < n; ++i) ++counts[data[i]];
  for (std::uint32_t count : counts)
    if (count > limit) return false;
  return true;
}

bool PlainlyIncompressible(libdeflate_compressor* c, const std::uint8_t* raw, std::size_t n,
                           std::uint8_t* scratch) {
  if (n < kMinJudged) return false;
  // Evenly spread, 4096 bytes give each value 16 times on average and hardly
  // ever more than 40.
  if (!EvenlySpread(raw, kSample, 40)) return false;
  for (std::size_t at : {std::size_t{0}, n / 2 - kSample / 2, n - kSample}) {
    if (libdeflate_zlib_compress(c, raw + at, kSample, scratch, kSample - 1) != 0) return false;
  }
  // The whole block: the average plus more than six standard deviations
  // (128 and 11.3 for 32768 bytes); a run of some 80 bytes goes beyond.
  const double mean = static_cast<double>(n) / 256.0;
  return EvenlySpread(raw, n, static_cast<std::uint32_t>(mean + 6.0 * std::sqrt(mean) + 1.0));
}

}  // namespace

const std::uint8_t* TBlockCodec::Encode(const std::uint8_t* raw, std::size_t n, int level,
                                        TCrypto* cipher, std::size_t& outLen,
                                        TBlockHeader* header) {
  if (n == 0 || n > kBlockSize) throw std::invalid_argument("TBlockCodec::Encode: block length");
  if (level < 0 || level > 9) throw std::invalid_argument("TBlockCodec::Encode: level");
  std::uint8_t* const stored = s_->out.data() + kBlockHeaderSize;
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
    if (!PlainlyIncompressible(c, raw, n, stored))
      len = libdeflate_zlib_compress(c, raw, n, stored, n - 1);
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
  EncodeBlockHeader(h, s_->out.data());
  if (header != nullptr) *header = h;
  outLen = kBlockHeaderSize + onMedium;
  return s_->out.data();
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
