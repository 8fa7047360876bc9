#pragma once
// The command line of vaultix-cli: one operation, the set file, and options
// that override what the set file says for this run only.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/types.h"

namespace vx {

enum class TCliOperation { Backup, Restore, Verify, Catalog, Comment, Delete };

struct TCliOptions {
  bool help = false;
  bool version = false;
  TCliOperation operation = TCliOperation::Backup;
  std::string setFile;
  std::string jobFile;  // --job FILE: a desktop job file instead of a set file

  std::optional<std::string> logFile;          // --log FILE
  bool appendLog = false;                      // --append-log
  bool noLog = false;                          // --no-log
  std::optional<std::string> passwordFile;     // --password-file FILE
  std::optional<std::string> passwordCommand;  // --password-command CMD
  bool encrypt = false;                        // --encrypt (backup)
  bool quiet = false;                          // --quiet
  bool json = false;                           // --json (catalog, verify)
  bool dryRun = false;                         // --dry-run (backup, restore, delete)

  std::vector<std::string> includes;  // --include ENTRY (repeatable)
  std::vector<std::string> excludes;  // --exclude ENTRY (repeatable)
  bool all = false;                   // --all (restore: every stored file)
  bool recurse = false;               // --recurse
  bool noHidden = false;              // --no-hidden (backup)
  bool ignoreMissing = false;         // --ignore-missing (backup without a set file)

  std::optional<std::string> destination;  // --destination DIR
  std::optional<std::string> archiveName;  // --archive NAME
  std::optional<std::string> comment;      // --comment TEXT
  std::optional<TCompressData> compress;   // --compress none|quick|max
  std::optional<TBackupMode> backupMode;   // --mode full|incremental|differential

  std::optional<std::string> restoreTo;     // --restore-to DIR
  bool flat = false;                        // --flat
  bool noXattrs = false;                    // --no-xattrs
  bool noMetadata = false;                  // --no-metadata
  bool followLinks = false;                 // --follow-links
  std::optional<TRestoreMode> restoreMode;  // --restore-mode all|newer|newer-and-new
  bool restoreAttributes = false;           // --attributes

  bool mkdir = false;  // --mkdir (backup: the destination folder may be created)
  int waitLock = 0;    // --wait-lock SECONDS (a set another run uses)
};

struct TCliParse {
  bool ok = false;
  std::string error;  // why the command line is malformed (when !ok)
  TCliOptions options;
};

// Parses the arguments after the program name.  Options take their value as
// the next argument or after "=" ("--log=FILE").  An option that means
// nothing for the chosen operation is a malformed command line.
TCliParse ParseCommandLine(const std::vector<std::string>& args);

const char* OperationName(TCliOperation op);

// The short synopsis printed with a malformed command line, and the full help.
std::string UsageText();
std::string HelpText();

}  // namespace vx
