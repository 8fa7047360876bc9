#include "engine/wizard_job.h"

#include <pwd.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <stdexcept>

#include "engine/vaultrex.h"
#include "platform/date_time.h"
#include "platform/locale.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "support/strings.h"
#include "support/utils.h"
#include "support/version.h"

namespace vx {
namespace {

// A decimal integer with an optional sign and blanks around it; nothing else
// (no hexadecimal, no trailing text) and nothing beyond 64 bits.
std::optional<std::int64_t> ParseDecimal(const std::string& text) {
  bool hex = false;
  const auto value = ParseIniInteger(text, &hex);
  return hex ? std::nullopt : value;
}

// The port of an FTP group: a decimal number in the range of an Integer;
// anything else is the FTP port 21.
std::int32_t PortOf(const std::string& text) {
  const auto v = ParseDecimal(text);
  if (!v || *v < std::numeric_limits<std::int32_t>::min() ||
      *v > std::numeric_limits<std::int32_t>::max()) {
    return 21;
  }
  return static_cast<std::int32_t>(*v);
}

TFTPConnection ConnectionOf(const TFtpFields& f) {
  TFTPConnection c;
  c.HostName = f.HostName;
  c.Port = PortOf(f.Port);
  c.UserName = f.UserName;
  c.Password = f.Password;
  return c;
}

// The segment size in bytes.  The product is formed in 64 bits, so 2097152 KB
// and more give the size the user typed instead of a wrapped 32-bit value; a
// text that is no number, a negative number or a product beyond 64 bits gives
// 0 (no limit), as the limit is never negative.
std::int64_t SplitSizeOf(const std::string& text) {
  const auto kb = ParseDecimal(text);
  if (!kb || *kb <= 0 || *kb > std::numeric_limits<std::int64_t>::max() / 1024) return 0;
  return *kb * 1024;
}

TLogFileMode LogModeOf(bool createLog) { return createLog ? LFM_CreateNew : LFM_NoLog; }

// The set file's folder (with its "/") and its name without extension.
void SetSetLocation(TVaultrex& engine, const std::string& setFile) {
  engine.ArchiveBaseName = RemoveFileExt(ExtractFileName(setFile));
  engine.BackupDestination = ExtractFilePath(setFile);
}

const std::string& MarkerKey() {
  if (VersionString(VS_InternalName).empty()) ReadVersionInfo();
  return VersionString(VS_InternalName);
}

// A job file's integer: decimal text, anything else is the default.
int ReadJobInt(const TProfile& job, const char* section, const char* key, int def) {
  const auto v = ParseDecimal(job.Get(section, key, ""));
  if (!v || *v < std::numeric_limits<int>::min() || *v > std::numeric_limits<int>::max())
    return def;
  return static_cast<int>(*v);
}

bool ReadJobBool(const TProfile& job, const char* section, const char* key, bool def) {
  const auto v = ParseDecimal(job.Get(section, key, ""));
  return v ? *v != 0 : def;
}

// An item index of a radio group; a value outside its items is the default.
int ReadJobItem(const TProfile& job, const char* section, const char* key, int count, int def) {
  const int v = ReadJobInt(job, section, key, def);
  return v >= 0 && v < count ? v : def;
}

// The values of a list section, in file order: everything after the first
// "=" of each line (a line without "=" holds no entry).
std::vector<std::string> ReadJobList(const TProfile& job, const char* section) {
  std::vector<std::string> out;
  for (const auto& line : job.Section(section)) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) out.push_back(line.substr(eq + 1));
  }
  return out;
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  std::string h = home && *home ? home : "";
  if (h.empty()) {
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) h = pw->pw_dir;
  }
  if (h.empty()) h = "/";
  return IncludeBackslash(h);
}

}  // namespace

std::string DefaultJobLocation() { return HomeFolder(); }

void ApplyStatusWindowDefaults(TVaultrex& e) {
  e.DebugAttrib = false;
  e.LogFileMode = LFM_NoLog;
  e.EncryptData = false;
  e.CompressData = CDM_NoCompression;
  e.RunInBackground = true;
  e.SetMessageLines(
      {"Please insert the Disk No. %d into drive %s and press OK or ABORT to stop processing"});
  e.RecurseSubDir = false;
  e.BackupHiddenSysFiles = false;
  e.BackupOpenFiles = true;
  e.BackupMode = BM_Full;
  e.VerifyDuringBackup = false;
  e.HandleOpenError = AW_RETRY;
  e.HandleFileReadError = AW_RETRY;
  e.BackupToTape = false;
  e.BackupToFTP = false;
  e.EraseTargetDir = true;
  e.SpanDisks = true;
  e.AskForNextDisk = true;
  e.KeepArchiveFlags = false;
  e.AskForFirstDisk = true;
  e.NoFileCRCs = true;
  e.TapeFileMarks = true;
  e.EjectTape = false;
  e.UseExtStatistic = true;
  e.RedirectRestore = false;
  e.FlatRestore = false;
  e.RestoreMode = RM_All;
  e.RestoreAttributes = true;
}

void ApplyBackupPage(TVaultrex& e, const TBackupPage& page, const std::string& logFileName) {
  // The date is read first, so that a date that does not convert leaves the
  // engine as it was.
  double special = 0.0;
  if (page.Mode == 3 && !TryParseShortDate(page.SpecialDate, special)) {
    throw std::runtime_error("Neplatný dátum!");
  }
  e.ArchiveBaseName = page.BaseName;
  e.BackupDestination = page.Location;
  e.BackupHiddenSysFiles = page.HiddenFiles;
  e.BackupMode = page.Mode >= 0 && page.Mode <= 3 ? static_cast<TBackupMode>(page.Mode) : BM_Full;
  e.BackupOpenFiles = page.OpenFiles;
  e.BackupToTape = page.ToTape;
  e.BackupToFTP = page.Ftp.Enabled;
  e.FTPConnection = ConnectionOf(page.Ftp);
  e.MaxSplitSize = SplitSizeOf(page.SegmentSizeKB);
  // Volumes of a set split by size all go to the one folder: there is no
  // medium to change, so neither the first nor any further one is asked for.
  const bool splitOnDisk = !page.ToTape && !page.Ftp.Enabled && e.MaxSplitSize > 0;
  e.AskForFirstDisk = !splitOnDisk;
  e.AskForNextDisk = !splitOnDisk;
  e.Comment = page.Comment;
  e.CompressData = page.Compression >= 0 && page.Compression <= 2
                       ? static_cast<TCompressData>(page.Compression)
                       : CDM_QuickCompression;
  e.EncryptData = page.Encryption;
  e.EncryptKey = page.Password;
  e.EraseTargetDir = page.EraseTarget;
  e.ClearExcludes();
  for (const auto& x : page.Exclude) e.AddToExcludes(x);
  e.ClearIncludes();
  for (const auto& x : page.Include) e.AddToIncludes(x);
  e.LogFileMode = LogModeOf(page.CreateLog);
  e.LogFileName = logFileName;
  if (e.BackupMode == BM_Special) e.SpecialBackupDate = special;
  e.VerifyDuringBackup = page.Verify;
  e.KeepArchiveFlags = page.KeepArchiveFlags;
}

void ApplyRestorePage(TVaultrex& e, const TRestorePage& page, const std::string& logFileName) {
  SetSetLocation(e, page.SetFile);
  e.EncryptData = !page.Password.empty();
  e.EncryptKey = page.Password;
  e.SetIncludes(page.Selection);
  e.LogFileMode = LogModeOf(page.CreateLog);
  e.LogFileName = logFileName;
  e.RedirectRestore = !page.ToOriginal;
  e.RestoreAttributes = page.Attributes;
  e.RestoreMode = page.Mode >= 0 && page.Mode <= 2 ? static_cast<TRestoreMode>(page.Mode) : RM_All;
  e.RestoreTo = page.Location;
  e.BackupToTape = page.FromTape;
  e.BackupToFTP = page.Ftp.Enabled;
  e.FTPConnection = ConnectionOf(page.Ftp);
}

void ApplyVerifyPage(TVaultrex& e, const TVerifyPage& page, const std::string& logFileName) {
  SetSetLocation(e, page.SetFile);
  e.EncryptData = !page.Password.empty();
  e.EncryptKey = page.Password;
  e.LogFileMode = LogModeOf(page.CreateLog);
  e.LogFileName = logFileName;
  e.BackupToTape = page.FromTape;
  e.BackupToFTP = page.Ftp.Enabled;
  e.FTPConnection = ConnectionOf(page.Ftp);
}

std::string RunLogFileName(const std::string& folder, int operationKind) {
  static const char* const kWords[] = {"Backup ", "Restore ", "Verify "};
  const char* word = operationKind >= 0 && operationKind <= 2 ? kWords[operationKind] : kWords[0];
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  DecodeDateTime(NowDateTime(), y, mo, d, h, mi, s);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d-%02d-%04d %02d-%02d-%02d", mo, d, y, h, mi, s);
  return IncludeBackslash(folder) + word + stamp + ".LOG";
}

std::string RunLogFolder() {
  auto env = [](const char* name) {
    const char* v = std::getenv(name);
    return std::string(v ? v : "");
  };
  if (const std::string dir = env("VAULTIX_STATE_DIR"); !dir.empty())
    return IncludeBackslash(dir) + "logs/";
  std::string xdg = env("XDG_STATE_HOME");
  // Relative values are to be ignored, as the XDG base directory rules say.
  if (xdg.empty() || xdg[0] != '/') xdg = HomeFolder() + ".local/state";
  return IncludeBackslash(xdg) + "vaultix/logs/";
}

void LoadJobFile(const std::string& fileName, TBackupPage& page) {
  TProfile f;
  const TProfileLoad loaded = f.Load(fileName);
  const bool missing = (loaded == TProfileLoad::kOpenFailed &&
                        (f.LoadError() == ENOENT || f.LoadError() == ENOTDIR)) ||
                       (loaded == TProfileLoad::kNotRegular && DirectoryExists(fileName));
  if (missing) {
    throw std::runtime_error(fileName + "\nSúbor nenájdený.\n" + "Nesprávna cesta k súboru");
  }
  // A FIFO would wait for a writer for ever, a device would never end.
  if (loaded == TProfileLoad::kNotRegular) {
    throw std::runtime_error("Súbor " + fileName + " nie je obyčajný súbor");
  }
  // A file that cannot be read holds no marker either.
  if (!ReadJobBool(f, "ID", MarkerKey().c_str(), false)) {
    throw std::runtime_error(fileName + "\nNeplatný formát záložnej sady");
  }
  for (auto& x : ReadJobList(f, "Include")) page.Include.push_back(std::move(x));
  for (auto& x : ReadJobList(f, "Exclude")) page.Exclude.push_back(std::move(x));
  page.ToTape = ReadJobBool(f, "Where", "BackupToTape", false);
  page.Location = f.Get("Where", "Location", HomeFolder());
  page.BaseName = f.Get("Where", "BaseName", "Backup");
  page.Mode = ReadJobItem(f, "How", "Mode", 4, 0);
  page.Compression = ReadJobItem(f, "How", "Compression", 3, 1);
  page.OpenFiles = ReadJobBool(f, "How", "BackupOpenFiles", true);
  page.SkipLocks = ReadJobBool(f, "How", "SkipLocks", false);
  page.HiddenFiles = ReadJobBool(f, "How", "BackupHiddenFiles", true);
  // A job file that does not say so never empties the target folder.
  page.EraseTarget = ReadJobBool(f, "How", "EraseTarget", false);
  page.Encryption = ReadJobBool(f, "How", "Encryption", false);
  page.Verify = ReadJobBool(f, "How", "Verify", false);
  page.CreateLog = ReadJobBool(f, "How", "CreateLog", false);
  page.Password = f.Get("How", "Password", "");
  page.Comment = f.Get("How", "Comment", "Backup");
}

void SaveJobFile(const std::string& fileName, const TBackupPage& page) {
  // The file's other sections stay; it is written once, as a whole.
  TProfile job;
  bool ok = job.Load(fileName) == TProfileLoad::kLoaded || !FileExists(fileName);
  auto put = [&](const char* section, const std::string& key, const std::string& value) {
    ok = job.Set(section, key, value) && ok;
  };
  auto flag = [](bool b) { return std::string(b ? "1" : "0"); };
  auto list = [&](const char* section, const std::vector<std::string>& entries) {
    job.EraseSection(section);
    for (std::size_t i = 0; i < entries.size(); ++i)
      put(section, "Files" + std::to_string(i), entries[i]);
  };
  job.EraseSection("ID");
  put("ID", MarkerKey(), "1");
  list("Include", page.Include);
  list("Exclude", page.Exclude);
  job.EraseSection("Where");
  put("Where", "BackupToTape", flag(page.ToTape));
  put("Where", "Location", page.Location);
  put("Where", "BaseName", page.BaseName);
  job.EraseSection("How");
  put("How", "Mode", std::to_string(page.Mode));
  put("How", "Compression", std::to_string(page.Compression));
  put("How", "BackupOpenFiles", flag(page.OpenFiles));
  put("How", "SkipLocks", flag(page.SkipLocks));
  put("How", "BackupHiddenFiles", flag(page.HiddenFiles));
  put("How", "EraseTarget", flag(page.EraseTarget));
  put("How", "Encryption", flag(page.Encryption));
  put("How", "Verify", flag(page.Verify));
  put("How", "CreateLog", flag(page.CreateLog));
  put("How", "Password", page.Password);
  put("How", "Comment", page.Comment);
  if (!ok || !job.Save(fileName)) throw std::runtime_error(fileName + "\nSúbor sa nedá zapísať.");
}

}  // namespace vx
