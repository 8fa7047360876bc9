// Catalog, RetrieveComment and the first-medium check on good, empty,
// foreign, short, damaged, encrypted and split sets.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "archive/errors.h"
#include "common/engine_fixture.h"
#include "common/named_case.h"
#include "engine/vaultrex.h"
#include "platform/paths.h"

namespace vx {
namespace {

using namespace vx::test;

using CatalogTest = TEngineTest;

TEST_F(CatalogTest, GoodAndEmptySetsFillTheListAndGiveTheComment) {
  const std::vector<TStoredFile> files = {{"/home/eva/b.txt", "bbb", 0x21},
                                          {"/home/eva/a.bin", NoiseBytes(40000)},
                                          {"/home/eva/empty", ""}};
  WriteArchive(Archive(), files, 9, "heslo1234", "nedeľná záloha");  // no password needed
  engine.Comment = "mine";
  ASSERT_EQ(engine.Catalog(), 0);
  ASSERT_EQ(engine.FileList().size(), 3u);
  for (std::size_t i = 0; i < files.size(); ++i) {
    const TDirRecord& r = engine.FileList()[i];
    EXPECT_EQ(r.path, files[i].path);
    EXPECT_EQ(r.size, static_cast<std::int32_t>(files[i].content.size()));
    EXPECT_EQ(r.crc, CrcUpdate(kCrcInit, files[i].content.data(), files[i].content.size()));
    EXPECT_EQ(r.attr, files[i].attr);
    EXPECT_DOUBLE_EQ(r.time, FixedTime());
  }
  EXPECT_EQ(engine.Comment, "mine");  // Catalog leaves it alone
  std::string comment;
  EXPECT_EQ(engine.RetrieveComment(comment), 0);
  EXPECT_EQ(comment, "nedeľná záloha");
  engine.EncryptData = true;  // only then is a password asked for
  EXPECT_EQ(engine.RetrieveComment(comment), 1);

  WriteArchive(Archive(), {});
  EXPECT_EQ(engine.Catalog(), 0);
  EXPECT_TRUE(engine.FileList().empty());
}

TEST_F(CatalogTest, ForeignShortMissingAndForgedSetsGiveTheirCodes) {
  std::string comment = "kept";
  WriteFile(Archive(), NoiseBytes(40000));
  EXPECT_EQ(engine.Catalog(), 8);
  EXPECT_EQ(engine.RetrieveComment(comment), 8);
  WriteFile(Archive(), std::string(100, 'x'));
  EXPECT_EQ(engine.Catalog(), 9);
  EXPECT_EQ(engine.RetrieveComment(comment), 9);
  EXPECT_EQ(comment, "kept");

  // Counts that are negative, absurd, or more than the file can hold are
  // found before anything is allocated for them.
  WriteArchive(Archive(), {{"/x/a", "abc"}});
  std::string bytes = ReadFile(Archive());
  for (std::int32_t count : {-1, 0x7FFFFFFF, 1000}) {
    EncodeCount(count, reinterpret_cast<std::uint8_t*>(&bytes[kHeaderSize]));
    WriteFile(Archive(), bytes);
    EXPECT_EQ(engine.Catalog(), 9) << count;
  }
  engine.ArchiveBaseName = "nothing.arc";
  EXPECT_EQ(engine.Catalog(), 7);
}

TEST_F(CatalogTest, MissingDestinationIsThrownByCatalogButReturnedByComment) {
  engine.BackupDestination.clear();
  EXPECT_THROW(engine.Catalog(), EVX_ParameterError);
  std::string comment;
  EXPECT_EQ(engine.RetrieveComment(comment), 1);
}

class FirstMediumTest : public CatalogTest {
 protected:
  void SetUp() override {
    engine.ArchiveBaseName = "daily";
    engine.SpanDisks = true;
  }
};

TEST_F(FirstMediumTest, SplitSetIsReadAcrossItsVolumes) {
  WriteArchive(dir / "daily", {{"/v/a", NoiseBytes(70000)}, {"/v/b", NoiseBytes(50000, 2)}}, 0, "",
               "", 40000);
  ASSERT_TRUE(FileExists(dir / "daily.002"));
  EXPECT_EQ(engine.Catalog(), 0);
  EXPECT_EQ(engine.FileList().size(), 2u);

  // A count beyond what the volumes hold ends when no next volume opens.
  std::string first = ReadFile(dir / "daily.001");
  EncodeCount(100000, reinterpret_cast<std::uint8_t*>(&first[kHeaderSize]));
  WriteFile(dir / "daily.001", first);
  engine.AskForNextDisk = false;
  EXPECT_EQ(engine.Catalog(), 9);  // the records run into file data
  EXPECT_TRUE(engine.FileList().empty());
}

TEST_F(FirstMediumTest, AbortOrNobodyToAskEndsTheOperation) {
  int asked = 0;
  engine.OnNextDisk = [&](int diskNo, TReaction& r) {
    EXPECT_EQ(diskNo, 1);
    ++asked;
    r = AW_ABORT;
  };
  EXPECT_EQ(engine.Catalog(), 99);  // a wrong medium has no code of its own here
  engine.IncludeNames = {"*"};
  EXPECT_EQ(engine.Restore(), 13);
  EXPECT_EQ(asked, 2);
  // Without anybody to ask the check fails at once instead of looping.
  engine.AskForNextDisk = false;
  std::string comment;
  EXPECT_EQ(engine.RetrieveComment(comment), 13);
  EXPECT_EQ(asked, 2);
}

// Bytes that are no directory of a backup make the set a damaged one, and
// nothing of an earlier archive stays in the file list.
struct TDirectoryDamage {
  const char* name;
  void (*damage)(std::string& bytes);
};
void PrintTo(const TDirectoryDamage& c, std::ostream* os) { *os << c.name; }

class DamagedDirectory : public CatalogTest,
                         public ::testing::WithParamInterface<TDirectoryDamage> {};

TEST_P(DamagedDirectory, IsADamagedSetWithAnEmptyList) {
  WriteArchive(Archive(), {{"/x/a", "abc"}, {"/x/b", TextBytes(40000)}});
  ASSERT_EQ(engine.Catalog(), 0);
  ASSERT_EQ(engine.FileList().size(), 2u);
  std::string bytes = ReadFile(Archive());
  GetParam().damage(bytes);
  WriteFile(Archive(), bytes);
  EXPECT_EQ(engine.Catalog(), 9);
  EXPECT_TRUE(engine.FileList().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Damages, DamagedDirectory,
    ::testing::Values(TDirectoryDamage{"CountBeyondTheFile",
                                       [](std::string& b) {
                                         EncodeCount(1000, reinterpret_cast<std::uint8_t*>(
                                                               &b[kHeaderSize]));
                                       }},
                      // The directory runs into file data (a NUL inside a path).
                      TDirectoryDamage{"NulInsideAPath",
                                       [](std::string& b) {
                                         b[kHeaderSize + kCountSize + kRecordSize + 3] = '\0';
                                       }},
                      TDirectoryDamage{"TimeThatIsNoNumber",
                                       [](std::string& b) {
                                         std::memset(&b[kHeaderSize + kCountSize + 268], 0xFF, 8);
                                       }},
                      // The volume is not made of whole blocks.
                      TDirectoryDamage{"VolumeCutInsideABlock",
                                       [](std::string& b) { b.resize(b.size() - 100); }}),
    vx::test::TCaseName());

// A count of 0 in front of directory records or data is damage, whether the
// set is one transfer block or more, for every operation that reads it; a
// set written with no files still reads as empty.
TEST_F(CatalogTest, ZeroedCountIsDamageForEveryReader) {
  const std::vector<std::vector<TStoredFile>> sets = {
      {{"/x/a", "abc"}}, {{"/x/a", "abc"}, {"/x/b", TextBytes(40000)}}};
  for (const auto& files : sets) {
    WriteArchive(Archive(), files);
    std::string bytes = ReadFile(Archive());
    EncodeCount(0, reinterpret_cast<std::uint8_t*>(&bytes[kHeaderSize]));
    WriteFile(Archive(), bytes);
    std::string comment;
    EXPECT_EQ(engine.Catalog(), 9) << files.size();
    EXPECT_EQ(engine.Verify(), 9) << files.size();
    RestoreEverythingTo();
    EXPECT_EQ(engine.Restore(), 9) << files.size();
  }
  WriteArchive(Archive(), {});
  EXPECT_EQ(engine.Catalog(), 0);
  EXPECT_EQ(engine.Verify(), 0);
}

// A split set whose base name has a folder part is found where the backup
// wrote it; a dot in a folder name is no extension.
TEST_F(FirstMediumTest, BaseNameWithAFolderPartIsFoundWhereTheStreamOpensIt) {
  for (const std::string base : {"sets/daily", "sets.old/daily"}) {
    WriteFile(dir / "src/a.bin", NoiseBytes(100000));
    WriteArchive(dir / base, {{dir / "src/a.bin", NoiseBytes(100000)}}, 0, "", "", 40000);
    ASSERT_TRUE(FileExists(dir / (base + ".002")));
    engine.ArchiveBaseName = base;
    EXPECT_EQ(engine.Catalog(), 0) << base;
    EXPECT_EQ(engine.FileList().size(), 1u);
    engine.LogFileMode = LFM_NoLog;
    EXPECT_EQ(engine.Verify(), 0) << base;
    engine.IncludeNames = {"*"};
    engine.RedirectRestore = true;
    engine.RestoreTo = dir / ("out/" + base);
    EXPECT_EQ(engine.Restore(), 0) << base;
  }
}

// Restore and delete select stored paths as an include entry finds files:
// the mask covers the whole name, "X.*" also takes the bare name "X".
struct TSelectionCase {
  const char* line;
  const char* path;
  bool recurse;
  bool selects;
};
void PrintTo(const TSelectionCase& c, std::ostream* os) {
  *os << c.line << " on " << c.path << (c.recurse ? " recursive" : "");
}

class IncludeLineSelection : public ::testing::TestWithParam<TSelectionCase> {};

TEST_P(IncludeLineSelection, MatchesLikeTheDirectorySearch) {
  const TSelectionCase& c = GetParam();
  EXPECT_EQ(TVaultrex::MatchIncludeLine(c.line, c.path, c.recurse), c.selects)
      << c.line << " / " << c.path;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, IncludeLineSelection,
    ::testing::Values(TSelectionCase{"*.txt", "/d/notes.v2.txt", false, true},
                      TSelectionCase{"*.c", "/d/main.c", false, true},
                      TSelectionCase{"*.c", "/d/main.cpp", false, false},
                      TSelectionCase{"*.c", "/d/app.conf", false, false},
                      TSelectionCase{"/src/*.* /S", "/src/Makefile", false, true},
                      TSelectionCase{"/src/*.* /S", "/src/lib/x.h", false, true},
                      TSelectionCase{"/src/*.*", "/src/lib/x.h", false, false},
                      TSelectionCase{"/src/*.*", "/src/lib/x.h", true, true},
                      TSelectionCase{"/SRC/Read?e", "/src/readme", false, true},
                      TSelectionCase{"/src/*.txt", "/other/a.txt", true, false},
                      TSelectionCase{"C:\\Data\\*.txt", "C:\\Data\\a.txt", false, true}));

}  // namespace
}  // namespace vx
