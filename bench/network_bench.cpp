// ravdel-network-bench: events a second from stations through the broker and ravdel-ingest
// into the store, acknowledged after the commit: SQLite with one ingester, PostgreSQL (commits
// waiting for the disk, as in production) with one and with two. The stations are played by
// a few broker clients, each sending for many station names, in batches of 100 events as the
// station's uplink does; an iteration ends when every event is acknowledged as stored.
#include <benchmark/benchmark.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "server/broker_client.h"
#include "support/sample_rows.h"
#include "support/services.h"
#include "support/test_station.h"
#include "wire/messages.h"

namespace ravdel {
namespace {

namespace fs = std::filesystem;

constexpr int kStations = 200;
constexpr int kSenders = 4;  // broker clients, each sending for kStations / kSenders stations
constexpr std::int64_t kBatch = 100;
constexpr std::int64_t kEventsPerIteration = 40'000;

// A folder of the benchmark's own, removed with what it holds.
class Folder {
 public:
  Folder() {
    std::random_device seed;
    path_ = fs::temp_directory_path() / ("ravdel-bench-" + std::to_string(seed()));
    fs::create_directories(path_);
  }
  ~Folder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }
  std::string path() const { return path_.string(); }

 private:
  fs::path path_;
};

// Sends for its stations, counts what the ingesters acknowledge. Its network thread counts.
class Sender {
 public:
  Sender(const test::TestBroker& broker, int first, int count) {
    BrokerSettings settings;
    settings.host = broker.host();
    settings.port = broker.port();
    for (int i = first; i < first + count; ++i)
      stations_.push_back("bench-" + std::to_string(i));
    client_ = std::make_unique<BrokerClient>(
        settings,
        [this](std::string_view, std::string_view payload) {
          if (const auto ack = parseAck(payload))
            acked_ += static_cast<std::int64_t>(ack->events.size());
        },
        nullptr);
    std::vector<std::string> acks;
    for (const std::string& station : stations_)
      acks.push_back(stationTopic(station, "ack"));
    client_->subscribe(acks);
    client_->start();
  }

  bool connected() const { return client_->connected(); }
  std::int64_t acked() const { return acked_; }
  // `batches` batches, the stations taking turns; run ids new for each call.
  void send(std::int64_t batches, const std::string& run) {
    for (std::int64_t b = 0; b < batches; ++b) {
      const std::string& station = stations_[static_cast<std::size_t>(b) % stations_.size()];
      std::vector<EventRow> rows;
      const std::int64_t first = b / static_cast<std::int64_t>(stations_.size()) * kBatch + 1;
      for (std::int64_t seq = first; seq < first + kBatch; ++seq)
        rows.push_back(test::sampleEvent(station, run, seq, test::nowUs()));
      client_->publish(stationTopic(station, "events"), encodeEvents(station, rows));
    }
  }

 private:
  std::vector<std::string> stations_;
  std::atomic<std::int64_t> acked_{0};
  std::unique_ptr<BrokerClient> client_;
};

std::string runId(std::int64_t n) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(n + 0xbe000));
  return text;
}

void throughput(benchmark::State& state, bool postgres, int ingesters) {
  if (const auto why = test::TestBroker::unavailable()) return state.SkipWithError(why->c_str());
  if (postgres) {
    if (const auto why = test::TestPostgres::unavailable())
      return state.SkipWithError(why->c_str());
  }
  Folder folder;
  std::unique_ptr<test::TestPostgres> database;
  std::string store = "sqlite:" + (folder / "network.db");
  if (postgres) {
    test::PostgresOptions options;
    options.durable = true;
    database = std::make_unique<test::TestPostgres>(folder.path(), options);
    store = database->uri();
  }
  test::TestBroker broker(folder / "broker");
  std::vector<std::unique_ptr<test::ChildProcess>> running;
  for (int n = 0; n < ingesters; ++n) {
    test::ChildOptions options;
    // The flood cap is not what is measured: a few hundred stations send all they can.
    options.argv = {RAVDEL_INGEST_PATH, "--broker", broker.address(), "--store",   store,
                    "--flood-rate",     "1000000",  "--flood-burst",  "1000000000"};
    options.outputFile = folder / ("ingest-" + std::to_string(n) + ".log");
    running.push_back(std::make_unique<test::ChildProcess>(options));
  }
  std::vector<std::unique_ptr<Sender>> senders;
  for (int s = 0; s < kSenders; ++s)
    senders.push_back(
        std::make_unique<Sender>(broker, s * kStations / kSenders, kStations / kSenders));
  const auto acked = [&] {
    std::int64_t sum = 0;
    for (const auto& sender : senders)
      sum += sender->acked();
    return sum;
  };
  // Until the ingesters have subscribed, messages have nobody to go to: a first batch waits.
  if (!test::eventually([&] {
        for (const auto& sender : senders) {
          if (!sender->connected()) return false;
        }
        senders[0]->send(1, runId(-1));
        return test::eventually([&] { return acked() > 0; }, std::chrono::milliseconds(500));
      })) {
    return state.SkipWithError("the ingesters did not answer");
  }

  std::int64_t iteration = 0;
  for (auto _ : state) {
    const std::int64_t from = acked();
    const std::int64_t batches = kEventsPerIteration / kBatch / kSenders;
    for (const auto& sender : senders)
      sender->send(batches, runId(iteration));
    if (!test::eventually([&] { return acked() >= from + kEventsPerIteration; },
                          std::chrono::minutes(5))) {
      return state.SkipWithError("not every event was acknowledged");
    }
    ++iteration;
  }
  state.SetItemsProcessed(state.iterations() * kEventsPerIteration);
}

void registerAll() {
  const struct {
    const char* name;
    bool postgres;
    int ingesters;
  } setups[] = {{"IngestEvents/SQLite/1_ingester", false, 1},
                {"IngestEvents/PostgreSQL/1_ingester", true, 1},
                {"IngestEvents/PostgreSQL/2_ingesters", true, 2}};
  for (const auto& setup : setups) {
    benchmark::RegisterBenchmark(
        setup.name,
        [setup](benchmark::State& state) { throughput(state, setup.postgres, setup.ingesters); })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3)
        ->UseRealTime();
  }
}

}  // namespace
}  // namespace ravdel

int main(int argc, char* argv[]) {
  ravdel::registerAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
