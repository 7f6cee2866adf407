// Coincidences found in what the simulated camera really makes: eight stations at 15, 25 and
// 30 frames a second, each clock off by some part of its error bound, the showers' instants
// from the camera's own schedule; and the accidental count of a run without showers against
// 2 tau R1 R2 summed over the pairs.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <vector>

#include "analysis/coincidences.h"
#include "capture/simulated/simulated_description.h"
#include "capture/simulated/synthetic_source.h"
#include "monitor/hit_time.h"
#include "support/engine_stores.h"

namespace ravdel {
namespace {

constexpr std::int64_t kStartUs = 1796718000000000;  // 2026-12-08, a whole second
constexpr std::int64_t kFallbackErrorUs = 100000;    // [Network] clock-error-ms

struct SimulatedStation {
  std::string name;
  double fps;
  bool synced;
  std::int64_t errorUs;   // the bound the station states
  std::int64_t offsetUs;  // how far its clock really is off, within the bound
  std::int64_t phaseUs;   // when its first frame ends after kStartUs
};

// Eight stations: frame rates 15, 25 and 30; five with a synchronised clock (2 to 30 ms), three
// without (the 100 ms fallback); each clock off by up to nine tenths of its bound.
std::vector<SimulatedStation> network() {
  const double rates[] = {15, 25, 30, 15, 25, 30, 25, 30};
  const std::int64_t errors[] = {2000, 30000, 8000, 0, 15000, 0, 5000, 0};
  const double offsets[] = {0.9, -0.9, 0.5, -0.7, 0.0, 0.8, -0.3, -0.9};
  std::vector<SimulatedStation> stations;
  for (int i = 0; i < 8; ++i) {
    SimulatedStation s;
    s.name = "station-" + std::to_string(i + 1);
    s.fps = rates[i];
    s.synced = errors[i] > 0;
    s.errorUs = s.synced ? errors[i] : kFallbackErrorUs;
    s.offsetUs = static_cast<std::int64_t>(offsets[i] * static_cast<double>(s.errorUs));
    s.phaseUs = 7919 * (i + 1);
    stations.push_back(s);
  }
  return stations;
}

struct Simulated {
  std::vector<EventRow> events;
  std::map<std::pair<std::string, std::int64_t>, std::uint64_t> showerOf;  // (station, t_us)
  std::map<std::uint64_t, std::set<std::string>> stationsOf;               // shower -> stations
};

// Runs the station's simulated camera over `seconds` of true time, frame by frame on its own
// clock: a frame with a hit is an event (a frame makes one at most), timed as the monitor
// times it from the moment its clock gives the frame.
void simulate(const SimulatedStation& station, int index, const std::string& options,
              double seconds, Simulated& out) {
  SimulatedDescription description;
  std::string error;
  const std::string text = "synthetic:size=64x48,also=none,fps=" + std::to_string(station.fps) +
                           ",seed=" + std::to_string(101 + index) + "," + options;
  ASSERT_TRUE(parseSimulatedDescription(text, description, error)) << error;
  SyntheticSource camera(syntheticSettings(description));
  camera.start({description.format.fourcc, 64, 48});
  const auto periodUs = static_cast<std::int64_t>(std::llround(1e6 / station.fps));
  const ClockState clock{station.synced, station.synced ? station.errorUs : 0};
  std::int64_t seq = 0;
  const auto stopUs = kStartUs + static_cast<std::int64_t>(seconds * 1e6);
  for (std::int64_t end = kStartUs + station.phaseUs; end < stopUs; end += periodUs) {
    std::span<const std::uint8_t> sample;
    ASSERT_TRUE(camera.next(sample, {end, periodUs}));
    if (camera.lastHits().empty()) continue;
    const HitTime t =
        hitTime({end + station.offsetUs, periodUs}, periodUs, clock, kFallbackErrorUs);
    EventRow e;
    e.station = station.name;
    e.runId = "0123456789abcdef";
    e.seq = ++seq;
    e.tUs = t.us;
    e.tLoUs = t.loUs;
    e.tHiUs = t.hiUs;
    e.clockSynced = t.clockSynced;
    e.width = 64;
    e.height = 48;
    e.r = e.g = e.b = 230;
    out.events.push_back(e);
    for (const InjectedHit& hit : camera.lastHits()) {
      if (!hit.shower) continue;
      out.showerOf[{station.name, t.us}] = *hit.shower;
      out.stationsOf[*hit.shower].insert(station.name);
    }
  }
}

using ShowersTest = test::EngineStoreTest;

// An hour with a shower every 40 s on average, each seen by a station with the chance 0.6,
// beside 20 ordinary hits an hour per station.
TEST_P(ShowersTest, EveryShowerSeenByTwoStationsIsFoundWithItsStations) {
  auto store = openStore();
  if (!store) GTEST_SKIP() << "no PostgreSQL here";
  Simulated simulated;
  const auto stations = network();
  for (std::size_t i = 0; i < stations.size(); ++i)
    simulate(stations[i], static_cast<int>(i),
             "hits=0.0056,showers=0.025,shower-seed=17,shower-share=0.6", 3600, simulated);
  store->insertEvents(simulated.events);

  CoincidenceQuery query;
  query.sinceUs = kStartUs;
  query.untilUs = kStartUs + 3600LL * 1000000;
  const CoincidenceResult result = searchCoincidences(store->database(), query);

  std::map<std::uint64_t, std::set<std::string>> found;  // shower -> stations in its group
  for (const CoincidenceGroup& group : result.groups) {
    std::set<std::uint64_t> showers;
    std::set<std::string> names;
    for (const GroupEvent& event : group.events) {
      const std::string& name = result.stations.at(static_cast<std::size_t>(event.station));
      const auto shower = simulated.showerOf.find({name, event.tUs});
      if (shower == simulated.showerOf.end()) continue;  // a chance hit beside it
      showers.insert(shower->second);
      names.insert(name);
    }
    EXPECT_LE(showers.size(), 1u) << "a group holds two showers' events: " << [&] {
      std::string text;
      for (const GroupEvent& event : group.events) {
        const std::string& name = result.stations.at(static_cast<std::size_t>(event.station));
        const auto shower = simulated.showerOf.find({name, event.tUs});
        text += "\n" + name + " " + std::to_string(event.loUs) + ".." + std::to_string(event.hiUs) +
                " shower " +
                (shower == simulated.showerOf.end() ? "-" : std::to_string(shower->second));
      }
      return text;
    }();
    if (showers.size() == 1) {
      EXPECT_TRUE(found.emplace(*showers.begin(), names).second)
          << "shower " << *showers.begin() << " split over two groups";
    }
  }
  int seenByTwo = 0;
  for (const auto& [shower, names] : simulated.stationsOf) {
    if (names.size() < 2) continue;
    ++seenByTwo;
    ASSERT_TRUE(found.count(shower)) << "shower " << shower << " seen by " << names.size();
    EXPECT_EQ(found.at(shower), names) << "shower " << shower;
  }
  EXPECT_GT(seenByTwo, 60) << "the hour should hold about 85 showers";
  EXPECT_EQ(found.size(), static_cast<std::size_t>(seenByTwo));
  ASSERT_EQ(result.background.counts.size(), 20u);
  // The showers stand far above the chance groups the shifted searches measure.
  EXPECT_LT(result.background.expected, static_cast<double>(seenByTwo) / 3);
  ASSERT_TRUE(result.significance.has_value());
  EXPECT_GT(*result.significance, 10.0);
}

// Two hours without showers, 216 hits an hour per station: every group is chance, and their
// number, found and from the shifted searches, agrees with 2 tau R1 R2 T over the 28 pairs,
// tau the half sum of the two stations' interval widths.
TEST_P(ShowersTest, AccidentalsAgreeWithTwoTauR1R2) {
  auto store = openStore();
  if (!store) GTEST_SKIP() << "no PostgreSQL here";
  Simulated simulated;
  const auto stations = network();
  const double seconds = 7200;
  for (std::size_t i = 0; i < stations.size(); ++i)
    simulate(stations[i], static_cast<int>(i), "hits=0.06", seconds, simulated);
  store->insertEvents(simulated.events);

  std::map<std::string, std::pair<double, double>> rateAndWidth;  // per second, seconds
  for (const EventRow& e : simulated.events) {
    auto& [rate, width] = rateAndWidth[e.station];
    rate += 1 / seconds;
    width = static_cast<double>(e.tHiUs - e.tLoUs) / 1e6;
  }
  double expected = 0;
  for (auto a = rateAndWidth.begin(); a != rateAndWidth.end(); ++a)
    for (auto b = std::next(a); b != rateAndWidth.end(); ++b)
      expected += 2 * (a->second.second + b->second.second) / 2 * a->second.first *
                  b->second.first * seconds;

  CoincidenceQuery query;
  query.sinceUs = kStartUs;
  query.untilUs = kStartUs + static_cast<std::int64_t>(seconds * 1e6);
  const CoincidenceResult result = searchCoincidences(store->database(), query);
  const double sigma = std::sqrt(expected);
  EXPECT_GT(expected, 100);
  EXPECT_NEAR(static_cast<double>(result.groups.size()), expected, 3 * sigma);
  EXPECT_NEAR(result.background.expected, expected, 3 * sigma / std::sqrt(20.0) + 0.05 * expected);
  ASSERT_TRUE(result.significance.has_value());
  EXPECT_LT(std::fabs(*result.significance), 3.0);
}

INSTANTIATE_TEST_SUITE_P(Engines, ShowersTest, test::kBothEngines, test::engineTestName);

}  // namespace
}  // namespace ravdel
