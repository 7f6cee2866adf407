#include "store/time_bins.h"

#include <algorithm>

namespace ravdel {

std::int64_t binStart(std::int64_t us, std::int64_t widthUs) {
  const std::int64_t quotient = us / widthUs - (us % widthUs < 0 ? 1 : 0);
  return quotient * widthUs;
}

// Each bin gets its share of the span rounded down from the running total, so the rounding
// never piles up and the last bin closes the sum.
void splitOverBins(std::int64_t fromUs, std::int64_t toUs, std::int64_t liveMs,
                   std::int64_t widthUs,
                   const std::function<void(std::int64_t, std::int64_t)>& add) {
  if (toUs <= fromUs) {
    add(binStart(fromUs, widthUs), liveMs);
    return;
  }
  const auto span = static_cast<long double>(toUs - fromUs);
  std::int64_t given = 0;
  for (std::int64_t bin = binStart(fromUs, widthUs); bin < toUs; bin += widthUs) {
    const std::int64_t coveredTo = std::min(toUs, bin + widthUs);
    const std::int64_t upTo =
        coveredTo == toUs
            ? liveMs
            : static_cast<std::int64_t>(static_cast<long double>(liveMs) *
                                        static_cast<long double>(coveredTo - fromUs) / span);
    add(bin, upTo - given);
    given = upTo;
  }
}

}  // namespace ravdel
