#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/files.h"
#include "common/temp_folder.h"

namespace vx {
namespace {

using test::ReadFile;
using test::TTempFolder;
using test::WriteFile;

class ProfileTest : public ::testing::Test {
 protected:
  TTempFolder dir;
  std::string ini = dir / "job.sqt";
};

TEST_F(ProfileTest, ReadingIgnoresCaseBlanksAndOnePairOfQuotes) {
  WriteFile(ini,
            "; a comment\n"
            "[Where]\n"
            "  Path  =  /home/eva/backup  \n"
            "Quoted=\"  kept blanks \"\n"
            "Twice=\"\"x\"\"\n"
            "Half=\"open\n"
            "Empty=\n"
            "Eq=a=b\n"
            "[ How ]\n"
            "Mode=2\n"
            "[where]\n"
            "Path=second section of that name is not read\n");
  EXPECT_EQ(GetProfileString(ini, "WHERE", "path", "?"), "/home/eva/backup");
  EXPECT_EQ(GetProfileString(ini, "Where", "Quoted", "?"), "  kept blanks ");
  EXPECT_EQ(GetProfileString(ini, "Where", "Twice", "?"), "\"x\"");
  EXPECT_EQ(GetProfileString(ini, "Where", "Half", "?"), "\"open");
  EXPECT_EQ(GetProfileString(ini, "Where", "Empty", "?"), "");
  EXPECT_EQ(GetProfileString(ini, "Where", "Eq", "?"), "a=b");
  EXPECT_EQ(GetProfileString(ini, "how", "MODE", "?"), "2");
  EXPECT_EQ(GetProfileString(ini, "Where", "Missing", "dflt"), "dflt");
  EXPECT_EQ(GetProfileString(ini, "Nowhere", "Path", "dflt"), "dflt");
  EXPECT_EQ(GetProfileString(dir / "missing.ini", "Where", "Path", "dflt"), "dflt");
}

TEST_F(ProfileTest, ValuesAreCutToTheBuffer) {
  WriteFile(ini, "[S]\nK=" + std::string(3000, 'v') + "\n");
  EXPECT_EQ(GetProfileString(ini, "S", "K", "").size(), 2047u);
  EXPECT_EQ(GetProfileString(ini, "S", "K", "", 4), "vvv");
  EXPECT_EQ(GetProfileString(ini, "S", "X", "default", 4), "def");
  EXPECT_EQ(GetProfileString(ini, "S", "K", "", 0), "");
}

TEST_F(ProfileTest, WritingKeepsEverythingElse) {
  WriteFile(ini,
            "; keep me\n"
            "[ID]\n"
            "Velmora=1\n"
            "\n"
            "[How]\n"
            "Mode=1\n"
            "Other=x\n"
            "\n"
            "[Tail]\n"
            "T=1\n");
  ASSERT_TRUE(WriteProfileString(ini, "how", "MODE", "2"));
  ASSERT_TRUE(WriteProfileString(ini, "How", "New", "n"));
  ASSERT_TRUE(WriteProfileString(ini, "Extra", "E", "e"));
  EXPECT_EQ(ReadFile(ini),
            "; keep me\n"
            "[ID]\n"
            "Velmora=1\n"
            "\n"
            "[How]\n"
            "MODE=2\n"
            "Other=x\n"
            "New=n\n"
            "\n"
            "[Tail]\n"
            "T=1\n"
            "[Extra]\n"
            "E=e\n");
  EXPECT_EQ(GetProfileString(ini, "HOW", "mode", ""), "2");
}

TEST_F(ProfileTest, NewFilesArePrivateAndCrLfFilesStayCrLf) {
  ASSERT_TRUE(WriteProfileString(ini, "VAULTRex", "Magicnumber", "2059128029"));
  EXPECT_EQ(ReadFile(ini), "[VAULTRex]\nMagicnumber=2059128029\n");
  struct stat st {};
  ASSERT_EQ(::stat(ini.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  const std::string dos = dir / "dos.ini";
  WriteFile(dos, "[A]\r\nk=1\r\n");
  ::chmod(dos.c_str(), 0644);
  ASSERT_TRUE(WriteProfileString(dos, "A", "j", "2"));
  EXPECT_EQ(ReadFile(dos), "[A]\r\nk=1\r\nj=2\r\n");
  ASSERT_EQ(::stat(dos.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);  // the file's own permissions are kept
  EXPECT_EQ(GetProfileString(dos, "a", "K", ""), "1");
}

TEST_F(ProfileTest, RefusesWhatWouldNotReadBack) {
  WriteFile(ini, "[S]\nk=1\n");
  EXPECT_FALSE(WriteProfileString(ini, "S", "k", "two\nlines"));
  EXPECT_FALSE(WriteProfileString(ini, "S", "a=b", "x"));
  EXPECT_FALSE(WriteProfileString(ini, "S]", "k", "x"));
  EXPECT_FALSE(WriteProfileString(ini, "S", "", "x"));
  EXPECT_EQ(ReadFile(ini), "[S]\nk=1\n");
  EXPECT_FALSE(WriteProfileString(dir / "no/folder/x.ini", "S", "k", "v"));
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"job.sqt"});  // no temporary left
}

TEST_F(ProfileTest, WritesThroughALinkToItsTarget) {
  WriteFile(dir / "real.ini", "[S]\nk=1\n");
  ASSERT_EQ(::symlink("real.ini", ini.c_str()), 0);
  ASSERT_TRUE(WriteProfileString(ini, "S", "k", "2"));
  struct stat st {};
  ASSERT_EQ(::lstat(ini.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(dir / "real.ini"), "[S]\nk=2\n");
}

TEST_F(ProfileTest, EraseSectionAndListItsLines) {
  WriteFile(ini,
            "[Include]\n"
            "Files0=/home/eva/*.*\n"
            "; comment\n"
            "\n"
            "  Files1 = /etc/ /S\n"
            "odd line without equals\n"
            "[Exclude]\n"
            "Files0=*.tmp\n");
  EXPECT_EQ(GetProfileSection(ini, "include"),
            (std::vector<std::string>{"Files0=/home/eva/*.*", "Files1 = /etc/ /S",
                                      "odd line without equals"}));
  ASSERT_TRUE(EraseProfileSection(ini, "INCLUDE"));
  EXPECT_EQ(ReadFile(ini), "[Exclude]\nFiles0=*.tmp\n");
  EXPECT_TRUE(GetProfileSection(ini, "Include").empty());
  EXPECT_TRUE(EraseProfileSection(ini, "Include"));  // already gone
  EXPECT_TRUE(EraseProfileSection(dir / "missing.ini", "Include"));
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"job.sqt"});  // nothing created
}

TEST_F(ProfileTest, NameWithoutFolderIsInTheCurrentDirectory) {
  char old[4096];
  ASSERT_NE(::getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  const bool written = WriteProfileString("plain.ini", "S", "k", "v");
  const std::string value = GetProfileString("plain.ini", "S", "k", "");
  ASSERT_EQ(::chdir(old), 0);
  EXPECT_TRUE(written);
  EXPECT_EQ(value, "v");
  EXPECT_EQ(ReadFile(dir / "plain.ini"), "[S]\nk=v\n");
}

}  // namespace
}  // namespace vx
