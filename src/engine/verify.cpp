// Verify, and the byte comparison of two files.
#include <cerrno>
#include <cstring>
#include <memory>

#include "archive/errors.h"
#include "engine/metadata.h"
#include "engine/stored_check.h"
#include "engine/texts.h"
#include "engine/verify_run.h"
#include "platform/compared_file.h"
#include "platform/date_time.h"
#include "platform/locale.h"

namespace vx {

namespace {

constexpr std::size_t kChunk = 32768;
constexpr int kVerifyCodes[] = {EVX_FileWriteError::kCode, EVX_UserAbortion::kCode,
                                EVX_WrongMedium::kCode, EVX_WrongPassword::kCode,
                                EVX_FTPError::kCode};

std::string Now() { return FormatDateTimeC(NowDateTime()); }

// The comparison of one stored file, fed its unpacked bytes block by block,
// with the file on disk.  Gives the codes of CompareFiles: 2 the disk file
// cannot be opened, 3 size or content differs, 4 the disk file gave fewer or
// more bytes than its size said.
class TDiskComparison {
 public:
  // Out of descriptors no file can be compared: that ends the verify with
  // the reason instead of calling every file missing.
  TDiskComparison(const std::string& diskFile, std::uint8_t* buffer)
      : file_(diskFile), buffer_(buffer) {
    const int error = file_.OpenError();
    if (error == EMFILE || error == ENFILE) {
      throw EVX_FileOpenError(engine_txt::kCannotOpen + diskFile + ": " + SystemReason(error));
    }
  }

  // Why the disk file could not be opened (0: it was, or is no file).
  int OpenError() const { return file_.OpenError(); }

  // Always true: the rest of the file is unpacked even after a difference,
  // so that damaged data show as such whatever the disk holds.
  bool Next(const std::uint8_t* raw, std::size_t n) {
    unpacked_.Add(raw, n);
    if (!file_.IsOpen() || code_ != 0 || unpacked_.bytes > file_.Size()) return true;
    if (file_.Read(buffer_, n) != n)
      code_ = 4;
    else if (std::memcmp(buffer_, raw, n) != 0)
      code_ = 3;
    return true;
  }

  // What a restore would refuse of the unpacked bytes, nullptr when nothing.
  const char* StoredDamage(const TDirRecord& r, bool noFileCRCs) const {
    if (!SizeMatches(r, unpacked_.bytes)) return engine_txt::kSizeDiffers;
    if (!CrcMatches(r, unpacked_.crc, noFileCRCs)) return engine_txt::kCrcDiffers;
    return nullptr;
  }

  int Finish() {
    if (!file_.IsOpen()) return 2;
    if (unpacked_.bytes != file_.Size()) return 3;
    if (code_ != 0) return code_;
    // Bytes added behind the size read at the start.
    std::uint8_t extra = 0;
    return file_.Read(&extra, 1) == 0 ? 0 : 4;
  }

 private:
  TComparedFile file_;
  std::uint8_t* buffer_;
  TUnpacked unpacked_;
  int code_ = 0;
};

}  // namespace

int TVaultrex::CompareFiles(const std::string& copy, const std::string& diskFile) {
  TComparedFile a(copy);
  if (!a.IsOpen()) return 1;
  // Read-only access is all a comparison needs: a write-protected or
  // read-only file on disk is compared, not reported as missing.
  TComparedFile b(diskFile);
  if (!b.IsOpen()) return 2;
  if (a.Size() != b.Size()) return 3;
  std::vector<std::uint8_t> bufA(kChunk);
  std::vector<std::uint8_t> bufB(kChunk);
  for (;;) {
    const std::size_t na = a.Read(bufA.data(), kChunk);
    const std::size_t nb = b.Read(bufB.data(), kChunk);
    if (na != nb) return 4;
    if (std::memcmp(bufA.data(), bufB.data(), na) != 0) return 3;
    if (na < kChunk) return 0;
  }
}

TVerifyRun::TVerifyRun(TVaultrex& engine)
    : engine_(engine), frame_(engine, {kVerifyCodes, TForeignPolicy::RethrowNonEngine}) {}

int TVerifyRun::Run() {
  frame_.ResetCounters();
  int result = frame_.Run([this] {
    frame_.OpenLog();
    Body();
  });
  set_.reset();
  const int summary = frame_.Run([this, result] {
    if (result != 0)
      frame_.Log(TVaultrex::ErrorText(result));
    else
      WriteSummary();
  });
  if (summary != 0)
    result = kOtherErrorCode;
  else if (result == 0 && failed_)
    result = EVX_VerificationFailed::kCode;
  return frame_.Finish(result);
}

void TVerifyRun::Body() {
  CheckReadSettings(engine_, {.noPlace = engine_txt::kVerifyNoPlace,
                              .noPassword = engine_txt::kVerifyNoPassword,
                              .extension = engine_txt::kVerifyExtension,
                              .shortPassword = engine_txt::kShortPassword});
  if (engine_.BackupToTape)
    frame_.Log(engine_txt::kVerifyStartTape + Now());
  else
    frame_.Log(engine_txt::kVerifyStart + engine_.BackupDestination + "  " + Now());
  frame_.Log("");
  set_ = std::make_unique<TReadSet>(engine_);
  set_->Open({engine_txt::kVerifyCutHeader, engine_txt::kVerifyForeign});
  set_->ReadDirectory(engine_.fileList_);
  set_->CheckPassword(engine_.fileList_, engine_txt::kVerifyNoPassword);
  std::int64_t total = 0;
  for (const TDirRecord& r : engine_.fileList_)
    if (!IsMetaTableRecord(r)) total += r.fullSize;
  TExtBackupStatistic& stat = set_->Stream().Statistic;
  TOperationFrame::ResetStatistic(stat, total);
  diskBytes_.resize(kBlockSize);
  frame_.StartBlockReports(stat);
  frame_.NoteRefusedThreads();
  const bool meta = engine_.StoreMetadata && !engine_.fileList_.empty() &&
                    IsMetaTableRecord(engine_.fileList_.back());
  for (const TDirRecord& r : engine_.fileList_) {
    if (meta && &r == &engine_.fileList_.back())
      VerifyMetadata(r);
    else
      VerifyFile(r);
  }
  set_->Close();
}

void TVerifyRun::VerifyFile(const TDirRecord& r) {
  frame_.FileStarts(r);
  TVaultrex::TVerifyOutcome outcome = TVaultrex::TVerifyOutcome::Failed;
  std::int64_t bytes = -1;
  try {
    TDiskComparison comparison(r.path, diskBytes_.data());
    bytes = set_->Reader().ReadFile(
        [&comparison](const std::uint8_t* raw, std::size_t n) { return comparison.Next(raw, n); },
        [this] { frame_.BlockRead(); });
    // Data that a restore would refuse are no good copy, whatever the disk
    // holds; the stream stands at the next file all the same.
    if (const char* damage = comparison.StoredDamage(r, engine_.NoFileCRCs)) {
      Failed(r, damage);
    } else {
      outcome = Count(r, comparison.Finish(), comparison.OpenError());
    }
  } catch (const EVX_Error& e) {
    // The set's data ended early or were damaged: the file was not checked,
    // which a verify must never report as success.  A block that does not
    // unpack leaves the stream at the next file.
    const int code = e.Code();
    if (code != EVX_FileWriteError::kCode && code != EVX_BackupReadError::kCode &&
        code != EVX_ZipError::kCode)
      throw;
    Failed(r, e.what());
    // On tape the next file begins behind this file's mark; a read that
    // stopped inside damaged data would otherwise go on there.
    if (set_->Stream().IsTape() && code == EVX_BackupReadError::kCode) {
      set_->Stream().Destination()->SkipFilemarks(1);
      set_->Stream().FlushToBlockEnd();
    }
  }
  if (engine_.OnFileVerified) engine_.OnFileVerified(r.path, outcome);
  frame_.FileRead(r, bytes);
}

void TVerifyRun::VerifyMetadata(const TDirRecord& r) {
  std::vector<std::uint8_t> bytes;
  TUnpacked unpacked;
  set_->Reader().ReadFile(
      [&bytes, &unpacked](const std::uint8_t* raw, std::size_t n) {
        bytes.insert(bytes.end(), raw, raw + n);
        unpacked.Add(raw, n);
        return true;
      },
      [this] { frame_.BlockRead(); });
  std::string error;
  TMetaTable table;
  if (!SizeMatches(r, unpacked.bytes)) {
    error = engine_txt::kSizeDiffers;
  } else if (!CrcMatches(r, unpacked.crc, engine_.NoFileCRCs)) {
    error = engine_txt::kCrcDiffers;
  } else {
    DecodeMetaTable(bytes.data(), bytes.size(), engine_.fileList_.size() - 1, table, error);
  }
  if (!error.empty()) {
    Failed(r, error);
    return;
  }
  using TWhat = TVaultrex::TMetaDifference;
  const auto differs = [this](const std::string& path, const char* text, int& count, TWhat what) {
    ++count;
    if (engine_.OnMetadataDiffers) engine_.OnMetadataDiffers(path, what);
    failed_ = true;
    frame_.CountError();
    frame_.Log(path + text);
  };
  for (const TMetaEntry& e : table.entries) {
    const std::string& path = e.kind == TMetaKind::File ? engine_.fileList_[e.index].path : e.path;
    const TMetaDifferences d = CompareMeta(e, path);
    // A missing file is reported by its content's comparison.
    if (d.missing) {
      if (e.kind != TMetaKind::File) {
        ++missing_;
        failed_ = true;
        frame_.CountError();
        frame_.Log(path + engine_txt::kVerifyMissing);
      }
      continue;
    }
    if (d.mode) differs(path, engine_txt::kVerifyModeDiffers, modeDiffers_, TWhat::Mode);
    if (d.owner) differs(path, engine_txt::kVerifyOwnerDiffers, ownerDiffers_, TWhat::Owner);
    if (d.link) differs(path, engine_txt::kVerifyLinkDiffers, linkDiffers_, TWhat::Link);
    if (d.time) differs(path, engine_txt::kVerifyTimeDiffers, timeDiffers_, TWhat::Time);
  }
}

void TVerifyRun::Failed(const TDirRecord& r, const std::string& reason) {
  frame_.Log(engine_txt::kVerifyErrorOpen + reason + engine_txt::kVerifyErrorClose + r.path);
  ++other_;
  frame_.CountError();
  failed_ = true;
}

TVaultrex::TVerifyOutcome TVerifyRun::Count(const TDirRecord& r, int code, int openError) {
  using TOutcome = TVaultrex::TVerifyOutcome;
  if (code != 0) {
    failed_ = true;
    frame_.CountError();
  }
  switch (code) {
    case 0:
      ++ok_;
      frame_.Log(r.path + engine_txt::kVerifySame);
      return TOutcome::Same;
    case 1:
      ++other_;
      frame_.Log(r.path + engine_txt::kVerifyCopyFailed);
      return TOutcome::Failed;
    case 2:
      ++missing_;
      // A file that is there but cannot be opened says why.
      frame_.Log(
          r.path + engine_txt::kVerifyMissing +
          (openError != 0 && openError != ENOENT ? ": " + SystemReason(openError) : std::string()));
      return TOutcome::Missing;
    case 3:
      ++different_;
      frame_.Log(r.path + engine_txt::kVerifyDifferent);
      return TOutcome::Different;
    default:
      ++other_;
      frame_.Log(engine_txt::kVerifyOther + r.path);
      return TOutcome::Failed;
  }
}

// The summary stands in front of this run's lines: the lines the log held
// when it opened stay above it.
void TVerifyRun::WriteSummary() const {
  frame_.InsertSummary();
  frame_.Log(engine_txt::kVerifyDone + Now());
  frame_.Log(std::to_string(ok_) + engine_txt::kVerifyOkCount);
  const int bad = missing_ + different_ + other_;
  if (bad == 0) return;
  frame_.Log(std::to_string(bad) + engine_txt::kVerifyBadCount);
  if (missing_ > 0) frame_.Log("   " + std::to_string(missing_) + engine_txt::kVerifyMissingCount);
  if (different_ > 0)
    frame_.Log("   " + std::to_string(different_) + engine_txt::kVerifyDifferentCount);
  if (other_ > 0) frame_.Log("   " + std::to_string(other_) + engine_txt::kVerifyOtherCount);
  frame_.Log("");
}

}  // namespace vx
