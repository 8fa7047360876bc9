// The target writer: a file reaches its target only through Commit, a
// redirected run never leaves its root, and what cannot be replaced is left.
#include "platform/target_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace vx {
namespace {

namespace fs = std::filesystem;

class TargetWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "vx-target-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

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

  fs::path dir_;
};

TEST_F(TargetWriter, TheTargetChangesOnlyAtCommit) {
  Put(Path("old.txt"), "old content");
  const std::uint8_t data[] = {'n', 'e', 'w'};
  struct TCase {
    bool commit;
    std::string expected;
  };
  for (const TCase& c : {TCase{false, "old content"}, TCase{true, "new"}}) {
    TTargetFolders folders;
    {
      TTargetFile file;
      ASSERT_TRUE(file.Create(Path("old.txt"), folders));
      EXPECT_TRUE(file.Existed());
      ASSERT_TRUE(file.Write(data, sizeof data));
      EXPECT_EQ(Read(Path("old.txt")), "old content");
      if (c.commit) {
        EXPECT_TRUE(file.Commit(45000.0, TTargetFile::TReadOnly::Keep, 0644));
      }
    }
    EXPECT_EQ(Read(Path("old.txt")), c.expected);
    EXPECT_EQ(EntriesIn(dir_.string()), 1u);
  }
}

TEST_F(TargetWriter, AFileStillOpenWhenTheRunMovesToAnotherFolderLandsInItsOwn) {
  fs::create_directories(Path("a"));
  fs::create_directories(Path("b"));
  const std::uint8_t data[] = {'x'};
  TTargetFolders folders;
  TTargetFile first;
  ASSERT_TRUE(first.Create(Path("a/f"), folders));
  // Three more files, two in another folder and one back in the first.
  TTargetFile second;
  TTargetFile third;
  TTargetFile fourth;
  ASSERT_TRUE(second.Create(Path("b/f"), folders));
  ASSERT_TRUE(third.Create(Path("b/g"), folders));
  ASSERT_TRUE(fourth.Create(Path("a/g"), folders));
  for (TTargetFile* f : {&first, &second, &third, &fourth}) {
    ASSERT_TRUE(f->Write(data, sizeof data));
    EXPECT_TRUE(f->Commit(45000.0, TTargetFile::TReadOnly::Keep, 0644));
  }
  EXPECT_EQ(Read(Path("a/f")), "x");
  EXPECT_EQ(Read(Path("a/g")), "x");
  EXPECT_EQ(Read(Path("b/f")), "x");
  EXPECT_EQ(Read(Path("b/g")), "x");
  EXPECT_EQ(EntriesIn(Path("a")), 2u);  // no temporaries left
  EXPECT_EQ(EntriesIn(Path("b")), 2u);
}

TEST_F(TargetWriter, ARedirectedRunCreatesItsFoldersAndFollowsNoLinkBelowItsRoot) {
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

TEST_F(TargetWriter, AFolderOrFifoInThePlaceOfTheTargetIsLeftAlone) {
  fs::create_directory(Path("folder"));
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  struct TCase {
    const char* name;
    int err;
  };
  for (const TCase& c : {TCase{"folder", EISDIR}, TCase{"fifo", EINVAL}}) {
    TTargetFolders folders;
    TTargetFile file;
    EXPECT_FALSE(file.Create(Path(c.name), folders)) << c.name;
    EXPECT_EQ(file.Error(), c.err) << c.name;
  }
  EXPECT_EQ(EntriesIn(dir_.string()), 2u);
}

}  // namespace
}  // namespace vx
