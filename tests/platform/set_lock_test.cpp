// The locks that keep two runs apart, and the rule that finds a destination
// folder where a disk should be mounted but none is.
#include "platform/set_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "common/named_case.h"
#include "common/temp_folder.h"
#include "platform/mount_points.h"

namespace vx {
namespace {

using test::TTempFolder;

// ---- Locks ----

struct LockCase {
  const char* name;
  TLockKind held;
  TLockKind wanted;
  TLockOutcome outcome;
};
void PrintTo(const LockCase& c, std::ostream* os) { *os << c.name; }
class LockPairs : public ::testing::TestWithParam<LockCase> {};

// Readers share a set; a writer has it alone.  The second try never waits.
TEST_P(LockPairs, SecondLockIsGrantedOrRefusedAtOnce) {
  TTempFolder dir;
  const std::string file = dir / ".set.arc.lock";
  TLockAttempt first = TryLockFile(file, GetParam().held);
  ASSERT_EQ(first.outcome, TLockOutcome::Locked);
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 0);
  TLockAttempt second = TryLockFile(file, GetParam().wanted);
  EXPECT_EQ(second.outcome, GetParam().outcome);
  EXPECT_EQ(second.lock.Held(), GetParam().outcome == TLockOutcome::Locked);
  // Once the first is gone, anyone may have it; the last one to let go
  // removes the lock file.
  first.lock.Release();
  EXPECT_EQ(::stat(file.c_str(), &st) == 0, second.lock.Held());
  second.lock.Release();
  EXPECT_NE(::stat(file.c_str(), &st), 0);
  TLockAttempt third = TryLockFile(file, TLockKind::Exclusive);
  EXPECT_EQ(third.outcome, TLockOutcome::Locked);
}

INSTANTIATE_TEST_SUITE_P(Kinds, LockPairs,
                         ::testing::Values(LockCase{"ReaderBesideReader", TLockKind::Shared,
                                                    TLockKind::Shared, TLockOutcome::Locked},
                                           LockCase{"WriterBesideReader", TLockKind::Shared,
                                                    TLockKind::Exclusive, TLockOutcome::Busy},
                                           LockCase{"ReaderBesideWriter", TLockKind::Exclusive,
                                                    TLockKind::Shared, TLockOutcome::Busy},
                                           LockCase{"WriterBesideWriter", TLockKind::Exclusive,
                                                    TLockKind::Exclusive, TLockOutcome::Busy}),
                         test::TCaseName());

// Waiting: the holder lets go when the test says (at the first pause), a
// stop ends the wait before any pause, and a wait that is over reports the
// lock busy after as many pauses as the time allows.  The clock is the
// test's own: nothing depends on how fast the machine is.
TEST(FileLock, WaitingEndsWithTheLockAStopOrTheTime) {
  TTempFolder dir;
  const std::string file = dir / ".set.lock";
  TLockAttempt holder = TryLockFile(file, TLockKind::Exclusive);
  ASSERT_EQ(holder.outcome, TLockOutcome::Locked);
  long long clock = 0;
  int pauses = 0;
  TLockWait wait;
  wait.seconds = 60;
  wait.nowMs = [&] { return clock; };
  wait.pause = [&](int ms) {
    ++pauses;
    clock += ms;
    holder.lock.Release();
  };
  TLockAttempt got = LockFileWaiting(file, TLockKind::Exclusive, wait);
  EXPECT_EQ(got.outcome, TLockOutcome::Locked);
  EXPECT_EQ(pauses, 1);

  // got holds it now.
  pauses = 0;
  wait.pause = [&](int ms) {
    ++pauses;
    clock += ms;
  };
  wait.stop = [] { return true; };
  EXPECT_EQ(LockFileWaiting(file, TLockKind::Shared, wait).outcome, TLockOutcome::Stopped);
  EXPECT_EQ(pauses, 0);

  wait.stop = [] { return false; };
  wait.seconds = 2;
  EXPECT_EQ(LockFileWaiting(file, TLockKind::Shared, wait).outcome, TLockOutcome::Busy);
  EXPECT_EQ(pauses, 20);  // 2 s in pauses of 100 ms

  wait.seconds = 0;  // one try only
  pauses = 0;
  EXPECT_EQ(LockFileWaiting(file, TLockKind::Exclusive, wait).outcome, TLockOutcome::Busy);
  EXPECT_EQ(pauses, 0);
}

TEST(FileLock, LockFileNames) {
  EXPECT_EQ(SetLockFileName("/backup/daily.sqt"), "/backup/.daily.sqt.lock");
  EXPECT_EQ(SetLockFileName("/backup/sets/daily"), "/backup/sets/.daily.lock");
  EXPECT_EQ(DestinationLockFileName("/state/", "ftp://h:21/up/set 1"),
            "/state/locks/ftp___h_21_up_set_1.lock");
  // No name of a lock file leaves the locks folder.
  EXPECT_EQ(DestinationLockFileName("/state", "../../etc/x"), "/state/locks/.._.._etc_x.lock");
}

// ---- Folders where a disk should be mounted ----

constexpr char kMountinfo[] =
    "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
    "40 22 8:17 / /media/eva/STICK rw,nosuid shared:20 - vfat /dev/sdb1 rw\n"
    "41 22 8:33 / /run/media/eva/My\\040Disk rw shared:21 - exfat /dev/sdc1 rw\n"
    "42 22 8:49 / /mnt/mounted rw shared:22 - ext4 /dev/sdd1 rw\n"
    "43 22 8:50 / /srv/up rw shared:23 - ext4 /dev/sdd2 rw\n";
constexpr char kFstab[] =
    "# <file system> <mount point> <type> <options> <dump> <pass>\n"
    "UUID=1 /               ext4 defaults 0 1\n"
    "UUID=2 none            swap sw 0 0\n"
    "UUID=3 /srv/up         ext4 defaults 0 2\n"
    "UUID=4 /srv/backup\\040disk ext4 noauto 0 2\n"
    "#UUID=5 /srv/old       ext4 noauto 0 2\n";

struct GapCase {
  const char* name;
  const char* folder;
  TMountGap gap;
};
void PrintTo(const GapCase& c, std::ostream* os) { *os << c.name; }
class MountGaps : public ::testing::TestWithParam<GapCase> {};

TEST_P(MountGaps, FromTheTextsAlone) {
  EXPECT_EQ(MountGapOf(GetParam().folder, kMountinfo, kFstab), GetParam().gap);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, MountGaps,
    ::testing::Values(
        GapCase{"MediaEmpty", "/media/usb", TMountGap::RemovablePlace},
        GapCase{"MediaUserFolder", "/media/eva", TMountGap::RemovablePlace},
        GapCase{"MediaUserDiskMissing", "/media/eva/OTHER", TMountGap::RemovablePlace},
        GapCase{"MediaUserDiskMounted", "/media/eva/STICK", TMountGap::None},
        GapCase{"BelowMountedDisk", "/media/eva/STICK/backup", TMountGap::None},
        GapCase{"RunMediaEscapedName", "/run/media/eva/My Disk", TMountGap::None},
        GapCase{"RunMediaMissing", "/run/media/eva/Other", TMountGap::RemovablePlace},
        GapCase{"MntEmpty", "/mnt/usb", TMountGap::RemovablePlace},
        GapCase{"MntMounted", "/mnt/mounted", TMountGap::None},
        GapCase{"MntItself", "/mnt", TMountGap::None},
        GapCase{"FstabMounted", "/srv/up/daily", TMountGap::None},
        GapCase{"FstabNotMounted", "/srv/backup disk", TMountGap::FstabNotMounted},
        GapCase{"BelowFstabNotMounted", "/srv/backup disk/daily", TMountGap::FstabNotMounted},
        GapCase{"FstabCommentedOut", "/srv/old", TMountGap::None},
        GapCase{"OrdinaryFolder", "/home/eva/backups", TMountGap::None}),
    test::TCaseName());

TEST(MountPoints, FieldsAndEscapes) {
  EXPECT_EQ(MountPointsOf(kMountinfo),
            (std::vector<std::string>{"/", "/media/eva/STICK", "/run/media/eva/My Disk",
                                      "/mnt/mounted", "/srv/up"}));
  EXPECT_EQ(FstabMountPointsOf(kFstab), (std::vector<std::string>{"/srv/up", "/srv/backup disk"}));
}

// The file system below a folder: the mount with the longest point above it,
// the later of two on one point; names that only begin like a mount point
// are not below it.
TEST(MountPoints, FileSystemTypeOfAFolder) {
  const std::string mountinfo = std::string(kMountinfo) +
                                "44 42 0:43 / /mnt/mounted/fat rw - fuse.fusefat fusefat rw\n"
                                "45 22 8:65 / /srv/twice rw - ext4 /dev/sde1 rw\n"
                                "46 45 8:81 / /srv/twice rw - vfat /dev/sdf1 rw\n";
  const std::pair<const char*, const char*> cases[] = {
      {"/home/eva", "ext4"},
      {"/", "ext4"},
      {"/media/eva/STICK", "vfat"},
      {"/media/eva/STICK/backup", "vfat"},
      {"/media/eva/STICKER", "ext4"},
      {"/run/media/eva/My Disk/x", "exfat"},
      {"/mnt/mounted/fat/sets", "fuse.fusefat"},
      {"/mnt/mounted/fa", "ext4"},
      {"/srv/twice/daily", "vfat"},
  };
  for (const auto& [folder, type] : cases)
    EXPECT_EQ(FileSystemTypeOf(folder, mountinfo), type) << folder;
  EXPECT_EQ(FileSystemTypeOf("/home", ""), "");
}

}  // namespace
}  // namespace vx
