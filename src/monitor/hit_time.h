#pragma once

#include <cstdint>
#include <string>

#include "capture/capture_device.h"
#include "monitor/event_sink.h"
#include "platform/clock_state.h"

namespace ravdel {

// The interval of a hit in a frame taken at `moment`: the exposure is the period before the
// moment (the device's, else `nominalPeriodUs`), widened on both sides by the clock's error
// bound (the system's when it vouches for its clock, else `fallbackErrorUs`).
HitTime hitTime(const FrameMoment& moment, std::int64_t nominalPeriodUs, const ClockState& clock,
                std::int64_t fallbackErrorUs);

// A new run's identity: 16 hexadecimal digits, random.
std::string newRunId();

}  // namespace ravdel
