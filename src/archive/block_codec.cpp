// One data block in and out: zlib per block, Blowfish ECB, 10-byte header.
#include "archive/block_codec.h"

#include <zlib.h>

#include <array>
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
  // Deflate states by level (created on first use, then only reset).
  std::array<z_stream, 10> def{};
  std::array<bool, 10> defReady{};
  z_stream inf{};
  bool infReady = false;
  // Encode result: header + stored bytes (+ padding).
  std::vector<std::uint8_t> out = std::vector<std::uint8_t>(kBlockHeaderSize + kMaxPadded);
  // Decode work areas: deciphered stored bytes and the raw bytes.
  std::vector<std::uint8_t> plain = std::vector<std::uint8_t>(kMaxPadded);
  std::vector<std::uint8_t> raw = std::vector<std::uint8_t>(kBlockSize);

  ~State() {
    for (std::size_t i = 0; i < def.size(); ++i)
      if (defReady[i]) deflateEnd(&def[i]);
    if (infReady) inflateEnd(&inf);
  }

  z_stream& Deflater(int level) {
    auto i = static_cast<std::size_t>(level);
    if (!defReady[i]) {
      if (deflateInit(&def[i], level) != Z_OK) throw EVX_ZipError("zlib: deflateInit failed");
      defReady[i] = true;
    } else if (deflateReset(&def[i]) != Z_OK) {
      throw EVX_ZipError("zlib: deflateReset failed");
    }
    return def[i];
  }

  z_stream& Inflater() {
    if (!infReady) {
      if (inflateInit(&inf) != Z_OK) throw EVX_ZipError("zlib: inflateInit failed");
      infReady = true;
    } else if (inflateReset(&inf) != Z_OK) {
      throw EVX_ZipError("zlib: inflateReset failed");
    }
    return inf;
  }
};

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
    // Only a result shorter than n is kept, so deflate gets n - 1 bytes of
    // room: if the stream does not finish in them it would not be kept.
    z_stream& z = s_->Deflater(level);
    z.next_in = const_cast<Bytef*>(raw);
    z.avail_in = static_cast<uInt>(n);
    z.next_out = stored;
    z.avail_out = static_cast<uInt>(n - 1);
    int rc = deflate(&z, Z_FINISH);
    if (rc == Z_STREAM_END) {
      packed = true;
      h.storedLength = static_cast<std::int32_t>(z.total_out);
      h.compressed = 1;
    } else if (rc != Z_OK && rc != Z_BUF_ERROR) {
      throw EVX_ZipError(std::string("zlib: ") + (z.msg ? z.msg : "deflate failed"));
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

  z_stream& z = s_->Inflater();
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(storedLen);
  z.next_out = s_->raw.data();
  z.avail_out = static_cast<uInt>(kBlockSize);
  int rc = inflate(&z, Z_FINISH);
  // A damaged stream cannot give the raw length either; both end the same way.
  if (rc != Z_STREAM_END || z.total_out != rawLen) throw EVX_ZipError(kBadLength);
  return s_->raw.data();
}

}  // namespace vx
