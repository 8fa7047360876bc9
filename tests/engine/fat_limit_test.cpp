// Sets written to a FAT file system, which holds no file of 4 GiB or more:
// volumes are cut below the limit (and still restore), a one-file set that
// would pass it ends with a write error that says so and leaves the older
// set as it was.  The FAT file system is real (FUSE); only its limit is
// lowered to a few blocks, so that the cases need no gigabytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/engine_fixture.h"
#include "common/fat_mount.h"
#include "common/files.h"
#include "platform/mount_points.h"

namespace vx {
namespace {

namespace fs = std::filesystem;
using test::NoiseBytes;
using test::ReadFile;
using test::WriteFile;

constexpr std::uint64_t kBlock = 32768;
// As if FAT held files of at most six blocks and 100 bytes: the blocks of a
// volume and its 32-byte trailer fit six blocks.
constexpr std::uint64_t kLimit = 6 * kBlock + 100;

class FatLimit : public test::TEngineTest {
 protected:
  void SetUp() override { SetFatFileLimitForTests(kLimit); }
  void TearDown() override { SetFatFileLimitForTests(0); }

  // The sizes of the files of the destination whose names start with "set".
  static std::vector<std::uint64_t> SetFiles(const std::string& folder) {
    std::vector<std::pair<std::string, std::uint64_t>> named;
    for (const auto& e : fs::directory_iterator(folder)) {
      const std::string name = e.path().filename();
      if (name.compare(0, 3, "set") == 0) named.emplace_back(name, e.file_size());
    }
    std::sort(named.begin(), named.end());
    std::vector<std::uint64_t> sizes;
    sizes.reserve(named.size());
    for (const auto& n : named) sizes.push_back(n.second);
    return sizes;
  }
};

TEST_F(FatLimit, SetsStayBelowTheFileLimitOfTheDestination) {
  test::TFatMount fat;
  if (!fat.Ready()) GTEST_SKIP() << "no FAT file system to write to: " << fat.Error();
  struct TCase {
    const char* name;
    bool onFat;
    bool span;
    std::int64_t splitSize;
    int code;
    std::vector<std::uint64_t> sizes;  // of the set's files afterwards
    bool logsCap;
    int asks;  // for a further disk: volumes cut at a size of the user's are asked for
  };
  const std::uint64_t t = 32;  // a volume's trailer
  const std::uint64_t six = 6 * kBlock + t;
  // clang-format off
  const TCase cases[] = {
      // A set of 19 blocks: volumes of six blocks, on the same disk, and
      // without a question when the volumes have no size of their own.
      {"volumes without a size", true, true, 0, 0, {six, six, six, kBlock + t}, true, 0},
      {"volumes cut bigger than FAT holds", true, true, 10 * kBlock, 0,
       {six, six, six, kBlock + t}, true, 3},
      {"volumes cut smaller", true, true, 4 * kBlock, 0,
       {4 * kBlock + t, 4 * kBlock + t, 4 * kBlock + t, 4 * kBlock + t, 3 * kBlock + t}, false, 4},
      // The older one-file set (one block) stays as it was.
      {"one file over the limit", true, false, 0, 6, {kBlock}, false, 0},
      {"volumes on another file system", false, true, 0, 0, {19 * kBlock + t}, false, 0},
  };
  // clang-format on
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string folder = c.onFat ? fat.Path() + "/" + c.name : std::string(dir / c.name);
    fs::create_directories(folder);
    AimAt(folder);
    engine.ArchiveBaseName = c.span ? "set" : "set.arc";
    engine.SpanDisks = c.span;
    engine.MaxSplitSize = c.splitSize;
    int asked = 0;
    engine.OnNextDisk = [&asked](int, TReaction& answer) {
      ++asked;
      answer = AW_IGNORE;
    };
    UseLog(dir / "backup.log");
    const std::string older = Src(std::string(c.name) + "/older.txt");
    WriteFile(older, "the older set");
    engine.IncludeNames = {older};
    ASSERT_EQ(engine.Backup(), 0);
    const std::string olderSet = c.span ? "" : ReadFile(folder + "/set.arc");
    const std::string big = Src(std::string(c.name) + "/big.bin");
    WriteFile(big, NoiseBytes(19 * kBlock - 4000));
    engine.IncludeNames = {big};
    EXPECT_EQ(engine.Backup(), c.code);
    EXPECT_EQ(asked, c.asks);
    EXPECT_EQ(SetFiles(folder), c.sizes);
    EXPECT_EQ(LogHas("Cieľ je na súborovom systéme FAT: zväzky budú mať najviac 196640 bajtov"),
              c.logsCap);
    if (c.code != 0) {
      EXPECT_EQ(ReadFile(folder + "/set.arc"), olderSet);
      const std::vector<std::string> log = Log();
      EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& line) {
        return line.find(folder +
                         "/set.arc: súborový systém FAT neprijme súbor väčší ako 4 GiB - "
                         "1 bajt; rozdeľte zálohu na zväzky (SpanDisks=1, napríklad "
                         "MaxSplitSize=4000000000)") != std::string::npos;
      }));
      continue;
    }
    // The volumes read back as one set.
    RestoreEverythingTo(std::string("out/") + c.name);
    EXPECT_EQ(engine.Restore(), 0);
    EXPECT_EQ(ReadFile(dir / ("out/" + std::string(c.name) + big)), ReadFile(big));
  }
}

}  // namespace
}  // namespace vx
