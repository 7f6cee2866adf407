#include <sys/timex.h>

#include "platform/clock_state.h"

namespace ravdel {

// ntp_adjtime with no mode bits only reads. TIME_ERROR or STA_UNSYNC: no daemon vouches for
// the clock, and maxerror then grows without meaning.
ClockState systemClockState() {
  timex reading{};
  const int state = ntp_adjtime(&reading);
  ClockState clock;
  clock.synced = state != -1 && state != TIME_ERROR && (reading.status & STA_UNSYNC) == 0;
  if (clock.synced) clock.maxErrorUs = reading.maxerror;
  return clock;
}

}  // namespace ravdel
