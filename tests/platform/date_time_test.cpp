#include "platform/date_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

namespace vx {
namespace {

// Tests run with TZ=Europe/Bratislava (CET/CEST).
std::int64_t Utc(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  return static_cast<std::int64_t>(::timegm(&tm));
}

std::uint32_t Dos(int y, int mo, int d, int h, int mi, int s) {
  return static_cast<std::uint32_t>(((y - 1980) << 9 | mo << 5 | d) << 16 |
                                    (h << 11 | mi << 5 | s / 2));
}

class TimeZoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    saved_ = tz ? tz : "";
    ::setenv("TZ", "Europe/Bratislava", 1);
    ::tzset();
  }
  void TearDown() override {
    ::setenv("TZ", saved_.c_str(), 1);
    ::tzset();
  }
  std::string saved_;
};

TEST_F(TimeZoneTest, DosTimeIsLocalAndTruncatedToTwoSeconds) {
  // 12:03:05 UTC is 14:03:05 CEST in July, 13:03:05 CET in January.
  EXPECT_EQ(UnixToDos(Utc(2026, 7, 12, 12, 3, 5)), Dos(2026, 7, 12, 14, 3, 4));
  EXPECT_EQ(UnixToDos(Utc(2026, 1, 12, 12, 3, 5)), Dos(2026, 1, 12, 13, 3, 4));
  EXPECT_EQ(DosToUnix(Dos(2026, 7, 12, 14, 3, 4)), Utc(2026, 7, 12, 12, 3, 4));
}

TEST_F(TimeZoneTest, DosRangeIsClamped) {
  EXPECT_EQ(UnixToDos(0), Dos(1980, 1, 1, 0, 0, 0));
  EXPECT_EQ(UnixToDos(Utc(1979, 12, 31, 22, 59, 59)), Dos(1980, 1, 1, 0, 0, 0));  // 23:59:59 local
  EXPECT_EQ(UnixToDos(Utc(1979, 12, 31, 23, 0, 0)), Dos(1980, 1, 1, 0, 0, 0));  // first DOS second
  EXPECT_EQ(UnixToDos(Utc(2200, 5, 5, 0, 0, 0)), Dos(2107, 12, 31, 23, 59, 58));
  EXPECT_EQ(DateTimeToDos(1000.0), Dos(1980, 1, 1, 0, 0, 0));
  EXPECT_EQ(DateTimeToDos(1e9), Dos(2107, 12, 31, 23, 59, 58));
  EXPECT_EQ(DateTimeToDos(NAN), Dos(1980, 1, 1, 0, 0, 0));
}

TEST_F(TimeZoneTest, RoundTripsAcrossDaylightSavingChanges) {
  // Every 10 minutes over the spring and autumn changes of 2026 (29 March,
  // 25 October), on odd and even seconds.
  for (const std::int64_t start : {Utc(2026, 3, 28, 12, 0, 0), Utc(2026, 10, 24, 12, 0, 0)}) {
    for (std::int64_t t = start; t < start + 2 * 86400; t += 601) {
      const std::uint32_t dos = UnixToDos(t);
      const std::int64_t back = DosToUnix(dos);
      // The local hour repeated in autumn names two instants; any other
      // time comes back exactly (to the two-second step).
      std::tm local{};
      const std::time_t tt = static_cast<std::time_t>(t);
      ::localtime_r(&tt, &local);
      const bool repeatedHour = local.tm_mon == 9 && local.tm_mday == 25 && local.tm_hour == 2;
      if (!repeatedHour) {
        EXPECT_EQ(back, t - (t % 2 != 0 ? 1 : 0)) << t;
      }
      EXPECT_EQ(UnixToDos(back), dos) << t;
      EXPECT_EQ(DateTimeToDos(DosToDateTime(dos)), dos) << t;
      if (!repeatedHour) {
        EXPECT_EQ(DateTimeToUnix(UnixToDateTime(t)), t) << t;
      }
    }
  }
}

TEST_F(TimeZoneTest, TheRunsTimeCacheGivesWhatEachLookUpGives) {
  // Every DOS value 7 minutes 2 seconds apart over both days of change,
  // the hour that does not exist in spring included, and fields out of
  // range; one cache for all of them, so hours meet in its slots.
  TDosTimes times;
  for (const int month : {3, 10}) {
    const int day = month == 3 ? 29 : 25;
    for (int minutes = 0; minutes < 2 * 24 * 60; minutes += 7) {
      const int h = minutes / 60 % 24;
      const int d = day - 1 + minutes / (24 * 60);
      const std::uint32_t dos = Dos(2026, month, d, h, minutes % 60, (minutes * 2) % 60);
      if (month == 10 && d == 25 && h == 2) continue;  // the repeated hour names two instants
      EXPECT_EQ(times.ToUnix(dos), DosToUnix(dos)) << month << "-" << d << " " << minutes;
    }
  }
  const std::uint32_t odd[] = {Dos(2026, 7, 12, 14, 63, 62), Dos(2026, 7, 12, 25, 1, 0), 0,
                               Dos(2107, 12, 31, 23, 59, 58)};
  for (const std::uint32_t dos : odd) EXPECT_EQ(times.ToUnix(dos), DosToUnix(dos)) << dos;
}

TEST_F(TimeZoneTest, DateTimeDoubleFollowsLocalWallClock) {
  // 2026-03-29 01:30 CET and 03:30 CEST are one hour apart in real time but
  // two hours apart on the wall clock the date-time double shows.
  const double before = UnixToDateTime(Utc(2026, 3, 29, 0, 30, 0));
  const double after = UnixToDateTime(Utc(2026, 3, 29, 1, 30, 0));
  EXPECT_NEAR((after - before) * 24.0, 2.0, 1e-9);
  int y, mo, d, h, mi, s;
  DecodeDateTime(after, y, mo, d, h, mi, s);
  EXPECT_EQ((std::vector<int>{y, mo, d, h, mi, s}), (std::vector<int>{2026, 3, 29, 3, 30, 0}));
}

TEST(DateTimeDouble, EncodeDecodeAndValidation) {
  double dt = 0;
  ASSERT_TRUE(TryEncodeDateTime(1899, 12, 30, 0, 0, 0, dt));
  EXPECT_EQ(dt, 0.0);
  ASSERT_TRUE(TryEncodeDateTime(2000, 1, 1, 12, 0, 0, dt));
  EXPECT_EQ(dt, 36526.5);
  ASSERT_TRUE(TryEncodeDateTime(1899, 12, 29, 6, 0, 0, dt));
  EXPECT_EQ(dt, -1.25);  // before the epoch the time still counts from midnight
  int y, mo, d, h, mi, s;
  DecodeDateTime(-1.25, y, mo, d, h, mi, s);
  EXPECT_EQ((std::vector<int>{y, mo, d, h, mi, s}), (std::vector<int>{1899, 12, 29, 6, 0, 0}));

  EXPECT_TRUE(TryEncodeDateTime(2024, 2, 29, 23, 59, 59, dt));
  EXPECT_FALSE(TryEncodeDateTime(2026, 2, 29, 0, 0, 0, dt));
  EXPECT_FALSE(TryEncodeDateTime(1900, 2, 29, 0, 0, 0, dt));
  EXPECT_FALSE(TryEncodeDateTime(2026, 13, 1, 0, 0, 0, dt));
  EXPECT_FALSE(TryEncodeDateTime(2026, 4, 31, 0, 0, 0, dt));
  EXPECT_FALSE(TryEncodeDateTime(2026, 1, 1, 24, 0, 0, dt));
  EXPECT_FALSE(TryEncodeDateTime(2026, 1, 1, 0, 60, 0, dt));
  EXPECT_FALSE(TryEncodeDateTime(0, 1, 1, 0, 0, 0, dt));

  // Every second of a day survives encoding and decoding.
  for (int sec = 0; sec < 86400; sec += 7) {
    ASSERT_TRUE(TryEncodeDateTime(2026, 12, 7, sec / 3600, sec / 60 % 60, sec % 60, dt));
    DecodeDateTime(dt, y, mo, d, h, mi, s);
    ASSERT_EQ(h * 3600 + mi * 60 + s, sec);
    ASSERT_EQ(d, 7);
  }
  // A value a hair below midnight is the next day's midnight.
  DecodeDateTime(36526.0 - 1e-10, y, mo, d, h, mi, s);
  EXPECT_EQ((std::vector<int>{y, mo, d, h, mi, s}), (std::vector<int>{2000, 1, 1, 0, 0, 0}));
}

TEST(DateTimeDouble, DosConversionIsExact) {
  const std::uint32_t dos = Dos(2026, 12, 7, 14, 3, 4);
  double dt = 0;
  ASSERT_TRUE(TryEncodeDateTime(2026, 12, 7, 14, 3, 4, dt));
  EXPECT_EQ(DosToDateTime(dos), dt);
  EXPECT_EQ(DateTimeToDos(dt), dos);
  ASSERT_TRUE(TryEncodeDateTime(2026, 12, 7, 14, 3, 5, dt));
  EXPECT_EQ(DateTimeToDos(dt), dos);  // odd seconds truncated
}

}  // namespace
}  // namespace vx
