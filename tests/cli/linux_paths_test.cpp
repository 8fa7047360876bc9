// A one-off run (no set file) reads --include and --exclude as Linux tools
// read paths: folders recursively, dot-files taken, a missing path refused.
#include <algorithm>

#include "cli/cli_fixture.h"
#include "common/named_case.h"

namespace vxtest {
namespace {

INSTANTIATE_TEST_SUITE_P(EmptyEntries, CliParse,
                         ::testing::Values(TParseCase{"DeleteEmptyInclude",
                                                      {"delete", "--include", "", "--destination",
                                                       "/d", "--archive", "a"},
                                                      "--include needs a file, folder or mask"},
                                           TParseCase{"DeleteOnlyTheMarker",
                                                      {"delete", "--set", "s", "--include", " /S"},
                                                      "--include needs a file, folder or mask"},
                                           TParseCase{"BackupEmptyExclude",
                                                      {"backup", "--set", "s", "--exclude", ""},
                                                      "--exclude needs a file, folder or mask"},
                                           TParseCase{
                                               "IgnoreMissingWithASetFile",
                                               {"backup", "--set", "s", "--ignore-missing"},
                                               "--ignore-missing only applies without --set"}),
                         vx::test::TCaseName());

class CliLinuxPaths : public CliFixture {
 protected:
  void SetUp() override {
    CliFixture::SetUp();
    fs::create_directories(root_ / "src" / ".cfg");
    fs::create_directories(root_ / "arc");
    Write("src/.dot", "dot file\n");
    Write("src/.cfg/d.txt", "in a hidden folder\n");
  }
  std::vector<std::string> Where() const {
    return {"--destination", Path("arc"), "--archive", "docs"};
  }
  TCliRun RunWith(std::vector<std::string> args) const {
    for (const auto& a : Where()) args.push_back(a);
    return Run(args);
  }
  // The stored paths, sorted, relative to the scratch folder.
  std::vector<std::string> Stored() const {
    TCliRun c = RunWith({"catalog"});
    std::vector<std::string> paths;
    for (const std::string& line : Lines(c.out)) {
      std::string path = Fields(line).back();
      paths.push_back(path.substr(Path("").size()));
    }
    std::sort(paths.begin(), paths.end());
    return paths;
  }
};

struct TSelectionCase {
  const char* name;
  std::vector<std::string> args;  // "@x" stands for the scratch folder's path of x
  int exitCode;
  std::vector<std::string> stored;  // sorted; none when the run is refused
  std::string message;              // part of stderr ("@x" as above)
};
void PrintTo(const TSelectionCase& c, std::ostream* os) { *os << c.name; }

class CliOneOffSelection : public CliLinuxPaths,
                           public ::testing::WithParamInterface<TSelectionCase> {
 protected:
  std::string Expand(const std::string& text) const {
    return text.rfind('@', 0) == 0 ? Path(text.substr(1)) : text;
  }
  std::string ExpandAll(std::string text) const {
    for (auto at = text.find('@'); at != std::string::npos; at = text.find('@', at + 1)) {
      const auto end = text.find_first_of(" :", at);
      const std::string rel = text.substr(at + 1, end - at - 1);
      text.replace(at, end - at, Path(rel));
    }
    return text;
  }
};

TEST_P(CliOneOffSelection, BackupTakesWhatThePathsName) {
  const TSelectionCase& c = GetParam();
  std::vector<std::string> args = {"backup"};
  for (const std::string& a : c.args) args.push_back(Expand(a));
  TCliRun b = RunWith(args);
  ASSERT_EQ(b.exitCode, c.exitCode) << Show(b);
  if (!c.message.empty()) {
    EXPECT_NE(b.err.find(ExpandAll(c.message)), std::string::npos) << Show(b);
  }
  if (c.exitCode != 0) {
    EXPECT_FALSE(fs::exists(Path("arc/docs"))) << Show(b);
    return;
  }
  EXPECT_EQ(Stored(), c.stored) << Show(b);
}

const std::vector<std::string> kEverything = {"src/.cfg/d.txt", "src/.dot", "src/a.txt",
                                              "src/sub/b.txt", "src/sub/c.bin"};

INSTANTIATE_TEST_SUITE_P(
    Table, CliOneOffSelection,
    ::testing::Values(
        TSelectionCase{"Folder", {"--include", "@src"}, 0, kEverything, ""},
        TSelectionCase{"FolderWithSlash", {"--include", "@src/"}, 0, kEverything, ""},
        TSelectionCase{"Mask", {"--include", "@src/*.txt"}, 0, {"src/a.txt"}, ""},
        TSelectionCase{"RecursionMarker",
                       {"--include", "@src/*.txt /S"},
                       0,
                       {"src/.cfg/d.txt", "src/a.txt", "src/sub/b.txt"},
                       ""},
        TSelectionCase{"PlainFile", {"--include", "@src/sub/b.txt"}, 0, {"src/sub/b.txt"}, ""},
        TSelectionCase{"DotFile", {"--include", "@src/.dot"}, 0, {"src/.dot"}, ""},
        TSelectionCase{"NoHidden",
                       {"--include", "@src", "--no-hidden"},
                       0,
                       {"src/a.txt", "src/sub/b.txt", "src/sub/c.bin"},
                       ""},
        TSelectionCase{"ExcludeFolder",
                       {"--include", "@src", "--exclude", "@src/sub"},
                       0,
                       {"src/.cfg/d.txt", "src/.dot", "src/a.txt"},
                       ""},
        TSelectionCase{"ExcludeFolderWithSlash",
                       {"--include", "@src", "--exclude", "@src/sub/"},
                       0,
                       {"src/.cfg/d.txt", "src/.dot", "src/a.txt"},
                       ""},
        TSelectionCase{"ExcludeMaskAsBefore",
                       {"--include", "@src", "--exclude", "*.bin"},
                       0,
                       {"src/.cfg/d.txt", "src/.dot", "src/a.txt", "src/sub/b.txt"},
                       ""},
        TSelectionCase{"MissingPath",
                       {"--include", "@src", "--include", "@nope"},
                       64,
                       {},
                       "--include @nope: no such file or folder"},
        TSelectionCase{"MaskFindingNothing",
                       {"--include", "@src/*.doc"},
                       64,
                       {},
                       "--include @src/*.doc: no such file or folder"},
        TSelectionCase{"MissingPathIgnored",
                       {"--include", "@src", "--include", "@nope", "--ignore-missing"},
                       0,
                       kEverything,
                       ""}),
    vx::test::TCaseName());

// The program runs in the working folder the test gives it.
TEST_F(CliLinuxPaths, RelativePathsAreTakenFromTheWorkingFolder) {
  const fs::path before = fs::current_path();
  fs::current_path(root_);
  TCliRun b = RunWith({"backup", "--include", "src", "--exclude", "src/sub"});
  fs::current_path(before);
  ASSERT_EQ(b.exitCode, 0) << Show(b);
  EXPECT_EQ(Stored(), (std::vector<std::string>{"src/.cfg/d.txt", "src/.dot", "src/a.txt"}));
}

// Restore and delete lines that are absolute paths take what is stored
// below them; an empty keep-list is refused before anything is removed.
TEST_F(CliLinuxPaths, RestoreAndDeleteTakeAFolderWithWhatIsBelowIt) {
  ASSERT_EQ(RunWith({"backup", "--include", Path("src")}).exitCode, 0);

  TCliRun r = RunWith({"restore", "--include", Path("src/sub"), "--restore-to", Path("out")});
  ASSERT_EQ(r.exitCode, 0) << Show(r);
  EXPECT_EQ(Read("out" + Path("src/sub/b.txt")), Read("src/sub/b.txt"));
  EXPECT_TRUE(fs::exists(Path("out") + Path("src/sub/c.bin")));
  EXPECT_FALSE(fs::exists(Path("out") + Path("src/a.txt")));

  TCliRun empty = RunWith({"delete", "--include", ""});
  EXPECT_EQ(empty.exitCode, 64) << Show(empty);
  EXPECT_EQ(Stored(), kEverything);

  TCliRun d = RunWith({"delete", "--exclude", Path("src/sub")});
  ASSERT_EQ(d.exitCode, 0) << Show(d);
  EXPECT_EQ(Stored(), (std::vector<std::string>{"src/.cfg/d.txt", "src/.dot", "src/a.txt"}));
}

}  // namespace
}  // namespace vxtest
