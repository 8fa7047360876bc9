// vaultix-cli backup: what it says about refused settings and set files,
// logs that are no files, folders it could not read, a backup that took
// nothing, and a stop signal in the middle of a large file.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "cli/cli_fixture.h"
#include "common/named_case.h"

namespace vxtest {
namespace {

using CliBackup = CliFixture;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

struct RefusedSetting {
  const char* name;
  std::map<std::string, std::string> keys;
  std::string said;  // on stderr after the text of code 1
};
void PrintTo(const RefusedSetting& c, std::ostream* os) { *os << c.name; }

class CliRefusedSettings : public CliFixture,
                           public ::testing::WithParamInterface<RefusedSetting> {};

// Exit 1, and the reason after "Chyba spôsobená neplatnou hodnotou
// nastavení", whether the set file or the backup's own checks refuse it.
TEST_P(CliRefusedSettings, ExitOneWithTheReason) {
  TCliRun r = Run({"backup", "--set", MakeSet(GetParam().keys), "--quiet"});
  EXPECT_EQ(r.exitCode, 1) << Show(r);
  EXPECT_TRUE(Has(r.err, "Chyba spôsobená neplatnou hodnotou nastavení: " + GetParam().said))
      << Show(r);
}

INSTANTIATE_TEST_SUITE_P(
    Backup, CliRefusedSettings,
    ::testing::Values(RefusedSetting{"NoPassword", {{"EncryptData", "1"}}, "Chýba heslo!!!"},
                      RefusedSetting{"DottedVolumes",
                                     {{"SpanDisks", "1"}},
                                     "Meno súboru zálohy musí byť uvedené bez koncovky"},
                      RefusedSetting{"RestoreMode",
                                     {{"RestoreMode", "7"}},
                                     "Neplatná hodnota nastavenia RestoreMode=7"},
                      RefusedSetting{"CompressData",
                                     {{"CompressData", "5"}},
                                     "Neplatná hodnota nastavenia CompressData=5"},
                      RefusedSetting{"HandleOpenErrors",
                                     {{"HandleOpenErrors", "3"}},
                                     "Neplatná hodnota nastavenia HandleOpenErrors=3"},
                      RefusedSetting{"SpecialWithoutDate",
                                     {{"BackupMode", "3"}},
                                     "Neplatná hodnota nastavenia SpecialBackupDate"},
                      RefusedSetting{"NulInAValue",
                                     {{"ArchiveBaseName", "job\\x00.arc"}},
                                     "Neplatná hodnota nastavenia ArchiveBaseName"}),
    vx::test::TCaseName());

// A set file or a log that is not a regular file is refused at once with a
// message; nothing waits for a writer or reads for ever.
TEST_F(CliBackup, SetFilesAndLogsThatAreNoFilesAreRefusedAtOnce) {
  ASSERT_EQ(::mkfifo(Path("pipe.set").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(Path("pipe.log").c_str(), 0600), 0);
  const std::string set = MakeSet();
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string said;
  };
  const Case cases[] = {
      {{"backup", "--set", Path("pipe.set")}, 99, Path("pipe.set") + " nie je obyčajný súbor"},
      {{"backup", "--set", Path("none.set")}, 99, "Súbor " + Path("none.set") + " neexistuje"},
      {{"backup", "--set", set, "--append-log", "--log", "/dev/zero"},
       99,
       "the log /dev/zero is not a regular file"},
      {{"backup", "--set", set, "--log", "/dev/full"},
       99,
       "the log /dev/full is not a regular file"},
      {{"backup", "--set", set, "--append-log", "--log", Path("pipe.log")}, 99, Path("pipe.log")},
  };
  for (const Case& c : cases) {
    TCliCall call;
    call.guardSeconds = 10;
    TCliRun r = Run(c.args, call);
    EXPECT_FALSE(r.killedByGuard) << Show(r);
    EXPECT_EQ(r.exitCode, c.code) << Show(r);
    EXPECT_TRUE(Has(r.err, c.said)) << Show(r);
  }
}

// A backup that took no file still ends with 0, and says so even when quiet.
TEST_F(CliBackup, NothingBackedUpIsSaidEvenWhenQuiet) {
  TCliRun r =
      Run({"backup", "--set", MakeSet({{"IncludeNames", Path("none") + "/*.*\\x09"}}), "--quiet"});
  EXPECT_EQ(r.exitCode, 0) << Show(r);
  EXPECT_TRUE(Has(r.err, "no file was backed up")) << Show(r);

  TCliRun some = Run({"backup", "--set", MakeSet(), "--quiet"});
  EXPECT_EQ(some.exitCode, 0) << Show(some);
  EXPECT_EQ(some.err, "") << Show(some);
}

// Folders the scan cannot open (no permission) are warned about in the log,
// one line each, and counted on stderr.
TEST_F(CliBackup, UnreadableFoldersAreLoggedAndCounted) {
  if (::geteuid() != 0 || !fs::exists("/usr/bin/setpriv")) {
    GTEST_SKIP() << "needs root to run the program as an unprivileged user";
  }
  fs::create_directories(Path("src/closed"));
  fs::create_directories(Path("src/noexec"));
  Write("src/closed/x.txt", "x");
  Write("src/noexec/y.txt", "y");
  fs::create_directories(Path("arc"));
  for (const char* d : {"", "src", "src/sub", "state", "arc"}) {
    fs::permissions(Path(d), fs::perms::all);
  }
  ::chmod(Path("src/closed").c_str(), 0);
  ::chmod(Path("src/noexec").c_str(), 0666);  // listed, but no entry can be examined

  TCliCall asNobody;
  asNobody.runAsUser = "nobody";
  TCliRun r = Run({"backup", "--set", MakeSet(), "--log", Path("arc/n.log"), "--quiet"}, asNobody);
  EXPECT_EQ(r.exitCode, 16) << Show(r);  // finished without the two folders
  EXPECT_TRUE(Has(r.err, "2 folder(s) could not be opened")) << Show(r);
  const std::string log = Read("arc/n.log");
  for (const char* d : {"src/closed/", "src/noexec/"}) {
    EXPECT_TRUE(Has(log, "Upozornenie :" + Path(d) + " nemožno otvoriť")) << log;
  }
  EXPECT_TRUE(Has(log, "Upozornenia počas zálohy: 2")) << log;
  EXPECT_TRUE(Has(log, "Zálohované 3 súbory")) << log;
}

// SIGTERM in the middle of a large file stops the backup within a second
// with 12, and no partial archive is left.
TEST_F(CliBackup, StopSignalEndsWithinASecondAtTheNextBlock) {
  {
    const int fd = ::open(Path("src/huge.img").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, std::int64_t{16} << 30), 0);  // sparse: nothing on the disk
    ::close(fd);
  }
  const std::string set = MakeSet({{"NoFileCRCs", "1"}, {"CompressData", "1"}});
  const std::string err = Path("stop.err");
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::setenv("VAULTIX_STATE_DIR", Path("state").c_str(), 1);
    ::setenv("LC_ALL", "C", 1);
    const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(e, 2);
    const int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, 0);
    ::dup2(devnull, 1);
    ::execl(CliBinary().c_str(), CliBinary().c_str(), "backup", "--set", set.c_str(), "--no-log",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  using Clock = std::chrono::steady_clock;
  // Wait until the data pass is writing the archive (it appears under a
  // private name in arc/), or give up after 20 s.
  const auto begin = Clock::now();
  auto writing = [&] {
    std::error_code ec;
    return fs::exists(Path("arc"), ec) && !fs::is_empty(Path("arc"), ec);
  };
  while (!writing() && Clock::now() - begin < std::chrono::seconds(20)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(writing());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const auto sent = Clock::now();
  ::kill(pid, SIGTERM);
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() - sent > std::chrono::seconds(30)) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const auto took = Clock::now() - sent;
  ASSERT_TRUE(WIFEXITED(status)) << Read("stop.err");
  EXPECT_EQ(WEXITSTATUS(status), 12) << Read("stop.err");
  EXPECT_LT(took, std::chrono::seconds(1));
  EXPECT_TRUE(fs::is_empty(Path("arc")));
}

}  // namespace
}  // namespace vxtest
