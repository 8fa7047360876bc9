// TVaultrex: construction, result codes and texts, the next-disk question,
// statistics reports and the log of the running operation.
#include "engine/vaultrex.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <thread>

#include "archive/errors.h"
#include "engine/catalog_run.h"
#include "engine/delete_run.h"
#include "engine/log_place.h"
#include "engine/restore_run.h"
#include "engine/texts.h"
#include "engine/verify_run.h"
#include "platform/date_time.h"
#include "platform/hooks.h"
#include "support/strings.h"
#include "support/utils.h"

namespace vx {

namespace {

constexpr std::size_t kWorkBufferSize = 65537;

std::int32_t To32(std::int64_t value) {
  if (value < 2147483647 && value >= std::numeric_limits<std::int32_t>::min()) {
    return static_cast<std::int32_t>(value);
  }
  return 0;
}

// Replaces the first %d and the first %s of a prompt line; a "%%" stays "%".
std::string FormatPrompt(const std::string& format, int diskNo, const std::string& destination) {
  std::string out;
  bool numberDone = false;
  bool textDone = false;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      const char c = format[i + 1];
      if (c == 'd' && !numberDone) {
        out += std::to_string(diskNo);
        numberDone = true;
        ++i;
        continue;
      }
      if (c == 's' && !textDone) {
        out += destination;
        textDone = true;
        ++i;
        continue;
      }
      if (c == '%') {
        out += '%';
        ++i;
        continue;
      }
    }
    out += format[i];
  }
  return out;
}

}  // namespace

TVaultrex::TVaultrex()
    : cipher_(std::make_unique<TBlowFish>()),
      codec_(std::make_unique<TBlockCodec>()),
      buffer1_(kWorkBufferSize),
      buffer2_(kWorkBufferSize) {
  Messages.push_back(engine_txt::kDiskPrompt);
  AskForNextDisk = true;
}

TVaultrex::~TVaultrex() {
  stream_.reset();
  CloseLog();
}

std::string TVaultrex::ErrorText(int code) {
  switch (code) {
    case 0:
      return engine_txt::kCode0;
    case 1:
      return engine_txt::kCode1;
    case 2:
      return engine_txt::kCode2;
    case 3:
      return engine_txt::kCode3;
    case 4:
      return engine_txt::kCode4;
    case 5:
      return engine_txt::kCode5;
    case 6:
      return engine_txt::kCode6;
    case 7:
      return engine_txt::kCode7;
    case 8:
      return engine_txt::kCode8;
    case 9:
      return engine_txt::kCode9;
    case 10:
      return engine_txt::kCode10;
    case 11:
      return engine_txt::kCode11;
    case 12:
      return engine_txt::kCode12;
    case 13:
      return engine_txt::kCode13;
    case 14:
      return engine_txt::kCode14;
    case 15:
      return engine_txt::kCode15;
    case kPartialCode:
      return engine_txt::kCode16;
    case kMarksNotStoredCode:
      return engine_txt::kCode17;
    case EVX_SetInUse::kCode:
      return engine_txt::kCode18;
    case 98:
      return engine_txt::kCode98;
    case 99:
      return engine_txt::kCode99;
    default:
      return engine_txt::kCodeOther + std::to_string(code) + ")";
  }
}

bool TVaultrex::AskForDisk(int diskNo, TReaction& reaction) {
  if (!AskForNextDisk) return false;
  if (OnNextDisk) {
    OnNextDisk(diskNo, reaction);
    return true;
  }
  const std::string format = Messages.empty() ? std::string() : Messages.front();
  switch (AskQuestionBox(FormatPrompt(format, diskNo, BackupDestination))) {
    case TBoxAnswer::Ok:
      reaction = AW_IGNORE;
      return true;
    case TBoxAnswer::Abort:
      reaction = AW_ABORT;
      return true;
    case TBoxAnswer::Closed:
      return true;
    case TBoxAnswer::Unavailable:
      return false;
  }
  return false;
}

TBackupStatistic ToBackupStatistic(const TExtBackupStatistic& ext) {
  TBackupStatistic s;
  s.PercentDone = ext.PercentDone;
  s.TotalBytes = To32(ext.TotalBytes);
  s.BytesRead = To32(ext.BytesRead);
  s.BytesWritten = To32(ext.BytesWritten);
  s.BytesVerified = To32(ext.BytesVerified);
  s.FilesDone = ext.FilesDone;
  s.CurrentFile = ext.CurrentFile;
  s.CurrentFileSize = To32(ext.CurrentFileSize);
  return s;
}

bool TVaultrex::ReportStatistic(const TExtBackupStatistic& stat) {
  bool cancel = false;
  if (UseExtStatistic) {
    if (OnExtStatistic) OnExtStatistic(stat, cancel);
  } else if (OnStatistic) {
    OnStatistic(ToBackupStatistic(stat), cancel);
  }
  return cancel;
}

int TVaultrex::IndexOfPath(const std::string& path) const {
  for (std::size_t i = 0; i < fileList_.size(); ++i) {
    if (SameTextIgnoringCase(fileList_[i].path, path)) return static_cast<int>(i);
  }
  return -1;
}

void TVaultrex::WriteLog(const std::string& text) {
  if (LogFileMode == LFM_NoLog || !log_ || log_->state() == TLogFile::Closed) return;
  log_->WriteLine(text);
}

// insertLine is the number of lines the log holds before this run: 0 for a
// new log; for an appended run the lines present when it opens, so that its
// summary (InsertAt(insertLine + 1): InsertAt keeps lineNo - 1 lines) stands
// right in front of this run's own lines and older runs stay as they were.
void TVaultrex::OpenLog(int& insertLine) {
  insertLine = 0;
  log_.reset();
  if (LogFileMode == LFM_NoLog) return;
  // Opening the log for writing would empty the set it names.
  if (LogNamesTheSet(*this)) throw EVX_ParameterError(engine_txt::kLogIsTheSet + LogFileName);
  log_ = std::make_unique<TLogFile>(LogFileName);
  if (LogFileMode == LFM_CreateNew) {
    log_->CreateNew();
    return;
  }
  const int before = CountTextLines(LogFileName);
  log_->OpenAppend();
  const int count = log_->LineCount();
  insertLine = count >= 0 ? count : before;
}

void TVaultrex::CloseLog() noexcept {
  if (!log_) return;
  try {
    log_->Close();
  } catch (...) {
    // The destructor below makes a last attempt without throwing.
  }
  log_.reset();
}

void TVaultrex::PrepareCipher() {
  cipher_->InputType = SourceByteArray;
  cipher_->CipherMode = ECBMode;
  cipher_->SetKey(EncryptKey);
  cipher_->InputArray = buffer1_.data();
  cipher_->OutputArray = buffer2_.data();
}

void TVaultrex::LetMessagesRun() {
  if (RunInBackground) ProcessMessages();
}

bool HasFileExtension(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const auto dot = path.rfind('.');
  return dot != std::string::npos && dot > nameStart;
}

int TVaultrex::ThreadsWanted() const {
  int threads = BackupThreads;
  if (threads == 0) {
    const char* env = std::getenv("VAULTIX_BACKUP_THREADS");
    threads = env != nullptr ? std::atoi(env) : 0;
    if (threads <= 0) threads = static_cast<int>(std::max(1U, std::thread::hardware_concurrency()));
  }
  return threads;
}

int TVaultrex::Restore() { return TRestoreRun(*this).Run(); }

int TVaultrex::Verify() { return TVerifyRun(*this).Run(); }

int TVaultrex::DeleteFiles() { return TDeleteRun(*this).Run(); }

int TVaultrex::Catalog() { return TCatalogRun(*this).Catalog(); }

int TVaultrex::RetrieveComment(std::string& comment) {
  return TCatalogRun(*this).RetrieveComment(comment);
}

}  // namespace vx
