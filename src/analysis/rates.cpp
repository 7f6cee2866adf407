#include "analysis/rates.h"

#include <map>

#include "analysis/poisson.h"
#include "store/time_bins.h"

namespace ravdel {
namespace {

using BinKey = std::pair<std::string, std::int64_t>;  // station, start

RateBin newBin(const BinKey& key, std::int64_t widthUs) {
  RateBin bin;
  bin.station = key.first;
  bin.startUs = key.second;
  bin.widthUs = widthUs;
  return bin;
}

std::vector<RateBin> finish(std::map<BinKey, RateBin>& bins) {
  std::vector<RateBin> out;
  out.reserve(bins.size());
  for (auto& [key, bin] : bins) {
    if (bin.events == 0 && bin.liveMs == 0) continue;
    setRate(bin);
    out.push_back(std::move(bin));
  }
  return out;
}

std::string stationClause(const RateQuery& query, int parameter) {
  return query.station ? " AND station = $" + std::to_string(parameter) : "";
}

std::vector<RateBin> fromHourlyCounts(Database& database, const RateQuery& query) {
  const auto rows = database.prepare(
      "SELECT station, hour_us, events, live_ms FROM hourly_counts WHERE hour_us >= $1 AND "
      "hour_us < $2" +
      stationClause(query, 3) + " ORDER BY station, hour_us");
  rows->bind(1, binStart(query.sinceUs, query.binUs));
  rows->bind(2, query.untilUs);
  if (query.station) rows->bind(3, *query.station);
  std::map<BinKey, RateBin> bins;
  while (rows->step()) {
    const BinKey key{rows->text(0), binStart(rows->integer(1), query.binUs)};
    auto [at, added] = bins.try_emplace(key, newBin(key, query.binUs));
    at->second.events += rows->integer(2);
    at->second.liveMs += rows->integer(3);
  }
  return finish(bins);
}

// Shorter bins than an hour: the rows themselves, each heartbeat's live time spread over the
// bins it spans as in the hourly counts.
std::vector<RateBin> fromRows(Database& database, const RateQuery& query) {
  const std::int64_t since = binStart(query.sinceUs, query.binUs);
  std::map<BinKey, RateBin> bins;
  const auto add = [&](const std::string& station, std::int64_t start) -> RateBin& {
    const BinKey key{station, start};
    return bins.try_emplace(key, newBin(key, query.binUs)).first->second;
  };
  const auto events = database.prepare(
      "SELECT station, t_us FROM events WHERE t_us >= $1 AND t_us < $2 AND (flags & 1) = 0" +
      stationClause(query, 3));
  events->bind(1, since);
  events->bind(2, query.untilUs);
  if (query.station) events->bind(3, *query.station);
  while (events->step())
    ++add(events->text(0), binStart(events->integer(1), query.binUs)).events;
  const auto beats = database.prepare(
      "SELECT station, from_us, to_us, live_ms FROM heartbeats WHERE to_us > $1 AND from_us < $2" +
      stationClause(query, 3));
  beats->bind(1, since);
  beats->bind(2, query.untilUs);
  if (query.station) beats->bind(3, *query.station);
  while (beats->step()) {
    const std::string station = beats->text(0);
    splitOverBins(beats->integer(1), beats->integer(2), beats->integer(3), query.binUs,
                  [&](std::int64_t start, std::int64_t ms) {
                    if (start >= since && start < query.untilUs) add(station, start).liveMs += ms;
                  });
  }
  return finish(bins);
}

}  // namespace

void setRate(RateBin& bin) {
  bin.liveShare = bin.widthUs > 0
                      ? static_cast<double>(bin.liveMs) * 1000.0 / static_cast<double>(bin.widthUs)
                      : 0.0;
  if (bin.liveMs <= 0) {
    bin.perHour.reset();
    return;
  }
  const double hours = static_cast<double>(bin.liveMs) / 3600000.0;
  const PoissonInterval interval = poissonInterval68(bin.events);
  bin.perHour = static_cast<double>(bin.events) / hours;
  bin.lowPerHour = interval.low / hours;
  bin.highPerHour = interval.high / hours;
}

std::vector<RateBin> rates(Database& database, const RateQuery& query) {
  return query.binUs >= kHourUs ? fromHourlyCounts(database, query) : fromRows(database, query);
}

std::optional<std::pair<std::int64_t, std::int64_t>> countedSpan(Database& database,
                                                                 const std::string& station,
                                                                 std::int64_t sinceUs,
                                                                 std::int64_t untilUs) {
  const auto span = database.prepare(
      "SELECT min(hour_us), max(hour_us) FROM hourly_counts WHERE station = $1 AND hour_us >= $2 "
      "AND hour_us < $3");
  span->bind(1, station);
  span->bind(2, binStart(sinceUs, kHourUs));
  span->bind(3, untilUs);
  if (!span->step() || span->isNull(0)) return std::nullopt;
  return std::make_pair(span->integer(0), span->integer(1) + kHourUs);
}

// One seek per station along the counts' key, not a walk over every hour.
std::vector<std::string> countedStations(Database& database) {
  std::vector<std::string> names;
  const auto next = database.prepare("SELECT min(station) FROM hourly_counts WHERE station > $1");
  for (;;) {
    next->reset();
    next->bind(1, names.empty() ? std::string() : names.back());
    if (!next->step() || next->isNull(0)) return names;
    names.push_back(next->text(0));
  }
}

// Station by station along the counts' key: a range of it each.
std::vector<RateBin> rateTotals(Database& database, std::int64_t sinceUs, std::int64_t untilUs) {
  const auto sums = database.prepare(
      "SELECT count(*), COALESCE(sum(events), 0), COALESCE(sum(live_ms), 0) FROM hourly_counts "
      "WHERE station = $1 AND hour_us >= $2 AND hour_us < $3");
  const std::int64_t since = binStart(sinceUs, kHourUs);
  std::vector<RateBin> totals;
  for (const std::string& station : countedStations(database)) {
    sums->reset();
    sums->bind(1, station);
    sums->bind(2, since);
    sums->bind(3, untilUs);
    if (!sums->step() || sums->integer(0) == 0) continue;
    RateBin bin = newBin({station, since}, untilUs - since);
    bin.events = sums->integer(1);
    bin.liveMs = sums->integer(2);
    setRate(bin);
    totals.push_back(std::move(bin));
  }
  return totals;
}

}  // namespace ravdel
