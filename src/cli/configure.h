#pragma once
// Filling an engine for one command-line run: the set file, the set-file keys
// that only the command line reads, then the command-line options over them.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "cli/options.h"
#include "engine/vaultrex.h"

namespace vx {

// A setting that cannot be used (bad value in the set file, unreadable
// password file).  The run ends with code 1 and the message on stderr.
class ECliSetting : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A command line that names something that is not there (an include path
// of a one-off backup).  The run ends with code 64 and the message on stderr.
class ECliUsage : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The keys of section "VAULTRex" that LoadSet leaves alone; empty when absent.
struct TSetExtras {
  std::optional<std::int64_t> maxSplitSize;
  std::optional<bool> noFileCRCs;
  std::optional<bool> askForNextDisk;
  std::optional<bool> useExtStatistic;
};

// An integer as the set file stores it: decimal, or hexadecimal after "0x" /
// "0X" when the text is longer than two characters.  Blanks around it are
// allowed; anything else (or an out-of-range value) is no number.
std::optional<std::int64_t> ParseSetInteger(const std::string& text);

// From a set file read with ReadSetFile.  Throws ECliSetting for a value
// that is present but not a number, and for a negative MaxSplitSize.
TSetExtras ReadSetExtras(const TProfile& set);

// The first line of the password file, without its line break.  Throws
// ECliSetting when the file cannot be read.  Sets `looseMode` when others
// than the owner may read the file.
std::string ReadPasswordFile(const std::string& fileName, bool& looseMode);

// Runs CMD with /bin/sh -c and gives the first line of its standard output,
// without its line break.  Throws ECliSetting naming the command's exit
// status (never its output) when it fails or prints nothing.
std::string RunPasswordCommand(const std::string& command);

// Whether others than the owner may read the file (group or other read bit).
bool ReadableByOthers(const std::string& fileName);

// A one-off run (no set file) reads --include and --exclude as Linux tools
// read paths.  A backup takes a plain folder (with or without a trailing
// slash) recursively, a plain file as it is, and refuses a path that does not
// exist (ECliUsage) unless ignoreMissing drops it; relative paths are taken
// from the working folder.  An exclude naming a folder (one that exists, or
// given with a trailing slash) leaves out the folder and everything below it.
// A restore or delete line that is an absolute path without a mask also
// takes everything stored below it.  Entries with a mask ("*", "?") or the
// recursion marker " /S" keep their meaning.
struct TOneOffSelection {
  TStrings includes;
  TStrings excludes;
};
TOneOffSelection OneOffSelection(const TCliOptions& options);

// The set file read once (ReadSetFile and LoadSet: their std::runtime_error
// passes through), the extras from the same copy, then the options.  Returns warnings meant for
// stderr (empty when none).
std::string ConfigureEngine(TVaultrex& engine, const TCliOptions& options);

}  // namespace vx
