// One data block encoded and decoded: compression kept only when shorter,
// encryption padded to whole cipher blocks, damaged blocks refused.
#include "archive/block_codec.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "archive/errors.h"
#include "temp_dir.h"

namespace vx {
namespace {

TEST(BlockCodec, CompressionKeptOnlyWhenShorter) {
  TBlockCodec codec;
  const auto text = testing::TextBytes(32768);
  for (int level : {1, 9}) {
    std::size_t len = 0;
    TBlockHeader h;
    const std::uint8_t* out = codec.Encode(text.data(), text.size(), level, nullptr, len, &h);
    ASSERT_EQ(1, out[8]);
    EXPECT_EQ(10u + static_cast<std::size_t>(h.storedLength), len);
    // A complete zlib stream whose header names the level.
    EXPECT_EQ(0x78, out[10]);
    EXPECT_EQ(level == 1 ? 0x01 : 0xDA, out[11]);
    std::vector<std::uint8_t> back(32768);
    uLongf backLen = back.size();
    ASSERT_EQ(Z_OK, uncompress(back.data(), &backLen, out + 10, len - 10));
    EXPECT_EQ(text, back);
  }
  // Noise does not get shorter: stored raw with flag 0.
  const auto noise = testing::NoiseBytes(4464);
  std::size_t len = 0;
  const std::uint8_t* out = codec.Encode(noise.data(), noise.size(), 9, nullptr, len);
  const std::uint8_t head[10] = {0x70, 0x11, 0, 0, 0x70, 0x11, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(out, head, 10));
  EXPECT_EQ(0, std::memcmp(out + 10, noise.data(), noise.size()));
}

TEST(BlockCodec, EncryptedBlocksArePaddedTo8) {
  TBlockCodec codec;
  TBlowFish cipher;
  cipher.SetKey("block-password");
  const auto bytes = testing::NoiseBytes(4465);
  std::size_t len = 0;
  TBlockHeader h;
  const std::uint8_t* out = codec.Encode(bytes.data(), 5, 0, &cipher, len, &h);
  EXPECT_EQ(10u + 8u, len);
  EXPECT_EQ(5, out[4]) << "the header keeps the unrounded length";
  std::uint8_t block[8];
  std::memcpy(block, out + 10, 8);
  cipher.DecryptBlock(block);
  EXPECT_EQ(0, std::memcmp(block, bytes.data(), 5));

  codec.Encode(bytes.data(), 16, 0, &cipher, len, &h);
  EXPECT_EQ(10u + 16u, len);
  out = codec.Encode(bytes.data(), 4465, 0, &cipher, len, &h);
  EXPECT_EQ(10u + 4472u, len);
  // No state passes from block to block: the same bytes encrypt the same.
  const std::vector<std::uint8_t> first(out, out + len);
  out = codec.Encode(bytes.data(), 4465, 0, &cipher, len, &h);
  EXPECT_EQ(first, std::vector<std::uint8_t>(out, out + len));
}

TEST(BlockCodec, RoundTripsEverySizeLevelAndCipher) {
  TBlockCodec writer, reader;
  TBlowFish cipher;
  cipher.SetKey("round-trip-key");
  for (std::size_t n : {1u, 7u, 9u, 4465u, 32768u}) {
    for (bool text : {true, false}) {
      const auto raw = text ? testing::TextBytes(n) : testing::NoiseBytes(n);
      for (int level : {0, 1, 9}) {
        for (TCrypto* c : {static_cast<TCrypto*>(nullptr), static_cast<TCrypto*>(&cipher)}) {
          std::size_t len = 0;
          TBlockHeader h;
          const std::uint8_t* out = writer.Encode(raw.data(), n, level, c, len, &h);
          const std::vector<std::uint8_t> stored(out + 10, out + len);
          const std::uint8_t* back = reader.Decode(h, stored.data(), stored.size(), c);
          ASSERT_EQ(0, std::memcmp(back, raw.data(), n)) << n << " " << level << " " << !!c;
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
  auto stored = std::vector<std::uint8_t>(out + 10, out + len);
  TBlockHeader wrongRaw = h;
  wrongRaw.rawLength = 19999;
  EXPECT_THROW(reader.Decode(wrongRaw, stored.data(), stored.size(), nullptr), EVX_ZipError);
  EXPECT_THROW(reader.Decode(h, stored.data(), stored.size() - 1, nullptr), EVX_BackupReadError);
  // A raw block whose lengths disagree.
  EXPECT_THROW(reader.Decode(TBlockHeader{100, 90, 0, 0}, stored.data(), 90, nullptr),
               EVX_BackupReadError);

  // The wrong key gives a stream that does not inflate; the codec still
  // works afterwards.
  TBlowFish right, wrong;
  right.SetKey("the-right-key");
  wrong.SetKey("the-wrong-key");
  out = codec.Encode(text.data(), text.size(), 9, &right, len, &h);
  stored.assign(out + 10, out + len);
  EXPECT_THROW(reader.Decode(h, stored.data(), stored.size(), &wrong), EVX_ZipError);
  EXPECT_EQ(0, std::memcmp(reader.Decode(h, stored.data(), stored.size(), &right), text.data(),
                           text.size()));
}

}  // namespace
}  // namespace vx
