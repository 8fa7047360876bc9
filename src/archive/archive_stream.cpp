// TArchiveStream: the archive bytes in 32,768-byte transfer blocks to and
// from a disk file, a chain of volume files or a TArchiveDestination.
#include "archive/archive_stream.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "archive/erase_target.h"
#include "archive/errors.h"
#include "archive/format.h"
#include "archive/texts.h"
#include "platform/fd.h"
#include "platform/paths.h"
#include "support/path_names.h"

namespace vx {
namespace {

using namespace txt::archive;

// A volume file, replacing an older one of the same name; private to its
// owner like every file of a set.
TFd CreateVolumeFile(const std::string& name) {
  TFd fd = OpenFd(name, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  struct stat st;
  if (fd && ::fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0) {
    (void)::fchmod(fd.Get(), 0600);
  }
  return fd;
}

// Notes a regular file just created, for removal when the run fails; false
// when it is something else (nothing to remove then).
template <typename TList>
bool Remember(int fd, const std::string& name, TList& list) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  list.push_back(
      {name, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)});
  return true;
}

// Makes the folder's entries (a new or renamed file) durable.  Folders that
// cannot be flushed (some network file systems) are taken as flushed.
bool SyncFolder(const std::string& folder) {
  const TFd fd = OpenFd(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY);
  if (!fd) return true;
  return ::fsync(fd.Get()) == 0 || errno == EINVAL || errno == EROFS;
}

// Closes the descriptor held in fd, if any; fd is -1 afterwards.
void CloseHeld(int& fd) { const TFd closing(std::exchange(fd, -1)); }

// Cuts the extension of the file name; a name's leading dot is not one.
std::string CutExtension(const std::string& path) {
  return HasExtension(path) ? RemoveFileExt(path) : path;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace

// Defaults for destinations that are not tapes.
void TArchiveDestination::WriteFileMark() { throw EVX_TapeError(kFileMark); }
void TArchiveDestination::SkipFilemarks(int) { throw EVX_TapeError(kOtherTapeError); }
void TArchiveDestination::Unload() { throw EVX_TapeError(kOtherTapeError); }

TArchiveStream::TArchiveStream(TStreamMode mode, const std::string& baseName, bool span,
                               std::int64_t sizeLimit, bool eraseTarget, TNextVolumeAsk ask,
                               std::vector<std::string> keepOnErase)
    : mode_(mode),
      baseName_(span ? CutExtension(baseName) : baseName),
      span_(span),
      sizeLimit_(mode == TStreamMode::Read ? 0 : sizeLimit),
      eraseTarget_(eraseTarget),
      ask_(std::move(ask)),
      buffer_(kBlockSize, 0),
      keepOnErase_(std::move(keepOnErase)) {
  OpenDiskVolume(true);
}

TArchiveStream::TArchiveStream(TStreamMode mode, std::unique_ptr<TArchiveDestination> destination)
    : mode_(mode), buffer_(kBlockSize, 0), dest_(std::move(destination)) {
  if (!dest_) throw EVX_CreateStreamError(kCannotCreate);
}

TArchiveStream::~TArchiveStream() {
  if (closed_) return;
  if (mode_ == TStreamMode::Write && !dest_) {
    Abandon();
    return;
  }
  closed_ = true;
  if (mode_ == TStreamMode::Write && pending_ && !failed_) {
    try {
      std::memset(buffer_.data() + pos_, 0, kBlockSize - pos_);
      SendBlock();
    } catch (...) {
      // Nothing more can be done while tearing down.
    }
  }
  CloseHeld(fd_);
  if (dest_) dest_->Close();
}

bool TArchiveStream::IsTape() const { return dest_ && dest_->IsTape(); }

std::string TArchiveStream::VolumeFileName(int n) const {
  if (!span_) return baseName_;
  char num[16];
  std::snprintf(num, sizeof num, "%03d", n);
  return baseName_ + "." + num;
}

void TArchiveStream::OpenDiskVolume(bool first) {
  const std::string name = VolumeFileName(volume_);
  if (mode_ == TStreamMode::Write) {
    const std::string folder = ExtractFilePath(baseName_);
    if (first && !folder.empty() && !ForceDirectories(folder))
      throw EVX_CreateStreamError(WithReason(kCannotCreate, folder, errno));
    if (eraseTarget_) EraseTarget();
    if (span_) {
      fd_ = CreateVolumeFile(name).Release();
    } else {
      // A private name beside the set: an older set of the same name stays
      // whole until this one is complete on the disk.
      std::string templ = ExtractFilePath(baseName_) + "." + ExtractFileName(baseName_) + ".XXXXXX";
      fd_ = ::mkostemp(templ.data(), O_CLOEXEC);  // 0600
      if (fd_ >= 0) tempName_ = templ;
    }
    if (fd_ >= 0) fdRemembered_ = Remember(fd_, span_ ? name : tempName_, written_);
  } else {
    fd_ = OpenFd(name, O_RDONLY).Release();
  }
  if (fd_ < 0) {
    // A set to be read that cannot be opened is no set that cannot be made.
    const bool create = first && mode_ == TStreamMode::Write;
    throw EVX_CreateStreamError(
        WithReason(create ? kCannotCreate : kCannotOpenVolume, name, errno));
  }
  bytesInVolume_ = 0;
  if (mode_ == TStreamMode::Read) wholeBlocks_ = HoldsWholeBlocks(fd_);
}

// Every volume a stream writes holds whole transfer blocks; one that does not
// was cut or is no volume of a set at all.
bool TArchiveStream::HoldsWholeBlocks(int fd) {
  struct stat st;
  return ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
         st.st_size % static_cast<off_t>(kBlockSize) == 0;
}

void TArchiveStream::RemoveWritten() noexcept {
  if (fd_ >= 0) {
    CloseHeld(fd_);
    if (span_ && fdRemembered_) written_.back().size = bytesInVolume_;
  }
  for (const TWritten& w : written_) {
    // Only the very file this stream created: a file put there since, or a
    // link in its place, stays.
    struct stat st;
    if (::lstat(w.name.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<std::uint64_t>(st.st_dev) == w.dev &&
        static_cast<std::uint64_t>(st.st_ino) == w.ino && (w.size < 0 || st.st_size == w.size)) {
      ::unlink(w.name.c_str());
    }
  }
  written_.clear();
  tempName_.clear();
}

void TArchiveStream::Abandon() noexcept {
  if (closed_) return;
  if (mode_ == TStreamMode::Write && !dest_) {
    closed_ = true;
    failed_ = true;
    RemoveWritten();
    return;
  }
  try {
    Close();
  } catch (...) {
    // The run has failed already; this is the last attempt.
  }
}

// Deletes the regular files of the target folder, never in "/".  Volumes this
// stream has already written there (a size-limited set keeps all its volumes
// in one folder) are kept: deleting them would destroy the set being written.
void TArchiveStream::EraseTarget() {
  const TEraseListing listing =
      ListErasable(baseName_, keepOnErase_, [this](const std::string& name) {
        for (int v = 1; v < volume_; ++v) {
          const std::string volume = VolumeFileName(v);
          if (volume.compare(volume.rfind('/') + 1, std::string::npos, name) == 0) return true;
        }
        return false;
      });
  if (listing.folder.empty()) return;
  const TFd dir = OpenFd(listing.folder, O_RDONLY | O_DIRECTORY);
  if (!dir) return;
  for (const auto& name : listing.names) ::unlinkat(dir.Get(), name.c_str(), 0);
}

void TArchiveStream::WriteBytes(const void* data, std::size_t count) {
  Statistic.BytesWritten += static_cast<std::int64_t>(count);
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (count > 0) {
    std::size_t piece = std::min(count, kBlockSize - pos_);
    std::memcpy(buffer_.data() + pos_, p, piece);
    pos_ += piece;
    p += piece;
    count -= piece;
    pending_ = true;
    if (pos_ == kBlockSize) SendBlock();
  }
}

void TArchiveStream::ReadBytes(void* data, std::size_t count) {
  auto* p = static_cast<std::uint8_t*>(data);
  std::size_t left = count;
  while (left > 0) {
    if (avail_ == 0) FetchBlock();
    std::size_t piece = std::min(left, avail_);
    std::memcpy(p, buffer_.data() + pos_, piece);
    pos_ += piece;
    avail_ -= piece;
    p += piece;
    left -= piece;
  }
  Statistic.BytesRead += static_cast<std::int64_t>(count);
}

void TArchiveStream::FlushToBlockEnd() {
  if (mode_ == TStreamMode::Write) {
    if (pending_) {
      Statistic.BytesWritten += static_cast<std::int64_t>(kBlockSize - pos_);
      std::memset(buffer_.data() + pos_, 0xFF, kBlockSize - pos_);
      SendBlock();
    }
  } else {
    avail_ = 0;
    pos_ = 0;
  }
  std::memset(buffer_.data(), 0xFF, kBlockSize);
}

void TArchiveStream::WriteTapeFileMark() {
  if (mode_ != TStreamMode::Write || !IsTape()) throw EVX_TapeError(kFileMark);
  try {
    dest_->WriteFileMark();
  } catch (const EVX_TapeError&) {
    throw;
  } catch (...) {
    throw EVX_TapeError(kFileMark);
  }
}

void TArchiveStream::Close() {
  if (closed_) return;
  closed_ = true;
  const bool diskWrite = mode_ == TStreamMode::Write && !dest_;
  try {
    if (mode_ == TStreamMode::Write && pending_ && !failed_) {
      // The unused end of the last block is not significant: zeros.
      std::memset(buffer_.data() + pos_, 0, kBlockSize - pos_);
      SendBlock();
    }
    if (fd_ >= 0) CloseDiskFile(mode_ == TStreamMode::Write);
    if (diskWrite) {
      if (failed_) throw EVX_BackupWriteError(kWriteIo);
      // The whole set is on the disk: now it may take the set's name.
      if (!span_ && ::rename(tempName_.c_str(), baseName_.c_str()) != 0) {
        throw EVX_BackupWriteError(kWriteIo);
      }
      if (!span_) written_.clear();  // the name is the set's now, never removed
      if (!SyncFolder(ExtractFilePath(baseName_))) throw EVX_BackupWriteError(kWriteIo);
      written_.clear();
      tempName_.clear();
    }
    if (dest_ && mode_ == TStreamMode::Write) dest_->FinishWrite();
  } catch (...) {
    CloseHeld(fd_);
    if (diskWrite) RemoveWritten();
    if (dest_) dest_->Close();
    throw;
  }
  if (dest_) dest_->Close();
}

void TArchiveStream::CloseDiskFile(bool flush) {
  TFd fd(std::exchange(fd_, -1));
  int err = 0;
  if (flush && ::fsync(fd.Get()) != 0 && errno != EINVAL && errno != EROFS) err = errno;
  const int closeErr = fd.Close();
  if (flush && err == 0) err = closeErr;
  if (err != 0) {
    failed_ = true;
    if (err == ENOSPC || err == EDQUOT) throw EVX_DiskFullError(kDiskFull);
    throw EVX_BackupWriteError(kWriteIo);
  }
}

void TArchiveStream::SendBlock() {
  try {
    if (dest_) {
      dest_->SendBlock(buffer_.data(), kBlockSize);
      pos_ = 0;
      pending_ = false;
      if (dest_->IsTape()) std::memset(buffer_.data(), 0xFF, kBlockSize);
    } else {
      DiskSend();
    }
  } catch (...) {
    failed_ = true;
    throw;
  }
}

void TArchiveStream::FetchBlock() {
  if (dest_) {
    dest_->FetchBlock(buffer_.data(), kBlockSize);
  } else {
    DiskFetch();
  }
  pos_ = 0;
  avail_ = kBlockSize;
}

// A volume takes blocks while it holds less than the size limit; a block is
// never split between volumes.
void TArchiveStream::DiskSend() {
  for (;;) {
    bool written = false;
    if (fd_ >= 0 && (sizeLimit_ == 0 || bytesInVolume_ < sizeLimit_)) {
      const TIoResult r = WriteAll(fd_, buffer_.data(), kBlockSize);
      written = r.Complete();
      // A partly written block is cut off again: the volume ends with whole
      // blocks and the block goes to the next volume complete.  A volume
      // that cannot be cut would keep the torn block: that is a write error.
      if (!written && r.done > 0 && ::ftruncate(fd_, bytesInVolume_) != 0)
        throw EVX_BackupWriteError(kWriteIo);
    }
    if (written) {
      bytesInVolume_ += static_cast<std::int64_t>(kBlockSize);
      pos_ = 0;
      pending_ = false;
      return;
    }
    if (!span_) throw EVX_DiskFullError(kDiskFull);
    NextWriteVolume();
  }
}

// Ends the current volume and opens the next one for writing.  When nobody
// can be asked, the cases that would otherwise repeat without end (the disk
// was not changed, or a fresh volume cannot take a single block) end with the
// disk-full error.
void TArchiveStream::NextWriteVolume() {
  const bool freshVolumeFailed = fd_ >= 0 && bytesInVolume_ == 0;
  // A volume that cannot be flushed or closed is lost: the run ends with
  // the write error instead of going on as if it were safe.
  if (fd_ >= 0) {
    if (fdRemembered_) written_.back().size = bytesInVolume_;
    CloseDiskFile(true);
  }
  if (!SyncFolder(ExtractFilePath(baseName_))) {
    failed_ = true;
    throw EVX_BackupWriteError(kWriteIo);
  }
  ++volume_;
  for (;;) {
    TReaction answer = AW_IGNORE;
    const bool asked = ask_ ? ask_(volume_, answer) : false;
    if (answer == AW_ABORT) throw EVX_UserAbortion(kUserAbort);
    if (!asked && (answer == AW_RETRY || freshVolumeFailed)) throw EVX_DiskFullError(kDiskFull);
    if (answer == AW_RETRY) continue;
    if (sizeLimit_ == 0 && Exists(VolumeFileName(volume_ - 1))) {
      // The previous volume is still there: the disk was not changed.
      if (!asked) throw EVX_DiskFullError(kDiskFull);
      continue;
    }
    if (eraseTarget_) EraseTarget();
    fd_ = CreateVolumeFile(VolumeFileName(volume_)).Release();
    if (fd_ < 0) throw EVX_CreateStreamError(kCannotOpenVolume);
    fdRemembered_ = Remember(fd_, VolumeFileName(volume_), written_);
    bytesInVolume_ = 0;
    return;
  }
}

void TArchiveStream::DiskFetch() {
  for (;;) {
    if (fd_ >= 0) {
      const TIoResult r = ReadAll(fd_, buffer_.data(), kBlockSize);
      if (r.Failed())
        throw EVX_BackupReadError(WithReason(kReadIo, VolumeFileName(volume_), r.error));
      if (r.Complete()) return;
    }
    if (!span_) throw EVX_BackupReadError(kEarlyEnd);
    // The volume has ended; its partial bytes are discarded.
    NextReadVolume();
  }
}

// Opens the next volume for reading.  A volume present on the disk is opened
// without a question.  When nobody can be asked and the volume cannot be
// opened, the read ends with the cannot-open error of a volume instead of
// asking for ever.
void TArchiveStream::NextReadVolume() {
  CloseHeld(fd_);
  ++volume_;
  for (;;) {
    const std::string name = VolumeFileName(volume_);
    TReaction answer = AW_IGNORE;
    bool asked = true;
    if (!Exists(name)) asked = ask_ ? ask_(volume_, answer) : false;
    if (answer == AW_ABORT) throw EVX_UserAbortion(kUserAbort);
    if (!Exists(name) && Exists(VolumeFileName(volume_ - 1))) {
      if (!asked) throw EVX_CreateStreamError(WithReason(kCannotOpenVolume, name, ENOENT));
      continue;
    }
    fd_ = OpenFd(name, O_RDONLY).Release();
    if (fd_ >= 0) {
      // The first volume was found to be a set's; a later one cut short is
      // damage.
      if (!HoldsWholeBlocks(fd_)) throw EVX_BackupReadError(kEarlyEnd);
      return;
    }
    if (!asked) throw EVX_CreateStreamError(WithReason(kCannotOpenVolume, name, errno));
  }
}

}  // namespace vx
