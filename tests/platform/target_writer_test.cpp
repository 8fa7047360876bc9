// The target writer: a file reaches its target only through Commit, a
// redirected run never leaves its root, what cannot be replaced is left, and
// every file ends with the permissions it is meant to have; all of it both
// for new files without a name and, where a file system cannot make those,
// for new files under a private name.
#include "platform/target_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace vx {
namespace {

namespace fs = std::filesystem;

// How the run makes its new files.
enum class TNewFiles { Named, Nameless, NamelessThroughProc };

class TargetWriter : public ::testing::TestWithParam<TNewFiles> {
 protected:
  void SetUp() override {
    oldUmask_ = ::umask(022);
    std::string tmpl = (fs::temp_directory_path() / "vx-target-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override {
    fs::remove_all(dir_);
    ::umask(oldUmask_);
  }

  // The run's folders, making new files without a name or not, and linking
  // them by descriptor (where the process may) or through /proc, as the
  // parameter says.
  void Setup(TTargetFolders& folders) const {
    if (GetParam() == TNewFiles::Named) folders.UseNamedTemporaries();
    if (GetParam() == TNewFiles::NamelessThroughProc) folders.LinkThroughProc();
    ASSERT_EQ(folders.NamelessFiles(), GetParam() != TNewFiles::Named);
  }
  std::string Path(const std::string& rel) const { return (dir_ / rel).string(); }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static void Put(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }
  // Only the named entries are in the folder (no temporary file was left).
  static std::size_t EntriesIn(const std::string& folder) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
  }

  static unsigned ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
  }
  // The mode of the one new file open in folder, named or not, found
  // among this process's open files.
  static unsigned TemporaryModeIn(const std::string& folder) {
    for (const fs::directory_entry& e : fs::directory_iterator("/proc/self/fd")) {
      std::array<char, 4096> text{};
      const ssize_t n = ::readlink(e.path().c_str(), text.data(), text.size() - 1);
      const std::string target(text.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
      if (target.rfind(folder + "/.vx-restore-", 0) == 0 || target.rfind(folder + "/#", 0) == 0)
        return ModeOf(e.path().string());
    }
    return 0;
  }

  fs::path dir_;
  mode_t oldUmask_ = 022;
};

constexpr auto kKeep = TTargetFile::TReadOnly::Keep;

TEST_P(TargetWriter, TheTargetChangesOnlyAtCommit) {
  Put(Path("old.txt"), "old content");
  const std::uint8_t data[] = {'n', 'e', 'w'};
  struct TCase {
    bool commit;
    std::string expected;
  };
  for (const TCase& c : {TCase{false, "old content"}, TCase{true, "new"}}) {
    TTargetFolders folders;
    Setup(folders);
    {
      TTargetFile file;
      ASSERT_TRUE(file.Create(Path("old.txt"), folders, kKeep, 0644));
      ASSERT_TRUE(file.Write(data, sizeof data));
      EXPECT_EQ(Read(Path("old.txt")), "old content");
      if (c.commit) {
        EXPECT_TRUE(file.Commit(45000.0));
      }
      EXPECT_EQ(file.Existed(), c.commit);
    }
    EXPECT_EQ(Read(Path("old.txt")), c.expected);
    EXPECT_EQ(EntriesIn(dir_.string()), 1u);
  }
}

// Blocks of zeros written sparse read back the same and take no room: a
// hole inside, a hole at the end (made by the commit), a short run of zeros
// that stays written.
// Private names left by a killed run are removed the first time a folder
// gets a named new file: stale ones only, never one a running writer holds,
// nor another file; files without a name leave nothing to remove.
TEST_P(TargetWriter, StaleTemporariesOfAKilledRunAreRemovedOnce) {
  Put(Path(".vx-restore-stale0000000-1"), "left by a killed run");
  Put(Path(".vx-restore-held00000000-1"), "written by a running restore");
  Put(Path(".vx-other"), "not ours");
  const int held = ::open(Path(".vx-restore-held00000000-1").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  TTargetFolders folders;
  Setup(folders);
  const std::uint8_t data[] = {'n', 'e', 'w'};
  for (const char* name : {"a.txt", "b.txt"}) {
    TTargetFile file;
    ASSERT_TRUE(file.Create(Path(name), folders, kKeep, 0644));
    ASSERT_TRUE(file.Write(data, sizeof data));
    ASSERT_TRUE(file.Commit(45000.0));
  }
  ::close(held);
  const bool named = GetParam() == TNewFiles::Named;
  EXPECT_EQ(fs::exists(Path(".vx-restore-stale0000000-1")), !named);
  EXPECT_TRUE(fs::exists(Path(".vx-restore-held00000000-1")));
  EXPECT_TRUE(fs::exists(Path(".vx-other")));
  const std::vector<std::string> removed = folders.TakeLeftoversRemoved();
  EXPECT_EQ(removed, named ? std::vector<std::string>{Path(".vx-restore-stale0000000-1")}
                           : std::vector<std::string>{});
  EXPECT_TRUE(folders.TakeLeftoversRemoved().empty());
}

TEST_P(TargetWriter, ZeroBlocksBecomeHolesAndTheFileReadsTheSame) {
  const std::string zeros(32768, '\0');
  const std::string data = "data between";
  struct TCase {
    const char* name;
    std::vector<std::string> pieces;
    bool sparse;  // fewer blocks on the disk than the file's size needs
  };
  const TCase cases[] = {
      {"hole inside", {data, zeros, zeros, data}, true},
      {"hole at the end", {data, zeros, zeros, zeros}, true},
      {"only zeros", {zeros, zeros}, true},
      {"short zeros stay", {data, std::string(100, '\0'), data}, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TTargetFolders folders;
    Setup(folders);
    TTargetFile file;
    ASSERT_TRUE(file.Create(Path("sparse"), folders, kKeep, 0644));
    std::string expected;
    for (const std::string& piece : c.pieces) {
      ASSERT_TRUE(
          file.WriteSparse(reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size()));
      expected += piece;
    }
    ASSERT_TRUE(file.Commit(45000.0));
    EXPECT_EQ(Read(Path("sparse")), expected);
    struct stat st {};
    ASSERT_EQ(::stat(Path("sparse").c_str(), &st), 0);
    EXPECT_EQ(static_cast<std::size_t>(st.st_size), expected.size());
    if (c.sparse) {
      EXPECT_LT(st.st_blocks * 512, 32768);
    }
    fs::remove(Path("sparse"));
  }
}

TEST_P(TargetWriter, AFileStillOpenWhenTheRunMovesToAnotherFolderLandsInItsOwn) {
  fs::create_directories(Path("a"));
  fs::create_directories(Path("b"));
  const std::uint8_t data[] = {'x'};
  TTargetFolders folders;
  Setup(folders);
  TTargetFile first;
  ASSERT_TRUE(first.Create(Path("a/f"), folders, kKeep, 0644));
  // Three more files, two in another folder and one back in the first.
  TTargetFile second;
  TTargetFile third;
  TTargetFile fourth;
  ASSERT_TRUE(second.Create(Path("b/f"), folders, kKeep, 0644));
  ASSERT_TRUE(third.Create(Path("b/g"), folders, kKeep, 0644));
  ASSERT_TRUE(fourth.Create(Path("a/g"), folders, kKeep, 0644));
  for (TTargetFile* f : {&first, &second, &third, &fourth}) {
    ASSERT_TRUE(f->Write(data, sizeof data));
    EXPECT_TRUE(f->Commit(45000.0));
  }
  EXPECT_EQ(Read(Path("a/f")), "x");
  EXPECT_EQ(Read(Path("a/g")), "x");
  EXPECT_EQ(Read(Path("b/f")), "x");
  EXPECT_EQ(Read(Path("b/g")), "x");
  EXPECT_EQ(EntriesIn(Path("a")), 2u);  // no temporaries left
  EXPECT_EQ(EntriesIn(Path("b")), 2u);
}

TEST_P(TargetWriter, ARedirectedRunCreatesItsFoldersAndFollowsNoLinkBelowItsRoot) {
  const std::string root = Path("root/");
  fs::create_directories(Path("outside"));
  fs::create_directories(root);
  fs::create_directory_symlink(Path("outside"), Path("root/link"));
  struct TCase {
    std::string folder;
    bool opens;
  };
  const TCase cases[] = {
      {root + "a/b/c/", true}, {root, true}, {root + "link/", false}, {root + "link/x/", false}};
  TTargetFolders folders(root);
  Setup(folders);
  for (const TCase& c : cases) {
    int err = 0;
    bool refused = false;
    const auto fd = folders.Open(c.folder, err, refused);
    EXPECT_EQ(fd != nullptr && fd->IsOpen(), c.opens) << c.folder;
    EXPECT_EQ(err != 0, !c.opens) << c.folder;
    EXPECT_FALSE(refused) << c.folder;  // below a root no link is asked about
  }
  EXPECT_TRUE(fs::is_directory(Path("root/a/b/c")));
  EXPECT_TRUE(fs::is_empty(Path("outside")));
}

// What stands at the target is looked at only when the new file is renamed
// into place, whether it was there from the start or appeared while the new
// file was written.
TEST_P(TargetWriter, WhatStandsAtTheTargetIsReplacedOrLeftAlone) {
  struct TCase {
    const char* name;
    bool appearsLate;  // put there after the new file was created
    bool mayReplace;
    int err;  // 0: the new file is in place
  };
  const TCase cases[] = {
      {"folder", false, true, EISDIR},     {"fifo", false, true, EINVAL},
      {"late-folder", true, true, EISDIR}, {"late-file", true, true, 0},
      {"kept-file", false, false, EEXIST}, {"late-kept-file", true, false, EEXIST},
  };
  const auto putThere = [this](const std::string& name) {
    const std::string path = Path(name);
    if (name.find("folder") != std::string::npos) {
      fs::create_directory(path);
    } else if (name == "fifo") {
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    } else {
      Put(path, "old");
    }
  };
  const std::uint8_t data[] = {'n', 'e', 'w'};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.appearsLate) putThere(c.name);
    TTargetFolders folders;
    Setup(folders);
    {
      TTargetFile file;
      ASSERT_TRUE(file.Create(Path(c.name), folders, kKeep, 0644));
      ASSERT_TRUE(file.Write(data, sizeof data));
      if (c.appearsLate) putThere(c.name);
      EXPECT_EQ(file.Commit(45000.0, c.mayReplace), c.err == 0);
      EXPECT_EQ(file.Error(), c.err);
      // A file found there is told, whether replaced or not.
      EXPECT_EQ(file.Existed(), std::string(c.name).find("file") != std::string::npos);
    }
    if (fs::is_regular_file(Path(c.name))) {
      EXPECT_EQ(Read(Path(c.name)), c.err == 0 ? "new" : "old");
    }
  }
  // Nothing but the entries put there is left: no temporary file.
  EXPECT_EQ(EntriesIn(dir_.string()), std::size(cases));
}

// A new file ends with the mode asked for, whether the folder was made by
// the run or stood before; a replaced file keeps its own.  While it is
// written it is never open to more than it ends with: private where
// something may stand at the target, and with its final mode only in a
// folder the run made and only when the umask cuts nothing from it.
TEST_P(TargetWriter, AFileEndsWithItsModeAndIsNeverMoreOpenWhileWritten) {
  using R = TTargetFile::TReadOnly;
  struct TCase {
    const char* path;
    unsigned oldMode;  // 0: nothing stands there
    R readOnly;
    unsigned newMode;
    unsigned whileWritten;
    unsigned expected;
  };
  fs::create_directory(Path("stood"));
  const TCase cases[] = {
      {"made/a", 0, R::Keep, 0644, 0644, 0644},
      {"made/b", 0, R::Set, 0644, 0444, 0444},
      {"made/c", 0, R::Keep, 0666, 0600, 0666},
      {"made/d", 0, R::Clear, 0444, 0644, 0644},
      {"stood/a", 0, R::Keep, 0640, 0600, 0640},
      {"stood/b", 0, R::Keep, 0666, 0600, 0666},
      {"stood/kept", 0600, R::Keep, 0644, 0600, 0600},
      {"stood/set", 0640, R::Set, 0644, 0600, 0440},
      {"stood/clear", 0440, R::Clear, 0644, 0600, 0640},
  };
  for (const TCase& c : cases) {
    if (c.oldMode != 0) {
      Put(Path(c.path), "old");
      fs::permissions(Path(c.path), static_cast<fs::perms>(c.oldMode));
    }
  }
  const std::uint8_t data[] = {'n', 'e', 'w'};
  TTargetFolders folders(dir_.string() + "/");
  Setup(folders);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.path);
    TTargetFile file;
    ASSERT_TRUE(file.Create(Path(c.path), folders, c.readOnly, c.newMode));
    ASSERT_TRUE(file.Write(data, sizeof data));
    EXPECT_EQ(TemporaryModeIn(fs::path(Path(c.path)).parent_path().string()), c.whileWritten);
    ASSERT_TRUE(file.Commit(45000.0));
    EXPECT_EQ(file.Existed(), c.oldMode != 0);
    EXPECT_EQ(ModeOf(Path(c.path)), c.expected);
    EXPECT_EQ(Read(Path(c.path)), "new");
  }
}

std::string NewFilesName(const ::testing::TestParamInfo<TNewFiles>& info) {
  switch (info.param) {
    case TNewFiles::Named:
      return "Named";
    case TNewFiles::Nameless:
      return "Nameless";
    case TNewFiles::NamelessThroughProc:
      break;
  }
  return "NamelessThroughProc";
}

INSTANTIATE_TEST_SUITE_P(NewFiles, TargetWriter,
                         ::testing::Values(TNewFiles::Named, TNewFiles::Nameless,
                                           TNewFiles::NamelessThroughProc),
                         NewFilesName);

}  // namespace
}  // namespace vx
