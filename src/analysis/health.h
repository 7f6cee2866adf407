#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/rates.h"
#include "store/database.h"
#include "store/rows.h"

namespace ravdel {

enum class StationState { up, problem, down };
const char* stationStateName(StationState state);  // "up", "problem", "down"

// What a station looks like now: up (a heartbeat in the last 5 minutes), a problem (each one
// in `problems`: no heartbeat for more than 5 minutes, no event in 6 live hours, the last day's
// rate more than 5 sigma from the median of its daily rates, an unsynchronised clock, a flood)
// or down (no heartbeat for an hour, or none at all).
struct StationHealth {
  std::string station;
  StationState state = StationState::down;
  std::vector<std::string> problems;
  std::optional<std::int64_t> lastHeartbeatUs;
  std::optional<std::int64_t> lastEventUs;
  std::optional<bool> clockSynced;  // as the last heartbeat said
  std::int64_t clockErrorUs = 0;
  std::optional<double> lat, lon;
  std::int64_t flags = 0;
};

inline constexpr std::int64_t kQuietUs = 5 * 60 * 1000000LL;         // no heartbeat: a problem
inline constexpr std::int64_t kDownUs = 60 * 60 * 1000000LL;         // no heartbeat: down
inline constexpr std::int64_t kEventlessLiveMs = 6 * 3600 * 1000LL;  // no event in this much
inline constexpr double kRateSigmas = 5.0;

// Every station the store knows, by name, as of `nowUs`. Throws StoreError.
std::vector<StationHealth> stationHealth(Database& database, std::int64_t nowUs);

// The stations table of the page: health and the totals over a range.
struct StationSummary {
  StationHealth health;
  RateBin total;  // events, live time and rate over the range
};
std::vector<StationSummary> stationSummaries(Database& database, std::int64_t nowUs,
                                             std::int64_t sinceUs, std::int64_t untilUs);

}  // namespace ravdel
