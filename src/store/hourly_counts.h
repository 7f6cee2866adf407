#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "store/database.h"

namespace ravdel {

// The aggregate that rates and the page read instead of every event: per station and UTC
// hour, the events that struck in it and the live milliseconds of its heartbeats (a
// heartbeat's live time spread evenly over the hours its span touches). Events whose time is
// flagged as far off count nowhere.
inline constexpr const char* kHourlyUpsertSql =
    "INSERT INTO hourly_counts (station, hour_us, events, live_ms) VALUES ($1, $2, $3, $4) "
    "ON CONFLICT (station, hour_us) DO UPDATE SET events = hourly_counts.events + "
    "excluded.events, live_ms = hourly_counts.live_ms + excluded.live_ms";

// Rows gathered during one transaction, written at its end in one upsert per hour touched.
// One thread.
class HourlyTally {
 public:
  void addEvent(const std::string& station, std::int64_t tUs, std::int64_t flags);
  void addLive(const std::string& station, std::int64_t fromUs, std::int64_t toUs,
               std::int64_t liveMs);
  // Adds what was gathered to the table through `upsert` (kHourlyUpsertSql, prepared on the
  // transaction's database) and starts afresh.
  void flush(Statement& upsert);

 private:
  struct Counts {
    std::int64_t events = 0;
    std::int64_t liveMs = 0;
  };
  std::map<std::pair<std::string, std::int64_t>, Counts> counts_;
};

// Counts every stored event and heartbeat into hourly_counts (which must be empty), a page of
// rows at a time, within the caller's transaction: the step that brings an older store's
// history into the aggregate.
void fillHourlyCounts(Database& database);

}  // namespace ravdel
