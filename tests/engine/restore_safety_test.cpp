// Restore over files that already exist: damaged, short or unreadable data
// never replace them, the run fails, the rest of the set is still restored;
// a wrong password ends the run before any file is touched; and stored paths
// that lead astray are refused.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "common/engine_fixture.h"
#include "common/fat_mount.h"
#include "common/named_case.h"
#include "engine/vaultrex.h"
#include "platform/file_system.h"
#include "platform/target_writer.h"

namespace vx {
namespace {

using namespace vx::test;
namespace fs = std::filesystem;

constexpr std::size_t kDataStart = kHeaderSize + kCountSize + 3 * kRecordSize;

void PutI32At(std::string& bytes, std::size_t at, std::int32_t v) {
  std::memcpy(&bytes[at], &v, 4);
}
std::int32_t I32At(const std::string& bytes, std::size_t at) {
  std::int32_t v = 0;
  std::memcpy(&v, &bytes[at], 4);
  return v;
}
// Offset of the n-th block header (from 0) of the first file.
std::size_t FirstFileBlock(const std::string& bytes, int n) {
  std::size_t at = kDataStart;
  for (int i = 0; i < n; ++i)
    at += kBlockHeaderSize + static_cast<std::size_t>(I32At(bytes, at + 4));
  return at;
}

// How each of the three stored files ends: 'R' restored from the set, 'K' the
// file that stood there kept as it was, 'A' absent (nothing stood there and
// nothing was written), 'S' the set's bytes written although they fail.
struct TDamageCase {
  const char* name;
  int level;
  const char* key;         // of the backup
  const char* restoreKey;  // given to the restore
  std::function<void(std::vector<TStoredFile>&)> files;
  std::function<void(std::string&)> damage;
  const char* overExisting;
  const char* overNothing;
  int code;  // of each restore
};
void PrintTo(const TDamageCase& c, std::ostream* os) { *os << c.name; }

class DamagedSetRestore : public ::testing::TestWithParam<TDamageCase> {
 protected:
  std::vector<TStoredFile> set = {{"/s/first.txt", TextBytes(70000)},
                                  {"/s/second.bin", NoiseBytes(40000)},
                                  {"/s/third.txt", "third"}};
  std::string Target(const TStoredFile& f) const { return dir / ("out" + f.path); }
  static std::string Original(const TStoredFile& f) { return "ORIGINAL " + f.path; }

  int RestoreInto(bool existing, const TDamageCase& c) {
    fs::remove_all(dir / "out");
    if (existing)
      for (const auto& f : set) WriteFile(Target(f), Original(f));
    TVaultrex engine;
    engine.BackupDestination = dir.path();
    engine.ArchiveBaseName = "set.arc";
    engine.RedirectRestore = true;
    engine.RestoreTo = dir / "out";
    engine.IncludeNames = {"*"};
    engine.EncryptKey = c.restoreKey;
    return engine.Restore();
  }

  std::string Outcome(const TDamageCase& c, bool existing) const {
    std::string s;
    for (std::size_t i = 0; i < set.size(); ++i) {
      const TStoredFile& f = set[i];
      if (!fs::exists(Target(f)))
        s += 'A';
      else if (existing && ReadFile(Target(f)) == Original(f))
        s += 'K';
      else if (!existing && c.overNothing[i] == 'S')
        s += 'S';  // the set's bytes, whatever they are worth
      else if (ReadFile(Target(f)) == f.content)
        s += 'R';
      else
        s += '?';
    }
    return s;
  }

  // Nothing but the targets: no temporary file is left behind.
  std::size_t EntriesInOut() const {
    std::size_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir / "out"))
      if (e.is_regular_file()) ++n;
    return n;
  }

  TStateScope state;
  TTempFolder dir;
};

TEST_P(DamagedSetRestore, FailingFilesNeverReplaceWhatStandsAndTheRunFails) {
  const TDamageCase& c = GetParam();
  if (c.files) c.files(set);
  WriteArchive(dir / "set.arc", set, c.level, c.key);
  std::string bytes = ReadFile(dir / "set.arc");
  c.damage(bytes);
  WriteFile(dir / "set.arc", bytes);

  EXPECT_EQ(RestoreInto(true, c), c.code);
  EXPECT_EQ(Outcome(c, true), c.overExisting);
  EXPECT_EQ(EntriesInOut(), set.size());

  EXPECT_EQ(RestoreInto(false, c), c.code);
  EXPECT_EQ(Outcome(c, false), c.overNothing);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedSetRestore,
    ::testing::Values(
        TDamageCase{"CutInsideTheFirstFile", 0, "", "", nullptr,
                    [](std::string& b) { b.resize(2 * kBlockSize); }, "KKK", "AAA", 9},
        TDamageCase{"BlockThatDoesNotUnpack", 9, "", "", nullptr,
                    [](std::string& b) { b[kDataStart + kBlockHeaderSize + 40] ^= 0x5A; }, "KRR",
                    "ARR", 9},
        TDamageCase{"RawBlockClaimingMoreThanItStores", 0, "", "", nullptr,
                    [](std::string& b) {
                      const std::size_t at = FirstFileBlock(b, 2);
                      PutI32At(b, at, I32At(b, at) + 1);
                    },
                    "KRR", "ARR", 9},
        TDamageCase{"ChecksumDiffers", 0, "", "",
                    [](std::vector<TStoredFile>& s) { s[1].badCrc = true; }, [](std::string&) {},
                    "RKR", "RSR", 9},
        TDamageCase{"EntryWithoutData", 0, "", "",
                    [](std::vector<TStoredFile>& s) { s[1].content.clear(); },
                    [](std::string& b) {
                      // The size the backup saw; its data could not be read.
                      PutI32At(b, kHeaderSize + kCountSize + kRecordSize + 256, 5000);
                    },
                    "RKR", "RAR", 9},
        TDamageCase{"WrongPassword", 0, "spravne heslo 1", "nespravne heslo", nullptr,
                    [](std::string&) {}, "KKK", "AAA", 14},
        TDamageCase{"WrongPasswordPacked", 9, "spravne heslo 1", "nespravne heslo", nullptr,
                    [](std::string&) {}, "KKK", "AAA", 14},
        // One file changed during its backup does not make the password wrong.
        TDamageCase{"ChecksumOfTheFirstFileDiffersEncrypted", 0, "spravne heslo 1",
                    "spravne heslo 1", [](std::vector<TStoredFile>& s) { s[0].badCrc = true; },
                    [](std::string&) {}, "KRR", "SRR", 9}),
    vx::test::TCaseName());

// Stored paths that would lead astray are refused for every kind of restore,
// as an error of that file; the other files are restored.
// A NUL byte inside a stored path is no name a backup stores: the whole
// directory counts as damaged and nothing is written at all.
struct TPathCase {
  const char* name;
  std::string stored;
  bool damagedSet = false;
};
void PrintTo(const TPathCase& c, std::ostream* os) { *os << c.name; }

class RefusedStoredPath : public ::testing::TestWithParam<
                              std::tuple<TPathCase, int /*0 in place, 1 redirect, 2 flat*/>> {
 protected:
  TStateScope state;
  TTempFolder dir;
};

std::string PathCaseName(const ::testing::TestParamInfo<std::tuple<TPathCase, int>>& info) {
  static const char* const kKinds[] = {"InPlace", "Redirect", "Flat"};
  return std::string(std::get<0>(info.param).name) + kKinds[std::get<1>(info.param)];
}

TEST_P(RefusedStoredPath, IsAnErrorOfThatFileAndWritesNothing) {
  const auto& [c, kind] = GetParam();
  // In place, the stored paths lie in the test folder.
  const std::string base = kind == 0 ? dir / "place" : "/place";
  const std::string stored = base + c.stored;
  const std::string good = base + "/good.txt";
  WriteArchive(dir / "set.arc", {{stored, "evil"}, {good, "good"}});
  TVaultrex engine;
  engine.BackupDestination = dir.path();
  engine.ArchiveBaseName = "set.arc";
  engine.IncludeNames = {"*"};
  engine.RedirectRestore = kind != 0;
  engine.FlatRestore = kind == 2;
  engine.RestoreTo = dir / "out/deep/er";
  EXPECT_EQ(engine.Restore(), 9);
  EXPECT_EQ(engine.ErrorCount(), c.damagedSet ? 0 : 1);
  std::size_t files = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
    if (!e.is_regular_file() || e.path().filename() == "set.arc") continue;
    ++files;
    EXPECT_EQ(ReadFile(e.path()), "good") << e.path();
  }
  EXPECT_EQ(files, c.damagedSet ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, RefusedStoredPath,
    ::testing::Combine(
        ::testing::Values(
            TPathCase{"NulInAParentComponent", std::string("/x/..\0/..\0/f.txt", 16), true},
            TPathCase{"NulInTheName", std::string("/x/f\0.txt", 9), true},
            TPathCase{"DotComponent", "/x/./f.txt"}, TPathCase{"EmptyComponent", "/x//f.txt"},
            TPathCase{"EndsInSlash", "/x/f.txt/"}, TPathCase{"ParentComponent", "/x/../f.txt"}),
        ::testing::Values(0, 1, 2)),
    PathCaseName);

class RestoreTargets : public TEngineTest {
 protected:
  void SetUp() override { engine.IncludeNames = {"*"}; }
};

// A hard link at the target is replaced: the file's other name keeps the
// content it had.
TEST_F(RestoreTargets, HardLinkAtTheTargetIsReplacedNotWrittenThrough) {
  const std::string target = dir / "t/file.txt";
  const std::string other = dir / "elsewhere.txt";
  WriteFile(target, "shared content");
  fs::create_hard_link(target, other);
  WriteArchive(dir / "set.arc", {{target, "from the set"}});
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(ReadFile(target), "from the set");
  EXPECT_EQ(ReadFile(other), "shared content");
}

// A set made with NoFileCRCs stores 0 as every checksum: nothing to compare.
TEST_F(RestoreTargets, StoredChecksumZeroMeansNone) {
  WriteArchive(dir / "set.arc", {{dir / "n/a.txt", "alpha"}, {dir / "n/b.txt", "beta"}});
  std::string bytes = ReadFile(dir / "set.arc");
  for (int i = 0; i < 2; ++i) PutI32At(bytes, kHeaderSize + kCountSize + i * kRecordSize + 260, 0);
  WriteFile(dir / "set.arc", bytes);
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(ReadFile(dir / "n/a.txt"), "alpha");
  EXPECT_EQ(engine.ErrorCount(), 0);
}

// In place, a folder link on the way is followed only when it belongs to
// root or to the user running the restore.
TEST_F(RestoreTargets, FolderLinksOfOtherUsersAreNotFollowed) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a link another owner needs root";
  fs::create_directories(dir / "real");
  fs::create_directories(dir / "planted-target");
  fs::create_directories(dir / "via");
  fs::create_directory_symlink(dir / "real", dir / "via/mine");
  fs::create_directory_symlink(dir / "planted-target", dir / "via/theirs");
  ASSERT_EQ(::lchown((dir / "via/theirs").c_str(), 4242, 4242), 0);
  WriteArchive(dir / "set.arc",
               {{dir / "via/mine/ok.txt", "through my link"}, {dir / "via/theirs/evil.txt", "x"}});
  // The dry run's plan says beforehand what the run does.
  ASSERT_EQ(engine.Catalog(), 0);
  const TVaultrex::TRestorePlan mine = engine.PlanRestore(engine.FileList()[0]);
  const TVaultrex::TRestorePlan theirs = engine.PlanRestore(engine.FileList()[1]);
  EXPECT_TRUE(mine.restore);
  EXPECT_FALSE(theirs.restore);
  EXPECT_EQ(theirs.refusal, "Cesta vedie cez odkaz na priečinok, ktorý nepatrí vám ani správcovi");
  EXPECT_EQ(engine.Restore(), 9);
  EXPECT_EQ(ReadFile(dir / "real/ok.txt"), "through my link");
  EXPECT_FALSE(fs::exists(dir / "planted-target/evil.txt"));
  EXPECT_EQ(engine.ErrorCount(), 1);
}

// A link swapped for another user's link right after its owner was checked:
// the text that is followed is the checked link's, so the file lands where
// the checked link leads and nothing reaches the swapped-in link's folder.
TEST_F(RestoreTargets, LinkSwappedAfterItsCheckIsNotFollowed) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a link another owner needs root";
  fs::create_directories(dir / "real");
  fs::create_directories(dir / "planted-target");
  fs::create_directories(dir / "via");
  const fs::path link = dir / "via/mine";
  fs::create_directory_symlink(dir / "real", link);
  int swaps = 0;
  SetLinkCheckedHook([&](const std::string& name) {
    if (name != "mine") return;
    ++swaps;
    fs::remove(link);
    fs::create_directory_symlink(dir / "planted-target", link);
    ASSERT_EQ(::lchown(link.c_str(), 4242, 4242), 0);
  });
  WriteArchive(dir / "set.arc", {{link / "ok.txt", "through my link"}});
  const int code = engine.Restore();
  SetLinkCheckedHook(nullptr);
  EXPECT_EQ(swaps, 1);
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadFile(dir / "real/ok.txt"), "through my link");
  EXPECT_FALSE(fs::exists(dir / "planted-target/ok.txt"));
}

// Two stored names that differ only in letter case, restored where they are
// one file (FAT): the second is a failed file with its reason, the first
// keeps its content; where they are two files, both are restored.
TEST_F(RestoreTargets, NamesDifferingOnlyInCaseAreNeverMerged) {
  test::TFatMount fat;
  if (!fat.Ready()) GTEST_SKIP() << "no FAT file system to restore to: " << fat.Error();
  WriteArchive(dir / "set.arc", {{"/x/Case.txt", "first"}, {"/x/case.txt", "second"}});
  struct TCase {
    std::string to;
    int code;
    std::string lower;  // what x/case.txt reads afterwards
  };
  const TCase cases[] = {{fat.Path(), 9, "first"}, {dir / "plain", 0, "second"}};
  for (const TCase& c : cases) {
    UseLog(dir / "restore.log");
    engine.RedirectRestore = true;
    engine.RestoreTo = c.to;
    EXPECT_EQ(engine.Restore(), c.code) << c.to;
    EXPECT_EQ(ReadFile(c.to + "/x/Case.txt"), "first") << c.to;
    EXPECT_EQ(ReadFile(c.to + "/x/case.txt"), c.lower) << c.to;
    EXPECT_EQ(LogHas("Chyba (Cieľ nerozlišuje veľké a malé písmená, názov by prepísal súbor " +
                     c.to + "/x/Case.txt) sa vyskytla počas obnovy /x/case.txt"),
              c.code != 0)
        << c.to;
  }
}

// A target disk too small: the run ends with 2, and a file that stood there
// is kept, since its replacement never came out whole.
TEST_F(RestoreTargets, FullTargetDiskEndsWithTwoAndKeepsTheOldFile) {
  const std::string small = dir / "small";
  fs::create_directories(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=256k") != 0)
    GTEST_SKIP() << "a small file system for the target needs mount (root)";
  struct TUnmount {
    std::string at;
    ~TUnmount() { ::umount(at.c_str()); }
  } unmount{small};
  WriteFile(small + "/big.bin", "kept");
  WriteArchive(dir / "set.arc", {{small + "/big.bin", NoiseBytes(1024 * 1024)}});
  EXPECT_EQ(engine.Restore(), 2);
  EXPECT_EQ(ReadFile(small + "/big.bin"), "kept");
  EXPECT_EQ(std::distance(fs::directory_iterator(small), fs::directory_iterator()), 1);
}

// A stop request inside a big file ends the run at the next block: the file
// being written is left as it was and nothing else is created.
TEST_F(RestoreTargets, StopInsideABigFileEndsAtTheNextBlock) {
  const std::string target = dir / "big/file.bin";
  WriteFile(target, "before");
  WriteArchive(dir / "set.arc", {{target, NoiseBytes(40 * kBlockSize)}, {dir / "big/next", "n"}});
  std::vector<std::int32_t> filesDone;
  engine.OnStatistic = [&](const TBackupStatistic& s, bool& cancel) {
    filesDone.push_back(s.FilesDone);
    cancel = true;
  };
  EXPECT_EQ(engine.Restore(), 12);
  EXPECT_EQ(filesDone, (std::vector<std::int32_t>{0}));
  EXPECT_EQ(ReadFile(target), "before");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "big"), fs::directory_iterator()), 1);
}

// A file that appears at the target while the restore writes it (here from
// the statistics event once its temporary is there): a restore of everything
// replaces it, a restore of what is newer or missing leaves it alone and
// counts the file as failed.
TEST_F(RestoreTargets, FileAppearingDuringItsWriteIsReplacedOnlyByRestoreOfAll) {
  const std::string target = dir / "late/file.bin";
  const std::string stored = NoiseBytes(40 * kBlockSize);  // a report after 32 blocks
  WriteArchive(dir / "set.arc", {{target, stored}});
  for (const TRestoreMode mode : {RM_All, RM_NewerAndNew}) {
    SCOPED_TRACE(mode);
    fs::remove_all(dir / "late");
    engine.RestoreMode = mode;
    // Once the new file is being written (its folder made), the user's file
    // appears.
    engine.OnStatistic = [&](const TBackupStatistic&, bool&) {
      if (fs::exists(dir / "late") && !fs::exists(target)) WriteFile(target, "the user's own");
    };
    const int result = engine.Restore();
    EXPECT_TRUE(ReadFile(target) == (mode == RM_All ? stored : "the user's own"));
    EXPECT_EQ(result, mode == RM_All ? 0 : 9);
    EXPECT_EQ(engine.ErrorCount(), mode == RM_All ? 0 : 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "late"), fs::directory_iterator()), 1);
  }
}

}  // namespace
}  // namespace vx
