#pragma once
// The backup's file selection as a unit of its own: include entries become
// directory records, the backup mode and the hidden/system rule decide per
// file, exclude entries remove records afterwards, and every file taken gets
// the checksum of its content.  The archive attribute comes from the store
// the run hands in.
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "archive/format.h"
#include "archive/meta_table.h"
#include "platform/file_system.h"
#include "support/reaction.h"

namespace vx {

class TArchiveBitStore;
class TVaultrex;

// Where a scan puts what it finds and how it reports while it works.  The
// counters are the run's: the scan adds to them.
struct TScanTarget {
  std::vector<TDirRecord>& files;
  int& leftOut;
  int& foldersNotRead;
  int& notTaken;  // items of the selection left out (folders, paths too long)
  int& errors;
  int& warnings;
  std::vector<TMetaEntry>& extras;  // what the metadata table holds besides files
  TReaction& answer;                // the answer the scan's questions left
  std::function<void(const std::string&)> log;
  std::function<void()> letMessagesRun;
};

class TFileScan {
 public:
  // The settings and events are the caller's (IncludeNames, ExcludeNames,
  // BackupMode, OnScanNextFile ...); both must outlive the scan.
  TFileScan(const TVaultrex& settings, TArchiveBitStore& bits, TScanTarget target);

  // Clears the target's list and counters, then scans.  Throws
  // EVX_UserAbortion when the caller cancels and EVX_FileOpenError for a path
  // too long with HandleOpenError AW_ABORT; the list holds what was found so
  // far.
  void Run();

 private:
  // `listed`: the folder was found by the scan itself (a subfolder), so
  // that its absence means it vanished while the scan ran.
  int ScanFolder(const std::string& entry, bool recurse, bool listed);
  bool Ask(const std::function<void(const std::string&, TReaction&)>& event,
           const std::string& name);
  void TakeFile(const std::string& folder, const TSearchRec& rec, int& count);
  // The metadata table's items: a folder scanned, a link or special file
  // listed in it; the second names of hard links moved out of the list.
  void TakeFolder(const std::string& folder);
  void TakeOther(const std::string& folder, const TSearchRec& rec);
  void SeparateHardLinks();
  void Checksums();
  void FolderNotRead(const std::string& folder, int error);
  void PathTooLong(const std::string& path);

  const TVaultrex& s_;
  TArchiveBitStore& bits_;
  TScanTarget t_;
  std::unordered_set<std::string> foldersTaken_;  // each folder is in the table once
};

// The checksum of a file's content as the directory records it (kCrcInit for
// an empty or unopenable file), reading at most `limit` bytes, the size the
// folder listing saw.  `stop` is asked before each piece is read; `stopped`
// is set when it said yes.  `xattrs`, when given, is cleared when the open
// file has no extended attributes.
std::uint32_t FileCrc(const std::string& path, std::int64_t limit,
                      const std::function<bool()>& stop, bool& stopped, bool* xattrs = nullptr);

// How many threads compute the scan's checksums: BackupThreads, else
// $VAULTIX_BACKUP_THREADS, else the number of processors; 1 to 8.
int ChecksumThreads(const TVaultrex& settings);

}  // namespace vx
