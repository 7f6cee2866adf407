#include "analysis/coincidences.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <numeric>
#include <thread>
#include <utility>

#include "store/row_columns.h"
#include "store/time_bins.h"

namespace ravdel {
namespace {

// Chains longer than this (a window so wide that everything chains) are split by the linear
// rule rather than by depth.
constexpr std::size_t kExactSplitLimit = 64;
// Threads for the shifted searches at most.
constexpr std::size_t kBackgroundThreads = 4;

using Found = std::function<void(const std::vector<Hit>&, int stations)>;

// Groups are small: a station counts when no earlier hit of the group has it.
int distinctStations(const std::vector<Hit>& hits) {
  int distinct = 0;
  for (std::size_t i = 0; i < hits.size(); ++i) {
    std::size_t j = 0;
    while (j < i && hits[j].station != hits[i].station)
      ++j;
    if (j == i) ++distinct;
  }
  return distinct;
}

bool containsCommonPoint(const std::vector<Hit>& hits) {
  std::int64_t latestStart = hits.front().loUs, earliestEnd = hits.front().hiUs;
  for (const Hit& hit : hits) {
    latestStart = std::max(latestStart, hit.loUs);
    earliestEnd = std::min(earliestEnd, hit.hiUs);
  }
  return latestStart <= earliestEnd;
}

std::int64_t middle(const Hit& hit) {
  return hit.loUs + (hit.hiUs - hit.loUs) / 2;
}

bool repeatsAStation(const std::vector<Hit>& hits) {
  return distinctStations(hits) != static_cast<int>(hits.size());
}

// The intervals that hold `instant`, one per station: a station sees one instant once, so of
// two frames of a station that both hold it, the one whose middle lies nearer is taken.
void holding(const std::vector<Hit>& hits, std::int64_t instant, std::vector<Hit>& members) {
  members.clear();
  for (const Hit& hit : hits) {
    if (hit.loUs > instant || hit.hiUs < instant) continue;
    const auto same = std::find_if(members.begin(), members.end(),
                                   [&](const Hit& m) { return m.station == hit.station; });
    if (same == members.end()) {
      members.push_back(hit);
    } else if (std::llabs(middle(hit) - instant) < std::llabs(middle(*same) - instant)) {
      *same = hit;
    }
  }
}

// Splits a chain of overlapping intervals that share no instant, or that holds two events of
// one station: the instant held by the most stations is taken first (on a tie, the one whose
// intervals' middles lie closest together: a shower's events crowd round its instant, a
// chance neighbour does not), its intervals form a group, and the rest is split again.
void splitByDepth(std::vector<Hit> rest, const std::function<void(const std::vector<Hit>&)>& take) {
  std::vector<Hit> members, best;
  while (!rest.empty()) {
    std::size_t bestDepth = 0;
    std::int64_t bestSpread = 0;
    for (const Hit& candidate : rest) {
      holding(rest, candidate.loUs, members);
      std::int64_t first = INT64_MAX, last = INT64_MIN;
      for (const Hit& hit : members) {
        first = std::min(first, middle(hit));
        last = std::max(last, middle(hit));
      }
      const std::int64_t spread = last - first;
      if (members.size() > bestDepth || (members.size() == bestDepth && spread < bestSpread)) {
        bestDepth = members.size();
        bestSpread = spread;
        best = members;
      }
    }
    take(best);
    std::erase_if(rest, [&](const Hit& hit) {
      return std::any_of(best.begin(), best.end(), [&](const Hit& b) {
        return b.station == hit.station && b.index == hit.index;
      });
    });
  }
}

// The linear rule: in order of start, a group goes on while the next interval starts before
// the group's earliest end.
void splitByStart(const std::vector<Hit>& chain,
                  const std::function<void(const std::vector<Hit>&)>& take) {
  std::vector<Hit> group;
  std::int64_t earliestEnd = 0;
  for (const Hit& hit : chain) {
    if (!group.empty() && hit.loUs > earliestEnd) {
      take(group);
      group.clear();
    }
    earliestEnd = group.empty() ? hit.hiUs : std::min(earliestEnd, hit.hiUs);
    group.push_back(hit);
  }
  take(group);
}

// Takes hits in order of start and cuts them into chains of overlapping intervals; each chain
// is split into groups whose intervals share an instant, and those of enough stations are
// reported.
class ChainSweep {
 public:
  ChainSweep(int minStations, const Found& found) : minStations_(minStations), found_(found) {}

  void add(const Hit& hit) {
    if (!chain_.empty() && hit.loUs > chainEnd_) close();
    chainEnd_ = chain_.empty() ? hit.hiUs : std::max(chainEnd_, hit.hiUs);
    chain_.push_back(hit);
  }

  void close() {
    if (chain_.size() >= 2) split();
    chain_.clear();
  }

 private:
  void split() {
    const auto report = [&](const std::vector<Hit>& group) {
      if (group.size() < 2) return;
      const int stations = distinctStations(group);
      if (stations >= minStations_) found_(group, stations);
    };
    if (containsCommonPoint(chain_) && !repeatsAStation(chain_)) {
      report(chain_);
    } else if (chain_.size() > kExactSplitLimit) {
      splitByStart(chain_, report);
    } else {
      splitByDepth(chain_, report);
    }
  }

  int minStations_;
  const Found& found_;
  std::vector<Hit> chain_;
  std::int64_t chainEnd_ = 0;
};

// The order of the sweep: by start, then by station and place in its list, so that two hits
// that start together always meet in the same order.
bool earlier(const Hit& x, const Hit& y) {
  if (x.loUs != y.loUs) return x.loUs < y.loUs;
  return x.station != y.station ? x.station < y.station : x.index < y.index;
}

// A stretch of one station's list whose starts all move by `offsetUs` in a search: its shift,
// less the range as often as the shift wraps that stretch round.
struct Run {
  const Hit* next = nullptr;
  const Hit* end = nullptr;
  std::int64_t offsetUs = 0;
};

// What one sweep works in, kept from search to search by the thread that runs them.
struct SweepSpace {
  std::vector<Run> runs;
  std::vector<Hit> slice, order;
  std::vector<std::uint32_t> counts, next;
};

// Hits per slice of time on average: a slice and its sorting space (about 200 KB) stay in the
// processor's second-level cache, where the whole year's hits would not; much smaller slices
// visit every station's runs more often for a few hits each.
constexpr double kSliceHits = 4096;

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return a % b < 0 ? q - 1 : q;
}

// Each station's list, moved by its shift cyclically within [since, since + range) (not moved
// without shifts), as runs that stay sorted: a shift only cuts a sorted list where it wraps.
void cutIntoRuns(const StationHits& hits, const std::vector<std::int64_t>& shifts,
                 std::int64_t since, std::int64_t range, std::vector<Run>& runs) {
  runs.clear();
  for (std::size_t s = 0; s < hits.size(); ++s) {
    const Hit* first = hits[s].data();
    const Hit* last = first + hits[s].size();
    if (shifts.empty()) {
      if (first != last) runs.push_back({first, last, 0});
      continue;
    }
    const std::int64_t shift = shifts[s];
    while (first != last) {
      const std::int64_t lap = floorDiv(first->loUs - since + shift, range);
      const Hit* end = std::partition_point(first, last, [&](const Hit& hit) {
        return floorDiv(hit.loUs - since + shift, range) == lap;
      });
      runs.push_back({first, end, shift - lap * range});
      first = end;
    }
  }
}

// Sorts the slice, whose starts lie in [from, from + width), by `earlier` in about linear time:
// a bucket per hit on average, then each bucket by insertion, or by std::sort when crowded.
void sortSlice(SweepSpace& space, std::int64_t from, std::int64_t width) {
  std::vector<Hit>& hits = space.slice;
  const std::size_t buckets = std::max<std::size_t>(1, hits.size());
  const double perUs = static_cast<double>(buckets) / static_cast<double>(width);
  const auto bucketOf = [&](const Hit& hit) {
    const std::int64_t at = std::clamp<std::int64_t>(hit.loUs - from, 0, width - 1);
    return std::min(static_cast<std::size_t>(static_cast<double>(at) * perUs), buckets - 1);
  };
  std::vector<std::uint32_t>& counts = space.counts;
  counts.assign(buckets + 1, 0);
  for (const Hit& hit : hits)
    ++counts[bucketOf(hit) + 1];
  for (std::size_t b = 1; b <= buckets; ++b)
    counts[b] += counts[b - 1];
  space.order.resize(hits.size());
  space.next.assign(counts.begin(), counts.end() - 1);
  for (const Hit& hit : hits)
    space.order[space.next[bucketOf(hit)]++] = hit;
  for (std::size_t b = 0; b < buckets; ++b) {
    const auto first = space.order.begin() + counts[b], last = space.order.begin() + counts[b + 1];
    if (last - first > 32) {
      std::sort(first, last, earlier);
      continue;
    }
    for (auto i = first + (first != last ? 1 : 0); i < last; ++i)
      for (auto j = i; j != first && earlier(*j, *(j - 1)); --j)
        std::iter_swap(j, j - 1);
  }
  hits.swap(space.order);
}

// Merges the runs a slice of time at a time, each slice sorted, into the sweep. A slice
// starts where the earliest hit left is, so stretches without hits cost nothing.
void mergeRuns(SweepSpace& space, std::int64_t width, ChainSweep& sweep) {
  std::int64_t from = INT64_MAX;
  for (const Run& run : space.runs)
    from = std::min(from, run.next->loUs + run.offsetUs);
  while (from != INT64_MAX) {
    const std::int64_t to = from > INT64_MAX - width ? INT64_MAX : from + width;
    std::int64_t nextFrom = INT64_MAX;
    space.slice.clear();
    for (Run& run : space.runs) {
      for (; run.next != run.end && run.next->loUs + run.offsetUs < to; ++run.next) {
        Hit moved = *run.next;
        moved.loUs += run.offsetUs;
        moved.hiUs += run.offsetUs;
        space.slice.push_back(moved);
      }
      if (run.next != run.end) nextFrom = std::min(nextFrom, run.next->loUs + run.offsetUs);
    }
    sortSlice(space, from, to - from);
    for (const Hit& hit : space.slice)
      sweep.add(hit);
    from = nextFrom;
  }
}

void sweepIn(SweepSpace& space, const StationHits& hits, const std::vector<std::int64_t>& shiftsUs,
             std::int64_t sinceUs, std::int64_t untilUs, int minStations, const Found& found) {
  const std::int64_t range = untilUs - sinceUs;
  cutIntoRuns(hits, shiftsUs, sinceUs, range, space.runs);
  std::size_t total = 0;
  for (const auto& list : hits)
    total += list.size();
  const double width = static_cast<double>(range) * kSliceHits / static_cast<double>(total + 1);
  ChainSweep sweep(minStations, found);
  mergeRuns(space, std::llround(std::max(1.0, std::min(width, static_cast<double>(range)))), sweep);
  sweep.close();
}

// The stations with events in the range, by name, each with about how many it has (the
// hourly counts, by whole hours).
std::vector<std::pair<std::string, std::int64_t>> stationsWithEvents(Database& database,
                                                                     std::int64_t since,
                                                                     std::int64_t until) {
  const auto query = database.prepare(
      "SELECT station, sum(events) FROM hourly_counts WHERE events > 0 AND hour_us >= $1 AND "
      "hour_us < $2 GROUP BY station ORDER BY station");
  query->bind(1, binStart(since, kHourUs));
  query->bind(2, until);
  std::vector<std::pair<std::string, std::int64_t>> stations;
  while (query->step())
    stations.emplace_back(query->text(0), query->integer(1));
  return stations;
}

// Puts a station's hits in order of start, their times with them, where the intervals' widths
// vary so much that time order is not that order already. Hits that start together keep
// their order in time.
void orderByStart(std::vector<Hit>& hits, std::vector<std::int64_t>& times) {
  const auto start = [](const Hit& a, const Hit& b) { return a.loUs < b.loUs; };
  if (std::is_sorted(hits.begin(), hits.end(), start)) return;
  std::vector<std::size_t> order(hits.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return hits[a].loUs < hits[b].loUs; });
  std::vector<Hit> sorted;
  std::vector<std::int64_t> sortedTimes;
  sorted.reserve(hits.size());
  sortedTimes.reserve(times.size());
  for (const std::size_t i : order) {
    sorted.push_back(hits[i]);
    sorted.back().index = static_cast<std::int32_t>(sorted.size() - 1);
    sortedTimes.push_back(times[i]);
  }
  hits.swap(sorted);
  times.swap(sortedTimes);
}

// Each station's intervals in time order, straight from the index that holds them.
CoincidenceInput loadHits(Database& database, const CoincidenceQuery& query, std::int64_t since,
                          std::int64_t until) {
  CoincidenceInput loaded;
  loaded.sinceUs = since;
  loaded.untilUs = until;
  const auto events = database.prepare(
      "SELECT t_us, t_lo_us, t_hi_us FROM events WHERE station = $1 AND t_us >= $2 AND "
      "t_us < $3 AND (flags & 1) = 0 ORDER BY t_us");
  for (auto& [station, expected] : stationsWithEvents(database, since, until)) {
    events->reset();
    events->bind(1, station);
    events->bind(2, since);
    events->bind(3, until);
    const auto index = static_cast<std::int32_t>(loaded.stations.size());
    std::vector<Hit> hits;
    std::vector<std::int64_t> times;
    hits.reserve(static_cast<std::size_t>(std::max<std::int64_t>(expected, 0)));
    times.reserve(hits.capacity());
    while (events->step()) {
      const std::int64_t t = events->integer(0);
      Hit& hit = hits.emplace_back();
      if (query.windowUs) {
        hit.loUs = t - *query.windowUs / 2;
        hit.hiUs = hit.loUs + *query.windowUs;
      } else {
        hit.loUs = events->integer(1);
        hit.hiUs = events->integer(2);
      }
      hit.station = index;
      hit.index = static_cast<std::int32_t>(hits.size() - 1);
      times.push_back(t);
    }
    if (hits.empty()) continue;
    orderByStart(hits, times);
    loaded.stations.push_back(std::move(station));
    loaded.hits.push_back(std::move(hits));
    loaded.times.push_back(std::move(times));
  }
  return loaded;
}

// [first event, last event] of the hourly counts, in whole hours.
void wholeRange(Database& database, std::int64_t& since, std::int64_t& until) {
  const auto range =
      database.prepare("SELECT min(hour_us), max(hour_us) FROM hourly_counts WHERE events > 0");
  if (range->step() && !range->isNull(0)) {
    since = range->integer(0);
    until = range->integer(1) + kHourUs;
  }
}

// The shifted searches, shared out over a few threads of their own (each search reads the
// hits and writes only its own count).
Background measureBackground(const StationHits& hits, const CoincidenceQuery& query,
                             std::int64_t since, std::int64_t until) {
  Background background;
  std::vector<std::vector<std::int64_t>> shifts;
  for (int k = 1; k <= query.shifts; ++k) {
    shifts.push_back(backgroundShifts(k, hits.size(), until - since));
    if (shifts.back().empty()) {
      background.unavailable = "the range is too short for " + std::to_string(query.shifts) +
                               " shifted searches of " + std::to_string(hits.size()) +
                               " stations: it needs more than " + std::to_string(hits.size() * 10) +
                               " s";
      return background;
    }
  }
  background.counts.assign(shifts.size(), 0);
  const auto search = [&](std::size_t first, std::size_t step) {
    SweepSpace space;
    for (std::size_t k = first; k < shifts.size(); k += step)
      sweepIn(space, hits, shifts[k], since, until, query.minStations,
              [&](const std::vector<Hit>&, int) { ++background.counts[k]; });
  };
  const std::size_t threads =
      std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, kBackgroundThreads);
  std::vector<std::thread> workers;
  for (std::size_t t = 1; t < threads; ++t)
    workers.emplace_back(search, t, threads);
  search(0, threads);
  for (std::thread& worker : workers)
    worker.join();

  const auto n = static_cast<double>(background.counts.size());
  background.expected = static_cast<double>(std::accumulate(
                            background.counts.begin(), background.counts.end(), std::int64_t{0})) /
                        n;
  double squares = 0;
  for (const std::int64_t count : background.counts)
    squares += std::pow(static_cast<double>(count) - background.expected, 2);
  background.spread = n > 1 ? std::sqrt(squares / (n - 1)) : 0.0;
  return background;
}

}  // namespace

void sweepGroups(const StationHits& hits, const std::vector<std::int64_t>& shiftsUs,
                 std::int64_t sinceUs, std::int64_t untilUs, int minStations,
                 const std::function<void(const std::vector<Hit>&, int stations)>& found) {
  SweepSpace space;
  sweepIn(space, hits, shiftsUs, sinceUs, untilUs, minStations, found);
}

std::vector<std::int64_t> backgroundShifts(int search, std::size_t stations, std::int64_t rangeUs) {
  const std::int64_t steps = rangeUs / kShiftStepUs;
  if (search < 1 || steps < 2 || static_cast<std::int64_t>(stations) > steps) return {};
  std::int64_t multiplier = 0;
  for (int found = 0; found < search;) {
    if (++multiplier >= steps) return {};
    if (std::gcd(multiplier, steps) == 1) ++found;
  }
  std::vector<std::int64_t> shifts;
  for (std::size_t i = 0; i < stations; ++i)
    shifts.push_back(static_cast<std::int64_t>(i) * multiplier % steps * kShiftStepUs);
  return shifts;
}

bool parseWindow(std::string_view text, std::optional<std::int64_t>& windowUs) {
  if (text == "auto") {
    windowUs.reset();
    return true;
  }
  double ms = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), ms);
  if (error != std::errc() || end != text.data() + text.size() || !(ms > 0) || ms > 60000)
    return false;
  windowUs = std::max<std::int64_t>(1, std::llround(ms * 1000));
  return true;
}

CoincidenceInput loadCoincidenceInput(Database& database, const CoincidenceQuery& query) {
  std::int64_t since = 0, until = 0;
  if (!query.sinceUs || !query.untilUs) wholeRange(database, since, until);
  since = query.sinceUs.value_or(since);
  until = query.untilUs.value_or(until);
  if (until <= since) {
    CoincidenceInput empty;
    empty.sinceUs = since;
    empty.untilUs = until;
    return empty;
  }
  return loadHits(database, query, since, until);
}

CoincidenceResult searchLoaded(const CoincidenceInput& input, const CoincidenceQuery& query) {
  CoincidenceResult result;
  result.sinceUs = input.sinceUs;
  result.untilUs = input.untilUs;
  result.stations = input.stations;
  if (input.hits.empty()) return result;
  for (const auto& list : input.hits)
    result.stationEvents.push_back(static_cast<std::int64_t>(list.size()));
  sweepGroups(
      input.hits, {}, result.sinceUs, result.untilUs, query.minStations,
      [&](const std::vector<Hit>& hits, int stations) {
        CoincidenceGroup group;
        group.stations = stations;
        for (const Hit& hit : hits) {
          const auto station = static_cast<std::size_t>(hit.station);
          const auto index = static_cast<std::size_t>(hit.index);
          group.events.push_back({hit.station, input.times[station][index], hit.loUs, hit.hiUs});
        }
        std::sort(group.events.begin(), group.events.end(),
                  [](const GroupEvent& a, const GroupEvent& b) { return a.tUs < b.tUs; });
        result.groups.push_back(std::move(group));
      });
  result.background = measureBackground(input.hits, query, result.sinceUs, result.untilUs);
  const auto found = static_cast<double>(result.groups.size());
  result.excess = found - result.background.expected;
  if (!result.background.counts.empty()) {
    const double variance =
        result.background.expected + std::pow(result.background.spread, 2) /
                                         static_cast<double>(result.background.counts.size());
    if (variance > 0) result.significance = result.excess / std::sqrt(variance);
  }
  return result;
}

CoincidenceResult searchCoincidences(Database& database, const CoincidenceQuery& query) {
  return searchLoaded(loadCoincidenceInput(database, query), query);
}

std::vector<EventRow> groupEvents(Database& database, const CoincidenceResult& result,
                                  const CoincidenceGroup& group) {
  const auto query = database.prepare("SELECT " + std::string(kEventColumns) +
                                      " FROM events WHERE station = $1 AND t_us = $2 LIMIT 1");
  std::vector<EventRow> rows;
  for (const GroupEvent& event : group.events) {
    query->reset();
    query->bind(1, result.stations.at(static_cast<std::size_t>(event.station)));
    query->bind(2, event.tUs);
    if (query->step()) rows.push_back(readEvent(*query));
  }
  return rows;
}

}  // namespace ravdel
