#pragma once
// Formatting that follows the user's locale.
#include <string>

namespace vx {

// Takes the user's locale from the environment (LC_ALL, LC_TIME, LANG ...).
void InitLocale();

// The "c" format: the locale's short date, a space and its long time; the time
// is left out at exactly midnight.
std::string FormatDateTimeC(double dateTime);

// "yyyy/mm/dd hh:nn:ss" with "/" and ":" replaced by the locale's date and
// time separators.
std::string FormatDateTimeStamp(double dateTime);
char DateSeparator();
char TimeSeparator();

}  // namespace vx

namespace vx {

// Reads text as a date in the user's short date format (the order of day,
// month and year and the separator of the locale's date format); blanks
// around it are allowed, a two-digit year means 2000-2049 or 1950-1999.
// The result is the date's midnight; false when the text is no valid date.
bool TryParseShortDate(const std::string& text, double& out);

}  // namespace vx
