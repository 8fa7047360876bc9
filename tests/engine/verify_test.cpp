// Verify and CompareFiles: outcomes per file with their log lines, the
// summary in front of the run's lines, result 98, read-only disk files, and
// the private temporary file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "archive/errors.h"
#include "engine/archive_fixture.h"
#include "engine/vaultrex.h"
#include "platform/paths.h"

namespace vx {
namespace {

using namespace vx::testing;

class VerifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine.BackupDestination = dir.path();
    engine.ArchiveBaseName = "set.arc";
    engine.LogFileMode = LFM_CreateNew;
    engine.LogFileName = dir / "verify.log";
    ::setenv("TMP", tmp.path().c_str(), 1);
  }
  void TearDown() override { ::unsetenv("TMP"); }
  std::string Archive() const { return dir / "set.arc"; }
  std::vector<std::string> Log() const { return ReadLines(dir / "verify.log"); }
  // Stored files at their real places under dir/data.
  std::vector<TStoredFile> Files() {
    return {{dir / "data/a.txt", TextBytes(70000)},
            {dir / "data/b.bin", RandomBytes(40000, 9)},
            {dir / "data/empty", ""}};
  }
  void PutOnDisk(const std::vector<TStoredFile>& files) {
    for (const auto& f : files) WriteFile(f.path, f.content);
  }

  TStateDir state;
  TTempDir dir;
  TTempDir tmp;
  TVaultrex engine;
};

TEST_F(VerifyTest, MatchingFilesGiveSummaryFirstAndResultZero) {
  const auto files = Files();
  PutOnDisk(files);
  WriteArchive(Archive(), files, 9, "dlhe heslo 123");
  engine.EncryptData = true;
  engine.EncryptKey = "dlhe heslo 123";
  ASSERT_EQ(engine.Verify(), 0);
  const auto log = Log();
  ASSERT_EQ(log.size(), 7u);
  EXPECT_EQ(log[0].rfind("Kontrola ukončená ", 0), 0u);
  EXPECT_EQ(log[1], "3 Súbor/y skontrolované OK");
  EXPECT_EQ(log[2].rfind("Štart overovania zálohy z " + dir.path() + "  ", 0), 0u);
  EXPECT_EQ(log[3], "");
  EXPECT_EQ(log[4], files[0].path + " bez chýb");
  EXPECT_EQ(log[5], files[1].path + " bez chýb");
  EXPECT_EQ(log[6], files[2].path + " bez chýb");
  EXPECT_EQ(engine.FileList().size(), 3u);
  // The temporary copy is gone after the run.
  EXPECT_TRUE(fs::is_empty(tmp.path()));
}

TEST_F(VerifyTest, EachKindOfDifferenceIsCountedAndGives98) {
  auto files = Files();
  files.push_back({dir / "data/gone.txt", "was here"});
  files.push_back({dir / "data/longer.txt", "short"});
  PutOnDisk(files);
  // Same size, one byte changed; a file deleted; a size changed.
  std::string changed = files[1].content;
  changed[39999] = static_cast<char>(changed[39999] ^ 0x40);
  WriteFile(files[1].path, changed);
  fs::remove(files[3].path);
  WriteFile(files[4].path, "short and longer");
  WriteArchive(Archive(), files, 1);

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
  EXPECT_EQ(log[10], files[2].path + " bez chýb");
  EXPECT_EQ(log[11], files[3].path + " súbor chýba alebo je uzmaknutý");
  EXPECT_EQ(log[12], files[4].path + " rozdiel v  súbore v zálohe");
  EXPECT_EQ(engine.ErrorCount(), 3);
}

TEST_F(VerifyTest, ReadOnlyDiskFileIsComparedNotMissing) {
  const auto files = Files();
  PutOnDisk(files);
  ::chmod(files[0].path.c_str(), 0444);
  ::chmod(files[1].path.c_str(), 0444);
  WriteArchive(Archive(), files);
  engine.RestoreAttributes = true;  // a read-only stored file must not spoil the copy
  EXPECT_EQ(engine.Verify(), 0);
  EXPECT_EQ(Log()[1], "3 Súbor/y skontrolované OK");
}

TEST_F(VerifyTest, EmptyArchiveSummaryCountsZero) {
  WriteArchive(Archive(), {});
  ASSERT_EQ(engine.Verify(), 0);
  const auto log = Log();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[1], "0 Súbor/y skontrolované OK");
}

TEST_F(VerifyTest, AppendedRunPutsItsSummaryAfterTheOlderLines) {
  WriteFile(dir / "verify.log", "old 1\r\nold 2\r\n");
  const auto files = Files();
  PutOnDisk(files);
  WriteArchive(Archive(), files);
  engine.LogFileMode = LFM_Append;
  ASSERT_EQ(engine.Verify(), 0);
  const auto log = Log();
  ASSERT_EQ(log.size(), 9u);
  EXPECT_EQ(log[0], "old 1");
  EXPECT_EQ(log[1], "old 2");
  EXPECT_EQ(log[2].rfind("Kontrola ukončená ", 0), 0u);
  EXPECT_EQ(log[4].rfind("Štart overovania zálohy z ", 0), 0u);
}

TEST_F(VerifyTest, RefusedSettingsLeaveOnlyTheErrorLine) {
  engine.ArchiveBaseName.clear();
  EXPECT_EQ(engine.Verify(), 1);
  EXPECT_EQ(Log(), (std::vector<std::string>{TVaultrex::ErrorText(1)}));
  engine.ArchiveBaseName = "set.arc";
  engine.EncryptData = true;
  engine.EncryptKey = "kratke";
  EXPECT_EQ(engine.Verify(), 14);
}

TEST_F(VerifyTest, ForeignAndDamagedArchivesEndTheRun) {
  WriteFile(Archive(), RandomBytes(40000, 1));
  EXPECT_EQ(engine.Verify(), 8);
  const auto files = Files();
  PutOnDisk(files);
  WriteArchive(Archive(), files);
  std::string bytes = ReadFile(Archive());
  // The first file's first block header claims more than a block.
  const std::size_t firstBlock = kHeaderSize + kCountSize + 3 * kRecordSize;
  bytes[firstBlock + 3] = 0x40;
  WriteFile(Archive(), bytes);
  EXPECT_EQ(engine.Verify(), 0);  // logged per file, not counted
  const auto log = Log();
  EXPECT_EQ(log[4], "Chyba (Porušená hlavička súboru) počas kontroly " + files[0].path);
}

TEST(CompareFilesTest, CodesForEachOutcome) {
  TTempDir d;
  WriteFile(d / "a", RandomBytes(100000, 1));
  WriteFile(d / "same", ReadFile(d / "a"));
  std::string late = ReadFile(d / "a");
  late[99999] = static_cast<char>(late[99999] + 1);
  WriteFile(d / "late", late);
  WriteFile(d / "short", "abc");
  EXPECT_EQ(TVaultrex::CompareFiles(d / "a", d / "same"), 0);
  EXPECT_EQ(TVaultrex::CompareFiles(d / "a", d / "late"), 3);
  EXPECT_EQ(TVaultrex::CompareFiles(d / "a", d / "short"), 3);
  EXPECT_EQ(TVaultrex::CompareFiles(d / "none", d / "a"), 1);
  EXPECT_EQ(TVaultrex::CompareFiles(d / "a", d / "none"), 2);
  EXPECT_EQ(TVaultrex::CompareFiles(d / "a", d.path()), 2);  // a folder is no file
  WriteFile(d / "e1", "");
  WriteFile(d / "e2", "");
  EXPECT_EQ(TVaultrex::CompareFiles(d / "e1", d / "e2"), 0);
}

}  // namespace
}  // namespace vx
