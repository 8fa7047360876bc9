// The archive stream on disk (one file, volumes, the next-volume question,
// the erase step) and its routing through a destination object.
#include "archive/archive_stream.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/errors.h"
#include "temp_dir.h"

namespace vx {
namespace {

namespace fs = std::filesystem;
using testing::NoiseBytes;
using testing::ReadWholeFile;
using testing::TempDir;

std::uintmax_t SizeOf(const std::string& path) { return fs::file_size(path); }

TEST(DiskStream, SingleFilePadsToWholeBlocks) {
  TempDir dir;
  const auto data = NoiseBytes(40000);
  {
    TArchiveStream s(TStreamMode::Write, dir / "set.arc", false, 0, false, nullptr);
    s.WriteBytes(data.data(), 25000);
    s.WriteBytes(data.data() + 25000, 15000);
    EXPECT_EQ(40000, s.Statistic.BytesWritten);
    s.Close();
    s.Close();  // a second close does nothing
  }
  ASSERT_EQ(65536u, SizeOf(dir / "set.arc"));
  const auto file = ReadWholeFile(dir / "set.arc");
  EXPECT_TRUE(std::equal(data.begin(), data.end(), file.begin()));

  TArchiveStream r(TStreamMode::Read, dir / "set.arc", false, 0, false, nullptr);
  std::vector<std::uint8_t> back(40000);
  r.ReadBytes(back.data(), 1);
  r.ReadBytes(back.data() + 1, 39999);
  EXPECT_EQ(data, back);
  EXPECT_EQ(40000, r.Statistic.BytesRead);
  std::vector<std::uint8_t> rest(65536 - 40000);
  r.ReadBytes(rest.data(), rest.size());
  try {
    r.ReadBytes(rest.data(), 1);
    FAIL() << "read past the end";
  } catch (const EVX_BackupReadError& e) {
    EXPECT_STREQ("Early end of file detected", e.what());
  }
}

TEST(DiskStream, DestructorWritesThePendingBlock) {
  TempDir dir;
  const auto data = NoiseBytes(10);
  {
    TArchiveStream s(TStreamMode::Write, dir / "sub/deeper/set.arc", false, 0, false, nullptr);
    s.WriteBytes(data.data(), data.size());
  }
  EXPECT_EQ(32768u, SizeOf(dir / "sub/deeper/set.arc")) << "missing folders are created";
}

TEST(DiskStream, OpeningFailures) {
  TempDir dir;
  testing::WriteWholeFile(dir / "plainfile", {1});
  try {
    TArchiveStream s(TStreamMode::Write, dir / "plainfile/set.arc", false, 0, false, nullptr);
    FAIL();
  } catch (const EVX_CreateStreamError& e) {
    EXPECT_STREQ("nedá sa vytvoriť záložný súbor", e.what());
  }
  EXPECT_THROW(TArchiveStream(TStreamMode::Read, dir / "missing.arc", false, 0, false, nullptr),
               EVX_CreateStreamError);
  EXPECT_THROW(TArchiveStream(TStreamMode::Write, std::unique_ptr<TArchiveDestination>()),
               EVX_CreateStreamError);
}

TEST(DiskStream, VolumeNames) {
  TempDir dir;
  TArchiveStream s(TStreamMode::Write, dir / "weekly.arc", true, 0, false, nullptr);
  EXPECT_EQ(dir / "weekly.001", s.VolumeFileName(1));
  EXPECT_EQ(dir / "weekly.042", s.VolumeFileName(42));
  EXPECT_EQ(dir / "weekly.999", s.VolumeFileName(999));
  EXPECT_EQ(dir / "weekly.1000", s.VolumeFileName(1000));
  EXPECT_TRUE(fs::exists(dir / "weekly.001"));
  s.Close();

  TArchiveStream single(TStreamMode::Write, dir / "daily.arc", false, 0, false, nullptr);
  EXPECT_EQ(dir / "daily.arc", single.VolumeFileName(1));
}

TEST(DiskStream, SizeLimitSplitsAtWholeBlocks) {
  TempDir dir;
  const auto data = NoiseBytes(200000);
  int questions = 0;
  auto ask = [&](int, TReaction&) {
    ++questions;
    return true;  // answer stays AW_IGNORE: go on
  };
  {
    TArchiveStream s(TStreamMode::Write, dir / "set.arc", true, 100000, false, ask);
    s.WriteBytes(data.data(), data.size());
    s.Close();
    EXPECT_EQ(2, s.VolumeNumber());
  }
  EXPECT_EQ(1, questions);
  EXPECT_EQ(131072u, SizeOf(dir / "set.001"));
  EXPECT_EQ(98304u, SizeOf(dir / "set.002"));
  EXPECT_FALSE(fs::exists(dir / "set.003"));

  // All volumes in one folder: read across them without a question.
  TArchiveStream r(TStreamMode::Read, dir / "set.arc", true, 0, false, [](int, TReaction&) -> bool {
    ADD_FAILURE() << "no question expected";
    return false;
  });
  std::vector<std::uint8_t> back(data.size());
  r.ReadBytes(back.data(), back.size());
  EXPECT_EQ(data, back);
  EXPECT_EQ(2, r.VolumeNumber());
}

TEST(DiskStream, LimitBelowOneBlockGivesOneBlockPerVolume) {
  TempDir dir;
  const auto data = NoiseBytes(3 * 32768);
  TArchiveStream s(TStreamMode::Write, dir / "set", true, 1000, false, nullptr);
  s.WriteBytes(data.data(), data.size());
  s.Close();
  for (const char* v : {"set.001", "set.002", "set.003"}) EXPECT_EQ(32768u, SizeOf(dir / v)) << v;
}

TEST(DiskStream, FullDiskWithoutVolumesIsDiskFull) {
  TempDir dir;
  fs::create_symlink("/dev/full", dir / "set.arc");
  TArchiveStream s(TStreamMode::Write, dir / "set.arc", false, 0, false, nullptr);
  const auto data = NoiseBytes(32768);
  try {
    s.WriteBytes(data.data(), data.size());
    FAIL();
  } catch (const EVX_DiskFullError& e) {
    EXPECT_STREQ("Na disku nie je dostatok miesta", e.what());
  }
}

// A full disk on which volume 1 is still present: the question repeats until
// the volume is gone (another disk), and the block goes to volume 2 whole.
TEST(DiskStream, FullDiskAsksUntilTheMediumChanges) {
  TempDir dir;
  fs::create_symlink("/dev/full", dir / "set.001");
  std::vector<int> asked;
  auto ask = [&](int volume, TReaction& answer) {
    asked.push_back(volume);
    if (asked.size() == 1) answer = AW_RETRY;
    if (asked.size() == 3) fs::remove(dir / "set.001");  // the user inserted a new disk
    return true;
  };
  const auto data = NoiseBytes(40000);
  {
    TArchiveStream s(TStreamMode::Write, dir / "set.arc", true, 0, false, ask);
    s.WriteBytes(data.data(), data.size());
    s.Close();
  }
  EXPECT_EQ((std::vector<int>{2, 2, 2}), asked);
  const auto vol2 = ReadWholeFile(dir / "set.002");
  ASSERT_EQ(65536u, vol2.size());
  EXPECT_TRUE(std::equal(data.begin(), data.end(), vol2.begin()));
}

TEST(DiskStream, FullDiskWithoutQuestionEnds) {
  const auto data = NoiseBytes(32768);
  {
    // No size limit, the previous volume never goes away.
    TempDir dir;
    fs::create_symlink("/dev/full", dir / "set.001");
    int calls = 0;
    TArchiveStream s(TStreamMode::Write, dir / "set", true, 0, false, [&](int, TReaction&) {
      ++calls;
      return false;
    });
    EXPECT_THROW(s.WriteBytes(data.data(), data.size()), EVX_DiskFullError);
    EXPECT_EQ(1, calls);
  }
  {
    // With a size limit a full disk would otherwise make empty volumes for ever.
    TempDir dir;
    fs::create_symlink("/dev/full", dir / "set.001");
    TArchiveStream s(TStreamMode::Write, dir / "set", true, 100000, false, nullptr);
    EXPECT_THROW(s.WriteBytes(data.data(), data.size()), EVX_DiskFullError);
  }
}

TEST(DiskStream, AbortAnswerEndsTheBackup) {
  TempDir dir;
  TArchiveStream s(TStreamMode::Write, dir / "set", true, 1, false, [](int, TReaction& a) {
    a = AW_ABORT;
    return true;
  });
  const auto data = NoiseBytes(2 * 32768);
  try {
    s.WriteBytes(data.data(), data.size());
    FAIL();
  } catch (const EVX_UserAbortion& e) {
    EXPECT_STREQ("Prerušené užívateľom", e.what());
  }
}

TEST(DiskStream, NextVolumeThatCannotBeCreated) {
  TempDir dir;
  fs::create_directory(dir / "set.002");  // a folder in the way
  TArchiveStream s(TStreamMode::Write, dir / "set", true, 1, false, nullptr);
  const auto data = NoiseBytes(2 * 32768);
  try {
    s.WriteBytes(data.data(), data.size());
    FAIL();
  } catch (const EVX_CreateStreamError& e) {
    EXPECT_STREQ("Nemožno otvoriť súbor zálohy", e.what());
  }
}

class VolumeReading : public ::testing::Test {
 protected:
  void SetUp() override {
    data_ = NoiseBytes(3 * 32768);
    TArchiveStream s(TStreamMode::Write, dir_ / "set", true, 32768, false, nullptr);
    s.WriteBytes(data_.data(), data_.size());
    s.Close();
    fs::rename(dir_ / "set.002", dir_ / "elsewhere");
  }
  TempDir dir_;
  std::vector<std::uint8_t> data_;
};

TEST_F(VolumeReading, AsksForAMissingVolume) {
  std::vector<int> asked;
  TArchiveStream r(TStreamMode::Read, dir_ / "set", true, 0, false, [&](int v, TReaction&) {
    asked.push_back(v);
    if (asked.size() == 2) fs::rename(dir_ / "elsewhere", dir_ / "set.002");
    return true;
  });
  std::vector<std::uint8_t> back(data_.size());
  r.ReadBytes(back.data(), back.size());
  EXPECT_EQ(data_, back);
  EXPECT_EQ((std::vector<int>{2, 2}), asked);
}

TEST_F(VolumeReading, MissingVolumeWithoutQuestionCannotBeOpened) {
  TArchiveStream r(TStreamMode::Read, dir_ / "set", true, 0, false, nullptr);
  std::vector<std::uint8_t> back(data_.size());
  try {
    r.ReadBytes(back.data(), back.size());
    FAIL();
  } catch (const EVX_CreateStreamError& e) {
    EXPECT_STREQ("Nemožno otvoriť súbor zálohy", e.what());
  }
}

TEST_F(VolumeReading, AbortWhileReading) {
  TArchiveStream r(TStreamMode::Read, dir_ / "set", true, 0, false, [](int, TReaction& a) {
    a = AW_ABORT;
    return true;
  });
  std::vector<std::uint8_t> back(data_.size());
  EXPECT_THROW(r.ReadBytes(back.data(), back.size()), EVX_UserAbortion);
}

TEST(DiskStream, EraseTargetDeletesOnlyRegularFiles) {
  TempDir dir, outside;
  testing::WriteWholeFile(dir / "old.txt", {1, 2});
  testing::WriteWholeFile(dir / "locked.txt", {3});
  ::chmod((dir / "locked.txt").c_str(), 0444);
  fs::create_directory(dir / "keepdir");
  testing::WriteWholeFile(dir / "keepdir/inner.txt", {4});
  testing::WriteWholeFile(outside / "target.txt", {5});
  fs::create_symlink(outside / "target.txt", dir / "link.txt");

  const auto data = NoiseBytes(3 * 32768);
  {
    TArchiveStream s(TStreamMode::Write, dir / "set.arc", true, 32768, true, nullptr);
    s.WriteBytes(data.data(), data.size());
    s.Close();
  }
  EXPECT_FALSE(fs::exists(dir / "old.txt"));
  EXPECT_FALSE(fs::exists(dir / "locked.txt"));
  EXPECT_TRUE(fs::exists(dir / "keepdir/inner.txt"));
  EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
  EXPECT_TRUE(fs::exists(outside / "target.txt"));
  // Volumes of the set being written survive the step before each later one.
  for (const char* v : {"set.001", "set.002", "set.003"}) EXPECT_EQ(32768u, SizeOf(dir / v)) << v;
}

// A destination that records what reaches it.
class RecordingDestination : public TArchiveDestination {
 public:
  struct Log {
    std::vector<std::vector<std::uint8_t>> blocks;
    int finished = 0, closed = 0, marks = 0;
    bool failSend = false;
  };
  RecordingDestination(Log& log, bool tape) : log_(log), tape_(tape) {}
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
    if (!tape_) TArchiveDestination::WriteFileMark();
    if (log_.marks < 0) throw std::runtime_error("device gone");
    ++log_.marks;
  }

 private:
  Log& log_;
  bool tape_;
};

TEST(DestinationStream, TapeBlocksFlushAndFileMarks) {
  RecordingDestination::Log log;
  {
    TArchiveStream s(TStreamMode::Write, std::make_unique<RecordingDestination>(log, true));
    EXPECT_TRUE(s.IsTape());
    const auto data = NoiseBytes(100);
    s.WriteBytes(data.data(), 100);
    s.FlushToBlockEnd();
    EXPECT_EQ(32768, s.Statistic.BytesWritten) << "the unused rest counts as written";
    s.WriteTapeFileMark();
    s.FlushToBlockEnd();  // nothing pending: no block
    s.WriteBytes(data.data(), 10);
    s.Close();
    ASSERT_EQ(2u, log.blocks.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), log.blocks[0].begin()));
    EXPECT_EQ(0xFF, log.blocks[0][100]);
    EXPECT_EQ(0xFF, log.blocks[0][32767]);
    EXPECT_EQ(1, log.marks);
    EXPECT_EQ(1, log.finished);
    EXPECT_EQ(1, log.closed);
  }
  EXPECT_EQ(1, log.closed) << "closing twice must not reach the destination again";

  // Reading: a block end skips the rest of the current block.
  const auto written = log.blocks;
  TArchiveStream r(TStreamMode::Read, std::make_unique<RecordingDestination>(log, true));
  std::uint8_t b[100];
  r.ReadBytes(b, 100);
  r.FlushToBlockEnd();
  r.ReadBytes(b, 10);
  EXPECT_TRUE(std::equal(b, b + 10, written[1].begin())) << "the second block's start";
  EXPECT_EQ(110, r.Statistic.BytesRead);
  r.FlushToBlockEnd();
  EXPECT_THROW(r.ReadBytes(b, 1), EVX_BackupReadError) << "no third block";
}

TEST(DestinationStream, FileMarkFailuresAndNonTapes) {
  RecordingDestination::Log log;
  log.marks = -1;
  TArchiveStream tape(TStreamMode::Write, std::make_unique<RecordingDestination>(log, true));
  try {
    tape.WriteTapeFileMark();
    FAIL();
  } catch (const EVX_TapeError& e) {
    EXPECT_STREQ("Chyba páskového zariadenia - chýba značka súboru", e.what());
  }
  RecordingDestination::Log ftpLog;
  TArchiveStream ftp(TStreamMode::Write, std::make_unique<RecordingDestination>(ftpLog, false));
  EXPECT_FALSE(ftp.IsTape());
  EXPECT_THROW(ftp.WriteTapeFileMark(), EVX_TapeError);
  EXPECT_THROW(ftp.Destination()->SkipFilemarks(1), EVX_TapeError);
  EXPECT_THROW(ftp.Destination()->Unload(), EVX_TapeError);
}

TEST(DestinationStream, FailedSendIsNotRepeatedOnTeardown) {
  RecordingDestination::Log log;
  {
    TArchiveStream s(TStreamMode::Write, std::make_unique<RecordingDestination>(log, false));
    const auto data = NoiseBytes(40000);
    log.failSend = true;
    EXPECT_THROW(s.WriteBytes(data.data(), data.size()), EVX_DiskFullError);
    log.failSend = false;
  }
  EXPECT_TRUE(log.blocks.empty());
  EXPECT_EQ(0, log.finished);
  EXPECT_EQ(1, log.closed);

  // Torn down without Close after a non-stream failure: the pending block is
  // still sent, but the transfer is not finished as a success.
  RecordingDestination::Log log2;
  {
    TArchiveStream s(TStreamMode::Write, std::make_unique<RecordingDestination>(log2, false));
    const std::uint8_t byte = 7;
    s.WriteBytes(&byte, 1);
  }
  EXPECT_EQ(1u, log2.blocks.size());
  EXPECT_EQ(0, log2.finished);
  EXPECT_EQ(1, log2.closed);
}

}  // namespace
}  // namespace vx
