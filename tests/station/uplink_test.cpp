// The station's outbox between its history and the network: the real uplink, a broker and
// ravdel-ingest of the test's own.
#include "station/uplink.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "station/history_sink.h"
#include "store/store.h"
#include "support/child_process.h"
#include "support/services.h"
#include "support/temp_dir.h"
#include "wire/messages.h"

namespace ravdel {
namespace {

using namespace std::chrono_literals;

bool waitFor(const std::function<bool()>& done, std::chrono::seconds limit = 60s) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

EventReport report(const std::string& run, std::int64_t seq) {
  EventReport r;
  r.runId = run;
  r.seq = seq;
  r.hit = {1796718413000000 + seq * 1000, 1796718412950000 + seq * 1000,
           1796718413050000 + seq * 1000, false};
  r.peak = {5, 6, 180, 200, 255};
  r.limit = 150;
  r.width = 320;
  r.height = 240;
  r.camera = "Cam";
  r.frame = seq * 10;
  return r;
}

class UplinkTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    if (const auto why = test::TestBroker::unavailable()) GTEST_SKIP() << *why;
    broker_ = std::make_unique<test::TestBroker>(dir_.string());
    write(path("password"), "secret\n");
    history_ = std::make_unique<HistorySink>(
        Store::open(historyPath()), StationIdentity{"alpha", 48.21, 16.37}, true,
        [this](const std::string& text) { notes_.push_back(text); });
  }
  void TearDown() override {
    uplink_.reset();
    ingest_.reset();
    broker_.reset();
    TempDirTest::TearDown();
  }

  std::string historyPath() const { return path("RVD-history.db"); }
  std::string networkPath() const { return path("network.db"); }

  void startIngest() {
    test::ChildOptions options;
    options.argv = {RAVDEL_INGEST_PATH, "--broker", broker_->address(), "--store",
                    "sqlite:" + networkPath()};
    options.outputFile = path("ingest.log");
    ingest_ = std::make_unique<test::ChildProcess>(options);
  }
  void startUplink() {
    UplinkSettings settings;
    ASSERT_TRUE(parseBrokerAddress(broker_->address(), false, settings.host, settings.port));
    settings.station = "alpha";
    settings.password = "secret";
    settings.storePath = historyPath();
    settings.resendAfter = 1s;  // quick, for the test; the server's key keeps it to once
    uplink_ = std::make_unique<Uplink>(settings);
  }
  void record(const std::string& run, std::int64_t from, std::int64_t to) {
    for (std::int64_t seq = from; seq <= to; ++seq)
      history_->eventRecorded(report(run, seq));
    if (uplink_) uplink_->wake();
  }
  std::int64_t waiting() { return Store::open(historyPath())->undeliveredCount(); }
  std::int64_t stored() {
    if (!std::filesystem::exists(networkPath())) return 0;
    return Store::open(networkPath())->eventCount();
  }

  std::unique_ptr<test::TestBroker> broker_;
  std::unique_ptr<HistorySink> history_;
  std::unique_ptr<test::ChildProcess> ingest_;
  std::unique_ptr<Uplink> uplink_;
  std::vector<std::string> notes_;
};

// Rows leave the outbox only when the server says it stored them: sent while nobody stores
// (no ingester yet), they wait and go again; a station that loses its acknowledgements (a
// crash after the send) sends again, and the server still keeps each event once.
TEST_F(UplinkTest, RowsAreDeliveredOnlyWhenStoredAndStoredOnceHoweverOftenSent) {
  startUplink();
  record("a1a1a1a1a1a1a1a1", 1, 30);
  ASSERT_TRUE(waitFor([&] { return uplink_->counts().sent >= 30; })) << broker_->log();
  EXPECT_EQ(waiting(), 30) << "the broker took them; nobody has stored them";

  startIngest();
  ASSERT_TRUE(waitFor([&] { return waiting() == 0; })) << "sent again until stored";
  EXPECT_EQ(stored(), 30);
  EXPECT_GE(uplink_->counts().stored, 30);

  // The acknowledgements lost: every row is waiting again, as after a crash between the send
  // and the acknowledgement's arrival.
  uplink_.reset();
  Store::open(historyPath())->database().execute("UPDATE events SET delivered = 0");
  record("a1a1a1a1a1a1a1a1", 31, 40);
  startUplink();
  ASSERT_TRUE(waitFor([&] { return waiting() == 0; }));
  EXPECT_EQ(stored(), 40) << "30 sent twice, stored once";
  EXPECT_TRUE(history_->failures() == 0);
}

// The broker going away loses nothing: the uplink reconnects and the rows recorded meanwhile
// follow.
TEST_F(UplinkTest, ABrokerRestartLosesNothing) {
  startIngest();
  startUplink();
  record("b2b2b2b2b2b2b2b2", 1, 5);
  ASSERT_TRUE(waitFor([&] { return waiting() == 0; }));
  broker_->kill();
  record("b2b2b2b2b2b2b2b2", 6, 20);
  ASSERT_TRUE(waitFor([&] { return !uplink_->counts().connected; }));
  broker_->start();
  ASSERT_TRUE(waitFor([&] { return waiting() == 0; })) << broker_->log();
  EXPECT_EQ(stored(), 20);
  const std::vector<std::string> notes = uplink_->takeNotes();
  ASSERT_GE(notes.size(), 3u);
  EXPECT_EQ(notes[0].rfind("Connected to the station network", 0), 0u) << notes[0];
  EXPECT_EQ(notes[1].rfind("Disconnected from the station network", 0), 0u) << notes[1];
}

}  // namespace
}  // namespace ravdel
