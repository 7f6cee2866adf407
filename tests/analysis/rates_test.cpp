#include "analysis/rates.h"

#include <gtest/gtest.h>

#include <vector>

#include "store/time_bins.h"
#include "support/engine_stores.h"
#include "support/network_rows.h"

namespace ravdel {
namespace {

using test::eventAt;
using test::heartbeatOver;
using test::kHour0;
using RatesTest = test::EngineStoreTest;

// Live 30 minutes of an hour with 10 events: 20 an hour, live half the hour. The next hour
// has an event but no live time: no rate, not zero. The day bin sums both.
TEST_P(RatesTest, TheRateIsPerHourOfLiveTime) {
  auto store = openStore();
  if (!store) GTEST_SKIP() << "no PostgreSQL here";
  std::vector<EventRow> events;
  for (int i = 0; i < 10; ++i)
    events.push_back(eventAt("a", i + 1, kHour0 + 10 * kMinuteUs + i * kMinuteUs));
  events.push_back(eventAt("a", 11, kHour0 + kHourUs + 5 * kMinuteUs));
  store->insertEvents(events);
  std::vector<HeartbeatRow> beats;
  for (int i = 0; i < 30; ++i)
    beats.push_back(heartbeatOver("a", i + 1, kHour0 + (10 + i) * kMinuteUs,
                                  kHour0 + (11 + i) * kMinuteUs, 60000));
  store->insertHeartbeats(beats);

  const auto hours = rates(store->database(), {"a", kHour0, kHour0 + 2 * kHourUs, kHourUs});
  ASSERT_EQ(hours.size(), 2u);
  EXPECT_EQ(hours[0].events, 10);
  EXPECT_EQ(hours[0].liveMs, 1800000);
  ASSERT_TRUE(hours[0].perHour.has_value());
  EXPECT_DOUBLE_EQ(*hours[0].perHour, 20.0);
  EXPECT_DOUBLE_EQ(hours[0].liveShare, 0.5);
  EXPECT_LT(hours[0].lowPerHour, 20.0);
  EXPECT_GT(hours[0].highPerHour, 20.0);
  EXPECT_EQ(hours[1].events, 1);
  EXPECT_FALSE(hours[1].perHour.has_value()) << "an hour without live time has no rate";

  const auto days = rates(store->database(), {std::nullopt, kHour0, kHour0 + kDayUs, kDayUs});
  ASSERT_EQ(days.size(), 1u);
  EXPECT_EQ(days[0].events, 11);
  EXPECT_DOUBLE_EQ(*days[0].perHour, 22.0);

  // Ten-minute bins from the rows themselves: the same events and live time, finer.
  const auto tens = rates(store->database(), {"a", kHour0, kHour0 + kHourUs, 10 * kMinuteUs});
  ASSERT_EQ(tens.size(), 3u);
  EXPECT_EQ(tens[0].startUs, kHour0 + 10 * kMinuteUs);
  EXPECT_EQ(tens[0].events, 10);
  EXPECT_DOUBLE_EQ(*tens[0].perHour, 60.0);
  EXPECT_EQ(tens[1].events, 0);
  EXPECT_DOUBLE_EQ(*tens[1].perHour, 0.0);
  EXPECT_GT(tens[1].highPerHour, 0.0) << "no event still has an upper bound";

  const auto totals = rateTotals(store->database(), kHour0, kHour0 + kDayUs);
  ASSERT_EQ(totals.size(), 1u);
  EXPECT_EQ(totals[0].events, 11);
  EXPECT_EQ(totals[0].liveMs, 1800000);
}

INSTANTIATE_TEST_SUITE_P(Engines, RatesTest, test::kBothEngines, test::engineTestName);

}  // namespace
}  // namespace ravdel
