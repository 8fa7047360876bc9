// DeleteFiles: selection by include and by exclude with the kept files
// restoring byte for byte, encrypted sets without a password, the atomic
// replacement of a one-file set and the copy-back of a split one.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "common/engine_fixture.h"
#include "engine/vaultrex.h"
#include "platform/paths.h"

namespace vx {
namespace {

using namespace vx::test;
namespace fs = std::filesystem;

class DeleteTest : public TEngineTest {
 protected:
  void SetUp() override {
    AimAt(dir / "sets");
    UseLog(dir / "delete.log");
    fs::create_directories(dir / "sets");
  }
  // Restores the set into a fresh folder, checks every file against its
  // original content and returns the stored paths.
  std::vector<std::string> RestoreAll(const std::string& key = "") {
    TVaultrex r;
    r.BackupDestination = engine.BackupDestination;
    r.ArchiveBaseName = engine.ArchiveBaseName;
    r.SpanDisks = engine.SpanDisks;
    r.EncryptKey = key;
    r.RedirectRestore = true;
    r.RestoreTo = dir / ("out" + std::to_string(++restores));
    r.IncludeNames = {"*"};
    EXPECT_EQ(r.Restore(), 0);
    std::vector<std::string> paths;
    for (const auto& rec : r.FileList()) {
      paths.push_back(rec.path);
      for (const auto& f : files) {
        if (f.path == rec.path) {
          EXPECT_EQ(ReadFile(r.RestoreTo + rec.path.substr(1)), f.content);
        }
      }
    }
    return paths;
  }

  int restores = 0;
  std::vector<TStoredFile> files = {{"/d/a.txt", TextBytes(50000)},
                                    {"/d/b.tmp", NoiseBytes(40000)},
                                    {"/d/sub/c.txt", NoiseBytes(1000, 3)},
                                    {"/e/d.tmp", ""}};
};

TEST_F(DeleteTest, ExcludeRemovesMatchingFilesAndReplacesTheSetByRename) {
  // The set is reached through a link: the real file is replaced.
  WriteArchive(dir / "real.arc", files, 9, "", "komentár");
  fs::create_symlink(dir / "real.arc", Archive());
  ::chmod((dir / "real.arc").c_str(), 0640);
  struct stat before {};
  ASSERT_EQ(::stat(Archive().c_str(), &before), 0);
  engine.ExcludeNames = {"*.tmp"};
  ASSERT_EQ(engine.DeleteFiles(), 0);
  const auto log = ReadLines(dir / "delete.log");
  ASSERT_EQ(log.size(), 8u);
  EXPECT_EQ(log[0], "Achív obsahuje 4 súborov:");
  EXPECT_EQ(log[2], "/d/a.txt kept");
  EXPECT_EQ(log[3], "/d/b.tmp deleted");
  EXPECT_EQ(log[4], "/d/sub/c.txt kept");
  EXPECT_EQ(log[5], "/e/d.tmp deleted");
  EXPECT_EQ(log[7].rfind("Súbory vymazané ", 0), 0u);
  EXPECT_EQ(engine.FileList().size(), 2u);

  // A new file renamed into place, with the old permissions and nothing
  // left beside it; header and comment unchanged.
  struct stat after {};
  ASSERT_EQ(::stat(Archive().c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "sets"), fs::directory_iterator()), 1);
  EXPECT_TRUE(fs::is_symlink(Archive()));
  std::string comment;
  ASSERT_EQ(engine.RetrieveComment(comment), 0);
  EXPECT_EQ(comment, "komentár");
  EXPECT_EQ(RestoreAll(), (std::vector<std::string>{"/d/a.txt", "/d/sub/c.txt"}));
}

TEST_F(DeleteTest, IncludeKeepsOnlyMatchingFilesEvenOfAnEncryptedSet) {
  WriteArchive(Archive(), files, 1, "heslo na zalohu");
  engine.IncludeNames = {"/d/*.txt"};
  engine.RecurseSubDir = true;
  ASSERT_EQ(engine.DeleteFiles(), 0);  // no password needed
  EXPECT_EQ(RestoreAll("heslo na zalohu"), (std::vector<std::string>{"/d/a.txt", "/d/sub/c.txt"}));

  engine.IncludeNames = {"/nowhere/*"};
  ASSERT_EQ(engine.DeleteFiles(), 0);
  EXPECT_EQ(ReadLines(dir / "delete.log")[2], "/d/a.txt deleted");
  ASSERT_EQ(engine.Catalog(), 0);
  EXPECT_TRUE(engine.FileList().empty());
}

TEST_F(DeleteTest, SplitSetIsCopiedBackAndLosesItsSurplusVolumes) {
  engine.ArchiveBaseName = "daily";
  engine.SpanDisks = true;
  engine.MaxSplitSize = 40000;
  files.push_back({"/f/big", NoiseBytes(150000, 11)});
  WriteArchive(dir / "sets/daily", files, 0, "", "", 40000);
  ASSERT_TRUE(FileExists(dir / "sets/daily.004"));
  TTempFolder tmp;
  ::setenv("TMP", tmp.path().c_str(), 1);
  engine.ExcludeNames = {"/f/big"};
  const int result = engine.DeleteFiles();
  ::unsetenv("TMP");
  ASSERT_EQ(result, 0);
  EXPECT_TRUE(fs::is_empty(tmp.path()));  // no temporary archive left
  EXPECT_TRUE(FileExists(dir / "sets/daily.002"));
  EXPECT_FALSE(FileExists(dir / "sets/daily.003"));
  EXPECT_FALSE(FileExists(dir / "sets/daily.004"));
  EXPECT_EQ(RestoreAll(),
            (std::vector<std::string>{"/d/a.txt", "/d/b.tmp", "/d/sub/c.txt", "/e/d.tmp"}));
}

TEST_F(DeleteTest, RefusedOrDamagedSetsAreLeftUntouched) {
  WriteArchive(Archive(), files);
  std::string bytes = ReadFile(Archive());
  EXPECT_EQ(engine.DeleteFiles(), 1);  // both lists empty
  engine.ExcludeNames = {"*.tmp"};
  engine.BackupToTape = true;  // a tape is not rewritten in place
  EXPECT_EQ(engine.DeleteFiles(), 1);
  engine.BackupToTape = false;
  EXPECT_EQ(ReadLines(dir / "delete.log"), (std::vector<std::string>{TVaultrex::ErrorText(1)}));

  bytes.resize(32768);  // the data of the later files are gone
  WriteFile(Archive(), bytes);
  EXPECT_EQ(engine.DeleteFiles(), 9);
  EXPECT_EQ(ReadFile(Archive()), bytes);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "sets"), fs::directory_iterator()), 1);
}

// Deleting never empties the set's folder, whatever EraseTargetDir says, and
// selects by the include-entry rule: "*.c" takes main.c, not main.cpp.
TEST_F(DeleteTest, SplitSetWithEraseTargetDirKeepsTheFolderAndMasksCoverWholeNames) {
  files = {{"/p/main.c", "int main;"},
           {"/p/main.cpp", "int main();"},
           {"/p/app.conf", "x=1"},
           {"/p/big", NoiseBytes(90000, 4)}};
  WriteArchive(dir / "sets/daily", files, 0, "", "", 40000);
  WriteFile(dir / "sets/other-set.txt", "unrelated");
  engine.ArchiveBaseName = "daily";
  engine.SpanDisks = true;
  engine.MaxSplitSize = 40000;
  engine.EraseTargetDir = true;
  engine.ExcludeNames = {"*.c"};
  ASSERT_EQ(engine.DeleteFiles(), 0);
  EXPECT_EQ(ReadFile(dir / "sets/other-set.txt"), "unrelated");
  EXPECT_EQ(RestoreAll(), (std::vector<std::string>{"/p/main.cpp", "/p/app.conf", "/p/big"}));
}

// A stop request ends a delete with 12 before the set is replaced: it stays
// byte for byte as it was, and no temporary archive is left beside it.
TEST_F(DeleteTest, StopEndsTheRunBeforeTheSetIsReplaced) {
  files.push_back({"/f/big", NoiseBytes(40 * kBlockSize, 9)});
  WriteArchive(Archive(), files);
  const std::string before = ReadFile(Archive());
  engine.ExcludeNames = {"*.tmp"};
  int reports = 0;
  engine.OnStatistic = [&](const TBackupStatistic&, bool& cancel) { cancel = ++reports == 5; };
  EXPECT_EQ(engine.DeleteFiles(), 12);
  EXPECT_EQ(reports, 5);  // four files, then a report inside the big one
  EXPECT_EQ(ReadFile(Archive()), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "sets"), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace vx
