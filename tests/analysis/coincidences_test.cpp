#include "analysis/coincidences.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "support/engine_stores.h"
#include "support/network_rows.h"

namespace ravdel {
namespace {

struct Interval {
  std::int32_t station;
  std::int64_t lo, hi;
};

StationHits hitsOf(const std::vector<Interval>& intervals, int stations) {
  StationHits hits(static_cast<std::size_t>(stations));
  for (const Interval& i : intervals) {
    auto& list = hits[static_cast<std::size_t>(i.station)];
    list.push_back({i.lo, i.hi, i.station, static_cast<std::int32_t>(list.size())});
  }
  for (auto& list : hits)
    std::sort(list.begin(), list.end(), [](const Hit& a, const Hit& b) { return a.loUs < b.loUs; });
  return hits;
}

// The groups as sets of (station, start) pairs.
std::vector<std::set<std::pair<int, std::int64_t>>> groupsOf(const StationHits& hits,
                                                             int minStations) {
  std::vector<std::set<std::pair<int, std::int64_t>>> groups;
  sweepGroups(hits, {}, 0, 1000000, minStations, [&](const std::vector<Hit>& group, int) {
    auto& g = groups.emplace_back();
    for (const Hit& hit : group)
      g.insert({hit.station, hit.loUs});
  });
  return groups;
}

TEST(CoincidenceSweepTest, GroupsOfOverlappingIntervals) {
  using Groups = std::vector<std::set<std::pair<int, std::int64_t>>>;
  struct Case {
    const char* what;
    std::vector<Interval> intervals;
    int minStations;
    Groups groups;
  } cases[] = {
      {"two stations overlap", {{0, 0, 10}, {1, 10, 20}}, 2, {{{0, 0}, {1, 10}}}},
      {"touching is not enough when apart", {{0, 0, 10}, {1, 11, 20}}, 2, {}},
      {"one station alone is no group", {{0, 0, 10}, {0, 5, 20}}, 2, {}},
      {"too few stations", {{0, 0, 10}, {1, 5, 20}, {2, 50, 60}}, 3, {}},
      {"three stations at one instant",
       {{0, 0, 10}, {1, 5, 20}, {2, 8, 60}},
       3,
       {{{0, 0}, {1, 5}, {2, 8}}}},
      // A chain with no common instant: the pair whose middles lie closer goes together.
      {"a chain is cut", {{0, 0, 10}, {1, 8, 20}, {2, 18, 30}}, 2, {{{0, 0}, {1, 8}}}},
      // A chance event overlapping part of a shower does not take the shower's first events
      // away from the rest of it.
      {"a shower keeps its stations",
       {{3, 0, 100}, {0, 90, 300}, {1, 95, 310}, {2, 150, 320}},
       2,
       {{{0, 90}, {1, 95}, {2, 150}}}},
      // Two showers seen by the same two stations, chained by a wide interval.
      {"two showers stay apart",
       {{0, 0, 100}, {1, 20, 120}, {0, 110, 210}, {1, 115, 215}},
       2,
       {{{0, 0}, {1, 20}}, {{0, 110}, {1, 115}}}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(groupsOf(hitsOf(c.intervals, 4), c.minStations), c.groups) << c.what;
}

// Every two stations are a different whole number of 10 s steps apart in every search, and no
// pair's distance repeats from one search to the next.
TEST(CoincidenceSweepTest, BackgroundShiftsKeepStationsApart) {
  const std::int64_t hour = 3600LL * 1000000;
  std::set<std::int64_t> distancesOfFirstPair;
  for (int k = 1; k <= 20; ++k) {
    const auto shifts = backgroundShifts(k, 8, hour);
    ASSERT_EQ(shifts.size(), 8u);
    std::set<std::int64_t> seen;
    for (const std::int64_t shift : shifts) {
      EXPECT_EQ(shift % kShiftStepUs, 0);
      EXPECT_LT(shift, hour);
      EXPECT_TRUE(seen.insert(shift).second) << "search " << k;
    }
    EXPECT_TRUE(distancesOfFirstPair.insert(shifts[1] - shifts[0]).second) << "search " << k;
  }
  EXPECT_TRUE(backgroundShifts(1, 400, hour).empty()) << "more stations than steps";
  EXPECT_TRUE(backgroundShifts(1, 2, 15 * 1000000).empty()) << "a range of one step";
}

// A shift moves a station's times round the range: what leaves at the end comes in at the
// start, so each station keeps every event.
TEST(CoincidenceSweepTest, ShiftsWrapRoundTheRange) {
  const std::int64_t s = 1000000;
  const StationHits hits = hitsOf({{0, 3595 * s, 3595 * s + 100}, {1, 5 * s, 5 * s + 100}}, 2);
  int groups = 0;
  sweepGroups(hits, {10 * s, 0}, 0, 3600 * s, 2, [&](const std::vector<Hit>& group, int) {
    ++groups;
    EXPECT_EQ(group.front().loUs, 5 * s);
  });
  EXPECT_EQ(groups, 1);
  groups = 0;
  sweepGroups(hits, {0, 10 * s}, 0, 3600 * s, 2, [&](const std::vector<Hit>&, int) { ++groups; });
  EXPECT_EQ(groups, 0);
}

// Each group found as its hits' (station, index), in the order the sweep reports them.
using FoundGroups = std::vector<std::set<std::pair<int, int>>>;

FoundGroups sweepOf(const StationHits& hits, const std::vector<std::int64_t>& shifts,
                    std::int64_t since, std::int64_t until) {
  FoundGroups groups;
  sweepGroups(hits, shifts, since, until, 2, [&](const std::vector<Hit>& group, int) {
    auto& g = groups.emplace_back();
    for (const Hit& hit : group)
      g.insert({hit.station, hit.index});
  });
  return groups;
}

// The same search done plainly: every hit moved by hand, and all of them in one list sorted
// by start, station and index, which the sweep takes as it stands.
FoundGroups plainSweepOf(const StationHits& hits, const std::vector<std::int64_t>& shifts,
                         std::int64_t since, std::int64_t until) {
  const std::int64_t range = until - since;
  std::vector<Hit> all;
  for (std::size_t s = 0; s < hits.size(); ++s) {
    for (Hit hit : hits[s]) {
      if (!shifts.empty()) {
        const std::int64_t moved = ((hit.loUs - since + shifts[s]) % range + range) % range;
        hit.hiUs += since + moved - hit.loUs;
        hit.loUs = since + moved;
      }
      all.push_back(hit);
    }
  }
  std::sort(all.begin(), all.end(), [](const Hit& a, const Hit& b) {
    return std::tie(a.loUs, a.station, a.index) < std::tie(b.loUs, b.station, b.index);
  });
  return sweepOf(StationHits{all}, {}, since, until);
}

// A crowded network, so that chains long and short, groups split by depth and by start,
// shared starts and hits starting before the range all occur: the search and its shifted
// searches find exactly what the plain search finds.
TEST(CoincidenceSweepTest, ShiftedSearchesFindWhatThePlainSearchFinds) {
  const std::int64_t s = 1000000, since = 5000 * s, until = since + 1200 * s;
  std::mt19937_64 random(17);
  std::vector<Interval> intervals;
  for (int station = 0; station < 12; ++station) {
    for (int i = 0; i < 400; ++i) {
      const auto t = since - 2 * s + static_cast<std::int64_t>(random() % (1202 * s));
      const auto half = i % 100 == 0 ? 3 * s : static_cast<std::int64_t>(random() % (s / 3));
      intervals.push_back({station, t - half, t + half});
    }
    intervals.push_back({station, since + 600 * s, since + 600 * s + s / 10});  // a shower
  }
  const StationHits hits = hitsOf(intervals, 12);
  const FoundGroups unshifted = sweepOf(hits, {}, since, until);
  EXPECT_GT(unshifted.size(), 500u);
  EXPECT_EQ(unshifted, plainSweepOf(hits, {}, since, until));
  for (int k = 1; k <= 20; ++k) {
    const auto shifts = backgroundShifts(k, hits.size(), until - since);
    ASSERT_EQ(shifts.size(), hits.size());
    EXPECT_EQ(sweepOf(hits, shifts, since, until), plainSweepOf(hits, shifts, since, until))
        << "search " << k;
  }
}

using CoincidenceInputTest = test::EngineStoreTest;

// A station's intervals come in order of start with their own times, however their widths
// vary; with a window they are the window round each time.
TEST_P(CoincidenceInputTest, IntervalsAreReadInOrderOfStart) {
  auto store = openStore();
  if (!store) GTEST_SKIP() << "no PostgreSQL here";
  const std::int64_t s = 1000000, t0 = test::kHour0;
  store->insertEvents(std::vector<EventRow>{
      test::eventAt("b", 1, t0 + 10 * s, 5 * s), test::eventAt("b", 2, t0 + 11 * s, s / 2),
      test::eventAt("b", 3, t0 + 12 * s, 8 * s), test::eventAt("a", 1, t0 + 20 * s)});
  CoincidenceQuery query;
  query.sinceUs = t0;
  query.untilUs = t0 + kHourUs;
  CoincidenceInput input = loadCoincidenceInput(store->database(), query);
  ASSERT_EQ(input.stations, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(input.times[1], (std::vector<std::int64_t>{t0 + 12 * s, t0 + 10 * s, t0 + 11 * s}));
  const std::vector<std::int64_t> starts = {t0 + 4 * s, t0 + 5 * s, t0 + 10 * s + s / 2};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(input.hits[1][i].loUs, starts[i]);
    EXPECT_EQ(input.hits[1][i].hiUs, 2 * input.times[1][i] - starts[i]);
    EXPECT_EQ(input.hits[1][i].station, 1);
    EXPECT_EQ(input.hits[1][i].index, static_cast<std::int32_t>(i));
  }
  query.windowUs = 2 * s;
  input = loadCoincidenceInput(store->database(), query);
  EXPECT_EQ(input.times[1], (std::vector<std::int64_t>{t0 + 10 * s, t0 + 11 * s, t0 + 12 * s}));
  EXPECT_EQ(input.hits[1][2].loUs, t0 + 11 * s);
  EXPECT_EQ(input.hits[1][2].hiUs, t0 + 13 * s);
}

INSTANTIATE_TEST_SUITE_P(Engines, CoincidenceInputTest, test::kBothEngines, test::engineTestName);

}  // namespace
}  // namespace ravdel
