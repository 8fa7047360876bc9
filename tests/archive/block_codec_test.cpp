// One data block encoded and decoded: compression kept only when shorter,
// encryption padded to whole cipher blocks, damaged blocks refused.
#include "archive/block_codec.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "archive/errors.h"
#include "common/files.h"
#include "common/temp_folder.h"
#include "support/utils.h"

namespace vx {
namespace {

TEST(BlockCodec, CompressionKeptOnlyWhenShorter) {
  TBlockCodec codec;
  const auto text = test::TextData(32768);
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
  const auto noise = test::NoiseData(4464);
  std::size_t len = 0;
  const std::uint8_t* out = codec.Encode(noise.data(), noise.size(), 9, nullptr, len);
  const std::uint8_t head[10] = {0x70, 0x11, 0, 0, 0x70, 0x11, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(out, head, 10));
  EXPECT_EQ(0, std::memcmp(out + 10, noise.data(), noise.size()));
}

// Blocks are plain zlib streams: whatever the codec writes, zlib's own
// streaming inflate reads, and the codec reads what zlib's deflate wrote, so
// archives stay readable whichever deflate implementation packed them.
std::vector<std::uint8_t> MixedBytes(std::size_t n) {
  auto out = test::TextData(n);
  const auto noise = test::NoiseData(n);
  for (std::size_t i = 0; i < n; i += 1000)
    for (std::size_t j = i; j < std::min(n, i + 200); ++j) out[j] = noise[j];
  return out;
}

TEST(BlockCodec, StreamsInteroperateWithZlib) {
  TBlockCodec codec;
  for (std::size_t n : {600u, 4465u, 32768u}) {
    for (int kind = 0; kind < 2; ++kind) {
      const auto raw = kind == 0 ? test::TextData(n) : MixedBytes(n);
      for (int level : {1, 9}) {
        SCOPED_TRACE(::testing::Message() << n << " bytes, kind " << kind << ", level " << level);
        // Codec -> zlib inflate, fed in small pieces like a stream reader would.
        std::size_t len = 0;
        TBlockHeader h;
        const std::uint8_t* out = codec.Encode(raw.data(), n, level, nullptr, len, &h);
        ASSERT_EQ(1, h.compressed);
        z_stream z{};
        ASSERT_EQ(Z_OK, inflateInit(&z));
        std::vector<std::uint8_t> back(n + 16);
        z.next_out = back.data();
        z.avail_out = static_cast<uInt>(back.size());
        int rc = Z_OK;
        for (std::size_t at = 10; at < len && rc == Z_OK; at += 97) {
          z.next_in = const_cast<Bytef*>(out + at);
          z.avail_in = static_cast<uInt>(std::min<std::size_t>(97, len - at));
          rc = inflate(&z, Z_NO_FLUSH);
        }
        EXPECT_EQ(Z_STREAM_END, rc);
        EXPECT_EQ(n, z.total_out);
        EXPECT_EQ(static_cast<uLong>(len - 10), z.total_in) << "no bytes after the stream";
        inflateEnd(&z);
        back.resize(n);
        EXPECT_EQ(raw, back);

        // zlib deflate -> codec.
        std::vector<std::uint8_t> packed(compressBound(n));
        uLongf packedLen = packed.size();
        ASSERT_EQ(Z_OK, compress2(packed.data(), &packedLen, raw.data(), n, level));
        const TBlockHeader zh{static_cast<std::int32_t>(n), static_cast<std::int32_t>(packedLen), 1,
                              0};
        const std::uint8_t* got = codec.Decode(zh, packed.data(), packedLen, nullptr);
        EXPECT_EQ(0, std::memcmp(got, raw.data(), n));
      }
    }
  }
}

TEST(BlockCodec, StreamsOfAnotherLengthOrDamagedAreRefused) {
  TBlockCodec codec;
  const auto raw = MixedBytes(12000);
  std::vector<std::uint8_t> packed(compressBound(raw.size()));
  uLongf packedLen = packed.size();
  ASSERT_EQ(Z_OK, compress2(packed.data(), &packedLen, raw.data(), raw.size(), 6));
  const auto stored = static_cast<std::int32_t>(packedLen);
  auto decode = [&](std::int32_t rawLen, std::int32_t storedLen) {
    return codec.Decode(TBlockHeader{rawLen, storedLen, 1, 0}, packed.data(),
                        static_cast<std::size_t>(storedLen), nullptr);
  };
  // Unpacks to more, or fewer, bytes than the header says.
  EXPECT_THROW(decode(11999, stored), EVX_ZipError);
  EXPECT_THROW(decode(12001, stored), EVX_ZipError);
  // Cut short: the stream never ends.
  EXPECT_THROW(decode(12000, stored - 5), EVX_ZipError);
  // A damaged checksum at the end of the stream.
  packed[packedLen - 1] ^= 0x40;
  EXPECT_THROW(decode(12000, stored), EVX_ZipError);
  packed[packedLen - 1] ^= 0x40;
  EXPECT_EQ(0, std::memcmp(decode(12000, stored), raw.data(), raw.size()));
}

// The fast checksum continues the same register as CrcUpdate, whatever the
// length, the alignment and the way a file is cut into pieces.
TEST(BlockCodec, FastChecksumEqualsTheCommonOne) {
  const auto bytes = test::NoiseData(70001);
  EXPECT_EQ(CrcUpdate(kCrcInit, bytes.data(), 0), FastCrcUpdate(kCrcInit, bytes.data(), 0));
  for (std::size_t start : {0u, 1u, 3u, 7u}) {
    for (std::size_t len : {1u, 15u, 16u, 17u, 63u, 64u, 65u, 4465u, 32768u, 69990u}) {
      EXPECT_EQ(CrcUpdate(kCrcInit, bytes.data() + start, len),
                FastCrcUpdate(kCrcInit, bytes.data() + start, len))
          << start << " " << len;
    }
  }
  std::uint32_t whole = CrcUpdate(kCrcInit, bytes.data(), bytes.size());
  std::uint32_t pieces = kCrcInit;
  for (std::size_t at = 0; at < bytes.size(); at += 32768)
    pieces =
        FastCrcUpdate(pieces, bytes.data() + at, std::min<std::size_t>(32768, bytes.size() - at));
  EXPECT_EQ(whole, pieces);
  EXPECT_EQ(0xCBF43926u, ~FastCrcUpdate(kCrcInit, "123456789", 9)) << "the CRC-32 check value";
}

// The check before packing, written the plain way: the ideal single-byte
// code length, and every position whose four bytes equal those at the last
// earlier position with the same 16-bit multiplicative hash.
bool IncompressibleByDefinition(const std::vector<std::uint8_t>& b) {
  if (b.size() < 16384) return false;
  std::array<std::uint32_t, 256> counts{};
  for (std::uint8_t v : b) ++counts[v];
  double bits = 0.0;
  const double total = static_cast<double>(b.size());
  for (std::uint32_t c : counts)
    if (c != 0) bits -= static_cast<double>(c) * std::log2(static_cast<double>(c) / total);
  if ((8.0 * total - bits) / 8.0 > 32.0) return false;
  std::vector<long> last(65536, -1);
  int repeats = 0;
  for (std::size_t i = 0; i + 4 <= b.size(); ++i) {
    std::uint32_t v;
    std::memcpy(&v, b.data() + i, 4);
    const std::uint32_t h = (v * 2654435761u) >> 16;
    if (last[h] >= 0 && std::memcmp(b.data() + last[h], b.data() + i, 4) == 0) ++repeats;
    last[h] = static_cast<long>(i);
  }
  return repeats <= 8;
}

// The check decides which blocks are packed, so it must give the same answer
// as its definition on every block, around both limits: noise with a number
// of repeated four-byte strings planted (also of the block's first four
// bytes, and overlapping ones), and noise with byte values more or less
// uneven; at and below the shortest length judged.
TEST(BlockCodec, IncompressibleCheckMatchesItsDefinition) {
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> blocks;
  for (std::size_t n : {16383u, 16384u, 20000u, 32768u}) {
    const auto noise = test::NoiseData(n, static_cast<std::uint32_t>(n));
    for (int k = 0; k <= 12; ++k) {
      auto planted = noise, first = noise, run = noise;
      for (int r = 0; r < k; ++r) {
        const std::size_t at = 100 + static_cast<std::size_t>(r) * (n / 14);
        std::copy_n(noise.begin() + 40 + r * 8, 4,
                    planted.begin() + static_cast<std::ptrdiff_t>(at));
        std::copy_n(noise.begin(), 4, first.begin() + static_cast<std::ptrdiff_t>(at));
      }
      std::fill_n(run.begin(), 3 + k, 0x5A);  // a run at the start: overlapping repeats
      const std::string tag = " " + std::to_string(k) + ", " + std::to_string(n) + " bytes";
      blocks.emplace_back("planted" + tag, planted);
      blocks.emplace_back("first four again" + tag, first);
      blocks.emplace_back("run at the start" + tag, run);
    }
    for (std::size_t every : {1000u, 400u, 350u, 320u, 300u, 290u, 280u, 270u, 260u, 250u, 240u,
                              230u, 220u, 200u, 80u}) {
      auto uneven = noise;
      for (std::size_t i = 7; i < n; i += every) uneven[i] = static_cast<std::uint8_t>(i % 3);
      blocks.emplace_back("uneven " + std::to_string(every) + ", " + std::to_string(n), uneven);
    }
  }
  blocks.emplace_back("text", test::TextData(32768));
  std::vector<std::uint16_t> slots(65536, 0xFFFF);
  int stored = 0, packed = 0;
  for (const auto& [name, b] : blocks) {
    const bool expected = IncompressibleByDefinition(b);
    EXPECT_EQ(expected, PlainlyIncompressible(b.data(), b.size(), slots.data())) << name;
    ++(expected ? stored : packed);
  }
  EXPECT_GT(stored, 10) << "the table reaches both answers";
  EXPECT_GT(packed, 10);
}

// A block stored without packing never costs more than a few bytes against
// packing it: noise is stored raw, and a block with anything packable in it
// (text or zeros anywhere, a repeated piece of noise, a small vocabulary of
// random words) is packed.  The yardstick is the same compressor packing
// every block, and zlib for the blocks stored raw.
TEST(BlockCodec, StoringRawLosesAtMostAFewBytesAgainstPacking) {
  constexpr std::size_t kFewBytes = 16;
  const std::size_t n = 32768;
  const auto noise = test::NoiseData(n, 4242);
  const auto text = test::TextData(n);
  auto mix = [&](std::size_t textAt, std::size_t textLen) {
    auto b = noise;
    std::copy_n(text.begin(), textLen, b.begin() + static_cast<std::ptrdiff_t>(textAt));
    return b;
  };
  auto zeros = [&](std::size_t at, std::size_t len) {
    auto b = noise;
    std::fill_n(b.begin() + static_cast<std::ptrdiff_t>(at), len, 0);
    return b;
  };
  std::vector<std::uint8_t> twice(noise.begin(), noise.begin() + n / 2);
  twice.insert(twice.end(), noise.begin(), noise.begin() + n / 2);
  std::vector<std::uint8_t> words;  // 6-byte random words from a vocabulary of 600
  for (std::size_t i = 0; words.size() < n; ++i) {
    const std::size_t w = (noise[i % n] * 7u + noise[(i * 13) % n]) % 600;
    words.insert(words.end(), noise.begin() + static_cast<std::ptrdiff_t>(w * 6),
                 noise.begin() + static_cast<std::ptrdiff_t>(w * 6 + 6));
  }
  words.resize(n);
  std::vector<std::uint8_t> rows(n);
  for (std::size_t i = 0; i < n; ++i) rows[i] = noise[i % 64];
  const std::vector<std::pair<const char*, std::vector<std::uint8_t>>> blocks = {
      {"noise", noise},
      {"text then noise", mix(0, n / 2)},
      {"noise then text", mix(n / 2, n / 2)},
      {"text in unsampled places", mix(6000, 6000)},
      {"2 KiB of text inside noise", mix(9000, 2048)},
      {"zeros at the start", zeros(0, 3000)},
      {"zeros in the middle", zeros(14000, 4000)},
      {"300 zeros", zeros(8000, 300)},
      {"noise twice", twice},
      {"random words", words},
      {"rows of noise", rows},
      {"short noise", test::NoiseData(20000, 99)},
  };
  for (const auto& [name, raw] : blocks) {
    for (int level : {1, 9}) {
      TBlockCodec packer;  // the same compressor on every block
      packer.PackEveryBlock(true);
      std::size_t packedLen = 0;
      TBlockHeader packed;
      packer.Encode(raw.data(), raw.size(), level, nullptr, packedLen, &packed);
      TBlockCodec codec;
      std::size_t len = 0;
      TBlockHeader h;
      const std::uint8_t* out = codec.Encode(raw.data(), raw.size(), level, nullptr, len, &h);
      EXPECT_LE(h.storedLength, packed.storedLength + static_cast<std::int32_t>(kFewBytes))
          << name << " level " << level;
      if (h.compressed == 0) {
        // Stored raw: another compressor cannot gain more than a few bytes either.
        std::vector<std::uint8_t> ref(compressBound(raw.size()));
        uLongf refLen = ref.size();
        ASSERT_EQ(Z_OK, compress2(ref.data(), &refLen, raw.data(), raw.size(), 9));
        EXPECT_LE(raw.size(), refLen + kFewBytes) << name << " level " << level;
      }
      const std::vector<std::uint8_t> stored(out + 10, out + len);
      TBlockCodec reader;
      EXPECT_EQ(0, std::memcmp(reader.Decode(h, stored.data(), stored.size(), nullptr), raw.data(),
                               raw.size()))
          << name;
    }
  }
  // Noise is stored raw, and packing it whole instead gains nothing.
  TBlockCodec codec, packer;
  packer.PackEveryBlock(true);
  std::size_t len = 0, packedLen = 0;
  TBlockHeader h, packed;
  codec.Encode(noise.data(), n, 9, nullptr, len, &h);
  packer.Encode(noise.data(), n, 9, nullptr, packedLen, &packed);
  EXPECT_EQ(h.compressed, 0);
  EXPECT_EQ(len, packedLen);
}

// The format keeps a block raw only when packing it would not make it
// shorter.  Whatever deflate the codec packs with, a block of 1 to 4,096
// bytes that zlib at the same level makes shorter is stored packed and
// shorter: short text, repeated pieces, runs, a small alphabet.
TEST(BlockCodec, PacksEverySmallBlockZlibWouldShorten) {
  const auto text = test::TextData(4096);
  const auto noise = test::NoiseData(4096, 77);
  const std::string sentence = "Hello world, hello world, hello you.\n#!/bin/sh\necho done\n";
  std::vector<std::pair<const char*, std::vector<std::uint8_t>>> kinds = {
      {"text", text},
      {"noise", noise},
      {"sentence", {}},
      {"abc", {}},
      {"run", {}},
      {"four letters", {}},
      {"noise every 7th byte", {}}};
  for (std::size_t i = 0; i < 4096; ++i) {
    kinds[2].second.push_back(static_cast<std::uint8_t>(sentence[i % sentence.size()]));
    kinds[3].second.push_back(static_cast<std::uint8_t>("abc"[i % 3]));
    kinds[4].second.push_back(0x20);
    kinds[5].second.push_back(static_cast<std::uint8_t>('a' + noise[i] % 4));
    kinds[6].second.push_back(i % 7 == 0 ? noise[i] : 'x');
  }
  TBlockCodec codec;
  int zlibPacks = 0, zlibKeeps = 0;
  for (int level : {1, 9}) {
    for (const auto& [name, bytes] : kinds) {
      for (std::size_t n = 1; n <= 4096; n += n < 300 ? 1 : 13) {
        std::vector<std::uint8_t> ref(compressBound(n));
        uLongf refLen = ref.size();
        ASSERT_EQ(Z_OK, compress2(ref.data(), &refLen, bytes.data(), n, level));
        std::size_t len = 0;
        TBlockHeader h;
        codec.Encode(bytes.data(), n, level, nullptr, len, &h);
        if (refLen < n) {
          ++zlibPacks;
          EXPECT_EQ(h.compressed, 1) << name << ", " << n << " bytes, level " << level;
          EXPECT_LT(h.storedLength, static_cast<std::int32_t>(n)) << name << ", " << n;
        } else {
          ++zlibKeeps;
        }
      }
    }
  }
  EXPECT_GT(zlibPacks, 100) << "the table reaches both answers";
  EXPECT_GT(zlibKeeps, 100);
}

TEST(BlockCodec, EncryptedBlocksArePaddedTo8) {
  TBlockCodec codec;
  TBlowFish cipher;
  cipher.SetKey("block-password");
  const auto bytes = test::NoiseData(4465);
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
      const auto raw = text ? test::TextData(n) : test::NoiseData(n);
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
  const auto text = test::TextData(20000);
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
