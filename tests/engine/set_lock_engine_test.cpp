// One writer per set: a second run on a set another run writes (or reads,
// for a run that would replace it) ends with 18 or waits for it; a backup
// that resets marks has the archive-bit store alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "common/engine_fixture.h"
#include "common/named_case.h"
#include "platform/hooks.h"
#include "platform/set_lock.h"

namespace vx::test {
namespace {

namespace fs = std::filesystem;

class SetLock : public TEngineTest {
 protected:
  void SetUp() override {
    WriteFile(Src("a.txt"), "alpha");
    WriteFile(Src("b.txt"), "beta");
    engine.AddToIncludes(Src("*.txt"));
  }
  void TearDown() override { SetStopRequestHook(nullptr); }
  // A second engine on the same set.
  void AimSecond(TVaultrex& second, const std::string& name = "set.arc") const {
    second.BackupDestination = engine.BackupDestination;
    second.ArchiveBaseName = name;
    second.AddToIncludes(Src("*.txt"));
  }
  std::string LockFile() const { return dir / ".set.arc.lock"; }
};

// A backup runs (here: its scan has just ended) while a second backup and a
// catalog are started on the same set: both end with 18 at once and name
// the set; the first run's set is complete and restores.
TEST_F(SetLock, RunsOnTheSetBeingWrittenEndWith18) {
  int secondBackup = -1;
  int secondCatalog = -1;
  std::string failure;
  engine.OnEndFileScan = [&](const std::string&, TReaction&) {
    TVaultrex second;
    AimSecond(second);
    secondBackup = second.Backup();
    failure = second.LastFailure();
    secondCatalog = second.Catalog();
  };
  ASSERT_EQ(engine.Backup(), 0) << engine.LastFailure();
  EXPECT_EQ(secondBackup, 18);
  EXPECT_EQ(secondCatalog, 18);
  EXPECT_EQ(failure, "Záložnú sadu " + dir.path() + "/set.arc práve používa iná úloha");
  engine.OnEndFileScan = nullptr;
  RestoreEverythingTo();
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_EQ(ReadFile(dir / ("out" + Src("a.txt"))), "alpha");
  EXPECT_EQ(ReadFile(dir / ("out" + Src("b.txt"))), "beta");
  EXPECT_EQ(TVaultrex::ErrorText(18), "Záložná sada je práve používaná inou úlohou");
}

struct HeldCase {
  const char* name;
  TLockKind held;  // what the other run holds
  std::function<int(TVaultrex&)> run;
  int code;
};
void PrintTo(const HeldCase& c, std::ostream* os) { *os << c.name; }
class SetLockHeld : public SetLock, public ::testing::WithParamInterface<HeldCase> {};

// Readers share a set; a backup or a delete has it alone.
TEST_P(SetLockHeld, OperationsWaitForNobodyAndSayWhy) {
  ASSERT_EQ(engine.Backup(), 0);
  const std::string before = ReadFile(Archive());
  const TLockAttempt other = TryLockFile(LockFile(), GetParam().held);
  ASSERT_EQ(other.outcome, TLockOutcome::Locked);
  TVaultrex second;
  AimSecond(second);
  EXPECT_EQ(GetParam().run(second), GetParam().code);
  // The set the other run uses is as it was.
  EXPECT_EQ(ReadFile(Archive()), before);
}

int Restore(TVaultrex& e, const std::string& to) {
  e.RedirectRestore = true;
  e.RestoreTo = to;
  e.IncludeNames = {"*"};
  return e.Restore();
}

INSTANTIATE_TEST_SUITE_P(
    Operations, SetLockHeld,
    ::testing::Values(
        HeldCase{"BackupBesideWriter", TLockKind::Exclusive,
                 [](TVaultrex& e) { return e.Backup(); }, 18},
        HeldCase{"BackupBesideReader", TLockKind::Shared, [](TVaultrex& e) { return e.Backup(); },
                 18},
        HeldCase{"DeleteBesideReader", TLockKind::Shared,
                 [](TVaultrex& e) {
                   e.IncludeNames = {"*a.txt"};
                   return e.DeleteFiles();
                 },
                 18},
        HeldCase{"CatalogBesideWriter", TLockKind::Exclusive,
                 [](TVaultrex& e) { return e.Catalog(); }, 18},
        HeldCase{"CatalogBesideReader", TLockKind::Shared, [](TVaultrex& e) { return e.Catalog(); },
                 0},
        HeldCase{"VerifyBesideWriter", TLockKind::Exclusive,
                 [](TVaultrex& e) { return e.Verify(); }, 18},
        HeldCase{"CommentBesideWriter", TLockKind::Exclusive,
                 [](TVaultrex& e) {
                   std::string comment;
                   return e.RetrieveComment(comment);
                 },
                 18},
        HeldCase{"RestoreBesideWriter", TLockKind::Exclusive,
                 [](TVaultrex& e) { return Restore(e, e.BackupDestination + "/out"); }, 18},
        HeldCase{"RestoreBesideReader", TLockKind::Shared,
                 [](TVaultrex& e) { return Restore(e, e.BackupDestination + "/out"); }, 0}),
    TCaseName());

// A tape or a file on an FTP server has its lock in the state folder; a run
// on either ends with 18 before it touches the drive or the server.
TEST_F(SetLock, TapeAndServerAreLockedInTheStateFolder) {
  struct Where {
    const char* lockFile;  // below the state folder
    std::function<void(TVaultrex&)> aim;
    const char* set;  // as the message names it
  };
  const std::vector<Where> cases = {
      {"locks/tape.lock", [](TVaultrex& e) { e.BackupToTape = true; }, "tape"},
      {"locks/ftp___127.0.0.1_2121_up_set.arc.lock",
       [](TVaultrex& e) {
         e.BackupToFTP = true;
         e.FTPConnection.HostName = "127.0.0.1";
         e.FTPConnection.Port = 2121;
         e.BackupDestination = "up";
       },
       "ftp://127.0.0.1:2121/up/set.arc"}};
  for (const Where& w : cases) {
    fs::create_directories(state.path() + "/locks");
    const TLockAttempt other = TryLockFile(state.path() + "/" + w.lockFile, TLockKind::Exclusive);
    ASSERT_EQ(other.outcome, TLockOutcome::Locked) << w.set;
    for (const bool backup : {true, false}) {
      TVaultrex second;
      AimSecond(second);
      w.aim(second);
      EXPECT_EQ(backup ? second.Backup() : second.Catalog(), 18) << w.set;
      EXPECT_EQ(second.LastFailure(),
                std::string("Záložnú sadu ") + w.set + " práve používa iná úloha");
    }
  }
}

// With LockWaitSeconds the run waits: it goes on once the other run lets go
// (here when the run first asks whether to stop), and a stop ends the wait
// with 12.
TEST_F(SetLock, WaitingRunGoesOnWhenTheOtherEndsAndStopsWhenAsked) {
  TLockAttempt other = TryLockFile(LockFile(), TLockKind::Exclusive);
  ASSERT_EQ(other.outcome, TLockOutcome::Locked);
  engine.LockWaitSeconds = 3600;
  SetStopRequestHook([] { return true; });
  EXPECT_EQ(engine.Backup(), 12);
  EXPECT_FALSE(fs::exists(Archive()));
  SetStopRequestHook([&other] {
    other.lock.Release();
    return false;
  });
  EXPECT_EQ(engine.Backup(), 0) << engine.LastFailure();
  EXPECT_TRUE(fs::exists(Archive()));
}

// Two incremental runs into different sets: the second one, started while
// the first has scanned, would reset marks the first one reads and resets;
// it ends with 18 and writes nothing.  A differential run resets nothing
// and may run beside it.
TEST_F(SetLock, BackupsThatResetMarksHaveTheStoreAlone) {
  engine.BackupMode = BM_Incremental;
  int second = -1;
  int differential = -1;
  engine.OnEndFileScan = [&](const std::string&, TReaction&) {
    TVaultrex other;
    AimSecond(other, "other.arc");
    other.BackupMode = BM_Incremental;
    second = other.Backup();
    TVaultrex diff;
    AimSecond(diff, "diff.arc");
    diff.BackupMode = BM_Differential;
    differential = diff.Backup();
  };
  ASSERT_EQ(engine.Backup(), 0) << engine.LastFailure();
  EXPECT_EQ(second, 18);
  EXPECT_EQ(differential, 0);
  EXPECT_FALSE(fs::exists(dir / "other.arc"));
  EXPECT_TRUE(fs::exists(dir / "diff.arc"));
}

}  // namespace
}  // namespace vx::test
