// The operation frame.
#include "engine/operation_frame.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "archive/errors.h"
#include "engine/texts.h"
#include "engine/vaultrex.h"
#include "platform/date_time.h"
#include "support/threads.h"

namespace vx {

int ResultCodeFor(const std::exception& e, std::span<const int> further) {
  const auto* engineError = dynamic_cast<const EVX_Error*>(&e);
  if (engineError == nullptr) return kOtherErrorCode;
  const int code = engineError->Code();
  if (code >= EVX_ParameterError::kCode && code <= EVX_TapeError::kCode) return code;
  // Every operation that opens a set may find it in use.
  if (code == EVX_SetInUse::kCode) return code;
  return std::find(further.begin(), further.end(), code) != further.end() ? code : kOtherErrorCode;
}

int ResultCodeOf(const std::exception& e, std::initializer_list<TFurther> further) {
  std::vector<int> codes;
  for (const TFurther f : further) {
    switch (f) {
      case TFurther::FileWrite:
        codes.push_back(EVX_FileWriteError::kCode);
        break;
      case TFurther::UserAbortion:
        codes.push_back(EVX_UserAbortion::kCode);
        break;
      case TFurther::VerificationFailed:
        codes.push_back(EVX_VerificationFailed::kCode);
        break;
      case TFurther::WrongMedium:
        codes.push_back(EVX_WrongMedium::kCode);
        break;
      case TFurther::WrongPassword:
        codes.push_back(EVX_WrongPassword::kCode);
        break;
      case TFurther::FTP:
        codes.push_back(EVX_FTPError::kCode);
        break;
    }
  }
  return ResultCodeFor(e, codes);
}

TOperationFrame::TOperationFrame(TVaultrex& engine, const TOperationRules& rules)
    : engine_(engine), rules_(rules), refusedThreads_(RefusedThreadStarts()) {
  engine_.lastFailure_.clear();
}

TOperationFrame::~TOperationFrame() { CloseLog(); }

void TOperationFrame::OpenLog() {
  logOpened_ = true;
  engine_.OpenLog(insertLine_);
}

void TOperationFrame::Log(const std::string& line) const { engine_.WriteLog(line); }

bool TOperationFrame::Logging() const {
  return engine_.LogFileMode != LFM_NoLog && engine_.log_ &&
         engine_.log_->state() != TLogFile::Closed;
}

void TOperationFrame::InsertSummary() const {
  if (engine_.log_ && engine_.LogFileMode != LFM_NoLog) engine_.log_->InsertAt(insertLine_ + 1);
}

void TOperationFrame::CloseLog() noexcept {
  if (!logOpened_) return;
  logOpened_ = false;
  engine_.CloseLog();
}

void TOperationFrame::LogEnd(int result, const std::string& doneLine) const {
  if (result == 0) {
    Log("");
    Log(doneLine);
  } else {
    Log(TVaultrex::ErrorText(result));
  }
}

void TOperationFrame::ResetCounters() const {
  engine_.errors_ = 0;
  engine_.warnings_ = 0;
}

void TOperationFrame::CountError() const { ++engine_.errors_; }

int TOperationFrame::Errors() const { return engine_.errors_; }

void TOperationFrame::NoteRefusedThreads() {
  if (threadsNoted_ || RefusedThreadStarts() == refusedThreads_) return;
  threadsNoted_ = true;
  ++engine_.warnings_;
  Log(engine_txt::kFewerThreads);
}

void TOperationFrame::ResetStatistic(TExtBackupStatistic& stat, std::int64_t totalBytes) {
  stat.PercentDone = 0;
  stat.TotalBytes = totalBytes;
  stat.BytesRead = 0;
  stat.BytesWritten = 0;
  stat.FilesDone = 0;
}

void TOperationFrame::StartBlockReports(TExtBackupStatistic& stat) {
  stat_ = &stat;
  blocksSinceReport_ = 0;
  lastReportTick_ = TickCountMs();
}

void TOperationFrame::FileStarts(const TDirRecord& record) {
  blocksOfFile_ = 0;
  fileSize_ = record.fullSize;
  if (stat_ == nullptr) return;
  stat_->CurrentFile = record.path;
  stat_->CurrentFileSize = record.fullSize;
}

void TOperationFrame::BlockRead() {
  if (stat_ == nullptr) return;
  ++blocksSinceReport_;
  ++blocksOfFile_;
  const std::uint64_t now = TickCountMs();
  if (blocksSinceReport_ < kBlocksPerReport && now - lastReportTick_ < kReportIntervalMs) return;
  blocksSinceReport_ = 0;
  lastReportTick_ = now;
  TExtBackupStatistic partial = *stat_;
  partial.BytesWritten += std::min(blocksOfFile_ * static_cast<std::int64_t>(kBlockSize),
                                   std::max<std::int64_t>(fileSize_, 0));
  if (partial.TotalBytes > 0) {
    partial.PercentDone = static_cast<std::int32_t>(
        std::min<long>(100, std::lround(static_cast<double>(partial.BytesWritten) * 100.0 /
                                        static_cast<double>(partial.TotalBytes))));
  }
  Report(partial);
}

void TOperationFrame::FileRead(const TDirRecord& record, std::int64_t bytes) {
  if (stat_ == nullptr) return;
  TExtBackupStatistic& stat = *stat_;
  if (bytes < 0) bytes = record.fullSize;
  // The directory's size was the low 32 bits of this one.
  if (bytes > record.fullSize) stat.TotalBytes += bytes - record.fullSize;
  stat.BytesWritten += bytes;
  stat.FilesDone += 1;
  // Every file empty: all there is has been done.
  stat.PercentDone =
      stat.TotalBytes == 0
          ? 100
          : static_cast<std::int32_t>(std::lround(static_cast<double>(stat.BytesWritten) * 100.0 /
                                                  static_cast<double>(stat.TotalBytes)));
  stat.CurrentFile = record.path;
  stat.CurrentFileSize = bytes;
  Report(stat);
}

void TOperationFrame::Report(const TExtBackupStatistic& stat) const {
  engine_.LetMessagesRun();
  if (engine_.ReportStatistic(stat)) throw EVX_UserAbortion(engine_txt::kAborted);
}

int TOperationFrame::Run(const std::function<void()>& body) {
  failure_.clear();
  try {
    body();
    stat_ = nullptr;
    return 0;
  } catch (const std::exception& e) {
    stat_ = nullptr;
    failure_ = e.what();
    if (engine_.lastFailure_.empty()) engine_.lastFailure_ = failure_;
    const int code = ResultCodeFor(e, rules_.further);
    const bool engineError = dynamic_cast<const EVX_Error*>(&e) != nullptr;
    if ((rules_.foreign == TForeignPolicy::RethrowNonEngine && !engineError) ||
        (rules_.foreign == TForeignPolicy::RethrowUnmapped && code == kOtherErrorCode)) {
      if (!foreign_) foreign_ = std::current_exception();
    }
    return code;
  } catch (...) {
    stat_ = nullptr;
    if (!foreign_) foreign_ = std::current_exception();
    return kOtherErrorCode;
  }
}

int TOperationFrame::Finish(int result) {
  CloseLog();
  if (foreign_) std::rethrow_exception(foreign_);
  return result;
}

}  // namespace vx
