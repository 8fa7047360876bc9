#include "cli/configure.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "platform/profile.h"
#include "support/strings.h"

namespace vx {
namespace {

constexpr const char* kSection = "VAULTRex";

std::optional<std::int64_t> ReadInteger(const std::string& setFile, const char* key) {
  std::string raw = GetProfileString(setFile, kSection, key, "");
  if (Trim(raw, kWhiteSpace).empty()) return std::nullopt;
  auto value = ParseSetInteger(raw);
  if (!value) {
    throw ECliSetting(std::string("set file: ") + key + "=" + raw + " is not a number");
  }
  return value;
}

std::optional<bool> ReadBoolean(const std::string& setFile, const char* key) {
  auto value = ReadInteger(setFile, key);
  if (!value) return std::nullopt;
  return *value != 0;
}

}  // namespace

std::optional<std::int64_t> ParseSetInteger(const std::string& text) {
  return ParseIniInteger(text);
}

TSetExtras ReadSetExtras(const std::string& setFile) {
  TSetExtras extras;
  extras.maxSplitSize = ReadInteger(setFile, "MaxSplitSize");
  if (extras.maxSplitSize && *extras.maxSplitSize < 0) {
    throw ECliSetting("set file: MaxSplitSize must not be negative");
  }
  extras.noFileCRCs = ReadBoolean(setFile, "NoFileCRCs");
  extras.askForNextDisk = ReadBoolean(setFile, "AskForNextDisk");
  extras.useExtStatistic = ReadBoolean(setFile, "UseExtStatistic");
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
    engine.LoadSet(o.setFile);
    const TSetExtras extras = ReadSetExtras(o.setFile);
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

  // Password.
  if (o.passwordFile) {
    bool loose = false;
    engine.EncryptKey = ReadPasswordFile(*o.passwordFile, loose);
    if (o.operation == TCliOperation::Backup) engine.EncryptData = true;
    if (loose) {
      warnings += "warning: password file " + *o.passwordFile +
                  " can be read by other users (chmod 600 it)\n";
    }
  }

  // A one-off run creates no folder unless asked to; a set file's run may,
  // where the folder cannot be an empty mount point.
  engine.CreateDestination = !o.setFile.empty() || o.mkdir;
  engine.LockWaitSeconds = o.waitLock;

  // Where the archive is.
  if (o.destination) engine.BackupDestination = *o.destination;
  if (o.archiveName) engine.ArchiveBaseName = *o.archiveName;

  // What to take.
  if (o.recurse) engine.RecurseSubDir = true;
  switch (o.operation) {
    case TCliOperation::Backup:
      if (!o.includes.empty()) engine.SetIncludes(o.includes);
      if (!o.excludes.empty()) engine.SetExcludes(o.excludes);
      if (o.comment) engine.Comment = *o.comment;
      if (o.compress) engine.CompressData = *o.compress;
      if (o.backupMode) engine.BackupMode = *o.backupMode;
      break;
    case TCliOperation::Restore:
      if (o.all) {
        engine.SetIncludes({"*"});
      } else if (!o.includes.empty()) {
        engine.SetIncludes(o.includes);
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
        engine.SetIncludes(o.includes);
        engine.SetExcludes(o.excludes);
      }
      break;
    case TCliOperation::Verify:
    case TCliOperation::Catalog:
    case TCliOperation::Comment:
      break;
  }
  return warnings;
}

}  // namespace vx
