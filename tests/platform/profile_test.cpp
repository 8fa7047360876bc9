#include "platform/profile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <map>
#include <stdexcept>

#include "common/files.h"
#include "common/temp_folder.h"
#include "platform/fd.h"

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

// ---- The file as a document ----

TEST_F(ProfileTest, DocumentEditsFollowTheFileRules) {
  struct TCase {
    const char* name;
    std::string before;  // the file as loaded
    std::function<void(TProfile&)> edit;
    std::string after;  // the text stored
  };
  const TCase cases[] = {
      {"edits in memory are stored together", "; keep me\n[How]\nMode=1\n\n[Tail]\nT=1\n",
       [](TProfile& p) {
         EXPECT_TRUE(p.Set("how", "MODE", "2"));
         EXPECT_TRUE(p.Set("How", "New", "n"));
         EXPECT_TRUE(p.Set("Extra", "E", "e"));
         EXPECT_TRUE(p.EraseSection("TAIL"));
         EXPECT_EQ(p.Get("HOW", "mode", "?"), "2");  // read back before any save
       },
       "; keep me\n[How]\nMODE=2\nNew=n\n\n[Extra]\nE=e\n"},
      {"refused edits change nothing", "[S]\nk=1\n",
       [](TProfile& p) {
         EXPECT_FALSE(p.Set("S", "k", "two\nlines"));
         EXPECT_FALSE(p.Set("S", "a=b", "x"));
         EXPECT_FALSE(p.Set("S]", "k", "x"));
         EXPECT_FALSE(p.Set("S", " ", "x"));
         EXPECT_FALSE(p.Set("S", ";k", "x"));
         EXPECT_FALSE(p.EraseSection("Nowhere"));
       },
       "[S]\nk=1\n"},
      {"CR LF lines and a byte order mark", "\xEF\xBB\xBF[A]\r\nk=\"1\"\r\n",
       [](TProfile& p) {
         EXPECT_EQ(p.Get("a", "K", "?"), "1");
         EXPECT_TRUE(p.Set("A", "j", "2"));
       },
       "[A]\r\nk=\"1\"\r\nj=2\r\n"},
      {"a section emptied and filled again goes to the end",
       "[List]\nFiles0=/a\nFiles1=/b\n[Other]\nx=1\n",
       [](TProfile& p) {
         EXPECT_EQ(p.Section("list"), (std::vector<std::string>{"Files0=/a", "Files1=/b"}));
         EXPECT_TRUE(p.EraseSection("List"));
         EXPECT_TRUE(p.Set("List", "Files0", "/c"));
       },
       "[Other]\nx=1\n[List]\nFiles0=/c\n"},
      {"a last line without a break", "[S]\nk = v ",
       [](TProfile& p) { EXPECT_EQ(p.Get("S", "k", "?"), "v"); }, "[S]\nk = v \n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(ini, c.before);
    TProfile profile;
    ASSERT_EQ(profile.Load(ini), TProfileLoad::kLoaded);
    c.edit(profile);
    EXPECT_EQ(ReadFile(ini), c.before);  // nothing stored until Save
    ASSERT_TRUE(profile.Save(ini));
    EXPECT_EQ(ReadFile(ini), c.after);
  }
}

TEST_F(ProfileTest, LoadTellsWhyAFileWasNotRead) {
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  ASSERT_EQ(::mkdir((dir / "folder").c_str(), 0700), 0);
  WriteFile(dir / "big", "[S]\nk=1\n");
  ASSERT_EQ(::truncate((dir / "big").c_str(), (off_t{64} << 20) + 1), 0);
  WriteFile(dir / "limit", "[S]\nk=1\n");
  ASSERT_EQ(::truncate((dir / "limit").c_str(), off_t{64} << 20), 0);
  struct TCase {
    std::string file;
    TProfileLoad status;
    int error;
  };
  const TCase cases[] = {
      {dir / "missing", TProfileLoad::kOpenFailed, ENOENT},
      {dir / "limit/x", TProfileLoad::kOpenFailed, ENOTDIR},
      {dir / "fifo", TProfileLoad::kNotRegular, 0},
      {dir / "folder", TProfileLoad::kNotRegular, 0},
      {"/dev/zero", TProfileLoad::kNotRegular, 0},
      {dir / "big", TProfileLoad::kTooBig, 0},
      {dir / "limit", TProfileLoad::kLoaded, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    TProfile profile;
    ASSERT_TRUE(profile.Set("Left", "over", "1"));  // a load replaces what was held
    EXPECT_EQ(profile.Load(c.file), c.status);
    EXPECT_EQ(profile.LoadError(), c.error);
    EXPECT_EQ(profile.Get("Left", "over", "gone"), "gone");
    EXPECT_EQ(profile.Get("S", "k", "none"), c.status == TProfileLoad::kLoaded ? "1" : "none");
  }
}

// Counts the steps of every save while it lives; `stop` runs at each step.
class TSaveSteps {
 public:
  explicit TSaveSteps(std::function<void(TProfileSaveStep)> stop = nullptr) {
    SetProfileSaveHook([this, stop](TProfileSaveStep step, const std::string&) {
      ++counts[step];
      if (stop) stop(step);
    });
  }
  ~TSaveSteps() { SetProfileSaveHook(nullptr); }
  TSaveSteps(const TSaveSteps&) = delete;
  TSaveSteps& operator=(const TSaveSteps&) = delete;
  std::map<TProfileSaveStep, int> counts;
};

TEST_F(ProfileTest, ASaveStoppedHalfwayLeavesTheOldFileWhole) {
  const std::string old = "[ID]\nVelmora=1\n[Include]\nFiles0=/old\n";
  struct TCase {
    TProfileSaveStep step;
    bool killed;  // the process ends there; else the step throws
  };
  const TCase cases[] = {
      {TProfileSaveStep::kTempWritten, false},
      {TProfileSaveStep::kTempSynced, false},
      {TProfileSaveStep::kTempWritten, true},
      {TProfileSaveStep::kTempSynced, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "step " << static_cast<int>(c.step) << " killed " << c.killed);
    WriteFile(ini, old);
    ::chmod(ini.c_str(), 0640);
    TProfile profile;
    ASSERT_EQ(profile.Load(ini), TProfileLoad::kLoaded);
    ASSERT_TRUE(profile.EraseSection("Include"));
    for (int i = 0; i < 100; ++i)
      ASSERT_TRUE(profile.Set("Include", "Files" + std::to_string(i), "/new"));
    if (c.killed) {
      const pid_t child = ::fork();
      ASSERT_GE(child, 0);
      if (child == 0) {
        const TSaveSteps kill([&](TProfileSaveStep step) {
          if (step == c.step) ::_exit(0);
        });
        profile.Save(ini);
        ::_exit(1);  // the save ran past the step
      }
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status));
      EXPECT_EQ(WEXITSTATUS(status), 0);
      EXPECT_EQ(dir.Names().size(), 2u);  // the file and the killed save's temporary file
    } else {
      const TSaveSteps stop([&](TProfileSaveStep step) {
        if (step == c.step) throw std::runtime_error("stopped");
      });
      EXPECT_THROW(profile.Save(ini), std::runtime_error);
      EXPECT_EQ(dir.Names(), std::vector<std::string>{"job.sqt"});
    }
    EXPECT_EQ(ReadFile(ini), old);
    // The next save replaces the file and clears what the stopped one left.
    ASSERT_TRUE(profile.Save(ini));
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"job.sqt"});
    EXPECT_EQ(GetProfileSection(ini, "Include").size(), 100u);
    struct stat st {};
    ASSERT_EQ(::stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);  // the mode is the old file's, never wider
  }
}

TEST_F(ProfileTest, ASaveWritesOnceAndLeavesOtherSavesTemporaryFilesAlone) {
  WriteFile(ini, "[S]\nk=1\n");
  // Named as a save names its temporary file; the first is in use by a
  // save under way, the others are not such files.
  const std::string busy = dir / ".job.sqt.Ab12Cd";
  const std::string stale = dir / ".job.sqt.Xy34Zw";
  WriteFile(busy, "partial");
  WriteFile(stale, "partial");
  WriteFile(dir / ".job.sqt.bak", "mine");
  WriteFile(dir / ".other.sqt.Qw56Er", "mine");
  const TFd held(::open(busy.c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_EQ(::flock(held.Get(), LOCK_EX | LOCK_NB), 0);

  TProfile profile;
  ASSERT_EQ(profile.Load(ini), TProfileLoad::kLoaded);
  for (int i = 0; i < 1000; ++i) ASSERT_TRUE(profile.Set("S", "k" + std::to_string(i), "v"));
  const TSaveSteps steps;
  ASSERT_TRUE(profile.Save(ini));
  const std::map<TProfileSaveStep, int> once = {{TProfileSaveStep::kTempWritten, 1},
                                                {TProfileSaveStep::kTempSynced, 1},
                                                {TProfileSaveStep::kRenamed, 1},
                                                {TProfileSaveStep::kFolderSynced, 1}};
  EXPECT_EQ(steps.counts, once);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{".job.sqt.Ab12Cd", ".job.sqt.bak",
                                                   ".other.sqt.Qw56Er", "job.sqt"}));
}

}  // namespace
}  // namespace vx
