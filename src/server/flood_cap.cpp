#include "server/flood_cap.h"

#include <algorithm>
#include <cmath>

namespace ravdel {

std::size_t FloodCap::allow(const std::string& station, std::size_t wanted, std::int64_t nowUs) {
  const auto [at, added] = buckets_.try_emplace(station, Bucket{burst_, nowUs});
  Bucket& bucket = at->second;
  const double seconds =
      static_cast<double>(std::max<std::int64_t>(0, nowUs - bucket.filledUs)) / 1e6;
  bucket.tokens = std::min(burst_, bucket.tokens + seconds * rate_);
  bucket.filledUs = std::max(bucket.filledUs, nowUs);
  const auto allowed =
      std::min(wanted, static_cast<std::size_t>(std::floor(std::max(0.0, bucket.tokens))));
  bucket.tokens -= static_cast<double>(allowed);
  return allowed;
}

}  // namespace ravdel
