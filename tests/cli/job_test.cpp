// vaultix-cli --job: a job file saved by the desktop program, run from the
// command line with the settings the desktop program's status window uses.
#include "cli/job.h"

#include <cstdlib>

#include "cli/cli_fixture.h"
#include "cli/configure.h"
#include "cli/options.h"
#include "common/named_case.h"
#include "engine/wizard_job.h"

namespace vxtest {
namespace {

INSTANTIATE_TEST_SUITE_P(
    MalformedJobLines, CliParse,
    ::testing::Values(
        TParseCase{"JobAndSet", {"backup", "--job", "j.sqt", "--set", "s"}, "cannot be combined"},
        TParseCase{"SetAndJob", {"verify", "--set", "s", "--job", "j.sqt"}, "cannot be combined"},
        TParseCase{"JobTwice", {"backup", "--job", "a.sqt", "--job", "b.sqt"}, "--job given twice"},
        TParseCase{"JobWithoutName", {"backup", "--job"}, "--job needs a file name"},
        TParseCase{"JobWithEmptyName", {"backup", "--job="}, "--job needs a file name"},
        TParseCase{"DeleteJob",
                   {"delete", "--job", "j.sqt", "--exclude", "x"},
                   "cannot be used with delete"},
        TParseCase{"JobWithDestination",
                   {"backup", "--job", "j.sqt", "--destination", "/x"},
                   "only --quiet"},
        TParseCase{"JobWithPasswordFile",
                   {"backup", "--job", "j.sqt", "--password-file", "p"},
                   "only --quiet"},
        TParseCase{
            "JobWithInclude", {"backup", "--job", "j.sqt", "--include", "/x"}, "only --quiet"},
        TParseCase{"JobRestoreFlat",
                   {"restore", "--job", "j.sqt", "--restore-to", "/r", "--flat"},
                   "only --quiet"},
        TParseCase{"JobRestoreWithoutTarget", {"restore", "--job", "j.sqt"}, "needs --restore-to"},
        TParseCase{
            "JobNoLogWithLog", {"verify", "--job", "j.sqt", "--no-log", "--log", "x"}, "--no-log"}),
    vx::test::TCaseName());

TEST(CliJobOptions, RestoreJobTakesTheReadingOptions) {
  auto ok = vx::ParseCommandLine({"restore", "--job=j.sqt", "--restore-to", "/r", "--include",
                                  "*.txt", "--restore-mode", "newer", "-q", "--log", "l"});
  ASSERT_TRUE(ok.ok) << ok.error;
  EXPECT_EQ(ok.options.jobFile, "j.sqt");
  EXPECT_TRUE(ok.options.setFile.empty());
}

class CliJob : public CliFixture {
 protected:
  void SetUp() override {
    CliFixture::SetUp();
    page.Include = {Path("src") + "/*.* /S"};
    page.Exclude = {"*.bin"};
    page.Location = Path("arc");  // no trailing "/": the set is still found
    page.BaseName = "NIGHTLY";
    page.EraseTarget = false;
    page.Compression = 2;
    page.CreateLog = true;
    page.Comment = "nočná záloha";
    job = Path("nightly.sqt");
    vx::SaveJobFile(job, page);
  }

  vx::TCliOptions Options(std::vector<std::string> args) {
    auto p = vx::ParseCommandLine(args);
    EXPECT_TRUE(p.ok) << p.error;
    return p.options;
  }

  vx::TBackupPage page;
  std::string job;
};

TEST_F(CliJob, BackupGetsTheStatusWindowsSettings) {
  ::setenv("VAULTIX_STATE_DIR", Path("state").c_str(), 1);
  vx::TVaultrex expected, got;
  vx::ApplyStatusWindowDefaults(expected);
  vx::ApplyBackupPage(expected, page, "");
  vx::ConfigureFromJob(got, Options({"backup", "--job", job}));
  ::unsetenv("VAULTIX_STATE_DIR");
  EXPECT_EQ(got.IncludeNames, expected.IncludeNames);
  EXPECT_EQ(got.ExcludeNames, expected.ExcludeNames);
  EXPECT_EQ(got.BackupDestination, Path("arc"));
  EXPECT_EQ(got.ArchiveBaseName, "NIGHTLY");
  EXPECT_EQ(got.CompressData, vx::CDM_MaxCompression);
  EXPECT_EQ(got.Comment, "nočná záloha");
  EXPECT_EQ(got.SpanDisks, expected.SpanDisks);
  EXPECT_EQ(got.NoFileCRCs, expected.NoFileCRCs);
  EXPECT_EQ(got.AskForFirstDisk, expected.AskForFirstDisk);
  EXPECT_EQ(got.EraseTargetDir, false);
  EXPECT_EQ(got.HandleOpenError, vx::AW_RETRY);
  EXPECT_EQ(got.LogFileMode, vx::LFM_CreateNew);
  EXPECT_EQ(got.LogFileName.rfind(Path("state") + "/logs/Backup ", 0), 0u) << got.LogFileName;
}

// A job file that holds a password is worth a warning when others can read it.
TEST_F(CliJob, PasswordInAFileOthersCanReadIsWarnedOf) {
  ::setenv("VAULTIX_STATE_DIR", Path("state").c_str(), 1);
  page.Encryption = true;
  page.Password = "correct horse battery";
  vx::SaveJobFile(job, page);
  for (const mode_t mode : {0644, 0640, 0600}) {
    ::chmod(job.c_str(), mode);
    vx::TVaultrex engine;
    const std::string warnings = vx::ConfigureFromJob(engine, Options({"verify", "--job", job}));
    EXPECT_EQ(
        warnings.find("warning: job file " + job +
                      " holds a password and can be read by other users") != std::string::npos,
        mode != 0600)
        << std::oct << mode << ": " << warnings;
  }
  ::unsetenv("VAULTIX_STATE_DIR");
}

TEST_F(CliJob, SkipLocksAndLogChoices) {
  page.SkipLocks = true;
  vx::SaveJobFile(job, page);
  vx::TVaultrex skip;
  vx::ConfigureFromJob(skip, Options({"backup", "--job", job, "--log", Path("x.log")}));
  EXPECT_EQ(skip.HandleOpenError, vx::AW_IGNORE);
  EXPECT_EQ(skip.HandleFileReadError, vx::AW_IGNORE);
  EXPECT_EQ(skip.LogFileName, Path("x.log"));
  vx::TVaultrex none;
  vx::ConfigureFromJob(none, Options({"verify", "--job", job, "--no-log"}));
  EXPECT_EQ(none.LogFileMode, vx::LFM_NoLog);
}

TEST_F(CliJob, ReadingOperationsUseTheSetTheJobWrites) {
  page.Encryption = true;
  page.Password = "tajneheslo";
  page.CreateLog = false;
  vx::SaveJobFile(job, page);
  for (const char* op : {"verify", "catalog", "comment", "restore"}) {
    std::vector<std::string> args = {op, "--job", job};
    if (std::string(op) == "restore") args.insert(args.end(), {"--restore-to", Path("r")});
    vx::TVaultrex e;
    vx::ConfigureFromJob(e, Options(args));
    EXPECT_EQ(e.BackupDestination, Path("arc") + "/") << op;
    EXPECT_EQ(e.ArchiveBaseName, "NIGHTLY") << op;
    EXPECT_TRUE(e.EncryptData) << op;
    EXPECT_EQ(e.EncryptKey, "tajneheslo") << op;
    EXPECT_EQ(e.LogFileMode, vx::LFM_NoLog) << op;
    if (std::string(op) == "restore") {
      EXPECT_TRUE(e.RedirectRestore);
      EXPECT_EQ(e.RestoreTo, Path("r"));
      EXPECT_EQ(e.IncludeNames, vx::TStrings{"*"});
    }
  }
}

TEST_F(CliJob, RunsBackupVerifyCatalogAndRestoreUnattended) {
  auto backup = Run({"backup", "--job", job});
  ASSERT_EQ(backup.exitCode, 0) << Show(backup);
  EXPECT_TRUE(fs::exists(Path("arc/NIGHTLY.001"))) << Show(backup);
  // The log went to the desktop program's log folder.
  std::vector<fs::path> logs;
  for (const auto& e : fs::directory_iterator(Path("state/logs"))) logs.push_back(e.path());
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0].filename().string().rfind("Backup ", 0), 0u);
  EXPECT_NE(backup.err.find("log: " + logs[0].string()), std::string::npos) << Show(backup);

  auto verify = Run({"verify", "--job", job, "--no-log"});
  EXPECT_EQ(verify.exitCode, 0) << Show(verify);
  auto catalog = Run({"catalog", "--job", job});
  ASSERT_EQ(catalog.exitCode, 0) << Show(catalog);
  EXPECT_NE(catalog.out.find(Path("src/a.txt")), std::string::npos);
  EXPECT_NE(catalog.out.find(Path("src/sub/b.txt")), std::string::npos);
  EXPECT_EQ(catalog.out.find("c.bin"), std::string::npos);  // excluded by the job
  auto restore = Run({"restore", "--job", job, "--restore-to", Path("back"), "--no-log"});
  ASSERT_EQ(restore.exitCode, 0) << Show(restore);
  EXPECT_EQ(ReadAbs(Path("back") + Path("src/sub/b.txt")), Read("src/sub/b.txt"));
}

TEST_F(CliJob, JobsThatCannotRunSayWhy) {
  struct Case {
    std::string content;  // empty: no file
    int code;
    std::string why;
  };
  const std::vector<Case> cases = {
      {"", 99, "Súbor nenájdený."},
      {"[ID]\nOther=1\n", 99, "Neplatný formát záložnej sady"},
      {"[ID]\nVelmora=1\n[Include]\nFiles0=/x\n[How]\nMode=3\n", 1, "Neplatný dátum!"},
  };
  for (const auto& c : cases) {
    const std::string file = Path("bad.sqt");
    fs::remove(file);
    if (!c.content.empty()) Write("bad.sqt", c.content);
    auto r = Run({"backup", "--job", file});
    EXPECT_EQ(r.exitCode, c.code) << Show(r);
    EXPECT_NE(r.err.find(c.why), std::string::npos) << Show(r);
  }
}

}  // namespace
}  // namespace vxtest
