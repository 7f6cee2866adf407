#pragma once

#include <cstdint>
#include <string>

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

// Milliseconds since 1970-01-01 00:00 UTC, from the wall clock (see setWallClock).
std::int64_t unixMillisecondsNow();

// The wall clock that unixMillisecondsNow() and localTimeNow() read: the system's, unless a
// test puts in one of its own (one that stands still, or steps back as the system's may);
// nullptr gives the system's back. Any thread.
using WallClock = std::int64_t (*)();
void setWallClock(WallClock clock);

LocalTime localTimeNow();
// The local time of a moment given in milliseconds since 1970-01-01 00:00 UTC.
LocalTime localTimeAt(std::int64_t millisecondsSinceEpoch);

// "2026-12-08 09:26:53": how a line of a program's diagnostics gives its local time.
std::string timestampText(const LocalTime& t);

// The separators of the user's locale used in captions and log lines.
struct LocaleSeparators {
  char time = ':';
  char decimal = '.';
};

// Reads the separators of the locale the process runs in.
LocaleSeparators currentLocaleSeparators();

}  // namespace ravdel
