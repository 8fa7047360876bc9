#pragma once
// The frame every operation runs in: the log of the run (opened, its summary
// put in front of the run's lines, closed on every way out), the error and
// warning counters, the statistics with their cancel answer, and the result
// code an exception ending the run stands for.
//
// A run uses it so:
//   constexpr int kCodes[] = {EVX_UserAbortion::kCode, ...};
//   TOperationFrame frame(engine, {kCodes, TForeignPolicy::RethrowNonEngine});
//   int result = frame.Run([&] { frame.OpenLog(); ...the operation... });
//   ...what must happen after success or failure...
//   frame.LogEnd(result, doneLine);   // or the operation's own last lines
//   return frame.Finish(result);      // closes the log, lets a kept exception leave
#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>

#include "archive/archive_stream.h"
#include "archive/format.h"

namespace vx {

class TVaultrex;

// What leaves an operation besides its result code.
enum class TForeignPolicy : std::uint8_t {
  Keep,              // nothing: every exception becomes a code
  RethrowNonEngine,  // an exception that is no engine error, once the run is wound up
  RethrowUnmapped,   // any exception this operation has no code for (99), likewise
};

// An operation's result codes as data: besides the common ones (1 to 10)
// the further codes it reports (11, 12, 13, 14, 15, 98); an engine error of
// another code is 99 for it.
struct TOperationRules {
  std::span<const int> further;
  TForeignPolicy foreign = TForeignPolicy::RethrowNonEngine;
};

// The result code of an exception for an operation with these further codes.
int ResultCodeFor(const std::exception& e, std::span<const int> further);

class TOperationFrame {
 public:
  // Clears the engine's LastFailure().
  TOperationFrame(TVaultrex& engine, const TOperationRules& rules);
  // Closes the log it opened on every way out.
  ~TOperationFrame();
  TOperationFrame(const TOperationFrame&) = delete;
  TOperationFrame& operator=(const TOperationFrame&) = delete;

  // ---- Log ----
  // Opens the log as LogFileMode says; throws when it cannot.
  void OpenLog();
  void Log(const std::string& line) const;
  // Whether lines given to Log are written anywhere (a line built for every
  // file need not be built when they are not).
  bool Logging() const;
  // The lines logged next stand in front of this run's lines (the lines the
  // log held when it opened stay above them).
  void InsertSummary() const;
  void CloseLog() noexcept;
  // The run's last lines: "" and doneLine after success, the code's text
  // otherwise.
  void LogEnd(int result, const std::string& doneLine) const;

  // ---- Counters of the run ----
  void ResetCounters() const;
  void CountError() const;
  int Errors() const;
  // Once per run, when the system refused helper threads since the run
  // began: logs that it goes on with fewer and counts a warning.
  void NoteRefusedThreads();

  // ---- Statistics and cancel ----
  // Zeroes the counts of stat and sets its total.
  static void ResetStatistic(TExtBackupStatistic& stat, std::int64_t totalBytes);
  // From now on stat is reported between blocks (see BlockRead).
  void StartBlockReports(TExtBackupStatistic& stat);
  // The file a reading run is at, shown with the reports between blocks.
  void FileStarts(const TDirRecord& record);
  // After each data block: every kBlocksPerReport blocks or
  // kReportIntervalMs the statistics go out again, so that a stop request
  // ends the run at the next block instead of at the end of a big file.
  // Such a report counts the current file's blocks so far (kBlockSize bytes
  // each, at most its size) as done, so that the bytes and the percentage
  // move during a big file; FileRead then counts the file's real size.
  void BlockRead();
  // After each file a reading operation treats: counts it as done and
  // reports progress.  bytes: what its data held (-1: not known, the
  // directory's size); the directory keeps only the low 32 bits of a size,
  // so a file of 4 GiB or more raises the total by what the record missed.
  void FileRead(const TDirRecord& record, std::int64_t bytes = -1);
  // Reports stat; raises EVX_UserAbortion when the caller cancels.
  void Report(const TExtBackupStatistic& stat) const;

  // ---- The result ----
  // Runs body; 0 when it returns, else the code of the exception that ended
  // it, whose message becomes the engine's LastFailure() (the first one of
  // the operation).  An exception that must leave the operation is kept for Finish (the
  // first one, when Run is used more than once).
  int Run(const std::function<void()>& body);
  // The message of the exception that ended Run ("" after success).
  const std::string& Failure() const { return failure_; }
  // Closes the log and lets a kept exception leave; else returns result.
  int Finish(int result);

  static constexpr int kBlocksPerReport = 32;
  static constexpr std::uint64_t kReportIntervalMs = 250;

 private:
  TVaultrex& engine_;
  TOperationRules rules_;
  int insertLine_ = 0;
  bool logOpened_ = false;
  std::exception_ptr foreign_;
  std::string failure_;
  TExtBackupStatistic* stat_ = nullptr;
  int blocksSinceReport_ = 0;
  std::int64_t blocksOfFile_ = 0;  // data blocks of the current file read so far
  std::int64_t fileSize_ = 0;      // the current file's size in the directory
  std::uint64_t lastReportTick_ = 0;
  std::uint64_t refusedThreads_ = 0;  // refused starts when the run began
  bool threadsNoted_ = false;
};

}  // namespace vx
