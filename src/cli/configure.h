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

// Throws ECliSetting for a value that is present but not a number, and for a
// negative MaxSplitSize.
TSetExtras ReadSetExtras(const std::string& setFile);

// The first line of the password file, without its line break.  Throws
// ECliSetting when the file cannot be read.  Sets `looseMode` when others
// than the owner may read the file.
std::string ReadPasswordFile(const std::string& fileName, bool& looseMode);

// LoadSet (its std::runtime_error passes through), the extras, then the
// options.  Returns warnings meant for stderr (empty when none).
std::string ConfigureEngine(TVaultrex& engine, const TCliOptions& options);

}  // namespace vx
