#pragma once
// Enumerations, event types and records of the engine component.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/archive_stream.h"
#include "archive/format.h"
#include "support/reaction.h"

namespace vx {

using TStrings = std::vector<std::string>;

// Result 17: the backup's set is new and complete, but the archive-bit store
// could not be updated (the next incremental takes those files again).
inline constexpr int kMarksNotStoredCode = 17;

// The shortest password an encrypted set takes, and the longest: a longer
// key would make the cipher fall back to its unkeyed tables.
inline constexpr std::size_t kMinPasswordBytes = 8;
inline constexpr std::size_t kMaxPasswordBytes = 65;

// The result code of a run that finished but left some selected items out
// (a backup: files that could not be opened or read and were skipped, files
// or folders that vanished, folders that could not be read, files that
// changed while they were read).  The set it wrote is complete for the rest.
// The codes of failures are those of the exceptions (archive/errors.h).
inline constexpr int kPartialCode = 16;

enum TLogFileMode : std::uint8_t { LFM_NoLog, LFM_CreateNew, LFM_Append };
enum TCompressData : std::uint8_t { CDM_NoCompression, CDM_QuickCompression, CDM_MaxCompression };
enum TBackupMode : std::uint8_t { BM_Full, BM_Incremental, BM_Differential, BM_Special };
enum TRestoreMode : std::uint8_t { RM_All, RM_Newer, RM_NewerAndNew };
enum TWarningType : std::uint8_t { WT_NoFilesFound };

// TExtBackupStatistic with every number in 32 bits.
struct TBackupStatistic {
  std::int32_t PercentDone = 0;
  std::int32_t TotalBytes = 0;
  std::int32_t BytesRead = 0;
  std::int32_t BytesWritten = 0;
  std::int32_t BytesVerified = 0;
  std::int32_t FilesDone = 0;
  std::string CurrentFile;
  std::int32_t CurrentFileSize = 0;
};
// A 64-bit counter is copied when below 2147483647, otherwise the field is 0.
TBackupStatistic ToBackupStatistic(const TExtBackupStatistic& ext);

struct TFTPConnection {
  std::string HostName;
  std::int32_t Port = 0;
  std::string UserName;
  std::string Password;
};

using TNextDiskEvent = std::function<void(int DiskNo, TReaction& Reaction)>;
using TStatisticEvent =
    std::function<void(const TBackupStatistic& StatData, bool& CancelOperation)>;
using TExtStatisticEvent =
    std::function<void(const TExtBackupStatistic& StatData, bool& CancelOperation)>;
using TAskFileReaction = std::function<void(const std::string& FileName, TReaction& Reaction)>;
using TScanEvent = std::function<void(const std::string& DirName, TReaction& Reaction)>;
using TWarningEvent =
    std::function<void(TWarningType TypeOfWarning, const std::string& AtFile, TReaction& Reaction)>;
// Done and Total count bytes in 64 bits: files of 2 GiB and more are common.
using TBLockStatEvent =
    std::function<void(const std::string& Name, std::int64_t Done, std::int64_t Total)>;

}  // namespace vx
