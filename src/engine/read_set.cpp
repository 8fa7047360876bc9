// Opening a set for reading.
#include "engine/read_set.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "archive/errors.h"
#include "engine/texts.h"
#include "engine/vaultrex.h"
#include "platform/paths.h"
#include "support/path_names.h"
#include "support/utils.h"

namespace vx {

// Reads from a byte source and, while capturing, keeps what it read, so
// that it can be read again from the start of the capture.
class TReplaySource : public TByteSource {
 public:
  explicit TReplaySource(TByteSource& inner) : inner_(inner) {}

  std::size_t Read(void* data, std::size_t count) override {
    auto* out = static_cast<std::uint8_t*>(data);
    std::size_t done = 0;
    if (pos_ < held_.size()) {
      done = std::min(count, held_.size() - pos_);
      std::memcpy(out, held_.data() + pos_, done);
      pos_ += done;
      if (pos_ == held_.size() && !capturing_) {
        held_ = {};
        pos_ = 0;
      }
    }
    if (done < count) {
      const std::size_t got = inner_.Read(out + done, count - done);
      if (capturing_) {
        held_.insert(held_.end(), out + done, out + done + got);
        pos_ = held_.size();
      }
      done += got;
    }
    return done;
  }
  bool Whole() const override { return inner_.Whole(); }
  void FileEnded() override { inner_.FileEnded(); }

  void Capture() {
    capturing_ = true;
    held_.clear();
    pos_ = 0;
  }
  // The captured bytes are read next.
  void Replay() {
    capturing_ = false;
    pos_ = 0;
  }
  std::size_t Held() const { return held_.size(); }

 private:
  TByteSource& inner_;
  std::vector<std::uint8_t> held_;
  std::size_t pos_ = 0;
  bool capturing_ = false;
};

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
  replay_ = std::make_unique<TReplaySource>(*source_);
  reader_ = std::make_unique<TArchiveReader>(*replay_, codec_);
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

void TReadSet::CheckPassword(const std::vector<TDirRecord>& records, const char* noPassword) {
  if (!header_.encrypted) return;
  if (engine_.EncryptKey.empty() && engine_.OnPasswordNeeded) {
    std::string key;
    if (engine_.OnPasswordNeeded(key) && !key.empty()) {
      engine_.EncryptKey = key;
      cipher_.SetKey(key);
      reader_->SetDecodeWorkers(DecodingWorkers(engine_, header_), key);
    }
  }
  if (engine_.EncryptKey.empty()) throw EVX_WrongPassword(noPassword);
  // A tape moves on at the end of each file: what was read stays read.
  if (stream_->IsTape()) return;
  replay_->Capture();
  TKeyVerdict verdict = TKeyVerdict::Unknown;
  try {
    verdict = ProbeKey(records);
  } catch (const EVX_Error&) {
    // Damage, or the end of the set: the run itself meets it and says so.
  }
  replay_->Replay();
  if (verdict == TKeyVerdict::Wrong) throw EVX_WrongPassword(engine_txt::kWrongPassword);
}

// A packed block carries its own check (the zlib stream's): one that
// unpacks proves the password, one that does not disproves it.  A block
// stored unpacked has none, so such files are judged by their checksum once
// their data are read: one that matches proves the password; a few that all
// differ disprove it (one file alone may have changed during its backup).
// At most kMostProbed bytes are looked at; they are held to be read again.
TReadSet::TKeyVerdict TReadSet::ProbeKey(const std::vector<TDirRecord>& records) {
  constexpr std::size_t kMostProbed = std::size_t{16} << 20;
  constexpr int kMostDiffering = 3;
  int differing = 0;
  std::vector<std::uint8_t> stored(kBlockSize);
  const auto judged = [&differing] {
    return differing > 0 ? TKeyVerdict::Wrong : TKeyVerdict::Unknown;
  };
  for (const TDirRecord& r : records) {
    const bool checked = !engine_.NoFileCRCs && r.crc != 0 && r.size != 0;
    std::uint32_t crc = kCrcInit;
    for (;;) {
      std::uint8_t head[kBlockHeaderSize];
      if (replay_->Read(head, sizeof head) != sizeof head) return judged();
      const TBlockHeader header = DecodeBlockHeader(head);
      if (!BlockHeaderValid(header)) return judged();
      if (header.IsEnd()) break;
      const std::size_t onMedium = StoredBytesOnMedium(header.storedLength, true);
      if (replay_->Read(stored.data(), onMedium) != onMedium) return judged();
      const std::uint8_t* raw = nullptr;
      try {
        raw = codec_.Decode(header, stored.data(), onMedium, &cipher_);
      } catch (const EVX_ZipError&) {
        return TKeyVerdict::Wrong;
      }
      if (header.compressed != 0) return TKeyVerdict::Right;
      if (checked) crc = FastCrcUpdate(crc, raw, static_cast<std::size_t>(header.rawLength));
      if (replay_->Held() > kMostProbed) return judged();
    }
    if (!checked) continue;
    if (crc == r.crc) return TKeyVerdict::Right;
    if (++differing == kMostDiffering) return TKeyVerdict::Wrong;
  }
  return judged();
}

}  // namespace vx
