// Linux metadata round trips: modes, owners, exact times, links as links,
// hard links, empty folders, extended attributes and special files come
// back as they were; what cannot be applied warns and ends the run with 16;
// a hostile table is refused or neutralised; verify reports each kind of
// difference.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "archive/meta_table.h"
#include "common/engine_fixture.h"
#include "common/named_case.h"
#include "engine/types.h"
#include "engine/vaultrex.h"

namespace vx {
namespace {

using namespace vx::test;
namespace fs = std::filesystem;

constexpr std::uint32_t kNobody = 65534;

// What stat and the attribute calls say of one item.  Hard links name the
// first (by sorted path) name of their inode, by its file name only, so
// that a flat restore compares too.
struct TItem {
  char type = '?';
  unsigned mode = 0;
  unsigned uid = 0;
  unsigned gid = 0;
  std::int64_t mtimeNs = 0;
  std::string link;
  std::string sameAs;
  std::string xattrs;
  std::uint64_t rdev = 0;
  bool operator==(const TItem&) const = default;
};

std::string Show(const TItem& i) {
  std::ostringstream s;
  s << i.type << " mode " << std::oct << i.mode << std::dec << " owner " << i.uid << ":" << i.gid
    << " mtime " << i.mtimeNs << " link '" << i.link << "' same-as '" << i.sameAs << "' xattrs '"
    << i.xattrs << "' rdev " << i.rdev;
  return s.str();
}

char TypeOf(mode_t m) {
  if (S_ISREG(m)) return 'f';
  if (S_ISDIR(m)) return 'd';
  if (S_ISLNK(m)) return 'l';
  if (S_ISFIFO(m)) return 'p';
  if (S_ISCHR(m)) return 'c';
  return '?';
}

std::string Xattrs(const std::string& path) {
  char names[4096];
  const ssize_t n = ::llistxattr(path.c_str(), names, sizeof names);
  std::vector<std::string> list;
  for (ssize_t at = 0; at < n; at += static_cast<ssize_t>(std::strlen(names + at)) + 1) {
    char value[4096];
    const ssize_t v = ::lgetxattr(path.c_str(), names + at, value, sizeof value);
    std::string text = std::string(names + at) + "=";
    for (ssize_t k = 0; k < v; ++k)
      text += std::to_string(static_cast<unsigned char>(value[k])) + ".";
    list.push_back(text);
  }
  std::sort(list.begin(), list.end());
  std::string all;
  for (const std::string& x : list) all += x + ";";
  return all;
}

// Every item below root ("" is root itself), never following a link.
std::map<std::string, TItem> Snapshot(const std::string& root) {
  std::map<std::string, TItem> items;
  std::map<std::pair<dev_t, ino_t>, std::string> first;
  std::vector<std::pair<std::string, std::pair<dev_t, ino_t>>> linked;
  std::function<void(const std::string&)> walk = [&](const std::string& rel) {
    const std::string path = rel.empty() ? root : root + "/" + rel;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return;
    TItem& item = items[rel];
    item.type = TypeOf(st.st_mode);
    item.mode = st.st_mode & 07777;
    item.uid = st.st_uid;
    item.gid = st.st_gid;
    item.mtimeNs = st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec;
    item.rdev = S_ISCHR(st.st_mode) ? st.st_rdev : 0;
    if (S_ISLNK(st.st_mode)) {
      item.link = fs::read_symlink(path).string();
    } else {
      item.xattrs = Xattrs(path);
    }
    if (S_ISREG(st.st_mode) && st.st_nlink > 1) linked.push_back({rel, {st.st_dev, st.st_ino}});
    if (S_ISDIR(st.st_mode)) {
      std::set<std::string> names;
      for (const auto& e : fs::directory_iterator(path)) names.insert(e.path().filename());
      for (const std::string& name : names) walk(rel.empty() ? name : rel + "/" + name);
    }
  };
  walk("");
  std::sort(linked.begin(), linked.end());
  for (const auto& [rel, key] : linked) {
    const std::string& leader = first.emplace(key, rel).first->second;
    items[rel].sameAs = fs::path(leader).filename();
  }
  return items;
}

void SetTime(const std::string& path, std::int64_t ns) {
  const timespec t[2] = {{0, UTIME_OMIT}, {ns / 1'000'000'000, ns % 1'000'000'000}};
  ::utimensat(AT_FDCWD, path.c_str(), t, AT_SYMLINK_NOFOLLOW);
}

// A POSIX access ACL as the kernel stores it: owner rwx, user 4321 r-x,
// group r-x, mask r-x, others none.
std::string AccessAcl() {
  std::string acl;
  const auto put = [&acl](std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) acl.push_back(static_cast<char>(v >> (8 * i)));
  };
  put(2, 4);
  const std::uint32_t entries[][3] = {{0x01, 7, 0xFFFFFFFF},
                                      {0x02, 5, 4321},
                                      {0x04, 5, 0xFFFFFFFF},
                                      {0x10, 5, 0xFFFFFFFF},
                                      {0x20, 0, 0xFFFFFFFF}};
  for (const auto& e : entries) {
    put(e[0], 2);
    put(e[1], 2);
    put(e[2], 4);
  }
  return acl;
}

// Every kind of item, with times to the nanosecond set last (children
// before their folder).  Items only root can make are made as root.
void MakeTree(const std::string& root, bool asRoot) {
  const auto at = [&root](const std::string& rel) { return root + "/" + rel; };
  fs::create_directories(at("ssh"));
  fs::permissions(at("ssh"), fs::perms(0700));
  WriteFile(at("ssh/id"), "private key");
  ::chmod(at("ssh/id").c_str(), 0600);
  WriteFile(at("ssh/id.pub"), "public key");
  ::chmod(at("ssh/id.pub").c_str(), 0644);
  fs::create_directories(at("git/hooks"));
  WriteFile(at("git/hooks/pre-commit"), "#!/bin/sh\nexit 0\n");
  ::chmod(at("git/hooks/pre-commit").c_str(), 0755);
  WriteFile(at("git/HEAD"), "ref: refs/heads/main\n");
  fs::create_symlink("HEAD", at("git/head-link"));
  fs::create_symlink("no/such/file", at("git/dangling"));
  fs::create_symlink("hooks", at("git/hooks-link"));
  fs::create_directories(at("empty/inner"));
  ::chmod(at("empty/inner").c_str(), 0750);
  ::chmod(at("empty").c_str(), 0705);
  const std::string acl = AccessAcl();
  ::setxattr(at("empty").c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0);
  WriteFile(at("data.txt"), "data");
  ::chmod(at("data.txt").c_str(), 0640);
  ::setxattr(at("data.txt").c_str(), "user.comment", "ahoj", 4, 0);
  fs::create_hard_link(at("data.txt"), at("data-second.txt"));
  ::mkfifo(at("fifo").c_str(), 0620);
  if (asRoot) {
    WriteFile(at("suid"), "run me");
    ::chmod(at("suid").c_str(), 04755);
    WriteFile(at("other"), "not mine");
    ASSERT_EQ(::chown(at("other").c_str(), 4321, 4322), 0);
    ::chmod(at("other").c_str(), 0640);
    ::mknod(at("null-copy").c_str(), S_IFCHR | 0666, makedev(1, 3));
  }
  std::int64_t ns = 1'600'000'000'000'000'001;
  std::vector<std::string> all;
  for (const auto& [rel, item] : Snapshot(root)) all.push_back(rel);
  // Deepest first: a folder's time is set after its entries.
  std::sort(all.begin(), all.end(), std::greater<>());
  for (const std::string& rel : all) SetTime(rel.empty() ? root : at(rel), ns += 1'000'000'123);
}

// Runs body in a child process that has become the ordinary user `nobody`
// (the folders given are handed to it first); gives what body gave, or why
// it could not run.
std::string AsOrdinaryUser(const std::vector<std::string>& folders,
                           const std::function<std::string()>& body) {
  for (const std::string& p : folders)
    if (::chown(p.c_str(), kNobody, kNobody) != 0) return "cannot hand over " + p;
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return "no pipe";
  const pid_t child = ::fork();
  if (child < 0) return "no child process";
  if (child == 0) {
    ::close(pipeFds[0]);
    std::string result;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
      result = "could not become the ordinary user";
    else
      result = body();
    const ssize_t n = ::write(pipeFds[1], result.data(), result.size());
    ::_exit(n == static_cast<ssize_t>(result.size()) ? 0 : 1);
  }
  ::close(pipeFds[1]);
  std::string result;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
    result.append(buffer, static_cast<std::size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) result += "\nthe child process failed";
  return result;
}

enum class TWhere { InPlace, Redirected, Flat };

struct RoundTripCase {
  const char* name;
  TWhere where;
  bool asRoot;
};
void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }

class MetadataRoundTrip : public TEngineTest, public ::testing::WithParamInterface<RoundTripCase> {
 protected:
  // The whole round trip; gives what went wrong ("" when nothing), so that
  // it runs the same in a child process of another user.
  std::string Run(bool asRoot) {
    const RoundTripCase& c = GetParam();
    std::ostringstream failures;
    MakeTree(src.path(), asRoot);
    const std::map<std::string, TItem> before = Snapshot(src.path());
    engine.AddToIncludes(src / "*");
    engine.RecurseSubDir = true;
    if (const int code = engine.Backup(); code != 0)
      failures << "backup ended with " << code << "\n";

    std::string top = src.path();
    engine.IncludeNames = {"*"};
    if (c.where == TWhere::InPlace) {
      for (const auto& e : fs::directory_iterator(src.path())) fs::remove_all(e.path());
    } else {
      engine.RedirectRestore = true;
      engine.RestoreTo = dir / "out";
      engine.FlatRestore = c.where == TWhere::Flat;
      top = c.where == TWhere::Flat ? dir / "out" : dir / ("out" + src.path());
    }
    UseLog(dir / "restore.log");
    const int restored = engine.Restore();

    // What cannot be made as an ordinary user: the FIFO, with a warning.
    std::map<std::string, TItem> expected;
    for (const auto& [rel, item] : before) {
      if (c.where == TWhere::Flat && item.type == 'd') continue;
      if (!asRoot && item.type == 'p') continue;
      expected[c.where == TWhere::Flat ? fs::path(rel).filename().string() : rel] = item;
    }
    const std::map<std::string, TItem> after = Snapshot(top);
    for (const auto& [rel, item] : expected) {
      const auto found = after.find(rel);
      if (found == after.end())
        failures << "missing: " << rel << "\n";
      else if (!(found->second == item))
        failures << rel << ": " << Show(found->second) << " instead of " << Show(item) << "\n";
    }
    if (c.where != TWhere::Flat) {
      for (const auto& [rel, item] : after)
        if (!expected.contains(rel)) failures << "not in the original: " << rel << "\n";
    }
    const int wantCode = asRoot ? 0 : kPartialCode;
    if (restored != wantCode) failures << "restore ended with " << restored << "\n";
    if (!asRoot) {
      const std::string fifo = (c.where == TWhere::Flat ? top + "/fifo" : top + "/fifo");
      const std::string line =
          "Upozornenie :" + fifo +
          " - neobnovené: špeciálny súbor: vytvoriť ho môže len správca (root)";
      if (!LogHas(line)) failures << "no warning line: " << line << "\n";
    }
    if (asRoot && c.where == TWhere::InPlace) {
      engine.LogFileMode = LFM_NoLog;
      if (const int code = engine.Verify(); code != 0)
        failures << "verify ended with " << code << "\n";
    }
    return failures.str();
  }
};

TEST_P(MetadataRoundTrip, RestoredItemsEqualTheOriginals) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root (to make devices, and to become another user)";
  if (GetParam().asRoot)
    EXPECT_EQ(Run(true), "");
  else
    EXPECT_EQ(AsOrdinaryUser({dir.path(), src.path(), state.path()}, [this] { return Run(false); }),
              "");
}

INSTANTIATE_TEST_SUITE_P(
    Restores, MetadataRoundTrip,
    ::testing::Values(RoundTripCase{"InPlaceAsRoot", TWhere::InPlace, true},
                      RoundTripCase{"RedirectedAsRoot", TWhere::Redirected, true},
                      RoundTripCase{"FlatAsRoot", TWhere::Flat, true},
                      RoundTripCase{"InPlaceAsUser", TWhere::InPlace, false},
                      RoundTripCase{"RedirectedAsUser", TWhere::Redirected, false},
                      RoundTripCase{"FlatAsUser", TWhere::Flat, false}),
    vx::test::TCaseName());

}  // namespace
}  // namespace vx

namespace vx {
namespace {

// A set written by hand: files and, last, a metadata table.
struct HostileCase {
  const char* name;
  bool asRoot;
  // The table for a set of the files "/x/f" and "/x/g" (indices 0 and 1).
  std::function<TMetaTable()> table;
  // What the restore folder holds before the restore (relative to it).
  std::function<void(const std::string& out, const std::string& outside)> before;
  int code;             // the restore's
  const char* warning;  // the log line after "Upozornenie :" (+ out when it starts with "/")
  // What must hold afterwards ("" when it does).
  std::function<std::string(const std::string& out, const std::string& outside)> check;
};
void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

TMetaEntry FileEntry(std::uint32_t index, std::uint16_t mode, std::uint32_t uid) {
  TMetaEntry e;
  e.kind = TMetaKind::File;
  e.index = index;
  e.mode = mode;
  e.uid = uid;
  e.gid = uid;
  e.mtimeNs = 1'000'000'000'000'000'000;
  return e;
}

unsigned ModeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

class MetadataHostile : public TEngineTest, public ::testing::WithParamInterface<HostileCase> {
 protected:
  std::string Run() {
    const HostileCase& c = GetParam();
    const std::string out = dir / "out/x";
    const std::string outside = dir / "outside";
    WriteFile(outside + "/secret", "keep");
    c.before(out, outside);
    RestoreEverythingTo();
    UseLog(dir / "restore.log");
    std::ostringstream failures;
    if (const int code = engine.Restore(); code != c.code)
      failures << "restore ended with " << code << "\n";
    if (c.warning != nullptr) {
      const std::string line =
          std::string("Upozornenie :") + (c.warning[0] == '/' ? out : "") + c.warning;
      if (!LogHas(line)) failures << "no log line: " << line << "\n";
    }
    if (ReadFile(outside + "/secret") != "keep") failures << "a file outside was changed\n";
    failures << c.check(out, outside);
    return failures.str();
  }
};

TEST_P(MetadataHostile, IsRefusedOrNeutralisedWithAWarning) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root (to become another user)";
  const HostileCase& c = GetParam();
  const std::vector<std::uint8_t> table = EncodeMetaTable(c.table());
  WriteArchive(
      Archive(),
      {{"/x/f", "f"}, {"/x/g", "g"}, {kMetaTablePath, std::string(table.begin(), table.end())}});
  if (c.asRoot)
    EXPECT_EQ(Run(), "");
  else
    EXPECT_EQ(AsOrdinaryUser({dir.path(), state.path(), Archive()}, [this] { return Run(); }), "");
}

const auto kNothingBefore = [](const std::string&, const std::string&) {};

INSTANTIATE_TEST_SUITE_P(
    Tables, MetadataHostile,
    ::testing::Values(
        HostileCase{"LinkLeadingOutside", true,
                    [] {
                      TMetaTable t;
                      TMetaEntry link = FileEntry(0, 0777, 0);
                      link.kind = TMetaKind::Symlink;
                      link.path = "/x/escape";
                      link.target = "../../outside";
                      t.entries = {link};
                      return t;
                    },
                    kNothingBefore, kPartialCode,
                    "/escape - neobnovené: symbolický odkaz: odkaz vedie mimo cieľového priečinka",
                    [](const std::string& out, const std::string&) {
                      return fs::symlink_status(out + "/escape").type() == fs::file_type::not_found
                                 ? ""
                                 : "the link was made\n";
                    }},
        HostileCase{"AbsurdOwner", true,
                    [] {
                      TMetaTable t;
                      t.entries = {FileEntry(0, 0644, 0xFFFFFFFF)};
                      return t;
                    },
                    kNothingBefore, kPartialCode, "/f - neobnovené: vlastník: neplatný vlastník",
                    [](const std::string& out, const std::string&) {
                      struct stat st {};
                      ::lstat((out + "/f").c_str(), &st);
                      return st.st_uid == 0 && (st.st_mode & 07777) == 0644
                                 ? std::string()
                                 : "owner or mode not as expected\n";
                    }},
        HostileCase{"SetuidOnAFileOfAnotherUser", false,
                    [] {
                      TMetaTable t;
                      t.entries = {FileEntry(0, 04755, 4321), FileEntry(1, 02755, kNobody)};
                      return t;
                    },
                    kNothingBefore, kPartialCode,
                    "/f - neobnovené: prístupové práva: bity setuid/setgid vynechané, súbor "
                    "patril inému používateľovi",
                    [](const std::string& out, const std::string&) {
                      std::string bad;
                      if (ModeOf(out + "/f") != 0755) bad += "f keeps a set-id bit\n";
                      if (ModeOf(out + "/g") != 02755) bad += "g lost its own set-id bit\n";
                      return bad;
                    }},
        HostileCase{"IndexOutsideTheDirectory", true,
                    [] {
                      TMetaTable t;
                      t.entries = {FileEntry(0, 0644, 0), FileEntry(2, 0644, 0)};
                      return t;
                    },
                    kNothingBefore, kPartialCode,
                    "tabuľka metadát zálohy je poškodená, metadáta sa neobnovia: directory index "
                    "outside the directory",
                    [](const std::string& out, const std::string&) {
                      // Nothing of it applied: the files stay private.
                      return ModeOf(out + "/f") == 0600 ? "" : "f is not private\n";
                    }},
        HostileCase{"LinksAtTheTargetsLeadingOutside", true,
                    [] {
                      TMetaTable t;
                      TMetaEntry link = FileEntry(0, 0777, 0);
                      link.kind = TMetaKind::Symlink;
                      link.path = "/x/l";
                      link.target = "f";
                      TMetaEntry special = FileEntry(0, 0600, 0);
                      special.kind = TMetaKind::Socket;
                      special.path = "/x/s";
                      t.entries = {FileEntry(0, 0640, 0), link, special};
                      return t;
                    },
                    [](const std::string& out, const std::string& outside) {
                      fs::create_directories(out);
                      fs::create_symlink(outside + "/secret", out + "/f");
                      fs::create_symlink(outside + "/secret", out + "/l");
                      fs::create_symlink(outside + "/secret", out + "/s");
                      ::chmod((outside + "/secret").c_str(), 0644);
                    },
                    0, nullptr,
                    [](const std::string& out, const std::string& outside) {
                      std::string bad;
                      if (ModeOf(out + "/f") != 0640 ||
                          !fs::is_regular_file(fs::symlink_status(out + "/f")))
                        bad += "f is not the restored file\n";
                      if (fs::read_symlink(out + "/l") != "f") bad += "l is not the stored link\n";
                      if (!fs::is_socket(fs::symlink_status(out + "/s"))) bad += "s is no socket\n";
                      if (ModeOf(outside + "/secret") != 0644)
                        bad += "the outside file's mode changed\n";
                      return bad;
                    }}),
    vx::test::TCaseName());

}  // namespace
}  // namespace vx

namespace vx {
namespace {

struct VerifyCase {
  const char* name;
  std::function<void(const std::string& src)> change;
  std::vector<std::pair<std::string, TVaultrex::TMetaDifference>> expected;  // paths below src
};
void PrintTo(const VerifyCase& c, std::ostream* os) { *os << c.name; }

class MetadataVerify : public TEngineTest, public ::testing::WithParamInterface<VerifyCase> {};

// Each kind of difference is reported once, for the item that has it.
TEST_P(MetadataVerify, ReportsEachKindOfDifference) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root (to give a file away)";
  const VerifyCase& c = GetParam();
  WriteFile(src / "f", "f");
  ::chmod((src / "f").c_str(), 0644);
  fs::create_symlink("f", src / "l");
  for (const std::string& p : {src / "f", src / "l", src.path()})
    SetTime(p, 1'500'000'000'000'000'007);
  engine.AddToIncludes(src / "*");
  ASSERT_EQ(engine.Backup(), 0);
  c.change(src.path());
  std::vector<std::pair<std::string, TVaultrex::TMetaDifference>> reported;
  engine.OnMetadataDiffers = [&](const std::string& path, TVaultrex::TMetaDifference what) {
    reported.emplace_back(path, what);
  };
  EXPECT_EQ(engine.Verify(), c.expected.empty() ? 0 : 98);
  std::vector<std::pair<std::string, TVaultrex::TMetaDifference>> expected;
  for (const auto& [rel, what] : c.expected) expected.emplace_back(src / rel, what);
  EXPECT_EQ(reported, expected);
}

using TWhat = TVaultrex::TMetaDifference;
INSTANTIATE_TEST_SUITE_P(
    Kinds, MetadataVerify,
    ::testing::Values(VerifyCase{"Nothing", [](const std::string&) {}, {}},
                      VerifyCase{"Mode",
                                 [](const std::string& s) { ::chmod((s + "/f").c_str(), 0600); },
                                 {{"f", TWhat::Mode}}},
                      VerifyCase{"Owner",
                                 [](const std::string& s) {
                                   if (::lchown((s + "/f").c_str(), 4321, 4321) != 0) std::abort();
                                 },
                                 {{"f", TWhat::Owner}}},
                      VerifyCase{"LinkText",
                                 [](const std::string& s) {
                                   fs::remove(s + "/l");
                                   fs::create_symlink("elsewhere", s + "/l");
                                   SetTime(s + "/l", 1'500'000'000'000'000'007);
                                   SetTime(s, 1'500'000'000'000'000'007);
                                 },
                                 {{"l", TWhat::Link}}},
                      VerifyCase{"Time",
                                 [](const std::string& s) {
                                   SetTime(s + "/f", 1'500'000'000'000'000'008);
                                 },
                                 {{"f", TWhat::Time}}}),
    vx::test::TCaseName());

// A restored file is never readable by another user, not even while it is
// written: every file the restore holds open below its folder is private.
class MetadataRestore : public TEngineTest {};

TEST_F(MetadataRestore, FilesArePrivateWhileTheyAreWritten) {
  WriteFile(src / "big.bin", NoiseBytes(100 * kBlockSize, 5));
  ::chmod((src / "big.bin").c_str(), 0644);
  engine.AddToIncludes(src / "big.bin");
  ASSERT_EQ(engine.Backup(), 0);
  RestoreEverythingTo();
  engine.BackupThreads = 1;
  engine.UseExtStatistic = true;
  const std::string out = dir / "out";
  std::vector<unsigned> modes;  // of the restored files open at each report
  engine.OnExtStatistic = [&](const TExtBackupStatistic&, bool&) {
    for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      const std::string target = fs::read_symlink(e.path(), ec).string();
      if (ec || target.rfind(out, 0) != 0) continue;
      struct stat st {};
      if (::fstat(std::stoi(e.path().filename().string()), &st) == 0 && S_ISREG(st.st_mode))
        modes.push_back(st.st_mode & 07777);
    }
  };
  ASSERT_EQ(engine.Restore(), 0);
  ASSERT_FALSE(modes.empty()) << "no report came while the file was written";
  for (const unsigned mode : modes) EXPECT_EQ(mode & 077, 0u) << std::oct << mode;
  struct stat st {};
  ASSERT_EQ(::stat((out + src.path() + "/big.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);  // its own mode once whole
}

struct PlainSetCase {
  const char* name;
  // Writes the set of one file "<src>/a.txt" holding "a".
  std::function<void(TEngineTest& t, TVaultrex& engine, const std::string& src)> write;
};
void PrintTo(const PlainSetCase& c, std::ostream* os) { *os << c.name; }

class SetsWithoutTheTable : public TEngineTest,
                            public ::testing::WithParamInterface<PlainSetCase> {};

// Sets written before the table existed, or without it, restore as they
// always did: the file gets the mode a new file gets, and nothing else is
// made.
TEST_P(SetsWithoutTheTable, RestoreAsBefore) {
  GetParam().write(*this, engine, src.path());
  RestoreEverythingTo();
  ASSERT_EQ(engine.Restore(), 0);
  const std::string folder = dir / ("out" + src.path());
  EXPECT_EQ(ReadFile(folder + "/a.txt"), "a");
  struct stat st {};
  ASSERT_EQ(::stat((folder + "/a.txt").c_str(), &st), 0);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(st.st_mode & 07777, 0666u & ~mask);
  EXPECT_FALSE(fs::exists(dir / "out/.vaultix-metadata"));
  EXPECT_EQ(std::vector<std::string>{"out"}, [&] {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path()))
      if (e.is_directory()) names.push_back(e.path().filename());
    return names;
  }());
}

INSTANTIATE_TEST_SUITE_P(
    Sets, SetsWithoutTheTable,
    ::testing::Values(
        PlainSetCase{"WrittenByAnEarlierVersion",
                     [](TEngineTest&, TVaultrex& e, const std::string& s) {
                       WriteArchive(e.BackupDestination + "/set.arc", {{s + "/a.txt", "a"}});
                     }},
        PlainSetCase{"WrittenWithoutTheTable",
                     [](TEngineTest&, TVaultrex& e, const std::string& s) {
                       WriteFile(s + "/a.txt", "a");
                       ::chmod((s + "/a.txt").c_str(), 0600);
                       e.AddToIncludes(s + "/a.txt");
                       e.StoreMetadata = false;
                       if (e.Backup() != 0) std::abort();
                       e.StoreMetadata = true;
                     }}),
    vx::test::TCaseName());

}  // namespace
}  // namespace vx
