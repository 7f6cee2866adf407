#include "platform/local_time.h"

#include <chrono>

#include "platform/local_time_system.h"

namespace ravdel {

std::int64_t unixMillisecondsNow() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
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

}  // namespace ravdel
