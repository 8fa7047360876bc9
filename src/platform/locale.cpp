#include "platform/locale.h"

#include <langinfo.h>
#include <locale.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/date_time.h"

namespace vx {

namespace {

// The LC_TIME locale the environment names, opened once per distinct setting
// (tests change the environment between cases).
locale_t TimeLocale() {
  static std::string cachedName;
  static locale_t cached = nullptr;
  std::string name;
  for (const char* var : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) {
      name = v;
      break;
    }
  }
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

}  // namespace vx
