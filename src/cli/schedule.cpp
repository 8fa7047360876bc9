#include "cli/schedule.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/commands.h"
#include "cli/texts.h"
#include "engine/vaultrex.h"
#include "engine/wizard_job.h"
#include "platform/archive_bits.h"
#include "platform/fd.h"
#include "platform/paths.h"
#include "support/strings.h"

extern char** environ;

namespace vx {
namespace {

namespace fs = std::filesystem;

// The first line of every unit file this program writes; nothing without it
// is ever replaced or removed.
const std::string kMarker = "# vaultix-cli schedule ";
const std::string kJobLine = "# job: ";
const std::string kWhenLine = "# when: ";

// The closing lines a backup prints (see commands.cpp), for the result of a
// scheduled run.
const std::string kBackupDone = std::string(txt::cli::kTaskBackup) + txt::cli::kTaskDone;
const std::string kBackupStopped = std::string(txt::cli::kTaskBackup) + txt::cli::kTaskStopped;

constexpr std::array<const char*, 7> kDays = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                              "Friday", "Saturday", "Sunday"};

const char* const kScheduleUsage =
    "usage: vaultix-cli schedule --job FILE (--daily HH:MM | --weekly DAY HH:MM) [--name NAME]\n"
    "                            [--keep-logs N] [--random-delay MINUTES] [--on-ac-power]\n"
    "       vaultix-cli schedules\n"
    "       vaultix-cli unschedule NAME\n";

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v == nullptr ? std::string() : std::string(v);
}

std::string HomeDir() {
  std::string home = Env("HOME");
  if (!home.empty()) return home;
  const passwd* pw = ::getpwuid(::getuid());
  return pw != nullptr && pw->pw_dir != nullptr ? pw->pw_dir : "/";
}

bool HasControlCharacter(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return u < 32 || u == 127;
  });
}

std::string TwoDigits(int n) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", n);
  return buf;
}

std::string ProgramPath() {
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("vaultix-cli") : self.string();
}

// Runs a program found on PATH with standard input from /dev/null; its
// output is dropped when silent.  The exit status, or -1 when it could not
// be started or did not exit.
int RunProgram(const std::vector<std::string>& argv, bool silent) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (silent) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  }
  // This program ignores SIGPIPE; the child gets the default back.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> copy = argv;
  std::vector<char*> raw;
  raw.reserve(copy.size() + 1);
  for (auto& a : copy) raw.push_back(a.data());
  raw.push_back(nullptr);
  pid_t pid = 0;
  const int rc = ::posix_spawnp(&pid, raw[0], &actions, &attr, raw.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int Systemctl(const std::vector<std::string>& args, bool silent) {
  std::vector<std::string> argv = {"systemctl", "--user"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, silent);
}

// A systemd user manager answers.
bool UserManagerRuns() { return Systemctl({"daemon-reload"}, true) == 0; }

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Writes a file through a temporary file beside it, so that an existing file
// is replaced only by a complete new one.
bool WriteReplacing(const std::string& path, const std::string& text, std::string& error) {
  std::string tmpl = path + ".XXXXXX";
  TFd fd(::mkostemp(tmpl.data(), O_CLOEXEC));
  if (!fd) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  int err = 0;
  if (const TIoResult w = WriteAll(fd.Get(), text.data(), text.size()); w.Failed())
    err = w.error;
  else if (::fchmod(fd.Get(), 0644) != 0 || ::fsync(fd.Get()) != 0)
    err = errno;
  const int closeErr = fd.Close();
  if (err == 0) err = closeErr;
  if (err == 0 && ::rename(tmpl.c_str(), path.c_str()) == 0) return true;
  if (err == 0) err = errno;
  error = "cannot write " + path + ": " + std::strerror(err);
  ::unlink(tmpl.c_str());
  return false;
}

// What a unit file written by schedule says about itself.
struct TUnitInfo {
  bool exists = false;
  bool ours = false;
  std::string job;
  std::string when;
};

TUnitInfo ReadUnitInfo(const std::string& path, const std::string& name) {
  TUnitInfo info;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return info;
  info.exists = true;
  std::stringstream text(ReadAll(path));
  std::string line;
  if (!std::getline(text, line) || line != kMarker + name) return info;
  info.ours = true;
  while (std::getline(text, line) && line.rfind("# ", 0) == 0) {
    if (line.rfind(kJobLine, 0) == 0) info.job = line.substr(kJobLine.size());
    if (line.rfind(kWhenLine, 0) == 0) info.when = line.substr(kWhenLine.size());
  }
  return info;
}

std::string UnitPath(const std::string& name, const char* kind) {
  return UserUnitDir() + "/vaultix-" + name + "." + kind;
}

std::string ResultPath(const std::string& name) { return ScheduleLogDir() + "/" + name + ".last"; }
// The log of the run under way, from schedule-run to schedule-done.
std::string CurrentPath(const std::string& name) {
  return ScheduleLogDir() + "/" + name + ".current";
}

bool MakeFolder(const std::string& dir, mode_t mode, std::string& error) {
  if (DirectoryExists(dir)) return true;
  const std::string parent = fs::path(dir).parent_path().string();
  if (ForceDirectories(parent) && (::mkdir(dir.c_str(), mode) == 0 || errno == EEXIST) &&
      DirectoryExists(dir)) {
    return true;
  }
  error = "cannot create folder " + dir + ": " + std::strerror(errno);
  return false;
}

// The logs folder and the state folder above it are the user's alone, as
// the archive-attribute store's folder is.
bool MakeLogFolder(std::string& error) {
  const std::string logs = ScheduleLogDir();
  return MakeFolder(fs::path(logs).parent_path().string(), 0700, error) &&
         MakeFolder(logs, 0700, error);
}

int Usage(TCliEnvironment& env, const std::string& error) {
  env.err << "vaultix-cli: " << error << "\n" << kScheduleUsage << std::flush;
  return kExitUsage;
}

int Failure(TCliEnvironment& env, const std::string& error) {
  env.err << "vaultix-cli: " << error << "\n" << std::flush;
  return 99;
}

// A whole number from `low` to `high`.
std::optional<int> ParseCount(const std::string& text, int low, int high) {
  if (text.empty() || text.size() > 6 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  const int n = std::stoi(text);
  if (n < low || n > high) return std::nullopt;
  return n;
}

// Include entries of the job whose file or folder does not exist: a run
// would back up nothing of them, night after night, without a word.
std::vector<std::string> MissingIncludes(const std::string& job) {
  std::vector<std::string> missing;
  TBackupPage page;
  try {
    LoadJobFile(job, page);
  } catch (const std::exception&) {
    return missing;  // the dry run says what is wrong with the file
  }
  for (const auto& entry : page.Include) {
    std::string path = entry;
    StripRecursionMarker(path);
    if (path.find_first_of("*?") != std::string::npos) path = ExtractFilePath(path);
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) missing.push_back(entry);
  }
  return missing;
}

// The checks the scheduled run makes, before any unit is written: the dry
// run of the backup the service starts (job file, its settings, a date mode,
// the password a run without a terminal needs, the archive-attribute store),
// and every include entry's file or folder.  0 when it can run, else the
// exit code the run would end with (99 for a missing include); why holds
// what the check said (the reason, or warnings).
int CheckJobRuns(const std::string& job, std::string& why) {
  std::ostringstream out;
  std::ostringstream err;
  TCliEnvironment quiet{out, err, nullptr, false, false, 80, [] {}, nullptr, nullptr};
  const int code = RunCli({"backup", "--job", job, "--dry-run", "--quiet", "--no-log"}, quiet);
  why = err.str();  // the reason, or the warnings of a run that can go
  if (code != 0) return code;
  const std::vector<std::string> missing = MissingIncludes(job);
  if (missing.empty()) return 0;
  for (const auto& entry : missing)
    why += "vaultix-cli: include entry " + EscapeControls(entry) + ": no such file or folder\n";
  return 99;
}

// ---- schedule --------------------------------------------------------------

int Schedule(const std::vector<std::string>& args, TCliEnvironment& env) {
  std::string job;
  std::string name;
  std::optional<TScheduleWhen> when;
  int keepLogs = 30;
  int randomDelay = 10;
  bool onAcPower = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string option = args[i];
    std::optional<std::string> inlineValue;
    if (auto eq = option.find('='); option.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = option.substr(eq + 1);
      option.resize(eq);
    }
    auto value = [&]() -> std::optional<std::string> {
      if (inlineValue) return inlineValue;
      if (i + 1 < args.size()) return args[++i];
      return std::nullopt;
    };
    if (option == "--job" || option == "--name") {
      auto v = value();
      if (!v || v->empty()) return Usage(env, option + " needs a value");
      (option == "--job" ? job : name) = *v;
    } else if (option == "--keep-logs" || option == "--random-delay") {
      const bool keep = option == "--keep-logs";
      auto v = value();
      auto n = v ? ParseCount(*v, 0, keep ? 10000 : 1440) : std::nullopt;
      if (!n)
        return Usage(env, option + (keep ? " needs a number of logs, 0 (all) to 10000"
                                         : " needs minutes, 0 (none) to 1440"));
      (keep ? keepLogs : randomDelay) = *n;
    } else if (option == "--on-ac-power" && !inlineValue) {
      onAcPower = true;
    } else if (option == "--daily" || option == "--weekly") {
      if (when) return Usage(env, "give one of --daily and --weekly, once");
      TScheduleWhen w;
      w.weekly = option == "--weekly";
      if (w.weekly) {
        auto day = value();
        if (!day) return Usage(env, "--weekly needs a day and a time");
        auto d = ParseWeekday(*day);
        if (!d) return Usage(env, "invalid day '" + *day + "' for --weekly (mon ... sun)");
        w.weekday = *d;
        inlineValue.reset();
      }
      auto clock = value();
      if (!clock) return Usage(env, option + " needs a time HH:MM");
      if (!ParseClock(*clock, w.hour, w.minute))
        return Usage(env,
                     "invalid time '" + *clock + "' for " + option + " (HH:MM, 00:00 to 23:59)");
      when = w;
    } else {
      return Usage(env, "unexpected argument '" + args[i] + "' for schedule");
    }
  }
  if (job.empty()) return Usage(env, "schedule needs --job FILE");
  if (!when) return Usage(env, "schedule needs --daily HH:MM or --weekly DAY HH:MM");
  if (HasControlCharacter(job)) return Usage(env, "the job file's name holds a control character");

  // The service runs wherever the user manager starts it: the job is kept
  // by its absolute path.
  std::error_code ec;
  const std::string absJob = fs::absolute(job, ec).lexically_normal().string();
  struct stat st {};
  if (ec || ::stat(absJob.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return Failure(env, "job file " + absJob + " does not exist or is not a file");

  if (name.empty()) {
    name = ScheduleNameOf(absJob);
    if (!ValidScheduleName(name))
      return Usage(env, "no schedule name follows from " + absJob + "; give --name NAME");
  } else if (!ValidScheduleName(name)) {
    return Usage(env, "invalid schedule name '" + name +
                          "' (1 to 64 of A-Z a-z 0-9 _ - ., not starting with .)");
  }

  TScheduleUnit unit;
  unit.name = name;
  unit.job = absJob;
  unit.when = *when;
  unit.program = ProgramPath();
  unit.stateDir = fs::path(ScheduleLogDir()).parent_path().string();
  unit.keepLogs = keepLogs;
  unit.randomDelayMinutes = randomDelay;
  unit.onAcPower = onAcPower;
  // A line break in a path would end its line in the unit file and let the
  // rest of the path stand as a setting of its own.
  if (HasControlCharacter(unit.stateDir))
    return Failure(env,
                   "the state folder's path (VAULTIX_STATE_DIR, XDG_STATE_HOME or HOME) "
                   "holds a control character: " +
                       EscapeControls(unit.stateDir));
  if (!StartableBySystemd(unit.program))
    return Failure(
        env, "systemd starts no program whose path holds a quote or a backslash: " + unit.program);
  const std::string service = UnitPath(name, "service");
  const std::string timer = UnitPath(name, "timer");
  for (const auto& path : {service, timer}) {
    TUnitInfo info = ReadUnitInfo(path, name);
    if (info.exists && !info.ours)
      return Failure(env, path + " was not written by vaultix-cli schedule; it stays as it is");
    if (info.ours && !info.job.empty() && info.job != absJob)
      return Failure(env, "schedule " + name + " runs " + info.job +
                              "; give this one another name with --name, or unschedule it first");
  }
  // A job that cannot run unattended is not scheduled to fail every night.
  std::string why;
  if (const int code = CheckJobRuns(absJob, why); code != 0) {
    env.err << why << "vaultix-cli: " << absJob << " cannot run as it is; nothing was scheduled\n"
            << std::flush;
    return code;
  }
  env.err << why << std::flush;

  std::string error;
  if (!MakeFolder(UserUnitDir(), 0755, error) || !MakeLogFolder(error) ||
      !WriteReplacing(service, ServiceUnitText(unit), error) ||
      !WriteReplacing(timer, TimerUnitText(unit), error)) {
    return Failure(env, error);
  }
  env.out << "wrote " << service << "\nwrote " << timer << "\n";

  const std::string timerUnit = "vaultix-" + name + ".timer";
  if (!UserManagerRuns()) {
    env.out << "no systemd user manager answers here; to start the timer, run:\n"
            << "  systemctl --user daemon-reload\n"
            << "  systemctl --user enable --now " << timerUnit << "\n"
            << std::flush;
    return 0;
  }
  env.out << std::flush;
  if (Systemctl({"enable", "--now", timerUnit}, false) != 0)
    return Failure(env, "systemctl --user enable --now " + timerUnit + " failed");
  env.out << timerUnit << " runs " << absJob << " " << DescribeWhen(*when) << "\n" << std::flush;
  return 0;
}

// ---- schedules -------------------------------------------------------------

// The last run's result (time, exit code, closing text) and its log, from
// the record schedule-done keeps: "TIME\tSTATUS\tTEXT\tLOG".
struct TLastRun {
  std::string result = "never run";
  std::string log = "-";
};

TLastRun LastRun(const std::string& name) {
  TLastRun last;
  const std::string text = ReadAll(ResultPath(name));
  if (text.empty()) return last;
  const std::vector<std::string> fields = [&] {
    std::vector<std::string> f;
    std::stringstream line(text.substr(0, text.find('\n')));
    for (std::string part; std::getline(line, part, '\t');) f.push_back(part);
    return f;
  }();
  last.result.clear();
  for (std::size_t i = 0; i < fields.size() && i < 3; ++i)
    last.result += (i == 0 ? "" : " ") + fields[i];
  if (fields.size() > 3 && !fields[3].empty()) last.log = fields[3];
  return last;
}

int ListSchedules(const std::vector<std::string>& args, TCliEnvironment& env) {
  if (args.size() > 1) return Usage(env, "unexpected argument '" + args[1] + "' for schedules");
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(UserUnitDir().c_str())) {
    const std::string prefix = "vaultix-";
    const std::string suffix = ".timer";
    while (dirent* entry = ::readdir(dir)) {
      std::string file = entry->d_name;
      if (file.size() <= prefix.size() + suffix.size() || file.rfind(prefix, 0) != 0 ||
          file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0) {
        continue;
      }
      names.push_back(file.substr(prefix.size(), file.size() - prefix.size() - suffix.size()));
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  for (const auto& name : names) {
    TUnitInfo info = ReadUnitInfo(UnitPath(name, "timer"), name);
    if (!info.ours) continue;
    const TLastRun last = LastRun(name);
    env.out << name << '\t' << info.when << '\t' << info.job << '\t' << last.result << '\t'
            << last.log << '\n';
  }
  env.out << std::flush;
  return env.out ? 0 : 99;
}

// ---- unschedule ------------------------------------------------------------

int Unschedule(const std::vector<std::string>& args, TCliEnvironment& env) {
  if (args.size() != 2) return Usage(env, "unschedule needs one schedule name");
  const std::string& name = args[1];
  if (!ValidScheduleName(name)) return Usage(env, "invalid schedule name '" + name + "'");
  const std::string service = UnitPath(name, "service");
  const std::string timer = UnitPath(name, "timer");
  TUnitInfo s = ReadUnitInfo(service, name);
  TUnitInfo t = ReadUnitInfo(timer, name);
  if (!s.exists && !t.exists) return Failure(env, "no schedule " + name);
  for (const auto* info : {&s, &t}) {
    if (info->exists && !info->ours)
      return Failure(env, (info == &s ? service : timer) +
                              " was not written by vaultix-cli schedule; it stays as it is");
  }
  const bool manager = UserManagerRuns();
  const std::string timerUnit = "vaultix-" + name + ".timer";
  if (manager && Systemctl({"disable", "--now", timerUnit}, false) != 0)
    return Failure(env, "systemctl --user disable --now " + timerUnit + " failed; nothing removed");
  for (const auto& path : {timer, service}) {
    if (::unlink(path.c_str()) == 0) {
      env.out << "removed " << path << "\n";
    } else if (errno != ENOENT) {
      return Failure(env, "cannot remove " + path + ": " + std::strerror(errno));
    }
  }
  ::unlink(ResultPath(name).c_str());  // the logs stay
  ::unlink(CurrentPath(name).c_str());
  if (manager) Systemctl({"daemon-reload"}, true);
  env.out << std::flush;
  return 0;
}

// ---- schedule-run ----------------------------------------------------------

// The service's run: the job's backup with a log of its own, after the
// oldest logs beyond the number kept are removed.
int ScheduleRun(const std::vector<std::string>& args, TCliEnvironment& env) {
  if (args.size() < 2 || !ValidScheduleName(args[1]))
    return Usage(env, "schedule-run needs a schedule name");
  const std::string& name = args[1];
  std::string job;
  std::optional<int> keep;
  for (std::size_t i = 2; i < args.size(); ++i) {
    if (args[i] == "--job" && i + 1 < args.size() && !args[i + 1].empty()) {
      job = args[++i];
    } else if (args[i] == "--keep-logs" && i + 1 < args.size()) {
      keep = ParseCount(args[++i], 0, 10000);
      if (!keep) return Usage(env, "--keep-logs needs a number of logs, 0 (all) to 10000");
    } else {
      return Usage(env, "unexpected argument '" + args[i] + "' for schedule-run");
    }
  }
  if (job.empty()) return Usage(env, "schedule-run needs --job FILE");

  std::string error;
  if (!MakeLogFolder(error)) return Failure(env, error);
  const std::string dir = ScheduleLogDir();
  std::vector<std::string> files;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* entry = ::readdir(d)) files.emplace_back(entry->d_name);
    ::closedir(d);
  }
  for (const auto& old : RunLogsToRemove(name, files, keep.value_or(30))) {
    const std::string path = (fs::path(dir) / old).string();
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
      env.err << "vaultix-cli: cannot remove the old log " << path << ": " << std::strerror(errno)
              << "\n";
  }
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  const std::string log = dir + "/" + RunLogName(name, local, [&dir](const std::string& file) {
                            struct stat st {};
                            return ::lstat((dir + "/" + file).c_str(), &st) == 0;
                          });
  if (!WriteReplacing(CurrentPath(name), log + "\n", error)) return Failure(env, error);
  return RunCli({"backup", "--job", job, "--quiet", "--log", log}, env);
}

// ---- schedule-done ---------------------------------------------------------

// The result of the run that just ended, from what systemd passes to
// ExecStopPost: EXIT_CODE (exited, killed, dumped), EXIT_STATUS and
// SERVICE_RESULT.
struct TRunResult {
  std::string status;  // "exit 0", "signal KILL", "failed (resources)"
  std::string text;
  bool ok = false;
};

TRunResult ResultOfRun() {
  TRunResult r;
  const std::string how = Env("EXIT_CODE");
  const std::string status = Env("EXIT_STATUS");
  if (how == "exited" && !status.empty() &&
      std::all_of(status.begin(), status.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    const int code = std::atoi(status.c_str());
    // A run that left files out finished, but is no success: the timer's
    // unit fails with it and the notification is urgent.
    r.ok = code == 0;
    r.status = "exit " + status;
    r.text = r.ok                   ? kBackupDone
             : code == kPartialCode ? TVaultrex::ErrorText(code)
                                    : kBackupStopped + " " + TVaultrex::ErrorText(code);
  } else if (how == "killed" || how == "dumped") {
    r.status = "signal " + status;
    r.text = kBackupStopped;
  } else {
    const std::string result = Env("SERVICE_RESULT");
    r.status = "failed (" + (result.empty() ? std::string("unknown") : result) + ")";
    r.text = kBackupStopped;
  }
  return r;
}

// A GVariant text string, so that gdbus takes the text as it is.
std::string GVariantString(const std::string& text) {
  std::string q = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') q += '\\';
    if (c == '\n') {
      q += "\\n";
      continue;
    }
    q += c;
  }
  return q + "\"";
}

void Notify(const std::string& summary, const std::string& body, bool ok) {
  if (Env("DBUS_SESSION_BUS_ADDRESS").empty()) return;
  int rc = RunProgram({"notify-send", "--app-name=Vaultix", "--icon=vaultix",
                       std::string("--urgency=") + (ok ? "normal" : "critical"), summary, body},
                      true);
  if (rc == -1) {
    // Notify(app, replaces id, icon, summary, body, actions, hints, timeout);
    // "--" keeps the timeout -1 from being read as an option.
    RunProgram({"gdbus", "call", "--session", "--timeout=10", "--dest",
                "org.freedesktop.Notifications", "--object-path", "/org/freedesktop/Notifications",
                "--method", "org.freedesktop.Notifications.Notify", "--", GVariantString("Vaultix"),
                "0", GVariantString("vaultix"), GVariantString(summary), GVariantString(body), "[]",
                "{}", "-1"},
               true);
  }
}

int ScheduleDone(const std::vector<std::string>& args, TCliEnvironment& env) {
  if (args.size() != 2) return Usage(env, "schedule-done needs one schedule name");
  const std::string& name = args[1];
  if (!ValidScheduleName(name)) return Usage(env, "invalid schedule name '" + name + "'");
  TRunResult r = ResultOfRun();
  // The log schedule-run started; none when the run never got that far.
  std::string log = ReadAll(CurrentPath(name));
  log = log.substr(0, log.find('\n'));
  ::unlink(CurrentPath(name).c_str());
  char stamp[32] = "";
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (::localtime_r(&now, &local) != nullptr)
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  const std::string record =
      std::string(stamp) + '\t' + r.status + '\t' + r.text + '\t' + log + '\n';
  std::string error;
  const bool kept = MakeLogFolder(error) && WriteReplacing(ResultPath(name), record, error);
  Notify("Vaultix: " + name, r.text + (log.empty() ? "" : "\nlog: " + log), r.ok);
  env.out << name << ": " << r.status << ": " << r.text << "\n" << std::flush;
  return kept ? 0 : Failure(env, error);
}

}  // namespace

bool ParseClock(const std::string& text, int& hour, int& minute) {
  const auto colon = text.find(':');
  if (colon == std::string::npos || colon < 1 || colon > 2 || text.size() != colon + 3)
    return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i != colon && (text[i] < '0' || text[i] > '9')) return false;
  }
  const int h = std::stoi(text.substr(0, colon));
  const int m = std::stoi(text.substr(colon + 1));
  if (h > 23 || m > 59) return false;
  hour = h;
  minute = m;
  return true;
}

std::optional<int> ParseWeekday(const std::string& text) {
  const std::string want = LowerAscii(text);
  for (std::size_t d = 0; d < kDays.size(); ++d) {
    const std::string full = LowerAscii(kDays[d]);
    if (want == full || want == full.substr(0, 3)) return static_cast<int>(d);
  }
  return std::nullopt;
}

std::string DescribeWhen(const TScheduleWhen& when) {
  std::string clock = TwoDigits(when.hour) + ":" + TwoDigits(when.minute);
  if (!when.weekly) return "daily " + clock;
  return "weekly " + std::string(kDays.at(static_cast<std::size_t>(when.weekday))).substr(0, 3) +
         " " + clock;
}

std::string CalendarSpec(const TScheduleWhen& when) {
  std::string calendar;
  if (when.weekly)
    calendar = std::string(kDays.at(static_cast<std::size_t>(when.weekday))).substr(0, 3) + " ";
  return calendar + "*-*-* " + TwoDigits(when.hour) + ":" + TwoDigits(when.minute) + ":00";
}

std::string RunLogName(const std::string& name, const std::tm& start,
                       const std::function<bool(const std::string&)>& taken) {
  char stamp[32] = "";
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H-%M-%S", &start);
  const std::string base = name + " " + stamp;
  std::string file = base + ".log";
  for (int n = 2; taken(file); ++n) file = base + " (" + std::to_string(n) + ").log";
  return file;
}

namespace {

// The time stamp and number of a run log of schedule NAME ("(2)" is 2, none
// is 1), so that they sort in the order the runs started.
std::optional<std::pair<std::string, int>> RunLogKey(const std::string& name,
                                                     const std::string& file) {
  const std::string prefix = name + " ";
  const std::string ext = ".log";
  constexpr std::size_t kStamp = 19;  // YYYY-MM-DD HH-MM-SS
  if (file.rfind(prefix, 0) != 0 || file.size() < prefix.size() + kStamp + ext.size() ||
      file.compare(file.size() - ext.size(), ext.size(), ext) != 0)
    return std::nullopt;
  const std::string stamp = file.substr(prefix.size(), kStamp);
  for (std::size_t i = 0; i < kStamp; ++i) {
    const char want = i == 4 || i == 7 || i == 13 || i == 16 ? '-' : i == 10 ? ' ' : '0';
    if (want == '0' ? (stamp[i] < '0' || stamp[i] > '9') : stamp[i] != want) return std::nullopt;
  }
  const std::string rest = file.substr(prefix.size() + kStamp);
  if (rest == ext) return std::make_pair(stamp, 1);
  // " (N).log"
  if (rest.size() < 4 + ext.size() || rest.rfind(" (", 0) != 0 ||
      rest[rest.size() - ext.size() - 1] != ')')
    return std::nullopt;
  const auto n = ParseCount(rest.substr(2, rest.size() - 3 - ext.size()), 2, 999999);
  if (!n) return std::nullopt;
  return std::make_pair(stamp, *n);
}

}  // namespace

std::vector<std::string> RunLogsToRemove(const std::string& name,
                                         const std::vector<std::string>& files, int keep) {
  std::vector<std::pair<std::pair<std::string, int>, std::string>> logs;
  for (const auto& file : files) {
    if (auto key = RunLogKey(name, file)) logs.emplace_back(*key, file);
  }
  std::vector<std::string> remove;
  if (keep <= 0 || logs.size() < static_cast<std::size_t>(keep)) return remove;
  std::sort(logs.begin(), logs.end());
  // The new run's log is one of the `keep`.
  const std::size_t drop = logs.size() - static_cast<std::size_t>(keep) + 1;
  for (std::size_t i = 0; i < drop; ++i) remove.push_back(logs[i].second);
  return remove;
}

std::string ScheduleNameOf(const std::string& jobPath) {
  std::string name = RemoveFileExt(ExtractFileName(jobPath));
  for (auto& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-' && c != '.') c = '-';
  }
  return name;
}

bool ValidScheduleName(const std::string& name) {
  if (name.empty() || name.size() > 64 || name[0] == '.') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.';
  });
}

std::string QuoteExecArg(const std::string& arg, bool program) {
  std::string q = "\"";
  for (char c : arg) {
    switch (c) {
      case '\\':
        q += "\\\\";
        break;
      case '"':
        q += "\\\"";
        break;
      case '%':
        q += "%%";
        break;  // specifiers, also in the program's path
      case '$':
        q += program ? "$" : "$$";
        break;  // variables, in arguments only
      default:
        q += c;
    }
  }
  return q + "\"";
}

bool StartableBySystemd(const std::string& program) {
  return program.find_first_of("\"'\\") == std::string::npos && !HasControlCharacter(program);
}

// The lines both unit files begin with: what they belong to, who wrote them,
// and the [Unit] section's header.
std::string UnitHead(const TScheduleUnit& u) {
  std::ostringstream t;
  t << kMarker << u.name << "\n"
    << kJobLine << u.job << "\n"
    << kWhenLine << DescribeWhen(u.when) << "\n"
    << "# Written by vaultix-cli schedule; \"vaultix-cli unschedule " << u.name
    << "\" removes it.\n"
    << "[Unit]\n";
  return t.str();
}

std::string ServiceUnitText(const TScheduleUnit& u) {
  const std::string program = QuoteExecArg(u.program, true);
  std::ostringstream t;
  t << UnitHead(u) << "Description=Vaultix backup " << u.name << "\n"
    << "Documentation=man:vaultix-cli(1)\n";
  // On battery the run is skipped (not failed); the next one comes as planned.
  if (u.onAcPower) t << "ConditionACPower=true\n";
  t << "\n"
    << "[Service]\n"
    << "Type=oneshot\n"
    << "Nice=10\n"
    << "IOSchedulingClass=idle\n"
    // The run keeps its archive attributes where runs by hand keep them,
    // whatever the user manager's environment says.
    << "Environment=" << QuoteExecArg("VAULTIX_STATE_DIR=" + u.stateDir, true)
    << "\n"
    // The machine neither sleeps nor shuts down in the middle of a run.
    // Every exit code but 0 fails the unit, 16 (files left out) included.
    << "ExecStart=systemd-inhibit --what=sleep:shutdown --who=Vaultix "
    << QuoteExecArg("--why=Vaultix backup " + u.name) << " --mode=block " << program
    << " schedule-run " << u.name << " --keep-logs " << u.keepLogs << " --job "
    << QuoteExecArg(u.job) << "\n"
    << "ExecStopPost=" << program << " schedule-done " << u.name << "\n";
  return t.str();
}

std::string TimerUnitText(const TScheduleUnit& u) {
  std::ostringstream t;
  t << UnitHead(u) << "Description=Vaultix backup " << u.name << ", " << DescribeWhen(u.when)
    << "\n"
    << "Documentation=man:vaultix-cli(1)\n"
    << "\n"
    << "[Timer]\n"
    << "OnCalendar=" << CalendarSpec(u.when) << "\n"
    << "Persistent=true\n";
  // Machines that all back up to one server do not all start at once.
  if (u.randomDelayMinutes > 0) t << "RandomizedDelaySec=" << u.randomDelayMinutes << "min\n";
  t << "Unit=vaultix-" << u.name << ".service\n"
    << "\n"
    << "[Install]\n"
    << "WantedBy=timers.target\n";
  return t.str();
}

std::string UserUnitDir() {
  std::string config = Env("XDG_CONFIG_HOME");
  // Relative values are invalid by the XDG rules and are ignored.
  if (config.empty() || config[0] != '/') config = HomeDir() + "/.config";
  return WithoutTrailingSlashes(config) + "/systemd/user";
}

std::string ScheduleLogDir() {
  // Absolute: the service runs in another folder than the one it was
  // scheduled from (VAULTIX_STATE_DIR may be relative).
  std::error_code ec;
  fs::path logs = fs::absolute(ExtractFilePath(TArchiveBitStore::DefaultPath()) + "logs", ec);
  return logs.lexically_normal().string();
}

bool IsScheduleCommand(const std::vector<std::string>& args) {
  if (args.empty()) return false;
  for (const auto& a : args) {
    if (a == "--help" || a == "-h" || a == "--version") return false;
  }
  return args[0] == "schedule" || args[0] == "schedules" || args[0] == "unschedule" ||
         args[0] == "schedule-run" || args[0] == "schedule-done";
}

int RunScheduleCommand(const std::vector<std::string>& args, TCliEnvironment& env) {
  if (args[0] == "schedule") return Schedule(args, env);
  if (args[0] == "schedules") return ListSchedules(args, env);
  if (args[0] == "unschedule") return Unschedule(args, env);
  if (args[0] == "schedule-run") return ScheduleRun(args, env);
  return ScheduleDone(args, env);
}

std::string ScheduleHelpText() {
  return R"(
SCHEDULES
  vaultix-cli schedule --job FILE --daily HH:MM [--name NAME] [OPTIONS]
  vaultix-cli schedule --job FILE --weekly DAY HH:MM [--name NAME] [OPTIONS]
            Write a systemd user service and timer,
            ${XDG_CONFIG_HOME:-~/.config}/systemd/user/vaultix-NAME.service
            and .timer, that back the job up every day (or every DAY,
            mon ... sun) at HH:MM; a run missed while the computer was off
            happens at the next start. NAME is the job file's name without
            extension unless given. The job is checked first as a run
            checks it (--dry-run) and refused, with the reason, when it
            cannot run. The timer is enabled when a user manager runs;
            otherwise the two systemctl commands that enable it are printed.
  --keep-logs N         the run logs kept (default 30, 0 all)
  --random-delay MINUTES
                        start up to MINUTES later, at random (default 10,
                        0 on the minute)
  --on-ac-power         skip the run while the computer runs on battery
  vaultix-cli schedules
            One line per schedule: name, when, job file, last result (time,
            exit code, closing text), the last run's log, separated by TABs.
  vaultix-cli unschedule NAME
            Stop the timer and remove both unit files (the logs stay).
  Each scheduled run writes its own log, "NAME YYYY-MM-DD HH-MM-SS.log" in
  ${XDG_STATE_HOME:-~/.local/state}/vaultix/logs/, keeps the machine from
  sleeping while it runs and, when a desktop session bus is there, shows a
  notification with its result and the log's path at its end (urgent when
  the run failed or left files out). Its output goes to the user's
  journal (unit vaultix-NAME.service). Timers run while the user is logged in;
  "loginctl enable-linger" lets them run without a login.
)";
}

}  // namespace vx
