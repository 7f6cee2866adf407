#include "detection/hit_score.h"

#include <gtest/gtest.h>

#include <vector>

namespace ravdel {
namespace {

TruthHit spot(std::int64_t frame, std::int32_t x, std::int32_t y) {
  return {frame, x - 1, y - 1, x + 1, y + 1};
}

TEST(HitScoreTest, MatchesEventsToHitsOneToOne) {
  const MatchTolerance tolerance{.frames = 2, .pixels = 3};
  const struct {
    const char* name;
    std::vector<TruthHit> hits;
    std::vector<ScoredEvent> events;
    std::int64_t found, missed, falseEvents;
  } cases[] = {
      {"exact", {spot(10, 5, 5)}, {{10, 5, 5}}, 1, 0, 0},
      {"frames within tolerance", {spot(10, 5, 5)}, {{12, 5, 5}}, 1, 0, 0},
      {"frames beyond it", {spot(10, 5, 5)}, {{13, 5, 5}}, 0, 1, 1},
      {"box widened by the pixels", {spot(10, 5, 5)}, {{10, 9, 1}}, 1, 0, 0},
      {"outside it", {spot(10, 5, 5)}, {{10, 10, 5}}, 0, 1, 1},
      {"track: anywhere along its box", {{10, 20, 3, 60, 9}}, {{10, 48, 8}}, 1, 0, 0},
      {"two events, one hit", {spot(10, 5, 5)}, {{10, 5, 5}, {11, 5, 5}}, 1, 0, 1},
      {"one event, two hits in a frame", {spot(10, 5, 5), spot(10, 6, 6)}, {{10, 5, 5}}, 1, 1, 0},
      // The first event takes the nearer hit, leaving the other for the second.
      {"nearest frame first", {spot(11, 5, 5), spot(9, 5, 5)}, {{10, 5, 5}, {8, 5, 5}}, 2, 0, 0},
      {"hot pixel", {}, {{1, 0, 0}, {2, 0, 0}, {3, 0, 0}}, 0, 0, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RunScore s = scoreRun(c.hits, c.events, tolerance, 3600);
    EXPECT_EQ(s.found, c.found);
    EXPECT_EQ(s.missed, c.missed);
    EXPECT_EQ(s.falseEvents, c.falseEvents);
    EXPECT_EQ(s.hits, static_cast<std::int64_t>(c.hits.size()));
    EXPECT_EQ(s.events, static_cast<std::int64_t>(c.events.size()));
  }
}

// With moments, time alone decides: the camera's frame count starts again at every opening
// and drifts from the monitor's by every frame dropped, so frames say nothing.
TEST(HitScoreTest, HitsAndEventsWithMomentsAreMatchedByTime) {
  const MatchTolerance tolerance{.frames = 2, .pixels = 3};
  const auto hit = [](std::int64_t frame, std::int64_t us) {
    TruthHit h = spot(frame, 5, 5);
    h.us = us;
    return h;
  };
  // An event of frame `frame`, taken at `us`: a hit in it struck within the last 10 ms.
  const auto event = [](std::int64_t frame, std::int64_t us) {
    return ScoredEvent{frame, 5, 5, us - 5000, us - 10000, us};
  };
  const struct {
    const char* name;
    std::vector<TruthHit> hits;
    std::vector<ScoredEvent> events;
    std::int64_t found;
  } cases[] = {
      {"in the interval, after a reopening", {hit(3, 1000000)}, {event(20003, 1004000)}, 1},
      {"frames dropped on the way", {hit(400, 1000000)}, {event(326, 1004000)}, 1},
      {"before the interval", {hit(3, 989999)}, {event(3, 1004000)}, 0},
      {"after it", {hit(3, 1004001)}, {event(3, 1004000)}, 0},
      {"nearest in time first",
       {hit(1, 999000), hit(2, 994000)},
       {event(1, 1000000), event(2, 996000)},
       2},
      {"an event without its times: frames for all",
       {hit(3, 1000000)},
       {ScoredEvent{3, 5, 5}, event(20003, 1004000)},
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(scoreRun(c.hits, c.events, tolerance, 3600).found, c.found);
  }
}

TEST(HitScoreTest, RatesAreLeftOutWhenTheyHaveNoBase) {
  RunScore s = scoreRun({spot(1, 5, 5), spot(100, 5, 5)}, {{1, 5, 5}, {50, 0, 0}}, {}, 1800);
  EXPECT_EQ(s.precision, 0.5);
  EXPECT_EQ(s.recall, 0.5);
  EXPECT_EQ(s.falsePerHour, 2.0);

  s = scoreRun({spot(1, 5, 5)}, {}, {}, 0);
  EXPECT_FALSE(s.precision.has_value());
  EXPECT_EQ(s.recall, 0.0);
  EXPECT_FALSE(s.falsePerHour.has_value());

  s = scoreRun({}, {{1, 5, 5}}, {}, 60);
  EXPECT_EQ(s.precision, 0.0);
  EXPECT_FALSE(s.recall.has_value());
  EXPECT_EQ(s.falsePerHour, 60.0);
}

}  // namespace
}  // namespace ravdel
