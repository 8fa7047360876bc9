// TVaultrex: construction, result codes and texts, the next-disk question,
// statistics reports and the log of the running operation.
#include "engine/vaultrex.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>

#include "archive/errors.h"
#include "platform/date_time.h"
#include "platform/hooks.h"
#include "support/utils.h"

namespace vx {

namespace {

constexpr const char* kDiskPrompt =
    "Prosím vložte disk č. %d do zariadenia %s a stlačte OK alebo tlačítkom Storno prerušte "
    "operáciu.";
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

bool SameTextAscii(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

TVaultrex::TVaultrex()
    : cipher_(std::make_unique<TBlowFish>()),
      codec_(std::make_unique<TBlockCodec>()),
      buffer1_(kWorkBufferSize),
      buffer2_(kWorkBufferSize) {
  Messages.push_back(kDiskPrompt);
  AskForNextDisk = true;
}

TVaultrex::~TVaultrex() {
  stream_.reset();
  CloseLog();
}

std::string TVaultrex::ErrorText(int code) {
  switch (code) {
    case 0: return "no error";
    case 1: return "Chyba spôsobená neplatnou hodnotou nastavení";
    case 2: return "Chyba - plný disk ";
    case 3: return "Interná chyba komprimovaných dát";
    case 4: return "Chyba - súbor má otvorený iný proces";
    case 5: return "Chyba pri čítaní súboru";
    case 6: return "Chyba pri zápise do zálovovacieho súboru";
    case 7: return "Chyba pri vytváraní zálohovacieho súboru";
    case 8: return "Chyba - poškodená hlavička zálohovacieho súboru";
    case 9: return "Chyba pri čítaní zálohového súboru";
    case 10: return "Chyba pri použití páskového zariadenia";
    case 11: return "Chyba pri vytváraní Temp súboru";
    case 12: return "Prerušené volajúcou aplikáciou / užívateľom";
    case 13: return "Chyba pri detekcii prvého média";
    case 14: return "Heslo je neplatné alebo krátke";
    case 15: return "Chyba počas FTP komunikácie";
    case 98: return "Chyba pri verifikácii súboru";
    case 99: return "Ostatné nešpecifikované chyby";
    default: return "Iná chyba (Error code " + std::to_string(code) + ")";
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
    case TBoxAnswer::Ok: reaction = AW_IGNORE; return true;
    case TBoxAnswer::Abort: reaction = AW_ABORT; return true;
    case TBoxAnswer::Closed: return true;
    case TBoxAnswer::Unavailable: return false;
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
    if (SameTextAscii(fileList_[i].path, path)) return static_cast<int>(i);
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

void TVaultrex::ReportFileRead(TExtBackupStatistic& stat, const TDirRecord& record) {
  stat.BytesWritten += record.size;
  stat.FilesDone += 1;
  // Every file empty: all there is has been done.
  stat.PercentDone =
      stat.TotalBytes == 0
          ? 100
          : static_cast<std::int32_t>(std::lround(static_cast<double>(stat.BytesWritten) * 100.0 /
                                                  static_cast<double>(stat.TotalBytes)));
  stat.CurrentFile = record.path;
  stat.CurrentFileSize = record.size;
  LetMessagesRun();
  if (ReportStatistic(stat)) throw EVX_UserAbortion("Prerušené užívateľom");
}

void TVaultrex::StartBlockReports(TExtBackupStatistic& stat) {
  readStat_ = &stat;
  blocksSinceReport_ = 0;
  lastReportTick_ = TickCountMs();
}

bool HasFileExtension(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const auto dot = path.rfind('.');
  return dot != std::string::npos && dot > nameStart;
}

int ResultCodeOf(const std::exception& e, std::initializer_list<TFurther> further) {
  if (dynamic_cast<const EVX_ZipError*>(&e)) return 3;
  if (dynamic_cast<const EVX_DiskFullError*>(&e)) return 2;
  if (dynamic_cast<const EVX_FileOpenError*>(&e)) return 4;
  if (dynamic_cast<const EVX_FileReadError*>(&e)) return 5;
  if (dynamic_cast<const EVX_ParameterError*>(&e)) return 1;
  if (dynamic_cast<const EVX_BackupWriteError*>(&e)) return 6;
  if (dynamic_cast<const EVX_BackupReadError*>(&e)) return 9;
  if (dynamic_cast<const EVX_CreateStreamError*>(&e)) return 7;
  if (dynamic_cast<const EVX_NoProperBackup*>(&e)) return 8;
  if (dynamic_cast<const EVX_TapeError*>(&e)) return 10;
  for (TFurther f : further) {
    switch (f) {
      case TFurther::FileWrite:
        if (dynamic_cast<const EVX_FileWriteError*>(&e)) return 11;
        break;
      case TFurther::UserAbortion:
        if (dynamic_cast<const EVX_UserAbortion*>(&e)) return 12;
        break;
      case TFurther::VerificationFailed:
        if (dynamic_cast<const EVX_VerificationFailed*>(&e)) return 98;
        break;
      case TFurther::WrongMedium:
        if (dynamic_cast<const EVX_WrongMedium*>(&e)) return 13;
        break;
      case TFurther::WrongPassword:
        if (dynamic_cast<const EVX_WrongPassword*>(&e)) return 14;
        break;
      case TFurther::FTP:
        if (dynamic_cast<const EVX_FTPError*>(&e)) return 15;
        break;
    }
  }
  return 99;
}

}  // namespace vx
