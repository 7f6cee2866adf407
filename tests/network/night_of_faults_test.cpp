// A night of faults: twenty ravdel-monitor stations with simulated cameras (ordinary hits and
// showers) send through one broker to the ingesters while the broker, an ingester, a station
// and the database fail in turn. Afterwards the store holds exactly the events the stations'
// logs hold: none lost, none twice, no gap in any run, and each run's heartbeats add up to the
// live time its station reported.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

#include "server/accounts.h"
#include "server/broker_client.h"
#include "store/store.h"
#include "support/services.h"
#include "support/temp_dir.h"
#include "wire/messages.h"

namespace ravdel {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr int kStations = 20;
constexpr std::int64_t kProgressEvents = 15;  // stored after a fault: the network works again
constexpr auto kProgressLimit = 90s;
constexpr auto kBrokerAway = 30s;

// (station, run, seq): an event's key across the network.
using EventKey = std::tuple<std::string, std::string, std::int64_t>;

std::string stationName(int index) {
  char name[16];
  std::snprintf(name, sizeof name, "station-%02d", index);
  return name;
}

std::string readText(const fs::path& file) {
  std::ostringstream text;
  text << std::ifstream(file).rdbuf();
  return text.str();
}

std::string tail(const std::string& text, std::size_t bytes = 3000) {
  return text.size() <= bytes ? text : text.substr(text.size() - bytes);
}

// One ravdel-monitor in a folder of its own: its settings file (with the [Network] section),
// password file, event log, pictures, history store and console lines.
class Station {
 public:
  Station(fs::path folder, int index, const std::string& broker, const std::string& password)
      : folder_(std::move(folder)), name_(stationName(index)), index_(index) {
    fs::create_directories(folder_ / "out");
    std::ofstream(folder_ / "password") << password << "\n";
    std::ofstream(folder_ / "RVD.ini")
        << "[Network]\nserver=" << broker << "\nstation=" << name_
        << "\npassword-file=" << (folder_ / "password").string() << "\n";
  }

  const std::string& name() const { return name_; }
  void start() {
    test::ChildOptions options;
    options.argv = {RAVDEL_MONITOR_PATH,
                    "--settings",
                    (folder_ / "RVD.ini").string(),
                    "--events",
                    (folder_ / "events.jsonl").string(),
                    "--out",
                    (folder_ / "out").string(),
                    "--camera",
                    "Station camera",
                    "--quiet"};
    // Ordinary hits of the station's own, and showers every station may see (the same seed).
    options.environment = {
        {"RAVDEL_SIMULATED_CAMERA",
         "synthetic:size=320x240,fps=10,hits=0.4,seed=" + std::to_string(index_) +
             ",showers=0.25,shower-seed=77,shower-share=0.6,also=none,"
             "name=Station camera"}};
    options.workingDirectory = folder_.string();
    options.outputFile = (folder_ / "console.log").string();
    process_ = std::make_unique<test::ChildProcess>(options);
  }
  void kill() { process_->kill(); }
  void signal(int number) { process_->signal(number); }
  // The exit status once it has ended, its drain at the close included.
  int waitForEnd() { return process_->wait(60s).value_or(-1); }

  // Every event of the station's log, each line read as JSON.
  std::vector<EventKey> logged() const {
    std::vector<EventKey> keys;
    std::istringstream lines(readText(folder_ / "events.jsonl"));
    for (std::string line; std::getline(lines, line);) {
      const auto event = nlohmann::json::parse(line);
      keys.emplace_back(name_, event.at("run_id").get<std::string>(),
                        event.at("seq").get<std::int64_t>());
    }
    return keys;
  }
  // The live seconds of the last summary the station printed.
  std::optional<double> lastLiveSeconds() const {
    static const std::regex summary(R"(stopped \([^)]*\): .*, live (\d+) s,)");
    std::optional<double> live;
    const std::string text = readText(folder_ / "console.log");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), summary);
         it != std::sregex_iterator(); ++it)
      live = std::stod((*it)[1]);
    return live;
  }
  std::int64_t undelivered() const {
    return Store::open((folder_ / "RVD-history.db").string())->undeliveredCount();
  }
  std::string console() const { return tail(readText(folder_ / "console.log")); }

 private:
  fs::path folder_;
  std::string name_;
  int index_;
  std::unique_ptr<test::ChildProcess> process_;
};

// The test's reading of the network's store; opened again after an outage.
class ServerStore {
 public:
  explicit ServerStore(std::string location) : location_(std::move(location)) {}

  // The events stored; -1 while the store is away.
  std::int64_t events() { return count("SELECT count(*) FROM events"); }
  // The one number a query gives; -1 while the store is away.
  std::int64_t count(const std::string& sql) {
    try {
      if (!store_) store_ = Store::open(location_);
      const auto query = store_->database().prepare(sql);
      return query->step() ? query->integer(0) : -1;
    } catch (const StoreError&) {
      store_.reset();  // asked again next time
      return -1;
    }
  }
  Store& store() {
    if (!store_) store_ = Store::open(location_);
    return *store_;
  }

 private:
  std::string location_;
  std::unique_ptr<Store> store_;
};

class NightOfFaultsTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    if (const auto why = test::TestBroker::unavailable()) GTEST_SKIP() << *why;
  }
  void TearDown() override {
    stations_.clear();
    ingesters_.clear();
    broker_.reset();
    postgres_.reset();
    TempDirTest::TearDown();
  }

  // Accounts for every station and ingester, the broker that holds them to their topics, the
  // ingesters and the stations.
  void startNetwork(const std::string& store, int ingesters) {
    store_ = store;
    server_ = std::make_unique<ServerStore>(store);
    const std::string passwords = path("broker.passwords"), acl = path("broker.acl");
    std::vector<std::string> stationPasswords;
    for (int i = 1; i <= kStations; ++i)
      stationPasswords.push_back(addStationAccount(stationName(i), passwords, acl).password);
    for (int n = 0; n < ingesters; ++n)
      ingestPasswords_.push_back(
          addIngestAccount("ingest-" + std::to_string(n), passwords, acl).password);
    observer_ = addIngestAccount("observer", passwords, acl);
    test::BrokerOptions options;
    options.passwordFile = passwords;
    options.aclFile = acl;
    broker_ = std::make_unique<test::TestBroker>(path("broker"), options);
    for (int n = 0; n < ingesters; ++n)
      startIngester(n);
    for (int i = 1; i <= kStations; ++i) {
      stations_.push_back(
          std::make_unique<Station>(dir_ / stationName(i), i, broker_->address(),
                                    stationPasswords[static_cast<std::size_t>(i - 1)]));
      stations_.back()->start();
    }
  }

  void startIngester(int n) {
    const std::string passwordFile = path("ingest-" + std::to_string(n) + ".password");
    write(passwordFile, ingestPasswords_.at(static_cast<std::size_t>(n)) + "\n");
    test::ChildOptions options;
    options.argv = {RAVDEL_INGEST_PATH,
                    "--broker",
                    broker_->address(),
                    "--store",
                    store_,
                    "--user",
                    "ingest-" + std::to_string(n),
                    "--password-file",
                    passwordFile};
    options.outputFile = path("ingest-" + std::to_string(n) + ".log");
    ingesters_[n] = std::make_unique<test::ChildProcess>(options);
  }

  std::string logs() const {
    std::string text = "broker:\n" + tail(broker_->log());
    for (const auto& [n, ingester] : ingesters_)
      text += "\ningest-" + std::to_string(n) + ":\n" +
              tail(read(path("ingest-" + std::to_string(n) + ".log")));
    return text;
  }

  // The network stores again: kProgressEvents more events than when asked.
  void expectProgress(const std::string& after) {
    const std::int64_t from = std::max<std::int64_t>(0, server_->events());
    ASSERT_TRUE(test::eventually([&] { return server_->events() >= from + kProgressEvents; },
                                 kProgressLimit))
        << "nothing stored after " << after << "\n"
        << logs();
  }

  // Killed with SIGKILL while a batch of its is on its way: the ingesters are held until the
  // broker has the batch, so that it is neither stored nor acknowledged when the station dies.
  // Started again, it sends what its store still holds.
  void killStationMidBatch(Station& station) {
    BrokerSettings settings;
    settings.host = broker_->host();
    settings.port = broker_->port();
    settings.user = observer_.name;
    settings.password = observer_.password;
    std::atomic<bool> batchSeen = false;
    BrokerClient observer(
        settings, [&](std::string_view, std::string_view) { batchSeen = true; }, nullptr);
    observer.subscribe({stationTopic(station.name(), "events")});
    observer.start();
    ASSERT_TRUE(test::eventually([&] { return observer.connected(); }));
    for (auto& [n, ingester] : ingesters_)
      if (ingester->running()) ingester->signal(SIGSTOP);
    const bool seen = test::eventually([&] { return batchSeen.load(); });
    station.kill();
    for (auto& [n, ingester] : ingesters_)
      if (ingester->running()) ingester->signal(SIGCONT);
    ASSERT_TRUE(seen) << station.name() << " sent nothing\n" << station.console();
    station.start();
  }

  // The stations catch up, then stop on SIGTERM, sending what waits as they close.
  void stopStations() {
    // At least one whole minute's heartbeat from every station, beside the last, partial one.
    ASSERT_TRUE(test::eventually(
        [&] {
          return server_->count("SELECT count(DISTINCT station) FROM heartbeats") == kStations;
        },
        120s))
        << logs();
    ASSERT_TRUE(test::eventually(
        [&] {
          std::int64_t logged = 0;
          for (const auto& station : stations_)
            logged += static_cast<std::int64_t>(station->logged().size());
          return server_->events() >= logged;
        },
        120s))
        << "the stations did not catch up\n"
        << logs();
    for (const auto& station : stations_)
      station->signal(SIGTERM);
    for (const auto& station : stations_) {
      EXPECT_EQ(station->waitForEnd(), 0) << station->name() << "\n" << station->console();
      EXPECT_EQ(station->undelivered(), 0) << station->name() << " kept rows it could not send\n"
                                           << station->console();
    }
  }

  void expectEveryEventOnceWithoutGaps() {
    std::set<EventKey> logged;
    for (const auto& station : stations_) {
      for (const EventKey& key : station->logged())
        EXPECT_TRUE(logged.insert(key).second) << "logged twice: " << std::get<0>(key);
    }
    std::set<EventKey> stored;
    std::map<std::pair<std::string, std::string>, std::vector<std::int64_t>> runs;
    const auto rows = server_->store().database().prepare(
        "SELECT station, run_id, seq FROM events ORDER BY station, run_id, seq");
    while (rows->step()) {
      EXPECT_TRUE(stored.emplace(rows->text(0), rows->text(1), rows->integer(2)).second);
      runs[{rows->text(0), rows->text(1)}].push_back(rows->integer(2));
    }
    std::vector<EventKey> lost, extra;
    std::set_difference(logged.begin(), logged.end(), stored.begin(), stored.end(),
                        std::back_inserter(lost));
    std::set_difference(stored.begin(), stored.end(), logged.begin(), logged.end(),
                        std::back_inserter(extra));
    EXPECT_TRUE(lost.empty()) << lost.size() << " logged events lost, the first of "
                              << std::get<0>(lost.front()) << " seq " << std::get<2>(lost.front());
    EXPECT_TRUE(extra.empty()) << extra.size() << " stored events no station logged";
    for (const auto& [run, seqs] : runs) {
      EXPECT_EQ(seqs.back(), static_cast<std::int64_t>(seqs.size()))
          << "a gap in run " << run.second << " of " << run.first;
    }
    EXPECT_GT(logged.size(), 200u) << "a night with hardly any events proves little";
  }

  // Each station's last run ended with a summary; its heartbeats add up to that live time.
  void expectHeartbeatsToAddUpToTheLiveTime() {
    const auto lastRuns = server_->store().database().prepare(
        "SELECT station, run_id, sum(live_ms) FROM heartbeats GROUP BY station, run_id "
        "ORDER BY station, min(from_us)");
    std::map<std::string, double> liveOfLastRun;
    while (lastRuns->step())
      liveOfLastRun[lastRuns->text(0)] = static_cast<double>(lastRuns->integer(2)) / 1000;
    for (const auto& station : stations_) {
      const std::optional<double> summary = station->lastLiveSeconds();
      ASSERT_TRUE(summary.has_value()) << station->console();
      ASSERT_TRUE(liveOfLastRun.contains(station->name()))
          << "no heartbeats of " << station->name();
      EXPECT_NEAR(liveOfLastRun[station->name()], *summary, 1.0) << station->name();
    }
  }

  struct Fault {
    std::string name;
    std::function<void()> happen;
  };

  // The faults in turn, the network storing again after each; then the stations stop and the
  // store is checked against their logs.
  void runTheNight(const std::vector<Fault>& faults) {
    ASSERT_NO_FATAL_FAILURE(expectProgress("the start"));
    for (const Fault& fault : faults) {
      ASSERT_NO_FATAL_FAILURE(fault.happen());
      ASSERT_NO_FATAL_FAILURE(expectProgress(fault.name));
    }
    ASSERT_NO_FATAL_FAILURE(stopStations());
    expectEveryEventOnceWithoutGaps();
    expectHeartbeatsToAddUpToTheLiveTime();
    expectIngestersToEndCleanly();
  }
  Fault brokerCrash() {
    return {"the broker's crash", [this] {
              broker_->kill();
              broker_->start();
            }};
  }
  Fault stationCrash() {
    return {"a station's crash", [this] { killStationMidBatch(*stations_[6]); }};
  }
  Fault brokerAway() {
    return {"the broker's 30 s away", [this] {
              broker_->pause();
              std::this_thread::sleep_for(kBrokerAway);  // the fault itself lasts this long
              broker_->resume();
            }};
  }

  // The ingesters still running end on SIGTERM with their summary: nothing refused, nothing
  // rejected, whatever the night did to them.
  void expectIngestersToEndCleanly() {
    for (auto& [n, ingester] : ingesters_) {
      if (!ingester->running()) continue;
      EXPECT_EQ(ingester->stop(SIGTERM), 0);
      const std::string log = read(path("ingest-" + std::to_string(n) + ".log"));
      EXPECT_NE(log.find("refused messages: none; rejected rows: none"), std::string::npos)
          << tail(log);
    }
  }

  std::string store_;
  std::unique_ptr<ServerStore> server_;
  std::unique_ptr<test::TestPostgres> postgres_;
  std::unique_ptr<test::TestBroker> broker_;
  std::vector<std::string> ingestPasswords_;
  BrokerAccount observer_;
  std::map<int, std::unique_ptr<test::ChildProcess>> ingesters_;
  std::vector<std::unique_ptr<Station>> stations_;
};

TEST_F(NightOfFaultsTest, PostgresWithTwoIngesters) {
  if (const auto why = test::TestPostgres::unavailable()) GTEST_SKIP() << *why;
  postgres_ = std::make_unique<test::TestPostgres>(dir_.string());
  ASSERT_NO_FATAL_FAILURE(startNetwork(postgres_->uri(), 2));
  runTheNight({brokerCrash(),
               {"an ingester's crash, for good", [this] { ingesters_[0]->kill(); }},
               stationCrash(),
               {"the database's restart", [this] { postgres_->restart(); }},
               brokerAway()});
}

// SQLite lives in its ingester: the ingester's crash is the database's.
TEST_F(NightOfFaultsTest, SqliteWithOneIngester) {
  ASSERT_NO_FATAL_FAILURE(startNetwork("sqlite:" + path("network.db"), 1));
  runTheNight({brokerCrash(),
               {"the ingester's crash",
                [this] {
                  ingesters_[0]->kill();
                  startIngester(0);
                }},
               stationCrash(),
               brokerAway()});
}

}  // namespace
}  // namespace ravdel
