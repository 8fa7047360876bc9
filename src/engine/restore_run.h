#pragma once
// Restore: writes the selected files of a set back to disk.  Every file is
// written to a new file beside its target and put in its place by a rename
// only when it came out whole.
#include <memory>

#include "archive/format.h"
#include "engine/operation_frame.h"
#include "engine/read_set.h"
#include "engine/vaultrex.h"
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
  void RestoreFile(const TDirRecord& record, const TVaultrex::TRestorePlan& plan);
  // What came out of a file's data: the bytes written and their checksum.
  struct TExtracted {
    std::int64_t bytes = 0;
    std::uint32_t crc = 0;
  };
  TExtracted Extract(const TDirRecord& record, TTargetFile& target);
  void Failed(const TDirRecord& record, const char* open, const std::string& reason) const;
  void NoteDiskFull(int err);

  TVaultrex& engine_;
  TOperationFrame frame_;
  std::unique_ptr<TReadSet> set_;
  std::unique_ptr<TTargetFolders> folders_;
  unsigned newMode_ = 0;
  bool tape_ = false;
  int skipCount_ = 0;
  bool targetDiskFull_ = false;  // a target failed for want of room
};

}  // namespace vx
