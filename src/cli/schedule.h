#pragma once
// Scheduled backups: a systemd user service and timer per job file.
//
//   vaultix-cli schedule --job FILE --daily HH:MM [--name NAME] [OPTIONS]
//   vaultix-cli schedule --job FILE --weekly DAY HH:MM [--name NAME] [OPTIONS]
//   vaultix-cli schedules
//   vaultix-cli unschedule NAME
//   vaultix-cli schedule-run NAME --keep-logs N --job FILE   (the service's run)
//   vaultix-cli schedule-done NAME   (run by the service after each run)
//
// The units are ${XDG_CONFIG_HOME:-~/.config}/systemd/user/vaultix-NAME.
// {service,timer}; the service runs "schedule-run" under systemd-inhibit,
// which backs the job up with a log of its own in the state folder's logs
// ("NAME YYYY-MM-DD HH-MM-SS.log", the last N kept), and afterwards
// "schedule-done", which keeps the result in logs/NAME.last and shows a
// desktop notification when a session bus is there.
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"

namespace vx {

struct TScheduleWhen {
  bool weekly = false;
  int weekday = 0;  // 0 Monday ... 6 Sunday (weekly only)
  int hour = 0;
  int minute = 0;
};

// "HH:MM" or "H:MM", 00:00 to 23:59.
bool ParseClock(const std::string& text, int& hour, int& minute);
// "mon" ... "sun" or the full English name, any case.
std::optional<int> ParseWeekday(const std::string& text);
// "daily 02:30", "weekly Mon 02:30".
std::string DescribeWhen(const TScheduleWhen& when);
// The timer's OnCalendar= value.
std::string CalendarSpec(const TScheduleWhen& when);

// The name a job file is scheduled under: its file name without extension,
// every character outside A-Z a-z 0-9 "_" "-" "." replaced by "-".
std::string ScheduleNameOf(const std::string& jobPath);
// 1 to 64 characters of A-Z a-z 0-9 "_" "-" ".", not starting with ".".
bool ValidScheduleName(const std::string& name);

// One word of an Exec line, quoted so that systemd passes it unchanged: an
// argument, or the program's path (where systemd expands no variables).
std::string QuoteExecArg(const std::string& arg, bool program = false);
// systemd refuses a program path holding a quote, a backslash or a control
// character.
bool StartableBySystemd(const std::string& program);

struct TScheduleUnit {
  std::string name;  // NAME of vaultix-NAME.timer
  std::string job;   // absolute path of the job file
  TScheduleWhen when;
  std::string program;          // absolute path of vaultix-cli
  std::string stateDir;         // absolute state folder (archive attributes, logs)
  int keepLogs = 30;            // run logs kept, 0 all
  int randomDelayMinutes = 10;  // the timer's RandomizedDelaySec, 0 none
  bool onAcPower = false;       // skip the run on battery
};

// The log of a scheduled run that starts at `start` (local time):
// "NAME YYYY-MM-DD HH-MM-SS.log", or, when `taken` says that one exists,
// "NAME YYYY-MM-DD HH-MM-SS (2).log" and so on.
std::string RunLogName(const std::string& name, const std::tm& start,
                       const std::function<bool(const std::string&)>& taken);
// Of the file names in the logs folder, the run logs of schedule NAME to
// remove before a new run so that `keep` remain with the new one, oldest
// first; other files are never among them.  keep 0 keeps every log.
std::vector<std::string> RunLogsToRemove(const std::string& name,
                                         const std::vector<std::string>& files, int keep);

// The texts of the two unit files.
std::string ServiceUnitText(const TScheduleUnit& unit);
std::string TimerUnitText(const TScheduleUnit& unit);

// Folders: ${XDG_CONFIG_HOME:-~/.config}/systemd/user, and the logs folder
// beside the archive-attribute store (…/vaultix/logs).
std::string UserUnitDir();
std::string ScheduleLogDir();

// The first argument names one of the schedule commands.
bool IsScheduleCommand(const std::vector<std::string>& args);
// Runs it; exit code 0, 64 for a malformed command line, 99 otherwise.
int RunScheduleCommand(const std::vector<std::string>& args, TCliEnvironment& env);

// The schedule part of --help.
std::string ScheduleHelpText();

}  // namespace vx
