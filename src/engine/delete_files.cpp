// DeleteFiles: removes files from a backup set without unpacking it.  The
// kept files' blocks are copied as stored, so no password is needed.
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <exception>
#include <memory>
#include <system_error>

#include "archive/errors.h"
#include "engine/read_set.h"
#include "engine/texts.h"
#include "engine/vaultrex.h"
#include "platform/date_time.h"
#include "platform/locale.h"
#include "platform/paths.h"
#include "platform/temp_files.h"
#include "support/utils.h"

namespace vx {

namespace {

TNextVolumeAsk NoQuestion() {
  return [](int, TReaction&) { return false; };
}

std::unique_ptr<TTempFile> MakeTempArchive(const std::string& folder) {
  try {
    auto temp = std::make_unique<TTempFile>("temp.arc", folder);
    temp->CloseFd();
    return temp;
  } catch (const std::system_error& e) {
    throw EVX_FileWriteError("Chyba I/O  (#" + std::to_string(e.code().value()) + ") počas " +
                             "vytvárania dočasného súboru");
  }
}

}  // namespace

bool TVaultrex::KeptByDelete(const std::string& path) const {
  // The include list names the files to keep, else the exclude list the
  // files to remove.
  const bool byIncludes = !IncludeNames.empty();
  for (const std::string& line : byIncludes ? IncludeNames : ExcludeNames) {
    if (!line.empty() && MatchIncludeLine(line, path, RecurseSubDir)) return byIncludes;
  }
  return !byIncludes;
}

int TVaultrex::DeleteFiles() {
  int result = 0;
  int insertLine = 0;
  std::exception_ptr foreign;
  std::unique_ptr<TTempFile> temp;
  bool copyBackStarted = false;
  try {
    OpenLog(insertLine);
    if (IncludeNames.empty() == ExcludeNames.empty())
      throw EVX_ParameterError("Určite súbory na uloženie prípadne na vylúčenie zo zálohy");
    if (!BackupToTape && (BackupDestination.empty() || ArchiveBaseName.empty()))
      throw EVX_ParameterError("Určite kam sa má záloha uložiť");
    // A tape cannot be read and rewritten at once, and a set on a server is
    // not rewritten in place.
    if (BackupToTape || BackupToFTP)
      throw EVX_ParameterError(
          "Mazanie súborov je možné len zo zálohy na disku, nie z pásky ani z FTP servera");

    const std::string archivePath = IncludeBackslash(BackupDestination) + ArchiveBaseName;
    // A one-file set gets its new archive beside it and renamed over it; a
    // split set is copied back volume by volume from the temporary folder.
    const bool replace = !SpanDisks;

    TReadSet set(*this);
    // The first volume is not asked for: the set is rewritten where it is.
    set.Open({engine_txt::kDeleteCutHeader, engine_txt::kDeleteForeign}, false);
    TArchiveStream* in = &set.Stream();
    const TArchiveHeader& header = set.Header();

    // A set reached through a symbolic link is replaced where it really lies.
    std::string setFile = in->VolumeFileName(1);
    if (char* real = ::realpath(setFile.c_str(), nullptr)) {
      setFile = real;
      std::free(real);
    }
    temp = MakeTempArchive(replace ? ExtractFilePath(setFile) : GetTempFolder());
    std::unique_ptr<TArchiveStream> out;
    try {
      out = std::make_unique<TArchiveStream>(TStreamMode::Write, temp->path(), false, 0, false,
                                             NoQuestion());
    } catch (const EVX_CreateStreamError& e) {
      throw EVX_FileWriteError(e.what());
    }
    out->WriteBytes(set.Reader().RawHeader(), kHeaderSize);

    const std::int32_t count = set.ReadDirectory(fileList_);
    WriteLog("Achív obsahuje " + std::to_string(count) + " súborov:");
    WriteLog("");

    std::vector<bool> stays(fileList_.size(), false);
    std::vector<TDirRecord> kept;
    for (std::size_t i = 0; i < fileList_.size(); ++i) {
      const TDirRecord& r = fileList_[i];
      const bool keep = KeptByDelete(r.path);
      stays[i] = keep;
      if (keep) kept.push_back(r);
    }

    std::array<std::uint8_t, kRecordSize> rec{};
    EncodeCount(static_cast<std::int32_t>(kept.size()), rec.data());
    out->WriteBytes(rec.data(), kCountSize);
    for (const TDirRecord& r : kept) {
      EncodeRecord(r, rec.data());
      out->WriteBytes(rec.data(), kRecordSize);
    }

    // Progress goes out per file and between blocks, so that a stop request
    // ends the run before the set is touched.
    TExtBackupStatistic& stat = in->Statistic;
    stat.PercentDone = 0;
    stat.TotalBytes = 0;
    stat.BytesWritten = 0;
    stat.FilesDone = 0;
    for (const TDirRecord& r : fileList_) stat.TotalBytes += r.size;
    StartBlockReports(stat);
    std::array<std::uint8_t, kBlockHeaderSize> hb{};
    for (std::size_t i = 0; i < fileList_.size(); ++i) {
      const bool keep = stays[i];
      WriteLog(fileList_[i].path + (keep ? " kept" : " deleted"));
      stat.CurrentFile = fileList_[i].path;
      stat.CurrentFileSize = fileList_[i].size;
      for (;;) {
        try {
          in->ReadBytes(hb.data(), hb.size());
        } catch (const EVX_BackupReadError&) {
          throw EVX_BackupReadError(
              "Chyba pri čítaní (predčasný koniec súboru) počas kopirovania súboru do tmp "
              "súboru");
        }
        const TBlockHeader bh = DecodeBlockHeader(hb.data());
        if (!BlockHeaderValid(bh)) throw EVX_BackupReadError("Porušená hlavička súboru");
        if (keep) out->WriteBytes(hb.data(), hb.size());
        if (bh.storedLength == 0) break;
        const std::size_t n = StoredBytesOnMedium(bh.storedLength, header.encrypted);
        try {
          in->ReadBytes(buffer1_.data(), n);
        } catch (const EVX_BackupReadError&) {
          throw EVX_BackupReadError(
              "Chyba pri čítaní (predčasný koniec súboru) počas kopirovania súboru do tmp "
              "súboru");
        }
        if (keep) out->WriteBytes(buffer1_.data(), n);
        BlockRead();
      }
      ReportFileRead(stat, fileList_[i]);
    }
    readStat_ = nullptr;
    out->Close();
    set.Close();
    out.reset();
    fileList_ = kept;

    if (replace) {
      struct stat st {};
      if (::stat(setFile.c_str(), &st) == 0) ::chmod(temp->path().c_str(), st.st_mode & 07777);
      if (std::rename(temp->path().c_str(), setFile.c_str()) != 0)
        throw EVX_BackupWriteError("Nemožno nahradiť súbor zálohy");
      temp->Keep();
    } else {
      copyBackStarted = true;
      const std::int64_t size = GetFileSize64(temp->path());
      TArchiveStream back(TStreamMode::Read, temp->path(), false, 0, false, NoQuestion());
      // Written as a backup writes volumes, but the folder is never emptied
      // first: it may hold anything besides this set.
      std::unique_ptr<TArchiveStream> dest = std::make_unique<TArchiveStream>(
          TStreamMode::Write, archivePath, true, MaxSplitSize, false,
          [this](int volumeNo, TReaction& answer) { return AskForDisk(volumeNo, answer); });
      std::int64_t left = size;
      while (left > 0) {
        const std::size_t piece =
            static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(kBlockSize)));
        back.ReadBytes(buffer1_.data(), piece);
        dest->WriteBytes(buffer1_.data(), piece);
        left -= static_cast<std::int64_t>(piece);
      }
      dest->Close();
      back.Close();
      copyBackStarted = false;
      // Volumes of the old, longer set behind the new last one would only
      // confuse whoever looks at the folder: they are no part of the set now.
      for (int n = dest->VolumeNumber() + 1; FileExists(dest->VolumeFileName(n)); ++n)
        std::remove(dest->VolumeFileName(n).c_str());
    }
  } catch (const std::exception& e) {
    result = ResultCodeOf(e, {TFurther::FileWrite, TFurther::UserAbortion, TFurther::WrongMedium,
                              TFurther::FTP});
    if (dynamic_cast<const EVX_Error*>(&e) == nullptr) foreign = std::current_exception();
  }
  readStat_ = nullptr;
  if (copyBackStarted && temp) {
    // The set is incomplete now; the temporary archive is its only whole copy.
    temp->Keep();
    WriteLog("Úplná kópia zálohy zostala v " + temp->path());
  }
  temp.reset();
  if (result == 0) {
    WriteLog("");
    WriteLog("Súbory vymazané " + FormatDateTimeC(NowDateTime()));
  } else {
    WriteLog(ErrorText(result));
  }
  CloseLog();
  if (foreign) std::rethrow_exception(foreign);
  return result;
}

}  // namespace vx
