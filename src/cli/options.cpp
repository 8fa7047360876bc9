#include "cli/options.h"

#include <cctype>
#include <exception>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/paths.h"

namespace vx {
namespace {

using Op = TCliOperation;

constexpr unsigned Bit(Op op) { return 1u << static_cast<unsigned>(op); }
constexpr unsigned kAll = Bit(Op::Backup) | Bit(Op::Restore) | Bit(Op::Verify) | Bit(Op::Catalog) |
                          Bit(Op::Comment) | Bit(Op::Delete);
constexpr unsigned kLogging =
    Bit(Op::Backup) | Bit(Op::Restore) | Bit(Op::Verify) | Bit(Op::Delete);
constexpr unsigned kReading =
    Bit(Op::Backup) | Bit(Op::Restore) | Bit(Op::Verify) | Bit(Op::Comment);

// An include or exclude entry that names nothing: empty, blanks, or only the
// recursion marker.  For delete an empty keep-list would remove every file.
bool BlankEntry(const std::string& value) {
  std::string entry = value;
  StripRecursionMarker(entry);
  return entry.find_first_not_of(" \t") == std::string::npos;
}

struct TOptionSpec {
  bool takesValue;
  unsigned operations;
  // Stores the value; returns an error text or "".
  std::function<std::string(TCliOptions&, const std::string&)> apply;
};

template <typename E>
std::string PickEnum(const std::map<std::string, E>& names, const std::string& value,
                     const char* option, std::optional<E>& target) {
  auto it = names.find(value);
  if (it == names.end()) {
    std::string known;
    for (const auto& [name, e] : names) known += (known.empty() ? "" : ", ") + name;
    return std::string("invalid value '") + value + "' for " + option + " (one of: " + known + ")";
  }
  target = it->second;
  return "";
}

const std::map<std::string, TOptionSpec>& Options() {
  static const std::map<std::string, TOptionSpec> options = {
      {"--log",
       {true, kLogging,
        [](TCliOptions& o, const std::string& v) {
          o.logFile = v;
          return std::string(v.empty() ? "--log needs a file name" : "");
        }}},
      {"--append-log",
       {false, kLogging,
        [](TCliOptions& o, const std::string&) {
          o.appendLog = true;
          return std::string();
        }}},
      {"--no-log",
       {false, kLogging,
        [](TCliOptions& o, const std::string&) {
          o.noLog = true;
          return std::string();
        }}},
      {"--password-file",
       {true, kReading,
        [](TCliOptions& o, const std::string& v) {
          o.passwordFile = v;
          return std::string(v.empty() ? "--password-file needs a file name" : "");
        }}},
      {"--password-command",
       {true, kReading,
        [](TCliOptions& o, const std::string& v) {
          o.passwordCommand = v;
          return std::string(v.empty() ? "--password-command needs a command" : "");
        }}},
      {"--encrypt",
       {false, Bit(Op::Backup),
        [](TCliOptions& o, const std::string&) {
          o.encrypt = true;
          return std::string();
        }}},
      {"--quiet",
       {false, kAll,
        [](TCliOptions& o, const std::string&) {
          o.quiet = true;
          return std::string();
        }}},
      {"--json",
       {false, Bit(Op::Catalog) | Bit(Op::Verify),
        [](TCliOptions& o, const std::string&) {
          o.json = true;
          return std::string();
        }}},
      {"--dry-run",
       {false, Bit(Op::Backup) | Bit(Op::Restore) | Bit(Op::Delete),
        [](TCliOptions& o, const std::string&) {
          o.dryRun = true;
          return std::string();
        }}},
      {"--include",
       {true, Bit(Op::Backup) | Bit(Op::Restore) | Bit(Op::Delete),
        [](TCliOptions& o, const std::string& v) {
          o.includes.push_back(v);
          return BlankEntry(v) ? std::string("--include needs a file, folder or mask") : "";
        }}},
      {"--exclude",
       {true, Bit(Op::Backup) | Bit(Op::Delete),
        [](TCliOptions& o, const std::string& v) {
          o.excludes.push_back(v);
          return BlankEntry(v) ? std::string("--exclude needs a file, folder or mask") : "";
        }}},
      {"--all",
       {false, Bit(Op::Restore) | Bit(Op::Catalog),
        [](TCliOptions& o, const std::string&) {
          o.all = true;
          return std::string();
        }}},
      {"--recurse",
       {false, Bit(Op::Backup) | Bit(Op::Restore) | Bit(Op::Delete),
        [](TCliOptions& o, const std::string&) {
          o.recurse = true;
          return std::string();
        }}},
      {"--no-hidden",
       {false, Bit(Op::Backup),
        [](TCliOptions& o, const std::string&) {
          o.noHidden = true;
          return std::string();
        }}},
      {"--ignore-missing",
       {false, Bit(Op::Backup),
        [](TCliOptions& o, const std::string&) {
          o.ignoreMissing = true;
          return std::string();
        }}},
      {"--destination",
       {true, kAll,
        [](TCliOptions& o, const std::string& v) {
          o.destination = v;
          return std::string();
        }}},
      {"--archive",
       {true, kAll,
        [](TCliOptions& o, const std::string& v) {
          o.archiveName = v;
          return std::string();
        }}},
      {"--comment",
       {true, Bit(Op::Backup),
        [](TCliOptions& o, const std::string& v) {
          o.comment = v;
          return std::string();
        }}},
      {"--compress",
       {true, Bit(Op::Backup),
        [](TCliOptions& o, const std::string& v) {
          static const std::map<std::string, TCompressData> names = {
              {"none", CDM_NoCompression},
              {"quick", CDM_QuickCompression},
              {"max", CDM_MaxCompression}};
          return PickEnum(names, v, "--compress", o.compress);
        }}},
      {"--mode",
       {true, Bit(Op::Backup),
        [](TCliOptions& o, const std::string& v) {
          static const std::map<std::string, TBackupMode> names = {
              {"full", BM_Full},
              {"incremental", BM_Incremental},
              {"differential", BM_Differential}};
          return PickEnum(names, v, "--mode", o.backupMode);
        }}},
      {"--restore-to",
       {true, Bit(Op::Restore),
        [](TCliOptions& o, const std::string& v) {
          o.restoreTo = v;
          return std::string(v.empty() ? "--restore-to needs a folder" : "");
        }}},
      {"--no-xattrs",
       {false, Bit(Op::Backup) | Bit(Op::Restore),
        [](TCliOptions& o, const std::string&) {
          o.noXattrs = true;
          return std::string();
        }}},
      {"--no-metadata",
       {false, Bit(Op::Backup) | Bit(Op::Restore) | Bit(Op::Verify),
        [](TCliOptions& o, const std::string&) {
          o.noMetadata = true;
          return std::string();
        }}},
      {"--follow-links",
       {false, Bit(Op::Backup),
        [](TCliOptions& o, const std::string&) {
          o.followLinks = true;
          return std::string();
        }}},
      {"--flat",
       {false, Bit(Op::Restore),
        [](TCliOptions& o, const std::string&) {
          o.flat = true;
          return std::string();
        }}},
      {"--restore-mode",
       {true, Bit(Op::Restore),
        [](TCliOptions& o, const std::string& v) {
          static const std::map<std::string, TRestoreMode> names = {
              {"all", RM_All}, {"newer", RM_Newer}, {"newer-and-new", RM_NewerAndNew}};
          return PickEnum(names, v, "--restore-mode", o.restoreMode);
        }}},
      {"--mkdir",
       {false, Bit(Op::Backup),
        [](TCliOptions& o, const std::string&) {
          o.mkdir = true;
          return std::string();
        }}},
      {"--wait-lock",
       {true, kAll,
        [](TCliOptions& o, const std::string& v) {
          std::size_t used = 0;
          long seconds = -1;
          try {
            seconds = std::stol(v, &used);
          } catch (const std::exception&) {
            used = 0;
          }
          if (v.empty() || used != v.size() || seconds < 0 || seconds > 86400 ||
              !std::isdigit(static_cast<unsigned char>(v[0])))
            return std::string("--wait-lock needs a number of seconds from 0 to 86400");
          o.waitLock = static_cast<int>(seconds);
          return std::string();
        }}},
      {"--attributes",
       {false, Bit(Op::Restore),
        [](TCliOptions& o, const std::string&) {
          o.restoreAttributes = true;
          return std::string();
        }}},
  };
  return options;
}

std::optional<Op> OperationOf(const std::string& word) {
  static const std::map<std::string, Op> ops = {{"backup", Op::Backup},   {"restore", Op::Restore},
                                                {"verify", Op::Verify},   {"catalog", Op::Catalog},
                                                {"comment", Op::Comment}, {"delete", Op::Delete}};
  auto it = ops.find(word);
  if (it == ops.end()) return std::nullopt;
  return it->second;
}

// A job file carries a whole backup page; only the log, the quiet switch and,
// for a restore, where and what to restore may be given beside it.
std::string CheckJobOptions(const TCliOptions& o) {
  if (o.operation == Op::Delete) return "--job cannot be used with delete";
  const bool other = o.appendLog || o.passwordFile || o.passwordCommand || o.encrypt ||
                     o.noHidden || o.ignoreMissing || o.destination || o.archiveName || o.comment ||
                     o.compress || o.backupMode || !o.excludes.empty() || o.recurse || o.all ||
                     o.flat || o.restoreAttributes ||
                     (!o.includes.empty() && o.operation != Op::Restore);
  if (other) {
    return "with --job only --quiet, --json, --dry-run, --log, --no-log, --wait-lock, "
           "(backup) --mkdir and (restore) --restore-to, --include and --restore-mode can be "
           "given";
  }
  if (o.noLog && o.logFile) return "--no-log cannot be combined with --log";
  if (o.operation == Op::Restore && !o.restoreTo) return "restore --job needs --restore-to";
  return "";
}

// Without a set file the engine starts from its defaults, so the options
// must name at least where the archive is and, for the operations that pick
// files, which ones.  Returns the missing options ("" when none is).
std::string MissingWithoutSet(const TCliOptions& o) {
  std::vector<std::string> missing;
  if (o.operation == Op::Backup && o.includes.empty()) missing.push_back("--include");
  if (o.operation == Op::Restore && o.includes.empty() && !o.all)
    missing.push_back("--include or --all");
  if (o.operation == Op::Delete && o.includes.empty() && o.excludes.empty())
    missing.push_back("--include or --exclude");
  if (!o.destination || o.destination->empty()) missing.push_back("--destination");
  if (!o.archiveName || o.archiveName->empty()) missing.push_back("--archive");
  std::string text;
  for (std::size_t i = 0; i < missing.size(); ++i) {
    if (i > 0) text += i + 1 == missing.size() ? " and " : ", ";
    text += missing[i];
  }
  return text;
}

TCliParse Fail(std::string error) {
  TCliParse r;
  r.error = std::move(error);
  return r;
}

}  // namespace

const char* OperationName(TCliOperation op) {
  switch (op) {
    case Op::Backup:
      return "backup";
    case Op::Restore:
      return "restore";
    case Op::Verify:
      return "verify";
    case Op::Catalog:
      return "catalog";
    case Op::Comment:
      return "comment";
    case Op::Delete:
      return "delete";
  }
  return "?";
}

TCliParse ParseCommandLine(const std::vector<std::string>& args) {
  TCliParse result;
  TCliOptions& o = result.options;
  if (args.empty()) return Fail("no operation given");

  // --help and --version stand alone, wherever they appear before "--".
  for (const auto& a : args) {
    if (a == "--") break;
    if (a == "--help" || a == "-h") {
      o.help = true;
      result.ok = true;
      return result;
    }
    if (a == "--version") {
      o.version = true;
      result.ok = true;
      return result;
    }
  }

  auto op = OperationOf(args[0]);
  if (!op) return Fail("unknown operation '" + args[0] + "'");
  o.operation = *op;

  bool haveSet = false;
  bool haveJob = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inlineValue;
    if (name.rfind("--", 0) == 0) {
      auto eq = name.find('=');
      if (eq != std::string::npos) {
        inlineValue = name.substr(eq + 1);
        name.resize(eq);
      }
    }
    if (name == "-q") name = "--quiet";

    if (name == "--set" || name == "--job") {
      std::string value;
      if (inlineValue) {
        value = *inlineValue;
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        return Fail(name + " needs a file name");
      }
      if (value.empty()) return Fail(name + " needs a file name");
      const bool isSet = name == "--set";
      if (isSet ? haveSet : haveJob) return Fail(name + " given twice");
      if (haveSet || haveJob) return Fail("--set and --job cannot be combined");
      (isSet ? o.setFile : o.jobFile) = value;
      (isSet ? haveSet : haveJob) = true;
      continue;
    }

    auto it = Options().find(name);
    if (it == Options().end()) {
      if (name.rfind('-', 0) == 0) return Fail("unknown option '" + name + "'");
      return Fail("unexpected argument '" + name + "'");
    }
    const TOptionSpec& option = it->second;
    if ((option.operations & Bit(o.operation)) == 0)
      return Fail(name + " cannot be used with " + OperationName(o.operation));
    std::string value;
    if (option.takesValue) {
      if (inlineValue) {
        value = *inlineValue;
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        return Fail(name + " needs a value");
      }
    } else if (inlineValue) {
      return Fail(name + " takes no value");
    }
    std::string error = option.apply(o, value);
    if (!error.empty()) return Fail(error);
  }

  if (haveJob) {
    std::string error = CheckJobOptions(o);
    if (!error.empty()) return Fail(error);
    result.ok = true;
    return result;
  }
  if (!haveSet) {
    std::string missing = MissingWithoutSet(o);
    if (!missing.empty()) {
      return Fail(std::string(OperationName(o.operation)) + " without --set or --job needs " +
                  missing);
    }
  }
  if (o.noLog && (o.logFile || o.appendLog))
    return Fail("--no-log cannot be combined with --log or --append-log");
  if (o.all && !o.includes.empty()) return Fail("--all cannot be combined with --include");
  if (o.passwordFile && o.passwordCommand)
    return Fail("--password-file and --password-command cannot be combined");
  // Set files keep their own selection rules; only a one-off run reads
  // folders and paths as given.
  if (o.ignoreMissing && haveSet) return Fail("--ignore-missing only applies without --set");
  if (o.flat && !o.restoreTo) return Fail("--flat needs --restore-to");
  // Without either, delete takes the set file's lists.
  if (o.operation == Op::Delete && !o.includes.empty() && !o.excludes.empty())
    return Fail(
        "delete needs either --include (files to keep) or --exclude (files to "
        "remove), not both");
  result.ok = true;
  return result;
}

}  // namespace vx
