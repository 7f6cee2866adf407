#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

namespace ravdel {

// The flood cap: per station a bucket of `burst` events that refills at `rate` a second, so a
// station may send a day's backlog at once but not a flood without end. Heartbeats are not
// counted: a station back after a week sends ten thousand of them, and each is live time.
// One thread (the ingest thread).
class FloodCap {
 public:
  FloodCap(double ratePerSecond, double burst) : rate_(ratePerSecond), burst_(burst) {}
  // How many of `wanted` events the station may send at `nowUs`; the rest are beyond the cap.
  std::size_t allow(const std::string& station, std::size_t wanted, std::int64_t nowUs);

 private:
  struct Bucket {
    double tokens = 0;
    std::int64_t filledUs = 0;
  };

  double rate_;
  double burst_;
  std::unordered_map<std::string, Bucket> buckets_;
};

}  // namespace ravdel
