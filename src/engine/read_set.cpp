// Opening a set for reading.
#include "engine/read_set.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "archive/errors.h"
#include "engine/texts.h"
#include "engine/vaultrex.h"
#include "platform/paths.h"
#include "support/path_names.h"
#include "support/utils.h"

namespace vx {

void CheckReadSettings(const TVaultrex& engine, const TReadChecks& checks) {
  const bool disk = !engine.BackupToTape && !engine.BackupToFTP;
  if (checks.noPlace != nullptr && !engine.BackupToTape &&
      (engine.BackupDestination.empty() || engine.ArchiveBaseName.empty()))
    throw EVX_ParameterError(checks.noPlace);
  if (checks.noPassword != nullptr && engine.EncryptData && engine.EncryptKey.empty())
    throw EVX_ParameterError(checks.noPassword);
  // A tape ignores the base name and a server's set loses the extension:
  // only a split set on disk cannot have one.
  if (checks.extension != nullptr && disk && engine.SpanDisks &&
      HasFileExtension(engine.ArchiveBaseName))
    throw EVX_ParameterError(checks.extension);
  if (checks.shortPassword != nullptr && engine.EncryptData &&
      engine.EncryptKey.size() < kMinPasswordBytes)
    throw EVX_WrongPassword(checks.shortPassword);
}

TReadSet::TReadSet(TVaultrex& engine) : engine_(engine) {}

TReadSet::~TReadSet() = default;

void TReadSet::CheckFirstMedium() const {
  // The first volume where the stream opens it: a folder part of the base
  // name is kept (the callers have refused a base name with an extension).
  const std::string first =
      WithTrailingSlash(engine_.BackupDestination) + engine_.ArchiveBaseName + ".001";
  for (;;) {
    TReaction answer = AW_IGNORE;
    if (FileExists(first)) return;
    // Nobody to ask: looking again would never end.
    if (!engine_.AskForDisk(1, answer) || answer != AW_IGNORE)
      throw EVX_WrongMedium(engine_txt::kNoFirstMedium);
  }
}

int DecodingWorkers(const TVaultrex& settings, const TArchiveHeader& header) {
  // Nothing to unpack or decipher: copying blocks is no work for a thread
  // of its own.
  if (settings.BackupThreads == 0 && !header.compressed && !header.encrypted) return 0;
  const int threads = settings.ThreadsWanted();
  return threads <= 1 ? 0 : std::min(threads, 64);
}

void TReadSet::Open(const THeaderTexts& texts, bool firstMedium, TLockKind lock) {
  const bool disk = !engine_.BackupToTape && !engine_.BackupToFTP;
  lock_ = engine_.LockSet(lock);
  if (firstMedium && engine_.SpanDisks && disk) CheckFirstMedium();
  stream_ = engine_.OpenStream(
      TStreamMode::Read, WithTrailingSlash(engine_.BackupDestination) + engine_.ArchiveBaseName, 0);
  source_ = std::make_unique<TStreamByteSource>(*stream_);
  reader_ = std::make_unique<TArchiveReader>(*source_, codec_);
  header_ = reader_->ReadHeader(texts);
  if (header_.encrypted) {
    cipher_.SetKey(engine_.EncryptKey);
    reader_->SetCipher(&cipher_);
  }
  reader_->SetDecodeWorkers(DecodingWorkers(engine_, header_),
                            header_.encrypted ? engine_.EncryptKey : std::string());
}

std::int32_t TReadSet::ReadDirectory(std::vector<TDirRecord>& records) {
  // A one-file disk set tells how many records it can hold at most; other
  // destinations are checked record by record as they are read.
  const bool oneFile = !engine_.BackupToTape && !engine_.BackupToFTP && !engine_.SpanDisks &&
                       stream_->Destination() == nullptr;
  const std::int64_t size = oneFile ? GetFileSize64(stream_->VolumeFileName(1)) : -1;
  return reader_->ReadDirectory(records, size);
}

}  // namespace vx
