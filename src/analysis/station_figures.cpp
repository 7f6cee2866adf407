#include "analysis/station_figures.h"

#include <algorithm>
#include <map>

#include "store/row_columns.h"

namespace ravdel {
namespace {

void readHits(Database& database, const std::string& station, std::int64_t sinceUs,
              std::int64_t untilUs, StationFigures& figures) {
  const auto hits = database.prepare(
      "SELECT x, y, width, height, r, g, b FROM events WHERE station = $1 AND t_us >= $2 AND "
      "t_us < $3");
  hits->bind(1, station);
  hits->bind(2, sinceUs);
  hits->bind(3, untilUs);
  using Pixel = std::pair<std::int64_t, std::int64_t>;
  std::map<Pixel, std::map<Pixel, std::int64_t>> bySize;  // (width, height) -> (x, y) -> events
  while (hits->step()) {
    ++bySize[{hits->integer(2), hits->integer(3)}][{hits->integer(0), hits->integer(1)}];
    const std::int64_t peak = std::max({hits->integer(4), hits->integer(5), hits->integer(6)});
    ++figures.spectrum[static_cast<std::size_t>(std::clamp<std::int64_t>(peak, 0, 255))];
  }
  const auto events = [](const auto& entry) {
    std::int64_t sum = 0;
    for (const auto& [pixel, count] : entry.second)
      sum += count;
    return sum;
  };
  const auto most =
      std::max_element(bySize.begin(), bySize.end(),
                       [&](const auto& a, const auto& b) { return events(a) < events(b); });
  if (most == bySize.end()) return;
  figures.width = most->first.first;
  figures.height = most->first.second;
  for (const auto& [pixel, count] : most->second)
    figures.hitMap.push_back({pixel.first, pixel.second, count});
}

void readLatest(Database& database, const std::string& station, std::int64_t untilUs,
                int latestCount, StationFigures& figures) {
  const auto latest = database.prepare("SELECT " + std::string(kEventColumns) +
                                       " FROM events WHERE station = $1 AND t_us < $2 ORDER BY "
                                       "t_us DESC LIMIT $3");
  latest->bind(1, station);
  latest->bind(2, untilUs);
  latest->bind(3, std::int64_t{latestCount});
  while (latest->step())
    figures.latest.push_back(readEvent(*latest));
}

void readRuns(Database& database, const std::string& station, std::int64_t sinceUs,
              std::int64_t untilUs, StationFigures& figures) {
  const auto runs = database.prepare(
      "SELECT run_id, min(from_us), max(to_us), sum(live_ms), sum(events) FROM heartbeats WHERE "
      "station = $1 AND to_us > $2 AND from_us < $3 GROUP BY run_id ORDER BY min(from_us)");
  runs->bind(1, station);
  runs->bind(2, sinceUs);
  runs->bind(3, untilUs);
  while (runs->step()) {
    figures.runs.push_back(
        {runs->text(0), runs->integer(1), runs->integer(2), runs->integer(3), runs->integer(4)});
  }
  std::int64_t coveredTo = sinceUs;
  for (const RunSpan& run : figures.runs) {
    if (run.fromUs - coveredTo > kGapUs) figures.gaps.push_back({coveredTo, run.fromUs});
    coveredTo = std::max(coveredTo, run.toUs);
  }
  if (untilUs - coveredTo > kGapUs) figures.gaps.push_back({coveredTo, untilUs});
}

}  // namespace

StationFigures stationFigures(Database& database, const std::string& station, std::int64_t sinceUs,
                              std::int64_t untilUs, int latestCount) {
  StationFigures figures;
  readHits(database, station, sinceUs, untilUs, figures);
  readLatest(database, station, untilUs, latestCount, figures);
  readRuns(database, station, sinceUs, untilUs, figures);
  return figures;
}

std::vector<std::uint8_t> eventCrop(Database& database, const std::string& station,
                                    const std::string& runId, std::int64_t seq) {
  const auto crop =
      database.prepare("SELECT crop FROM events WHERE station = $1 AND run_id = $2 AND seq = $3");
  crop->bind(1, station);
  crop->bind(2, runId);
  crop->bind(3, seq);
  if (!crop->step() || crop->isNull(0)) return {};
  return crop->blob(0);
}

}  // namespace ravdel
