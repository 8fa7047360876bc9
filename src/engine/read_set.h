#pragma once
// Opening a set for reading, the one way every reading operation starts:
// its settings checked, the first medium present, the stream opened, the
// header and (when asked) the directory read through the archive reader.
// The object owns what the read needs: stream, codec and cipher.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/archive_stream.h"
#include "archive/block_codec.h"
#include "archive/crypto.h"
#include "archive/format.h"
#include "platform/set_lock.h"

namespace vx {

class TVaultrex;
class TReplaySource;

// The checks of a reading operation's settings and their texts, in the
// order they are made; a null text skips its check.
struct TReadChecks {
  const char* noPlace = nullptr;        // no destination or base name (disk, FTP)
  const char* noPassword = nullptr;     // EncryptData without a password
  const char* extension = nullptr;      // a split disk set's base name with an extension
  const char* shortPassword = nullptr;  // a password shorter than kMinPasswordBytes
};

// Throws EVX_ParameterError (EVX_WrongPassword for a short password) for the
// first setting the checks refuse.
void CheckReadSettings(const TVaultrex& engine, const TReadChecks& checks);

// How many threads decode the data blocks of a reading operation while the
// caller's thread writes or compares: 0 when the caller's thread does
// (BackupThreads 1, or an archive neither packed nor enciphered), else the
// workers to start.  BackupThreads 0 takes $VAULTIX_BACKUP_THREADS, else the
// number of processors, as a backup does.
int DecodingWorkers(const TVaultrex& settings, const TArchiveHeader& header);

class TReadSet {
 public:
  explicit TReadSet(TVaultrex& engine);
  ~TReadSet();
  TReadSet(const TReadSet&) = delete;
  TReadSet& operator=(const TReadSet&) = delete;

  // Opens the set and reads its header.  With firstMedium a split disk set's
  // first volume must be there (the question for it is asked) before the
  // stream opens.
  // The set's lock is taken first (shared: readers never see a set being
  // written or replaced; a delete, which rewrites it, takes it exclusive).
  void Open(const THeaderTexts& texts, bool firstMedium = true, TLockKind lock = TLockKind::Shared);
  // Reads the directory into records (emptied on failure).
  std::int32_t ReadDirectory(std::vector<TDirRecord>& records);
  // Before the first file's data are used: an encrypted set needs a
  // password (asked through OnPasswordNeeded when EncryptKey is empty;
  // without one, EVX_WrongPassword(noPassword)), and a wrong one is found on
  // the first data blocks (EVX_WrongPassword): a packed block that does not
  // unpack, or files whose checksums all differ.  The blocks looked at are
  // read again by the run.  Not on tape, where only the key is asked for.
  void CheckPassword(const std::vector<TDirRecord>& records, const char* noPassword);

  const TArchiveHeader& Header() const { return header_; }
  TArchiveStream& Stream() { return *stream_; }
  TArchiveReader& Reader() { return *reader_; }
  // Closes the stream; throws when closing fails.
  void Close() { stream_->Close(); }

 private:
  void CheckFirstMedium() const;
  enum class TKeyVerdict { Right, Wrong, Unknown };
  TKeyVerdict ProbeKey(const std::vector<TDirRecord>& records);

  TVaultrex& engine_;
  TFileLock lock_;
  TBlockCodec codec_;
  TBlowFish cipher_;
  std::unique_ptr<TArchiveStream> stream_;
  std::unique_ptr<TStreamByteSource> source_;
  std::unique_ptr<TReplaySource> replay_;  // over source_: the probed bytes again
  std::unique_ptr<TArchiveReader> reader_;
  TArchiveHeader header_;
};

}  // namespace vx
