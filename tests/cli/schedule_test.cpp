// vaultix-cli schedule, schedules, unschedule and schedule-done: the unit
// files they write (checked by systemd itself), the user manager they talk
// to (a stand-in systemctl on PATH records the calls), and the notification
// at the end of a scheduled run.
#include "cli/schedule.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <regex>

#include "cli/cli_fixture.h"
#include "engine/vaultrex.h"
#include "engine/wizard_job.h"

namespace vxtest {
namespace {

// How the stand-in systemctl answers.
enum class TManager { Absent, Running, EnableFails };

class Schedules : public CliFixture {
 protected:
  void SetUp() override {
    CliFixture::SetUp();
    fs::create_directories(root_ / "bin");
    fs::create_directories(root_ / "jobs");
    fs::create_directories(root_ / "arc");
    WriteJob("jobs/docs.sqt");
    WriteJob("jobs/photos.sqt");
    SetManager(TManager::Absent);
  }

  // A job that backs src/ up into arc/, changed by `edit`.
  void WriteJob(const std::string& rel,
                const std::function<void(vx::TBackupPage&)>& edit = nullptr) const {
    vx::TBackupPage page;
    page.Include = {Path("src") + "/*.* /S"};
    page.Location = Path("arc");
    page.BaseName = "JOB";
    page.CreateLog = false;
    if (edit) edit(page);
    vx::SaveJobFile(Path(rel), page);
  }

  void SetManager(TManager manager) {
    std::string script = "#!/bin/sh\necho \"$*\" >>" + Path("systemctl.log") + "\n";
    if (manager == TManager::Absent) script += "exit 1\n";
    if (manager == TManager::EnableFails)
      script += "case \"$*\" in *\" enable \"*) exit 1;; esac\n";
    script += "exit 0\n";
    WriteScript("bin/systemctl", script);
  }
  void WriteScript(const std::string& rel, const std::string& text) const {
    Write(rel, text);
    ::chmod(Path(rel).c_str(), 0755);
  }

  // A run with a private configuration folder, only bin/ on PATH, and no
  // session bus unless one is given.
  TCliRun RunS(std::vector<std::string> args,
               std::vector<std::pair<std::string, std::string>> env = {}) const {
    TCliCall call;
    call.env = {{"XDG_CONFIG_HOME", Path("config")},
                {"PATH", Path("bin")},
                {"DBUS_SESSION_BUS_ADDRESS", ""}};
    call.env.insert(call.env.end(), env.begin(), env.end());
    return Run(std::move(args), call);
  }

  std::string UnitFile(const std::string& name, const std::string& kind) const {
    return Path("config/systemd/user/vaultix-" + name + "." + kind);
  }
  std::string Calls() const { return Read("systemctl.log"); }

  // Runs a program through the shell in the scratch folder with the same
  // environment as RunS; standard error lands in the file "err".
  int RunAt(const fs::path& program, const std::vector<std::string>& args) const {
    std::string cmd =
        "cd " + ShellQuote(root_.string()) + " && XDG_CONFIG_HOME=" + ShellQuote(Path("config")) +
        " VAULTIX_STATE_DIR=" + ShellQuote(Path("state")) + " PATH=" + ShellQuote(Path("bin")) +
        " DBUS_SESSION_BUS_ADDRESS= " + ShellQuote(program.string());
    for (const auto& a : args) cmd += " " + ShellQuote(a);
    const int status = std::system((cmd + " >/dev/null 2>" + ShellQuote(Path("err"))).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  static std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
  }

  static bool HaveSystemdAnalyze() {
    return std::system("command -v systemd-analyze >/dev/null 2>&1") == 0;
  }
  // systemd's own check of the two files: "" when it accepts them, else
  // what it says.
  std::string SystemdVerify(const std::string& name) const {
    fs::create_directories(root_ / "runtime");
    fs::permissions(root_ / "runtime", fs::perms::owner_all);
    const std::string out = Path("verify.out");
    const std::string cmd =
        "XDG_RUNTIME_DIR='" + Path("runtime") + "' systemd-analyze --user --man=no verify '" +
        UnitFile(name, "service") + "' '" + UnitFile(name, "timer") + "' >'" + out + "' 2>&1";
    const int rc = std::system(cmd.c_str());
    std::string said = ReadAbs(out);
    if (rc != 0 && said.empty()) said = "exit status " + std::to_string(rc);
    return said;
  }
};

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

struct TWhenCase {
  std::vector<std::string> args;
  std::string calendar;
  std::string when;
};

// A job file name with characters that unit files treat specially.
const char* const kOddJob = "jobs/we%ird $HOME \"q\" \\ x.sqt";

const std::vector<TWhenCase> kWhenCases = {
    {{"--daily", "02:30"}, "*-*-* 02:30:00", "daily 02:30"},
    {{"--daily=7:05"}, "*-*-* 07:05:00", "daily 07:05"},
    {{"--weekly", "sun", "03:00"}, "Sun *-*-* 03:00:00", "weekly Sun 03:00"},
    {{"--weekly", "Friday", "23:59"}, "Fri *-*-* 23:59:00", "weekly Fri 23:59"},
};

TEST_F(Schedules, UnitsRunTheJobWhenAsked) {
  WriteJob(kOddJob);
  const std::string program = vx::QuoteExecArg(fs::canonical(CliBinary()).string(), true);
  for (const std::string& job : {Path("jobs/docs.sqt"), Path(kOddJob)}) {
    const std::string name = vx::ScheduleNameOf(job);
    for (const auto& c : kWhenCases) {
      SCOPED_TRACE(job + " " + c.when);
      std::vector<std::string> args = {"schedule", "--job", job};
      args.insert(args.end(), c.args.begin(), c.args.end());
      TCliRun r = RunS(args);
      ASSERT_EQ(r.exitCode, 0) << Show(r);
      const std::string service = ReadAbs(UnitFile(name, "service"));
      const std::string timer = ReadAbs(UnitFile(name, "timer"));
      EXPECT_TRUE(Contains(timer, "\nOnCalendar=" + c.calendar + "\n")) << timer;
      EXPECT_TRUE(Contains(timer, "\nPersistent=true\n")) << timer;
      EXPECT_TRUE(Contains(service, "\nEnvironment=\"VAULTIX_STATE_DIR=" + Path("state") + "\"\n"))
          << service;
      EXPECT_TRUE(Contains(timer, "\nWantedBy=timers.target\n")) << timer;
      // Under an inhibitor lock, so that the machine does not suspend
      // in the middle of the run.
      EXPECT_TRUE(Contains(service,
                           "\nExecStart=systemd-inhibit --what=sleep:shutdown --who=Vaultix "
                           "\"--why=Vaultix backup " +
                               name + "\" --mode=block " + program + " schedule-run " + name +
                               " --keep-logs 30 --job " + vx::QuoteExecArg(job) + "\n"))
          << service;
      EXPECT_TRUE(Contains(service, "\nNice=10\nIOSchedulingClass=idle\n")) << service;
      EXPECT_TRUE(Contains(timer, "\nRandomizedDelaySec=10min\n")) << timer;
      EXPECT_FALSE(Contains(service, "ConditionACPower")) << service;
      // Exit code 16 (files left out) must fail the unit like any other.
      EXPECT_FALSE(Contains(service, "SuccessExitStatus")) << service;
      EXPECT_TRUE(Contains(service, "\nExecStopPost=" + program + " schedule-done " + name + "\n"))
          << service;
      // No user manager: the two commands to run are printed.
      EXPECT_TRUE(Contains(r.out,
                           "  systemctl --user daemon-reload\n"
                           "  systemctl --user enable --now vaultix-" +
                               name + ".timer\n"))
          << Show(r);
    }
  }
}

// The options of schedule and the lines they put into the units.
TEST_F(Schedules, OptionsShapeTheUnits) {
  struct TCase {
    std::vector<std::string> options;
    std::vector<std::string> serviceHas, serviceLacks, timerHas, timerLacks;
  };
  const std::vector<TCase> cases = {
      {{"--keep-logs", "5"}, {" --keep-logs 5 --job "}, {"ConditionACPower"}, {}, {}},
      {{"--keep-logs=0"}, {" --keep-logs 0 --job "}, {}, {}, {}},
      {{"--random-delay", "45"}, {}, {}, {"\nRandomizedDelaySec=45min\n"}, {}},
      {{"--random-delay=0"}, {}, {}, {}, {"RandomizedDelaySec"}},
      {{"--on-ac-power"},
       {"\nDocumentation=man:vaultix-cli(1)\nConditionACPower=true\n"},
       {},
       {"\nRandomizedDelaySec=10min\n"},
       {"ConditionACPower"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options.front());
    std::vector<std::string> args = {"schedule", "--job", Path("jobs/docs.sqt"), "--daily",
                                     "02:00"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const TCliRun r = RunS(args);
    ASSERT_EQ(r.exitCode, 0) << Show(r);
    const std::string service = ReadAbs(UnitFile("docs", "service"));
    const std::string timer = ReadAbs(UnitFile("docs", "timer"));
    for (const auto& part : c.serviceHas) EXPECT_TRUE(Contains(service, part)) << service;
    for (const auto& part : c.serviceLacks) EXPECT_FALSE(Contains(service, part)) << service;
    for (const auto& part : c.timerHas) EXPECT_TRUE(Contains(timer, part)) << timer;
    for (const auto& part : c.timerLacks) EXPECT_FALSE(Contains(timer, part)) << timer;
  }
}

// A job the scheduled run would refuse is not scheduled: the reason is
// given, the exit code is the run's, and no unit is written.  A job that
// can run is scheduled with the run's warnings.
TEST_F(Schedules, ChecksTheJobAsItsRunWould) {
  struct TCase {
    const char* what;
    std::function<void(vx::TBackupPage&)> edit;
    int code;
    std::string said;
  };
  const std::vector<TCase> cases = {
      {"date mode", [](vx::TBackupPage& p) { p.Mode = 3; }, 1, "Neplatný dátum!"},
      {"missing include",
       [this](vx::TBackupPage& p) { p.Include.push_back(Path("gone") + "/*.* /S"); }, 99,
       "include entry " + Path("gone") + "/*.* /S: no such file or folder"},
      {"missing included file",
       [this](vx::TBackupPage& p) {
         p.Include = {Path("src/a.txt"), Path("src/none.txt")};
       },
       99, "include entry " + Path("src/none.txt") + ": no such file or folder"},
      {"no password", [](vx::TBackupPage& p) { p.Encryption = true; }, 1, "Chýba heslo!!!"},
      {"broken marker", nullptr, 99, "Neplatný formát záložnej sady"},
      {"password others can read",
       [](vx::TBackupPage& p) {
         p.Encryption = true;
         p.Password = "long enough";
       },
       0, "holds a password and can be read by other users"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteJob("jobs/bad.sqt", c.edit);
    if (c.edit == nullptr) {
      // The desktop program's mark is gone from the file's first section.
      std::string text = Read("jobs/bad.sqt");
      text.replace(text.find("[ID]"), 4, "[Id0]");
      Write("jobs/bad.sqt", text);
    }
    fs::permissions(Path("jobs/bad.sqt"), fs::perms::others_read, fs::perm_options::add);
    const TCliRun r = RunS({"schedule", "--job", Path("jobs/bad.sqt"), "--daily", "02:00"});
    EXPECT_EQ(r.exitCode, c.code) << Show(r);
    EXPECT_TRUE(Contains(r.err, c.said)) << Show(r);
    EXPECT_EQ(Contains(r.err, Path("jobs/bad.sqt") + " cannot run as it is; nothing was scheduled"),
              c.code != 0)
        << Show(r);
    EXPECT_EQ(fs::exists(UnitFile("bad", "service")), c.code == 0);
    EXPECT_EQ(fs::exists(UnitFile("bad", "timer")), c.code == 0);
  }
}

TEST_F(Schedules, SystemdAcceptsTheUnits) {
  if (!HaveSystemdAnalyze()) GTEST_SKIP() << "systemd-analyze is not installed (package systemd)";
  WriteJob(kOddJob);
  // The program itself in a folder with odd characters that systemd allows
  // there: it must read the quoted path back exactly, or it finds no
  // executable.
  const fs::path odd = root_ / "odd %i $HOME ; dir";
  fs::create_directories(odd);
  fs::copy_file(CliBinary(), odd / "vaultix-cli");
  for (const std::string& job : {Path("jobs/docs.sqt"), Path(kOddJob)}) {
    const std::string name = vx::ScheduleNameOf(job);
    for (const auto& c : kWhenCases) {
      SCOPED_TRACE(job + " " + c.when);
      std::vector<std::string> args = {"schedule", "--job", job};
      args.insert(args.end(), c.args.begin(), c.args.end());
      args.emplace_back("--on-ac-power");  // every line the options add
      ASSERT_EQ(RunAt(odd / "vaultix-cli", args), 0) << Read("err");
      EXPECT_TRUE(Contains(ReadAbs(UnitFile(name, "service")), "vaultix-cli\" schedule-run"));
      EXPECT_EQ(SystemdVerify(name), "")
          << ReadAbs(UnitFile(name, "service")) << ReadAbs(UnitFile(name, "timer"));
    }
  }
}

TEST_F(Schedules, RefusesAProgramPathSystemdCannotStart) {
  for (const char* folder : {"it's", "a\"q", "back\\slash"}) {
    const fs::path dir = root_ / folder;
    fs::create_directories(dir);
    fs::copy_file(CliBinary(), dir / "vaultix-cli");
    EXPECT_EQ(RunAt(dir / "vaultix-cli",
                    {"schedule", "--job", Path("jobs/docs.sqt"), "--daily", "02:00"}),
              99);
    EXPECT_TRUE(Contains(Read("err"), "quote or a backslash")) << Read("err");
    EXPECT_FALSE(fs::exists(Path("config"))) << folder;
  }
}

// A path that goes into a unit file with a line break or another control
// byte in it would break the unit's lines: refused, naming the value, and no
// unit is written.
TEST_F(Schedules, RefusesControlBytesInThePathsItWritesIntoUnits) {
  for (const char* state : {"st\nate", "st\tate", "st\x1b[2Jate"}) {
    TCliCall call;
    call.args = {"schedule", "--job", Path("jobs/docs.sqt"), "--daily", "02:00"};
    call.env = {{"XDG_CONFIG_HOME", Path("config")},
                {"PATH", Path("bin")},
                {"DBUS_SESSION_BUS_ADDRESS", ""},
                {"VAULTIX_STATE_DIR", Path(state)},
                {"LC_ALL", "C"}};
    const TCliRun r = RunCli(call);
    EXPECT_EQ(r.exitCode, 99) << Show(r);
    EXPECT_TRUE(Contains(r.err, "holds a control character: " + root_.string() + "/st\\x"))
        << Show(r);
    EXPECT_FALSE(fs::exists(UnitFile("docs", "service"))) << Show(r);
  }
}

struct TManagerCase {
  TManager manager;
  int scheduleExit;
  std::vector<std::string> scheduleCalls;
  std::vector<std::string> unscheduleCalls;
};

TEST_F(Schedules, TalksToTheUserManagerOnlyWhenOneRuns) {
  const std::vector<TManagerCase> cases = {
      {TManager::Absent, 0, {"--user daemon-reload"}, {"--user daemon-reload"}},
      {TManager::Running,
       0,
       {"--user daemon-reload", "--user enable --now vaultix-docs.timer"},
       {"--user daemon-reload", "--user disable --now vaultix-docs.timer", "--user daemon-reload"}},
      {TManager::EnableFails,
       99,
       {"--user daemon-reload", "--user enable --now vaultix-docs.timer"},
       {"--user daemon-reload", "--user disable --now vaultix-docs.timer", "--user daemon-reload"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.manager));
    SetManager(c.manager);
    fs::remove(Path("systemctl.log"));
    TCliRun r = RunS({"schedule", "--job", Path("jobs/docs.sqt"), "--daily", "01:00"});
    EXPECT_EQ(r.exitCode, c.scheduleExit) << Show(r);
    EXPECT_EQ(Lines(Calls()), c.scheduleCalls);
    EXPECT_EQ(Contains(r.out, "enable --now"), c.manager == TManager::Absent) << Show(r);
    if (c.scheduleExit != 0) {
      EXPECT_TRUE(Contains(r.err, "enable --now")) << Show(r);
    }
    // The files are written in any case: a failed enable can be retried by hand.
    EXPECT_TRUE(fs::exists(UnitFile("docs", "timer")));

    fs::remove(Path("systemctl.log"));
    r = RunS({"unschedule", "docs"});
    EXPECT_EQ(r.exitCode, 0) << Show(r);
    EXPECT_EQ(Lines(Calls()), c.unscheduleCalls);
    EXPECT_FALSE(fs::exists(UnitFile("docs", "timer")));
    EXPECT_FALSE(fs::exists(UnitFile("docs", "service")));
  }
}

TEST_F(Schedules, MalformedCommandLinesExit64AndWriteNothing) {
  const std::string job = Path("jobs/docs.sqt");
  const std::vector<std::vector<std::string>> cases = {
      {"schedule", "--daily", "02:00"},  // no job
      {"schedule", "--job", job},        // no time
      {"schedule", "--job", job, "--daily", "02:00", "--weekly", "mon", "02:00"},
      {"schedule", "--job", job, "--daily", "24:00"},
      {"schedule", "--job", job, "--daily", "12:60"},
      {"schedule", "--job", job, "--daily", "7:5"},
      {"schedule", "--job", job, "--daily", "ab:cd"},
      {"schedule", "--job", job, "--daily"},
      {"schedule", "--job", job, "--weekly", "someday", "02:00"},
      {"schedule", "--job", job, "--weekly", "mon"},
      {"schedule", "--job", job, "--daily", "02:00", "--name", "../escape"},
      {"schedule", "--job", job, "--daily", "02:00", "--name", ".hidden"},
      {"schedule", "--job", job, "--daily", "02:00", "extra"},
      {"schedule", "--job", Path("jobs/.sqt"), "--daily", "02:00"},  // no name follows
      {"schedules", "extra"},
      {"unschedule"},
      {"unschedule", "a/b"},
      {"unschedule", "docs", "photos"},
  };
  Write("jobs/.sqt", "[Job]\n");
  for (const auto& args : cases) {
    TCliRun r = RunS(args);
    EXPECT_EQ(r.exitCode, 64) << Show(r);
    EXPECT_TRUE(Contains(r.err, "usage: vaultix-cli schedule")) << Show(r);
    EXPECT_FALSE(fs::exists(Path("config"))) << Show(r);
  }
}

TEST_F(Schedules, NeverReplacesOrRemovesWhatItDidNotWrite) {
  const std::string foreign = "[Service]\nExecStart=/bin/true\n";
  fs::create_directories(Path("config/systemd/user"));
  std::ofstream(UnitFile("mine", "service")) << foreign;
  ASSERT_EQ(RunS({"schedule", "--job", Path("jobs/docs.sqt"), "--daily", "02:00"}).exitCode, 0);

  struct TCase {
    std::vector<std::string> args;
    std::string said;
  };
  const std::vector<TCase> cases = {
      {{"schedule", "--job", Path("jobs/missing.sqt"), "--daily", "02:00"}, "does not exist"},
      {{"schedule", "--job", Path("jobs"), "--daily", "02:00"}, "does not exist"},
      {{"schedule", "--job", Path("jobs/docs.sqt"), "--daily", "03:00", "--name", "mine"},
       "was not written by vaultix-cli"},
      // Another job under a name in use.
      {{"schedule", "--job", Path("jobs/photos.sqt"), "--daily", "03:00", "--name", "docs"},
       "runs " + Path("jobs/docs.sqt")},
      {{"unschedule", "mine"}, "was not written by vaultix-cli"},
      {{"unschedule", "nothing"}, "no schedule nothing"},
  };
  const std::string docsTimer = ReadAbs(UnitFile("docs", "timer"));
  for (const auto& c : cases) {
    TCliRun r = RunS(c.args);
    EXPECT_EQ(r.exitCode, 99) << Show(r);
    EXPECT_TRUE(Contains(r.err, c.said)) << Show(r);
  }
  EXPECT_EQ(ReadAbs(UnitFile("mine", "service")), foreign);
  EXPECT_FALSE(fs::exists(UnitFile("mine", "timer")));
  EXPECT_EQ(ReadAbs(UnitFile("docs", "timer")), docsTimer);
  EXPECT_FALSE(fs::exists(UnitFile("missing", "timer")));
}

TEST_F(Schedules, ListShowsEachScheduleWithItsLastResultUntilRemoved) {
  // A job named relative to the current folder, through "." and "..", is
  // kept by its plain absolute path.
  ASSERT_EQ(
      RunAt(CliBinary(), {"schedule", "--job", "jobs/./../jobs/docs.sqt", "--daily", "02:30"}), 0)
      << Read("err");
  ASSERT_EQ(
      RunS({"schedule", "--job", Path("jobs/photos.sqt"), "--weekly", "sat", "04:00"}).exitCode, 0);
  TCliRun list = RunS({"schedules"});
  ASSERT_EQ(list.exitCode, 0) << Show(list);
  const std::vector<std::vector<std::string>> before = {
      {"docs", "daily 02:30", Path("jobs/docs.sqt"), "never run", "-"},
      {"photos", "weekly Sat 04:00", Path("jobs/photos.sqt"), "never run", "-"}};
  std::vector<std::vector<std::string>> rows;
  for (const auto& line : Lines(list.out)) rows.push_back(Fields(line));
  EXPECT_EQ(rows, before) << list.out;

  // Two runs of docs as the service makes them, each followed by what
  // systemd passes to ExecStopPost; photos never got as far as its run.
  std::vector<std::string> logs;
  for (int run = 0; run < 2; ++run) {
    const TCliRun r =
        RunS({"schedule-run", "docs", "--keep-logs", "30", "--job", Path("jobs/docs.sqt")});
    ASSERT_EQ(r.exitCode, 0) << Show(r);
    logs.push_back(Lines(Read("state/logs/docs.current")).at(0));
    const TCliRun done =
        RunS({"schedule-done", "docs"},
             {{"EXIT_CODE", "exited"}, {"EXIT_STATUS", "0"}, {"SERVICE_RESULT", "success"}});
    ASSERT_EQ(done.exitCode, 0) << Show(done);
    EXPECT_FALSE(fs::exists(Path("state/logs/docs.current")));
  }
  const std::regex logName(
      " [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}-[0-9]{2}-[0-9]{2}( \\(2\\))?\\.log");
  ASSERT_NE(logs[0], logs[1]);
  for (const auto& log : logs) {
    EXPECT_EQ(log.rfind(Path("state/logs/docs "), 0), 0u) << log;
    EXPECT_TRUE(std::regex_search(log, logName)) << log;
    EXPECT_TRUE(Contains(ReadAbs(log), "Súbor ")) << log;  // the backup's own log
  }
  const TCliRun done =
      RunS({"schedule-done", "photos"},
           {{"EXIT_CODE", "exited"}, {"EXIT_STATUS", "7"}, {"SERVICE_RESULT", "exit-code"}});
  ASSERT_EQ(done.exitCode, 0) << Show(done);
  rows.clear();
  for (const auto& line : Lines(RunS({"schedules"}).out)) rows.push_back(Fields(line));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_TRUE(Contains(rows[0][3], " exit 0 Záloha dát je ukončená.")) << rows[0][3];
  EXPECT_EQ(rows[0][4], logs[1]);
  EXPECT_TRUE(
      Contains(rows[1][3], " exit 7 Záloha dát bola prerušená. " + vx::TVaultrex::ErrorText(7)))
      << rows[1][3];
  EXPECT_EQ(rows[1][4], "-");

  // Scheduling the same job again changes its time in place.
  ASSERT_EQ(RunS({"schedule", "--job", Path("jobs/docs.sqt"), "--daily", "05:15"}).exitCode, 0);
  EXPECT_TRUE(Contains(ReadAbs(UnitFile("docs", "timer")), "OnCalendar=*-*-* 05:15:00"));

  TCliRun removed = RunS({"unschedule", "docs"});
  ASSERT_EQ(removed.exitCode, 0) << Show(removed);
  rows.clear();
  for (const auto& line : Lines(RunS({"schedules"}).out)) rows.push_back(Fields(line));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], "photos");
  EXPECT_FALSE(fs::exists(Path("state/logs/docs.last")));
  EXPECT_TRUE(fs::exists(Path("state/logs/photos.last")));
}

// The names of a run's log, and which old logs go before a run.
TEST(ScheduleRunLogs, NamesAndKeepsTheLastLogs) {
  std::tm start{};
  start.tm_year = 2026 - 1900;
  start.tm_mon = 0;
  start.tm_mday = 2;
  start.tm_hour = 3;
  start.tm_min = 4;
  start.tm_sec = 5;
  struct TNameCase {
    std::vector<std::string> existing;
    std::string name;
  };
  const std::vector<TNameCase> names = {
      {{}, "docs 2026-01-02 03-04-05.log"},
      {{"docs 2026-01-02 03-04-05.log"}, "docs 2026-01-02 03-04-05 (2).log"},
      {{"docs 2026-01-02 03-04-05.log", "docs 2026-01-02 03-04-05 (2).log"},
       "docs 2026-01-02 03-04-05 (3).log"},
  };
  for (const auto& c : names) {
    EXPECT_EQ(vx::RunLogName("docs", start,
                             [&c](const std::string& file) {
                               return std::find(c.existing.begin(), c.existing.end(), file) !=
                                      c.existing.end();
                             }),
              c.name);
  }

  const std::vector<std::string> files = {
      "docs 2026-01-03 00-00-00.log",
      "docs 2025-12-31 23-59-59.log",
      "docs 2026-01-03 00-00-00 (10).log",
      "docs 2026-01-03 00-00-00 (2).log",
      "docs.last",
      "docs.log",                          // the name of older versions' log
      "docs-old 2020-01-01 00-00-00.log",  // another schedule
      "docs 2020-01-01 00-00-00.txt",
      "docs 2020-13-01 xx-00-00.log",
      ".",
  };
  struct TKeepCase {
    int keep;
    std::vector<std::string> removed;
  };
  const std::vector<TKeepCase> keeps = {
      {0, {}},
      {5, {}},
      {4, {"docs 2025-12-31 23-59-59.log"}},
      {2,
       {"docs 2025-12-31 23-59-59.log", "docs 2026-01-03 00-00-00.log",
        "docs 2026-01-03 00-00-00 (2).log"}},
      {1,
       {"docs 2025-12-31 23-59-59.log", "docs 2026-01-03 00-00-00.log",
        "docs 2026-01-03 00-00-00 (2).log", "docs 2026-01-03 00-00-00 (10).log"}},
  };
  for (const auto& c : keeps) {
    EXPECT_EQ(vx::RunLogsToRemove("docs", files, c.keep), c.removed) << "keep " << c.keep;
  }
}

// The run keeps the last logs: with --keep-logs 3 and three old logs, the
// oldest goes, and files of other schedules stay.
TEST_F(Schedules, RunRemovesTheOldestLogsBeyondTheNumberKept) {
  for (const char* old : {"docs 2020-01-01 00-00-00.log", "docs 2020-01-02 00-00-00.log",
                          "docs 2020-01-03 00-00-00.log", "photos 2019-01-01 00-00-00.log"}) {
    Write(std::string("state/logs/") + old, "old\n");
  }
  const TCliRun r =
      RunS({"schedule-run", "docs", "--keep-logs", "3", "--job", Path("jobs/docs.sqt")});
  ASSERT_EQ(r.exitCode, 0) << Show(r);
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(Path("state/logs")))
    left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  const std::string current = fs::path(Lines(Read("state/logs/docs.current")).at(0)).filename();
  const std::vector<std::string> want = {"docs 2020-01-02 00-00-00.log",
                                         "docs 2020-01-03 00-00-00.log", current, "docs.current",
                                         "photos 2019-01-01 00-00-00.log"};
  EXPECT_EQ(left, want);
}

struct TNotifyCase {
  std::string bus;                                        // DBUS_SESSION_BUS_ADDRESS
  bool notifier = false;                                  // a notify-send on PATH
  std::vector<std::pair<std::string, std::string>> exit;  // what systemd passes
  bool notified = false;
  std::string urgency, text;
};

TEST_F(Schedules, RunEndNotifiesOnlyWhenASessionBusIsThere) {
  const std::string bus = "unix:path=/nonexistent/bus";
  const std::pair<std::string, std::string> exited = {"EXIT_CODE", "exited"};
  const std::string stopped = "Záloha dát bola prerušená.";
  const std::vector<TNotifyCase> cases = {
      {"", true, {{"EXIT_CODE", "killed"}, {"EXIT_STATUS", "TERM"}}, false, "", stopped},
      {bus, true, {{"EXIT_CODE", "killed"}, {"EXIT_STATUS", "TERM"}}, true, "critical", stopped},
      {bus, false, {{"EXIT_CODE", "killed"}, {"EXIT_STATUS", "TERM"}}, false, "", stopped},
      {bus, true, {exited, {"EXIT_STATUS", "0"}}, true, "normal", "Záloha dát je ukončená."},
      // Files left out: finished, but a failure all the same.
      {bus,
       true,
       {exited, {"EXIT_STATUS", "16"}},
       true,
       "critical",
       "Záloha dát je ukončená, niektoré položky neboli zálohované"},
  };
  const std::string log = Path("state/logs/docs 2026-01-02 03-04-05.log");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bus + (c.notifier ? " with notify-send " : " ") + c.exit[1].second);
    fs::remove(Path("notify.log"));
    fs::remove(Path("bin/notify-send"));
    if (c.notifier) {
      WriteScript("bin/notify-send",
                  "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done >" + Path("notify.log") + "\n");
    }
    Write("state/logs/docs.current", log + "\n");
    auto env = c.exit;
    env.emplace_back("DBUS_SESSION_BUS_ADDRESS", c.bus);
    TCliRun r = RunS({"schedule-done", "docs"}, env);
    EXPECT_EQ(r.exitCode, 0) << Show(r);
    EXPECT_TRUE(Contains(Read("state/logs/docs.last"), "\t" + c.text + "\t" + log + "\n"))
        << Read("state/logs/docs.last");
    EXPECT_EQ(fs::exists(Path("notify.log")), c.notified);
    if (c.notified) {
      const std::string said = Read("notify.log");
      EXPECT_TRUE(Contains(said, "\nVaultix: docs\n")) << said;
      EXPECT_TRUE(Contains(said, c.text + "\nlog: " + log + "\n")) << said;
      EXPECT_TRUE(Contains(said, "--urgency=" + c.urgency + "\n")) << said;
    }
  }
}

TEST_F(Schedules, RunEndNotifiesThroughGdbusWithoutNotifySend) {
  for (const char* tool : {"dbus-run-session", "dbus-monitor", "gdbus"}) {
    if (std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) != 0)
      GTEST_SKIP() << tool << " is not installed (packages dbus-daemon, dbus-bin, libglib2.0-bin)";
  }
  // A private session bus with a monitor that records every call to the
  // notification service (none serves it, so each call is answered with an
  // error, which the run must shrug off).
  fs::create_symlink("/usr/bin/gdbus", root_ / "bin/gdbus");
  const std::string log = Path("state/logs/docs 2026-01-02 03-04-05.log");
  Write("state/logs/docs.current", log + "\n");
  Write(
      "notify.sh",
      "dbus-monitor --session \"interface='org.freedesktop.Notifications'\" >monitor.out 2>&1 &\n"
      "monitor=$!\n"
      "for i in $(seq 100); do grep -q NameLost monitor.out && break; sleep 0.05; done\n"
      "EXIT_CODE=exited EXIT_STATUS=2 XDG_CONFIG_HOME=config VAULTIX_STATE_DIR=state PATH=bin " +
          ShellQuote(CliBinary()) +
          " schedule-done docs >/dev/null 2>err\n"
          "rc=$?\n"
          "for i in $(seq 100); do grep -q 'member=Notify' monitor.out && break; sleep 0.05; done\n"
          "kill $monitor\n"
          "exit $rc\n");
  const int status = std::system(("cd " + ShellQuote(root_.string()) +
                                  " && timeout 60 dbus-run-session -- sh notify.sh 2>/dev/null")
                                     .c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << Read("err");
  const std::string seen = Read("monitor.out");
  EXPECT_TRUE(Contains(seen, "member=Notify")) << seen;
  EXPECT_TRUE(Contains(seen, "string \"Vaultix: docs\"")) << seen;
  EXPECT_TRUE(Contains(seen, "string \"Záloha dát bola prerušená. " + vx::TVaultrex::ErrorText(2) +
                                 "\nlog: " + log + "\""))
      << seen;
}

}  // namespace
}  // namespace vxtest
