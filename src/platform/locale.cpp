#include "platform/locale.h"

#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/date_time.h"
#include "support/strings.h"
#include "support/utils.h"

namespace vx {

namespace {

// The LC_TIME locale the environment names, opened once per distinct setting
// (tests change the environment between cases).
locale_t TimeLocale() {
  static std::string cachedName;
  static locale_t cached = nullptr;
  const std::string name = FirstSetEnv({"LC_ALL", "LC_TIME", "LANG"});
  if (cached && name == cachedName) return cached;
  locale_t loc = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
  if (!loc) loc = ::newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
  if (cached) ::freelocale(cached);
  cached = loc;
  cachedName = name;
  return cached;
}

// The first literal separator of a strftime pattern ("%d.%m.%Y" -> '.').
char SeparatorOf(const char* pattern, char fallback) {
  if (!pattern) return fallback;
  for (const char* p = pattern; *p; ++p) {
    if (*p == '%') {
      ++p;
      while (*p && std::strchr("EO-_0^#", *p)) ++p;  // flags and modifiers
      if (!*p) break;
      continue;
    }
    const unsigned char c = static_cast<unsigned char>(*p);
    if (!std::isalnum(c) && !std::isspace(c)) return *p;
  }
  return fallback;
}

}  // namespace

void InitLocale() {
  std::setlocale(LC_ALL, "");
  // Numbers in files and in parsing stay in the C notation; the user's
  // decimal separator is applied where numbers are shown.
  std::setlocale(LC_NUMERIC, "C");
}

std::string FormatDateTimeC(double dateTime) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  DecodeDateTime(dateTime, y, mo, d, h, mi, s);
  std::tm tm = MakeTm(y, mo, d, h, mi, s);  // week and year day: some locales show them
  const bool midnight = h == 0 && mi == 0 && s == 0;
  char buf[256];
  const std::size_t n = ::strftime_l(buf, sizeof buf, midnight ? "%x" : "%x %X", &tm, TimeLocale());
  return std::string(buf, n);
}

char DateSeparator() { return SeparatorOf(::nl_langinfo_l(D_FMT, TimeLocale()), '/'); }

char TimeSeparator() { return SeparatorOf(::nl_langinfo_l(T_FMT, TimeLocale()), ':'); }

std::string FormatDateTimeStamp(double dateTime) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  DecodeDateTime(dateTime, y, mo, d, h, mi, s);
  const char ds = DateSeparator();
  const char ts = TimeSeparator();
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d%c%02d%c%02d %02d%c%02d%c%02d", y, ds, mo, ds, d, h, ts, mi,
                ts, s);
  return buf;
}

namespace {

// The order of the fields in the locale's short date format: 'd', 'm' and
// 'y' in the order they appear ("%d.%m.%Y" -> "dmy"); "mdy" when unknown.
std::string DateFieldOrder() {
  const char* pattern = ::nl_langinfo_l(D_FMT, TimeLocale());
  std::string order;
  for (const char* p = pattern ? pattern : ""; *p; ++p) {
    if (*p != '%') continue;
    ++p;
    while (*p && std::strchr("EO-_0^#", *p)) ++p;
    switch (*p) {
      case 'd':
      case 'e':
        order += 'd';
        break;
      case 'm':
        order += 'm';
        break;
      case 'y':
      case 'Y':
      case 'C':
      case 'G':
      case 'g':
        order += 'y';
        break;
      case 'D':
        order += "mdy";
        break;
      case 'F':
        order += "ymd";
        break;
      default:
        break;
    }
    if (!*p) break;
  }
  if (order.size() != 3 || order.find('d') == std::string::npos ||
      order.find('m') == std::string::npos || order.find('y') == std::string::npos) {
    return "mdy";
  }
  return order;
}

}  // namespace

bool TryParseShortDate(const std::string& text, double& out) {
  const std::string trimmed = Trim(text, kWhiteSpace);
  const char sep = DateSeparator();
  int fields[3] = {0, 0, 0};
  int digits[3] = {0, 0, 0};
  int n = 0;
  for (const char ch : trimmed) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (std::isdigit(c)) {
      if (digits[n] >= 4) return false;
      fields[n] = fields[n] * 10 + (c - '0');
      ++digits[n];
    } else if (static_cast<char>(c) == sep && digits[n] > 0 && n < 2) {
      ++n;
    } else {
      return false;
    }
  }
  if (n != 2 || digits[2] == 0) return false;
  const std::string order = DateFieldOrder();
  int day = 0, month = 0, year = 0, yearDigits = 0;
  for (int i = 0; i < 3; ++i) {
    switch (order[static_cast<std::size_t>(i)]) {
      case 'd':
        day = fields[i];
        if (digits[i] > 2) return false;
        break;
      case 'm':
        month = fields[i];
        if (digits[i] > 2) return false;
        break;
      default:
        year = fields[i];
        yearDigits = digits[i];
        break;
    }
  }
  if (yearDigits <= 2)
    year += year < 50 ? 2000 : 1900;
  else if (yearDigits != 4)
    return false;
  return TryEncodeDateTime(year, month, day, 0, 0, 0, out);
}

}  // namespace vx
