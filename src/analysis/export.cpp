#include "analysis/export.h"

#include <nlohmann/json.hpp>
#include <vector>

#include "base/json_text.h"
#include "store/row_columns.h"
#include "wire/messages.h"
#include "wire/row_json.h"

namespace ravdel {
namespace {

constexpr int kPageRows = 10000;

// The CSV columns, in order: kind, then the events' columns, then the heartbeats' own.
constexpr const char* kCsvHeader =
    "kind,station,run_id,seq,t_us,t_lo_us,t_hi_us,clock_synced,x,y,r,g,b,limit,width,height,"
    "fourcc,camera,frame,live_s,lat,lon,flags,crop,hb_seq,from_us,to_us,live_ms,"
    "frames_delivered,frames_analysed,frames_dropped,events,masked_pixels,leak_paused_ms,"
    "clock_error_us";
constexpr std::size_t kEventCsvFields = 24;      // kind .. crop
constexpr std::size_t kHeartbeatCsvFields = 11;  // hb_seq .. clock_error_us

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string optionalNumber(const std::optional<double>& value) {
  return value ? jsonNumber(*value) : std::string();
}

void writeCsv(std::ostream& out, const std::vector<std::string>& fields) {
  for (std::size_t i = 0; i < fields.size(); ++i)
    out << (i == 0 ? "" : ",") << csvField(fields[i]);
  out << '\n';
}

void writeEvent(std::ostream& out, const EventRow& e, ExportFormat format) {
  const std::string crop = base64Encode(e.crop);
  if (format == ExportFormat::jsonl) {
    nlohmann::json row = {{"kind", "event"},
                          {"station", e.station},
                          {"run_id", e.runId},
                          {"seq", e.seq},
                          {"t_us", e.tUs},
                          {"t_lo_us", e.tLoUs},
                          {"t_hi_us", e.tHiUs},
                          {"clock_synced", e.clockSynced},
                          {"x", e.x},
                          {"y", e.y},
                          {"r", e.r},
                          {"g", e.g},
                          {"b", e.b},
                          {"limit", e.limit},
                          {"width", e.width},
                          {"height", e.height},
                          {"fourcc", e.fourcc},
                          {"camera", e.camera},
                          {"frame", e.frame},
                          {"live_s", e.liveSeconds},
                          {"lat", e.lat ? nlohmann::json(*e.lat) : nlohmann::json()},
                          {"lon", e.lon ? nlohmann::json(*e.lon) : nlohmann::json()},
                          {"flags", e.flags},
                          {"crop", e.crop.empty() ? nlohmann::json() : nlohmann::json(crop)}};
    out << row.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    return;
  }
  std::vector<std::string> fields = {"event",
                                     e.station,
                                     e.runId,
                                     std::to_string(e.seq),
                                     std::to_string(e.tUs),
                                     std::to_string(e.tLoUs),
                                     std::to_string(e.tHiUs),
                                     e.clockSynced ? "1" : "0",
                                     std::to_string(e.x),
                                     std::to_string(e.y),
                                     std::to_string(e.r),
                                     std::to_string(e.g),
                                     std::to_string(e.b),
                                     std::to_string(e.limit),
                                     std::to_string(e.width),
                                     std::to_string(e.height),
                                     e.fourcc,
                                     e.camera,
                                     std::to_string(e.frame),
                                     jsonNumber(e.liveSeconds),
                                     optionalNumber(e.lat),
                                     optionalNumber(e.lon),
                                     std::to_string(e.flags),
                                     crop};
  fields.resize(kEventCsvFields + kHeartbeatCsvFields);
  writeCsv(out, fields);
}

void writeHeartbeat(std::ostream& out, const HeartbeatRow& h, ExportFormat format) {
  if (format == ExportFormat::jsonl) {
    nlohmann::json row = heartbeatJson(h);
    row["kind"] = "heartbeat";
    row["station"] = h.station;
    out << row.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    return;
  }
  std::vector<std::string> fields = {"heartbeat", h.station, h.runId};
  fields.resize(kEventCsvFields);
  fields[7] = h.clockSynced ? "1" : "0";
  for (const std::int64_t value :
       {h.hbSeq, h.fromUs, h.toUs, h.liveMs, h.framesDelivered, h.framesAnalysed, h.framesDropped,
        h.events, h.maskedPixels, h.leakPausedMs, h.clockErrorUs})
    fields.push_back(std::to_string(value));
  writeCsv(out, fields);
}

// Pages through one table in (time, key) order from where the last page ended.
template <typename Row, typename Write>
void pageThrough(Database& database, const ExportQuery& query, const std::string& table,
                 std::string_view columns, const std::string& timeColumn,
                 const std::string& seqColumn, Row (*read)(const Statement&), Write write) {
  const std::string key = "(" + timeColumn + ", station, run_id, " + seqColumn + ")";
  const auto page = database.prepare(
      "SELECT " + std::string(columns) + " FROM " + table + " WHERE " + timeColumn + " >= $1 AND " +
      timeColumn + " < $2 AND " + key + " > ($3, $4, $5, $6)" +
      (query.station ? " AND station = $7" : "") + " ORDER BY " + timeColumn +
      ", station, run_id, " + seqColumn + " LIMIT " + std::to_string(kPageRows));
  std::int64_t afterTime = query.sinceUs - 1, afterSeq = 0;
  std::string afterStation, afterRun;
  for (;;) {
    page->reset();
    page->bind(1, query.sinceUs);
    page->bind(2, query.untilUs);
    page->bind(3, afterTime);
    page->bind(4, afterStation);
    page->bind(5, afterRun);
    page->bind(6, afterSeq);
    if (query.station) page->bind(7, *query.station);
    int rows = 0;
    while (page->step()) {
      const Row row = read(*page);
      write(row);
      afterTime = page->integer(3);
      afterStation = page->text(0);
      afterRun = page->text(1);
      afterSeq = page->integer(2);
      ++rows;
    }
    if (rows < kPageRows) return;
  }
}

}  // namespace

void exportRows(Database& database, const ExportQuery& query, std::ostream& out) {
  if (query.format == ExportFormat::csv) out << kCsvHeader << '\n';
  pageThrough(database, query, "events", kEventColumns, "t_us", "seq", readEvent,
              [&](const EventRow& row) { writeEvent(out, row, query.format); });
  pageThrough(database, query, "heartbeats", kHeartbeatColumns, "from_us", "hb_seq", readHeartbeat,
              [&](const HeartbeatRow& row) { writeHeartbeat(out, row, query.format); });
}

}  // namespace ravdel
