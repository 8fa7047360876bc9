// One data block encoded and decoded: compression kept only when shorter,
// encryption padded to whole cipher blocks, and damaged blocks refused.
#include "archive/block_codec.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "archive/errors.h"
#include "temp_dir.h"

namespace vx {
namespace {

std::vector<std::uint8_t> Inflate(const std::uint8_t* p, std::size_t n, std::size_t rawLen) {
  std::vector<std::uint8_t> out(rawLen);
  uLongf len = rawLen;
  EXPECT_EQ(Z_OK, uncompress(out.data(), &len, p, n));
  out.resize(len);
  return out;
}

TEST(BlockCodec, PlainBlockIsHeaderAndRawBytes) {
  TBlockCodec codec;
  const auto raw = testing::TextBytes(4464);
  std::size_t len = 0;
  TBlockHeader h;
  const std::uint8_t* out = codec.Encode(raw.data(), raw.size(), 0, nullptr, len, &h);
  ASSERT_EQ(10u + 4464u, len);
  const std::uint8_t head[10] = {0x70, 0x11, 0, 0, 0x70, 0x11, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(out, head, 10));
  EXPECT_EQ(0, std::memcmp(out + 10, raw.data(), raw.size()));
  EXPECT_EQ(0, h.compressed);
}

TEST(BlockCodec, CompressionKeptOnlyWhenShorter) {
  TBlockCodec codec;
  const auto text = testing::TextBytes(32768);
  for (int level : {1, 9}) {
    std::size_t len = 0;
    TBlockHeader h;
    const std::uint8_t* out = codec.Encode(text.data(), text.size(), level, nullptr, len, &h);
    EXPECT_EQ(1, out[8]) << level;
    EXPECT_LT(h.storedLength, 32768);
    EXPECT_EQ(10u + static_cast<std::size_t>(h.storedLength), len);
    // A complete zlib stream with the level in its header byte.
    EXPECT_EQ(0x78, out[10]);
    EXPECT_EQ(level == 1 ? 0x01 : 0xDA, out[11]);
    EXPECT_EQ(text, Inflate(out + 10, static_cast<std::size_t>(h.storedLength), 32768));
  }
  // Noise does not get shorter: stored raw, flag 0, stored length = raw length.
  const auto noise = testing::NoiseBytes(32768);
  std::size_t len = 0;
  TBlockHeader h;
  const std::uint8_t* out = codec.Encode(noise.data(), noise.size(), 9, nullptr, len, &h);
  EXPECT_EQ(0, out[8]);
  EXPECT_EQ(32768, h.storedLength);
  EXPECT_EQ(0, std::memcmp(out + 10, noise.data(), noise.size()));
  // A single byte never compresses.
  const std::uint8_t one = 'a';
  codec.Encode(&one, 1, 9, nullptr, len, &h);
  EXPECT_EQ(11u, len);
  EXPECT_EQ(0, h.compressed);
}

TEST(BlockCodec, EncryptedBlocksArePaddedTo8) {
  TBlockCodec codec;
  TBlowFish cipher;
  cipher.SetKey("block-password");
  const auto five = testing::NoiseBytes(5);
  std::size_t len = 0;
  TBlockHeader h;
  const std::uint8_t* out = codec.Encode(five.data(), 5, 0, &cipher, len, &h);
  EXPECT_EQ(10u + 8u, len);
  EXPECT_EQ(5, h.storedLength) << "the header keeps the unrounded length";
  EXPECT_EQ(5, out[4]);

  // Deciphering with an independent ECB pass gives the bytes back.
  TBlowFish check;
  check.SetKey("block-password");
  std::uint8_t block[8];
  std::memcpy(block, out + 10, 8);
  check.BuildSchedule();
  check.DecryptBlock(block);
  EXPECT_EQ(0, std::memcmp(block, five.data(), 5));

  const auto sixteen = testing::NoiseBytes(16);
  codec.Encode(sixteen.data(), 16, 0, &cipher, len, &h);
  EXPECT_EQ(10u + 16u, len);
  const auto odd = testing::NoiseBytes(4465);
  codec.Encode(odd.data(), odd.size(), 0, &cipher, len, &h);
  EXPECT_EQ(10u + 4472u, len);
}

TEST(BlockCodec, SamePlaintextSameCiphertext) {
  TBlockCodec codec;
  TBlowFish cipher;
  cipher.SetKey("block-password");
  const auto text = testing::TextBytes(1000);
  std::size_t len = 0;
  const std::uint8_t* out = codec.Encode(text.data(), text.size(), 1, &cipher, len);
  std::vector<std::uint8_t> first(out, out + len);
  out = codec.Encode(text.data(), text.size(), 1, &cipher, len);
  EXPECT_EQ(first, std::vector<std::uint8_t>(out, out + len));
}

TEST(BlockCodec, RoundTripsEverySizeLevelAndCipher) {
  TBlockCodec writer, reader;
  TBlowFish cipher;
  cipher.SetKey("round-trip-key");
  for (std::size_t n : {1u, 7u, 8u, 9u, 4465u, 32767u, 32768u}) {
    for (bool text : {true, false}) {
      const auto raw = text ? testing::TextBytes(n) : testing::NoiseBytes(n);
      for (int level : {0, 1, 9}) {
        for (TCrypto* c : {static_cast<TCrypto*>(nullptr), static_cast<TCrypto*>(&cipher)}) {
          std::size_t len = 0;
          TBlockHeader h;
          const std::uint8_t* out = writer.Encode(raw.data(), n, level, c, len, &h);
          std::vector<std::uint8_t> stored(out + 10, out + len);
          EXPECT_EQ(h.rawLength, DecodeBlockHeader(out).rawLength);
          const std::uint8_t* back = reader.Decode(h, stored.data(), stored.size(), c);
          ASSERT_EQ(0, std::memcmp(back, raw.data(), n))
              << "n=" << n << " level=" << level << " cipher=" << (c != nullptr);
        }
      }
    }
  }
}

TEST(BlockCodec, DamagedBlocksAreRefused) {
  TBlockCodec codec, reader;
  const auto text = testing::TextBytes(20000);
  std::size_t len = 0;
  TBlockHeader h;
  const std::uint8_t* out = codec.Encode(text.data(), text.size(), 9, nullptr, len, &h);
  std::vector<std::uint8_t> stored(out + 10, out + len);
  ASSERT_EQ(1, h.compressed);

  TBlockHeader wrongRaw = h;
  wrongRaw.rawLength = 19999;
  EXPECT_THROW(reader.Decode(wrongRaw, stored.data(), stored.size(), nullptr), EVX_ZipError);

  auto garbled = stored;
  for (std::size_t i = 2; i < garbled.size(); i += 3) garbled[i] ^= 0x5A;
  EXPECT_THROW(reader.Decode(h, garbled.data(), garbled.size(), nullptr), EVX_ZipError);

  // Truncated stream, and fewer bytes on the medium than the header says.
  TBlockHeader cut = h;
  cut.storedLength -= 20;
  EXPECT_THROW(reader.Decode(cut, stored.data(), stored.size() - 20, nullptr), EVX_ZipError);
  EXPECT_THROW(reader.Decode(h, stored.data(), stored.size() - 1, nullptr), EVX_BackupReadError);

  // A raw block whose lengths disagree, and lengths out of range.
  TBlockHeader rawBlock{100, 90, 0, 0};
  EXPECT_THROW(reader.Decode(rawBlock, stored.data(), 90, nullptr), EVX_BackupReadError);
  TBlockHeader huge{40000, 10, 1, 0};
  EXPECT_THROW(reader.Decode(huge, stored.data(), 10, nullptr), EVX_BackupReadError);

  // The wrong key yields a stream that does not inflate.
  TBlowFish right, wrong;
  right.SetKey("the-right-key");
  wrong.SetKey("the-wrong-key");
  out = codec.Encode(text.data(), text.size(), 9, &right, len, &h);
  std::vector<std::uint8_t> enc(out + 10, out + len);
  EXPECT_THROW(reader.Decode(h, enc.data(), enc.size(), &wrong), EVX_ZipError);
  // The reader still works after failures.
  const std::uint8_t* back = reader.Decode(h, enc.data(), enc.size(), &right);
  EXPECT_EQ(0, std::memcmp(back, text.data(), text.size()));
}

TEST(BlockCodec, RejectsBadArguments) {
  TBlockCodec codec;
  std::vector<std::uint8_t> big(32769);
  std::size_t len = 0;
  EXPECT_THROW(codec.Encode(big.data(), 0, 0, nullptr, len), std::invalid_argument);
  EXPECT_THROW(codec.Encode(big.data(), big.size(), 0, nullptr, len), std::invalid_argument);
  EXPECT_THROW(codec.Encode(big.data(), 10, 10, nullptr, len), std::invalid_argument);
}

}  // namespace
}  // namespace vx
