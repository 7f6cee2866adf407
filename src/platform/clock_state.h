#pragma once

#include <cstdint>

namespace ravdel {

// How far the system clock may be from true UTC, as the time daemon (chrony, ntpd) last told
// the kernel. Where the system cannot say, synced is false and the bound unknown.
struct ClockState {
  bool synced = false;
  std::int64_t maxErrorUs = 0;  // the kernel's bound on the clock's error; with synced only
};

// A fresh reading; cheap enough for every event.
ClockState systemClockState();

}  // namespace ravdel
