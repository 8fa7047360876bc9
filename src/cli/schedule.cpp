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
std::string LogPath(const std::string& name) { return ScheduleLogDir() + "/" + name + ".log"; }

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

// ---- schedule --------------------------------------------------------------

int Schedule(const std::vector<std::string>& args, TCliEnvironment& env) {
  std::string job;
  std::string name;
  std::optional<TScheduleWhen> when;
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

  TScheduleUnit unit{name,          absJob,
                     *when,         ProgramPath(),
                     LogPath(name), fs::path(ScheduleLogDir()).parent_path().string()};
  // A line break in a path would end its line in the unit file and let the
  // rest of the path stand as a setting of its own.
  if (HasControlCharacter(unit.stateDir))
    return Failure(env,
                   "the state folder's path (VAULTIX_STATE_DIR, XDG_STATE_HOME or HOME) "
                   "holds a control character: " +
                       EscapeControls(unit.stateDir));
  if (HasControlCharacter(unit.logFile))
    return Failure(
        env, "the schedule's log path holds a control character: " + EscapeControls(unit.logFile));
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

std::string LastResult(const std::string& name) {
  std::string text = ReadAll(ResultPath(name));
  if (text.empty()) return "never run";
  std::string line = text.substr(0, text.find('\n'));
  std::replace(line.begin(), line.end(), '\t', ' ');
  return line;
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
    env.out << name << '\t' << info.when << '\t' << info.job << '\t' << LastResult(name) << '\t'
            << LogPath(name) << '\n';
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
  if (manager) Systemctl({"daemon-reload"}, true);
  env.out << std::flush;
  return 0;
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
    r.ok = code == 0;
    r.status = "exit " + status;
    r.text = r.ok ? kBackupDone : kBackupStopped + " " + TVaultrex::ErrorText(code);
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
  char stamp[32] = "";
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (::localtime_r(&now, &local) != nullptr)
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  const std::string record = std::string(stamp) + '\t' + r.status + '\t' + r.text + '\n';
  std::string error;
  const bool kept = MakeLogFolder(error) && WriteReplacing(ResultPath(name), record, error);
  Notify("Vaultix: " + name, r.text + "\nlog: " + LogPath(name), r.ok);
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
    << "Documentation=man:vaultix-cli(1)\n"
    << "\n"
    << "[Service]\n"
    << "Type=oneshot\n"
    << "Nice=10\n"
    << "IOSchedulingClass=idle\n"
    // The run keeps its archive attributes where runs by hand keep them,
    // whatever the user manager's environment says.
    << "Environment=" << QuoteExecArg("VAULTIX_STATE_DIR=" + u.stateDir, true) << "\n"
    << "ExecStart=" << program << " backup --job " << QuoteExecArg(u.job) << " --quiet --log "
    << QuoteExecArg(u.logFile) << "\n"
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
    << "Persistent=true\n"
    << "Unit=vaultix-" << u.name << ".service\n"
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
         args[0] == "schedule-done";
}

int RunScheduleCommand(const std::vector<std::string>& args, TCliEnvironment& env) {
  if (args[0] == "schedule") return Schedule(args, env);
  if (args[0] == "schedules") return ListSchedules(args, env);
  if (args[0] == "unschedule") return Unschedule(args, env);
  return ScheduleDone(args, env);
}

std::string ScheduleHelpText() {
  return R"(
SCHEDULES
  vaultix-cli schedule --job FILE --daily HH:MM [--name NAME]
  vaultix-cli schedule --job FILE --weekly DAY HH:MM [--name NAME]
            Write a systemd user service and timer,
            ${XDG_CONFIG_HOME:-~/.config}/systemd/user/vaultix-NAME.service
            and .timer, that run "vaultix-cli backup --job FILE --quiet"
            every day (or every DAY, mon ... sun) at HH:MM; a run missed
            while the computer was off happens at the next start. NAME is
            the job file's name without extension unless given. The timer
            is enabled when a user manager runs; otherwise the two
            systemctl commands that enable it are printed.
  vaultix-cli schedules
            One line per schedule: name, when, job file, last result, log,
            separated by TABs.
  vaultix-cli unschedule NAME
            Stop the timer and remove both unit files (the logs stay).
  A scheduled run logs into ${XDG_STATE_HOME:-~/.local/state}/vaultix/logs/
  NAME.log and, when a desktop session bus is there, shows a notification
  with its result and the log's path at its end.
)";
}

}  // namespace vx
