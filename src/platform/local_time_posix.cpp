// Local time and the locale's separators through the C library.
#include <langinfo.h>

#include <ctime>

#include "platform/local_time.h"
#include "platform/local_time_system.h"

namespace ravdel {
namespace {

// The first character of a time format such as "%H:%M:%S" that is not part of a conversion.
char separatorOf(const char* format) {
  for (const char* p = format; p != nullptr && *p != '\0'; ++p) {
    if (*p == '%') {
      ++p;
      while (*p == 'E' || *p == 'O')
        ++p;
      if (*p == '\0') break;
      continue;
    }
    if (*p != ' ') return *p;
  }
  return ':';
}

}  // namespace

LocalTime localTimeAtSecond(std::int64_t seconds) {
  const auto t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  localtime_r(&t, &tm);
  LocalTime lt;
  lt.year = tm.tm_year + 1900;
  lt.month = tm.tm_mon + 1;
  lt.day = tm.tm_mday;
  lt.hour = tm.tm_hour;
  lt.minute = tm.tm_min;
  lt.second = tm.tm_sec;
  lt.utcOffsetMinutes = static_cast<int>(tm.tm_gmtoff / 60);
  return lt;
}

LocaleSeparators currentLocaleSeparators() {
  LocaleSeparators s;
  s.time = separatorOf(nl_langinfo(T_FMT));
  const char* radix = nl_langinfo(RADIXCHAR);
  if (radix != nullptr && radix[0] != '\0') s.decimal = radix[0];
  return s;
}

}  // namespace ravdel
