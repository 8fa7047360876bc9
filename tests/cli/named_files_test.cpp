// Files the user names that must not be what they seem: a set that is a FIFO
// or a device, a job file that is one, and a log that names the set itself
// or one of its volumes.  Each is refused at once, and the set stays whole.
#include <sys/stat.h>
#include <unistd.h>

#include "cli/cli_fixture.h"

namespace vxtest {
namespace {

using CliNamedFiles = CliFixture;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Every reading operation on a set that is a FIFO ends at once with the code
// of a set that cannot be opened; a job file that is a FIFO or a device too.
TEST_F(CliNamedFiles, SetsAndJobsThatAreNoFilesAreRefusedAtOnce) {
  fs::create_directories(Path("arc"));
  ASSERT_EQ(::mkfifo(Path("arc/job.arc").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(Path("pipe.sqt").c_str(), 0600), 0);
  const std::vector<std::string> where = {"--destination", Path("arc"), "--archive", "job.arc"};
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string said;
  };
  std::vector<Case> cases;
  for (const char* op : {"catalog", "comment", "verify", "delete"}) {
    std::vector<std::string> args = {op};
    args.insert(args.end(), where.begin(), where.end());
    if (std::string(op) == "delete") args.insert(args.end(), {"--exclude", "*.txt"});
    cases.push_back({args, 7, ""});
  }
  std::vector<std::string> restore = {"restore", "--all", "--restore-to", Path("out")};
  restore.insert(restore.end(), where.begin(), where.end());
  cases.push_back({restore, 7, ""});
  cases.push_back({{"backup", "--job", Path("pipe.sqt")}, 99, "nie je obyčajný súbor"});
  cases.push_back({{"backup", "--job", "/dev/zero"}, 99, "nie je obyčajný súbor"});
  for (const Case& c : cases) {
    TCliCall call;
    call.guardSeconds = 10;
    const TCliRun r = Run(c.args, call);
    EXPECT_FALSE(r.killedByGuard) << c.args[0] << Show(r);
    EXPECT_EQ(r.exitCode, c.code) << c.args[0] << Show(r);
    EXPECT_TRUE(Has(r.err, c.said)) << Show(r);
  }
}

// A log that names the set (or a volume of a split set) would empty it as it
// is opened: every operation refuses it with code 1 before writing anything,
// and the set still reads.
TEST_F(CliNamedFiles, LogThatNamesTheSetIsRefusedByEveryOperation) {
  const std::string one = MakeSet();
  const std::string split = MakeSet({{"SpanDisks", "1"}, {"ArchiveBaseName", "vol"}}, "split.set");
  ASSERT_EQ(Run({"backup", "--set", one, "--no-log"}).exitCode, 0);
  ASSERT_EQ(Run({"backup", "--set", split, "--no-log"}).exitCode, 0);
  const std::string oneSet = ReadAbs(Path("arc/job.arc"));
  const std::string firstVolume = ReadAbs(Path("arc/vol.001"));
  ASSERT_FALSE(oneSet.empty());
  ASSERT_FALSE(firstVolume.empty());
  ASSERT_EQ(::symlink(Path("arc/job.arc").c_str(), Path("link.log").c_str()), 0);
  struct Case {
    std::string set;
    std::string log;
  };
  const Case logs[] = {{one, Path("arc/job.arc")},
                       {one, Path("arc/../arc/job.arc")},
                       {one, Path("link.log")},
                       {split, Path("arc/vol.001")},
                       {split, Path("arc/vol.002")}};  // not there yet: the name alone
  for (const Case& c : logs) {
    for (const char* op : {"backup", "verify", "restore", "delete"}) {
      std::vector<std::string> args = {op, "--set", c.set, "--log", c.log};
      if (std::string(op) == "restore")
        args.insert(args.end(), {"--all", "--restore-to", Path("out")});
      if (std::string(op) == "delete") args.insert(args.end(), {"--exclude", "*.bin"});
      const TCliRun r = Run(args);
      EXPECT_EQ(r.exitCode, 1) << op << " " << c.log << Show(r);
    }
    EXPECT_EQ(ReadAbs(Path("arc/job.arc")), oneSet) << c.log;
    EXPECT_EQ(ReadAbs(Path("arc/vol.001")), firstVolume) << c.log;
    EXPECT_FALSE(fs::exists(Path("arc/vol.002"))) << c.log;
  }
}

// Over a file-size limit (ulimit -f) the program is not killed by SIGXFSZ:
// the write fails, the run ends with a failure code, no temporary file stays
// behind and the older set (or restored file) is left as it was.
TEST_F(CliNamedFiles, FileSizeLimitIsAWriteErrorNotADeath) {
  const std::string set = MakeSet();
  ASSERT_EQ(Run({"backup", "--set", set, "--no-log"}).exitCode, 0);
  const std::string older = ReadAbs(Path("arc/job.arc"));
  ASSERT_GT(older.size(), 16u * 1024);
  struct Case {
    std::vector<std::string> args;
    std::string folder;  // where no temporary file may remain
    int code;
  };
  fs::create_directories(Path("out"));
  const Case cases[] = {
      {{"backup", "--set", set, "--no-log"}, "arc", 6},
      {{"restore", "--set", set, "--no-log", "--all", "--restore-to", Path("out")}, "out", 9}};
  for (const Case& c : cases) {
    TCliCall call;
    call.guardSeconds = 30;
    call.fileSizeLimit = 16 * 1024;
    const TCliRun r = Run(c.args, call);
    EXPECT_TRUE(r.exited) << c.args[0] << Show(r);
    EXPECT_EQ(r.exitCode, c.code) << c.args[0] << Show(r);
    for (const auto& e : fs::recursive_directory_iterator(Path(c.folder))) {
      if (!e.is_regular_file()) continue;
      const std::string name = e.path().filename().string();
      EXPECT_NE(name[0], '.') << c.args[0] << ": left behind: " << e.path();
    }
  }
  EXPECT_EQ(ReadAbs(Path("arc/job.arc")), older);
}

}  // namespace
}  // namespace vxtest
