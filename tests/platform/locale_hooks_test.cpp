#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>

#include "common/files.h"
#include "common/temp_folder.h"
#include "platform/date_time.h"
#include "platform/hooks.h"
#include "platform/locale.h"
#include "support/utils.h"

// glibc's newlocale keeps the parsed LOCPATH for the life of the process;
// LeakSanitizer would report it after the Slovak case.  Not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }

namespace vx {
namespace {

using test::TScopedEnv;

double At(int y, int mo, int d, int h, int mi, int s) {
  double dt = 0;
  EXPECT_TRUE(TryEncodeDateTime(y, mo, d, h, mi, s, dt));
  return dt;
}

TEST(LocaleFormats, CLocale) {
  TScopedEnv lcAll("LC_ALL", "C");
  EXPECT_EQ(FormatDateTimeC(At(2026, 12, 7, 14, 3, 5)), "12/07/26 14:03:05");
  EXPECT_EQ(FormatDateTimeC(At(2026, 12, 7, 0, 0, 0)), "12/07/26");  // midnight: date only
  EXPECT_EQ(FormatDateTimeC(At(2026, 12, 7, 0, 0, 1)), "12/07/26 00:00:01");
  EXPECT_EQ(FormatDateTimeStamp(At(2026, 2, 3, 4, 5, 6)), "2026/02/03 04:05:06");
  EXPECT_EQ(DateSeparator(), '/');
  EXPECT_EQ(TimeSeparator(), ':');
  EXPECT_EQ(DecimalSeparator(), '.');
}

// A Slovak locale compiled into a private folder (LOCPATH), when the system
// has the locale sources and localedef.
class SlovakLocale : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists("/usr/share/i18n/locales/sk_SK") ||
        std::system("command -v localedef >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "no locale sources to build sk_SK from";
    }
    const std::string cmd =
        "localedef -i sk_SK -f UTF-8 '" + (dir / "sk_SK.UTF-8") + "' >/dev/null 2>&1";
    // localedef exits with 1 for mere warnings; the compiled folder is what counts.
    const int status = std::system(cmd.c_str());
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) > 1 ||
        !std::filesystem::exists(dir / "sk_SK.UTF-8")) {
      GTEST_SKIP() << "localedef could not build sk_SK";
    }
  }
  test::TTempFolder dir;
  TScopedEnv locPath{"LOCPATH", dir.path()};
};

// Dates follow the user's locale; sizes keep the decimal point, so that they
// read the same in every locale, in logs and in scripts' output.
TEST_F(SlovakLocale, DatesTimesFollowTheUsersLocaleSizesDoNot) {
  TScopedEnv lcAll("LC_ALL", "sk_SK.UTF-8");
  EXPECT_EQ(DecimalSeparator(), ',');
  EXPECT_EQ(FormatSize(2304), "   2.3k");
  EXPECT_EQ(FormatSize64(3145728), "   3.0 M");
  EXPECT_EQ(DateSeparator(), '.');
  EXPECT_EQ(TimeSeparator(), ':');
  EXPECT_EQ(FormatDateTimeStamp(At(2026, 2, 3, 4, 5, 6)), "2026.02.03 04:05:06");
  const std::string c = FormatDateTimeC(At(2026, 12, 7, 14, 3, 5));
  EXPECT_NE(c.find("07.12.2026"), std::string::npos) << c;
  EXPECT_NE(c.find("14:03:05"), std::string::npos) << c;
  double dt = 0;
  EXPECT_TRUE(TryParseShortDate("5.3.2026", dt));  // day first, dots
  EXPECT_DOUBLE_EQ(dt, At(2026, 3, 5, 0, 0, 0));
  EXPECT_FALSE(TryParseShortDate("03/05/26", dt));
}

TEST(ShortDate, CLocaleReadsMonthDayYear) {
  TScopedEnv lcAll("LC_ALL", "C");
  struct TCase {
    const char* text;
    bool ok;
    int y, m, d;
  };
  const TCase cases[] = {
      {"03/05/26", true, 2026, 3, 5},
      {" 12/31/1999 ", true, 1999, 12, 31},
      {"1/2/49", true, 2049, 1, 2},
      {"1/2/50", true, 1950, 1, 2},
      {"02/29/2024", true, 2024, 2, 29},
      {"02/29/2025", false, 0, 0, 0},
      {"13/01/26", false, 0, 0, 0},
      {"03/05", false, 0, 0, 0},
      {"03.05.26", false, 0, 0, 0},
      {"03/05/26 10:00", false, 0, 0, 0},
      {"03/05/226", false, 0, 0, 0},
      {"", false, 0, 0, 0},
      {"//", false, 0, 0, 0},
      {"003/05/26", false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    double dt = -1;
    EXPECT_EQ(TryParseShortDate(c.text, dt), c.ok) << c.text;
    if (c.ok) {
      EXPECT_DOUBLE_EQ(dt, At(c.y, c.m, c.d, 0, 0, 0)) << c.text;
    }
  }
}

TEST(Hooks, DefaultsSuitAProgramWithoutAWindow) {
  ProcessMessages();  // nothing installed: nothing happens
  EXPECT_EQ(AskQuestionBox("Vložte disk"), TBoxAnswer::Unavailable);

  int pumped = 0;
  std::string asked;
  SetProcessMessagesHook([&pumped] { ++pumped; });
  SetQuestionBoxHook([&asked](const std::string& text) {
    asked = text;
    return TBoxAnswer::Abort;
  });
  ProcessMessages();
  ProcessMessages();
  EXPECT_EQ(pumped, 2);
  EXPECT_EQ(AskQuestionBox("Vložte disk 2"), TBoxAnswer::Abort);
  EXPECT_EQ(asked, "Vložte disk 2");

  SetProcessMessagesHook(nullptr);
  SetQuestionBoxHook(nullptr);
  ProcessMessages();
  EXPECT_EQ(pumped, 2);
  EXPECT_EQ(AskQuestionBox("x"), TBoxAnswer::Unavailable);
}

}  // namespace
}  // namespace vx
