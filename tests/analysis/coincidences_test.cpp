#include "analysis/coincidences.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

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

}  // namespace
}  // namespace ravdel
