// Blowfish against the published vectors, the key-length rule and the
// modes and inputs of TCrypto.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "archive/crypto.h"
#include "common/files.h"
#include "common/temp_folder.h"

namespace vx {
namespace {

std::vector<std::uint8_t> Hex(const std::string& hex) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

TEST(BlowFish, PublishedVectorsBothWays) {
  const char* vectors[][3] = {
      {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
      {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
      {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
      {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
      {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
      {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
      {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
      {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
  };
  for (const auto& v : vectors) {
    TBlowFish bf;
    const auto key = Hex(v[0]);
    bf.SetKey(std::string(key.begin(), key.end()));
    bf.BuildSchedule();
    auto block = Hex(v[1]);
    bf.EncryptBlock(block.data());
    EXPECT_EQ(Hex(v[2]), block) << "key " << v[0];
    bf.DecryptBlock(block.data());
    EXPECT_EQ(Hex(v[1]), block) << "key " << v[0];
    // The same through the byte-array input, five copies (the bulk path runs
    // blocks several at a time, then one by one).
    std::vector<std::uint8_t> many, expected, out(40);
    for (int i = 0; i < 5; ++i) {
      const auto p = Hex(v[1]), c = Hex(v[2]);
      many.insert(many.end(), p.begin(), p.end());
      expected.insert(expected.end(), c.begin(), c.end());
    }
    bf.InputArray = many.data();
    bf.OutputArray = out.data();
    bf.InputLength = 40;
    bf.Encrypt();
    EXPECT_EQ(expected, out) << "key " << v[0];
    bf.InputArray = out.data();
    bf.OutputArray = out.data();
    bf.Decrypt();
    EXPECT_EQ(many, out) << "key " << v[0];
  }
}

// ECB through the byte-array input (in place, apart, and with an output
// overlapping the input) against the block transformation applied to each
// 8-byte block of the zero-padded input, for keys of every kind and lengths
// that end anywhere in a block and in a group of blocks.
TEST(Crypto, EcbBufferMatchesBlockByBlock) {
  const auto keyBytes = test::NoiseData(65, 77);
  const std::string keys[] = {"",
                              "short",
                              "abcdefgh",
                              "benchmark-password",
                              std::string(keyBytes.begin(), keyBytes.begin() + 33),
                              std::string(keyBytes.begin(), keyBytes.end())};
  const std::size_t lengths[] = {1,  7,  8,  9,  15, 16, 17,  23,   24,    25,   31,
                                 32, 33, 40, 41, 63, 64, 255, 4099, 32768, 65528};
  std::uint32_t seed = 1;
  for (const auto& key : keys) {
    TBlowFish bf, reference;
    bf.SetKey(key);
    reference.SetKey(key);
    reference.BuildSchedule();
    for (std::size_t n : lengths) {
      const auto plain = test::NoiseData(n, ++seed);
      const std::size_t padded = (n + 7) / 8 * 8;
      std::vector<std::uint8_t> expected(plain);
      expected.resize(padded, 0);
      for (std::size_t i = 0; i < padded; i += 8) reference.EncryptBlock(expected.data() + i);

      std::vector<std::uint8_t> apart(padded + 8, 0xA5);
      bf.InputArray = plain.data();
      bf.OutputArray = apart.data();
      bf.InputLength = static_cast<std::uint16_t>(n);
      bf.Encrypt();
      ASSERT_EQ(padded, bf.InputLength) << "key " << key.size() << " length " << n;
      EXPECT_EQ(0, std::memcmp(expected.data(), apart.data(), padded))
          << "key " << key.size() << " length " << n;
      EXPECT_EQ(0xA5, apart[padded]) << "nothing written past the padded length";

      std::vector<std::uint8_t> inPlace(plain);
      inPlace.resize(padded, 0);
      bf.InputArray = bf.OutputArray = inPlace.data();
      bf.InputLength = static_cast<std::uint16_t>(n);
      bf.Encrypt();
      EXPECT_EQ(expected, inPlace) << "in place, key " << key.size() << " length " << n;

      // Output starting one block into the input.
      std::vector<std::uint8_t> shifted(padded + 8, 0);
      std::memcpy(shifted.data(), plain.data(), n);
      bf.InputArray = shifted.data();
      bf.OutputArray = shifted.data() + 8;
      bf.InputLength = static_cast<std::uint16_t>(n);
      bf.Encrypt();
      EXPECT_EQ(0, std::memcmp(expected.data(), shifted.data() + 8, padded))
          << "overlapping, key " << key.size() << " length " << n;

      std::vector<std::uint8_t> back(padded);
      bf.InputArray = expected.data();
      bf.OutputArray = back.data();
      bf.InputLength = static_cast<std::uint16_t>(padded);
      bf.Decrypt();
      EXPECT_EQ(0, std::memcmp(plain.data(), back.data(), n))
          << "decrypt, key " << key.size() << " length " << n;
      for (std::size_t i = n; i < padded; ++i) EXPECT_EQ(0, back[i]) << "padding " << i;
    }
  }
}

// One zero block in ECB under a key, through the byte-array input.
std::vector<std::uint8_t> ZeroBlockUnder(TBlowFish& bf, const std::string& key) {
  bf.SetKey(key);
  std::vector<std::uint8_t> in(8, 0), out(8);
  bf.InputArray = in.data();
  bf.OutputArray = out.data();
  bf.InputLength = 8;
  bf.Encrypt();
  return out;
}

TEST(BlowFish, KeyLengthRuleAndKeptSchedule) {
  TBlowFish fresh, reused;
  const auto unkeyed = ZeroBlockUnder(fresh, "");
  EXPECT_EQ(unkeyed, ZeroBlockUnder(fresh, std::string(7, 'k')));
  EXPECT_NE(unkeyed, ZeroBlockUnder(fresh, std::string(8, 'k')));
  const auto k65 = ZeroBlockUnder(fresh, std::string(65, 'k'));
  EXPECT_NE(unkeyed, k65);
  EXPECT_NE(k65, ZeroBlockUnder(fresh, std::string(64, 'k') + "j")) << "the 65th byte counts";
  EXPECT_EQ(unkeyed, ZeroBlockUnder(fresh, std::string(66, 'k')));
  // One object switching keys gives what a new object gives for each key.
  for (const char* key : {"password-one", "password-two", "password-one"}) {
    TBlowFish once;
    EXPECT_EQ(ZeroBlockUnder(once, key), ZeroBlockUnder(reused, key)) << key;
  }
}

TEST(Crypto, EcbPadsToWholeBlocks) {
  TBlowFish bf;
  bf.SetKey("abcdefgh");
  std::vector<std::uint8_t> in = {1, 2, 3, 4, 5, 6, 7, 8, 9}, out(16), back(16);
  bf.InputArray = in.data();
  bf.OutputArray = out.data();
  bf.InputLength = 9;
  bf.Encrypt();
  EXPECT_EQ(16, bf.InputLength);
  std::uint8_t second[8] = {9, 0, 0, 0, 0, 0, 0, 0};  // the ninth byte, then zeros
  bf.EncryptBlock(second);
  EXPECT_EQ(0, std::memcmp(second, out.data() + 8, 8));
  bf.InputArray = out.data();
  bf.OutputArray = back.data();
  bf.Decrypt();
  EXPECT_EQ(0, std::memcmp(in.data(), back.data(), 9));

  // 65,535 bytes would round to 65,536, which InputLength cannot hold.
  std::vector<std::uint8_t> big(65536, 1);
  bf.InputArray = bf.OutputArray = big.data();
  bf.InputLength = 65535;
  EXPECT_THROW(bf.Encrypt(), std::length_error);
}

TEST(Crypto, CbcAndCfbChainFromTheVector) {
  const auto plain = test::TextData(13);
  for (TCipherMode mode : {CBCMode, CFBMode}) {
    TBlowFish bf;
    bf.SetKey("chaining-key");
    bf.CipherMode = mode;
    bf.IVector = "12345678";
    std::vector<std::uint8_t> out(16), back(16);
    bf.InputArray = plain.data();
    bf.OutputArray = out.data();
    bf.InputLength = 13;
    bf.Encrypt();
    EXPECT_EQ(mode == CBCMode ? 16 : 13, bf.InputLength);
    // CBC: C1 = E(P1 xor IV).  CFB: C1 = P1 xor E(IV).
    std::uint8_t b[8];
    for (int i = 0; i < 8; ++i)
      b[i] = static_cast<std::uint8_t>("12345678"[i] ^ (mode == CBCMode ? plain[i] : 0));
    bf.EncryptBlock(b);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(mode == CBCMode ? b[i] : (b[i] ^ plain[i]), out[i]);
    bf.InputArray = out.data();
    bf.OutputArray = back.data();
    bf.Decrypt();
    EXPECT_EQ(0, std::memcmp(plain.data(), back.data(), 13)) << "mode " << int(mode);
  }
  // Without a vector one of 8 printable characters is made.
  TBlowFish bf;
  bf.SetKey("chaining-key");
  bf.CipherMode = CFBMode;
  std::uint8_t byte = 1;
  bf.InputArray = bf.OutputArray = &byte;
  bf.InputLength = 1;
  bf.Encrypt();
  ASSERT_EQ(8u, bf.IVector.size());
  for (char c : bf.IVector) EXPECT_TRUE(c >= '!' && c <= '}');
}

TEST(Crypto, FileInputInChunks) {
  test::TTempFolder dir;
  const auto plain = test::NoiseData(5001);
  test::WriteBytes(dir / "plain", plain);
  TBlowFish bf;
  bf.SetKey("file-key-123");
  bf.InputType = SourceFile;
  // ECB: a chunk of 4096, then 905 bytes padded to 912.
  bf.InputFilePath = dir / "plain";
  bf.OutputFilePath = dir / "ecb";
  bf.Encrypt();
  EXPECT_EQ(5008u, test::ReadBytes(dir / "ecb").size());
  bf.InputFilePath = dir / "ecb";
  bf.OutputFilePath = dir / "back";
  bf.Decrypt();
  auto back = test::ReadBytes(dir / "back");
  back.resize(plain.size());
  EXPECT_EQ(plain, back);
  // CFB keeps the length, the register running on across chunks.
  bf.CipherMode = CFBMode;
  bf.IVector = "filevect";
  bf.InputFilePath = dir / "plain";
  bf.OutputFilePath = dir / "cfb";
  bf.Encrypt();
  bf.InputFilePath = dir / "cfb";
  bf.OutputFilePath = dir / "back";
  bf.Decrypt();
  EXPECT_EQ(plain, test::ReadBytes(dir / "back"));
  bf.InputFilePath = dir / "missing";
  EXPECT_THROW(bf.Encrypt(), std::system_error);
}

}  // namespace
}  // namespace vx
