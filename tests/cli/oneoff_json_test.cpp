// Runs without a set file (the engine's defaults plus the options), and the
// JSON lines of catalog and verify.
#include <sys/stat.h>
#include <sys/xattr.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <sstream>

#include "cli/cli_fixture.h"
#include "cli/json.h"
#include "cli/options.h"
#include "common/named_case.h"
#include "engine/vaultrex.h"
#include "platform/date_time.h"
#include "platform/file_system.h"
#include "support/utils.h"

namespace vxtest {
namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Without a set file each operation names what it misses; a set file or a
// job file supplies it.
INSTANTIATE_TEST_SUITE_P(
    WithoutSet, CliParse,
    ::testing::Values(
        TParseCase{"BackupNoInclude",
                   {"backup", "--destination", "/d", "--archive", "a"},
                   "needs --include"},
        TParseCase{"BackupNoDestination",
                   {"backup", "--include", "/x/* /S", "--archive", "a"},
                   "needs --destination"},
        TParseCase{"BackupNoArchive",
                   {"backup", "--include", "/x/*", "--destination", "/d"},
                   "needs --archive"},
        TParseCase{"BackupComplete",
                   {"backup", "--include", "/x/*", "--destination", "/d", "--archive", "a"},
                   ""},
        TParseCase{"RestoreNoSelection",
                   {"restore", "--destination", "/d", "--archive", "a"},
                   "needs --include or --all"},
        TParseCase{"RestoreAll", {"restore", "--all", "--destination", "/d", "--archive", "a"}, ""},
        TParseCase{"VerifyNoDestination", {"verify", "--archive", "a"}, "needs --destination"},
        TParseCase{"VerifyComplete", {"verify", "--destination", "/d", "--archive", "a"}, ""},
        TParseCase{"CatalogBare", {"catalog"}, "needs --destination and --archive"},
        TParseCase{"CatalogEmptyArchive",
                   {"catalog", "--destination", "/d", "--archive", ""},
                   "needs --archive"},
        TParseCase{"CommentComplete", {"comment", "--destination", "/d", "--archive", "a"}, ""},
        TParseCase{"DeleteNoSelection",
                   {"delete", "--destination", "/d", "--archive", "a"},
                   "needs --include or --exclude"},
        TParseCase{"DeleteByExclude",
                   {"delete", "--exclude", "*.tmp", "--destination", "/d", "--archive", "a"},
                   ""},
        TParseCase{"CatalogOfASetFile", {"catalog", "--set", "s"}, ""},
        TParseCase{"VerifyJsonOfAJob", {"verify", "--job", "j.sqt", "--json"}, ""},
        TParseCase{
            "BackupJson", {"backup", "--json", "--set", "s"}, "--json cannot be used with backup"},
        TParseCase{
            "JobAndSetFile", {"catalog", "--job", "j.sqt", "--set", "s"}, "cannot be combined"}),
    vx::test::TCaseName());

TEST(CliJson, PathsAreEscapedAndForeignBytesMarked) {
  struct Case {
    std::string bytes;
    std::string json;
    bool utf8;
  };
  const std::vector<Case> cases = {
      {"/home/eva/a.txt", "\"/home/eva/a.txt\"", true},
      {"/a \"q\" \\b", "\"/a \\\"q\\\" \\\\b\"", true},
      {"/a\tb\nc\x7f", "\"/a\\u0009b\\u000ac\\u007f\"", true},
      {"/\xc5\xbe"
       "aba",
       "\"/\xc5\xbe"
       "aba\"",
       true},                                                  // "ž": kept
      {"/\xf0\x9f\x98\x80", "\"/\xf0\x9f\x98\x80\"", true},    // four bytes
      {"/x\xe9y", "\"/x\\u00e9y\"", false},                    // Latin-1 byte
      {"/\xc0\xaf", "\"/\\u00c0\\u00af\"", false},             // overlong '/'
      {"/\xed\xa0\x80", "\"/\\u00ed\\u00a0\\u0080\"", false},  // surrogate
      {"/\xe2\x82", "\"/\\u00e2\\u0082\"", false},             // cut short
  };
  for (const auto& c : cases) {
    EXPECT_EQ(vx::JsonString(c.bytes), c.json) << c.json;
    EXPECT_EQ(vx::JsonIsPlainUtf8(c.bytes), c.utf8) << c.json;
  }
  vx::TDirRecord r;
  r.path = "/x\xe9";
  EXPECT_TRUE(Has(vx::FormatCatalogJson(r), "\"path_hex\":\"2f78e9\""));
  r.path = "/x";
  EXPECT_FALSE(Has(vx::FormatCatalogJson(r), "path_hex"));
}

class CliOneOff : public CliFixture {
 protected:
  // The options that stand for a set file: src/ recursively into arc/docs.
  std::vector<std::string> Where() const {
    return {"--destination", Path("arc"), "--archive", "docs"};
  }
  TCliRun RunWith(std::vector<std::string> args) const {
    for (const auto& a : Where()) args.push_back(a);
    return Run(args);
  }
};

TEST_F(CliOneOff, BackupCatalogVerifyRestoreWithoutASetFile) {
  fs::create_directories(root_ / "arc");
  TCliRun b = RunWith({"backup", "--include", Path("src") + "/* /S", "--quiet"});
  ASSERT_EQ(b.exitCode, 0) << Show(b);
  EXPECT_TRUE(fs::exists(Path("arc/docs"))) << Show(b);
  // The engine's defaults: no log is kept unless one is asked for.
  EXPECT_FALSE(Has(b.err, "log:")) << Show(b);

  TCliRun c = RunWith({"catalog"});
  ASSERT_EQ(c.exitCode, 0) << Show(c);
  EXPECT_EQ(Lines(c.out).size(), 3u) << c.out;

  TCliRun r = RunWith({"restore", "--all", "--restore-to", Path("out"), "--quiet"});
  ASSERT_EQ(r.exitCode, 0) << Show(r);
  EXPECT_EQ(Read("out" + Path("src/sub/b.txt")), Read("src/sub/b.txt"));

  TCliRun missing = Run({"backup", "--include", Path("src") + "/*", "--archive", "docs"});
  EXPECT_EQ(missing.exitCode, 64) << Show(missing);
  EXPECT_TRUE(Has(missing.err, "needs --destination")) << Show(missing);
  EXPECT_TRUE(Has(missing.err, "usage: vaultix-cli")) << Show(missing);
}

TEST_F(CliOneOff, CatalogJsonCarriesTheStoredFields) {
  ::chmod(Path("src/a.txt").c_str(), 0444);
  fs::create_directories(root_ / "arc");
  ASSERT_EQ(RunWith({"backup", "--include", Path("src") + "/* /S", "--quiet"}).exitCode, 0);
  TCliRun c = RunWith({"catalog", "--json"});
  ASSERT_EQ(c.exitCode, 0) << Show(c);
  const auto lines = Lines(c.out);
  ASSERT_EQ(lines.size(), 3u) << c.out;
  for (const auto& line : lines) {
    const auto at = line.find("\"path\":\"");
    ASSERT_NE(at, std::string::npos) << line;
    const std::string path = line.substr(at + 8, line.size() - at - 8 - 2);
    char head[128];
    int y, mo, d, h, mi, s;
    vx::DecodeDateTime(vx::DosToDateTime(vx::GetFileDate(path)), y, mo, d, h, mi, s);
    std::snprintf(head, sizeof head, "{\"size\":%lld,\"crc\":\"%08X\",\"attributes\":",
                  static_cast<long long>(vx::GetFileSize64(path)),
                  static_cast<unsigned>(vx::CalcFileCRC(path)));
    EXPECT_EQ(line.rfind(head, 0), 0u) << line;
    char when[40];
    std::snprintf(when, sizeof when, "\"time\":\"%04d-%02d-%02dT%02d:%02d:%02d\"", y, mo, d, h, mi,
                  s);
    EXPECT_TRUE(Has(line, when)) << line;
    const bool readOnly = path == Path("src/a.txt");
    const auto attrAt = line.find("\"attributes\":") + 13;
    const unsigned long attr = std::stoul(line.substr(attrAt));
    EXPECT_EQ((attr & vx::faReadOnly) != 0, readOnly) << line;
  }
}

TEST_F(CliOneOff, VerifyJsonGivesEachOutcomeAndASummary) {
  fs::create_directories(root_ / "arc");
  ASSERT_EQ(RunWith({"backup", "--include", Path("src") + "/* /S", "--quiet"}).exitCode, 0);
  TCliRun same = RunWith({"verify", "--json", "--quiet"});
  ASSERT_EQ(same.exitCode, 0) << Show(same);
  auto lines = Lines(same.out);
  ASSERT_EQ(lines.size(), 4u) << same.out;
  EXPECT_EQ(lines[3],
            "{\"summary\":true,\"files\":3,\"ok\":3,\"missing\":0,\"different\":0,"
            "\"failed\":0,\"mode_differs\":0,\"owner_differs\":0,\"link_differs\":0,"
            "\"time_differs\":0,\"exit\":0}");

  Write("src/sub/b.txt", "changed");
  fs::remove(Path("src/a.txt"));
  // Times of their own: the change shows whatever the clock's grain.
  const auto then = fs::file_time_type(std::chrono::hours(24 * 365 * 30));
  fs::last_write_time(Path("src/sub/b.txt"), then);
  fs::last_write_time(Path("src"), then);
  TCliRun changed = RunWith({"verify", "--json", "--quiet"});
  EXPECT_EQ(changed.exitCode, 98) << Show(changed);
  lines = Lines(changed.out);
  ASSERT_EQ(lines.size(), 6u) << changed.out;
  // The content's outcome of each file, then each metadata difference.
  const std::set<std::string> expected = {
      "{\"path\":\"" + Path("src/a.txt") + "\",\"result\":\"missing\"}",
      "{\"path\":\"" + Path("src/sub/b.txt") + "\",\"result\":\"different\"}",
      "{\"path\":\"" + Path("src/sub/c.bin") + "\",\"result\":\"ok\"}",
      "{\"path\":\"" + Path("src/sub/b.txt") + "\",\"metadata\":\"time\"}",
      "{\"path\":\"" + Path("src") + "\",\"metadata\":\"time\"}"};
  EXPECT_EQ(std::set<std::string>(lines.begin(), lines.begin() + 5), expected);
  EXPECT_EQ(lines[5],
            "{\"summary\":true,\"files\":3,\"ok\":1,\"missing\":1,\"different\":1,"
            "\"failed\":0,\"mode_differs\":0,\"owner_differs\":0,\"link_differs\":0,"
            "\"time_differs\":2,\"exit\":98}");
}

// The metadata table's options as the command line gives them.
struct MetaOptionCase {
  const char* name;
  std::vector<std::string> backup;   // options after "backup"
  std::vector<std::string> restore;  // options after "restore"
  bool catalogAll;                   // catalog --all
  std::size_t catalogLines;
  bool tableListed;  // the table's entry is one of the catalog's lines
  bool linkIsLink;   // src/l comes back as a symbolic link
  bool xattrBack;    // src/a.txt comes back with user.note
};
void PrintTo(const MetaOptionCase& c, std::ostream* os) { *os << c.name; }

class CliMetadataOptions : public CliOneOff,
                           public ::testing::WithParamInterface<MetaOptionCase> {};

TEST_P(CliMetadataOptions, DecideWhatIsStoredListedAndApplied) {
  const MetaOptionCase& c = GetParam();
  fs::create_directories(root_ / "arc");
  fs::create_symlink("a.txt", Path("src/l"));
  ASSERT_EQ(::setxattr(Path("src/a.txt").c_str(), "user.note", "n", 1, 0), 0);
  std::vector<std::string> backup = {"backup", "--include", Path("src") + "/* /S", "--quiet"};
  backup.insert(backup.end(), c.backup.begin(), c.backup.end());
  TCliRun b = RunWith(backup);
  ASSERT_EQ(b.exitCode, 0) << Show(b);

  TCliRun cat = RunWith(c.catalogAll ? std::vector<std::string>{"catalog", "--all"}
                                     : std::vector<std::string>{"catalog"});
  ASSERT_EQ(cat.exitCode, 0) << Show(cat);
  EXPECT_EQ(Lines(cat.out).size(), c.catalogLines) << cat.out;
  EXPECT_EQ(Has(cat.out, "/.vaultix-metadata/linux.meta"), c.tableListed) << cat.out;

  std::vector<std::string> restore = {"restore", "--all", "--restore-to", Path("out"), "--quiet"};
  restore.insert(restore.end(), c.restore.begin(), c.restore.end());
  TCliRun r = RunWith(restore);
  ASSERT_EQ(r.exitCode, 0) << Show(r);
  const std::string back = Path("out") + Path("src");
  EXPECT_EQ(fs::is_symlink(back + "/l"), c.linkIsLink);
  char value[8];
  EXPECT_EQ(::getxattr((back + "/a.txt").c_str(), "user.note", value, sizeof value) == 1,
            c.xattrBack);
}

INSTANTIATE_TEST_SUITE_P(
    Options, CliMetadataOptions,
    ::testing::Values(
        MetaOptionCase{"Default", {}, {}, false, 3, false, true, true},
        MetaOptionCase{"CatalogAll", {}, {}, true, 4, true, true, true},
        MetaOptionCase{"NoMetadata", {"--no-metadata"}, {}, true, 4, false, false, false},
        MetaOptionCase{"FollowLinks", {"--follow-links"}, {}, false, 4, false, false, true},
        MetaOptionCase{"BackupWithoutXattrs", {"--no-xattrs"}, {}, false, 3, false, true, false},
        MetaOptionCase{"RestoreWithoutXattrs", {}, {"--no-xattrs"}, false, 3, false, true, false}),
    vx::test::TCaseName());

}  // namespace
}  // namespace vxtest
