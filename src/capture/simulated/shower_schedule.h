#pragma once

#include <cstdint>
#include <vector>

#include "capture/simulated/simulated_description.h"

namespace ravdel {

// One air shower: its number (the same on every camera with the same seed) and its instant.
struct Shower {
  std::uint64_t number = 0;
  std::int64_t utcUs = 0;
};

// The showers one simulated camera sees. Each second of UTC draws its showers from the shared
// seed and the second alone, so cameras started at other moments, at other frame rates or in
// other processes agree on every shower; whether this camera sees one, and where it strikes,
// is drawn from the shower's number and the camera's own seed. Pure: any thread.
class ShowerSchedule {
 public:
  // At most this many showers in one second; the number is the second times this plus the
  // shower's place in it.
  static constexpr std::uint64_t kPerSecondLimit = 1000;

  ShowerSchedule(const ShowerModel& model, std::uint64_t cameraSeed);

  bool active() const { return model_.perSecond > 0.0; }
  // The showers this camera sees whose instants lie in (fromUs, toUs], in time order.
  std::vector<Shower> seenIn(std::int64_t fromUs, std::int64_t toUs) const;
  // Where a shower strikes this camera's sensor of width x height.
  void place(const Shower& shower, std::int32_t width, std::int32_t height, std::int32_t& x,
             std::int32_t& y) const;

 private:
  std::vector<Shower> showersOfSecond(std::int64_t second) const;

  ShowerModel model_;
  std::uint64_t cameraSeed_;
};

}  // namespace ravdel
