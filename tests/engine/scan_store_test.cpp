// The archive-bit store a caller hands in is the one the backup's scan reads
// and its reset pass writes; the default store stays untouched.
#include <gtest/gtest.h>

#include <memory>

#include "common/files.h"
#include "common/temp_folder.h"
#include "engine/vaultrex.h"
#include "platform/archive_bits.h"

namespace vx {
namespace {

using test::WriteFile;

TEST(ScanStore, HandedInStoreDecidesTheIncrementalSelection) {
  test::TStateScope state;  // the default store: must see nothing
  test::TTempFolder src;
  test::TTempFolder dst;
  test::TTempFolder stateDir;
  WriteFile(src / "a.txt", "a");
  WriteFile(src / "b.txt", "b");
  auto store = std::make_shared<TArchiveBitStore>(stateDir / "bits.sqlite");

  TVaultrex v;
  v.BackupDestination = dst.path();
  v.ArchiveBaseName = "set.arc";
  v.AddToIncludes(src / "*.txt");
  v.ArchiveBits = store;
  ASSERT_EQ(v.Backup(), 0);
  EXPECT_FALSE(store->IsSet(src / "a.txt"));
  EXPECT_TRUE(TArchiveBitStore::Instance().IsSet(src / "a.txt"));

  WriteFile(src / "b.txt", "b, changed");
  v.BackupMode = BM_Incremental;
  ASSERT_EQ(v.Backup(), 0);
  ASSERT_EQ(v.FileList().size(), 1u);
  EXPECT_EQ(v.FileList()[0].path, src / "b.txt");
  EXPECT_EQ(v.LeftOutCount(), 1);

  // Without a store of its own, the run falls back to the default one,
  // where nothing was ever cleared.
  v.ArchiveBits.reset();
  ASSERT_EQ(v.Backup(), 0);
  EXPECT_EQ(v.FileList().size(), 2u);
}

}  // namespace
}  // namespace vx
