#pragma once

#include <cstdint>
#include <string>

#include "store/rows.h"
#include "store/time_bins.h"

namespace ravdel::test {

// The start of the hour the figures' tests put their rows in (2026-01-18, 06:00 UTC).
inline constexpr std::int64_t kHour0 = 491310 * kHourUs;

// An event of `station` at `tUs` with an interval of ±`halfUs`, run "r1" unless given.
inline EventRow eventAt(const std::string& station, std::int64_t seq, std::int64_t tUs,
                        std::int64_t halfUs = 1000, const std::string& run = "r1") {
  EventRow e;
  e.station = station;
  e.runId = run;
  e.seq = seq;
  e.tUs = tUs;
  e.tLoUs = tUs - halfUs;
  e.tHiUs = tUs + halfUs;
  e.clockSynced = true;
  e.width = 320;
  e.height = 240;
  e.r = e.g = e.b = 200;
  e.limit = 150;
  return e;
}

// A heartbeat of `station` over [fromUs, toUs) with `liveMs` of it live.
inline HeartbeatRow heartbeatOver(const std::string& station, std::int64_t seq, std::int64_t fromUs,
                                  std::int64_t toUs, std::int64_t liveMs,
                                  const std::string& run = "r1") {
  HeartbeatRow h;
  h.station = station;
  h.runId = run;
  h.hbSeq = seq;
  h.fromUs = fromUs;
  h.toUs = toUs;
  h.liveMs = liveMs;
  h.clockSynced = true;
  h.clockErrorUs = 2000;
  return h;
}

}  // namespace ravdel::test
