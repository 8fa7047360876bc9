#pragma once
// Profile (INI) files: sections and keys matched without regard to case,
// values trimmed of blanks and of one pair of enclosing double quotes when
// read, other sections and keys kept on write, the file created when missing.
// A file name without a folder is taken in the current directory.  UTF-8.
//
// TProfile holds one file in memory: it is read once, read and edited there,
// and stored once as a whole (a new file beside the old one, synced, renamed
// over it, the folder synced), so a save either replaces the whole file or
// leaves the old one as it was.  The free functions below load and store the
// file on every call; they suit a single value.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace vx {

// How TProfile::Load ended.
enum class TProfileLoad {
  kLoaded,
  kOpenFailed,  // no such file, or it cannot be opened (errno in LoadError())
  kNotRegular,  // a FIFO, device, socket or folder
  kReadFailed,  // a read failed (errno in LoadError())
  kTooBig,      // beyond the 64 MiB no profile file reaches
};

class TProfile {
 public:
  // Replaces the content with the file's (empty when it is not loaded).
  TProfileLoad Load(const std::string& file);
  int LoadError() const { return loadError_; }

  // The value, at most bufferSize - 1 bytes of it; def when missing.  The
  // first section of a name counts, and in it the first key of a name.
  std::string Get(const std::string& section, const std::string& key, const std::string& def,
                  std::size_t bufferSize = 2048) const;
  // The section's lines as "key=value", trimmed (comments and blank lines
  // left out).
  std::vector<std::string> Section(const std::string& section) const;

  // Replaces the key's line, or adds it after the section's last non-blank
  // line, or adds the section at the end.  false (and nothing changed) for
  // what would read back as another line or section: a line break anywhere,
  // an empty section or key, "]" in the section, "=" in the key, a key that
  // starts with "[" or ";".
  bool Set(const std::string& section, const std::string& key, const std::string& value);
  // Removes the first section of that name with its lines; false when there
  // is none.
  bool EraseSection(const std::string& section);

  // The file's text as Save writes it (line breaks as the loaded file had).
  std::string Text() const;
  // Stores the whole text in `file`.  A link is written through to its
  // target; a new file is private (0600), an existing one keeps its mode.
  // false when it cannot be written; the old file is then as it was and no
  // temporary file is left.  Temporary files left by a save that was killed
  // are removed by the next save of that file.
  bool Save(const std::string& file) const;

 private:
  struct TLine {
    std::string text;  // without its line break
    enum class TKind { kOther, kSection, kKey } kind = TKind::kOther;
    std::string name;  // the section's name or the key, trimmed
  };
  static TLine Parse(std::string text);
  // [begin, end) of the first section of that name: begin is its header line.
  bool Find(const std::string& section, std::size_t& begin, std::size_t& end) const;

  std::vector<TLine> lines_;
  bool crlf_ = false;  // the file used CR LF; kept when stored
  int loadError_ = 0;
};

// The value, at most bufferSize - 1 bytes of it; def when missing.
std::string GetProfileString(const std::string& file, const std::string& section,
                             const std::string& key, const std::string& def,
                             std::size_t bufferSize = 2048);
// false when the file cannot be written.
bool WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value);
bool EraseProfileSection(const std::string& file, const std::string& section);
// The section's lines as "key=value" (comments and blank lines left out).
std::vector<std::string> GetProfileSection(const std::string& file, const std::string& section);

// Tests only: the steps of TProfile::Save, each reported with the path it
// concerns (nullptr: nothing is called).  A hook may throw or end the
// process to stop a save at that point.
enum class TProfileSaveStep {
  kTempWritten,   // the temporary file holds the whole text (not yet synced)
  kTempSynced,    // fsync of the temporary file done; the rename comes next
  kRenamed,       // the temporary file replaced the file
  kFolderSynced,  // fsync of the folder done
};
void SetProfileSaveHook(std::function<void(TProfileSaveStep, const std::string& path)> hook);

}  // namespace vx
