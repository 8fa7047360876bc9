// Backup under a careless or hostile hand: failed and cancelled runs keep the
// older set, files swapped or changed during the run, stop requests, the
// log in the target folder, and byte counts of 2 GiB and more.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "archive/format.h"
#include "common/engine_fixture.h"
#include "common/files.h"
#include "common/named_case.h"
#include "common/temp_folder.h"
#include "engine/vaultrex.h"
#include "platform/archive_bits.h"
#include "platform/hooks.h"
#include "support/utils.h"

namespace vx {
namespace {

namespace fs = std::filesystem;
using test::NoiseBytes;
using test::ReadFile;
using test::ReadLines;
using test::WriteFile;

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Runs fn in a child process killed after `seconds`: a run that would hang
// fails instead.  Returns the child's exit code, or minus the signal.
int RunBounded(const std::function<int()>& fn, unsigned seconds = 20) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::alarm(seconds);
    ::_exit(fn());
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// Asks every operation to stop while it lives, after `blocks` data blocks.
struct TStopAfterBlocks {
  explicit TStopAfterBlocks(TVaultrex& engine, int blocks) : left(blocks) {
    engine.OnNextBlock = [this](const std::string&, std::int64_t, std::int64_t) { --left, ++seen; };
    SetStopRequestHook([this] { return left <= 0; });
  }
  ~TStopAfterBlocks() { SetStopRequestHook(nullptr); }
  int left;
  int seen = 0;
};

class BackupSafety : public test::TEngineTest {
 public:
  std::string Src(const std::string& rel) const { return src / rel; }

 protected:
  void SetUp() override { UseLog(log / "backup.log"); }

  test::TTempFolder log;
};

// ---- A failed or cancelled run never costs the older set ----

struct FailureCase {
  const char* name;
  int code;
  // Arms the failure on the engine of the second run; may return an object
  // that must live for the run.
  std::function<std::shared_ptr<void>(TVaultrex&, BackupSafety&)> arm;
  bool needsSmallDisk = false;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class BackupFailures : public BackupSafety, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(BackupFailures, OlderSetStaysWholeAndNothingPartialIsLeft) {
  vx::test::TSmallTmpfs disk("512k");
  if (GetParam().needsSmallDisk) {
    if (!disk.ok()) GTEST_SKIP() << "needs root to mount a small tmpfs";
    AimAt(disk.path());
  }
  WriteFile(Src("a.txt"), "night one");
  WriteFile(Src("b.bin"), NoiseBytes(100000, 2));
  engine.AddToIncludes(Src("*.*"));
  ASSERT_EQ(engine.Backup(), 0);
  const std::string older = ReadFile(Archive());

  WriteFile(Src("b.bin"), NoiseBytes(500000, 3));  // night two: more data
  auto keep = GetParam().arm(engine, *this);
  EXPECT_EQ(engine.Backup(), GetParam().code);
  EXPECT_EQ(ReadFile(Archive()), older);
  EXPECT_EQ(Names(engine.BackupDestination), std::vector<std::string>{"set.arc"});
  EXPECT_EQ(Log().back(),
            "Prerušenie zálohovania spôsobené " + TVaultrex::ErrorText(GetParam().code));
}

INSTANTIATE_TEST_SUITE_P(
    Backup, BackupFailures,
    ::testing::Values(FailureCase{"FullDisk", 2,
                                  [](TVaultrex&, BackupSafety&) { return std::shared_ptr<void>(); },
                                  true},
                      FailureCase{"OpenAborted", 4,
                                  [](TVaultrex& engine, BackupSafety& t) {
                                    engine.HandleOpenError = AW_ABORT;
                                    engine.OnEndFileScan = [&t](const std::string&, TReaction&) {
                                      fs::remove(t.Src("b.bin"));
                                    };
                                    return std::shared_ptr<void>();
                                  }},
                      FailureCase{"ReadAborted", 5,
                                  [](TVaultrex& engine, BackupSafety& t) {
                                    engine.HandleFileReadError = AW_ABORT;
                                    engine.OnEndFileScan = [&t](const std::string&, TReaction&) {
                                      fs::remove(t.Src("b.bin"));
                                      fs::create_symlink("/proc/self/mem", t.Src("b.bin"));
                                    };
                                    return std::shared_ptr<void>();
                                  }},
                      FailureCase{"StopRequested", 12,
                                  [](TVaultrex& engine, BackupSafety&) {
                                    return std::static_pointer_cast<void>(
                                        std::make_shared<TStopAfterBlocks>(engine, 2));
                                  }},
                      FailureCase{"Cancelled", 12,
                                  [](TVaultrex& engine, BackupSafety&) {
                                    engine.OnStatistic = [](const TBackupStatistic&, bool& cancel) {
                                      cancel = true;
                                    };
                                    return std::shared_ptr<void>();
                                  }}),
    vx::test::TCaseName());

TEST_F(BackupSafety, FailedSplitSetRemovesTheVolumesItWrote) {
  WriteFile(Src("b.bin"), NoiseBytes(200000, 3));
  engine.AddToIncludes(Src("*.*"));
  engine.ArchiveBaseName = "set";
  engine.SpanDisks = true;
  engine.MaxSplitSize = 32768;
  engine.AskForNextDisk = false;
  TStopAfterBlocks stop(engine, 4);
  EXPECT_EQ(engine.Backup(), 12);
  EXPECT_TRUE(Names(dir.path()).empty());
}

TEST_F(BackupSafety, ArchivesAreCreatedPrivate) {
  WriteFile(Src("a.txt"), "secret");
  engine.AddToIncludes(Src("a.txt"));
  const mode_t mask = ::umask(0);
  const int code = engine.Backup();
  engine.SpanDisks = true;
  engine.ArchiveBaseName = "vol";
  const int split = engine.Backup();
  ::umask(mask);
  ASSERT_EQ(code, 0);
  ASSERT_EQ(split, 0);
  for (const std::string& name : {Archive(), dir / "vol.001", engine.LogFileName}) {
    struct stat st {};
    ASSERT_EQ(::stat(name.c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
  }
}

// ---- Never store the wrong file ----

struct SwapCase {
  const char* name;
  std::function<void(const std::string&)> swap;
};
void PrintTo(const SwapCase& c, std::ostream* os) { *os << c.name; }

class SwappedFiles : public BackupSafety, public ::testing::WithParamInterface<SwapCase> {};

// Swapped between the scan and the data pass for something that is not a
// regular file: an open error with the reason, never a hang, never endless data.
TEST_P(SwappedFiles, AreOpenErrorsNotDataNorHangs) {
  WriteFile(Src("a.txt"), "a");
  WriteFile(Src("b.txt"), "b");
  engine.AddToIncludes(Src("*.txt"));
  engine.HandleOpenError = AW_IGNORE;
  engine.OnEndFileScan = [&](const std::string&, TReaction&) {
    fs::remove(Src("b.txt"));
    GetParam().swap(Src("b.txt"));
  };
  EXPECT_EQ(RunBounded([&] { return engine.Backup(); }), kPartialCode);  // without b.txt
  const auto lines = Log();
  EXPECT_TRUE(Contains(lines, "CHYBA #1: Súbor " + Src("b.txt") +
                                  " nie je zazálohovaný - chyba pri otvorení súboru: nie je "
                                  "obyčajný súbor"));
  EXPECT_TRUE(Contains(lines, "Súbor " + Src("a.txt") + " Zazálohovaný OK"));
  EXPECT_EQ(fs::file_size(Archive()), kBlockSize);
}

INSTANTIATE_TEST_SUITE_P(
    Backup, SwappedFiles,
    ::testing::Values(
        SwapCase{"Fifo", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
        SwapCase{"LinkToDevZero", [](const std::string& p) { fs::create_symlink("/dev/zero", p); }},
        SwapCase{"Folder", [](const std::string& p) { fs::create_directory(p); }}),
    vx::test::TCaseName());

struct ChangeCase {
  const char* name;
  std::string now;     // the content the data pass finds
  std::string stored;  // what the archive must hold
};
void PrintTo(const ChangeCase& c, std::ostream* os) { *os << c.name; }

class ChangedFiles : public BackupSafety, public ::testing::WithParamInterface<ChangeCase> {};

// Read at most what the scan saw; a file whose checksum or size changed is
// logged and counted as a warning, and keeps its archive attribute.
TEST_P(ChangedFiles, AreReadUpToTheScannedSizeAndWarned) {
  WriteFile(Src("c.txt"), "scanned content");
  engine.AddToIncludes(Src("c.txt"));
  engine.StoreMetadata = false;  // the file's data follow its one record
  engine.OnEndFileScan = [&](const std::string&, TReaction&) {
    WriteFile(Src("c.txt"), GetParam().now);
  };
  engine.OnNextBlock = [&](const std::string&, std::int64_t done, std::int64_t total) {
    EXPECT_LE(done, total);
  };
  ASSERT_EQ(engine.Backup(), kPartialCode);  // stored as read, not as scanned
  const std::string bytes = ReadFile(Archive());
  const std::size_t data = kHeaderSize + kCountSize + kRecordSize;
  const TBlockHeader h =
      DecodeBlockHeader(reinterpret_cast<const std::uint8_t*>(bytes.data()) + data);
  EXPECT_EQ(bytes.substr(data + kBlockHeaderSize, static_cast<std::size_t>(h.rawLength)),
            GetParam().stored);
  EXPECT_EQ(engine.WarningCount(), 1);
  EXPECT_TRUE(Contains(Log(), "Upozornenie :" + Src("c.txt") + " sa počas zálohovania zmenil"));
  EXPECT_TRUE(Contains(Log(), "Upozornenia počas zálohy: 1"));
  EXPECT_TRUE(TArchiveBitStore::Instance().IsSet(Src("c.txt")));
}

INSTANTIATE_TEST_SUITE_P(
    Backup, ChangedFiles,
    ::testing::Values(ChangeCase{"Grew", "scanned content and a lot more", "scanned content"},
                      ChangeCase{"GrewByOneByte", "scanned content!", "scanned content"},
                      ChangeCase{"SameSizeOtherBytes", "SCANNED CONTENT", "SCANNED CONTENT"},
                      ChangeCase{"Shrank", "scanned", "scanned"}),
    vx::test::TCaseName());

// ---- Never hang, stop when asked ----

TEST_F(BackupSafety, StopIsSeenAtTheNextBlock) {
  WriteFile(Src("big.bin"), NoiseBytes(20 * kBlockSize, 9));
  engine.AddToIncludes(Src("big.bin"));
  TStopAfterBlocks stop(engine, 3);
  EXPECT_EQ(engine.Backup(), 12);
  EXPECT_EQ(stop.seen, 3);
  EXPECT_FALSE(fs::exists(Archive()));

  // Asked during the scan (its checksum pass reads whole files), too.
  SetStopRequestHook([] { return true; });
  EXPECT_EQ(engine.Backup(), 12);
  EXPECT_TRUE(engine.FileList().empty());
}

// The log of the running operation lies in the folder the backup empties:
// it is kept, with the older runs it holds.
TEST_F(BackupSafety, EraseStepKeepsTheRunningLog) {
  WriteFile(Src("a.txt"), "a");
  vx::test::WriteArchive(dir / "stale.arc", {{"/old/a.txt", "old"}});
  WriteFile(dir / "run.log", "an older run\r\n");
  engine.AddToIncludes(Src("a.txt"));
  engine.EraseTargetDir = true;
  engine.LogFileMode = LFM_Append;
  engine.LogFileName = dir / "run.log";
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"run.log", "set.arc"}));
  const auto lines = Log();
  EXPECT_EQ(lines.front(), "an older run");
  EXPECT_TRUE(Contains(lines, "Zálohované 1 súbory"));
}

// ---- Say what happened: 64-bit byte counts ----

// A sparse file just over 2 GiB as the scan sees it: every count,
// percentage and summary line in real bytes; the record keeps the low 32 bits
// as the format has it.  (The file shrinks before the data pass, so that the
// test need not read 2 GiB.)
TEST_F(BackupSafety, SizesOfTwoGiBAndMoreCountIn64Bits) {
  const std::int64_t big = (std::int64_t{1} << 31) + 40000;
  WriteFile(Src("big.img"), "");
  ASSERT_EQ(::truncate(Src("big.img").c_str(), big), 0);
  WriteFile(Src("small.txt"), "small");
  engine.AddToIncludes(Src("big.img"));
  engine.AddToIncludes(Src("small.txt"));
  engine.CompressData = CDM_QuickCompression;
  engine.NoFileCRCs = true;  // no checksum pass over the 2 GiB
  engine.OnEndFileScan = [&](const std::string&, TReaction&) {
    ASSERT_EQ(::truncate(Src("big.img").c_str(), 100000), 0);
  };
  engine.UseExtStatistic = true;
  std::vector<TExtBackupStatistic> reports;
  engine.OnExtStatistic = [&](const TExtBackupStatistic& s, bool&) { reports.push_back(s); };
  std::int64_t total = 0;
  engine.OnNextBlock = [&](const std::string& name, std::int64_t, std::int64_t t) {
    if (name == Src("big.img")) total = t;
  };
  ASSERT_EQ(engine.Backup(), kPartialCode);  // big.img shrank after the scan

  EXPECT_EQ(total, big);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].TotalBytes, big + 5);
  EXPECT_EQ(reports[0].BytesRead, big);
  EXPECT_EQ(reports[0].CurrentFileSize, big);
  EXPECT_EQ(reports[0].PercentDone, 100);  // 2 GiB of 2 GiB + 5 bytes
  EXPECT_EQ(reports[1].BytesRead, big + 5);
  EXPECT_EQ(engine.FileList()[0].size, static_cast<std::int32_t>(static_cast<std::uint32_t>(big)));
  const auto lines = Log();
  EXPECT_TRUE(Contains(lines, FormatSize64(big + 5) + " prečítané"));
  const auto ratio = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.rfind("Kompresia : 1:", 0) == 0 && l != "Kompresia : 1:1 (bez kompresie)";
  });
  EXPECT_NE(ratio, lines.end());
  const auto rate = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.rfind("Backed up at ", 0) == 0;
  });
  ASSERT_NE(rate, lines.end());
  EXPECT_EQ(rate->find('-'), std::string::npos) << *rate;
}

}  // namespace
}  // namespace vx
