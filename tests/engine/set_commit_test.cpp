// The end of a backup: the set takes its name, then the archive marks are
// reset.  A run killed at any step leaves a set the next run can live with,
// a stop asked for after the set has its name does not make it "cancelled",
// and marks that cannot be stored then end the run with 17.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/archive_stream.h"
#include "common/engine_fixture.h"
#include "common/files.h"
#include "engine/vaultrex.h"
#include "platform/archive_bits.h"
#include "platform/hooks.h"

namespace vx {
namespace {

using test::WriteFile;

// What the stream's and the engine's named points do in these tests.
const char* hookPoint = nullptr;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
bool hookExits = false;           // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
bool committed = false;           // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

void AtPoint(const char* point, int) {
  if (std::strcmp(point, "set-committed") == 0) committed = true;
  if (hookPoint == nullptr || std::strcmp(point, hookPoint) != 0) return;
  if (hookExits) ::_exit(3);  // as kill -9: nothing more runs
  throw std::runtime_error("database disk image is malformed");
}

class SetCommit : public test::TEngineTest {
 protected:
  void SetUp() override {
    hookPoint = nullptr;
    hookExits = false;
    committed = false;
    SetStreamTestHook(AtPoint);
    UseLog(dir / "backup.log");
    for (int i = 0; i < 3; ++i) WriteFile(Src("f" + std::to_string(i)), std::string(70000, 'a'));
    engine.AddToIncludes(Src("*"));
  }
  void TearDown() override {
    SetStreamTestHook(nullptr);
    SetStopRequestHook(nullptr);
  }

  void Span() {
    engine.SpanDisks = true;
    engine.ArchiveBaseName = "set";
    engine.MaxSplitSize = 32768;
    engine.AskForNextDisk = false;
  }
  bool AnyMarkSet() {
    for (int i = 0; i < 3; ++i)
      if (TArchiveBitStore::Instance().IsSet(Src("f" + std::to_string(i)))) return true;
    return false;
  }
  // The files the set under the set's name lists (catalog), or its code.
  std::string SetHolds() {
    TVaultrex reader;
    reader.BackupDestination = engine.BackupDestination;
    reader.ArchiveBaseName = engine.ArchiveBaseName;
    reader.SpanDisks = engine.SpanDisks;
    reader.AskForNextDisk = false;
    reader.LogFileMode = LFM_NoLog;
    const int code = reader.Catalog();
    if (code != 0) return "code " + std::to_string(code);
    std::vector<std::string> names;
    for (const auto& r : reader.FileList()) names.push_back(r.path.substr(r.path.rfind('/') + 1));
    std::sort(names.begin(), names.end());
    std::string files;
    for (const std::string& n : names) files += n + " ";
    return files;
  }
};

// A stop asked for once the set has its name: the run ends as it went (0),
// the set is the new one and every mark is reset to match it.
TEST_F(SetCommit, StopAfterTheCommitIsNoCancel) {
  struct TCase {
    const char* name;
    bool span;
    bool resetCancel, statisticCancel, stopHook;
  };
  const TCase cases[] = {
      {"ResetCancelOneFile", false, true, false, false},
      {"ResetCancelVolumes", true, true, false, false},
      {"EveryWayVolumes", true, true, true, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::TStateScope fresh;
    committed = false;
    if (c.span) Span();
    engine.OnResetAttributes = [&](const TExtBackupStatistic&, bool& cancel) {
      cancel = c.resetCancel && committed;
    };
    engine.OnExtStatistic = [&](const TExtBackupStatistic&, bool& cancel) {
      cancel = c.statisticCancel && committed;
    };
    engine.UseExtStatistic = true;
    SetStopRequestHook([&] { return c.stopHook && committed; });
    EXPECT_EQ(engine.Backup(), 0);
    SetStopRequestHook(nullptr);  // the stop was for the backup, not for the reader
    EXPECT_TRUE(committed);
    EXPECT_EQ(SetHolds(), "f0 f1 f2 ");
    EXPECT_FALSE(AnyMarkSet());
  }
}

// The store of marks fails after the set took its name: 17, said in the log,
// the set is the new one and the marks stay set for the next incremental.
TEST_F(SetCommit, MarksThatCannotBeStoredAfterTheCommitEndWith17) {
  hookPoint = "marks-commit";
  EXPECT_EQ(engine.Backup(), 17);
  EXPECT_EQ(SetHolds(), "f0 f1 f2 ");
  EXPECT_TRUE(AnyMarkSet());
  EXPECT_TRUE(LogHas("Chyba evidencie archívnych atribútov: database disk image is malformed"));
  EXPECT_TRUE(
      LogHas("Záloha je nová, ale archívne atribúty neboli zaznamenané; ďalšia "
             "prírastková záloha zoberie tieto súbory znovu"));
  EXPECT_EQ(Log().back(),
            "Prerušenie zálohovania spôsobené Záloha je nová, ale archívne atribúty neboli "
            "zaznamenané");
}

// Killed at each step: the older set or the new one is whole, marks are
// reset only for a set that has its name, and the next run removes the
// killed run's temporary files, one log line each.
TEST_F(SetCommit, KilledBackupLeavesAWholeSetAndTheNextRunCleansUp) {
  struct TCase {
    const char* name;
    bool span;
    const char* point;
    const char* holds;  // what the set lists after the kill
    int leftovers;
  };
  const TCase cases[] = {
      {"OneFileSynced", false, "volume-synced", "old ", 1},
      {"OneFileCommitted", false, "set-committed", "f0 f1 f2 ", 0},
      {"OneFileMarks", false, "marks-commit", "f0 f1 f2 ", 0},
      {"VolumesSynced", true, "volume-synced", "old ", 1},
      {"VolumesCommitted", true, "set-committed", "f0 f1 f2 ", 0},
      {"VolumesMarks", true, "marks-commit", "f0 f1 f2 ", 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::TStateScope fresh;
    test::TTempFolder target{"target"};
    AimAt(target.path());
    if (c.span) Span();
    // The older set holds one file.
    const auto includes = engine.IncludeNames;
    WriteFile(target / "old", "x");
    engine.IncludeNames = {target / "old"};
    ASSERT_EQ(engine.Backup(), 0);
    engine.IncludeNames = includes;
    const pid_t pid = ::fork();
    if (pid == 0) {
      hookPoint = c.point;
      hookExits = true;
      engine.Backup();
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(SetHolds(), c.holds);
    EXPECT_TRUE(AnyMarkSet()) << "no mark reset by a run that did not end";
    // The next run: all of it again, the killed run's files removed.
    ASSERT_EQ(engine.Backup(), 0);
    EXPECT_EQ(SetHolds(), "f0 f1 f2 ");
    EXPECT_FALSE(AnyMarkSet());
    int lines = 0;
    for (const std::string& line : Log())
      if (line.rfind("Odstránený zvyšok prerušenej zálohy: " + target.path() + "/.", 0) == 0)
        ++lines;
    EXPECT_EQ(lines, c.leftovers);
    for (const auto& e : std::filesystem::directory_iterator(target.path()))
      EXPECT_NE(e.path().filename().string()[0], '.') << e.path();
    engine.SpanDisks = false;
    engine.ArchiveBaseName = "set.arc";
    engine.MaxSplitSize = 0;
  }
}

}  // namespace
}  // namespace vx
