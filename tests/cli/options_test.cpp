// The command-line parser and the settings it puts into an engine.
#include "cli/options.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "cli/cli_fixture.h"
#include "cli/commands.h"
#include "cli/configure.h"
#include "cli/signals.h"
#include "common/named_case.h"

namespace vxtest {
namespace {

using vx::ParseCommandLine;

TEST(CliOptions, ValuesAfterBlankOrEqualsAndRepeatedLists) {
  auto p = ParseCommandLine({"restore", "--set=/s.set", "--include", "/a/*.txt", "--include=b*",
                             "--restore-to", "/out", "--flat", "--restore-mode=newer-and-new", "-q",
                             "--log", "r.log"});
  ASSERT_TRUE(p.ok) << p.error;
  const auto& o = p.options;
  EXPECT_EQ(o.operation, vx::TCliOperation::Restore);
  EXPECT_EQ(o.setFile, "/s.set");
  EXPECT_EQ(o.includes, (std::vector<std::string>{"/a/*.txt", "b*"}));
  EXPECT_EQ(o.restoreTo, "/out");
  EXPECT_TRUE(o.flat);
  EXPECT_EQ(o.restoreMode, vx::RM_NewerAndNew);
  EXPECT_TRUE(o.quiet);
  EXPECT_EQ(o.logFile, "r.log");
  // A value that looks like an option is still the value.
  auto dash = ParseCommandLine({"backup", "--set", "s", "--comment", "--not-an-option"});
  ASSERT_TRUE(dash.ok) << dash.error;
  EXPECT_EQ(dash.options.comment, "--not-an-option");
}

TEST_P(CliParse, AcceptsTheLineOrSaysWhyNot) {
  const TParseCase& c = GetParam();
  const auto p = ParseCommandLine(c.args);
  EXPECT_EQ(p.ok, c.error.empty()) << p.error;
  if (!c.error.empty()) {
    EXPECT_THAT(p.error, ::testing::HasSubstr(c.error));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, CliParse,
    ::testing::Values(
        TParseCase{"NoOperation", {}, "no operation"},
        TParseCase{"BackupWithNothingToBackUp",
                   {"backup"},
                   "backup without --set or --job needs --include, --destination and --archive"},
        TParseCase{"SetTwice", {"backup", "--set", "a", "--set", "b"}, "twice"},
        TParseCase{"IncludeWithVerify",
                   {"verify", "--set", "s", "--include", "x"},
                   "cannot be used with verify"},
        TParseCase{"SwitchWithValue", {"backup", "--set", "s", "--quiet=yes"}, "takes no value"},
        TParseCase{
            "UnknownMode", {"backup", "--set", "s", "--mode", "weekly"}, "invalid value 'weekly'"},
        TParseCase{"FlatWithoutRestoreTo",
                   {"restore", "--set", "s", "--flat"},
                   "--flat needs --restore-to"},
        TParseCase{"AllWithInclude", {"restore", "--set", "s", "--all", "--include", "x"}, "--all"},
        TParseCase{"NoLogWithLog", {"backup", "--set", "s", "--no-log", "--log", "x"}, "--no-log"},
        TParseCase{"DeleteIncludeAndExclude",
                   {"delete", "--set", "s", "--include", "a", "--exclude", "b"},
                   "not both"},
        TParseCase{"StrayArgument", {"backup", "--set", "s", "stray"}, "unexpected argument"},
        TParseCase{"EmptyLogName", {"backup", "--set", "s", "--log", ""}, "needs a file name"},
        TParseCase{"WaitLockNotANumber",
                   {"backup", "--set", "s", "--wait-lock", "soon"},
                   "--wait-lock needs a number of seconds"},
        TParseCase{"WaitLockNegative",
                   {"verify", "--set", "s", "--wait-lock=-1"},
                   "--wait-lock needs a number of seconds"},
        TParseCase{"WaitLockAccepted", {"catalog", "--set", "s", "--wait-lock", "30"}, ""},
        TParseCase{"MkdirOnlyForBackup",
                   {"restore", "--set", "s", "--all", "--mkdir"},
                   "--mkdir cannot be used with restore"},
        TParseCase{"MkdirWithJob", {"backup", "--job", "j", "--mkdir"}, ""}),
    vx::test::TCaseName());

TEST(CliOptions, HelpIsTakenWithAnyOperation) {
  EXPECT_TRUE(ParseCommandLine({"catalog", "--set", "s", "--help"}).options.help);
}

// ConfigureEngine on a real set file.
class CliConfigure : public CliFixture {
 protected:
  vx::TCliOptions Options(std::vector<std::string> args) {
    auto p = ParseCommandLine(args);
    EXPECT_TRUE(p.ok) << p.error;
    return p.options;
  }
};

TEST_F(CliConfigure, SetFileExtrasAreReadAndCheckedLikeIntegers) {
  EXPECT_EQ(vx::ParseSetInteger(" 0x1F "), 31);
  EXPECT_EQ(vx::ParseSetInteger("-12"), -12);
  EXPECT_EQ(vx::ParseSetInteger("9223372036854775807"), INT64_MAX);
  EXPECT_FALSE(vx::ParseSetInteger("9223372036854775808"));
  EXPECT_FALSE(vx::ParseSetInteger("0x"));
  EXPECT_FALSE(vx::ParseSetInteger("12k"));
  EXPECT_FALSE(vx::ParseSetInteger(""));

  std::string set =
      MakeSet({{"MaxSplitSize", "0x100000"}, {"NoFileCRCs", "7"}, {"AskForNextDisk", "0"}});
  vx::TVaultrex engine;
  vx::ConfigureEngine(engine, Options({"backup", "--set", set}));
  EXPECT_EQ(engine.MaxSplitSize, 0x100000);
  EXPECT_TRUE(engine.NoFileCRCs);
  EXPECT_FALSE(engine.AskForNextDisk);
  EXPECT_FALSE(engine.UseExtStatistic);  // absent: the engine's default

  std::string bad = MakeSet({{"UseExtStatistic", "yes"}}, "bad.set");
  vx::TVaultrex other;
  EXPECT_THROW(vx::ConfigureEngine(other, Options({"backup", "--set", bad})), vx::ECliSetting);
}

TEST_F(CliConfigure, LogChoice) {
  std::string plain = MakeSet();
  std::string appending = MakeSet({{"LogFileMode", "2"}, {"LogFileName", "/x.log"}}, "ap.set");
  struct Case {
    std::string set;
    std::vector<std::string> extra;
    vx::TLogFileMode mode;
    std::string name;
  };
  const std::vector<Case> cases = {
      {plain, {}, vx::LFM_NoLog, ""},
      {plain, {"--log", "/n.log"}, vx::LFM_CreateNew, "/n.log"},
      {plain, {"--log", "/n.log", "--append-log"}, vx::LFM_Append, "/n.log"},
      {appending, {"--log", "/n.log"}, vx::LFM_Append, "/n.log"},  // the set file's choice stays
      {appending, {"--no-log"}, vx::LFM_NoLog, "/x.log"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"verify", "--set", c.set};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    vx::TVaultrex engine;
    vx::ConfigureEngine(engine, Options(args));
    EXPECT_EQ(engine.LogFileMode, c.mode) << args.back();
    EXPECT_EQ(engine.LogFileName, c.name) << args.back();
  }
  // A log asked for without a name would only fail later, inside the run.
  vx::TVaultrex engine;
  EXPECT_THROW(vx::ConfigureEngine(engine, Options({"verify", "--set", plain, "--append-log"})),
               vx::ECliSetting);
}

TEST_F(CliConfigure, PasswordFileAndSelections) {
  Write("pw", "secret-pass\r\nsecond line\n");
  ::chmod(Path("pw").c_str(), 0644);
  bool loose = false;
  EXPECT_EQ(vx::ReadPasswordFile(Path("pw"), loose), "secret-pass");
  EXPECT_TRUE(loose);
  EXPECT_THROW(vx::ReadPasswordFile(Path("none"), loose), vx::ECliSetting);
  EXPECT_THROW(vx::ReadPasswordFile(Path("src"), loose), vx::ECliSetting);

  std::string set = MakeSet({{"ExcludeNames", "*.tmp\\x09"}});
  vx::TVaultrex backup;
  std::string warnings =
      vx::ConfigureEngine(backup, Options({"backup", "--set", set, "--password-file", Path("pw")}));
  EXPECT_TRUE(backup.EncryptData);
  EXPECT_EQ(backup.EncryptKey, "secret-pass");
  EXPECT_NE(warnings.find("can be read by other users"), std::string::npos);

  vx::TVaultrex restore;
  vx::ConfigureEngine(restore, Options({"restore", "--set", set, "--password-file", Path("pw"),
                                        "--all", "--restore-to", "/r"}));
  EXPECT_FALSE(restore.EncryptData);  // the archive says whether it is encrypted
  EXPECT_EQ(restore.IncludeNames, (vx::TStrings{"*"}));
  EXPECT_TRUE(restore.RedirectRestore);
  EXPECT_EQ(restore.RestoreTo, "/r");

  // delete takes its selection from the command line only.
  vx::TVaultrex del;
  vx::ConfigureEngine(del, Options({"delete", "--set", set, "--include", "*.txt"}));
  EXPECT_EQ(del.IncludeNames, (vx::TStrings{"*.txt"}));
  EXPECT_TRUE(del.ExcludeNames.empty());
}

TEST_F(CliConfigure, AStopSignalEndsTheRunWithCode12AndNoQuestion) {
  ::setenv("VAULTIX_STATE_DIR", Path("state").c_str(), 1);
  std::ostringstream out, err;
  int asked = 0;
  vx::TCliEnvironment env{out,
                          err,
                          [&](std::string&) {
                            ++asked;
                            return false;
                          },
                          true,
                          false,
                          80,
                          nullptr,
                          nullptr,
                          nullptr};
  vx::RequestCancel();  // as the SIGINT handler does
  int code = vx::RunCli({"backup", "--set", MakeSet(), "--log", Path("c.log")}, env);
  vx::ClearCancel();
  EXPECT_EQ(code, 12) << err.str();
  EXPECT_EQ(asked, 0);
  EXPECT_NE(err.str().find("Záloha dát bola prerušená."), std::string::npos) << err.str();
  EXPECT_FALSE(fs::exists(Path("arc/job.arc")));
  EXPECT_NE(Read("c.log").find("Prerušenie zálohovania spôsobené "), std::string::npos);
}

}  // namespace
}  // namespace vxtest
