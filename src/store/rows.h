#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ravdel {

// Event flags the server sets.
inline constexpr std::int64_t kEventTimeFarOff = 1;  // more than a day ahead, or before 2020

// One event as the store keeps it. Its key is (station, runId, seq).
struct EventRow {
  std::string station;
  std::string runId;
  std::int64_t seq = 0;
  std::int64_t tUs = 0;
  std::int64_t tLoUs = 0;
  std::int64_t tHiUs = 0;
  bool clockSynced = false;
  std::int64_t x = 0, y = 0;
  std::int64_t r = 0, g = 0, b = 0;
  std::int64_t limit = 0;
  std::int64_t width = 0, height = 0;
  std::string fourcc;
  std::string camera;
  std::int64_t frame = 0;
  double liveSeconds = 0;
  std::vector<std::uint8_t> crop;  // a PNG of the pixels around the peak; may be empty
  std::optional<double> lat, lon;  // coarsened to 0.01 degrees
  std::int64_t flags = 0;
  std::int64_t storedUs = 0;  // when the row was written
  bool delivered = true;      // the station's outbox: false until the server stored it
};

// One heartbeat: what a station did from fromUs to toUs of a run. Key (station, runId, hbSeq).
struct HeartbeatRow {
  std::string station;
  std::string runId;
  std::int64_t hbSeq = 0;
  std::int64_t fromUs = 0;
  std::int64_t toUs = 0;
  std::int64_t liveMs = 0;
  std::int64_t framesDelivered = 0;
  std::int64_t framesAnalysed = 0;
  std::int64_t framesDropped = 0;
  std::int64_t events = 0;
  std::int64_t maskedPixels = 0;
  std::int64_t leakPausedMs = 0;
  bool clockSynced = false;
  std::int64_t clockErrorUs = 0;
  std::int64_t storedUs = 0;
  bool delivered = true;
};

// Station flags the server sets.
inline constexpr std::int64_t kStationFlooded = 2;  // sent more events than the cap lets through

// A station as an ingester heard it: when, where it said it was, and flags to set on it.
struct StationNote {
  std::string station;
  std::optional<double> lat, lon;
  std::int64_t heardUs = 0;
  std::int64_t flags = 0;
};

// A row's key within its station.
struct RowKey {
  std::string runId;
  std::int64_t seq = 0;
  bool operator==(const RowKey&) const = default;
  auto operator<=>(const RowKey&) const = default;
};

inline RowKey keyOf(const EventRow& row) {
  return {row.runId, row.seq};
}
inline RowKey keyOf(const HeartbeatRow& row) {
  return {row.runId, row.hbSeq};
}

}  // namespace ravdel
