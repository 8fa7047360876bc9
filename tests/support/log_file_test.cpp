#include "support/log_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ios>

#include "common/files.h"
#include "common/named_case.h"
#include "common/temp_folder.h"
#include "support/utils.h"

namespace vx {
namespace {

using test::ReadFile;
using test::TTempFolder;
using test::WriteFile;

const std::string kFiveLines = "old1\r\nold2\r\nold3\r\nold4\r\nold5\r\n";

class LogFileTest : public ::testing::Test {
 protected:
  TTempFolder dir;
  std::string log = dir / "run.log";
};

TEST_F(LogFileTest, CreateAppendAndClosedState) {
  {
    TLogFile f(dir / "missing.log");
    f.OpenAppend();  // a missing file is created
    f.WriteLine("x");
  }
  EXPECT_EQ(ReadFile(dir / "missing.log"), "x\r\n");
  ::unlink((dir / "missing.log").c_str());
  {
    TLogFile f(log);
    EXPECT_EQ(f.state(), TLogFile::Closed);
    f.WriteLine("ignored while closed");
    EXPECT_TRUE(dir.Names().empty());  // nothing created either
    f.CreateNew();
    EXPECT_EQ(f.state(), TLogFile::CreatedNew);
    f.WriteLine("first");
    f.WriteLine("");
    f.WriteLine("third");
  }
  EXPECT_EQ(ReadFile(log), "first\r\n\r\nthird\r\n");
  {
    TLogFile f(log);
    EXPECT_EQ(f.LineCount(), -1);  // closed, even though the file exists
    f.OpenAppend();
    EXPECT_EQ(f.state(), TLogFile::Appending);
    EXPECT_EQ(f.LineCount(), 3);
    f.OpenAppend();  // no change while open
    f.WriteLine("fourth");
  }
  EXPECT_EQ(ReadFile(log), "first\r\n\r\nthird\r\nfourth\r\n");
  {
    TLogFile f(log);
    f.OpenAppend();
    f.CreateNew();  // from appending: starts empty
    f.WriteLine("fresh");
  }
  EXPECT_EQ(ReadFile(log), "fresh\r\n");
}

// Lines written after InsertAt(n) stand before the old n-th line; the rest
// moves behind them, and the copy made meanwhile is gone afterwards.
struct TInsertCase {
  const char* name;
  std::string before;
  int at;
  std::vector<std::string> lines;
  std::string after;
};
void PrintTo(const TInsertCase& c, std::ostream* os) { *os << c.name; }

class LogFileInsert : public LogFileTest, public ::testing::WithParamInterface<TInsertCase> {};

TEST_P(LogFileInsert, PutsTheNewLinesAtThePosition) {
  const TInsertCase& c = GetParam();
  WriteFile(log, c.before);
  {
    TLogFile f(log);
    f.OpenAppend();
    f.InsertAt(c.at);
    EXPECT_EQ(f.state(), TLogFile::Inserting);
    for (const std::string& line : c.lines) f.WriteLine(line);
  }
  EXPECT_EQ(ReadFile(log), c.after);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"run.log"});
}

// "a\r\nb\n": the old last line has an LF only.
INSTANTIATE_TEST_SUITE_P(
    Positions, LogFileInsert,
    ::testing::Values(TInsertCase{"Third",
                                  kFiveLines,
                                  3,
                                  {"new1", "new2"},
                                  "old1\r\nold2\r\nnew1\r\nnew2\r\nold3\r\nold4\r\nold5\r\n"},
                      TInsertCase{"First", "a\r\nb\n", 1, {"summary"}, "summary\r\na\r\nb\r\n"},
                      TInsertCase{"Zero", "a\r\nb\n", 0, {"summary"}, "summary\r\na\r\nb\r\n"},
                      TInsertCase{"Negative", "a\r\nb\n", -1, {"summary"}, "summary\r\na\r\nb\r\n"},
                      TInsertCase{
                          "BeyondTheEndAppends", "a\r\nb\r\n", 10, {"c"}, "a\r\nb\r\nc\r\n"}),
    test::TCaseName());

TEST_F(LogFileTest, LinesWrittenBeforeTheInsertionAreKept) {
  // The engine's own use: lines of a run, then the summary in front of them.
  {
    TLogFile f(log);
    f.CreateNew();
    f.WriteLine("run1");
    f.WriteLine("run2");
    f.InsertAt(0);
    f.WriteLine("sum");
    f.Close();
    EXPECT_EQ(f.state(), TLogFile::Closed);
  }
  EXPECT_EQ(ReadFile(log), "sum\r\nrun1\r\nrun2\r\n");
}

TEST_F(LogFileTest, OpenAppendWhileInsertingMovesPendingLinesThenAppends) {
  WriteFile(log, kFiveLines);
  {
    TLogFile f(log);
    f.OpenAppend();
    f.InsertAt(2);
    f.WriteLine("ins");
    f.OpenAppend();
    EXPECT_EQ(f.state(), TLogFile::Appending);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"run.log"});
    f.WriteLine("tail");
  }
  EXPECT_EQ(ReadFile(log), "old1\r\nins\r\nold2\r\nold3\r\nold4\r\nold5\r\ntail\r\n");
}

TEST_F(LogFileTest, CreateNewWhileInsertingDropsPendingLines) {
  WriteFile(log, kFiveLines);
  {
    TLogFile f(log);
    f.OpenAppend();
    f.InsertAt(3);
    f.CreateNew();
    EXPECT_EQ(f.state(), TLogFile::CreatedNew);
  }
  EXPECT_EQ(ReadFile(log), "");
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"run.log"});
}

TEST_F(LogFileTest, SecondInsertionLosesNoPendingLine) {
  WriteFile(log, "o1\r\no2\r\no3\r\n");
  {
    TLogFile f(log);
    f.OpenAppend();
    f.InsertAt(2);
    f.WriteLine("n1");
    f.InsertAt(1);
    f.WriteLine("n2");
  }
  EXPECT_EQ(ReadFile(log), "n2\r\no1\r\nn1\r\no2\r\no3\r\n");
}

TEST_F(LogFileTest, PendingCopyIsPrivateAndBesideTheLog) {
  WriteFile(log, kFiveLines);
  TLogFile f(log);
  f.OpenAppend();
  f.InsertAt(2);
  const auto names = dir.Names();
  ASSERT_EQ(names.size(), 2u);
  const std::string copy = names[0] == "run.log" ? names[1] : names[0];
  struct stat st {};
  ASSERT_EQ(::stat((dir / copy).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(ReadFile(dir / copy), kFiveLines);
  f.Close();
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"run.log"});
}

TEST_F(LogFileTest, FailuresRaiseInputOutputErrors) {
  TLogFile missingFolder(dir / "no/such/folder/x.log");
  EXPECT_THROW(missingFolder.CreateNew(), std::ios_base::failure);
  EXPECT_EQ(missingFolder.state(), TLogFile::Closed);
  EXPECT_THROW(missingFolder.OpenAppend(), std::ios_base::failure);

  // A full disk shows when the buffered lines reach it, at the latest on Close.
  vx::test::TSmallTmpfs disk("64k");
  if (disk.ok()) {
    TLogFile full(disk / "full.log");
    full.CreateNew();
    EXPECT_THROW(
        {
          for (int i = 0; i < 10000; ++i) full.WriteLine("line that fills the buffer");
          full.Close();
        },
        std::ios_base::failure);
  }

  // The log vanished under an open object: inserting cannot copy it.
  TLogFile f(log);
  f.CreateNew();
  f.WriteLine("a");
  ASSERT_EQ(::unlink(log.c_str()), 0);
  EXPECT_THROW(f.InsertAt(1), std::ios_base::failure);
  EXPECT_EQ(f.state(), TLogFile::CreatedNew);
  EXPECT_TRUE(dir.Names().empty());  // no copy left behind
}

// A log is a regular file: a device would swallow it or be read for ever,
// a FIFO would block.  Each is refused by every way of opening, and the
// object stays closed.
TEST_F(LogFileTest, OnlyARegularFileIsALog) {
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  for (const std::string& name :
       {std::string("/dev/zero"), std::string("/dev/full"), dir / "fifo"}) {
    for (int way = 0; way < 3; ++way) {
      TLogFile f(name);
      EXPECT_THROW(way == 0   ? f.CreateNew()
                   : way == 1 ? f.OpenAppend()
                              : f.InsertAt(1),
                   std::ios_base::failure)
          << name << " way " << way;
      EXPECT_EQ(f.state(), TLogFile::Closed) << name;
    }
  }
  EXPECT_EQ(CountTextLines("/dev/zero"), 0);
}

TEST_F(LogFileTest, ANewLogIsPrivateToItsOwner) {
  const mode_t old = ::umask(0);
  {
    TLogFile created(log), appended(dir / "appended.log");
    created.CreateNew();
    appended.OpenAppend();
  }
  ::umask(old);
  for (const std::string& name : {log, dir / "appended.log"}) {
    struct stat st {};
    ASSERT_EQ(::stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
  }
}

}  // namespace
}  // namespace vx
