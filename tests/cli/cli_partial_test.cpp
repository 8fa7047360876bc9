// vaultix-cli: the exit code and the lines of a backup that left items out,
// or could take none of its files; a catalog stopped by a signal while its
// output waits on a full pipe.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "cli/cli_fixture.h"
#include "common/archive_writer.h"

namespace vxtest {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class CliPartial : public CliFixture {
 protected:
  // Files and folders mode 0 are unreadable to the program: as root it runs
  // as nobody, for whom everything else here is open.
  bool PrepareToRunUnprivileged(TCliCall& call) {
    if (::geteuid() != 0) return true;
    if (!fs::exists("/usr/bin/setpriv")) return false;
    fs::create_directories(Path("arc"));
    fs::permissions(root_, fs::perms::all);
    for (const char* d : {"src", "src/sub", "state", "arc"})
      fs::permissions(Path(d), fs::perms::all);
    for (const char* f : {"src/a.txt", "src/sub/b.txt", "src/sub/c.bin"}) {
      fs::permissions(Path(f), fs::perms::owner_all | fs::perms::others_read);
    }
    call.runAsUser = "nobody";
    return true;
  }
};

// With --quiet as the scheduled runs use it: a backup that skipped an item
// ends with 16 and says how many and where the log is; one that could take
// none of its files fails and leaves the older set as it was.
TEST_F(CliPartial, ExitCodesOfBackupsThatLeaveItemsOut) {
  TCliCall call;
  if (!PrepareToRunUnprivileged(call)) GTEST_SKIP() << "root without setpriv";
  const std::string set = MakeSet({{"HandleOpenErrors", "1"}});  // skip what cannot be opened
  const std::string log = Path("arc/run.log");
  ASSERT_EQ(Run({"backup", "--set", set, "--quiet"}, call).exitCode, 0);
  struct Case {
    const char* name;
    std::vector<std::string> closed;  // made mode 0 for the run
    int code;
    std::vector<std::string> said;  // on stderr
  };
  const Case cases[] = {
      {"AllTaken", {}, 0, {}},
      {"AFileCannotBeOpened",
       {"src/sub/b.txt"},
       16,
       {"Záloha dát je ukončená, niektoré položky neboli zálohované\n",
        "vaultix-cli: 1 item(s) not backed up; see the log " + log + "\n"}},
      {"AFolderCannotBeRead",
       {"src/sub"},
       16,
       {"Záloha dát je ukončená, niektoré položky neboli zálohované\n",
        "vaultix-cli: 1 item(s) not backed up; see the log " + log + "\n"}},
      {"NoFileCanBeOpened",
       {"src/a.txt", "src/sub/b.txt", "src/sub/c.bin"},
       4,
       {"Záloha dát bola prerušená.\n",
        "Chyba - súbor má otvorený iný proces: Žiadny súbor nebol zazálohovaný, predchádzajúca "
        "záloha zostáva nezmenená: " +
            Path("src/a.txt") + ": Permission denied\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string older = Read("arc/job.arc");
    for (const std::string& p : c.closed) ::chmod(Path(p).c_str(), 0);
    TCliRun r = Run({"backup", "--set", set, "--log", log, "--quiet"}, call);
    for (const std::string& p : c.closed) ::chmod(Path(p).c_str(), 0755);
    EXPECT_EQ(r.exitCode, c.code) << Show(r);
    for (const std::string& s : c.said) EXPECT_TRUE(Has(r.err, s)) << s << Show(r);
    if (c.code == 0) {
      EXPECT_EQ(r.err, "") << Show(r);
    } else if (c.code != 16) {
      EXPECT_TRUE(Read("arc/job.arc") == older);  // the older set is left as it was
    }
  }
}

// A catalog whose output waits on a full pipe stops at a stop signal with
// 12 instead of waiting for ever; the signal is sent when its first output
// arrives.
TEST_F(CliPartial, CatalogStopsAtASignalWhileItsOutputWaits) {
  std::vector<vx::test::TStoredFile> files;
  for (int i = 0; i < 3000; ++i) files.push_back({"/home/eva/file" + std::to_string(i), ""});
  fs::create_directories(Path("arc"));
  vx::test::WriteArchive(Path("arc/many.arc"), files);
  for (const int sig : {SIGTERM, SIGINT}) {
    TCliCall call;
    call.signalAtFirstOutput = sig;
    call.guardSeconds = 20;
    TCliRun r = Run({"catalog", "--destination", Path("arc"), "--archive", "many.arc"}, call);
    EXPECT_FALSE(r.killedByGuard) << Show(r);
    EXPECT_TRUE(r.exited) << Show(r);
    EXPECT_EQ(r.exitCode, 12) << Show(r);
  }
}

}  // namespace
}  // namespace vxtest
