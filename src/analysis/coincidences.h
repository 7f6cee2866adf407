#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/database.h"
#include "store/rows.h"

namespace ravdel {

struct CoincidenceQuery {
  std::optional<std::int64_t> sinceUs;  // none: from the first event stored
  std::optional<std::int64_t> untilUs;  // none: to just after the last
  // None: each event's own interval (t_lo..t_hi). A window: two events coincide when their
  // times are at most this far apart.
  std::optional<std::int64_t> windowUs;
  int minStations = 2;
  int shifts = 20;  // searches with shifted times that measure the accidental background
};

// One event of a group, as the search saw it: the station's index into the result's
// stations, its time and the interval that was matched.
struct GroupEvent {
  int station = 0;
  std::int64_t tUs = 0;
  std::int64_t loUs = 0;
  std::int64_t hiUs = 0;
};

// Events whose intervals overlap, from at least minStations different stations, in time
// order.
struct CoincidenceGroup {
  std::vector<GroupEvent> events;
  int stations = 0;
};

// The accidental background: the same search, each time with every station's times shifted by
// its own multiple of 10 s (cyclically within the range, so each keeps its exposure).
struct Background {
  std::vector<std::int64_t> counts;  // groups found by each shifted search
  double expected = 0;               // their mean
  double spread = 0;                 // their standard deviation
  std::string unavailable;           // why there is none (the range is too short)
};

struct CoincidenceResult {
  std::int64_t sinceUs = 0;
  std::int64_t untilUs = 0;
  std::vector<std::string> stations;  // with events in the range, by name
  std::vector<std::int64_t> stationEvents;
  std::vector<CoincidenceGroup> groups;
  Background background;
  double excess = 0;  // found minus expected
  // The excess over its standard deviation: the found count's Poisson spread around the
  // expectation and the expectation's own uncertainty. None without a background.
  std::optional<double> significance;
};

// "auto" (each event's own interval: `windowUs` none) or a window in milliseconds, above 0
// and at most 60000 ("50", "0.2"). False for anything else.
bool parseWindow(std::string_view text, std::optional<std::int64_t>& windowUs);

// The search, a sweep over the merged, time-sorted events of every station. Events whose
// time is flagged as far off take no part. Throws StoreError.
CoincidenceResult searchCoincidences(Database& database, const CoincidenceQuery& query);

// The search in its two steps (the benchmarks time them apart): the intervals of the events of
// the range, read from the store; then the search and its shifted searches, which read nothing.
struct CoincidenceInput;
CoincidenceInput loadCoincidenceInput(Database& database, const CoincidenceQuery& query);
CoincidenceResult searchLoaded(const CoincidenceInput& input, const CoincidenceQuery& query);

// The stored events of a group, in its order (those no longer stored are left out).
std::vector<EventRow> groupEvents(Database& database, const CoincidenceResult& result,
                                  const CoincidenceGroup& group);

// The spacing of the shifts: each station's shift is a different multiple of this.
inline constexpr std::int64_t kShiftStepUs = 10 * 1000000LL;

// ---- The search itself, for the tests and the benchmarks ----

// One event's interval, and its place in its station's list.
struct Hit {
  std::int64_t loUs = 0;
  std::int64_t hiUs = 0;
  std::int32_t station = 0;
  std::int32_t index = 0;
};

// Each station's hits, by the start of their intervals.
using StationHits = std::vector<std::vector<Hit>>;

struct CoincidenceInput {
  std::int64_t sinceUs = 0;
  std::int64_t untilUs = 0;
  std::vector<std::string> stations;             // with events in the range, by name
  StationHits hits;                              // by station, as `stations`
  std::vector<std::vector<std::int64_t>> times;  // each hit's t_us, by station and index
};

// Groups the hits of all stations (each list sorted by loUs) with every station's times moved
// by `shiftsUs[station]`, cyclically within [sinceUs, untilUs); calls `found` for each group
// of at least `minStations` stations (its hits with the shifted intervals). An empty
// `shiftsUs`: no shift.
void sweepGroups(const StationHits& hits, const std::vector<std::int64_t>& shiftsUs,
                 std::int64_t sinceUs, std::int64_t untilUs, int minStations,
                 const std::function<void(const std::vector<Hit>&, int stations)>& found);

// The shifts of search `k` (from 1) for `stations` stations over a range of `rangeUs`: station
// i moves by (i * a_k mod M) * 10 s, M the 10 s steps in the range and a_k the k-th number
// prime to M, so every two stations are a different whole number of steps apart in every
// search. Empty when the range is too short for that.
std::vector<std::int64_t> backgroundShifts(int search, std::size_t stations, std::int64_t rangeUs);

}  // namespace ravdel
