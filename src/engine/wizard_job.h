#pragma once
// What the desktop wizard's pages hold, without any window: the values of the
// backup, restore and verify pages, the job file (.sqt) that keeps the backup
// page, and the one mapping of those values onto an engine.  The status window
// and `vaultix-cli --job` both run a job through ApplyBackupPage and friends,
// so a job saved in the wizard runs the same from cron.
#include <string>
#include <vector>

#include "engine/types.h"

namespace vx {

class TVaultrex;

// The hidden FTP group of a page: its texts as typed (the port is read when
// the settings are applied: text that is not a decimal number gives 21).
struct TFtpFields {
  bool Enabled = false;
  std::string HostName = "ftp.example.com";
  std::string Port = "21";
  std::string UserName = "anonymous";
  std::string Password = "guest@example.com";
};

// The user's home folder with its trailing "/": the backup location of a new
// page and of a job file that names none.
std::string DefaultJobLocation();

// The backup tab.  Location defaults to the user's home folder (with "/").
struct TBackupPage {
  std::vector<std::string> Include;  // list entries, exactly as shown
  std::vector<std::string> Exclude;
  bool ToTape = false;
  std::string Location = DefaultJobLocation();
  std::string BaseName = "Backup";
  std::string SegmentSizeKB = "0";  // text of the segment-size edit
  TFtpFields Ftp;
  int Mode = 0;             // 0 full, 1 incremental, 2 differential, 3 changed since the date
  std::string SpecialDate;  // text of the date edit, the user's short date format
  int Compression = 1;      // 0 none, 1 quick, 2 maximal
  bool OpenFiles = false;
  bool SkipLocks = false;
  bool HiddenFiles = true;
  bool EraseTarget = false;
  bool Encryption = false;
  bool Verify = false;
  bool CreateLog = true;
  bool KeepArchiveFlags = false;
  std::string Password;
  std::string Comment;
};

// The restore tab.  SetFile is the full path of the set's first volume.
struct TRestorePage {
  std::string SetFile;
  bool FromTape = false;
  std::string Password;
  TFtpFields Ftp;
  std::vector<std::string> Selection;  // stored paths checked in the tree, sorted
  int Mode = 0;                        // 0 all, 1 newer, 2 newer and new
  bool ToOriginal = false;
  bool Attributes = true;
  bool SkipLocks = false;
  bool CreateLog = false;
  std::string Location;
};

// The verify tab.
struct TVerifyPage {
  std::string SetFile;
  bool FromTape = false;
  std::string Password;
  TFtpFields Ftp;
  bool CreateLog = false;
};

// All three tabs: what a status window is given to run.
struct TWizardPages {
  TBackupPage Backup;
  TRestorePage Restore;
  TVerifyPage Verify;
};

// The settings a status window gives its engine before any page is applied
// (they replace the engine's own defaults).
void ApplyStatusWindowDefaults(TVaultrex& engine);

// Copy one page onto the engine, in the order the status window uses; the
// log file name is set right after the log mode.  ApplyBackupPage throws
// std::runtime_error("Neplatný dátum!") when mode 3 has a date that does not
// convert.
void ApplyBackupPage(TVaultrex& engine, const TBackupPage& page, const std::string& logFileName);
void ApplyRestorePage(TVaultrex& engine, const TRestorePage& page, const std::string& logFileName);
void ApplyVerifyPage(TVaultrex& engine, const TVerifyPage& page, const std::string& logFileName);

// The log file name of a run started now: folder (with "/") + word + local
// "mm-dd-yyyy hh-mm-ss" + ".LOG"; the word is "Backup ", "Restore " or
// "Verify " for the operation kinds 0, 1 and 2.
std::string RunLogFileName(const std::string& folder, int operationKind);

// The folder the run logs go to, with "/": $VAULTIX_STATE_DIR/logs when that
// variable is set, else ${XDG_STATE_HOME:-~/.local/state}/vaultix/logs.  It is
// not created here.
std::string RunLogFolder();

// Job files.  LoadJobFile throws std::runtime_error with the user's message
// (file name + "\nSúbor nenájdený.\n" + "Nesprávna cesta k súboru", or file
// name + "\nNeplatný formát záložnej sady") and then has changed nothing.
// It appends the file's include and exclude lines to those already in page
// and sets every other field the file keeps from the file or its default
// (SegmentSizeKB, Ftp, SpecialDate and KeepArchiveFlags are not kept in job
// files and stay as they were).  SaveJobFile throws std::runtime_error
// (file name + "\nSúbor sa nedá zapísať.") when the file cannot be written.
void LoadJobFile(const std::string& fileName, TBackupPage& page);
void SaveJobFile(const std::string& fileName, const TBackupPage& page);

}  // namespace vx
