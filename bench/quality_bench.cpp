// Detection quality on the simulated sensor: each scenario is a seeded ten-minute run at
// 30 fps, converted and analysed frame by frame as the monitor does (no frame dropped, so
// events and hits are matched on the exact frame, within 3 pixels of the hit). The first
// three seconds are the mask's calibration and are scored under neither rule.
#include "quality_bench.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "capture/simulated/simulated_description.h"
#include "capture/simulated/synthetic_source.h"
#include "convert/frame_converter.h"
#include "detection/frame_analysis.h"
#include "detection/hit_score.h"
#include "detection/hot_pixel_mask.h"
#include "detection/light_leak_guard.h"

namespace ravdel {
namespace {

constexpr double kFps = 30.0;
constexpr std::int64_t kRunFrames = 10 * 60 * 30;
const std::int32_t kCalibrationFrames = HotPixelCalibration::Settings{}.frames;

struct Scenario {
  const char* name;
  const char* faults;     // description options
  bool leakOnly = false;  // no fault but the leak: the guard must leave no event in it
};

// Hits per second: 1 a minute where the target is stated so, otherwise 6 a minute for steadier
// ratios. The leak lasts one minute of the ten.
constexpr Scenario kScenarios[] = {
    {"clean", "hits=0.1"},
    {"hot20", "hits=0.016667,hot=20"},
    {"warm20", "hits=0.1,warm=20,warm-share=0.1"},
    {"lines", "hits=0.1,noisy-row=100,noisy-column=200"},
    {"leak", "hits=0.1,leak=240+60", true},
    {"tracks", "hits=0.1,tracks=0.4,long-tracks=0.3"},
    {"sensor", "hits=0.1,hot=20,warm=20,noisy-row=100,leak=240+60,tracks=0.4,long-tracks=0.3"},
};

// Each rule is the plain one with some of the options on.
struct Rule {
  bool mask = false;
  bool guard = false;  // light-leak guard at its default settings
};

struct RunResult {
  RunScore score;
  std::size_t masked = 0;
  std::int64_t leakEvents = 0;    // events while the leak lasts
  std::int64_t pausedFrames = 0;  // by the light-leak guard
};

bool inLeak(const SimulatedDescription& d, std::int64_t frame) {
  const double t = static_cast<double>(frame - 1) / kFps;
  return d.sensor.leakFor > 0.0 && t >= d.sensor.leakAt && t < d.sensor.leakAt + d.sensor.leakFor;
}

RunResult runScenario(const Scenario& scenario, Rule rule) {
  SimulatedDescription d;
  std::string error;
  const std::string text =
      std::string("synthetic:format=YUY2,size=320x240,fps=30,seed=12,") + scenario.faults;
  if (!parseSimulatedDescription(text, d, error)) throw std::runtime_error(text + ": " + error);
  SyntheticSource source(syntheticSettings(d));
  source.start({d.format.fourcc, d.format.width, d.format.height});
  FrameConverter converter;
  FrameBitmap frame(d.format.width, d.format.height);
  HotPixelMasking mask;
  LightLeakGuard guard;
  AnalysisOptions options;
  options.measureMean = rule.guard;
  std::vector<TruthHit> hits;
  std::vector<ScoredEvent> events;
  RunResult result;
  for (std::int64_t n = 1; n <= kRunFrames; ++n) {
    std::span<const std::uint8_t> sample;
    source.next(sample, {});
    converter.ConvertFrame(d.format.fourcc, static_cast<std::int32_t>(sample.size()), sample.data(),
                           frame);
    // Both rules leave the calibration's frames out, so they are scored on the same frames.
    if (n <= kCalibrationFrames) {
      if (rule.mask) mask.calibrate(frame);  // ends with the mask made
      continue;
    }
    for (const InjectedHit& h : source.lastHits())
      hits.push_back({n, h.x0, h.y0, h.x1, h.y1});
    options.mask = rule.mask ? &mask.mask() : nullptr;
    const FrameAnalysis a = analyseFrame(frame, options);
    if (rule.guard) {
      guard.observe(*a.frameMean, static_cast<double>(n) / kFps);
      result.pausedFrames += guard.paused() ? 1 : 0;
      if (!guard.counts()) continue;
    }
    if (!a.event) continue;
    events.push_back({n, a.peak.x, a.peak.y});
    if (inLeak(d, n)) ++result.leakEvents;
    if (rule.mask) mask.learn(a.peak.x, a.peak.y, static_cast<double>(n) / kFps);
  }
  // Paused time is not live time; hits in it count as missed.
  const double live =
      static_cast<double>(kRunFrames - kCalibrationFrames - result.pausedFrames) / kFps;
  result.score = scoreRun(std::move(hits), std::move(events), {.frames = 0, .pixels = 3}, live);
  result.masked = mask.mask().count();
  return result;
}

void benchQuality(benchmark::State& state, const Scenario& scenario, Rule rule) {
  RunResult r;
  for (auto _ : state)
    r = runScenario(scenario, rule);
  // The guard's promise: no event while light leaks in.
  if (scenario.leakOnly && rule.guard && r.leakEvents > 0) {
    state.SkipWithError("events during the light leak");
  }
  const RunScore& s = r.score;
  state.counters["hits"] = static_cast<double>(s.hits);
  state.counters["events"] = static_cast<double>(s.events);
  state.counters["found"] = static_cast<double>(s.found);
  state.counters["missed"] = static_cast<double>(s.missed);
  state.counters["false_events"] = static_cast<double>(s.falseEvents);
  // No events or no hits: reported as -1, as a counter cannot be left empty.
  state.counters["precision"] = s.precision.value_or(-1.0);
  state.counters["recall"] = s.recall.value_or(-1.0);
  state.counters["false_per_hour"] = s.falsePerHour.value_or(-1.0);
  state.counters["leak_events"] = static_cast<double>(r.leakEvents);
  state.counters["masked"] = static_cast<double>(r.masked);
  state.counters["paused_s"] = static_cast<double>(r.pausedFrames) / kFps;
}

}  // namespace

void registerQualityBenchmarks() {
  for (const Scenario& scenario : kScenarios) {
    for (const auto& [rule, name] :
         {std::pair{Rule{}, "plain"}, std::pair{Rule{.mask = true}, "mask"},
          std::pair{Rule{.guard = true}, "guard"},
          std::pair{Rule{.mask = true, .guard = true}, "mask+guard"}}) {
      const std::string full = std::string("quality/") + scenario.name + "/" + name;
      benchmark::RegisterBenchmark(
          full.c_str(),
          [&scenario, rule](benchmark::State& state) { benchQuality(state, scenario, rule); })
          ->Unit(benchmark::kSecond)
          ->Iterations(1);
    }
  }
}

}  // namespace ravdel
