#include "platform/archive_bits.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <thread>
#include <vector>

#include "common/error_of.h"
#include "common/files.h"
#include "common/temp_folder.h"
#include "platform/paths.h"

namespace vx {
namespace {

using test::TScopedEnv;
using test::TTempFolder;
using test::WriteFile;

// Waits until the file system clock has moved past `ctimeNs`, so that the
// next change of a file shows in its change time (the kernel stamps files
// with a coarse clock).
void PassClockTick(const std::string& folder, std::int64_t ctimeNs) {
  const std::string probe = folder + "/.tick";
  for (;;) {
    WriteFile(probe, "x");
    struct stat st {};
    ::stat(probe.c_str(), &st);
    ::unlink(probe.c_str());
    if (static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec > ctimeNs)
      return;
    ::usleep(1000);
  }
}

class ArchiveBitStoreTest : public ::testing::Test {
 protected:
  TTempFolder dir;
  TArchiveBitStore store{dir / "state/bits.sqlite"};
  std::string file = dir / "doc.txt";

  void SetUp() override { WriteFile(file, "content"); }
  TFileStamp Stamp(const std::string& path) {
    TFileStamp s;
    EXPECT_TRUE(GetFileStamp(path, s));
    return s;
  }
};

TEST_F(ArchiveBitStoreTest, NewFilesAreSetAndClearedOnesNot) {
  EXPECT_TRUE(DirectoryExists(dir / "state"));  // created with the store
  EXPECT_TRUE(store.IsSet(file));
  store.Clear(file);
  EXPECT_FALSE(store.IsSet(file));
  EXPECT_FALSE(store.IsSet(dir.path() + "/./state/../doc.txt"));  // same absolute path
  store.Set(file);
  EXPECT_TRUE(store.IsSet(file));
  EXPECT_TRUE(store.IsSet(dir / "missing"));
}

// Every spelling of a path names one record; names made of dots are names
// like any other.
struct TSpelling {
  const char* name;
  std::string asked;   // below the test folder, as looked up
  std::string record;  // below the test folder, the file it must name
};
void PrintTo(const TSpelling& c, std::ostream* os) { *os << c.name; }

class ArchiveBitKeys : public ArchiveBitStoreTest,
                       public ::testing::WithParamInterface<TSpelling> {};

TEST_P(ArchiveBitKeys, EverySpellingOfAPathNamesOneRecord) {
  for (const char* f : {"a/b.txt", "a/..b", "a/b..", "a/.c", "a/..."}) WriteFile(dir / f, f);
  const std::string target = dir / GetParam().record;
  store.Clear(target);
  for (const char* f : {"a/b.txt", "a/..b", "a/b..", "a/.c", "a/..."}) {
    const std::string other = dir / f;
    EXPECT_EQ(store.IsSet(other), other != target) << f;
  }
  // The spelling asked for finds the record of the file it names, and
  // clearing through it writes that same record.
  const std::string asked = dir.path() + GetParam().asked;
  EXPECT_FALSE(store.IsSet(asked, Stamp(target)));
  store.Set(asked);
  EXPECT_TRUE(store.IsSet(target));
  store.Clear(asked, Stamp(target));
  EXPECT_FALSE(store.IsSet(target));
}

INSTANTIATE_TEST_SUITE_P(Store, ArchiveBitKeys,
                         ::testing::Values(TSpelling{"Plain", "/a/b.txt", "a/b.txt"},
                                           TSpelling{"DotPart", "/a/./b.txt", "a/b.txt"},
                                           TSpelling{"DoubleSeparator", "/a//b.txt", "a/b.txt"},
                                           TSpelling{"UpAndDown", "/a/../a/b.txt", "a/b.txt"},
                                           TSpelling{"DotsStartAName", "/a/..b", "a/..b"},
                                           TSpelling{"DotsEndAName", "/a/b..", "a/b.."},
                                           TSpelling{"HiddenName", "/./a/.c", "a/.c"},
                                           TSpelling{"ThreeDots", "/a/...", "a/..."}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ArchiveBitStoreTest, WrittenRenamedOrChmodedFilesAreSetAgain) {
  store.Clear(file);
  {
    std::ofstream out(file, std::ios::app);
    out << "!";
  }
  EXPECT_TRUE(store.IsSet(file)) << "written";

  store.Clear(file);
  ASSERT_EQ(std::rename(file.c_str(), (dir / "moved.txt").c_str()), 0);
  EXPECT_TRUE(store.IsSet(dir / "moved.txt")) << "renamed";

  const std::string f = dir / "moved.txt";
  store.Clear(f);
  PassClockTick(dir.path(), Stamp(f).ctimeNs);
  ASSERT_EQ(::chmod(f.c_str(), 0600), 0);
  EXPECT_TRUE(store.IsSet(f)) << "chmod-ed";

  // Replaced by another file under the same name and size.
  store.Clear(f);
  ASSERT_EQ(::unlink(f.c_str()), 0);
  WriteFile(dir / "other", "content!");
  ASSERT_EQ(std::rename((dir / "other").c_str(), f.c_str()), 0);
  EXPECT_TRUE(store.IsSet(f)) << "replaced";
}

TEST_F(ArchiveBitStoreTest, FullRangeIdentitiesSurviveTheDatabase) {
  TFileStamp s = Stamp(file);
  s.dev = ~0ull;  // beyond the signed range SQLite stores
  s.ino = 1ull << 63;
  store.Clear(file, s);
  EXPECT_FALSE(store.IsSet(file, s));
  s.ino += 1;
  EXPECT_TRUE(store.IsSet(file, s));
}

TEST_F(ArchiveBitStoreTest, BatchesCommitOrRollBackAsOne) {
  WriteFile(dir / "b", "b");
  store.BeginBatch();
  store.Clear(file);
  store.Clear(dir / "b");
  store.RollbackBatch();
  EXPECT_TRUE(store.IsSet(file));
  EXPECT_TRUE(store.IsSet(dir / "b"));

  store.BeginBatch();
  store.Clear(file);
  store.Clear(dir / "b");
  store.CommitBatch();
  TArchiveBitStore other(store.path());  // visible to another connection
  EXPECT_FALSE(other.IsSet(file));
  EXPECT_FALSE(other.IsSet(dir / "b"));
}

TEST_F(ArchiveBitStoreTest, BatchSeesItsOwnWritesAndHidesThemUntilCommitted) {
  TArchiveBitStore other(store.path());
  store.BeginBatch();
  store.Clear(file);
  EXPECT_FALSE(store.IsSet(file)) << "the batch's own look-up";
  EXPECT_TRUE(other.IsSet(file)) << "another connection before the commit";
  store.CommitBatch();
  EXPECT_FALSE(other.IsSet(file)) << "another connection after the commit";
}

// A reset pass that dies midway (the process ends without committing, as in
// a crash) leaves the store as the last committed pass left it, and the
// store opens and works afterwards.
TEST_F(ArchiveBitStoreTest, ResetPassCutShortByACrashMarksNothing) {
  std::vector<std::string> committed, cut;
  for (int i = 0; i < 200; ++i) {
    const std::string f = dir / ("f" + std::to_string(i));
    WriteFile(f, std::to_string(i));
    (i < 100 ? committed : cut).push_back(f);
  }
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int rc = 0;
    try {
      TArchiveBitStore own(store.path());
      own.BeginBatch();
      for (const auto& f : committed) own.Clear(f);
      own.CommitBatch();
      own.BeginBatch();
      for (const auto& f : cut) own.Clear(f);
    } catch (...) {
      rc = 1;
    }
    ::_exit(rc);  // no commit, no destructors: the pass is cut short
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  TArchiveBitStore after(store.path());
  for (const auto& f : committed) EXPECT_FALSE(after.IsSet(f)) << f << " was committed";
  for (const auto& f : cut) EXPECT_TRUE(after.IsSet(f)) << f << " was never committed";
  after.Clear(cut.front());
  EXPECT_FALSE(store.IsSet(cut.front()));
}

// Opens a connection of its own that tries an exclusive lock once, without
// waiting: it fails while any reader holds the store.
bool SomeoneReads(const std::string& dbPath) {
  sqlite3* probe = nullptr;
  EXPECT_EQ(sqlite3_open(dbPath.c_str(), &probe), SQLITE_OK);
  const bool busy =
      sqlite3_exec(probe, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_BUSY;
  sqlite3_exec(probe, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(probe);
  return busy;
}

TEST_F(ArchiveBitStoreTest, LookupPassSharesOneReadTransaction) {
  store.IsSet(file);
  EXPECT_FALSE(SomeoneReads(store.path())) << "a look-up outside a pass keeps no lock";
  {
    TArchiveBitLookups pass(store);
    store.IsSet(file);
    store.IsSet(dir / "other");
    EXPECT_TRUE(SomeoneReads(store.path())) << "the pass holds its read transaction";
    {
      TArchiveBitLookups inner(store);  // nested: the outer pass keeps it
    }
    EXPECT_TRUE(SomeoneReads(store.path()));
  }
  EXPECT_FALSE(SomeoneReads(store.path())) << "the pass's end releases it";
}

TEST_F(ArchiveBitStoreTest, WritesInsideALookupPassCommitAtOnce) {
  TArchiveBitStore other(store.path());
  TArchiveBitLookups pass(store);
  EXPECT_TRUE(store.IsSet(file));
  store.Clear(file);
  EXPECT_FALSE(store.IsSet(file)) << "the pass sees its own write";
  EXPECT_FALSE(other.IsSet(file)) << "committed, not held until the pass ends";
  store.BeginBatch();
  store.Set(file);
  EXPECT_TRUE(store.IsSet(file));
  store.RollbackBatch();
  EXPECT_FALSE(store.IsSet(file)) << "a batch inside a pass still rolls back";
}

// A long scan must not lock out another program's reset pass: the pass
// renews its read transaction, so the writer gets in within its wait.
TEST_F(ArchiveBitStoreTest, LongLookupPassLetsOtherWritersIn) {
  const std::string second = dir / "second.txt";
  WriteFile(second, "2");
  std::atomic<bool> stop{false};
  std::atomic<bool> seenCleared{false};
  std::atomic<bool> failed{false};
  std::thread scanner([&] {
    try {
      TArchiveBitStore own(store.path());
      TArchiveBitLookups pass(own);
      while (!stop) {
        if (!own.IsSet(second)) seenCleared = true;
      }
    } catch (...) {
      failed = true;
    }
  });
  while (!SomeoneReads(store.path()) && !failed) std::this_thread::yield();
  bool writerGotIn = false;
  try {
    TArchiveBitStore writer(store.path());
    writer.BeginBatch();
    writer.Clear(second);
    writer.CommitBatch();
    writerGotIn = true;
  } catch (const EArchiveStore& e) {
    ADD_FAILURE() << e.what();
  }
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(20 * TArchiveBitStore::kLookupSnapshotMs);
  while (writerGotIn && !seenCleared && !failed && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  stop = true;
  scanner.join();
  EXPECT_TRUE(writerGotIn) << "the writer was locked out";
  EXPECT_FALSE(failed);
  EXPECT_TRUE(seenCleared) << "the pass's renewed read transaction sees the new record";
}

TEST_F(ArchiveBitStoreTest, LockedStoreRaisesInsteadOfGuessing) {
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(store.path().c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_THAT(test::ErrorOf<EArchiveStore>([&] { store.IsSet(file); }),
              ::testing::HasSubstr("locked"));
  EXPECT_THROW(store.Clear(file), EArchiveStore);
  sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  store.Clear(file);
  EXPECT_FALSE(store.IsSet(file));
}

TEST(ArchiveBitStoreFailures, DamagedOrUncreatableStoreRaises) {
  TTempFolder dir;
  WriteFile(dir / "bad.sqlite", std::string(4096, 'x'));
  EXPECT_THAT(test::ErrorOf<EArchiveStore>([&] { TArchiveBitStore bad(dir / "bad.sqlite"); }),
              ::testing::HasSubstr("damaged"));
  WriteFile(dir / "plainfile", "");
  EXPECT_THROW(TArchiveBitStore(dir / "plainfile/sub/bits.sqlite"), EArchiveStore);
}

TEST(ArchiveBitStoreLocation, EnvironmentChoosesTheFolder) {
  TTempFolder dir;
  {
    TScopedEnv state("VAULTIX_STATE_DIR", dir / "s1");
    EXPECT_EQ(TArchiveBitStore::DefaultPath(), dir / "s1/archive-bits.sqlite");
  }
  TScopedEnv noState("VAULTIX_STATE_DIR", "");
  {
    TScopedEnv xdg("XDG_STATE_HOME", dir / "xdg");
    EXPECT_EQ(TArchiveBitStore::DefaultPath(), dir / "xdg/vaultix/archive-bits.sqlite");
  }
  TScopedEnv relativeXdg("XDG_STATE_HOME", "relative/path");  // not valid: ignored
  TScopedEnv home("HOME", dir / "home");
  EXPECT_EQ(TArchiveBitStore::DefaultPath(), dir / "home/.local/state/vaultix/archive-bits.sqlite");
}

TEST(ArchiveBitStoreLocation, InstanceFollowsTheEnvironment) {
  TTempFolder dir;
  WriteFile(dir / "f", "x");
  {
    TScopedEnv state("VAULTIX_STATE_DIR", dir / "one");
    TArchiveBitStore::Instance().Clear(dir / "f");
    EXPECT_EQ(TArchiveBitStore::Instance().path(), dir / "one/archive-bits.sqlite");
    EXPECT_FALSE(TArchiveBitStore::Instance().IsSet(dir / "f"));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "one").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);  // the list of file names is private
  }
  TScopedEnv state("VAULTIX_STATE_DIR", dir / "two");
  EXPECT_EQ(TArchiveBitStore::Instance().path(), dir / "two/archive-bits.sqlite");
  EXPECT_TRUE(TArchiveBitStore::Instance().IsSet(dir / "f"));
}

}  // namespace
}  // namespace vx
