#pragma once

#include <cstdint>

namespace ravdel {

// A local wall-clock moment to the millisecond.
struct LocalTime {
  int year = 0;    // e.g. 2015
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;    // 0..23
  int minute = 0;  // 0..59
  int second = 0;  // 0..59
  int millisecond = 0;
  int utcOffsetMinutes = 0;  // local time minus UTC at that moment (120 for UTC+2)
};

// Milliseconds since 1970-01-01 00:00 UTC, from the system's wall clock.
std::int64_t unixMillisecondsNow();

LocalTime localTimeNow();
// The local time of a moment given in milliseconds since 1970-01-01 00:00 UTC.
LocalTime localTimeAt(std::int64_t millisecondsSinceEpoch);

// The separators of the user's locale used in captions and log lines.
struct LocaleSeparators {
  char time = ':';
  char decimal = '.';
};

// Reads the separators of the locale the process runs in.
LocaleSeparators currentLocaleSeparators();

}  // namespace ravdel
