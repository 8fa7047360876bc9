// The archive reader as the operations use it: each damage's exception and
// text, where the next file starts after a block that does not decode, a
// taker that wants no more, the ticks between blocks, the copy of stored
// blocks, and the set read from a disk file through the archive stream.
// Reading with decoding workers must look the same to the source, the tick
// and the taker as reading without.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/archive_stream.h"
#include "archive/errors.h"
#include "archive_builder.h"
#include "common/files.h"
#include "common/temp_folder.h"
#include "support/utils.h"

namespace vx {
namespace {

using test::BuildArchive;
using test::TextData;

using TBytes = std::vector<std::uint8_t>;
constexpr std::size_t kFirstBlock = kHeaderSize + kCountSize + 2 * kRecordSize;

void PutI32(TBytes& a, std::size_t at, std::int32_t v) { std::memcpy(a.data() + at, &v, 4); }

// Two files, the first of two compressed blocks, the second of one.
TBytes TwoFiles() { return BuildArchive({{"/a", TextData(40000)}, {"/b", TextData(700)}}, 9, ""); }

// More decoding threads than this machine's cores.
constexpr int kAheadWorkers = 3;

// Bytes in memory whose every request and file end is written down.
class TRecordingSource : public TMemoryByteSource {
 public:
  TRecordingSource(const std::uint8_t* data, std::size_t size) : TMemoryByteSource(data, size) {}
  std::size_t Read(void* data, std::size_t count) override {
    const std::size_t n = TMemoryByteSource::Read(data, count);
    trace.push_back("read " + std::to_string(count) + ":" + std::to_string(n));
    return n;
  }
  void FileEnded() override {
    trace.push_back("file end");
    ++filesEnded;
  }
  std::vector<std::string> trace;
  int filesEnded = 0;
};

// A reader over bytes in memory, standing at the first file's data; with
// workers > 0 it decodes ahead on that many threads.
struct TReaderAtData {
  explicit TReaderAtData(const TBytes& a, int workers = 0, const std::string& key = "")
      : src(a.data(), a.size()), reader(src, codec) {
    reader.ReadHeader();
    reader.ReadDirectory(records);
    cipher.SetKey(key);
    if (!key.empty()) reader.SetCipher(&cipher);
    reader.SetDecodeWorkers(workers, key);
  }
  TRecordingSource src;
  TBlowFish cipher;
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

class ReaderDamage : public ::testing::TestWithParam<TDamageCase> {
 protected:
  static void ReadDamaged(const TBytes& a, int workers, const TDamageCase& c);
};

TEST_P(ReaderDamage, EndsWithItsTextAndResyncsWhereTheHeaderHolds) {
  const TDamageCase& c = GetParam();
  TBytes a = TwoFiles();
  c.damage(a);
  for (const int workers : {0, kAheadWorkers}) {
    SCOPED_TRACE(workers);
    ReadDamaged(a, workers, c);
  }
}

void ReaderDamage::ReadDamaged(const TBytes& a, int workers, const TDamageCase& c) {
  TReaderAtData at(a, workers);
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

// ---- Decoding ahead on workers: the same as decoding at once ----

// A file of more blocks than the workers have jobs, files of one block,
// noise stored as it is, an empty file and a file of two blocks.
std::vector<test::TFileSpec> AheadFiles() {
  return {{"/big", TextData(45 * kBlockSize + 123)},
          {"/one", TextData(700)},
          {"/noise", test::NoiseData(3 * kBlockSize - 5, 7)},
          {"/empty", {}},
          {"/two", TextData(40000)}};
}

// Where block `block` of file `file` begins (its header).
std::size_t BlockAt(const TBytes& a, std::size_t files, std::size_t file, std::size_t block,
                    bool encrypted) {
  std::size_t at = kHeaderSize + kCountSize + files * kRecordSize;
  for (std::size_t f = 0;; ++f) {
    for (std::size_t b = 0;; ++b) {
      if (f == file && b == block) return at;
      const TBlockHeader h = DecodeBlockHeader(a.data() + at);
      at += kBlockHeaderSize + StoredBytesOnMedium(h.storedLength, encrypted);
      if (h.IsEnd()) break;
    }
  }
}

struct TAheadCase {
  const char* name;
  int level;
  const char* key;
  // Damages the archive; gets the place of block b of file f.
  std::function<void(TBytes&, const std::function<std::size_t(std::size_t, std::size_t)>&)> damage;
  int tickThrowsAt = -1;  // the tick of that data block (counted over the set) throws
  int takerStopsAt = -1;  // the taker wants no more after that block of the first file
};

void PrintTo(const TAheadCase& c, std::ostream* os) { *os << c.name; }

// What the source, the tick and the taker saw of reading every file.
struct TAheadSeen {
  std::vector<std::string> io;     // reads, file ends, ticks, results, in order
  std::vector<std::string> taken;  // blocks taken, with the files ended before each
};

TAheadSeen ReadAll(const TBytes& a, const TAheadCase& c, int workers) {
  TReaderAtData at(a, workers, c.key);
  TAheadSeen seen;
  int ticks = 0;
  const auto tick = [&] {
    at.src.trace.emplace_back("tick");
    if (ticks++ == c.tickThrowsAt) throw EVX_UserAbortion("stop");
  };
  for (std::size_t f = 0; f < at.records.size(); ++f) {
    int block = 0;
    const auto take = [&](const std::uint8_t* p, std::size_t n) {
      seen.taken.push_back(std::to_string(f) + "/" + std::to_string(block) + " " +
                           std::to_string(n) + " " + std::to_string(CrcUpdate(kCrcInit, p, n)) +
                           " after " + std::to_string(at.src.filesEnded));
      return f != 0 || block++ != c.takerStopsAt;
    };
    try {
      at.src.trace.push_back("total " + std::to_string(at.reader.ReadFile(take, tick)));
    } catch (const EVX_Error& e) {
      at.src.trace.push_back("error " + std::to_string(e.Code()) + " " + e.what());
      if (e.Code() != EVX_ZipError::kCode) break;
    }
  }
  seen.io = std::move(at.src.trace);
  return seen;
}

class ReaderAhead : public ::testing::TestWithParam<TAheadCase> {};

TEST_P(ReaderAhead, SourceTickAndTakerSeeWhatTheyDoWithoutWorkers) {
  const TAheadCase& c = GetParam();
  const std::vector<test::TFileSpec> files = AheadFiles();
  TBytes a = BuildArchive(files, c.level, c.key);
  const TBytes intact = a;
  if (c.damage) {
    c.damage(a, [&](std::size_t f, std::size_t b) {
      return BlockAt(intact, files.size(), f, b, *c.key != '\0');
    });
  }
  const TAheadSeen one = ReadAll(a, c, 0);
  ASSERT_FALSE(one.taken.empty());
  for (const int workers : {1, kAheadWorkers}) {
    const TAheadSeen many = ReadAll(a, c, workers);
    EXPECT_EQ(many.io, one.io) << workers << " workers";
    EXPECT_EQ(many.taken, one.taken) << workers << " workers";
  }
}

void FlipStoredByte(TBytes& a, std::size_t blockAt) { a[blockAt + kBlockHeaderSize + 20] ^= 0x5A; }

INSTANTIATE_TEST_SUITE_P(
    Cases, ReaderAhead,
    ::testing::Values(TAheadCase{"QuickIntact", 1, "", nullptr},
                      TAheadCase{"MaxPassword", 9, "tajné heslo", nullptr},
                      TAheadCase{"NonePassword", 0, "tajné heslo", nullptr},
                      TAheadCase{"DamagedBlockInTheMiddle", 1, "",
                                 [](TBytes& a, const auto& at) { FlipStoredByte(a, at(0, 20)); }},
                      TAheadCase{"DamagedFirstAndLastBlocks", 9, "tajné heslo",
                                 [](TBytes& a, const auto& at) {
                                   FlipStoredByte(a, at(0, 0));
                                   FlipStoredByte(a, at(4, 1));
                                 }},
                      TAheadCase{"CutInsideData", 1, "",
                                 [](TBytes& a, const auto& at) { a.resize(at(0, 30) + 200); }},
                      TAheadCase{"CutInsideABlockHeader", 1, "tajné heslo",
                                 [](TBytes& a, const auto& at) { a.resize(at(0, 40) + 3); }},
                      TAheadCase{"BrokenBlockHeader", 1, "",
                                 [](TBytes& a, const auto& at) { PutI32(a, at(2, 1), -5); }},
                      TAheadCase{"TickStops", 1, "", nullptr, 33},
                      TAheadCase{"TakerWantsNoMore", 9, "", nullptr, -1, 9}),
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
