// Restore: round trips through Backup on real folders, the restore modes,
// redirect and flat targets, times and attributes, per-file failures, and
// hostile archives that try to write outside the restore folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <tuple>

#include "archive/errors.h"
#include "engine/archive_fixture.h"
#include "engine/vaultrex.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace vx {
namespace {

using namespace vx::testing;

class RestoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine.BackupDestination = dir.path();
    engine.ArchiveBaseName = "set.arc";
    engine.LogFileMode = LFM_CreateNew;
    engine.LogFileName = dir / "restore.log";
    engine.RedirectRestore = true;
    engine.RestoreTo = dir / "out";
    engine.IncludeNames = {"*"};
  }
  std::string Archive() const { return dir / "set.arc"; }
  std::vector<std::string> Log() const { return ReadLines(dir / "restore.log"); }
  bool LogHas(const std::string& line) const {
    for (const auto& l : Log())
      if (l == line) return true;
    return false;
  }

  TStateDir state;
  TTempDir dir;
  TVaultrex engine;
};

// ---- Round trips through Backup ----

class RoundTripTest : public RestoreTest,
                      public ::testing::WithParamInterface<std::tuple<TCompressData, bool, bool>> {};

TEST_P(RoundTripTest, EveryFileComesBackByteForByteWithItsTime) {
  const auto [compress, encrypt, volumes] = GetParam();
  const std::string src = dir / "src";
  const std::vector<std::pair<std::string, std::string>> files = {
      {"text.txt", TextBytes(100000)},      {"noise.bin", RandomBytes(70001, 5)},
      {"empty", ""},                        {"exact", RandomBytes(32768, 6)},
      {"sub/deeper/notes.md", TextBytes(3)}, {"sub/čriepok.dat", RandomBytes(1000, 8)}};
  for (const auto& [name, content] : files) WriteFile(src + "/" + name, content);

  TVaultrex backup;
  backup.BackupDestination = dir / "sets";
  backup.ArchiveBaseName = volumes ? "set" : "set.arc";
  backup.IncludeNames = {src + "/*"};
  backup.RecurseSubDir = true;
  backup.CompressData = compress;
  backup.EncryptData = encrypt;
  backup.EncryptKey = encrypt ? "velmi tajne heslo" : "";
  backup.SpanDisks = volumes;
  backup.MaxSplitSize = volumes ? 40000 : 0;
  ASSERT_EQ(backup.Backup(), 0);
  if (volumes) {
    ASSERT_TRUE(FileExists(dir / "sets/set.002"));
  }

  engine.BackupDestination = backup.BackupDestination;
  engine.ArchiveBaseName = backup.ArchiveBaseName;
  engine.SpanDisks = volumes;
  engine.EncryptData = encrypt;
  engine.EncryptKey = backup.EncryptKey;
  engine.Comment = "before";
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(engine.Comment, "");
  EXPECT_EQ(engine.RestoreTo, dir / "out/");
  for (const auto& [name, content] : files) {
    const std::string restored = dir / ("out" + src + "/" + name);
    EXPECT_EQ(ReadFile(restored), content) << name;
    EXPECT_EQ(GetFileDate(restored), GetFileDate(src + "/" + name)) << name;
    EXPECT_TRUE(LogHas(src + "/" + name + " OK obnovené  do " + restored)) << name;
  }
  EXPECT_EQ(engine.FileList().size(), files.size());
}

INSTANTIATE_TEST_SUITE_P(
    Settings, RoundTripTest,
    ::testing::Combine(::testing::Values(CDM_NoCompression, CDM_QuickCompression,
                                         CDM_MaxCompression),
                       ::testing::Bool(), ::testing::Bool()));

TEST_F(RestoreTest, WithoutRedirectFilesGoBackToTheirStoredPlace) {
  const std::string a = dir / "home/a.txt";
  WriteFile(a, "original");
  WriteArchive(Archive(), {{a, "from the set"}});
  engine.RedirectRestore = false;
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(ReadFile(a), "from the set");
  const auto log = Log();
  ASSERT_GE(log.size(), 6u);
  EXPECT_EQ(log[0].rfind("Štart obnovy z " + dir.path() + "  ", 0), 0u);
  EXPECT_EQ(log[1], "Obnoviť na pôvodné miesto");
  EXPECT_EQ(log[2], "");
  EXPECT_EQ(log[3], a + " OK obnovené  do " + a);
  EXPECT_EQ(log[4], "");
  EXPECT_EQ(log[5].rfind("Ukončené  ", 0), 0u);
}

TEST_F(RestoreTest, SelectionRestoresOnlyMatchingFilesAndReadsPastTheRest) {
  WriteArchive(Archive(), {{"/d/one.txt", "1"}, {"/d/two.bin", RandomBytes(50000, 2)},
                           {"/e/three.txt", "3"}, {"/d/sub/four.txt", "4"}});
  engine.IncludeNames = {"", "/d/*.txt"};
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_TRUE(FileExists(dir / "out/d/one.txt"));
  EXPECT_FALSE(FileExists(dir / "out/d/two.bin"));
  EXPECT_FALSE(FileExists(dir / "out/e/three.txt"));
  EXPECT_FALSE(FileExists(dir / "out/d/sub/four.txt"));
  const auto& list = engine.FileList();
  EXPECT_EQ(list[0].mark, 0);
  EXPECT_EQ(list[1].mark, 1);
  EXPECT_EQ(list[2].mark, 1);

  // Recursion takes the subfolders as well.
  engine.RecurseSubDir = true;
  engine.RestoreTo = dir / "out2";
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(ReadFile(dir / "out2/d/sub/four.txt"), "4");
  EXPECT_FALSE(FileExists(dir / "out2/e/three.txt"));
}

TEST_F(RestoreTest, EmptySelectionRestoresNothingAndSucceeds) {
  WriteArchive(Archive(), {{"/d/one.txt", "1"}, {"/d/two.txt", "2"}});
  engine.IncludeNames.clear();
  int reports = 0;
  engine.OnStatistic = [&](const TBackupStatistic&, bool&) { ++reports; };
  EXPECT_EQ(engine.Restore(), 0);
  EXPECT_FALSE(DirectoryExists(dir / "out/d"));
  EXPECT_EQ(reports, 0);
}

TEST_F(RestoreTest, FlatRestoreDropsFoldersAndTheLaterFileWins) {
  WriteArchive(Archive(), {{"/a/same.txt", "first"}, {"/b/c/same.txt", "second"}});
  engine.FlatRestore = true;
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(ReadFile(dir / "out/same.txt"), "second");
  EXPECT_FALSE(DirectoryExists(dir / "out/a"));
}

TEST_F(RestoreTest, ForeignDrivePathsAreRedirectedBelowTheTarget) {
  WriteArchive(Archive(), {{"C:\\Data\\a.txt", "win"}, {"\\\\server\\share\\f.txt", "unc"}});
  engine.IncludeNames = {"C:\\Data\\a.txt", "f.txt"};
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(ReadFile(dir / "out/Data/a.txt"), "win");
  EXPECT_EQ(ReadFile(dir / "out/server/share/f.txt"), "unc");
  EXPECT_TRUE(LogHas("C:\\Data\\a.txt OK obnovené  do " + dir.path() + "/out/Data/a.txt"));
}

// ---- Modes ----

class RestoreModeTest : public RestoreTest {
 protected:
  void SetUp() override {
    RestoreTest::SetUp();
    stored = FixedTime();
    WriteArchive(Archive(), {{"/m/older", "new data"}, {"/m/same", "new data"},
                             {"/m/newer", "new data"}, {"/m/missing", "new data"}});
    const std::uint32_t dos = DateTimeToDos(stored);
    for (const char* n : {"older", "same", "newer"}) WriteFile(dir / ("out/m/" + std::string(n)), "disk");
    SetFileDateTime(dir / "out/m/older", DateTimeToDos(stored - 1.0));
    SetFileDateTime(dir / "out/m/same", dos);
    SetFileDateTime(dir / "out/m/newer", DateTimeToDos(stored + 1.0));
  }
  std::string Content(const char* n) {
    const std::string p = dir / ("out/m/" + std::string(n));
    return FileExists(p) ? ReadFile(p) : "<none>";
  }
  double stored = 0.0;
};

TEST_F(RestoreModeTest, AllOverwritesEverything) {
  engine.RestoreMode = RM_All;
  ASSERT_EQ(engine.Restore(), 0);
  for (const char* n : {"older", "same", "newer", "missing"}) EXPECT_EQ(Content(n), "new data") << n;
}

TEST_F(RestoreModeTest, NewerReplacesOnlyOlderExistingFiles) {
  engine.RestoreMode = RM_Newer;
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(Content("older"), "new data");
  EXPECT_EQ(Content("same"), "disk");
  EXPECT_EQ(Content("newer"), "disk");
  EXPECT_EQ(Content("missing"), "<none>");
}

TEST_F(RestoreModeTest, NewerAndNewAlsoCreatesMissingFiles) {
  engine.RestoreMode = RM_NewerAndNew;
  std::vector<std::int32_t> percents;
  engine.UseExtStatistic = true;
  engine.OnExtStatistic = [&](const TExtBackupStatistic& s, bool&) { percents.push_back(s.PercentDone); };
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(Content("older"), "new data");
  EXPECT_EQ(Content("same"), "disk");
  EXPECT_EQ(Content("newer"), "disk");
  EXPECT_EQ(Content("missing"), "new data");
  // Skipped files count as done as well.
  EXPECT_EQ(percents, (std::vector<std::int32_t>{25, 50, 75, 100}));
}

// ---- Times, attributes, existing targets ----

TEST_F(RestoreTest, StoredTimeAndReadOnlyAttributeAreApplied) {
  WriteArchive(Archive(), {{"/t/ro.txt", "read only", 0x21}, {"/t/rw.txt", "writable", 0x20}});
  engine.RestoreAttributes = true;
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(GetFileDate(dir / "out/t/ro.txt"), DateTimeToDos(FixedTime()));
  EXPECT_EQ(GetFileAttributes(dir / "out/t/ro.txt") & faReadOnly, faReadOnly);
  EXPECT_EQ(GetFileAttributes(dir / "out/t/rw.txt") & faReadOnly, 0u);

  // A read-only file on disk is replaced by the next restore.
  WriteArchive(Archive(), {{"/t/ro.txt", "replaced", 0x20}});
  engine.RestoreAttributes = false;
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(ReadFile(dir / "out/t/ro.txt"), "replaced");
}

TEST_F(RestoreTest, PercentageOfOnlyEmptyFilesIsHundred) {
  WriteArchive(Archive(), {{"/z/a", ""}, {"/z/b", ""}});
  std::vector<std::int32_t> percents;
  engine.OnStatistic = [&](const TBackupStatistic& s, bool&) { percents.push_back(s.PercentDone); };
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(percents, (std::vector<std::int32_t>{100, 100}));
  EXPECT_EQ(ReadFile(dir / "out/z/a"), "");
}

// ---- Failures ----

TEST_F(RestoreTest, ChecksumMismatchIsLoggedAndTheRunGoesOn) {
  WriteArchive(Archive(), {{"/c/bad", "damaged", 0x20, 0.0, true}, {"/c/good", "fine"}});
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_TRUE(LogHas("Chaba (Kontrolný súčet súboru je iný ako u originálneho súboru - súbor "
                     "môže byť poškodený) sa vyskytla počas obnovy /c/bad"));
  EXPECT_EQ(ReadFile(dir / "out/c/good"), "fine");
  EXPECT_EQ(engine.ErrorCount(), 1);

  engine.NoFileCRCs = true;  // nothing is checked then
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_TRUE(LogHas("/c/bad OK obnovené  do " + dir.path() + "/out/c/bad"));
}

TEST_F(RestoreTest, UnwritableTargetIsLoggedAndItsDataReadPast) {
  WriteArchive(Archive(), {{"/w/blocked", RandomBytes(80000, 3)}, {"/w/next", "next"}});
  fs::create_directories(dir / "out/w/blocked");  // a folder where the file goes
  ASSERT_EQ(engine.Restore(), 0);
  bool logged = false;
  for (const auto& l : Log())
    logged |= l.rfind("Chyba (Chyba I/O  (#", 0) == 0 &&
              l.find(") počas vytvárania dočasného súboru) sa vyskytla počas obnovy /w/blocked") !=
                  std::string::npos;
  EXPECT_TRUE(logged);
  EXPECT_EQ(ReadFile(dir / "out/w/next"), "next");
}

TEST_F(RestoreTest, TruncatedArchiveEndsEachRemainingFileWithAReadError) {
  WriteArchive(Archive(), {{"/r/a", RandomBytes(100000, 1)}, {"/r/b", "b"}});
  std::string bytes = ReadFile(Archive());
  bytes.resize(65536);
  WriteFile(Archive(), bytes);
  EXPECT_EQ(engine.Restore(), 0);
  EXPECT_TRUE(LogHas("Chyba (Predčasný koniec súboru pri čítaní súboru) sa vyskytla počas obnovy /r/a") ||
              LogHas("Chyba (Predčasný koniec súboru v hlavičke súboru) sa vyskytla počas obnovy /r/a"));
  EXPECT_TRUE(LogHas("Chyba (Predčasný koniec súboru v hlavičke súboru) sa vyskytla počas obnovy /r/b"));
}

TEST_F(RestoreTest, SettingsAreCheckedInOrderAfterTheStartLines) {
  WriteArchive(Archive(), {{"/p/a", "a"}});
  engine.RestoreTo.clear();
  EXPECT_EQ(engine.Restore(), 1);
  auto log = Log();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[1], "Obnoviť do  pôvodného umiestnenia");
  EXPECT_EQ(log[3], TVaultrex::ErrorText(1));

  engine.RestoreTo = dir / "out";
  engine.EncryptData = true;
  engine.EncryptKey = "short";
  EXPECT_EQ(engine.Restore(), 14);
  engine.EncryptKey = "";
  EXPECT_EQ(engine.Restore(), 1);
  engine.EncryptData = false;
  engine.ArchiveBaseName = "missing.arc";
  EXPECT_EQ(engine.Restore(), 7);
}

TEST_F(RestoreTest, CancelFromTheStatisticsEndsWith12) {
  WriteArchive(Archive(), {{"/u/a", "a"}, {"/u/b", "b"}});
  engine.OnStatistic = [](const TBackupStatistic&, bool& cancel) { cancel = true; };
  EXPECT_EQ(engine.Restore(), 12);
  EXPECT_TRUE(FileExists(dir / "out/u/a"));
  EXPECT_FALSE(FileExists(dir / "out/u/b"));
}

TEST_F(RestoreTest, EncryptedSetIsReadByItsOwnFlagWithTheCurrentKey) {
  WriteArchive(Archive(), {{"/k/a", TextBytes(40000)}}, 1, "spravne heslo");
  engine.EncryptKey = "spravne heslo";  // EncryptData stays off
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(ReadFile(dir / "out/k/a"), TextBytes(40000));
}

// ---- Hostile archives ----

TEST_F(RestoreTest, ParentComponentsAreRefusedAndNothingLandsOutside) {
  WriteArchive(Archive(), {{"/../../escape.txt", "evil"}, {"/x/../../../escape2.txt", "evil"},
                           {"/ok/fine.txt", "fine"}});
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_FALSE(FileExists(dir / "escape.txt"));
  EXPECT_FALSE(FileExists("/tmp/escape.txt"));
  EXPECT_FALSE(FileExists(dir / "escape2.txt"));
  EXPECT_EQ(ReadFile(dir / "out/ok/fine.txt"), "fine");
  int refused = 0;
  for (const auto& l : Log())
    if (l.rfind("Chyba (", 0) == 0 && l.find(") sa vyskytla počas obnovy /") != std::string::npos) ++refused;
  EXPECT_EQ(refused, 2);
  EXPECT_EQ(engine.ErrorCount(), 2);

  // Flat restore takes only the last component: ".." itself is refused.
  WriteArchive(Archive(), {{"/a/..", "evil"}, {"/b/flat-ok", "ok"}});
  engine.FlatRestore = true;
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(ReadFile(dir / "out/flat-ok"), "ok");
}

TEST_F(RestoreTest, SymbolicLinkAtTheTargetIsReplacedNotWrittenThrough) {
  const std::string victim = dir / "victim.txt";
  WriteFile(victim, "precious");
  fs::create_directories(dir / "out/l");
  fs::create_symlink(victim, dir / "out/l/file.txt");
  WriteArchive(Archive(), {{"/l/file.txt", "from archive"}});
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(ReadFile(victim), "precious");
  EXPECT_FALSE(fs::is_symlink(dir / "out/l/file.txt"));
  EXPECT_EQ(ReadFile(dir / "out/l/file.txt"), "from archive");

  // The same holds when restoring to the stored place.
  const std::string stored = dir / "in-place.txt";
  fs::create_symlink(victim, stored);
  WriteArchive(Archive(), {{stored, "new"}});
  engine.RedirectRestore = false;
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(ReadFile(victim), "precious");
  EXPECT_EQ(ReadFile(stored), "new");
}

TEST_F(RestoreTest, SymbolicLinkFolderInsideTheTargetIsNotFollowed) {
  const std::string outside = dir / "outside";
  fs::create_directories(outside);
  fs::create_directories(dir / "out");
  fs::create_symlink(outside, dir / "out/etc");
  WriteArchive(Archive(), {{"/etc/passwd", "evil"}, {"/etc2/passwd", "fine"}});
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_FALSE(FileExists(outside + "/passwd"));
  EXPECT_EQ(ReadFile(dir / "out/etc2/passwd"), "fine");
  EXPECT_EQ(engine.ErrorCount(), 1);
}

TEST(MatchIncludeLineTest, FolderRecursionAndMaskRules) {
  EXPECT_TRUE(TVaultrex::MatchIncludeLine("/d/a.txt", "/d/a.txt", false));
  EXPECT_TRUE(TVaultrex::MatchIncludeLine("/D/A.TXT", "/d/a.txt", false));
  EXPECT_FALSE(TVaultrex::MatchIncludeLine("/d/a.txt", "/d/sub/a.txt", false));
  EXPECT_TRUE(TVaultrex::MatchIncludeLine("/d/a.txt", "/d/sub/a.txt", true));
  EXPECT_TRUE(TVaultrex::MatchIncludeLine("/d/*.txt /S", "/d/sub/a.txt", false));
  EXPECT_TRUE(TVaultrex::MatchIncludeLine("a.txt", "/any/where/a.txt", false));
  EXPECT_FALSE(TVaultrex::MatchIncludeLine("/e/a.txt", "/d/a.txt", true));
  EXPECT_TRUE(TVaultrex::MatchIncludeLine("C:\\Data\\*.txt", "C:\\Data\\a.txt", false));
  EXPECT_FALSE(TVaultrex::MatchIncludeLine("C:\\Data\\*.txt", "C:\\Other\\a.txt", false));
}

}  // namespace
}  // namespace vx
