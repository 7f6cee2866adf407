#include "monitor/hit_time.h"

#include <cstdio>
#include <random>

namespace ravdel {

HitTime hitTime(const FrameMoment& moment, std::int64_t nominalPeriodUs, const ClockState& clock,
                std::int64_t fallbackErrorUs) {
  const std::int64_t period = moment.periodUs > 0 ? moment.periodUs : nominalPeriodUs;
  const std::int64_t error = clock.synced ? clock.maxErrorUs : fallbackErrorUs;
  HitTime t;
  t.us = moment.utcUs - period / 2;
  t.loUs = moment.utcUs - period - error;
  t.hiUs = moment.utcUs + error;
  t.clockSynced = clock.synced;
  return t;
}

std::string newRunId() {
  std::random_device source;
  const std::uint64_t value = (std::uint64_t{source()} << 32) ^ source();
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace ravdel
