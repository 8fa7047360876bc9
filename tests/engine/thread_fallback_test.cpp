// Threads the system refuses (a limit on processes or memory): every place
// that starts helper threads goes on with fewer, or on the caller's thread
// alone, logs a warning once and gives the same result.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/engine_fixture.h"
#include "engine/vaultrex.h"
#include "support/threads.h"

namespace vx {
namespace {

using namespace vx::test;
namespace fs = std::filesystem;

constexpr char kWarning[] =
    "Upozornenie: systém nedovolil spustiť všetky vlákna, operácia pokračuje s menším počtom";

struct TThreadCase {
  const char* name;
  const char* operation;  // which run has its threads refused
  int allowed;            // thread starts that succeed before the refusals
};

// Lifts the limit however the test ends.
struct TLimit {
  explicit TLimit(int allowed) { LimitThreadStarts(allowed); }
  ~TLimit() { LimitThreadStarts(-1); }
  TLimit(const TLimit&) = delete;
  TLimit& operator=(const TLimit&) = delete;
};

class ThreadFallback : public TEngineTest, public ::testing::WithParamInterface<TThreadCase> {};

// Order of the starts with two threads: the backup's scan starts one
// checksum helper (for 64 files and more), then its two packing threads;
// restore and verify start two decoding threads, restore then two writers.
TEST_P(ThreadFallback, TheRunGoesOnWithFewerThreadsAndSaysSo) {
  const TThreadCase c = GetParam();
  for (int i = 0; i < 150; ++i) WriteFile(Src("f" + std::to_string(i)), TextBytes(100 + i * 10));
  WriteFile(Src("big"), NoiseBytes(300000) + TextBytes(300000));
  UseLog(dir / "run.log");
  engine.CompressData = CDM_QuickCompression;
  engine.IncludeNames = {src / "*.*"};
  engine.BackupThreads = 2;
  const std::string op = c.operation;
  const auto run = [this](const std::string& what) {
    if (what == "backup") return engine.Backup();
    if (what == "verify") return engine.Verify();
    RestoreEverythingTo("out");
    return engine.Restore();
  };
  if (op != "backup") {
    ASSERT_EQ(engine.Backup(), 0);
  }
  {
    const TLimit limit(c.allowed);
    EXPECT_EQ(run(op), 0);
  }
  EXPECT_TRUE(LogHas(kWarning));
  EXPECT_EQ(engine.WarningCount(), 1);
  if (op == "verify") return;
  if (op == "backup") {
    ASSERT_EQ(run("restore"), 0);
  }
  for (const auto& entry : fs::directory_iterator(src.path())) {
    const std::string path = entry.path().string();
    EXPECT_EQ(ReadFile(dir / ("out" + path)), ReadFile(path)) << path;
  }
}

INSTANTIATE_TEST_SUITE_P(Places, ThreadFallback,
                         ::testing::Values(TThreadCase{"BackupWithoutAnyHelper", "backup", 0},
                                           TThreadCase{"BackupChecksumHelperOnly", "backup", 1},
                                           TThreadCase{"BackupOnePackingThread", "backup", 2},
                                           TThreadCase{"RestoreWithoutAnyHelper", "restore", 0},
                                           TThreadCase{"RestoreOneDecodingThread", "restore", 1},
                                           TThreadCase{"RestoreWithoutWriters", "restore", 2},
                                           TThreadCase{"RestoreOneWriter", "restore", 3},
                                           TThreadCase{"VerifyWithoutAnyHelper", "verify", 0},
                                           TThreadCase{"VerifyOneDecodingThread", "verify", 1}),
                         [](const ::testing::TestParamInfo<TThreadCase>& info) {
                           return info.param.name;
                         });

class ThreadStarts : public TEngineTest {};

// Where every thread starts, nothing is said.
TEST_F(ThreadStarts, ThreadsThatStartGiveNoWarning) {
  for (int i = 0; i < 150; ++i) WriteFile(Src("f" + std::to_string(i)), TextBytes(100 + i));
  UseLog(dir / "run.log");
  engine.CompressData = CDM_QuickCompression;
  engine.IncludeNames = {src / "*.*"};
  engine.BackupThreads = 2;
  ASSERT_EQ(engine.Backup(), 0);
  EXPECT_FALSE(LogHas(kWarning));
  RestoreEverythingTo("out");
  ASSERT_EQ(engine.Restore(), 0);
  EXPECT_FALSE(LogHas(kWarning));
  EXPECT_EQ(engine.WarningCount(), 0);
}

}  // namespace
}  // namespace vx
