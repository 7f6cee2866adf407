#pragma once

#include <cstdint>
#include <functional>

namespace ravdel {

inline constexpr std::int64_t kMinuteUs = 60LL * 1000000;
inline constexpr std::int64_t kHourUs = 60 * kMinuteUs;
inline constexpr std::int64_t kDayUs = 24 * kHourUs;

// The start of the UTC bin of `widthUs` that holds `us` (bins start at 1970-01-01 00:00 UTC).
std::int64_t binStart(std::int64_t us, std::int64_t widthUs);

// Spreads `liveMs`, accumulated evenly over [fromUs, toUs), across the bins of `widthUs` that
// the span touches, in time order: add(binStart, ms). The parts are whole milliseconds and add
// up to `liveMs` exactly. An empty or reversed span puts everything into the bin of `fromUs`.
void splitOverBins(std::int64_t fromUs, std::int64_t toUs, std::int64_t liveMs,
                   std::int64_t widthUs,
                   const std::function<void(std::int64_t, std::int64_t)>& add);

}  // namespace ravdel
