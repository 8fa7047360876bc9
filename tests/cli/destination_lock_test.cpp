// The destination folder (created only when allowed, never where a disk is
// missing) and the set's lock, as vaultix-cli reports them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_fixture.h"
#include "common/named_case.h"
#include "platform/set_lock.h"

namespace vxtest {
namespace {

struct FolderCase {
  const char* name;
  bool setFile;                   // --set (else a one-off run)
  const char* destination;        // relative to the scratch folder
  std::vector<std::string> more;  // further options
  int code;
  const char* message;  // the end of the stderr line naming the folder ("" when none)
};
void PrintTo(const FolderCase& c, std::ostream* os) { *os << c.name; }

class CliDestination : public CliFixture, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(CliDestination, IsCreatedOnlyWhenAllowedAndItsParentIsThere) {
  const FolderCase& c = GetParam();
  fs::create_directories(Path("arc"));
  const std::string folder = Path(c.destination);
  std::vector<std::string> args = {"backup", "-q"};
  if (c.setFile) {
    args.insert(args.end(), {"--set", MakeSet({{"BackupDestination", folder + "/"}})});
  } else {
    args.insert(args.end(), {"--include", Path("src/a.txt"), "--destination", folder, "--archive",
                             "x.arc", "--no-log"});
  }
  args.insert(args.end(), c.more.begin(), c.more.end());
  const TCliRun r = Run(args);
  EXPECT_EQ(r.exitCode, c.code) << Show(r);
  const std::string archive = folder + (c.setFile ? "/job.arc" : "/x.arc");
  EXPECT_EQ(fs::exists(archive), c.code == 0) << Show(r);
  if (c.code != 0) {
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_NE(r.err.find("Cieľový priečinok " + folder + c.message), std::string::npos) << Show(r);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Folders, CliDestination,
    ::testing::Values(
        FolderCase{"OneOffIntoExistingFolder", false, "arc", {}, 0, ""},
        FolderCase{"OneOffCreatesNothing",
                   false,
                   "new",
                   {},
                   7,
                   " neexistuje a nevytvorí sa, lebo jeho vytvorenie nie je povolené"},
        FolderCase{"OneOffWithMkdir", false, "new", {"--mkdir"}, 0, ""},
        FolderCase{"MkdirNeedsTheParent",
                   false,
                   "missing/new",
                   {"--mkdir"},
                   7,
                   " neexistuje a nevytvorí sa, lebo neexistuje ani priečinok nad ním"},
        FolderCase{"SetFileCreatesTheFolder", true, "fromset", {}, 0, ""},
        FolderCase{"SetFileNeedsTheParent",
                   true,
                   "missing/fromset",
                   {},
                   7,
                   " neexistuje a nevytvorí sa, lebo neexistuje ani priečinok nad ním"}),
    vx::test::TCaseName());

// Another run holds the set: the backup ends at once with 18 and says which
// set; with --wait-lock it is still refused once the wait is over.
TEST_F(CliDestination, SetInUseEndsWith18) {
  fs::create_directories(Path("arc"));
  const std::string set = MakeSet();
  const vx::TLockAttempt other = vx::TryLockFile(Path("arc/.job.arc.lock"), vx::TLockKind::Shared);
  ASSERT_EQ(other.outcome, vx::TLockOutcome::Locked);
  for (const char* wait : {"0", "1"}) {
    const TCliRun r = Run({"backup", "--set", set, "--no-log", "--wait-lock", wait});
    EXPECT_EQ(r.exitCode, 18) << Show(r);
    EXPECT_NE(r.err.find("Záložnú sadu " + Path("arc") + "/job.arc práve používa iná úloha"),
              std::string::npos)
        << Show(r);
    EXPECT_FALSE(fs::exists(Path("arc/job.arc")));
  }
}

}  // namespace
}  // namespace vxtest
