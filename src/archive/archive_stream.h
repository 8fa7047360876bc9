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
#include "archive/format.h"
#include "platform/fd.h"
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

// Named points in the life of a disk set being written, where a test may
// stop the run (throw, or end the process): "volume-synced" (a volume is
// flushed, n its number), "volume-renamed" (it took its name),
// "set-committed" (the whole set has its name and the folder is flushed).
// The engine adds its own points.  No hook is set outside tests.
using TStreamTestHook = void (*)(const char* point, int n);
void SetStreamTestHook(TStreamTestHook hook);
void StreamTestPoint(const char* point, int n);

class TArchiveStream {
 public:
  // Disk: one file `baseName`, or with span volumes baseName (extension cut)
  // + ".001", ".002" ...  Throws EVX_CreateStreamError when it cannot open.
  // Writing goes to private temporary names in the set's folder (".NAME.XXXXXX"
  // for one file, ".NAME.001.XXXXXX" ... for volumes), each locked (flock)
  // while this stream owns it.  Volumes cut at a size limit all take their
  // names at Commit(), once every one is on the disk; volumes spread over
  // changed disks (no size limit) each take their name when flushed, before
  // the next disk is asked for.  Every volume ends with the trailer of
  // format.h, carrying this run's random set identity.  Files and volumes
  // are created 0600.  Before it writes, the stream removes stale temporary
  // files of the same set that no running writer holds (see Leftovers()).
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
  // Finish() then Commit().  Idempotent.
  void Close();
  // Writes the last block (when writing) and makes every byte durable: on
  // disk each volume is flushed and closed with its errors counted, still
  // under its temporary name; a tape or FTP destination finishes its write.
  // Nothing of an older set has been touched yet (but volumes on earlier,
  // changed disks).  On failure what this stream wrote is removed.
  void Finish();
  // The point of no return: on disk the one-file set, or every volume (the
  // last first, volume 1 last), is renamed over its name, the folder is
  // flushed, and volumes of an older, longer chain in the same folder are
  // removed.  Closes the destination.  Calls Finish() when it was not.
  void Commit();
  // The set has its name (Commit() got past its renames).
  bool Committed() const { return committed_; }
  // Stale temporary files of this set removed when the stream opened.
  const std::vector<std::string>& Leftovers() const { return leftovers_; }
  // Writing volumes to a file system with a file-size limit of its own
  // (FAT: 4 GiB - 1): the most bytes a volume holds there, or 0.  A set of
  // volumes cut at a bigger size, or at none, is cut at this one; without a
  // size limit the volumes still go on changed disks when a disk is full,
  // and each volume that reaches the cap is followed by the next one on the
  // same disk without a question.  A one-file set that would pass the limit
  // ends with a write error that says so.
  std::int64_t VolumeCap() const { return volumeCap_; }
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
  void NextWriteVolume(bool sameDisk = false);
  void ApplyFileSizeLimit();
  void NextReadVolume();
  void CloseDiskFile(bool flush);
  void RemoveWritten() noexcept;
  int CreateTempVolume();
  void WriteCarry();
  bool DropOlderVolume();
  void WriteTrailer();
  void EndWriteVolume(bool last);
  void RenameVolume(std::size_t index);
  void CheckReadVolume(const std::string& name);
  void CleanLeftovers();
  bool DiskWrite() const { return mode_ == TStreamMode::Write && !dest_; }

  TStreamMode mode_;
  std::string baseName_;
  bool span_ = false;
  std::int64_t sizeLimit_ = 0;
  std::int64_t volumeCap_ = 0;  // see VolumeCap()
  std::int64_t fileCap_ = 0;    // a one-file set: the most whole blocks it may hold
  bool eraseTarget_ = false;
  TNextVolumeAsk ask_;
  int volume_ = 1;
  std::int64_t bytesInVolume_ = 0;
  std::vector<std::uint8_t> buffer_;
  std::size_t pos_ = 0;
  std::size_t avail_ = 0;  // reading: bytes of the current block still unread
  bool pending_ = false;
  bool closed_ = false;
  bool finished_ = false;
  bool committed_ = false;
  bool failed_ = false;  // a transfer failed: tearing down sends nothing more
  bool wholeBlocks_ = true;
  int fd_ = -1;
  std::unique_ptr<TArchiveDestination> dest_;
  // Disk writing: the temporary name of a one-file set, and identity of
  // every file this stream created, for removal when the run fails.
  struct TWritten {
    std::string name;  // where it is now: its temporary name, then its own
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    std::int64_t size = -1;  // when known: the bytes written to it
    std::string finalName;   // the set's name for it
    bool renamed = false;
  };
  std::string tempName_;
  std::vector<TWritten> written_;
  bool fdRemembered_ = false;  // the open volume is the last of written_
  TEraseRules eraseRules_;
  // Writing volumes: the random part of every temporary name of this run,
  // the run's set identity, a block taken back from a full volume to make
  // room for its trailer (it opens the next volume), and whether the open
  // volume's trailer is written.
  std::string tag_;
  TSetIdentity setId_{};
  std::vector<std::uint8_t> carry_;
  bool trailerDone_ = false;
  // Reading volumes: the first volume's identity, when it has one.
  bool firstHasId_ = false;
  TSetIdentity firstId_{};
  // Locks held until the set is committed or given up: the first temporary
  // file (its lock stands for the whole run) and the last volume.
  TFd runLock_;
  TFd lastLock_;
  std::vector<std::string> leftovers_;
};

}  // namespace vx
