// The archive stream on disk (one file, volumes, the next-volume question,
// the erase step) and its routing through a destination object.
#include "archive/archive_stream.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/errors.h"
#include "archive/format.h"
#include "common/error_of.h"
#include "common/files.h"
#include "common/temp_folder.h"

// fsync of regular files fails with EIO for the n-th call while a TFailSync
// lives (this test program's own fsync takes the place of the C library's).
namespace {
int syncCalls = 0;
int failingSync = 0;
}  // namespace

extern "C" int fsync(int fd) {
  struct stat st {};
  if (failingSync > 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      ++syncCalls == failingSync) {
    errno = EIO;
    return -1;
  }
  return static_cast<int>(::syscall(SYS_fsync, fd));
}

namespace vx {
namespace {

namespace fs = std::filesystem;

struct TFailSync {
  explicit TFailSync(int n) {
    syncCalls = 0;
    failingSync = n;
  }
  ~TFailSync() { failingSync = 0; }
};
using test::ErrorOf;
using test::NoiseData;
using test::TTempFolder;

std::uintmax_t SizeOf(const std::string& path) { return fs::file_size(path); }

// Writes bytes to a disk stream and closes it.
void WriteSet(const std::string& base, bool span, std::int64_t limit, bool erase,
              const std::vector<std::uint8_t>& data, TNextVolumeAsk ask = nullptr) {
  TArchiveStream s(TStreamMode::Write, base, span, limit, erase, std::move(ask));
  s.WriteBytes(data.data(), data.size());
  s.Close();
}

TEST(DiskStream, SingleFilePadsToWholeBlocks) {
  TTempFolder dir;
  const auto data = NoiseData(40000);
  // The stream creates no folder: whether one may be created is the
  // engine's decision (it could be the empty mount point of a missing disk).
  EXPECT_THROW(TArchiveStream(TStreamMode::Write, dir / "sub/set.arc", false, 0, false, nullptr),
               EVX_CreateStreamError);
  EXPECT_FALSE(fs::exists(dir / "sub"));
  fs::create_directory(dir / "sub");
  {
    TArchiveStream s(TStreamMode::Write, dir / "sub/set.arc", false, 0, false, nullptr);
    s.WriteBytes(data.data(), 25000);
    s.WriteBytes(data.data() + 25000, 15000);
    EXPECT_EQ(40000, s.Statistic.BytesWritten);
    s.Close();
  }
  ASSERT_EQ(65536u, SizeOf(dir / "sub/set.arc"));

  TArchiveStream r(TStreamMode::Read, dir / "sub/set.arc", false, 0, false, nullptr);
  std::vector<std::uint8_t> back(65536);
  r.ReadBytes(back.data(), 1);
  r.ReadBytes(back.data() + 1, 65535);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin()));
  EXPECT_EQ(65536, r.Statistic.BytesRead);
  EXPECT_EQ("Early end of file detected",
            ErrorOf<EVX_BackupReadError>([&] { r.ReadBytes(back.data(), 1); }));

  test::WriteBytes(dir / "plainfile", {1});
  EXPECT_EQ("nedá sa vytvoriť záložný súbor: " + dir / "plainfile/: Not a directory",
            ErrorOf<EVX_CreateStreamError>([&] {
              TArchiveStream s(TStreamMode::Write, dir / "plainfile/x", false, 0, false, nullptr);
            }));
}

TEST(DiskStream, VolumeNames) {
  TTempFolder dir;
  TArchiveStream s(TStreamMode::Write, dir / "weekly.arc", true, 0, false, nullptr);
  EXPECT_FALSE(fs::exists(dir / "weekly.001")) << "written under a temporary name";
  EXPECT_EQ(dir / "weekly.999", s.VolumeFileName(999));
  EXPECT_EQ(dir / "weekly.1000", s.VolumeFileName(1000));
  TArchiveStream single(TStreamMode::Write, dir / "daily.arc", false, 0, false, nullptr);
  EXPECT_EQ(dir / "daily.arc", single.VolumeFileName(1));
}

TEST(DiskStream, SizeLimitSplitsAtWholeBlocksAndReadsAcross) {
  TTempFolder dir;
  const auto data = NoiseData(200000);
  int questions = 0;
  WriteSet(dir / "set.arc", true, 100000, false, data, [&](int, TReaction&) {
    ++questions;
    return true;  // the answer stays AW_IGNORE: go on
  });
  EXPECT_EQ(1, questions);
  // Whole blocks and the 32-byte trailer.
  EXPECT_EQ(131072u + 32, SizeOf(dir / "set.001"));
  EXPECT_EQ(98304u + 32, SizeOf(dir / "set.002"));
  EXPECT_FALSE(fs::exists(dir / "set.003"));

  // Every volume is present: no question while reading.
  TArchiveStream r(TStreamMode::Read, dir / "set.arc", true, 0, false, [](int, TReaction&) {
    ADD_FAILURE() << "no question expected";
    return false;
  });
  std::vector<std::uint8_t> back(data.size());
  r.ReadBytes(back.data(), back.size());
  EXPECT_EQ(data, back);
}

// Files in a folder, by name, with their sizes.
std::vector<std::pair<std::string, std::uintmax_t>> Listing(const std::string& folder) {
  std::vector<std::pair<std::string, std::uintmax_t>> out;
  for (const auto& e : fs::directory_iterator(folder)) {
    out.emplace_back(e.path().filename().string(), e.is_regular_file() ? e.file_size() : 0);
  }
  std::sort(out.begin(), out.end());
  return out;
}

// A full disk: the older set of the same name stays whole and nothing of the
// failed one is left.
TEST(DiskStream, FullDiskKeepsTheOlderSet) {
  vx::test::TSmallTmpfs disk("256k");
  if (!disk.ok()) GTEST_SKIP() << "needs root to mount a small tmpfs";
  const auto old = NoiseData(65536, 7);
  WriteSet(disk / "set.arc", false, 0, false, old);
  EXPECT_EQ("Na disku nie je dostatok miesta", ErrorOf<EVX_DiskFullError>([&] {
              WriteSet(disk / "set.arc", false, 0, false, NoiseData(400000));
            }));
  EXPECT_EQ(old, test::ReadBytes(disk / "set.arc"));
  EXPECT_EQ(Listing(disk.path()),
            (std::vector<std::pair<std::string, std::uintmax_t>>{{"set.arc", 65536}}));
}

// A one-file set is written under a private name and takes its own name only
// when closed; a stream given up before that leaves the older set as it was.
TEST(DiskStream, OneFileSetReplacesTheOlderOneOnlyWhenClosed) {
  TTempFolder dir;
  const auto old = NoiseData(32768, 3);
  const auto next = NoiseData(50000, 4);
  WriteSet(dir / "set.arc", false, 0, false, old);
  for (bool close : {false, true}) {
    const mode_t mask = ::umask(0);
    TArchiveStream s(TStreamMode::Write, dir / "set.arc", false, 0, false, nullptr);
    ::umask(mask);
    s.WriteBytes(next.data(), next.size());
    EXPECT_EQ(old, test::ReadBytes(dir / "set.arc")) << "while written";
    const auto during = Listing(dir.path());
    ASSERT_EQ(2u, during.size());
    EXPECT_EQ('.', during[0].first[0]) << "a hidden temporary name beside the set";
    struct stat st {};
    ASSERT_EQ(0, ::stat((dir / during[0].first).c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    if (close) {
      s.Close();
    } else {
      s.Abandon();
    }
    const auto after = test::ReadBytes(dir / "set.arc");
    EXPECT_EQ(close ? 65536u : old.size(), after.size());
    EXPECT_TRUE(std::equal(close ? next.begin() : old.begin(), close ? next.end() : old.end(),
                           after.begin()));
    EXPECT_EQ(1u, Listing(dir.path()).size()) << "no temporary file left";
    ASSERT_EQ(0, ::stat((dir / "set.arc").c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777) << "close " << close;
  }
}

// A split set that fails removes the volumes it wrote (no partial set reads
// as complete) and leaves the older chain as it was; files it did not write
// stay.
TEST(DiskStream, FailedSplitSetRemovesItsVolumes) {
  TTempFolder dir;
  test::WriteBytes(dir / "other.txt", {1});
  const auto old = NoiseData(3 * 32768, 5);
  WriteSet(dir / "set", true, 32768, false, old);
  const auto before = Listing(dir.path());
  {
    TArchiveStream s(TStreamMode::Write, dir / "set", true, 32768, false,
                     [](int, TReaction&) { return true; });
    const auto data = NoiseData(5 * 32768);
    s.WriteBytes(data.data(), data.size());
    EXPECT_EQ(before.size() + 5, Listing(dir.path()).size()) << "five temporary volumes";
  }  // torn down without Close: the run failed
  EXPECT_EQ(before, Listing(dir.path()));
  TArchiveStream r(TStreamMode::Read, dir / "set", true, 0, false, nullptr);
  std::vector<std::uint8_t> back(old.size());
  r.ReadBytes(back.data(), back.size());
  EXPECT_EQ(old, back);
}

// The erase step never takes a file it is told to keep (the running
// operation's log), whatever its name.
TEST(DiskStream, EraseTargetKeepsTheNamedFiles) {
  TTempFolder dir;
  test::WriteBytes(dir / "run.log", {1});
  std::vector<std::uint8_t> header(kHeaderSize);
  EncodeHeader(TArchiveHeader{}, header.data());
  test::WriteBytes(dir / "old.arc", header);  // an older set: it goes
  fs::create_symlink(dir / "run.log", dir / "alias.log");
  TEraseRules rules;
  rules.keepPaths = {dir / "alias.log"};
  TArchiveStream s(TStreamMode::Write, dir / "set.arc", false, 0, true, nullptr, rules);
  s.Close();
  EXPECT_TRUE(fs::exists(dir / "run.log"));
  EXPECT_FALSE(fs::exists(dir / "old.arc"));
}

// Flushing a volume fails (a failing disk, a network file system): the run
// ends with the write error at that volume, not only at the last one, and
// the volumes written are removed.
TEST(DiskStream, FailedFlushOfAnyVolumeEndsTheRun) {
  for (int failing : {1, 2, 3}) {
    TTempFolder dir;
    TFailSync fail(failing);
    EXPECT_EQ("I/O chyba počas zápisu záložného súboru", ErrorOf<EVX_BackupWriteError>([&] {
                WriteSet(dir / "set", true, 32768, false, NoiseData(3 * 32768),
                         [](int, TReaction&) { return true; });
              }))
        << "volume " << failing;
    EXPECT_TRUE(Listing(dir.path()).empty()) << "volume " << failing;
  }
  TTempFolder dir;
  TFailSync fail(1);
  EXPECT_THROW(WriteSet(dir / "one.arc", false, 0, false, NoiseData(100)), EVX_BackupWriteError);
  EXPECT_TRUE(Listing(dir.path()).empty());
}

// A full disk on which volume 1 is still present: the question repeats until
// the volume is gone (another disk), and the block goes to volume 2 whole.
// Volume 1 took its name before the question, with its trailer: the block
// taken back to make room for it opens volume 2.
TEST(DiskStream, FullDiskAsksUntilTheMediumChanges) {
  vx::test::TSmallTmpfs disk("128k");
  if (!disk.ok()) GTEST_SKIP() << "needs root to mount a small tmpfs";
  TTempFolder other;
  std::vector<int> asked;
  const auto data = NoiseData(6 * 32768);
  std::vector<std::uint8_t> vol1;
  WriteSet(disk / "set.arc", true, 0, false, data, [&](int volume, TReaction& answer) {
    asked.push_back(volume);
    if (asked.size() == 1) answer = AW_RETRY;
    if (asked.size() == 3) {  // the user changed the disk
      vol1 = test::ReadBytes(disk / "set.001");
      fs::remove(disk / "set.001");
    }
    return true;
  });
  EXPECT_EQ((std::vector<int>{2, 2, 2}), asked);
  ASSERT_EQ(32u, vol1.size() % 32768);
  const auto vol2 = test::ReadBytes(disk / "set.002");
  ASSERT_EQ(32u, vol2.size() % 32768);
  vol1.resize(vol1.size() - 32);
  EXPECT_TRUE(std::equal(vol1.begin(), vol1.end(), data.begin()));
  EXPECT_TRUE(std::equal(data.begin() + static_cast<std::ptrdiff_t>(vol1.size()), data.end(),
                         vol2.begin()));
}

// A disk changed between volumes still holds the volume of an older set:
// that one stays until the disk is full, then the new volume takes its room.
TEST(DiskStream, FullDiskMakesRoomByTheOlderVolumeOfItsName) {
  vx::test::TSmallTmpfs disk("128k");
  if (!disk.ok()) GTEST_SKIP() << "needs root to mount a small tmpfs";
  WriteSet(disk / "set", true, 0, false, NoiseData(2 * 32768, 9));
  const auto data = NoiseData(3 * 32768);
  int questions = 0;
  WriteSet(disk / "set", true, 0, false, data, [&](int, TReaction&) {
    ++questions;
    return true;
  });
  EXPECT_EQ(0, questions);
  auto vol1 = test::ReadBytes(disk / "set.001");
  ASSERT_EQ(3u * 32768 + 32, vol1.size());
  vol1.resize(data.size());
  EXPECT_EQ(data, vol1);
}

TEST(DiskStream, FullDiskEndsWhenNobodyCanBeAsked) {
  vx::test::TSmallTmpfs disk("64k");
  if (!disk.ok()) GTEST_SKIP() << "needs root to mount a small tmpfs";
  const auto data = NoiseData(4 * 32768);
  for (std::int64_t limit : {0, 100000}) {
    EXPECT_THROW(
        WriteSet(disk / "set", true, limit, false, data, [](int, TReaction&) { return false; }),
        EVX_DiskFullError)
        << "limit " << limit;
    EXPECT_TRUE(Listing(disk.path()).empty()) << "limit " << limit;
  }
  TTempFolder dir;
  EXPECT_EQ("Prerušené užívateľom", ErrorOf<EVX_UserAbortion>([&] {
              WriteSet(dir / "set", true, 1, false, NoiseData(2 * 32768), [](int, TReaction& a) {
                a = AW_ABORT;
                return true;
              });
            }));
}

TEST(DiskStream, MissingVolumeWhileReading) {
  TTempFolder dir;
  const auto data = NoiseData(3 * 32768);
  WriteSet(dir / "set", true, 32768, false, data);
  fs::rename(dir / "set.002", dir / "elsewhere");
  std::vector<std::uint8_t> back(data.size());
  {
    TArchiveStream r(TStreamMode::Read, dir / "set", true, 0, false, nullptr);
    EXPECT_EQ("Nemožno otvoriť súbor zálohy: " + dir / "set.002: No such file or directory",
              ErrorOf<EVX_CreateStreamError>([&] { r.ReadBytes(back.data(), back.size()); }));
  }
  std::vector<int> asked;
  TArchiveStream r(TStreamMode::Read, dir / "set", true, 0, false, [&](int v, TReaction&) {
    asked.push_back(v);
    if (asked.size() == 2) fs::rename(dir / "elsewhere", dir / "set.002");
    return true;
  });
  r.ReadBytes(back.data(), back.size());
  EXPECT_EQ(data, back);
  EXPECT_EQ((std::vector<int>{2, 2}), asked);
}

// Only sets go (here: older ones, one of them read-only); another file, a
// folder and a link stay.
TEST(DiskStream, EraseTargetDeletesOnlyOtherRegularFiles) {
  TTempFolder dir, outside;
  std::vector<std::uint8_t> header(kHeaderSize);
  EncodeHeader(TArchiveHeader{}, header.data());
  test::WriteBytes(dir / "old.txt", header);
  test::WriteBytes(dir / "locked.txt", header);
  ::chmod((dir / "locked.txt").c_str(), 0444);
  test::WriteBytes(dir / "notes.txt", {3});
  fs::create_directory(dir / "keepdir");
  test::WriteBytes(dir / "keepdir/inner.txt", {4});
  test::WriteBytes(outside / "target.txt", {5});
  fs::create_symlink(outside / "target.txt", dir / "link.txt");
  WriteSet(dir / "set.arc", true, 32768, true, NoiseData(3 * 32768));
  EXPECT_FALSE(fs::exists(dir / "old.txt"));
  EXPECT_FALSE(fs::exists(dir / "locked.txt"));
  EXPECT_TRUE(fs::exists(dir / "notes.txt"));
  EXPECT_TRUE(fs::exists(dir / "keepdir/inner.txt"));
  EXPECT_TRUE(fs::exists(outside / "target.txt"));
  // The step before each later volume keeps the volumes of this set.
  for (const char* v : {"set.001", "set.002", "set.003"})
    EXPECT_EQ(32768u + 32, SizeOf(dir / v)) << v;
}

// A destination that records what reaches it.
struct DestinationLog {
  std::vector<std::vector<std::uint8_t>> blocks;
  int finished = 0, closed = 0, marks = 0;
  bool failSend = false, failMark = false;
};

class RecordingDestination : public TArchiveDestination {
 public:
  RecordingDestination(DestinationLog& log, bool tape) : log_(log), tape_(tape) {}
  void SendBlock(const std::uint8_t* block, std::size_t len) override {
    if (log_.failSend) throw EVX_DiskFullError("Na disku nie je dostatok miesta");
    log_.blocks.emplace_back(block, block + len);
  }
  void FetchBlock(std::uint8_t* block, std::size_t len) override {
    if (log_.blocks.empty()) throw EVX_BackupReadError("Zistený predčasný koniec súboru");
    std::copy_n(log_.blocks.front().begin(), len, block);
    log_.blocks.erase(log_.blocks.begin());
  }
  void FinishWrite() override { ++log_.finished; }
  void Close() noexcept override { ++log_.closed; }
  bool IsTape() const override { return tape_; }
  void WriteFileMark() override {
    if (log_.failMark) throw std::runtime_error("device gone");
    ++log_.marks;
  }

 private:
  DestinationLog& log_;
  bool tape_;
};

TEST(DestinationStream, TapeBlockEndsAndFileMarks) {
  DestinationLog log;
  const auto data = NoiseData(100);
  {
    TArchiveStream s(TStreamMode::Write, std::make_unique<RecordingDestination>(log, true));
    s.WriteBytes(data.data(), 100);
    s.FlushToBlockEnd();
    EXPECT_EQ(32768, s.Statistic.BytesWritten) << "the unused rest counts as written";
    s.WriteTapeFileMark();
    s.FlushToBlockEnd();  // nothing pending: no block
    s.WriteBytes(data.data(), 10);
    s.Close();
  }
  ASSERT_EQ(2u, log.blocks.size());
  EXPECT_TRUE(std::equal(data.begin(), data.end(), log.blocks[0].begin()));
  EXPECT_EQ(0xFF, log.blocks[0][100]);
  EXPECT_EQ(0xFF, log.blocks[0][32767]);
  EXPECT_EQ(1, log.marks);
  EXPECT_EQ(1, log.finished);
  EXPECT_EQ(1, log.closed) << "Close, then the destructor: the destination is closed once";

  // Reading: a block end skips the rest of the current block.
  TArchiveStream r(TStreamMode::Read, std::make_unique<RecordingDestination>(log, true));
  std::uint8_t b[100];
  r.ReadBytes(b, 100);
  r.FlushToBlockEnd();
  r.ReadBytes(b, 10);
  EXPECT_TRUE(std::equal(b, b + 10, data.begin()));
  EXPECT_EQ(110, r.Statistic.BytesRead);

  log.failMark = true;
  TArchiveStream t(TStreamMode::Write, std::make_unique<RecordingDestination>(log, true));
  EXPECT_EQ("Chyba páskového zariadenia - chýba značka súboru",
            ErrorOf<EVX_TapeError>([&] { t.WriteTapeFileMark(); }));
  TArchiveStream ftp(TStreamMode::Write, std::make_unique<RecordingDestination>(log, false));
  EXPECT_THROW(ftp.WriteTapeFileMark(), EVX_TapeError);
  EXPECT_THROW(ftp.Destination()->Unload(), EVX_TapeError);
}

TEST(DestinationStream, FailedSendIsNotRepeatedOnTeardown) {
  DestinationLog log;
  {
    TArchiveStream s(TStreamMode::Write, std::make_unique<RecordingDestination>(log, false));
    const auto data = NoiseData(40000);
    log.failSend = true;
    EXPECT_THROW(s.WriteBytes(data.data(), data.size()), EVX_DiskFullError);
    log.failSend = false;
  }
  EXPECT_TRUE(log.blocks.empty());
  EXPECT_EQ(0, log.finished) << "a failed transfer is not finished as a success";
  EXPECT_EQ(1, log.closed);
}

}  // namespace
}  // namespace vx
