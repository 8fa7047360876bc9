// The ways a password reaches a run (file, environment, command, terminal),
// a wrong password found before anything is written, and files holding a
// password that others can read.
#include <sys/stat.h>

#include "cli/cli_fixture.h"
#include "common/named_case.h"

namespace vxtest {
namespace {

constexpr char kPassword[] = "correct horse battery";

class CliPassword : public CliFixture {
 protected:
  void SetUp() override {
    CliFixture::SetUp();
    fs::create_directories(root_ / "arc");
    Write("pw", std::string(kPassword) + "\n");
    Write("wrong", "some other password\n");
    ::chmod(Path("pw").c_str(), 0600);
    ::chmod(Path("wrong").c_str(), 0600);
  }
  std::vector<std::string> With(std::vector<std::string> args) const {
    for (const char* a : {"--destination", "@arc", "--archive", "docs"}) args.emplace_back(a);
    for (std::string& a : args) {
      if (a.rfind('@', 0) == 0) a = Path(a.substr(1));
    }
    return args;
  }
  TCliCall Call(std::vector<std::string> args,
                std::vector<std::pair<std::string, std::string>> env = {}) const {
    TCliCall call;
    call.args = With(std::move(args));
    call.env = std::move(env);
    call.env.emplace_back("VAULTIX_STATE_DIR", Path("state"));
    call.env.emplace_back("LC_ALL", "C");
    return call;
  }
  // A restore of everything with the right password gives the files back.
  void ExpectRestoredWithThePassword() const {
    TCliRun r =
        RunCli(Call({"restore", "--all", "--restore-to", "@good", "--password-file", "@pw"}));
    ASSERT_EQ(r.exitCode, 0) << Show(r);
    EXPECT_EQ(ReadAbs(Path("good") + Path("src/sub/b.txt")), Read("src/sub/b.txt"));
  }
};

struct TGivenCase {
  const char* name;
  std::vector<std::string> args;  // after "backup --include @src" ("@x": the scratch path of x)
  std::vector<std::pair<std::string, std::string>> env;
  std::vector<std::pair<std::string, std::string>> typed;  // on a terminal when not empty
  int exitCode;
  std::string message;  // part of stderr
};
void PrintTo(const TGivenCase& c, std::ostream* os) { *os << c.name; }

class CliPasswordGiven : public CliPassword, public ::testing::WithParamInterface<TGivenCase> {};

TEST_P(CliPasswordGiven, BackupEncryptsWithItOrSaysWhyNot) {
  const TGivenCase& c = GetParam();
  std::vector<std::string> args = {"backup", "--include", "@src"};
  args.insert(args.end(), c.args.begin(), c.args.end());
  std::vector<std::pair<std::string, std::string>> env;
  for (auto [k, v] : c.env) env.emplace_back(k, v.rfind('@', 0) == 0 ? Path(v.substr(1)) : v);
  const TCliCall call = Call(args, env);
  TCliRun b = c.typed.empty() ? RunCli(call) : RunCliOnTerminal(call, c.typed);
  ASSERT_EQ(b.exitCode, c.exitCode) << Show(b);
  EXPECT_NE(b.err.find(c.message), std::string::npos) << Show(b);
  // Never shown, never echoed.
  EXPECT_EQ(b.err.find(kPassword), std::string::npos) << Show(b);
  if (c.exitCode != 0) {
    EXPECT_FALSE(fs::exists(Path("arc/docs"))) << Show(b);
    return;
  }
  EXPECT_EQ(Read("arc/docs").find("MARKER-PLAIN-TEXT"), std::string::npos)
      << "the archive holds the data in plain text";
  ExpectRestoredWithThePassword();
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliPasswordGiven,
    ::testing::Values(TGivenCase{"EnvironmentFile",
                                 {},
                                 {{"VAULTIX_PASSWORD_FILE", "@pw"}},
                                 {},
                                 0,
                                 "Záloha dát je ukončená."},
                      TGivenCase{
                          "Command",
                          {"--password-command", "printf 'correct horse battery\\nsecond line\\n'"},
                          {},
                          {},
                          0,
                          "Záloha dát je ukončená."},
                      TGivenCase{"CommandFailing",
                                 {"--password-command", "echo correct horse battery; exit 7"},
                                 {},
                                 {},
                                 1,
                                 "--password-command failed with exit status 7"},
                      TGivenCase{"CommandAndFile",
                                 {"--password-command", "true", "--password-file", "@pw"},
                                 {},
                                 {},
                                 64,
                                 "cannot be combined"},
                      TGivenCase{"PromptTwiceMatching",
                                 {"--encrypt"},
                                 {},
                                 {{"Heslo: ", "correct horse battery\n"},
                                  {"Heslo ešte raz: ", "correct horse battery\n"}},
                                 0,
                                 "Heslo ešte raz: "},
                      TGivenCase{"PromptTwiceDiffering",
                                 {"--encrypt"},
                                 {},
                                 {{"Heslo: ", "correct horse battery\n"},
                                  {"Heslo ešte raz: ", "correct horse batterx\n"}},
                                 1,
                                 "the two passwords differ"}),
    vx::test::TCaseName());

struct TWrongCase {
  const char* name;
  const char* compress;
  const char* operation;
};
void PrintTo(const TWrongCase& c, std::ostream* os) { *os << c.name; }

class CliWrongPassword : public CliPassword, public ::testing::WithParamInterface<TWrongCase> {};

// Found on the first data blocks, whether they are packed (their own check
// fails) or not (the first file's checksum differs): 14, nothing written.
TEST_P(CliWrongPassword, EndsWith14BeforeAnythingIsWritten) {
  const TWrongCase& c = GetParam();
  TCliRun b = RunCli(
      Call({"backup", "--include", "@src", "--compress", c.compress, "--password-file", "@pw"}));
  ASSERT_EQ(b.exitCode, 0) << Show(b);

  std::vector<std::string> args = {c.operation, "--password-file", "@wrong"};
  if (std::string(c.operation) == "restore") {
    for (const char* a : {"--all", "--restore-to", "@bad"}) args.emplace_back(a);
  }
  TCliRun r = RunCli(Call(args));
  EXPECT_EQ(r.exitCode, 14) << Show(r);
  EXPECT_NE(r.err.find("vaultix-cli: wrong password"), std::string::npos) << Show(r);
  EXPECT_FALSE(fs::exists(Path("bad"))) << Show(r);

  // Without any password the set's encryption is named.
  TCliRun none = RunCli(Call({"verify"}));
  EXPECT_EQ(none.exitCode, 14) << Show(none);
  EXPECT_NE(none.err.find("the set is encrypted"), std::string::npos) << Show(none);
}

INSTANTIATE_TEST_SUITE_P(Table, CliWrongPassword,
                         ::testing::Values(TWrongCase{"PlainRestore", "none", "restore"},
                                           TWrongCase{"PackedRestore", "max", "restore"},
                                           TWrongCase{"PlainVerify", "none", "verify"}),
                         vx::test::TCaseName());

// A set that turns out encrypted asks for the password at the terminal.
TEST_F(CliPassword, RestoreAsksAtTheTerminalWhenTheSetIsEncrypted) {
  ASSERT_EQ(RunCli(Call({"backup", "--include", "@src", "--password-file", "@pw"})).exitCode, 0);
  TCliRun r = RunCliOnTerminal(Call({"restore", "--all", "--restore-to", "@good"}),
                               {{"Heslo: ", std::string(kPassword) + "\n"}});
  ASSERT_EQ(r.exitCode, 0) << Show(r);
  EXPECT_EQ(r.err.find(kPassword), std::string::npos) << "echoed: " << Show(r);
  EXPECT_EQ(ReadAbs(Path("good") + Path("src/sub/b.txt")), Read("src/sub/b.txt"));
}

// A set file that holds a password is worth a warning when others can read
// it; so is a password file.
TEST_F(CliPassword, FilesHoldingAPasswordThatOthersCanReadAreWarnedOf) {
  const std::string set = MakeSet({{"EncryptData", "1"}, {"EncryptKey", kPassword}});
  struct {
    const char* file;
    mode_t mode;
    bool warned;
  } cases[] = {{"job.set", 0644, true},
               {"job.set", 0640, true},
               {"job.set", 0600, false},
               {"pw", 0604, true},
               {"pw", 0600, false}};
  for (const auto& c : cases) {
    ::chmod(Path("job.set").c_str(), 0600);
    ::chmod(Path("pw").c_str(), 0600);
    ::chmod(Path(c.file).c_str(), c.mode);
    TCliRun r = Run({"verify", "--set", set, "--no-log", "--password-file", Path("pw"), "--quiet"});
    const std::string warning =
        std::string(c.file) == "pw"
            ? "warning: password file " + Path("pw") + " can be read by other users"
            : "warning: set file " + set + " holds a password and can be read by other users";
    EXPECT_EQ(r.err.find(warning) != std::string::npos, c.warned)
        << c.file << " " << std::oct << c.mode << "\n"
        << Show(r);
  }
}

}  // namespace
}  // namespace vxtest
