#include "platform/local_time.h"

#include <atomic>
#include <chrono>
#include <cstdio>

#include "platform/local_time_system.h"

namespace ravdel {
namespace {

// Set by tests only; read by whichever thread asks for the time.
std::atomic<WallClock> installedClock{nullptr};

std::int64_t systemMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

std::int64_t unixMillisecondsNow() {
  const WallClock clock = installedClock.load();
  return clock != nullptr ? clock() : systemMilliseconds();
}

void setWallClock(WallClock clock) {
  installedClock.store(clock);
}

LocalTime localTimeNow() {
  return localTimeAt(unixMillisecondsNow());
}

LocalTime localTimeAt(std::int64_t millisecondsSinceEpoch) {
  // Rounded down, also before 1970: -1 ms is 999 ms into the second before.
  std::int64_t seconds = millisecondsSinceEpoch / 1000;
  std::int64_t millis = millisecondsSinceEpoch % 1000;
  if (millis < 0) {
    millis += 1000;
    --seconds;
  }
  LocalTime lt = localTimeAtSecond(seconds);
  lt.millisecond = static_cast<int>(millis);
  return lt;
}

std::string timestampText(const LocalTime& t) {
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

}  // namespace ravdel
