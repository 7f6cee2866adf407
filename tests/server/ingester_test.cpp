// The ingester's judgement and its transaction, on a real SQLite store, without the broker.
#include "server/ingester.h"

#include <gtest/gtest.h>

#include "support/sample_rows.h"
#include "support/temp_dir.h"
#include "support/test_station.h"

namespace ravdel {
namespace {

constexpr std::int64_t kSecondUs = 1'000'000;

InboundMessage eventsMessage(const std::string& station, const std::vector<EventRow>& rows) {
  const std::string payload = encodeEvents(station, rows);
  return {stationTopic(station, "events"), payload, payload.size()};
}

std::vector<EventRow> events(const std::string& station, std::int64_t from, std::int64_t to) {
  std::vector<EventRow> rows;
  for (std::int64_t seq = from; seq <= to; ++seq)
    rows.push_back(test::sampleEvent(station, "0a1b", seq, test::nowUs()));
  return rows;
}

class IngesterTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    store_ = Store::open("sqlite:" + path("network.db"));
  }
  // Takes the messages as one batch and commits it; the acknowledgements by topic.
  std::map<std::string, Ack> ingest(Ingester& ingester, const std::vector<InboundMessage>& batch,
                                    std::int64_t nowUs) {
    IngestBatch taken;
    for (const InboundMessage& message : batch)
      ingester.take(message, nowUs, taken);
    Ingester::store(*store_, taken, nowUs);
    std::map<std::string, Ack> acks;
    for (const auto& [topic, payload] : ingester.committed(taken))
      acks[topic] = parseAck(payload).value();
    return acks;
  }

  ServerLog log_{"ingester-test"};
  std::unique_ptr<Store> store_;
};

// A batch sent again (its acknowledgement lost) is stored once and acknowledged again; two
// stations' messages in one transaction get an acknowledgement each.
TEST_F(IngesterTest, ABatchSentAgainIsStoredOnceAndAcknowledgedAgain) {
  Ingester ingester({}, log_);
  const std::int64_t now = test::nowUs();
  const InboundMessage alpha = eventsMessage("alpha", events("alpha", 1, 3));
  auto acks = ingest(ingester, {alpha, eventsMessage("beta", events("beta", 1, 1))}, now);
  ASSERT_EQ(acks.size(), 2u);
  EXPECT_EQ(acks["ravdel/alpha/ack"].events.size(), 3u);
  EXPECT_EQ(acks["ravdel/beta/ack"].events, (std::vector<RowKey>{{"0a1b", 1}}));
  acks = ingest(ingester, {alpha}, now + kSecondUs);
  EXPECT_EQ(acks["ravdel/alpha/ack"].events.size(), 3u);
  EXPECT_EQ(store_->eventCount(), 4);
  EXPECT_EQ(ingester.counts().messages, 3);
}

// A message that cannot be read changes nothing and gets no acknowledgement; a bad row is
// acknowledged as rejected beside the good rows of its message.
TEST_F(IngesterTest, RefusedMessagesGetNoAcknowledgementAndBadRowsAreAcknowledgedAsRejected) {
  Ingester ingester({}, log_);
  std::vector<EventRow> rows = events("alpha", 1, 2);
  rows[1].x = 400;  // outside the 320x240 frame
  const std::string huge(kMaxMessageBytes + 1, '{');
  const std::vector<InboundMessage> batch = {
      {"ravdel/alpha/events", "not json", 8},
      {"ravdel/alpha/events", "", huge.size()},  // kept out by the network thread
      {"ravdel/alpha/status", "online", 6},
      {"elsewhere/alpha/events", "{}", 2},
      {"ravdel/alpha/events", encodeEvents("beta", events("beta", 5, 5)), 0},  // not the sender
      eventsMessage("alpha", rows),
  };
  const auto acks = ingest(ingester, batch, rows[0].tUs);
  ASSERT_EQ(acks.size(), 1u);
  const Ack& ack = acks.at("ravdel/alpha/ack");
  EXPECT_EQ(ack.events, (std::vector<RowKey>{{"0a1b", 1}}));
  ASSERT_EQ(ack.rejected.size(), 1u);
  EXPECT_EQ(ack.rejected[0].reason, "x, y is outside the frame");
  EXPECT_EQ(store_->eventCount(), 1);
  const std::string summary = ingester.summary();
  for (const char* reason :
       {"message from alpha: not JSON 1", "message from alpha: larger than 1 MiB 1",
        "message from alpha: neither events nor heartbeats 1", "message: not a station's topic 1",
        "message from alpha: the station is not the topic's 1",
        "event from alpha: x, y is outside the frame 1"})
    EXPECT_NE(summary.find(reason), std::string::npos) << reason << " in " << summary;
}

// Past the burst, a station gets the sustained rate: the rest is acknowledged as "flood" (so
// it is not sent again) and the station flagged. Other stations are not held back.
TEST_F(IngesterTest, AFloodIsCappedPerStationAndFlagged) {
  Ingester ingester({/*floodRate=*/10, /*floodBurst=*/100}, log_);
  const std::int64_t now = test::nowUs();
  auto acks = ingest(ingester,
                     {eventsMessage("alpha", events("alpha", 1, 80)),
                      eventsMessage("alpha", events("alpha", 81, 160)),
                      eventsMessage("beta", events("beta", 1, 90))},
                     now);
  EXPECT_EQ(acks["ravdel/alpha/ack"].events.size(), 100u);
  ASSERT_EQ(acks["ravdel/alpha/ack"].rejected.size(), 60u);
  EXPECT_EQ(acks["ravdel/alpha/ack"].rejected[0].reason, "flood");
  EXPECT_EQ(acks["ravdel/alpha/ack"].rejected[0].key, (RowKey{"0a1b", 101}));
  EXPECT_TRUE(acks["ravdel/beta/ack"].rejected.empty());
  // Two seconds later twenty more may pass.
  acks = ingest(ingester, {eventsMessage("alpha", events("alpha", 161, 200))}, now + 2 * kSecondUs);
  EXPECT_EQ(acks["ravdel/alpha/ack"].events.size(), 20u);
  EXPECT_EQ(acks["ravdel/alpha/ack"].rejected.size(), 20u);

  const auto flags = store_->database().prepare("SELECT station, flags FROM stations ORDER BY 1");
  ASSERT_TRUE(flags->step());
  EXPECT_EQ(flags->integer(1), kStationFlooded) << flags->text(0);
  ASSERT_TRUE(flags->step());
  EXPECT_EQ(flags->integer(1), 0) << flags->text(0);
}

TEST_F(IngesterTest, HeartbeatsAreStoredAndAcknowledgedWithoutTheFloodCap) {
  Ingester ingester({/*floodRate=*/1, /*floodBurst=*/1}, log_);
  std::vector<HeartbeatRow> rows;
  for (int i = 1; i <= 50; ++i)
    rows.push_back(test::sampleHeartbeat("alpha", "0a1b", i, test::nowUs()));
  const std::string payload = encodeHeartbeats("alpha", rows);
  const auto acks =
      ingest(ingester, {{"ravdel/alpha/heartbeats", payload, payload.size()}}, rows[0].toUs);
  EXPECT_EQ(acks.at("ravdel/alpha/ack").heartbeats.size(), 50u);
  EXPECT_TRUE(acks.at("ravdel/alpha/ack").rejected.empty());
  EXPECT_EQ(ingester.counts().heartbeats, 50);
}

// The store fails (here: its file taken away under it): nothing is acknowledged, and the same
// batch stores whole once the store is back.
TEST_F(IngesterTest, ABatchTheStoreRefusedIsStoredWholeWhenTriedAgain) {
  Ingester ingester({}, log_);
  IngestBatch batch;
  const auto rows = events("alpha", 1, 5);
  ingester.take(eventsMessage("alpha", rows), rows[0].tUs, batch);
  store_->database().execute("DROP TABLE events");
  EXPECT_THROW(Ingester::store(*store_, batch, rows[0].tUs), StoreError);
  store_.reset();
  std::filesystem::remove(path("network.db"));
  store_ = Store::open("sqlite:" + path("network.db"));
  Ingester::store(*store_, batch, rows[0].tUs);
  EXPECT_EQ(store_->eventCount(), 5);
  EXPECT_EQ(ingester.committed(batch).size(), 1u);
}

}  // namespace
}  // namespace ravdel
