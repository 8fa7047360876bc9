// The erase step (EraseTargetDir) deletes only this program's sets and logs
// from the target folder; the dry run lists the same files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/engine_fixture.h"
#include "common/named_case.h"
#include "platform/set_lock.h"

namespace vx::test {
namespace {

namespace fs = std::filesystem;

// What a folder holds before the backup, and what the erase step must do.
struct EraseCase {
  const char* name;
  // Puts the files into the target folder; may hold locks (kept in `held`)
  // and aim the engine elsewhere.
  std::function<void(const std::string& target, std::vector<TFileLock>& held)> setUp;
  std::vector<std::string> deleted;  // names that go
  std::vector<std::string> after;    // every name in the folder afterwards
  int warnings;
  const char* warning;  // the end of the warning line ("" when none)
};
void PrintTo(const EraseCase& c, std::ostream* os) { *os << c.name; }

class EraseStep : public TEngineTest, public ::testing::WithParamInterface<EraseCase> {};

void WriteSetFile(const std::string& path) { WriteArchive(path, {{"/x/a.txt", "data"}}); }

std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

TEST_P(EraseStep, DeletesOnlySetsAndLogsOfThisProgram) {
  const EraseCase& c = GetParam();
  const std::string target = dir / "target";
  fs::create_directories(target);
  const char* home = std::getenv("HOME");
  const TScopedEnv keepHome("HOME", home != nullptr ? home : "/root");  // a case may change it
  std::vector<TFileLock> held;
  c.setUp(target, held);
  WriteFile(Src("a.txt"), "a");
  engine.AddToIncludes(Src("a.txt"));
  engine.EraseTargetDir = true;
  AimAt(target);
  UseLog(dir / "run.log");

  // The dry run lists what the run deletes.
  std::vector<std::string> listed;
  engine.PreviewBackup(listed);
  std::vector<std::string> expected;
  const std::string real = fs::canonical(target).string();
  for (const std::string& name : c.deleted) expected.push_back(real + "/" + name);
  EXPECT_EQ(Sorted(listed), Sorted(expected));
  EXPECT_EQ(engine.WarningCount(), c.warnings);

  ASSERT_EQ(engine.Backup(), 0) << engine.LastFailure();
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(target)) names.push_back(e.path().filename());
  EXPECT_EQ(Sorted(names), Sorted(c.after));
  EXPECT_EQ(engine.WarningCount(), c.warnings);
  for (const std::string& path : expected) EXPECT_TRUE(LogHas("Vymazaný súbor " + path)) << path;
  const std::string warning = c.warning;
  if (!warning.empty()) {
    EXPECT_TRUE(LogHas("Upozornenie :" + real + warning)) << warning;
  }
}

const char kKept1[] =
    " obsahuje 1 súbor(ov), ktoré nie sú zo zálohy alebo ich používa iná úloha - nevymazané";
const char kKept2[] =
    " obsahuje 2 súbor(ov), ktoré nie sú zo zálohy alebo ich používa iná úloha - nevymazané";

INSTANTIATE_TEST_SUITE_P(
    Folders, EraseStep,
    ::testing::Values(
        EraseCase{"ForeignFileStays",
                  [](const std::string& t, std::vector<TFileLock>&) {
                    WriteFile(t + "/notes.txt", "mine");
                  },
                  {},
                  {"notes.txt", "set.arc"},
                  1,
                  kKept1},
        EraseCase{"OlderSetsOfThisProgramGo",
                  [](const std::string& t, std::vector<TFileLock>&) {
                    WriteSetFile(t + "/old.arc");
                    WriteSetFile(t + "/set.arc");
                    WriteArchive(t + "/vol", {{"/x/big", NoiseBytes(70000)}}, 0, "", "", 32768);
                  },
                  {"old.arc", "set.arc", "vol.001", "vol.002", "vol.003"},
                  {"set.arc"},
                  0,
                  ""},
        EraseCase{"LaterVolumeWithoutItsFirstStays",
                  [](const std::string& t, std::vector<TFileLock>&) {
                    WriteFile(t + "/photos.002", std::string(32768, 'p'));
                  },
                  {},
                  {"photos.002", "set.arc"},
                  1,
                  kKept1},
        EraseCase{"RunLogsGoOtherLogsStay",
                  [](const std::string& t, std::vector<TFileLock>&) {
                    WriteFile(t + "/Backup 03-14-2024 10-20-30.LOG",
                              "Start backup to /b/set.arc at 14.03.2024 10:20:30\r\n");
                    WriteFile(t + "/Verify 03-14-2024 10-25-00.LOG",
                              "Štart overovania zálohy z /b  14.03.2024 10:25:00\r\n");
                    WriteFile(t + "/Backup 03-15-2024 10-20-30.LOG", "someone else's text\n");
                    WriteFile(t + "/daily.log", "Start backup to /b/set.arc at\r\n");
                  },
                  {"Backup 03-14-2024 10-20-30.LOG", "Verify 03-14-2024 10-25-00.LOG"},
                  {"Backup 03-15-2024 10-20-30.LOG", "daily.log", "set.arc"},
                  1,
                  kKept2},
        EraseCase{"AnotherRunsSetAndTemporaryFileStay",
                  [](const std::string& t, std::vector<TFileLock>& held) {
                    // Another job writes "other.arc": it holds its set's lock
                    // and the lock of its temporary file.
                    WriteSetFile(t + "/other.arc");
                    held.push_back(TryLockFile(t + "/.other.arc.lock", TLockKind::Exclusive).lock);
                    WriteSetFile(t + "/.third.arc.Xy12Zq");
                    held.push_back(
                        TryLockFile(t + "/.third.arc.Xy12Zq", TLockKind::Exclusive).lock);
                    ASSERT_TRUE(held[0].Held() && held[1].Held());
                  },
                  {},
                  {"other.arc", ".other.arc.lock", ".third.arc.Xy12Zq", "set.arc"},
                  1,
                  kKept2},
        EraseCase{"HomeFolderKeepsEverything",
                  [](const std::string& t, std::vector<TFileLock>&) {
                    WriteSetFile(t + "/old.arc");
                    WriteFile(t + "/notes.txt", "mine");
                    ::setenv("HOME", t.c_str(), 1);  // put back when the test ends
                  },
                  {},
                  {"old.arc", "notes.txt", "set.arc"},
                  1,
                  " je domovský adresár - nič sa nevymaže"}),
    TCaseName());

}  // namespace
}  // namespace vx::test

namespace vx::test {
namespace {

// A split set erases before every volume: the foreign file is warned about
// once for the run, and the volumes of this run stay.
TEST_F(TEngineTest, ErasingBeforeEveryVolumeWarnsOnce) {
  WriteFile(dir / "notes.txt", "mine");
  WriteFile(Src("big.bin"), NoiseBytes(100000));
  engine.AddToIncludes(Src("big.bin"));
  engine.EraseTargetDir = true;
  engine.ArchiveBaseName = "set";
  engine.SpanDisks = true;
  engine.MaxSplitSize = 32768;
  engine.AskForNextDisk = false;
  ASSERT_EQ(engine.Backup(), 0) << engine.LastFailure();
  EXPECT_TRUE(fs::exists(dir / "set.004"));
  EXPECT_TRUE(fs::exists(dir / "notes.txt"));
  EXPECT_EQ(engine.WarningCount(), 1);
  TVaultrex reader;
  reader.BackupDestination = dir.path();
  reader.ArchiveBaseName = "set";
  reader.SpanDisks = true;
  reader.AskForNextDisk = false;
  EXPECT_EQ(reader.Catalog(), 0);
}

}  // namespace
}  // namespace vx::test
