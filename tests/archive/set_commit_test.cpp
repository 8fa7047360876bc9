// The life of a disk set being written: a run killed at any step leaves the
// older set whole or the new one (never a chain reading as one set while it
// mixes two runs), the next run removes what the killed one left, and a
// reader refuses a volume of another run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive_stream.h"
#include "archive/errors.h"
#include "common/error_of.h"
#include "common/files.h"
#include "common/temp_folder.h"

namespace vx {
namespace {

namespace fs = std::filesystem;
using test::ErrorOf;
using test::NoiseData;
using test::TTempFolder;

constexpr std::size_t kBlock = 32768;

// The point a child process ends at, as kill -9 would: no destructor runs.
const char* stopPoint = nullptr;  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)
int stopAt = 0;                   // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

void StopHere(const char* point, int n) {
  if (stopPoint != nullptr && std::strcmp(point, stopPoint) == 0 && n == stopAt) ::_exit(3);
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

void WriteSet(const std::string& base, bool span, const std::vector<std::uint8_t>& data) {
  TArchiveStream s(TStreamMode::Write, base, span, span ? kBlock : 0, false,
                   [](int, TReaction&) { return true; });
  s.WriteBytes(data.data(), data.size());
  s.Close();
}

// Writes the set in a child process that ends at the point; the child's
// exit code (3 when it stopped there, 0 when it got through).
int WriteSetStopping(const std::string& base, bool span, const std::vector<std::uint8_t>& data,
                     const char* point, int n) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    stopPoint = point;
    stopAt = n;
    SetStreamTestHook(StopHere);
    WriteSet(base, span, data);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

enum class TFound { Old, New, Refused };

// What a reader finds under the set's name: the older data whole, the new
// data whole, or a chain it refuses as volumes of two runs.
TFound Found(const std::string& base, bool span, const std::vector<std::uint8_t>& old,
             const std::vector<std::uint8_t>& next) {
  try {
    TArchiveStream r(TStreamMode::Read, base, span, 0, false, nullptr);
    std::vector<std::uint8_t> back(std::min(old.size(), next.size()));
    r.ReadBytes(back.data(), back.size());
    if (std::equal(back.begin(), back.end(), old.begin())) return TFound::Old;
    if (std::equal(back.begin(), back.end(), next.begin())) return TFound::New;
  } catch (const EVX_BackupReadError& e) {
    if (std::string(e.what()).rfind("Zväzok nepatrí k tejto zálohovej sade: ", 0) == 0)
      return TFound::Refused;
    ADD_FAILURE() << e.what();
  }
  ADD_FAILURE() << "neither set";
  return TFound::Refused;
}

struct TCrashCase {
  const char* name;
  bool span;
  const char* point;  // nullptr: the run gets through
  int n;
  TFound found;
  int leftovers;  // temporary files the next run removes
};

// The older set: one file of 5 blocks, or a chain of 5 volumes; the new one
// is 3 blocks, 3 volumes.  Volumes are renamed from the last to the first.
const TCrashCase kCrashes[] = {
    {"OneFileWritten", false, "volume-synced", 1, TFound::Old, 1},
    {"OneFileRenamed", false, "volume-renamed", 1, TFound::New, 0},
    {"OneFileCommitted", false, "set-committed", 1, TFound::New, 0},
    {"OneFileThrough", false, nullptr, 0, TFound::New, 0},
    {"FirstVolumeSynced", true, "volume-synced", 1, TFound::Old, 1},
    {"LastVolumeSynced", true, "volume-synced", 3, TFound::Old, 3},
    {"LastVolumeRenamed", true, "volume-renamed", 3, TFound::Refused, 2},
    {"SecondVolumeRenamed", true, "volume-renamed", 2, TFound::Refused, 1},
    {"FirstVolumeRenamed", true, "volume-renamed", 1, TFound::New, 0},
    {"ChainCommitted", true, "set-committed", 3, TFound::New, 0},
    {"ChainThrough", true, nullptr, 0, TFound::New, 0},
};

TEST(SetCommit, KilledRunLeavesOneWholeSetAndTheNextRunCleansUp) {
  for (const TCrashCase& c : kCrashes) {
    SCOPED_TRACE(c.name);
    TTempFolder dir;
    const std::string base = dir / (c.span ? "set" : "set.arc");
    const auto old = NoiseData(5 * kBlock, 11);
    const auto next = NoiseData(3 * kBlock, 22);
    WriteSet(base, c.span, old);
    const auto before = Names(dir.path());
    EXPECT_EQ(c.point != nullptr ? 3 : 0, WriteSetStopping(base, c.span, next, c.point, c.n));
    EXPECT_EQ(c.found, Found(base, c.span, old, next));
    if (c.point == nullptr && c.span) {
      EXPECT_EQ((std::vector<std::string>{"set.001", "set.002", "set.003"}), Names(dir.path()))
          << "the older chain's later volumes are removed";
    }
    // The next run on the folder removes what the killed one left, and says
    // which files they were.
    TArchiveStream s(TStreamMode::Write, base, c.span, c.span ? kBlock : 0, false, nullptr);
    EXPECT_EQ(static_cast<std::size_t>(c.leftovers), s.Leftovers().size());
    for (const std::string& name : s.Leftovers()) {
      EXPECT_EQ('.', fs::path(name).filename().string()[0]) << name;
      EXPECT_FALSE(fs::exists(name)) << name;
    }
    s.Abandon();
    if (c.found == TFound::Old) {
      EXPECT_EQ(before, Names(dir.path()));
    }
  }
}

// Temporary files of a writer still running, of another user, or of no set
// of this name are no leftovers.
TEST(SetCommit, CleanerTakesOnlyStaleFilesOfItsOwnSet) {
  TTempFolder dir;
  const auto data = NoiseData(3 * kBlock);
  TArchiveStream running(TStreamMode::Write, dir / "set", true, kBlock, false, nullptr);
  running.WriteBytes(data.data(), data.size());  // three temporary volumes, held
  test::WriteBytes(dir / ".other.001.abcdef", {1});
  test::WriteBytes(dir / ".set.001.no-tmp", {1});
  test::WriteBytes(dir / ".set.007.zzzzzz", {1});  // a killed run's
  const bool root = ::geteuid() == 0;
  if (root) {
    test::WriteBytes(dir / ".set.002.foreig", {1});
    ASSERT_EQ(0, ::chown((dir / ".set.002.foreig").c_str(), 65534, 65534));
  }
  TArchiveStream second(TStreamMode::Write, dir / "set", true, kBlock, false, nullptr);
  EXPECT_EQ(std::vector<std::string>{dir / ".set.007.zzzzzz"}, second.Leftovers());
  second.Abandon();
  EXPECT_TRUE(fs::exists(dir / ".other.001.abcdef"));
  EXPECT_TRUE(fs::exists(dir / ".set.001.no-tmp"));
  if (root) {
    EXPECT_TRUE(fs::exists(dir / ".set.002.foreig"));
  }
  running.Close();
  std::vector<std::uint8_t> back(data.size());
  TArchiveStream r(TStreamMode::Read, dir / "set", true, 0, false, nullptr);
  r.ReadBytes(back.data(), back.size());
  EXPECT_EQ(data, back) << "the running writer's volumes were kept";
}

// A volume of another run of the same set, where the next volume of this one
// was expected, is refused by name; sets written before volumes carried an
// identity still read.
TEST(SetCommit, ReaderRefusesAVolumeOfAnotherRun) {
  struct TCase {
    const char* name;
    bool stripAll;        // sets written before: no trailer anywhere
    bool foreignSecond;   // volume 2 of another run of the same name
    bool strippedSecond;  // volume 2 without its trailer
    bool swapped;         // volume 3 of this run in the place of volume 2
    const char* refused;  // the volume named, nullptr when the set reads
  };
  const TCase cases[] = {
      {"ThisRun", false, false, false, false, nullptr},
      {"WrittenBefore", true, false, false, false, nullptr},
      {"AnotherRun", false, true, false, false, "set.002"},
      {"NoIdentityAfterOne", false, false, true, false, "set.002"},
      {"OutOfOrder", false, false, false, true, "set.002"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TTempFolder dir, other;
    const auto data = NoiseData(3 * kBlock, 5);
    WriteSet(dir / "set", true, data);
    WriteSet(other / "set", true, data);
    auto strip = [](const std::string& path) {
      fs::resize_file(path, fs::file_size(path) / kBlock * kBlock);
    };
    if (c.stripAll) {
      for (const char* v : {"set.001", "set.002", "set.003"}) strip(dir / v);
    }
    if (c.foreignSecond)
      fs::copy_file(other / "set.002", dir / "set.002", fs::copy_options::overwrite_existing);
    if (c.strippedSecond) strip(dir / "set.002");
    if (c.swapped)
      fs::copy_file(dir / "set.003", dir / "set.002", fs::copy_options::overwrite_existing);
    TArchiveStream r(TStreamMode::Read, dir / "set", true, 0, false, nullptr);
    std::vector<std::uint8_t> back(data.size());
    if (c.refused == nullptr) {
      r.ReadBytes(back.data(), back.size());
      EXPECT_EQ(data, back);
    } else {
      EXPECT_EQ("Zväzok nepatrí k tejto zálohovej sade: " + (dir / c.refused),
                ErrorOf<EVX_BackupReadError>([&] { r.ReadBytes(back.data(), back.size()); }));
    }
  }
}

}  // namespace
}  // namespace vx
