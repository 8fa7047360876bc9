#pragma once
// Emptying the target folder of a backup: which files go.  Only what this
// program wrote goes: sets (a file that starts with the archive header, and
// the later volumes of such a set) and its run logs.  Anything else stays,
// and so does a file another run holds locked (the temporary file of a
// backup being written), and nothing goes in the home folder or in "/".
// The stream that erases and a dry run that only shows it read the same
// list.
#include <functional>
#include <string>
#include <vector>

namespace vx {

struct TEraseListing {
  std::string folder;              // the folder's real path ("" when none was read)
  std::vector<std::string> names;  // the files' names in it that go
  std::vector<std::string> kept;   // the names of other files that stay
  bool homeFolder = false;         // the folder is a home folder: nothing goes
  std::string setName;             // the file name of the set being written
};

struct TEraseRules {
  // Never deleted nor counted as staying (the running operation's log),
  // however reached.
  std::vector<std::string> keepPaths;
  // How the first line of a run log of this program begins; a file named as
  // the run logs are named whose first line begins otherwise stays.
  std::vector<std::string> logMarks;
  // Told of every file deleted (its full path).
  std::function<void(const std::string& path)> deleted;
  // Told once per erase when files stay (or the folder is a home folder).
  std::function<void(const TEraseListing& listing)> kept;
};

// The files of the folder of baseName that the erase step deletes, and
// those that stay.  A file for which ownFile answers true (a volume of the
// set being written) neither goes nor is counted as staying.  Nothing is
// listed in "/" (folder stays "").
TEraseListing ListErasable(const std::string& baseName, const TEraseRules& rules,
                           const std::function<bool(const std::string& name)>& ownFile);

// Deletes the listed files, each only while it is still a file of this
// program that no other run holds locked, and reports to the rules'
// callbacks.  A file that cannot go after all is reported as staying.
void EraseListed(TEraseListing listing, const TEraseRules& rules);

// Whether a file name is named as the program's run logs are:
// "Backup MM-DD-YYYY HH-MM-SS.LOG" (also "Restore ", "Verify ").
bool IsRunLogName(const std::string& name);

}  // namespace vx
