// Restore: round trips through Backup on real folders, selection, modes,
// redirect and flat targets, times and attributes, per-file failures, and
// hostile sets that try to write outside the restore folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "archive/errors.h"
#include "common/engine_fixture.h"
#include "common/named_case.h"
#include "engine/vaultrex.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace vx {
namespace {

using namespace vx::test;
namespace fs = std::filesystem;

class RestoreTest : public TEngineTest {
 protected:
  void SetUp() override {
    UseLog(dir / "restore.log");
    RestoreEverythingTo("out");
  }
  std::string Out(const std::string& rel) const {
    const std::string p = dir / ("out/" + rel);
    return FileExists(p) ? ReadFile(p) : "<none>";
  }
};

class RoundTripTest : public RestoreTest,
                      public ::testing::WithParamInterface<std::tuple<TCompressData, bool, bool>> {
};

TEST_P(RoundTripTest, EveryFileComesBackByteForByteWithItsTime) {
  const auto [compress, encrypt, volumes] = GetParam();
  const std::string src = dir / "src";
  const std::vector<std::pair<std::string, std::string>> files = {
      {"text.txt", TextBytes(100000)},
      {"noise.bin", NoiseBytes(70001)},
      {"empty", ""},
      {"exact", NoiseBytes(32768, 6)},
      {"sub/deeper/čriepok.md", TextBytes(3)}};
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
  ASSERT_EQ(FileExists(dir / "sets/set.002"), volumes);

  engine.BackupDestination = backup.BackupDestination;
  engine.ArchiveBaseName = backup.ArchiveBaseName;
  engine.SpanDisks = volumes;
  engine.EncryptKey = backup.EncryptKey;  // the set's own flag decides on deciphering
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(engine.RestoreTo, dir / "out/");
  for (const auto& [name, content] : files) {
    const std::string restored = dir / ("out" + src + "/" + name);
    EXPECT_EQ(ReadFile(restored), content) << name;
    EXPECT_EQ(GetFileDate(restored), GetFileDate(src + "/" + name)) << name;
    EXPECT_TRUE(LogHas(src + "/" + name + " OK obnovené  do " + restored)) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(Settings, RoundTripTest,
                         ::testing::Combine(::testing::Values(CDM_NoCompression,
                                                              CDM_QuickCompression,
                                                              CDM_MaxCompression),
                                            ::testing::Bool(), ::testing::Bool()));

TEST_F(RestoreTest, InPlaceRestoreWritesTheStoredPathAndTheLogLines) {
  const std::string a = dir / "home/a.txt";
  WriteFile(a, "original");
  WriteArchive(Archive(), {{a, "from the set"}, {"C:\\Data\\win.txt", "x"}});
  engine.RedirectRestore = false;
  ASSERT_EQ(engine.Restore(), 9);  // the refused file fails the run
  EXPECT_EQ(ReadFile(a), "from the set");
  const auto log = Log();
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[0].rfind("Štart obnovy z " + dir.path() + "  ", 0), 0u);
  EXPECT_EQ(log[1], "Obnoviť na pôvodné miesto");
  EXPECT_EQ(log[3], a + " OK obnovené  do " + a);
  // A drive-letter path has no place on this system: refused, not written
  // into the current folder.
  EXPECT_EQ(log[4].rfind("Chyba (", 0), 0u);
  EXPECT_EQ(log[5], TVaultrex::ErrorText(9));
}

TEST_F(RestoreTest, SelectionFlatAndForeignPaths) {
  WriteArchive(Archive(), {{"/d/one.txt", "1"},
                           {"/d/two.bin", NoiseBytes(50000)},
                           {"/d/sub/one.txt", "4"},
                           {"C:\\Data\\a.txt", "win"},
                           {"\\\\server\\share\\f.txt", "unc"}});
  engine.IncludeNames = {"", "/d/*.txt", "C:\\Data\\a.txt", "f.txt"};
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(Out("d/one.txt"), "1");
  EXPECT_EQ(Out("d/two.bin"), "<none>");
  EXPECT_EQ(Out("d/sub/one.txt"), "<none>");
  EXPECT_EQ(Out("Data/a.txt"), "win");
  EXPECT_EQ(Out("server/share/f.txt"), "unc");
  EXPECT_EQ(engine.FileList()[1].mark, 1);
  EXPECT_EQ(engine.FileList()[2].mark, 1);

  // Flat: folders dropped, the later of two equal names wins.
  engine.RecurseSubDir = true;
  engine.FlatRestore = true;
  engine.RestoreTo = dir / "flat";
  engine.IncludeNames = {"/d/one.txt"};
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(ReadFile(dir / "flat/one.txt"), "4");

  // Nothing selected: nothing written, no statistics, still success.
  engine.IncludeNames.clear();
  engine.RestoreTo = dir / "none";
  int reports = 0;
  engine.OnStatistic = [&](const TBackupStatistic&, bool&) { ++reports; };
  EXPECT_EQ(engine.Restore(), 0);
  EXPECT_FALSE(DirectoryExists(dir / "none"));
  EXPECT_EQ(reports, 0);
}

// Each restore mode against targets older than, as old as and newer than the
// stored files, and a missing one; the skipped files count in the progress.
struct TModeCase {
  const char* name;
  TRestoreMode mode;
  const char* outcome;  // older, same, newer, missing afterwards
};
void PrintTo(const TModeCase& c, std::ostream* os) { *os << c.name; }

class RestoreModes : public RestoreTest, public ::testing::WithParamInterface<TModeCase> {};

TEST_P(RestoreModes, CompareTheTargetTimeWithTheStoredOne) {
  WriteArchive(
      Archive(),
      {{"/m/older", "new"}, {"/m/same", "new"}, {"/m/newer", "new"}, {"/m/missing", "new"}});
  for (const char* n : {"older", "same", "newer"})
    WriteFile(dir / ("out/m/" + std::string(n)), "disk");
  SetFileDateTime(dir / "out/m/older", DateTimeToDos(FixedTime() - 1.0));
  SetFileDateTime(dir / "out/m/same", DateTimeToDos(FixedTime()));
  SetFileDateTime(dir / "out/m/newer", DateTimeToDos(FixedTime() + 1.0));
  std::vector<std::int32_t> percents;
  engine.OnStatistic = [&](const TBackupStatistic& s, bool&) { percents.push_back(s.PercentDone); };
  engine.RestoreMode = GetParam().mode;
  ASSERT_EQ(engine.Restore(), 0);
  std::string outcome;
  for (const char* n : {"older", "same", "newer", "missing"})
    outcome += Out("m/" + std::string(n)) + " ";
  EXPECT_EQ(outcome, GetParam().outcome);
  EXPECT_EQ(percents, (std::vector<std::int32_t>{25, 50, 75, 100}));
}

INSTANTIATE_TEST_SUITE_P(Modes, RestoreModes,
                         ::testing::Values(TModeCase{"All", RM_All, "new new new new "},
                                           TModeCase{"Newer", RM_Newer, "new disk disk <none> "},
                                           TModeCase{"NewerAndNew", RM_NewerAndNew,
                                                     "new disk disk new "}),
                         vx::test::TCaseName());

// Only empty files selected: the percentage is 100, not a division by 0.
TEST_F(RestoreTest, OnlyEmptyFilesReportOneHundredPercent) {
  WriteArchive(Archive(), {{"/z/a", ""}});
  std::vector<std::int32_t> percents;
  engine.OnStatistic = [&](const TBackupStatistic& s, bool&) { percents.push_back(s.PercentDone); };
  engine.RestoreMode = RM_NewerAndNew;
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(percents, (std::vector<std::int32_t>{100}));
}

TEST_F(RestoreTest, TimeAndReadOnlyAttributeAreAppliedAndReadOnlyTargetsReplaced) {
  WriteArchive(Archive(), {{"/t/ro.txt", "read only", 0x21}, {"/t/rw.txt", "writable", 0x20}});
  engine.RestoreAttributes = true;
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(GetFileDate(dir / "out/t/ro.txt"), DateTimeToDos(FixedTime()));
  EXPECT_EQ(GetFileAttributes(dir / "out/t/ro.txt") & faReadOnly, faReadOnly);
  EXPECT_EQ(GetFileAttributes(dir / "out/t/rw.txt") & faReadOnly, 0u);

  WriteArchive(Archive(), {{"/t/ro.txt", "replaced", 0x20}});
  engine.RestoreAttributes = false;
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(Out("t/ro.txt"), "replaced");
}

TEST_F(RestoreTest, PerFileFailuresAreLoggedAndTheRunGoesOn) {
  WriteArchive(
      Archive(),
      {{"/c/bad", "damaged", 0x20, true}, {"/c/blocked", NoiseBytes(80000)}, {"/c/good", "fine"}});
  fs::create_directories(dir / "out/c/blocked");  // a folder where the file goes
  ASSERT_EQ(engine.Restore(), 9);
  EXPECT_TRUE(
      LogHas("Chaba (Kontrolný súčet súboru je iný ako u originálneho súboru - súbor "
             "môže byť poškodený) sa vyskytla počas obnovy /c/bad"));
  EXPECT_TRUE(
      LogHas("Chyba (Chyba I/O  (#21) počas vytvárania dočasného súboru: Is a directory) sa "
             "vyskytla "
             "počas obnovy /c/blocked"));
  EXPECT_EQ(Out("c/good"), "fine");  // the blocked file's data were read past
  EXPECT_EQ(engine.ErrorCount(), 2);

  engine.NoFileCRCs = true;        // then nothing is checked
  ASSERT_EQ(engine.Restore(), 9);  // the blocked file still fails
  EXPECT_TRUE(LogHas("/c/bad OK obnovené  do " + dir.path() + "/out/c/bad"));

  // A set cut short: every file from there on fails on its own.
  WriteArchive(Archive(), {{"/r/a", NoiseBytes(100000)}, {"/r/b", "b"}});
  std::string bytes = ReadFile(Archive());
  bytes.resize(65536);
  WriteFile(Archive(), bytes);
  EXPECT_EQ(engine.Restore(), 9);
  EXPECT_TRUE(
      LogHas("Chyba (Predčasný koniec súboru v hlavičke súboru) sa vyskytla počas obnovy /r/b"));
}

TEST_F(RestoreTest, RefusedSettingsAndCancelEndTheRun) {
  WriteArchive(Archive(), {{"/u/a", "a"}, {"/u/b", "b"}});
  engine.RestoreTo.clear();
  EXPECT_EQ(engine.Restore(), 1);
  const auto log = Log();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[1], "Obnoviť do  pôvodného umiestnenia");
  EXPECT_EQ(log[3], TVaultrex::ErrorText(1));

  engine.RestoreTo = dir / "out";
  engine.OnStatistic = [](const TBackupStatistic&, bool& cancel) { cancel = true; };
  EXPECT_EQ(engine.Restore(), 12);
  EXPECT_EQ(Out("u/a"), "a");
  EXPECT_EQ(Out("u/b"), "<none>");
}

TEST_F(RestoreTest, ParentComponentsAreRefusedAndNothingLandsOutside) {
  WriteArchive(Archive(), {{"/../../escape.txt", "evil"},
                           {"/x/../../../escape2.txt", "evil"},
                           {"/ok/fine.txt", "fine"}});
  ASSERT_EQ(engine.Restore(), 9);
  EXPECT_FALSE(FileExists(dir / "escape.txt"));
  EXPECT_FALSE(FileExists("/tmp/escape.txt"));
  EXPECT_FALSE(FileExists(dir / "escape2.txt"));
  EXPECT_EQ(Out("ok/fine.txt"), "fine");
  EXPECT_EQ(engine.ErrorCount(), 2);
  EXPECT_EQ(Log()[3].rfind("Chyba (", 0), 0u);
  EXPECT_NE(Log()[3].find(") sa vyskytla počas obnovy /../../escape.txt"), std::string::npos);

  // Flat takes only the last component: ".." itself is refused.
  WriteArchive(Archive(), {{"/a/..", "evil"}, {"/b/flat-ok", "ok"}});
  engine.FlatRestore = true;
  ASSERT_EQ(engine.Restore(), 9);
  EXPECT_EQ(Out("flat-ok"), "ok");
  EXPECT_EQ(engine.ErrorCount(), 1);
}

TEST_F(RestoreTest, SymbolicLinksAreReplacedOrRefusedNeverFollowed) {
  const std::string victim = dir / "victim.txt";
  WriteFile(victim, "precious");
  fs::create_directories(dir / "outside");
  fs::create_directories(dir / "out/l");
  fs::create_symlink(victim, dir / "out/l/file.txt");    // a link at the target
  fs::create_symlink(dir / "outside", dir / "out/etc");  // a linked folder
  const std::string inPlace = dir / "in-place.txt";
  fs::create_symlink(victim, inPlace);
  WriteArchive(Archive(), {{"/l/file.txt", "from set"}, {"/etc/passwd", "evil"}});
  ASSERT_EQ(engine.Restore(), 9);
  EXPECT_FALSE(fs::is_symlink(dir / "out/l/file.txt"));
  EXPECT_EQ(Out("l/file.txt"), "from set");
  EXPECT_FALSE(FileExists(dir / "outside/passwd"));
  EXPECT_EQ(engine.ErrorCount(), 1);

  WriteArchive(Archive(), {{inPlace, "new"}});
  engine.RedirectRestore = false;
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(ReadFile(inPlace), "new");
  EXPECT_EQ(ReadFile(victim), "precious");
}

// Small files are written on threads of their own: every file ends as it
// does on the caller's thread alone, and the log tells of each in the same
// order, failures (a folder at the target, a wrong checksum, a refused
// stored path, a file where a later file's folder goes) and a file too big
// to be handed over among them, and a target named twice.
TEST_F(RestoreTest, TheWriterThreadsEndAndReportEveryFileAsTheCallersThreadAlone) {
  const std::vector<TStoredFile> files = {{"/w/s1", "one"},
                                          {"/w/blocked", "x"},
                                          {"/w/../w-refused", "z"},
                                          {"/w/big", TextBytes(100000)},
                                          {"/w/bad", "damaged", 0x20, true},
                                          {"/w/dup", "first"},
                                          {"/w/s2", "two"},
                                          {"/w/blocked2", "y"},
                                          {"/w/dup", "second"},
                                          {"/w/node", "file"},
                                          {"/w/node/inner", "in"},
                                          {"/w/s3", ""}};
  WriteArchive(Archive(), files);
  std::vector<std::string> logs[2];
  std::string ends[2];
  for (const int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    fs::remove_all(dir / "out");
    fs::create_directories(dir / "out/w/blocked");
    fs::create_directories(dir / "out/w/blocked2");
    fs::remove(engine.LogFileName);
    engine.BackupThreads = threads;
    ASSERT_EQ(engine.Restore(), 9);
    EXPECT_EQ(engine.ErrorCount(), 5);
    for (const std::string& line : Log())
      if (line.find("/w/") != std::string::npos) logs[threads - 1].push_back(line);
    for (const char* name : {"s1", "big", "bad", "dup", "s2", "node", "s3"})
      ends[threads - 1] += Out(std::string("w/") + name).substr(0, 20) + "|";
  }
  EXPECT_EQ(logs[1], logs[0]);
  EXPECT_EQ(ends[1], ends[0]);
  EXPECT_EQ(ends[0].substr(ends[0].find("|damaged")), "|damaged|second|two|file||");
}

// The folders of one run are found again for every file: a folder swapped
// for a link (or moved away) between two files is never written through, and
// files that alternate between folders each land in their own.
// On the caller's thread alone each report follows its file's write, so the
// swap comes exactly after the first file; with the writer thread the files
// may lag behind the reports, and only where they go is certain.
TEST_F(RestoreTest, FoldersSwappedDuringTheRunAreNotFollowed) {
  WriteArchive(
      Archive(),
      {{"/a/1", "a1"}, {"/b/1", "b1"}, {"/a/2", "a2"}, {"/b/deep/er/2", "b2"}, {"/b/3", "b3"}});
  for (const int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    fs::remove_all(dir / "out");
    fs::remove_all(dir / "moved");
    fs::create_directories(dir / "outside");
    engine.BackupThreads = threads;
    int files = 0;
    engine.OnStatistic = [&](const TBackupStatistic&, bool&) {
      if (++files != 2) return;
      fs::create_directories(dir / "out/a");
      fs::rename(dir / "out/a", dir / "moved");
      fs::create_symlink(dir / "outside", dir / "out/a");
    };
    ASSERT_EQ(engine.Restore(), 9);
    EXPECT_TRUE(fs::is_empty(dir / "outside"));
    EXPECT_FALSE(FileExists(dir / "moved/2"));
    EXPECT_EQ(Out("b/1"), "b1");
    EXPECT_EQ(Out("b/deep/er/2"), "b2");
    EXPECT_EQ(Out("b/3"), "b3");
    if (threads == 1) {
      EXPECT_EQ(ReadFile(dir / "moved/1"), "a1");
      EXPECT_EQ(engine.ErrorCount(), 1);
      EXPECT_NE(Log()[5].find(") sa vyskytla počas obnovy /a/2"), std::string::npos) << Log()[5];
    }
  }

  // The same alternation restored to the stored paths.
  const std::string p = dir / "p", q = dir / "q";
  WriteArchive(Archive(), {{p + "/1", "p1"},
                           {q + "/1", "q1"},
                           {p + "/2", "p2"},
                           {q + "/sub/2", "q2"},
                           {p + "/3", "p3"}});
  engine.RedirectRestore = false;
  engine.OnStatistic = nullptr;
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(engine.ErrorCount(), 0);
  for (const auto& [path, content] :
       std::vector<std::pair<std::string, std::string>>{{p + "/1", "p1"},
                                                        {q + "/1", "q1"},
                                                        {p + "/2", "p2"},
                                                        {q + "/sub/2", "q2"},
                                                        {p + "/3", "p3"}})
    EXPECT_EQ(ReadFile(path), content) << path;
}

}  // namespace
}  // namespace vx
