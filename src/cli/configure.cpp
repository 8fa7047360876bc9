#include "cli/configure.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "support/strings.h"

namespace vx {
namespace {

constexpr const char* kSection = "VAULTRex";

std::optional<std::int64_t> ReadInteger(const TProfile& set, const char* key) {
  std::string raw = set.Get(kSection, key, "");
  if (Trim(raw, kWhiteSpace).empty()) return std::nullopt;
  auto value = ParseSetInteger(raw);
  if (!value) {
    throw ECliSetting(std::string("set file: ") + key + "=" + raw + " is not a number");
  }
  return value;
}

std::optional<bool> ReadBoolean(const TProfile& set, const char* key) {
  auto value = ReadInteger(set, key);
  if (!value) return std::nullopt;
  return *value != 0;
}

// A path as the engine keeps it: absolute (a relative one is taken from the
// working folder), without "." and ".." parts, doubled or trailing slashes.
std::string AbsolutePath(const std::string& given) {
  std::filesystem::path p(given);
  if (p.is_relative()) {
    std::error_code ec;
    const std::filesystem::path here = std::filesystem::current_path(ec);
    if (!ec) p = here / p;
  }
  std::string text = p.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

bool HasMask(const std::string& entry) { return entry.find_first_of("*?") != std::string::npos; }

bool EndsWithSlash(const std::string& entry) { return !entry.empty() && entry.back() == '/'; }

// Everything below a folder, in the form both the scan and the list
// matching read: every name, the folder's own recursion.
std::string Below(const std::string& folder) {
  return (folder == "/" ? folder : folder + "/") + "* /S";
}

// Whether a mask entry's folder exists and, without recursion, the mask
// finds a file there.
bool MaskFindsSomething(const std::string& entry, bool recurse) {
  const std::string folder = ExtractFilePath(entry);
  if (folder.empty() || !DirectoryExists(folder)) return false;
  if (recurse) return true;
  bool found = false;
  FindFiles(folder, ExtractFileName(entry), [&found](const TSearchRec& rec) {
    if ((rec.attr & faDirectory) == 0) found = true;
  });
  return found;
}

// A backup's include entry of a one-off run; "" when it is dropped.
std::string BackupInclude(const std::string& given, bool ignoreMissing) {
  std::string entry = given;
  const bool marker = StripRecursionMarker(entry);
  bool present = false;
  std::string result;
  if (marker || HasMask(entry)) {
    // The folder part is made absolute; the mask and the marker stay.
    const std::string name = ExtractFileName(entry);
    const std::string folder = ExtractFilePath(entry);
    result = (folder.empty() ? AbsolutePath(".") : AbsolutePath(folder));
    result = (result == "/" ? result : result + "/") + name;
    present = MaskFindsSomething(result, marker);
    if (marker) result += " /S";
  } else {
    result = AbsolutePath(entry);
    if (DirectoryExists(result)) {
      present = true;
      result = Below(result);
    } else {
      present = FileExists(result);
    }
  }
  if (present) return result;
  if (ignoreMissing) return "";
  throw ECliUsage("--include " + given + ": no such file or folder (--ignore-missing skips it)");
}

// A backup's exclude entry of a one-off run.
std::string BackupExclude(const std::string& given) {
  std::string entry = given;
  if (StripRecursionMarker(entry) || HasMask(entry)) return given;
  const std::string path = AbsolutePath(entry);
  if (EndsWithSlash(entry) || DirectoryExists(path)) return Below(path);
  return given;
}

// A restore or delete line of a one-off run: an absolute path also takes
// what is stored below it.
void AddListLine(const std::string& given, TStrings& lines) {
  std::string entry = given;
  if (StripRecursionMarker(entry) || HasMask(entry) || entry.empty() || entry.front() != '/') {
    lines.push_back(given);
    return;
  }
  const std::string path = AbsolutePath(entry);
  if (!EndsWithSlash(entry)) lines.push_back(path);
  lines.push_back(Below(path));
}

}  // namespace

bool ReadableByOthers(const std::string& fileName) {
  struct stat st {};
  return ::stat(fileName.c_str(), &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

TOneOffSelection OneOffSelection(const TCliOptions& o) {
  TOneOffSelection s;
  if (o.operation == TCliOperation::Backup) {
    for (const std::string& given : o.includes) {
      std::string entry = BackupInclude(given, o.ignoreMissing);
      if (!entry.empty()) s.includes.push_back(std::move(entry));
    }
    for (const std::string& given : o.excludes) s.excludes.push_back(BackupExclude(given));
    return s;
  }
  for (const std::string& given : o.includes) AddListLine(given, s.includes);
  for (const std::string& given : o.excludes) AddListLine(given, s.excludes);
  return s;
}

std::string RunPasswordCommand(const std::string& command) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0)
    throw ECliSetting(std::string("--password-command: ") + std::strerror(errno));
  const pid_t pid = ::fork();
  if (pid < 0) {
    const int err = errno;
    ::close(out[0]);
    ::close(out[1]);
    throw ECliSetting(std::string("--password-command: ") + std::strerror(err));
  }
  if (pid == 0) {
    // Standard input and error stay the caller's: a command may ask there.
    if (::dup2(out[1], STDOUT_FILENO) < 0) ::_exit(127);
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n > 0) {
      text.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  ::close(out[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw ECliSetting("--password-command: lost its process");
  }
  if (WIFSIGNALED(status)) {
    throw ECliSetting("--password-command was ended by signal " + std::to_string(WTERMSIG(status)));
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw ECliSetting("--password-command failed with exit status " +
                      std::to_string(WEXITSTATUS(status)));
  }
  const std::size_t end = text.find('\n');
  std::string line = text.substr(0, end);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty()) throw ECliSetting("--password-command printed no password");
  return line;
}

std::optional<std::int64_t> ParseSetInteger(const std::string& text) {
  return ParseIniInteger(text);
}

TSetExtras ReadSetExtras(const TProfile& set) {
  TSetExtras extras;
  extras.maxSplitSize = ReadInteger(set, "MaxSplitSize");
  if (extras.maxSplitSize && *extras.maxSplitSize < 0) {
    throw ECliSetting("set file: MaxSplitSize must not be negative");
  }
  extras.noFileCRCs = ReadBoolean(set, "NoFileCRCs");
  extras.askForNextDisk = ReadBoolean(set, "AskForNextDisk");
  extras.useExtStatistic = ReadBoolean(set, "UseExtStatistic");
  return extras;
}

std::string ReadPasswordFile(const std::string& fileName, bool& looseMode) {
  looseMode = false;
  struct stat st {};
  if (::stat(fileName.c_str(), &st) != 0) {
    throw ECliSetting("cannot read password file " + fileName + ": " + std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) {
    throw ECliSetting("password file " + fileName + " is not a regular file");
  }
  looseMode = (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
  std::ifstream in(fileName, std::ios::binary);
  if (!in) {
    throw ECliSetting("cannot read password file " + fileName + ": " + std::strerror(errno));
  }
  std::string line;
  std::getline(in, line);
  if (in.bad()) throw ECliSetting("cannot read password file " + fileName);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string ConfigureEngine(TVaultrex& engine, const TCliOptions& o) {
  std::string warnings;
  // Without a set file the engine's own defaults stand, and the options
  // below say the rest.
  if (!o.setFile.empty()) {
    // Read once: the engine's keys and the command line's own come from
    // the same copy of the file.
    const TProfile set = ReadSetFile(o.setFile);
    engine.LoadSet(set);
    if (!engine.EncryptKey.empty() && ReadableByOthers(o.setFile)) {
      warnings += "warning: set file " + o.setFile +
                  " holds a password and can be read by other users (chmod 600 it)\n";
    }
    const TSetExtras extras = ReadSetExtras(set);
    if (extras.maxSplitSize) engine.MaxSplitSize = *extras.maxSplitSize;
    if (extras.noFileCRCs) engine.NoFileCRCs = *extras.noFileCRCs;
    if (extras.askForNextDisk) engine.AskForNextDisk = *extras.askForNextDisk;
    if (extras.useExtStatistic) engine.UseExtStatistic = *extras.useExtStatistic;
  }

  // Log.
  if (o.noLog) {
    engine.LogFileMode = LFM_NoLog;
  } else if (o.logFile || o.appendLog) {
    if (o.logFile) engine.LogFileName = *o.logFile;
    if (o.appendLog || engine.LogFileMode == LFM_Append) {
      engine.LogFileMode = LFM_Append;
    } else {
      engine.LogFileMode = LFM_CreateNew;
    }
  }
  const bool logging = o.operation == TCliOperation::Backup ||
                       o.operation == TCliOperation::Restore ||
                       o.operation == TCliOperation::Verify || o.operation == TCliOperation::Delete;
  if (logging && engine.LogFileMode != LFM_NoLog && engine.LogFileName.empty()) {
    throw ECliSetting(
        "a log is asked for (LogFileMode) but no log file is named; "
        "give --log FILE or --no-log");
  }

  // Password: the command, the file, the file the environment names, in
  // this order.  A backup given one encrypts.
  const bool reading =
      o.operation == TCliOperation::Backup || o.operation == TCliOperation::Restore ||
      o.operation == TCliOperation::Verify || o.operation == TCliOperation::Comment;
  std::optional<std::string> passwordFile = o.passwordFile;
  if (reading && !passwordFile && !o.passwordCommand) {
    const char* named = std::getenv("VAULTIX_PASSWORD_FILE");
    if (named != nullptr && *named != '\0') passwordFile = named;
  }
  if (o.passwordCommand) {
    engine.EncryptKey = RunPasswordCommand(*o.passwordCommand);
    if (o.operation == TCliOperation::Backup) engine.EncryptData = true;
  } else if (passwordFile) {
    bool loose = false;
    engine.EncryptKey = ReadPasswordFile(*passwordFile, loose);
    if (o.operation == TCliOperation::Backup) engine.EncryptData = true;
    if (loose) {
      warnings += "warning: password file " + *passwordFile +
                  " can be read by other users (chmod 600 it)\n";
    }
  }
  if (o.encrypt) engine.EncryptData = true;

  // A one-off run creates no folder unless asked to; a set file's run may,
  // where the folder cannot be an empty mount point.
  engine.CreateDestination = !o.setFile.empty() || o.mkdir;
  engine.LockWaitSeconds = o.waitLock;

  // Where the archive is.
  if (o.destination) engine.BackupDestination = *o.destination;
  if (o.archiveName) engine.ArchiveBaseName = *o.archiveName;

  // What to take.  A one-off run reads paths as Linux tools do and takes
  // dot-files unless told not to; a set file keeps its own rules.
  const bool oneOff = o.setFile.empty();
  const TOneOffSelection given =
      oneOff ? OneOffSelection(o) : TOneOffSelection{o.includes, o.excludes};
  if (o.recurse) engine.RecurseSubDir = true;
  if (o.noXattrs) engine.StoreXattrs = false;
  if (o.noMetadata) engine.StoreMetadata = false;
  if (o.followLinks) engine.FollowLinks = true;
  switch (o.operation) {
    case TCliOperation::Backup:
      if (oneOff) engine.BackupHiddenSysFiles = !o.noHidden;
      if (o.noHidden) engine.BackupHiddenSysFiles = false;
      if (!o.includes.empty()) engine.SetIncludes(given.includes);
      if (!o.excludes.empty()) engine.SetExcludes(given.excludes);
      if (o.comment) engine.Comment = *o.comment;
      if (o.compress) engine.CompressData = *o.compress;
      if (o.backupMode) engine.BackupMode = *o.backupMode;
      break;
    case TCliOperation::Catalog:
      if (o.all) engine.CatalogAll = true;
      break;
    case TCliOperation::Restore:
      if (o.all) {
        engine.SetIncludes({"*"});
      } else if (!o.includes.empty()) {
        engine.SetIncludes(given.includes);
      }
      if (o.restoreTo) {
        engine.RedirectRestore = true;
        engine.RestoreTo = *o.restoreTo;
      }
      if (o.flat) engine.FlatRestore = true;
      if (o.restoreMode) engine.RestoreMode = *o.restoreMode;
      if (o.restoreAttributes) engine.RestoreAttributes = true;
      break;
    case TCliOperation::Delete:
      // Lists on the command line replace both of the set file's lists;
      // without any, the set file's lists decide, as the engine reads them.
      if (!o.includes.empty() || !o.excludes.empty()) {
        engine.SetIncludes(given.includes);
        engine.SetExcludes(given.excludes);
      }
      break;
    case TCliOperation::Verify:
    case TCliOperation::Comment:
      break;
  }
  return warnings;
}

}  // namespace vx
