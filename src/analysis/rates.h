#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "store/database.h"

namespace ravdel {

// The events of one station in one bin, its live time (from the heartbeats, never the wall
// clock) and the rate per hour of live time with its 68 % interval. A bin without live time
// has no rate.
struct RateBin {
  std::string station;
  std::int64_t startUs = 0;
  std::int64_t widthUs = 0;
  std::int64_t events = 0;
  std::int64_t liveMs = 0;
  std::optional<double> perHour;
  double lowPerHour = 0;
  double highPerHour = 0;
  double liveShare = 0;  // live time over the bin's length
};

// `events` in `liveMs` as a rate per hour with its interval; none without live time.
void setRate(RateBin& bin);

struct RateQuery {
  std::optional<std::string> station;  // none: every station
  std::int64_t sinceUs = 0;            // from the start of the bin that holds it
  std::int64_t untilUs = 0;            // up to, not including
  std::int64_t binUs = 0;              // kHourUs, kDayUs or a part of an hour
};

// Bins of an hour or longer come from the hourly counts; shorter ones from the events and
// heartbeats themselves (for a few days at most). Bins with neither events nor live time are
// left out. By station, then time. Throws StoreError.
std::vector<RateBin> rates(Database& database, const RateQuery& query);

// The whole hours of [sinceUs, untilUs) that hold a station's counts: [first, last + 1 h).
// Nothing when none do.
std::optional<std::pair<std::int64_t, std::int64_t>> countedSpan(Database& database,
                                                                 const std::string& station,
                                                                 std::int64_t sinceUs,
                                                                 std::int64_t untilUs);

// The stations the hourly counts name, by name.
std::vector<std::string> countedStations(Database& database);

// Each station's sums over [sinceUs, untilUs) (whole hours) as one bin, by station.
std::vector<RateBin> rateTotals(Database& database, std::int64_t sinceUs, std::int64_t untilUs);

}  // namespace ravdel
