// Verify and CompareFiles: each outcome with its log line, the summary in
// front of the run's lines, result 98, read-only disk files, the private
// temporary file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "common/engine_fixture.h"
#include "common/named_case.h"
#include "engine/vaultrex.h"

namespace vx {
namespace {

using namespace vx::test;
namespace fs = std::filesystem;

class VerifyTest : public TEngineTest {
 protected:
  void SetUp() override {
    UseLog(dir / "verify.log");
    files = {{dir / "data/a.txt", TextBytes(70000)},
             {dir / "data/b.bin", NoiseBytes(40000)},
             {dir / "data/empty", ""}};
    for (const auto& f : files) WriteFile(f.path, f.content);
  }
  TTempFolder tmp;
  TScopedEnv tmpEnv{"TMP", tmp.path()};
  std::vector<TStoredFile> files;
};

TEST_F(VerifyTest, MatchingFilesGiveTheSummaryFirstAndResultZero) {
  WriteArchive(Archive(), files, 9, "dlhe heslo 123");
  engine.EncryptData = true;
  engine.EncryptKey = "dlhe heslo 123";
  ::chmod(files[0].path.c_str(), 0444);  // read-only files are compared too
  engine.RestoreAttributes = true;       // and do not spoil the temporary copy
  ASSERT_EQ(engine.Verify(), 0);
  const auto log = Log();
  ASSERT_EQ(log.size(), 7u);
  EXPECT_EQ(log[0].rfind("Kontrola ukončená ", 0), 0u);
  EXPECT_EQ(log[1], "3 Súbor/y skontrolované OK");
  EXPECT_EQ(log[2].rfind("Štart overovania zálohy z " + dir.path() + "  ", 0), 0u);
  EXPECT_EQ(log[3], "");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(log[4 + i], files[i].path + " bez chýb");
  EXPECT_TRUE(fs::is_empty(tmp.path()));  // the temporary copy is gone
}

TEST_F(VerifyTest, EachKindOfDifferenceIsCountedAndGives98) {
  files.push_back({dir / "data/gone.txt", "was here"});
  files.push_back({dir / "data/longer.txt", "short"});
  WriteArchive(Archive(), files, 1);
  std::string changed = files[1].content;  // same size, one byte changed
  changed[39999] = static_cast<char>(changed[39999] ^ 0x40);
  WriteFile(files[1].path, changed);
  WriteFile(files[4].path, "short and longer");

  ASSERT_EQ(engine.Verify(), 98);
  const auto log = Log();
  ASSERT_EQ(log.size(), 13u);
  EXPECT_EQ(log[1], "2 Súbor/y skontrolované OK");
  EXPECT_EQ(log[2], "3 kontrola  súboru/ov neprebehla v poriadku z dôvodu:");
  EXPECT_EQ(log[3], "   1 Súbor/y chýbajú na harddisku");
  EXPECT_EQ(log[4], "   2 Súbor/y jeúsú odlišné od originálu");
  EXPECT_EQ(log[5], "");
  EXPECT_EQ(log[8], files[0].path + " bez chýb");
  EXPECT_EQ(log[9], files[1].path + " rozdiel v  súbore v zálohe");
  EXPECT_EQ(log[11], files[3].path + " súbor chýba alebo je uzmaknutý");
  EXPECT_EQ(log[12], files[4].path + " rozdiel v  súbore v zálohe");
}

TEST_F(VerifyTest, EmptySetAndAppendedLog) {
  WriteArchive(Archive(), {});
  ASSERT_EQ(engine.Verify(), 0);
  EXPECT_EQ(Log().size(), 4u);
  EXPECT_EQ(Log()[1], "0 Súbor/y skontrolované OK");

  // Appending: the older lines stay on top, the summary follows them.
  WriteFile(dir / "verify.log", "old 1\r\nold 2\r\n");
  engine.LogFileMode = LFM_Append;
  ASSERT_EQ(engine.Verify(), 0);
  const auto log = Log();
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[1], "old 2");
  EXPECT_EQ(log[2].rfind("Kontrola ukončená ", 0), 0u);
  EXPECT_EQ(log[4].rfind("Štart overovania zálohy z ", 0), 0u);
}

TEST_F(VerifyTest, RefusedSettingsAndDamagedBlocks) {
  engine.ArchiveBaseName.clear();
  EXPECT_EQ(engine.Verify(), 1);
  EXPECT_EQ(Log(), (std::vector<std::string>{TVaultrex::ErrorText(1)}));  // nothing before it
  engine.ArchiveBaseName = "set.arc";

  // The first block header claims more than a block: logged for the file,
  // counted as a file that could not be checked, and the run ends with 98.
  WriteArchive(Archive(), files);
  std::string bytes = ReadFile(Archive());
  bytes[kHeaderSize + kCountSize + 3 * kRecordSize + 3] = 0x40;
  WriteFile(Archive(), bytes);
  EXPECT_EQ(engine.Verify(), 98);
  const auto log = Log();
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "Chyba (Porušená hlavička súboru) počas kontroly " + files[0].path),
            log.end());
  // The reader cannot find its place again, so the files behind it fail too.
  EXPECT_NE(std::find(log.begin(), log.end(), "   3 Došlo k inej chybe pri porovnávaní súboru"),
            log.end());
}

// Each file is compared block by block as it is unpacked: a difference is
// found in any block, at either end, and in the length either way.
TEST_F(VerifyTest, DifferencesAreFoundInEveryBlockAndLength) {
  const std::string big = NoiseBytes(100000);  // three whole blocks and a tail
  const std::string twoBlocks = TextBytes(65536);
  std::vector<TStoredFile> set;
  std::vector<std::string> onDisk;
  auto add = [&](const std::string& name, const std::string& stored, const std::string& disk) {
    set.push_back({dir / ("cmp/" + name), stored});
    onDisk.push_back(disk);
  };
  auto flip = [](std::string s, std::size_t at) {
    s[at] = static_cast<char>(s[at] ^ 0x01);
    return s;
  };
  add("same", big, big);
  add("first-byte", big, flip(big, 0));
  add("second-block", big, flip(big, 32768));
  add("last-byte", big, flip(big, 99999));
  add("one-short", big, big.substr(0, 99999));
  add("one-block-short", big, big.substr(0, 98304));
  add("one-longer", twoBlocks, twoBlocks + "x");
  add("emptied", twoBlocks, "");
  add("was-empty", "", "x");
  add("both-empty", "", "");
  add("same-text", twoBlocks, twoBlocks);
  for (std::size_t i = 0; i < set.size(); ++i) WriteFile(set[i].path, onDisk[i]);
  WriteArchive(Archive(), set, 1);

  ASSERT_EQ(engine.Verify(), 98);
  const auto log = Log();
  auto has = [&](const std::string& line) {
    return std::find(log.begin(), log.end(), line) != log.end();
  };
  for (const TStoredFile& f : set) {
    const bool same =
        f.path.ends_with("same") || f.path.ends_with("both-empty") || f.path.ends_with("same-text");
    EXPECT_TRUE(has(f.path + (same ? " bez chýb" : " rozdiel v  súbore v zálohe"))) << f.path;
  }
  EXPECT_TRUE(has("3 Súbor/y skontrolované OK"));
  EXPECT_TRUE(has("   8 Súbor/y jeúsú odlišné od originálu"));
}

// The data of a file are read to their end whatever the disk holds: damage is
// found behind a difference found early, and behind a missing disk file.
TEST_F(VerifyTest, DamagedDataCountEvenWhenTheDiskFileDiffersOrIsMissing) {
  const std::string big = NoiseBytes(100000);
  std::vector<TStoredFile> set = {{dir / "d/gone", big}};
  WriteArchive(Archive(), set, 0);
  std::string bytes = ReadFile(Archive());
  bytes.resize(bytes.size() - kBlockSize);  // cut inside the file's data
  WriteFile(Archive(), bytes);
  ASSERT_EQ(engine.Verify(), 98);
  auto log = Log();
  EXPECT_NE(
      std::find(log.begin(), log.end(),
                "Chyba (Predčasný koniec súboru pri čítaní súboru) počas kontroly " + set[0].path),
      log.end());
  EXPECT_EQ(std::find(log.begin(), log.end(), set[0].path + " súbor chýba alebo je uzmaknutý"),
            log.end());

  // A compressed block that does not unpack, behind a block that differs
  // from the disk: counted as damage, not as a difference, and the run goes on.
  set = {{dir / "d/text", TextBytes(100000)}};
  WriteFile(set[0].path, "X" + set[0].content.substr(1));
  WriteArchive(Archive(), set, 9);
  bytes = ReadFile(Archive());
  const std::size_t first = kHeaderSize + kCountSize + kRecordSize;  // the first block header
  std::int32_t firstStored = 0;
  std::memcpy(&firstStored, bytes.data() + first + 4, 4);
  const std::size_t second = first + kBlockHeaderSize + static_cast<std::size_t>(firstStored);
  bytes[second + kBlockHeaderSize + 20] ^= 0x55;  // inside the second block's stream
  WriteFile(Archive(), bytes);
  EXPECT_EQ(engine.Verify(), 98);
  log = Log();
  EXPECT_NE(
      std::find(log.begin(), log.end(),
                "Chyba (Dekomprimovaný blok nemá správnu dĺžku) počas kontroly " + set[0].path),
      log.end());
  EXPECT_EQ(std::find(log.begin(), log.end(), set[0].path + " rozdiel v  súbore v zálohe"),
            log.end());
}

// A directory record whose size or checksum does not fit the stored data:
// the disk file equals the data, yet a restore would refuse them, so verify
// fails the file too (98), with the reason restore gives.
struct TRecordDamage {
  const char* name;
  std::size_t offset;   // in the first record
  std::uint32_t xorBy;  // applied to the 32-bit field there
  const char* reason;   // "" when the set stays good
};
void PrintTo(const TRecordDamage& c, std::ostream* os) { *os << c.name; }

class VerifyRecordDamage : public VerifyTest,
                           public ::testing::WithParamInterface<TRecordDamage> {};

TEST_P(VerifyRecordDamage, FailsWhatRestoreRefuses) {
  const TRecordDamage& c = GetParam();
  WriteArchive(Archive(), {files[0]}, 9);
  std::string bytes = ReadFile(Archive());
  std::uint32_t field = 0;
  const std::size_t at = kHeaderSize + kCountSize + c.offset;
  std::memcpy(&field, bytes.data() + at, 4);
  field = c.xorBy == 0xFFFFFFFFu ? 0 : field ^ c.xorBy;  // all ones: the field cleared
  std::memcpy(bytes.data() + at, &field, 4);
  WriteFile(Archive(), bytes);
  const bool damaged = *c.reason != '\0';
  EXPECT_EQ(engine.Verify(), damaged ? 98 : 0);
  const std::string line = std::string("Chyba (") + c.reason + ") počas kontroly " + files[0].path;
  EXPECT_EQ(LogHas(line), damaged);
  RestoreEverythingTo();
  EXPECT_EQ(engine.Restore() != 0, damaged);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, VerifyRecordDamage,
    ::testing::Values(
        TRecordDamage{"SizeOneMore", 256, 0x1, "Dĺžka dát v zálohe nezodpovedá dĺžke súboru"},
        TRecordDamage{"SizeHighBit", 256, 0x80000000u,
                      "Dĺžka dát v zálohe nezodpovedá dĺžke súboru"},
        TRecordDamage{"SizeZero", 256, 0xFFFFFFFFu, "Dĺžka dát v zálohe nezodpovedá dĺžke súboru"},
        TRecordDamage{"CrcOneBit", 260, 0x100,
                      "Kontrolný súčet súboru je iný ako u originálneho súboru - súbor môže byť "
                      "poškodený"},
        // A checksum of 0 means none was stored: nothing to compare.
        TRecordDamage{"CrcCleared", 260, 0xFFFFFFFFu, ""}),
    vx::test::TCaseName());

// A stop request inside a big file ends the verify at the next block.
TEST_F(VerifyTest, StopInsideABigFileEndsAtTheNextBlock) {
  files = {{dir / "data/big", NoiseBytes(40 * kBlockSize)}, {dir / "data/after", "x"}};
  for (const auto& f : files) WriteFile(f.path, f.content);
  WriteArchive(Archive(), files);
  std::vector<std::int32_t> filesDone;
  engine.OnStatistic = [&](const TBackupStatistic& s, bool& cancel) {
    filesDone.push_back(s.FilesDone);
    cancel = true;
  };
  EXPECT_EQ(engine.Verify(), 12);
  EXPECT_EQ(filesDone, (std::vector<std::int32_t>{0}));
}

// CompareFiles: 0 the same, 1 the first file missing, 2 the second missing
// or no file, 3 different.
struct TCompareCase {
  const char* name;
  const char* first;
  const char* second;
  int code;
};
void PrintTo(const TCompareCase& c, std::ostream* os) { *os << c.name; }

class CompareFilesTest : public ::testing::TestWithParam<TCompareCase> {
 protected:
  void SetUp() override {
    std::string late = NoiseBytes(100000);
    WriteFile(d / "a", late);
    WriteFile(d / "same", late);
    late[99999] = static_cast<char>(late[99999] + 1);  // differs in the last chunk only
    WriteFile(d / "late", late);
    WriteFile(d / "e1", "");
    WriteFile(d / "e2", "");
    std::filesystem::create_directory(d / "folder");
  }
  TTempFolder d;
};

TEST_P(CompareFilesTest, GivesTheCodeOfTheOutcome) {
  const TCompareCase& c = GetParam();
  EXPECT_EQ(TVaultrex::CompareFiles(d / c.first, d / c.second), c.code);
}

INSTANTIATE_TEST_SUITE_P(Outcomes, CompareFilesTest,
                         ::testing::Values(TCompareCase{"Same", "a", "same", 0},
                                           TCompareCase{"BothEmpty", "e1", "e2", 0},
                                           TCompareCase{"DiffersInTheLastChunk", "a", "late", 3},
                                           TCompareCase{"OneEmpty", "a", "e1", 3},
                                           TCompareCase{"FirstMissing", "none", "a", 1},
                                           TCompareCase{"SecondMissing", "a", "none", 2},
                                           TCompareCase{"SecondIsAFolder", "a", "folder", 2}),
                         vx::test::TCaseName());

}  // namespace
}  // namespace vx
