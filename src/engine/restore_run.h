#pragma once
// Restore: writes the selected files of a set back to disk.  Every file is
// written to a new file in its target's folder that takes the target's
// name only when it came out whole.  Small files are written on a thread of
// their own while the next ones are read (see write_behind.h).
#include <functional>
#include <memory>
#include <unordered_set>

#include "archive/format.h"
#include "engine/operation_frame.h"
#include "engine/read_set.h"
#include "engine/vaultrex.h"
#include "engine/write_behind.h"
#include "platform/target_writer.h"

namespace vx {

class TRestoreRun {
 public:
  explicit TRestoreRun(TVaultrex& engine);
  int Run();

 private:
  void LogStart() const;
  void Body();
  // Marks the records the include lines select (mark 0) and gives their
  // total size.
  std::int64_t MarkSelection();
  void Treat(const TDirRecord& record);
  // A file that is not restored: read past (on tape, skipped later by its
  // file mark).
  void PassOver(const TDirRecord& record);
  // Runs a file's restore, counting and logging its failure.
  void Guarded(const TDirRecord& record, const std::function<void()>& restore);
  void RestoreFile(const TDirRecord& record, const TVaultrex::TRestorePlan& plan);
  // A file the directory gives a small size: read whole and handed to the
  // writer threads, or, once its data prove it large (4 GiB more than the
  // directory's 32 bits tell), written here.
  void HandOver(const TDirRecord& record, const TVaultrex::TRestorePlan& plan,
                TTargetFile::TReadOnly readOnly);
  // What became of a handed-over file, on the caller's thread.
  void Written(TWriteJob& job);
  static void CheckSize(const TDirRecord& record, std::int64_t bytes);
  bool CrcMatches(const TDirRecord& record, std::uint32_t crc) const;
  bool MayReplace(const TVaultrex::TRestorePlan& plan, bool crcMatches) const;
  // Throws when the new file could not be made or written.
  void CheckWritten(const TTargetFile& target, bool created);
  // After the commit (done when committed): the attributes, the failure for
  // data that differ, the log line.
  void Committed(const TDirRecord& record, const std::string& target, const TTargetFile& out,
                 bool committed, bool crcMatches);
  // What came out of a file's data: the bytes written and their checksum.
  struct TExtracted {
    std::int64_t bytes = 0;
    std::uint32_t crc = 0;
  };
  // Reads a file's data into target (read past when it is not ready);
  // returns the bytes the data held.
  std::int64_t Extract(const TDirRecord& record, TTargetFile& target, TExtracted& got);
  // Writes n bytes of a file's data to target, counting them in got.
  static bool Put(TTargetFile& target, TExtracted& got, const std::uint8_t* raw, std::size_t n);
  // A file written here once its data are read: checked, named, reported.
  void Finish(const TDirRecord& record, const TVaultrex::TRestorePlan& plan, TTargetFile& out,
              const TExtracted& got);
  // Makes what the run wrote durable; a failure fails the run.
  void FlushRestored();
  // Counts and logs a failed file, after the reports of every file before.
  void Failed(const TDirRecord& record, const char* open, const std::string& reason);
  std::string CaseTwin(const std::string& target);
  // Delivers what the writer thread has outstanding.
  void DrainWrites() {
    if (writes_) writes_->Drain();
  }
  void NoteDiskFull(int err);
  // The metadata table (the set's last entry): read, then applied to what
  // this run restored.
  void ApplyMetadata(const TDirRecord& record);
  void MetaWarning(const std::string& line);

  TVaultrex& engine_;
  TOperationFrame frame_;
  std::unique_ptr<TReadSet> set_;
  std::unique_ptr<TTargetFolders> folders_;
  std::unique_ptr<TWriteBehind> writes_;  // after folders_: stops first
  bool inWritten_ = false;                // Written() is reporting
  unsigned newMode_ = 0;
  bool tape_ = false;
  int skipCount_ = 0;
  bool targetDiskFull_ = false;  // a target failed for want of room
  std::int64_t fileBytes_ = -1;  // the bytes the data of the file held (-1: not known)
  // The folded (lower-case) targets restored so far, as hashes: where a
  // name comes again only in other letter case, CaseTwin looks at the disk.
  std::unordered_set<std::size_t> restoredNames_;
  // The set holds a metadata table and this run applies it.
  bool applyMeta_ = false;
  // Per directory index: where the file was restored ("" when it was not).
  std::vector<std::string> restored_;
  int metaWarnings_ = 0;
};

}  // namespace vx
