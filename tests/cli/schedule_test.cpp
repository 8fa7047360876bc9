// vaultix-cli schedule, schedules, unschedule and schedule-done: the unit
// files they write (checked by systemd itself), the user manager they talk
// to (a stand-in systemctl on PATH records the calls), and the notification
// at the end of a scheduled run.
#include "cli/schedule.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>

#include "cli/cli_fixture.h"
#include "engine/vaultrex.h"

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
    Write("jobs/docs.sqt", "[Job]\n");
    Write("jobs/photos.sqt", "[Job]\n");
    SetManager(TManager::Absent);
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
  Write(kOddJob, "[Job]\n");
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
      EXPECT_TRUE(Contains(service, "\nExecStart=" + program + " backup --job " +
                                        vx::QuoteExecArg(job) + " --quiet --log " +
                                        vx::QuoteExecArg(Path("state/logs/" + name + ".log"))))
          << service;
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

TEST_F(Schedules, SystemdAcceptsTheUnits) {
  if (!HaveSystemdAnalyze()) GTEST_SKIP() << "systemd-analyze is not installed (package systemd)";
  Write(kOddJob, "[Job]\n");
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
      ASSERT_EQ(RunAt(odd / "vaultix-cli", args), 0) << Read("err");
      EXPECT_TRUE(Contains(ReadAbs(UnitFile(name, "service")), "vaultix-cli\" backup"));
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
  Write("jobs/docs.sqt", "[ID]\n");
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
      {"docs", "daily 02:30", Path("jobs/docs.sqt"), "never run", Path("state/logs/docs.log")},
      {"photos", "weekly Sat 04:00", Path("jobs/photos.sqt"), "never run",
       Path("state/logs/photos.log")}};
  std::vector<std::vector<std::string>> rows;
  for (const auto& line : Lines(list.out)) rows.push_back(Fields(line));
  EXPECT_EQ(rows, before) << list.out;

  // What systemd passes to ExecStopPost after a run.
  TCliRun done =
      RunS({"schedule-done", "docs"},
           {{"EXIT_CODE", "exited"}, {"EXIT_STATUS", "0"}, {"SERVICE_RESULT", "success"}});
  ASSERT_EQ(done.exitCode, 0) << Show(done);
  done = RunS({"schedule-done", "photos"},
              {{"EXIT_CODE", "exited"}, {"EXIT_STATUS", "7"}, {"SERVICE_RESULT", "exit-code"}});
  ASSERT_EQ(done.exitCode, 0) << Show(done);
  rows.clear();
  for (const auto& line : Lines(RunS({"schedules"}).out)) rows.push_back(Fields(line));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_TRUE(Contains(rows[0][3], " exit 0 Záloha dát je ukončená.")) << rows[0][3];
  EXPECT_TRUE(
      Contains(rows[1][3], " exit 7 Záloha dát bola prerušená. " + vx::TVaultrex::ErrorText(7)))
      << rows[1][3];

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

struct TNotifyCase {
  std::string bus;        // DBUS_SESSION_BUS_ADDRESS
  bool notifier = false;  // a notify-send on PATH
  bool notified = false;
};

TEST_F(Schedules, RunEndNotifiesOnlyWhenASessionBusIsThere) {
  const std::vector<TNotifyCase> cases = {
      {"", true, false},                             // no bus
      {"unix:path=/nonexistent/bus", true, true},    // a bus and a notifier
      {"unix:path=/nonexistent/bus", false, false},  // a bus, no tool to reach it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bus + (c.notifier ? " with notify-send" : ""));
    fs::remove(Path("notify.log"));
    fs::remove(Path("bin/notify-send"));
    if (c.notifier) {
      WriteScript("bin/notify-send",
                  "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done >" + Path("notify.log") + "\n");
    }
    TCliRun r = RunS(
        {"schedule-done", "docs"},
        {{"DBUS_SESSION_BUS_ADDRESS", c.bus}, {"EXIT_CODE", "killed"}, {"EXIT_STATUS", "TERM"}});
    EXPECT_EQ(r.exitCode, 0) << Show(r);
    EXPECT_TRUE(
        Contains(Read("state/logs/docs.last"), "\tsignal TERM\tZáloha dát bola prerušená."));
    EXPECT_EQ(fs::exists(Path("notify.log")), c.notified);
    if (c.notified) {
      const std::string said = Read("notify.log");
      EXPECT_TRUE(Contains(said, "\nVaultix: docs\n")) << said;
      EXPECT_TRUE(Contains(said, "Záloha dát bola prerušená.\nlog: " + Path("state/logs/docs.log")))
          << said;
      EXPECT_TRUE(Contains(said, "--urgency=critical")) << said;
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
                                 "\nlog: " + Path("state/logs/docs.log") + "\""))
      << seen;
}

}  // namespace
}  // namespace vxtest
