// The archive reader as the operations use it: each damage's exception and
// text, where the next file starts after a block that does not decode, a
// taker that wants no more, the ticks between blocks, the copy of stored
// blocks, and the set read from a disk file through the archive stream.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/archive_stream.h"
#include "archive/errors.h"
#include "archive_builder.h"
#include "common/files.h"
#include "common/temp_folder.h"

namespace vx {
namespace {

using test::BuildArchive;
using test::TextData;

using TBytes = std::vector<std::uint8_t>;
constexpr std::size_t kFirstBlock = kHeaderSize + kCountSize + 2 * kRecordSize;

void PutI32(TBytes& a, std::size_t at, std::int32_t v) { std::memcpy(a.data() + at, &v, 4); }

// Two files, the first of two compressed blocks, the second of one.
TBytes TwoFiles() { return BuildArchive({{"/a", TextData(40000)}, {"/b", TextData(700)}}, 9, ""); }

// A reader over bytes in memory, standing at the first file's data.
struct TReaderAtData {
  explicit TReaderAtData(const TBytes& a) : src(a.data(), a.size()), reader(src, codec) {
    reader.ReadHeader();
    reader.ReadDirectory(records);
  }
  TMemoryByteSource src;
  TBlockCodec codec;
  TArchiveReader reader;
  std::vector<TDirRecord> records;
};

struct TDamageCase {
  const char* name;
  std::function<void(TBytes&)> damage;
  int code;               // the exception reading the first file ends with (0: none)
  std::string text;       // its text
  bool secondFileIntact;  // the next file is read whole afterwards
};

class ReaderDamage : public ::testing::TestWithParam<TDamageCase> {};

TEST_P(ReaderDamage, EndsWithItsTextAndResyncsWhereTheHeaderHolds) {
  const TDamageCase& c = GetParam();
  TBytes a = TwoFiles();
  c.damage(a);
  TReaderAtData at(a);
  TArchiveReader& reader = at.reader;
  int code = 0;
  std::string text;
  try {
    reader.ReadFile([](const std::uint8_t*, std::size_t) { return true; });
  } catch (const EVX_Error& e) {
    code = e.Code();
    text = e.what();
  }
  EXPECT_EQ(code, c.code);
  EXPECT_EQ(text, c.text);
  if (!c.secondFileIntact) return;
  TBytes second;
  reader.ReadFile([&](const std::uint8_t* p, std::size_t n) {
    second.insert(second.end(), p, p + n);
    return true;
  });
  EXPECT_EQ(second, TextData(700));
  EXPECT_EQ(at.src.Position(), a.size());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReaderDamage,
    ::testing::Values(
        TDamageCase{"intact", [](TBytes&) {}, 0, "", true},
        TDamageCase{"stream_does_not_unpack",
                    [](TBytes& a) { a[kFirstBlock + kBlockHeaderSize + 30] ^= 0xFF; }, 3,
                    "Dekomprimovaný blok nemá správnu dĺžku", true},
        TDamageCase{"raw_length_wrong", [](TBytes& a) { PutI32(a, kFirstBlock, 32767); }, 3,
                    "Dekomprimovaný blok nemá správnu dĺžku", true},
        TDamageCase{"stored_length_beyond_a_block",
                    [](TBytes& a) { PutI32(a, kFirstBlock + 4, 32769); }, 9,
                    "Porušená hlavička súboru", false},
        TDamageCase{"negative_raw_length", [](TBytes& a) { PutI32(a, kFirstBlock, -1); }, 9,
                    "Porušená hlavička súboru", false},
        TDamageCase{"cut_in_data", [](TBytes& a) { a.resize(kFirstBlock + 100); }, 9,
                    "Predčasný koniec súboru pri čítaní súboru", false},
        TDamageCase{"cut_in_block_header", [](TBytes& a) { a.resize(kFirstBlock + 4); }, 9,
                    "Predčasný koniec súboru v hlavičke súboru", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ArchiveReaderRun, ATakerThatWantsNoMoreHasTheRestReadPastAndTicksCountDataBlocks) {
  const TBytes a = TwoFiles();
  TReaderAtData at(a);
  TArchiveReader& reader = at.reader;
  int taken = 0;
  int ticks = 0;
  const auto tick = [&ticks] { ++ticks; };
  EXPECT_EQ(reader.ReadFile(
                [&taken](const std::uint8_t*, std::size_t) {
                  ++taken;
                  return false;
                },
                tick),
            40000);
  EXPECT_EQ(taken, 1);
  EXPECT_EQ(ticks, 2);  // both data blocks, not the end block
  EXPECT_EQ(reader.ReadFile(nullptr, tick), 700);
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(at.src.Position(), a.size());
}

TEST(ArchiveReaderRun, CopyFileHandsOnEveryStoredBlockAsItStands) {
  const TBytes a = TwoFiles();
  TReaderAtData at(a);
  TArchiveReader& reader = at.reader;
  TBytes copied;
  int blocks = 0;
  for (int file = 0; file < 2; ++file) {
    reader.CopyFile(
        [&](const std::uint8_t* head, const std::uint8_t* stored, std::size_t n) {
          copied.insert(copied.end(), head, head + kBlockHeaderSize);
          copied.insert(copied.end(), stored, stored + n);
          ++blocks;
        },
        nullptr, {});
  }
  EXPECT_EQ(blocks, 5);  // 2 + end, 1 + end
  EXPECT_EQ(copied, TBytes(a.begin() + kFirstBlock, a.end()));
}

TEST(ArchiveReaderRun, DirectoryBeyondTheArchiveSizeIsRefusedAndLeavesNoRecords) {
  TBytes a = TwoFiles();
  struct TCase {
    std::int32_t count;
    std::int64_t archiveSize;
    std::size_t cutAt;
    std::string text;
  };
  const TCase cases[] = {
      {2, static_cast<std::int64_t>(a.size()), a.size(), ""},
      {2, static_cast<std::int64_t>(kFirstBlock) - 1, a.size(), "Poškodený zálohový súbor"},
      // The third "record" is block data.
      {3, -1, a.size(), "Poškodený zálohový súbor"},
      {5000, -1, kFirstBlock, "Lesefehler aus Stream"},
  };
  for (const TCase& c : cases) {
    PutI32(a, kHeaderSize, c.count);
    TMemoryByteSource src(a.data(), c.cutAt);
    TBlockCodec codec;
    TArchiveReader reader(src, codec);
    reader.ReadHeader();
    std::vector<TDirRecord> records = {TDirRecord{}};
    std::string text;
    try {
      reader.ReadDirectory(records, c.archiveSize);
    } catch (const EVX_BackupReadError& e) {
      text = e.what();
    }
    EXPECT_EQ(text, c.text) << c.count;
    EXPECT_EQ(records.size(), text.empty() ? 2u : 0u) << c.count;
  }
}

TEST(ArchiveReaderRun, HeaderTextsAreTheOperationsOwnAlsoForACutVolume) {
  vx::test::TTempFolder dir;
  const THeaderTexts texts{"cut short", "not a set"};
  struct TCase {
    TBytes bytes;
    bool pad;
    int code;
    std::string text;
  };
  TBytes foreign = TwoFiles();
  foreign[0] ^= 1;
  const TCase cases[] = {
      {TwoFiles(), true, 0, ""},
      {TwoFiles(), false, 9, "cut short"},  // not whole transfer blocks
      {foreign, true, 8, "not a set"},
      {TBytes(100, 0), false, 9, "cut short"},
  };
  for (const TCase& c : cases) {
    TBytes bytes = c.bytes;
    if (c.pad) bytes.resize((bytes.size() + kBlockSize - 1) / kBlockSize * kBlockSize);
    vx::test::WriteBytes(dir / "set.arc", bytes);
    TArchiveStream stream(TStreamMode::Read, dir / "set.arc", false, 0, false, nullptr);
    TStreamByteSource src(stream);
    TBlockCodec codec;
    TArchiveReader reader(src, codec);
    int code = 0;
    std::string text;
    try {
      reader.ReadHeader(texts);
    } catch (const EVX_Error& e) {
      code = e.Code();
      text = e.what();
    }
    EXPECT_EQ(code, c.code) << c.text;
    EXPECT_EQ(text, c.text);
  }
}

TEST(ArchiveReaderRun, EncryptedSetFromADiskFileDecodesThroughTheStream) {
  vx::test::TTempFolder dir;
  const TBytes content = TextData(50000);
  TBytes a = BuildArchive({{"/n", content}}, 9, "fuzzpassword");
  a.resize((a.size() + kBlockSize - 1) / kBlockSize * kBlockSize);
  vx::test::WriteBytes(dir / "set.arc", a);
  TArchiveStream stream(TStreamMode::Read, dir / "set.arc", false, 0, false, nullptr);
  TStreamByteSource src(stream);
  EXPECT_EQ(ScanArchive(src, "fuzzpassword"), 0);
  TArchiveStream again(TStreamMode::Read, dir / "set.arc", false, 0, false, nullptr);
  TStreamByteSource src2(again);
  EXPECT_EQ(ScanArchive(src2, "wrong-password"), 3);
}

}  // namespace
}  // namespace vx
