// DeleteFiles: the kept files' blocks are copied as stored, so no password
// is needed.  A one-file set gets its new archive beside it, renamed over
// it; a split set is copied back volume by volume from the temporary folder.
#include <algorithm>
#include <system_error>

#include "archive/errors.h"
#include "engine/delete_run.h"
#include "engine/metadata.h"
#include "engine/read_set.h"
#include "engine/selection.h"
#include "engine/texts.h"
#include "engine/vaultrex.h"
#include "platform/date_time.h"
#include "platform/locale.h"
#include "platform/paths.h"
#include "platform/target_writer.h"
#include "support/path_names.h"
#include "support/utils.h"

namespace vx {

namespace {

constexpr int kDeleteCodes[] = {EVX_FileWriteError::kCode, EVX_UserAbortion::kCode,
                                EVX_WrongMedium::kCode, EVX_FTPError::kCode};

TNextVolumeAsk NoQuestion() {
  return [](int, TReaction&) { return false; };
}

std::unique_ptr<TTempFile> MakeTempArchive(const std::string& folder) {
  try {
    auto temp = std::make_unique<TTempFile>("temp.arc", folder);
    temp->CloseFd();
    return temp;
  } catch (const std::system_error& e) {
    throw EVX_FileWriteError(engine_txt::kIoErrorOpen + std::to_string(e.code().value()) +
                             engine_txt::kIoErrorClose + engine_txt::kCannotCreate);
  }
}

}  // namespace

bool TVaultrex::KeptByDelete(const std::string& path) const {
  return vx::KeptByDelete(IncludeNames, ExcludeNames, RecurseSubDir, path);
}

TDeleteRun::TDeleteRun(TVaultrex& engine)
    : engine_(engine), frame_(engine, {kDeleteCodes, TForeignPolicy::RethrowNonEngine}) {}

int TDeleteRun::Run() {
  const int result = frame_.Run([this] {
    frame_.OpenLog();
    Body();
  });
  if (copyBackStarted_ && temp_) {
    // The set is incomplete now; the temporary archive is its only whole copy.
    temp_->Keep();
    frame_.Log(engine_txt::kDeleteWholeCopyLeft + temp_->path());
  }
  temp_.reset();
  frame_.LogEnd(result, engine_txt::kDeleteDone + FormatDateTimeC(NowDateTime()));
  return frame_.Finish(result);
}

void TDeleteRun::CheckSettings() const {
  if (engine_.IncludeNames.empty() == engine_.ExcludeNames.empty())
    throw EVX_ParameterError(engine_txt::kDeleteNoLists);
  CheckReadSettings(engine_, {.noPlace = engine_txt::kDeleteNoPlace});
  // A tape cannot be read and rewritten at once, and a set on a server is
  // not rewritten in place.
  if (engine_.BackupToTape || engine_.BackupToFTP)
    throw EVX_ParameterError(engine_txt::kDeleteDiskOnly);
}

void TDeleteRun::Body() {
  CheckSettings();
  const std::string archivePath =
      WithTrailingSlash(engine_.BackupDestination) + engine_.ArchiveBaseName;
  const bool replace = !engine_.SpanDisks;
  TReadSet set(engine_);
  // The first volume is not asked for: the set is rewritten where it is.
  set.Open({engine_txt::kDeleteCutHeader, engine_txt::kDeleteForeign}, false, TLockKind::Exclusive);
  // A set reached through a symbolic link is replaced where it really lies.
  const std::string setFile = RealPathOf(set.Stream().VolumeFileName(1));
  temp_ = MakeTempArchive(replace ? ExtractFilePath(setFile) : GetTempFolder());
  std::unique_ptr<TArchiveStream> out;
  try {
    out = std::make_unique<TArchiveStream>(TStreamMode::Write, temp_->path(), false, 0, false,
                                           NoQuestion());
  } catch (const EVX_CreateStreamError& e) {
    throw EVX_FileWriteError(e.what());
  }
  std::vector<TDirRecord> kept = CopyKept(set, *out);
  out->Close();
  set.Close();
  out.reset();
  engine_.fileList_ = std::move(kept);
  if (replace)
    ReplaceOneFileSet(setFile);
  else
    CopyBackVolumes(archivePath);
}

std::vector<TDirRecord> TDeleteRun::CopyKept(TReadSet& set, TArchiveStream& out) {
  out.WriteBytes(set.Reader().RawHeader(), kHeaderSize);
  std::vector<TDirRecord>& files = engine_.fileList_;
  const std::int32_t count = set.ReadDirectory(files);
  frame_.Log(engine_txt::kDeleteCountOpen + std::to_string(count) + engine_txt::kDeleteCountClose);
  frame_.Log("");
  std::vector<bool> stays(files.size(), false);
  std::vector<TDirRecord> kept;
  std::int64_t total = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    // The metadata table names files by their place in the directory,
    // which the deletion changes: it does not stay (a wrong table would
    // give one file's mode and owner to another).
    stays[i] = !IsMetaTableRecord(files[i]) && engine_.KeptByDelete(files[i].path);
    if (IsMetaTableRecord(files[i])) frame_.Log(engine_txt::kMetaTableDropped);
    if (stays[i]) kept.push_back(files[i]);
    if (!IsMetaTableRecord(files[i])) total += files[i].fullSize;
  }
  WriteDirectory(out, kept);
  // Progress goes out per file and between blocks, so that a stop request
  // ends the run before the set is touched.
  TExtBackupStatistic& stat = set.Stream().Statistic;
  TOperationFrame::ResetStatistic(stat, total);
  frame_.StartBlockReports(stat);
  const TDataTexts texts{engine_txt::kDeleteCutData, engine_txt::kDeleteCutData};
  for (std::size_t i = 0; i < files.size(); ++i) {
    const bool keep = stays[i];
    const bool table = IsMetaTableRecord(files[i]);
    if (!table) {
      frame_.Log(files[i].path + (keep ? engine_txt::kDeleteKept : engine_txt::kDeleteDeleted));
      frame_.FileStarts(files[i]);
    }
    std::int64_t bytes = 0;  // the file's own size: its directory size is 32 bits
    set.Reader().CopyFile(
        [&out, keep, &bytes](const std::uint8_t* head, const std::uint8_t* stored, std::size_t n) {
          bytes += DecodeBlockHeader(head).rawLength;
          if (!keep) return;
          out.WriteBytes(head, kBlockHeaderSize);
          if (n > 0) out.WriteBytes(stored, n);
        },
        [this] { frame_.BlockRead(); }, texts);
    if (!table) frame_.FileRead(files[i], bytes);
  }
  return kept;
}

void TDeleteRun::WriteDirectory(TArchiveStream& out, const std::vector<TDirRecord>& kept) const {
  std::uint8_t rec[kRecordSize];
  EncodeCount(static_cast<std::int32_t>(kept.size()), rec);
  out.WriteBytes(rec, kCountSize);
  for (const TDirRecord& r : kept) {
    EncodeRecord(r, rec);
    out.WriteBytes(rec, kRecordSize);
  }
}

void TDeleteRun::ReplaceOneFileSet(const std::string& setFile) {
  if (!ReplaceKeepingMode(temp_->path(), setFile))
    throw EVX_BackupWriteError(engine_txt::kDeleteCannotReplace);
  temp_->Keep();
  // The new set's content is on the disk; its name must be too before the
  // run reports success.
  FlushSetFolder(setFile);
}

void TDeleteRun::FlushSetFolder(const std::string& setFile) const {
  const int err = FlushFolder(ExtractFilePath(setFile));
  if (err != 0)
    throw EVX_BackupWriteError(engine_txt::kSyncFailedOpen + std::to_string(err) +
                               engine_txt::kSyncFailedClose);
}

void TDeleteRun::CopyBackVolumes(const std::string& archivePath) {
  copyBackStarted_ = true;
  const std::int64_t size = GetFileSize64(temp_->path());
  TArchiveStream back(TStreamMode::Read, temp_->path(), false, 0, false, NoQuestion());
  // Written as a backup writes volumes, but the folder is never emptied
  // first: it may hold anything besides this set.
  TArchiveStream dest(
      TStreamMode::Write, archivePath, true, engine_.MaxSplitSize, false,
      [this](int volumeNo, TReaction& answer) { return engine_.AskForDisk(volumeNo, answer); });
  buffer_.resize(kBlockSize);
  for (std::int64_t left = size; left > 0;) {
    const auto piece = static_cast<std::size_t>(
        std::min<std::int64_t>(left, static_cast<std::int64_t>(kBlockSize)));
    back.ReadBytes(buffer_.data(), piece);
    dest.WriteBytes(buffer_.data(), piece);
    left -= static_cast<std::int64_t>(piece);
  }
  dest.Close();
  back.Close();
  copyBackStarted_ = false;
  // Volumes of the old, longer set behind the new last one would only
  // confuse whoever looks at the folder: they are no part of the set now.
  bool removed = false;
  for (int n = dest.VolumeNumber() + 1; FileExists(dest.VolumeFileName(n)); ++n)
    removed = RemoveFile(dest.VolumeFileName(n)) || removed;
  // The volumes written are flushed with their folder as they are closed;
  // the removals are flushed here.
  if (removed) FlushSetFolder(dest.VolumeFileName(1));
}

}  // namespace vx
