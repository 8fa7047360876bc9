// Catalog, comment and first medium: the small read-side operations, and the
// readers of the archive header and directory that every reading operation
// shares.
#include <array>
#include <cstdint>

#include "archive/errors.h"
#include "engine/vaultrex.h"
#include "platform/paths.h"
#include "support/utils.h"

namespace vx {

void TVaultrex::CheckFirstMedium() {
  // The first volume where the stream opens it: a folder part of the base
  // name is kept (the callers have refused a base name with an extension).
  const std::string first = IncludeBackslash(BackupDestination) + ArchiveBaseName + ".001";
  for (;;) {
    TReaction answer = AW_IGNORE;
    if (FileExists(first)) return;
    // Nobody to ask: looking again would never end.
    if (!AskForDisk(1, answer)) throw EVX_WrongMedium("Nemožno detekovať prvé médium");
    if (answer != AW_IGNORE) throw EVX_WrongMedium("Nemožno detekovať prvé médium");
  }
}

void TVaultrex::ReadArchiveHeader(TArchiveStream& stream, TArchiveHeader& header,
                                  const char* shortMessage, const char* magicMessage) {
  std::array<std::uint8_t, kHeaderSize> raw{};
  try {
    stream.ReadBytes(raw.data(), raw.size());
  } catch (const EVX_BackupReadError&) {
    throw EVX_BackupReadError(shortMessage);
  }
  if (!DecodeHeader(raw.data(), header)) throw EVX_NoProperBackup(magicMessage);
  // A set's volume cut short: what follows cannot be trusted.
  if (!stream.FirstVolumeWhole()) throw EVX_BackupReadError(shortMessage);
}

std::int32_t TVaultrex::ReadDirectory(TArchiveStream& stream) {
  // Nothing of an earlier archive stays in the list, whatever happens below.
  fileList_.clear();
  std::array<std::uint8_t, kRecordSize> raw{};
  try {
    stream.ReadBytes(raw.data(), kCountSize);
  } catch (const EVX_BackupReadError&) {
    throw EVX_BackupReadError("Poškodený zálohový súbor");
  }
  const std::int32_t count = DecodeCount(raw.data());
  if (!PlausibleFileCount(count)) throw EVX_BackupReadError("Poškodený zálohový súbor");
  // A one-file disk archive tells how many records it can hold at most; other
  // destinations are checked record by record as they are read (nothing is
  // reserved in advance, so a forged count costs no memory).
  if (!BackupToTape && !BackupToFTP && !SpanDisks && stream.Destination() == nullptr) {
    const std::int64_t fileSize = GetFileSize64(stream.VolumeFileName(1));
    const std::int64_t needed = static_cast<std::int64_t>(kHeaderSize + kCountSize) +
                                static_cast<std::int64_t>(count) * kRecordSize;
    if (fileSize > 0 && needed > fileSize) throw EVX_BackupReadError("Poškodený zálohový súbor");
  }
  for (std::int32_t i = 0; i < count; ++i) {
    try {
      stream.ReadBytes(raw.data(), kRecordSize);
    } catch (const EVX_BackupReadError&) {
      fileList_.clear();
      throw EVX_BackupReadError("Lesefehler aus Stream");
    }
    // Records are added as they arrive: memory grows only with records
    // really read.  A record no backup writes means the count ran into
    // other bytes.
    fileList_.push_back(DecodeRecord(raw.data()));
    if (!PlausibleRecord(fileList_.back())) {
      fileList_.clear();
      throw EVX_BackupReadError("Poškodený zálohový súbor");
    }
  }
  return count;
}

int TVaultrex::Catalog() {
  // These two reach the caller as exceptions.
  if (!BackupToTape && (BackupDestination.empty() || ArchiveBaseName.empty()))
    throw EVX_ParameterError("Needs backup source to take backup stream from");
  if (!BackupToTape && !BackupToFTP && SpanDisks && HasFileExtension(ArchiveBaseName))
    throw EVX_ParameterError("Pri delení súboru zálohy nesmie byť zadaná koncovka súboru");

  int result = 0;
  // Whatever fails below, nothing of an earlier archive stays in the list.
  fileList_.clear();
  try {
    if (SpanDisks && !BackupToTape && !BackupToFTP) CheckFirstMedium();
    std::unique_ptr<TArchiveStream> stream =
        OpenStream(TStreamMode::Read, IncludeBackslash(BackupDestination) + ArchiveBaseName, 0);
    TArchiveHeader header;
    ReadArchiveHeader(*stream, header, "Porušený zálohový súbor",
                      "Magické číslo nenájdené - vadný formát súboru");
    ReadDirectory(*stream);
    stream->Close();
  } catch (const std::exception& e) {
    // Only the common chain and the FTP error have codes here; everything
    // else, a wrong medium or an abort included, is 99 and stays inside.
    result = ResultCodeOf(e, {TFurther::FTP});
  }
  return result;
}

int TVaultrex::RetrieveComment(std::string& comment) {
  int result = 0;
  try {
    if (!BackupToTape && (BackupDestination.empty() || ArchiveBaseName.empty()))
      throw EVX_ParameterError("Určite kam sa má záloha uložiť");
    if (EncryptData && EncryptKey.empty())
      throw EVX_ParameterError("Chýba heslo pre dešifrovanie");
    if (SpanDisks && HasFileExtension(ArchiveBaseName))
      throw EVX_ParameterError("Pri delení archívu nesmie byť uvedená koncovka súboru");
    if (SpanDisks && !BackupToTape && !BackupToFTP) CheckFirstMedium();
    std::unique_ptr<TArchiveStream> stream =
        OpenStream(TStreamMode::Read, IncludeBackslash(BackupDestination) + ArchiveBaseName, 0);
    TArchiveHeader header;
    ReadArchiveHeader(*stream, header, "Poškodený záložný súbor", "Vadný formát súsboru zálohy");
    stream->Close();
    comment = header.comment;
  } catch (const std::exception& e) {
    result = ResultCodeOf(e, {TFurther::FileWrite, TFurther::UserAbortion, TFurther::WrongMedium,
                              TFurther::FTP});
  }
  return result;
}

}  // namespace vx
