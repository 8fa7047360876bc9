// Byte layout of the archive header, the directory records and the block
// headers, checked against the documented offsets.
#include "archive/format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace vx {
namespace {

std::uint32_t U32At(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

TEST(ArchiveHeader, LayoutAndFlags) {
  TArchiveHeader h;
  h.compressed = true;
  h.encrypted = false;
  h.spanned = true;
  h.comment = "Týždenná";  // 11 UTF-8 bytes
  std::uint8_t out[kHeaderSize];
  std::memset(out, 0xAA, sizeof out);
  EncodeHeader(h, out);
  const std::uint8_t magic[4] = {0xDD, 0xCC, 0xBB, 0x7A};
  EXPECT_EQ(0, std::memcmp(out, magic, 4));
  EXPECT_EQ(1, out[4]);
  EXPECT_EQ(0, out[5]);
  EXPECT_EQ(1, out[6]);
  ASSERT_EQ(11, out[7]);
  EXPECT_EQ(0, std::memcmp(out + 8, "T\xC3\xBD\xC5\xBE" "denn\xC3\xA1", 11));
  for (std::size_t i = 19; i < kHeaderSize; ++i) ASSERT_EQ(0, out[i]) << "offset " << i;

  TArchiveHeader back;
  ASSERT_TRUE(DecodeHeader(out, back));
  EXPECT_TRUE(back.compressed);
  EXPECT_FALSE(back.encrypted);
  EXPECT_TRUE(back.spanned);
  EXPECT_EQ(h.comment, back.comment);
}

TEST(ArchiveHeader, ForeignMagicLeavesHeaderUntouched) {
  std::uint8_t in[kHeaderSize] = {};
  in[0] = 0xDD;
  in[1] = 0xCC;
  in[2] = 0xBB;
  in[3] = 0x7B;
  TArchiveHeader h;
  h.comment = "keep";
  EXPECT_FALSE(DecodeHeader(in, h));
  EXPECT_EQ("keep", h.comment);
}

TEST(ArchiveHeader, CommentLimits) {
  // 300 characters keep 255; a comment of exactly 255 fills bytes 7..262.
  TArchiveHeader h;
  h.comment = std::string(300, 'c');
  std::uint8_t out[kHeaderSize];
  EncodeHeader(h, out);
  EXPECT_EQ(255, out[7]);
  EXPECT_EQ('c', out[262]);
  TArchiveHeader back;
  ASSERT_TRUE(DecodeHeader(out, back));
  EXPECT_EQ(std::string(255, 'c'), back.comment);

  // The file count follows the full header at offset 263.
  std::vector<std::uint8_t> archive(kHeaderSize + kCountSize);
  h.comment = std::string(255, 'x');
  EncodeHeader(h, archive.data());
  EncodeCount(3, archive.data() + 263);
  EXPECT_EQ('x', archive[262]);
  EXPECT_EQ(3u, U32At(archive.data() + 263));
}

TEST(StoredString, CutNeverSplitsACharacter) {
  // 254 ASCII bytes and a two-byte character: keeping 255 bytes would split it.
  std::string text = std::string(254, 'a') + "\xC5\xBE" + "b";
  EXPECT_EQ(std::string(254, 'a'), CutStoredString(text));
  // A three-byte character starting at 253 is dropped whole as well.
  text = std::string(253, 'a') + "\xE2\x82\xAC" + "z";
  EXPECT_EQ(std::string(253, 'a'), CutStoredString(text));
  // One ending exactly at byte 255 is kept.
  text = std::string(253, 'a') + "\xC5\xBE" + "tail";
  EXPECT_EQ(std::string(253, 'a') + "\xC5\xBE", CutStoredString(text));
  EXPECT_EQ("short", CutStoredString("short"));
}

TEST(DirectoryRecord, LayoutAndRoundTrip) {
  TDirRecord r;
  r.path = "/home/eva/docs/a.txt";
  r.size = -2;  // the low 32 bits of a size, read as signed
  r.crc = 0x340BC6D9;
  r.attr = 0x21;
  r.time = 45000.5;  // 2023-03-15 12:00
  r.mark = 1;
  std::uint8_t out[kRecordSize];
  std::memset(out, 0x55, sizeof out);
  EncodeRecord(r, out);
  EXPECT_EQ(r.path.size(), out[0]);
  EXPECT_EQ(0, std::memcmp(out + 1, r.path.data(), r.path.size()));
  for (std::size_t i = 1 + r.path.size(); i < 256; ++i) ASSERT_EQ(0, out[i]);
  EXPECT_EQ(0xFFFFFFFEu, U32At(out + 256));
  const std::uint8_t crc[4] = {0xD9, 0xC6, 0x0B, 0x34};
  EXPECT_EQ(0, std::memcmp(out + 260, crc, 4));
  EXPECT_EQ(0x21u, U32At(out + 264));
  // 45000.5 as an IEEE double is 0x40E5F91000000000, stored little-endian.
  const std::uint8_t time[8] = {0, 0, 0, 0, 0x10, 0xF9, 0xE5, 0x40};
  EXPECT_EQ(0, std::memcmp(out + 268, time, 8));
  EXPECT_EQ(0, out[276]) << "the mark byte is written as 0";

  out[276] = 1;
  TDirRecord back = DecodeRecord(out);
  EXPECT_EQ(r.path, back.path);
  EXPECT_EQ(-2, back.size);
  EXPECT_EQ(r.crc, back.crc);
  EXPECT_EQ(r.attr, back.attr);
  EXPECT_EQ(r.time, back.time);
  EXPECT_EQ(1, back.mark);
}

TEST(DirectoryRecord, LongPathKeeps255Bytes) {
  TDirRecord r;
  r.path = "/" + std::string(400, 'p');
  std::uint8_t out[kRecordSize];
  EncodeRecord(r, out);
  EXPECT_EQ(255, out[0]);
  EXPECT_EQ(r.path.substr(0, 255), DecodeRecord(out).path);
}

TEST(BlockHeader, LayoutValidityAndEnd) {
  TBlockHeader b;
  b.rawLength = 32768;
  b.storedLength = 4464;
  b.compressed = 1;
  std::uint8_t out[kBlockHeaderSize];
  EncodeBlockHeader(b, out);
  const std::uint8_t expect[10] = {0x00, 0x80, 0, 0, 0x70, 0x11, 0, 0, 1, 0};
  EXPECT_EQ(0, std::memcmp(out, expect, 10));
  TBlockHeader back = DecodeBlockHeader(out);
  EXPECT_EQ(32768, back.rawLength);
  EXPECT_EQ(4464, back.storedLength);
  EXPECT_EQ(1, back.compressed);
  EXPECT_FALSE(back.IsEnd());
  EXPECT_TRUE(BlockHeaderValid(back));

  const std::uint8_t end[10] = {};
  EXPECT_TRUE(DecodeBlockHeader(end).IsEnd());
  EXPECT_TRUE(BlockHeaderValid(DecodeBlockHeader(end)));

  // Lengths beyond 0..32768 are a corrupt header.
  const std::uint8_t tooLong[10] = {0x01, 0x80, 0, 0, 1, 0, 0, 0, 0, 0};
  EXPECT_FALSE(BlockHeaderValid(DecodeBlockHeader(tooLong)));
  const std::uint8_t negative[10] = {1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0};
  EXPECT_FALSE(BlockHeaderValid(DecodeBlockHeader(negative)));
}

TEST(BlockHeader, StoredBytesOnMediumRounding) {
  EXPECT_EQ(5u, StoredBytesOnMedium(5, false));
  EXPECT_EQ(8u, StoredBytesOnMedium(5, true));
  EXPECT_EQ(16u, StoredBytesOnMedium(16, true));
  EXPECT_EQ(4464u, StoredBytesOnMedium(4464, true));
  EXPECT_EQ(4472u, StoredBytesOnMedium(4465, true));
  EXPECT_EQ(0u, StoredBytesOnMedium(0, true));
}

TEST(FileCount, PlausibilityBounds) {
  std::uint8_t out[kCountSize];
  EncodeCount(-1, out);
  EXPECT_EQ(0xFFFFFFFFu, U32At(out));
  EXPECT_EQ(-1, DecodeCount(out));
  EXPECT_FALSE(PlausibleFileCount(-1));
  EXPECT_FALSE(PlausibleFileCount(INT32_MIN));
  EXPECT_TRUE(PlausibleFileCount(0));
  EXPECT_TRUE(PlausibleFileCount(100000));
  // The directory of the largest count still fits into 2^31 bytes, the next
  // count's directory and end blocks do not.
  EXPECT_TRUE(PlausibleFileCount(kMaxFileCount));
  EXPECT_LE(static_cast<std::int64_t>(kMaxFileCount) * 287, INT32_MAX);
  EXPECT_FALSE(PlausibleFileCount(kMaxFileCount + 1));
  EXPECT_FALSE(PlausibleFileCount(INT32_MAX));
}

}  // namespace
}  // namespace vx
