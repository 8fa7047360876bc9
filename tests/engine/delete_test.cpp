// DeleteFiles: selection by include and by exclude, the kept files restoring
// byte for byte, encrypted sets without a password, the atomic replacement
// of a one-file set and the copy-back of a split one.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "archive/errors.h"
#include "engine/archive_fixture.h"
#include "engine/vaultrex.h"
#include "platform/paths.h"

namespace vx {
namespace {

using namespace vx::testing;

class DeleteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine.BackupDestination = dir / "sets";
    engine.ArchiveBaseName = "set.arc";
    engine.LogFileMode = LFM_CreateNew;
    engine.LogFileName = dir / "delete.log";
    files = {{"/d/a.txt", TextBytes(50000)},
             {"/d/b.tmp", RandomBytes(40000, 2)},
             {"/d/sub/c.txt", RandomBytes(1000, 3)},
             {"/e/d.tmp", ""}};
    fs::create_directories(dir / "sets");
  }
  std::string Archive() const { return dir / "sets/set.arc"; }
  std::vector<std::string> Log() const { return ReadLines(dir / "delete.log"); }
  // Restores what the set holds now into dir/out and returns the paths.
  std::vector<std::string> RestoreAll(const std::string& key = "") {
    TVaultrex r;
    r.BackupDestination = engine.BackupDestination;
    r.ArchiveBaseName = engine.ArchiveBaseName;
    r.SpanDisks = engine.SpanDisks;
    r.EncryptKey = key;
    r.RedirectRestore = true;
    r.RestoreTo = dir / "out";
    r.IncludeNames = {"*"};
    EXPECT_EQ(r.Restore(), 0);
    std::vector<std::string> paths;
    for (const auto& rec : r.FileList()) {
      paths.push_back(rec.path);
      const std::string restored = dir / ("out" + rec.path);
      for (const auto& f : files)
        if (f.path == rec.path) {
          EXPECT_EQ(ReadFile(restored), f.content) << rec.path;
        }
    }
    return paths;
  }

  TStateDir state;
  TTempDir dir;
  TVaultrex engine;
  std::vector<TStoredFile> files;
};

TEST_F(DeleteTest, ExcludeRemovesMatchingFilesAndLogsEveryOne) {
  WriteArchive(Archive(), files, 9, "", "komentár");
  engine.ExcludeNames = {"*.tmp"};
  ASSERT_EQ(engine.DeleteFiles(), 0);
  const auto log = Log();
  ASSERT_EQ(log.size(), 8u);
  EXPECT_EQ(log[0], "Achív obsahuje 4 súborov:");
  EXPECT_EQ(log[1], "");
  EXPECT_EQ(log[2], "/d/a.txt kept");
  EXPECT_EQ(log[3], "/d/b.tmp deleted");
  EXPECT_EQ(log[4], "/d/sub/c.txt kept");
  EXPECT_EQ(log[5], "/e/d.tmp deleted");
  EXPECT_EQ(log[6], "");
  EXPECT_EQ(log[7].rfind("Súbory vymazané ", 0), 0u);
  EXPECT_EQ(engine.FileList().size(), 2u);

  TVaultrex cat;
  cat.BackupDestination = engine.BackupDestination;
  cat.ArchiveBaseName = engine.ArchiveBaseName;
  ASSERT_EQ(cat.Catalog(), 0);
  EXPECT_EQ(cat.FileList().size(), 2u);
  std::string comment;
  ASSERT_EQ(cat.RetrieveComment(comment), 0);
  EXPECT_EQ(comment, "komentár");
  EXPECT_EQ(RestoreAll(), (std::vector<std::string>{"/d/a.txt", "/d/sub/c.txt"}));
}

TEST_F(DeleteTest, IncludeKeepsOnlyMatchingFiles) {
  WriteArchive(Archive(), files);
  engine.IncludeNames = {"/d/*.txt"};
  engine.RecurseSubDir = true;
  ASSERT_EQ(engine.DeleteFiles(), 0);
  EXPECT_EQ(RestoreAll(), (std::vector<std::string>{"/d/a.txt", "/d/sub/c.txt"}));

  // A list that matches nothing leaves an empty set.
  engine.IncludeNames = {"/nowhere/*"};
  ASSERT_EQ(engine.DeleteFiles(), 0);
  for (const auto& l : Log())
    if (l.size() > 1 && l[0] == '/') {
      EXPECT_NE(l.find(" deleted"), std::string::npos) << l;
    }
  TVaultrex cat;
  cat.BackupDestination = engine.BackupDestination;
  cat.ArchiveBaseName = engine.ArchiveBaseName;
  ASSERT_EQ(cat.Catalog(), 0);
  EXPECT_TRUE(cat.FileList().empty());
}

TEST_F(DeleteTest, EncryptedSetNeedsNoPassword) {
  WriteArchive(Archive(), files, 1, "heslo na zalohu");
  engine.ExcludeNames = {"/d/a.txt"};
  ASSERT_EQ(engine.DeleteFiles(), 0);
  EXPECT_EQ(RestoreAll("heslo na zalohu"),
            (std::vector<std::string>{"/d/b.tmp", "/d/sub/c.txt", "/e/d.tmp"}));
}

TEST_F(DeleteTest, OneFileSetIsReplacedByRenameWithNothingLeftBeside) {
  WriteArchive(Archive(), files);
  ::chmod(Archive().c_str(), 0640);
  struct stat before {};
  ASSERT_EQ(::stat(Archive().c_str(), &before), 0);
  engine.ExcludeNames = {"b.tmp"};
  ASSERT_EQ(engine.DeleteFiles(), 0);
  struct stat after {};
  ASSERT_EQ(::stat(Archive().c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino);  // a new file, renamed into place
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_EQ(after.st_size % 32768, 0);
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir / "sets")) names.push_back(e.path().filename());
  EXPECT_EQ(names, (std::vector<std::string>{"set.arc"}));
}

TEST_F(DeleteTest, DamagedSetIsLeftUntouched) {
  WriteArchive(Archive(), files);
  std::string bytes = ReadFile(Archive());
  bytes.resize(32768);  // the data of the later files are gone
  WriteFile(Archive(), bytes);
  engine.ExcludeNames = {"*.tmp"};
  EXPECT_EQ(engine.DeleteFiles(), 9);
  EXPECT_EQ(ReadFile(Archive()), bytes);
  EXPECT_EQ(Log().back(), TVaultrex::ErrorText(9));
  std::size_t count = 0;
  for (const auto& e : fs::directory_iterator(dir / "sets")) count += e.is_regular_file();
  EXPECT_EQ(count, 1u);
}

TEST_F(DeleteTest, SplitSetIsCopiedBackIntoItsVolumes) {
  engine.ArchiveBaseName = "daily";
  engine.SpanDisks = true;
  engine.MaxSplitSize = 40000;
  files.push_back({"/f/big", RandomBytes(150000, 11)});
  WriteArchive(dir / "sets/daily", files, 0, "", "", true, 40000);
  ASSERT_TRUE(FileExists(dir / "sets/daily.004"));
  TTempDir tmp;
  ::setenv("TMP", tmp.path().c_str(), 1);
  engine.ExcludeNames = {"/f/big"};
  const int result = engine.DeleteFiles();
  ::unsetenv("TMP");
  ASSERT_EQ(result, 0);
  EXPECT_TRUE(fs::is_empty(tmp.path()));  // no temporary archive left
  // The shorter set needs two volumes; the old third and fourth are gone.
  EXPECT_TRUE(FileExists(dir / "sets/daily.002"));
  EXPECT_FALSE(FileExists(dir / "sets/daily.003"));
  EXPECT_FALSE(FileExists(dir / "sets/daily.004"));
  EXPECT_EQ(RestoreAll(),
            (std::vector<std::string>{"/d/a.txt", "/d/b.tmp", "/d/sub/c.txt", "/e/d.tmp"}));
}

TEST_F(DeleteTest, RefusedSettingsDoNotOpenTheSet) {
  WriteArchive(Archive(), files);
  const std::string before = ReadFile(Archive());
  EXPECT_EQ(engine.DeleteFiles(), 1);  // both lists empty
  engine.IncludeNames = {"*"};
  engine.ExcludeNames = {"*.tmp"};
  EXPECT_EQ(engine.DeleteFiles(), 1);  // both filled
  engine.IncludeNames.clear();
  engine.BackupToTape = true;
  EXPECT_EQ(engine.DeleteFiles(), 1);  // a tape is not rewritten in place
  engine.BackupToTape = false;
  engine.ArchiveBaseName.clear();
  EXPECT_EQ(engine.DeleteFiles(), 1);
  EXPECT_EQ(ReadFile(Archive()), before);
  EXPECT_EQ(Log(), (std::vector<std::string>{TVaultrex::ErrorText(1)}));

  engine.ArchiveBaseName = "foreign.arc";
  WriteFile(dir / "sets/foreign.arc", RandomBytes(1000, 1));
  EXPECT_EQ(engine.DeleteFiles(), 9);
  WriteFile(dir / "sets/foreign.arc", RandomBytes(40000, 1));
  EXPECT_EQ(engine.DeleteFiles(), 8);
}

}  // namespace
}  // namespace vx
