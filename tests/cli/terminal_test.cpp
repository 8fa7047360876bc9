// Questions on the terminal, the bounded retry without a person, the
// progress line and the catalog line.
#include <gtest/gtest.h>

#include <deque>
#include <sstream>

#include "cli/cli_fixture.h"
#include "cli/commands.h"
#include "cli/progress.h"
#include "cli/prompts.h"
#include "platform/date_time.h"
#include "support/utils.h"

namespace vxtest {
namespace {

vx::TPrompt::TReadLine Script(std::deque<std::string> lines) {
  auto shared = std::make_shared<std::deque<std::string>>(std::move(lines));
  return [shared](std::string& line) {
    if (shared->empty()) return false;
    line = shared->front();
    shared->pop_front();
    return true;
  };
}

TEST(CliQuestions, AnswersAreReadUntilOneFitsAndTheEndOfInputAborts) {
  std::ostringstream shown;
  vx::TPrompt junkThenIgnore(Script({"", "x", "  I  "}), shown);
  EXPECT_EQ(vx::AskFileOnTerminal(junkThenIgnore, vx::kCantOpenQuestion, "/f"), vx::AW_IGNORE);
  EXPECT_NE(shown.str().find("nemôžem otvoriť súbor,\n/f"), std::string::npos);
  // Asked once per line that did not fit.
  std::string s = shown.str();
  std::size_t asked = 0;
  for (auto at = s.find("[I]gnorovať?"); at != std::string::npos;
       at = s.find("[I]gnorovať?", at + 1))
    ++asked;
  EXPECT_EQ(asked, 3u);

  vx::TPrompt retry(Script({"o"}), shown);
  EXPECT_EQ(vx::AskFileOnTerminal(retry, vx::kCantOpenQuestion, "/f"), vx::AW_RETRY);
  // A read cannot be retried: "o" is no answer there, "i" is.
  std::ostringstream readShown;
  vx::TPrompt readRetry(Script({"o", "i"}), readShown);
  EXPECT_EQ(vx::AskFileOnTerminal(readRetry, vx::kCantReadQuestion, "/f"), vx::AW_IGNORE);
  EXPECT_EQ(readShown.str().find("Opakovať"), std::string::npos) << readShown.str();
  vx::TPrompt ended(Script({}), shown);
  EXPECT_EQ(vx::AskFileOnTerminal(ended, vx::kCantReadQuestion, "/f"), vx::AW_ABORT);

  vx::TPrompt ok(Script({"OK"}), shown);
  EXPECT_EQ(vx::AskBoxOnTerminal(ok, "disk?"), vx::TBoxAnswer::Ok);
  vx::TPrompt gone(Script({}), shown);
  EXPECT_EQ(vx::AskBoxOnTerminal(gone, "disk?"), vx::TBoxAnswer::Abort);
}

TEST(CliQuestions, OpenRetryIsBoundedPerFile) {
  int pauses = 0;
  std::vector<std::string> given;
  vx::TBoundedOpenRetry retry(
      2, [&] { ++pauses; }, [&](const std::string& f) { given.push_back(f); });
  EXPECT_EQ(retry.Answer("/a"), vx::AW_RETRY);
  EXPECT_EQ(retry.Answer("/b"), vx::AW_RETRY);  // its own count
  EXPECT_EQ(retry.Answer("/a"), vx::AW_RETRY);
  EXPECT_EQ(retry.Answer("/a"), vx::AW_IGNORE);
  EXPECT_EQ(pauses, 3);
  EXPECT_EQ(given, (std::vector<std::string>{"/a"}));
  // A later failure of the same file (next run of the loop) starts afresh.
  EXPECT_EQ(retry.Answer("/a"), vx::AW_RETRY);
}

TEST(CliProgress, LineFitsTheWidthWithoutBreakingCharacters) {
  vx::TProgressState s;
  s.percent = 50;
  s.done = 50LL << 20;
  s.total = 100LL << 20;
  s.elapsedSeconds = 10.0;
  s.currentFile = "/home/eva/dokumenty/účtovníctvo/ročná závierka 2026.xlsx";
  std::string wide = vx::FormatProgressLine(s, 200);
  EXPECT_NE(wide.find(" 50%"), std::string::npos) << wide;
  EXPECT_NE(wide.find("50.0 M hotovo"), std::string::npos) << wide;
  EXPECT_NE(wide.find("50.0 M zostáva"), std::string::npos) << wide;
  EXPECT_NE(wide.find("5.0 M/s"), std::string::npos) << wide;
  EXPECT_NE(wide.find("ešte 00:00:10"), std::string::npos) << wide;
  EXPECT_NE(wide.find(s.currentFile), std::string::npos) << wide;

  for (std::size_t width : {90u, 75u, 30u}) {
    std::string line = vx::FormatProgressLine(s, width);
    std::size_t columns = 0;
    for (unsigned char c : line) columns += (c & 0xC0) != 0x80;
    EXPECT_LE(columns, width) << line;
    EXPECT_EQ(line.rfind(" 50%", 0), 0u) << line;
    // Every multi-byte character is whole.
    for (std::size_t i = 0; i < line.size();) {
      unsigned char c = static_cast<unsigned char>(line[i]);
      std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
      ASSERT_LE(i + n, line.size()) << line;
      for (std::size_t k = 1; k < n; ++k) ASSERT_EQ(line[i + k] & 0xC0, 0x80) << line;
      i += n;
    }
  }
  EXPECT_EQ(vx::CutLeftToColumns("/a/ž/b.txt", 6), "…b.txt");
  EXPECT_EQ(vx::CutLeftToColumns("/a/ž/b.txt", 8), "…ž/b.txt");
}

TEST(CliProgress, NothingLeftWhenDoneAndUnknownTimeAtTheStart) {
  vx::TProgressState start;
  start.total = 1000;
  std::string l0 = vx::FormatProgressLine(start, 200);
  EXPECT_NE(l0.find("ešte --:--:--"), std::string::npos) << l0;
  EXPECT_NE(l0.find(" 0/s"), std::string::npos) << l0;
  start.done = 9;  // below 1 %: no estimate yet
  start.elapsedSeconds = 3.0;
  std::string l9 = vx::FormatProgressLine(start, 200);
  EXPECT_NE(l9.find("ešte --:--:--"), std::string::npos) << l9;
  EXPECT_NE(l9.find(" 3/s"), std::string::npos) << l9;
  start.done = 10;
  std::string l10 = vx::FormatProgressLine(start, 200);
  EXPECT_NE(l10.find("ešte 00:04:57"), std::string::npos) << l10;

  vx::TProgressState over;
  over.percent = 100;
  over.total = 1000;
  over.done = 900;  // the engine's total and counter need not agree
  over.elapsedSeconds = 3.0;
  std::string l1 = vx::FormatProgressLine(over, 200);
  EXPECT_NE(l1.find("100%"), std::string::npos) << l1;
  EXPECT_NE(l1.find("0 zostáva"), std::string::npos) << l1;
  EXPECT_NE(l1.find("ešte 00:00:00"), std::string::npos) << l1;
  EXPECT_EQ(vx::FormatDuration(90061), "25:01:01");  // hours do not wrap
}

TEST(CliProgress, BlocksAddToTheFinishedFilesAndRedrawsAreThrottled) {
  std::ostringstream out;
  std::uint64_t now = 0;
  int hints = 0;
  vx::TProgressLine line(
      out, vx::TProgressLine::TCount::BytesRead, 120, [&] { return now; },
      [&] {
        ++hints;
        return std::int64_t{400000};
      });
  vx::TExtBackupStatistic stat;
  stat.BytesRead = 100000;  // one file finished; the engine's total is not known yet
  stat.PercentDone = 25;
  stat.CurrentFile = "/a";
  now = 1000;
  line.Statistic(stat);
  now = 1100;
  line.Block("/b", 32768, 300000);  // within 200 ms: not drawn
  now = 1400;
  line.Block("/b", 100000, 300000);
  line.Finish();
  std::string text = out.str();
  EXPECT_EQ(hints, 1);
  EXPECT_NE(text.find(" 25%"), std::string::npos) << text;
  EXPECT_EQ(text.find("/b"), text.rfind("/b")) << "drawn once for /b: " << text;
  EXPECT_NE(text.find(" 50%"), std::string::npos) << text;  // 200000 of 400000
  EXPECT_EQ(text.substr(text.size() - 4), "\r\033[K");
}

// Files of 2 GiB and more: the bytes of the current file count in 64 bits.
TEST(CliProgress, BlocksBeyondTwoGiBCountInFullBytes) {
  std::ostringstream out;
  std::uint64_t now = 0;
  const std::int64_t gib = std::int64_t{1} << 30;
  vx::TProgressLine line(
      out, vx::TProgressLine::TCount::BytesRead, 120, [&] { return now; }, [&] { return 4 * gib; });
  now = 1000;
  line.Block("/big", 3 * gib, 4 * gib);
  line.Finish();
  const std::string text = out.str();
  EXPECT_NE(text.find(" 75%"), std::string::npos) << text;
  EXPECT_NE(
      text.find(vx::FormatSize64(3 * gib).substr(vx::FormatSize64(3 * gib).find_first_not_of(' ')) +
                " hotovo"),
      std::string::npos)
      << text;
  EXPECT_EQ(text.find('-'), std::string::npos) << text;
}

TEST(CliCatalog, LineFieldsAndEscapedControlCharacters) {
  vx::TDirRecord r;
  r.size = -1;  // a size beyond 2 GiB is stored as its low 32 bits
  r.crc = 0x00ABCDEF;
  r.attr = 0x21;
  ASSERT_TRUE(vx::TryEncodeDateTime(2024, 2, 29, 13, 5, 8, r.time));
  // Stored paths as the catalog's (and the dry run's) TAB-separated line and
  // the progress line show them: TAB, line breaks, escape sequences and DEL
  // as \xNN; in the TAB-separated line also the backslash, which would make
  // the escapes ambiguous; other bytes as they are.
  struct TShown {
    std::string path, inLine, onProgress;
  };
  const TShown paths[] = {
      {"/home/eva/a\tb\nc.txt", "/home/eva/a\\x09b\\x0Ac.txt", "/home/eva/a\\x09b\\x0Ac.txt"},
      {"/x/\x1b[2Jclear", "/x/\\x1B[2Jclear", "/x/\\x1B[2Jclear"},
      {"/x/back\\slash\x7f", "/x/back\\x5Cslash\\x7F", "/x/back\\slash\\x7F"},
      {"/x/nedeľa \"é\"", "/x/nedeľa \"é\"", "/x/nedeľa \"é\""}};
  for (const auto& [path, shown, progress] : paths) {
    r.path = path;
    EXPECT_EQ(vx::FormatCatalogLine(r), "4294967295\t00ABCDEF\t21\t2024/02/29 13:05:08\t" + shown);
    vx::TProgressState state;
    state.currentFile = path;
    const std::string line = vx::FormatProgressLine(state, 200);
    EXPECT_EQ(line.substr(line.size() - progress.size()), progress) << line;
  }
}

// A comment read from a set reaches the terminal with its control bytes
// escaped.
TEST_F(CliFixture, CommentWithControlBytesIsEscaped) {
  const std::string set = MakeSet();
  ASSERT_EQ(
      Run({"backup", "--set", set, "--no-log", "--comment", "ok\x1b]0;title\x07\tend"}).exitCode,
      0);
  const TCliRun r = Run({"comment", "--set", set});
  EXPECT_EQ(r.exitCode, 0) << Show(r);
  EXPECT_EQ(r.out, "ok\\x1B]0;title\\x07\\x09end\n");
}

}  // namespace
}  // namespace vxtest
