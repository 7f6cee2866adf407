#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "store/database.h"
#include "store/rows.h"

namespace ravdel {

// Where events struck the sensor: hot pixels and light leaks show as cells far above the rest.
struct HitMapCell {
  std::int64_t x = 0;
  std::int64_t y = 0;
  std::int64_t events = 0;
};

// One run as its heartbeats tell it.
struct RunSpan {
  std::string runId;
  std::int64_t fromUs = 0;
  std::int64_t toUs = 0;
  std::int64_t liveMs = 0;
  std::int64_t events = 0;
};

// A time without a run of the station, longer than kGapUs.
struct Gap {
  std::int64_t fromUs = 0;
  std::int64_t toUs = 0;
};
inline constexpr std::int64_t kGapUs = 5 * 60 * 1000000LL;

// What the station's page shows beside its rates, over [sinceUs, untilUs).
struct StationFigures {
  std::int64_t width = 0;  // the sensor size most events came from; the map is of those
  std::int64_t height = 0;
  std::vector<HitMapCell> hitMap;
  std::array<std::int64_t, 256> spectrum{};  // events by peak brightness (brightest channel)
  std::vector<EventRow> latest;              // newest first
  std::vector<RunSpan> runs;                 // by start
  std::vector<Gap> gaps;
};

// Throws StoreError.
StationFigures stationFigures(Database& database, const std::string& station, std::int64_t sinceUs,
                              std::int64_t untilUs, int latestCount);

// The crop of one event; empty when there is none.
std::vector<std::uint8_t> eventCrop(Database& database, const std::string& station,
                                    const std::string& runId, std::int64_t seq);

}  // namespace ravdel
