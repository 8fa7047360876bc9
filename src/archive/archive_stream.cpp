// TArchiveStream: the archive bytes in 32,768-byte transfer blocks to and
// from a disk file, a chain of volume files or a TArchiveDestination.
#include "archive/archive_stream.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
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
#include "platform/mount_points.h"
#include "platform/paths.h"
#include "support/path_names.h"

namespace vx {
namespace {

using namespace txt::archive;

TStreamTestHook testHook = nullptr;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

// Takes the lock a writer holds on its temporary files; a file another
// process holds is not taken.
bool TryLock(int fd) { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; }

// "abc123": the six characters mkostemp puts in place of "XXXXXX".
bool IsTempTag(const std::string& s) {
  if (s.size() != 6) return false;
  for (const char c : s) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0) return false;
  }
  return true;
}

bool AllDigits(const std::string& s) {
  if (s.size() < 3) return false;
  for (const char c : s) {
    if (std::isdigit(static_cast<unsigned char>(c)) == 0) return false;
  }
  return true;
}

// Notes a regular file just created, for removal when the run fails; false
// when it is something else (nothing to remove then).
template <typename TList>
bool Remember(int fd, const std::string& name, TList& list) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  auto& w = list.emplace_back();
  w.name = name;
  w.dev = static_cast<std::uint64_t>(st.st_dev);
  w.ino = static_cast<std::uint64_t>(st.st_ino);
  return true;
}

// Makes the folder's entries (a new or renamed file) durable.  Folders that
// cannot be flushed (some network file systems) are taken as flushed.
bool SyncFolder(const std::string& folder) {
  const TFd fd = OpenFd(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY);
  if (!fd) return true;
  return ::fsync(fd.Get()) == 0 || errno == EINVAL || errno == EROFS;
}

// A volume is read only when it is a regular file: a FIFO in its place would
// wait for a writer for ever, a device would never end.  -1 otherwise.
int OpenVolumeForReading(const std::string& name) {
  TOpenResult opened = OpenRegularForReading(name);
  return opened.status == TOpenStatus::kOpened ? opened.fd.Release() : -1;
}

// Closes the descriptor held in fd, if any; fd is -1 afterwards.
void CloseHeld(int& fd) { const TFd closing(std::exchange(fd, -1)); }

// Cuts the extension of the file name; a name's leading dot is not one.
std::string CutExtension(const std::string& path) {
  return HasExtension(path) ? RemoveFileExt(path) : path;
}

constexpr auto kTrailerBytes = static_cast<std::int64_t>(kVolumeTrailerSize);

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace

void SetStreamTestHook(TStreamTestHook hook) { testHook = hook; }

void StreamTestPoint(const char* point, int n) {
  if (testHook != nullptr) testHook(point, n);
}

// Defaults for destinations that are not tapes.
void TArchiveDestination::WriteFileMark() { throw EVX_TapeError(kFileMark); }
void TArchiveDestination::SkipFilemarks(int) { throw EVX_TapeError(kOtherTapeError); }
void TArchiveDestination::Unload() { throw EVX_TapeError(kOtherTapeError); }

TArchiveStream::TArchiveStream(TStreamMode mode, const std::string& baseName, bool span,
                               std::int64_t sizeLimit, bool eraseTarget, TNextVolumeAsk ask,
                               TEraseRules erase)
    : mode_(mode),
      baseName_(span ? CutExtension(baseName) : baseName),
      span_(span),
      sizeLimit_(mode == TStreamMode::Read ? 0 : sizeLimit),
      eraseTarget_(eraseTarget),
      ask_(std::move(ask)),
      buffer_(kBlockSize, 0),
      eraseRules_(std::move(erase)) {
  if (mode_ == TStreamMode::Write && span_ &&
      ::getrandom(setId_.data(), setId_.size(), 0) != static_cast<ssize_t>(setId_.size())) {
    throw EVX_CreateStreamError(kCannotCreate);
  }
  if (mode_ == TStreamMode::Write) ApplyFileSizeLimit();
  OpenDiskVolume(true);
}

// The whole blocks (and a volume's trailer) that fit below the file system's
// file-size limit.
void TArchiveStream::ApplyFileSizeLimit() {
  const std::uint64_t limit = FileSizeLimitOf(ExtractFilePath(baseName_));
  if (limit == 0) return;
  const auto block = static_cast<std::uint64_t>(kBlockSize);
  const std::uint64_t room =
      span_ ? limit - std::min<std::uint64_t>(limit, kVolumeTrailerSize) : limit;
  const auto cap = static_cast<std::int64_t>(room / block * block);
  if (!span_) {
    fileCap_ = cap;
  } else if (sizeLimit_ == 0) {
    volumeCap_ = cap;
  } else if (sizeLimit_ > cap) {
    sizeLimit_ = cap;
    volumeCap_ = cap;
  }
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
    // The folder is there already: whether a missing one may be created is
    // the caller's decision (it could be an empty mount point).
    if (first && !folder.empty() && !DirectoryExists(folder)) {
      struct stat st {};
      const int err = ::stat(folder.c_str(), &st) != 0 ? errno : ENOTDIR;
      throw EVX_CreateStreamError(WithReason(kCannotCreate, folder, err));
    }
    if (first) CleanLeftovers();
    if (eraseTarget_) EraseTarget();
    fd_ = CreateTempVolume();
  } else {
    fd_ = OpenVolumeForReading(name);
  }
  if (fd_ < 0) {
    // A set to be read that cannot be opened is no set that cannot be made.
    const bool create = first && mode_ == TStreamMode::Write;
    throw EVX_CreateStreamError(
        WithReason(create ? kCannotCreate : kCannotOpenVolume, name, errno));
  }
  bytesInVolume_ = 0;
  if (mode_ == TStreamMode::Read) {
    wholeBlocks_ = HoldsWholeBlocks(fd_);
    if (span_ && wholeBlocks_) CheckReadVolume(name);
  }
}

// A private name beside the set, so that an older set of the same name stays
// whole until this one is complete on the disk: ".NAME.XXXXXX" for one file,
// ".NAME.001.XXXXXX" for the first volume and the same random part for the
// later ones.  The file is locked while this stream owns it.
int TArchiveStream::CreateTempVolume() {
  const std::string folder = ExtractFilePath(baseName_);
  const std::string name = VolumeFileName(volume_);
  TFd fd;
  std::string temp;
  if (tag_.empty()) {
    temp = folder + "." + ExtractFileName(name) + ".XXXXXX";
    fd.Reset(::mkostemp(temp.data(), O_CLOEXEC));  // 0600, never through a link
    if (fd) tag_ = temp.substr(temp.size() - 6);
  } else {
    temp = folder + "." + ExtractFileName(name) + "." + tag_;
    fd = OpenFd(temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
  }
  if (!fd) return -1;
  (void)TryLock(fd.Get());
  // The first file's lock stands for the whole run, also once it is closed.
  if (!runLock_) runLock_.Reset(::fcntl(fd.Get(), F_DUPFD_CLOEXEC, 0));
  if (!span_) tempName_ = temp;
  fdRemembered_ = Remember(fd.Get(), temp, written_);
  if (fdRemembered_) written_.back().finalName = name;
  trailerDone_ = false;
  return fd.Release();
}

// A later volume must be of the same run as the first: volumes of two runs
// (an older chain partly replaced, a disk of another week) never read as one
// set.  Volumes written before sets had an identity have none; an empty
// volume holds nothing to mix up.
void TArchiveStream::CheckReadVolume(const std::string& name) {
  struct stat st;
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return;
  const auto rest = static_cast<std::size_t>(st.st_size % static_cast<off_t>(kBlockSize));
  TVolumeTrailer t;
  bool hasId = false;
  if (rest == kVolumeTrailerSize) {
    std::uint8_t bytes[kVolumeTrailerSize];
    hasId = ::pread(fd_, bytes, sizeof bytes, st.st_size - static_cast<off_t>(rest)) ==
                static_cast<ssize_t>(sizeof bytes) &&
            DecodeVolumeTrailer(bytes, t);
  }
  if (volume_ == 1) {
    firstHasId_ = hasId;
    firstId_ = t.setId;
    return;
  }
  if (st.st_size == 0) return;
  if (hasId != firstHasId_ ||
      (hasId && (t.setId != firstId_ || t.volume != static_cast<std::uint32_t>(volume_)))) {
    throw EVX_BackupReadError(kForeignVolume + name);
  }
}

// Removes what an earlier run of this set left behind when it was killed:
// its temporary files (one file or volumes, by the names CreateTempVolume
// gives), regular files of this user that no running writer holds.  A
// temporary volume stands for a run whose first temporary volume holds the
// run's lock, so that one is asked too.
void TArchiveStream::CleanLeftovers() {
  std::string folder = ExtractFilePath(baseName_);
  const std::string stem = "." + ExtractFileName(baseName_) + ".";
  const TFd dir = OpenFd(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY);
  if (!dir) return;
  const int dupFd = ::fcntl(dir.Get(), F_DUPFD_CLOEXEC, 0);
  if (dupFd < 0) return;
  DIR* d = ::fdopendir(dupFd);
  if (d == nullptr) {
    ::close(dupFd);
    return;
  }
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(d)) {
    const std::string n = e->d_name;
    if (n.compare(0, stem.size(), stem) != 0) continue;
    const std::string rest = n.substr(stem.size());
    if (!span_ && IsTempTag(rest)) names.push_back(n);
    const auto dot = rest.find('.');
    if (span_ && dot != std::string::npos && AllDigits(rest.substr(0, dot)) &&
        IsTempTag(rest.substr(dot + 1))) {
      names.push_back(n);
    }
  }
  ::closedir(d);
  for (const std::string& n : names) {
    const TFd fd = LockUnusedFileOfMine(dir.Get(), n.c_str());
    if (!fd) continue;
    if (span_) {
      const std::string first = stem + "001." + n.substr(n.size() - 6);
      if (first != n) {
        const TFd firstFd(
            ::openat(dir.Get(), first.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
        if (firstFd && !TryLock(firstFd.Get())) continue;  // its run is still writing
      }
    }
    if (::unlinkat(dir.Get(), n.c_str(), 0) == 0) leftovers_.push_back(folder + n);
  }
}

// Every volume a stream writes holds whole transfer blocks; one that does not
// was cut or is no volume of a set at all.
// A volume of a spanned set ends with its trailer after the blocks.
bool TArchiveStream::HoldsWholeBlocks(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return true;
  const auto rest = static_cast<std::size_t>(st.st_size % static_cast<off_t>(kBlockSize));
  if (rest == 0) return true;
  if (rest != kVolumeTrailerSize) return false;
  std::uint8_t bytes[kVolumeTrailerSize];
  TVolumeTrailer t;
  return ::pread(fd, bytes, sizeof bytes, st.st_size - static_cast<off_t>(rest)) ==
             static_cast<ssize_t>(sizeof bytes) &&
         DecodeVolumeTrailer(bytes, t);
}

void TArchiveStream::RemoveWritten() noexcept {
  if (fd_ >= 0) {
    CloseHeld(fd_);
    if (span_ && fdRemembered_)
      written_.back().size = bytesInVolume_ + (trailerDone_ ? kTrailerBytes : 0);
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
  runLock_.Reset();
  lastLock_.Reset();
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

// Deletes the sets and logs of this program in the target folder (see
// erase_target.h).  Volumes this stream has already written there (a
// size-limited set keeps all its volumes in one folder) are kept: deleting
// them would destroy the set being written.
void TArchiveStream::EraseTarget() {
  const TEraseListing listing =
      ListErasable(baseName_, eraseRules_, [this](const std::string& name) {
        for (const TWritten& w : written_) {
          if (w.name.compare(w.name.rfind('/') + 1, std::string::npos, name) == 0) return true;
        }
        return false;
      });
  EraseListed(listing, eraseRules_);
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
  Finish();
  Commit();
}

void TArchiveStream::Finish() {
  if (closed_ || finished_) return;
  finished_ = true;
  const bool diskWrite = DiskWrite();
  try {
    if (mode_ == TStreamMode::Write && pending_ && !failed_) {
      // The unused end of the last block is not significant: zeros.
      std::memset(buffer_.data() + pos_, 0, kBlockSize - pos_);
      SendBlock();
    }
    if (diskWrite && span_ && fd_ >= 0 && !failed_) {
      // The last volume is full to its last byte: the block taken back for
      // the trailer's room goes on in one more volume.
      for (WriteTrailer(); !carry_.empty(); WriteTrailer()) {
        NextWriteVolume();
        WriteCarry();
      }
    }
    if (fd_ >= 0) {
      if (diskWrite) {
        EndWriteVolume(true);
      } else {
        CloseDiskFile(false);
      }
    }
    if (diskWrite && failed_) throw EVX_BackupWriteError(kWriteIo);
    if (dest_ && mode_ == TStreamMode::Write) dest_->FinishWrite();
  } catch (...) {
    closed_ = true;
    CloseHeld(fd_);
    if (diskWrite) RemoveWritten();
    if (dest_) dest_->Close();
    throw;
  }
}

// The volumes are renamed from the last to the first: volume 1 keeps the
// run's lock to the end, so that no other run takes the later ones for
// leftovers meanwhile.  Should the run end between two renames, the chain
// holds volumes of two runs, which a reader refuses by their identities.
void TArchiveStream::Commit() {
  if (closed_) return;
  Finish();
  closed_ = true;
  if (!DiskWrite()) {
    committed_ = true;
    if (dest_) dest_->Close();
    return;
  }
  try {
    for (std::size_t i = written_.size(); i-- > 0;) {
      if (!written_[i].renamed) RenameVolume(i);
    }
    committed_ = true;
    written_.clear();  // the names are the set's now, never removed
    tempName_.clear();
    if (!SyncFolder(ExtractFilePath(baseName_))) throw EVX_BackupWriteError(kWriteIo);
    StreamTestPoint("set-committed", volume_);
  } catch (...) {
    RemoveWritten();
    throw;
  }
  runLock_.Reset();
  lastLock_.Reset();
  // Volumes of an older, longer chain in this folder are no part of the set.
  if (span_ && sizeLimit_ > 0) {
    for (int n = volume_ + 1;; ++n) {
      const std::string name = VolumeFileName(n);
      struct stat st;
      if (::lstat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) break;
      ::unlink(name.c_str());
    }
    (void)SyncFolder(ExtractFilePath(baseName_));
  }
}

void TArchiveStream::RenameVolume(std::size_t index) {
  TWritten& w = written_[index];
  if (::rename(w.name.c_str(), w.finalName.c_str()) != 0) throw EVX_BackupWriteError(kWriteIo);
  w.name = w.finalName;
  w.renamed = true;
  StreamTestPoint("volume-renamed", static_cast<int>(index) + 1);
}

// Ends the volume being written: its trailer (a set of volumes), flushed and
// closed.  A volume on a disk that will be changed takes its name now; the
// last one and those cut at a size limit wait for Commit().
void TArchiveStream::EndWriteVolume(bool last) {
  if (span_ && !failed_) WriteTrailer();
  if (fdRemembered_) written_.back().size = bytesInVolume_ + (trailerDone_ ? kTrailerBytes : 0);
  if (last) lastLock_.Reset(::fcntl(fd_, F_DUPFD_CLOEXEC, 0));
  CloseDiskFile(true);
  StreamTestPoint("volume-synced", volume_);
  if (!last && span_ && sizeLimit_ == 0 && fdRemembered_) {
    // Nothing stays open on a disk that is about to be changed.
    runLock_.Reset();
    RenameVolume(written_.size() - 1);
    if (!SyncFolder(ExtractFilePath(baseName_))) {
      failed_ = true;
      throw EVX_BackupWriteError(kWriteIo);
    }
  }
}

// The trailer goes after the volume's whole blocks.  When the disk has no
// room left for it, the volume's last block is taken back (it opens the next
// volume) and the trailer takes its place; a volume cut at a size limit
// always has room.  An empty volume gets none.
void TArchiveStream::WriteTrailer() {
  if (trailerDone_ || fd_ < 0 || bytesInVolume_ == 0) return;
  TVolumeTrailer t;
  t.setId = setId_;
  t.volume = static_cast<std::uint32_t>(volume_);
  std::uint8_t bytes[kVolumeTrailerSize];
  EncodeVolumeTrailer(t, bytes);
  for (;;) {
    if (::pwrite(fd_, bytes, sizeof bytes, bytesInVolume_) == static_cast<ssize_t>(sizeof bytes)) {
      trailerDone_ = true;
      return;
    }
    const int err = errno;
    const auto block = static_cast<std::int64_t>(kBlockSize);
    if (::ftruncate(fd_, bytesInVolume_) != 0 || sizeLimit_ != 0 || !carry_.empty() ||
        bytesInVolume_ < 2 * block) {
      failed_ = true;
      if (err == ENOSPC || err == EDQUOT) throw EVX_DiskFullError(kDiskFull);
      throw EVX_BackupWriteError(kWriteIo);
    }
    if (DropOlderVolume()) continue;
    carry_.resize(kBlockSize);
    if (::pread(fd_, carry_.data(), kBlockSize, bytesInVolume_ - block) !=
            static_cast<ssize_t>(kBlockSize) ||
        ::ftruncate(fd_, bytesInVolume_ - block) != 0 ||
        ::lseek(fd_, bytesInVolume_ - block, SEEK_SET) < 0) {
      failed_ = true;
      throw EVX_BackupWriteError(kWriteIo);
    }
    bytesInVolume_ -= block;
  }
}

// A disk that is changed between volumes (no size limit) is often one that
// held an older set: the volume of the same name is deleted once the disk is
// full, so that the new one takes its room as it did when volumes were
// written over their old names.  Until then the older volume stays whole.
bool TArchiveStream::DropOlderVolume() {
  if (!span_ || sizeLimit_ != 0 || !fdRemembered_ || written_.back().renamed) return false;
  const std::string& name = written_.back().finalName;
  struct stat st;
  if (::lstat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || ::unlink(name.c_str()) != 0)
    return false;
  if (::lseek(fd_, bytesInVolume_, SEEK_SET) < 0) {
    failed_ = true;
    throw EVX_BackupWriteError(kWriteIo);
  }
  return true;
}

// A block taken back from the previous volume opens the one just begun.
void TArchiveStream::WriteCarry() {
  while (!carry_.empty()) {
    const TIoResult r = WriteAll(fd_, carry_.data(), kBlockSize);
    if (r.Complete()) {
      bytesInVolume_ += static_cast<std::int64_t>(kBlockSize);
      carry_.clear();
      return;
    }
    if (r.done > 0 && ::ftruncate(fd_, bytesInVolume_) != 0) {
      failed_ = true;
      throw EVX_BackupWriteError(kWriteIo);
    }
    NextWriteVolume();
  }
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
  WriteCarry();
  for (;;) {
    bool written = false;
    int error = 0;
    // A one-file set on a file system with a file-size limit ends before it
    // passes the limit, with a message that says why.
    if (fileCap_ > 0 && bytesInVolume_ >= fileCap_) {
      throw EVX_BackupWriteError(std::string(kWriteIo) + ": " + baseName_ + ": " + kFatFileLimit);
    }
    const bool capped = volumeCap_ > 0 && sizeLimit_ == 0 && bytesInVolume_ >= volumeCap_;
    if (fd_ >= 0 && !capped && (sizeLimit_ == 0 || bytesInVolume_ < sizeLimit_)) {
      const TIoResult r = WriteAll(fd_, buffer_.data(), kBlockSize);
      written = r.Complete();
      error = r.error;
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
    // A file-size limit (ulimit -f, or the file system's own) is no full disk.
    if (!span_ && error == EFBIG) {
      throw EVX_BackupWriteError(std::string(kWriteIo) + ": " + tempName_ + ": " +
                                 std::strerror(EFBIG));
    }
    if (!capped && fd_ >= 0 && DropOlderVolume()) continue;
    if (!span_) throw EVX_DiskFullError(kDiskFull);
    NextWriteVolume(capped);
    WriteCarry();
  }
}

// Ends the current volume and opens the next one for writing.  When nobody
// can be asked, the cases that would otherwise repeat without end (the disk
// was not changed, or a fresh volume cannot take a single block) end with the
// disk-full error.  A volume ended at the file system's cap while the disk
// still has room is followed on the same disk, without a question.
void TArchiveStream::NextWriteVolume(bool sameDisk) {
  const bool freshVolumeFailed = fd_ >= 0 && bytesInVolume_ == 0;
  // A volume that cannot be flushed or closed is lost: the run ends with
  // the write error instead of going on as if it were safe.
  if (fd_ >= 0) EndWriteVolume(false);
  if (!SyncFolder(ExtractFilePath(baseName_))) {
    failed_ = true;
    throw EVX_BackupWriteError(kWriteIo);
  }
  ++volume_;
  for (;;) {
    if (sameDisk) {
      fd_ = CreateTempVolume();
      if (fd_ < 0) throw EVX_CreateStreamError(kCannotOpenVolume);
      bytesInVolume_ = 0;
      return;
    }
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
    fd_ = CreateTempVolume();
    if (fd_ < 0) throw EVX_CreateStreamError(kCannotOpenVolume);
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
    fd_ = OpenVolumeForReading(name);
    if (fd_ >= 0) {
      // The first volume was found to be a set's; a later one cut short is
      // damage.
      if (!HoldsWholeBlocks(fd_)) throw EVX_BackupReadError(kEarlyEnd);
      CheckReadVolume(name);
      return;
    }
    // A volume that is there but cannot be read (no regular file, no
    // permission) would be asked for again and again.
    if (!asked || Exists(name))
      throw EVX_CreateStreamError(WithReason(kCannotOpenVolume, name, errno));
  }
}

}  // namespace vx
