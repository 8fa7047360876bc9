// Runs that leave something out or cannot open what they need: the exit
// code of a backup that skipped items (16) or could take none of its files
// (4, 5, the older set kept), the messages naming the path and the system's
// reason, and a catalog asked to stop while it reads the directory.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/engine_fixture.h"
#include "platform/hooks.h"

namespace vx {
namespace {

using namespace vx::test;
namespace fs = std::filesystem;

const char* const kUnreadable = "/proc/self/mem";  // opens, every read fails (EIO)

// Lowers the soft limit of open files to the descriptors open now: every
// further open fails with EMFILE until the scope ends.
class TNoMoreDescriptors {
 public:
  TNoMoreDescriptors() {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    const int probe = ::dup(0);
    rlimit low = saved_;
    low.rlim_cur = static_cast<rlim_t>(probe);  // the lowest free one is refused
    ::close(probe);
    ::setrlimit(RLIMIT_NOFILE, &low);
  }
  ~TNoMoreDescriptors() { ::setrlimit(RLIMIT_NOFILE, &saved_); }
  TNoMoreDescriptors(const TNoMoreDescriptors&) = delete;
  TNoMoreDescriptors& operator=(const TNoMoreDescriptors&) = delete;

 private:
  rlimit saved_{};
};

class PartialRun : public TEngineTest {
 protected:
  PartialRun() { UseLog(dir / "run.log"); }
  bool LogHasPart(const std::string& part) const {
    for (const std::string& l : Log()) {
      if (l.find(part) != std::string::npos) return true;
    }
    return false;
  }
};

// A backup of a.txt, b.txt and the folders x/ and y/ (one file each), after
// a good backup of the same selection.  Each case disturbs the run from an
// event; the table says how the run ends, how many items it left out, a log
// line that tells why, and whether the older set stayed.
TEST_F(PartialRun, ExitCodeOfBackupsThatLeaveItemsOut) {
  struct Case {
    const char* name;
    std::function<void()> setUp;  // settings and events of the run
    int code;
    int notTaken;        // -1: not asked (the run failed)
    std::string logged;  // with the source folder for "<src>"
    bool olderSetKept;
  };
  const auto replaceAtDataPass = [this](const std::function<void()>& swap) {
    engine.OnEndFileScan = [swap](const std::string&, TReaction&) { swap(); };
  };
  const auto fifo = [](const std::string& path) {
    fs::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  };
  const auto unreadable = [](const std::string& path) {
    fs::remove(path);
    fs::create_symlink(kUnreadable, path);
  };
  const Case cases[] = {
      {"EverythingTaken", [] {}, 0, 0, "Žiadna chyba počas zálohovania", false},
      {"OpenFailureIgnored",
       [&] {
         engine.HandleOpenError = AW_IGNORE;
         replaceAtDataPass([&] { fifo(Src("b.txt")); });
       },
       kPartialCode, 1,
       "CHYBA #1: Súbor <src>/b.txt nie je zazálohovaný - chyba pri otvorení súboru: nie je "
       "obyčajný súbor",
       false},
      {"ReadFailureIgnored",
       [&] {
         engine.HandleFileReadError = AW_IGNORE;
         replaceAtDataPass([&] { unreadable(Src("a.txt")); });
       },
       kPartialCode, 1, "File <src>/a.txt not backed up due to read errors: Input/output error",
       false},
      {"FileVanishedAndSkipped",
       [&] {
         engine.HandleOpenError = AW_IGNORE;
         replaceAtDataPass([this] { fs::remove(Src("x/c.txt")); });
       },
       kPartialCode, 1, "chyba pri otvorení súboru: No such file or directory", false},
      {"FileChangedWhileRead", [&] { replaceAtDataPass([this] { WriteFile(Src("a.txt"), "A"); }); },
       kPartialCode, 1, "Upozornenie :<src>/a.txt sa počas zálohovania zmenil", false},
      {"FolderRemovedBeforeItIsListed",
       [this] {
         engine.OnScanNextDir = [this](const std::string& folder, TReaction&) {
           if (folder == Src("y/")) fs::remove_all(Src("y"));
         };
       },
       kPartialCode, 1, "Upozornenie :<src>/y/ neexistuje", false},
      {"FolderRemovedBetweenListingAndDescending",
       [this] {
         // Whichever of the two comes first takes the other away.
         engine.OnScanNextDir = [this](const std::string& folder, TReaction&) {
           if (folder == Src("x/") && fs::exists(Src("y"))) fs::remove_all(Src("y"));
           if (folder == Src("y/") && fs::exists(Src("x"))) fs::remove_all(Src("x"));
         };
       },
       kPartialCode, 1, " neexistuje", false},
      {"NoFileCouldBeOpened",
       [&] {
         engine.HandleOpenError = AW_IGNORE;
         replaceAtDataPass([&] {
           for (const char* f : {"a.txt", "b.txt", "x/c.txt", "y/d.txt"}) fifo(Src(f));
         });
       },
       4, -1, "Prerušenie zálohovania spôsobené Chyba - súbor má otvorený iný proces", true},
      {"NoFileCouldBeRead",
       [&] {
         engine.HandleFileReadError = AW_IGNORE;
         replaceAtDataPass([&] {
           for (const char* f : {"a.txt", "b.txt", "x/c.txt", "y/d.txt"}) unreadable(Src(f));
         });
       },
       5, -1, "Prerušenie zálohovania spôsobené Chyba pri čítaní súboru", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(src.path());
    fs::create_directories(Src("x"));
    fs::create_directories(Src("y"));
    for (const char* f : {"a.txt", "b.txt", "x/c.txt", "y/d.txt"}) WriteFile(Src(f), f);
    engine.OnEndFileScan = nullptr;
    engine.OnScanNextDir = nullptr;
    engine.HandleOpenError = AW_RETRY;
    engine.HandleFileReadError = AW_RETRY;
    engine.IncludeNames = {Src("*.* /S")};
    ASSERT_EQ(engine.Backup(), 0);
    const std::string older = ReadFile(Archive());
    WriteFile(Src("a.txt"), "a");  // a new content, same size: the set differs
    c.setUp();
    const int code = engine.Backup();
    EXPECT_EQ(code, c.code);
    if (c.notTaken >= 0) {
      EXPECT_EQ(engine.NotTakenCount(), c.notTaken);
    }
    std::string logged = c.logged;
    if (logged.find("<src>") != std::string::npos)
      logged.replace(logged.find("<src>"), 5, src.path());
    EXPECT_TRUE(LogHasPart(logged)) << logged;
    if (c.code == kPartialCode) {
      EXPECT_TRUE(LogHas("Nezazálohované položky: 1"));
    }
    EXPECT_EQ(ReadFile(Archive()) == older, c.olderSetKept);
  }
}

// Out of descriptors after the set was created: the files that follow
// cannot be opened, which is said as such, and a set that took none of the
// files that were there does not replace the older one.
TEST_F(PartialRun, OutOfDescriptorsTakesNothingAndKeepsTheOlderSet) {
  for (const char* f : {"gone.txt", "a.txt", "b.txt"}) WriteFile(Src(f), f);
  for (const char* f : {"gone.txt", "a.txt", "b.txt"}) engine.AddToIncludes(Src(f));
  ASSERT_EQ(engine.Backup(), 0);
  const std::string older = ReadFile(Archive());

  engine.HandleOpenError = AW_IGNORE;
  // gone.txt is removed after the scan; once it is done, the descriptors
  // run out for a.txt and b.txt.
  engine.OnEndFileScan = [&](const std::string&, TReaction&) { fs::remove(Src("gone.txt")); };
  std::unique_ptr<TNoMoreDescriptors> none;
  engine.UseExtStatistic = true;
  engine.OnExtStatistic = [&](const TExtBackupStatistic&, bool&) {
    if (!none) none = std::make_unique<TNoMoreDescriptors>();
  };
  const int code = engine.Backup();
  none.reset();
  EXPECT_EQ(code, 4);
  EXPECT_EQ(engine.LastFailure(),
            "Žiadny súbor nebol zazálohovaný, predchádzajúca záloha zostáva nezmenená: " +
                Src("a.txt") + ": Too many open files");
  EXPECT_TRUE(LogHas("CHYBA #2: Súbor " + Src("a.txt") +
                     " nie je zazálohovaný - chyba pri otvorení súboru: Too many open files"));
  EXPECT_EQ(ReadFile(Archive()), older);
}

// Every failure to open a set, a file or a folder names the path and the
// system's reason after the text of the message.
TEST_F(PartialRun, MessagesNameThePathAndTheReason) {
  WriteFile(Src("a.txt"), "a");
  WriteFile(dir / "plain", "not a folder");
  struct Case {
    const char* name;
    std::function<int()> run;
    std::string failure;  // with "<dir>" and "<src>"
  };
  const Case cases[] = {
      {"CatalogOfAMissingSet", [this] { return engine.Catalog(); },
       "Nemožno otvoriť súbor zálohy: <dir>/missing.arc: No such file or directory"},
      {"VerifyOfAMissingSet", [this] { return engine.Verify(); },
       "Nemožno otvoriť súbor zálohy: <dir>/missing.arc: No such file or directory"},
      {"RestoreOfAMissingSet",
       [this] {
         RestoreEverythingTo();
         return engine.Restore();
       },
       "Nemožno otvoriť súbor zálohy: <dir>/missing.arc: No such file or directory"},
      {"RestoreOutOfDescriptors",
       [this] {
         engine.ArchiveBaseName = "set.arc";
         engine.LogFileMode = LFM_NoLog;
         RestoreEverythingTo();
         TNoMoreDescriptors none;
         return engine.Restore();
       },
       "Nemožno otvoriť súbor zálohy: <dir>/set.arc: Too many open files"},
      {"BackupIntoAFile",
       [this] {
         engine.ArchiveBaseName = "plain/set.arc";
         engine.IncludeNames = {Src("a.txt")};
         return engine.Backup();
       },
       "nedá sa vytvoriť záložný súbor: <dir>/plain/: Not a directory"},
      {"BackupOfAFileThatWentAway",
       [this] {
         engine.ArchiveBaseName = "set.arc";
         engine.IncludeNames = {Src("a.txt")};
         engine.HandleOpenError = AW_ABORT;
         engine.OnEndFileScan = [this](const std::string&, TReaction&) {
           fs::remove(Src("a.txt"));
         };
         return engine.Backup();
       },
       "Nemožno otvoriť súbor <src>/a.txt: No such file or directory"},
  };
  engine.IncludeNames = {Src("a.txt")};
  ASSERT_EQ(engine.Backup(), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    engine.ArchiveBaseName = "missing.arc";
    EXPECT_NE(c.run(), 0);
    std::string failure = c.failure;
    for (const auto& [mark, path] :
         {std::pair<std::string, std::string>{"<dir>", dir.path()}, {"<src>", src.path()}}) {
      if (failure.find(mark) != std::string::npos) failure.replace(failure.find(mark), 5, path);
    }
    EXPECT_EQ(engine.LastFailure(), failure);
  }
}

// Out of descriptors in the middle of a verify: the run ends with the
// reason instead of calling the files that follow missing.
TEST_F(PartialRun, VerifyOutOfDescriptorsFailsWithTheReason) {
  for (const char* f : {"a.txt", "b.txt", "c.txt"}) WriteFile(Src(f), f);
  for (const char* f : {"a.txt", "b.txt", "c.txt"}) engine.AddToIncludes(Src(f));
  ASSERT_EQ(engine.Backup(), 0);
  std::unique_ptr<TNoMoreDescriptors> none;
  std::vector<TVaultrex::TVerifyOutcome> outcomes;
  engine.OnFileVerified = [&](const std::string&, TVaultrex::TVerifyOutcome o) {
    outcomes.push_back(o);
    if (!none) none = std::make_unique<TNoMoreDescriptors>();
  };
  const int code = engine.Verify();
  none.reset();
  EXPECT_EQ(code, 4);
  EXPECT_EQ(outcomes, std::vector<TVaultrex::TVerifyOutcome>{TVaultrex::TVerifyOutcome::Same});
  EXPECT_EQ(engine.LastFailure(),
            "Nemožno otvoriť súbor " + Src("b.txt") + ": Too many open files");
  EXPECT_FALSE(LogHasPart("súbor chýba"));
}

// A catalog asks whether to stop while it reads the directory.
TEST_F(PartialRun, CatalogStopsWhenAskedTo) {
  WriteArchive(Archive(), {{"/a", "a"}, {"/b", "b"}});
  int asked = 0;
  SetStopRequestHook([&asked] { return ++asked > 0; });
  const int code = engine.Catalog();
  SetStopRequestHook(nullptr);
  EXPECT_NE(code, 0);
  EXPECT_GT(asked, 0);
  EXPECT_TRUE(engine.FileList().empty());
  EXPECT_EQ(engine.LastFailure(), "Prerušené užívateľom");
}

}  // namespace
}  // namespace vx
