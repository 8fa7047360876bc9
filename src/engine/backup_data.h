#pragma once
// The data pass of a backup: every file of the list read in 32,768-byte
// blocks, each block encoded and put on the medium, each file's data ended
// with the end-of-data block.  The caller's thread opens, reads and
// checksums the files and writes the encoded blocks in order; packing,
// enciphering and the verification of a block run on worker threads when
// there are any.  Every event, log line and question comes from the caller's
// thread, in the same order as when one thread does it all.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_stream.h"
#include "archive/block_pipeline.h"
#include "archive/format.h"
#include "platform/fd.h"
#include "platform/file_system.h"

namespace vx {

class TVaultrex;

// What became of one file of the list in the data pass.  Only a file stored
// whole (and, with VerifyDuringBackup, verified) has its archive attribute
// reset; the stamp is the one taken when it was opened.
struct TDataOutcome {
  // Why a file of the list is not in the set as the scan saw it.
  enum class TLoss : std::uint8_t {
    None,
    Vanished,    // gone by the time it was to be opened
    OpenFailed,  // could not be opened and was skipped
    ReadFailed,  // a read failed and the file was skipped
    Changed,     // stored, but its content changed while it was read
  };
  bool stored = false;
  TLoss loss = TLoss::None;
  TFileStamp stamp;
};

// What the data pass works on and reports to; the counters are the run's.
struct TDataPassTarget {
  const std::vector<TDirRecord>& files;
  std::vector<TDataOutcome>& outcomes;  // one per file, filled in
  TArchiveStream& stream;
  int& errors;
  int& warnings;
  bool& verifyFailed;
  bool logging;  // whether log lines are wanted at all
  std::function<void(const std::string&)> log;
  std::function<void()> letMessagesRun;
  std::function<bool(const TExtBackupStatistic&)> report;  // true: the caller cancels
};

// How many threads pack blocks for a backup with these settings: 0 when the
// caller's thread does (BackupThreads 1, or nothing to pack, encipher or
// verify), else the workers to start.
int PackingWorkers(const TVaultrex& settings);

class TBackupDataPass {
 public:
  TBackupDataPass(const TVaultrex& settings, TDataPassTarget target);
  ~TBackupDataPass();
  TBackupDataPass(const TBackupDataPass&) = delete;
  TBackupDataPass& operator=(const TBackupDataPass&) = delete;

  // Every file of the list, in order; throws what ends the backup.  A list
  // of which no file could be read (every one failed to open or to read,
  // none merely vanished) ends it too, with the code of the first failure:
  // such a set must not replace an older one.
  void Run();
  // After Run: bytes that are no file of the list (the metadata table),
  // stored as the data of one more file, encoded as every file is.
  void StoreExtra(const std::vector<std::uint8_t>& bytes);

 private:
  // A file's end, passed through the pipeline in its place.
  struct TFileEnd {
    bool whole = false;  // read to its end (else handled already, only reported)
    std::uint32_t crc = 0;
    std::int64_t done = 0;     // bytes read
    std::int64_t sizeNow = 0;  // its size at the end (above the listed one: grew), -1 unknown
  };

  // The reading side (backup_data.cpp).
  void ReadFile(std::size_t index);
  TFd OpenFile(std::size_t index, TReaction& answer, bool& notRegular, int& error);
  void OpenFailed(std::size_t index, TReaction answer, bool notRegular, int error);
  bool ReadFailed(std::size_t index, TReaction& answer, int error);
  TBlockPipeline::TJob& FreeJob();
  void EndFile(std::size_t index, const TFileEnd& end);

  // The writing side (backup_blocks.cpp).
  void TakeBack(bool wait);
  void Drain();
  void Store(const TBlockPipeline::TJob& job);
  void EndFileData();
  void FinishFile(const TDirRecord& rec, TDataOutcome& outcome, const TFileEnd& end);
  void UpdateProgress(TExtBackupStatistic& stat) const;
  void FileDone(const TDirRecord& rec);

  const TVaultrex& s_;
  TDataPassTarget t_;
  int level_ = 0;
  std::unique_ptr<TBlockPipeline> pipeline_;
  std::deque<TFileEnd> ends_;
  std::int64_t storedOfFile_ = 0;  // raw bytes of the current file on the medium
  bool fileMatches_ = true;        // every block of the current file decoded to its bytes
  std::size_t taken_ = 0;          // files read to their end
  // The first file skipped after a failure: "<path>: <reason>", and whether
  // it was a read (else an open) that failed.
  std::string firstFailure_;
  bool firstFailureRead_ = false;
};

}  // namespace vx
