#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/sample_rows.h"
#include "wire/messages.h"

namespace ravdel {
namespace {

using Json = nlohmann::json;

constexpr std::int64_t kNowUs = 1'796'718'413'000'000;
constexpr std::int64_t kHourUs = 3'600'000'000;

using test::pngHeader;

EventRow event(std::int64_t seq) {
  return test::sampleEvent("alpha", "5f0c3a9e41d27b86", seq, kNowUs + seq);
}

HeartbeatRow heartbeat(std::int64_t seq) {
  return test::sampleHeartbeat("alpha", "5f0c3a9e41d27b86", seq, kNowUs + 60'000'000);
}

// One event message whose only row is `row`.
std::string eventsMessage(const Json& row) {
  return Json{{"v", 1}, {"station", "alpha"}, {"events", Json::array({row})}}.dump();
}

Json eventJson() {
  return Json::parse(encodeEvents("alpha", std::vector<EventRow>{event(3)}))["events"][0];
}

TEST(ParseMessagesTest, WhatTheStationEncodesIsReadBackAsIs) {
  const std::vector<EventRow> events = {event(1), event(2)};
  const ReceivedEvents got = parseEvents("alpha", encodeEvents("alpha", events), kNowUs);
  ASSERT_TRUE(got.ok()) << got.failure;
  ASSERT_EQ(got.rows.size(), 2u);
  EXPECT_TRUE(got.rejected.empty());
  const EventRow& e = got.rows[1];
  EXPECT_EQ(e.station, "alpha");
  EXPECT_EQ((RowKey{e.runId, e.seq}), (RowKey{events[1].runId, 2}));
  EXPECT_EQ(e.tLoUs, events[1].tLoUs);
  EXPECT_EQ(e.tHiUs, events[1].tHiUs);
  EXPECT_EQ(e.crop, events[1].crop);
  EXPECT_EQ(e.lon, 16.37);
  EXPECT_EQ(e.liveSeconds, 41.207);
  EXPECT_EQ(e.camera, "USB Camera");
  EXPECT_EQ(e.flags, 0);

  const std::vector<HeartbeatRow> beats = {heartbeat(1)};
  const ReceivedHeartbeats read =
      parseHeartbeats("alpha", encodeHeartbeats("alpha", beats), kNowUs);
  ASSERT_TRUE(read.ok()) << read.failure;
  ASSERT_EQ(read.rows.size(), 1u);
  EXPECT_EQ(read.rows[0].liveMs, 59'000);
  EXPECT_EQ(read.rows[0].framesDropped, 1);
  EXPECT_EQ(read.rows[0].clockErrorUs, 2000);
}

struct RowCase {
  const char* key;
  Json value;  // null: the key is removed
  const char* reason;
};

// Each fault of a row rejects that row alone, with a reason the station can log.
TEST(ParseMessagesTest, ABadFieldRejectsItsRowWithTheReason) {
  std::vector<std::uint8_t> bigPng = pngHeader(32, 32);
  bigPng.resize(kMaxCropBytes + 1);  // the same base64 length as 16 KiB exactly
  const RowCase cases[] = {
      {"seq", 0, "seq is out of range"},
      {"run_id", "5F0C", "run_id is not 1 to 64 hexadecimal digits"},
      {"run_id", "", "run_id is not 1 to 64 hexadecimal digits"},
      {"run_id", std::string(65, 'a'), "run_id is too long"},
      {"x", 320, "x, y is outside the frame"},
      {"y", -1, "y is out of range"},
      {"width", 0, "width is out of range"},
      {"height", 8193, "height is out of range"},
      {"r", 256, "r is out of range"},
      {"g", 1.5, "g is not an integer"},
      {"limit", "150", "limit is not an integer"},
      {"b", 18446744073709551615u, "b is out of range"},
      {"t_us", kNowUs - 30000, "t_us is not within t_lo_us to t_hi_us"},
      {"t_lo_us", kNowUs - kHourUs - 1, "t_lo_us to t_hi_us is longer than an hour"},
      {"t_hi_us", -1, "t_hi_us is out of range"},
      {"clock_synced", 1, "clock_synced is not true or false"},
      {"frame", nullptr, "frame is missing"},
      {"live_s", -0.5, "live_s is out of range"},
      {"camera", std::string("a\0b", 3), "camera holds a control character"},
      {"camera", std::string(257, 'c'), "camera is too long"},
      {"fourcc", 4, "fourcc is not text"},
      {"crop", "not base64!", "crop is not a PNG of at most 64x64 pixels in 16 KiB"},
      {"crop", base64Encode(std::vector<std::uint8_t>{0xff, 0xd8, 0xff, 0xe0}),
       "crop is not a PNG of at most 64x64 pixels in 16 KiB"},
      {"crop", base64Encode(pngHeader(65, 1)),
       "crop is not a PNG of at most 64x64 pixels in 16 KiB"},
      {"crop", base64Encode(pngHeader(1, 0)),
       "crop is not a PNG of at most 64x64 pixels in 16 KiB"},
      {"crop", base64Encode(bigPng), "crop is not a PNG of at most 64x64 pixels in 16 KiB"},
      {"crop", std::string(30000, 'A'), "crop is too long"},
      {"lat", 90.5, "lat is out of range"},
      {"lon", nullptr, "lat and lon come together"},
  };
  for (const RowCase& c : cases) {
    Json row = eventJson();
    if (c.value.is_null()) {
      row.erase(c.key);
    } else {
      row[c.key] = c.value;
    }
    const ReceivedEvents got = parseEvents("alpha", eventsMessage(row), kNowUs);
    ASSERT_TRUE(got.ok()) << c.key;
    EXPECT_TRUE(got.rows.empty()) << c.reason;
    ASSERT_EQ(got.rejected.size(), 1u) << c.reason;
    EXPECT_EQ(got.rejected[0].reason, c.reason);
    EXPECT_EQ(got.rejected[0].kind, "event");
    EXPECT_EQ(got.rejected[0].key.runId, row["run_id"].get<std::string>())
        << "as the station sent it";
  }
}

TEST(ParseMessagesTest, OptionalFieldsAndUnknownKeysAreNoFault) {
  Json row = eventJson();
  row.erase("crop");
  row["lat"] = nullptr;
  row["lon"] = nullptr;
  row["later_key"] = {1, 2};
  const ReceivedEvents got = parseEvents("alpha", eventsMessage(row), kNowUs);
  ASSERT_EQ(got.rows.size(), 1u);
  EXPECT_TRUE(got.rows[0].crop.empty());
  EXPECT_FALSE(got.rows[0].lat.has_value());
}

// Rows whose key cannot be read cannot be acknowledged: they are told apart from rejections.
TEST(ParseMessagesTest, ARowWithoutAKeyIsCountedNotAcknowledged) {
  Json noSeq = eventJson();
  noSeq["seq"] = "3";
  const std::string message =
      Json{{"v", 1}, {"station", "alpha"}, {"events", {noSeq, 7, eventJson()}}}.dump();
  const ReceivedEvents got = parseEvents("alpha", message, kNowUs);
  EXPECT_EQ(got.rows.size(), 1u);
  EXPECT_TRUE(got.rejected.empty());
  EXPECT_EQ(got.unnamed,
            (std::vector<std::string>{"seq is not an integer", "a row is not a JSON object"}));
}

TEST(ParseMessagesTest, TimesFarOffAreStoredWithAFlag) {
  const struct {
    std::int64_t tUs;
    std::int64_t flags;
  } cases[] = {
      {kNowUs, 0},
      {kNowUs + 23 * kHourUs, 0},
      {kNowUs + 25 * kHourUs, kEventTimeFarOff},
      {1'577'836'800'000'000, 0},  // 2020-01-01
      {1'577'836'799'999'999, kEventTimeFarOff},
      {0, kEventTimeFarOff},
  };
  for (const auto& c : cases) {
    Json row = eventJson();
    row["t_us"] = row["t_lo_us"] = row["t_hi_us"] = c.tUs;
    const ReceivedEvents got = parseEvents("alpha", eventsMessage(row), kNowUs);
    ASSERT_EQ(got.rows.size(), 1u) << c.tUs;
    EXPECT_EQ(got.rows[0].flags, c.flags) << c.tUs;
  }
}

TEST(ParseMessagesTest, AHeartbeatsFaultsRejectIt) {
  const RowCase cases[] = {
      {"hb_seq", 0, "hb_seq is out of range"},
      {"live_ms", -1, "live_ms is out of range"},
      {"from_us", kNowUs + 60'000'001, "from_us is after to_us"},
      {"frames_dropped", nullptr, "frames_dropped is missing"},
      {"clock_error_us", "2", "clock_error_us is not an integer"},
  };
  for (const RowCase& c : cases) {
    Json row = Json::parse(
        encodeHeartbeats("alpha", std::vector<HeartbeatRow>{heartbeat(4)}))["heartbeats"][0];
    if (c.value.is_null()) {
      row.erase(c.key);
    } else {
      row[c.key] = c.value;
    }
    const ReceivedHeartbeats got = parseHeartbeats(
        "alpha", Json{{"v", 1}, {"station", "alpha"}, {"heartbeats", {row}}}.dump(), kNowUs);
    ASSERT_EQ(got.rejected.size(), 1u) << c.key;
    EXPECT_EQ(got.rejected[0].reason, c.reason);
    EXPECT_EQ(got.rejected[0].kind, "heartbeat");
    EXPECT_EQ(got.rejected[0].key, (RowKey{"5f0c3a9e41d27b86", row["hb_seq"].get<std::int64_t>()}));
  }
}

// A message that cannot be read as a whole is a failure with one reason and no rows.
TEST(ParseMessagesTest, AMessageThatCannotBeReadFailsAsAWhole) {
  const Json row = eventJson();
  Json tooMany = Json::array();
  for (int i = 0; i < 1001; ++i)
    tooMany.push_back(row);
  const std::string huge = Json{{"v", 1},
                                {"station", "alpha"},
                                {"events", Json::array()},
                                {"pad", std::string(1 << 20, 'x')}}
                               .dump();
  const struct {
    std::string station;
    std::string payload;
    const char* failure;
  } cases[] = {
      {"alpha", "", "not JSON"},
      {"alpha", "{\"v\":1,", "not JSON"},
      {"alpha", "\xff\xfe", "not JSON"},
      {"alpha", "[]", "not a JSON object"},
      {"alpha", R"({"station":"alpha","events":[]})", "no schema version"},
      {"alpha", R"({"v":"1","station":"alpha","events":[]})", "no schema version"},
      {"alpha", R"({"v":2,"station":"alpha","events":[]})", "an unknown schema version"},
      {"alpha", R"({"v":1,"station":"beta","events":[]})", "the station is not the topic's"},
      {"alpha", R"({"v":1,"events":[]})", "the station is not the topic's"},
      {"alpha", R"({"v":1,"station":"alpha","events":{}})", "no list of events"},
      {"alpha", R"({"v":1,"station":"alpha","heartbeats":[]})", "no list of events"},
      {"alpha", Json{{"v", 1}, {"station", "alpha"}, {"events", tooMany}}.dump(),
       "more than 1000 rows"},
      {"alpha", huge, "larger than 1 MiB"},
      {"al/pha", R"({"v":1,"station":"al/pha","events":[]})", "the topic names no valid station"},
  };
  for (const auto& c : cases) {
    const ReceivedEvents got = parseEvents(c.station, c.payload, kNowUs);
    EXPECT_EQ(got.failure, c.failure) << c.payload.substr(0, 80);
    EXPECT_TRUE(got.rows.empty() && got.rejected.empty());
  }
  EXPECT_EQ(parseHeartbeats("alpha", R"({"v":1,"station":"alpha","events":[]})", kNowUs).failure,
            "no list of heartbeats");
}

TEST(ParseMessagesTest, OnlyAStationsOwnTopicsAreTakenApart) {
  const auto parts = splitStationTopic("ravdel/alpha-3.b_c/events");
  ASSERT_TRUE(parts.has_value());
  EXPECT_EQ(parts->station, "alpha-3.b_c");
  EXPECT_EQ(parts->leaf, "events");
  for (const char* topic :
       {"ravdel/alpha", "ravdel//events", "ravdel/a+b/events", "ravdel/a#/events",
        "other/alpha/events", "ravdel/alpha/events/x", "ravdel/alpha/"})
    EXPECT_FALSE(splitStationTopic(topic).has_value()) << topic;
  EXPECT_TRUE(validStationName(std::string(64, 'a')));
  EXPECT_FALSE(validStationName(std::string(65, 'a')));
  EXPECT_FALSE(validStationName(""));
}

}  // namespace
}  // namespace ravdel
