#include "platform/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "common/files.h"
#include "common/temp_folder.h"

namespace vx {
namespace {

TEST(PathParts, FolderNameAndExtension) {
  EXPECT_EQ(ExtractFilePath("/home/eva/a.txt"), "/home/eva/");
  EXPECT_EQ(ExtractFilePath("a.txt"), "");
  EXPECT_EQ(ExtractFilePath("/"), "/");
  EXPECT_EQ(ExtractFileName("/home/eva/a.txt"), "a.txt");
  EXPECT_EQ(ExtractFileName("/home/eva/"), "");
  EXPECT_EQ(ExtractFileName("a.txt"), "a.txt");
  EXPECT_EQ(RemoveFileExt("/home/eva/set.tar.001"), "/home/eva/set.tar");
  EXPECT_EQ(RemoveFileExt("/home/eva.d/readme"), "/home/eva.d/readme");  // dot in a folder name
  EXPECT_EQ(RemoveFileExt("noext"), "noext");
}

TEST(RecursionMarker, OnlyABlankAndSlashSAtTheEnd) {
  struct Case {
    std::string in, out;
    bool marked;
  };
  const Case cases[] = {
      {"/home/eva/docs/*.* /S", "/home/eva/docs/*.*", true},
      {"/home/eva/docs/*.* /s", "/home/eva/docs/*.*", true},
      {"/home/eva/docs   /S   ", "/home/eva/docs", true},
      {"/home/eva/docs\t/S", "/home/eva/docs", true},
      {"/srv", "/srv", false},
      {"/src/", "/src/", false},
      {"/share/data ", "/share/data", false},   // blanks trimmed even without a marker
      {"/data/S", "/data/S", false},            // no blank before it
      {"/home/x /S/y", "/home/x /S/y", false},  // not at the end
      {"/home/x /SS", "/home/x /SS", false},
      {" /S", "", true},
  };
  for (const auto& c : cases) {
    std::string entry = c.in;
    EXPECT_EQ(StripRecursionMarker(entry), c.marked) << c.in;
    EXPECT_EQ(entry, c.out) << c.in;
  }
}

TEST(PathChecks, ExistenceAndCreation) {
  test::TTempFolder dir;
  test::WriteFile(dir / "file", "x");
  EXPECT_TRUE(FileExists(dir / "file"));
  EXPECT_FALSE(FileExists(dir.path()));
  EXPECT_FALSE(FileExists(dir / "missing"));
  EXPECT_FALSE(FileExists(""));
  ASSERT_EQ(::symlink("nowhere", (dir / "dangling").c_str()), 0);
  EXPECT_TRUE(FileExists(dir / "dangling"));  // the name is taken

  EXPECT_TRUE(DirectoryExists(dir.path()));
  EXPECT_FALSE(DirectoryExists(dir / "file"));
  ASSERT_EQ(::symlink(dir.path().c_str(), (dir / "dirlink").c_str()), 0);
  EXPECT_TRUE(DirectoryExists(dir / "dirlink"));

  EXPECT_TRUE(ForceDirectories(dir / "a/b/c/"));
  EXPECT_TRUE(DirectoryExists(dir / "a/b/c"));
  EXPECT_TRUE(ForceDirectories(dir / "a/b"));  // already there
  EXPECT_FALSE(ForceDirectories(dir / "file/sub"));
  EXPECT_FALSE(ForceDirectories(""));
}

}  // namespace
}  // namespace vx
