#pragma once
// The backup as a run on the operation frame: the settings check, the scan,
// the set's header and directory, the data pass, the archive-attribute reset
// and the log summary.  The run owns its stream and, through the data pass,
// its buffers, codecs and ciphers.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_stream.h"
#include "engine/backup_data.h"
#include "engine/operation_frame.h"
#include "platform/set_lock.h"

namespace vx {

class TArchiveBitStore;
class TVaultrex;

// The settings a backup refuses before it scans; its dry run refuses the same.
void CheckBackupSettings(const TVaultrex& settings);

class TBackupRun {
 public:
  explicit TBackupRun(TVaultrex& engine);
  ~TBackupRun();
  TBackupRun(const TBackupRun&) = delete;
  TBackupRun& operator=(const TBackupRun&) = delete;

  int Run();

 private:
  // backup.cpp
  void Body();
  void Steps();
  void WriteSet(TArchiveBitStore& bits);
  void WriteArchiveHeader();
  void WriteDirectory();
  void Abandon() noexcept;
  void LogFailure(int code) noexcept;
  // backup_summary.cpp
  void ResetArchiveAttributes(TArchiveBitStore& store);
  void WriteSummary();
  void LogStartAndMode();
  void LogCounts(const TExtBackupStatistic& stat);

  TVaultrex& engine_;
  TOperationFrame frame_;
  // Held until the run has ended, a failed run's partial set removed.
  TFileLock setLock_;
  TFileLock bitsLock_;
  std::unique_ptr<TArchiveStream> stream_;
  std::vector<TDataOutcome> outcomes_;
  bool verifyFailed_ = false;    // a file of this run failed its verification
  bool foreignFailure_ = false;  // the run ended by something else than an engine error
  // The metadata table, stored as the set's last entry (empty: none).
  std::vector<std::uint8_t> metaBytes_;
  TDirRecord metaRecord_;
  std::int64_t startNs_ = 0;  // monotonic clock when the archive header was written
  double startTime_ = 0.0;
};

}  // namespace vx
