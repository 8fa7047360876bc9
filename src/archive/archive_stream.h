#pragma once
// The only way archive bytes reach their destination: a disk file, a chain of
// numbered volume files, a tape or an FTP server, always in 32,768-byte
// transfer blocks through one buffer.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/erase_target.h"
#include "support/reaction.h"

namespace vx {

// Running statistics of one operation.  The stream raises BytesRead and
// BytesWritten; the engine fills the rest.
struct TExtBackupStatistic {
  std::int32_t PercentDone = 0;
  std::int64_t TotalBytes = 0;
  std::int64_t BytesRead = 0;
  std::int64_t BytesWritten = 0;
  std::int64_t BytesVerified = 0;
  std::int32_t FilesDone = 0;
  std::string CurrentFile;
  std::int64_t CurrentFileSize = 0;
};

// The next-volume question.  Returns false when nobody could be asked (the
// question is switched off and no handler is assigned); answer then keeps its
// preset value and the stream ends the operation instead of asking for ever.
using TNextVolumeAsk = std::function<bool(int volumeNo, TReaction& answer)>;

// A non-disk destination (tape, FTP).  Its errors are raised as engine
// exceptions (EVX_TapeError, EVX_FTPError, EVX_DiskFullError, EVX_BackupReadError).
class TArchiveDestination {
 public:
  virtual ~TArchiveDestination() = default;
  virtual void SendBlock(const std::uint8_t* block, std::size_t len) = 0;
  virtual void FetchBlock(std::uint8_t* block, std::size_t len) = 0;
  // Called once when a written stream closes normally, after the last block.
  virtual void FinishWrite() = 0;
  // Called when the stream is torn down (also after a failure); never throws.
  virtual void Close() noexcept = 0;
  // Tape only.
  virtual bool IsTape() const { return false; }
  virtual void WriteFileMark();
  virtual void SkipFilemarks(int count);
  virtual void Unload();
};

enum class TStreamMode { Write, Read };

class TArchiveStream {
 public:
  // Disk: one file `baseName`, or with span volumes baseName (extension cut)
  // + ".001", ".002" ...  Throws EVX_CreateStreamError when it cannot open.
  // Writing one file goes to a private temporary name in its folder, which
  // Close() renames over `baseName` once every byte is on the disk; volumes
  // are written under their own names.  Files and volumes are created 0600.
  // With eraseTarget the folder's sets and logs of this program go before
  // each volume is created, by the rules of `erase` (erase_target.h).
  TArchiveStream(TStreamMode mode, const std::string& baseName, bool span, std::int64_t sizeLimit,
                 bool eraseTarget, TNextVolumeAsk ask, TEraseRules erase = {});
  // Tape or FTP: the destination is already open.
  TArchiveStream(TStreamMode mode, std::unique_ptr<TArchiveDestination> destination);
  // Tears down without throwing.  A written disk set that was not closed is
  // given up as by Abandon(); a tape or FTP stream still tries to send the
  // pending block.  Call Close() first on the normal path.
  ~TArchiveStream();
  TArchiveStream(const TArchiveStream&) = delete;
  TArchiveStream& operator=(const TArchiveStream&) = delete;

  void WriteBytes(const void* data, std::size_t count);
  void ReadBytes(void* data, std::size_t count);  // throws on any shortage
  void FlushToBlockEnd();
  void WriteTapeFileMark();  // EVX_TapeError "Chyba páskového zariadenia - chýba značka súboru"
  // Writes the last block (when writing) and closes the destination; throws
  // on failure.  On disk every volume is flushed and closed with its errors
  // counted, a one-file set is renamed over its name, and the folder is
  // flushed; when any of it fails, what this stream wrote is removed.
  // Idempotent.
  void Close();
  // The operation failed: on disk, closes and removes what this stream
  // wrote (the temporary file, or the volumes still present that it
  // created), so that no partial set is left to read as complete and an
  // older set of the same name stays.  A tape or FTP stream sends its
  // pending block and closes as Close() does.  Never throws.
  void Abandon() noexcept;

  TExtBackupStatistic Statistic;

  TStreamMode mode() const { return mode_; }
  int VolumeNumber() const { return volume_; }
  bool IsTape() const;
  TArchiveDestination* Destination() { return dest_.get(); }
  // Disk only: the file name of volume n ("base.001"; base itself without span).
  std::string VolumeFileName(int n) const;
  // Reading from disk: false when the first volume is not made of whole
  // transfer blocks (cut short, or no set at all).
  bool FirstVolumeWhole() const { return wholeBlocks_; }

 private:
  void SendBlock();
  void FetchBlock();
  void DiskSend();
  void DiskFetch();
  void OpenDiskVolume(bool first);
  static bool HoldsWholeBlocks(int fd);
  void EraseTarget();
  void NextWriteVolume();
  void NextReadVolume();
  void CloseDiskFile(bool flush);
  void RemoveWritten() noexcept;

  TStreamMode mode_;
  std::string baseName_;
  bool span_ = false;
  std::int64_t sizeLimit_ = 0;
  bool eraseTarget_ = false;
  TNextVolumeAsk ask_;
  int volume_ = 1;
  std::int64_t bytesInVolume_ = 0;
  std::vector<std::uint8_t> buffer_;
  std::size_t pos_ = 0;
  std::size_t avail_ = 0;  // reading: bytes of the current block still unread
  bool pending_ = false;
  bool closed_ = false;
  bool failed_ = false;  // a transfer failed: tearing down sends nothing more
  bool wholeBlocks_ = true;
  int fd_ = -1;
  std::unique_ptr<TArchiveDestination> dest_;
  // Disk writing: the temporary name of a one-file set, and identity of
  // every file this stream created, for removal when the run fails.
  struct TWritten {
    std::string name;
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    std::int64_t size = -1;  // when known: the bytes written to it
  };
  std::string tempName_;
  std::vector<TWritten> written_;
  bool fdRemembered_ = false;  // the open volume is the last of written_
  TEraseRules eraseRules_;
};

}  // namespace vx
