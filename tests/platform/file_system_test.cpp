#include "platform/file_system.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "common/files.h"
#include "common/temp_folder.h"
#include "platform/archive_bits.h"
#include "platform/date_time.h"
#include "platform/paths.h"

namespace vx {
namespace {

using test::TTempFolder;
using test::WriteFile;

std::map<std::string, TSearchRec> Search(const std::string& folder, const std::string& mask) {
  std::map<std::string, TSearchRec> found;
  FindFiles(folder, mask, [&found](const TSearchRec& rec) { found[rec.name] = rec; });
  return found;
}

mode_t Mode(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mode & 07777;
}

class FileSystemTest : public ::testing::Test {
 protected:
  test::TStateScope state;
  TTempFolder dir;
};

TEST_F(FileSystemTest, SearchReportsFilesWithTheirAttributes) {
  WriteFile(dir / "plain.txt", "12345");
  WriteFile(dir / ".hidden", "x");
  WriteFile(dir / "locked.txt", "abc");
  ::chmod((dir / "locked.txt").c_str(), 0444);
  ::mkdir((dir / "sub").c_str(), 0755);
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);  // must not be opened

  const auto found = Search(dir.path(), "*");
  ASSERT_EQ(found.size(), 4u);  // the folder is not a file
  EXPECT_EQ(found.at("plain.txt").size, 5);
  EXPECT_EQ(found.at("plain.txt").attr, 0u);
  EXPECT_EQ(found.at(".hidden").attr, faHidden);
  EXPECT_EQ(found.at("locked.txt").attr, faReadOnly);
  EXPECT_EQ(found.at("pipe").attr & faSysFile, faSysFile);
  EXPECT_EQ(found.at("pipe").size, 0);

  struct stat st {};
  ::stat((dir / "plain.txt").c_str(), &st);
  EXPECT_EQ(found.at("plain.txt").dosTime, UnixToDos(st.st_mtim.tv_sec));
  EXPECT_EQ(found.at("plain.txt").stamp.ino, st.st_ino);
  EXPECT_EQ(found.at("plain.txt").stamp.size, 5);

  EXPECT_EQ(Search(dir.path() + "/", "*.TXT").size(), 2u);
  EXPECT_TRUE(Search(dir / "missing", "*").empty());
}

TEST_F(FileSystemTest, LinksToFilesShowTheTargetOthersAreSystemFiles) {
  WriteFile(dir / "target", "0123456789");
  SetFileDateTime(dir / "target", (46u << 9 | 1u << 5 | 2u) << 16);  // 2026-01-02
  ::mkdir((dir / "folder").c_str(), 0755);
  ASSERT_EQ(::symlink("target", (dir / "to-file").c_str()), 0);
  ASSERT_EQ(::symlink("folder", (dir / "to-folder").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", (dir / "dangling").c_str()), 0);

  const auto found = Search(dir.path(), "*");
  ASSERT_EQ(found.count("to-file"), 1u);
  EXPECT_EQ(found.at("to-file").size, 10);
  EXPECT_EQ(found.at("to-file").attr, 0u);
  EXPECT_EQ(found.at("to-file").dosTime, (46u << 9 | 1u << 5 | 2u) << 16);
  EXPECT_EQ(found.at("to-file").stamp.ino, found.at("target").stamp.ino);
  EXPECT_EQ(found.at("to-folder").attr & faSysFile, faSysFile);
  EXPECT_EQ(found.at("dangling").attr & faSysFile, faSysFile);

  EXPECT_EQ(FindSubfolders(dir.path(), true), std::vector<std::string>{"folder"});
}

TEST_F(FileSystemTest, SubfoldersLeaveOutHiddenOnesUnlessAsked) {
  for (const char* name : {"a", "b", ".config"}) ::mkdir((dir / name).c_str(), 0755);
  WriteFile(dir / "file", "");
  auto visible = FindSubfolders(dir.path(), false);
  auto all = FindSubfolders(dir.path(), true);
  std::sort(visible.begin(), visible.end());
  std::sort(all.begin(), all.end());
  EXPECT_EQ(visible, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(all, (std::vector<std::string>{".config", "a", "b"}));
  EXPECT_TRUE(FindSubfolders(dir / "missing", true).empty());
}

TEST_F(FileSystemTest, DeleteByMaskTakesReadOnlyFilesAndSparesTheRest) {
  for (const char* name : {"set.001", "set.002", "set.txt", "other.001"})
    WriteFile(dir / name, "x");
  ::chmod((dir / "set.002").c_str(), 0444);
  ::mkdir((dir / "set.003").c_str(), 0755);  // a folder is never deleted
  EXPECT_EQ(DeleteFilesByMask(dir / "set.0*"), 2);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"other.001", "set.003", "set.txt"}));
  EXPECT_EQ(DeleteFilesByMask(""), 0);
  EXPECT_EQ(DeleteFilesByMask(dir / "none.*"), 0);
}

TEST_F(FileSystemTest, ReadOnlyAttributeMapsToWritePermissions) {
  const std::string f = dir / "doc.txt";
  WriteFile(f, "x");
  ::chmod(f.c_str(), 0664);
  ASSERT_TRUE(SetFileAttributes(f, faReadOnly | faArchive));
  EXPECT_EQ(Mode(f), 0444u);  // every write bit cleared
  EXPECT_EQ(GetFileAttributes(f) & faReadOnly, static_cast<std::int32_t>(faReadOnly));
  ASSERT_TRUE(SetFileAttributes(f, faArchive));
  EXPECT_EQ(Mode(f), 0644u);  // the owner may write again, the others not
  EXPECT_EQ(GetFileAttributes(f) & faReadOnly, 0);

  EXPECT_FALSE(SetFileAttributes(dir / "missing", 0));
  EXPECT_EQ(GetFileAttributes(dir / "missing"), -1);
  EXPECT_EQ(GetFileAttributes(dir.path()) & faDirectory, static_cast<std::int32_t>(faDirectory));
  WriteFile(dir / ".profile", "");
  EXPECT_EQ(GetFileAttributes(dir / ".profile") & faHidden, static_cast<std::int32_t>(faHidden));
  EXPECT_EQ(GetFileAttributes(dir.path() + "/."), static_cast<std::int32_t>(faDirectory));
}

TEST_F(FileSystemTest, ArchiveAttributeComesFromTheStore) {
  const std::string f = dir / "data.bin";
  WriteFile(f, "abc");
  EXPECT_TRUE(GetFileAttributes(f) & faArchive);  // never backed up
  ASSERT_TRUE(SetFileAttributes(f, 0));
  EXPECT_FALSE(GetFileAttributes(f) & faArchive);
  {
    std::ofstream out(f, std::ios::app);
    out << "more";
  }
  EXPECT_TRUE(GetFileAttributes(f) & faArchive);
  ASSERT_TRUE(SetFileAttributes(f, faReadOnly));  // read-only and cleared at once
  EXPECT_EQ(GetFileAttributes(f), static_cast<std::int32_t>(faReadOnly));
}

TEST_F(FileSystemTest, FileDatesAreLocalDosTimes) {
  const std::string f = dir / "dated";
  WriteFile(f, "x");
  const std::uint32_t dos = (45u << 9 | 7u << 5 | 12u) << 16 | (14u << 11 | 3u << 5 | 2u);
  SetFileDateTime(f, dos);
  EXPECT_EQ(GetFileDate(f), dos);
  struct stat st {};
  ::stat(f.c_str(), &st);
  EXPECT_EQ(st.st_mtim.tv_sec, DosToUnix(dos));
  EXPECT_EQ(st.st_atim.tv_sec, DosToUnix(dos));
  EXPECT_EQ(GetFileDate(dir / "missing"), 0u);
  SetFileDateTime(dir / "missing", dos);  // quietly nothing
  EXPECT_FALSE(FileExists(dir / "missing"));
}

TEST_F(FileSystemTest, SettingTimesNeverFollowsALink) {
  const std::string target = dir / "target";
  WriteFile(target, "x");
  const std::uint32_t before = GetFileDate(target);
  ASSERT_EQ(::symlink(target.c_str(), (dir / "link").c_str()), 0);
  SetFileDateTime(dir / "link", (10u << 9 | 1u << 5 | 1u) << 16);
  EXPECT_EQ(GetFileDate(target), before);
}

}  // namespace
}  // namespace vx
