// The component's set file: every setting in section "VAULTRex" of an INI
// file, texts in an escaped form, lists as one TAB-separated line.

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "archive/errors.h"
#include "engine/texts.h"
#include "engine/vaultrex.h"
#include "platform/date_time.h"
#include "platform/locale.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "support/strings.h"

namespace vx {

namespace {

constexpr const char* kSection = "VAULTRex";
constexpr std::int64_t kSetMagic = 2059128029;  // 0x7ABBCCDD
constexpr const char* kFtpPasswordDefault = "vaultix@localhost";

// The keys LoadSet reads as numbers (booleans included) and as texts.
constexpr const char* kIntegerKeys[] = {"LogFileMode",         "EncryptData",
                                        "CompressData",        "RuninBackground",
                                        "RecurseSubDir",       "BackupHiddenSysFiles",
                                        "BackupOpenFiles",     "BackupMode",
                                        "VerifyDuringBackup",  "HandleOpenErrors",
                                        "HandleFileReadError", "BackupToTape",
                                        "BackupToFTP",         "FTP_port",
                                        "EraseTargetDir",      "SpanDisks",
                                        "KeepArchiveFlags",    "AskForFirstDisk",
                                        "TapeFileMarks",       "EjectTape",
                                        "RedirectRestore",     "FlatRestore",
                                        "RestoreMode",         "RestoreAttributes",
                                        "StoreMetadata",       "StoreXattrs",
                                        "FollowLinks"};
constexpr const char* kTextKeys[] = {"LogFileName",       "EncryptKey",      "Comment",
                                     "Messages",          "IncludeNames",    "ExcludeNames",
                                     "BackupDestination", "ArchiveBaseName", "FTP_Hostname",
                                     "FTP_username",      "FTP_password",    "RestoreTo"};

// Bytes 32..128 stay, except the apostrophe and the backslash; every other
// byte becomes "\x" and two upper-case hexadecimal digits.
std::string EscapeText(const std::string& text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (c >= 32 && c <= 128 && c != 39 && c != 92) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// Decimal digits with an optional sign, or "0x" and hexadecimal digits.
bool LooksLikeInteger(const std::string& text) {
  const std::string t = Trim(text, kWhiteSpace);
  std::size_t i = 0;
  bool hex = false;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    i = 2;
    hex = true;
  } else if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
    i = 1;
  }
  if (i >= t.size()) return false;
  for (; i < t.size(); ++i) {
    const auto c = static_cast<unsigned char>(t[i]);
    if (!(hex ? std::isxdigit(c) : std::isdigit(c))) return false;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;  // lower-case digits included: hand-edited values read wrong
}

// A backslash with three characters behind it starts a four-character group
// whose last two characters are the byte in hexadecimal.  A backslash with
// fewer characters behind it (a value cut at the length limit) ends the text.
std::string UnescapeText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] != '\\') {
      out += text[i++];
      continue;
    }
    if (i + 3 >= text.size()) break;
    out += static_cast<char>(HexDigit(text[i + 2]) * 16 + HexDigit(text[i + 3]));
    i += 4;
  }
  return out;
}

std::string JoinList(const TStrings& lines) {
  std::string s;
  for (const std::string& l : lines) {
    s += l;
    s += '\t';
  }
  return s;
}

// A set file's integer; the fields it fills are 32 bits wide: a decimal
// value must fit, a hexadecimal one is taken as the 32 bits it names.
std::optional<std::int64_t> ParseSetFileInt(const std::string& text) {
  bool hex = false;
  const auto v = ParseIniInteger(text, &hex);
  if (!v) return std::nullopt;
  if (hex) {
    if (*v > 0xFFFFFFFFLL) return std::nullopt;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(*v));
  }
  if (*v < INT32_MIN || *v > INT32_MAX) return std::nullopt;
  return v;
}

class TSetWriter {
 public:
  TSetWriter(TProfile& set, const std::string& file) : set_(set), file_(file) {}
  void Raw(const char* key, const std::string& value) {
    if (!set_.Set(kSection, key, value)) throw std::runtime_error("Unable to write to " + file_);
  }
  void Text(const char* key, const std::string& value) { Raw(key, EscapeText(value)); }
  void Int(const char* key, std::int64_t value) { Raw(key, std::to_string(value)); }
  void Bool(const char* key, bool value) { Raw(key, value ? "1" : "0"); }
  void List(const char* key, const TStrings& lines) { Text(key, JoinList(lines)); }
  void Date(const char* key, double value) { Text(key, FormatDateTimeStamp(value)); }

 private:
  TProfile& set_;
  const std::string& file_;
};

class TSetReader {
 public:
  explicit TSetReader(const TProfile& set) : set_(set) {}
  std::string Text(const char* key, const std::string& def) {
    return UnescapeText(set_.Get(kSection, key, EscapeText(def), 2048));
  }
  std::int64_t Int(const char* key, std::int64_t def) {
    const std::string text = set_.Get(kSection, key, std::to_string(def), 2048);
    return ParseSetFileInt(text).value_or(def);
  }
  bool Bool(const char* key, bool def) { return Int(key, def ? 1 : 0) != 0; }
  TStrings List(const char* key) { return SplitTerminated(Text(key, ""), '\t'); }
  // Fields by position: yyyy?mm?dd?hh?nn?ss, whatever the separators.
  double Date(const char* key) {
    double out = 0.0;
    return DateIn(key, out) ? out : NowDateTime();
  }
  // Whether the key holds a valid date (then in `out`).
  bool DateIn(const char* key, double& out) {
    const std::string text = Text(key, "");
    if (text.size() < 19) return false;
    int f[6] = {};
    const std::size_t pos[6] = {0, 5, 8, 11, 14, 17};
    const std::size_t len[6] = {4, 2, 2, 2, 2, 2};
    for (int i = 0; i < 6; ++i) {
      int v = 0;
      for (std::size_t k = 0; k < len[i]; ++k) {
        const char c = text[pos[i] + k];
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        v = v * 10 + (c - '0');
      }
      f[i] = v;
    }
    return TryEncodeDateTime(f[0], f[1], f[2], f[3], f[4], f[5], out);
  }

  // Refuses a value the engine cannot use, naming its key: an enumeration
  // out of its range, or a text that decodes to a NUL byte (it would cut
  // the value wherever it is passed on).
  void CheckRange(const char* key, std::int64_t last) {
    const std::int64_t v = Int(key, 0);
    if (v < 0 || v > last) {
      throw EVX_ParameterError(std::string(engine_txt::kBadSetting) + key + "=" +
                               std::to_string(v) + engine_txt::kAllowedFrom + std::to_string(last) +
                               ")");
    }
  }
  void CheckNoNul(const char* key) {
    if (Text(key, "").find('\0') != std::string::npos) {
      throw EVX_ParameterError(std::string(engine_txt::kBadSetting) + key + engine_txt::kHoldsNul);
    }
  }
  // A value written as a number must fit the field: read as the default
  // (as a text that is no number is) it would turn a typing error into a
  // different setting.
  void CheckInteger(const char* key) {
    const std::string raw = set_.Get(kSection, key, "", 2048);
    if (!LooksLikeInteger(raw) || ParseSetFileInt(raw)) return;
    throw EVX_ParameterError(std::string(engine_txt::kBadSetting) + key + "=" + raw +
                             engine_txt::kNotAnInteger);
  }
  // A group's two digits must be hexadecimal digits (a lower-case one still
  // reads as 0); anything else would come back as a byte nobody wrote.
  void CheckEscapes(const char* key) {
    const std::string raw = set_.Get(kSection, key, "", 2048);
    for (std::size_t i = 0; i + 3 < raw.size(); ++i) {
      if (raw[i] != '\\') continue;
      if (!std::isxdigit(static_cast<unsigned char>(raw[i + 2])) ||
          !std::isxdigit(static_cast<unsigned char>(raw[i + 3]))) {
        throw EVX_ParameterError(std::string(engine_txt::kBadSetting) + key +
                                 engine_txt::kBadEscape + raw.substr(i, 4));
      }
      i += 3;
    }
  }

 private:
  const TProfile& set_;
};

}  // namespace

TProfile ReadSetFile(const std::string& fileName) {
  // Only a regular file is read: a FIFO or a pipe would wait for ever.
  TProfile set;
  switch (set.Load(fileName)) {
    case TProfileLoad::kLoaded:
      return set;
    case TProfileLoad::kNotRegular:
      throw std::runtime_error("Súbor " + fileName + " nie je obyčajný súbor");
    case TProfileLoad::kTooBig:
      throw std::runtime_error("Vadný formát súboru");
    case TProfileLoad::kOpenFailed:
    case TProfileLoad::kReadFailed:
      break;
  }
  if (set.LoadError() == ENOENT || set.LoadError() == ENOTDIR) {
    throw std::runtime_error("Súbor " + fileName + " neexistuje");
  }
  throw std::runtime_error("Súbor " + fileName +
                           " nemožno čítať: " + std::strerror(set.LoadError()));
}

void TVaultrex::SaveSet(const std::string& fileName) {
  // The file's other keys and sections stay; it is written once, as a whole.
  TProfile set;
  if (set.Load(fileName) != TProfileLoad::kLoaded && FileExists(fileName)) {
    throw std::runtime_error("Unable to write to " + fileName);
  }
  TSetWriter w(set, fileName);
  w.Int("Magicnumber", kSetMagic);
  w.Date("Created", NowDateTime());
  w.Int("LogFileMode", LogFileMode);
  w.Text("LogFileName", LogFileName);
  w.Bool("EncryptData", EncryptData);
  w.Text("EncryptKey", EncryptKey);
  w.Int("CompressData", CompressData);
  w.Text("Comment", Comment);
  w.Bool("RuninBackground", RunInBackground);
  w.List("Messages", Messages);
  w.List("IncludeNames", IncludeNames);
  w.List("ExcludeNames", ExcludeNames);
  w.Bool("RecurseSubDir", RecurseSubDir);
  w.Bool("BackupHiddenSysFiles", BackupHiddenSysFiles);
  w.Bool("BackupOpenFiles", BackupOpenFiles);
  w.Int("BackupMode", BackupMode);
  w.Date("SpecialBackupDate", SpecialBackupDate);
  w.Bool("VerifyDuringBackup", VerifyDuringBackup);
  w.Int("HandleOpenErrors", HandleOpenError);
  w.Int("HandleFileReadError", HandleFileReadError);
  w.Text("BackupDestination", BackupDestination);
  w.Text("ArchiveBaseName", ArchiveBaseName);
  w.Bool("BackupToTape", BackupToTape);
  w.Bool("BackupToFTP", BackupToFTP);
  w.Text("FTP_Hostname", FTPConnection.HostName);
  w.Text("FTP_username", FTPConnection.UserName);
  w.Text("FTP_password", FTPConnection.Password);
  w.Int("FTP_port", FTPConnection.Port);
  w.Bool("EraseTargetDir", EraseTargetDir);
  w.Bool("SpanDisks", SpanDisks);
  w.Bool("KeepArchiveFlags", KeepArchiveFlags);
  w.Bool("AskForFirstDisk", AskForFirstDisk);
  w.Bool("TapeFileMarks", TapeFileMarks);
  w.Bool("EjectTape", EjectTape);
  w.Bool("RedirectRestore", RedirectRestore);
  w.Text("RestoreTo", RestoreTo);
  w.Bool("FlatRestore", FlatRestore);
  w.Int("RestoreMode", RestoreMode);
  w.Bool("RestoreAttributes", RestoreAttributes);
  // Written only when not at their defaults: set files stay as they were.
  if (!StoreMetadata) w.Bool("StoreMetadata", false);
  if (!StoreXattrs) w.Bool("StoreXattrs", false);
  if (FollowLinks) w.Bool("FollowLinks", true);
  if (!set.Save(fileName)) throw std::runtime_error("Unable to write to " + fileName);
}

void TVaultrex::LoadSet(const std::string& fileName) { LoadSet(ReadSetFile(fileName)); }

void TVaultrex::LoadSet(const TProfile& set) {
  TSetReader r(set);
  // Nothing changes unless the file is a set file whose values can be used.
  if (r.Int("Magicnumber", -1) != kSetMagic) throw std::runtime_error("Vadný formát súboru");
  for (const char* key : kIntegerKeys) r.CheckInteger(key);
  for (const char* key : kTextKeys) r.CheckEscapes(key);
  r.CheckRange("LogFileMode", LFM_Append);
  r.CheckRange("CompressData", CDM_MaxCompression);
  r.CheckRange("BackupMode", BM_Special);
  r.CheckRange("HandleOpenErrors", AW_ABORT);
  r.CheckRange("HandleFileReadError", AW_ABORT);
  r.CheckRange("RestoreMode", RM_NewerAndNew);
  double special = 0.0;
  if (r.Int("BackupMode", 0) == BM_Special && !r.DateIn("SpecialBackupDate", special)) {
    throw EVX_ParameterError(std::string(engine_txt::kBadSetting) + engine_txt::kNeedsDate);
  }
  for (const char* key : kTextKeys) r.CheckNoNul(key);
  LogFileMode = static_cast<TLogFileMode>(r.Int("LogFileMode", 0));
  LogFileName = r.Text("LogFileName", "");
  EncryptData = r.Bool("EncryptData", false);
  EncryptKey = r.Text("EncryptKey", "");
  CompressData = static_cast<TCompressData>(r.Int("CompressData", 0));
  Comment = r.Text("Comment", "");
  RunInBackground = r.Bool("RuninBackground", false);
  Messages = r.List("Messages");
  IncludeNames = r.List("IncludeNames");
  ExcludeNames = r.List("ExcludeNames");
  RecurseSubDir = r.Bool("RecurseSubDir", false);
  BackupHiddenSysFiles = r.Bool("BackupHiddenSysFiles", false);
  BackupOpenFiles = r.Bool("BackupOpenFiles", false);
  BackupMode = static_cast<TBackupMode>(r.Int("BackupMode", 0));
  SpecialBackupDate = r.Date("SpecialBackupDate");
  VerifyDuringBackup = r.Bool("VerifyDuringBackup", false);
  HandleOpenError = static_cast<TReaction>(r.Int("HandleOpenErrors", 0));
  HandleFileReadError = static_cast<TReaction>(r.Int("HandleFileReadError", 0));
  BackupDestination = r.Text("BackupDestination", "");
  ArchiveBaseName = r.Text("ArchiveBaseName", "");
  BackupToTape = r.Bool("BackupToTape", false);
  BackupToFTP = r.Bool("BackupToFTP", false);
  FTPConnection.HostName = r.Text("FTP_Hostname", "");
  FTPConnection.UserName = r.Text("FTP_username", "anonymous");
  FTPConnection.Password = r.Text("FTP_password", kFtpPasswordDefault);
  FTPConnection.Port = static_cast<std::int32_t>(r.Int("FTP_port", 21));
  EraseTargetDir = r.Bool("EraseTargetDir", false);
  SpanDisks = r.Bool("SpanDisks", false);
  KeepArchiveFlags = r.Bool("KeepArchiveFlags", false);
  AskForFirstDisk = r.Bool("AskForFirstDisk", false);
  TapeFileMarks = r.Bool("TapeFileMarks", false);
  EjectTape = r.Bool("EjectTape", false);
  RedirectRestore = r.Bool("RedirectRestore", false);
  RestoreTo = r.Text("RestoreTo", "");
  FlatRestore = r.Bool("FlatRestore", false);
  RestoreMode = static_cast<TRestoreMode>(r.Int("RestoreMode", 0));
  RestoreAttributes = r.Bool("RestoreAttributes", false);
  StoreMetadata = r.Bool("StoreMetadata", true);
  StoreXattrs = r.Bool("StoreXattrs", true);
  FollowLinks = r.Bool("FollowLinks", false);
}

}  // namespace vx
