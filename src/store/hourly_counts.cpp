#include "store/hourly_counts.h"

#include "store/rows.h"
#include "store/time_bins.h"

namespace ravdel {
namespace {

constexpr std::int64_t kPageRows = 20000;

// Walks a table in key order, a page at a time, so that neither engine holds the whole table
// in memory; `take` sees each row of `columns` after the three key columns.
void forEachRow(Database& database, const std::string& table, const std::string& seqColumn,
                const std::string& columns, const std::function<void(const Statement&)>& take) {
  const auto page = database.prepare("SELECT station, run_id, " + seqColumn + ", " + columns +
                                     " FROM " + table + " WHERE (station, run_id, " + seqColumn +
                                     ") > ($1, $2, $3) ORDER BY station, run_id, " + seqColumn +
                                     " LIMIT " + std::to_string(kPageRows));
  std::string station, runId;
  std::int64_t seq = -1;
  for (;;) {
    page->reset();
    page->bind(1, station);
    page->bind(2, runId);
    page->bind(3, seq);
    std::int64_t rows = 0;
    while (page->step()) {
      take(*page);
      station = page->text(0);
      runId = page->text(1);
      seq = page->integer(2);
      ++rows;
    }
    if (rows < kPageRows) return;
  }
}

}  // namespace

void HourlyTally::addEvent(const std::string& station, std::int64_t tUs, std::int64_t flags) {
  if ((flags & kEventTimeFarOff) != 0) return;
  ++counts_[{station, binStart(tUs, kHourUs)}].events;
}

void HourlyTally::addLive(const std::string& station, std::int64_t fromUs, std::int64_t toUs,
                          std::int64_t liveMs) {
  splitOverBins(fromUs, toUs, liveMs, kHourUs, [&](std::int64_t hour, std::int64_t ms) {
    counts_[{station, hour}].liveMs += ms;
  });
}

void HourlyTally::flush(Statement& upsert) {
  for (const auto& [key, counts] : counts_) {
    upsert.reset();
    upsert.bind(1, key.first);
    upsert.bind(2, key.second);
    upsert.bind(3, counts.events);
    upsert.bind(4, counts.liveMs);
    upsert.step();
  }
  counts_.clear();
}

void fillHourlyCounts(Database& database) {
  const auto upsert = database.prepare(kHourlyUpsertSql);
  HourlyTally tally;
  forEachRow(database, "events", "seq", "t_us, flags", [&](const Statement& row) {
    tally.addEvent(row.text(0), row.integer(3), row.integer(4));
  });
  tally.flush(*upsert);
  forEachRow(database, "heartbeats", "hb_seq", "from_us, to_us, live_ms",
             [&](const Statement& row) {
               tally.addLive(row.text(0), row.integer(3), row.integer(4), row.integer(5));
             });
  tally.flush(*upsert);
}

}  // namespace ravdel
