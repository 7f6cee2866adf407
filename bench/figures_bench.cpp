// ravdel-figures-bench: the network's figures on a generated store of many stations, in both
// engines. The store is made first (minutes for a year of 100 stations), then each figure is
// timed:
//   ravdel-figures-bench [--stations=100] [--days=365] [--engines=sqlite,postgresql]
//                        [--folder=DIR] [--keep] [benchmark flags]
// Each engine is timed as soon as its store is made. With --keep the SQLite store stays in the
// folder and is used again by the next run of the same shape.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "analysis/coincidences.h"
#include "analysis/health.h"
#include "analysis/rates.h"
#include "network_generator.h"
#include "store/time_bins.h"
#include "support/services.h"

namespace {

using namespace ravdel;

struct Options {
  bench::NetworkShape shape;
  std::vector<std::string> engines = {"sqlite", "postgresql"};
  std::string folder;
  bool keep = false;
};

// The stores made for the run, by engine, and the cluster that holds the PostgreSQL one.
struct Stores {
  std::unique_ptr<test::TestPostgres> postgres;
  std::vector<std::pair<std::string, std::string>> locations;  // engine, location
};

std::int64_t endOf(const bench::NetworkShape& shape) {
  return shape.startUs + shape.days * kDayUs;
}

void coincidences(benchmark::State& state, std::string location, bench::NetworkShape shape) {
  auto store = Store::open(location);
  CoincidenceQuery query;
  query.sinceUs = shape.startUs;
  query.untilUs = endOf(shape);
  std::size_t found = 0;
  double expected = 0;
  for (auto _ : state) {
    const CoincidenceResult result = searchCoincidences(store->database(), query);
    found = result.groups.size();
    expected = result.background.expected;
  }
  state.counters["found"] = static_cast<double>(found);
  state.counters["expected"] = expected;
}

// The two steps apart: reading the intervals, and the search with its shifted searches.
void coincidenceLoad(benchmark::State& state, std::string location, bench::NetworkShape shape) {
  auto store = Store::open(location);
  CoincidenceQuery query;
  query.sinceUs = shape.startUs;
  query.untilUs = endOf(shape);
  for (auto _ : state)
    benchmark::DoNotOptimize(loadCoincidenceInput(store->database(), query));
}

void coincidenceSearch(benchmark::State& state, std::string location, bench::NetworkShape shape) {
  auto store = Store::open(location);
  CoincidenceQuery query;
  query.sinceUs = shape.startUs;
  query.untilUs = endOf(shape);
  const CoincidenceInput input = loadCoincidenceInput(store->database(), query);
  for (auto _ : state)
    benchmark::DoNotOptimize(searchLoaded(input, query));
}

void yearOfHourlyRates(benchmark::State& state, std::string location, bench::NetworkShape shape) {
  auto store = Store::open(location);
  const RateQuery query{bench::stationName(0), shape.startUs, endOf(shape), kHourUs};
  std::size_t bins = 0;
  for (auto _ : state)
    bins = rates(store->database(), query).size();
  state.counters["bins"] = static_cast<double>(bins);
}

void stationsPage(benchmark::State& state, std::string location, bench::NetworkShape shape,
                  std::int64_t rangeUs) {
  auto store = Store::open(location);
  const std::int64_t now = endOf(shape);
  std::size_t stations = 0;
  for (auto _ : state)
    stations = stationSummaries(store->database(), now, now - rangeUs, now).size();
  state.counters["stations"] = static_cast<double>(stations);
}

std::string generate(const std::string& engine, const std::string& location,
                     const Options& options) {
  const auto start = std::chrono::steady_clock::now();
  auto store = Store::open(location);
  const bench::Generated made = bench::generateNetwork(*store, options.shape);
  // A store in service is vacuumed by autovacuum as it fills, which lets PostgreSQL answer the
  // coincidence search from the index alone; the store just made is vacuumed at once.
  if (store->database().engine() == Engine::postgresql)
    store->database().execute("VACUUM (ANALYZE) events");
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr, "%s: %d stations, %d days: %lld events, %lld heartbeats in %.0f s\n",
               engine.c_str(), options.shape.stations, options.shape.days,
               static_cast<long long>(made.events), static_cast<long long>(made.heartbeats),
               seconds);
  return location;
}

// "STATIONS DAYS", the shape a kept SQLite store was made in.
std::string shapeText(const bench::NetworkShape& shape) {
  return std::to_string(shape.stations) + " " + std::to_string(shape.days);
}

// With --keep, a store of the same shape left by an earlier run is used again.
std::string make(const std::string& engine, const Options& options, Stores& stores) {
  const std::string shapeFile = options.folder + "/" + engine + ".shape";
  std::string made;
  std::getline(std::ifstream(shapeFile), made);
  const bool reuse = options.keep && made == shapeText(options.shape);
  std::string location;
  if (engine == "sqlite") {
    const std::string file = options.folder + "/network.db";
    location = "sqlite:" + file;
    if (!reuse) std::filesystem::remove(file);
  } else {
    if (const auto missing = test::TestPostgres::unavailable()) {
      std::fprintf(stderr, "no PostgreSQL: %s\n", missing->c_str());
      return {};
    }
    if (!reuse) std::filesystem::remove_all(options.folder + "/pg");
    test::PostgresOptions cluster;
    cluster.reuse = reuse;
    stores.postgres = std::make_unique<test::TestPostgres>(options.folder, cluster);
    location = stores.postgres->uri();
  }
  if (reuse) {
    std::fprintf(stderr, "%s: the store of %s stations and days, kept\n", engine.c_str(),
                 made.c_str());
    return location;
  }
  std::filesystem::remove(shapeFile);
  generate(engine, location, options);
  std::ofstream(shapeFile) << shapeText(options.shape) << '\n';
  return location;
}

// Our own flags; the rest go to the benchmark library.
Options readOptions(int& argc, char** argv) {
  Options options;
  options.folder = (std::filesystem::temp_directory_path() / "ravdel-figures-bench").string();
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    const auto value = [&](const char* name) {
      return word.rfind(name, 0) == 0 ? word.substr(std::string(name).size()) : std::string();
    };
    if (!value("--stations=").empty()) {
      options.shape.stations = std::stoi(value("--stations="));
    } else if (!value("--days=").empty()) {
      options.shape.days = std::stoi(value("--days="));
    } else if (!value("--folder=").empty()) {
      options.folder = value("--folder=");
    } else if (word == "--keep") {
      options.keep = true;
    } else if (!value("--engines=").empty()) {
      const std::string list = value("--engines=");
      options.engines.clear();
      for (std::size_t at = 0; at <= list.size();) {
        const std::size_t comma = std::min(list.find(',', at), list.size());
        options.engines.push_back(list.substr(at, comma - at));
        at = comma + 1;
      }
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  return options;
}

}  // namespace

int main(int argc, char** argv) try {
  const Options options = readOptions(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (!options.keep) std::filesystem::remove_all(options.folder);
  std::filesystem::create_directories(options.folder);
  Stores stores;
  for (const std::string& engine : options.engines) {
    const std::string location = make(engine, options, stores);
    if (location.empty()) continue;
    const bench::NetworkShape shape = options.shape;
    benchmark::RegisterBenchmark(("figures/" + engine + "/coincidences_with_20_shifts").c_str(),
                                 coincidences, location, shape)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->MeasureProcessCPUTime()
        ->UseRealTime();
    benchmark::RegisterBenchmark(("figures/" + engine + "/coincidences_reading").c_str(),
                                 coincidenceLoad, location, shape)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
    benchmark::RegisterBenchmark(("figures/" + engine + "/coincidences_searching").c_str(),
                                 coincidenceSearch, location, shape)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->MeasureProcessCPUTime()
        ->UseRealTime();
    benchmark::RegisterBenchmark(("figures/" + engine + "/hourly_rates_of_one_station").c_str(),
                                 yearOfHourlyRates, location, shape)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("figures/" + engine + "/stations_page_last_week").c_str(),
                                 stationsPage, location, shape, 7 * kDayUs)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("figures/" + engine + "/stations_page_whole_range").c_str(),
                                 stationsPage, location, shape, shape.days * kDayUs)
        ->Unit(benchmark::kMillisecond);
    // A reporter per engine: the library's own reports only its first run.
    benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::ClearRegisteredBenchmarks();
  }
  benchmark::Shutdown();
  stores.postgres.reset();
  if (!options.keep) std::filesystem::remove_all(options.folder);
  return 0;
} catch (const std::exception& e) {
  std::fprintf(stderr, "ravdel-figures-bench: %s\n", e.what());
  return 1;
}
