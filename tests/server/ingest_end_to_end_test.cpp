// ravdel-ingest as it runs: the real program between a broker of the test's own and a store,
// with stations played by broker clients of the test.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <regex>
#include <set>

#include "store/store.h"
#include "support/sample_rows.h"
#include "support/services.h"
#include "support/temp_dir.h"
#include "support/test_station.h"

namespace ravdel {
namespace {

using namespace std::chrono_literals;

std::vector<EventRow> events(const std::string& station, const std::string& run, std::int64_t from,
                             std::int64_t to) {
  std::vector<EventRow> rows;
  for (std::int64_t seq = from; seq <= to; ++seq)
    rows.push_back(test::sampleEvent(station, run, seq, test::nowUs()));
  return rows;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++n;
  return n;
}

class IngestEndToEndTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    if (const auto why = test::TestBroker::unavailable()) GTEST_SKIP() << *why;
    store_ = "sqlite:" + path("network.db");
  }
  void TearDown() override {
    ingesters_.clear();
    broker_.reset();
    postgres_.reset();
    TempDirTest::TearDown();
  }

  void startBroker(test::BrokerOptions options = {}) {
    broker_ = std::make_unique<test::TestBroker>(dir_.string(), std::move(options));
  }
  // Another ingester, its lines in ingest-N.log.
  test::ChildProcess& startIngest(std::vector<std::string> more = {}) {
    test::ChildOptions options;
    options.argv = {RAVDEL_INGEST_PATH, "--broker", broker_->address(), "--store", store_};
    options.argv.insert(options.argv.end(), more.begin(), more.end());
    options.outputFile = ingestLogPath(ingesters_.size());
    ingesters_.push_back(std::make_unique<test::ChildProcess>(options));
    return *ingesters_.back();
  }
  std::string ingestLogPath(std::size_t n) const {
    return path("ingest-" + std::to_string(n) + ".log");
  }
  std::string ingestLog(std::size_t n = 0) const { return read(ingestLogPath(n)); }

  BrokerSettings clientSettings(const std::string& user = "", const std::string& password = "") {
    BrokerSettings settings;
    settings.host = broker_->host();
    settings.port = broker_->port();
    settings.user = user;
    settings.password = password;
    if (broker_->host() == "localhost") settings.tlsCa = broker_->caFile();
    return settings;
  }
  std::int64_t storedEvents() { return Store::open(store_)->eventCount(); }
  // Whether every event the ack calls stored is in the store at this moment. A late answer to
  // a resent batch may come while a test keeps the store away: that one cannot be checked.
  test::TestStation::AckCheck checkStoredBeforeAck() {
    return [this](const Ack& ack) {
      try {
        const auto store = Store::open(store_);
        const auto query =
            store->database().prepare("SELECT count(*) FROM events WHERE run_id = $1 AND seq = $2");
        for (const RowKey& key : ack.events) {
          query->reset();
          query->bind(1, key.runId);
          query->bind(2, key.seq);
          query->step();
          if (query->integer(0) != 1) ++ackedBeforeStored_;
        }
      } catch (const std::exception&) {
      }
    };
  }

  std::string store_;
  std::unique_ptr<test::TestBroker> broker_;
  std::unique_ptr<test::TestPostgres> postgres_;
  std::vector<std::unique_ptr<test::ChildProcess>> ingesters_;
  std::atomic<int> ackedBeforeStored_{0};
};

// The acknowledgement comes after the commit, and a batch sent again (its acknowledgement
// lost) is acknowledged again and stored once.
TEST_F(IngestEndToEndTest, ABatchSentTwiceIsStoredOnceAndAcknowledgedAfterTheCommit) {
  startBroker();
  startIngest();
  test::TestStation alpha("alpha", clientSettings(), {}, checkStoredBeforeAck());
  const auto rows = events("alpha", "00aa", 1, 5);
  ASSERT_TRUE(alpha.sendUntilAcked(rows)) << ingestLog();
  const std::size_t acks = alpha.acks().size();
  alpha.sendEvents(rows);
  ASSERT_TRUE(alpha.waitForAcks(acks + 1));
  EXPECT_EQ(alpha.acks().back().events.size(), 5u);
  EXPECT_EQ(storedEvents(), 5);
  EXPECT_EQ(ackedBeforeStored_, 0);
}

// Messages that cannot be read are counted by reason, each reason said once, and never
// acknowledged; SIGTERM ends the ingester with the summary.
TEST_F(IngestEndToEndTest, MessagesThatCannotBeReadAreCountedNotAcknowledged) {
  startBroker();
  test::ChildProcess& ingest = startIngest();
  test::TestStation alpha("alpha", clientSettings());
  ASSERT_TRUE(alpha.sendUntilAcked(events("alpha", "00aa", 1, 1))) << ingestLog();
  alpha.send("ravdel/alpha/events", "{\"v\":1,");
  alpha.send("ravdel/alpha/events", "garbage");
  alpha.send("ravdel/alpha/heartbeats", std::string(2 << 20, '['));
  ASSERT_TRUE(alpha.sendUntilAcked(events("alpha", "00aa", 2, 2)));
  EXPECT_EQ(ingest.stop(SIGTERM), 0);
  const std::string log = ingestLog();
  EXPECT_EQ(occurrences(log, "refused a message from alpha: not JSON"), 1u) << log;
  EXPECT_EQ(occurrences(log, "refused a message from alpha: larger than 1 MiB"), 1u) << log;
  // A busy machine may send a good batch more than once (and the first before the ingester
  // subscribed), and the ingester may answer two messages with one acknowledgement: every good
  // message that arrived is stored, the three bad ones are not, and only good rows are named.
  std::smatch told;
  ASSERT_TRUE(std::regex_search(
      log, told,
      std::regex("stopped: (\\d+) messages, (\\d+) events and 0 heartbeats stored, (\\d+) "
                 "acknowledgements; refused messages: message from alpha: larger than 1 MiB 1, "
                 "message from alpha: not JSON 2")))
      << log;
  EXPECT_EQ(std::stoul(told[1]), std::stoul(told[2]) + 3) << "one event a good message";
  const std::size_t acknowledgements = std::stoul(told[3]);
  ASSERT_TRUE(alpha.waitForAcks(acknowledgements));
  EXPECT_EQ(alpha.acks().size(), acknowledgements);
  EXPECT_EQ(alpha.storedEvents(), (std::set<RowKey>{{"00aa", 1}, {"00aa", 2}}));
}

TEST_F(IngestEndToEndTest, AFloodIsCappedAndItsStationFlagged) {
  startBroker();
  startIngest({"--flood-burst", "20", "--flood-rate", "0.01"});
  test::TestStation alpha("alpha", clientSettings());
  ASSERT_TRUE(alpha.sendUntilAcked(events("alpha", "00aa", 1, 30))) << ingestLog();
  EXPECT_EQ(alpha.storedEvents().size(), 20u);
  EXPECT_EQ(alpha.rejectedEvents().size(), 10u);
  EXPECT_EQ(alpha.acks().front().rejected.front().reason, "flood");
  const auto flags =
      Store::open(store_)->database().prepare("SELECT flags FROM stations WHERE station = 'alpha'");
  ASSERT_TRUE(flags->step());
  EXPECT_EQ(flags->integer(0), kStationFlooded);
}

// Accounts made by ravdel-net: a station writes only under its own name and reads only its own
// acknowledgements; a wrong password gets no connection.
TEST_F(IngestEndToEndTest, TheBrokersRulesKeepEachStationToItsOwnTopics) {
  const std::string passwords = path("passwords"), acl = path("acl");
  std::map<std::string, std::string> password;
  for (const auto& [kind, name] : std::vector<std::pair<std::string, std::string>>{
           {"station", "alpha"}, {"station", "beta"}, {"ingest-account", "ingest-1"}}) {
    test::ChildOptions net;
    net.argv = {RAVDEL_NET_PATH, kind, "add", name, "--passwords", passwords, "--acl", acl};
    std::string out;
    ASSERT_EQ(test::runToEnd(net, out), 0) << out;
    std::smatch told;
    ASSERT_TRUE(std::regex_search(out, told, std::regex("told only now:\n\n    (\\S+)\n"))) << out;
    password[name] = told[1];
  }
  write(path("ingest.password"), password["ingest-1"] + "\n");
  test::BrokerOptions options;
  options.passwordFile = passwords;
  options.aclFile = acl;
  startBroker(options);
  startIngest({"--user", "ingest-1", "--password-file", path("ingest.password")});

  test::TestStation beta("beta", clientSettings("beta", password["beta"]));
  ASSERT_TRUE(beta.sendUntilAcked(events("beta", "00bb", 1, 1))) << ingestLog();
  test::TestStation alpha("alpha", clientSettings("alpha", password["alpha"]),
                          {"ravdel/+/ack", "ravdel/beta/ack", "ravdel/+/events"});
  ASSERT_TRUE(alpha.waitConnected());
  alpha.send("ravdel/beta/events", encodeEvents("beta", events("beta", "00bb", 2, 2)));
  ASSERT_TRUE(beta.sendUntilAcked(events("beta", "00bb", 3, 3)));
  ASSERT_TRUE(alpha.sendUntilAcked(events("alpha", "00aa", 1, 1)));
  for (const std::string& topic : alpha.topicsReceived())
    EXPECT_EQ(topic, "ravdel/alpha/ack");
  EXPECT_EQ(beta.storedEvents(), (std::set<RowKey>{{"00bb", 1}, {"00bb", 3}}));
  EXPECT_EQ(storedEvents(), 3) << "nothing under beta's name from alpha";

  std::atomic<bool> refused = false;
  BrokerClient wrong(clientSettings("alpha", "not-the-password"), nullptr,
                     [&](bool connected, const std::string&) { refused = refused || !connected; });
  wrong.start();
  EXPECT_TRUE(test::eventually([&] { return refused.load(); }));
  EXPECT_FALSE(wrong.connected());
}

// TLS: the ingester and the station check the broker's certificate and its host name; a
// client that names the broker otherwise than its certificate does gets no connection.
TEST_F(IngestEndToEndTest, TlsWithTheBrokersHostNameChecked) {
  test::BrokerOptions options;
  options.tls = true;
  startBroker(options);
  startIngest({"--tls-ca", broker_->caFile()});
  test::TestStation alpha("alpha", clientSettings());
  ASSERT_TRUE(alpha.sendUntilAcked(events("alpha", "00aa", 1, 2))) << ingestLog();

  BrokerSettings byAddress = clientSettings();
  byAddress.host = "127.0.0.1";
  std::atomic<bool> failed = false;
  BrokerClient client(byAddress, nullptr,
                      [&](bool connected, const std::string&) { failed = failed || !connected; });
  client.start();
  EXPECT_TRUE(test::eventually([&] { return failed.load(); }));
  EXPECT_FALSE(client.connected());
}

// While the store is away nothing is acknowledged; the batch in hand is stored when it is
// back, without the station sending it again. The broker's restart costs nothing either.
TEST_F(IngestEndToEndTest, NothingIsAcknowledgedWhileTheStoreIsAwayAndTheBatchKeptForItsReturn) {
  if (const auto why = test::TestPostgres::unavailable()) GTEST_SKIP() << *why;
  postgres_ = std::make_unique<test::TestPostgres>(dir_.string());
  store_ = postgres_->uri();
  startBroker();
  startIngest();
  test::TestStation alpha("alpha", clientSettings(), {}, checkStoredBeforeAck());
  ASSERT_TRUE(alpha.sendUntilAcked(events("alpha", "00aa", 1, 1))) << ingestLog();

  postgres_->stop();
  alpha.sendEvents(events("alpha", "00aa", 2, 3));
  ASSERT_TRUE(test::eventually([&] {
    return ingestLog().find("the store failed") != std::string::npos;
  })) << ingestLog();
  EXPECT_FALSE(alpha.storedEvents().contains(RowKey{"00aa", 2}));
  postgres_->start();
  // A late answer to a resent first batch may come first: wait for the rows, not a count.
  ASSERT_TRUE(test::eventually([&] { return alpha.storedEvents().size() == 3; })) << ingestLog();
  EXPECT_EQ(ackedBeforeStored_, 0);

  broker_->restart();
  ASSERT_TRUE(alpha.sendUntilAcked(events("alpha", "00aa", 4, 4))) << ingestLog();
  EXPECT_EQ(storedEvents(), 4);
}

// Two ingesters on the shared subscription: each message reaches one of them.
TEST_F(IngestEndToEndTest, TwoIngestersShareTheStationsMessages) {
  startBroker();
  startIngest();
  startIngest();
  // Both in the group before the first message, or the first one alone could take them all.
  ASSERT_TRUE(test::eventually([&] {
    return occurrences(broker_->log(), " $share/ravdel-ingest/ravdel/+/events") >= 2;
  })) << broker_->log();
  test::TestStation alpha("alpha", clientSettings());
  for (std::int64_t seq = 1; seq <= 20; ++seq)
    ASSERT_TRUE(alpha.sendUntilAcked(events("alpha", "00aa", seq, seq))) << ingestLog(1);
  EXPECT_EQ(storedEvents(), 20);
  for (std::size_t n = 0; n < 2; ++n) {
    ASSERT_EQ(ingesters_[n]->stop(SIGTERM), 0);
    std::smatch took;
    const std::string log = ingestLog(n);
    ASSERT_TRUE(std::regex_search(log, took, std::regex("stopped: (\\d+) messages"))) << log;
    EXPECT_GT(std::stoi(took[1]), 0) << "ingester " << n << " took nothing";
  }
}

}  // namespace
}  // namespace ravdel
