#include "analysis/export.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "store/time_bins.h"
#include "support/engine_stores.h"
#include "support/network_rows.h"

namespace ravdel {
namespace {

using test::eventAt;
using test::heartbeatOver;
using test::kHour0;
using ExportTest = test::EngineStoreTest;

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    out.push_back(line);
  return out;
}

// Only the range and the station asked for, events then heartbeats in time order; a camera
// name with a comma and quotes stays one CSV field; JSON lines carry the crop as base64.
TEST_P(ExportTest, RowsOfTheRangeInTimeOrder) {
  auto store = openStore();
  if (!store) GTEST_SKIP() << "no PostgreSQL here";
  EventRow named = eventAt("a", 2, kHour0 + 20);
  named.camera = "Cam \"B\", left";
  named.crop = {0x89, 'P', 'N', 'G'};
  store->insertEvents(
      std::vector<EventRow>{eventAt("a", 3, kHour0 + 30), named, eventAt("a", 1, kHour0 - 1),
                            eventAt("b", 1, kHour0 + 25), eventAt("a", 4, kHour0 + kHourUs)});
  store->insertHeartbeats(
      std::vector<HeartbeatRow>{heartbeatOver("a", 1, kHour0, kHour0 + kMinuteUs, 60000)});

  std::ostringstream csv;
  exportRows(store->database(), {kHour0, kHour0 + kHourUs, "a", ExportFormat::csv}, csv);
  const auto rows = lines(csv.str());
  ASSERT_EQ(rows.size(), 4u) << csv.str();
  EXPECT_EQ(rows[0].substr(0, 26), "kind,station,run_id,seq,t_");
  EXPECT_NE(rows[1].find(",\"Cam \"\"B\"\", left\","), std::string::npos) << rows[1];
  EXPECT_EQ(rows[1].substr(0, 15), "event,a,r1,2,17");
  EXPECT_EQ(rows[2].substr(0, 15), "event,a,r1,3,17");
  EXPECT_EQ(rows[3].substr(0, 15), "heartbeat,a,r1,");
  const auto commas = [](const std::string& row) {
    return std::count(row.begin(), row.end(), ',');
  };
  EXPECT_EQ(commas(rows[0]), commas(rows[2]));
  EXPECT_EQ(commas(rows[0]), commas(rows[3]));

  std::ostringstream jsonl;
  exportRows(store->database(), {kHour0, kHour0 + kHourUs, std::nullopt, ExportFormat::jsonl},
             jsonl);
  const auto objects = lines(jsonl.str());
  ASSERT_EQ(objects.size(), 4u);
  const auto first = nlohmann::json::parse(objects[0]);
  EXPECT_EQ(first["camera"], "Cam \"B\", left");
  EXPECT_EQ(first["crop"], "iVBORw==");
  EXPECT_EQ(nlohmann::json::parse(objects[1])["station"], "b");
  EXPECT_EQ(nlohmann::json::parse(objects[3])["kind"], "heartbeat");
  EXPECT_EQ(nlohmann::json::parse(objects[3])["live_ms"], 60000);
}

INSTANTIATE_TEST_SUITE_P(Engines, ExportTest, test::kBothEngines, test::engineTestName);

}  // namespace
}  // namespace ravdel
