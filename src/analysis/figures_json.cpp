#include "analysis/figures_json.h"

#include <cctype>

#include "analysis/time_text.h"
#include "wire/messages.h"

namespace ravdel {
namespace {

nlohmann::json optional(const std::optional<double>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json();
}

nlohmann::json optionalTime(const std::optional<std::int64_t>& us) {
  return us ? nlohmann::json(*us) : nlohmann::json();
}

// The query string of the page's address for a crop; the parts are percent-encoded.
std::string cropLink(const EventRow& event) {
  std::string link = "api/crop?station=";
  for (const char letter : event.station) {
    const auto c = static_cast<unsigned char>(letter);
    if (std::isalnum(c) != 0 || c == '-' || c == '_' || c == '.') {
      link += letter;
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      link += '%';
      link += kHex[c >> 4];
      link += kHex[c & 15];
    }
  }
  // run_id is hexadecimal digits (the server checks it); seq a number.
  return link + "&run_id=" + event.runId + "&seq=" + std::to_string(event.seq);
}

}  // namespace

nlohmann::json rateJson(const RateBin& bin) {
  return {{"station", bin.station},
          {"start_us", bin.startUs},
          {"start", utcText(bin.startUs)},
          {"width_s", bin.widthUs / 1000000},
          {"events", bin.events},
          {"live_s", static_cast<double>(bin.liveMs) / 1000.0},
          {"live_share", bin.liveShare},
          {"rate_per_hour", optional(bin.perHour)},
          {"rate_low", bin.perHour ? nlohmann::json(bin.lowPerHour) : nlohmann::json()},
          {"rate_high", bin.perHour ? nlohmann::json(bin.highPerHour) : nlohmann::json()}};
}

nlohmann::json ratesJson(const std::vector<RateBin>& bins) {
  nlohmann::json out = nlohmann::json::array();
  for (const RateBin& bin : bins)
    out.push_back(rateJson(bin));
  return out;
}

nlohmann::json healthJson(const StationHealth& health) {
  return {
      {"station", health.station},
      {"state", stationStateName(health.state)},
      {"problems", health.problems},
      {"last_heartbeat_us", optionalTime(health.lastHeartbeatUs)},
      {"last_event_us", optionalTime(health.lastEventUs)},
      {"clock_synced", health.clockSynced ? nlohmann::json(*health.clockSynced) : nlohmann::json()},
      {"clock_error_us", health.clockErrorUs},
      {"lat", optional(health.lat)},
      {"lon", optional(health.lon)}};
}

nlohmann::json summariesJson(const std::vector<StationSummary>& summaries) {
  nlohmann::json out = nlohmann::json::array();
  for (const StationSummary& summary : summaries) {
    nlohmann::json row = healthJson(summary.health);
    row["total"] = rateJson(summary.total);
    out.push_back(std::move(row));
  }
  return out;
}

nlohmann::json eventJson(const EventRow& event, CropStyle crops) {
  nlohmann::json crop;
  if (!event.crop.empty())
    crop = crops == CropStyle::base64 ? nlohmann::json(base64Encode(event.crop))
                                      : nlohmann::json(cropLink(event));
  return {{"station", event.station},
          {"run_id", event.runId},
          {"seq", event.seq},
          {"t_us", event.tUs},
          {"time", utcText(event.tUs)},
          {"t_lo_us", event.tLoUs},
          {"t_hi_us", event.tHiUs},
          {"clock_synced", event.clockSynced},
          {"x", event.x},
          {"y", event.y},
          {"peak", std::max({event.r, event.g, event.b})},
          {"r", event.r},
          {"g", event.g},
          {"b", event.b},
          {"crop", crop}};
}

nlohmann::json coincidencesJson(Database& database, const CoincidenceResult& result,
                                std::size_t offset, std::size_t count, CropStyle crops) {
  nlohmann::json groups = nlohmann::json::array();
  for (std::size_t i = offset; i < result.groups.size() && i < offset + count; ++i) {
    const CoincidenceGroup& group = result.groups[i];
    nlohmann::json events = nlohmann::json::array();
    for (const EventRow& event : groupEvents(database, result, group))
      events.push_back(eventJson(event, crops));
    groups.push_back({{"stations", group.stations},
                      {"t_us", group.events.front().tUs},
                      {"time", utcText(group.events.front().tUs)},
                      {"events", std::move(events)}});
  }
  const Background& background = result.background;
  nlohmann::json backgroundJson = {{"searches", background.counts.size()},
                                   {"counts", background.counts},
                                   {"expected", background.expected},
                                   {"spread", background.spread}};
  if (!background.unavailable.empty()) backgroundJson["unavailable"] = background.unavailable;
  return {{"since_us", result.sinceUs},
          {"until_us", result.untilUs},
          {"since", utcText(result.sinceUs)},
          {"until", utcText(result.untilUs)},
          {"stations", result.stations},
          {"station_events", result.stationEvents},
          {"found", result.groups.size()},
          {"background", std::move(backgroundJson)},
          {"excess", result.excess},
          {"significance", optional(result.significance)},
          {"offset", offset},
          {"groups", std::move(groups)}};
}

nlohmann::json stationFiguresJson(const StationFigures& figures) {
  nlohmann::json map = nlohmann::json::array();
  for (const HitMapCell& cell : figures.hitMap)
    map.push_back({cell.x, cell.y, cell.events});
  nlohmann::json latest = nlohmann::json::array();
  for (const EventRow& event : figures.latest)
    latest.push_back(eventJson(event, CropStyle::link));
  nlohmann::json runs = nlohmann::json::array();
  for (const RunSpan& run : figures.runs)
    runs.push_back({{"run_id", run.runId},
                    {"from_us", run.fromUs},
                    {"to_us", run.toUs},
                    {"from", utcText(run.fromUs)},
                    {"to", utcText(run.toUs)},
                    {"live_s", static_cast<double>(run.liveMs) / 1000.0},
                    {"events", run.events}});
  nlohmann::json gaps = nlohmann::json::array();
  for (const Gap& gap : figures.gaps)
    gaps.push_back({{"from_us", gap.fromUs},
                    {"to_us", gap.toUs},
                    {"from", utcText(gap.fromUs)},
                    {"to", utcText(gap.toUs)}});
  return {{"width", figures.width},      {"height", figures.height},
          {"hit_map", std::move(map)},   {"spectrum", figures.spectrum},
          {"latest", std::move(latest)}, {"runs", std::move(runs)},
          {"gaps", std::move(gaps)}};
}

}  // namespace ravdel
