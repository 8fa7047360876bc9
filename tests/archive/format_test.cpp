// Byte layout of the archive header, directory records and block headers,
// checked against the documented offsets.
#include "archive/format.h"

#include <gtest/gtest.h>

#include <cstring>

namespace vx {
namespace {

std::uint32_t U32At(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

TEST(ArchiveFormat, HeaderLayoutAndCommentLimit) {
  TArchiveHeader h;
  h.compressed = true;
  h.spanned = true;
  h.comment = "Týždenná";  // 11 UTF-8 bytes
  std::uint8_t out[kHeaderSize + kCountSize];
  std::memset(out, 0xAA, sizeof out);
  EncodeHeader(h, out);
  EXPECT_EQ(0x7ABBCCDDu, U32At(out));
  EXPECT_EQ(0xDD, out[0]);
  EXPECT_EQ(1, out[4]);
  EXPECT_EQ(0, out[5]);
  EXPECT_EQ(1, out[6]);
  ASSERT_EQ(11, out[7]);
  EXPECT_EQ(0, std::memcmp(out + 8, h.comment.data(), 11));
  for (std::size_t i = 19; i < kHeaderSize; ++i) ASSERT_EQ(0, out[i]) << "offset " << i;
  TArchiveHeader back;
  ASSERT_TRUE(DecodeHeader(out, back));
  EXPECT_TRUE(back.compressed && back.spanned && !back.encrypted);
  EXPECT_EQ(h.comment, back.comment);

  // 300 characters keep 255, which fill bytes 7..262; the count follows at 263.
  h.comment = std::string(300, 'c');
  EncodeHeader(h, out);
  EncodeCount(3, out + kHeaderSize);
  EXPECT_EQ(255, out[7]);
  EXPECT_EQ('c', out[262]);
  EXPECT_EQ(3u, U32At(out + 263));
  ASSERT_TRUE(DecodeHeader(out, back));
  EXPECT_EQ(std::string(255, 'c'), back.comment);
}

TEST(ArchiveFormat, StoredStringsNeverSplitACharacter) {
  EXPECT_EQ(std::string(254, 'a'), CutStoredString(std::string(254, 'a') + "\xC5\xBE" + "b"));
  EXPECT_EQ(std::string(253, 'a'), CutStoredString(std::string(253, 'a') + "\xE2\x82\xAC" + "z"));
  const std::string fits = std::string(253, 'a') + "\xC5\xBE";
  EXPECT_EQ(fits, CutStoredString(fits + "tail"));
  TDirRecord r;
  r.path = "/" + std::string(400, 'p');
  std::uint8_t out[kRecordSize];
  EncodeRecord(r, out);
  EXPECT_EQ(255, out[0]);
  EXPECT_EQ(r.path.substr(0, 255), DecodeRecord(out).path);
}

TEST(ArchiveFormat, DirectoryRecordLayout) {
  TDirRecord r;
  r.path = "/home/eva/docs/a.txt";
  r.size = -2;  // the low 32 bits of a size, read as signed
  r.crc = 0x340BC6D9;
  r.attr = 0x21;
  r.time = 45000.5;
  r.mark = 1;
  std::uint8_t out[kRecordSize];
  std::memset(out, 0x55, sizeof out);
  EncodeRecord(r, out);
  EXPECT_EQ(r.path.size(), out[0]);
  EXPECT_EQ(0, std::memcmp(out + 1, r.path.data(), r.path.size()));
  EXPECT_EQ(0xFFFFFFFEu, U32At(out + 256));
  EXPECT_EQ(0x340BC6D9u, U32At(out + 260));
  EXPECT_EQ(0x21u, U32At(out + 264));
  // 45000.5 is the IEEE double 0x40E5F91000000000, stored little-endian.
  const std::uint8_t time[8] = {0, 0, 0, 0, 0x10, 0xF9, 0xE5, 0x40};
  EXPECT_EQ(0, std::memcmp(out + 268, time, 8));
  EXPECT_EQ(0, out[276]) << "the mark byte is written as 0";
  out[276] = 1;
  const TDirRecord back = DecodeRecord(out);
  EXPECT_EQ(r.path, back.path);
  EXPECT_EQ(-2, back.size);
  EXPECT_EQ(r.time, back.time);
  EXPECT_EQ(1, back.mark);
}

TEST(ArchiveFormat, BlockHeaderLayoutAndRange) {
  std::uint8_t out[kBlockHeaderSize];
  EncodeBlockHeader(TBlockHeader{32768, 4464, 1, 0}, out);
  const std::uint8_t expect[10] = {0x00, 0x80, 0, 0, 0x70, 0x11, 0, 0, 1, 0};
  EXPECT_EQ(0, std::memcmp(out, expect, 10));
  EXPECT_TRUE(BlockHeaderValid(DecodeBlockHeader(out)));
  const std::uint8_t end[10] = {};
  EXPECT_TRUE(DecodeBlockHeader(end).IsEnd());
  EXPECT_FALSE(BlockHeaderValid(TBlockHeader{32769, 1, 0, 0}));
  EXPECT_FALSE(BlockHeaderValid(TBlockHeader{1, -1, 0, 0}));
}

TEST(ArchiveFormat, FileCountPlausibility) {
  EXPECT_FALSE(PlausibleFileCount(-1));
  EXPECT_TRUE(PlausibleFileCount(0));
  // The directory and end blocks of the largest count fit into 2^31 bytes.
  EXPECT_TRUE(PlausibleFileCount(kMaxFileCount));
  EXPECT_LE(static_cast<std::int64_t>(kMaxFileCount) * (277 + 10), INT32_MAX);
  EXPECT_FALSE(PlausibleFileCount(kMaxFileCount + 1));
}

}  // namespace
}  // namespace vx
