#include "support/utils.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <clocale>
#include <cstdint>
#include <ios>
#include <random>

#include "common/files.h"
#include "common/temp_folder.h"

namespace vx {
namespace {

using test::ReadFile;
using test::TTempFolder;
using test::WriteFile;

TEST(StringHelpers, PaddingCuttingAndSlash) {
  EXPECT_EQ(IntToStrPadded(7, 3, "0"), "007");
  EXPECT_EQ(IntToStrPadded(12, 3, "0"), "012");
  EXPECT_EQ(IntToStrPadded(1234, 3, "0"), "1234");
  EXPECT_EQ(IntToStrPadded(5, 4, "ab"), "abab5");  // the pad goes in whole until long enough
  EXPECT_EQ(IntToStrPadded(5, 3, ""), "5");        // an empty pad cannot lengthen anything

  EXPECT_EQ(LeftPart("abcdef", 2), "ab");
  EXPECT_EQ(RightPart("abcdef", 2), "ef");
  EXPECT_EQ(LeftPart("abcdef", 6), "abcdef");
  EXPECT_EQ(RightPart("abcdef", 60), "abcdef");
  EXPECT_EQ(LeftPart("abc", -1), "");

  EXPECT_EQ(IncludeBackslash(""), "");
  EXPECT_EQ(IncludeBackslash("/home/eva/"), "/home/eva/");
  EXPECT_EQ(IncludeBackslash("/home/eva"), "/home/eva/");
  EXPECT_EQ(IncludeBackslash("/"), "/");
}

TEST(FormatSize, ThirtyTwoBitBoundariesAndSuffixes) {
  EXPECT_EQ(FormatSize(0), "     0");
  EXPECT_EQ(FormatSize(2047), "  2047");
  EXPECT_EQ(FormatSize(-5), "    -5");
  EXPECT_EQ(FormatSize(INT32_MIN), "-2147483648");  // wider than the field: not cut
  EXPECT_EQ(FormatSize(2048), "   2.0k");
  EXPECT_EQ(FormatSize(2304), "   2.3k");     // 2.25: the half goes up
  EXPECT_EQ(FormatSize(2097151), "2048.0k");  // last value shown in k
  EXPECT_EQ(FormatSize(2097152), "   2.0M");
  EXPECT_EQ(FormatSize(INT32_MAX), "2048.0M");
}

TEST(FormatSize, SixtyFourBitBoundariesAndSuffixes) {
  EXPECT_EQ(FormatSize64(0), "     0");
  EXPECT_EQ(FormatSize64(2048), "  2048");  // divides only while strictly above 2048
  EXPECT_EQ(FormatSize64(2049), "   2.0 k");
  EXPECT_EQ(FormatSize64(2097152), "2048.0 k");
  EXPECT_EQ(FormatSize64(3145728), "   3.0 M");
  EXPECT_EQ(FormatSize64(2304), "   2.3 k");
  EXPECT_EQ(FormatSize64(5LL << 30), "   5.0 G");
  EXPECT_EQ(FormatSize64(3LL << 40), "   3.0 T");
  EXPECT_EQ(FormatSize64(3LL << 50), "   3.0 P");
  EXPECT_EQ(FormatSize64(INT64_MAX), "   8.0 E");
  EXPECT_EQ(FormatSize64(-3000), " -3000");
}

TEST(FormatFloat, RoundsHalvesAwayFromZero) {
  // printf would give 0.2, -0.2 and 2 here (round half to even).
  EXPECT_EQ(FormatFloat(6, 1, 0.25), "   0.3");
  EXPECT_EQ(FormatFloat(0, 1, -0.25), "-0.3");
  EXPECT_EQ(FormatFloat(0, 0, 2.5), "3");
  EXPECT_EQ(FormatFloat(0, 0, -2.5), "-3");
  // Decided on the exact binary value: 1.005 is stored a little below.
  EXPECT_EQ(FormatFloat(0, 2, 1.005), "1.00");
  EXPECT_EQ(FormatFloat(0, 1, 99.95), "100.0");  // the carry runs into a new digit
  EXPECT_EQ(FormatFloat(0, 0, -0.4), "0");       // no "-0"
  EXPECT_EQ(FormatFloat(8, 3, 3.14159), "   3.142");
  EXPECT_EQ(DecimalSeparator(), '.');  // tests run with LC_ALL=C
}

// A program with a window gets the user's LC_NUMERIC from its toolkit; in a
// locale with a decimal comma the numbers must come out the same.
TEST(FormatFloat, SameTextWhateverTheProcessNumericLocale) {
  const std::string before = std::setlocale(LC_NUMERIC, nullptr);
  if (!std::setlocale(LC_NUMERIC, "sk_SK.UTF-8")) GTEST_SKIP() << "sk_SK.UTF-8 is not installed";
  const std::string texts[] = {FormatFloat(6, 1, 0.25), FormatFloat(4, 1, 364.1),
                               FormatSize64(200000), FormatSize(2304)};
  std::setlocale(LC_NUMERIC, before.c_str());
  EXPECT_EQ(texts[0], "   0.3");
  EXPECT_EQ(texts[1], "364.1");
  EXPECT_EQ(texts[2], " 195.3 k");
  EXPECT_EQ(texts[3], "   2.3k");
}

// A plain bitwise CRC register, independent of the zlib route.
std::uint32_t ReferenceCrc(const std::string& bytes) {
  std::uint32_t reg = 0xFFFFFFFFu;
  for (unsigned char b : bytes) {
    reg ^= b;
    for (int k = 0; k < 8; ++k) reg = (reg >> 1) ^ (0xEDB88320u & (0u - (reg & 1u)));
  }
  return reg;
}

TEST(Checksum, KnownValuesAndFailures) {
  TTempFolder dir;
  WriteFile(dir / "digits", "123456789");
  WriteFile(dir / "abc", "abc");
  WriteFile(dir / "empty", "");
  EXPECT_EQ(CalcFileCRC(dir / "digits"), 0x340BC6D9u);
  EXPECT_EQ(CalcFileCRC(dir / "abc"), 0xCADBBE3Du);
  EXPECT_EQ(CalcFileCRC(dir / "empty"), 0xFFFFFFFFu);
  EXPECT_EQ(CalcFileCRC(dir / "missing"), 0xFFFFFFFFu);
  EXPECT_EQ(CalcFileCRC(dir.path()), 0xFFFFFFFFu);  // a folder cannot be read as a file
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(CalcFileCRC(dir / "fifo"), 0xFFFFFFFFu);  // returns at once, no writer needed
}

TEST(Checksum, RunningRegisterAndLargeFilesMatchBytewiseCrc) {
  EXPECT_EQ(CrcUpdate(CrcUpdate(kCrcInit, "1234", 4), "56789", 5), 0x340BC6D9u);
  EXPECT_EQ(CrcUpdate(0x12345678u, "", 0), 0x12345678u);

  // Over 2 MiB, so the file is read in several blocks with a partial last one.
  std::mt19937 gen(42);
  std::string data(2 * 1024 * 1024 + 777, '\0');
  for (auto& c : data) c = static_cast<char>(gen());
  TTempFolder dir;
  WriteFile(dir / "big", data);
  EXPECT_EQ(CalcFileCRC(dir / "big"), ReferenceCrc(data));
}

TEST(FileSize, SparseFileBeyondFourGiB) {
  TTempFolder dir;
  const std::string name = dir / "sparse";
  WriteFile(name, "");
  const std::int64_t size = (5LL << 30) + 3;
  ASSERT_EQ(::truncate(name.c_str(), size), 0);
  EXPECT_EQ(GetFileSize64(name), size);
  EXPECT_EQ(GetFileSize64(dir / "missing"), 0);
  EXPECT_EQ(GetFileSize64(dir.path()), 0);
}

TEST(CopyFileBlocks, CopiesWholeFilesAndReportsFailures) {
  TTempFolder dir;
  std::string data;
  for (int i = 0; i < 100000; ++i) data += static_cast<char>('a' + i % 26);
  WriteFile(dir / "src", data);
  WriteFile(dir / "dst", "old content that is longer than nothing");
  EXPECT_TRUE(CopyFileBlocks(dir / "src", dir / "dst"));
  EXPECT_EQ(ReadFile(dir / "dst"), data);

  WriteFile(dir / "empty", "");
  EXPECT_TRUE(CopyFileBlocks(dir / "empty", dir / "dst"));
  EXPECT_EQ(ReadFile(dir / "dst"), "");

  EXPECT_FALSE(CopyFileBlocks(dir / "missing", dir / "dst2"));
  EXPECT_FALSE(CopyFileBlocks(dir / "src", dir / "no/such/folder/dst"));
  EXPECT_FALSE(CopyFileBlocks(dir / "src", "/dev/full"));  // short write
  // A source that opens but cannot be read is an error, not a short copy.
  EXPECT_THROW(CopyFileBlocks(dir.path(), dir / "dst3"), std::ios_base::failure);
}

TEST(CountTextLines, LastLineWithoutBreakCounts) {
  TTempFolder dir;
  WriteFile(dir / "a", "");
  WriteFile(dir / "b", "one\r\ntwo\r\n");
  WriteFile(dir / "c", "one\ntwo");
  WriteFile(dir / "d", "\n\n\n");
  EXPECT_EQ(CountTextLines(dir / "a"), 0);
  EXPECT_EQ(CountTextLines(dir / "b"), 2);
  EXPECT_EQ(CountTextLines(dir / "c"), 2);
  EXPECT_EQ(CountTextLines(dir / "d"), 3);
  EXPECT_EQ(CountTextLines(dir / "missing"), 0);
}

}  // namespace
}  // namespace vx
