// What a restore and a delete write is on the disk before they report
// success: the restore flushes each file system it wrote to once, the delete
// the folder of the set it renamed; a flush that fails fails the run.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>

#include "common/engine_fixture.h"
#include "engine/vaultrex.h"
#include "platform/target_writer.h"

namespace vx {
namespace {

using namespace vx::test;

struct TFlushCase {
  const char* name;
  int threads;
  bool deleting;     // a delete, else a restore
  int failure;       // the errno every flush fails with (0: none)
  int result;        // of the run
  int flushes;       // issued by the run
  const char* line;  // in the log ("": none expected)
};

// Makes every flush fail with err while it lives.
struct TFailedFlushes {
  explicit TFailedFlushes(int err) { FailFlushes(err); }
  ~TFailedFlushes() { FailFlushes(0); }
  TFailedFlushes(const TFailedFlushes&) = delete;
  TFailedFlushes& operator=(const TFailedFlushes&) = delete;
};

class Durability : public TEngineTest, public ::testing::WithParamInterface<TFlushCase> {};

TEST_P(Durability, TheRunFlushesWhatItWroteBeforeItSucceeds) {
  const TFlushCase c = GetParam();
  for (int i = 0; i < 20; ++i) WriteFile(Src("d/f" + std::to_string(i)), TextBytes(2500));
  WriteFile(Src("d/big"), NoiseBytes(200000));
  engine.IncludeNames = {src / "d/*.*"};
  engine.BackupThreads = c.threads;
  ASSERT_EQ(engine.Backup(), 0);
  UseLog(dir / "run.log");
  int result = -1;
  const std::uint64_t before = FlushesIssued();
  {
    const TFailedFlushes failing(c.failure);
    if (c.deleting) {
      engine.IncludeNames.clear();
      engine.ExcludeNames = {src / "d/f1"};
      result = engine.DeleteFiles();
    } else {
      RestoreEverythingTo("out");
      result = engine.Restore();
    }
  }
  EXPECT_EQ(result, c.result);
  EXPECT_EQ(FlushesIssued() - before, static_cast<std::uint64_t>(c.flushes));
  if (*c.line != '\0') {
    EXPECT_TRUE(LogHas(c.line));
  }
  if (!c.deleting && c.failure == 0) {
    EXPECT_EQ(ReadFile(dir / ("out" + Src("d/big"))), ReadFile(Src("d/big")));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Durability,
    ::testing::Values(TFlushCase{"RestoreOneThread", 1, false, 0, 0, 1, ""},
                      TFlushCase{"RestoreWithWriters", 2, false, 0, 0, 1, ""},
                      TFlushCase{"RestoreFlushFails", 2, false, EIO, 9, 1,
                                 "Chyba I/O  (#5) počas zápisu na disk"},
                      TFlushCase{"RestoreFlushFindsTheDiskFull", 1, false, ENOSPC, 2, 1,
                                 "Chyba I/O  (#28) počas zápisu na disk"},
                      TFlushCase{"Delete", 1, true, 0, 0, 1, ""},
                      TFlushCase{"DeleteFlushFails", 1, true, EIO, 6, 1, ""}),
    [](const ::testing::TestParamInfo<TFlushCase>& info) { return info.param.name; });

}  // namespace
}  // namespace vx
