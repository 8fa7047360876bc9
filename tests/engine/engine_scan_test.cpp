// The file selection scan on real folders, and the mask matchers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>

#include "common/engine_fixture.h"
#include "common/files.h"
#include "common/named_case.h"
#include "common/temp_folder.h"
#include "engine/vaultrex.h"
#include "platform/date_time.h"
#include "platform/file_system.h"
#include "platform/hooks.h"
#include "support/utils.h"

namespace vx {
namespace {

namespace fs = std::filesystem;
using test::ReadLines;
using test::WriteFile;

// ---- The matchers ----

TEST(EngineMatchMask, SinglePassQuirks) {
  EXPECT_TRUE(TVaultrex::MatchMask("*.tm", "a.tmp"));  // a matching beginning suffices
  EXPECT_TRUE(TVaultrex::MatchMask("*", "Makefile"));
  EXPECT_TRUE(TVaultrex::MatchMask("*", ""));
  EXPECT_FALSE(TVaultrex::MatchMask("*.*", "Makefile"));  // no extension: final * never reached
  EXPECT_TRUE(TVaultrex::MatchMask("*.*", "a.txt"));
  EXPECT_FALSE(TVaultrex::MatchMask("*.txt", "a.b.txt"));   // * stops at the first "."
  EXPECT_TRUE(TVaultrex::MatchMask("*.TXT", "Notes.txt"));  // without regard to case
  EXPECT_TRUE(TVaultrex::MatchMask("a?c.*", "abc.d"));
  EXPECT_FALSE(TVaultrex::MatchMask("a?c", "ac"));
  EXPECT_TRUE(TVaultrex::MatchMask("readme", "readme"));
  EXPECT_TRUE(TVaultrex::MatchMask("read", "readme"));  // unused name characters do not matter
  EXPECT_FALSE(TVaultrex::MatchMask("readme.txt", "readme"));
  EXPECT_FALSE(TVaultrex::MatchMask("*a", "ab"));  // * swallows at least one character
  // A name beginning with "." drops the mask's text before its first ".".
  EXPECT_TRUE(TVaultrex::MatchMask("x.bashrc", ".bashrc"));
  EXPECT_TRUE(TVaultrex::MatchMask("*.*", ".profile"));
  EXPECT_FALSE(TVaultrex::MatchMask("x.cfg", ".bashrc"));
}

TEST(EngineMatchExclude, FolderPartsDecideWhere) {
  // No folder part: every folder.
  EXPECT_TRUE(TVaultrex::MatchExclude("*.tmp", "/data/x/a.tmp", false));
  EXPECT_FALSE(TVaultrex::MatchExclude("*.tmp", "/data/x/a.txt", false));
  // With a folder part and no recursion: that folder only, case ignored.
  EXPECT_TRUE(TVaultrex::MatchExclude("/Data/*.tmp", "/data/a.tmp", false));
  EXPECT_FALSE(TVaultrex::MatchExclude("/data/*.tmp", "/data/sub/a.tmp", false));
  // With recursion: any folder whose path contains the pattern's folder.
  EXPECT_TRUE(TVaultrex::MatchExclude("/data/*.tmp", "/data/sub/a.tmp", true));
  EXPECT_TRUE(TVaultrex::MatchExclude("/data/*.tmp", "/backup/DATA/a.tmp", true));
  EXPECT_FALSE(TVaultrex::MatchExclude("/data/*.tmp", "/database/a.tmp", true));
  EXPECT_FALSE(TVaultrex::MatchExclude("/data/*.tmp", "/data/a.txt", true));
}

// ---- The scan, driven through Backup on real folders ----

class EngineScan : public test::TEngineTest {
 protected:
  void SetUp() override { engine.NoFileCRCs = true; }

  std::vector<std::string> Paths() const {
    std::vector<std::string> out;
    for (const TDirRecord& r : engine.FileList()) out.push_back(r.path);
    return out;
  }
  std::vector<std::string> SortedPaths() const {
    auto p = Paths();
    std::sort(p.begin(), p.end());
    return p;
  }
  int IndexIn(const std::string& path) const {
    const auto p = Paths();
    const auto it = std::find(p.begin(), p.end(), path);
    return it == p.end() ? -1 : static_cast<int>(it - p.begin());
  }
};

TEST_F(EngineScan, RecursionMarkerWalksSubfoldersDepthFirstAfterTheFolderItself) {
  WriteFile(Src("a.txt"), "a");
  WriteFile(Src("Makefile"), "m");
  WriteFile(Src("sub/b.txt"), "b");
  WriteFile(Src("sub/deep/c.txt"), "c");
  WriteFile(Src("sub2/d.txt"), "d");

  engine.AddToIncludes(src.path() + "/*.*");
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_EQ(SortedPaths(), (std::vector<std::string>{Src("Makefile"), Src("a.txt")}));

  engine.ClearIncludes();
  engine.AddToIncludes(src.path() + "/*.* /s  ");
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_EQ(SortedPaths(),
            (std::vector<std::string>{Src("Makefile"), Src("a.txt"), Src("sub/b.txt"),
                                      Src("sub/deep/c.txt"), Src("sub2/d.txt")}));
  EXPECT_LT(IndexIn(Src("a.txt")), IndexIn(Src("sub/b.txt")));
  EXPECT_LT(IndexIn(Src("Makefile")), IndexIn(Src("sub2/d.txt")));
  EXPECT_LT(IndexIn(Src("sub/b.txt")), IndexIn(Src("sub/deep/c.txt")));
  // Depth first: sub's whole subtree is together, not interleaved with sub2.
  const int b = IndexIn(Src("sub/b.txt"));
  const int c = IndexIn(Src("sub/deep/c.txt"));
  const int d = IndexIn(Src("sub2/d.txt"));
  EXPECT_TRUE(d < b || d > c);

  // RecurseSubDir does the same for entries without the marker.
  engine.ClearIncludes();
  engine.AddToIncludes(src.path() + "/*.*");
  engine.RecurseSubDir = true;
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_EQ(engine.FileList().size(), 5u);
}

TEST_F(EngineScan, EntryNamingOneFileSearchesSubfoldersWithItsNameAndAnyExtension) {
  WriteFile(Src("readme"), "r");
  WriteFile(Src("other"), "o");
  WriteFile(Src("sub/readme.md"), "r2");
  WriteFile(Src("sub/readme"), "r3");
  WriteFile(Src("sub/notes.md"), "n");
  engine.AddToIncludes(Src("readme"));
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_EQ(Paths(), std::vector<std::string>{Src("readme")});

  engine.RecurseSubDir = true;
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_EQ(SortedPaths(),
            (std::vector<std::string>{Src("readme"), Src("sub/readme"), Src("sub/readme.md")}));
  EXPECT_EQ(IndexIn(Src("readme")), 0);
}

TEST_F(EngineScan, HiddenFilesNeedTheFlagSpecialFilesAreNeverTaken) {
  WriteFile(Src("a.txt"), "a");
  WriteFile(Src(".hidden"), "h");
  WriteFile(Src(".config/app.conf"), "c");
  ASSERT_EQ(::mkfifo(Src("pipe").c_str(), 0600), 0);  // reading it would hang
  engine.AddToIncludes(src.path() + "/*.* /S");
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_EQ(Paths(), std::vector<std::string>{Src("a.txt")});
  EXPECT_EQ(engine.LeftOutCount(), 0);

  engine.BackupHiddenSysFiles = true;
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_EQ(SortedPaths(),
            (std::vector<std::string>{Src(".config/app.conf"), Src(".hidden"), Src("a.txt")}));
  const auto& hidden = engine.FileList()[static_cast<std::size_t>(IndexIn(Src(".hidden")))];
  EXPECT_NE(hidden.attr & faHidden, 0u);

  engine.BackupMode = BM_Differential;  // the FIFO is not counted as left out either
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_EQ(engine.LeftOutCount(), 3);
}

TEST_F(EngineScan, RecordCarriesSizeAttributesTimeAndChecksum) {
  const std::string content = test::NoiseBytes(5000, 7);
  WriteFile(Src("data.bin"), content);
  WriteFile(Src("empty.txt"), "");
  WriteFile(Src("ro.txt"), "read only");
  const std::string big = test::NoiseBytes(600001, 9);
  WriteFile(Src("big.bin"), big);
  ASSERT_EQ(::chmod(Src("ro.txt").c_str(), 0444), 0);
  engine.NoFileCRCs = false;
  engine.AddToIncludes(src.path() + "/*");
  ASSERT_EQ(engine.Backup(), 0);

  const auto& rec = engine.FileList()[static_cast<std::size_t>(IndexIn(Src("data.bin")))];
  EXPECT_EQ(rec.size, 5000);
  const uLong zlibCrc =
      crc32(0L, reinterpret_cast<const Bytef*>(content.data()), static_cast<uInt>(content.size()));
  EXPECT_EQ(rec.crc, static_cast<std::uint32_t>(zlibCrc) ^ 0xFFFFFFFFu);  // no final inversion
  EXPECT_EQ(rec.mark, 0);
  EXPECT_NE(rec.attr & faArchive, 0u);  // never backed up before
  EXPECT_EQ(rec.attr & (faReadOnly | faHidden | faDirectory), 0u);
  EXPECT_DOUBLE_EQ(rec.time, DosToDateTime(GetFileDate(Src("data.bin"))));

  EXPECT_EQ(engine.FileList()[static_cast<std::size_t>(IndexIn(Src("empty.txt")))].crc,
            0xFFFFFFFFu);
  // A file read in several pieces gives the checksum of the whole.
  const auto& bigRec = engine.FileList()[static_cast<std::size_t>(IndexIn(Src("big.bin")))];
  EXPECT_EQ(bigRec.crc, vx::CrcUpdate(vx::kCrcInit, big.data(), big.size()));
  EXPECT_NE(engine.FileList()[static_cast<std::size_t>(IndexIn(Src("ro.txt")))].attr & faReadOnly,
            0u);

  engine.NoFileCRCs = true;
  ASSERT_EQ(engine.Backup(), 0);
  for (const auto& r : engine.FileList()) EXPECT_EQ(r.crc, 0u);
  // After a full backup the attribute reads clear.
  for (const auto& r : engine.FileList()) EXPECT_EQ(r.attr & faArchive, 0u) << r.path;
}

TEST_F(EngineScan, ModesDecideByArchiveAttributeAndDate) {
  WriteFile(Src("a.txt"), "a");
  WriteFile(Src("b.txt"), "b");
  engine.AddToIncludes(src.path() + "/*.*");

  engine.BackupMode = BM_Incremental;
  ASSERT_EQ(engine.Backup(), 0);  // nothing backed up yet: all taken, then cleared
  EXPECT_EQ(engine.FileList().size(), 2u);
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_TRUE(engine.FileList().empty());
  EXPECT_EQ(engine.LeftOutCount(), 2);

  engine.BackupMode = BM_Special;
  engine.KeepArchiveFlags = true;
  ASSERT_EQ(engine.Backup(), 0);  // date 0: everything is newer
  ASSERT_EQ(engine.FileList().size(), 2u);
  const double stamp = engine.FileList()[0].time;
  const std::string path = engine.FileList()[0].path;
  engine.SpecialBackupDate = stamp;  // equal: taken
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_NE(IndexIn(path), -1);
  engine.SpecialBackupDate = stamp + 1.0 / 86400.0 * 4;  // four seconds later: left out
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_EQ(IndexIn(path), -1);
  EXPECT_GE(engine.LeftOutCount(), 1);
}

TEST_F(EngineScan, ExclusionsByMaskFolderAndRecursion) {
  for (const char* rel : {"a.tmp", "a.txt", "Makefile", "sub/b.tmp", "sub/b.txt"}) {
    WriteFile(Src(rel), rel);
  }
  WriteFile(dir / "other/c.tmp", "c");
  engine.AddToIncludes(src.path() + "/*.* /S");
  engine.AddToIncludes(dir.path() + "/other/*.*");
  engine.ArchiveBaseName = "x.arc";

  engine.AddToExcludes("*.tmp");
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_EQ(SortedPaths(),
            (std::vector<std::string>{Src("Makefile"), Src("a.txt"), Src("sub/b.txt")}));

  engine.ClearExcludes();
  std::string upper = src.path();
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  engine.AddToExcludes(upper + "/*.TMP");  // that folder only, case ignored
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_EQ(IndexIn(Src("a.tmp")), -1);
  EXPECT_NE(IndexIn(Src("sub/b.tmp")), -1);
  EXPECT_NE(IndexIn(dir / "other/c.tmp"), -1);

  engine.ClearExcludes();
  engine.AddToExcludes("  " + src.path() + "/*.tmp /S  ");  // and its subfolders
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_EQ(IndexIn(Src("a.tmp")), -1);
  EXPECT_EQ(IndexIn(Src("sub/b.tmp")), -1);
  EXPECT_NE(IndexIn(dir / "other/c.tmp"), -1);

  engine.ClearExcludes();
  engine.AddToExcludes("*.*");  // removes names with an extension only
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_EQ(Paths(), std::vector<std::string>{Src("Makefile")});
}

TEST_F(EngineScan, AFileFoundTwiceIsListedTwiceAndFoundWithoutRegardToCase) {
  WriteFile(Src("a.txt"), "a");
  engine.AddToIncludes(src.path() + "/*.*");
  engine.AddToIncludes(Src("a.txt"));
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_EQ(Paths(), (std::vector<std::string>{Src("a.txt"), Src("a.txt")}));
  std::string upper = Src("a.txt");
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  EXPECT_EQ(engine.IndexOfPath(upper), 0);
  EXPECT_EQ(engine.IndexOfPath(Src("b.txt")), -1);
}

TEST_F(EngineScan, EventsComeInTheirOrder) {
  WriteFile(Src("a.txt"), "a");
  WriteFile(Src("sub/b.txt"), "b");
  std::vector<std::string> events;
  engine.OnStartFileScan = [&](const std::string& d, TReaction&) {
    events.push_back("start:" + d);
  };
  engine.OnScanNextDir = [&](const std::string& d, TReaction& r) {
    EXPECT_EQ(r, AW_IGNORE);
    events.push_back("dir:" + d);
  };
  engine.OnScanNextFile = [&](const std::string& f, TReaction& r) {
    EXPECT_EQ(r, AW_IGNORE);
    events.push_back("file:" + f);
  };
  engine.OnEndFileScan = [&](const std::string& d, TReaction&) { events.push_back("end:" + d); };
  engine.OnCantOpenFile = [&](const std::string&, TReaction&) { events.push_back("open?"); };
  engine.OnNextBlock = [&](const std::string& n, std::int64_t, std::int64_t) {
    events.push_back("block:" + n);
  };
  engine.OnStatistic = [&](const TBackupStatistic& s, bool&) {
    events.push_back("stat:" + s.CurrentFile);
  };
  engine.AddToIncludes(src.path() + "/*.* /S");
  ASSERT_EQ(engine.Backup(), 0);
  const std::vector<std::string> expected = {"start:",
                                             "dir:" + src.path() + "/",
                                             "file:a.txt",
                                             "dir:" + src.path() + "/sub/",
                                             "file:b.txt",
                                             "end:",
                                             "block:" + Src("a.txt"),
                                             "stat:" + Src("a.txt"),
                                             "block:" + Src("sub/b.txt"),
                                             "stat:" + Src("sub/b.txt")};
  EXPECT_EQ(events, expected);
}

TEST_F(EngineScan, PendingMessagesRunOnlyInBackgroundMode) {
  WriteFile(Src("a.txt"), test::NoiseBytes(40000));  // two data blocks
  WriteFile(Src("sub/b.txt"), "b");
  int runs = 0;
  SetProcessMessagesHook([&] { ++runs; });
  engine.AddToIncludes(src.path() + "/*.* /S");
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_EQ(runs, 0);
  engine.RunInBackground = true;
  ASSERT_EQ(engine.Backup(), 0);
  SetProcessMessagesHook(nullptr);
  // Two folders, two files found, three data blocks, two files archived.
  EXPECT_EQ(runs, 2 + 2 + 3 + 2);
}

struct AbortCase {
  const char* name;
  void (*arm)(TVaultrex&);
};
void PrintTo(const AbortCase& c, std::ostream* os) { *os << c.name; }

class EngineScanAbort : public EngineScan, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(EngineScanAbort, EveryScanQuestionCanEndTheBackup) {
  WriteFile(Src("a.txt"), "a");
  engine.AddToIncludes(src.path() + "/*.*");
  engine.AddToIncludes(src.path() + "/nothing/*.*");  // for the warning
  engine.LogFileMode = LFM_CreateNew;
  engine.LogFileName = dir / "scan.log";
  GetParam().arm(engine);
  EXPECT_EQ(engine.Backup(), 12);
  EXPECT_FALSE(fs::exists(dir / "set.arc"));
  const auto lines = ReadLines(engine.LogFileName);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(),
            "Prerušenie zálohovania spôsobené Prerušené volajúcou aplikáciou / užívateľom");
}

INSTANTIATE_TEST_SUITE_P(
    Answers, EngineScanAbort,
    ::testing::Values(
        AbortCase{"Start",
                  [](TVaultrex& engine) {
                    engine.OnStartFileScan = [](const std::string&, TReaction& r) { r = AW_ABORT; };
                  }},
        AbortCase{"Dir",
                  [](TVaultrex& engine) {
                    engine.OnScanNextDir = [](const std::string&, TReaction& r) { r = AW_ABORT; };
                  }},
        AbortCase{"File",
                  [](TVaultrex& engine) {
                    engine.OnScanNextFile = [](const std::string&, TReaction& r) { r = AW_ABORT; };
                  }},
        AbortCase{"Warning",
                  [](TVaultrex& engine) {
                    engine.OnWarning = [](TWarningType, const std::string&, TReaction& r) {
                      r = AW_ABORT;
                    };
                  }},
        AbortCase{"End",
                  [](TVaultrex& engine) {
                    engine.OnEndFileScan = [](const std::string&, TReaction& r) { r = AW_ABORT; };
                  }}),
    vx::test::TCaseName());

// The checksum pass after the listing, with one thread or several: every
// record gets the checksum of its own file (tiny, empty, read in several
// pieces), and a stop asked for while it runs ends the backup.
class EngineScanChecksums : public EngineScan, public ::testing::WithParamInterface<int> {
 protected:
  static constexpr int kFiles = 300;
  std::vector<std::string> contents;

  void SetUp() override {
    engine.NoFileCRCs = false;
    engine.BackupThreads = GetParam();
    for (int i = 0; i < kFiles; ++i) {
      const std::size_t size = i % 100 == 7  ? 300000 + static_cast<std::size_t>(i)
                               : i % 50 == 3 ? 0
                                             : 2500 + static_cast<std::size_t>(i);
      contents.push_back(test::NoiseBytes(size, static_cast<std::uint32_t>(i + 1)));
      WriteFile(Src("f" + std::to_string(1000 + i)), contents.back());
    }
    engine.AddToIncludes(src.path() + "/*");
  }
};

TEST_P(EngineScanChecksums, EveryRecordGetsItsOwnFilesChecksum) {
  ASSERT_EQ(engine.Backup(), 0);
  ASSERT_EQ(engine.FileList().size(), static_cast<std::size_t>(kFiles));
  for (int i = 0; i < kFiles; ++i) {
    const int at = IndexIn(Src("f" + std::to_string(1000 + i)));
    ASSERT_GE(at, 0);
    const std::string& c = contents[static_cast<std::size_t>(i)];
    EXPECT_EQ(engine.FileList()[static_cast<std::size_t>(at)].crc,
              vx::CrcUpdate(vx::kCrcInit, c.data(), c.size()))
        << i;
  }
}

TEST_P(EngineScanChecksums, StopAskedDuringThePassEndsTheBackup) {
  // The listing asks once per file; the stop comes in the checksum pass.
  int asked = 0;
  SetStopRequestHook([&asked] { return ++asked > kFiles + 40; });
  engine.LogFileMode = LFM_CreateNew;
  engine.LogFileName = dir / "scan.log";
  const int code = engine.Backup();
  SetStopRequestHook(nullptr);
  EXPECT_EQ(code, 12);
  EXPECT_EQ(asked, kFiles + 41);  // nothing asks again once the answer was yes
  EXPECT_FALSE(fs::exists(dir / "set.arc"));
  const auto lines = ReadLines(engine.LogFileName);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(),
            "Prerušenie zálohovania spôsobené Prerušené volajúcou aplikáciou / užívateľom");
}

INSTANTIATE_TEST_SUITE_P(Threads, EngineScanChecksums, ::testing::Values(1, 2, 3));

TEST_F(EngineScan, EmptyIncludeWarnsOnlyForFullBackupsWithALog) {
  WriteFile(Src("a.txt"), "a");
  const std::string missing = src.path() + "/missing/*.*";
  engine.AddToIncludes(src.path() + "/*.*");
  engine.AddToIncludes(missing);
  engine.LogFileMode = LFM_CreateNew;
  engine.LogFileName = dir / "w.log";
  std::vector<std::string> warned;
  engine.OnWarning = [&](TWarningType t, const std::string& at, TReaction& r) {
    EXPECT_EQ(t, WT_NoFilesFound);
    EXPECT_EQ(r, AW_IGNORE);
    warned.push_back(at);
  };
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_EQ(engine.WarningCount(), 1);
  EXPECT_EQ(warned, std::vector<std::string>{missing});
  auto lines = ReadLines(engine.LogFileName);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Upozornenie :" + missing + " neexistuje"),
            lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Upozornenia počas zálohy: 1"), lines.end());

  engine.BackupMode = BM_Incremental;
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_EQ(engine.WarningCount(), 0);
  lines = ReadLines(engine.LogFileName);
  for (const auto& l : lines) EXPECT_EQ(l.find("Upozornenie"), std::string::npos) << l;

  engine.BackupMode = BM_Full;
  engine.LogFileMode = LFM_NoLog;
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_EQ(engine.WarningCount(), 0);
  EXPECT_EQ(warned.size(), 1u);
}

// A path longer than the archive keeps is never stored cut: the cut name
// may be another file, which must not be stored in its place.
TEST_F(EngineScan, LongPathsAreRefusedNeverCut) {
  std::string rel;
  while (rel.size() < 260) rel += std::string(40, 'd') + "/";
  const std::string longPath = Src(rel + "long-name.txt");
  ASSERT_GT(longPath.size(), 255u);
  WriteFile(longPath, "long");
  // A file whose path is exactly the first 255 bytes of the long one.
  const std::string cut = longPath.substr(0, 255);
  WriteFile(cut, "another file");
  engine.AddToIncludes(src.path() + "/*.* /S");
  engine.LogFileMode = LFM_CreateNew;
  engine.LogFileName = dir / "long.log";
  const std::string reason = ": cesta je dlhšia ako 255 bajtov";
  for (TReaction answer : {AW_IGNORE, AW_RETRY, AW_ABORT}) {
    engine.HandleOpenError = answer;
    std::vector<std::string> opened;
    engine.OnCantOpenFile = [&](const std::string& p, TReaction&) { opened.push_back(p); };
    const auto lines = [&] { return ReadLines(engine.LogFileName); };
    if (answer == AW_ABORT) {
      EXPECT_EQ(engine.Backup(), 4);
      EXPECT_EQ(lines().front(),
                "CHYBA #1: Zálohovanie prerušené chybou pri otvorení " + longPath + reason);
      continue;
    }
    ASSERT_EQ(engine.Backup(), kPartialCode) << answer;  // the long one is left out
    ASSERT_EQ(engine.FileList().size(), 1u);
    EXPECT_EQ(engine.FileList()[0].path, cut);  // the short one, under its own name, once
    EXPECT_EQ(engine.ErrorCount(), 1);
    EXPECT_TRUE(opened.empty());
    const auto l = lines();
    EXPECT_NE(std::find(l.begin(), l.end(),
                        "CHYBA #1: Súbor " + longPath +
                            " nie je zazálohovaný - chyba pri otvorení súboru" + reason),
              l.end());
  }
}

}  // namespace
}  // namespace vx
