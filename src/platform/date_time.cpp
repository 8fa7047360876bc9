#include "platform/date_time.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <functional>

namespace vx {

namespace {

constexpr std::int64_t kMsPerDay = 86400000;

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Days since 1899-12-30 of a valid civil date.
std::int64_t DaysFromCivil(int y, int m, int d) {
  // Howard Hinnant's days_from_civil, shifted to the date-time epoch.
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t unixDays = era * 146097 + doe - 719468;
  return unixDays + 25569;  // 1970-01-01 is day 25569
}

void CivilFromDays(std::int64_t days, int& y, int& m, int& d) {
  const std::int64_t z = days - 25569 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

struct Fields {
  int year, month, day, hour, minute, second, ms;
};

// The date part counts whole days; before the epoch the date is negative and
// the time of day is still the (positive) distance from its midnight.
Fields Decode(double dt) {
  std::int64_t days = static_cast<std::int64_t>(std::trunc(dt));
  std::int64_t ms = std::llround(std::fabs(dt - static_cast<double>(days)) * kMsPerDay);
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    days += dt < 0 ? -1 : 1;
  }
  Fields f{};
  CivilFromDays(days, f.year, f.month, f.day);
  f.hour = static_cast<int>(ms / 3600000);
  f.minute = static_cast<int>(ms / 60000 % 60);
  f.second = static_cast<int>(ms / 1000 % 60);
  f.ms = static_cast<int>(ms % 1000);
  return f;
}

double Encode(int y, int mo, int d, int h, int mi, int s) {
  const double date = static_cast<double>(DaysFromCivil(y, mo, d));
  const double time = (h * 3600.0 + mi * 60.0 + s) / 86400.0;
  return date < 0 ? date - time : date + time;
}

std::uint32_t Pack(int y, int mo, int d, int h, int mi, int s) {
  if (y < 1980) return (1u << 5 | 1u) << 16;  // 1980-01-01 00:00:00
  if (y > 2107) {
    return static_cast<std::uint32_t>((127u << 9 | 12u << 5 | 31u) << 16 |
                                      (23u << 11 | 59u << 5 | 29u));
  }
  const std::uint32_t date = static_cast<std::uint32_t>((y - 1980) << 9 | mo << 5 | d);
  const std::uint32_t time = static_cast<std::uint32_t>(h << 11 | mi << 5 | s / 2);
  return date << 16 | time;
}

// Fields of a DOS date-time, made valid where the packed value is not (a
// zero month or day becomes 1, out-of-range clock fields are capped).
Fields Unpack(std::uint32_t dos) {
  Fields f{};
  const std::uint32_t date = dos >> 16;
  const std::uint32_t time = dos & 0xFFFF;
  f.year = 1980 + static_cast<int>(date >> 9);
  f.month = static_cast<int>(date >> 5 & 0x0F);
  f.day = static_cast<int>(date & 0x1F);
  if (f.month < 1) f.month = 1;
  if (f.month > 12) f.month = 12;
  if (f.day < 1) f.day = 1;
  if (f.day > DaysInMonth(f.year, f.month)) f.day = DaysInMonth(f.year, f.month);
  f.hour = static_cast<int>(time >> 11);
  f.minute = static_cast<int>(time >> 5 & 0x3F);
  f.second = static_cast<int>(time & 0x1F) * 2;
  if (f.hour > 23) f.hour = 23;
  if (f.minute > 59) f.minute = 59;
  if (f.second > 59) f.second = 58;
  return f;
}

std::int64_t LocalToUnix(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm = MakeTm(y, mo, d, h, mi, s);
  return static_cast<std::int64_t>(std::mktime(&tm));
}

bool UnixToLocal(std::int64_t t, std::tm& tm) {
  const std::time_t tt = static_cast<std::time_t>(t);
  return ::localtime_r(&tt, &tm) != nullptr;
}

}  // namespace

std::tm MakeTm(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  std::tm norm = tm;
  ::timegm(&norm);  // fills the week day and year day
  tm.tm_wday = norm.tm_wday;
  tm.tm_yday = norm.tm_yday;
  tm.tm_isdst = -1;
  return tm;
}

std::uint32_t UnixToDos(std::int64_t unixSeconds) {
  std::tm tm{};
  if (!UnixToLocal(unixSeconds, tm))
    return unixSeconds < 0 ? Pack(1979, 1, 1, 0, 0, 0) : Pack(2108, 1, 1, 0, 0, 0);
  return Pack(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

std::int64_t DosToUnix(std::uint32_t dos) {
  const Fields f = Unpack(dos);
  return LocalToUnix(f.year, f.month, f.day, f.hour, f.minute, f.second);
}

std::int64_t TDosTimes::ToUnix(std::uint32_t dos) {
  constexpr std::uint32_t kWithinHour = 0x7FF;  // 6 bits of minutes, 5 of two seconds
  const std::uint32_t hour = dos & ~kWithinHour;
  TEntry& e = entries_[(hour >> 11) % (sizeof entries_ / sizeof entries_[0])];
  if (e.hour != hour || hour == 0) {
    e.hour = hour;
    e.start = DosToUnix(hour);
  }
  const Fields f = Unpack(dos);
  // Fields beyond their range are normalised by the look-up itself; such
  // values take the slow way.
  if (f.hour > 23 || f.minute > 59 || f.second > 59) return DosToUnix(dos);
  return e.start + std::int64_t{f.minute} * 60 + f.second;
}

double DosToDateTime(std::uint32_t dos) {
  const Fields f = Unpack(dos);
  return Encode(f.year, f.month, f.day, f.hour, f.minute, f.second);
}

std::uint32_t DateTimeToDos(double dateTime) {
  if (!std::isfinite(dateTime)) return Pack(1979, 1, 1, 0, 0, 0);
  if (dateTime > 2958465.0) return Pack(2108, 1, 1, 0, 0, 0);  // beyond 9999-12-31
  if (dateTime < -693593.0) return Pack(1979, 1, 1, 0, 0, 0);  // before 0001-01-01
  const Fields f = Decode(dateTime);
  return Pack(f.year, f.month, f.day, f.hour, f.minute, f.second);
}

double UnixToDateTime(std::int64_t unixSeconds) {
  std::tm tm{};
  if (!UnixToLocal(unixSeconds, tm)) return 0.0;
  return Encode(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

std::int64_t DateTimeToUnix(double dateTime) {
  if (!std::isfinite(dateTime) || dateTime > 2958466.0 || dateTime < -693593.0) return 0;
  const Fields f = Decode(dateTime);
  return LocalToUnix(f.year, f.month, f.day, f.hour, f.minute, f.second);
}

double NowDateTime() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  const double whole = UnixToDateTime(ts.tv_sec);
  const long wholeMs = ts.tv_nsec / 1000000;
  const double frac = static_cast<double>(wholeMs) / static_cast<double>(kMsPerDay);
  return whole + frac;
}

bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                       double& out) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59) {
    return false;
  }
  out = Encode(year, month, day, hour, minute, second);
  return true;
}

void DecodeDateTime(double dateTime, int& year, int& month, int& day, int& hour, int& minute,
                    int& second) {
  if (!std::isfinite(dateTime) || dateTime > 2958466.0 || dateTime < -693594.0) dateTime = 0.0;
  const Fields f = Decode(dateTime);
  year = f.year;
  month = f.month;
  day = f.day;
  hour = f.hour;
  minute = f.minute;
  second = f.second;
}

namespace {
std::function<std::uint64_t()> tickSource;
}  // namespace

void SetTickSourceForTests(std::function<std::uint64_t()> source) {
  tickSource = std::move(source);
}

std::uint64_t TickCountMs() {
  if (tickSource) return tickSource();
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace vx
