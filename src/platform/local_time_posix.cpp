// Local time and the locale's separators through the C library.
#include <langinfo.h>

#include <chrono>
#include <ctime>

#include "platform/local_time.h"

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

std::int64_t unixMillisecondsNow() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

LocalTime localTimeNow() {
  return localTimeAt(unixMillisecondsNow());
}

LocalTime localTimeAt(std::int64_t millisecondsSinceEpoch) {
  std::int64_t seconds = millisecondsSinceEpoch / 1000;
  std::int64_t millis = millisecondsSinceEpoch % 1000;
  if (millis < 0) {
    millis += 1000;
    --seconds;
  }
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
  lt.millisecond = static_cast<int>(millis);
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
