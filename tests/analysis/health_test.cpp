#include "analysis/health.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "store/time_bins.h"
#include "support/engine_stores.h"
#include "support/network_rows.h"

namespace ravdel {
namespace {

using test::eventAt;
using test::heartbeatOver;
using HealthTest = test::EngineStoreTest;

constexpr std::int64_t kNow = 491310 * kHourUs + 30 * kMinuteUs;

// A station that ran the last `hours` with `perHour` events an hour, its last heartbeat
// `quietUs` ago.
void writeStation(Store& store, const std::string& name, int hours, int perHour,
                  std::int64_t quietUs, bool synced = true) {
  std::vector<EventRow> events;
  std::vector<HeartbeatRow> beats;
  const std::int64_t end = kNow - quietUs;
  const std::int64_t start = end - hours * kHourUs;
  // A heartbeat every 10 minutes: health reads the hourly counts and the last heartbeat alone.
  for (std::int64_t m = 0; m < hours * 6; ++m) {
    HeartbeatRow beat = heartbeatOver(name, m + 1, start + m * 10 * kMinuteUs,
                                      start + (m + 1) * 10 * kMinuteUs, 600000);
    beat.clockSynced = synced;
    beats.push_back(beat);
  }
  for (int i = 0; i < hours * perHour; ++i)
    events.push_back(eventAt(name, i + 1, start + (i * kHourUs) / perHour + 1000));
  store.insertEvents(events);
  store.insertHeartbeats(beats);
}

TEST_P(HealthTest, EachStationIsUpAProblemOrDown) {
  auto store = openStore();
  if (!store) GTEST_SKIP() << "no PostgreSQL here";
  writeStation(*store, "fine", 48, 7, 30 * 1000000);
  writeStation(*store, "quiet", 2, 7, 10 * kMinuteUs);
  writeStation(*store, "gone", 2, 7, 2 * kHourUs);
  writeStation(*store, "blind", 8, 0, 0);
  writeStation(*store, "unsynced", 2, 7, 0, false);
  writeStation(*store, "flooded", 2, 7, 0);
  store->flagStation("flooded", kStationFlooded);
  // Thirty quiet days at 7 an hour, then a day at 40 an hour.
  writeStation(*store, "burst", 31 * 24, 7, 24 * kHourUs + 2 * kMinuteUs);
  std::vector<EventRow> burst;
  for (int i = 0; i < 24 * 40; ++i)
    burst.push_back(eventAt("burst", i + 1, kNow - kDayUs + i * kHourUs / 40, 1000, "r2"));
  store->insertEvents(burst);
  std::vector<HeartbeatRow> burstBeats;
  for (int m = 0; m < 24 * 6; ++m)
    burstBeats.push_back(heartbeatOver("burst", m + 1, kNow - kDayUs + m * 10 * kMinuteUs,
                                       kNow - kDayUs + (m + 1) * 10 * kMinuteUs, 600000, "r2"));
  store->insertHeartbeats(burstBeats);

  std::map<std::string, StationHealth> health;
  for (StationHealth& h : stationHealth(store->database(), kNow))
    health[h.station] = h;
  struct Expect {
    const char* station;
    StationState state;
    const char* problem;  // a part of the first problem's text
  } expected[] = {
      {"fine", StationState::up, nullptr},
      {"quiet", StationState::problem, "no heartbeat for 10 min"},
      {"gone", StationState::down, "no heartbeat for 120 min"},
      {"blind", StationState::problem, "no event in 8 live hours"},
      {"unsynced", StationState::problem, "clock not synchronised"},
      {"flooded", StationState::problem, "flooded"},
      {"burst", StationState::problem, "rate 40.00/h in the last day, its median 7.00/h"},
  };
  ASSERT_EQ(health.size(), std::size(expected));
  for (const Expect& e : expected) {
    const StationHealth& h = health.at(e.station);
    EXPECT_EQ(h.state, e.state) << e.station;
    if (e.problem == nullptr) {
      EXPECT_TRUE(h.problems.empty()) << e.station << ": " << h.problems.front();
    } else {
      ASSERT_FALSE(h.problems.empty()) << e.station;
      EXPECT_NE(h.problems.front().find(e.problem), std::string::npos)
          << e.station << ": " << h.problems.front();
    }
  }
  EXPECT_EQ(health.at("fine").clockSynced, true);
}

INSTANTIATE_TEST_SUITE_P(Engines, HealthTest, test::kBothEngines, test::engineTestName);

}  // namespace
}  // namespace ravdel
