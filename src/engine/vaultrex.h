#pragma once
// TVaultrex: the backup engine.  Holds a job's whole configuration in public
// properties, carries out the operations and talks to its caller only through
// result codes and events.  Each operation lives in its own source file.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_stream.h"
#include "archive/block_codec.h"
#include "archive/crypto.h"
#include "archive/format.h"
#include "archive/meta_table.h"
#include "engine/types.h"
#include "platform/archive_bits.h"
#include "platform/file_system.h"
#include "platform/profile.h"
#include "platform/set_lock.h"
#include "support/log_file.h"

namespace vx {

// Whether the file-name part of a path has an extension (a dot after its
// first character); a dot in a folder name is none.
bool HasFileExtension(const std::string& path);

// Throws EVX_ParameterError when emptying the folder of baseName would take
// the system's root or a file of `files` (backup.cpp).
void CheckEraseTarget(const std::string& baseName, const std::vector<TDirRecord>& files);

// A set file read once into memory (set_file.cpp).  Throws
// std::runtime_error as LoadSet does for a file that is missing, no regular
// file, unreadable or beyond the size of any profile file.
TProfile ReadSetFile(const std::string& fileName);

class TVaultrex {
 public:
  TVaultrex();
  ~TVaultrex();
  TVaultrex(const TVaultrex&) = delete;
  TVaultrex& operator=(const TVaultrex&) = delete;

  // ---- Properties, in published order ----
  bool DebugAttrib = false;
  TLogFileMode LogFileMode = LFM_NoLog;
  std::string LogFileName;
  bool EncryptData = false;
  std::string EncryptKey;
  TCompressData CompressData = CDM_NoCompression;
  std::int32_t ExtendedErrorCode() const { return 0; }
  std::string Comment;
  bool RunInBackground = false;
  TStrings Messages;
  TStrings IncludeNames;
  TStrings ExcludeNames;
  bool RecurseSubDir = false;
  bool BackupHiddenSysFiles = false;
  bool BackupOpenFiles = false;
  TBackupMode BackupMode = BM_Full;
  double SpecialBackupDate = 0.0;
  bool VerifyDuringBackup = false;
  TReaction HandleOpenError = AW_RETRY;
  TReaction HandleFileReadError = AW_RETRY;
  TWarningEvent OnWarning;
  std::string BackupDestination;
  std::string ArchiveBaseName;
  bool BackupToTape = false;
  bool BackupToFTP = false;
  bool EraseTargetDir = false;
  bool SpanDisks = false;
  bool AskForNextDisk = true;
  std::int64_t MaxSplitSize = 0;
  bool KeepArchiveFlags = false;
  bool AskForFirstDisk = false;
  bool NoFileCRCs = false;
  bool TapeFileMarks = false;
  bool EjectTape = false;
  TFTPConnection FTPConnection;
  bool UseExtStatistic = false;
  TStatisticEvent OnStatistic;
  TExtStatisticEvent OnExtStatistic;
  TBLockStatEvent OnNextBlock;
  TNextDiskEvent OnNextDisk;
  TExtStatisticEvent OnResetAttributes;
  TAskFileReaction OnCantOpenFile;
  TAskFileReaction OnCantReadFromFile;
  TScanEvent OnStartFileScan;
  TScanEvent OnScanNextDir;
  TAskFileReaction OnScanNextFile;
  TScanEvent OnEndFileScan;
  bool RedirectRestore = false;
  std::string RestoreTo;
  bool FlatRestore = false;
  TRestoreMode RestoreMode = RM_All;
  bool RestoreAttributes = false;
  // Optional: Verify reports each file of the archive once it is checked,
  // with its stored path and the outcome.
  enum class TVerifyOutcome { Same, Missing, Different, Failed };
  std::function<void(const std::string& path, TVerifyOutcome outcome)> OnFileVerified;
  // Optional: Verify reports each difference of an item's metadata (the
  // set's metadata table against the disk), once per kind.
  enum class TMetaDifference { Mode, Owner, Link, Time };
  std::function<void(const std::string& path, TMetaDifference what)> OnMetadataDiffers;
  // Optional: asked once when a restore or verify finds the set encrypted
  // and EncryptKey empty; gives the password, false when there is none.
  std::function<bool(std::string& key)> OnPasswordNeeded;
  // Optional: the archive-bit store a backup (and its dry run) reads and
  // resets.  Without one, each run opens the store at
  // TArchiveBitStore::DefaultPath() for its own duration.
  std::shared_ptr<TArchiveBitStore> ArchiveBits;
  // Threads that pack, encipher and verify the blocks of a backup while the
  // caller's thread reads and writes: 0 as many as there are processors (or
  // $VAULTIX_BACKUP_THREADS when set), 1 none besides the caller's.  The
  // archive is the same byte for byte whatever the number.  Restore and
  // verify unpack and decipher on as many threads, with the same outcome;
  // unless 1, restore writes small files on a thread of their own.
  int BackupThreads = 0;
  // How long an operation waits for a set that another run writes (or, for
  // a backup or delete, reads), and a resetting backup for the archive-bit
  // store another backup resets: 0 not at all.  Then it ends with 18.
  int LockWaitSeconds = 0;
  // Whether a backup may create its destination folder when it is missing
  // (never when its parent is missing or a mount point with no disk in it;
  // see platform/mount_points.h).  A folder that cannot be used ends the
  // backup with 7.
  bool CreateDestination = true;
  // The set's Linux metadata table (archive/meta_table.h): a backup records
  // modes, owners, exact times, links as links, folders, hard links and
  // special files, and restore applies them.  Off: a set as before, where
  // a link to a regular file is taken as that file.
  bool StoreMetadata = true;
  // Extended attributes (POSIX ACLs and security.capability included) in
  // that table: off leaves them out of the backup and does not apply them
  // on restore.
  bool StoreXattrs = true;
  // A backup takes a symbolic link to a regular file as that file instead
  // of recording the link.
  bool FollowLinks = false;
  // Catalog keeps the metadata table's own entry in FileList().
  bool CatalogAll = false;
  // BackupThreads, or when 0 $VAULTIX_BACKUP_THREADS, else the number of
  // processors.
  int ThreadsWanted() const;

  // ---- Operations: each returns its result code ----
  int Backup();
  int Restore();
  int Verify();
  int Catalog();
  int RetrieveComment(std::string& comment);
  int DeleteFiles();
  void SaveSet(const std::string& fileName);  // throws std::runtime_error "Unable to write to %s"
  void LoadSet(const std::string& fileName);  // throws std::runtime_error "Vadný formát súboru"
  // The same from a set file already read with ReadSetFile (for callers
  // that read keys of their own from it too).
  void LoadSet(const TProfile& set);

  // ---- Dry runs: the selections of the real runs; nothing is written ----
  // The backup's scan (FileList() then holds the files it takes) and the
  // files that emptying the target folder (EraseTargetDir) would remove.
  // Throws as Backup() would report.
  void PreviewBackup(std::vector<std::string>& erased);
  // Whether a restore selects a stored path (IncludeNames).
  bool SelectedForRestore(const std::string& path) const;
  // Where a restore writes a file, whether it does (RestoreMode, refused
  // paths), and whether a file is there already.  With RM_All and
  // lookAtDisk false the disk is not asked (exists stays false): a restore
  // of everything finds out itself when it writes.
  struct TRestorePlan {
    std::string target;
    std::string refusal;  // why the path cannot be written ("" when it can)
    bool restore = false;
    bool exists = false;
  };
  TRestorePlan PlanRestore(const TDirRecord& record, bool lookAtDisk = true) const;
  // Whether a delete keeps a stored path (IncludeNames keep, else
  // ExcludeNames remove).
  bool KeptByDelete(const std::string& path) const;

  // ---- Helpers of the published interface ----
  void WriteLog(const std::string& text);
  void SetIncludes(const TStrings& lines) { IncludeNames = lines; }
  void SetExcludes(const TStrings& lines) { ExcludeNames = lines; }
  void SetMessageLines(const TStrings& lines) { Messages = lines; }
  void ClearIncludes() { IncludeNames.clear(); }
  void ClearExcludes() { ExcludeNames.clear(); }
  void AddToIncludes(const std::string& entry) { IncludeNames.push_back(entry); }
  void AddToExcludes(const std::string& entry) { ExcludeNames.push_back(entry); }
  static std::string ErrorText(int code);
  // The next-medium question.  Returns false when nobody could be asked
  // (AskForNextDisk off, or no handler and no question box available); the
  // answer then keeps the caller's preset.
  bool AskForDisk(int diskNo, TReaction& reaction);
  bool ReportStatistic(const TExtBackupStatistic& stat);  // the cancel answer
  int IndexOfPath(const std::string& path) const;

  // The file list: directory records in archive order (mark 1 = not selected).
  const std::vector<TDirRecord>& FileList() const { return fileList_; }

  // Counters of the last run.
  int ErrorCount() const { return errors_; }
  int WarningCount() const { return warnings_; }
  int LeftOutCount() const { return leftOut_; }
  // Folders the last scan could not open or examine (each also a warning).
  int FoldersNotRead() const { return foldersNotRead_; }
  // Items of the last backup's selection left out: folders the scan could
  // not read or that vanished, paths too long, files skipped after an open
  // or read failure, files that vanished or changed while they were read.
  // A backup that finishes with any ends with kPartialCode.
  int NotTakenCount() const { return notTaken_; }
  // The message of the failure that ended the last operation ("" after
  // success), e.g. the reason a setting was refused, or the path and the
  // system's reason of a file or set that could not be opened.
  const std::string& LastFailure() const { return lastFailure_; }

  // Mask matching of exclusions and of restore / delete selections.
  static bool MatchMask(const std::string& mask, const std::string& name);
  static bool MatchExclude(const std::string& pattern, const std::string& path, bool recurse);
  // Whether a list line selects a stored path (restore and delete selection).
  static bool MatchIncludeLine(const std::string& line, const std::string& path, bool recurse);

  // Byte comparison of a verify: 0 same, 1 copy unopenable, 2 disk file
  // unopenable, 3 different, 4 reads of different length.
  static int CompareFiles(const std::string& copy, const std::string& diskFile);

 private:
  // The runs of the operations and the frame they run in work on the
  // engine's file list, log and counters.
  friend class TOperationFrame;
  friend class TReadSet;
  friend class TCatalogRun;
  friend class TRestoreRun;
  friend class TVerifyRun;
  friend class TDeleteRun;
  friend class TBackupRun;

  // scan.cpp: fills fileList_ and the scan's counters.
  void ScanFiles(TArchiveBitStore& bits);
  // open_stream.cpp: opens the archive stream on disk, tape or FTP.
  std::unique_ptr<TArchiveStream> OpenStream(TStreamMode mode, const std::string& baseName,
                                             std::int64_t sizeLimit);
  // set_locks.cpp: the lock of the set the operation works on and of the
  // archive-bit store (platform/set_lock.h).  Throw EVX_SetInUse when another
  // run holds it past LockWaitSeconds, EVX_UserAbortion when a stop is asked
  // for while waiting.  A lock file that cannot be created (a read-only
  // medium) locks nothing.
  TFileLock LockSet(TLockKind kind);
  TFileLock LockArchiveBits(const TArchiveBitStore& store);
  // The erase step's rules for this engine: the running log is kept, each
  // deleted file is logged, files that stay make one warning.
  TEraseRules EraseRules();
  // vaultrex.cpp
  void OpenLog(int& insertLine);
  void CloseLog() noexcept;
  void PrepareCipher();
  void LetMessagesRun();

  std::vector<TDirRecord> fileList_;
  // The scan's items without a directory record (folders, links, second
  // names of hard links, special files), for the metadata table.
  std::vector<TMetaEntry> scanExtras_;
  int errors_ = 0;
  int warnings_ = 0;
  int leftOut_ = 0;
  int foldersNotRead_ = 0;
  int notTaken_ = 0;
  std::string lastFailure_;
  std::unique_ptr<TBlowFish> cipher_;
  std::unique_ptr<TBlockCodec> codec_;
  std::vector<std::uint8_t> buffer1_;       // 65,537 bytes: the block being worked on
  std::vector<std::uint8_t> buffer2_;       // 65,537 bytes: the cipher's output
  std::unique_ptr<TArchiveStream> stream_;  // of the running operation
  std::unique_ptr<TLogFile> log_;           // of the running operation
  TReaction scanAnswer_ = AW_RETRY;         // the answer the scan's questions left
};

// Maps an exception ending an operation to its result code: the common codes
// (1 to 10) and the codes of the operation's further classes; anything else
// is 99 (see ResultCodeFor in engine/operation_frame.h).
enum class TFurther {
  FileWrite,
  UserAbortion,
  VerificationFailed,
  WrongMedium,
  WrongPassword,
  FTP
};
int ResultCodeOf(const std::exception& e, std::initializer_list<TFurther> further);

}  // namespace vx
