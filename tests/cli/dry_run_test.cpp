// --dry-run of backup, restore and delete: the lines it prints come from the
// real run's selection, and nothing on disk changes.
#include <algorithm>
#include <functional>
#include <sstream>

#include "cli/cli_fixture.h"
#include "common/named_case.h"

namespace vxtest {
namespace {

std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream ss(text);
  for (std::string l; std::getline(ss, l);) lines.push_back(l);
  std::sort(lines.begin(), lines.end());
  return lines;
}

class CliDryRun : public CliFixture {
 protected:
  void SetUp() override {
    CliFixture::SetUp();
    fs::create_directories(root_ / "arc");
    fs::create_directories(root_ / "out" / root_.relative_path() / "src");
    Write("arc/stray.txt", "left by someone");
    set_ = MakeSet({{"EraseTargetDir", "1"}});
  }
  // Replaces {a}, {b}, {c}, {out}, {arc} and the sizes {a_bytes},
  // {b_bytes}, {c_bytes}, {all_bytes} in an expected line.
  std::string Expand(std::string line) const {
    const auto size = [this](const char* rel) { return fs::file_size(Path(rel)); };
    const std::map<std::string, std::string> names = {
        {"{a_bytes}", std::to_string(size("src/a.txt"))},
        {"{b_bytes}", std::to_string(size("src/sub/b.txt"))},
        {"{c_bytes}", std::to_string(size("src/sub/c.bin"))},
        {"{all_bytes}",
         std::to_string(size("src/a.txt") + size("src/sub/b.txt") + size("src/sub/c.bin"))},
        {"{a}", Path("src/a.txt")},
        {"{b}", Path("src/sub/b.txt")},
        {"{c}", Path("src/sub/c.bin")},
        {"{out}", Path("out")},
        {"{arc}", fs::canonical(root_ / "arc").string()}};
    for (const auto& [key, value] : names) {
      for (auto at = line.find(key); at != std::string::npos; at = line.find(key))
        line.replace(at, key.size(), value);
    }
    return line;
  }
  // Every regular file below the scratch folder (but the program's own
  // state folder) with a digest of its contents, to see that nothing changed.
  std::map<std::string, std::size_t> Snapshot() const {
    std::map<std::string, std::size_t> files;
    for (const auto& e : fs::recursive_directory_iterator(root_)) {
      if (e.is_regular_file() && e.path().string().rfind(Path("state"), 0) != 0)
        files[e.path().string()] = std::hash<std::string>{}(ReadAbs(e.path().string()));
    }
    return files;
  }
  std::string set_;
};

// The erasure lists only what the program wrote: an old run log goes, the
// stray file stays.
TEST_F(CliDryRun, BackupListsTheScanAndTheErasureAndWritesNothing) {
  Write("arc/Backup 03-14-2024 10-20-30.LOG", "Start backup to /old/job.arc at 14.03.2024\r\n");
  const auto before = Snapshot();
  TCliRun r = Run({"backup", "--set", set_, "--dry-run"});
  ASSERT_EQ(r.exitCode, 0) << Show(r);
  std::vector<std::string> expected = {
      Expand("take\t{a_bytes}\t{a}"), Expand("take\t{b_bytes}\t{b}"),
      Expand("take\t{c_bytes}\t{c}"), Expand("erase\t{arc}/Backup 03-14-2024 10-20-30.LOG"),
      Expand("total\t3 files\t{all_bytes} bytes")};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(SortedLines(r.out), expected) << Show(r);
  EXPECT_TRUE(r.err.find("nothing was written") != std::string::npos) << Show(r);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(CliDryRun, BackupResetsNoArchiveAttribute) {
  ASSERT_EQ(Run({"backup", "--set", set_, "-q"}).exitCode, 0);
  Write("src/a.txt", "changed since");
  // A full run would reset the attribute of a.txt; its dry run must not.
  ASSERT_EQ(Run({"backup", "--set", set_, "--dry-run", "-q"}).exitCode, 0);
  TCliRun inc = Run({"backup", "--set", set_, "--mode", "incremental", "--dry-run", "-q"});
  ASSERT_EQ(inc.exitCode, 0) << Show(inc);
  EXPECT_EQ(SortedLines(inc.out),
            (std::vector<std::string>{Expand("erase\t{arc}/job.arc"),  // the last set
                                      Expand("take\t{a_bytes}\t{a}"),
                                      Expand("total\t1 files\t{a_bytes} bytes")}))
      << Show(inc);
}

// What the real run refuses before it writes, its dry run refuses alike:
// a target folder it would have to empty of its own sources, a password
// too short, an extension on the name of a split set.
TEST_F(CliDryRun, RefusesWhatTheRealRunRefuses) {
  struct Refused {
    std::map<std::string, std::string> keys;
    int code;
    const char* message;
  };
  const std::vector<Refused> cases = {
      {{{"EraseTargetDir", "1"}, {"BackupDestination", Path("src") + "/"}},
       1,
       "Cieľový adresár obsahuje zálohované súbory"},
      {{{"EncryptData", "1"}, {"EncryptKey", "short"}}, 14, "Heslo je krátke"},
      {{{"SpanDisks", "1"}}, 1, "bez koncovky"},
  };
  for (const Refused& c : cases) {
    const std::string set = MakeSet(c.keys, "refused.set");
    for (const bool dry : {false, true}) {
      std::vector<std::string> args = {"backup", "--set", set, "-q"};
      if (dry) args.push_back("--dry-run");
      TCliRun r = Run(args);
      EXPECT_EQ(r.exitCode, c.code) << c.message << (dry ? " (dry run)" : "") << Show(r);
      EXPECT_TRUE(r.err.find(c.message) != std::string::npos) << Show(r);
      EXPECT_TRUE(fs::exists(Path("src/a.txt")));
      EXPECT_TRUE(fs::exists(Path("arc/stray.txt")));
    }
  }
}

struct DryCase {
  const char* name;
  std::vector<std::string> options;
  std::vector<std::string> lines;  // expected, with {a} {b} {c} {out}
};
void PrintTo(const DryCase& c, std::ostream* os) { *os << c.name; }

class CliDryRunAfterBackup : public CliDryRun, public ::testing::WithParamInterface<DryCase> {};

TEST_P(CliDryRunAfterBackup, PrintsTheSelectionAndChangesNothing) {
  ASSERT_EQ(Run({"backup", "--set", set_, "-q"}).exitCode, 0);
  // An existing target, to be replaced; and a newer one, to be kept.
  Write("out" + Path("src/a.txt"), "older copy");
  const auto before = Snapshot();

  std::vector<std::string> args = GetParam().options;
  args.insert(args.end(), {"--set", set_, "--dry-run", "-q"});
  for (auto& a : args) a = Expand(a);
  TCliRun r = Run(args);
  ASSERT_EQ(r.exitCode, 0) << Show(r);
  std::vector<std::string> expected;
  for (const auto& l : GetParam().lines) expected.push_back(Expand(l));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(SortedLines(r.out), expected) << Show(r);
  EXPECT_EQ(Snapshot(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, CliDryRunAfterBackup,
    ::testing::Values(
        DryCase{"RestoreAll",
                {"restore", "--all", "--restore-to", "{out}"},
                {"replace\t{a}\t{out}{a}", "restore\t{b}\t{out}{b}", "restore\t{c}\t{out}{c}",
                 "total\t3 files\t{all_bytes} bytes"}},
        DryCase{
            "RestoreNewerAndNew",
            {"restore", "--include", "*.txt", "--restore-to", "{out}", "--restore-mode",
             "newer-and-new"},
            {"skip\t{a}\t{out}{a}", "restore\t{b}\t{out}{b}", "total\t1 files\t{b_bytes} bytes"}},
        DryCase{"RestoreFlat",
                {"restore", "--include", "*.bin", "--restore-to", "{out}", "--flat"},
                {"restore\t{c}\t{out}/c.bin", "total\t1 files\t{c_bytes} bytes"}},
        DryCase{"DeleteByExclude",
                {"delete", "--exclude", "*.bin"},
                {"keep\t{a}", "keep\t{b}", "remove\t{c}", "total\t2 kept\t1 removed"}},
        DryCase{"DeleteByInclude",
                {"delete", "--include", "{a}"},
                {"keep\t{a}", "remove\t{b}", "remove\t{c}", "total\t1 kept\t2 removed"}}),
    vx::test::TCaseName());

}  // namespace
}  // namespace vxtest
