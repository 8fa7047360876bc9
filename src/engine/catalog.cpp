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

namespace {

bool HasDot(const std::string& s) { return s.find('.') != std::string::npos; }

}  // namespace

void TVaultrex::CheckFirstMedium() {
  const std::string first =
      IncludeBackslash(BackupDestination) + ExtractFileName(ArchiveBaseName) + ".001";
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
}

std::int32_t TVaultrex::ReadDirectory(TArchiveStream& stream) {
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
  fileList_.clear();
  for (std::int32_t i = 0; i < count; ++i) {
    try {
      stream.ReadBytes(raw.data(), kRecordSize);
    } catch (const EVX_BackupReadError&) {
      throw EVX_BackupReadError("Lesefehler aus Stream");
    }
    fileList_.push_back(DecodeRecord(raw.data()));
  }
  return count;
}

int TVaultrex::Catalog() {
  // These two reach the caller as exceptions.
  if (!BackupToTape && (BackupDestination.empty() || ArchiveBaseName.empty()))
    throw EVX_ParameterError("Needs backup source to take backup stream from");
  if (!BackupToTape && !BackupToFTP && SpanDisks && HasDot(ArchiveBaseName))
    throw EVX_ParameterError("Pri delení súboru zálohy nesmie byť zadaná koncovka súboru");

  int result = 0;
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
    if (SpanDisks && HasDot(ArchiveBaseName))
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
