#include "capture/simulated/shower_schedule.h"

#include <algorithm>
#include <cmath>

#include "capture/simulated/synthetic_source.h"

namespace ravdel {
namespace {

constexpr std::int64_t kMicrosPerSecond = 1000000;

// A generator of its own for each (seed, what) pair: draws never depend on earlier draws.
SplitMix64 generatorFor(std::uint64_t seed, std::uint64_t what) {
  SplitMix64 mix(seed ^ 0x73686f77u);  // "show"
  return SplitMix64(mix.next() ^ (what * 0x9e3779b97f4a7c15u));
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
  return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

}  // namespace

ShowerSchedule::ShowerSchedule(const ShowerModel& model, std::uint64_t cameraSeed)
    : model_(model), cameraSeed_(cameraSeed) {}

// Poisson by multiplying uniforms, capped where exp(-mean) would underflow.
std::vector<Shower> ShowerSchedule::showersOfSecond(std::int64_t second) const {
  std::vector<Shower> showers;
  SplitMix64 random = generatorFor(model_.seed, static_cast<std::uint64_t>(second));
  const double limit = std::exp(-model_.perSecond);
  double product = random.uniform();
  std::vector<std::int64_t> instants;
  while (product > limit && instants.size() < kPerSecondLimit) {
    instants.push_back(second * kMicrosPerSecond +
                       static_cast<std::int64_t>(random.uniform() * kMicrosPerSecond));
    product *= random.uniform();
  }
  for (std::size_t i = 0; i < instants.size(); ++i) {
    const Shower shower{static_cast<std::uint64_t>(second) * kPerSecondLimit + i, instants[i]};
    const double draw = generatorFor(cameraSeed_ ^ model_.seed, shower.number).uniform();
    if (draw < model_.share) showers.push_back(shower);
  }
  std::sort(showers.begin(), showers.end(),
            [](const Shower& a, const Shower& b) { return a.utcUs < b.utcUs; });
  return showers;
}

std::vector<Shower> ShowerSchedule::seenIn(std::int64_t fromUs, std::int64_t toUs) const {
  std::vector<Shower> seen;
  if (!active() || toUs <= fromUs) return seen;
  for (std::int64_t second = floorDiv(fromUs, kMicrosPerSecond);
       second <= floorDiv(toUs, kMicrosPerSecond); ++second) {
    for (const Shower& shower : showersOfSecond(second)) {
      if (shower.utcUs > fromUs && shower.utcUs <= toUs) seen.push_back(shower);
    }
  }
  return seen;
}

void ShowerSchedule::place(const Shower& shower, std::int32_t width, std::int32_t height,
                           std::int32_t& x, std::int32_t& y) const {
  SplitMix64 random = generatorFor(cameraSeed_ ^ 0x706c6163u, shower.number);  // "plac"
  x = static_cast<std::int32_t>(random.below(static_cast<std::uint32_t>(width)));
  y = static_cast<std::int32_t>(random.below(static_cast<std::uint32_t>(height)));
}

}  // namespace ravdel
