#include "platform/temp_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <system_error>

#include "common/files.h"
#include "common/temp_folder.h"
#include "platform/paths.h"

namespace vx {
namespace {

using test::TScopedEnv;
using test::TTempFolder;

TEST(TempFolder, EnvironmentOrderAndCreation) {
  TTempFolder dir;
  TScopedEnv tmp("TMP", dir / "tmp");
  TScopedEnv temp("TEMP", dir / "temp");
  TScopedEnv tmpdir("TMPDIR", dir / "tmpdir");
  EXPECT_EQ(GetTempFolder(), dir / "tmp/");
  EXPECT_TRUE(DirectoryExists(dir / "tmp"));  // made when missing
  {
    TScopedEnv noTmp("TMP", "");
    EXPECT_EQ(GetTempFolder(), dir / "temp/");
    TScopedEnv noTemp("TEMP", "");
    EXPECT_EQ(GetTempFolder(), dir / "tmpdir/");
    TScopedEnv noTmpdir("TMPDIR", "");
    EXPECT_EQ(GetTempFolder(), "/tmp/");
  }
}

TEST(TempFile, PrivateUniqueAndRemoved) {
  TTempFolder dir;
  std::string firstPath;
  {
    TTempFile a("tmpcompare.tmp", dir.path());
    TTempFile b("tmpcompare.tmp", dir.path());
    firstPath = a.path();
    EXPECT_NE(a.path(), b.path());
    EXPECT_EQ(ExtractFilePath(a.path()), dir.path() + "/");
    const std::string name = ExtractFileName(a.path());
    EXPECT_EQ(name.rfind("tmpcompare-", 0), 0u) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".tmp") << name;
    struct stat st {};
    ASSERT_EQ(::fstat(a.fd(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(::write(a.fd(), "abc", 3), 3);
    a.CloseFd();
    EXPECT_EQ(a.fd(), -1);
    EXPECT_EQ(test::ReadFile(a.path()), "abc");  // closing keeps the file
  }
  EXPECT_TRUE(dir.Names().empty());
  {
    TTempFile kept("temp.arc", dir.path());
    kept.Keep();
    firstPath = kept.path();
  }
  EXPECT_TRUE(FileExists(firstPath));
}

TEST(TempFile, FolderFromTheEnvironmentAndFailure) {
  TTempFolder dir;
  TScopedEnv tmp("TMP", dir.path());
  {
    TTempFile f("x");
    EXPECT_EQ(ExtractFilePath(f.path()), dir.path() + "/");
  }
  EXPECT_THROW(TTempFile("x", dir / "no/such/folder"), std::system_error);
}

}  // namespace
}  // namespace vx
