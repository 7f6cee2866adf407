#include "analysis/coincidences.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <numeric>
#include <thread>

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

std::int64_t floorMod(std::int64_t a, std::int64_t b) {
  const std::int64_t r = a % b;
  return r < 0 ? r + b : r;
}

// What one sweep works in, kept from search to search by the thread that runs them (a year of a
// network is millions of hits).
struct SweepSpace {
  std::vector<Hit> hits, order;
  std::vector<std::uint32_t> counts, next;
};

// Every station's hits, each moved by its station's shift cyclically within [since, since +
// range) (none without shifts), into `out`.
void gather(const StationHits& hits, const std::vector<std::int64_t>& shifts, std::int64_t since,
            std::int64_t range, std::vector<Hit>& out) {
  out.clear();
  for (std::size_t s = 0; s < hits.size(); ++s) {
    if (shifts.empty()) {
      out.insert(out.end(), hits[s].begin(), hits[s].end());
      continue;
    }
    for (const Hit& hit : hits[s]) {
      Hit moved = hit;
      moved.loUs = since + floorMod(hit.loUs - since + shifts[s], range);
      moved.hiUs = moved.loUs + (hit.hiUs - hit.loUs);
      out.push_back(moved);
    }
  }
}

// Sorts space.hits by start in about linear time: a bucket per hit on average over the range
// (hits before it in the first bucket, after it in the last), then each bucket by insertion,
// or by std::sort when it is crowded.
void sortByStart(SweepSpace& space, std::int64_t since, std::int64_t range) {
  std::vector<Hit>& hits = space.hits;
  const std::size_t buckets = std::max<std::size_t>(1, hits.size());
  const double perUs = static_cast<double>(buckets) / static_cast<double>(range);
  const auto bucketOf = [&](const Hit& hit) {
    const std::int64_t at = std::clamp<std::int64_t>(hit.loUs - since, 0, range - 1);
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
  const auto earlier = [](const Hit& x, const Hit& y) { return x.loUs < y.loUs; };
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

void sweepIn(SweepSpace& space, const StationHits& hits, const std::vector<std::int64_t>& shiftsUs,
             std::int64_t sinceUs, std::int64_t untilUs, int minStations, const Found& found) {
  gather(hits, shiftsUs, sinceUs, untilUs - sinceUs, space.hits);
  sortByStart(space, sinceUs, untilUs - sinceUs);
  ChainSweep sweep(minStations, found);
  for (const Hit& hit : space.hits)
    sweep.add(hit);
  sweep.close();
}

std::vector<std::string> stationsWithEvents(Database& database, std::int64_t since,
                                            std::int64_t until) {
  const auto query = database.prepare(
      "SELECT DISTINCT station FROM hourly_counts WHERE events > 0 AND hour_us >= $1 AND "
      "hour_us < $2 ORDER BY station");
  query->bind(1, binStart(since, kHourUs));
  query->bind(2, until);
  std::vector<std::string> stations;
  while (query->step())
    stations.push_back(query->text(0));
  return stations;
}

CoincidenceInput loadHits(Database& database, const CoincidenceQuery& query, std::int64_t since,
                          std::int64_t until) {
  CoincidenceInput loaded;
  loaded.sinceUs = since;
  loaded.untilUs = until;
  const auto events = database.prepare(
      "SELECT t_us, t_lo_us, t_hi_us FROM events WHERE station = $1 AND t_us >= $2 AND "
      "t_us < $3 AND (flags & 1) = 0");
  for (const std::string& station : stationsWithEvents(database, since, until)) {
    events->reset();
    events->bind(1, station);
    events->bind(2, since);
    events->bind(3, until);
    std::vector<std::array<std::int64_t, 3>> rows;
    while (events->step()) {
      const std::int64_t t = events->integer(0);
      if (query.windowUs) {
        const std::int64_t half = *query.windowUs / 2;
        rows.push_back({t, t - half, t - half + *query.windowUs});
      } else {
        rows.push_back({t, events->integer(1), events->integer(2)});
      }
    }
    if (rows.empty()) continue;
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a[1] < b[1]; });
    const auto index = static_cast<std::int32_t>(loaded.stations.size());
    loaded.stations.push_back(station);
    auto& hits = loaded.hits.emplace_back();
    auto& times = loaded.times.emplace_back();
    for (const auto& row : rows) {
      hits.push_back({row[1], row[2], index, static_cast<std::int32_t>(hits.size())});
      times.push_back(row[0]);
    }
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
