// Blowfish against the published vectors, the key-length rules, the three
// modes of TCrypto and its three input types.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "archive/crypto.h"
#include "temp_dir.h"

namespace vx {
namespace {

std::vector<std::uint8_t> Hex(const std::string& hex) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string Str(const std::vector<std::uint8_t>& v) { return std::string(v.begin(), v.end()); }

struct Vector {
  const char* key;
  const char* plain;
  const char* cipher;
};

TEST(BlowFish, PublishedVectorsBothWays) {
  const Vector vectors[] = {
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
    bf.SetKey(Str(Hex(v.key)));
    bf.BuildSchedule();
    auto block = Hex(v.plain);
    bf.EncryptBlock(block.data());
    EXPECT_EQ(Hex(v.cipher), block) << "key " << v.key;
    bf.DecryptBlock(block.data());
    EXPECT_EQ(Hex(v.plain), block) << "key " << v.key;
  }
}

TEST(BlowFish, PublishedVectorThroughByteArrayEcb) {
  TBlowFish bf;
  bf.SetKey(Str(Hex("FEDCBA9876543210")));
  auto in = Hex("0123456789ABCDEF0123456789ABCDEF");
  std::vector<std::uint8_t> out(16);
  bf.InputArray = in.data();
  bf.OutputArray = out.data();
  bf.InputLength = 16;
  bf.Encrypt();
  EXPECT_EQ(Hex("0ACEAB0FC6A0A28D0ACEAB0FC6A0A28D"), out);
}

// Encrypts one zero block in ECB with the given key.
std::vector<std::uint8_t> ZeroBlockUnder(const std::string& key) {
  TBlowFish bf;
  bf.SetKey(key);
  std::vector<std::uint8_t> in(8, 0), out(8);
  bf.InputArray = in.data();
  bf.OutputArray = out.data();
  bf.InputLength = 8;
  bf.Encrypt();
  return out;
}

TEST(BlowFish, KeysOutside8To65BytesRunUnkeyed) {
  const auto unkeyed = ZeroBlockUnder("");
  EXPECT_EQ(unkeyed, ZeroBlockUnder(std::string(7, 'k')));
  EXPECT_NE(unkeyed, ZeroBlockUnder(std::string(8, 'k')));
  const std::string key65(65, 'k');
  EXPECT_NE(unkeyed, ZeroBlockUnder(key65));
  EXPECT_EQ(unkeyed, ZeroBlockUnder(std::string(66, 'k')));
  // Every byte of a 65-byte key counts.
  std::string other = key65;
  other[64] = 'j';
  EXPECT_NE(ZeroBlockUnder(key65), ZeroBlockUnder(other));
}

TEST(BlowFish, KeptScheduleFollowsKeyChanges) {
  const auto a = ZeroBlockUnder("password-one");
  const auto b = ZeroBlockUnder("password-two");
  ASSERT_NE(a, b);
  // One object switching keys must give what fresh objects give.
  TBlowFish bf;
  std::vector<std::uint8_t> in(8, 0), out(8);
  bf.InputArray = in.data();
  bf.OutputArray = out.data();
  for (const char* key : {"password-one", "password-two", "password-one", "password-one"}) {
    bf.SetKey(key);
    bf.InputLength = 8;
    bf.Encrypt();
    EXPECT_EQ(std::string(key) == "password-one" ? a : b, out) << key;
  }
}

TEST(Crypto, EcbPadsToBlocks) {
  TBlowFish bf;
  bf.SetKey("abcdefgh");
  std::vector<std::uint8_t> in = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  std::vector<std::uint8_t> out(16, 0xEE), back(16);
  bf.InputArray = in.data();
  bf.OutputArray = out.data();
  bf.InputLength = 9;
  bf.Encrypt();
  EXPECT_EQ(16, bf.InputLength);
  // The second block is the ninth byte followed by zeros.
  std::uint8_t second[8] = {9, 0, 0, 0, 0, 0, 0, 0};
  bf.EncryptBlock(second);
  EXPECT_EQ(0, std::memcmp(second, out.data() + 8, 8));
  bf.InputArray = out.data();
  bf.OutputArray = back.data();
  bf.Decrypt();
  EXPECT_EQ(0, std::memcmp(in.data(), back.data(), 9));
  EXPECT_EQ(0, back[9] | back[15]);

  // Zero length gives no output at all.
  std::vector<std::uint8_t> untouched(8, 0x5A);
  bf.OutputArray = untouched.data();
  bf.InputLength = 0;
  bf.Encrypt();
  EXPECT_EQ(std::vector<std::uint8_t>(8, 0x5A), untouched);
}

TEST(Crypto, PaddingThatWouldOverflowInputLengthIsRefused) {
  TBlowFish bf;
  bf.SetKey("abcdefgh");
  std::vector<std::uint8_t> in(65535, 1), out(65536);
  bf.InputArray = in.data();
  bf.OutputArray = out.data();
  bf.InputLength = 65535;
  EXPECT_THROW(bf.Encrypt(), std::length_error);
  bf.InputLength = 65528;  // already whole blocks
  EXPECT_NO_THROW(bf.Encrypt());
  EXPECT_EQ(65528, bf.InputLength);
}

TEST(Crypto, CbcChainsAndRoundTrips) {
  TBlowFish bf;
  bf.SetKey("chaining-key");
  bf.CipherMode = CBCMode;
  bf.IVector = "12345678";
  const auto plain = testing::TextBytes(21);
  std::vector<std::uint8_t> out(24), back(24);
  bf.InputArray = plain.data();
  bf.OutputArray = out.data();
  bf.InputLength = 21;
  bf.Encrypt();
  EXPECT_EQ(24, bf.InputLength);

  // First block: E(P1 xor IV); second: E(P2 xor C1).
  std::uint8_t b[8];
  for (int i = 0; i < 8; ++i) b[i] = plain[i] ^ static_cast<std::uint8_t>("12345678"[i]);
  bf.EncryptBlock(b);
  EXPECT_EQ(0, std::memcmp(b, out.data(), 8));
  for (int i = 0; i < 8; ++i) b[i] = plain[8 + i] ^ out[i];
  bf.EncryptBlock(b);
  EXPECT_EQ(0, std::memcmp(b, out.data() + 8, 8));

  bf.InputArray = out.data();
  bf.OutputArray = back.data();
  bf.Decrypt();
  EXPECT_EQ(0, std::memcmp(plain.data(), back.data(), 21));
}

TEST(Crypto, CfbKeepsLengthAndRoundTrips) {
  TBlowFish bf;
  bf.SetKey("feedback-key");
  bf.CipherMode = CFBMode;
  bf.IVector = "abcdefgh";
  const auto plain = testing::TextBytes(13);
  std::vector<std::uint8_t> out(13), back(13);
  bf.InputArray = plain.data();
  bf.OutputArray = out.data();
  bf.InputLength = 13;
  bf.Encrypt();
  EXPECT_EQ(13, bf.InputLength);
  EXPECT_NE(plain, out);

  // The first segment is the plaintext xor E(IV).
  std::uint8_t ks[8];
  std::memcpy(ks, "abcdefgh", 8);
  bf.EncryptBlock(ks);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(plain[i] ^ ks[i], out[i]);

  bf.InputArray = out.data();
  bf.OutputArray = back.data();
  bf.Decrypt();
  EXPECT_EQ(plain, back);
}

TEST(Crypto, ContinuedCallsCarryTheRegister) {
  for (TCipherMode mode : {CBCMode, CFBMode}) {
    const auto plain = testing::TextBytes(32);
    TBlowFish whole, split;
    for (TBlowFish* bf : {&whole, &split}) {
      bf->SetKey("continue-key");
      bf->CipherMode = mode;
      bf->IVector = "IVIVIVIV";
    }
    std::vector<std::uint8_t> a(32), b(32);
    whole.InputArray = plain.data();
    whole.OutputArray = a.data();
    whole.InputLength = 32;
    whole.Encrypt();
    split.InputArray = plain.data();
    split.OutputArray = b.data();
    split.InputLength = 16;
    split.Encrypt(false);
    split.InputArray = plain.data() + 16;
    split.OutputArray = b.data() + 16;
    split.InputLength = 16;
    split.Encrypt(true);
    EXPECT_EQ(a, b) << "mode " << static_cast<int>(mode);
  }
}

TEST(Crypto, InitializationVectorRules) {
  TBlowFish bf;
  bf.SetKey("vector-key");
  bf.CipherMode = CBCMode;
  std::vector<std::uint8_t> in(8, 7), out(8);
  bf.InputArray = in.data();
  bf.OutputArray = out.data();
  bf.InputLength = 8;
  bf.Encrypt();
  ASSERT_EQ(8u, bf.IVector.size());
  for (char c : bf.IVector) {
    EXPECT_GE(c, '!');
    EXPECT_LE(c, '}');
  }

  // A short vector is filled up with zero bytes.
  std::vector<std::uint8_t> shortOut(8), fullOut(8);
  bf.IVector = "ab";
  bf.OutputArray = shortOut.data();
  bf.Encrypt();
  bf.IVector = std::string("ab\0\0\0\0\0\0", 8);
  bf.OutputArray = fullOut.data();
  bf.Encrypt();
  EXPECT_EQ(fullOut, shortOut);
}

TEST(Crypto, StringInput) {
  TBlowFish bf;
  bf.SetKey("string-key");
  bf.InputType = SourceString;
  bf.InputString = "Zaloha";
  std::vector<std::uint8_t> out(8);
  bf.OutputArray = out.data();
  bf.Encrypt();
  EXPECT_EQ(8, bf.InputLength);
  std::uint8_t expect[8] = {'Z', 'a', 'l', 'o', 'h', 'a', 0, 0};
  bf.EncryptBlock(expect);
  EXPECT_EQ(0, std::memcmp(expect, out.data(), 8));
  EXPECT_THROW(bf.Decrypt(), std::invalid_argument);
}

TEST(Crypto, FileInputInChunks) {
  testing::TempDir dir;
  const auto plain = testing::NoiseBytes(5001);
  testing::WriteWholeFile(dir / "plain", plain);
  TBlowFish bf;
  bf.SetKey("file-key-123");
  bf.InputType = SourceFile;

  // ECB: 4096 + 905 bytes, the last chunk padded to 912.
  bf.InputFilePath = dir / "plain";
  bf.OutputFilePath = dir / "ecb";
  bf.Encrypt();
  EXPECT_EQ(5008u, testing::ReadWholeFile(dir / "ecb").size());
  bf.InputFilePath = dir / "ecb";
  bf.OutputFilePath = dir / "ecb.back";
  bf.Decrypt();
  auto back = testing::ReadWholeFile(dir / "ecb.back");
  ASSERT_EQ(5008u, back.size());
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), back.begin()));

  // CFB keeps the length; the register runs on across chunks.
  bf.CipherMode = CFBMode;
  bf.IVector = "filevect";
  bf.InputFilePath = dir / "plain";
  bf.OutputFilePath = dir / "cfb";
  bf.Encrypt();
  EXPECT_EQ(5001u, testing::ReadWholeFile(dir / "cfb").size());
  bf.InputFilePath = dir / "cfb";
  bf.OutputFilePath = dir / "cfb.back";
  bf.Decrypt();
  EXPECT_EQ(plain, testing::ReadWholeFile(dir / "cfb.back"));

  // An empty file writes nothing; a missing one is an error.
  testing::WriteWholeFile(dir / "empty", {});
  bf.InputFilePath = dir / "empty";
  bf.OutputFilePath = dir / "empty.out";
  bf.Encrypt();
  EXPECT_TRUE(testing::ReadWholeFile(dir / "empty.out").empty());
  bf.InputFilePath = dir / "missing";
  EXPECT_THROW(bf.Encrypt(), std::system_error);
}

}  // namespace
}  // namespace vx
