#pragma once
// Date-times: DOS date-time (date in the high half, time in the low half,
// local time, two-second resolution) and the date-time double (days since
// 1899-12-30, local time, time of day as the fraction).
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace vx {

// Local DOS date-time of a POSIX time, truncated to two seconds; years before
// 1980 become 1980-01-01 00:00:00, after 2107 2107-12-31 23:59:58.
std::uint32_t UnixToDos(std::int64_t unixSeconds);
std::int64_t DosToUnix(std::uint32_t dos);

// DosToUnix for the many files of one run: the local hour's start is looked
// up once (the time zone's rules are read for each look-up) and the minutes
// and seconds added, so files of the same hour cost no look-up.  Daylight
// saving changes on the hour, so the result is DosToUnix's.  Holds a few
// hours; no allocation.
class TDosTimes {
 public:
  std::int64_t ToUnix(std::uint32_t dos);

 private:
  struct TEntry {
    std::uint32_t hour = 0;  // the DOS value with minutes and seconds cleared; 0: empty
    std::int64_t start = 0;
  };
  TEntry entries_[64];
};

double DosToDateTime(std::uint32_t dos);
std::uint32_t DateTimeToDos(double dateTime);

double UnixToDateTime(std::int64_t unixSeconds);
std::int64_t DateTimeToUnix(double dateTime);

double NowDateTime();

// Builds a date-time from its fields; false when the date or time is invalid.
bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second, double& out);
void DecodeDateTime(double dateTime, int& year, int& month, int& day, int& hour, int& minute,
                    int& second);

// A struct tm holding the given local fields (week and year day filled in,
// daylight saving left for the library to find).
std::tm MakeTm(int year, int month, int day, int hour, int minute, int second);

// Milliseconds of a monotonic clock, for elapsed times.
std::uint64_t TickCountMs();
// Tests only: TickCountMs answers with source() instead of the clock (a
// clock held still makes the cadence of progress reports depend on the
// blocks alone); nullptr brings the clock back.
void SetTickSourceForTests(std::function<std::uint64_t()> source);

}  // namespace vx
