#include "store/hourly_counts.h"

#include <gtest/gtest.h>

#include <map>
#include <span>
#include <string>
#include <vector>

#include "store/store.h"
#include "store/time_bins.h"
#include "support/engine_stores.h"
#include "support/network_rows.h"
#include "support/temp_dir.h"

namespace ravdel {
namespace {

constexpr std::int64_t kHour0 = 491310 * kHourUs;  // 2026-01-18 06:00 UTC

using test::eventAt;
using test::heartbeatOver;

struct Hour {
  std::int64_t events = 0;
  std::int64_t liveMs = 0;
  bool operator==(const Hour&) const = default;
};

std::map<std::int64_t, Hour> hoursOf(Store& store, const std::string& station) {
  const auto query = store.database().prepare(
      "SELECT hour_us, events, live_ms FROM hourly_counts WHERE station = $1 ORDER BY hour_us");
  query->bind(1, station);
  std::map<std::int64_t, Hour> hours;
  while (query->step())
    hours[query->integer(0) - kHour0] = {query->integer(1), query->integer(2)};
  return hours;
}

TEST(TimeBinsTest, ASpanIsSplitInProportionAndAddsUpExactly) {
  struct Case {
    std::int64_t fromUs, toUs, liveMs, widthUs;
    std::vector<std::pair<std::int64_t, std::int64_t>> parts;  // bin start, ms
  } cases[] = {
      {10 * kMinuteUs, 11 * kMinuteUs, 60000, kHourUs, {{0, 60000}}},
      // a minute across the hour: 30 s each side
      {59 * kMinuteUs + 30000000,
       60 * kMinuteUs + 30000000,
       59000,
       kHourUs,
       {{0, 29500}, {kHourUs, 29500}}},
      // an odd millisecond does not get lost to rounding
      {59 * kMinuteUs, 61 * kMinuteUs, 1001, kHourUs, {{0, 500}, {kHourUs, 501}}},
      // a long span over three hours, live only part of it
      {30 * kMinuteUs,
       150 * kMinuteUs,
       3600000,
       kHourUs,
       {{0, 900000}, {kHourUs, 1800000}, {2 * kHourUs, 900000}}},
      // before 1970 the bins still start on whole hours
      {-90 * kMinuteUs, -60 * kMinuteUs, 1800000, kHourUs, {{-2 * kHourUs, 1800000}}},
      {5, 5, 7, kHourUs, {{0, 7}}},  // an empty span
  };
  for (const Case& c : cases) {
    std::vector<std::pair<std::int64_t, std::int64_t>> parts;
    splitOverBins(c.fromUs, c.toUs, c.liveMs, c.widthUs,
                  [&](std::int64_t bin, std::int64_t ms) { parts.emplace_back(bin, ms); });
    EXPECT_EQ(parts, c.parts) << c.fromUs << ".." << c.toUs;
  }
}

using HourlyCountsTest = test::EngineStoreTest;

// A batch sent again after its acknowledgement was lost counts once; a heartbeat across the
// hour gives each hour its share; an event at a far-off time counts nowhere.
TEST_P(HourlyCountsTest, OnlyRowsNewlyStoredAreCounted) {
  auto store = openStore();
  if (!store) GTEST_SKIP() << "no PostgreSQL here";
  EventRow farOff = eventAt("a", 4, 7);
  farOff.flags = kEventTimeFarOff;
  const std::vector<EventRow> events = {eventAt("a", 1, kHour0 + 5), eventAt("a", 2, kHour0 + 6),
                                        eventAt("a", 3, kHour0 + kHourUs), farOff,
                                        eventAt("b", 1, kHour0)};
  store->insertEvents(events);
  store->insertEvents(events);
  const std::vector<HeartbeatRow> beats = {
      heartbeatOver("a", 1, kHour0 + 59 * kMinuteUs, kHour0 + 61 * kMinuteUs, 120000),
      heartbeatOver("a", 2, kHour0 + 61 * kMinuteUs, kHour0 + 62 * kMinuteUs, 60000)};
  store->insertHeartbeats(beats);
  store->insertHeartbeats(beats);
  const std::map<std::int64_t, Hour> expected = {{0, {2, 60000}}, {kHourUs, {1, 120000}}};
  EXPECT_EQ(hoursOf(*store, "a"), expected);
  EXPECT_EQ(hoursOf(*store, "b"), (std::map<std::int64_t, Hour>{{0, {1, 0}}}));
}

// An ingester's batches are written many rows a statement: a statement whose rows were partly
// stored before counts only its new ones.
TEST_P(HourlyCountsTest, ReceivedBatchesCountEachRowOnce) {
  auto store = openStore();
  if (!store) GTEST_SKIP() << "no PostgreSQL here";
  std::vector<EventRow> events;  // two blocks of a statement each and six rows one by one
  for (int i = 1; i <= 70; ++i)
    events.push_back(eventAt("a", i, kHour0 + i * kMinuteUs));
  std::vector<HeartbeatRow> beats;  // two minutes each, one of them live
  for (int i = 1; i <= 40; ++i)
    beats.push_back(
        heartbeatOver("a", i, kHour0 + (i - 1) * 2 * kMinuteUs, kHour0 + i * 2 * kMinuteUs, 60000));
  const std::vector<StationNote> stations = {{"a", std::nullopt, std::nullopt, kHour0, 0}};
  store->storeReceived(std::span(events).first(40), std::span(beats).first(10), stations);
  store->storeReceived(events, beats, stations);
  store->storeReceived(events, beats, stations);
  const std::map<std::int64_t, Hour> expected = {{0, {59, 1800000}}, {kHourUs, {11, 600000}}};
  EXPECT_EQ(hoursOf(*store, "a"), expected);
  EXPECT_EQ(store->eventCount(), 70);
}

// A history written before the aggregate existed is counted when the store is opened.
TEST_P(HourlyCountsTest, AnOlderStoreIsCountedWhenMigrated) {
  auto store = openStore();
  if (!store) GTEST_SKIP() << "no PostgreSQL here";
  std::vector<EventRow> events;
  for (int i = 1; i <= 25; ++i)
    events.push_back(eventAt("a", i, kHour0 + i * 10 * kMinuteUs));
  store->insertEvents(events);
  store->insertHeartbeats(std::vector<HeartbeatRow>{
      heartbeatOver("a", 1, kHour0 + 30 * kMinuteUs, kHour0 + 90 * kMinuteUs, 3600000)});
  const auto before = hoursOf(*store, "a");
  store->database().execute("DROP TABLE hourly_counts");
  store->database().execute("UPDATE schema_version SET version = 1");
  store = Store::open(location_);
  EXPECT_EQ(store->schemaVersion(), Store::kSchemaVersion);
  EXPECT_EQ(hoursOf(*store, "a"), before);
  EXPECT_EQ(before.at(0), (Hour{5, 1800000}));
  store->rebuildHourlyCounts();
  EXPECT_EQ(hoursOf(*store, "a"), before);
}

INSTANTIATE_TEST_SUITE_P(Engines, HourlyCountsTest, test::kBothEngines, test::engineTestName);

}  // namespace
}  // namespace ravdel
