#include "wire/messages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ravdel {
namespace {

TEST(Base64Test, RoundTripsEveryLengthAndRefusesWhatIsNotBase64) {
  std::vector<std::uint8_t> bytes;
  for (int n = 0; n < 9; ++n) {
    const std::string text = base64Encode(bytes);
    EXPECT_EQ(text.size() % 4, 0u);
    EXPECT_EQ(base64Decode(text), bytes) << text;
    bytes.push_back(static_cast<std::uint8_t>(0xfb + n));
  }
  EXPECT_EQ(base64Encode(std::vector<std::uint8_t>{'M', 'a'}), "TWE=");
  for (const char* bad : {"TWE", "T=E=", "TW==TWE=", "TWE*", "=AAA", "TQ=A"})
    EXPECT_FALSE(base64Decode(bad).has_value()) << bad;
}

TEST(WireTest, AnAckReadsBackAndAnythingElseIsNoAck) {
  const Ack ack{{{"aa", 1}, {"aa", 2}}, {{"aa", 1}}, {{"event", {"bb", 3}, "flood"}}};
  const std::optional<Ack> read = parseAck(encodeAck(ack));
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->events, ack.events);
  EXPECT_EQ(read->heartbeats, ack.heartbeats);
  ASSERT_EQ(read->rejected.size(), 1u);
  EXPECT_EQ(read->rejected[0].key, (RowKey{"bb", 3}));
  EXPECT_EQ(read->rejected[0].reason, "flood");
  for (const char* bad :
       {"", "{", "[]", R"({"v":2,"events":[]})", R"({"v":1,"events":[["a"]]})",
        R"({"v":1,"events":[[1,2]]})", R"({"v":1,"rejected":[{}]})",
        // Found by fuzzing: read as an int, each was undefined or threw on the
        // uplink's thread.
        R"({"v":6.6e112})", R"({"v":"1"})",
        R"({"v":1,"rejected":[{"kind":"event","run_id":"a","seq":1,"reason":7}]})"})
    EXPECT_FALSE(parseAck(bad).has_value()) << bad;
}

TEST(WireTest, TopicsAreUnderTheStationsOwnName) {
  EXPECT_EQ(stationTopic("alpha-3", "events"), "ravdel/alpha-3/events");
}

TEST(WireTest, BrokerAddressesAsTyped) {
  const struct {
    const char* text;
    bool tls;
    const char* host;
    int port;
  } good[] = {{"broker", false, "broker", 1883},
              {"broker", true, "broker", 8883},
              {"10.0.0.5:1999", false, "10.0.0.5", 1999},
              {"[::1]:8884", true, "::1", 8884},
              {"[::1]", false, "::1", 1883}};
  for (const auto& g : good) {
    std::string host;
    int port = 0;
    EXPECT_TRUE(parseBrokerAddress(g.text, g.tls, host, port)) << g.text;
    EXPECT_EQ(host, g.host);
    EXPECT_EQ(port, g.port);
  }
  for (const char* bad : {"", ":1883", "host:", "host:0", "host:70000", "host:12x", "[::1"}) {
    std::string host;
    int port = 0;
    EXPECT_FALSE(parseBrokerAddress(bad, false, host, port)) << bad;
  }
}

}  // namespace
}  // namespace ravdel
